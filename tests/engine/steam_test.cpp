#include "engine/steam.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

namespace {

// Two accounts as the client writes them, the second one marked most recent.
const char* kTwoUsers = R"("users"
{
	"76561198000000001"
	{
		"AccountName"		"first"
		"PersonaName"		"First One"
		"MostRecent"		"0"
	}
	"76561198000000002"
	{
		"AccountName"		"second"
		"PersonaName"		"Second"
		"MostRecent"		"1"
	}
}
)";

QByteArray registryVdf(const QString& steamPath, const char* activeUser) {
    // The client writes some of these keys in lower case.
    QByteArray text = "\"Registry\"\n{\n\t\"HKCU\"\n\t{\n\t\t\"Software\"\n\t\t{\n\t\t\t\"valve\"\n\t\t\t{\n"
                      "\t\t\t\t\"steam\"\n\t\t\t\t{\n";
    if (!steamPath.isEmpty()) {
        text += "\t\t\t\t\t\"SteamPath\"\t\t\"" + steamPath.toUtf8() + "\"\n";
    }
    text += "\t\t\t\t\t\"language\"\t\t\"english\"\n";
    if (activeUser) {
        text += "\t\t\t\t\t\"ActiveProcess\"\n\t\t\t\t\t{\n\t\t\t\t\t\t\"pid\"\t\t\"4242\"\n"
                "\t\t\t\t\t\t\"ActiveUser\"\t\t\"" +
                QByteArray(activeUser) + "\"\n\t\t\t\t\t}\n";
    }
    text += "\t\t\t\t}\n\t\t\t}\n\t\t}\n\t}\n}\n";
    return text;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(SteamChoice, RunningAccountWinsOverMostRecent) {
    const steam::LoginUsers users = steam::parseLoginUsers(kTwoUsers);
    // 76561198000000001 - 76561197960265728
    const SteamAccount running = steam::pickAccount(39734273, users);
    EXPECT_EQ(running.id, QStringLiteral("76561198000000001"));
    EXPECT_EQ(running.name, QStringLiteral("First One"));
    EXPECT_TRUE(running.running);

    // A running account the list does not know yet: the id without a name.
    const SteamAccount unknown = steam::pickAccount(1, users);
    EXPECT_EQ(unknown.id, QStringLiteral("76561197960265729"));
    EXPECT_TRUE(unknown.name.isEmpty());

    const SteamAccount idle = steam::pickAccount(0, users);
    EXPECT_EQ(idle.id, QStringLiteral("76561198000000002"));
    EXPECT_EQ(idle.name, QStringLiteral("Second"));
    EXPECT_FALSE(idle.running);

    // Not an account id: more than 32 bits would run past the 64-bit id.
    const SteamAccount huge = steam::pickAccount(Q_UINT64_C(0x100000000), users);
    EXPECT_FALSE(huge.running);
    EXPECT_EQ(huge.id, QStringLiteral("76561198000000002"));
}

TEST(SteamChoice, LastMostRecentInTextOrderWins) {
    // "9" sorts after "10" as text.
    const steam::LoginUsers users = steam::parseLoginUsers(R"("users" {
        "9" { "PersonaName" "nine" "MostRecent" "1" }
        "10" { "PersonaName" "ten" "MostRecent" "1" }
        "8" { "PersonaName" "eight" "MostRecent" "0" }
    })");
    ASSERT_EQ(users.size(), 3u);
    const SteamAccount account = steam::pickAccount(0, users);
    EXPECT_EQ(account.id, QStringLiteral("9"));
    EXPECT_EQ(account.name, QStringLiteral("nine"));

    // Only exactly "1" marks an account.
    const steam::LoginUsers none =
        steam::parseLoginUsers(R"("users" { "1" { "MostRecent" "01" } "2" { "MostRecent" " 1" } })");
    EXPECT_TRUE(steam::pickAccount(0, none).id.isEmpty());
    EXPECT_TRUE(steam::pickAccount(0, {}).id.isEmpty());
}

TEST(SteamLoginUsers, EscapesCaseAndNesting) {
    const steam::LoginUsers users = steam::parseLoginUsers(R"("users"
    {
        "7" { "PersonaName" "The \"Best\" \\o/" "mostrecent" "1" "Extra" { "PersonaName" "deeper" } }
        "8" { "personaname" "Zoë" }
    })");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users.at(QStringLiteral("7")).name, QStringLiteral("The \"Best\" \\o/"));
    EXPECT_TRUE(users.at(QStringLiteral("7")).mostRecent);
    EXPECT_EQ(users.at(QStringLiteral("8")).name, QString::fromUtf8("Zo\xc3\xab"));
    EXPECT_FALSE(users.at(QStringLiteral("8")).mostRecent);
}

TEST(SteamLoginUsers, DamagedFilesGiveNothing) {
    // Every cut through the file is noticed, wherever it falls.
    const QByteArray whole(kTwoUsers);
    ASSERT_EQ(steam::parseLoginUsers(whole).size(), 2u);
    const int end = whole.lastIndexOf('}') + 1;
    for (int length = 0; length < end; ++length) {
        EXPECT_TRUE(steam::parseLoginUsers(whole.left(length)).empty()) << length;
    }

    for (const char* damaged : {
             R"("users" { "7" { "PersonaName" "x" } } })", // stray brace
             R"("users" { "7" { "PersonaName" } })",       // key without a value
             R"("users" { { "PersonaName" "x" } })",       // block without a name
             R"("users" { "7" { "PersonaName" "x\)",       // ends inside an escape
         }) {
        EXPECT_TRUE(steam::parseLoginUsers(QByteArray(damaged)).empty()) << damaged;
    }

    QByteArray deep;
    for (int i = 0; i < vdf::kMaxDepth; ++i) {
        deep += "\"k\" {";
    }
    QByteArray closing(vdf::kMaxDepth, '}');
    EXPECT_TRUE(vdf::parse(deep + closing).has_value());
    EXPECT_FALSE(vdf::parse("\"k\" {" + deep + closing + "}").has_value());

    QByteArray big(kTwoUsers);
    big += QByteArray(vdf::kMaxBytes, ' ');
    EXPECT_TRUE(steam::parseLoginUsers(big).empty());

    // A NUL inside a name is kept, not taken for the end of the text.
    const char withNul[] = "\"u\" { \"7\" { \"PersonaName\" \"a\0b\" } }";
    const steam::LoginUsers nul = steam::parseLoginUsers(QByteArray(withNul, sizeof withNul - 1));
    ASSERT_EQ(nul.size(), 1u);
    EXPECT_EQ(nul.at(QStringLiteral("7")).name.size(), 3);
}

TEST(SteamRegistry, WindowsNumbers) {
    EXPECT_EQ(steam::registryNumber(QVariant(39734273)), 39734273u);
    // A DWORD of 2^31 or more, as Qt hands it over.
    EXPECT_EQ(steam::registryNumber(QVariant(static_cast<int>(0x80000001u))), 0x80000001u);
    EXPECT_EQ(steam::registryNumber(QVariant(-1)), 0xFFFFFFFFu);
    EXPECT_EQ(steam::registryNumber(QVariant(QStringLiteral("12"))), 12u);
    EXPECT_EQ(steam::registryNumber(QVariant()), 0u);
    EXPECT_EQ(steam::registryNumber(QVariant(QStringLiteral("x"))), 0u);
    EXPECT_EQ(steam::registryNumber(QVariant(Q_INT64_C(-5000000000))), 0u);
}

TEST(SteamRegistry, ReadsTheLinuxClientsValues) {
    const steam::Registry registry =
        steam::parseRegistry(registryVdf(QStringLiteral("/home/p/.local/share/Steam"), "42"));
    EXPECT_EQ(registry.steamPath, QStringLiteral("/home/p/.local/share/Steam"));
    EXPECT_EQ(registry.activeUser, 42u);

    const steam::Registry idle = steam::parseRegistry(registryVdf(QString(), "nonsense"));
    EXPECT_TRUE(idle.steamPath.isEmpty());
    EXPECT_EQ(idle.activeUser, 0u);

    const QByteArray whole = registryVdf(QStringLiteral("/s"), "42");
    const steam::Registry cut = steam::parseRegistry(whole.left(whole.size() - 3));
    EXPECT_TRUE(cut.steamPath.isEmpty());
    EXPECT_EQ(cut.activeUser, 0u);
}

TEST(SteamDetect, LinuxHomeFolder) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QDir dir(home.path());
    const QString steamPath = dir.filePath(QStringLiteral(".local/share/Steam"));
    writeFile(dir.filePath(QStringLiteral(".local/share/Steam/config/loginusers.vdf")), kTwoUsers);
    SteamPlaces places;
    places.home = home.path();

    // Running: the id from the registry, the name from the list.
    writeFile(dir.filePath(QStringLiteral(".steam/registry.vdf")), registryVdf(steamPath, "39734273"));
    SteamAccount account = detectSteam(places);
    EXPECT_EQ(account.id, QStringLiteral("76561198000000001"));
    EXPECT_EQ(account.name, QStringLiteral("First One"));
    EXPECT_TRUE(account.running);

    // Not running.
    writeFile(dir.filePath(QStringLiteral(".steam/registry.vdf")), registryVdf(steamPath, "0"));
    account = detectSteam(places);
    EXPECT_EQ(account.id, QStringLiteral("76561198000000002"));
    EXPECT_FALSE(account.running);

    // No Steam path, or a damaged registry: the client's usual folders.
    writeFile(dir.filePath(QStringLiteral(".steam/registry.vdf")), registryVdf(QString(), "0"));
    EXPECT_EQ(detectSteam(places).name, QStringLiteral("Second"));
    writeFile(dir.filePath(QStringLiteral(".steam/registry.vdf")), "\"Registry\" { \"HKCU\" {");
    account = detectSteam(places);
    EXPECT_EQ(account.name, QStringLiteral("Second"));
    EXPECT_FALSE(account.running);

    // A damaged list of the running client: the id alone.
    writeFile(dir.filePath(QStringLiteral(".steam/registry.vdf")), registryVdf(steamPath, "39734273"));
    writeFile(dir.filePath(QStringLiteral(".local/share/Steam/config/loginusers.vdf")), "\"users\" { \"7656");
    account = detectSteam(places);
    EXPECT_EQ(account.id, QStringLiteral("76561198000000001"));
    EXPECT_TRUE(account.name.isEmpty());
    EXPECT_TRUE(account.running);

    // Values given directly, as from the Windows registry, win over the file.
    SteamPlaces given;
    given.steamPath = dir.filePath(QStringLiteral("elsewhere"));
    writeFile(dir.filePath(QStringLiteral("elsewhere/config/loginusers.vdf")), kTwoUsers);
    account = detectSteam(given);
    EXPECT_EQ(account.id, QStringLiteral("76561198000000002"));
    EXPECT_EQ(account.name, QStringLiteral("Second"));

    // Nothing installed.
    QTemporaryDir empty;
    places.home = empty.path();
    account = detectSteam(places);
    EXPECT_TRUE(account.id.isEmpty());
    EXPECT_TRUE(account.name.isEmpty());
    EXPECT_FALSE(account.running);
}

#include "plugin/endpoints.h"
#include "plugin/settings.h"

#include <obs-data.h>
#include <util/base.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdarg>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// What the module writes to the OBS log while one of these lives.
class LogLines {
public:
    LogLines() {
        all().clear();
        base_get_log_handler(&previous_, &param_);
        base_set_log_handler(
            [](int, const char* format, va_list args, void*) {
                char buffer[2048];
                vsnprintf(buffer, sizeof buffer, format, args);
                all().emplace_back(buffer);
            },
            nullptr);
    }
    ~LogLines() { base_set_log_handler(previous_, param_); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    static int count(const std::string& text) {
        int n = 0;
        for (const std::string& line : all()) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

private:
    static std::vector<std::string>& all() {
        static std::vector<std::string> lines;
        return lines;
    }
    log_handler_t previous_ = nullptr;
    void* param_ = nullptr;
};

class SettingsTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString folder() const { return tmp.filePath(QStringLiteral("plugin_config/corvex-tournament")); }
    QString file() const { return QDir(folder()).filePath(QStringLiteral("config.json")); }

    QString bad() const { return QDir(folder()).filePath(QStringLiteral("config.bad.json")); }
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void write(const QByteArray& text, const QString& path = {}) {
        QDir().mkpath(folder());
        QFile f(path.isEmpty() ? file() : path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
};

void expectDefaults(const Settings& s) {
    EXPECT_EQ(s.server, endpoints::defaultServer());
    EXPECT_TRUE(s.server.startsWith(QLatin1String("https://")));
    EXPECT_TRUE(s.server.endsWith(QLatin1String("/api/mintcup/v1")));
    EXPECT_TRUE(s.token.isEmpty());
    EXPECT_TRUE(s.player_id.isEmpty());
    EXPECT_TRUE(s.source.isEmpty());
    EXPECT_EQ(s.crop_l, 0);
    EXPECT_EQ(s.crop_b, 0);
    EXPECT_EQ(s.fps, 5);
    EXPECT_TRUE(s.evidence);
    EXPECT_EQ(s.next_seq, 1);
    EXPECT_EQ(s.next_lid, 1);
    EXPECT_EQ(s.device_name, QHostInfo::localHostName());
    EXPECT_TRUE(s.out_dir.isEmpty());
    EXPECT_FALSE(s.sample_every_10s);
    EXPECT_EQ(s.mode, QStringLiteral("tournament"));
    EXPECT_TRUE(s.sample_on_new_line);
    EXPECT_EQ(s.lang, QStringLiteral("auto"));
}

TEST_F(SettingsTest, FreshFolderIsCreatedAtLoadButNoFileUntilSaved) {
    ASSERT_FALSE(QDir(folder()).exists());
    Settings s = Settings::load(folder());
    EXPECT_TRUE(QDir(folder()).exists());
    EXPECT_FALSE(QFile::exists(file()));
    expectDefaults(s);

    ASSERT_TRUE(Settings::save(s, folder()));
    EXPECT_TRUE(QFile::exists(file()));
}

TEST_F(SettingsTest, SaveWritesAllKeysAndRoundTrips) {
    Settings s = Settings::load(folder());
    s.token = QStringLiteral("tok-1");
    s.player_name = QStringLiteral("Jörn 🐺");
    s.source = QStringLiteral("Game Capture");
    s.crop_l = 12;
    s.crop_t = -3;
    s.fps = 8;
    s.evidence = false;
    s.next_seq = 5000000000LL;
    s.next_lid = 77;
    s.mode = QStringLiteral("wager");
    s.lang = QStringLiteral("pt-BR");
    s.sample_every_10s = true;
    ASSERT_TRUE(Settings::save(s, folder()));

    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QJsonObject json = QJsonDocument::fromJson(text).object();
    for (const char* key : {"server", "token", "player_id", "player_name", "source", "device_name", "out_dir",
                            "mode", "lang", "sample_on_new_line", "sample_every_10s", "crop_l", "crop_t",
                            "crop_r", "crop_b", "fps", "evidence", "next_seq", "next_lid"}) {
        EXPECT_TRUE(json.contains(QLatin1String(key))) << key;
    }
    EXPECT_EQ(json.size(), 19);
    EXPECT_TRUE(json.value("evidence").isBool());
    EXPECT_TRUE(json.value("fps").isDouble());

    Settings back = Settings::load(folder());
    EXPECT_EQ(back.token, s.token);
    EXPECT_EQ(back.player_name, s.player_name);
    EXPECT_EQ(back.source, s.source);
    EXPECT_EQ(back.crop_l, 12);
    EXPECT_EQ(back.crop_t, -3);
    EXPECT_EQ(back.fps, 8);
    EXPECT_FALSE(back.evidence);
    EXPECT_EQ(back.next_seq, 5000000000LL);
    EXPECT_EQ(back.next_lid, 77);
    EXPECT_EQ(back.mode, QStringLiteral("wager"));
    EXPECT_EQ(back.lang, QStringLiteral("pt-BR"));
    EXPECT_TRUE(back.sample_every_10s);
}

TEST_F(SettingsTest, ModeIsCaseSensitive) {
    write(R"({"mode":"Wager"})");
    Settings s = Settings::load(folder());
    EXPECT_EQ(s.mode, QStringLiteral("tournament"));
    s.mode = QStringLiteral("wager");
    s.fps = 5;
    Settings::save(s, folder());
    EXPECT_EQ(Settings::load(folder()).mode, QStringLiteral("wager"));
}

TEST_F(SettingsTest, FpsOutsideTwoToTenFallsBackToFive) {
    for (auto [in, out] :
         std::vector<std::pair<int, int>>{{1, 5}, {11, 5}, {2, 2}, {10, 10}, {0, 5}, {-4, 5}}) {
        write(QStringLiteral(R"({"fps":%1})").arg(in).toUtf8());
        EXPECT_EQ(Settings::load(folder()).fps, out) << "fps " << in;
    }
}

TEST_F(SettingsTest, EmptyStringsOverrideDefaultsExceptDeviceName) {
    write(R"({"server":"","device_name":"","lang":""})");
    Settings s = Settings::load(folder());
    EXPECT_TRUE(s.server.isEmpty());
    EXPECT_TRUE(s.lang.isEmpty());
    EXPECT_EQ(s.device_name, QHostInfo::localHostName());
    EXPECT_FALSE(s.device_name.isEmpty());
}

TEST_F(SettingsTest, DamagedFileFallsBackToBackup) {
    Settings s = Settings::load(folder());
    s.token = QStringLiteral("first");
    ASSERT_TRUE(Settings::save(s, folder()));
    s.token = QStringLiteral("second");
    ASSERT_TRUE(Settings::save(s, folder())); // the first file is now the backup
    write(R"({"token":"sec)");                // truncated mid-write
    EXPECT_EQ(Settings::load(folder()).token, QStringLiteral("first"));
}

TEST_F(SettingsTest, UnreadableFileWithoutBackupGivesDefaults) {
    for (const char* text : {"", "{", "not json at all", "[1,2,3]", "\xff\xfe\x00garbage", "{\"token\":}"}) {
        write(QByteArray(text));
        expectDefaults(Settings::load(folder()));
    }
}

TEST_F(SettingsTest, WrongTypesAndOutOfRangeNumbersKeepDefaults) {
    write(R"({"server":42,"token":true,"evidence":"no","sample_on_new_line":0,"fps":"7",
              "crop_l":1e12,"crop_t":-3000000000,"crop_r":12.9,"crop_b":null,"mode":["wager"],
              "next_seq":-5,"next_lid":1e300,"lang":{"code":"de"},"player_name":"ok"})");
    Settings s = Settings::load(folder());
    EXPECT_EQ(s.server, endpoints::defaultServer());
    EXPECT_TRUE(s.token.isEmpty());
    EXPECT_TRUE(s.evidence);
    EXPECT_TRUE(s.sample_on_new_line);
    EXPECT_EQ(s.fps, 5);
    EXPECT_EQ(s.crop_l, 0);
    EXPECT_EQ(s.crop_t, 0);
    EXPECT_EQ(s.crop_r, 12);
    EXPECT_EQ(s.crop_b, 0);
    EXPECT_EQ(s.mode, QStringLiteral("tournament"));
    EXPECT_EQ(s.next_seq, 1);
    EXPECT_EQ(s.next_lid, 1);
    EXPECT_EQ(s.lang, QStringLiteral("auto"));
    EXPECT_EQ(s.player_name, QStringLiteral("ok"));
}

TEST_F(SettingsTest, AFolderNamedConfigJsonIsNeitherReadNorReplaced) {
    LogLines log;
    ASSERT_TRUE(QDir().mkpath(file()));
    Settings s = Settings::load(folder());
    expectDefaults(s);
    EXPECT_EQ(
        LogLines::count("config.json is a folder, not a file: settings come from its backup or the defaults"),
        1);
    s.token = QStringLiteral("tok");
    EXPECT_FALSE(Settings::save(s, folder()));
    EXPECT_TRUE(QFileInfo(file()).isDir());
    EXPECT_FALSE(QFile::exists(file() + QStringLiteral(".bak")));

    // The backup of an earlier good save still stands in.
    write(R"({"token":"from-backup","next_seq":555555})", file() + QStringLiteral(".bak"));
    s = Settings::load(folder());
    EXPECT_EQ(s.token, QStringLiteral("from-backup"));
    EXPECT_EQ(s.next_seq, 555555);
    EXPECT_TRUE(QFileInfo(file()).isDir());
}

TEST_F(SettingsTest, DamagedFileIsKeptAsideBeforeAnySaveAndTheBackupIsUsed) {
    LogLines log;
    Settings s = Settings::load(folder());
    s.token = QStringLiteral("good");
    s.next_seq = 555555;
    ASSERT_TRUE(Settings::save(s, folder()));
    ASSERT_TRUE(Settings::save(s, folder())); // the backup is now a good copy
    const QByteArray damaged = R"({"token":"good","player_id":"p-7","next_seq":555)";
    write(damaged);

    s = Settings::load(folder());
    EXPECT_EQ(s.token, QStringLiteral("good"));
    EXPECT_EQ(s.next_seq, 555555);
    EXPECT_EQ(read(bad()), damaged);
    EXPECT_EQ(LogLines::count("config.json is damaged (not valid JSON: "), 1);
    EXPECT_EQ(LogLines::count("kept as config.bad.json"), 1);
    EXPECT_EQ(LogLines::count("settings read from the backup "), 1);

    // The start-up save and the save at exit leave the damaged original alone.
    ASSERT_TRUE(Settings::save(s, folder()));
    ASSERT_TRUE(Settings::save(s, folder()));
    EXPECT_EQ(read(bad()), damaged);
    EXPECT_EQ(Settings::load(folder()).token, QStringLiteral("good"));
}

TEST_F(SettingsTest, DamagedFileWithoutBackupIsKeptAndNamedInTheLog) {
    LogLines log;
    for (const QByteArray& text : {QByteArray(R"({"token":"t","next_seq":555555)"), QByteArray("[1,2]"),
                                   QByteArray("\x00\x01garbage", 9)}) {
        QFile::remove(file() + QStringLiteral(".bak"));
        write(text);
        Settings s = Settings::load(folder());
        expectDefaults(s);
        EXPECT_EQ(read(bad()), text);
        ASSERT_TRUE(Settings::save(s, folder()));
        ASSERT_TRUE(Settings::save(s, folder()));
        EXPECT_EQ(read(bad()), text);
    }
    EXPECT_EQ(LogLines::count("config.json is damaged ("), 3);
    EXPECT_EQ(LogLines::count("is damaged (not a JSON object), kept as config.bad.json"), 1);

    // A file that reads but has keys of the wrong type is copied aside, the
    // readable keys are used.
    write(R"({"token":"t","fps":"7"})");
    Settings s = Settings::load(folder());
    EXPECT_EQ(s.token, QStringLiteral("t"));
    EXPECT_EQ(read(bad()), QByteArray(R"({"token":"t","fps":"7"})"));
    EXPECT_EQ(LogLines::count("\"fps\" is not a number; those keys keep their defaults"), 1);
}

TEST_F(SettingsTest, NoFolderMeansBareFileName) {
    EXPECT_EQ(Settings::filePath(QString()), QStringLiteral("config.json"));
}

} // namespace

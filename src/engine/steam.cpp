#include "steam.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QVariant>

#include <limits>

namespace vdf {

namespace {

// Qt 5 stops a QByteArray's text at its first NUL byte, Qt 6 does not; the
// length keeps both reading the same text.
QString fromUtf8(const QByteArray& bytes) {
    return QString::fromUtf8(bytes.constData(), static_cast<int>(bytes.size()));
}

} // namespace

const Node* Node::find(const QString& wanted) const {
    for (const Node& child : children) {
        if (child.key.compare(wanted, Qt::CaseInsensitive) == 0) {
            return &child;
        }
    }
    return nullptr;
}

const Node* Node::find(std::initializer_list<const char*> path) const {
    const Node* node = this;
    for (const char* name : path) {
        node = node->find(QString::fromUtf8(name));
        if (!node) {
            return nullptr;
        }
    }
    return node;
}

std::optional<Node> parse(const QByteArray& bytes) {
    if (bytes.size() > kMaxBytes) {
        return std::nullopt;
    }
    // The open blocks, outermost first; a block joins its parent when it
    // closes, so no pointer into a growing vector is ever held.
    std::vector<Node> open(1);
    open.front().block = true;
    std::optional<QString> key;
    std::size_t nodes = 0;
    QByteArray token;

    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"') {
            token.clear();
            for (++i; i < size && data[i] != '"'; ++i) {
                if (data[i] == '\\' && ++i == size) {
                    break;
                }
                token.append(data[i]);
            }
            if (i >= size) {
                return std::nullopt; // the string never ends
            }
            if (!key) {
                key = fromUtf8(token);
                continue;
            }
            if (++nodes > kMaxNodes) {
                return std::nullopt;
            }
            Node pair;
            pair.key = std::move(*key);
            pair.value = fromUtf8(token);
            open.back().children.push_back(std::move(pair));
            key.reset();
        } else if (c == '{') {
            if (!key || static_cast<int>(open.size()) > kMaxDepth || ++nodes > kMaxNodes) {
                return std::nullopt;
            }
            Node block;
            block.key = std::move(*key);
            block.block = true;
            open.push_back(std::move(block));
            key.reset();
        } else if (c == '}') {
            if (key || open.size() == 1) {
                return std::nullopt;
            }
            Node done = std::move(open.back());
            open.pop_back();
            open.back().children.push_back(std::move(done));
        }
    }
    if (key || open.size() != 1) {
        return std::nullopt; // cut short
    }
    return std::move(open.front());
}

} // namespace vdf

namespace steam {

LoginUsers parseLoginUsers(const QByteArray& bytes) {
    LoginUsers users;
    const std::optional<vdf::Node> root = vdf::parse(bytes);
    if (!root) {
        return users;
    }
    // The outer block holds one block per account, named by its id.
    for (const vdf::Node& outer : root->children) {
        for (const vdf::Node& account : outer.children) {
            if (!account.block) {
                continue;
            }
            LoginUser& user = users[account.key];
            for (const vdf::Node& pair : account.children) {
                if (pair.block) {
                    continue;
                }
                if (pair.key.compare(QLatin1String("PersonaName"), Qt::CaseInsensitive) == 0) {
                    user.name = pair.value;
                } else if (pair.key.compare(QLatin1String("MostRecent"), Qt::CaseInsensitive) == 0 &&
                           pair.value == QLatin1String("1")) {
                    user.mostRecent = true;
                }
            }
        }
    }
    return users;
}

Registry parseRegistry(const QByteArray& bytes) {
    Registry registry;
    const std::optional<vdf::Node> root = vdf::parse(bytes);
    if (!root) {
        return registry;
    }
    const vdf::Node* steam = root->find({"Registry", "HKCU", "Software", "Valve", "Steam"});
    if (!steam || !steam->block) {
        return registry;
    }
    if (const vdf::Node* path = steam->find(QStringLiteral("SteamPath")); path && !path->block) {
        registry.steamPath = path->value;
    }
    if (const vdf::Node* user = steam->find({"ActiveProcess", "ActiveUser"}); user && !user->block) {
        registry.activeUser = user->value.trimmed().toULongLong();
    }
    return registry;
}

SteamAccount pickAccount(quint64 activeUser, const LoginUsers& users) {
    SteamAccount account;
    // An account id is 32 bits; anything larger is not one and would run
    // past the 64-bit id.
    if (activeUser != 0 && activeUser <= std::numeric_limits<quint32>::max()) {
        account.id = QString::number(kSteamIdBase + activeUser);
        account.running = true;
    } else {
        for (const auto& [id, user] : users) {
            if (user.mostRecent) {
                account.id = id;
            }
        }
    }
    if (const auto it = users.find(account.id); !account.id.isEmpty() && it != users.end()) {
        account.name = it->second.name;
    }
    return account;
}

quint64 registryNumber(const QVariant& value) {
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    if (!ok || number == 0) {
        return 0;
    }
    if (number < 0 && number >= std::numeric_limits<qint32>::min()) {
        return static_cast<quint32>(number);
    }
    return number > 0 ? static_cast<quint64>(number) : 0;
}

} // namespace steam

namespace {

// The whole file, or nothing when it is missing, unreadable or too large to
// be the client's.
std::optional<QByteArray> readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.read(vdf::kMaxBytes + 1);
    if (bytes.size() > vdf::kMaxBytes) {
        return std::nullopt;
    }
    return bytes;
}

QString loginUsersIn(const QString& steamPath) {
    return QDir(steamPath).filePath(QStringLiteral("config/loginusers.vdf"));
}

[[maybe_unused]] SteamPlaces windowsRegistry() {
    const QSettings registry(QStringLiteral("HKEY_CURRENT_USER\\Software\\Valve\\Steam"),
                             QSettings::NativeFormat);
    SteamPlaces places;
    places.steamPath = registry.value(QStringLiteral("SteamPath")).toString();
    places.activeUser = steam::registryNumber(registry.value(QStringLiteral("ActiveProcess/ActiveUser")));
    return places;
}

} // namespace

SteamAccount detectSteam(const SteamPlaces& places) {
    steam::Registry registry{places.steamPath, places.activeUser};
    QStringList lists;
    if (!places.home.isEmpty()) {
        const QDir home(places.home);
        if (registry.steamPath.isEmpty() || registry.activeUser == 0) {
            const steam::Registry file = steam::parseRegistry(
                readSmallFile(home.filePath(QStringLiteral(".steam/registry.vdf"))).value_or(QByteArray()));
            if (registry.steamPath.isEmpty()) {
                registry.steamPath = file.steamPath;
            }
            if (registry.activeUser == 0) {
                registry.activeUser = file.activeUser;
            }
        }
        if (!registry.steamPath.isEmpty()) {
            lists.append(loginUsersIn(registry.steamPath));
        }
        lists.append(home.filePath(QStringLiteral(".steam/steam/config/loginusers.vdf")));
        lists.append(home.filePath(QStringLiteral(".local/share/Steam/config/loginusers.vdf")));
    } else if (!registry.steamPath.isEmpty()) {
        lists.append(loginUsersIn(registry.steamPath));
    }

    // The first list that exists is the client's; a damaged one is not
    // replaced by an older list from elsewhere.
    steam::LoginUsers users;
    for (const QString& path : lists) {
        if (QFile::exists(path)) {
            users = steam::parseLoginUsers(readSmallFile(path).value_or(QByteArray()));
            break;
        }
    }
    return steam::pickAccount(registry.activeUser, users);
}

SteamAccount detectSteam() {
#ifdef Q_OS_WIN
    return detectSteam(windowsRegistry());
#else
    SteamPlaces places;
    places.home = QDir::homePath();
    return detectSteam(places);
#endif
}

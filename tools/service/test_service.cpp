#include "test_service.h"

#include "plugin/version.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#ifndef _WIN32
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace testsvc {

namespace {

std::int64_t wallNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QJsonObject parseObject(const QByteArray& bytes, bool* ok = nullptr) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (ok)
        *ok = err.error == QJsonParseError::NoError && doc.isObject();
    return doc.isObject() ? doc.object() : QJsonObject{};
}

// Ids and codes arrive as numbers or texts; both name the same thing.
QString textOf(const QJsonValue& v) {
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(static_cast<qint64>(v.toDouble()));
    return {};
}

struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray type = "application/json";
};

QJsonObject memberJson(const Member& m) {
    return QJsonObject{
        {"id", m.id},       {"name", m.name},           {"note", m.note},
        {"ready", m.ready}, {"streaming", m.streaming}, {"score", static_cast<double>(m.score)}};
}

QByteArray htmlPage(const QString& title, const QString& text) {
    return QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                          "<body><h1>%1</h1><p>%2</p></body></html>")
        .arg(title.toHtmlEscaped(), text.toHtmlEscaped())
        .toUtf8();
}

bool activePhase(const QString& phase) {
    return phase == "open" || phase == "countdown" || phase == "live";
}

} // namespace

// --- Request -------------------------------------------------------------------

QByteArray Request::header(const QByteArray& name) const {
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QString Request::queryItem(const QString& name) const {
    return QUrlQuery(query).queryItemValue(name, QUrl::FullyDecoded);
}

QJsonObject Request::json() const {
    return parseObject(body);
}

QString Request::bearer() const {
    const QByteArray auth = header("Authorization").trimmed();
    if (!auth.startsWith("Bearer "))
        return {};
    return QString::fromUtf8(auth.mid(7).trimmed());
}

// --- Fault ---------------------------------------------------------------------

Fault Fault::status(int code, const QByteArray& body, const QByteArray& contentType) {
    Fault f;
    f.kind = Kind::Status;
    f.statusCode = code;
    f.body = body;
    f.contentType = contentType;
    return f;
}

Fault Fault::raw(const QByteArray& body, const QByteArray& contentType) {
    return status(200, body, contentType);
}

Fault Fault::delay(int ms) {
    Fault f;
    f.kind = Kind::Pass;
    f.delayMs = ms;
    return f;
}

Fault Fault::drop() {
    Fault f;
    f.kind = Kind::Drop;
    return f;
}

Fault Fault::huge(std::int64_t bytes) {
    Fault f;
    f.kind = Kind::Huge;
    f.hugeBytes = bytes;
    return f;
}

Fault Fault::hang() {
    Fault f;
    f.kind = Kind::Hang;
    return f;
}

Fault Fault::echo() {
    Fault f;
    f.kind = Kind::Echo;
    return f;
}

Fault Fault::trickle(std::int64_t bytes, std::int64_t pieceBytes, int intervalMs) {
    Fault f;
    f.kind = Kind::Trickle;
    f.hugeBytes = bytes;
    f.pieceBytes = pieceBytes;
    f.pieceIntervalMs = intervalMs;
    return f;
}

Fault Fault::cut(std::int64_t bytes, std::int64_t sent) {
    Fault f = trickle(bytes, 64 * 1024, 0);
    f.cutAfterBytes = sent;
    return f;
}

std::optional<Fault> Fault::parse(const QString& text) {
    const QString kind = text.section(':', 0, 0);
    // A status body may hold colons of its own: it is the rest of the text.
    const QStringList parts =
        kind == "status" ? QStringList{text.section(':', 1, 1)} : text.split(':').mid(1);
    std::vector<qint64> numbers;
    for (const QString& part : parts) {
        bool ok = false;
        numbers.push_back(part.toLongLong(&ok));
        if (!ok)
            return std::nullopt;
    }
    const auto count = numbers.size();
    if (kind == "status")
        return status(static_cast<int>(numbers[0]), text.section(':', 2).toUtf8());
    if (kind == "drop" && count == 0)
        return drop();
    if (kind == "huge" && count <= 1)
        return count == 1 ? huge(numbers[0]) : huge();
    if (kind == "hang" && count == 0)
        return hang();
    if (kind == "delay" && count == 1 && numbers[0] >= 0)
        return delay(static_cast<int>(numbers[0]));
    if (kind == "echo" && count == 0)
        return echo();
    if (kind == "trickle" && count == 3 && numbers[0] >= 0 && numbers[1] > 0 && numbers[2] >= 0)
        return trickle(numbers[0], numbers[1], static_cast<int>(numbers[2]));
    if (kind == "cut" && count == 2 && numbers[1] >= 0 && numbers[1] < numbers[0])
        return cut(numbers[0], numbers[1]);
    return std::nullopt;
}

// --- the service ---------------------------------------------------------------

struct TestService::Impl {
    struct LinkCode {
        QString deviceCode;
        QString userCode;
        QJsonValue steam; // what the PC reported at start
        int polls = 0;
        bool approved = false;
        bool expired = false;
        std::int64_t expiresAt = 0; // wall clock
        QString token;              // set once linked; later polls repeat the answer
        Player player;
    };
    struct Grant {
        QString kind; // "steam" or "twitch"
        QJsonObject scope;
    };

    mutable std::mutex mu;
    std::condition_variable cv;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    Options opt;
    int boundPort = 0;
    bool isRunning = false;
    bool stopping = false;
    std::uint64_t releaseGeneration = 0;
    QString error;
    std::mt19937_64 rng{std::random_device{}()};
    int serial = 0;

    std::map<QString, Player> tokens;
    std::vector<LinkCode> codes;
    std::map<QString, Grant> grants;
    QJsonObject accountObj;

    std::map<QString, QJsonValue> keyOverrides;
    std::optional<QJsonObject> docOverride;
    std::optional<QByteArray> rawOverride;
    std::optional<std::int64_t> fixedNow;
    std::int64_t clockOffset = 0;
    bool sendNow = true;

    std::optional<std::int64_t> ackOverride;
    int storeLimit = -1;
    std::vector<StoredEvent> storedEvents;
    std::map<QString, std::set<std::int64_t>> seqs;
    std::map<QString, bool> lastStreaming;
    std::vector<std::int64_t> ackList;
    int dupCount = 0;

    std::vector<Cup> cupList;
    std::vector<Team> teamList;
    std::vector<Wager> wagerList;
    std::set<std::pair<QString, QString>> soloReady; // (cup, player) ready without a team

    std::vector<Upload> uploadList;
    std::vector<QJsonObject> ackBodies;
    std::vector<Fault> faults;
    std::vector<Request> recorded;

    // ---- helpers (all called with `mu` held) ----

    std::int64_t serviceNow() const { return fixedNow ? *fixedNow : wallNow() + clockOffset; }

    QString originLocked() const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(opt.https ? "https" : "http").arg(boundPort);
    }
    QString apiBaseLocked() const { return originLocked() + opt.apiPath; }

    QString nextId(const char* prefix) {
        return QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(++serial);
    }

    QString randomCode(int letters, const char* alphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789") {
        const int n = static_cast<int>(std::char_traits<char>::length(alphabet));
        QString out;
        for (int i = 0; i < letters; ++i)
            out += QLatin1Char(alphabet[rng() % static_cast<std::uint64_t>(n)]);
        return out;
    }

    QByteArray json(const QJsonObject& obj) const {
        QJsonObject o = obj;
        if (sendNow && !o.contains("now"))
            o.insert("now", static_cast<double>(serviceNow()));
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    }
    Reply ok(const QJsonObject& obj) const { return Reply{200, json(obj)}; }
    Reply fail(int status, const QString& message) const {
        return Reply{status, json(QJsonObject{{"message", message}})};
    }

    void resetState() {
        tokens.clear();
        codes.clear();
        grants.clear();
        accountObj = QJsonObject{
            {"discord", QJsonObject{{"linked", true}, {"name", "tester"}}},
            {"steam", QJsonObject{{"linked", false}, {"id", ""}, {"name", ""}, {"verified", false}}},
            {"ign", ""},
            {"twitch", ""},
            {"twitch_verified", false},
            {"complete", false},
            {"ads", false},
            {"chat", QJsonObject{{"link", false}, {"updates", false}, {"granted", false}}},
        };
        keyOverrides.clear();
        docOverride.reset();
        rawOverride.reset();
        fixedNow.reset();
        clockOffset = 0;
        sendNow = true;
        ackOverride.reset();
        storeLimit = -1;
        storedEvents.clear();
        seqs.clear();
        lastStreaming.clear();
        ackList.clear();
        dupCount = 0;
        cupList.clear();
        teamList.clear();
        wagerList.clear();
        soloReady.clear();
        uploadList.clear();
        ackBodies.clear();
        faults.clear();
        recorded.clear();

        Cup cup;
        cup.id = "c-1";
        cup.name = "Test Cup";
        cup.code = "CUP-1";
        cup.startsAt = wallNow() + 3600000;
        cup.endsAt = cup.startsAt + 3600000;
        cupList.push_back(cup);
    }

    Cup* findCup(const QString& id) {
        for (auto& c : cupList)
            if (c.id == id)
                return &c;
        return nullptr;
    }
    Team* findTeam(const QString& id) {
        for (auto& t : teamList)
            if (t.id == id)
                return &t;
        return nullptr;
    }
    Team* teamOf(const QString& cupId, const QString& pid) {
        for (auto& t : teamList) {
            if (t.cupId != cupId)
                continue;
            for (const auto& m : t.members)
                if (m.id == pid)
                    return &t;
        }
        return nullptr;
    }
    Wager* findWager(const QString& id) {
        for (auto& w : wagerList)
            if (w.id == id)
                return &w;
        return nullptr;
    }
    static bool registeredIn(const Cup& c, const QString& pid) {
        return std::find(c.registered.begin(), c.registered.end(), pid) != c.registered.end();
    }
    static int sideSize(const Wager& w) {
        const int n = w.format.isEmpty() ? 1 : w.format.left(1).toInt();
        return std::clamp(n, 1, 5);
    }
    static QString sideOf(const Wager& w, const QString& pid) {
        for (const auto& m : w.sideA)
            if (m.id == pid)
                return "a";
        for (const auto& m : w.sideB)
            if (m.id == pid)
                return "b";
        return {};
    }

    // Wagers move on by the clock; phases are brought up to date before each answer.
    void advanceWagers() {
        const std::int64_t now = serviceNow();
        for (auto& w : wagerList) {
            if (w.phase == "countdown" && w.startsAt > 0 && now >= w.startsAt)
                w.phase = "live";
            if (w.phase == "live" && w.endsAt > 0 && now >= w.endsAt)
                w.phase = "ended";
        }
    }

    Wager* currentWagerOf(const QString& pid) {
        for (auto it = wagerList.rbegin(); it != wagerList.rend(); ++it) {
            if (it->phase != "cancelled" && !sideOf(*it, pid).isEmpty())
                return &*it;
        }
        return nullptr;
    }

    QJsonObject wagerJson(const Wager& w, const QString& pid) const {
        const QString side = sideOf(w, pid);
        const bool creator = !pid.isEmpty() && pid == w.creatorId;
        auto players = [](const std::vector<Member>& ms) {
            QJsonArray a;
            for (const auto& m : ms)
                a.append(memberJson(m));
            return a;
        };
        QJsonObject o{
            {"id", w.id},
            {"format", w.format},
            {"minutes", w.minutes},
            {"phase", w.phase},
            {"winner", w.winner},
            {"created_by", QJsonObject{{"id", w.creatorId}, {"name", w.creatorName}}},
            // The creator shares both codes; everyone else only sees the code of their own side.
            {"code_a", creator || side == "a" ? w.codeA : QString()},
            {"code_b", creator || side == "b" ? w.codeB : QString()},
            {"starts_at", static_cast<double>(w.startsAt)},
            {"ends_at", static_cast<double>(w.endsAt)},
            {"sides", QJsonObject{{"a", QJsonObject{{"name", w.nameA},
                                                    {"score", static_cast<double>(w.scoreA)},
                                                    {"players", players(w.sideA)}}},
                                  {"b", QJsonObject{{"name", w.nameB},
                                                    {"score", static_cast<double>(w.scoreB)},
                                                    {"players", players(w.sideB)}}}}},
            {"ladder", w.ladder},
        };
        if (!side.isEmpty()) {
            o.insert("side", side);
            o.insert("my_code", side == "a" ? w.codeA : w.codeB);
        }
        if (!w.rating.isUndefined())
            o.insert("rating", w.rating);
        return o;
    }

    QJsonObject cupJson(const Cup& c) const {
        return QJsonObject{{"id", c.id},
                           {"name", c.name},
                           {"phase", c.phase},
                           {"status", c.status},
                           {"code", c.code},
                           {"kind", c.kind},
                           {"starts_at", static_cast<double>(c.startsAt)},
                           {"ends_at", static_cast<double>(c.endsAt)},
                           {"team_size", c.teamSize},
                           {"max_teams", c.maxTeams}};
    }

    QJsonObject teamJson(const Team& t, const Cup* cup, const QString& pid) const {
        QJsonArray members;
        bool allReady = !t.members.empty();
        bool meReady = false;
        for (const auto& m : t.members) {
            members.append(QJsonObject{{"id", m.id}, {"name", m.name}, {"ready", m.ready}});
            allReady = allReady && m.ready;
            if (m.id == pid)
                meReady = m.ready;
        }
        const bool full = cup == nullptr || static_cast<int>(t.members.size()) >= cup->teamSize;
        return QJsonObject{
            {"id", t.id},
            {"name", t.name},
            {"tag", t.tag},
            {"captain", t.captainId == pid},
            {"ready", meReady},
            {"team_ready", allReady && full},
            {"members", members},
            {"invite", QJsonObject{{"code", t.inviteCode},
                                   {"url", originLocked() + "/mintcup/join?code=" + t.inviteCode}}},
        };
    }

    QJsonObject computedStatus(const QString& pid) {
        const auto pit =
            std::find_if(tokens.begin(), tokens.end(), [&](const auto& kv) { return kv.second.id == pid; });
        const Player player = pit != tokens.end() ? pit->second : Player{pid, {}, {}};
        QJsonObject doc{
            {"player", QJsonObject{{"id", player.id}, {"ign", player.ign}, {"name", player.name}}},
            {"account", accountObj},
        };

        // Registration: the cup the player is in, else the cup open for registration.
        Cup* cup = nullptr;
        for (auto& c : cupList)
            if (registeredIn(c, pid)) {
                cup = &c;
                break;
            }
        const bool registered = cup != nullptr;
        if (!cup)
            for (auto& c : cupList)
                if (c.phase == "registration") {
                    cup = &c;
                    break;
                }
        QJsonObject tournament{{"registered", registered}};
        if (cup) {
            tournament.insert("cup", cupJson(*cup));
            Team* team = registered ? teamOf(cup->id, pid) : nullptr;
            tournament.insert("pool", registered && !team && cup->teamSize > 1);
            if (team) {
                tournament.insert("team", teamJson(*team, cup, pid));
            } else {
                tournament.insert("team", QJsonValue::Null);
                if (registered)
                    tournament.insert("ready", soloReady.count({cup->id, pid}) > 0);
            }
            if (registered) {
                doc.insert("cup", QJsonObject{{"id", cup->id},
                                              {"name", cup->name},
                                              {"status", cup->status},
                                              {"phase", cup->phase},
                                              {"kind", cup->kind},
                                              {"starts_at", static_cast<double>(cup->startsAt)},
                                              {"ends_at", static_cast<double>(cup->endsAt)}});
                doc.insert("me", QJsonObject{{"score", 0},
                                             {"gross", 0},
                                             {"rank", 0},
                                             {"state", "registered"},
                                             {"counted", true},
                                             {"offstream", 0}});
                if (team) {
                    doc.insert("team",
                               QJsonObject{{"id", team->id}, {"name", team->name}, {"tag", team->tag}});
                    doc.insert("team_score", 0);
                    doc.insert("team_rank", 0);
                }
            }
        }
        doc.insert("tournament", tournament);

        const Wager* w = currentWagerOf(pid);
        doc.insert("wager", w ? QJsonValue(wagerJson(*w, pid)) : QJsonValue(QJsonValue::Null));

        const bool obsLive = lastStreaming.count(pid) ? lastStreaming.at(pid) : false;
        const bool twitchVerified = accountObj.value("twitch_verified").toBool();
        doc.insert("stream", QJsonObject{{"obs", obsLive},
                                         {"twitch", false},
                                         {"ok", false},
                                         {"twitch_login", accountObj.value("twitch").toString()}});
        doc.insert("checks", QJsonObject{{"twitch_linked", twitchVerified},
                                         {"twitch_live", false},
                                         {"vods_on", QJsonValue::Null},
                                         {"plugin_ok", true}});
        doc.insert("plugin", QJsonObject{{"latest", CORVEX_VERSION},
                                         {"min", "0.1.0"},
                                         {"url", originLocked() + "/download"},
                                         {"portable_url", originLocked() + "/download/portable"}});
        doc.insert(
            "overlays",
            QJsonObject{
                {"player",
                 QJsonObject{{"url", originLocked() + "/overlay/player?p=" + pid}, {"w", 420}, {"h", 120}}},
                {"leaderboard",
                 QJsonObject{{"url", originLocked() + "/overlay/leaderboard"}, {"w", 360}, {"h", 480}}}});
        return doc;
    }

    QJsonObject statusDoc(const QString& pid) {
        QJsonObject doc = docOverride ? *docOverride : computedStatus(pid);
        for (const auto& [key, value] : keyOverrides) {
            if (value.isUndefined())
                doc.remove(key);
            else
                doc.insert(key, value);
        }
        return doc;
    }

    // ---- routing ----

    Reply route(const Request& r) {
        advanceWagers();
        const QString& path = r.route;
        const bool get = r.method == "GET";
        const bool post = r.method == "POST";

        if (path == "/link/start" || path == "/steam/start" || path == "/twitch/start") {
            if (!get)
                return fail(405, "use GET");
            return page(r);
        }
        if (path == "/device/start" || path == "/device/poll") {
            if (!post)
                return fail(405, "use POST");
            return path == "/device/start" ? deviceStart(r) : devicePoll(r);
        }

        const bool known = path == "/me" || path == "/ingest" || path == "/me/ack" || path == "/me/ads" ||
                           path == "/me/chat" || path == "/device/unlink" || path == "/steam/token" ||
                           path == "/twitch/token" || path == "/cup/register" ||
                           path == "/cup/team/join-code" || path == "/tournament/ready" || path == "/wager" ||
                           path == "/wager/join" || path == "/evidence" || path == "/logs" ||
                           path == "/samples" || path.startsWith("/cup/") || path.startsWith("/wager/");
        if (!known)
            return fail(404, "no such call: " + path);
        if (path == "/me" ? !get : !post)
            return fail(405, path == "/me" ? "use GET" : "use POST");

        const QString token = r.bearer();
        const auto it = tokens.find(token);
        if (token.isEmpty() || it == tokens.end())
            return fail(401, "this device is not linked");
        const Player player = it->second;

        if (path == "/me")
            return me(player);
        if (path == "/ingest")
            return ingest(r, player);
        if (path == "/evidence" || path == "/logs" || path == "/samples")
            return upload(r, player);

        bool valid = false;
        const QJsonObject body = parseObject(r.body, &valid);
        if (!valid)
            return fail(400, "the body is not a JSON object");

        if (path == "/me/ack")
            return meAck(body);
        if (path == "/me/ads")
            return meAds(body);
        if (path == "/me/chat")
            return meChat(body);
        if (path == "/device/unlink") {
            tokens.erase(token);
            return ok({{"ok", true}});
        }
        if (path == "/steam/token" || path == "/twitch/token")
            return grantToken(path == "/steam/token" ? "steam" : "twitch", body);
        if (path == "/cup/register")
            return cupRegister(body, player);
        if (path == "/cup/team/join-code")
            return teamJoin(body, player);
        if (path == "/tournament/ready")
            return cupReady(body, player);
        if (path == "/wager")
            return wagerCreate(body, player);
        if (path == "/wager/join")
            return wagerJoin(body, player);

        const QStringList parts = path.split('/', Qt::SkipEmptyParts);
        if (parts.size() >= 3 && parts[0] == "cup") {
            if (parts.size() == 3 && parts[2] == "unregister")
                return cupUnregister(parts[1], player);
            if (parts.size() == 3 && parts[2] == "team")
                return teamCreate(parts[1], body, player);
            if (parts.size() == 4 && parts[2] == "team" && parts[3] == "code")
                return teamCode(parts[1], player);
        }
        if (parts.size() == 3 && parts[0] == "wager")
            return wagerAction(parts[1], parts[2], body, player);
        return fail(404, "no such call: " + path);
    }

    Reply page(const Request& r) {
        if (r.route == "/link/start") {
            const QString code = r.queryItem("code");
            for (auto& c : codes) {
                if (c.userCode == code && !c.expired) {
                    c.approved = true;
                    return Reply{
                        200,
                        htmlPage("Signed in", "This PC will be linked in a moment. You can go back to OBS."),
                        "text/html; charset=utf-8"};
                }
            }
            return Reply{404, htmlPage("Unknown code", "This link code is unknown or has expired."),
                         "text/html; charset=utf-8"};
        }
        const auto git = grants.find(r.queryItem("t"));
        if (git == grants.end())
            return Reply{404, htmlPage("Unknown request", "This verification link is unknown."),
                         "text/html; charset=utf-8"};
        const Grant grant = git->second;
        grants.erase(git);
        if (grant.kind == "steam") {
            QJsonObject steam = accountObj.value("steam").toObject();
            steam.insert("linked", true);
            steam.insert("verified", true);
            accountObj.insert("steam", steam);
            return Reply{200, htmlPage("Steam verified", "Your Steam account is verified."),
                         "text/html; charset=utf-8"};
        }
        accountObj.insert("twitch_verified", true);
        if (accountObj.value("twitch").toString().isEmpty())
            accountObj.insert("twitch", "tester_tv");
        if (grant.scope.value("chat").toBool()) {
            QJsonObject chat = accountObj.value("chat").toObject();
            chat.insert("granted", true);
            if (grant.scope.contains("link"))
                chat.insert("link", grant.scope.value("link").toBool());
            if (grant.scope.contains("updates"))
                chat.insert("updates", grant.scope.value("updates").toBool());
            accountObj.insert("chat", chat);
        }
        if (grant.scope.value("ads").toBool())
            accountObj.insert("ads", true);
        return Reply{200, htmlPage("Twitch verified", "Your Twitch account is verified."),
                     "text/html; charset=utf-8"};
    }

    Reply deviceStart(const Request& r) {
        bool valid = false;
        const QJsonObject body = parseObject(r.body, &valid);
        if (!valid)
            return fail(400, "the body is not a JSON object");
        LinkCode c;
        c.deviceCode = "dc-" + randomCode(24, "0123456789abcdef");
        c.userCode = randomCode(4) + "-" + randomCode(4, "0123456789");
        c.steam = body.value("steam");
        c.expiresAt = wallNow() + 1000LL * (opt.linkExpiresIn >= 0 ? opt.linkExpiresIn : 900);
        codes.push_back(c);
        QJsonObject reply{{"device_code", c.deviceCode},
                          {"user_code", c.userCode},
                          {"verification_url", apiBaseLocked() + "/link/start?code=" + c.userCode}};
        if (opt.linkInterval >= 0)
            reply.insert("interval", opt.linkInterval);
        if (opt.linkExpiresIn >= 0)
            reply.insert("expires_in", opt.linkExpiresIn);
        return ok(reply);
    }

    Reply devicePoll(const Request& r) {
        bool valid = false;
        const QJsonObject body = parseObject(r.body, &valid);
        const QString deviceCode = body.value("device_code").toString();
        if (!valid || deviceCode.isEmpty())
            return fail(400, "device_code missing");
        auto it = std::find_if(codes.begin(), codes.end(),
                               [&](const LinkCode& c) { return c.deviceCode == deviceCode; });
        if (it == codes.end())
            return ok({{"status", "expired"}});
        LinkCode& c = *it;
        if (c.token.isEmpty()) {
            if (c.expired || wallNow() > c.expiresAt)
                return ok({{"status", "expired"}});
            const bool due = c.approved || (opt.linkAfterPolls >= 0 && c.polls >= opt.linkAfterPolls);
            if (!due) {
                ++c.polls;
                return ok({{"status", "pending"}});
            }
            c.token = opt.linkToken.isEmpty() ? "tok-" + randomCode(32, "0123456789abcdef") : opt.linkToken;
            c.player = opt.linkPlayer;
            tokens[c.token] = c.player;
            accountObj.insert("ign", c.player.ign);
            if (c.steam.isObject()) {
                const QJsonObject s = c.steam.toObject();
                QJsonObject steam = accountObj.value("steam").toObject();
                if (steam.value("id").toString() != s.value("id").toString())
                    steam.insert("verified", false);
                steam.insert("linked", true);
                steam.insert("id", s.value("id").toString());
                steam.insert("name", s.value("name").toString());
                accountObj.insert("steam", steam);
            }
        }
        return ok(
            {{"status", "linked"},
             {"token", c.token},
             {"player", QJsonObject{{"id", c.player.id}, {"ign", c.player.ign}, {"name", c.player.name}}}});
    }

    Reply me(const Player& player) {
        if (rawOverride)
            return Reply{200, *rawOverride};
        return ok(statusDoc(player.id));
    }

    Reply ingest(const Request& r, const Player& player) {
        bool valid = false;
        const QJsonObject body = parseObject(r.body, &valid);
        if (!valid || !body.value("events").isArray())
            return fail(400, "a batch needs an \"events\" array");
        auto& known = seqs[player.id];
        int stored = 0;
        for (const QJsonValue& v : body.value("events").toArray()) {
            const QJsonObject e = v.toObject();
            if (!e.value("seq").isDouble())
                continue; // unnumbered events cannot be acknowledged; the rest of the batch still counts
            if (storeLimit >= 0 && stored >= storeLimit)
                break;
            const auto seq = static_cast<std::int64_t>(e.value("seq").toDouble());
            if (!known.insert(seq).second) {
                ++dupCount;
                continue;
            }
            ++stored;
            storedEvents.push_back(StoredEvent{player.id, seq, e, r.at});
            if (e.value("k").toString() == "status" && e.value("streaming").isBool())
                lastStreaming[player.id] = e.value("streaming").toBool();
        }
        std::optional<std::int64_t> ack = ackOverride;
        if (!ack && !known.empty())
            ack = *known.rbegin();
        ackList.push_back(ack ? *ack : -1);
        if (rawOverride)
            return Reply{200, *rawOverride};
        QJsonObject doc = statusDoc(player.id);
        if (ack)
            doc.insert("ack", static_cast<double>(*ack));
        return ok(doc);
    }

    Reply upload(const Request& r, const Player& player) {
        if (r.body.isEmpty())
            return fail(400, "empty upload");
        Upload u;
        u.kind = r.route.mid(1);
        const QUrlQuery q(r.query);
        for (const auto& item : q.queryItems(QUrl::FullyDecoded))
            u.params.insert(item.first, item.second);
        if (u.kind == "logs" && u.params.value("name").isEmpty())
            return fail(400, "name missing");
        if (u.kind == "samples" && u.params.value("name").isEmpty())
            return fail(400, "name missing");
        u.id = nextId(u.kind == "evidence" ? "ev" : u.kind == "logs" ? "log" : "smp");
        u.playerId = player.id;
        u.contentType = QString::fromUtf8(r.header("Content-Type"));
        u.body = r.body;
        u.at = r.at;
        uploadList.push_back(u);
        return ok({{"ok", true}, {"id", u.id}});
    }

    Reply meAck(const QJsonObject& body) {
        if (body.value("kind").toString().isEmpty())
            return fail(400, "kind missing");
        ackBodies.push_back(body);
        return ok({{"ok", true}});
    }

    Reply meAds(const QJsonObject& body) {
        if (!body.value("on").isBool())
            return fail(400, "\"on\" must be true or false");
        accountObj.insert("ads", body.value("on").toBool());
        return ok({{"ok", true}, {"ads", body.value("on").toBool()}});
    }

    Reply meChat(const QJsonObject& body) {
        if (!body.value("link").isBool() || !body.value("updates").isBool())
            return fail(400, "\"link\" and \"updates\" must be true or false");
        QJsonObject chat = accountObj.value("chat").toObject();
        chat.insert("link", body.value("link").toBool());
        chat.insert("updates", body.value("updates").toBool());
        accountObj.insert("chat", chat);
        QJsonObject reply{{"ok", true}, {"chat", chat}};
        // The bot may only post once the channel granted it; hand out the page that asks.
        if (!chat.value("granted").toBool() &&
            (body.value("link").toBool() || body.value("updates").toBool())) {
            const QString t = randomCode(20, "0123456789abcdef");
            grants[t] = Grant{"twitch", QJsonObject{{"chat", true}}};
            reply.insert("url", apiBaseLocked() + "/twitch/start?t=" + t);
        }
        return ok(reply);
    }

    Reply grantToken(const QString& kind, const QJsonObject& body) {
        const QString t = randomCode(20, "0123456789abcdef");
        grants[t] = Grant{kind, body};
        return ok({{"token", t}, {"url", apiBaseLocked() + "/" + kind + "/start?t=" + t}});
    }

    // ---- cups and teams ----

    static QString normCode(const QJsonValue& v) { return textOf(v).trimmed().toUpper(); }

    void leaveTeam(const QString& cupId, const QString& pid) {
        Team* t = teamOf(cupId, pid);
        if (!t)
            return;
        t->members.erase(std::remove_if(t->members.begin(), t->members.end(),
                                        [&](const Member& m) { return m.id == pid; }),
                         t->members.end());
        if (t->members.empty()) {
            const QString id = t->id;
            teamList.erase(
                std::remove_if(teamList.begin(), teamList.end(), [&](const Team& x) { return x.id == id; }),
                teamList.end());
        } else if (t->captainId == pid) {
            t->captainId = t->members.front().id;
        }
    }

    Reply cupRegister(const QJsonObject& body, const Player& player) {
        const QString code = normCode(body.value("code"));
        if (code.isEmpty())
            return fail(400, "registration code missing");
        Cup* cup = nullptr;
        for (auto& c : cupList)
            if (c.code.toUpper() == code)
                cup = &c;
        if (!cup)
            return fail(404, "no cup has the code " + code);
        if (registeredIn(*cup, player.id))
            return ok({{"ok", true}, {"cup", cupJson(*cup)}});
        if (cup->phase != "registration")
            return fail(409, "registration for " + cup->name + " is closed");
        if (static_cast<int>(cup->registered.size()) >= cup->maxTeams * std::max(1, cup->teamSize))
            return fail(409, cup->name + " is full");
        cup->registered.push_back(player.id);
        return ok({{"ok", true}, {"cup", cupJson(*cup)}});
    }

    Reply cupUnregister(const QString& cupId, const Player& player) {
        Cup* cup = findCup(cupId);
        if (!cup)
            return fail(404, "no cup " + cupId);
        if (!registeredIn(*cup, player.id))
            return fail(409, "you are not registered for " + cup->name);
        if (cup->phase != "registration")
            return fail(409, "registration for " + cup->name + " is closed");
        leaveTeam(cupId, player.id);
        soloReady.erase({cupId, player.id});
        cup->registered.erase(std::remove(cup->registered.begin(), cup->registered.end(), player.id),
                              cup->registered.end());
        return ok({{"ok", true}});
    }

    Reply teamCreate(const QString& cupId, const QJsonObject& body, const Player& player) {
        Cup* cup = findCup(cupId);
        if (!cup)
            return fail(404, "no cup " + cupId);
        if (!registeredIn(*cup, player.id))
            return fail(409, "register for " + cup->name + " first");
        if (Team* mine = teamOf(cupId, player.id))
            return fail(409, "you are already in team " + mine->name);
        const QString name = body.value("name").toString().trimmed();
        const QString tag = body.value("tag").toString().trimmed().toUpper();
        if (name.isEmpty() || name.size() > 32)
            return fail(400, "the team name must be 1 to 32 characters");
        if (tag.isEmpty() || tag.size() > 5)
            return fail(400, "the tag must be 1 to 5 characters");
        if (body.contains("password") && !body.value("password").isString())
            return fail(400, "the password must be a text");
        int inCup = 0;
        for (const auto& t : teamList) {
            if (t.cupId != cupId)
                continue;
            ++inCup;
            if (t.name.compare(name, Qt::CaseInsensitive) == 0)
                return fail(409, "a team called " + name + " already exists");
        }
        if (inCup >= cup->maxTeams)
            return fail(409, cup->name + " has no room for another team");
        Team t;
        t.id = nextId("t");
        t.cupId = cupId;
        t.name = name;
        t.tag = tag;
        t.password = body.value("password").toString();
        t.inviteCode = "T-" + randomCode(6);
        t.captainId = player.id;
        t.members.push_back(
            Member{player.id, player.ign.isEmpty() ? player.name : player.ign, {}, false, true, 0});
        soloReady.erase({cupId, player.id});
        teamList.push_back(t);
        return ok({{"ok", true}, {"team", teamJson(t, cup, player.id)}});
    }

    Reply teamJoin(const QJsonObject& body, const Player& player) {
        const QString code = normCode(body.value("code"));
        if (code.isEmpty())
            return fail(400, "team code missing");
        Team* team = nullptr;
        for (auto& t : teamList)
            if (t.inviteCode.toUpper() == code)
                team = &t;
        if (!team)
            return fail(404, "no team has the code " + code);
        Cup* cup = findCup(team->cupId);
        for (const auto& m : team->members)
            if (m.id == player.id)
                return ok({{"ok", true}, {"team", teamJson(*team, cup, player.id)}});
        if (cup && cup->phase != "registration")
            return fail(409, "registration for " + cup->name + " is closed");
        if (cup && static_cast<int>(team->members.size()) >= cup->teamSize)
            return fail(409, "team " + team->name + " is full");
        const QString teamId = team->id;
        leaveTeam(team->cupId, player.id); // may reallocate teamList
        team = findTeam(teamId);
        if (!team)
            return fail(404, "no team has the code " + code);
        team->members.push_back(
            Member{player.id, player.ign.isEmpty() ? player.name : player.ign, {}, false, true, 0});
        if (cup && !registeredIn(*cup, player.id))
            cup->registered.push_back(player.id);
        return ok({{"ok", true}, {"team", teamJson(*team, cup, player.id)}});
    }

    Reply teamCode(const QString& cupId, const Player& player) {
        Cup* cup = findCup(cupId);
        if (!cup)
            return fail(404, "no cup " + cupId);
        Team* team = teamOf(cupId, player.id);
        if (!team)
            return fail(409, "you are not in a team in " + cup->name);
        if (team->captainId != player.id)
            return fail(403, "only the captain can issue a new team code");
        team->inviteCode = "T-" + randomCode(6);
        return ok({{"ok", true},
                   {"code", team->inviteCode},
                   {"url", originLocked() + "/mintcup/join?code=" + team->inviteCode}});
    }

    Reply cupReady(const QJsonObject& body, const Player& player) {
        const QString cupId = textOf(body.value("cup"));
        if (cupId.isEmpty())
            return fail(400, "cup missing");
        if (!body.value("ready").isBool())
            return fail(400, "\"ready\" must be true or false");
        Cup* cup = findCup(cupId);
        if (!cup)
            return fail(404, "no cup " + cupId);
        if (!registeredIn(*cup, player.id))
            return fail(409, "you are not registered for " + cup->name);
        const bool ready = body.value("ready").toBool();
        if (Team* team = teamOf(cupId, player.id)) {
            for (auto& m : team->members)
                if (m.id == player.id)
                    m.ready = ready;
        } else if (ready) {
            soloReady.insert({cupId, player.id});
        } else {
            soloReady.erase({cupId, player.id});
        }
        return ok({{"ok", true}, {"ready", ready}});
    }

    // ---- wagers ----

    Reply wagerReply(const Wager& w, const QString& pid, QJsonObject extra = {}) const {
        extra.insert("wager", wagerJson(w, pid));
        return ok(extra);
    }

    Reply wagerCreate(const QJsonObject& body, const Player& player) {
        const QString format = body.value("format").toString();
        static const QRegularExpression formatRe(QStringLiteral("^([1-5])v\\1$"));
        if (!formatRe.match(format).hasMatch())
            return fail(400, "the format must be one of 1v1 to 5v5");
        if (!body.value("minutes").isDouble())
            return fail(400, "minutes missing");
        const double minutes = body.value("minutes").toDouble();
        if (minutes < 1 || minutes > 240 || minutes != static_cast<double>(static_cast<int>(minutes)))
            return fail(400, "a wager lasts 1 to 240 whole minutes");
        for (const auto& w : wagerList)
            if (activePhase(w.phase) && !sideOf(w, player.id).isEmpty())
                return fail(409, "you are already in wager " + w.id + "; leave it first");
        Wager w;
        w.id = nextId("w");
        w.format = format;
        w.minutes = static_cast<int>(minutes);
        w.creatorId = player.id;
        w.creatorName = player.ign.isEmpty() ? player.name : player.ign;
        w.codeA = "W-" + randomCode(4) + "A";
        w.codeB = "W-" + randomCode(4) + "B";
        w.sideA.push_back(Member{player.id, w.creatorName, {}, false, true, 0});
        wagerList.push_back(w);
        return wagerReply(w, player.id, {{"my_code", w.codeA}, {"code_a", w.codeA}, {"code_b", w.codeB}});
    }

    Reply wagerJoin(const QJsonObject& body, const Player& player) {
        const QString code = normCode(body.value("code"));
        if (code.isEmpty())
            return fail(400, "wager code missing");
        Wager* w = nullptr;
        QString side;
        for (auto& x : wagerList) {
            if (x.codeA.toUpper() == code)
                w = &x, side = "a";
            else if (x.codeB.toUpper() == code)
                w = &x, side = "b";
        }
        if (!w || w->phase == "cancelled")
            return fail(404, "no wager has the code " + code);
        const QString mine = sideOf(*w, player.id);
        if (mine == side)
            return wagerReply(*w, player.id, {{"my_code", code}});
        if (!mine.isEmpty())
            return fail(409, "you are already on side " + mine.toUpper() + " of this wager");
        if (w->phase != "open")
            return fail(409, "this wager has already started");
        for (const auto& x : wagerList)
            if (x.id != w->id && activePhase(x.phase) && !sideOf(x, player.id).isEmpty())
                return fail(409, "you are already in wager " + x.id + "; leave it first");
        auto& members = side == "a" ? w->sideA : w->sideB;
        if (static_cast<int>(members.size()) >= sideSize(*w))
            return fail(409, "side " + side.toUpper() + " is full");
        members.push_back(
            Member{player.id, player.ign.isEmpty() ? player.name : player.ign, {}, false, true, 0});
        return wagerReply(*w, player.id, {{"my_code", code}});
    }

    Reply wagerAction(const QString& id, const QString& action, const QJsonObject& body,
                      const Player& player) {
        Wager* w = findWager(id);
        if (!w)
            return fail(404, "no wager " + id);
        const QString side = sideOf(*w, player.id);
        const bool creator = w->creatorId == player.id;
        const std::int64_t now = serviceNow();

        if (action == "ready") {
            if (!body.value("ready").isBool())
                return fail(400, "\"ready\" must be true or false");
            if (side.isEmpty())
                return fail(403, "you are not in this wager");
            if (w->phase != "open")
                return fail(409, "ready-up is only possible before the start");
            for (auto* ms : {&w->sideA, &w->sideB})
                for (auto& m : *ms)
                    if (m.id == player.id)
                        m.ready = body.value("ready").toBool();
            return wagerReply(*w, player.id);
        }
        if (action == "leave") {
            if (side.isEmpty())
                return fail(409, "you are not in this wager");
            if (w->phase == "live" || w->phase == "countdown")
                return fail(409, "the wager is running; ask the creator to end it");
            for (auto* ms : {&w->sideA, &w->sideB})
                ms->erase(std::remove_if(ms->begin(), ms->end(),
                                         [&](const Member& m) { return m.id == player.id; }),
                          ms->end());
            if (w->sideA.empty() && w->sideB.empty() && w->phase == "open")
                w->phase = "cancelled";
            return wagerReply(*w, player.id);
        }
        if (action != "cancel" && action != "start" && action != "restart" && action != "end")
            return fail(404, "no such call: /wager/" + id + "/" + action);
        if (!creator)
            return fail(403, "only the creator can " + action + " this wager");
        if (action == "cancel") {
            if (w->phase != "open" && w->phase != "countdown")
                return fail(409, "a " + w->phase + " wager cannot be cancelled");
            w->phase = "cancelled";
        } else if (action == "start") {
            if (w->phase != "open")
                return fail(409, "the wager has already started");
            const auto n = static_cast<std::size_t>(sideSize(*w));
            bool allReady = w->sideA.size() == n && w->sideB.size() == n;
            for (const auto* ms : {&w->sideA, &w->sideB})
                for (const auto& m : *ms)
                    allReady = allReady && m.ready;
            if (!allReady)
                return fail(409, "both sides must be full and ready");
            w->phase = "countdown";
            w->startsAt = now + opt.wagerCountdownMs;
            w->endsAt = w->startsAt + 60000LL * w->minutes;
        } else if (action == "restart") {
            if (w->phase != "countdown" && w->phase != "live" && w->phase != "ended")
                return fail(409, "only a started wager can be restarted");
            w->phase = "countdown";
            w->startsAt = now + opt.wagerCountdownMs;
            w->endsAt = w->startsAt + 60000LL * w->minutes;
            w->scoreA = w->scoreB = 0;
        } else {
            if (w->phase != "countdown" && w->phase != "live")
                return fail(409, "only a running wager can be ended");
            w->phase = "ended";
            w->endsAt = now;
        }
        advanceWagers();
        return wagerReply(*w, player.id);
    }

    // A request as it arrives on one of the server's threads: recorded,
    // matched against the faults, then answered by the fault or the routes.
    void handle(const httplib::Request& req, httplib::Response& res);
    // Records the request and takes the fault it meets, if any.
    Request record(const httplib::Request& req, std::optional<Fault>& fault, std::uint64_t& generation,
                   bool& verbose);
    // Answers as the fault says; false when the fault lets the request pass.
    bool answerFault(const Fault& fault, std::uint64_t generation, const httplib::Request& req,
                     httplib::Response& res);
};

// --- plumbing ------------------------------------------------------------------

namespace {

// Closing a connection without a response needs the socket, which the server
// does not hand to handlers; over TLS it is in the session, over plain HTTP it
// is found by the client's address.
void dropConnection(const httplib::Request& req) {
#ifndef _WIN32
    int fd = -1;
    if (req.ssl)
        fd = SSL_get_fd(req.ssl);
    if (fd < 0) {
        DIR* dir = opendir("/proc/self/fd");
        if (!dir)
            return;
        while (dirent* entry = readdir(dir)) {
            const int candidate = std::atoi(entry->d_name);
            if (candidate <= 2)
                continue;
            sockaddr_in peer{};
            socklen_t len = sizeof(peer);
            if (getpeername(candidate, reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
                peer.sin_family != AF_INET)
                continue;
            sockaddr_in local{};
            len = sizeof(local);
            if (getsockname(candidate, reinterpret_cast<sockaddr*>(&local), &len) != 0)
                continue;
            if (ntohs(peer.sin_port) == req.remote_port && ntohs(local.sin_port) == req.local_port) {
                fd = candidate;
                break;
            }
        }
        closedir(dir);
    }
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
#else
    (void)req;
#endif
}

} // namespace

Request TestService::Impl::record(const httplib::Request& req, std::optional<Fault>& fault,
                                  std::uint64_t& generation, bool& verbose) {
    Request r;
    r.method = qs(req.method);
    r.path = qs(req.path);
    const std::size_t q = req.target.find('?');
    r.query = q == std::string::npos ? QString() : qs(req.target.substr(q + 1));
    for (const auto& h : req.headers)
        r.headers.append({QByteArray::fromStdString(h.first), QByteArray::fromStdString(h.second)});
    r.body = QByteArray::fromStdString(req.body);
    r.at = wallNow();

    std::lock_guard<std::mutex> lock(mu);
    const QString& api = opt.apiPath;
    r.route = r.path.startsWith(api + "/") ? r.path.mid(api.size()) : r.path;
    recorded.push_back(r);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const bool routeMatches = it->exactRoute ? r.route == it->route : r.route.startsWith(it->route);
        const bool methodMatches =
            it->method.isEmpty() || it->method.compare(r.method, Qt::CaseInsensitive) == 0;
        if (!routeMatches || !methodMatches)
            continue;
        fault = *it;
        if (it->times > 0 && --it->times == 0)
            faults.erase(it);
        break;
    }
    generation = releaseGeneration;
    verbose = opt.verbose;
    cv.notify_all();
    return r;
}

bool TestService::Impl::answerFault(const Fault& fault, std::uint64_t generation, const httplib::Request& req,
                                    httplib::Response& res) {
    Impl* impl = this;
    switch (fault.kind) {
    case Fault::Kind::Pass:
        return false;
    case Fault::Kind::Status:
        res.status = fault.statusCode;
        res.set_content(fault.body.toStdString(), fault.contentType.toStdString());
        return true;
    case Fault::Kind::Drop:
        dropConnection(req);
        res.status = 500;
        return true;
    case Fault::Kind::Huge: {
        const auto total = static_cast<std::size_t>(std::max<std::int64_t>(0, fault.hugeBytes));
        res.status = 200;
        res.set_content_provider(total, "application/json",
                                 [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     static const std::string block(64 * 1024, ' ');
                                     const std::size_t n = std::min(length, block.size());
                                     (void)offset;
                                     return sink.write(block.data(), n);
                                 });
        return true;
    }
    case Fault::Kind::Echo: {
        std::string echo = req.method + " " + req.target + "\r\n";
        for (const auto& h : req.headers)
            echo += h.first + ": " + h.second + "\r\n";
        echo += "\r\n" + req.body;
        res.status = 200;
        res.set_content(echo, "message/http");
        return true;
    }
    case Fault::Kind::Trickle: {
        const auto total = static_cast<std::size_t>(std::max<std::int64_t>(0, fault.hugeBytes));
        const auto piece = static_cast<std::size_t>(std::max<std::int64_t>(1, fault.pieceBytes));
        const auto interval = std::chrono::milliseconds(std::max(0, fault.pieceIntervalMs));
        const std::size_t cut =
            fault.cutAfterBytes < 0 ? total : static_cast<std::size_t>(fault.cutAfterBytes);
        res.status = 200;
        res.set_content_provider(
            total, "application/octet-stream",
            [impl, piece, interval, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (offset >= cut)
                    return false; // the server closes the connection short of the length
                if (offset > 0 && interval.count() > 0) {
                    std::unique_lock<std::mutex> lock(impl->mu);
                    if (impl->cv.wait_for(lock, interval, [&] { return impl->stopping; }))
                        return false;
                }
                std::string chunk(std::min({length, piece, cut - offset}), '\0');
                for (std::size_t i = 0; i < chunk.size(); ++i)
                    chunk[i] = static_cast<char>('a' + (offset + i) % 26);
                return sink.write(chunk.data(), chunk.size());
            });
        return true;
    }
    case Fault::Kind::Hang: {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return stopping || releaseGeneration != generation; });
        lock.unlock();
        dropConnection(req);
        res.status = 500;
        return true;
    }
    }
    return false;
}

void TestService::Impl::handle(const httplib::Request& req, httplib::Response& res) {
    std::optional<Fault> fault;
    std::uint64_t generation = 0;
    bool verbose = false;
    const Request r = record(req, fault, generation, verbose);
    if (verbose)
        std::fprintf(stderr, "%s %s%s%s\n", req.method.c_str(), req.path.c_str(), fault ? " (fault)" : "",
                     r.bearer().isEmpty() ? "" : " [token]");

    if (fault && fault->delayMs > 0) {
        std::unique_lock<std::mutex> lock(mu);
        const bool interrupted =
            cv.wait_for(lock, std::chrono::milliseconds(fault->delayMs), [&] { return stopping; });
        if (interrupted) {
            lock.unlock();
            dropConnection(req);
            return;
        }
    }
    if (fault && answerFault(*fault, generation, req, res))
        return;

    Reply reply;
    {
        std::lock_guard<std::mutex> lock(mu);
        if (r.path.startsWith(opt.apiPath + "/"))
            reply = route(r);
        else
            reply = Reply{404, htmlPage("Not found", "Nothing is served at " + r.path + "."),
                          "text/html; charset=utf-8"};
    }
    res.status = reply.status;
    res.set_content(reply.body.toStdString(), reply.type.toStdString());
}

TestService::TestService() : d(std::make_unique<Impl>()) {
    d->resetState();
}

TestService::~TestService() {
    stop();
}

QString TestService::defaultCertFile() {
    return QStringLiteral(CORVEX_TLS_DIR "/cert.pem");
}
QString TestService::defaultKeyFile() {
    return QStringLiteral(CORVEX_TLS_DIR "/key.pem");
}

bool TestService::start(const Options& options) {
    stop();
#ifndef _WIN32
    // A client that hangs up mid-answer must not take the test process with it.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::unique_ptr<httplib::Server> server;
    if (options.https) {
        const QString cert = options.certFile.isEmpty() ? defaultCertFile() : options.certFile;
        const QString key = options.keyFile.isEmpty() ? defaultKeyFile() : options.keyFile;
        auto ssl = std::make_unique<httplib::SSLServer>(cert.toLocal8Bit().constData(),
                                                        key.toLocal8Bit().constData());
        if (!ssl->is_valid()) {
            std::lock_guard<std::mutex> lock(d->mu);
            d->error = QStringLiteral("cannot load the certificate %1 or its key %2").arg(cert, key);
            return false;
        }
        server = std::move(ssl);
    } else {
        server = std::make_unique<httplib::Server>();
    }

    // One request per connection: every answer closes, so a dropped or hung
    // request never shares a connection with the next one, and stop() need not
    // wait out idle keep-alive connections.
    server->set_keep_alive_max_count(1);
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    server->set_read_timeout(10, 0);
    server->set_write_timeout(10, 0);

    Impl* impl = d.get();
    auto handler = [impl](const httplib::Request& req, httplib::Response& res) { impl->handle(req, res); };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Delete(".*", handler);
    server->Patch(".*", handler);

    const int port = options.port > 0 ? (server->bind_to_port("127.0.0.1", options.port) ? options.port : -1)
                                      : server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::lock_guard<std::mutex> lock(d->mu);
        d->error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(options.port);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(d->mu);
        d->opt = options;
        while (d->opt.apiPath.endsWith('/'))
            d->opt.apiPath.chop(1);
        d->boundPort = port;
        d->stopping = false;
        d->isRunning = true;
        d->error.clear();
    }
    httplib::Server* raw = server.get();
    d->server = std::move(server);
    d->thread = std::thread([raw] { raw->listen_after_bind(); });
    // httplib's stop() does nothing until the accept loop has begun, so a
    // service stopped right after it started would never stop: wait for it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!raw->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void TestService::stop() {
    {
        std::lock_guard<std::mutex> lock(d->mu);
        if (!d->isRunning)
            return;
        d->stopping = true;
        d->cv.notify_all();
    }
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->server.reset();
    std::lock_guard<std::mutex> lock(d->mu);
    d->isRunning = false;
}

bool TestService::running() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->isRunning;
}

QString TestService::lastError() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->error;
}

int TestService::port() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->boundPort;
}

QString TestService::origin() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->originLocked();
}

QString TestService::apiBase() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->apiBaseLocked();
}

QString TestService::apiUrl(const QString& route) const {
    return apiBase() + route;
}

void TestService::reset() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->resetState();
    ++d->releaseGeneration;
    d->cv.notify_all();
}

// --- accounts and linking --------------------------------------------------------

void TestService::addToken(const QString& token, const Player& player) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->tokens[token] = player;
    if (d->accountObj.value("ign").toString().isEmpty())
        d->accountObj.insert("ign", player.ign);
}

void TestService::revokeToken(const QString& token) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->tokens.erase(token);
}

void TestService::revokeAllTokens() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->tokens.clear();
}

std::vector<QString> TestService::validTokens() const {
    std::lock_guard<std::mutex> lock(d->mu);
    std::vector<QString> out;
    for (const auto& kv : d->tokens)
        out.push_back(kv.first);
    return out;
}

void TestService::setLinkAfterPolls(int n) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.linkAfterPolls = n;
}

void TestService::setLinkPlayer(const Player& player) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.linkPlayer = player;
}

void TestService::setLinkToken(const QString& token) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->opt.linkToken = token;
}

void TestService::expireLinkCodes() {
    std::lock_guard<std::mutex> lock(d->mu);
    for (auto& c : d->codes)
        if (c.token.isEmpty())
            c.expired = true;
}

void TestService::approveLinkCode(const QString& userCode) {
    std::lock_guard<std::mutex> lock(d->mu);
    for (auto& c : d->codes)
        if (c.userCode == userCode)
            c.approved = true;
}

QString TestService::lastUserCode() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->codes.empty() ? QString() : d->codes.back().userCode;
}

QString TestService::lastDeviceCode() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->codes.empty() ? QString() : d->codes.back().deviceCode;
}

void TestService::setAccount(const QJsonObject& account) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->accountObj = account;
}

QJsonObject TestService::account() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->accountObj;
}

void TestService::setSteamVerified(bool verified) {
    std::lock_guard<std::mutex> lock(d->mu);
    QJsonObject steam = d->accountObj.value("steam").toObject();
    steam.insert("verified", verified);
    if (verified)
        steam.insert("linked", true);
    d->accountObj.insert("steam", steam);
}

void TestService::setTwitchVerified(bool verified, const QString& login) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->accountObj.insert("twitch_verified", verified);
    d->accountObj.insert("twitch", verified ? login : QString());
}

// --- the status document ---------------------------------------------------------

void TestService::setStatusKey(const QString& key, const QJsonValue& value) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->keyOverrides[key] = value;
}

void TestService::clearStatusKey(const QString& key) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->keyOverrides.erase(key);
}

void TestService::clearStatusKeys() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->keyOverrides.clear();
}

void TestService::setMe(const QJsonObject& me) {
    setStatusKey("me", me);
}
void TestService::setMsg(const QString& notice) {
    setStatusKey("msg", notice);
}

void TestService::setNudge(const QString& id, const QString& text) {
    setStatusKey("nudge", QJsonObject{{"id", id}, {"text", text}});
}

void TestService::setMessage(const QJsonValue& id, const QString& text, const QString& level,
                             const QString& from) {
    setStatusKey("message", QJsonObject{{"id", id}, {"text", text}, {"level", level}, {"from", from}});
}

void TestService::setSnapshotRequest(const QString& tag, std::int64_t at) {
    setStatusKey("snap", QJsonObject{{"tag", tag}, {"at", static_cast<double>(at)}});
}

void TestService::setEvidence(bool on) {
    setStatusKey("evidence", on);
}
void TestService::setStream(const QJsonObject& stream) {
    setStatusKey("stream", stream);
}
void TestService::setChecks(const QJsonObject& checks) {
    setStatusKey("checks", checks);
}

void TestService::setOnAir(const QString& state, std::int64_t since) {
    setStatusKey("on_air", QJsonObject{{"state", state}, {"since", static_cast<double>(since)}});
}

void TestService::setPluginUpdate(const QString& latest, const QString& minimum, const QString& url,
                                  const QString& portableUrl) {
    setStatusKey(
        "plugin",
        QJsonObject{{"latest", latest}, {"min", minimum}, {"url", url}, {"portable_url", portableUrl}});
}

void TestService::setOverlays(const QJsonValue& player, const QJsonValue& leaderboard) {
    setStatusKey("overlays", QJsonObject{{"player", player}, {"leaderboard", leaderboard}});
}

void TestService::setStatusDocument(const QJsonObject& document) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->docOverride = document;
}

void TestService::setStatusRaw(const QByteArray& body) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->rawOverride = body;
}

void TestService::clearStatusOverrides() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->docOverride.reset();
    d->rawOverride.reset();
}

QJsonObject TestService::statusFor(const QString& token) const {
    std::lock_guard<std::mutex> lock(d->mu);
    const auto it = d->tokens.find(token);
    d->advanceWagers();
    return d->statusDoc(it == d->tokens.end() ? QString() : it->second.id);
}

void TestService::setNow(std::int64_t ms) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->fixedNow = ms;
}

void TestService::setClockOffset(std::int64_t ms) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->fixedNow.reset();
    d->clockOffset = ms;
}

void TestService::setSendNow(bool on) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->sendNow = on;
}

std::int64_t TestService::now() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->serviceNow();
}

// --- ingest ------------------------------------------------------------------------

void TestService::setAckOverride(std::optional<std::int64_t> ack) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->ackOverride = ack;
}

void TestService::setStoreLimit(int perBatch) {
    std::lock_guard<std::mutex> lock(d->mu);
    d->storeLimit = perBatch;
}

std::vector<StoredEvent> TestService::events() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->storedEvents;
}

std::vector<std::int64_t> TestService::storedSeqs() const {
    std::lock_guard<std::mutex> lock(d->mu);
    std::vector<std::int64_t> out;
    out.reserve(d->storedEvents.size());
    for (const auto& e : d->storedEvents)
        out.push_back(e.seq);
    return out;
}

std::vector<std::int64_t> TestService::acks() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->ackList;
}

int TestService::duplicates() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->dupCount;
}

// --- cups, teams, wagers -------------------------------------------------------------

void TestService::addCup(const Cup& cup) {
    std::lock_guard<std::mutex> lock(d->mu);
    if (Cup* c = d->findCup(cup.id))
        *c = cup;
    else
        d->cupList.push_back(cup);
}

void TestService::removeCups() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->cupList.clear();
    d->teamList.clear();
    d->soloReady.clear();
}

bool TestService::editCup(const QString& id, const std::function<void(Cup&)>& edit) {
    std::lock_guard<std::mutex> lock(d->mu);
    Cup* c = d->findCup(id);
    if (c)
        edit(*c);
    return c != nullptr;
}

std::vector<Cup> TestService::cups() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->cupList;
}

void TestService::addTeam(const Team& team) {
    std::lock_guard<std::mutex> lock(d->mu);
    if (Team* t = d->findTeam(team.id))
        *t = team;
    else
        d->teamList.push_back(team);
}

bool TestService::editTeam(const QString& id, const std::function<void(Team&)>& edit) {
    std::lock_guard<std::mutex> lock(d->mu);
    Team* t = d->findTeam(id);
    if (t)
        edit(*t);
    return t != nullptr;
}

std::vector<Team> TestService::teams() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->teamList;
}

void TestService::addWager(const Wager& wager) {
    std::lock_guard<std::mutex> lock(d->mu);
    if (Wager* w = d->findWager(wager.id))
        *w = wager;
    else
        d->wagerList.push_back(wager);
}

bool TestService::editWager(const QString& id, const std::function<void(Wager&)>& edit) {
    std::lock_guard<std::mutex> lock(d->mu);
    Wager* w = d->findWager(id);
    if (w)
        edit(*w);
    return w != nullptr;
}

std::vector<Wager> TestService::wagers() const {
    std::lock_guard<std::mutex> lock(d->mu);
    d->advanceWagers();
    return d->wagerList;
}

// --- uploads, faults, recording ----------------------------------------------------------

std::vector<Upload> TestService::uploads() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->uploadList;
}

std::vector<QJsonObject> TestService::warningAcks() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->ackBodies;
}

void TestService::addFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(d->mu);
    if (fault.times != 0)
        d->faults.push_back(fault);
}

void TestService::addFault(const QString& route, Fault fault) {
    fault.route = route;
    addFault(fault);
}

void TestService::clearFaults() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->faults.clear();
}

void TestService::releaseHung() {
    std::lock_guard<std::mutex> lock(d->mu);
    ++d->releaseGeneration;
    d->cv.notify_all();
}

std::vector<Request> TestService::requests() const {
    std::lock_guard<std::mutex> lock(d->mu);
    return d->recorded;
}

std::vector<Request> TestService::requestsTo(const QString& route) const {
    std::lock_guard<std::mutex> lock(d->mu);
    std::vector<Request> out;
    for (const auto& r : d->recorded)
        if (r.route == route)
            out.push_back(r);
    return out;
}

int TestService::countTo(const QString& route) const {
    std::lock_guard<std::mutex> lock(d->mu);
    return static_cast<int>(std::count_if(d->recorded.begin(), d->recorded.end(),
                                          [&](const Request& r) { return r.route == route; }));
}

void TestService::clearRequests() {
    std::lock_guard<std::mutex> lock(d->mu);
    d->recorded.clear();
}

bool TestService::waitForRequests(const std::function<bool(const std::vector<Request>&)>& ready,
                                  int timeoutMs) {
    std::unique_lock<std::mutex> lock(d->mu);
    return d->cv.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                          [&] { return ready(d->recorded); });
}

bool TestService::waitForRequests(int count, int timeoutMs) {
    return waitForRequests(
        [count](const std::vector<Request>& rs) { return static_cast<int>(rs.size()) >= count; }, timeoutMs);
}

bool TestService::waitForRequests(const QString& route, int count, int timeoutMs) {
    return waitForRequests(
        [&](const std::vector<Request>& rs) {
            return std::count_if(rs.begin(), rs.end(), [&](const Request& r) { return r.route == route; }) >=
                   count;
        },
        timeoutMs);
}

} // namespace testsvc

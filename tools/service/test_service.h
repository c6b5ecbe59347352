#pragma once

// A stateful stand-in for the tournament service, served over HTTP or HTTPS on
// the loopback interface. Tests drive the module's service client against it;
// developers run it by hand (corvex-test-service) to try the dock without the
// real service. Everything is thread-safe: the server answers on its own worker
// threads while a test thread sets state, scripts faults and reads what arrived.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace testsvc {

// One request as it arrived, recorded before any fault or handler ran.
struct Request {
    QString method; // "GET", "POST", ...
    QString path;   // full path as sent, without the query
    QString route;  // path below the API base ("/ingest"); the full path otherwise
    QString query;  // raw query string, without "?"
    QList<QPair<QByteArray, QByteArray>> headers; // sorted by name, as the server keeps them
    QByteArray body;
    std::int64_t at = 0; // arrival, local wall clock, ms since the epoch

    QByteArray header(const QByteArray& name) const; // case-insensitive; empty when missing
    QString queryItem(const QString& name) const;    // percent-decoded; empty when missing
    QJsonObject json() const;                        // the body as an object; empty when it is not one
    QString bearer() const;                          // token of "Authorization: Bearer ..."; empty when none
};

// A scripted misbehaviour for the requests whose route starts with `route`
// (or equals it, with exact()). Faults are checked in the order they were added;
// the first that matches is used. One-shot by default.
struct Fault {
    enum class Kind {
        Pass,    // only the delay, then the normal answer
        Status,  // answer `statusCode` with `body` (of `contentType`)
        Drop,    // close the connection without sending a response
        Huge,    // 200 with a body of `hugeBytes` bytes (more than the client's 8 MiB cap by default)
        Hang,    // never answer until stop() or releaseHung()
        Echo,    // 200 with the request as it arrived: "METHOD target", header lines, a blank line, the body
        Trickle, // 200 with `hugeBytes` bytes ('a' to 'z' by offset), `pieceBytes` every `pieceIntervalMs`,
                 // the connection closed after `cutAfterBytes` of them when that is not negative
    };

    QString route;
    QString method; // empty: any method
    bool exactRoute = false;
    Kind kind = Kind::Status;
    int statusCode = 500;
    QByteArray body;
    QByteArray contentType = "application/json";
    int delayMs = 0;
    std::int64_t hugeBytes = 9 * 1024 * 1024;
    std::int64_t pieceBytes = 64 * 1024;
    int pieceIntervalMs = 0;
    std::int64_t cutAfterBytes = -1;
    int times = 1; // answers left; negative: sticky until clearFaults()

    static Fault status(int code, const QByteArray& body = {},
                        const QByteArray& contentType = "application/json");
    // A 200 whose body is exactly `body`: not JSON, wrong types, truncated, ...
    static Fault raw(const QByteArray& body, const QByteArray& contentType = "application/json");
    static Fault delay(int ms);
    static Fault drop();
    static Fault huge(std::int64_t bytes = 9 * 1024 * 1024);
    static Fault hang();
    static Fault echo();
    // Slow but steady: the first piece at once, then one every `intervalMs`.
    static Fault trickle(std::int64_t bytes, std::int64_t pieceBytes, int intervalMs);
    // A 200 that announces `bytes` and hangs up after sending `sent` of them.
    static Fault cut(std::int64_t bytes, std::int64_t sent);
    // "status:CODE[:BODY]", "drop", "huge[:BYTES]", "hang", "delay:MS", "echo",
    // "trickle:BYTES:PIECE:MS" or "cut:BYTES:SENT", as the service program
    // takes them; nullopt when malformed.
    static std::optional<Fault> parse(const QString& text);

    Fault& sticky() {
        times = -1;
        return *this;
    }
    Fault& count(int n) {
        times = n;
        return *this;
    }
    Fault& exact() {
        exactRoute = true;
        return *this;
    }
    Fault& onMethod(const QString& m) {
        method = m;
        return *this;
    }
    Fault& after(int ms) { // delay before the fault itself
        delayMs = ms;
        return *this;
    }
};

struct Player {
    QString id;
    QString ign;
    QString name;
};

struct Member {
    QString id;
    QString name;
    QString note;
    bool ready = false;
    bool streaming = true;
    std::int64_t score = 0;
};

struct Cup {
    QString id;
    QString name;
    QString code; // registration code, compared in upper case
    QString phase = "registration";
    QString status = "open";
    QString kind = "cup";
    std::int64_t startsAt = 0;
    std::int64_t endsAt = 0;
    int teamSize = 2;
    int maxTeams = 16;
    std::vector<QString> registered; // player ids, in registration order
};

struct Team {
    QString id;
    QString cupId;
    QString name;
    QString tag;
    QString password;
    QString inviteCode;
    QString captainId;
    std::vector<Member> members; // `ready` is the member's cup ready-up
};

struct Wager {
    QString id;
    QString format; // "1v1" .. "5v5"
    int minutes = 0;
    QString phase = "open"; // "open", "countdown", "live", "ended", "final", "cancelled"
    QString winner;         // "a", "b", "draw" or empty
    QString creatorId;
    QString creatorName;
    QString codeA;
    QString codeB;
    std::int64_t startsAt = 0;
    std::int64_t endsAt = 0;
    QString nameA = "Side A";
    QString nameB = "Side B";
    std::int64_t scoreA = 0;
    std::int64_t scoreB = 0;
    std::vector<Member> sideA;
    std::vector<Member> sideB;
    bool ladder = true;
    QJsonValue rating; // sent as the wager's "rating" when not undefined
};

struct StoredEvent {
    QString playerId;
    std::int64_t seq = 0;
    QJsonObject event; // as sent, "seq" included
    std::int64_t at = 0;
};

struct Upload {
    QString kind; // "evidence", "logs" or "samples"
    QString id;   // the id the reply gave
    QString playerId;
    QString contentType;
    QMap<QString, QString> params; // decoded query items ("kind", "t", "name")
    QByteArray body;
    std::int64_t at = 0;
};

struct Options {
    bool https = false;
    int port = 0;     // 0: an ephemeral port
    QString certFile; // empty: the committed loopback certificate
    QString keyFile;  // empty: its key
    QString apiPath = "/api/mintcup/v1";
    int linkAfterPolls = 0;  // "/device/poll" answers "pending" this many times, then "linked";
                             // negative: only once the sign-in page was opened
    int linkInterval = 2;    // "interval" of "/device/start"; negative: key omitted
    int linkExpiresIn = 900; // "expires_in" (seconds) of "/device/start"; negative: key omitted
    Player linkPlayer{"p-1", "Tester", "tester"}; // the player a device link completes as
    QString linkToken;                            // token a device link issues; empty: a fresh one each time
    std::int64_t wagerCountdownMs = 60000;        // from a wager's start to its "starts_at"
    bool verbose = false;                         // one line per request on stderr
    double failRate = 0; // share of API requests answered 503 at random, before any handling
};

class TestService {
public:
    TestService();
    ~TestService(); // stops
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Binds 127.0.0.1 and starts answering. False with lastError() when the
    // port or the certificate fails. The state from a previous run is kept.
    bool start(const Options& options = {});
    // Releases hung and delayed handlers, then stops the server and joins it.
    void stop();
    bool running() const;
    QString lastError() const;

    int port() const;
    QString origin() const;  // "http://127.0.0.1:PORT" or "https://..."
    QString apiBase() const; // origin() + the API path: what the module's `server` setting takes
    QString apiUrl(const QString& route) const;
    static QString defaultCertFile();
    static QString defaultKeyFile();

    // Forget every player, token, cup, team, wager, event, upload, fault,
    // override and recorded request; the default cup comes back.
    void reset();

    // --- accounts and linking ---------------------------------------------
    // Makes `token` valid for `player` (a linked PC without going through the device flow).
    void addToken(const QString& token, const Player& player);
    void revokeToken(const QString& token); // later calls with it get 401
    void revokeAllTokens();
    std::vector<QString> validTokens() const;
    void setLinkAfterPolls(int n);
    void setLinkPlayer(const Player& player);
    void setLinkToken(const QString& token);
    void expireLinkCodes();                        // every open code answers "expired" from now on
    void approveLinkCode(const QString& userCode); // as if the player signed in on the page
    QString lastUserCode() const;
    QString lastDeviceCode() const;

    // The "account" object of the status document; kept up to date by the
    // verification pages and by "/me/ads" and "/me/chat".
    void setAccount(const QJsonObject& account);
    QJsonObject account() const;
    void setSteamVerified(bool verified);
    void setTwitchVerified(bool verified, const QString& login = "tester_tv");

    // --- the status document ------------------------------------------------
    // Overrides of one top-level key; an undefined value removes the key from
    // the document (QJsonValue(QJsonValue::Undefined)), null sends null.
    void setStatusKey(const QString& key, const QJsonValue& value);
    void clearStatusKey(const QString& key); // back to the computed value
    void clearStatusKeys();
    void setMe(const QJsonObject& me);
    void setMsg(const QString& notice);
    void setNudge(const QString& id, const QString& text);
    void setMessage(const QJsonValue& id, const QString& text, const QString& level = "info",
                    const QString& from = "host");
    void setSnapshotRequest(const QString& tag, std::int64_t at);
    void setEvidence(bool on);
    void setStream(const QJsonObject& stream);
    void setChecks(const QJsonObject& checks);
    void setOnAir(const QString& state, std::int64_t since);
    void setPluginUpdate(const QString& latest, const QString& minimum, const QString& url,
                         const QString& portableUrl = {});
    void setOverlays(const QJsonValue& player, const QJsonValue& leaderboard);
    // Replaces the computed document ("ack" and "now" are still added).
    void setStatusDocument(const QJsonObject& document);
    // Answers "/me" and "/ingest" with exactly these bytes (events are still stored).
    void setStatusRaw(const QByteArray& body);
    void clearStatusOverrides(); // drops the document and raw overrides, keeps the key overrides
    // The document "/me" would send now for the player of `token`.
    QJsonObject statusFor(const QString& token) const;

    // "now" in every JSON reply: the real clock by default.
    void setNow(std::int64_t ms);         // a fixed value
    void setClockOffset(std::int64_t ms); // real clock plus this (drops a fixed value)
    void setSendNow(bool on);             // false: replies carry no "now"
    std::int64_t now() const;

    // --- ingest ---------------------------------------------------------------
    void setAckOverride(std::optional<std::int64_t> ack); // the "ack" to send whatever was stored
    void setStoreLimit(int perBatch);        // store at most this many new events per batch; negative: all
    std::vector<StoredEvent> events() const; // stored, in arrival order, duplicates left out
    std::vector<std::int64_t> storedSeqs() const;
    std::vector<std::int64_t> acks() const; // the "ack" of each ingest reply, in order
    int duplicates() const;                 // re-sent events dropped by seq
    // Called for every event of a batch as it arrives, stored or dropped as a
    // re-sent duplicate. It runs under the service's lock: it must not call
    // the service.
    void setEventObserver(std::function<void(const StoredEvent& event, bool duplicate)> observer);
    // A seq the service already holds (from an earlier run): a re-send of it
    // is a duplicate, as for a service that keeps its data across restarts.
    void markStored(const QString& playerId, std::int64_t seq);

    // --- cups, teams, wagers ------------------------------------------------------
    void addCup(const Cup& cup); // replaces one with the same id
    void removeCups();
    bool editCup(const QString& id, const std::function<void(Cup&)>& edit);
    std::vector<Cup> cups() const;
    void addTeam(const Team& team);
    bool editTeam(const QString& id, const std::function<void(Team&)>& edit);
    std::vector<Team> teams() const;
    void addWager(const Wager& wager);
    bool editWager(const QString& id, const std::function<void(Wager&)>& edit);
    std::vector<Wager> wagers() const;

    // --- uploads and acknowledgements ---------------------------------------------
    std::vector<Upload> uploads() const;
    std::vector<QJsonObject> warningAcks() const; // bodies of "/me/ack", in order

    // --- faults -----------------------------------------------------------
    void addFault(const Fault& fault);
    void addFault(const QString& route, Fault fault); // sets fault.route
    void clearFaults();
    void releaseHung(); // lets every hung handler close its connection

    // --- recording ------------------------------------------------------------
    std::vector<Request> requests() const;
    std::vector<Request> requestsTo(const QString& route) const; // exact route
    int countTo(const QString& route) const;
    void clearRequests();
    // Waits until `ready` holds for the recorded requests; false on time-out.
    // `ready` runs under the service's lock: it must not call the service.
    bool waitForRequests(const std::function<bool(const std::vector<Request>&)>& ready, int timeoutMs);
    bool waitForRequests(int count, int timeoutMs);                       // at least `count` in all
    bool waitForRequests(const QString& route, int count, int timeoutMs); // at least `count` to `route`

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace testsvc

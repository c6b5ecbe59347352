#pragma once

#include "net/http.h"
#include "plugin/settings.h"
#include "uplink/event-queue.h"
#include "uplink/game-event.h"
#include "uplink/status-reader.h"
#include "uplink/status.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

// The module's one client of the tournament service: the event queue and its
// backlog file, status polling, device linking, cup, team and wager calls and
// the diagnostics uploads. Lives on the main thread; every completion comes
// back there, exactly once per call.
//
// The class is the state and the timing; the separable parts live beside it:
// the queue and its file in event-queue.h, each event's wire form in
// event-wire.cpp, the status document's readers in status-reader.h and the
// request conventions in service-call.h. Its members are implemented by
// concern: uplink.cpp (life cycle, the timer, the shared call), queue.cpp
// (uploads), status.cpp (polling), linking.cpp, cups.cpp, wagers.cpp,
// diagnostics.cpp and demo.cpp.
class Uplink : public QObject {
    Q_OBJECT

public:
    using DoneFn = std::function<void(const QString& error)>;
    using UrlFn = std::function<void(const QString& url, const QString& error)>;
    using CodesFn = std::function<void(const QString& codeA, const QString& codeB, const QString& error)>;
    using ReplyFn = std::function<void(const QJsonObject& reply, const QString& error)>;
    using LogSink = std::function<void(const QString& tag, const QString& line)>;

    // The Steam account found on this PC; both empty when none was found.
    struct SteamAccount {
        QString id;
        QString name;
    };
    using SteamProvider = std::function<SteamAccount()>;

    // At most this many events wait; beyond it heartbeats and status events
    // are given up first.
    static constexpr int kQueueCap = uplink::EventQueue::kCap;
    static constexpr int kBatchSize = 200;

    // `folder` holds "config.json" and "pending.json" (empty: the working folder).
    Uplink(Settings* settings, QObject* parent, const QString& folder);
    ~Uplink() override;

    void start();
    void stop();

    qint64 serverNow() const;
    qint64 toLocal(qint64 t) const;

    // Set once by the engine; receive the service log and the Steam account.
    LogSink logSink;
    SteamProvider steamAccount;

    // State the dock reads.
    const Status& status() const { return status_; }
    const QString& lastError() const { return lastError_; }
    int32_t failures() const { return failures_; }
    qint64 lastOkAt() const { return lastOkAt_; }
    qint64 nextAttemptAt() const { return nextAttemptAt_; }
    int queueLength() const { return static_cast<int>(queue_.size()); }
    const std::deque<QJsonObject>& queue() const { return queue_.events(); }
    const QString& queuePlayer() const { return queue_.player(); }
    bool linkInProgress() const { return !linkDeviceCode_.isEmpty(); }
    const QString& linkUserCode() const { return linkUserCode_; }
    qint64 linkExpiresAt() const { return linkExpiresAt_; }
    int32_t linkInterval() const { return linkInterval_; }
    int32_t demo() const { return demo_; }
    bool clockKnown() const { return clockKnown_; }
    qint64 clockOffset() const { return clockOffset_; }
    const QString& createdWagerId() const { return createdWagerId_; }
    const QString& createdCodeA() const { return createdCodeA_; }
    const QString& createdCodeB() const { return createdCodeB_; }
    const QString& dismissedWagerId() const { return dismissedWagerId_; }
    QString pendingPath() const;
    QString badPendingPath() const;

    // Event queue.
    void enqueueEvent(const GameEvent& event);

    // Status model.
    void parseStatus(const QJsonObject& doc);
    WagerInfo parseWager(const QJsonObject& w) const;
    void ackWarning(const QString& kind);
    // True once per status document that asks for evidence.
    bool takeEvidenceRequest();
    void ackMessage(const QString& id);

    // Linking and verification.
    void startLink();
    // Gives up the link in progress (its code is no longer polled).
    void cancelLink();
    void unlink();
    void requestSteamVerify(UrlFn done);
    void requestTwitchVerify(UrlFn done, bool link, bool updates);
    void requestTwitchChat(UrlFn done);
    void requestTwitchAds(UrlFn done);
    void stopAds(DoneFn done);
    void setChat(bool link, bool updates, UrlFn done);

    // Cups and teams.
    void registerTournament(const QString& code, DoneFn done);
    void unregisterTournament(const QString& cupId, DoneFn done);
    void createTeam(const QString& cupId, const QString& name, const QString& tag, const QString& password,
                    DoneFn done);
    void joinTeamCode(const QString& code, DoneFn done);
    void newTeamCode(const QString& cupId, DoneFn done);
    void tournamentReady(const QString& cupId, bool ready, DoneFn done);

    // Wagers.
    void createWager(const QString& format, int32_t minutes, CodesFn done);
    void joinWager(const QString& code, DoneFn done);
    void setReady(const QString& wagerId, bool ready, DoneFn done);
    void leaveWager(const QString& wagerId, DoneFn done);
    void cancelWager(const QString& wagerId, DoneFn done);
    void startWager(const QString& wagerId, DoneFn done);
    void restartWager(const QString& wagerId, DoneFn done);
    void endWager(const QString& wagerId, DoneFn done);
    void dismissWager();

    // Diagnostics.
    void sendLogs(const QStringList& paths, DoneFn done);
    void sendSamples(const QStringList& paths, DoneFn done);
    void uploadEvidence(const QByteArray& jpeg, const QString& kind, qint64 t, DoneFn done);

    // Request conventions.
    static QString describeFailure(const Http::Result& result);
    QString apiUrl(const QString& path) const;
    static QString userAgent();
    QString requestHeaders(bool json) const;

    // For tests: a replaceable clock, and the timer's work run by hand so
    // that seconds of back-off or polling pass without waiting for them.
    void setClockForTesting(std::function<qint64()> clock);
    void tickForTesting() { tick(); }
    bool inFlightForTesting() const { return inFlight_; }
    void stopTimerForTesting() { timer_.stop(); }

signals:
    void changed();
    void linkCodeReady(QString pageUrl);
    void linkConfirmed();
    void steamVerified();
    void nudged(QString text);
    void messaged(QString id, QString text, QString level, QString from);
    void twitchVerified();

private:
    qint64 now() const;
    void log(const char* tag, const QString& line) const;
    void saveSettings();
    bool hasToken() const;
    void post(const QString& path, const QByteArray& body, const QString& headers, std::uint32_t timeoutMs,
              Http::Callback callback);
    // A JSON call that needs the token: success applies a wager in the reply
    // and asks for a status refresh; a failure answers the service's message.
    void servicePost(const QString& path, const QJsonObject& body, ReplyFn done);
    // For calls whose caller wants only the error.
    static ReplyFn passError(DoneFn done);

    void tick();
    void noteFailure(qint64 at);
    bool mayLogFailure() const;
    void takeClockSample(const QJsonObject& reply, qint64 sentAt);
    void refreshSoon();
    void applyWagerReply(const QJsonObject& reply);
    void onUnlinkedByService();

    // Uploads and the backlog.
    void sendBatch();
    void onBatchDone(const Http::Result& result, int sent, qint64 lastSentSeq, qint64 sentAt);
    void noteUploaded(int sent, qint64 ack);
    bool savePending();

    // Status polling.
    void fetchMe();
    void onStatusReply(const Http::Result& result, qint64 sentAt);
    uplink::WagerContext wagerContext() const;
    void raisePopups(const QJsonObject& doc);
    void acknowledge(const QJsonObject& body, const char* what);

    // Linking.
    void onLinkStarted(const Http::Result& result);
    void pollLink();
    void completeLink(const QJsonObject& reply);
    void endLinkCode(const char* noticeKey);
    void urlCall(const QString& path, const QJsonObject& body, UrlFn done);
    void enterDemo();

    struct LogsJob;
    struct SamplesJob;
    void logsStep(const std::shared_ptr<LogsJob>& job);
    void samplesStep(const std::shared_ptr<SamplesJob>& job);

    Settings* settings_;
    QString folder_;
    QTimer timer_;
    uplink::EventQueue queue_;
    bool inFlight_ = false;
    qint64 lastReplyAt_ = 0;
    qint64 lastPollAt_ = 0;
    qint64 lastOkAt_ = 0;
    qint64 nextAttemptAt_ = 0;
    int32_t failures_ = 0;
    qint64 clockOffset_ = 0;
    bool clockKnown_ = false;
    bool dirty_ = false;
    qint64 lastSaveAt_ = 0;
    QString lastError_;
    Status status_;
    int32_t demo_ = 0;
    QString linkDeviceCode_;
    QString linkUserCode_;
    qint64 linkExpiresAt_ = 0;
    qint64 linkLastPollAt_ = 0;
    int32_t linkInterval_ = 3;
    qint64 lastSummaryAt_ = 0;
    int32_t sentSinceSummary_ = 0;
    QString createdWagerId_;
    QString createdCodeA_;
    QString createdCodeB_;
    QString dismissedWagerId_;
    QString lastNudgeId_;
    QString lastMessageId_;

    bool started_ = false;
    bool backlogLoaded_ = false; // pending.json is read once per run; later the queue in memory is newer
    bool linkStarting_ = false;  // a /device/start is outstanding
    std::function<qint64()> clock_;
};

#include "uplink/uplink.h"

#include "uplink/service-call.h"

// The status document arrives with each poll of "/me" and each upload's
// reply; the readers in status-reader.cpp turn it into a new Status, and here
// the link keeps what it must remember across documents.

WagerInfo Uplink::parseWager(const QJsonObject& w) const {
    return uplink::readWager(w, wagerContext());
}

uplink::WagerContext Uplink::wagerContext() const {
    return uplink::WagerContext{settings_->player_id, createdWagerId_, createdCodeA_, createdCodeB_,
                                dismissedWagerId_};
}

void Uplink::parseStatus(const QJsonObject& doc) {
    Status s;
    uplink::readPlayer(doc, settings_->player_id, settings_->player_name, s);
    if (s.playerId != settings_->player_id || s.playerName != settings_->player_name) {
        settings_->player_id = s.playerId;
        settings_->player_name = s.playerName;
        saveSettings();
    }
    uplink::readCup(doc, s);
    uplink::readAccountState(doc, status_, s);
    uplink::readStatusWager(doc, wagerContext(), status_, s);
    uplink::readRegistration(doc, status_, s);
    raisePopups(doc);

    // The first document after start has no old account to compare with, so
    // an account verified long ago raises nothing.
    const bool steamBecameVerified =
        status_.account.hasAccount && !status_.account.steamVerified && s.account.steamVerified;
    const bool twitchBecameVerified =
        status_.account.hasAccount && !status_.account.twitchVerified && s.account.twitchVerified;

    status_ = std::move(s);

    if (steamBecameVerified) {
        log("LINK", QStringLiteral("Steam account verified"));
        emit steamVerified();
    }
    if (twitchBecameVerified) {
        log("LINK", QStringLiteral("Twitch account verified"));
        emit twitchVerified();
    }
    emit changed();
}

// Host popups, raised once per id for the whole run.
void Uplink::raisePopups(const QJsonObject& doc) {
    const uplink::HostPopup nudge = uplink::readNudge(doc);
    if (!nudge.id.isEmpty() && nudge.id != lastNudgeId_) {
        lastNudgeId_ = nudge.id;
        log("NUDGE", QStringLiteral("not-streaming alert from the host"));
        emit nudged(nudge.text);
    }
    const uplink::HostPopup message = uplink::readMessage(doc);
    if (!message.id.isEmpty() && message.id != lastMessageId_) {
        lastMessageId_ = message.id;
        log("MESSAGE", QStringLiteral("message from the host"));
        emit messaged(message.id, message.text, message.level, message.from);
    }
}

void Uplink::fetchMe() {
    inFlight_ = true;
    const qint64 sentAt = now();
    Http::request(this, QStringLiteral("GET"), apiUrl(QStringLiteral("/me")), QByteArray(),
                  requestHeaders(false), uplink::kServiceTimeoutMs, userAgent(),
                  [this, sentAt, token = settings_->token](const Http::Result& result) {
                      inFlight_ = false;
                      lastPollAt_ = now();
                      // A reply for a link that has ended or changed since
                      // must not bring the old player back or unlink the new.
                      if (token != settings_->token) {
                          return;
                      }
                      onStatusReply(result, sentAt);
                  });
}

void Uplink::onStatusReply(const Http::Result& result, qint64 sentAt) {
    if (result.status == 401) {
        onUnlinkedByService();
        return;
    }
    if (!result.ok) {
        noteFailure(lastPollAt_);
        lastError_ = describeFailure(result);
        if (mayLogFailure()) {
            log("NET", QStringLiteral("status check failed (%1 in a row): %2")
                           .arg(QString::number(failures_), lastError_));
        }
        emit changed();
        return;
    }
    failures_ = 0;
    lastError_.clear();
    lastOkAt_ = now();
    const QJsonObject reply = uplink::replyObject(result);
    takeClockSample(reply, sentAt);
    parseStatus(reply);
}

void Uplink::acknowledge(const QJsonObject& body, const char* what) {
    post(QStringLiteral("/me/ack"), uplink::compact(body), requestHeaders(true), uplink::kServiceTimeoutMs,
         [this, what](const Http::Result& result) {
             if (!result.ok) {
                 log("NET", QString::fromLatin1(what) + QStringLiteral(" acknowledgement failed: ") +
                                describeFailure(result));
             }
         });
}

void Uplink::ackWarning(const QString& kind) {
    if (!hasToken()) {
        return;
    }
    QJsonObject body;
    body.insert(QStringLiteral("kind"), kind);
    log("LINK", QStringLiteral("acknowledged warning: ") + kind);
    acknowledge(body, "warning");
}

void Uplink::ackMessage(const QString& id) {
    if (!hasToken()) {
        return;
    }
    QJsonObject body;
    body.insert(QStringLiteral("kind"), QStringLiteral("message"));
    body.insert(QStringLiteral("id"), id);
    acknowledge(body, "message");
}

bool Uplink::takeEvidenceRequest() {
    const bool asked = status_.evidence;
    status_.evidence = false;
    return asked;
}

#include "uplink/uplink.h"

#include "uplink/json-read.h"

using namespace jsonread;

void Uplink::applyWagerReply(const QJsonObject& reply) {
    const QJsonValue value = reply.value(QLatin1String("wager"));
    if (!value.isObject()) {
        return;
    }
    WagerInfo w = parseWager(value.toObject());
    WagerInfo& current = status_.wager;
    if (!w.id.isEmpty() && w.id == current.id) {
        // A reply that lists no players says nothing about the player's side;
        // one that lists them without the player means the player is out.
        const bool listsPlayers = !w.sideA.players.empty() || !w.sideB.players.empty();
        if (w.side.isEmpty() && !listsPlayers) {
            w.side = current.side;
        }
        w.myCode = current.myCode;
    }
    if (reply.contains(QLatin1String("my_code"))) {
        w.myCode = text(reply.value(QLatin1String("my_code")));
    }
    if (w.phase == QLatin1String("cancelled") || w.side.isEmpty()) {
        // Only the wager shown goes away; a reply about another one must not
        // hide the wager the player is in.
        if (w.id == current.id) {
            dismissedWagerId_ = w.id;
            current = WagerInfo();
        }
    } else {
        current = std::move(w);
    }
    emit changed();
}

void Uplink::dismissWager() {
    dismissedWagerId_ = status_.wager.id;
    status_.wager = WagerInfo();
    emit changed();
}

void Uplink::createWager(const QString& format, int32_t minutes, CodesFn done) {
    dismissedWagerId_.clear();
    QJsonObject body;
    body.insert(QStringLiteral("format"), format);
    body.insert(QStringLiteral("minutes"), minutes);
    log("WAGER", QStringLiteral("creating a %1 wager, %2 min").arg(format, QString::number(minutes)));
    servicePost(QStringLiteral("/wager"), body,
                [this, done = std::move(done)](const QJsonObject& reply, const QString& error) {
                    if (!error.isEmpty()) {
                        done(QString(), QString(), error);
                        return;
                    }
                    const QJsonObject wager = object(reply.value(QLatin1String("wager")));
                    // The codes come at the top of the reply; a service that
                    // only puts them into the wager object is read as well.
                    auto code = [&](const char* key) {
                        const QString top = text(reply.value(QLatin1String(key)));
                        return top.isEmpty() ? text(wager.value(QLatin1String(key))) : top;
                    };
                    createdWagerId_ = idText(wager.value(QLatin1String("id")));
                    createdCodeA_ = code("code_a");
                    createdCodeB_ = code("code_b");
                    if (!createdWagerId_.isEmpty() && status_.wager.id == createdWagerId_) {
                        status_.wager.codeA = createdCodeA_;
                        status_.wager.codeB = createdCodeB_;
                        if (status_.wager.myCode.isEmpty()) {
                            status_.wager.myCode = createdCodeA_;
                        }
                        emit changed();
                    }
                    log("WAGER", QStringLiteral("created %1, codes %2 / %3")
                                     .arg(createdWagerId_, createdCodeA_, createdCodeB_));
                    done(createdCodeA_, createdCodeB_, QString());
                });
}

void Uplink::joinWager(const QString& code, DoneFn done) {
    dismissedWagerId_.clear();
    const QString normalised = code.trimmed().toUpper();
    QJsonObject body;
    body.insert(QStringLiteral("code"), normalised);
    log("WAGER", QStringLiteral("joining with code ") + normalised);
    servicePost(QStringLiteral("/wager/join"), body, passError(std::move(done)));
}

void Uplink::setReady(const QString& wagerId, bool ready, DoneFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("ready"), ready);
    servicePost(QStringLiteral("/wager/") + wagerId + QStringLiteral("/ready"), body,
                passError(std::move(done)));
}

void Uplink::leaveWager(const QString& wagerId, DoneFn done) {
    log("WAGER", QStringLiteral("leaving ") + wagerId);
    servicePost(QStringLiteral("/wager/") + wagerId + QStringLiteral("/leave"), QJsonObject(),
                passError(std::move(done)));
}

void Uplink::cancelWager(const QString& wagerId, DoneFn done) {
    log("WAGER", QStringLiteral("cancelling ") + wagerId);
    servicePost(QStringLiteral("/wager/") + wagerId + QStringLiteral("/cancel"), QJsonObject(),
                passError(std::move(done)));
}

void Uplink::startWager(const QString& wagerId, DoneFn done) {
    log("WAGER", QStringLiteral("starting ") + wagerId + QStringLiteral(" now"));
    servicePost(QStringLiteral("/wager/") + wagerId + QStringLiteral("/start"), QJsonObject(),
                passError(std::move(done)));
}

void Uplink::restartWager(const QString& wagerId, DoneFn done) {
    log("WAGER", QStringLiteral("restarting ") + wagerId);
    servicePost(QStringLiteral("/wager/") + wagerId + QStringLiteral("/restart"), QJsonObject(),
                passError(std::move(done)));
}

void Uplink::endWager(const QString& wagerId, DoneFn done) {
    log("WAGER", QStringLiteral("ending ") + wagerId + QStringLiteral(" early"));
    servicePost(QStringLiteral("/wager/") + wagerId + QStringLiteral("/end"), QJsonObject(),
                passError(std::move(done)));
}

#include "uplink/uplink.h"

#include "plugin/lang.h"
#include "plugin/log.h"
#include "plugin/module-data.h"
#include "uplink/json-read.h"
#include "uplink/service-call.h"
#include "uplink/texts.h"

#include <obs.h>

#include <QSysInfo>

#include <algorithm>

using namespace jsonread;

namespace {

// A code that claims to live longer than a day is treated as living a day;
// the player can always ask for a new one.
constexpr double kLongestCodeLifeS = 86400.0;

using uplink::compact;
using uplink::encoded;

} // namespace

void Uplink::startLink() {
    if (!linkDeviceCode_.isEmpty() || linkStarting_) {
        return;
    }
    const SteamAccount steam = steamAccount ? steamAccount() : SteamAccount();
    const char* obs = obs_get_version_string();
    QJsonObject body;
    body.insert(QStringLiteral("plugin"), QString::fromLatin1(plugin::kVersion));
    body.insert(QStringLiteral("obs"), QString::fromUtf8(obs ? obs : ""));
    body.insert(QStringLiteral("os"), QSysInfo::prettyProductName());
    body.insert(QStringLiteral("name"), settings_->device_name);
    if (!steam.id.isEmpty()) {
        QJsonObject account;
        account.insert(QStringLiteral("id"), steam.id);
        account.insert(QStringLiteral("name"), steam.name);
        body.insert(QStringLiteral("steam"), account);
    }
    const QString url = apiUrl(QStringLiteral("/device/start"));
    log("LINK", QStringLiteral("asking %1 for a link code (Steam %2)")
                    .arg(url, steam.id.isEmpty() ? QStringLiteral("not found") : steam.name));
    linkStarting_ = true;
    post(QStringLiteral("/device/start"), compact(body), uplink::deviceHeaders(), uplink::kServiceTimeoutMs,
         [this](const Http::Result& result) { onLinkStarted(result); });
}

void Uplink::onLinkStarted(const Http::Result& result) {
    linkStarting_ = false;
    const QJsonObject reply = uplink::replyObject(result);
    const QString deviceCode = text(reply.value(QLatin1String("device_code")));
    const QString userCode = text(reply.value(QLatin1String("user_code")));
    if (!result.ok || deviceCode.isEmpty() || userCode.isEmpty()) {
        // A reply without codes could never complete; say so rather than
        // show an empty code.
        lastError_ = result.ok ? QStringLiteral("the server sent no link code") : describeFailure(result);
        status_.notice = uplinktext::with("Link.Failed", lastError_);
        log("LINK", QStringLiteral("failed: ") + lastError_);
        emit changed();
        return;
    }
    linkDeviceCode_ = deviceCode;
    linkUserCode_ = userCode;
    const QString page = apiUrl(QStringLiteral("/link/start?code=") + encoded(userCode) +
                                QStringLiteral("&lang=") + encoded(Lang::code()));
    log("LINK", QStringLiteral("code %1, sign-in page %2").arg(userCode, page));
    emit linkCodeReady(page);
    linkInterval_ = std::max(int32(reply.value(QLatin1String("interval")), 3), 2);
    const QJsonValue expiresIn = reply.value(QLatin1String("expires_in"));
    const double lifeS = std::min(expiresIn.isDouble() ? expiresIn.toDouble() : 900.0, kLongestCodeLifeS);
    linkExpiresAt_ = now() + clampTo<qint64>(lifeS * 1000.0);
    linkLastPollAt_ = 0;
    emit changed();
}

// The code in progress is over: expired, here or at the service.
void Uplink::endLinkCode(const char* noticeKey) {
    linkDeviceCode_.clear();
    linkUserCode_.clear();
    status_.notice = Lang::text(noticeKey);
    emit changed();
}

void Uplink::pollLink() {
    const qint64 at = now();
    if (at > linkExpiresAt_) {
        endLinkCode("Link.Expired");
        return;
    }
    if (at - linkLastPollAt_ < static_cast<qint64>(linkInterval_) * 1000) {
        return;
    }
    linkLastPollAt_ = at;
    const QString code = linkDeviceCode_;
    QJsonObject body;
    body.insert(QStringLiteral("device_code"), code);
    post(QStringLiteral("/device/poll"), compact(body), uplink::deviceHeaders(), uplink::kServiceTimeoutMs,
         [this, code](const Http::Result& result) {
             // Replies for a code that is no longer the one in progress are
             // stale: the flow ended or started over meanwhile.
             if (!result.ok || linkDeviceCode_.isEmpty() || code != linkDeviceCode_) {
                 return;
             }
             const QJsonObject reply = uplink::replyObject(result);
             const QString state = text(reply.value(QLatin1String("status")));
             if (state == QLatin1String("expired")) {
                 log("LINK", QStringLiteral("code expired"));
                 endLinkCode("Link.Expired");
             } else if (state == QLatin1String("linked")) {
                 completeLink(reply);
             }
         });
}

void Uplink::completeLink(const QJsonObject& reply) {
    const QString token = text(reply.value(QLatin1String("token")));
    const QJsonObject player = object(reply.value(QLatin1String("player")));
    const QString id = idText(player.value(QLatin1String("id")));
    // The token goes into a header line; anything outside visible ASCII
    // could end that line and smuggle in headers of its own.
    const bool tokenUsable = !token.isEmpty() && std::all_of(token.begin(), token.end(), [](QChar c) {
        return c.unicode() > 0x20 && c.unicode() < 0x7f;
    });
    if (!tokenUsable || id.isEmpty()) {
        // Storing an empty token or player would look linked and upload
        // nothing, or bind the backlog to nobody; keep polling instead.
        log("LINK", QStringLiteral("ignored a link reply without a usable token or player"));
        return;
    }
    const QString ign = text(player.value(QLatin1String("ign")));
    const QString name = !ign.isEmpty() ? ign : text(player.value(QLatin1String("name")));
    settings_->token = token;
    settings_->player_id = id;
    settings_->player_name = name;
    saveSettings();

    if (!queue_.empty() && !queue_.player().isEmpty() && queue_.player() != id) {
        log("LINK", QStringLiteral("dropped %1 queued events of player %2 (now linked to %3)")
                        .arg(QString::number(queue_.size()), queue_.player(), id));
        queue_.clear();
    }
    queue_.setPlayer(id);
    savePending();

    linkDeviceCode_.clear();
    linkUserCode_.clear();
    status_.linked = true;
    status_.playerId = settings_->player_id;
    status_.playerName = settings_->player_name;
    status_.notice.clear();

    obsLog(LOG_INFO, "linked to player %s", id.toUtf8().constData());
    log("LINK", QStringLiteral("linked to player %1 (%2)").arg(id, name));
    emit changed();
    emit linkConfirmed();
    refreshSoon();
}

void Uplink::cancelLink() {
    if (linkDeviceCode_.isEmpty() && linkUserCode_.isEmpty()) {
        return;
    }
    log("LINK", QStringLiteral("link cancelled by the user"));
    linkDeviceCode_.clear();
    linkUserCode_.clear();
    emit changed();
}

void Uplink::unlink() {
    log("LINK", QStringLiteral("unlinked by the user"));
    if (hasToken()) {
        post(QStringLiteral("/device/unlink"), QByteArrayLiteral("{}"), requestHeaders(true),
             uplink::kServiceTimeoutMs, [](const Http::Result&) {});
    }
    settings_->token.clear();
    settings_->player_id.clear();
    settings_->player_name.clear();
    saveSettings();
    status_ = Status();
    emit changed();
}

void Uplink::requestSteamVerify(UrlFn done) {
    if (!hasToken()) {
        done(QString(), Lang::text("Link.First"));
        return;
    }
    post(QStringLiteral("/steam/token"), QByteArrayLiteral("{}"), requestHeaders(true),
         uplink::kServiceTimeoutMs, [this, done = std::move(done)](const Http::Result& result) {
             if (!result.ok) {
                 // The transport's own words; an HTTP failure has none, so it
                 // is described rather than reported as an empty error.
                 done(QString(), result.error.isEmpty() ? describeFailure(result) : result.error);
                 return;
             }
             const QJsonObject reply = uplink::replyObject(result);
             QString url = text(reply.value(QLatin1String("url")));
             const QString token = text(reply.value(QLatin1String("token")));
             if (url.isEmpty() && !token.isEmpty()) {
                 url = apiUrl(QStringLiteral("/steam/start?t=") + encoded(token));
             }
             if (!url.isEmpty()) {
                 done(url, QString());
             } else {
                 done(QString(), Lang::text("Link.NoSignInLink"));
             }
         });
}

void Uplink::requestTwitchVerify(UrlFn done, bool link, bool updates) {
    if (!hasToken()) {
        done(QString(), Lang::text("Link.First"));
        return;
    }
    QJsonObject body;
    if (link || updates) {
        body.insert(QStringLiteral("chat"), true);
        body.insert(QStringLiteral("link"), link);
        body.insert(QStringLiteral("updates"), updates);
    }
    post(QStringLiteral("/twitch/token"), compact(body), requestHeaders(true), uplink::kServiceTimeoutMs,
         [done = std::move(done)](const Http::Result& result) {
             const QJsonObject reply = uplink::replyObject(result);
             if (!result.ok) {
                 const QString message = text(reply.value(QLatin1String("message")));
                 done(QString(), message.isEmpty() ? describeFailure(result) : message);
                 return;
             }
             const QString url = text(reply.value(QLatin1String("url")));
             if (!url.isEmpty()) {
                 done(url, QString());
             } else {
                 done(QString(), Lang::text("Link.NoSignInLink"));
             }
         });
}

void Uplink::urlCall(const QString& path, const QJsonObject& body, UrlFn done) {
    servicePost(path, body, [done = std::move(done)](const QJsonObject& reply, const QString& error) {
        const QString url = text(reply.value(QLatin1String("url")));
        if (!error.isEmpty()) {
            done(url, error);
        } else if (!url.isEmpty()) {
            done(url, QString());
        } else {
            done(url, Lang::text("Link.NoSignInLink"));
        }
    });
}

void Uplink::requestTwitchChat(UrlFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("chat"), true);
    urlCall(QStringLiteral("/twitch/token"), body, std::move(done));
}

void Uplink::requestTwitchAds(UrlFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("ads"), true);
    urlCall(QStringLiteral("/twitch/token"), body, std::move(done));
}

void Uplink::stopAds(DoneFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("on"), false);
    servicePost(QStringLiteral("/me/ads"), body, passError(std::move(done)));
}

void Uplink::setChat(bool link, bool updates, UrlFn done) {
    QJsonObject body;
    body.insert(QStringLiteral("link"), link);
    body.insert(QStringLiteral("updates"), updates);
    servicePost(QStringLiteral("/me/chat"), body,
                [this, done = std::move(done)](const QJsonObject& reply, const QString& error) {
                    if (error.isEmpty() && reply.value(QLatin1String("chat")).isObject()) {
                        const QJsonObject chat = reply.value(QLatin1String("chat")).toObject();
                        status_.account.hasChat = true;
                        status_.account.chatLink = boolean(chat.value(QLatin1String("link")));
                        status_.account.chatUpdates = boolean(chat.value(QLatin1String("updates")));
                        status_.account.chatGranted = boolean(chat.value(QLatin1String("granted")));
                        emit changed();
                    }
                    done(error.isEmpty() ? text(reply.value(QLatin1String("url"))) : QString(), error);
                });
}

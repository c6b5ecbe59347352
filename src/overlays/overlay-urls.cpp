#include "overlays/overlay-urls.h"

#include "plugin/endpoints.h"
#include "uplink/browser-url.h"
#include "uplink/status.h"

#include <QUrl>
#include <QUrlQuery>

namespace overlays {

namespace {

constexpr Layout kCard{"Corvex Tournament - My card", 460, 200, 40, 40, "/mintcup/overlay/player.html"};
constexpr Layout kBoard{"Corvex Tournament - Leaderboard",  420, 360, 40, 280,
                        "/mintcup/overlay/leaderboard.html"};

const OverlayLink& linkOf(Overlay which, const Status& status) {
    return which == Overlay::Card ? status.playerOverlay : status.leaderboardOverlay;
}

// A page the service names is shown only when it is a web page: a browser
// source told to open file: or javascript: would do so inside OBS.
QString servicePage(Overlay which, const Status& status) {
    const QString& url = linkOf(which, status).url;
    return isBrowsableUrl(url) ? url : QString();
}

QString sitePage(Overlay which) {
    return QString::fromLatin1(endpoints::kSiteOrigin) + QString::fromLatin1(layout(which).path);
}

// Adds one query item with its value fully encoded, so that an id holding
// "&", "#", "+" or "=" stays one value.
QString addItem(const QString& url, const QString& key, const QString& value) {
    QUrl parsed(url);
    QString query = parsed.query(QUrl::FullyEncoded);
    if (!query.isEmpty()) {
        query += QLatin1Char('&');
    }
    query += key + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value));
    parsed.setQuery(query, QUrl::StrictMode);
    return parsed.toString(QUrl::FullyEncoded);
}

} // namespace

const Layout& layout(Overlay which) {
    return which == Overlay::Card ? kCard : kBoard;
}

QString withLanguage(const QString& url, const QString& code) {
    QUrl parsed(url);
    QUrlQuery query(parsed);
    query.removeAllQueryItems(QStringLiteral("lang"));
    parsed.setQuery(query);
    return addItem(parsed.toString(QUrl::FullyEncoded), QStringLiteral("lang"), code);
}

QString playerId(const Status& status, const QString& playerIdSetting) {
    return status.playerId.isEmpty() ? playerIdSetting : status.playerId;
}

QString teamCode(const Status& status) {
    return status.teamId;
}

QString cardUrl(const Status& status, const QString& playerIdSetting) {
    const QString page = servicePage(Overlay::Card, status);
    if (!page.isEmpty()) {
        return page;
    }
    const QString id = playerId(status, playerIdSetting);
    return id.isEmpty() ? sitePage(Overlay::Card) : addItem(sitePage(Overlay::Card), QStringLiteral("p"), id);
}

QString boardUrl(const Status& status, bool teamWhenEmpty) {
    QString url = servicePage(Overlay::Board, status);
    if (url.isEmpty()) {
        url = sitePage(Overlay::Board);
    }
    if (isWagerBoard(url) || url.contains(QLatin1String("team="))) {
        return url;
    }
    const QString team = teamCode(status);
    if (team.isEmpty() && !teamWhenEmpty) {
        return url;
    }
    return addItem(url, QStringLiteral("team"), team);
}

bool isWagerBoard(const QString& url) {
    return url.contains(QLatin1String("/wager.html"));
}

QString boardKey(const Status& status) {
    const QString page = servicePage(Overlay::Board, status);
    return isWagerBoard(page) ? page : teamCode(status);
}

QSize size(Overlay which, const Status& status) {
    const OverlayLink& link = linkOf(which, status);
    const Layout& fallback = layout(which);
    return QSize(link.width >= 1 ? link.width : fallback.width,
                 link.height >= 1 ? link.height : fallback.height);
}

} // namespace overlays

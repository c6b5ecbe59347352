// Which page each overlay shows, from the status model and the settings.

#include "overlays/overlay-urls.h"
#include "plugin/endpoints.h"
#include "uplink/status.h"

#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

QString site(const char* path) {
    return QString::fromLatin1(endpoints::kSiteOrigin) + QString::fromLatin1(path);
}

QStringList values(const QString& url, const char* key) {
    return QUrlQuery(QUrl(url)).allQueryItemValues(QString::fromLatin1(key), QUrl::FullyDecoded);
}

} // namespace

TEST(OverlayUrls, LanguageItemIsReplacedNotAdded) {
    const QString url = overlays::withLanguage(
        QStringLiteral("https://example.org/card?lang=de&p=7&LANG=x&lang=fr#top"), QStringLiteral("pt-BR"));
    EXPECT_EQ(values(url, "lang"), QStringList{QStringLiteral("pt-BR")});
    // Other items, their order and the fragment survive; only the exact key goes.
    EXPECT_EQ(url, QStringLiteral("https://example.org/card?p=7&LANG=x&lang=pt-BR#top"));
    EXPECT_EQ(overlays::withLanguage(QStringLiteral("https://example.org/card"), QStringLiteral("ja")),
              QStringLiteral("https://example.org/card?lang=ja"));
    // Encoded values elsewhere in the query keep their meaning.
    const QString encoded = overlays::withLanguage(
        QStringLiteral("https://example.org/c?q=a%26b%3Dc&s=1%2B1"), QStringLiteral("en"));
    EXPECT_EQ(values(encoded, "q"), QStringList{QStringLiteral("a&b=c")});
    EXPECT_EQ(values(encoded, "s"), QStringList{QStringLiteral("1+1")});
}

TEST(OverlayUrls, CardPage) {
    Status status;
    // Nobody known: the bare player page.
    EXPECT_EQ(overlays::cardUrl(status, QString()), site("/mintcup/overlay/player.html"));
    // The settings' player, unless the service names one.
    EXPECT_EQ(overlays::cardUrl(status, QStringLiteral("p-9")), site("/mintcup/overlay/player.html?p=p-9"));
    status.playerId = QStringLiteral("p-1");
    EXPECT_EQ(overlays::cardUrl(status, QStringLiteral("p-9")), site("/mintcup/overlay/player.html?p=p-1"));
    // An id cannot smuggle in items of its own.
    status.playerId = QStringLiteral("a&lang=xx#frag");
    const QString odd = overlays::cardUrl(status, QString());
    EXPECT_EQ(values(odd, "p"), QStringList{QStringLiteral("a&lang=xx#frag")});
    EXPECT_TRUE(values(odd, "lang").isEmpty());
    // The service's page wins, as it is.
    status.playerOverlay.url = QStringLiteral("https://cdn.example.org/card?id=5");
    EXPECT_EQ(overlays::cardUrl(status, QString()), QStringLiteral("https://cdn.example.org/card?id=5"));
    // A page that is no web page is not opened inside OBS.
    status.playerOverlay.url = QStringLiteral("file:///etc/passwd");
    EXPECT_EQ(overlays::cardUrl(status, QString()),
              site("/mintcup/overlay/player.html?p=a%26lang%3Dxx%23frag"));
}

TEST(OverlayUrls, LeaderboardPageAndTeam) {
    Status status;
    EXPECT_EQ(overlays::boardUrl(status, false), site("/mintcup/overlay/leaderboard.html"));
    // The upkeep names an empty team, so a page that showed a team forgets it.
    EXPECT_EQ(overlays::boardUrl(status, true), site("/mintcup/overlay/leaderboard.html?team="));
    status.teamId = QStringLiteral("t-7");
    EXPECT_EQ(overlays::boardUrl(status, false), site("/mintcup/overlay/leaderboard.html?team=t-7"));
    // The service's own team item is kept.
    status.leaderboardOverlay.url = QStringLiteral("https://example.org/board?cup=3&team=t-1");
    EXPECT_EQ(overlays::boardUrl(status, true), QStringLiteral("https://example.org/board?cup=3&team=t-1"));
    status.leaderboardOverlay.url = QStringLiteral("https://example.org/board?cup=3");
    EXPECT_EQ(overlays::boardUrl(status, true), QStringLiteral("https://example.org/board?cup=3&team=t-7"));
    // A wager board names no team.
    status.leaderboardOverlay.url = QStringLiteral("https://example.org/mintcup/overlay/wager.html?w=12");
    EXPECT_EQ(overlays::boardUrl(status, true),
              QStringLiteral("https://example.org/mintcup/overlay/wager.html?w=12"));
}

TEST(OverlayUrls, LeaderboardKeyFollowsTheModeOfThePage) {
    Status status;
    EXPECT_EQ(overlays::boardKey(status), QString());
    status.teamId = QStringLiteral("t-7");
    EXPECT_EQ(overlays::boardKey(status), QStringLiteral("t-7"));
    // A cup board from the service still depends on the team only.
    status.leaderboardOverlay.url = QStringLiteral("https://example.org/board?cup=3");
    EXPECT_EQ(overlays::boardKey(status), QStringLiteral("t-7"));
    // In a wager it is the page, which changes with every wager.
    status.leaderboardOverlay.url = QStringLiteral("https://example.org/overlay/wager.html?w=12");
    EXPECT_EQ(overlays::boardKey(status), status.leaderboardOverlay.url);
    EXPECT_TRUE(overlays::isWagerBoard(status.leaderboardOverlay.url));
}

TEST(OverlayUrls, SizesAndPlaces) {
    Status status;
    EXPECT_EQ(overlays::size(Overlay::Card, status), QSize(460, 200));
    EXPECT_EQ(overlays::size(Overlay::Board, status), QSize(420, 360));
    status.playerOverlay = OverlayLink{QStringLiteral("https://example.org/c"), 300, 0};
    status.leaderboardOverlay = OverlayLink{QString(), -5, 500};
    EXPECT_EQ(overlays::size(Overlay::Card, status), QSize(300, 200));
    EXPECT_EQ(overlays::size(Overlay::Board, status), QSize(420, 500));
    EXPECT_STREQ(overlays::layout(Overlay::Card).sourceName, "Corvex Tournament - My card");
    EXPECT_STREQ(overlays::layout(Overlay::Board).sourceName, "Corvex Tournament - Leaderboard");
    EXPECT_EQ(overlays::layout(Overlay::Board).y, 280);
}

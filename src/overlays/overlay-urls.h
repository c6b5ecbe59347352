#pragma once

// Which pages the two overlays show and how big they are: plain rules over
// the status model and the settings, with no OBS involved.

#include "overlays/overlay-kind.h"

#include <QSize>
#include <QString>

struct Status;

namespace overlays {

// Where an overlay goes when it is first put into a scene.
struct Layout {
    const char* sourceName;
    int width;
    int height;
    int x;
    int y;
    const char* path; // on the web site, for when the service names no page
};
const Layout& layout(Overlay which);

// The page's language follows the module's: every "lang" item goes and one
// with `code` is added.
QString withLanguage(const QString& url, const QString& code);

// The status model's player id, else the one the settings remember.
QString playerId(const Status& status, const QString& playerIdSetting);
// The team whose standing the leaderboard highlights in a cup.
QString teamCode(const Status& status);

// The card's page: the service's own when it names one, else the player page
// of the web site for this player (the bare page when no player is known).
QString cardUrl(const Status& status, const QString& playerIdSetting);
// The leaderboard's page. Outside wagers it names the team; `teamWhenEmpty`
// adds an empty "team" item too, so that a page left by a team forgets it.
QString boardUrl(const Status& status, bool teamWhenEmpty);
// A wager leaderboard: the service swaps the page for each wager.
bool isWagerBoard(const QString& url);
// What the leaderboard's page depends on; the page is rebuilt when it changes.
QString boardKey(const Status& status);

// The service's size when it gives a usable one, else the default.
QSize size(Overlay which, const Status& status);

} // namespace overlays

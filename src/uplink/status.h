#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The player's standing as the service last reported it. Everything the dock
// shows about the account, the cup and the wager is read from here; the
// service link replaces it whole with each status document.

// A browser-source page the service offers for the scene.
struct OverlayLink {
    QString url;
    int32_t width = 0;
    int32_t height = 0;
};

struct WagerPlayer {
    QString id;
    QString name;
    QString note;
    bool ready = false;
    bool streaming = false;
    int64_t score = 0;
};

struct WagerSide {
    QString name;
    int64_t score = 0;
    std::vector<WagerPlayer> players;
};

struct WagerInfo {
    QString id; // empty: no wager
    QString format;
    int32_t minutes = 0;
    int32_t teamSize = 1;
    QString phase = QStringLiteral("open");
    QString winner; // "a", "b", "draw" or empty while undecided
    QString creatorId;
    QString creatorName;
    bool mine = false;
    QString side; // "a" or "b": the player's side; empty when not on one
    QString myCode;
    QString codeA;
    QString codeB;
    int64_t startsAt = 0;
    int64_t endsAt = 0;
    WagerSide sideA;
    WagerSide sideB;
    bool ladder = true;
    bool ratingKnown = false;
    int32_t ratingAfter = 0;
    int32_t ratingDelta = 0;
};

struct Registration {
    bool hasCup = false;
    QString cupId;
    QString cupName;
    QString phase;
    QString status;
    QString code;
    int64_t startsAt = 0;
    int64_t endsAt = 0;
    int32_t teamSize = 0;
    int32_t maxTeams = 0;
    bool registered = false;
    bool pool = false;
    bool hasTeam = false;
    QString teamId;
    QString teamName;
    QString teamTag;
    bool captain = false;
    bool ready = false;
    bool teamReady = false;
    QStringList members;
    QString inviteCode;
    QString inviteUrl;
};

struct AccountInfo {
    bool hasAccount = false;
    bool discordLinked = false;
    QString discordName;
    bool steamLinked = false;
    QString steamId;
    QString steamName;
    bool steamVerified = false;
    QString ign;
    QString twitch;
    bool twitchVerified = false;
    bool hasComplete = false;
    bool complete = false;
    bool ads = false;
    bool hasChat = false;
    bool chatLink = false;
    bool chatUpdates = false;
    bool chatGranted = false;
};

// Tri-state values: -1 unknown (the service sent no boolean), else 0 or 1.
struct StreamInfo {
    bool hasStream = false;
    int32_t obsLive = -1;
    int32_t twitchLive = -1;
    bool ok = false;
    QString twitchLogin;
};

struct PluginInfo {
    QString latest;
    QString minimum;
    QString downloadUrl;
    QString portableUrl;
};

struct StreamChecks {
    bool hasChecks = false;
    bool twitchLinked = false;
    int32_t twitchLive = -1;
    int32_t vodsOn = -1;
    bool pluginOk = true;
};

struct OnAir {
    QString state;
    int64_t since = 0;
};

struct Status {
    // Player and notice.
    bool linked = false;
    QString playerId;
    QString playerName;
    QString notice;

    // The cup the player is in and the standing there.
    QString cupId;
    QString cupName;
    QString cupStatus;
    QString cupPhase;
    QString cupKind = QStringLiteral("cup");
    int64_t cupStartsAt = 0;
    int64_t cupEndsAt = 0;
    QString teamId;
    QString teamName;
    QString teamTag;
    bool hasMe = false;
    int64_t score = 0;
    int64_t gross = 0;
    int32_t rank = 0;
    QString state;
    QString english; // "suspect" and "fail" are the verdicts the dock warns about
    bool counted = true;
    int64_t offstream = 0;
    int64_t teamScore = 0;
    int32_t teamRank = 0;
    QString snapTag; // a snapshot the service asks for
    int64_t snapAt = 0;
    bool evidence = false;
    OverlayLink playerOverlay;
    OverlayLink leaderboardOverlay;

    AccountInfo account;
    WagerInfo wager;
    StreamInfo stream;
    PluginInfo plugin;
    StreamChecks checks;
    OnAir onAir;
    Registration registration;
};

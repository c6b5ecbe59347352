#include "uplink/status-reader.h"

#include "uplink/json-read.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

using namespace jsonread;

namespace uplink {

namespace {

QJsonValue at(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key));
}

OverlayLink readOverlay(const QJsonValue& v) {
    OverlayLink link;
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        link.url = text(at(o, "url"));
        link.width = int32(at(o, "w"));
        link.height = int32(at(o, "h"));
    } else if (v.isString()) {
        link.url = v.toString();
    }
    return link;
}

void readTeam(const QJsonObject& team, Registration& r) {
    r.teamId = idText(at(team, "id"));
    r.teamName = text(at(team, "name"));
    r.teamTag = text(at(team, "tag"));
    r.captain = boolean(at(team, "captain"));
    r.ready = boolean(at(team, "ready"));
    r.teamReady = boolean(at(team, "team_ready"));
    for (const QJsonValue& member : at(team, "members").toArray()) {
        r.members.append(member.isObject() ? text(member.toObject().value(QLatin1String("name")))
                                           : idText(member));
    }
    const QJsonObject invite = object(at(team, "invite"));
    r.inviteCode = text(at(invite, "code"));
    r.inviteUrl = text(at(invite, "url"));
}

Registration registrationFrom(const QJsonObject& t) {
    Registration r;
    const QJsonObject cup = object(at(t, "cup"));
    r.cupId = idText(at(cup, "id"));
    r.hasCup = !r.cupId.isEmpty();
    r.cupName = text(at(cup, "name"));
    r.phase = text(at(cup, "phase"));
    r.status = text(at(cup, "status"));
    r.code = text(at(cup, "code"));
    r.startsAt = int64(at(cup, "starts_at"));
    r.endsAt = int64(at(cup, "ends_at"));
    r.teamSize = int32(at(cup, "team_size"));
    r.maxTeams = int32(at(cup, "max_teams"));
    r.registered = boolean(at(t, "registered"));
    r.pool = boolean(at(t, "pool"));
    const QJsonValue teamValue = at(t, "team");
    r.hasTeam = teamValue.isObject();
    if (r.hasTeam) {
        readTeam(teamValue.toObject(), r);
    }
    return r;
}

// A rating arrives as a number with a separate change, or as an object with
// after/before/change in one of a few spellings.
void readRating(WagerInfo& w, const QJsonValue& r, const QJsonValue& change) {
    if (r.isObject()) {
        const QJsonObject o = r.toObject();
        const QJsonValue after = o.contains(QLatin1String("after")) ? at(o, "after") : at(o, "rating");
        const QJsonValue delta = o.contains(QLatin1String("change")) ? at(o, "change") : at(o, "delta");
        if (!after.isDouble()) {
            return;
        }
        w.ratingKnown = true;
        w.ratingAfter = rounded32(after);
        if (delta.isDouble()) {
            w.ratingDelta = rounded32(delta);
        } else if (at(o, "before").isDouble()) {
            w.ratingDelta = clampTo<int32_t>(std::round(after.toDouble() - at(o, "before").toDouble()));
        } else {
            w.ratingDelta = 0;
        }
    } else if (r.isDouble()) {
        w.ratingKnown = true;
        w.ratingAfter = rounded32(r);
        w.ratingDelta = rounded32(change);
    }
}

QJsonValue changeOf(const QJsonObject& o, const char* fallbackKey) {
    return o.contains(QLatin1String("rating_change")) ? at(o, "rating_change") : at(o, fallbackKey);
}

// One side's players; the side and rating of the player when among them.
void readSide(const QJsonObject& s, const char* key, const QString& playerId, WagerInfo& w, WagerSide& side) {
    side.name = text(at(s, "name"));
    side.score = int64(at(s, "score"));
    for (const QJsonValue& value : at(s, "players").toArray()) {
        const QJsonObject p = object(value);
        WagerPlayer player;
        player.id = idText(at(p, "id"));
        player.name = text(at(p, "name"));
        player.note = text(at(p, "note"));
        player.ready = boolean(at(p, "ready"));
        player.streaming = boolean(at(p, "streaming"));
        player.score = int64(at(p, "score"));
        if (!player.id.isEmpty() && player.id == playerId) {
            w.side = QString::fromLatin1(key);
            if (!w.ratingKnown) {
                readRating(w, at(p, "rating"), changeOf(p, "delta"));
            }
        }
        side.players.push_back(std::move(player));
    }
}

HostPopup readPopup(const QJsonObject& doc, const char* key) {
    const QJsonValue value = at(doc, key);
    if (!value.isObject()) {
        return {};
    }
    const QJsonObject o = value.toObject();
    return HostPopup{idText(at(o, "id")), text(at(o, "text")), text(at(o, "level")), text(at(o, "from"))};
}

} // namespace

AccountInfo readAccount(const QJsonObject& a) {
    AccountInfo info;
    info.hasAccount = true;
    const QJsonObject discord = object(at(a, "discord"));
    info.discordLinked = boolean(at(discord, "linked"));
    info.discordName = text(at(discord, "name"));
    const QJsonObject steam = object(at(a, "steam"));
    info.steamLinked = boolean(at(steam, "linked"));
    info.steamId = text(at(steam, "id"));
    info.steamName = text(at(steam, "name"));
    info.steamVerified = boolean(at(steam, "verified"));
    info.ign = text(at(a, "ign"));
    info.twitch = text(at(a, "twitch"));
    info.twitchVerified = boolean(at(a, "twitch_verified"));
    info.hasComplete = a.contains(QLatin1String("complete"));
    info.complete = boolean(at(a, "complete"));
    info.ads = boolean(at(a, "ads"));
    const QJsonValue chat = at(a, "chat");
    info.hasChat = chat.isObject();
    const QJsonObject c = object(chat);
    info.chatLink = boolean(at(c, "link"));
    info.chatUpdates = boolean(at(c, "updates"));
    info.chatGranted = boolean(at(c, "granted"));
    return info;
}

WagerInfo readWager(const QJsonObject& o, const WagerContext& context) {
    WagerInfo w;
    w.id = idText(at(o, "id"));
    w.format = text(at(o, "format"));
    int size = 0;
    if (!w.format.isEmpty() && w.format.at(0) >= QLatin1Char('0') && w.format.at(0) <= QLatin1Char('9')) {
        size = w.format.at(0).unicode() - '0';
    }
    w.teamSize = std::min(std::max(size, 1), 5);
    w.minutes = int32(at(o, "minutes"));
    const QString phase = text(at(o, "phase"));
    w.phase = phase.isEmpty() ? QStringLiteral("open") : phase;
    w.winner = text(at(o, "winner"));
    const QJsonObject creator = object(at(o, "created_by"));
    w.creatorId = idText(at(creator, "id"));
    w.creatorName = text(at(creator, "name"));
    w.mine = !w.creatorId.isEmpty() && w.creatorId == context.playerId;

    w.codeA = text(at(o, "code_a"));
    w.codeB = text(at(o, "code_b"));
    w.startsAt = int64(at(o, "starts_at"));
    w.endsAt = int64(at(o, "ends_at"));
    w.ladder = boolean(at(o, "ladder"), true);

    const QJsonObject sides = object(at(o, "sides"));
    readSide(object(at(sides, "a")), "a", context.playerId, w, w.sideA);
    readSide(object(at(sides, "b")), "b", context.playerId, w, w.sideB);
    if (!w.ratingKnown) {
        readRating(w, at(o, "rating"), changeOf(o, "rating_delta"));
    }
    if (!w.id.isEmpty() && w.id == context.createdId) {
        if (w.codeA.isEmpty()) {
            w.codeA = context.createdCodeA;
        }
        if (w.codeB.isEmpty()) {
            w.codeB = context.createdCodeB;
        }
    }
    return w;
}

void readPlayer(const QJsonObject& doc, const QString& knownId, const QString& knownName, Status& s) {
    const QJsonObject player = object(at(doc, "player"));
    const QString id = idText(at(player, "id"));
    s.playerId = id.isEmpty() ? knownId : id;
    const QString ign = text(at(player, "ign"));
    const QString name = text(at(player, "name"));
    s.playerName = !ign.isEmpty() ? ign : (!name.isEmpty() ? name : knownName);
    s.linked = true;
}

void readCup(const QJsonObject& doc, Status& s) {
    const QJsonObject cup = object(at(doc, "cup"));
    s.cupId = idText(at(cup, "id"));
    s.cupName = text(at(cup, "name"));
    s.cupStatus = text(at(cup, "status"));
    s.cupPhase = text(at(cup, "phase"));
    const QString kind = text(at(cup, "kind"));
    s.cupKind = kind.isEmpty() ? QStringLiteral("cup") : kind;
    s.cupStartsAt = int64(at(cup, "starts_at"));
    s.cupEndsAt = int64(at(cup, "ends_at"));
    const QJsonObject team = object(at(doc, "team"));
    s.teamId = idText(at(team, "id"));
    s.teamName = text(at(team, "name"));
    s.teamTag = text(at(team, "tag"));
    const QJsonValue meValue = at(doc, "me");
    s.hasMe = meValue.isObject();
    const QJsonObject me = object(meValue);
    s.score = int64(at(me, "score"));
    s.gross = int64(at(me, "gross"));
    s.rank = int32(at(me, "rank"));
    s.state = text(at(me, "state"));
    s.english = text(at(me, "english"));
    s.counted = boolean(at(me, "counted"), true);
    s.offstream = int64(at(me, "offstream"));
    s.teamScore = int64(at(doc, "team_score"));
    s.teamRank = int32(at(doc, "team_rank"));
    if (at(doc, "snap").isObject()) {
        const QJsonObject snap = at(doc, "snap").toObject();
        s.snapTag = text(at(snap, "tag"));
        s.snapAt = int64(at(snap, "at"));
    }
    s.evidence = boolean(at(doc, "evidence"));
    const QJsonObject overlays = object(at(doc, "overlays"));
    s.playerOverlay = readOverlay(at(overlays, "player"));
    s.leaderboardOverlay = readOverlay(at(overlays, "leaderboard"));
    s.notice = text(at(doc, "msg"));
}

void readRegistration(const QJsonObject& doc, const Status& previous, Status& s) {
    if (!doc.contains(QLatin1String("tournament"))) {
        s.registration = previous.registration;
    } else if (at(doc, "tournament").isObject()) {
        s.registration = registrationFrom(at(doc, "tournament").toObject());
    }
}

void readAccountState(const QJsonObject& doc, const Status& previous, Status& s) {
    if (at(doc, "account").isObject()) {
        s.account = readAccount(at(doc, "account").toObject());
    }
    if (at(doc, "stream").isObject()) {
        const QJsonObject stream = at(doc, "stream").toObject();
        s.stream.hasStream = true;
        s.stream.obsLive = tri(at(stream, "obs"));
        s.stream.twitchLive = tri(at(stream, "twitch"));
        s.stream.ok = boolean(at(stream, "ok"));
        s.stream.twitchLogin = text(at(stream, "twitch_login"));
    }
    if (at(doc, "plugin").isObject()) {
        const QJsonObject plugin = at(doc, "plugin").toObject();
        s.plugin.latest = text(at(plugin, "latest"));
        s.plugin.minimum = text(at(plugin, "min"));
        s.plugin.downloadUrl = text(at(plugin, "url"));
        s.plugin.portableUrl = text(at(plugin, "portable_url"));
    } else {
        s.plugin = previous.plugin;
    }
    if (at(doc, "checks").isObject()) {
        const QJsonObject checks = at(doc, "checks").toObject();
        s.checks.hasChecks = true;
        s.checks.twitchLinked = boolean(at(checks, "twitch_linked"));
        s.checks.twitchLive = tri(at(checks, "twitch_live"));
        s.checks.vodsOn = tri(at(checks, "vods_on"));
        s.checks.pluginOk = boolean(at(checks, "plugin_ok"), true);
    }
    if (at(doc, "on_air").isObject()) {
        const QJsonObject onAir = at(doc, "on_air").toObject();
        s.onAir.state = text(at(onAir, "state"));
        s.onAir.since = int64(at(onAir, "since"));
    }
}

void readStatusWager(const QJsonObject& doc, const WagerContext& context, const Status& previous, Status& s) {
    if (!doc.contains(QLatin1String("wager"))) {
        s.wager = previous.wager;
        return;
    }
    if (!at(doc, "wager").isObject()) {
        return;
    }
    const QJsonObject w = at(doc, "wager").toObject();
    s.wager = readWager(w, context);
    if (w.contains(QLatin1String("side"))) {
        s.wager.side = text(at(w, "side"));
    }
    s.wager.myCode = text(at(w, "my_code"));
    if (!context.dismissedId.isEmpty() && s.wager.id == context.dismissedId) {
        s.wager = WagerInfo();
    }
}

HostPopup readNudge(const QJsonObject& doc) {
    return readPopup(doc, "nudge");
}

HostPopup readMessage(const QJsonObject& doc) {
    HostPopup message = readPopup(doc, "message");
    if (message.level.isEmpty()) {
        message.level = QStringLiteral("info");
    }
    return message;
}

} // namespace uplink

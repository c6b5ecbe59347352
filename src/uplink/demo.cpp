#include "uplink/uplink.h"

#include "plugin/endpoints.h"
#include "plugin/log.h"
#include "plugin/module-data.h"

namespace {

WagerPlayer demoPlayer(const char* id, const char* name, bool ready, bool streaming) {
    WagerPlayer p;
    p.id = QString::fromLatin1(id);
    p.name = QString::fromLatin1(name);
    p.ready = ready;
    p.streaming = streaming;
    return p;
}

AccountInfo demoAccount() {
    AccountInfo a;
    a.hasAccount = true;
    a.discordLinked = true;
    a.discordName = QStringLiteral("jorn");
    a.steamLinked = true;
    a.steamVerified = true;
    a.steamName = QStringLiteral("Jorn");
    a.ign = QStringLiteral("Jorn");
    a.twitch = QStringLiteral("jorn_plays");
    a.twitchVerified = true;
    a.hasComplete = true;
    a.complete = true;
    a.ads = true;
    a.hasChat = true;
    a.chatLink = true;
    a.chatUpdates = false;
    a.chatGranted = true;
    return a;
}

void fillDemoStream(Status& s) {
    s.stream.hasStream = true;
    s.stream.obsLive = 1;
    s.stream.twitchLive = 1;
    s.stream.ok = true;
    s.stream.twitchLogin = QStringLiteral("jorn_plays");

    s.plugin.latest = QString::fromLatin1(plugin::kVersion);
    s.plugin.minimum = QStringLiteral("0.2.0");

    s.checks.hasChecks = true;
    s.checks.twitchLinked = true;
    s.checks.twitchLive = 1;
    s.checks.vodsOn = 1;
    s.checks.pluginOk = true;
}

// A cup that starts soon after `at`.
void fillDemoCup(Status& s, qint64 at) {
    const qint64 starts = at + 570000;
    const qint64 ends = at + 4170000;
    s.cupId = QStringLiteral("c-demo");
    s.cupName = QStringLiteral("Mint Cup #1");
    s.cupPhase = QStringLiteral("countdown");
    s.cupStatus = QStringLiteral("countdown");
    s.cupKind = QStringLiteral("cup");
    s.cupStartsAt = starts;
    s.cupEndsAt = ends;
    s.teamId = QStringLiteral("t-demo");
    s.teamName = QStringLiteral("Corvex Dogs");
    s.teamTag = QStringLiteral("QRT");

    Registration& r = s.registration;
    r.hasCup = true;
    r.cupId = QStringLiteral("c-demo");
    r.cupName = QStringLiteral("Mint Cup #1");
    r.phase = QStringLiteral("countdown");
    r.status = QStringLiteral("countdown");
    r.startsAt = starts;
    r.endsAt = ends;
    r.teamSize = 2;
    r.maxTeams = 16;
    r.registered = true;
    r.hasTeam = true;
    r.teamId = QStringLiteral("t-demo");
    r.teamName = QStringLiteral("Corvex Dogs");
    r.teamTag = QStringLiteral("QRT");
    r.captain = true;
    r.ready = false;
    r.teamReady = false;
    r.members = QStringList{QStringLiteral("Jorn"), QStringLiteral("Nova")};
    r.inviteCode = QStringLiteral("T-QRT42");
    r.inviteUrl = QString::fromLatin1(endpoints::kSiteOrigin) + QStringLiteral("/mintcup/join?code=T-QRT42");
}

WagerInfo demoWager() {
    WagerInfo w;
    w.id = QStringLiteral("w-demo01");
    w.format = QStringLiteral("2v2");
    w.phase = QStringLiteral("open");
    w.minutes = 30;
    w.teamSize = 2;
    w.creatorId = QStringLiteral("p-demo");
    w.creatorName = QStringLiteral("Jorn");
    w.mine = true;
    w.side = QStringLiteral("a");
    w.codeA = QStringLiteral("W-QRT7A");
    w.myCode = QStringLiteral("W-QRT7A");
    w.codeB = QStringLiteral("W-HWL3B");
    w.ladder = true;
    w.ratingKnown = true;
    w.ratingAfter = 1216;
    w.ratingDelta = 0;
    w.sideA.name = QStringLiteral("Corvex Dogs");
    w.sideA.players = {demoPlayer("p-demo", "Jorn", true, true), demoPlayer("p-nova", "Nova", false, true)};
    w.sideB.name = QStringLiteral("Night Howlers");
    w.sideB.players = {demoPlayer("p-ash", "Ash", true, true), demoPlayer("p-bolt", "Bolt", true, false)};
    return w;
}

} // namespace

// A filled-in dock for screenshots and demonstrations: a made-up player in a
// cup that starts soon and in an open wager. Nothing is read, saved or sent.
void Uplink::enterDemo() {
    demo_ = 1;
    Status s;
    s.linked = true;
    s.playerId = QStringLiteral("p-demo");
    s.playerName = QStringLiteral("Jorn");
    s.account = demoAccount();
    fillDemoStream(s);
    fillDemoCup(s, now());
    s.wager = demoWager();

    status_ = std::move(s);
    obsLog(LOG_INFO, "demo mode: a made-up player, cup and wager, no network");
    emit changed();
}

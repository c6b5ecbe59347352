#include "hud/reports.h"
#include "down_reads.h"

#include <gtest/gtest.h>

namespace {

hud::PlateRead plateOf(const std::string& name, const std::string& cls, bool weapon = true) {
    hud::PlateRead r;
    r.found = true;
    r.read = name;
    r.name = name;
    r.weaponClass = cls;
    r.weapon = weapon;
    return r;
}

TEST(WeaponResolution, PicksTheReadThatFitsTheIconClass) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> ignored;
    hud::onPlateRead(s, 1000, plateOf("M67 Frag Grenade", "grenade"), ignored);
    hud::onPlateRead(s, 3000, plateOf("Humvee", "car"), ignored);
    hud::onPlateRead(s, 6000, plateOf("M4", "rifle"), ignored);
    hud::onPlateRead(s, 9000, plateOf("Defibrillator", "", false), ignored);
    const hud::PlateTracker& p = s.plate;

    // Explosions take the newest explosive of the last 15 s, vehicles their class.
    EXPECT_EQ(hud::resolveWeapon(p, 10000, "explosion"), "M67 Frag Grenade");
    EXPECT_EQ(hud::resolveWeapon(p, 16002, "explosion"), "");
    EXPECT_EQ(hud::resolveWeapon(p, 10000, "car"), "Humvee");
    EXPECT_EQ(hud::resolveWeapon(p, 10000, "tank"), "");
    // A gadget in hand: a gun kill falls back to the newest gun of 15 s.
    EXPECT_EQ(hud::resolveWeapon(p, 10000, "rifle"), "M4");
    EXPECT_EQ(hud::resolveWeapon(p, 10000, "hammer"), "");
    // Reads from well after the kill do not count.
    EXPECT_EQ(hud::resolveWeapon(p, 5000, "rifle"), "");
    EXPECT_EQ(hud::resolveWeapon(p, 5600, "pistol"), "M4");
}

TEST(WeaponResolution, NewestWeaponInHandWinsForAnyNonExplosiveIcon) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> ignored;
    hud::onPlateRead(s, 1000, plateOf("SVD", "sniper"), ignored);
    hud::onPlateRead(s, 2000, plateOf("Deagle", "pistol"), ignored);
    EXPECT_EQ(hud::resolveWeapon(s.plate, 4000, "sniper"), "Deagle");
    EXPECT_EQ(hud::resolveWeapon(s.plate, 4000, "hammer"), "Deagle");
}

TEST(PlateTracker, ConfirmsOnTheSecondReadAndForgetsAfter30Seconds) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> ignored;
    hud::onPlateRead(s, 0, plateOf("M4", "rifle"), ignored);
    EXPECT_EQ(hud::currentWeapon(s.plate, 0), "");
    hud::onPlateRead(s, 1000, plateOf("M4", "rifle"), ignored);
    EXPECT_EQ(hud::currentWeapon(s.plate, 1000), "M4");
    EXPECT_EQ(hud::currentWeapon(s.plate, 11001), "");
    hud::onPlateRead(s, 2000, plateOf("Humvee", "car"), ignored);
    hud::onPlateRead(s, 3000, plateOf("Humvee", "car"), ignored);
    EXPECT_EQ(hud::currentWeapon(s.plate, 3000), ""); // a vehicle is not a weapon in hand
    hud::onPlateRead(s, 40000, hud::PlateRead{}, ignored);
    EXPECT_TRUE(s.plate.history.empty());
}

TEST(CombatEvents, DownThenUpNeedsTheLogGoneAndAPlateRead) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> out;
    hud::onDownRead(s, 0, downRead(0.9f), out);
    hud::onDownRead(s, 330, downRead(0.85f), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, hud::CombatEvent::Down);
    EXPECT_EQ(out[0].t, 0);
    EXPECT_FLOAT_EQ(out[0].conf, 0.85f);
    EXPECT_EQ(hud::describe(out[0]), "down (bleeding out)");

    hud::onDownRead(s, 5000, downRead(0.1f), out);
    hud::onDownRead(s, 5330, downRead(0.1f), out);
    EXPECT_TRUE(s.upPending);
    EXPECT_EQ(out.size(), 1u); // the log alone going is not yet an up
    hud::onPlateRead(s, 6000, plateOf("M4", "rifle"), out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].kind, hud::CombatEvent::Up);
    EXPECT_EQ(out[1].t, 5330);
    EXPECT_FALSE(s.down);
}

TEST(CombatEvents, DownWithoutPlateExpiresSilently) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> out;
    hud::onDownRead(s, 0, downRead(0.9f), out);
    hud::onDownRead(s, 330, downRead(0.9f), out);
    hud::onDownRead(s, 1000, downRead(0.0f), out);
    hud::onDownRead(s, 1330, downRead(0.0f), out);
    hud::onPlateRead(s, 6400, plateOf("M4", "rifle"), out); // too late for an up
    hud::onDownRead(s, 61400, downRead(0.0f), out);
    EXPECT_FALSE(s.down);
    EXPECT_EQ(out.size(), 1u);
}

TEST(CombatEvents, APlateWithoutAMatchedNameStillEndsTheDown) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> out;
    hud::onDownRead(s, 0, downRead(0.9f), out);
    hud::onDownRead(s, 330, downRead(0.9f), out);
    hud::onDownRead(s, 660, downRead(0.0f), out);
    hud::onDownRead(s, 990, downRead(0.0f), out);
    hud::PlateRead unmatched;
    unmatched.found = true;
    unmatched.read = "KODIAK";
    hud::onPlateRead(s, 1500, unmatched, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].kind, hud::CombatEvent::Up);
    EXPECT_TRUE(s.plate.history.empty());
}

TEST(CombatEvents, ADeathEndsTheDownSoTheNextDownIsReported) {
    hud::CombatState s;
    std::vector<hud::CombatEvent> out;
    hud::onDownRead(s, 0, downRead(0.9f), out);
    hud::onDownRead(s, 330, downRead(0.9f), out);
    // Finished off: the feed shows the player as victim.
    hud::FeedRead feed;
    hud::FeedRow row;
    row.side = hud::PlayerSide::Victim;
    row.y = 100;
    row.x0 = 20;
    row.x1 = 400;
    row.cap = 24;
    row.bracketX0 = 200;
    row.bracketX1 = 260;
    row.hasDistance = true;
    row.distance = 30;
    row.distanceConfidence = 0.9f;
    row.signature.assign(hud::kRowSignatureLength, 0.1f);
    feed.rows.push_back(row);
    for (std::int64_t t = 2000; t <= 3000; t += 330)
        hud::onFeedRead(s, t, feed, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].kind, hud::CombatEvent::Death);
    EXPECT_FALSE(s.down);
    // Respawned and down again within the minute.
    hud::onDownRead(s, 20000, downRead(0.0f), out);
    hud::onDownRead(s, 20330, downRead(0.0f), out);
    hud::onDownRead(s, 30000, downRead(0.9f), out);
    hud::onDownRead(s, 30330, downRead(0.9f), out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].kind, hud::CombatEvent::Down);
}

TEST(CombatEvents, KillLogText) {
    hud::CombatEvent e;
    e.kind = hud::CombatEvent::Kill;
    e.dist = 123;
    e.weapon = "M4";
    e.wtype = "rifle";
    e.headshot = true;
    e.conf = 0.825f;
    EXPECT_EQ(hud::describe(e), "kill 123 m weapon M4 (rifle) headshot c0.82");
    e.kind = hud::CombatEvent::Death;
    e.dist = -1;
    e.weapon.clear();
    e.wtype.clear();
    e.headshot = false;
    e.conf = 1.0f;
    EXPECT_EQ(hud::describe(e), "death ? m weapon ? (?) c1.00");
}

} // namespace

#include "dock_fixture.h"

// The fixture itself: a dock on a real engine takes a status document
// through the link's parser and survives being refreshed and torn down.
TEST_F(DockTest, FixtureAppliesAStatusDocumentThroughTheLink) {
    makeDock();
    applyStatus(R"({"player": {"id": "p-9", "ign": "Nine"}, "cup": {"id": "c1", "phase": "live"}})");
    EXPECT_EQ(uplink().status().playerName, QStringLiteral("Nine"));
    EXPECT_EQ(uplink().status().cupPhase, QStringLiteral("live"));
    EXPECT_EQ(settings().player_id, QStringLiteral("p-9"));
}

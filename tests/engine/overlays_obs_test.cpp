// The overlays on a real libobs core without the front end: a source type
// standing in for OBS's browser source, a scene the test calls current, and
// the engine creating, updating, showing, hiding and removing the two pages.

#include "engine_obs_support.h"

#include "plugin/endpoints.h"

#include <QJsonDocument>

using namespace enginetest;

namespace {

const QString kCard = QStringLiteral("Corvex Tournament - My card");
const QString kBoard = QStringLiteral("Corvex Tournament - Leaderboard");

QString site(const char* path) {
    return QString::fromLatin1(endpoints::kSiteOrigin) + QString::fromLatin1(path);
}

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

// The module's language as a restart with another `lang` would choose it.
void useLanguage(const char* code) {
    Lang::applyWith(QString::fromLatin1(code), QStringLiteral("en-US"), [](const char*) { return nullptr; });
}

// A browser source as far as the module can tell: the id, a display name,
// defaults, and a size taken from its settings.
struct FakeBrowser {
    int width = 0;
    int height = 0;
};

void registerBrowserSource() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    obs_source_info info = {};
    info.id = "browser_source";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = [](void*) { return "Browser"; };
    info.create = [](obs_data_t* settings, obs_source_t*) -> void* {
        auto* b = new FakeBrowser;
        b->width = static_cast<int>(obs_data_get_int(settings, "width"));
        b->height = static_cast<int>(obs_data_get_int(settings, "height"));
        return b;
    };
    info.destroy = [](void* data) { delete static_cast<FakeBrowser*>(data); };
    info.update = [](void* data, obs_data_t* settings) {
        auto* b = static_cast<FakeBrowser*>(data);
        b->width = static_cast<int>(obs_data_get_int(settings, "width"));
        b->height = static_cast<int>(obs_data_get_int(settings, "height"));
    };
    info.get_defaults = [](obs_data_t* settings) {
        obs_data_set_default_string(settings, "url", "about:blank");
        obs_data_set_default_int(settings, "width", 800);
        obs_data_set_default_int(settings, "height", 600);
        obs_data_set_default_int(settings, "fps", 60);
        obs_data_set_default_bool(settings, "reroute_audio", true);
    };
    info.get_width = [](void* data) {
        return static_cast<std::uint32_t>(static_cast<FakeBrowser*>(data)->width);
    };
    info.get_height = [](void* data) {
        return static_cast<std::uint32_t>(static_cast<FakeBrowser*>(data)->height);
    };
    obs_register_source(&info);
}

// A scene the engine takes for the front end's current one. On the way out
// it goes, and with it every overlay source nobody else holds.
class Stage {
public:
    Stage() : scene_(obs_scene_create(qPrintable(QStringLiteral("stage %1").arg(++count_)))) {}
    ~Stage() {
        obs_source_remove(obs_scene_get_source(scene_));
        scene_ = nullptr;
        for (const QString& name : {kCard, kBoard}) {
            OBSSourceAutoRelease left(obs_get_source_by_name(qPrintable(name)));
            if (left)
                obs_source_remove(left);
        }
        // libobs destroys sources on a task thread of its own; the next test
        // must not meet these under their names.
        waitUntil(
            [] {
                OBSSourceAutoRelease card(obs_get_source_by_name(qPrintable(kCard)));
                OBSSourceAutoRelease board(obs_get_source_by_name(qPrintable(kBoard)));
                return !card && !board;
            },
            5000);
    }
    obs_scene_t* scene() const { return scene_; }
    std::function<OBSSourceAutoRelease()> query() const {
        obs_scene_t* scene = scene_;
        return [scene] { return OBSSourceAutoRelease(obs_source_get_ref(obs_scene_get_source(scene))); };
    }

    // Items showing the named source, in groups too.
    int items(const QString& name) const {
        struct Count {
            QByteArray name;
            int n = 0;
        } count{name.toUtf8()};
        countIn(scene_, &count.name, &count.n);
        return count.n;
    }
    OBSSceneItem item(const QString& name) const {
        return OBSSceneItem(obs_scene_find_source_recursive(scene_, qPrintable(name)));
    }
    vec2 position(const QString& name) const {
        vec2 pos;
        vec2_set(&pos, -1, -1);
        if (OBSSceneItem found = item(name))
            obs_sceneitem_get_pos(found, &pos);
        return pos;
    }

private:
    static void countIn(obs_scene_t* scene, QByteArray* name, int* n) {
        struct Walk {
            QByteArray* name;
            int* n;
        } walk{name, n};
        obs_scene_enum_items(
            scene,
            [](obs_scene_t*, obs_sceneitem_t* item, void* data) {
                auto* w = static_cast<Walk*>(data);
                if (*w->name == obs_source_get_name(obs_sceneitem_get_source(item)))
                    ++*w->n;
                if (obs_sceneitem_is_group(item))
                    countIn(obs_sceneitem_group_get_scene(item), w->name, w->n);
                return true;
            },
            &walk);
    }

    static int count_;
    OBSSceneAutoRelease scene_;
};
int Stage::count_ = 0;

struct Page {
    bool exists = false;
    QString type;
    QString url;
    long long width = 0;
    long long height = 0;
    long long fps = 0;
    bool rerouteAudioSet = false;
    bool rerouteAudio = true;
};

Page page(const QString& name) {
    Page p;
    OBSSourceAutoRelease source(obs_get_source_by_name(qPrintable(name)));
    if (!source)
        return p;
    p.exists = true;
    p.type = QString::fromUtf8(obs_source_get_unversioned_id(source));
    OBSDataAutoRelease settings(obs_source_get_settings(source));
    p.url = QString::fromUtf8(obs_data_get_string(settings, "url"));
    p.width = obs_data_get_int(settings, "width");
    p.height = obs_data_get_int(settings, "height");
    p.fps = obs_data_get_int(settings, "fps");
    p.rerouteAudioSet = obs_data_has_user_value(settings, "reroute_audio");
    p.rerouteAudio = obs_data_get_bool(settings, "reroute_audio");
    return p;
}

// Runs first, before any test makes the browser source exist: Debian's OBS
// has none, and the dock must say so rather than make a broken source.
TEST(OverlaysWithoutBrowser, AddingFailsAndChangesNothing) {
    if (obs_source_get_display_name("browser_source"))
        GTEST_SKIP() << "the browser source type is registered already";
    Stage stage;
    EngineRun engine;
    engine->setCurrentSceneQuery(stage.query());
    engine->start();
    QString message;
    EXPECT_FALSE(engine->addOverlay(Overlay::Card, &message));
    EXPECT_EQ(message, Lang::text("Overlay.NoBrowser"));
    EXPECT_FALSE(engine->addOverlay(Overlay::Board, &message));
    EXPECT_EQ(message, Lang::text("Overlay.NoBrowser"));
    EXPECT_FALSE(page(kCard).exists);
    EXPECT_FALSE(page(kBoard).exists);
    EXPECT_EQ(stage.items(kCard) + stage.items(kBoard), 0);
    EXPECT_EQ(engine->overlayState(Overlay::Card), 0);
    engine->tickForTesting(); // the upkeep finds nothing to update
    EXPECT_FALSE(page(kCard).exists);
    EXPECT_EQ(engine.logCount(QStringLiteral("OVERLAY"), QStringLiteral("added")), 0);
}

class Overlays : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerBrowserSource(); }
    void SetUp() override { useLanguage("en"); }
    void TearDown() override { useLanguage("en"); }
};

TEST_F(Overlays, AddingCreatesBrowserSourcesWithTheirSettingsAndPlaces) {
    Stage stage;
    EngineRun engine;
    engine->setCurrentSceneQuery(stage.query());
    engine->start(); // opens the reader log
    useLanguage("de");
    engine->uplink()->parseStatus(json(R"({"player": {"id": "p-42", "ign": "Jorn"}, "team": {"id": "t-7"},
        "overlays": {"leaderboard": {"url": "https://example.org/board?cup=3", "w": 500, "h": 0}}})"));

    QString message = QStringLiteral("stale");
    ASSERT_TRUE(engine->addOverlay(Overlay::Card, &message));
    EXPECT_TRUE(message.isEmpty());
    const Page card = page(kCard);
    EXPECT_EQ(card.type, QStringLiteral("browser_source"));
    EXPECT_EQ(card.url, site("/mintcup/overlay/player.html?p=p-42&lang=de"));
    EXPECT_EQ(card.width, 460);
    EXPECT_EQ(card.height, 200);
    EXPECT_EQ(card.fps, 30);
    EXPECT_TRUE(card.rerouteAudioSet);
    EXPECT_FALSE(card.rerouteAudio);
    EXPECT_EQ(stage.items(kCard), 1);
    EXPECT_EQ(stage.position(kCard).x, 40.0f);
    EXPECT_EQ(stage.position(kCard).y, 40.0f);
    EXPECT_EQ(engine->overlayState(Overlay::Card), 1);
    EXPECT_EQ(engine.logCount(QStringLiteral("OVERLAY"),
                              QStringLiteral("added ") + kCard + QStringLiteral(": ") + card.url),
              1);

    // The service's page and width win; its height of 0 means the default.
    ASSERT_TRUE(engine->addOverlay(Overlay::Board, &message));
    const Page board = page(kBoard);
    EXPECT_EQ(board.url, QStringLiteral("https://example.org/board?cup=3&team=t-7&lang=de"));
    EXPECT_EQ(board.width, 500);
    EXPECT_EQ(board.height, 360);
    EXPECT_EQ(stage.position(kBoard).x, 40.0f);
    EXPECT_EQ(stage.position(kBoard).y, 280.0f);
    EXPECT_EQ(engine->overlayState(Overlay::Board), 1);
}

TEST_F(Overlays, AddingAgainUpdatesTheOneSourceAndLeavesTheItemWhereTheUserPutIt) {
    Stage stage;
    EngineRun engine;
    engine->setCurrentSceneQuery(stage.query());
    engine->start();
    ASSERT_TRUE(engine->addOverlay(Overlay::Card, nullptr));
    EXPECT_EQ(page(kCard).url, site("/mintcup/overlay/player.html?lang=en"));
    OBSSourceAutoRelease first(obs_get_source_by_name(qPrintable(kCard)));
    vec2 moved;
    vec2_set(&moved, 300, 150);
    obs_sceneitem_set_pos(stage.item(kCard), &moved);

    engine->uplink()->parseStatus(json(R"({"player": {"id": "p-9"}})"));
    ASSERT_TRUE(engine->addOverlay(Overlay::Card, nullptr));
    EXPECT_EQ(stage.items(kCard), 1);
    EXPECT_EQ(page(kCard).url, site("/mintcup/overlay/player.html?p=p-9&lang=en"));
    OBSSourceAutoRelease second(obs_get_source_by_name(qPrintable(kCard)));
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(stage.position(kCard).x, 300.0f);

    // Inside a group the card is still in the scene: no second one either.
    obs_sceneitem_t* items[] = {stage.item(kCard)};
    ASSERT_TRUE(obs_scene_insert_group(stage.scene(), "group", items, 1));
    EXPECT_EQ(engine->overlayState(Overlay::Card), 1);
    ASSERT_TRUE(engine->addOverlay(Overlay::Card, nullptr));
    EXPECT_EQ(stage.items(kCard), 1);
    EXPECT_EQ(engine.logCount(QStringLiteral("OVERLAY"), QStringLiteral("added ") + kCard), 3);
}

TEST_F(Overlays, HideShowAndRemoveKeepTheSource) {
    Stage stage;
    EngineRun engine;
    engine->setCurrentSceneQuery(stage.query());
    EXPECT_EQ(engine->overlayState(Overlay::Board), 0);
    engine->setOverlayVisible(Overlay::Board, false); // nothing there: nothing happens
    engine->removeOverlay(Overlay::Board);
    ASSERT_TRUE(engine->addOverlay(Overlay::Board, nullptr));
    EXPECT_EQ(engine->overlayState(Overlay::Board), 1);
    engine->setOverlayVisible(Overlay::Board, false);
    EXPECT_EQ(engine->overlayState(Overlay::Board), 2);
    EXPECT_FALSE(obs_sceneitem_visible(stage.item(kBoard)));
    engine->setOverlayVisible(Overlay::Board, true);
    EXPECT_EQ(engine->overlayState(Overlay::Board), 1);
    EXPECT_EQ(engine->overlayState(Overlay::Card), 0);

    // The user's own touch on the page survives taking it out and back in.
    {
        OBSSourceAutoRelease source(obs_get_source_by_name(qPrintable(kBoard)));
        OBSDataAutoRelease css(obs_data_create());
        obs_data_set_string(css, "css", "body { color: red; }");
        obs_source_update(source, css);
    }
    engine->removeOverlay(Overlay::Board);
    EXPECT_EQ(engine->overlayState(Overlay::Board), 0);
    EXPECT_EQ(stage.items(kBoard), 0);
    EXPECT_TRUE(page(kBoard).exists);
    ASSERT_TRUE(engine->addOverlay(Overlay::Board, nullptr));
    EXPECT_EQ(stage.items(kBoard), 1);
    OBSSourceAutoRelease source(obs_get_source_by_name(qPrintable(kBoard)));
    OBSDataAutoRelease settings(obs_source_get_settings(source));
    EXPECT_STREQ(obs_data_get_string(settings, "css"), "body { color: red; }");

    // Deleted by the user (item and source): it lingers while anyone holds
    // it, but adding the leaderboard again makes a new one rather than bring
    // the deleted one back.
    engine->removeOverlay(Overlay::Board);
    obs_source_remove(source);
    engine->tickForTesting();
    ASSERT_TRUE(engine->addOverlay(Overlay::Board, nullptr));
    OBSSceneItem item = stage.item(kBoard);
    ASSERT_TRUE(item);
    EXPECT_NE(obs_sceneitem_get_source(item), source.Get());
    EXPECT_FALSE(obs_source_removed(obs_sceneitem_get_source(item)));
}

TEST_F(Overlays, UpkeepFollowsThePlayerTheTeamTheWagerAndTheLanguage) {
    Stage stage;
    {
        EngineRun engine;
        engine->setCurrentSceneQuery(stage.query());
        ASSERT_TRUE(engine->addOverlay(Overlay::Card, nullptr));
        ASSERT_TRUE(engine->addOverlay(Overlay::Board, nullptr));
        EXPECT_EQ(page(kBoard).url, site("/mintcup/overlay/leaderboard.html?lang=en"));
        engine->tickForTesting();
        EXPECT_EQ(page(kCard).url, site("/mintcup/overlay/player.html?lang=en"));

        engine->uplink()->parseStatus(json(R"({"player": {"id": "p-1"}, "team": {"id": "t-2"}})"));
        engine->tickForTesting();
        EXPECT_EQ(page(kCard).url, site("/mintcup/overlay/player.html?p=p-1&lang=en"));
        EXPECT_EQ(page(kBoard).url, site("/mintcup/overlay/leaderboard.html?team=t-2&lang=en"));

        engine->uplink()->parseStatus(json(R"({"player": {"id": "p-1"}, "team": {"id": "t-3"}})"));
        engine->tickForTesting();
        EXPECT_EQ(page(kBoard).url, site("/mintcup/overlay/leaderboard.html?team=t-3&lang=en"));
        // Leaving the team takes the team off the page.
        engine->uplink()->parseStatus(json(R"({"player": {"id": "p-1"}})"));
        engine->tickForTesting();
        EXPECT_EQ(page(kBoard).url, site("/mintcup/overlay/leaderboard.html?team=&lang=en"));

        // A wager board is the service's page; a new wager, a new page.
        engine->uplink()->parseStatus(json(R"({"player": {"id": "p-1"}, "team": {"id": "t-3"},
            "overlays": {"leaderboard": "https://example.org/o/wager.html?w=1&lang=ru"}})"));
        engine->tickForTesting();
        EXPECT_EQ(page(kBoard).url, QStringLiteral("https://example.org/o/wager.html?w=1&lang=en"));
        engine->uplink()->parseStatus(json(R"({"player": {"id": "p-1"},
            "overlays": {"leaderboard": "https://example.org/o/wager.html?w=2"}})"));
        engine->tickForTesting();
        EXPECT_EQ(page(kBoard).url, QStringLiteral("https://example.org/o/wager.html?w=2&lang=en"));
        // Sizes are the user's business once the page is in the scene.
        EXPECT_EQ(page(kBoard).width, 420);
    }
    // The next OBS start in another language: both pages follow on the
    // first tick, though neither the player nor the team changed.
    useLanguage("fr");
    EngineRun again([](Settings& s) { s.player_id = QStringLiteral("p-1"); });
    again->setCurrentSceneQuery(stage.query());
    again->tickForTesting();
    EXPECT_EQ(page(kCard).url, site("/mintcup/overlay/player.html?p=p-1&lang=fr"));
    EXPECT_EQ(page(kBoard).url, site("/mintcup/overlay/leaderboard.html?team=&lang=fr"));
    EXPECT_EQ(stage.items(kCard), 1);
    EXPECT_EQ(stage.items(kBoard), 1);
}

TEST_F(Overlays, WithoutASceneOrWithAStrangerOfTheSameNameNothingChanges) {
    EngineRun engine;
    engine->setCurrentSceneQuery([] { return OBSSourceAutoRelease(); });
    QString message;
    EXPECT_FALSE(engine->addOverlay(Overlay::Card, &message));
    EXPECT_EQ(message, Lang::text("Overlay.NoScene"));
    EXPECT_FALSE(page(kCard).exists);
    EXPECT_EQ(engine->overlayState(Overlay::Card), 0);
    engine->setOverlayVisible(Overlay::Card, true);
    engine->removeOverlay(Overlay::Card);

    // The user's own picture under the card's name is neither rewritten nor
    // put into the scene.
    Stage stage;
    engine->setCurrentSceneQuery(stage.query());
    engine->start();
    obstest::TestSource stranger(obstest::kPicture, kCard);
    EXPECT_FALSE(engine->addOverlay(Overlay::Card, &message));
    EXPECT_EQ(message, Lang::text("Overlay.CreateFailed"));
    EXPECT_EQ(stage.items(kCard), 0);
    EXPECT_EQ(page(kCard).type, QString::fromLatin1(obstest::kPicture));
    EXPECT_TRUE(page(kCard).url.isEmpty());
    engine->tickForTesting();
    EXPECT_TRUE(page(kCard).url.isEmpty());
    EXPECT_EQ(engine.logCount(QStringLiteral("OVERLAY"), QStringLiteral("added")), 0);
}

} // namespace

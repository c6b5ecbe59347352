// Cost of the engine's reading on a real libobs core: one pass over a game
// frame with the cash HUD, a full kill feed, the weapon plate and the damage
// log, split into capture (render of the source into the small region
// target and the copy back) and reading, at 1080p, 1440p and 2160p; and the
// main-thread tick handing 100 events to the service link. Run under a
// virtual display: xvfb-run -a corvex_engine_bench

#include "obs_harness.h"
#include "synth.h"

#include "engine/capture.h"
#include "engine/engine.h"
#include "engine/regions.h"
#include "hud/feed/feed.h"
#include "hud/feed/killdata.h"
#include "hud/core/model.h"
#include "hud/plate/down.h"
#include "hud/plate/plate.h"
#include "hud/cash/pass.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::exit(1);
}

struct Data {
    std::shared_ptr<const hud::Model> model;
    std::shared_ptr<const hud::KillData> killData;
};

const Data& data() {
    static const Data loaded = [] {
        Data d;
        std::string error;
        d.model = hud::loadModel(CORVEX_SOURCE_DIR "/data/hud/model.bin", &error);
        if (!d.model)
            fail(QString::fromStdString(error));
        d.killData = hud::loadKillData(CORVEX_SOURCE_DIR "/data/hud/killfeed.bin", &error);
        if (!d.killData)
            fail(QString::fromStdString(error));
        return d;
    }();
    return loaded;
}

// A busy moment of a match: balance with a change and reward lines, seven
// kill-feed rows (one the player's kill, one the player's death), the
// weapon plate and the damage log.
QImage busyFrame(int width, int height) {
    synth::FrameContent f;
    f.width = width;
    f.height = height;
    f.sceneSeed = 42;
    synth::CashHud cash;
    cash.balance = 1234567;
    cash.change = 1250;
    synth::RewardLine a;
    a.text = "KILL CONFIRMED";
    a.hasFigure = true;
    a.figure = 250;
    synth::RewardLine b;
    b.text = "HEADSHOT";
    b.hasXp = true;
    b.xp = 25;
    cash.lines = {a, b};
    f.cash = cash;
    synth::KillFeed feed;
    const char* names[] = {"VIPER_07", "NORDWIND", "KESTREL", "AXO", "B4SILISK", "MORROW_X", "TALLGRASS"};
    for (int i = 0; i < 7; ++i) {
        synth::FeedRowContent row;
        row.killer = names[i];
        row.victim = names[(i + 3) % 7];
        row.icon = synth::iconNames()[static_cast<std::size_t>(i) % synth::iconNames().size()];
        row.headshot = i % 3 == 0;
        row.distance = 7 + 113 * i;
        if (i == 1)
            row.killerWho = synth::FeedWho::Me;
        if (i == 4)
            row.victimWho = synth::FeedWho::Me;
        feed.rows.push_back(row);
    }
    f.feed = feed;
    synth::Plate plate;
    plate.name = "AK74";
    f.plate = plate;
    f.down = true;
    return synth::renderFrame(f);
}

enum Region { Hud, Feed, Down, Plate, kRegions };

// One source per resolution and the engine's captures of it, as the reader
// thread keeps them: a context per region, buffers reused.
struct Stage {
    std::unique_ptr<obstest::TestSource> source;
    reading::Geometry geometry;
    std::array<reading::Region, kRegions> regions;
    std::array<int, kRegions> widths{};
    std::array<bool, kRegions> valid{};
    std::array<CaptureContext, kRegions> contexts;
    std::array<CapturedImage, kRegions> pixels;
    hud::DownDetector detector;
    hud::FramePlanes planes;

    bool capture(int r) {
        return valid[r] && contexts[r].capture(source->get(), regions[r], widths[r], pixels[r]);
    }

    void read(int r, benchmark::State& state) {
        const Data& d = data();
        const CapturedImage& p = pixels[r];
        switch (r) {
        case Hud: {
            hud::HudReadOptions options;
            options.readLines = true;
            options.minConfidence = 0.85f;
            options.minMargin = 0.03f;
            options.minLineConfidence = 0.72f;
            options.allowOffMargin = true;
            options.retryLowContrast = true;
            const hud::HudReading reading = hud::readHud(*d.model, p.view(), options, planes);
            if (!reading.balanceCertain)
                state.SkipWithError("the balance was not read");
            benchmark::DoNotOptimize(reading);
            break;
        }
        case Feed:
            benchmark::DoNotOptimize(
                hud::readFeedRows(*d.model, *d.killData, p.pixels.data(), p.width, p.height, p.stride));
            break;
        case Down:
            benchmark::DoNotOptimize(hud::readDownScore(detector, p.pixels.data(), p.width, p.height,
                                                        p.stride, detector.lockedVariant < 0));
            break;
        case Plate:
            benchmark::DoNotOptimize(
                hud::readPlate(*d.model, *d.killData, p.pixels.data(), p.width, p.height, p.stride));
            break;
        default:
            break;
        }
    }
};

// Cleared before the core shuts down: the contexts free their graphics
// objects inside it.
std::map<int, std::unique_ptr<Stage>>& stages() {
    static std::map<int, std::unique_ptr<Stage>> all;
    return all;
}

Stage& stage(int height) {
    std::unique_ptr<Stage>& s = stages()[height];
    if (!s) {
        s = std::make_unique<Stage>();
        const int width = height * 16 / 9;
        s->source = std::make_unique<obstest::TestSource>(obstest::kGameCapture,
                                                          QStringLiteral("Game %1").arg(height));
        s->source->setImage(busyFrame(width, height));
        s->geometry.sourceWidth = width;
        s->geometry.sourceHeight = height;
        s->valid[Hud] = reading::hudRegion(s->geometry, s->regions[Hud]);
        s->widths[Hud] = reading::kHudCaptureWidth;
        const reading::AuxReader aux[] = {reading::AuxReader::Feed, reading::AuxReader::Down,
                                          reading::AuxReader::Plate};
        for (int r = Feed; r <= Plate; ++r) {
            s->valid[r] = reading::auxRegion(aux[r - 1], s->geometry, s->regions[r]);
            s->widths[r] = reading::auxOutputWidth(aux[r - 1], s->regions[r], s->geometry);
        }
        s->detector.killData = data().killData;
        for (int r = 0; r < kRegions; ++r)
            if (!s->capture(r))
                fail(QStringLiteral("region %1 of the %2-line frame was not captured").arg(r).arg(height));
    }
    return *s;
}

// state.range(0): frame height; range(1): the region.
void BM_Capture(benchmark::State& state) {
    Stage& s = stage(static_cast<int>(state.range(0)));
    const int r = static_cast<int>(state.range(1));
    for (auto _ : state)
        if (!s.capture(r))
            state.SkipWithError("capture failed");
    state.counters["out_w"] = s.pixels[r].width;
    state.counters["out_h"] = s.pixels[r].height;
}

void BM_Read(benchmark::State& state) {
    Stage& s = stage(static_cast<int>(state.range(0)));
    const int r = static_cast<int>(state.range(1));
    s.capture(r);
    for (auto _ : state)
        s.read(r, state);
}

// Every region captured and read, as a pass in which all readers are due.
void BM_Pass(benchmark::State& state) {
    Stage& s = stage(static_cast<int>(state.range(0)));
    for (auto _ : state)
        for (int r = 0; r < kRegions; ++r) {
            s.capture(r);
            s.read(r, state);
        }
}

void regions(benchmark::internal::Benchmark* b) {
    for (int height : {1080, 1440, 2160})
        for (int r = 0; r < kRegions; ++r)
            b->Args({height, r});
}

// CPU is the whole process's: the software renderer rasterises on threads
// of its own, which a capture waits for.
BENCHMARK(BM_Capture)->Apply(regions)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read)->Apply(regions)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pass)->Arg(1080)->Arg(1440)->Arg(2160)->MeasureProcessCPUTime()->UseRealTime()->Unit(
    benchmark::kMillisecond);

// The tick with 100 events from the reader: each queued, numbered and
// logged. The engine runs (its log is open) but has no source to read.
void BM_Tick100Events(benchmark::State& state) {
    QTemporaryDir dir;
    Settings settings;
    settings.out_dir = dir.path() + QStringLiteral("/out");
    settings.sample_on_new_line = false;
    settings.evidence = false;
    Settings::save(settings, dir.path());
    Engine engine(nullptr, dir.path());
    engine.setDataFolder(QStringLiteral(CORVEX_SOURCE_DIR "/data"));
    engine.setSteamLookupForTesting([] { return SteamSeen{}; });
    engine.start();
    std::vector<GameEvent> events;
    for (int i = 0; i < 100; ++i) {
        GameEvent e;
        e.t = 1700000000000 + i;
        switch (i % 4) {
        case 0:
            e.kind = EventKind::Balance;
            e.value = 10000 + i;
            e.conf = 0.97f;
            break;
        case 1:
            e.kind = EventKind::MatchChange;
            e.value = 250;
            e.conf = 0.95f;
            break;
        case 2:
            e.kind = EventKind::FeedLine;
            e.text = "KILL CONFIRMED";
            e.hasAmount = true;
            e.amount = 250;
            e.lineId = i;
            break;
        default:
            e.kind = EventKind::Kill;
            e.dist = 87;
            e.weapon = "AK74";
            e.wtype = "rifle";
            e.conf = 0.9f;
            break;
        }
        events.push_back(e);
    }
    for (auto _ : state) {
        engine.handOverForTesting(events);
        engine.tickForTesting();
    }
    engine.stop();
}
// A fixed count keeps the link's queue under its cap, where it would start
// dropping events.
BENCHMARK(BM_Tick100Events)->Iterations(150)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QString error;
    // The core's own output is rendered once a second only, so that its
    // render thread stays out of the numbers.
    obstest::VideoOptions video;
    video.fps = 1;
    if (!obstest::startObs(&error, video))
        fail(QStringLiteral("libobs did not start: ") + error);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stages().clear();
    obstest::stopObs();
    return 0;
}

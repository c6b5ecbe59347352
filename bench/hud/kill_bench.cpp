// Cost of the kill-feed, plate and damage-log readers on the engine's
// captures of a painted 3840x2160 frame: seven feed rows, a weapon plate, and
// a second frame with the damage log.

#include "feedrun.h"
#include "hudio.h"
#include "synth.h"

#include "hud/feed/feed.h"
#include "hud/plate/down.h"
#include "hud/plate/plate.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Fixture {
    QImage feed, plate, damageLog;
    QImage blurredFeed; // the same rows where the first reading fails and the second looks run
    std::shared_ptr<const hud::Model> model;
    std::shared_ptr<const hud::KillData> killData;
};

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::exit(1);
}

const Fixture& fixture() {
    static const Fixture fixed = [] {
        static int argc = 1;
        static char name[] = "corvex_kill_bench";
        static char* argv[] = {name, nullptr};
        synth::ensureGuiApp(argc, argv);
        Fixture out;
        if (!synth::Glyphs::instance().ok())
            fail(synth::Glyphs::instance().error());
        QString error;
        out.model = synth::loadModelFile(synth::defaultModelPath(), &error);
        if (!out.model)
            fail(error);
        std::string message;
        out.killData = hud::loadKillData(synth::defaultKillDataPath().toStdString(), &message);
        if (!out.killData)
            fail(QString::fromStdString(message));

        synth::FrameContent look;
        look.width = 3840;
        look.height = 2160;
        look.sceneSeed = 7;
        look.degradation.jpegQuality = 85;
        synth::KillFeed feed;
        const char* names[] = {"VIPER_07", "NORDWIND", "KESTREL", "AXO", "B4SILISK", "MORROW_X", "TALLGRASS"};
        for (int i = 0; i < 7; ++i) {
            synth::FeedRowContent row;
            row.killer = names[i];
            row.victim = names[(i + 3) % 7];
            row.icon = synth::iconNames()[static_cast<std::size_t>(i) % synth::iconNames().size()];
            row.headshot = i % 3 == 0;
            row.distance = i == 5 ? -1 : 7 + 113 * i;
            if (i == 1)
                row.killerWho = synth::FeedWho::Me;
            if (i == 4)
                row.victimWho = synth::FeedWho::Me;
            feed.rows.push_back(row);
        }
        look.feed = feed;
        synth::Plate plate;
        plate.name = "PP-19 Vityaz";
        look.plate = plate;
        const QImage frame = synth::renderFrame(look);
        out.feed = synth::captureFeedRegion(frame);
        out.plate = synth::capturePlateRegion(frame);
        synth::FrameContent blurred = look;
        blurred.degradation.jpegQuality = 50;
        blurred.degradation.blurSigma = 1.6;
        out.blurredFeed = synth::captureFeedRegion(synth::renderFrame(blurred));
        look.plate.reset();
        look.down = true;
        out.damageLog = synth::captureDamageLogRegion(synth::renderFrame(look));
        if (out.feed.isNull() || out.blurredFeed.isNull() || out.plate.isNull() || out.damageLog.isNull())
            fail(QStringLiteral("the frame gives no captures"));
        return out;
    }();
    return fixed;
}

// Argument 0: the clean capture; 1: the blurred one.
void BM_readFeedRows(benchmark::State& state) {
    const Fixture& f = fixture();
    const hud::FrameView v = synth::frameView(state.range(0) ? f.blurredFeed : f.feed);
    hud::FeedRead r = hud::readFeedRows(*f.model, *f.killData, v.pixels, v.width, v.height, v.stride);
    if (r.rows.size() != 7)
        state.SkipWithError("the benchmark capture does not give seven rows");
    for (auto _ : state) {
        r = hud::readFeedRows(*f.model, *f.killData, v.pixels, v.width, v.height, v.stride);
        benchmark::DoNotOptimize(r.rows.data());
    }
}
BENCHMARK(BM_readFeedRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_readPlate(benchmark::State& state) {
    const Fixture& f = fixture();
    const hud::FrameView v = synth::frameView(f.plate);
    hud::PlateRead r = hud::readPlate(*f.model, *f.killData, v.pixels, v.width, v.height, v.stride);
    if (r.name != "PP-19 Vityaz")
        state.SkipWithError("the benchmark plate does not read as painted");
    for (auto _ : state) {
        r = hud::readPlate(*f.model, *f.killData, v.pixels, v.width, v.height, v.stride);
        benchmark::DoNotOptimize(r.score);
    }
}
BENCHMARK(BM_readPlate)->Unit(benchmark::kMillisecond);

// fullScan 1: every variant at every position, as the engine does every 2 s
// while nothing is locked; 0: the locked header followed within 4 pixels.
void BM_readDownScore(benchmark::State& state) {
    const Fixture& f = fixture();
    const hud::FrameView v = synth::frameView(f.damageLog);
    const bool full = state.range(0) != 0;
    hud::DownDetector locked;
    locked.killData = f.killData;
    hud::DownRead r = hud::readDownScore(locked, v.pixels, v.width, v.height, v.stride, true);
    if (!r.found || locked.lockedVariant < 0)
        state.SkipWithError("the benchmark damage log is not found");
    // The same picture keeps the lock where it is, so one detector serves.
    for (auto _ : state) {
        if (full)
            locked.lockedVariant = -1;
        r = hud::readDownScore(locked, v.pixels, v.width, v.height, v.stride, full);
        benchmark::DoNotOptimize(r.score);
    }
}
BENCHMARK(BM_readDownScore)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

// Cost of one HUD reading pass and of its heaviest steps, on the capture the
// engine reads at the game's usual set-up. Argument 1: with a helper thread.

#include "hudio.h"
#include "synth.h"

#include "hud/core/helper.h"
#include "hud/core/image.h"
#include "hud/cash/pass.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The capture the engine takes of a painted frame.
QImage captureOf(const synth::FrameContent& look) {
    const QRect window = synth::hudWindow(look.width, look.height);
    return synth::captureHudRegion(synth::renderFrame(look, window), window.topLeft(), look.width,
                                   look.height);
}

struct Fixture {
    QImage capture;
    std::shared_ptr<const hud::Model> model;
};

const Fixture& fixture() {
    static const Fixture fixed = [] {
        static int argc = 1;
        static char name[] = "corvex_hud_bench";
        static char* argv[] = {name, nullptr};
        synth::ensureGuiApp(argc, argv);
        Fixture out;
        if (!synth::Glyphs::instance().ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(synth::Glyphs::instance().error()));
            std::exit(1);
        }
        QString error;
        out.model = synth::loadModelFile(synth::defaultModelPath(), &error);
        if (!out.model) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::exit(1);
        }
        synth::FrameContent look;
        look.width = 1920;
        look.height = 1080;
        look.hudScale = 1.2;
        look.sceneSeed = 42;
        synth::CashHud cash;
        cash.balance = 1234567;
        cash.change = -1250;
        synth::RewardLine a, b, c;
        a.text = "KILL CONFIRMED";
        a.hasFigure = true;
        a.figure = 250;
        b.text = "HEADSHOT";
        b.hasXp = true;
        b.xp = 25;
        c.text = "REVENGE KILL";
        c.hasFigure = true;
        c.figure = 1500;
        cash.lines = {a, b, c};
        look.cash = cash;
        look.degradation.jpegQuality = 85;
        out.capture = captureOf(look);
        return out;
    }();
    return fixed;
}

// Times readHud on `capture`, which must first read as `check` says; with
// a helper thread when the benchmark's argument is 1.
template <typename Check>
void timeReadHud(benchmark::State& state, const QImage& capture, Check check, const char* unreadable) {
    const Fixture& f = fixture();
    const hud::FrameView view = synth::frameView(capture);
    hud::HudReadOptions options = synth::engineOptions();
    std::unique_ptr<hud::HelperThread> helper;
    if (state.range(0) == 1) {
        helper = std::make_unique<hud::HelperThread>();
        options.helper = helper.get();
    }
    hud::HudReading r = hud::readHud(*f.model, view, options);
    if (!check(r))
        state.SkipWithError(unreadable);
    for (auto _ : state) {
        r = hud::readHud(*f.model, view, options);
        benchmark::DoNotOptimize(r.balance);
    }
}

void BM_readHud(benchmark::State& state) {
    timeReadHud(
        state, fixture().capture,
        [](const hud::HudReading& r) { return r.balance == 1234567 && r.lines.size() == 3; },
        "the benchmark capture does not read as painted");
}
BENCHMARK(BM_readHud)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 720-line frame whose soft balance the first reading leaves uncertain,
// so every pass pays for the second attempt too.
void BM_readHudSecondAttempt(benchmark::State& state) {
    fixture();
    static const QImage capture = [] {
        synth::FrameContent look;
        look.width = 1280;
        look.height = 720;
        look.hudScale = 0.9400272872631259;
        look.sceneSeed = 1427390467u;
        look.degradation.jpegQuality = 82;
        look.degradation.blurSigma = 0.6637203693133455;
        synth::CashHud cash;
        cash.balance = 974617528;
        look.cash = cash;
        return captureOf(look);
    }();
    timeReadHud(
        state, capture, [](const hud::HudReading& r) { return r.balance == 974617528 && r.balanceCertain; },
        "the soft capture does not read as painted");
}
BENCHMARK(BM_readHudSecondAttempt)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 720-line "$7" above a reward line with more blobs: every attempt on the
// line found fails, the white ink included, and the balance reads only at
// the layout's place. The dearest pass there is.
void BM_readHudAtLayout(benchmark::State& state) {
    fixture();
    static const QImage capture = [] {
        synth::FrameContent look;
        look.width = 1280;
        look.height = 720;
        look.hudScale = 0.8541584324103901;
        look.sceneSeed = 934510748u;
        look.degradation.jpegQuality = 76;
        look.degradation.sourceScale = 0.8248050305034574;
        synth::CashHud cash;
        cash.balance = 7;
        synth::RewardLine line;
        line.text = "CONTROL ZONE ENTERED";
        line.hasFigure = true;
        line.figure = 92053;
        cash.lines.push_back(line);
        look.cash = cash;
        return captureOf(look);
    }();
    timeReadHud(
        state, capture, [](const hud::HudReading& r) { return r.balance == 7 && r.balanceCertain; },
        "the tiny balance does not read as painted");
}
BENCHMARK(BM_readHudAtLayout)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A frame without the cash HUD (a menu, the map): no money line, so nothing
// more is tried.
void BM_readHudNoCashHud(benchmark::State& state) {
    fixture();
    static const QImage capture = [] {
        synth::FrameContent look;
        look.width = 1920;
        look.height = 1080;
        look.sceneSeed = 77u;
        return captureOf(look);
    }();
    timeReadHud(
        state, capture, [](const hud::HudReading& r) { return !r.found; },
        "a money line was found where none is");
}
BENCHMARK(BM_readHudNoCashHud)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_prepareFrame(benchmark::State& state) {
    const Fixture& f = fixture();
    const hud::FrameView view = synth::frameView(f.capture);
    hud::FramePlanes planes;
    std::unique_ptr<hud::HelperThread> helper;
    if (state.range(0) == 1)
        helper = std::make_unique<hud::HelperThread>();
    for (auto _ : state) {
        hud::prepareFrame(view, planes, helper.get());
        benchmark::DoNotOptimize(planes.mask.data());
    }
}
BENCHMARK(BM_prepareFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_labelComponents(benchmark::State& state) {
    const Fixture& f = fixture();
    hud::FramePlanes planes;
    hud::prepareFrame(synth::frameView(f.capture), planes);
    std::vector<hud::Blob> blobs;
    hud::LabelScratch scratch;
    for (auto _ : state) {
        hud::labelComponents(planes.mask, planes.smooth.width, planes.smooth.height, blobs, scratch);
        benchmark::DoNotOptimize(blobs.data());
    }
}
BENCHMARK(BM_labelComponents)->Unit(benchmark::kMicrosecond);

// The light components of the frame, which the panel search labels from the
// smooth plane without a mask.
void BM_labelAbove(benchmark::State& state) {
    const Fixture& f = fixture();
    hud::FramePlanes planes;
    hud::prepareFrame(synth::frameView(f.capture), planes);
    std::vector<hud::Blob> blobs;
    hud::LabelScratch scratch;
    for (auto _ : state) {
        hud::labelAbove(planes.smooth, 185.0f, blobs, scratch);
        benchmark::DoNotOptimize(blobs.data());
    }
}
BENCHMARK(BM_labelAbove)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

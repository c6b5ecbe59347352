// Cost of one Dock::refresh with a full status model (the demo's: account,
// cup, team, wager with both sides, stream, on-air) and a reader that reads
// the HUD. The dock redraws every second and on every change, so this must
// stay far below a frame. Runs on the offscreen platform.

#include "dock/dock.h"
#include "engine/engine.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<Dock> dock;

    Fixture() {
        qputenv("CORVEX_TOURNEY_DEMO", "1");
        engine = std::make_unique<Engine>(nullptr, dir.path());
        engine->uplink()->start();
        engine->uplink()->stopTimerForTesting();
        qunsetenv("CORVEX_TOURNEY_DEMO");
        dock = std::make_unique<Dock>(engine.get());
        ReaderStatus reader;
        reader.modelLoaded = true;
        reader.source = QStringLiteral("Game Capture");
        reader.recentHud = true;
        reader.balanceKnown = true;
        reader.balance = 123456;
        reader.sourceWidth = 1920;
        reader.sourceHeight = 1080;
        reader.recentLines = QStringList{"+$300 KILL", "+$150 ASSIST", "+$50 REVIVE", "+$25 SPOT"};
        reader.info.exists = true;
        reader.info.active = true;
        dock->setReaderStatusForTesting([reader] { return reader; });
        dock->setSourcesForTesting([] { return QStringList{"Game Capture", "Window Capture"}; });
        dock->resize(360, 900);
        dock->show();
        QApplication::processEvents();
    }
};

// Made in main, after the application object, and gone before it.
Fixture* fixture = nullptr;

void BM_Refresh(benchmark::State& state) {
    for (auto _ : state) {
        fixture->dock->refresh();
    }
}

} // namespace

BENCHMARK(BM_Refresh)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    }
    QApplication app(argc, argv);
    auto made = std::make_unique<Fixture>();
    fixture = made.get();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture = nullptr;
    return 0;
}

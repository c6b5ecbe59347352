#include "uplink/uplink.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

constexpr int kEvents = Uplink::kQueueCap;

// A realistic mix: mostly balances and feed lines, some kills and status.
GameEvent eventNumber(int i) {
    GameEvent e;
    e.t = 1700000000000 + i * 250;
    e.conf = 0.87f;
    switch (i % 10) {
    case 0:
        e.kind = EventKind::Status;
        e.src = "Game Capture";
        e.uuid = "0b7c9f4e-2a4c-4f43-9d2e-3c1c8f0e5a11";
        e.type = "game_capture";
        e.exe = "game.exe";
        e.resWidth = 1920;
        e.resHeight = 1080;
        e.scale = 1.0;
        e.fps = 5.0;
        e.okRate = 0.97;
        e.cap = 10.0;
        break;
    case 1:
    case 2:
        e.kind = EventKind::FeedLine;
        e.text = "Elimination +$1,500";
        e.hasAmount = true;
        e.amount = 1500;
        e.lineId = i;
        break;
    case 3:
        e.kind = EventKind::Kill;
        e.dist = 42;
        e.weapon = "Model 1887";
        e.wtype = "shotgun";
        break;
    default:
        e.kind = EventKind::Balance;
        e.value = 10000 + i;
        e.heartbeat = i % 7 == 0;
        break;
    }
    return e;
}

void fill(Uplink& uplink) {
    for (int i = 0; i < kEvents; ++i) {
        uplink.enqueueEvent(eventNumber(i));
    }
}

void BM_Enqueue20000(benchmark::State& state) {
    QTemporaryDir dir;
    for (auto _ : state) {
        Settings settings;
        Uplink uplink(&settings, nullptr, dir.path());
        fill(uplink);
        benchmark::DoNotOptimize(uplink.queueLength());
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_Enqueue20000)->Unit(benchmark::kMillisecond);

// The queue at its cap, one more event at a time: each drops the oldest
// heartbeat or status event.
void BM_EnqueueAtCap(benchmark::State& state) {
    QTemporaryDir dir;
    Settings settings;
    Uplink uplink(&settings, nullptr, dir.path());
    fill(uplink);
    int i = 0;
    for (auto _ : state) {
        uplink.enqueueEvent(eventNumber(4 + 10 * (i++ % 1000)));
    }
}
BENCHMARK(BM_EnqueueAtCap)->Unit(benchmark::kMicrosecond);

void BM_SaveBacklog20000(benchmark::State& state) {
    QTemporaryDir dir;
    Settings settings;
    qint64 bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Uplink uplink(&settings, nullptr, dir.path());
        QFile::remove(QDir(dir.path()).filePath(QStringLiteral("pending.json")));
        uplink.start();
        fill(uplink);
        state.ResumeTiming();
        uplink.stop(); // writes pending.json
        state.PauseTiming();
        bytes = QFileInfo(uplink.pendingPath()).size();
        state.ResumeTiming();
    }
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_SaveBacklog20000)->Unit(benchmark::kMillisecond);

void BM_LoadBacklog20000(benchmark::State& state) {
    QTemporaryDir dir;
    Settings settings;
    {
        Uplink writer(&settings, nullptr, dir.path());
        writer.start();
        fill(writer);
        writer.stop();
    }
    for (auto _ : state) {
        Uplink uplink(&settings, nullptr, dir.path());
        uplink.start(); // reads pending.json (and saves the small settings file)
        if (uplink.queueLength() != kEvents) {
            state.SkipWithError("backlog not loaded");
        }
        state.PauseTiming();
        uplink.stopTimerForTesting();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadBacklog20000)->Unit(benchmark::kMillisecond);

// A backlog left by a long outage: ten times the cap, 40 % of it heartbeats
// and status records, so loading it has to give up 180,000 events.
void BM_LoadBacklog200000(benchmark::State& state) {
    constexpr int kWaiting = 10 * Uplink::kQueueCap;
    QTemporaryDir dir;
    Settings settings;
    {
        Uplink writer(&settings, nullptr, dir.path());
        writer.start();
        writer.stopTimerForTesting();
        QJsonArray events;
        for (int i = 0; i < kWaiting; ++i) {
            const int slot = i % 10; // 0 status, 1-3 heartbeats, 4 feed line, 5 kill, else balance
            GameEvent e = eventNumber(slot == 0 ? 0 : slot == 4 ? 1 : slot == 5 ? 3 : 4);
            e.heartbeat = e.kind == EventKind::Balance && slot >= 1 && slot <= 3;
            QJsonObject o = eventToJson(e);
            o.insert(QStringLiteral("seq"), i + 1);
            events.append(o);
        }
        QFile file(writer.pendingPath());
        file.open(QIODevice::WriteOnly);
        file.write(QJsonDocument(
                       QJsonObject{{QStringLiteral("player"), QString()}, {QStringLiteral("events"), events}})
                       .toJson(QJsonDocument::Compact));
    }
    const QString path = QDir(dir.path()).filePath(QStringLiteral("pending.json"));
    QFile original(path);
    original.open(QIODevice::ReadOnly);
    const QByteArray bytes = original.readAll();
    original.close();
    for (auto _ : state) {
        state.PauseTiming();
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        file.close();
        state.ResumeTiming();
        Uplink uplink(&settings, nullptr, dir.path());
        uplink.start();
        if (uplink.queueLength() != Uplink::kQueueCap) {
            state.SkipWithError("backlog not trimmed to the cap");
        }
        state.PauseTiming();
        uplink.stopTimerForTesting();
        state.ResumeTiming();
    }
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_LoadBacklog200000)->Unit(benchmark::kMillisecond)->Iterations(3);

const char* kFullStatus =
    R"({"player":{"id":"p-1","ign":"Tester","name":"tester"},"msg":"hello",
"cup":{"id":"c1","name":"Mint Cup #1","status":"live","phase":"live","kind":"cup","starts_at":1700000000000,"ends_at":1700003600000},
"team":{"id":"t1","name":"Corvex Dogs","tag":"QRT"},
"me":{"score":1500,"gross":2000,"rank":3,"state":"ok","english":"ok","counted":true,"offstream":0},
"team_score":3000,"team_rank":2,"snap":{"tag":"check","at":1700000100000},"evidence":true,
"overlays":{"player":{"url":"https://x.test/card","w":400,"h":120},"leaderboard":{"url":"https://x.test/lb","w":400,"h":600}},
"account":{"discord":{"linked":true,"name":"d"},"steam":{"linked":true,"id":"7656","name":"S","verified":true},"ign":"Tester",
"twitch":"tv","twitch_verified":true,"complete":true,"ads":false,"chat":{"link":true,"updates":false,"granted":true}},
"wager":{"id":"w1","format":"5v5","minutes":30,"phase":"live","winner":"","created_by":{"id":"p-1","name":"Tester"},
"code_a":"W-A","code_b":"W-B","starts_at":1,"ends_at":2,"ladder":true,"my_code":"W-A","side":"a",
"sides":{"a":{"name":"A","score":1,"players":[{"id":"p-1","name":"Tester","ready":true,"streaming":true,"score":1,
"rating":{"before":1200,"after":1216}},{"id":"p-2","name":"B"},{"id":"p-3","name":"C"},{"id":"p-4","name":"D"},{"id":"p-5","name":"E"}]},
"b":{"name":"B","score":0,"players":[{"id":"p-6","name":"F"},{"id":"p-7","name":"G"},{"id":"p-8","name":"H"},{"id":"p-9","name":"I"},{"id":"p-10","name":"J"}]}}},
"stream":{"obs":true,"twitch":true,"ok":true,"twitch_login":"tv"},
"plugin":{"latest":"0.3.0","min":"0.2.0","url":"https://x.test/dl","portable_url":"https://x.test/p"},
"checks":{"twitch_linked":true,"twitch_live":true,"vods_on":true,"plugin_ok":true},"on_air":{"state":"live","since":1700000000000},
"tournament":{"cup":{"id":17,"name":"Mint Cup #1","phase":"registration","status":"open","code":"T-1","starts_at":1,"ends_at":2,
"team_size":4,"max_teams":16},"registered":true,"pool":false,"team":{"id":"t1","name":"Corvex Dogs","tag":"QRT","captain":true,
"ready":false,"team_ready":false,"members":[{"name":"A"},{"name":"B"},{"name":"C"},{"name":"D"}],"invite":{"code":"T-QRT42","url":"https://x.test/j"}}},
"nudge":{"id":"n1","text":"stream"},"message":{"id":42,"text":"hi","level":"warn","from":"host"},"ack":5,"now":1700000000000})";

// From the reply's bytes, as the completions do.
void BM_ParseStatusFullDocument(benchmark::State& state) {
    QTemporaryDir dir;
    Settings settings;
    settings.player_id = QStringLiteral("p-1");
    settings.player_name = QStringLiteral("Tester");
    Uplink uplink(&settings, nullptr, dir.path());
    const QByteArray bytes(kFullStatus);
    for (auto _ : state) {
        uplink.parseStatus(QJsonDocument::fromJson(bytes).object());
        benchmark::DoNotOptimize(uplink.status().wager.sideA.players.size());
    }
}
BENCHMARK(BM_ParseStatusFullDocument)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

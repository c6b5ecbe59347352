// Arbitrary bytes as "pending.json": loading never crashes, never keeps an
// event the service could not acknowledge, and never loses the file's bytes
// without keeping them as "pending.bad.json".
#include "uplink/uplink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

namespace {

QTemporaryDir* folder() {
    static QTemporaryDir dir;
    return &dir;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QDir dir(folder()->path());
    const QString pending = dir.filePath(QStringLiteral("pending.json"));
    const QString bad = dir.filePath(QStringLiteral("pending.bad.json"));
    QFile::remove(bad);
    {
        QFile file(pending);
        if (!file.open(QIODevice::WriteOnly)) {
            __builtin_trap();
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    Settings settings;
    settings.player_id = QStringLiteral("p-1");
    Uplink uplink(&settings, nullptr, dir.path());
    {
        // The loader parses with Qt's JSON parser and holds nothing by hand.
        QtParserLeaksIgnored ignored;
        uplink.start();
    }
    if (uplink.queueLength() > Uplink::kQueueCap) {
        __builtin_trap();
    }
    qint64 maxSeq = 0;
    for (const QJsonObject& event : uplink.queue()) {
        const double seq = event.value(QLatin1String("seq")).toDouble();
        if (!(seq >= 1.0)) {
            __builtin_trap();
        }
        maxSeq = std::max(maxSeq, static_cast<qint64>(seq));
    }
    if (settings.next_seq <= maxSeq) {
        __builtin_trap();
    }
    // Either the file is still there (read, possibly with skipped parts kept
    // aside) or it was moved aside whole.
    if (!QFile::exists(pending) && !QFile::exists(bad)) {
        __builtin_trap();
    }
    uplink.stop();
    if (!QFile::exists(pending)) {
        __builtin_trap();
    }
    return 0;
}

// Arbitrary bytes as a status reply: whatever arrives, parsing must neither
// crash nor overflow, and the model must stay within its documented ranges.
#include "uplink/uplink.h"

#include <QByteArray>
#include <QDir>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Settings settings = [] {
        Settings s;
        s.player_id = QStringLiteral("p-1");
        s.player_name = QStringLiteral("Tester");
        return s;
    }();
    static Uplink uplink(&settings, nullptr, QDir::tempPath() + QStringLiteral("/corvex-fuzz-status"));
    static const bool folderMade = QDir().mkpath(QDir::tempPath() + QStringLiteral("/corvex-fuzz-status"));
    (void)folderMade;

    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QJsonObject doc;
    {
        QtParserLeaksIgnored ignored;
        doc = QJsonDocument::fromJson(bytes).object();
    }
    uplink.parseStatus(doc);
    const WagerInfo w = uplink.parseWager(doc);
    if (w.teamSize < 1 || w.teamSize > 5) {
        __builtin_trap();
    }
    const Status& s = uplink.status();
    if (s.wager.teamSize < 1 || s.wager.teamSize > 5 || !s.linked) {
        __builtin_trap();
    }
    // Keep the settings small and steady so that most runs skip the save.
    settings.player_id = QStringLiteral("p-1");
    settings.player_name = QStringLiteral("Tester");
    return 0;
}

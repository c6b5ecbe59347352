// Arbitrary bytes as a status reply: whatever arrives, parsing must neither
// crash nor overflow, and the model must stay within its documented ranges.
#include "uplink/uplink.h"

#include <QByteArray>
#include <QDir>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

// Qt 5.15's JSON parser loses the replaced value of a duplicated key (a Qt
// bug, not ours); its allocations are kept out of the leak check so that the
// fuzzer reports only leaks of the code under test.
#if defined(__has_include)
#if __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define CORVEX_HAVE_LSAN 1
#endif
#endif

namespace {

struct QtParserLeaksIgnored {
    QtParserLeaksIgnored() {
#ifdef CORVEX_HAVE_LSAN
        __lsan_disable();
#endif
    }
    ~QtParserLeaksIgnored() {
#ifdef CORVEX_HAVE_LSAN
        __lsan_enable();
#endif
    }
    QtParserLeaksIgnored(const QtParserLeaksIgnored&) = delete;
    QtParserLeaksIgnored& operator=(const QtParserLeaksIgnored&) = delete;
};

} // namespace

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

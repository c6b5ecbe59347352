#pragma once

// Qt 5.15's JSON parser loses the replaced value of a duplicated key (a Qt
// bug, not ours; Qt 6 does not leak); its allocations are kept out of the leak
// check so that the fuzzer reports only leaks of the code under test. They
// still take memory: the status target's resident size grows with every
// duplicated key the fuzzer tries, while our parsing on its own stays flat.
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

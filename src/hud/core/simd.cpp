#include "hud/core/simd.h"

#if CORVEX_HUD_AVX

namespace hud::detail {

namespace {

// AVX needs the processor to have it and the system to save the upper
// halves of the registers on a context switch (XCR0 bits 1 and 2).
bool detectAvx() {
    unsigned int ecx = 0;
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4] = {0, 0, 0, 0};
    __cpuid(regs, 1);
    ecx = static_cast<unsigned int>(regs[2]);
#else
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
#endif
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    if (!osxsave || !avx)
        return false;
#if defined(_MSC_VER) && !defined(__clang__)
    const unsigned long long xcr0 = _xgetbv(0);
#else
    unsigned int lo = 0;
    unsigned int hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    const unsigned long long xcr0 = (static_cast<unsigned long long>(hi) << 32) | lo;
#endif
    return (xcr0 & 6u) == 6u;
}

} // namespace

bool haveAvx() {
    static const bool available = detectAvx();
    return available;
}

} // namespace hud::detail

#endif

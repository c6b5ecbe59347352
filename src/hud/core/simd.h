#pragma once

// Which vector instructions the readers use, chosen in one place. The plain
// loops beside each vector path do the same arithmetic in the same order, so
// every choice reads a frame to the same result.

// SSE2 is part of every x86-64 target.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define CORVEX_HUD_SSE2 1
#include <emmintrin.h>
#else
#define CORVEX_HUD_SSE2 0
#endif

// The AVX paths are compiled for 64-bit x86 only and chosen at run time, so
// the library still runs on processors (or systems) without AVX. GCC and
// clang build them through a per-function target; MSVC accepts the
// intrinsics anywhere. Only "avx" is enabled, never "fma": a fused
// multiply-add would round differently from the separate product and sum.
#if defined(__x86_64__) || defined(_M_X64)
#define CORVEX_HUD_AVX 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define CORVEX_HUD_TARGET_AVX
#else
#include <cpuid.h>
#define CORVEX_HUD_TARGET_AVX __attribute__((target("avx")))
#endif
#else
#define CORVEX_HUD_AVX 0
#endif

// Unrolls the loop that follows completely. The vector kernels that keep one
// accumulator per vector in a small array rely on it: at -O2 such a loop
// stays rolled and every accumulator goes through memory on every step.
#if defined(__clang__) || defined(__GNUC__)
#define CORVEX_HUD_UNROLL _Pragma("GCC unroll 16")
#else
#define CORVEX_HUD_UNROLL
#endif

// Unrolls the loop that follows twice: for the long loops over cells whose
// steps are a few vector operations, where the loop's own count and test
// are a tenth of the work.
#if defined(__clang__) || defined(__GNUC__)
#define CORVEX_HUD_UNROLL_TWICE _Pragma("GCC unroll 2")
#else
#define CORVEX_HUD_UNROLL_TWICE
#endif

namespace hud::detail {

#if CORVEX_HUD_AVX
// True when the processor has AVX and the system saves its registers;
// asked once.
bool haveAvx();
#endif

} // namespace hud::detail

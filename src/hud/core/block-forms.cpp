// The money cell's block forms: its 2 x 2 form, and the 4 x 4 form made
// from that, which the money search and the model's template sets share.
#include "hud/core/image.h"

#include "hud/core/model.h"
#include "hud/core/simd.h"

#include <cmath>

namespace hud {

#if CORVEX_HUD_AVX
namespace {

// Eight values of two rows as four 2 x 2 blocks: the blocks' sums halved
// into out[0 .. 4), their values' squared deviations from the blocks' means
// added to `acc`.
CORVEX_HUD_TARGET_AVX inline void blocksOfEight(const float* top, const float* below, float* out,
                                                __m256& acc) {
    const __m256 t = _mm256_loadu_ps(top);
    const __m256 b = _mm256_loadu_ps(below);
    // Per 128-bit half: the sums of the column pairs (0, 1) and (2, 3), each
    // repeated for the two columns it covers.
    const __m256 pairs = _mm256_hadd_ps(_mm256_add_ps(t, b), _mm256_add_ps(t, b));
    const __m256 mean = _mm256_mul_ps(_mm256_unpacklo_ps(pairs, pairs), _mm256_set1_ps(0.25f));
    const __m256 dt = _mm256_sub_ps(t, mean);
    const __m256 db = _mm256_sub_ps(b, mean);
    acc = _mm256_add_ps(acc, _mm256_add_ps(_mm256_mul_ps(dt, dt), _mm256_mul_ps(db, db)));
    const __m128 sums = _mm_shuffle_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1),
                                       _MM_SHUFFLE(1, 0, 1, 0));
    _mm_storeu_ps(out, _mm_mul_ps(sums, _mm_set1_ps(0.5f)));
}

// roughenMoneyCoarse four blocks a step: the same sums and deviations,
// summed in another order, which only the bounds see.
CORVEX_HUD_TARGET_AVX float roughenAvx(const float* coarse, float rest, float* rough) {
    static_assert(kMoneyCellColumns / 2 == 10, "a row pair of the 2 x 2 form is 8 + 2 values");
    constexpr int half = kMoneyCellColumns / 2;
    __m256 acc = _mm256_setzero_ps();
    float tail = 0.0f;
    for (int by = 0; by < kMoneyRoughRows; ++by) {
        const float* top = coarse + (2 * by) * half;
        const float* below = top + half;
        float* out = rough + by * kMoneyRoughColumns;
        blocksOfEight(top, below, out, acc);
        const float a0 = top[8], a1 = top[9], c0 = below[8], c1 = below[9];
        const float sum = (a0 + a1) + (c0 + c1);
        const float m = 0.25f * sum;
        tail += ((a0 - m) * (a0 - m) + (a1 - m) * (a1 - m)) + ((c0 - m) * (c0 - m) + (c1 - m) * (c1 - m));
        out[4] = 0.5f * sum;
    }
    alignas(32) float parts[8];
    _mm256_store_ps(parts, acc);
    _mm256_zeroupper();
    for (int j = kMoneyRoughColumns * kMoneyRoughRows; j < kMoneyRoughLength; ++j)
        rough[j] = 0.0f;
    const float leftOut =
        rest * rest +
        ((((parts[0] + parts[1]) + (parts[2] + parts[3])) + ((parts[4] + parts[5]) + (parts[6] + parts[7]))) +
         tail);
    return std::sqrt(leftOut);
}

} // namespace
#endif

float roughenMoneyCoarse(const float* coarse, float rest, float* rough) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        return roughenAvx(coarse, rest, rough);
#endif
    constexpr int half = kMoneyCellColumns / 2;
    float leftOut = rest * rest;
    for (int by = 0; by < kMoneyRoughRows; ++by) {
        const float* top = coarse + (2 * by) * half;
        const float* below = top + half;
        float* out = rough + by * kMoneyRoughColumns;
        for (int bx = 0; bx < kMoneyRoughColumns; ++bx) {
            const float a = top[2 * bx], b = top[2 * bx + 1], c = below[2 * bx], d = below[2 * bx + 1];
            const float sum = (a + b) + (c + d);
            const float mean = 0.25f * sum;
            leftOut += ((a - mean) * (a - mean) + (b - mean) * (b - mean)) +
                       ((c - mean) * (c - mean) + (d - mean) * (d - mean));
            out[bx] = 0.5f * sum;
        }
    }
    for (int j = kMoneyRoughColumns * kMoneyRoughRows; j < kMoneyRoughLength; ++j)
        rough[j] = 0.0f;
    return std::sqrt(leftOut);
}

std::size_t roughenMoneyTemplates(const float* sums, const float* rest, std::size_t count,
                                  std::vector<float>& byValue, std::vector<float>& roughRest) {
    constexpr std::size_t coarseLength = (kMoneyCellColumns / 2) * (kMoneyCellRows / 2);
    const std::size_t stride = (count + 7) / 8 * 8;
    byValue.assign(static_cast<std::size_t>(kMoneyRoughLength) * stride, 0.0f);
    roughRest.assign(stride, -1.0f);
    float rough[kMoneyRoughLength];
    for (std::size_t t = 0; t < count; ++t) {
        if (rest[t] < 0.0f)
            continue;
        roughRest[t] = roughenMoneyCoarse(sums + t * coarseLength, rest[t], rough);
        for (int j = 0; j < kMoneyRoughLength; ++j)
            byValue[static_cast<std::size_t>(j) * stride + t] = rough[j];
    }
    return stride;
}

#if CORVEX_HUD_AVX
namespace {

// coarsenCell for a money cell, four blocks a step: the same block sums and
// deviations, summed in another order, which only the bounds see.
CORVEX_HUD_TARGET_AVX float coarsenMoneyCellAvx(const float* cell, float* coarse) {
    static_assert(kMoneyCellColumns == 20 && kMoneyCellRows % 2 == 0, "a row pair is 2 x 8 + 4 columns");
    constexpr int half = kMoneyCellColumns / 2;
    const __m256 quarter = _mm256_set1_ps(0.25f);
    __m256 acc = _mm256_setzero_ps();
    __m128 acc4 = _mm_setzero_ps();
    for (int by = 0; by < kMoneyCellRows; by += 2) {
        const float* top = cell + static_cast<std::ptrdiff_t>(by) * kMoneyCellColumns;
        const float* below = top + kMoneyCellColumns;
        float* out = coarse + static_cast<std::ptrdiff_t>(by / 2) * half;
        for (int x = 0; x < 16; x += 8) {
            blocksOfEight(top + x, below + x, out + x / 2, acc);
        }
        const __m128 t = _mm_loadu_ps(top + 16);
        const __m128 b = _mm_loadu_ps(below + 16);
        const __m128 v = _mm_add_ps(t, b);
        const __m128 sum = _mm_add_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0)),
                                      _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1)));
        const __m128 mean = _mm_mul_ps(sum, _mm256_castps256_ps128(quarter));
        const __m128 dt = _mm_sub_ps(t, mean);
        const __m128 db = _mm_sub_ps(b, mean);
        acc4 = _mm_add_ps(acc4, _mm_add_ps(_mm_mul_ps(dt, dt), _mm_mul_ps(db, db)));
        alignas(16) float sums[4];
        _mm_store_ps(sums, sum);
        out[8] = sums[0] * 0.5f;
        out[9] = sums[2] * 0.5f;
    }
    alignas(32) float parts[8];
    _mm256_store_ps(parts, acc);
    alignas(16) float tail[4];
    _mm_store_ps(tail, acc4);
    _mm256_zeroupper();
    const float rest =
        (((parts[0] + parts[1]) + (parts[2] + parts[3])) + ((parts[4] + parts[5]) + (parts[6] + parts[7]))) +
        ((tail[0] + tail[1]) + (tail[2] + tail[3]));
    return std::sqrt(rest);
}

} // namespace
#endif

float coarsenMoneyCell(const float* cell, float* coarse) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        return coarsenMoneyCellAvx(cell, coarse);
#endif
    return coarsenCell(cell, kMoneyCellColumns, kMoneyCellRows, coarse);
}

} // namespace hud

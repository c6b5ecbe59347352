// Normalised vectors and their dot products (the SIMD kernels), and template scoring.
#include "hud/core/image.h"

#include "hud/core/helper.h"
#include "hud/core/image-internal.h"
#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace hud {

namespace {

#if CORVEX_HUD_AVX
using detail::haveAvx;
#endif

#if CORVEX_HUD_AVX
// normalizeVector for K vectors side by side. Each vector's four partial
// sums sit in the lanes of one 256-bit register and take the same additions
// in the same order as part[0..3] and sq[0..3] there, so every result is
// bit-identical; the gain is that K independent chains of additions overlap
// instead of each vector waiting on the latency of its own.
template <int K> CORVEX_HUD_TARGET_AVX void normalizeGroupAvx(float* const* v, std::size_t n) {
    const std::size_t body = n & ~static_cast<std::size_t>(3);
    __m256d acc[K];
    CORVEX_HUD_UNROLL
    for (int q = 0; q < K; ++q)
        acc[q] = _mm256_setzero_pd();
    CORVEX_HUD_UNROLL_TWICE
    for (std::size_t i = 0; i < body; i += 4) {
        CORVEX_HUD_UNROLL
        for (int q = 0; q < K; ++q)
            acc[q] = _mm256_add_pd(acc[q], _mm256_cvtps_pd(_mm_loadu_ps(v[q] + i)));
    }
    double mean[K];
    for (int q = 0; q < K; ++q) {
        double part[4];
        _mm256_storeu_pd(part, acc[q]);
        for (std::size_t i = body; i < n; ++i)
            part[0] += static_cast<double>(v[q][i]);
        mean[q] = ((part[0] + part[1]) + (part[2] + part[3])) / static_cast<double>(n);
    }

    __m256d m[K];
    CORVEX_HUD_UNROLL
    for (int q = 0; q < K; ++q) {
        m[q] = _mm256_set1_pd(mean[q]);
        acc[q] = _mm256_setzero_pd();
    }
    CORVEX_HUD_UNROLL_TWICE
    for (std::size_t i = 0; i < body; i += 4) {
        CORVEX_HUD_UNROLL
        for (int q = 0; q < K; ++q) {
            const __m128 c = _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(v[q] + i)), m[q]));
            _mm_storeu_ps(v[q] + i, c);
            const __m256d d = _mm256_cvtps_pd(c);
            acc[q] = _mm256_add_pd(acc[q], _mm256_mul_pd(d, d));
        }
    }
    double inv[K];
    bool scale[K];
    for (int q = 0; q < K; ++q) {
        double sq[4];
        _mm256_storeu_pd(sq, acc[q]);
        float* x = v[q];
        for (std::size_t i = body; i < n; ++i) {
            x[i] = static_cast<float>(static_cast<double>(x[i]) - mean[q]);
            sq[0] += static_cast<double>(x[i]) * static_cast<double>(x[i]);
        }
        const double norm = std::sqrt((sq[0] + sq[1]) + (sq[2] + sq[3]));
        scale[q] = norm > 1e-6;
        inv[q] = scale[q] ? 1.0 / norm : 0.0;
    }

    for (int q = 0; q < K; ++q) {
        if (!scale[q])
            continue;
        float* x = v[q];
        const __m256d r = _mm256_set1_pd(inv[q]);
        CORVEX_HUD_UNROLL_TWICE
        for (std::size_t i = 0; i < body; i += 4)
            _mm_storeu_ps(x + i, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(x + i)), r)));
        for (std::size_t i = body; i < n; ++i)
            x[i] = static_cast<float>(static_cast<double>(x[i]) * inv[q]);
    }
    _mm256_zeroupper();
}
#endif

} // namespace

// The sums run in four interleaved partial sums: the additions are
// independent, so the loops are not bound by the latency of one chain. The
// centring and the squares share one pass, and the scaling multiplies by the
// reciprocal of the norm: a division per element would cost more than the
// rest together, and the product rounds to the same float but for a
// vanishingly rare last bit.
void normalizeVector(float* v, std::size_t n) {
    if (n == 0 || !v)
        return;
#if CORVEX_HUD_AVX
    // One vector's four partial sums fit one register: half the steps of
    // the two-register loops below, the same additions.
    if (haveAvx()) {
        float* const one[1] = {v};
        normalizeGroupAvx<1>(one, n);
        return;
    }
#endif
    std::size_t i = 0;
    double part[4] = {0.0, 0.0, 0.0, 0.0};
#if CORVEX_HUD_SSE2
    __m128d s01 = _mm_setzero_pd();
    __m128d s23 = _mm_setzero_pd();
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        s01 = _mm_add_pd(s01, _mm_cvtps_pd(x));
        s23 = _mm_add_pd(s23, _mm_cvtps_pd(_mm_movehl_ps(x, x)));
    }
    _mm_storeu_pd(part, s01);
    _mm_storeu_pd(part + 2, s23);
#else
    for (; i + 4 <= n; i += 4)
        for (std::size_t k = 0; k < 4; ++k)
            part[k] += static_cast<double>(v[i + k]);
#endif
    for (; i < n; ++i)
        part[0] += static_cast<double>(v[i]);
    const double mean = ((part[0] + part[1]) + (part[2] + part[3])) / static_cast<double>(n);

    double sq[4] = {0.0, 0.0, 0.0, 0.0};
    i = 0;
#if CORVEX_HUD_SSE2
    const __m128d m = _mm_set1_pd(mean);
    __m128d q01 = _mm_setzero_pd();
    __m128d q23 = _mm_setzero_pd();
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        const __m128 lo = _mm_cvtpd_ps(_mm_sub_pd(_mm_cvtps_pd(x), m));
        const __m128 hi = _mm_cvtpd_ps(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), m));
        _mm_storeu_ps(v + i, _mm_movelh_ps(lo, hi));
        const __m128d dlo = _mm_cvtps_pd(lo);
        const __m128d dhi = _mm_cvtps_pd(hi);
        q01 = _mm_add_pd(q01, _mm_mul_pd(dlo, dlo));
        q23 = _mm_add_pd(q23, _mm_mul_pd(dhi, dhi));
    }
    _mm_storeu_pd(sq, q01);
    _mm_storeu_pd(sq + 2, q23);
#else
    for (; i + 4 <= n; i += 4)
        for (std::size_t k = 0; k < 4; ++k) {
            v[i + k] = static_cast<float>(static_cast<double>(v[i + k]) - mean);
            sq[k] += static_cast<double>(v[i + k]) * static_cast<double>(v[i + k]);
        }
#endif
    for (; i < n; ++i) {
        v[i] = static_cast<float>(static_cast<double>(v[i]) - mean);
        sq[0] += static_cast<double>(v[i]) * static_cast<double>(v[i]);
    }
    const double norm = std::sqrt((sq[0] + sq[1]) + (sq[2] + sq[3]));
    if (!(norm > 1e-6))
        return;
    const double inv = 1.0 / norm;
    i = 0;
#if CORVEX_HUD_SSE2
    const __m128d r = _mm_set1_pd(inv);
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(x), r));
        const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), r));
        _mm_storeu_ps(v + i, _mm_movelh_ps(lo, hi));
    }
#endif
    for (; i < n; ++i)
        v[i] = static_cast<float>(static_cast<double>(v[i]) * inv);
}

void normalizeVectors(float* const* v, std::size_t count, std::size_t n) {
    if (!v || n == 0)
        return;
    std::size_t k = 0;
#if CORVEX_HUD_AVX
    if (haveAvx()) {
        for (; k + 4 <= count; k += 4)
            normalizeGroupAvx<4>(v + k, n);
        switch (count - k) {
        case 3:
            normalizeGroupAvx<3>(v + k, n);
            return;
        case 2:
            normalizeGroupAvx<2>(v + k, n);
            return;
        default:
            break;
        }
    }
#endif
    for (; k < count; ++k)
        normalizeVector(v[k], n);
}

namespace {

// Adds the products past the last whole block of eight to `sum`, in order.
// The count is written as n % 8 so that the compiler sees that the loop is
// short: from a count it cannot bound, GCC at -O3 infers an iteration whose
// index would overflow and warns.
inline float addTail(float sum, const float* a, const float* b, std::size_t n) {
    const std::size_t body = n & ~static_cast<std::size_t>(7);
    for (std::size_t t = 0; t < (n & 7); ++t)
        sum += a[body + t] * b[body + t];
    return sum;
}

#if CORVEX_HUD_AVX
// Each of four accumulators' lanes summed as ((p0 + p1) + (p2 + p3)) +
// ((p4 + p5) + (p6 + p7)), the order of the plain loops, in registers: the
// pair sums of both halves come from one horizontal addition, the quads
// from the next, and the halves meet last. Storing the lanes and adding
// them one by one costs several times as many instructions.
CORVEX_HUD_TARGET_AVX inline void laneSums4(__m256 s0, __m256 s1, __m256 s2, __m256 s3, float* out) {
    const __m256 quads = _mm256_hadd_ps(_mm256_hadd_ps(s0, s1), _mm256_hadd_ps(s2, s3));
    _mm_storeu_ps(out, _mm_add_ps(_mm256_castps256_ps128(quads), _mm256_extractf128_ps(quads, 1)));
}
#endif

#if CORVEX_HUD_AVX
// dot() with its eight partial sums in the lanes of one register.
CORVEX_HUD_TARGET_AVX float dot1Avx(const float* a, const float* b, std::size_t n) {
    __m256 s = _mm256_setzero_ps();
    std::size_t i = 0;
    CORVEX_HUD_UNROLL_TWICE
    for (; i + 8 <= n; i += 8)
        s = _mm256_add_ps(s, _mm256_mul_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
    float sums[4];
    laneSums4(s, s, s, s, sums);
    _mm256_zeroupper();
    return addTail(sums[0], a, b, n);
}
#endif

} // namespace

// Single precision in eight interleaved partial sums, which the compiler can
// keep in two vector registers; the cells are short enough (720 or 1024
// values of magnitude below 1) that the order of the additions changes the
// result only in its last bits.
float dot(const float* a, const float* b, std::size_t n) {
#if CORVEX_HUD_AVX
    if (haveAvx())
        return dot1Avx(a, b, n);
#endif
    float part[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::size_t k = 0; k < 8; ++k)
            part[k] += a[i + k] * b[i + k];
    const float sum =
        ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
    return addTail(sum, a, b, n);
}

// In single precision: the bound's users allow for far more than its
// rounding, and the deviations are summed directly, without the
// cancellation of a difference of two sums of squares.
float coarsenCell(const float* cell, int columns, int rows, float* coarse) {
    const int half = columns / 2;
    float rest = 0.0f;
    for (int by = 0; by + 1 < rows; by += 2) {
        const float* top = cell + static_cast<std::ptrdiff_t>(by) * columns;
        const float* below = top + columns;
        float* out = coarse + static_cast<std::ptrdiff_t>(by / 2) * half;
        int bx = 0;
#if CORVEX_HUD_SSE2
        // Two blocks per step.
        __m128 acc = _mm_setzero_ps();
        const __m128 quarter = _mm_set1_ps(0.25f);
        for (; bx + 2 <= half; bx += 2) {
            const __m128 t = _mm_loadu_ps(top + 2 * bx);
            const __m128 b = _mm_loadu_ps(below + 2 * bx);
            const __m128 v = _mm_add_ps(t, b);
            const __m128 sum = _mm_add_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0)),
                                          _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1)));
            const __m128 mean = _mm_mul_ps(sum, quarter);
            const __m128 dt = _mm_sub_ps(t, mean);
            const __m128 db = _mm_sub_ps(b, mean);
            acc = _mm_add_ps(acc, _mm_add_ps(_mm_mul_ps(dt, dt), _mm_mul_ps(db, db)));
            alignas(16) float sums[4];
            _mm_store_ps(sums, sum);
            out[bx] = sums[0] * 0.5f;
            out[bx + 1] = sums[2] * 0.5f;
        }
        alignas(16) float parts[4];
        _mm_store_ps(parts, acc);
        rest += (parts[0] + parts[1]) + (parts[2] + parts[3]);
#endif
        for (; bx < half; ++bx) {
            const float a = top[2 * bx];
            const float b = top[2 * bx + 1];
            const float c = below[2 * bx];
            const float d = below[2 * bx + 1];
            const float sum = (a + b) + (c + d);
            const float mean = 0.25f * sum;
            rest += (a - mean) * (a - mean) + (b - mean) * (b - mean) + (c - mean) * (c - mean) +
                    (d - mean) * (d - mean);
            out[bx] = 0.5f * sum;
        }
    }
    return std::sqrt(rest);
}

namespace {

#if CORVEX_HUD_AVX

// dot4 below with each vector's eight partial sums in one 256-bit register:
// lane k adds the same products in the same order as part[k] there.
CORVEX_HUD_TARGET_AVX void dot4Avx(const float* a, const float* const* b, std::size_t n, float* out) {
    const float* b0 = b[0];
    const float* b1 = b[1];
    const float* b2 = b[2];
    const float* b3 = b[3];
    __m256 s0 = _mm256_setzero_ps();
    __m256 s1 = _mm256_setzero_ps();
    __m256 s2 = _mm256_setzero_ps();
    __m256 s3 = _mm256_setzero_ps();
    std::size_t i = 0;
    CORVEX_HUD_UNROLL_TWICE
    for (; i + 8 <= n; i += 8) {
        const __m256 x = _mm256_loadu_ps(a + i);
        s0 = _mm256_add_ps(s0, _mm256_mul_ps(x, _mm256_loadu_ps(b0 + i)));
        s1 = _mm256_add_ps(s1, _mm256_mul_ps(x, _mm256_loadu_ps(b1 + i)));
        s2 = _mm256_add_ps(s2, _mm256_mul_ps(x, _mm256_loadu_ps(b2 + i)));
        s3 = _mm256_add_ps(s3, _mm256_mul_ps(x, _mm256_loadu_ps(b3 + i)));
    }
    float sums[4];
    laneSums4(s0, s1, s2, s3, sums);
    _mm256_zeroupper();
    for (int q = 0; q < 4; ++q)
        out[q] = addTail(sums[q], a, b[q], n);
}

// Eight at once: with four, each step still waits on the latency of its
// additions; eight chains keep the adders busy. Same lanes, same order. The
// accumulators are named one by one: written as an array with a loop over
// it, the loop is not unrolled at -O2 and every step goes through memory.
CORVEX_HUD_TARGET_AVX void dot8Avx(const float* a, const float* const* b, std::size_t n, float* out) {
    const float* b0 = b[0];
    const float* b1 = b[1];
    const float* b2 = b[2];
    const float* b3 = b[3];
    const float* b4 = b[4];
    const float* b5 = b[5];
    const float* b6 = b[6];
    const float* b7 = b[7];
    __m256 s0 = _mm256_setzero_ps();
    __m256 s1 = _mm256_setzero_ps();
    __m256 s2 = _mm256_setzero_ps();
    __m256 s3 = _mm256_setzero_ps();
    __m256 s4 = _mm256_setzero_ps();
    __m256 s5 = _mm256_setzero_ps();
    __m256 s6 = _mm256_setzero_ps();
    __m256 s7 = _mm256_setzero_ps();
    std::size_t i = 0;
    CORVEX_HUD_UNROLL_TWICE
    for (; i + 8 <= n; i += 8) {
        const __m256 x = _mm256_loadu_ps(a + i);
        s0 = _mm256_add_ps(s0, _mm256_mul_ps(x, _mm256_loadu_ps(b0 + i)));
        s1 = _mm256_add_ps(s1, _mm256_mul_ps(x, _mm256_loadu_ps(b1 + i)));
        s2 = _mm256_add_ps(s2, _mm256_mul_ps(x, _mm256_loadu_ps(b2 + i)));
        s3 = _mm256_add_ps(s3, _mm256_mul_ps(x, _mm256_loadu_ps(b3 + i)));
        s4 = _mm256_add_ps(s4, _mm256_mul_ps(x, _mm256_loadu_ps(b4 + i)));
        s5 = _mm256_add_ps(s5, _mm256_mul_ps(x, _mm256_loadu_ps(b5 + i)));
        s6 = _mm256_add_ps(s6, _mm256_mul_ps(x, _mm256_loadu_ps(b6 + i)));
        s7 = _mm256_add_ps(s7, _mm256_mul_ps(x, _mm256_loadu_ps(b7 + i)));
    }
    float sums[8];
    laneSums4(s0, s1, s2, s3, sums);
    laneSums4(s4, s5, s6, s7, sums + 4);
    _mm256_zeroupper();
    for (int q = 0; q < 8; ++q)
        out[q] = addTail(sums[q], a, b[q], n);
}

// dot4Avx for two or three vectors, with the same lanes and order: padding
// such a group to four would cost a whole pass more.
template <int K>
CORVEX_HUD_TARGET_AVX void dotFewAvx(const float* a, const float* const* b, std::size_t n, float* out) {
    __m256 s[K];
    CORVEX_HUD_UNROLL
    for (int q = 0; q < K; ++q)
        s[q] = _mm256_setzero_ps();
    CORVEX_HUD_UNROLL_TWICE
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const __m256 x = _mm256_loadu_ps(a + i);
        CORVEX_HUD_UNROLL
        for (int q = 0; q < K; ++q)
            s[q] = _mm256_add_ps(s[q], _mm256_mul_ps(x, _mm256_loadu_ps(b[q] + i)));
    }
    static_assert(K >= 2 && K <= 4, "one group of lane sums");
    float sums[4];
    laneSums4(s[0], s[1], s[K > 2 ? 2 : 1], s[K - 1], sums);
    _mm256_zeroupper();
    for (int q = 0; q < K; ++q)
        out[q] = addTail(sums[q], a, b[q], n);
}

#endif

// Four dot products in one pass over `a`, each with dot()'s own eight partial
// sums and final order, so every result is bit-identical to dot(a, b[k], n).
// A single dot product waits on the latency of its two accumulators; four
// side by side keep the multipliers busy and load `a` once for all of them.
void dot4(const float* a, const float* const* b, std::size_t n, float* out) {
#if CORVEX_HUD_AVX
    if (haveAvx()) {
        dot4Avx(a, b, n, out);
        return;
    }
#endif
    float part[4][8];
    std::size_t i = 0;
#if CORVEX_HUD_SSE2
    const float* b0 = b[0];
    const float* b1 = b[1];
    const float* b2 = b[2];
    const float* b3 = b[3];
    __m128 l0 = _mm_setzero_ps(), h0 = _mm_setzero_ps();
    __m128 l1 = _mm_setzero_ps(), h1 = _mm_setzero_ps();
    __m128 l2 = _mm_setzero_ps(), h2 = _mm_setzero_ps();
    __m128 l3 = _mm_setzero_ps(), h3 = _mm_setzero_ps();
    for (; i + 8 <= n; i += 8) {
        const __m128 al = _mm_loadu_ps(a + i);
        const __m128 ah = _mm_loadu_ps(a + i + 4);
        l0 = _mm_add_ps(l0, _mm_mul_ps(al, _mm_loadu_ps(b0 + i)));
        h0 = _mm_add_ps(h0, _mm_mul_ps(ah, _mm_loadu_ps(b0 + i + 4)));
        l1 = _mm_add_ps(l1, _mm_mul_ps(al, _mm_loadu_ps(b1 + i)));
        h1 = _mm_add_ps(h1, _mm_mul_ps(ah, _mm_loadu_ps(b1 + i + 4)));
        l2 = _mm_add_ps(l2, _mm_mul_ps(al, _mm_loadu_ps(b2 + i)));
        h2 = _mm_add_ps(h2, _mm_mul_ps(ah, _mm_loadu_ps(b2 + i + 4)));
        l3 = _mm_add_ps(l3, _mm_mul_ps(al, _mm_loadu_ps(b3 + i)));
        h3 = _mm_add_ps(h3, _mm_mul_ps(ah, _mm_loadu_ps(b3 + i + 4)));
    }
    _mm_storeu_ps(part[0], l0);
    _mm_storeu_ps(part[0] + 4, h0);
    _mm_storeu_ps(part[1], l1);
    _mm_storeu_ps(part[1] + 4, h1);
    _mm_storeu_ps(part[2], l2);
    _mm_storeu_ps(part[2] + 4, h2);
    _mm_storeu_ps(part[3], l3);
    _mm_storeu_ps(part[3] + 4, h3);
#else
    for (auto& p : part)
        for (float& v : p)
            v = 0.0f;
    for (; i + 8 <= n; i += 8)
        for (int q = 0; q < 4; ++q)
            for (std::size_t k = 0; k < 8; ++k)
                part[q][k] += a[i + k] * b[q][i + k];
#endif
    for (int q = 0; q < 4; ++q) {
        const float* p = part[q];
        float sum = ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
        out[q] = addTail(sum, a, b[q], n);
    }
}

} // namespace

void dotMany(const float* a, const float* const* b, std::size_t count, std::size_t n, float* out) {
    std::size_t k = 0;
#if CORVEX_HUD_AVX
    if (count >= 5 && haveAvx()) {
        for (; k + 8 <= count; k += 8)
            dot8Avx(a, b + k, n, out + k);
        if (count - k >= 5) {
            // Five to seven left: pad the block with repeats of the last one.
            const float* rest[8];
            float scores[8];
            for (std::size_t q = 0; q < 8; ++q)
                rest[q] = b[std::min(k + q, count - 1)];
            dot8Avx(a, rest, n, scores);
            for (std::size_t q = 0; k + q < count; ++q)
                out[k + q] = scores[q];
            return;
        }
    }
    if (haveAvx()) {
        for (; k + 4 <= count; k += 4)
            dot4Avx(a, b + k, n, out + k);
        switch (count - k) {
        case 3:
            dotFewAvx<3>(a, b + k, n, out + k);
            return;
        case 2:
            dotFewAvx<2>(a, b + k, n, out + k);
            return;
        case 1:
            out[k] = dot1Avx(a, b[k], n);
            return;
        default:
            return;
        }
    }
#endif
    for (; k + 4 <= count; k += 4)
        dot4(a, b + k, n, out + k);
    if (k == count)
        return;
    if (count - k == 1) {
        out[k] = dot(a, b[k], n);
        return;
    }
    // Two or three left: pad the block with repeats of the last one.
    const float* rest[4];
    float scores[4];
    for (std::size_t q = 0; q < 4; ++q)
        rest[q] = b[std::min(k + q, count - 1)];
    dot4(a, rest, n, scores);
    for (std::size_t q = 0; k + q < count; ++q)
        out[k + q] = scores[q];
}

float bestTemplateScore(const float* cell, const detail::TemplateList& templates, std::size_t n) {
    float best = kNoScore;
    const float* block[4];
    float scores[4];
    std::size_t count = 0;
    auto flush = [&]() {
        dotMany(cell, block, count, n, scores);
        for (std::size_t q = 0; q < count; ++q)
            if (scores[q] > best)
                best = scores[q];
        count = 0;
    };
    for (const detail::Template& t : templates) {
        if (t.size() < n)
            continue;
        block[count++] = t.data();
        if (count == 4)
            flush();
    }
    if (count > 0)
        flush();
    return best;
}

GlyphClass classifyGlyph(const float* cell, const detail::Templates& glyphs, std::string_view charset) {
    GlyphClass result;
    for (char c : charset) {
        const detail::TemplateList* list = glyphs.find(c);
        if (!list)
            continue;
        const float s = bestTemplateScore(cell, *list, kGlyphCellLength);
        if (s > result.score) {
            result.second = result.score;
            result.score = s;
            result.character = c;
        } else if (s > result.second) {
            result.second = s;
        }
    }
    return result;
}

namespace {

constexpr std::size_t kGlyphBlock = 4;
// Templates of a character scored together against each cell of a block.
constexpr std::size_t kGlyphAhead = 4;
constexpr std::size_t kGlyphCoarseLength =
    static_cast<std::size_t>(kGlyphCellSide / 2) * static_cast<std::size_t>(kGlyphCellSide / 2);
// What the bounds allow for the rounding of the float sums: far above it,
// far below the gaps between the scores that the pruning relies on.
constexpr float kGlyphBoundSlack = 1e-3f;

// Working memory of the glyph scoring, kept per thread so that a steady
// stream of words does not allocate.
struct GlyphScratch {
    struct Char {
        const detail::TemplateList* list = nullptr;
        const detail::CoarseList* coarse = nullptr;
        std::size_t first = 0;            // its first template's row of `bounds`
        float high = kNoScore;            // its highest bound over the block's cells
        float cellHigh[kGlyphBlock] = {}; // and over each cell's templates
    };
    std::vector<Char> chars;
    std::vector<std::size_t> charOrder;
    std::vector<std::size_t> templateOrder;
    std::vector<float> templateHigh;           // a template's highest bound over the block's cells
    std::vector<float> bounds;                 // kGlyphBlock per template
    std::vector<const float*> coarseTemplates; // a character's templates' coarse forms
    std::vector<float> coarseDots;             // and their dot products with a cell's, per cell
    std::vector<float> table;                  // classifyGlyphs' scores before they are folded
};

GlyphScratch& glyphScratch() {
    thread_local GlyphScratch scratch;
    return scratch;
}

// Sorts `order` by `key` from the highest down, ties in their order; a NaN
// key counts as the highest. Short lists: insertion.
template <typename Key> void sortDescending(std::size_t* order, std::size_t n, Key key) {
    for (std::size_t i = 1; i < n; ++i) {
        const std::size_t v = order[i];
        const float kv = key(v);
        std::size_t j = i;
        while (j > 0 && (kv > key(order[j - 1]) || (kv != kv && key(order[j - 1]) == key(order[j - 1])))) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = v;
    }
}

// A floor under the second best character score of cell q of the block:
// the exact scores of the templates of the highest bound and of the highest
// bound of another charset entry are each at most their entry's score, so
// the second best is at least the lower of them. kNoScore without two such
// templates.
float secondFloor(const GlyphScratch& s, std::size_t width, std::size_t q, const float* cell) {
    constexpr auto n = static_cast<std::size_t>(kGlyphCellLength);
    std::size_t pick[2] = {width, width};
    std::size_t pickT[2] = {0, 0};
    float high[2] = {kNoScore, kNoScore};
    for (std::size_t c = 0; c < width; ++c) {
        const GlyphScratch::Char& ch = s.chars[c];
        if (!ch.list)
            continue;
        float best = kNoScore;
        std::size_t bestT = 0;
        for (std::size_t t = 0; t < ch.list->size(); ++t) {
            const float b = s.bounds[(ch.first + t) * kGlyphBlock + q];
            if ((*ch.list)[t].size() >= n && b > best) {
                best = b;
                bestT = t;
            }
        }
        if (best > high[0]) {
            high[1] = high[0];
            pick[1] = pick[0];
            pickT[1] = pickT[0];
            high[0] = best;
            pick[0] = c;
            pickT[0] = bestT;
        } else if (best > high[1]) {
            high[1] = best;
            pick[1] = c;
            pickT[1] = bestT;
        }
    }
    if (pick[1] == width)
        return kNoScore;
    const float a = dot((*s.chars[pick[0]].list)[pickT[0]].data(), cell, n);
    const float b = dot((*s.chars[pick[1]].list)[pickT[1]].data(), cell, n);
    if (a != a || b != b)
        return kNoScore;
    return std::min(a, b);
}

// Every cell's best score for every character of `charset` into
// out[q * charset.size() + c], a block of four cells at a time. Four glyph
// cells and a template (20 KiB) stay in the first-level cache while the
// templates are read; eight cells do not. The block is copied to 32-byte
// aligned storage first: unaligned loads that straddle cache lines cost the
// dot products about a tenth more.
//
// With `topTwoOnly` and the templates' coarse forms (see coarsenCell), each
// template is first bounded for the block's cells, and a cell is scored
// exactly against it only while the bound reaches both the cell's best for
// that character (a template below it cannot change that maximum) and a
// floor under the cell's second best character: a template below that can
// lower a character's score only where the character is neither first nor
// second, and folding the scores in the charset's order then gives what
// scoring everything gives. The characters are taken from the highest bound
// down so that the floor rises early. Without `topTwoOnly` every score is
// wanted, and the bounds within a character pass over too few templates to
// pay for themselves. Every exact score is the dot product
// bestTemplateScore takes, whichever cells share its pass.
void scoreGlyphTable(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                     std::string_view charset, bool topTwoOnly, float* out) {
    constexpr auto n = static_cast<std::size_t>(kGlyphCellLength);
    const std::size_t width = charset.size();
    std::fill(out, out + count * width, kNoScore);
    if (count == 0 || width == 0)
        return;
    GlyphScratch& s = glyphScratch();
    s.chars.resize(width);
    s.charOrder.resize(width);
    bool bounded = topTwoOnly && glyphs.coarse && glyphs.coarse->coarseLength == kGlyphCoarseLength;
    std::size_t templates = 0;
    std::size_t longest = 0;
    for (std::size_t c = 0; c < width; ++c) {
        GlyphScratch::Char& ch = s.chars[c];
        ch.list = glyphs.find(charset[c]);
        ch.coarse = nullptr;
        ch.first = templates;
        s.charOrder[c] = c;
        if (!ch.list)
            continue;
        if (bounded) {
            ch.coarse = glyphs.coarse->find(glyphs, ch.list);
            bounded = ch.coarse != nullptr;
        }
        templates += ch.list->size();
        longest = std::max(longest, ch.list->size());
    }
    if (bounded) {
        s.bounds.resize(templates * kGlyphBlock);
        s.templateOrder.resize(longest);
        s.templateHigh.resize(longest);
        s.coarseTemplates.resize(longest);
        s.coarseDots.resize(kGlyphBlock * longest);
    }

    alignas(32) float local[kGlyphBlock][kGlyphCellLength];
    alignas(32) float coarse[kGlyphBlock][kGlyphCoarseLength];
    float rest[kGlyphBlock];
    for (std::size_t k = 0; k < count; k += kGlyphBlock) {
        const std::size_t m = std::min(kGlyphBlock, count - k);
        const float* block[kGlyphBlock];
        for (std::size_t q = 0; q < m; ++q) {
            std::copy(cells[k + q], cells[k + q] + n, local[q]);
            block[q] = local[q];
        }
        if (!bounded) {
            for (std::size_t c = 0; c < width; ++c) {
                const detail::TemplateList* list = s.chars[c].list;
                if (!list)
                    continue;
                float best[kGlyphBlock];
                std::fill(best, best + kGlyphBlock, kNoScore);
                for (const detail::Template& t : *list) {
                    if (t.size() < n)
                        continue;
                    float v[kGlyphBlock];
                    dotMany(t.data(), block, m, n, v);
                    for (std::size_t q = 0; q < m; ++q)
                        if (v[q] > best[q])
                            best[q] = v[q];
                }
                for (std::size_t q = 0; q < m; ++q)
                    out[(k + q) * width + c] = best[q];
            }
            continue;
        }

        for (std::size_t q = 0; q < m; ++q)
            rest[q] = coarsenCell(local[q], kGlyphCellSide, kGlyphCellSide, coarse[q]);
        for (std::size_t c = 0; c < width; ++c) {
            GlyphScratch::Char& ch = s.chars[c];
            ch.high = kNoScore;
            std::fill(ch.cellHigh, ch.cellHigh + kGlyphBlock, kNoScore);
            if (!ch.list)
                continue;
            // Each cell's coarse dot products with all the character's
            // templates in one pass over the cell, rather than each
            // template's with the block's few cells: the same products.
            std::size_t scored = 0;
            for (std::size_t t = 0; t < ch.list->size(); ++t)
                if ((*ch.list)[t].size() >= n && !(ch.coarse->rest[t] < 0.0f))
                    s.coarseTemplates[scored++] = ch.coarse->sums.data() + t * kGlyphCoarseLength;
            for (std::size_t q = 0; q < m; ++q)
                dotMany(coarse[q], s.coarseTemplates.data(), scored, kGlyphCoarseLength,
                        s.coarseDots.data() + q * longest);
            std::size_t taken = 0;
            for (std::size_t t = 0; t < ch.list->size(); ++t) {
                float* b = s.bounds.data() + (ch.first + t) * kGlyphBlock;
                const float restT = ch.coarse->rest[t];
                if ((*ch.list)[t].size() < n) {
                    std::fill(b, b + kGlyphBlock, kNoScore);
                    continue;
                }
                if (restT < 0.0f) {
                    std::fill(b, b + kGlyphBlock, std::numeric_limits<float>::infinity());
                    std::fill(ch.cellHigh, ch.cellHigh + kGlyphBlock, std::numeric_limits<float>::infinity());
                    ch.high = std::numeric_limits<float>::infinity();
                    continue;
                }
                for (std::size_t q = 0; q < m; ++q)
                    b[q] = s.coarseDots[q * longest + taken];
                ++taken;
                for (std::size_t q = 0; q < m; ++q) {
                    b[q] += restT * rest[q] + kGlyphBoundSlack;
                    const float v = b[q] != b[q] ? std::numeric_limits<float>::infinity() : b[q];
                    ch.cellHigh[q] = std::max(ch.cellHigh[q], v);
                    ch.high = std::max(ch.high, v);
                }
            }
        }
        sortDescending(s.charOrder.data(), width, [&](std::size_t c) { return s.chars[c].high; });

        // The two best scores so far of each cell, over the characters, and
        // a floor under the second best of all of them from the start.
        float first[kGlyphBlock];
        float second[kGlyphBlock];
        float seeded[kGlyphBlock];
        std::fill(first, first + kGlyphBlock, kNoScore);
        std::fill(second, second + kGlyphBlock, kNoScore);
        for (std::size_t q = 0; q < m; ++q)
            seeded[q] = secondFloor(s, width, q, block[q]);
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t c = s.charOrder[i];
            const GlyphScratch::Char& ch = s.chars[c];
            if (!ch.list)
                continue;
            // No template of the character reaches any cell's floor: its
            // scores stay kNoScore, as the loop below would leave them.
            bool reaches = false;
            for (std::size_t q = 0; q < m; ++q)
                reaches = reaches || !(ch.cellHigh[q] < std::max(second[q], seeded[q]));
            if (!reaches)
                continue;
            const float* charBounds = s.bounds.data() + ch.first * kGlyphBlock;
            const std::size_t size = ch.list->size();
            std::size_t* order = s.templateOrder.data();
            float* high = s.templateHigh.data();
            for (std::size_t t = 0; t < size; ++t) {
                order[t] = t;
                const float* b = charBounds + t * kGlyphBlock;
                high[t] = b[0];
                for (std::size_t q = 1; q < m; ++q)
                    high[t] = b[q] > high[t] || b[q] != b[q] ? b[q] : high[t];
            }
            sortDescending(order, size, [high](std::size_t t) { return high[t]; });
            float best[kGlyphBlock];
            std::fill(best, best + kGlyphBlock, kNoScore);
            for (std::size_t o0 = 0; o0 < size; o0 += kGlyphAhead) {
                const std::size_t ahead = std::min(kGlyphAhead, size - o0);
                // A cell's dot products with a few templates at once, taken
                // before any of them raises its floor: one pass over the cell
                // serves them all, where one at a time each would wait on its
                // own sums. The floors only rise, so every template the loop
                // below scores is among those taken here (a few more may be,
                // for nothing); a dot product is the same whichever of its two
                // vectors comes first.
                float v[kGlyphAhead][kGlyphBlock];
                for (std::size_t q = 0; q < m; ++q) {
                    const float floor = std::max(best[q], std::max(second[q], seeded[q]));
                    const float* pick[kGlyphAhead];
                    std::size_t picked[kGlyphAhead];
                    std::size_t taken = 0;
                    for (std::size_t a = 0; a < ahead; ++a) {
                        const std::size_t t = order[o0 + a];
                        const detail::Template& tpl = (*ch.list)[t];
                        if (tpl.size() >= n && !(charBounds[t * kGlyphBlock + q] < floor)) {
                            pick[taken] = tpl.data();
                            picked[taken++] = a;
                        }
                    }
                    float got[kGlyphAhead];
                    dotMany(block[q], pick, taken, n, got);
                    for (std::size_t j = 0; j < taken; ++j)
                        v[picked[j]][q] = got[j];
                }
                for (std::size_t a = 0; a < ahead; ++a) {
                    const std::size_t t = order[o0 + a];
                    if ((*ch.list)[t].size() < n)
                        continue;
                    const float* b = charBounds + t * kGlyphBlock;
                    for (std::size_t q = 0; q < m; ++q) {
                        const float floor = std::max(best[q], std::max(second[q], seeded[q]));
                        if (!(b[q] < floor) && v[a][q] > best[q])
                            best[q] = v[a][q];
                    }
                }
            }
            for (std::size_t q = 0; q < m; ++q) {
                out[(k + q) * width + c] = best[q];
                if (best[q] > first[q]) {
                    second[q] = first[q];
                    first[q] = best[q];
                } else if (best[q] > second[q]) {
                    second[q] = best[q];
                }
            }
        }
    }
}

} // namespace

namespace {

void classifyRange(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                   std::string_view charset, GlyphClass* out) {
    std::vector<float>& table = glyphScratch().table;
    table.resize(count * charset.size());
    scoreGlyphTable(cells, count, glyphs, charset, true, table.data());
    for (std::size_t q = 0; q < count; ++q)
        out[q] = foldGlyphScores(table.data() + q * charset.size(), charset);
}

// The later blocks of a classifyGlyphs call, for the thread that waits on
// this one. It reads the cells and the model's templates, which nothing
// writes while it runs, writes only its own classes, and scores on the
// running thread's own scratch.
struct GlyphShare {
    const float* const* cells;
    std::size_t count;
    const detail::Templates* glyphs;
    std::string_view charset;
    GlyphClass* out;

    static void run(void* context) {
        const GlyphShare& s = *static_cast<const GlyphShare*>(context);
        classifyRange(s.cells, s.count, *s.glyphs, s.charset, s.out);
    }
};

} // namespace

// The bounds prune only scores below a cell's best two, whichever cells
// share its block and in whatever order the characters are taken, so a
// call split anywhere folds every cell to the class the whole call gives
// it. On the helper thread the later half goes to the waiting caller, once
// that has read its own part of the frame.
void classifyGlyphs(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                    std::string_view charset, GlyphClass* out) {
    if (count < 2 || !SideTask::offered()) {
        classifyRange(cells, count, glyphs, charset, out);
        return;
    }
    const std::size_t first = (count + 1) / 2;
    GlyphShare rest{cells + first, count - first, &glyphs, charset, out + first};
    SideTask side(&GlyphShare::run, &rest);
    classifyRange(cells, first, glyphs, charset, out);
    side.finish();
}

void bestGlyphScores(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                     std::string_view charset, float* out) {
    scoreGlyphTable(cells, count, glyphs, charset, false, out);
}

GlyphClass foldGlyphScores(const float* scores, std::string_view charset) {
    GlyphClass r;
    for (std::size_t c = 0; c < charset.size(); ++c) {
        const float sc = scores[c];
        if (sc > r.score) {
            r.second = r.score;
            r.score = sc;
            r.character = charset[c];
        } else if (sc > r.second) {
            r.second = sc;
        }
    }
    return r;
}

} // namespace hud

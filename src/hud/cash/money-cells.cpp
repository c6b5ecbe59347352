#include "hud/cash/money-internal.h"
#include "hud/cash/money-strip.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>

// The money cell: the line's strip of blended rows and the cells sampled
// from it.

namespace hud {

using namespace moneyread;

namespace {

// The strip's rows: the vertical sample positions of sampleMoneyCell, with
// the same test for a row that cannot reach the plane.
void prepareStrip(MoneyRowContext& ctx) {
    MoneyStrip& s = ctx.strip;
    s.ready = true;
    const Plane& p = ctx.plane;
    if (p.empty() ||
        p.pixels.size() < static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height)) {
        s.width = 0;
        return;
    }
    s.width = p.width + 2;
    s.lo = s.hi = 0;
    s.values = stripStorage(searchOf(ctx),
                            static_cast<std::size_t>(kMoneyCellRows) * static_cast<std::size_t>(s.width));
    const double h = ctx.lineHeight;
    const double upper = ctx.top - 0.3 * h;
    const double stepY = (ctx.bottom - ctx.top + 0.6 * h) / kMoneyCellRows;
    for (int i = 0; i < kMoneyCellRows; ++i) {
        const double y = upper + i * stepY;
        s.rowLive[i] = y > -1.0 && y < static_cast<double>(p.height);
        if (!s.rowLive[i])
            continue;
        s.rowIndex[i] = static_cast<int>(std::floor(y));
        s.rowWeight[i] = static_cast<float>(y - s.rowIndex[i]);
    }
}

// Fills strip columns [a, b); strip column c holds plane column c - 1.
void fillStrip(MoneyRowContext& ctx, int a, int b) {
    MoneyStrip& s = ctx.strip;
    const Plane& p = ctx.plane;
    constexpr std::size_t rows = kMoneyCellRows;
    float* const values = s.values;
    std::fill(values + rows * static_cast<std::size_t>(a), values + rows * static_cast<std::size_t>(b), 0.0f);
    // Plane columns inside [a - 1, b - 1).
    const int xa = std::max(a - 1, 0);
    const int xb = std::min(b - 1, p.width);
    if (xa >= xb)
        return;
    for (int i = 0; i < kMoneyCellRows; ++i) {
        if (!s.rowLive[i])
            continue;
        float* __restrict dst = values + rows + static_cast<std::size_t>(i); // plane column 0
        const int iy = s.rowIndex[i];
        const float fy = s.rowWeight[i];
        const float gy = 1.0f - fy;
        const float* __restrict r0 =
            iy >= 0 ? p.pixels.data() + static_cast<std::size_t>(iy) * static_cast<std::size_t>(p.width)
                    : nullptr;
        const float* __restrict r1 =
            iy + 1 < p.height
                ? p.pixels.data() + static_cast<std::size_t>(iy + 1) * static_cast<std::size_t>(p.width)
                : nullptr;
        if (r0 && r1) {
            for (int x = xa; x < xb; ++x)
                dst[rows * static_cast<std::size_t>(x)] = gy * r0[x] + fy * r1[x];
        } else if (r0) {
            for (int x = xa; x < xb; ++x)
                dst[rows * static_cast<std::size_t>(x)] = gy * r0[x];
        } else if (r1) {
            for (int x = xa; x < xb; ++x)
                dst[rows * static_cast<std::size_t>(x)] = fy * r1[x];
        }
    }
}

void ensureStrip(MoneyRowContext& ctx, int a, int b) {
    MoneyStrip& s = ctx.strip;
    a = std::max(a, 0);
    b = std::min(b, s.width);
    if (a >= b)
        return;
    if (s.lo == s.hi) {
        fillStrip(ctx, a, b);
        s.lo = a;
        s.hi = b;
        return;
    }
    if (a < s.lo) {
        fillStrip(ctx, a, s.lo);
        s.lo = a;
    }
    if (b > s.hi) {
        fillStrip(ctx, s.hi, b);
        s.hi = b;
    }
}

} // namespace

namespace moneyread {

void sampleNormalised(MoneyRowContext& ctx, double x, float* cell) {
    sampleLineCell(ctx, x, cell);
    normalizeVector(cell, kMoneyCellLength);
}

void sampleNormalised(MoneyRowContext& ctx, double x) {
    sampleNormalised(ctx, x, ctx.cell);
}

} // namespace moneyread

namespace {

// The cell's columns, each contiguous, transposed into its rows.
void columnsToCell(const float (&columns)[kMoneyCellColumns][kMoneyCellRows], float* out) {
#if CORVEX_HUD_SSE2
    static_assert(kMoneyCellRows % 4 == 0 && kMoneyCellColumns % 4 == 0, "cells transpose in 4 x 4 blocks");
    for (int i = 0; i < kMoneyCellRows; i += 4)
        for (int j = 0; j < kMoneyCellColumns; j += 4) {
            __m128 c0 = _mm_load_ps(&columns[j][i]);
            __m128 c1 = _mm_load_ps(&columns[j + 1][i]);
            __m128 c2 = _mm_load_ps(&columns[j + 2][i]);
            __m128 c3 = _mm_load_ps(&columns[j + 3][i]);
            _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
            float* dst = out + i * kMoneyCellColumns + j;
            _mm_storeu_ps(dst, c0);
            _mm_storeu_ps(dst + kMoneyCellColumns, c1);
            _mm_storeu_ps(dst + 2 * kMoneyCellColumns, c2);
            _mm_storeu_ps(dst + 3 * kMoneyCellColumns, c3);
        }
#else
    for (int i = 0; i < kMoneyCellRows; ++i)
        for (int j = 0; j < kMoneyCellColumns; ++j)
            out[i * kMoneyCellColumns + j] = columns[j][i];
#endif
}

// Clears the cell columns that cannot reach the plane (both weights 0).
void clearDead(float* out, bool dead, const float* wl, const float* wr) {
    if (dead)
        for (int j = 0; j < kMoneyCellColumns; ++j)
            if (wl[j] == 0.0f && wr[j] == 0.0f)
                for (int i = 0; i < kMoneyCellRows; ++i)
                    out[i * kMoneyCellColumns + j] = 0.0f;
}

#if CORVEX_HUD_AVX
// The blend of sampleLineCell's columns, written straight into the cell's
// rows: four columns of eight rows are blended in registers (the same two
// products and one sum per value as the plain loop) and transposed there,
// so the columns never go through memory.
CORVEX_HUD_TARGET_AVX void blendToCellAvx(const float* values, const int* index, const float* wl,
                                          const float* wr, float* out) {
    constexpr std::size_t rows = kMoneyCellRows;
    constexpr int width = kMoneyCellColumns;
    static_assert(kMoneyCellRows % 8 == 4 && kMoneyCellColumns % 4 == 0,
                  "cells blend in eight-row steps and a last four rows, four columns at a time");
    for (int j = 0; j < width; j += 4) {
        const float* a[4];
        __m256 l[4];
        __m256 r[4];
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k) {
            a[k] = values + rows * static_cast<std::size_t>(index[j + k]);
            l[k] = _mm256_set1_ps(wl[j + k]);
            r[k] = _mm256_set1_ps(wr[j + k]);
        }
        std::size_t i = 0;
        for (; i + 8 <= rows; i += 8) {
            __m256 c[4];
            CORVEX_HUD_UNROLL
            for (int k = 0; k < 4; ++k)
                c[k] = _mm256_add_ps(_mm256_mul_ps(l[k], _mm256_loadu_ps(a[k] + i)),
                                     _mm256_mul_ps(r[k], _mm256_loadu_ps(a[k] + rows + i)));
            const __m256 t0 = _mm256_unpacklo_ps(c[0], c[1]);
            const __m256 t1 = _mm256_unpackhi_ps(c[0], c[1]);
            const __m256 t2 = _mm256_unpacklo_ps(c[2], c[3]);
            const __m256 t3 = _mm256_unpackhi_ps(c[2], c[3]);
            // Lane 0 holds rows i .. i + 3, lane 1 rows i + 4 .. i + 7.
            const __m256 r0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
            const __m256 r1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
            const __m256 r2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
            const __m256 r3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
            float* dst = out + i * width + j;
            _mm_storeu_ps(dst, _mm256_castps256_ps128(r0));
            _mm_storeu_ps(dst + width, _mm256_castps256_ps128(r1));
            _mm_storeu_ps(dst + 2 * width, _mm256_castps256_ps128(r2));
            _mm_storeu_ps(dst + 3 * width, _mm256_castps256_ps128(r3));
            _mm_storeu_ps(dst + 4 * width, _mm256_extractf128_ps(r0, 1));
            _mm_storeu_ps(dst + 5 * width, _mm256_extractf128_ps(r1, 1));
            _mm_storeu_ps(dst + 6 * width, _mm256_extractf128_ps(r2, 1));
            _mm_storeu_ps(dst + 7 * width, _mm256_extractf128_ps(r3, 1));
        }
        // The last four rows.
        __m128 c[4];
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k)
            c[k] = _mm_add_ps(_mm_mul_ps(_mm256_castps256_ps128(l[k]), _mm_loadu_ps(a[k] + i)),
                              _mm_mul_ps(_mm256_castps256_ps128(r[k]), _mm_loadu_ps(a[k] + rows + i)));
        _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
        float* dst = out + i * width + j;
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k)
            _mm_storeu_ps(dst + k * width, c[k]);
    }
    _mm256_zeroupper();
}
#endif

// Where each cell column of sampleLineCell samples from the strip: columns
// index[j] and index[j] + 1, weighted wl[j] and wr[j], for the columns that
// can reach the plane (bit j of `live`), and the strip columns [lo, hi)
// those read; lo >= hi when none can.
struct CellTaps {
    int index[kMoneyCellColumns];
    float wl[kMoneyCellColumns];
    float wr[kMoneyCellColumns];
    unsigned live = 0;
    int lo = 0;
    int hi = 0;
};

#if CORVEX_HUD_AVX
// cellTaps four columns a step, with the same double arithmetic. Columns
// off the plane are taken at 0 so that nothing out of range is converted,
// and are left out of lo and hi.
CORVEX_HUD_TARGET_AVX void cellTapsAvx(double left, double stepX, double planeWidth, int stripWidth,
                                       CellTaps& taps) {
    static_assert(kMoneyCellColumns % 4 == 0, "cell columns come four at a time");
    unsigned live = 0;
    __m128i lo = _mm_set1_epi32(stripWidth);
    __m128i hi = _mm_setzero_si128();
    for (int j = 0; j < kMoneyCellColumns; j += 4) {
        const __m256d jv = _mm256_set_pd(j + 3, j + 2, j + 1, j);
        const __m256d x = _mm256_add_pd(_mm256_set1_pd(left), _mm256_mul_pd(jv, _mm256_set1_pd(stepX)));
        const __m256d in = _mm256_and_pd(_mm256_cmp_pd(x, _mm256_set1_pd(-1.0), _CMP_GT_OQ),
                                         _mm256_cmp_pd(x, _mm256_set1_pd(planeWidth), _CMP_LT_OQ));
        live |= static_cast<unsigned>(_mm256_movemask_pd(in)) << j;
        const __m256d taken = _mm256_and_pd(x, in);
        const __m256d floor = _mm256_floor_pd(taken);
        const __m128i index = _mm_add_epi32(_mm256_cvttpd_epi32(floor), _mm_set1_epi32(1));
        const __m128 fx = _mm256_cvtpd_ps(_mm256_sub_pd(taken, floor));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(taps.index + j), index);
        _mm_storeu_ps(taps.wl + j, _mm_sub_ps(_mm_set1_ps(1.0f), fx));
        _mm_storeu_ps(taps.wr + j, fx);
        // The live columns' mask, one 32-bit lane per column.
        const __m128i keep = _mm_castps_si128(_mm_shuffle_ps(_mm256_castps256_ps128(_mm256_castpd_ps(in)),
                                                             _mm256_extractf128_ps(_mm256_castpd_ps(in), 1),
                                                             _MM_SHUFFLE(2, 0, 2, 0)));
        lo = _mm_min_epi32(lo, _mm_blendv_epi8(lo, index, keep));
        hi = _mm_max_epi32(hi, _mm_blendv_epi8(hi, _mm_add_epi32(index, _mm_set1_epi32(2)), keep));
    }
    lo = _mm_min_epi32(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm_min_epi32(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    hi = _mm_max_epi32(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm_max_epi32(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    taps.live = live;
    taps.lo = _mm_cvtsi128_si32(lo);
    taps.hi = _mm_cvtsi128_si32(hi);
    _mm256_zeroupper();
}
#endif

// Where each cell column of sampleLineCell samples, for a cell whose left
// column is at `left`, on a strip `stripWidth` columns wide; strip column c
// holds plane column c - 1.
void cellTaps(double left, double stepX, int planeWidth, int stripWidth, CellTaps& taps) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx()) {
        cellTapsAvx(left, stepX, static_cast<double>(planeWidth), stripWidth, taps);
        return;
    }
#endif
    taps.live = 0;
    taps.lo = stripWidth;
    taps.hi = 0;
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        const double x = left + j * stepX;
        if (!(x > -1.0 && x < static_cast<double>(planeWidth)))
            continue;
        taps.live |= 1u << j;
        const int ix = static_cast<int>(std::floor(x));
        const auto fx = static_cast<float>(x - ix);
        taps.index[j] = ix + 1;
        taps.wl[j] = 1.0f - fx;
        taps.wr[j] = fx;
        taps.lo = std::min(taps.lo, ix + 1);
        taps.hi = std::max(taps.hi, ix + 3);
    }
}

} // namespace

void sampleLineCell(MoneyRowContext& ctx, double cx, float* out) {
    MoneyStrip& s = ctx.strip;
    if (!s.ready)
        prepareStrip(ctx);
    if (s.width == 0) {
        std::fill(out, out + kMoneyCellLength, 0.0f);
        return;
    }
    const double h = ctx.lineHeight;
    const double left = cx - 0.45 * h;
    const double stepX = 0.9 * h / kMoneyCellColumns;
    CellTaps taps;
    cellTaps(left, stepX, ctx.plane.width, s.width, taps);
    int* const index = taps.index;
    float* const wl = taps.wl;
    float* const wr = taps.wr;
    const int lo = taps.lo;
    const int hi = taps.hi;
    const bool dead = taps.live != (1u << kMoneyCellColumns) - 1u;
    ensureStrip(ctx, lo, hi);
    if (dead) {
        // Columns that cannot reach the plane read 0; point them at any
        // filled column and clear them afterwards.
        for (int j = 0; j < kMoneyCellColumns; ++j)
            if (((taps.live >> j) & 1u) == 0) {
                index[j] = lo < hi ? lo : 0;
                wl[j] = wr[j] = 0.0f;
            }
    }
    if (lo >= hi) {
        std::fill(out, out + kMoneyCellLength, 0.0f);
        return;
    }
    // Each cell column blends two whole strip columns, which lie contiguous
    // and so vectorise; the block is then transposed into the cell's rows.
#if CORVEX_HUD_AVX
    if (detail::haveAvx()) {
        blendToCellAvx(s.values, index, wl, wr, out);
        clearDead(out, dead, wl, wr);
        return;
    }
#endif
    constexpr std::size_t rows = kMoneyCellRows;
    alignas(16) float columns[kMoneyCellColumns][kMoneyCellRows];
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        const float* __restrict a = s.values + rows * static_cast<std::size_t>(index[j]);
        const float* __restrict b = a + rows;
        float* __restrict dst = columns[j];
        const float l = wl[j];
        const float r = wr[j];
        for (std::size_t i = 0; i < rows; ++i)
            dst[i] = l * a[i] + r * b[i];
    }
    columnsToCell(columns, out);
    clearDead(out, dead, wl, wr);
}

namespace {

// The 2 x 2 form of the cell the taps give, from its blended columns: a
// block's sum is (top left + below left) + (top right + below right), as
// coarsenMoneyCell takes it; the deviations from the blocks' means are
// summed per cell row, column pair after column pair, in `rows` (one
// running sum per row of an eight-row band, the last band's four in the
// first four), then those in a fixed order.
constexpr int kCoarseHalf = kMoneyCellColumns / 2;
static_assert(kMoneyCellColumns % 4 == 0 && kMoneyCellRows % 8 == 4,
              "cells come in four-column groups, eight-row bands and a last band of four rows");

float finishRest(const float* rows8, const float* rows4) {
    const float rest =
        (((rows8[0] + rows8[1]) + (rows8[2] + rows8[3])) + ((rows8[4] + rows8[5]) + (rows8[6] + rows8[7]))) +
        ((rows4[0] + rows4[1]) + (rows4[2] + rows4[3]));
    return std::sqrt(rest);
}

float coarseFromColumns(const float* values, const int* index, const float* wl, const float* wr,
                        float* coarse) {
    constexpr int rows = kMoneyCellRows;
    float rows8[8] = {};
    float rows4[4] = {};
    for (int j = 0; j < kMoneyCellColumns; j += 4) {
        float c[4][kMoneyCellRows];
        for (int k = 0; k < 4; ++k) {
            const float* a = values + static_cast<std::size_t>(rows) * static_cast<std::size_t>(index[j + k]);
            const float* b = a + rows;
            for (int i = 0; i < rows; ++i)
                c[k][i] = wl[j + k] * a[i] + wr[j + k] * b[i];
        }
        for (int i = 0; i < rows; i += 2) {
            float* acc = i < rows - 4 ? rows8 + i % 8 : rows4 + i % 4;
            for (int p = 0; p < 4; p += 2) {
                const float sum = (c[p][i] + c[p][i + 1]) + (c[p + 1][i] + c[p + 1][i + 1]);
                const float mean = sum * 0.25f;
                coarse[(i / 2) * kCoarseHalf + (j + p) / 2] = sum * 0.5f;
                for (int r = 0; r < 2; ++r) {
                    const float d = c[p][i + r] - mean;
                    const float e = c[p + 1][i + r] - mean;
                    acc[r] = acc[r] + (d * d + e * e);
                }
            }
        }
    }
    return finishRest(rows8, rows4);
}

#if CORVEX_HUD_AVX
// coarseFromColumns four columns (two column pairs) and eight rows a step:
// the columns are blended as blendToCellAvx blends them, each column's row
// pairs summed by one horizontal add and the pairs' sums added.
CORVEX_HUD_TARGET_AVX float coarseFromColumnsAvx(const float* values, const int* index, const float* wl,
                                                 const float* wr, float* coarse) {
    constexpr std::size_t rows = kMoneyCellRows;
    const __m256 quarter = _mm256_set1_ps(0.25f);
    const __m256 halfOf = _mm256_set1_ps(0.5f);
    __m256 acc = _mm256_setzero_ps();
    __m128 acc4 = _mm_setzero_ps();
    for (int j = 0; j < kMoneyCellColumns; j += 4) {
        const float* a[4];
        __m256 l[4];
        __m256 r[4];
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k) {
            a[k] = values + rows * static_cast<std::size_t>(index[j + k]);
            l[k] = _mm256_set1_ps(wl[j + k]);
            r[k] = _mm256_set1_ps(wr[j + k]);
        }
        float* out = coarse + j / 2;
        std::size_t i = 0;
        for (; i + 8 <= rows; i += 8) {
            __m256 c[4];
            CORVEX_HUD_UNROLL
            for (int k = 0; k < 4; ++k)
                c[k] = _mm256_add_ps(_mm256_mul_ps(l[k], _mm256_loadu_ps(a[k] + i)),
                                     _mm256_mul_ps(r[k], _mm256_loadu_ps(a[k] + rows + i)));
            // Per half: the row pairs of the first column, then the second's.
            const __m256 h01 = _mm256_hadd_ps(c[0], c[1]);
            const __m256 h23 = _mm256_hadd_ps(c[2], c[3]);
            const __m256 s01 = _mm256_add_ps(h01, _mm256_permute_ps(h01, _MM_SHUFFLE(1, 0, 3, 2)));
            const __m256 s23 = _mm256_add_ps(h23, _mm256_permute_ps(h23, _MM_SHUFFLE(1, 0, 3, 2)));
            const __m256 m01 = _mm256_mul_ps(_mm256_unpacklo_ps(s01, s01), quarter);
            const __m256 m23 = _mm256_mul_ps(_mm256_unpacklo_ps(s23, s23), quarter);
            const __m256 d0 = _mm256_sub_ps(c[0], m01);
            const __m256 d1 = _mm256_sub_ps(c[1], m01);
            const __m256 d2 = _mm256_sub_ps(c[2], m23);
            const __m256 d3 = _mm256_sub_ps(c[3], m23);
            acc = _mm256_add_ps(acc, _mm256_add_ps(_mm256_mul_ps(d0, d0), _mm256_mul_ps(d1, d1)));
            acc = _mm256_add_ps(acc, _mm256_add_ps(_mm256_mul_ps(d2, d2), _mm256_mul_ps(d3, d3)));
            // The two blocks of each row pair, side by side.
            const __m256 sums = _mm256_mul_ps(_mm256_unpacklo_ps(s01, s23), halfOf);
            const __m128 low = _mm256_castps256_ps128(sums);
            const __m128 high = _mm256_extractf128_ps(sums, 1);
            float* at = out + (i / 2) * kCoarseHalf;
            _mm_storel_pi(reinterpret_cast<__m64*>(at), low);
            _mm_storeh_pi(reinterpret_cast<__m64*>(at + kCoarseHalf), low);
            _mm_storel_pi(reinterpret_cast<__m64*>(at + 2 * kCoarseHalf), high);
            _mm_storeh_pi(reinterpret_cast<__m64*>(at + 3 * kCoarseHalf), high);
        }
        // The last four rows.
        __m128 c[4];
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k)
            c[k] = _mm_add_ps(_mm_mul_ps(_mm256_castps256_ps128(l[k]), _mm_loadu_ps(a[k] + i)),
                              _mm_mul_ps(_mm256_castps256_ps128(r[k]), _mm_loadu_ps(a[k] + rows + i)));
        const __m128 h01 = _mm_hadd_ps(c[0], c[1]);
        const __m128 h23 = _mm_hadd_ps(c[2], c[3]);
        const __m128 s01 = _mm_add_ps(h01, _mm_shuffle_ps(h01, h01, _MM_SHUFFLE(1, 0, 3, 2)));
        const __m128 s23 = _mm_add_ps(h23, _mm_shuffle_ps(h23, h23, _MM_SHUFFLE(1, 0, 3, 2)));
        const __m128 m01 = _mm_mul_ps(_mm_unpacklo_ps(s01, s01), _mm256_castps256_ps128(quarter));
        const __m128 m23 = _mm_mul_ps(_mm_unpacklo_ps(s23, s23), _mm256_castps256_ps128(quarter));
        const __m128 d0 = _mm_sub_ps(c[0], m01);
        const __m128 d1 = _mm_sub_ps(c[1], m01);
        const __m128 d2 = _mm_sub_ps(c[2], m23);
        const __m128 d3 = _mm_sub_ps(c[3], m23);
        acc4 = _mm_add_ps(acc4, _mm_add_ps(_mm_mul_ps(d0, d0), _mm_mul_ps(d1, d1)));
        acc4 = _mm_add_ps(acc4, _mm_add_ps(_mm_mul_ps(d2, d2), _mm_mul_ps(d3, d3)));
        const __m128 sums = _mm_mul_ps(_mm_unpacklo_ps(s01, s23), _mm256_castps256_ps128(halfOf));
        float* at = out + (i / 2) * kCoarseHalf;
        _mm_storel_pi(reinterpret_cast<__m64*>(at), sums);
        _mm_storeh_pi(reinterpret_cast<__m64*>(at + kCoarseHalf), sums);
    }
    alignas(32) float rows8[8];
    alignas(16) float rows4[4];
    _mm256_store_ps(rows8, acc);
    _mm_store_ps(rows4, acc4);
    _mm256_zeroupper();
    return finishRest(rows8, rows4);
}
#endif

} // namespace

namespace moneyread {

float sampleLineCoarse(MoneyRowContext& ctx, double cx, float* coarse) {
    MoneyStrip& s = ctx.strip;
    if (!s.ready)
        prepareStrip(ctx);
    const auto nothing = [&] {
        std::fill(coarse, coarse + kCoarseHalf * (kMoneyCellRows / 2), 0.0f);
        return 0.0f;
    };
    if (s.width == 0)
        return nothing();
    const double h = ctx.lineHeight;
    CellTaps taps;
    cellTaps(cx - 0.45 * h, 0.9 * h / kMoneyCellColumns, ctx.plane.width, s.width, taps);
    if (taps.lo >= taps.hi)
        return nothing();
    if (taps.live != (1u << kMoneyCellColumns) - 1u) {
        // A cell reaching past the plane's edge: rare enough to sample.
        float cell[kMoneyCellLength];
        sampleLineCell(ctx, cx, cell);
        return coarsenMoneyCell(cell, coarse);
    }
    ensureStrip(ctx, taps.lo, taps.hi);
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        return coarseFromColumnsAvx(s.values, taps.index, taps.wl, taps.wr, coarse);
#endif
    return coarseFromColumns(s.values, taps.index, taps.wl, taps.wr, coarse);
}

} // namespace moneyread

} // namespace hud

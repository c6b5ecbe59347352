// Planes: luma, the 3x3 box mean, the contrast ramp and the frame preparation.
#include "hud/core/image.h"

#include "hud/core/helper.h"
#include "hud/core/image-internal.h"
#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace hud {

namespace {

#if CORVEX_HUD_AVX
using detail::haveAvx;
#endif
using detail::area;
using detail::sizeAcceptable;

} // namespace

void Plane::reshape(int w, int h) {
    if (w <= 0 || h <= 0) {
        width = 0;
        height = 0;
        pixels.clear();
        return;
    }
    width = w;
    height = h;
    pixels.resize(area(w, h));
}

void Plane::resize(int w, int h) {
    const std::size_t before = pixels.size();
    reshape(w, h);
    if (pixels.size() > before)
        std::fill(pixels.begin() + static_cast<std::ptrdiff_t>(before), pixels.end(), 0.0f);
}

bool FrameView::valid() const {
    return pixels != nullptr && sizeAcceptable(width, height) &&
           static_cast<std::int64_t>(stride) >= static_cast<std::int64_t>(width) * 4;
}

namespace {

#if CORVEX_HUD_AVX
// The first n - n % 8 pixels of lumaRow, eight at a time. Each channel is
// masked in place rather than shifted down (AVX has no 256-bit integer
// shifts): green and red come out 2^8 and 2^16 times their value, still
// exact as floats, and meet their weight scaled down by the same power of
// two, so every product is the same real number and rounds to the same
// float; the sums are the same too.
CORVEX_HUD_TARGET_AVX int lumaRowAvx(const std::uint8_t* row, float* dst, int n) {
    const __m256 blue = _mm256_castsi256_ps(_mm256_set1_epi32(0xFF));
    const __m256 green = _mm256_castsi256_ps(_mm256_set1_epi32(0xFF00));
    const __m256 red = _mm256_castsi256_ps(_mm256_set1_epi32(0xFF0000));
    const __m256 kr = _mm256_set1_ps(0.299f * 0x1p-16f);
    const __m256 kg = _mm256_set1_ps(0.587f * 0x1p-8f);
    const __m256 kb = _mm256_set1_ps(0.114f);
    int x = 0;
    CORVEX_HUD_UNROLL_TWICE
    for (; x + 8 <= n; x += 8) {
        const __m256 px = _mm256_castsi256_ps(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * static_cast<std::size_t>(x))));
        const __m256 b = _mm256_cvtepi32_ps(_mm256_castps_si256(_mm256_and_ps(px, blue)));
        const __m256 g = _mm256_cvtepi32_ps(_mm256_castps_si256(_mm256_and_ps(px, green)));
        const __m256 r = _mm256_cvtepi32_ps(_mm256_castps_si256(_mm256_and_ps(px, red)));
        const __m256 sum =
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r, kr), _mm256_mul_ps(g, kg)), _mm256_mul_ps(b, kb));
        _mm256_storeu_ps(dst + x, sum);
    }
    _mm256_zeroupper();
    return x;
}
#endif

// One row of toLuma.
void lumaRow(const FrameView& frame, int y, float* dst) {
    const std::uint8_t* row = framePixel(frame, 0, y);
    int x = 0;
#if CORVEX_HUD_AVX
    if (haveAvx())
        x = lumaRowAvx(row, dst, frame.width);
#endif
#if CORVEX_HUD_SSE2
    // Four pixels at a time, with the same products and sums as below.
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128 kr = _mm_set1_ps(0.299f);
    const __m128 kg = _mm_set1_ps(0.587f);
    const __m128 kb = _mm_set1_ps(0.114f);
    for (; x + 4 <= frame.width; x += 4) {
        __m128i px;
        std::memcpy(&px, row + 4 * static_cast<std::size_t>(x), sizeof px);
        const __m128 b = _mm_cvtepi32_ps(_mm_and_si128(px, byte));
        const __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 8), byte));
        const __m128 r = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 16), byte));
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, kr), _mm_mul_ps(g, kg)), _mm_mul_ps(b, kb));
        _mm_storeu_ps(dst + x, sum);
    }
#endif
    for (; x < frame.width; ++x) {
        const std::uint8_t* px = row + 4 * static_cast<std::size_t>(x);
        dst[x] = static_cast<float>(px[2]) * 0.299f + static_cast<float>(px[1]) * 0.587f +
                 static_cast<float>(px[0]) * 0.114f;
    }
}

} // namespace

void toLuma(const FrameView& frame, Plane& out) {
    if (!frame.valid()) {
        out.resize(0, 0);
        return;
    }
    out.reshape(frame.width, frame.height);
    for (int y = 0; y < frame.height; ++y)
        lumaRow(frame, y, out.pixels.data() + area(frame.width, y));
}

void toLuma(const FrameView& frame, std::vector<float>& out) {
    if (!frame.valid()) {
        out.clear();
        return;
    }
    out.resize(area(frame.width, frame.height));
    for (int y = 0; y < frame.height; ++y)
        lumaRow(frame, y, out.data() + area(frame.width, y));
}

Plane toLuma(const FrameView& frame) {
    Plane out;
    toLuma(frame, out);
    return out;
}

namespace {

#if CORVEX_HUD_AVX
// One full-height row of boxMean3 from its w >= 2 column sums `col`, four
// columns per step: the same double sums in the same order, so the floats
// are identical. A division would bound the loop; the quotient is taken as
// a product with the reciprocal instead, which lies within two units of the
// last place of the divided one. Both round to the same float unless a
// halfway point between two floats lies between them, and a double near
// such a point has the 29 bits that rounding to float drops near 2^28 (a
// one followed by zeros). Those bits of eight quotients are gathered into
// one register and compared, as floats (exact to 16 units at that size),
// with a margin far wider than the product's error; a group near halfway
// is divided.
CORVEX_HUD_TARGET_AVX void meanOfColumnsAvx(const double* __restrict col, float* __restrict dst, int w) {
    const double edge = 6.0;
    const __m256d inner = _mm256_set1_pd(9.0);
    const __m256d reciprocal = _mm256_set1_pd(1.0 / 9.0);
    const __m256d below = _mm256_set1_pd(1.0 - 0x1p-50);
    const __m256d above = _mm256_set1_pd(1.0 + 0x1p-50);
    const __m256 dropped = _mm256_castsi256_ps(_mm256_set1_epi32(0x1FFFFFFF));
    const __m256 halfway = _mm256_set1_ps(0x1p28f);
    const __m256 margin = _mm256_set1_ps(256.0f);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    dst[0] = static_cast<float>((col[0] + col[1]) / edge);
    int x = 1;
    for (; x + 8 <= w - 1; x += 8) {
        const __m256d sum0 =
            _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(col + x - 1), _mm256_loadu_pd(col + x)),
                          _mm256_loadu_pd(col + x + 1));
        const __m256d sum1 =
            _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(col + x + 3), _mm256_loadu_pd(col + x + 4)),
                          _mm256_loadu_pd(col + x + 5));
        const __m256d q0 = _mm256_mul_pd(sum0, reciprocal);
        const __m256d q1 = _mm256_mul_pd(sum1, reciprocal);
        // The low halves of the eight doubles hold the dropped bits.
        const __m256 low =
            _mm256_shuffle_ps(_mm256_castpd_ps(q0), _mm256_castpd_ps(q1), _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 bits = _mm256_cvtepi32_ps(_mm256_castps_si256(_mm256_and_ps(low, dropped)));
        const __m256 off = _mm256_and_ps(_mm256_sub_ps(bits, halfway), magnitude);
        if (_mm256_movemask_ps(_mm256_cmp_ps(off, margin, _CMP_NGT_UQ)) != 0) {
            _mm_storeu_ps(dst + x, _mm256_cvtpd_ps(_mm256_div_pd(sum0, inner)));
            _mm_storeu_ps(dst + x + 4, _mm256_cvtpd_ps(_mm256_div_pd(sum1, inner)));
        } else {
            _mm256_storeu_ps(dst + x, _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(q0)),
                                                           _mm256_cvtpd_ps(q1), 1));
        }
    }
    for (; x + 4 <= w - 1; x += 4) {
        const __m256d sum =
            _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(col + x - 1), _mm256_loadu_pd(col + x)),
                          _mm256_loadu_pd(col + x + 1));
        const __m256d q = _mm256_mul_pd(sum, reciprocal);
        const __m128 low = _mm256_cvtpd_ps(_mm256_mul_pd(q, below));
        const __m128 high = _mm256_cvtpd_ps(_mm256_mul_pd(q, above));
        __m128 mean = _mm256_cvtpd_ps(q);
        if (_mm_movemask_ps(_mm_cmpneq_ps(low, high)) != 0)
            mean = _mm256_cvtpd_ps(_mm256_div_pd(sum, inner));
        _mm_storeu_ps(dst + x, mean);
    }
    for (; x < w - 1; ++x)
        dst[x] = static_cast<float>((col[x - 1] + col[x] + col[x + 1]) / 9.0);
    dst[w - 1] = static_cast<float>((col[w - 2] + col[w - 1]) / edge);
    _mm256_zeroupper();
}

// One full-height row of boxMean3 (three rows summed, w >= 2).
CORVEX_HUD_TARGET_AVX void boxRowAvx(const float* __restrict a, const float* __restrict b,
                                     const float* __restrict c, double* __restrict col, float* __restrict dst,
                                     int w) {
    int x = 0;
    for (; x + 4 <= w; x += 4) {
        const __m256d s = _mm256_add_pd(
            _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(a + x)), _mm256_cvtps_pd(_mm_loadu_ps(b + x))),
            _mm256_cvtps_pd(_mm_loadu_ps(c + x)));
        _mm256_storeu_pd(col + x, s);
    }
    for (; x < w; ++x)
        col[x] = static_cast<double>(a[x]) + static_cast<double>(b[x]) + static_cast<double>(c[x]);
    meanOfColumnsAvx(col, dst, w);
}

// Two full-height rows of boxMean3, from input rows a, b, c and b, c, d
// (w >= 2; `col` holds 2w doubles). Sums of luma values are exact in
// double (see boxMean3), so the middle pair is added once for both rows
// and the column sums still equal those of boxRowAvx.
CORVEX_HUD_TARGET_AVX void boxPairAvx(const float* __restrict a, const float* __restrict b,
                                      const float* __restrict c, const float* __restrict d,
                                      double* __restrict col, float* __restrict dst0, float* __restrict dst1,
                                      int w) {
    double* __restrict col1 = col + w;
    int x = 0;
    CORVEX_HUD_UNROLL_TWICE
    for (; x + 4 <= w; x += 4) {
        const __m256d middle =
            _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(b + x)), _mm256_cvtps_pd(_mm_loadu_ps(c + x)));
        _mm256_storeu_pd(col + x, _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(a + x)), middle));
        _mm256_storeu_pd(col1 + x, _mm256_add_pd(middle, _mm256_cvtps_pd(_mm_loadu_ps(d + x))));
    }
    for (; x < w; ++x) {
        const double middle = static_cast<double>(b[x]) + static_cast<double>(c[x]);
        col[x] = static_cast<double>(a[x]) + middle;
        col1[x] = middle + static_cast<double>(d[x]);
    }
    meanOfColumnsAvx(col, dst0, w);
    meanOfColumnsAvx(col1, dst1, w);
}
#endif

} // namespace

namespace {

// One row of boxMean3 from the `rows` (1 to 3) input rows its window
// covers, a first; `col` holds w doubles.
void boxRow(const float* __restrict a, const float* __restrict b, const float* __restrict c, int rows, int w,
            double* __restrict col, float* __restrict dst) {
#if CORVEX_HUD_AVX
    if (rows == 3 && w >= 2 && haveAvx()) {
        boxRowAvx(a, b, c, col, dst, w);
        return;
    }
#endif
    if (rows == 3) {
        for (int x = 0; x < w; ++x)
            col[x] = static_cast<double>(a[x]) + static_cast<double>(b[x]) + static_cast<double>(c[x]);
    } else if (rows == 2) {
        for (int x = 0; x < w; ++x)
            col[x] = static_cast<double>(a[x]) + static_cast<double>(b[x]);
    } else {
        for (int x = 0; x < w; ++x)
            col[x] = static_cast<double>(a[x]);
    }
    if (w == 1) {
        dst[0] = static_cast<float>(col[0] / rows);
        return;
    }
    const double edge = 2.0 * rows;
    const double inner = 3.0 * rows;
    dst[0] = static_cast<float>((col[0] + col[1]) / edge);
    for (int x = 1; x < w - 1; ++x)
        dst[x] = static_cast<float>((col[x - 1] + col[x] + col[x + 1]) / inner);
    dst[w - 1] = static_cast<float>((col[w - 2] + col[w - 1]) / edge);
}

} // namespace

// The 3x3 sums are taken directly rather than from an integral image: for
// luma planes every value is a multiple of 2^-27 below 256, so the sums are
// exact in double either way and the results are identical, without a
// frame-sized table of doubles to write and read back.
void boxMean3(const Plane& in, Plane& out, std::vector<double>& sums) {
    if (in.empty() || in.pixels.size() < area(in.width, in.height)) {
        out.resize(0, 0);
        return;
    }
    const int w = in.width;
    const int h = in.height;
    sums.resize(static_cast<std::size_t>(w));
    out.reshape(w, h);
    for (int y = 0; y < h; ++y) {
        const int r0 = std::max(y - 1, 0);
        const int rows = std::min(y + 2, h) - r0;
        const float* a = in.pixels.data() + area(w, r0);
        const float* b = in.pixels.data() + area(w, r0 + std::min(1, rows - 1));
        const float* c = in.pixels.data() + area(w, r0 + std::min(2, rows - 1));
        boxRow(a, b, c, rows, w, sums.data(), out.pixels.data() + area(w, y));
    }
}

Plane boxMean3(const Plane& in) {
    Plane out;
    std::vector<double> sums;
    boxMean3(in, out, sums);
    return out;
}

void contrastRamp(const Plane& in, Plane& out) {
    out.reshape(in.width, in.height);
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        const float v = (in.pixels[i] - 14.0f) / 46.0f;
        out.pixels[i] = std::min(std::max(v, 0.0f), 1.0f);
    }
}

namespace {

#if CORVEX_HUD_AVX
// maskAbove for the first n - n % 16 values, eight to a comparison.
CORVEX_HUD_TARGET_AVX std::size_t maskAboveAvx(const float* values, std::size_t n, float level,
                                               std::uint8_t* out) {
    const __m256 at = _mm256_set1_ps(level);
    const __m128i one = _mm_set1_epi8(1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256 a = _mm256_cmp_ps(_mm256_loadu_ps(values + i), at, _CMP_GT_OQ);
        const __m256 b = _mm256_cmp_ps(_mm256_loadu_ps(values + i + 8), at, _CMP_GT_OQ);
        const __m128i lo = _mm_packs_epi32(_mm_castps_si128(_mm256_castps256_ps128(a)),
                                           _mm_castps_si128(_mm256_extractf128_ps(a, 1)));
        const __m128i hi = _mm_packs_epi32(_mm_castps_si128(_mm256_castps256_ps128(b)),
                                           _mm_castps_si128(_mm256_extractf128_ps(b, 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(_mm_packs_epi16(lo, hi), one));
    }
    _mm256_zeroupper();
    return i;
}
#endif

} // namespace

void maskAbove(const float* values, std::size_t n, float level, std::uint8_t* out) {
    std::size_t i = 0;
#if CORVEX_HUD_AVX
    if (haveAvx())
        i = maskAboveAvx(values, n, level, out);
#endif
#if CORVEX_HUD_SSE2
    // Sixteen at a time: the comparisons give all-ones lanes, which the
    // saturating packs keep as -1 bytes and the mask turns into 1.
    const __m128 at = _mm_set1_ps(level);
    const __m128i one = _mm_set1_epi8(1);
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_castps_si128(_mm_cmpgt_ps(_mm_loadu_ps(values + i), at));
        const __m128i b = _mm_castps_si128(_mm_cmpgt_ps(_mm_loadu_ps(values + i + 4), at));
        const __m128i c = _mm_castps_si128(_mm_cmpgt_ps(_mm_loadu_ps(values + i + 8), at));
        const __m128i d = _mm_castps_si128(_mm_cmpgt_ps(_mm_loadu_ps(values + i + 12), at));
        const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(bytes, one));
    }
#endif
    for (; i < n; ++i)
        out[i] = values[i] > level ? 1 : 0;
}

Plane contrastRamp(const Plane& in) {
    Plane out;
    contrastRamp(in, out);
    return out;
}

namespace {

#if CORVEX_HUD_AVX
// The ramp and the mask of prepareFrame for the first n - n % 16 pixels,
// with the same operations as its plain loop: max(0, v) and min(1, v) in
// these operand orders return what std::max and std::min do, NaN included.
CORVEX_HUD_TARGET_AVX std::size_t inkAndMaskAvx(const float* smooth, const float* opened, float* ink,
                                                std::uint8_t* mask, std::size_t n) {
    const __m256 low = _mm256_set1_ps(14.0f);
    const __m256 span = _mm256_set1_ps(46.0f);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 strong = _mm256_set1_ps(34.0f);
    const __m256 bright = _mm256_set1_ps(95.0f);
    const __m128i bit = _mm_set1_epi8(1);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i half[2];
        CORVEX_HUD_UNROLL
        for (std::size_t k = 0; k < 2; ++k) {
            const __m256 sm = _mm256_loadu_ps(smooth + i + 8 * k);
            const __m256 th = _mm256_sub_ps(sm, _mm256_loadu_ps(opened + i + 8 * k));
            const __m256 v = _mm256_div_ps(_mm256_sub_ps(th, low), span);
            _mm256_storeu_ps(ink + i + 8 * k, _mm256_min_ps(one, _mm256_max_ps(zero, v)));
            const __m256 set =
                _mm256_and_ps(_mm256_cmp_ps(th, strong, _CMP_GT_OQ), _mm256_cmp_ps(sm, bright, _CMP_GT_OQ));
            half[k] = _mm_packs_epi32(_mm_castps_si128(_mm256_castps256_ps128(set)),
                                      _mm_castps_si128(_mm256_extractf128_ps(set, 1)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mask + i),
                         _mm_and_si128(_mm_packs_epi16(half[0], half[1]), bit));
    }
    _mm256_zeroupper();
    return i;
}
#endif

} // namespace

namespace {

constexpr int kTopHatSize = 9;

// The ink and the mask of prepareFrame for n pixels from their smooth and
// opened values.
void inkAndMask(const float* __restrict smooth, const float* __restrict opened, float* __restrict ink,
                std::uint8_t* __restrict mask, std::size_t n) {
    std::size_t i = 0;
#if CORVEX_HUD_AVX
    if (haveAvx())
        i = inkAndMaskAvx(smooth, opened, ink, mask, n);
#endif
    for (; i < n; ++i) {
        const float th = smooth[i] - opened[i];
        ink[i] = std::min(std::max((th - 14.0f) / 46.0f, 0.0f), 1.0f);
        mask[i] = static_cast<std::uint8_t>((th > 34.0f) & (smooth[i] > 95.0f));
    }
}

// The luma, its box mean, the opening (erosion, then dilation) of that and
// the ink and mask from it, a few rows at a time: each stage keeps only the
// rows the next one still needs, in rings of rows that stay in cache, and
// only `smooth`, `ink` and `mask` are written whole. Whole-plane stages
// would each write a plane and read it back from memory, which costs more
// than their arithmetic.
//
// The window pick runs over padded rows as in erode and dilate: padded row
// j is the row pass of row j - r, or the neutral value for the r rows
// above and below the plane. Two output rows at a time share the 2r padded
// rows between their outermost ones. Minima and maxima do not depend on the
// order they are taken in, and a luma plane holds no NaN, so the results
// are those of the whole-plane stages.
//
// A stream makes the output rows [y0, y1) only, so that two threads can
// share a frame. It makes the 2r smooth rows either side of its band that
// the opening reaches too, but keeps those in its own ring: they belong to
// the other band, whose stream writes the same values there.
class FrameStream {
public:
    // y0 even: each band then pairs its output rows as the whole frame's
    // stream does, and r even keeps the pairs of eroded rows aligned.
    FrameStream(const FrameView& frame, FramePlanes& planes, int r, int y0, int y1, Plane& luma, Plane& tmpA,
                Plane& tmpB, std::vector<double>& sums)
        : frame_(frame), planes_(planes), w_(frame.width), h_(frame.height), r_(r), ring_(2 * r + 2), y0_(y0),
          y1_(y1), sums_(sums) {
        sums.resize(2 * static_cast<std::size_t>(w_));
        // The luma's ring, then that of the smooth rows outside the band.
        luma.reshape(w_, 8);
        // The erosion's ring and its pair of output rows.
        tmpA.reshape(w_, ring_ + 2);
        // The dilation's ring, its pair and the row pass's work space.
        const std::size_t work = 2 * static_cast<std::size_t>(w_ + 2 * r_);
        tmpB.reshape(static_cast<int>(area(w_, ring_ + 2) + work), 1);
        luma_ = luma.pixels.data();
        erodeRing_ = tmpA.pixels.data();
        eroded_[0] = erodeRing_ + area(w_, ring_);
        eroded_[1] = eroded_[0] + w_;
        dilateRing_ = tmpB.pixels.data();
        opened_[0] = dilateRing_ + area(w_, ring_);
        opened_[1] = opened_[0] + w_;
        work_ = opened_[1] + w_;
        // The first padded rows the band's output reads, and the smooth and
        // luma rows under them.
        dilateMade_ = y0;
        erodeMade_ = std::max(0, y0 - r);
        smoothMade_ = std::max(0, y0 - 2 * r);
        lumaMade_ = std::max(0, smoothMade_ - 1);
    }

    void run() {
        float* smooth = planes_.smooth.pixels.data();
        float* ink = planes_.ink.pixels.data();
        std::uint8_t* mask = planes_.mask.data();
        for (int y = y0_; y < y1_; y += 2) {
            makeDilateRows(std::min(y + ring_, h_ + 2 * r_));
            pickPair(dilateRing_, y, opened_, detail::maxPair);
            for (int k = 0; k < 2 && y + k < y1_; ++k) {
                const std::size_t at = area(w_, y + k);
                inkAndMask(smooth + at, opened_[k], ink + at, mask + at, static_cast<std::size_t>(w_));
            }
        }
    }

private:
    float* lumaSlot(int y) { return luma_ + area(w_, y % 4); }
    float* erodeSlot(int j) { return erodeRing_ + area(w_, j % ring_); }
    float* dilateSlot(int j) { return dilateRing_ + area(w_, j % ring_); }
    // Smooth rows outside the band live in a ring of four: each is read
    // once, right after it is made, and they are made two at a time.
    float* smoothRow(int y) {
        if (y >= y0_ && y < y1_)
            return planes_.smooth.pixels.data() + area(w_, y);
        return luma_ + area(w_, 4 + y % 4);
    }

    // Smooth rows below `upto`, each from the luma rows around it; inside
    // the plane two at a time, which the four rows of the luma ring serve.
    void makeSmoothRows(int upto) {
        for (; smoothMade_ < upto; ++smoothMade_) {
            const int y = smoothMade_;
#if CORVEX_HUD_AVX
            if (y >= 1 && y + 2 < h_ && w_ >= 2 && haveAvx()) {
                for (; lumaMade_ < y + 3; ++lumaMade_)
                    lumaRow(frame_, lumaMade_, lumaSlot(lumaMade_));
                boxPairAvx(lumaSlot(y - 1), lumaSlot(y), lumaSlot(y + 1), lumaSlot(y + 2), sums_.data(),
                           smoothRow(y), smoothRow(y + 1), w_);
                ++smoothMade_;
                continue;
            }
#endif
            for (const int need = std::min(y + 2, h_); lumaMade_ < need; ++lumaMade_)
                lumaRow(frame_, lumaMade_, lumaSlot(lumaMade_));
            const int r0 = std::max(y - 1, 0);
            const int rows = std::min(y + 2, h_) - r0;
            boxRow(lumaSlot(r0), lumaSlot(r0 + std::min(1, rows - 1)), lumaSlot(r0 + std::min(2, rows - 1)),
                   rows, w_, sums_.data(), smoothRow(y));
        }
    }

    void makeErodeRows(int upto) {
        for (; erodeMade_ < upto; ++erodeMade_) {
            const int j = erodeMade_;
            float* dst = erodeSlot(j);
            if (j < r_ || j >= h_ + r_) {
                std::fill(dst, dst + w_, std::numeric_limits<float>::infinity());
                continue;
            }
            makeSmoothRows(j - r_ + 1);
            detail::rowMin(smoothRow(j - r_), w_, r_, dst, work_);
        }
    }

    // Padded dilation rows below `upto`; eroded rows are made in pairs as
    // they are first needed.
    void makeDilateRows(int upto) {
        for (; dilateMade_ < upto; ++dilateMade_) {
            const int j = dilateMade_;
            float* dst = dilateSlot(j);
            if (j < r_ || j >= h_ + r_) {
                std::fill(dst, dst + w_, -std::numeric_limits<float>::infinity());
                continue;
            }
            const int e = j - r_;
            if (e % 2 == 0) {
                makeErodeRows(std::min(e + ring_, h_ + 2 * r_));
                pickPair(erodeRing_, e, eroded_, detail::minPair);
            }
            detail::rowMax(eroded_[e % 2], w_, r_, dst, work_);
        }
    }

    // Output rows y and y + 1 (the latter only inside the plane) from the
    // ring's padded rows y .. y + 2r + 1.
    void pickPair(const float* ring, int y, float* const* out,
                  void (*pick)(const float* const*, int, float*, float*, int)) {
        const float* rows[2 * kTopHatSize];
        const int count = 2 * r_ + 2;
        for (int k = 0; k < count; ++k)
            rows[k] = ring + area(w_, (y + k) % ring_);
        pick(rows, count, out[0], y + 1 < h_ ? out[1] : nullptr, w_);
    }

    const FrameView& frame_;
    FramePlanes& planes_;
    const int w_;
    const int h_;
    const int r_;
    const int ring_;
    const int y0_;
    const int y1_;
    std::vector<double>& sums_;
    float* luma_ = nullptr;
    float* erodeRing_ = nullptr;
    float* eroded_[2] = {};
    float* dilateRing_ = nullptr;
    float* opened_[2] = {};
    float* work_ = nullptr;
    int lumaMade_ = 0;
    int smoothMade_ = 0;
    int erodeMade_ = 0;
    int dilateMade_ = 0;
};

// Frames shorter than this are prepared on one thread: the rows the two
// bands would both make would cost more than the split saves.
constexpr int kMinSplitRows = 64;

struct LowerBand {
    const FrameView* frame;
    FramePlanes* planes;
    int r;
    int y0;

    static void run(void* context) {
        LowerBand& b = *static_cast<LowerBand*>(context);
        FrameBandScratch& s = b.planes->scratch.lower;
        FrameStream(*b.frame, *b.planes, b.r, b.y0, b.frame->height, s.luma, s.tmpA, s.tmpB, s.sums).run();
    }
};

} // namespace

void prepareFrame(const FrameView& frame, FramePlanes& planes) {
    prepareFrame(frame, planes, nullptr);
}

void prepareFrame(const FrameView& frame, FramePlanes& planes, HelperThread* helper) {
    FrameScratch& s = planes.scratch;
    planes.frame = frame;
    planes.ink2.resize(0, 0);
    planes.textBlobs.clear();
    planes.textBlobsReady = false;
    planes.maskBlobsReady = false;
    if (!frame.valid()) {
        planes.smooth.resize(0, 0);
        planes.ink.resize(0, 0);
        planes.mask.clear();
        return;
    }
    const int w = frame.width;
    const int h = frame.height;
    const std::size_t n = area(w, h);
    planes.smooth.reshape(w, h);
    planes.ink.reshape(w, h);
    planes.mask.resize(n);
    // erode and dilate narrow the window to the plane's larger side.
    const int r = std::min(kTopHatSize / 2, std::max(w, h));
    if (r == kTopHatSize / 2) {
        // The helper takes the lower half of the rows, a pair boundary.
        const int split = helper && h >= kMinSplitRows ? h / 2 / 2 * 2 : h;
        LowerBand lower{&frame, &planes, r, split};
        HelperTask task(split < h ? helper : nullptr, &LowerBand::run, &lower);
        FrameStream(frame, planes, r, 0, split, s.luma, s.tmpA, s.tmpB, s.sums).run();
        task.finish();
        return;
    }
    toLuma(frame, s.luma);
    boxMean3(s.luma, planes.smooth, s.sums);
    erode(planes.smooth, kTopHatSize, s.tmpA, s.tmpB);
    dilate(s.tmpA, kTopHatSize, s.luma, s.tmpB);
    inkAndMask(planes.smooth.pixels.data(), s.luma.pixels.data(), planes.ink.pixels.data(),
               planes.mask.data(), n);
}

} // namespace hud

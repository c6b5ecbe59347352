// Planes: luma, the 3x3 box mean, the contrast ramp and the frame preparation.
#include "hud/core/image.h"

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

void Plane::resize(int w, int h) {
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

bool FrameView::valid() const {
    return pixels != nullptr && sizeAcceptable(width, height) &&
           static_cast<std::int64_t>(stride) >= static_cast<std::int64_t>(width) * 4;
}

void toLuma(const FrameView& frame, Plane& out) {
    if (!frame.valid()) {
        out.resize(0, 0);
        return;
    }
    out.resize(frame.width, frame.height);
    for (int y = 0; y < frame.height; ++y) {
        const std::uint8_t* row = framePixel(frame, 0, y);
        float* dst = out.pixels.data() + area(frame.width, y);
        int x = 0;
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
            const __m128 sum =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, kr), _mm_mul_ps(g, kg)), _mm_mul_ps(b, kb));
            _mm_storeu_ps(dst + x, sum);
        }
#endif
        for (; x < frame.width; ++x) {
            const std::uint8_t* px = row + 4 * static_cast<std::size_t>(x);
            dst[x] = static_cast<float>(px[2]) * 0.299f + static_cast<float>(px[1]) * 0.587f +
                     static_cast<float>(px[0]) * 0.114f;
        }
    }
}

Plane toLuma(const FrameView& frame) {
    Plane out;
    toLuma(frame, out);
    return out;
}

namespace {

#if CORVEX_HUD_AVX
// One full-height row of boxMean3 (three rows summed, w >= 2), four columns
// per step: the same double sums in the same order and the same division,
// so the floats are identical; the divisions are what bound the plain loop.
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
    const double edge = 6.0;
    const __m256d inner = _mm256_set1_pd(9.0);
    dst[0] = static_cast<float>((col[0] + col[1]) / edge);
    x = 1;
    for (; x + 4 <= w - 1; x += 4) {
        const __m256d sum =
            _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(col + x - 1), _mm256_loadu_pd(col + x)),
                          _mm256_loadu_pd(col + x + 1));
        _mm_storeu_ps(dst + x, _mm256_cvtpd_ps(_mm256_div_pd(sum, inner)));
    }
    for (; x < w - 1; ++x)
        dst[x] = static_cast<float>((col[x - 1] + col[x] + col[x + 1]) / 9.0);
    dst[w - 1] = static_cast<float>((col[w - 2] + col[w - 1]) / edge);
    _mm256_zeroupper();
}
#endif

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
    out.resize(w, h);
    double* __restrict col = sums.data();
    for (int y = 0; y < h; ++y) {
        const int r0 = std::max(y - 1, 0);
        const int r1 = std::min(y + 2, h);
        const int rows = r1 - r0;
        const float* __restrict a = in.pixels.data() + area(w, r0);
        const float* __restrict b = in.pixels.data() + area(w, r0 + 1);
        const float* __restrict c = in.pixels.data() + area(w, r0 + 2);
        float* __restrict dst = out.pixels.data() + area(w, y);
#if CORVEX_HUD_AVX
        if (rows == 3 && w >= 2 && haveAvx()) {
            boxRowAvx(a, b, c, col, dst, w);
            continue;
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
            continue;
        }
        const double edge = 2.0 * rows;
        const double inner = 3.0 * rows;
        dst[0] = static_cast<float>((col[0] + col[1]) / edge);
        for (int x = 1; x < w - 1; ++x)
            dst[x] = static_cast<float>((col[x - 1] + col[x] + col[x + 1]) / inner);
        dst[w - 1] = static_cast<float>((col[w - 2] + col[w - 1]) / edge);
    }
}

Plane boxMean3(const Plane& in) {
    Plane out;
    std::vector<double> sums;
    boxMean3(in, out, sums);
    return out;
}

void contrastRamp(const Plane& in, Plane& out) {
    out.resize(in.width, in.height);
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        const float v = (in.pixels[i] - 14.0f) / 46.0f;
        out.pixels[i] = std::min(std::max(v, 0.0f), 1.0f);
    }
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

void prepareFrame(const FrameView& frame, FramePlanes& planes) {
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
    toLuma(frame, s.luma);
    boxMean3(s.luma, planes.smooth, s.sums);
    // The top-hat, its ramp and the mask in one sweep: the top-hat plane
    // itself is not kept.
    erode(planes.smooth, 9, s.tmpA, s.tmpB);
    dilate(s.tmpA, 9, s.luma, s.tmpB);
    const std::size_t n = planes.smooth.pixels.size();
    planes.ink.resize(planes.smooth.width, planes.smooth.height);
    planes.mask.resize(n);
    const float* __restrict smooth = planes.smooth.pixels.data();
    const float* __restrict opened = s.luma.pixels.data();
    float* __restrict ink = planes.ink.pixels.data();
    std::uint8_t* __restrict mask = planes.mask.data();
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

} // namespace hud

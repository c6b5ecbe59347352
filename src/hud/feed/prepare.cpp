#include "hud/feed/prepare.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace hud {

namespace {

// The opening's window: 9 x 9, as prepareFrame's top-hat takes it.
constexpr int kRadius = 4;
constexpr int kWindow = 2 * kRadius + 1;
// Rows are finished two at a time; their windows span ten rows.
constexpr int kRing = kWindow + 1;
// Below this size the window is clipped by the frame itself; such captures
// are too small to hold a feed row and go through prepareFrame.
constexpr int kMinSide = 2 * kWindow;

// The text mask's thresholds and the ink ramp, as prepareFrame has them.
constexpr float kRampLow = 14.0f;
constexpr float kRampSpan = 46.0f;
constexpr float kStrongTopHat = 34.0f;
constexpr float kBrightSmooth = 95.0f;

std::size_t rowStart(int w, int y) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
}

// Minimum and maximum. Luma from bytes is never NaN, so the order in which
// a window's values are picked does not change its pick.
struct Min {
    static float pick(float a, float b) { return b < a ? b : a; }
#if CORVEX_HUD_AVX
    static CORVEX_HUD_TARGET_AVX __m256 pick(__m256 a, __m256 b) {
        return _mm256_min_ps(b, a);
    }
#endif
};
struct Max {
    static float pick(float a, float b) { return b > a ? b : a; }
#if CORVEX_HUD_AVX
    static CORVEX_HUD_TARGET_AVX __m256 pick(__m256 a, __m256 b) {
        return _mm256_max_ps(b, a);
    }
#endif
};

#if CORVEX_HUD_AVX
template <typename Pick>
CORVEX_HUD_TARGET_AVX int pickShiftedAvx(const float* a, int shift, float* dst, int n) {
    int x = 0;
    for (; x + 8 <= n; x += 8)
        _mm256_storeu_ps(dst + x, Pick::pick(_mm256_loadu_ps(a + x), _mm256_loadu_ps(a + x + shift)));
    _mm256_zeroupper();
    return x;
}

// Two rows of a pick down the columns: the rows both windows share, picked
// once, then each output's own outer row where it has one.
template <typename Pick>
CORVEX_HUD_TARGET_AVX int pickPairAvx(const float* const* rows, int count, const float* outer0,
                                      const float* outer1, float* dst0, float* dst1, int n) {
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        __m256 v = _mm256_loadu_ps(rows[0] + x);
        for (int k = 1; k < count; ++k)
            v = Pick::pick(v, _mm256_loadu_ps(rows[k] + x));
        _mm256_storeu_ps(dst0 + x, outer0 ? Pick::pick(v, _mm256_loadu_ps(outer0 + x)) : v);
        if (dst1)
            _mm256_storeu_ps(dst1 + x, outer1 ? Pick::pick(v, _mm256_loadu_ps(outer1 + x)) : v);
    }
    _mm256_zeroupper();
    return x;
}

CORVEX_HUD_TARGET_AVX int inkAndMaskAvx(const float* smooth, const float* opened, float* ink,
                                        std::uint8_t* mask, int n) {
    const __m256 low = _mm256_set1_ps(kRampLow);
    const __m256 span = _mm256_set1_ps(kRampSpan);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 strong = _mm256_set1_ps(kStrongTopHat);
    const __m256 bright = _mm256_set1_ps(kBrightSmooth);
    const __m128i bit = _mm_set1_epi8(1);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i half[2];
        for (int k = 0; k < 2; ++k) {
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

// dst[x] = pick(a[x], a[x + shift]) for x < n.
template <typename Pick> void pickShifted(const float* a, int shift, float* dst, int n) {
    int x = 0;
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        x = pickShiftedAvx<Pick>(a, shift, dst, n);
#endif
    for (; x < n; ++x)
        dst[x] = Pick::pick(a[x], a[x + shift]);
}

template <typename Pick>
void pickPair(const float* const* rows, int count, const float* outer0, const float* outer1, float* dst0,
              float* dst1, int n) {
    int x = 0;
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        x = pickPairAvx<Pick>(rows, count, outer0, outer1, dst0, dst1, n);
#endif
    for (; x < n; ++x) {
        float v = rows[0][x];
        for (int k = 1; k < count; ++k)
            v = Pick::pick(v, rows[k][x]);
        dst0[x] = outer0 ? Pick::pick(v, outer0[x]) : v;
        if (dst1)
            dst1[x] = outer1 ? Pick::pick(v, outer1[x]) : v;
    }
}

// The pick over the 9 columns centred on each column of `src` (w of them),
// the columns beyond the row's ends left out: the row padded with the pick's
// neutral value, then doubling spans 1, 2, 4 and one overlapping step of 1.
template <typename Pick>
void pickAcross(const float* src, int w, float neutral, float* dst, FeedPrepScratch& s) {
    const int total = w + 2 * kRadius;
    float* a = s.rowA.data();
    float* b = s.rowB.data();
    std::fill(a, a + kRadius, neutral);
    std::copy(src, src + w, a + kRadius);
    std::fill(a + kRadius + w, a + total, neutral);
    pickShifted<Pick>(a, 1, b, total - 1);
    pickShifted<Pick>(b, 2, a, total - 3);
    pickShifted<Pick>(a, 4, b, total - 7);
    pickShifted<Pick>(b, 1, dst, w);
}

// The picks down the columns for rows y and y + 1 (when the plane has it),
// each over its rows within 4 of it, from a ring of kRing rows.
template <typename Pick>
void pickDownPair(const std::vector<float>& ring, int w, int h, int y, float* dst0, float* dst1) {
    auto ringRow = [&](int j) { return ring.data() + rowStart(w, j % kRing); };
    const float* rows[kWindow];
    int count = 0;
    for (int j = std::max(y - kRadius + 1, 0); j <= std::min(y + kRadius, h - 1); ++j)
        rows[count++] = ringRow(j);
    const bool second = y + 1 < h;
    const float* outer0 = y - kRadius >= 0 ? ringRow(y - kRadius) : nullptr;
    const float* outer1 = second && y + 1 + kRadius < h ? ringRow(y + 1 + kRadius) : nullptr;
    pickPair<Pick>(rows, count, outer0, outer1, dst0, second ? dst1 : nullptr, w);
}

void inkAndMask(const float* smooth, const float* opened, float* ink, std::uint8_t* mask, int n) {
    int i = 0;
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        i = inkAndMaskAvx(smooth, opened, ink, mask, n);
#endif
    for (; i < n; ++i) {
        const float th = smooth[i] - opened[i];
        ink[i] = std::min(std::max((th - kRampLow) / kRampSpan, 0.0f), 1.0f);
        mask[i] = static_cast<std::uint8_t>((th > kStrongTopHat) & (smooth[i] > kBrightSmooth));
    }
}

} // namespace

void prepareFeedPlanes(const FrameView& frame, FramePlanes& planes, FeedPrepScratch& s) {
    if (!frame.valid() || frame.width < kMinSide || frame.height < kMinSide) {
        prepareFrame(frame, planes);
        return;
    }
    FrameScratch& fs = planes.scratch;
    planes.frame = frame;
    planes.ink2.resize(0, 0);
    planes.textBlobs.clear();
    planes.textBlobsReady = false;
    planes.maskBlobsReady = false;
    toLuma(frame, fs.luma);
    boxMean3(fs.luma, planes.smooth, fs.sums);

    const int w = frame.width;
    const int h = frame.height;
    const std::size_t row = static_cast<std::size_t>(w);
    planes.ink.resize(w, h);
    planes.mask.resize(rowStart(w, h));
    s.rowA.resize(row + 2 * kRadius);
    s.rowB.resize(row + 2 * kRadius);
    s.eroded.resize(row * kRing);
    s.opened.resize(row * kRing);
    s.column.resize(2 * row);
    constexpr float kHigh = std::numeric_limits<float>::infinity();
    const float* smooth = planes.smooth.pixels.data();
    float* down0 = s.column.data();
    float* down1 = s.column.data() + row;
    // Rows j and j + 1 are eroded across as they come; rows j - 4 and j - 3
    // then have every row of their windows and are eroded down and dilated
    // across; rows j - 8 and j - 7 likewise are dilated down, which
    // completes their opening.
    for (int j = 0; j < h + 2 * kRadius; j += 2) {
        for (int i = j; i < std::min(j + 2, h); ++i)
            pickAcross<Min>(smooth + rowStart(w, i), w, kHigh, s.eroded.data() + rowStart(w, i % kRing), s);
        const int e = j - kRadius;
        if (e >= 0 && e < h) {
            pickDownPair<Min>(s.eroded, w, h, e, down0, down1);
            for (int i = e; i < std::min(e + 2, h); ++i)
                pickAcross<Max>(i == e ? down0 : down1, w, -kHigh, s.opened.data() + rowStart(w, i % kRing),
                                s);
        }
        const int d = j - 2 * kRadius;
        if (d >= 0 && d < h) {
            pickDownPair<Max>(s.opened, w, h, d, down0, down1);
            for (int i = d; i < std::min(d + 2, h); ++i)
                inkAndMask(smooth + rowStart(w, i), i == d ? down0 : down1,
                           planes.ink.pixels.data() + rowStart(w, i), planes.mask.data() + rowStart(w, i), w);
        }
    }
}

} // namespace hud

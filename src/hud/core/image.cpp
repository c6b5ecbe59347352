#include "hud/core/image.h"

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

std::size_t area(int w, int h) {
    return static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

bool sizeAcceptable(int w, int h) {
    return w > 0 && h > 0 && w <= kMaxFrameSide && h <= kMaxFrameSide &&
           static_cast<std::int64_t>(w) * h <= kMaxFramePixels;
}

struct PickMin {
    float operator()(float a, float b) const { return b < a ? b : a; }
#if CORVEX_HUD_AVX
    // minps(b, a) is b < a ? b : a, NaN included, like the scalar form.
    static CORVEX_HUD_TARGET_AVX __m256 avx(__m256 a, __m256 b) {
        return _mm256_min_ps(b, a);
    }
#endif
};
struct PickMax {
    float operator()(float a, float b) const { return b > a ? b : a; }
#if CORVEX_HUD_AVX
    static CORVEX_HUD_TARGET_AVX __m256 avx(__m256 a, __m256 b) {
        return _mm256_max_ps(b, a);
    }
#endif
};

#if CORVEX_HUD_AVX
template <typename Pick>
CORVEX_HUD_TARGET_AVX int pickSpanAvx(const float* a, const float* b, float* dst, int n) {
    int x = 0;
    for (; x + 8 <= n; x += 8)
        _mm256_storeu_ps(dst + x, Pick::avx(_mm256_loadu_ps(a + x), _mm256_loadu_ps(b + x)));
    _mm256_zeroupper();
    return x;
}
#endif

// dst[x] = pick(a[x], b[x]) for x < n. dst may be a or b, but must not
// overlap them at other offsets.
template <typename Pick> void pickSpan(const float* a, const float* b, float* dst, int n, Pick pick) {
    int x = 0;
#if CORVEX_HUD_AVX
    if (haveAvx())
        x = pickSpanAvx<Pick>(a, b, dst, n);
#endif
    for (; x < n; ++x)
        dst[x] = pick(a[x], b[x]);
}

// The window: its radius, the largest doubling span that fits it and the
// overlapping step that completes it.
struct MorphWindow {
    int r = 0;
    int span = 1;
    int rest = 0;
};

// Small windows, two output rows at a time: both share the 2r rows between
// their outermost ones, which are picked once into `common` while they are
// still in cache. The row pass runs just ahead into a ring of the 2r + 2 rows
// in use, so nothing frame-sized is written and read back in between. The
// plane is worked in strips of kStrip columns so that the ring stays in the
// first-level cache; each strip's row pass reads r columns either side of it,
// so every output takes the same picks over the same values as over the
// whole row.
template <typename Pick>
void morphSmall(const Plane& in, const MorphWindow& window, Plane& out, Plane& padded, Pick pick,
                float neutral) {
    const int w = in.width;
    const int h = in.height;
    const int r = window.r;
    const int span = window.span;
    const int rest = window.rest;
    std::vector<float> rowA(static_cast<std::size_t>(w + 2 * r));
    std::vector<float> rowB(static_cast<std::size_t>(w + 2 * r));
    constexpr int kStrip = 256;
    const int ring = 2 * r + 2;
    const int stripWidth = std::min(w, kStrip);
    padded.resize(stripWidth, ring);
    out.resize(w, h);
    const auto slot = [&](int j) { return padded.pixels.data() + area(stripWidth, j % ring); };
    for (int sx = 0; sx < w; sx += kStrip) {
        const int n = std::min(w - sx, kStrip);
        // Strip row j: padded row j over columns sx .. sx + n - 1.
        const auto makeStripRow = [&](int j, float* dst) {
            if (j < r || j >= h + r) {
                std::fill(dst, dst + n, neutral);
                return;
            }
            float* a = rowA.data(); // the free buffer
            float* b = rowB.data();
            const float* src = in.pixels.data() + area(w, j - r);
            // cur[t] holds input column sx + t - r, neutral outside; a
            // strip clear of the plane's sides reads the row in place.
            const int tot = n + 2 * r;
            const int from = std::max(r - sx, 0);
            const int to = std::min(tot, w - sx + r);
            const float* cur = src + sx - r + from;
            if (from > 0 || to < tot) {
                std::fill(a, a + from, neutral);
                std::copy(src + sx - r + from, src + sx - r + to, a + from);
                std::fill(a + to, a + tot, neutral);
                cur = a;
                std::swap(a, b);
            }
            for (int c = 1; c < span; c *= 2) {
                pickSpan(cur, cur + c, a, tot - c, pick);
                cur = a;
                std::swap(a, b);
            }
            if (rest > 0)
                pickSpan(cur, cur + rest, dst, n, pick);
            else
                std::copy(cur, cur + n, dst);
        };
        int made = 0;
        float* common = rowA.data();
        for (int y = 0; y < h; y += 2) {
            // Rows y .. y + 2r + 1; the two that come in take the slots
            // of rows y - 2 and y - 1, which are done with.
            for (const int upto = std::min(y + ring, h + 2 * r); made < upto; ++made)
                makeStripRow(made, slot(made));
            pickSpan(slot(y + 1), slot(y + 2), common, n, pick);
            for (int k = 3; k <= 2 * r; ++k)
                pickSpan(common, slot(y + k), common, n, pick);
            float* dst = out.pixels.data() + area(w, y) + sx;
            pickSpan(common, slot(y), dst, n, pick);
            if (y + 1 < h)
                pickSpan(common, slot(y + 2 * r + 1), dst + w, n, pick);
        }
    }
}

// Any window: the row pass into a plane padded by r rows above and below,
// then the doubling down the columns, row by row.
template <typename Pick>
void morphLarge(const Plane& in, const MorphWindow& window, Plane& out, Plane& padded, Pick pick,
                float neutral) {
    const int w = in.width;
    const int h = in.height;
    const int r = window.r;
    const int span = window.span;
    const int rest = window.rest;
    const int total = w + 2 * r;
    std::vector<float> rowA(static_cast<std::size_t>(total));
    std::vector<float> rowB(static_cast<std::size_t>(total));
    // Padded row j: neutral for the r rows above and below the plane, else
    // the row pass over input row j - r.
    const auto makeRow = [&](int j, float* dst) {
        if (j < r || j >= h + r) {
            std::fill(dst, dst + w, neutral);
            return;
        }
        float* a = rowA.data();
        float* b = rowB.data();
        const float* src = in.pixels.data() + area(w, j - r);
        std::fill(a, a + r, neutral);
        std::copy(src, src + w, a + r);
        std::fill(a + r + w, a + total, neutral);
        // After a step with shift c, a[x] is the pick over a[x .. x+2c-1].
        for (int c = 1; c < span; c *= 2) {
            pickSpan(a, a + c, b, total - c, pick);
            std::swap(a, b);
        }
        if (rest > 0)
            pickSpan(a, a + rest, dst, w, pick);
        else
            std::copy(a, a + w, dst);
    };

    padded.resize(w, h + 2 * r);
    for (int j = 0; j < h + 2 * r; ++j)
        makeRow(j, padded.pixels.data() + area(w, j));
    out.resize(w, h);
    const int rows = h + 2 * r;
    for (int c = 1; c < span; c *= 2) {
        for (int y = 0; y + c < rows; ++y) {
            float* dst = padded.pixels.data() + area(w, y);
            pickSpan(dst, dst + area(w, c), dst, w, pick);
        }
    }
    for (int y = 0; y < h; ++y) {
        const float* a = padded.pixels.data() + area(w, y);
        pickSpan(a, a + area(w, rest), out.pixels.data() + area(w, y), w, pick);
    }
}

// A clipped running minimum or maximum over a square window. A window clipped
// at the border equals one over a border padded with the neutral value, and a
// window of width 2r+1 is covered by doubling spans (1, 2, 4, ...) plus one
// overlapping step, so each pass costs a few operations per pixel whatever
// the window. Rows first, written into a plane padded by r rows above and
// below; then the same doubling down the columns, row by row so that the
// inner loops run over contiguous memory.
template <typename Pick>
void morph(const Plane& in, int size, Plane& out, Plane& padded, Pick pick, float neutral) {
    const int w = in.width;
    const int h = in.height;
    if (in.empty() || in.pixels.size() < area(w, h)) {
        out.resize(0, 0);
        return;
    }
    // A window wider than the plane picks over the whole plane either way.
    MorphWindow window;
    window.r = std::max(std::min(size / 2, std::max(w, h)), 0);
    const int win = 2 * window.r + 1;
    while (2 * window.span <= win)
        window.span *= 2;
    window.rest = win - window.span;
    if (window.r >= 1 && window.r <= 4 && in.pixels.data() != out.pixels.data())
        morphSmall(in, window, out, padded, pick, neutral);
    else
        morphLarge(in, window, out, padded, pick, neutral);
}

std::uint32_t findRoot(std::vector<std::uint32_t>& parent, std::uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// The first x at or after `x` whose mask byte is set (or `width`): text masks
// are mostly background, so whole words of zeros are stepped over at once.
int skipBackground(const std::uint8_t* row, int x, int width) {
    while (x + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        if (word != 0)
            break;
        x += 8;
    }
    while (x < width && !row[x])
        ++x;
    return x;
}

// The first x at or after `x` whose mask byte is clear (or `width`).
int skipForeground(const std::uint8_t* row, int x, int width) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    while (x + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        if (((word - kOnes) & ~word & kHighs) != 0) // some byte is zero
            break;
        x += 8;
    }
    while (x < width && row[x])
        ++x;
    return x;
}

double centreY(const Blob& b) {
    return (b.y0 + b.y1) / 2.0;
}

struct Row {
    int y0 = 0;
    int y1 = 0;
    std::vector<Blob> blobs;
    RowGeometry geometry;
};

// Upper medians of the members' y0 and y1.
RowGeometry measureRow(const std::vector<Blob>& blobs) {
    RowGeometry g;
    if (blobs.empty())
        return g;
    std::vector<int> tops;
    std::vector<int> bottoms;
    tops.reserve(blobs.size());
    bottoms.reserve(blobs.size());
    for (const Blob& b : blobs) {
        tops.push_back(b.y0);
        bottoms.push_back(b.y1);
    }
    std::sort(tops.begin(), tops.end());
    std::sort(bottoms.begin(), bottoms.end());
    g.top = tops[tops.size() / 2];
    g.bottom = bottoms[bottoms.size() / 2];
    g.height = g.bottom - g.top + 1.0;
    return g;
}

// Inclusion of the 0-weight taps is harmless, but a tap outside the plane must
// read 0 rather than memory.
inline float tap(const Plane& p, int x, int y) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height)
        return 0.0f;
    return p.pixels[area(p.width, y) + static_cast<std::size_t>(x)];
}

// A coordinate is worth sampling when one of its two taps can lie inside
// [0, limit); anything else (including NaN and values that would overflow
// the integer floor) samples 0.
inline bool sampleable(double v, int limit) {
    return v > -1.0 && v < static_cast<double>(limit);
}

struct Axis {
    int i = 0;
    float f = 0.0f;
    bool live = false; // at least one tap can be inside
};

inline Axis axisOf(double v, int limit) {
    Axis a;
    if (!sampleable(v, limit))
        return a;
    a.i = static_cast<int>(std::floor(v));
    a.f = static_cast<float>(v - a.i);
    a.live = true;
    return a;
}

inline float blend(const Plane& p, const Axis& ax, const Axis& ay) {
    if (!ax.live || !ay.live)
        return 0.0f;
    const float p00 = tap(p, ax.i, ay.i);
    const float p10 = tap(p, ax.i + 1, ay.i);
    const float p01 = tap(p, ax.i, ay.i + 1);
    const float p11 = tap(p, ax.i + 1, ay.i + 1);
    const float fx = ax.f;
    const float fy = ay.f;
    return ((1.0f - fx) * p00 + fx * p10) * (1.0f - fy) + ((1.0f - fx) * p01 + fx * p11) * fy;
}

bool finite(double v) {
    return std::isfinite(v);
}

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

void erode(const Plane& in, int size, Plane& out, Plane& tmp) {
    morph(in, size, out, tmp, PickMin{}, std::numeric_limits<float>::infinity());
}
void dilate(const Plane& in, int size, Plane& out, Plane& tmp) {
    morph(in, size, out, tmp, PickMax{}, -std::numeric_limits<float>::infinity());
}

Plane erode(const Plane& in, int size) {
    Plane out;
    Plane tmp;
    erode(in, size, out, tmp);
    return out;
}

Plane dilate(const Plane& in, int size) {
    Plane out;
    Plane tmp;
    dilate(in, size, out, tmp);
    return out;
}

void topHat(const Plane& in, int size, Plane& out, Plane& tmpA, Plane& tmpB) {
    if (in.empty()) {
        out.resize(0, 0);
        return;
    }
    erode(in, size, tmpA, tmpB);
    dilate(tmpA, size, out, tmpB);
    for (std::size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = in.pixels[i] - out.pixels[i];
}

Plane topHat(const Plane& in, int size) {
    Plane out;
    Plane a;
    Plane b;
    topHat(in, size, out, a, b);
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

// Runs of set pixels are labelled rather than pixels: a run touches a run of
// the row above when their spans, widened by one pixel for the diagonal
// neighbours, overlap. Both passes then cost per run, not per pixel, and
// the blobs come out in the raster order of their first pixel, which lies
// in their first run.
void labelComponents(const std::vector<std::uint8_t>& mask, int width, int height, std::vector<Blob>& out,
                     LabelScratch& scratch) {
    out.clear();
    if (!sizeAcceptable(width, height) || mask.size() < area(width, height))
        return;
    auto& runs = scratch.runs;
    auto& parent = scratch.parent;
    runs.clear();
    parent.clear();
    parent.push_back(0);

    const std::size_t w = static_cast<std::size_t>(width);
    std::size_t prevBegin = 0;
    std::size_t prevEnd = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = mask.data() + w * static_cast<std::size_t>(y);
        const std::size_t begin = runs.size();
        std::size_t above = prevBegin; // first run of the row above that may still touch
        int x = 0;
        for (;;) {
            x = skipBackground(row, x, width);
            if (x >= width)
                break;
            const int x0 = x;
            x = skipForeground(row, x, width);
            const int x1 = x - 1;
            while (above < prevEnd && runs[above].x1 < x0 - 1)
                ++above;
            std::uint32_t label = 0;
            for (std::size_t q = above; q < prevEnd && runs[q].x0 <= x1 + 1; ++q) {
                const std::uint32_t root = findRoot(parent, runs[q].label);
                if (label == 0) {
                    label = root;
                } else if (root < label) {
                    parent[label] = root;
                    label = root;
                } else if (label < root) {
                    parent[root] = label;
                }
            }
            if (label == 0) {
                label = static_cast<std::uint32_t>(parent.size());
                parent.push_back(label);
            }
            runs.push_back(LabelRun{x0, x1, y, label});
        }
        prevBegin = begin;
        prevEnd = runs.size();
    }

    auto& index = scratch.index;
    index.assign(parent.size(), -1);
    for (const LabelRun& run : runs) {
        int& slot = index[findRoot(parent, run.label)];
        if (slot < 0) {
            slot = static_cast<int>(out.size());
            Blob b;
            b.x0 = run.x0;
            b.x1 = run.x1;
            b.y0 = b.y1 = run.y;
            b.area = run.x1 - run.x0 + 1;
            out.push_back(b);
            continue;
        }
        Blob& b = out[static_cast<std::size_t>(slot)];
        b.x0 = std::min(b.x0, run.x0);
        b.x1 = std::max(b.x1, run.x1);
        b.y1 = std::max(b.y1, run.y);
        b.area += run.x1 - run.x0 + 1;
    }
}

std::vector<Blob> labelComponents(const std::vector<std::uint8_t>& mask, int width, int height) {
    std::vector<Blob> out;
    LabelScratch scratch;
    labelComponents(mask, width, height, out, scratch);
    return out;
}

namespace {

// The large components into rows, each joining the first row it overlaps
// by half its height.
std::vector<Row> rowsOf(const std::vector<const Blob*>& large) {
    std::vector<Row> rows;
    for (const Blob* b : large) {
        Row* home = nullptr;
        for (Row& row : rows) {
            const int overlap = std::min(b->y1, row.y1) - std::max(b->y0, row.y0);
            const int span = std::min(b->y1 - b->y0, row.y1 - row.y0);
            if (overlap >= 0.5 * span) {
                home = &row;
                break;
            }
        }
        if (home) {
            home->blobs.push_back(*b);
        } else {
            Row row;
            row.y0 = b->y0;
            row.y1 = b->y1;
            row.blobs.push_back(*b);
            rows.push_back(std::move(row));
        }
    }
    for (Row& row : rows)
        row.geometry = measureRow(row.blobs);
    return rows;
}

// Rows whose tops and bottoms agree within 0.3 of a height are one row.
void mergeRows(std::vector<Row>& rows) {
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t i = 0; i < rows.size() && !merged; ++i) {
            for (std::size_t j = i + 1; j < rows.size() && !merged; ++j) {
                const RowGeometry& gi = rows[i].geometry;
                const RowGeometry& gj = rows[j].geometry;
                const double bound = 0.3 * std::min(gi.height, gj.height);
                if (std::abs(gi.top - gj.top) <= bound && std::abs(gi.bottom - gj.bottom) <= bound) {
                    Row& keep = rows[i];
                    keep.blobs.insert(keep.blobs.end(), rows[j].blobs.begin(), rows[j].blobs.end());
                    keep.y0 = std::min(keep.y0, rows[j].y0);
                    keep.y1 = std::max(keep.y1, rows[j].y1);
                    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(j));
                    keep.geometry = measureRow(keep.blobs);
                    merged = true;
                }
            }
        }
    }
}

// A row's components left to right, those overlapping by more than half the
// narrower one's width joined into one.
std::vector<Blob> joinOverlaps(std::vector<Blob>& blobs) {
    std::stable_sort(blobs.begin(), blobs.end(), [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });
    std::vector<Blob> kept;
    kept.reserve(blobs.size());
    for (const Blob& b : blobs) {
        if (!kept.empty()) {
            Blob& last = kept.back();
            const int overlap = std::min(last.x1, b.x1) - std::max(last.x0, b.x0);
            if (overlap > 0.5 * std::min(last.width(), b.width())) {
                last.x0 = std::min(last.x0, b.x0);
                last.y0 = std::min(last.y0, b.y0);
                last.x1 = std::max(last.x1, b.x1);
                last.y1 = std::max(last.y1, b.y1);
                last.area += b.area;
                continue;
            }
        }
        kept.push_back(b);
    }
    return kept;
}

} // namespace

std::vector<std::vector<Blob>> groupRows(const std::vector<Blob>& blobs, std::vector<RowGeometry>* geometry) {
    std::vector<const Blob*> large;
    std::vector<const Blob*> small;
    for (const Blob& b : blobs)
        (b.height() < 10 ? small : large).push_back(&b);
    std::stable_sort(large.begin(), large.end(), [](const Blob* a, const Blob* b) {
        const double ca = centreY(*a);
        const double cb = centreY(*b);
        if (ca != cb)
            return ca < cb;
        return a->x0 < b->x0;
    });
    std::vector<Row> rows = rowsOf(large);
    mergeRows(rows);

    // Small marks (dots, accents) join the row they sit in or just under.
    for (const Blob* mark : small) {
        const double cy = centreY(*mark);
        for (Row& row : rows) {
            const RowGeometry& g = row.geometry;
            if (cy >= g.top - 0.2 * g.height && cy <= g.bottom + 0.45 * g.height) {
                row.blobs.push_back(*mark);
                break;
            }
        }
    }

    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.geometry.top < b.geometry.top; });
    std::vector<std::vector<Blob>> result;
    result.reserve(rows.size());
    if (geometry)
        geometry->clear();
    for (Row& row : rows) {
        result.push_back(joinOverlaps(row.blobs));
        if (geometry)
            geometry->push_back(row.geometry);
    }
    return result;
}

float sampleBilinear(const Plane& p, double x, double y) {
    if (p.empty())
        return 0.0f;
    return blend(p, axisOf(x, p.width), axisOf(y, p.height));
}

void sampleMoneyCell(const Plane& p, double cx, double top, double bottom, double lineHeight, float* out) {
    const double left = cx - 0.45 * lineHeight;
    const double stepX = 0.9 * lineHeight / kMoneyCellColumns;
    const double upper = top - 0.3 * lineHeight;
    const double stepY = (bottom - top + 0.6 * lineHeight) / kMoneyCellRows;
    Axis cols[kMoneyCellColumns];
    bool inside = !p.empty();
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        cols[j] = p.empty() ? Axis{} : axisOf(left + j * stepX, p.width);
        inside = inside && cols[j].live && cols[j].i >= 0 && cols[j].i + 1 < p.width;
    }
    for (int i = 0; i < kMoneyCellRows; ++i) {
        float* dst = out + i * kMoneyCellColumns;
        const Axis ay = p.empty() ? Axis{} : axisOf(upper + i * stepY, p.height);
        if (inside && ay.live && ay.i >= 0 && ay.i + 1 < p.height) {
            // Whole row inside: no tap needs a bounds check.
            const float* r0 = p.pixels.data() + area(p.width, ay.i);
            const float* r1 = r0 + p.width;
            const float fy = ay.f;
            for (int j = 0; j < kMoneyCellColumns; ++j) {
                const int x = cols[j].i;
                const float fx = cols[j].f;
                dst[j] = ((1.0f - fx) * r0[x] + fx * r0[x + 1]) * (1.0f - fy) +
                         ((1.0f - fx) * r1[x] + fx * r1[x + 1]) * fy;
            }
        } else {
            for (int j = 0; j < kMoneyCellColumns; ++j)
                dst[j] = blend(p, cols[j], ay);
        }
    }
}

void sampleGlyphCell(const Plane& p, const Blob& blob, double top, double bottom, double lineHeight,
                     float* out) {
    std::fill(out, out + kGlyphCellLength, 0.0f);
    const double m = 0.35 * lineHeight;
    const double yaD = std::round(top - m);
    const double ybD = std::round(bottom + m);
    constexpr double kLimit = 1e8; // keeps the integer arithmetic below exact and in range
    if (!finite(yaD) || !finite(ybD) || std::abs(yaD) > kLimit || std::abs(ybD) > kLimit)
        return;
    const std::int64_t ya = static_cast<std::int64_t>(yaD);
    const std::int64_t span = static_cast<std::int64_t>(ybD) - ya + 1;
    const std::int64_t xa = static_cast<std::int64_t>(blob.x0) - 1;
    const std::int64_t xb = static_cast<std::int64_t>(blob.x1) + 1;
    const std::int64_t bw = xb - xa + 1;
    if (span < 1 || bw < 1)
        return;
    const double colsD = std::round(32.0 / static_cast<double>(span) * static_cast<double>(bw));
    const int cols = static_cast<int>(std::min(std::max(colsD, 1.0), 32.0));
    const int offset = (kGlyphCellSide - cols) / 2;
    const double stepX = static_cast<double>(bw) / cols;
    const double stepY = static_cast<double>(span) / kGlyphCellSide;
    const double lo = static_cast<double>(xa) - 0.5;
    const double hi = static_cast<double>(xb) + 0.5;
    Axis colAxes[kGlyphCellSide];
    bool colOk[kGlyphCellSide];
    for (int j = 0; j < cols; ++j) {
        const double x = (j + 0.5) * stepX + static_cast<double>(xa) - 0.5;
        colOk[j] = x >= lo && x <= hi;
        colAxes[j] = p.empty() ? Axis{} : axisOf(x, p.width);
    }
    for (int i = 0; i < kGlyphCellSide; ++i) {
        const double y = (i + 0.5) * stepY + static_cast<double>(ya) - 0.5;
        const Axis ay = p.empty() ? Axis{} : axisOf(y, p.height);
        float* dst = out + i * kGlyphCellSide + offset;
        for (int j = 0; j < cols; ++j)
            if (colOk[j])
                dst[j] = blend(p, colAxes[j], ay);
    }
}

// The sums run in four interleaved partial sums: the additions are
// independent, so the loops are not bound by the latency of one chain. The
// centring and the squares share one pass, and the scaling multiplies by the
// reciprocal of the norm: a division per element would cost more than the
// rest together, and the product rounds to the same float but for a
// vanishingly rare last bit.
void normalizeVector(float* v, std::size_t n) {
    if (n == 0 || !v)
        return;
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

namespace {

#if CORVEX_HUD_AVX
// normalizeVector for K vectors side by side. Each vector's four partial
// sums sit in the lanes of one 256-bit register and take the same additions
// in the same order as part[0..3] and sq[0..3] there, so every result is
// bit-identical; the gain is that K independent chains of additions overlap
// instead of each vector waiting on the latency of its own.
template <int K> CORVEX_HUD_TARGET_AVX void normalizeGroupAvx(float* const* v, std::size_t n) {
    const std::size_t body = n & ~static_cast<std::size_t>(3);
    __m256d acc[K];
    for (int q = 0; q < K; ++q)
        acc[q] = _mm256_setzero_pd();
    for (std::size_t i = 0; i < body; i += 4)
        for (int q = 0; q < K; ++q)
            acc[q] = _mm256_add_pd(acc[q], _mm256_cvtps_pd(_mm_loadu_ps(v[q] + i)));
    double mean[K];
    for (int q = 0; q < K; ++q) {
        double part[4];
        _mm256_storeu_pd(part, acc[q]);
        for (std::size_t i = body; i < n; ++i)
            part[0] += static_cast<double>(v[q][i]);
        mean[q] = ((part[0] + part[1]) + (part[2] + part[3])) / static_cast<double>(n);
    }

    __m256d m[K];
    for (int q = 0; q < K; ++q) {
        m[q] = _mm256_set1_pd(mean[q]);
        acc[q] = _mm256_setzero_pd();
    }
    for (std::size_t i = 0; i < body; i += 4)
        for (int q = 0; q < K; ++q) {
            const __m128 c = _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(v[q] + i)), m[q]));
            _mm_storeu_ps(v[q] + i, c);
            const __m256d d = _mm256_cvtps_pd(c);
            acc[q] = _mm256_add_pd(acc[q], _mm256_mul_pd(d, d));
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
        for (std::size_t i = 0; i < body; i += 4)
            _mm_storeu_ps(x + i, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(x + i)), r)));
        for (std::size_t i = body; i < n; ++i)
            x[i] = static_cast<float>(static_cast<double>(x[i]) * inv[q]);
    }
    _mm256_zeroupper();
}
#endif

} // namespace

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

} // namespace

// Single precision in eight interleaved partial sums, which the compiler can
// keep in two vector registers; the cells are short enough (720 or 1024
// values of magnitude below 1) that the order of the additions changes the
// result only in its last bits.
float dot(const float* a, const float* b, std::size_t n) {
    float part[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::size_t k = 0; k < 8; ++k)
            part[k] += a[i + k] * b[i + k];
    const float sum =
        ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
    return addTail(sum, a, b, n);
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
    for (; i + 8 <= n; i += 8) {
        const __m256 x = _mm256_loadu_ps(a + i);
        s0 = _mm256_add_ps(s0, _mm256_mul_ps(x, _mm256_loadu_ps(b0 + i)));
        s1 = _mm256_add_ps(s1, _mm256_mul_ps(x, _mm256_loadu_ps(b1 + i)));
        s2 = _mm256_add_ps(s2, _mm256_mul_ps(x, _mm256_loadu_ps(b2 + i)));
        s3 = _mm256_add_ps(s3, _mm256_mul_ps(x, _mm256_loadu_ps(b3 + i)));
    }
    float part[4][8];
    _mm256_storeu_ps(part[0], s0);
    _mm256_storeu_ps(part[1], s1);
    _mm256_storeu_ps(part[2], s2);
    _mm256_storeu_ps(part[3], s3);
    _mm256_zeroupper();
    for (int q = 0; q < 4; ++q) {
        const float* p = part[q];
        float sum = ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
        out[q] = addTail(sum, a, b[q], n);
    }
}

// Eight at once: with four, each step still waits on the latency of its
// additions; eight chains keep the adders busy. Same lanes, same order.
CORVEX_HUD_TARGET_AVX void dot8Avx(const float* a, const float* const* b, std::size_t n, float* out) {
    __m256 s[8];
    for (int q = 0; q < 8; ++q)
        s[q] = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 x = _mm256_loadu_ps(a + i);
        for (int q = 0; q < 8; ++q)
            s[q] = _mm256_add_ps(s[q], _mm256_mul_ps(x, _mm256_loadu_ps(b[q] + i)));
    }
    float part[8][8];
    for (int q = 0; q < 8; ++q)
        _mm256_storeu_ps(part[q], s[q]);
    _mm256_zeroupper();
    for (int q = 0; q < 8; ++q) {
        const float* p = part[q];
        float sum = ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7]));
        out[q] = addTail(sum, a, b[q], n);
    }
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

void classifyGlyphs(const float* const* cells, std::size_t count, const detail::Templates& glyphs,
                    std::string_view charset, GlyphClass* out) {
    for (std::size_t q = 0; q < count; ++q)
        out[q] = GlyphClass{};
    // Four glyph cells and a template (20 KiB) stay in the first-level
    // cache while the templates are read; eight cells do not, and then every
    // template pass reloads them from further out. The block is copied to
    // 32-byte aligned storage first: unaligned loads that straddle cache
    // lines cost the dot products about a tenth more.
    constexpr std::size_t kBlock = 4;
    constexpr auto n = static_cast<std::size_t>(kGlyphCellLength);
    alignas(32) float local[kBlock][kGlyphCellLength];
    for (std::size_t k = 0; k < count; k += kBlock) {
        const std::size_t m = std::min(kBlock, count - k);
        const float* block[kBlock];
        for (std::size_t q = 0; q < m; ++q) {
            std::copy(cells[k + q], cells[k + q] + n, local[q]);
            block[q] = local[q];
        }
        // Each template is read once for the block and scored with the same
        // dot products bestTemplateScore takes, in the same order; every
        // cell sees the characters in the order of the charset.
        for (char c : charset) {
            const detail::TemplateList* list = glyphs.find(c);
            if (!list)
                continue;
            float best[kBlock];
            std::fill(best, best + kBlock, kNoScore);
            for (const detail::Template& t : *list) {
                if (t.size() < n)
                    continue;
                float s[kBlock];
                dotMany(t.data(), block, m, n, s);
                for (std::size_t q = 0; q < m; ++q)
                    if (s[q] > best[q])
                        best[q] = s[q];
            }
            for (std::size_t q = 0; q < m; ++q) {
                GlyphClass& r = out[k + q];
                const float sc = best[q];
                if (sc > r.score) {
                    r.second = r.score;
                    r.score = sc;
                    r.character = c;
                } else if (sc > r.second) {
                    r.second = sc;
                }
            }
        }
    }
}

double medianInt(std::vector<int> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    if (n % 2 == 1)
        return v[n / 2];
    return (static_cast<double>(v[n / 2 - 1]) + static_cast<double>(v[n / 2])) / 2.0;
}

} // namespace hud

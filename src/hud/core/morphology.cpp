// Grey-level erosion and dilation with separable flat windows, and the top-hat.
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
    padded.reshape(stripWidth, ring);
    out.reshape(w, h);
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

    padded.reshape(w, h + 2 * r);
    for (int j = 0; j < h + 2 * r; ++j)
        makeRow(j, padded.pixels.data() + area(w, j));
    out.reshape(w, h);
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

#if CORVEX_HUD_AVX
// The 9-wide window's pick at the eight columns from `a`, whose 16 values
// from there on it reads: written out as a tree, since the compiler keeps a
// loop over the taps, and a chain would wait on each pick in turn.
template <typename Pick> CORVEX_HUD_TARGET_AVX inline __m256 window9Avx(const float* a) {
    const __m256 p = Pick::avx(_mm256_loadu_ps(a), _mm256_loadu_ps(a + 1));
    const __m256 q = Pick::avx(_mm256_loadu_ps(a + 2), _mm256_loadu_ps(a + 3));
    const __m256 s = Pick::avx(_mm256_loadu_ps(a + 4), _mm256_loadu_ps(a + 5));
    const __m256 t = Pick::avx(_mm256_loadu_ps(a + 6), _mm256_loadu_ps(a + 7));
    return Pick::avx(Pick::avx(Pick::avx(p, q), Pick::avx(s, t)), _mm256_loadu_ps(a + 8));
}

// rowPass for r = 4 and w >= 8 over the row padded with four neutral values
// either side (`padded`, w + 8 floats): each output's nine values are picked
// in registers, without the doubling passes' stores. A last partial block
// is done again from w - 8.
template <typename Pick> CORVEX_HUD_TARGET_AVX void window9RowAvx(const float* padded, int w, float* dst) {
    int x = 0;
    for (; x + 8 <= w; x += 8)
        _mm256_storeu_ps(dst + x, window9Avx<Pick>(padded + x));
    if (x < w)
        _mm256_storeu_ps(dst + w - 8, window9Avx<Pick>(padded + w - 8));
    _mm256_zeroupper();
}

// window9RowAvx straight from the unpadded row (w >= 16): only the eight
// outputs at either end, whose windows reach past the row, are taken from a
// short padded copy of its end, so the row is not copied whole first.
template <typename Pick>
CORVEX_HUD_TARGET_AVX void window9RowInPlaceAvx(const float* src, int w, float* dst, float neutral) {
    float end[20];
    std::fill(end, end + 4, neutral);
    std::copy(src, src + 16, end + 4);
    _mm256_storeu_ps(dst, window9Avx<Pick>(end));
    int x = 8;
    CORVEX_HUD_UNROLL_TWICE
    for (; x + 12 <= w; x += 8)
        _mm256_storeu_ps(dst + x, window9Avx<Pick>(src + x - 4));
    if (x < w - 8)
        _mm256_storeu_ps(dst + w - 12, window9Avx<Pick>(src + w - 16));
    std::copy(src + w - 16, src + w, end);
    std::fill(end + 16, end + 20, neutral);
    _mm256_storeu_ps(dst + w - 8, window9Avx<Pick>(end + 4));
    _mm256_zeroupper();
}
#endif

// The pick over the 2r + 1 window along one row, clipped at its ends, by the
// doubling spans of morphLarge's row pass, or for the frame's 9-wide window
// directly. The values are the same either way: minima and maxima do not
// depend on the order they are taken in for values without NaN and without
// both zeros, which is all the planes hold.
template <typename Pick>
void rowPass(const float* src, int w, int r, float* dst, float* work, Pick pick, float neutral) {
    const int total = w + 2 * r;
    const int win = 2 * r + 1;
    int span = 1;
    while (2 * span <= win)
        span *= 2;
    const int rest = win - span;
#if CORVEX_HUD_AVX
    if (r == 4 && w >= 16 && haveAvx()) {
        window9RowInPlaceAvx<Pick>(src, w, dst, neutral);
        return;
    }
#endif
    float* a = work;
    float* b = work + total;
    std::fill(a, a + r, neutral);
    std::copy(src, src + w, a + r);
    std::fill(a + r + w, a + total, neutral);
#if CORVEX_HUD_AVX
    if (r == 4 && w >= 8 && haveAvx()) {
        window9RowAvx<Pick>(a, w, dst);
        return;
    }
#endif
    for (int c = 1; c < span; c *= 2) {
        pickSpan(a, a + c, b, total - c, pick);
        std::swap(a, b);
    }
    if (rest > 0)
        pickSpan(a, a + rest, dst, w, pick);
    else
        std::copy(a, a + w, dst);
}

#if CORVEX_HUD_AVX
// pickPair below, eight columns at a time with the common pick kept in a
// register: one load per row and one store per output instead of a load,
// load and store per pick.
template <typename Pick>
CORVEX_HUD_TARGET_AVX int pickPairAvx(const float* const* rows, int count, float* out0, float* out1, int n) {
    int x = 0;
    if (count == 10) {
        // The frame's 9-high window, written out as a tree: the compiler
        // keeps a loop over the rows, reloading each row's pointer.
        const float* r0 = rows[0];
        const float* r1 = rows[1];
        const float* r2 = rows[2];
        const float* r3 = rows[3];
        const float* r4 = rows[4];
        const float* r5 = rows[5];
        const float* r6 = rows[6];
        const float* r7 = rows[7];
        const float* r8 = rows[8];
        const float* r9 = rows[9];
        CORVEX_HUD_UNROLL_TWICE
        for (; x + 8 <= n; x += 8) {
            const __m256 a = Pick::avx(_mm256_loadu_ps(r1 + x), _mm256_loadu_ps(r2 + x));
            const __m256 b = Pick::avx(_mm256_loadu_ps(r3 + x), _mm256_loadu_ps(r4 + x));
            const __m256 c = Pick::avx(_mm256_loadu_ps(r5 + x), _mm256_loadu_ps(r6 + x));
            const __m256 d = Pick::avx(_mm256_loadu_ps(r7 + x), _mm256_loadu_ps(r8 + x));
            const __m256 common = Pick::avx(Pick::avx(a, b), Pick::avx(c, d));
            _mm256_storeu_ps(out0 + x, Pick::avx(common, _mm256_loadu_ps(r0 + x)));
            if (out1)
                _mm256_storeu_ps(out1 + x, Pick::avx(common, _mm256_loadu_ps(r9 + x)));
        }
        _mm256_zeroupper();
        return x;
    }
    for (; x + 8 <= n; x += 8) {
        __m256 common = Pick::avx(_mm256_loadu_ps(rows[1] + x), _mm256_loadu_ps(rows[2] + x));
        for (int k = 3; k < count - 1; ++k)
            common = Pick::avx(common, _mm256_loadu_ps(rows[k] + x));
        _mm256_storeu_ps(out0 + x, Pick::avx(common, _mm256_loadu_ps(rows[0] + x)));
        if (out1)
            _mm256_storeu_ps(out1 + x, Pick::avx(common, _mm256_loadu_ps(rows[count - 1] + x)));
    }
    _mm256_zeroupper();
    return x;
}
#endif

// out0 = the pick over rows[0 .. count - 2], out1 (unless null) over
// rows[1 .. count - 1], for n columns; count >= 4.
template <typename Pick>
void pickPair(const float* const* rows, int count, float* out0, float* out1, int n, Pick pick) {
    int x = 0;
#if CORVEX_HUD_AVX
    if (haveAvx())
        x = pickPairAvx<Pick>(rows, count, out0, out1, n);
#endif
    for (; x < n; ++x) {
        float common = pick(rows[1][x], rows[2][x]);
        for (int k = 3; k < count - 1; ++k)
            common = pick(common, rows[k][x]);
        out0[x] = pick(common, rows[0][x]);
        if (out1)
            out1[x] = pick(common, rows[count - 1][x]);
    }
}

} // namespace

namespace detail {

void minPair(const float* const* rows, int count, float* out0, float* out1, int n) {
    pickPair(rows, count, out0, out1, n, PickMin{});
}
void maxPair(const float* const* rows, int count, float* out0, float* out1, int n) {
    pickPair(rows, count, out0, out1, n, PickMax{});
}

void rowMin(const float* src, int w, int r, float* dst, float* work) {
    rowPass(src, w, r, dst, work, PickMin{}, std::numeric_limits<float>::infinity());
}
void rowMax(const float* src, int w, int r, float* dst, float* work) {
    rowPass(src, w, r, dst, work, PickMax{}, -std::numeric_limits<float>::infinity());
}

} // namespace detail

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
    // The working planes are kept per thread: the HUD pass asks for a band's
    // top-hat on every frame, and fresh ones would be zeroed each time only
    // to be written over.
    thread_local Plane a;
    thread_local Plane b;
    topHat(in, size, out, a, b);
    return out;
}

} // namespace hud

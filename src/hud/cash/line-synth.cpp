#include "hud/cash/line-synth.h"

#include "hud/cash/lines-internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace hud::reward {

namespace {

// The characters a figure or amount is set in, in the order of their glyphs
// here.
constexpr char kSetChars[] = "+$0123456789,XP";
constexpr int kSetCount = 15;
constexpr int kPlus = 0;
constexpr int kDollar = 1;
constexpr int kComma = 12;
constexpr int kX = 13;
constexpr int kP = 14;

int digitIndex(int d) {
    return 2 + d;
}

// The figures' own advances, in line heights.
double advanceOf(int c) {
    switch (kSetChars[c]) {
    case '+':
        return 0.75;
    case '$':
        return 0.86;
    case '1':
        return 0.5;
    case '7':
        return 0.8;
    default:
        return 0.833;
    }
}

// What the reader does not know of the frame: the line height (the balance
// measured on blurred digits comes out a little off, and the figure's place
// with it), the row's height in the capture, and how soft the capture is
// (the frame's own size decides how far it was scaled up).
constexpr double kScales[] = {0.95, 1.0, 1.05};
constexpr double kRises[] = {-0.75, 0.0, 0.75};
constexpr double kSigmas[] = {1.0, 1.6, 2.3};
// Besides those, the smallest frames' own pixels: a 720-line frame reaches
// the capture scaled up three times, each of its pixels a soft square whose
// grid the glyphs' strokes fall on or between; blurred a little or not.
constexpr double kGridBlurs[] = {0.0, 0.45}; // in frame pixels
constexpr int kGridBlurCount = 2;
constexpr double kSmallFrameScale = 907.0 / (0.42 * 720.0);
constexpr double kSmallFrameLeft = 1280.0 - 0.42 * 720.0;
constexpr double kShifts[] = {-1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5};
constexpr int kScaleCount = 3;
constexpr int kRiseCount = 3;
constexpr int kSigmaCount = 3;
constexpr int kSoftnesses = kSigmaCount + kGridBlurCount;
constexpr int kSettings = kScaleCount * kRiseCount * kSoftnesses;
// Glyphs are placed to a quarter of a capture pixel.
constexpr int kPhases = 4;
// On the small frames' grid a glyph's place within its frame pixel counts too.
constexpr int kGridPeriod = 3;
constexpr int kPhaseSlots = kPhases * kGridPeriod;

// The shadow, in capture pixels (one frame pixel at 1080 lines, the same
// share of the capture at every frame size): a half-black core and a faint
// wider layer.
constexpr int kShadowNear = 2;
constexpr int kShadowFar = 3;
constexpr float kShadowNearAlpha = 0.5f;
constexpr float kShadowFarAlpha = 0.157f;

constexpr double kGroupGap = kFigureGroupGap;
constexpr int kMaxFigureDigits = 5;
constexpr int kMaxXpDigits = 3;
constexpr int kMaxGlyphs = 9; // "+$99,999"
constexpr std::size_t kBeamWidth = 32;

struct Setting {
    int softness = 0; // below kSigmaCount a blur width, else a frame grid's blur
    double cap = 0.0;
    double capTop = 0.0;
    double right = 0.0; // ink right edge before the shift, in pixel-centre columns
};

struct Patch {
    int start = -1; // in the pool; -1 while not made
    int x0 = 0;     // first column, relative to the glyph centre's whole column
    int width = 0;
};

// A string set right to left from the figure's right edge: glyphs placed so
// far, and what the next one's place depends on.
struct Candidate {
    int setting = 0;
    double shift = 0.0;
    int count = 0;
    std::array<int, kMaxGlyphs> chars{};
    std::array<double, kMaxGlyphs> centres{};
    int lastChar = -1; // last non-comma glyph placed
    double lastCentre = 0.0;
    int digits = 0;
    std::int64_t value = 0; // of the digits placed
    std::int64_t unit = 1;
    bool complete = false;
    bool xp = false;
    double sse = 0.0;
};

struct Scratch {
    std::vector<float> luma;
    std::vector<float> ink;
    std::vector<float> pool;
    std::vector<float> sharp;
    std::vector<float> blurred;
    std::vector<float> frame;
    std::vector<float> kernel;
    std::vector<double> colSum;
    std::vector<double> colSum2;
    std::vector<Patch> patches;
    std::vector<Candidate> beam;
    std::vector<Candidate> next;
    std::vector<Candidate> complete;
};

class Typesetter {
public:
    Typesetter(const FigureGlyphs& glyphs, const Plane& luma, int x0, int y0, int w, int h,
               const std::array<Setting, kSettings>& settings, Scratch& s)
        : s_(s), settings_(settings), x0_(x0), y0_(y0), w_(w), h_(h) {
        for (int c = 0; c < kSetCount; ++c) {
            auto it = glyphs.byChar.find(static_cast<signed char>(kSetChars[c]));
            glyphs_[static_cast<std::size_t>(c)] = it == glyphs.byChar.end() ? nullptr : &it->second;
        }
        perCap_ = glyphs.pixelsPerCap;
        const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        s_.luma.resize(n);
        s_.ink.assign(n, 0.0f);
        double sum = 0.0;
        double sum2 = 0.0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float v = luma.at(x0 + x, y0 + y);
                s_.luma[offset(x, y, w)] = v;
                sum += v;
                sum2 += static_cast<double>(v) * v;
            }
        sst_ = sum2 - sum * sum / static_cast<double>(n);
        s_.colSum.assign(static_cast<std::size_t>(w) + 1, 0.0);
        s_.colSum2.assign(static_cast<std::size_t>(w) + 1, 0.0);
        for (int x = 0; x < w; ++x) {
            double c = 0.0;
            double c2 = 0.0;
            for (int y = 0; y < h; ++y) {
                const double v = s_.luma[offset(x, y, w)];
                c += v;
                c2 += v * v;
            }
            s_.colSum[static_cast<std::size_t>(x) + 1] = s_.colSum[static_cast<std::size_t>(x)] + c;
            s_.colSum2[static_cast<std::size_t>(x) + 1] = s_.colSum2[static_cast<std::size_t>(x)] + c2;
        }
        colSum_ = s_.colSum.data();
        colSum2_ = s_.colSum2.data();
        s_.patches.assign(static_cast<std::size_t>(kSettings * kSetCount * kPhaseSlots), Patch{});
        double widest = 0.0;
        for (const FigureGlyph* g : glyphs_)
            if (g != nullptr)
                widest = std::max(widest, static_cast<double>(g->columns) / perCap_);
        double capMax = 0.0;
        for (const Setting& st : settings)
            capMax = std::max(capMax, st.cap);
        maxRadius_ = static_cast<int>(std::ceil(3.0 * kSigmas[kSigmaCount - 1]));
        maxPatchWidth_ = static_cast<int>(std::ceil(widest * capMax)) + 2 * maxRadius_ + 4;
        // Grown as patches are made, and kept from call to call.
        s_.pool.resize(std::max(s_.pool.size(), static_cast<std::size_t>(kSetCount * kPhases * kSettings) *
                                                    static_cast<std::size_t>(maxPatchWidth_) *
                                                    static_cast<std::size_t>(h) / 4));
        s_.sharp.resize(static_cast<std::size_t>(maxPatchWidth_) * static_cast<std::size_t>(h));
        s_.blurred.resize(s_.sharp.size());
        poolUsed_ = 0;
    }

    bool usable() const {
        if (perCap_ == 0 || !(sst_ > 0.0))
            return false;
        for (const FigureGlyph* g : glyphs_)
            if (g == nullptr)
                return false;
        return true;
    }
    double sst() const { return sst_; }

    // Places glyph `c` left of what `cand` holds, as the game sets figures.
    bool place(Candidate& cand, int c) const {
        if (cand.count >= kMaxGlyphs)
            return false;
        const Setting& st = settings_[static_cast<std::size_t>(cand.setting)];
        const bool digit = c >= 2 && c <= 11;
        double centre = 0.0;
        if (cand.lastChar < 0) {
            centre = st.right + cand.shift - glyphs_[static_cast<std::size_t>(c)]->inkWidth / 2.0 * st.cap;
        } else {
            const double gap = digit && cand.digits > 0 && cand.digits % 3 == 0 ? kGroupGap * st.cap : 0.0;
            centre = cand.lastCentre - (advanceOf(c) + advanceOf(cand.lastChar)) / 2.0 * st.cap - gap;
            if (gap > 0.0) {
                if (cand.count + 1 >= kMaxGlyphs)
                    return false;
                const double l = centre + advanceOf(c) / 2.0 * st.cap;
                const double r = cand.lastCentre - advanceOf(cand.lastChar) / 2.0 * st.cap;
                cand.chars[static_cast<std::size_t>(cand.count)] = kComma;
                cand.centres[static_cast<std::size_t>(cand.count)] = (l + r) / 2.0;
                ++cand.count;
            }
        }
        cand.chars[static_cast<std::size_t>(cand.count)] = c;
        cand.centres[static_cast<std::size_t>(cand.count)] = centre;
        ++cand.count;
        cand.lastChar = c;
        cand.lastCentre = centre;
        if (digit) {
            cand.value += static_cast<std::int64_t>(c - 2) * cand.unit;
            cand.unit *= 10;
            ++cand.digits;
        }
        return true;
    }

    // The squared error of the best fit of columns from..to of the window's
    // luma by the candidate's text and shadow over an even background; the
    // columns' whole variance when the text would have to be darker than
    // its background. `fit` receives the share of the variance explained.
    // Adds the candidate's glyphs, columns from..to, into `buf` (a window
    // plane); lo..hi widens to the columns written.
    void render(const Candidate& cand, int from, int to, float* buf, int& lo, int& hi) {
        for (int i = 0; i < cand.count; ++i) {
            const double centre = cand.centres[static_cast<std::size_t>(i)] - x0_;
            double whole = std::floor(centre);
            int phase = static_cast<int>(std::lround((centre - whole) * kPhases));
            if (phase == kPhases) {
                phase = 0;
                whole += 1.0;
            }
            const Patch& p = patch(cand.setting, cand.chars[static_cast<std::size_t>(i)], phase,
                                   static_cast<int>(whole) + x0_);
            const int at = static_cast<int>(whole) + p.x0;
            const int a = std::max(from, at);
            const int b = std::min(to, at + p.width - 1);
            if (a > b)
                continue;
            lo = std::min(lo, a);
            hi = std::max(hi, b);
            const float* src = s_.pool.data() + p.start;
            for (int y = 0; y < h_; ++y) {
                float* dst = buf + offset(0, y, w_);
                const float* row = src + static_cast<std::ptrdiff_t>(y) * p.width - at;
                for (int x = a; x <= b; ++x)
                    dst[x] = std::min(1.0f, dst[x] + row[x]);
            }
        }
    }

    double score(const Candidate& cand, int from = 0, int to = -1, double* fit = nullptr) {
        if (to < 0)
            to = w_ - 1;
        int lo = to + 1;
        int hi = -1;
        render(cand, from, to, s_.ink.data(), lo, hi);
        const double n = static_cast<double>(to - from + 1) * h_;
        const double sumL =
            colSum_[static_cast<std::size_t>(to + 1)] - colSum_[static_cast<std::size_t>(from)];
        const double sst = colSum2_[static_cast<std::size_t>(to + 1)] -
                           colSum2_[static_cast<std::size_t>(from)] - sumL * sumL / n;
        if (fit != nullptr)
            *fit = 0.0;
        if (hi < lo)
            return sst;
        const int end = std::min(to, hi + kShadowFar);
        double sa = 0.0, ss = 0.0, saa = 0.0, sas = 0.0, sss = 0.0, sla = 0.0, sls = 0.0;
        for (int y = 0; y < h_; ++y) {
            const float* ink = s_.ink.data() + offset(0, y, w_);
            const float* near = y >= kShadowNear ? s_.ink.data() + offset(0, y - kShadowNear, w_) : nullptr;
            const float* far = y >= kShadowFar ? s_.ink.data() + offset(0, y - kShadowFar, w_) : nullptr;
            const float* luma = s_.luma.data() + offset(0, y, w_);
            for (int x = lo; x <= end; ++x) {
                const float a = ink[x];
                float d = 0.0f;
                if (near != nullptr && x >= kShadowNear)
                    d += kShadowNearAlpha * near[x - kShadowNear];
                if (far != nullptr && x >= kShadowFar)
                    d += kShadowFarAlpha * far[x - kShadowFar];
                const float sh = d * (1.0f - a);
                const float l = luma[x];
                sa += a;
                ss += sh;
                saa += a * a;
                sas += a * sh;
                sss += sh * sh;
                sla += l * a;
                sls += l * sh;
            }
        }
        for (int y = 0; y < h_; ++y)
            std::fill_n(s_.ink.data() + offset(lo, y, w_), hi - lo + 1, 0.0f);
        const double ml = sumL / n;
        const double caa = saa - sa * sa / n;
        const double cas = sas - sa * ss / n;
        const double css = sss - ss * ss / n;
        const double cla = sla - ml * sa;
        const double cls = sls - ml * ss;
        if (!(caa > 1e-9) || !(sst > 0.0))
            return sst;
        const double det = caa * css - cas * cas;
        double gain = 0.0;
        double explained = 0.0;
        if (css > 1e-9 && det > 1e-9 * caa * css) {
            gain = (cla * css - cls * cas) / det;
            const double shade = (caa * cls - cas * cla) / det;
            explained = gain * cla + shade * cls;
        } else {
            gain = cla / caa;
            explained = gain * cla;
        }
        if (!(gain > kMinGain))
            return sst;
        if (fit != nullptr)
            *fit = std::min(1.0, explained / sst);
        return std::max(0.0, sst - explained);
    }

    // The window column of the candidate's leftmost ink.
    int inkLeft(const Candidate& cand) const {
        const Setting& st = settings_[static_cast<std::size_t>(cand.setting)];
        const double left =
            cand.lastCentre - glyphs_[static_cast<std::size_t>(cand.lastChar)]->inkWidth / 2.0 * st.cap;
        return std::max(0, static_cast<int>(std::floor(left)) - x0_);
    }
    int width() const { return w_; }

private:
    // Text this much brighter than its background at least: the game's
    // light text over the world.
    static constexpr double kMinGain = 20.0;

    const Patch& patch(int setting, int c, int phase, int column) {
        const Setting& st = settings_[static_cast<std::size_t>(setting)];
        const int slot = st.softness < kSigmaCount ? phase : ((column % kGridPeriod) * kPhases + phase);
        Patch& p = s_.patches[static_cast<std::size_t>((setting * kSetCount + c) * kPhaseSlots + slot)];
        if (p.start < 0) {
            if (st.softness < kSigmaCount)
                makePatches(setting, c, phase);
            else
                makeGridPatch(setting, c, phase, column, p);
        }
        return p;
    }

    float* claim(int n) {
        if (static_cast<std::size_t>(poolUsed_ + n) > s_.pool.size())
            s_.pool.resize(std::max(2 * s_.pool.size(), static_cast<std::size_t>(poolUsed_ + n)));
        float* at = s_.pool.data() + poolUsed_;
        poolUsed_ += n;
        return at;
    }

    // The glyph's coverage averaged over each pixel of a 720-line frame,
    // blurred there, scaled up to the capture as the capture does, and
    // smoothed as the luma plane is.
    void makeGridPatch(int setting, int c, int phase, int column, Patch& p) {
        const Setting& st = settings_[static_cast<std::size_t>(setting)];
        const FigureGlyph& g = *glyphs_[static_cast<std::size_t>(c)];
        const double cx = column + static_cast<double>(phase) / kPhases;
        const double left = cx + g.originX * st.cap;
        const double right = cx + (g.originX + static_cast<double>(g.columns) / perCap_) * st.cap;
        const int x0 = static_cast<int>(std::floor(left)) - maxRadius_ - 1;
        const int x1 = std::min(x0 + maxPatchWidth_ - 1, static_cast<int>(std::ceil(right)) + maxRadius_ + 1);
        const int width = x1 - x0 + 1;
        const double k = kSmallFrameScale;
        auto frameX = [&](double x) { return (x + 0.5) / k + kSmallFrameLeft - 0.5; };
        auto frameY = [&](double y) { return (y + 0.5) / k - 0.5; };
        const int i0 = static_cast<int>(std::floor(frameX(x0))) - 2;
        const int i1 = static_cast<int>(std::ceil(frameX(x1))) + 2;
        const int j0 = static_cast<int>(std::floor(frameY(y0_))) - 2;
        const int j1 = static_cast<int>(std::ceil(frameY(y0_ + h_ - 1))) + 2;
        const int fw = i1 - i0 + 1;
        const int fh = j1 - j0 + 1;
        s_.frame.assign(static_cast<std::size_t>(fw) * static_cast<std::size_t>(fh), 0.0f);
        const int cols = static_cast<int>(g.columns);
        const int rows = static_cast<int>(g.rows);
        for (int j = 0; j < fh; ++j)
            for (int i = 0; i < fw; ++i) {
                double sum = 0.0;
                constexpr int kTaps = 4;
                for (int ty = 0; ty < kTaps; ++ty)
                    for (int tx = 0; tx < kTaps; ++tx) {
                        const double x = (i0 + i + (tx + 0.5) / kTaps - kSmallFrameLeft) * k - 0.5;
                        const double y = (j0 + j + (ty + 0.5) / kTaps) * k - 0.5;
                        const double u = ((x - cx) / st.cap - g.originX) * perCap_ - 0.5;
                        const double v = ((y - st.capTop) / st.cap - g.originY) * perCap_ - 0.5;
                        sum += sampleGlyph(g, cols, rows, u, v);
                    }
                s_.frame[offset(i, j, fw)] = static_cast<float>(sum / (kTaps * kTaps));
            }
        const double blurWidth = kGridBlurs[st.softness - kSigmaCount];
        if (blurWidth > 0.05) {
            s_.sharp.assign(s_.frame.begin(), s_.frame.end());
            blurPlane(blurWidth, fw, fh, s_.sharp.data(), s_.frame.data());
        }
        // Up to the capture, then the 3 x 3 mean.
        s_.sharp.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(h_), 0.0f);
        for (int y = 0; y < h_; ++y) {
            const double fy = frameY(y0_ + y) - j0;
            const int jy = std::clamp(static_cast<int>(std::floor(fy)), 0, fh - 2);
            const double ty = std::clamp(fy - jy, 0.0, 1.0);
            for (int x = 0; x < width; ++x) {
                const double fx = frameX(x0 + x) - i0;
                const int ix = std::clamp(static_cast<int>(std::floor(fx)), 0, fw - 2);
                const double tx = std::clamp(fx - ix, 0.0, 1.0);
                const double top =
                    s_.frame[offset(ix, jy, fw)] * (1 - tx) + s_.frame[offset(ix + 1, jy, fw)] * tx;
                const double bottom =
                    s_.frame[offset(ix, jy + 1, fw)] * (1 - tx) + s_.frame[offset(ix + 1, jy + 1, fw)] * tx;
                s_.sharp[offset(x, y, width)] = static_cast<float>(top * (1 - ty) + bottom * ty);
            }
        }
        p.x0 = x0 - column;
        p.width = width;
        float* out = claim(width * h_);
        p.start = static_cast<int>(out - s_.pool.data());
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < width; ++x) {
                float sum = 0.0f;
                int n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int xx = x + dx;
                        const int yy = y + dy;
                        if (xx >= 0 && yy >= 0 && xx < width && yy < h_)
                            sum += s_.sharp[offset(xx, yy, width)];
                        ++n;
                    }
                out[offset(x, y, width)] = sum / static_cast<float>(n);
            }
    }

    static double sampleGlyph(const FigureGlyph& g, int cols, int rows, double u, double v) {
        const double fu = std::floor(u);
        const double fv = std::floor(v);
        const int iu = static_cast<int>(fu);
        const int iv = static_cast<int>(fv);
        if (iu < -1 || iv < -1 || iu >= cols || iv >= rows)
            return 0.0;
        const double tu = u - fu;
        const double tv = v - fv;
        auto px = [&](int x, int y) {
            return x < 0 || y < 0 || x >= cols || y >= rows
                       ? 0.0
                       : static_cast<double>(g.coverage[offset(x, y, cols)]);
        };
        return (px(iu, iv) * (1 - tu) + px(iu + 1, iv) * tu) * (1 - tv) +
               (px(iu, iv + 1) * (1 - tu) + px(iu + 1, iv + 1) * tu) * tv;
    }

    // Separable Gaussian blur of a w x h plane from `in` to `out`.
    void blurPlane(double sigma, int w, int h, const float* in, float* out) {
        const int r = static_cast<int>(std::ceil(3.0 * sigma));
        s_.kernel.resize(static_cast<std::size_t>(2 * r + 1));
        float total = 0.0f;
        for (int i = -r; i <= r; ++i) {
            const auto v = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
            s_.kernel[static_cast<std::size_t>(i + r)] = v;
            total += v;
        }
        for (float& v : s_.kernel)
            v /= total;
        s_.blurred.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float sum = 0.0f;
                for (int i = std::max(-r, -x); i <= std::min(r, w - 1 - x); ++i)
                    sum += s_.kernel[static_cast<std::size_t>(i + r)] * in[offset(x + i, y, w)];
                s_.blurred[offset(x, y, w)] = sum;
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float sum = 0.0f;
                for (int i = std::max(-r, -y); i <= std::min(r, h - 1 - y); ++i)
                    sum += s_.kernel[static_cast<std::size_t>(i + r)] * s_.blurred[offset(x, y + i, w)];
                out[offset(x, y, w)] = sum;
            }
    }

    // The glyph's coverage sampled over each capture pixel, then softened
    // at each of the blur widths sharing the setting's size and row.
    void makePatches(int setting, int c, int phase) {
        const int sizeIndex = setting / kSoftnesses;
        const Setting& st = settings_[static_cast<std::size_t>(setting)];
        const FigureGlyph& g = *glyphs_[static_cast<std::size_t>(c)];
        const double phi = static_cast<double>(phase) / kPhases;
        const double left = phi + g.originX * st.cap;
        const double right = phi + (g.originX + static_cast<double>(g.columns) / perCap_) * st.cap;
        const int x0 = static_cast<int>(std::floor(left)) - maxRadius_ - 1;
        const int x1 = std::min(x0 + maxPatchWidth_ - 1, static_cast<int>(std::ceil(right)) + maxRadius_ + 1);
        const int width = x1 - x0 + 1;
        const double scale = perCap_ / st.cap;
        const int cols = static_cast<int>(g.columns);
        const int rows = static_cast<int>(g.rows);
        auto at = [&](double u, double v) {
            const double fu = std::floor(u);
            const double fv = std::floor(v);
            const int iu = static_cast<int>(fu);
            const int iv = static_cast<int>(fv);
            const double tu = u - fu;
            const double tv = v - fv;
            auto px = [&](int x, int y) {
                return x < 0 || y < 0 || x >= cols || y >= rows
                           ? 0.0
                           : static_cast<double>(g.coverage[offset(x, y, cols)]);
            };
            return (px(iu, iv) * (1 - tu) + px(iu + 1, iv) * tu) * (1 - tv) +
                   (px(iu, iv + 1) * (1 - tu) + px(iu + 1, iv + 1) * tu) * tv;
        };
        constexpr double kTaps[] = {-1.0 / 3.0, 0.0, 1.0 / 3.0};
        for (int y = 0; y < h_; ++y) {
            const double yc = y0_ + y;
            const double vMid = ((yc - st.capTop) / st.cap - g.originY) * perCap_ - 0.5;
            const bool outside = vMid < -scale - 1.0 || vMid > rows + scale + 1.0;
            for (int x = 0; x < width; ++x) {
                double sum = 0.0;
                if (!outside) {
                    const double xc = x0 + x;
                    for (double ty : kTaps)
                        for (double tx : kTaps) {
                            const double u = ((xc + tx - phi) / st.cap - g.originX) * perCap_ - 0.5;
                            const double v = ((yc + ty - st.capTop) / st.cap - g.originY) * perCap_ - 0.5;
                            sum += at(u, v);
                        }
                }
                s_.sharp[offset(x, y, width)] = static_cast<float>(sum / 9.0);
            }
        }
        for (int k = 0; k < kSigmaCount; ++k) {
            const int si = sizeIndex * kSoftnesses + k;
            Patch& p = s_.patches[static_cast<std::size_t>((si * kSetCount + c) * kPhaseSlots + phase)];
            p.x0 = x0;
            p.width = width;
            float* out = claim(width * h_);
            p.start = static_cast<int>(out - s_.pool.data());
            blurPlane(kSigmas[k], width, h_, s_.sharp.data(), out);
        }
    }

    Scratch& s_;
    const std::array<Setting, kSettings>& settings_;
    std::array<const FigureGlyph*, kSetCount> glyphs_{};
    double perCap_ = 0.0;
    int x0_;
    int y0_;
    int w_;
    int h_;
    double sst_ = 0.0;
    const double* colSum_ = nullptr;
    const double* colSum2_ = nullptr;
    int maxRadius_ = 0;
    int maxPatchWidth_ = 0;
    int poolUsed_ = 0;
};

bool bySse(const Candidate& a, const Candidate& b) {
    return a.sse < b.sse;
}

bool sameString(const Candidate& a, const Candidate& b) {
    return a.xp == b.xp && a.digits == b.digits && a.value == b.value;
}

// A string may hold this many places in the beam: one string fitting at
// many sizes and shifts would crowd out its rivals, and a reading is only
// trusted by its margin over them.
constexpr int kPerString = 4;

// Keeps the best `width` of `cands` (by error), no string more than
// kPerString times.
void keepBest(std::vector<Candidate>& cands, std::size_t width) {
    std::sort(cands.begin(), cands.end(), bySse);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cands.size() && kept < width; ++i) {
        int same = 0;
        for (std::size_t j = 0; j < kept; ++j)
            if (sameString(cands[j], cands[i]))
                ++same;
        if (same >= kPerString)
            continue;
        if (kept != i)
            cands[kept] = cands[i];
        ++kept;
    }
    cands.resize(kept);
}

// A synthesised reading is taken only when every rival string (the beam's
// other figures and amounts, and each string one digit off) leaves this
// much more error over the columns the two cover, and the best explains
// this share of the variance of its own columns. On the soft 720-line
// figures a digit mistaken for its neighbour in shape ("4" for "8") still
// leaves some 6 % more error, a right reading mostly 10 % or more; a wrong
// figure sent on is far worse than none.
constexpr double kMinErrorRatio = 1.10;
constexpr double kMinFit = 0.75;
constexpr double kMinEightOverFour = 1.25;

// Whether `rival` is `best` with one "8" of it a "4".
bool eightForFour(const Candidate& best, const Candidate& rival) {
    if (best.xp != rival.xp || best.digits != rival.digits)
        return false;
    int changed = 0;
    bool eightToFour = false;
    std::int64_t a = best.value;
    std::int64_t b = rival.value;
    for (int i = 0; i < best.digits; ++i, a /= 10, b /= 10)
        if (a % 10 != b % 10) {
            ++changed;
            eightToFour = a % 10 == 8 && b % 10 == 4;
        }
    return changed == 1 && eightToFour;
}

} // namespace

bool readAmountBySynthesis(const Model& model, const FramePlanes& planes, double hp, double figureRight,
                           HudLine& line) {
    const Plane& luma = planes.smooth;
    if (model.figureGlyphs.pixelsPerCap == 0 || luma.empty() || !(hp > 4.0) || line.bottom <= line.top)
        return false;
    const double moneyHeight = hp / 0.667;
    const double rightAtScale1 = figureRight + 0.5;
    const double middle = (line.top + line.bottom) / 2.0;
    std::array<Setting, kSettings> settings{};
    for (int a = 0; a < kScaleCount; ++a)
        for (int b = 0; b < kRiseCount; ++b)
            for (int c = 0; c < kSoftnesses; ++c) {
                Setting& st = settings[static_cast<std::size_t>((a * kRiseCount + b) * kSoftnesses + c)];
                st.softness = c;
                st.cap = hp * kScales[a];
                st.capTop = middle - (st.cap - 1.0) / 2.0 + kRises[b];
                st.right = rightAtScale1 + 2.56 * moneyHeight * (1.0 - kScales[a]);
            }
    const double capMax = hp * kScales[kScaleCount - 1];
    const int x1 = std::min(luma.width - 1, static_cast<int>(std::ceil(rightAtScale1 + 0.4 * capMax + 6)));
    const int x0 = std::max(0, static_cast<int>(std::floor(rightAtScale1 - 6.8 * capMax - 6)));
    const int y0 = std::max(0, static_cast<int>(std::floor(middle - 0.8 * capMax - 3)));
    const int y1 = std::min(luma.height - 1, static_cast<int>(std::ceil(middle + 0.8 * capMax + 6)));
    if (x1 - x0 < 8 || y1 - y0 < 8)
        return false;

    thread_local Scratch scratch;
    Typesetter set(model.figureGlyphs, luma, x0, y0, x1 - x0 + 1, y1 - y0 + 1, settings, scratch);
    if (!set.usable())
        return false;
    std::vector<Candidate>& beam = scratch.beam;
    std::vector<Candidate>& next = scratch.next;
    std::vector<Candidate>& complete = scratch.complete;
    beam.clear();
    complete.clear();

    // Figures: digits right to left, closed by "$" and "+" at every length.
    // Amounts: "XP" first, each length of digits before it a whole amount.
    for (int kind = 0; kind < 2; ++kind) {
        const bool xp = kind == 1;
        next.clear();
        for (int s = 0; s < kSettings; ++s)
            for (double shift : kShifts) {
                Candidate start;
                start.setting = s;
                start.shift = shift;
                start.xp = xp;
                if (xp) {
                    set.place(start, kP);
                    set.place(start, kX);
                    start.sse = set.score(start);
                    next.push_back(start);
                    continue;
                }
                for (int d = 0; d <= 9; ++d) {
                    Candidate c = start;
                    set.place(c, digitIndex(d));
                    c.sse = set.score(c);
                    next.push_back(c);
                }
            }
        keepBest(next, kBeamWidth);
        beam.swap(next);
        const int maxDigits = xp ? kMaxXpDigits : kMaxFigureDigits;
        for (int step = xp ? 0 : 1; step <= maxDigits; ++step) {
            next.clear();
            for (const Candidate& b : beam) {
                if (b.digits >= 1 && b.lastChar != digitIndex(0)) {
                    Candidate c = b;
                    if (!xp && (!set.place(c, kDollar) || !set.place(c, kPlus)))
                        continue;
                    c.complete = true;
                    if (!xp)
                        c.sse = set.score(c);
                    complete.push_back(c);
                }
                if (step == maxDigits)
                    continue;
                for (int d = 0; d <= 9; ++d) {
                    Candidate c = b;
                    if (!set.place(c, digitIndex(d)))
                        continue;
                    c.sse = set.score(c);
                    next.push_back(c);
                }
            }
            keepBest(next, kBeamWidth);
            beam.swap(next);
            if (beam.empty())
                break;
        }
    }
    if (complete.empty())
        return false;
    std::sort(complete.begin(), complete.end(), bySse);
    Candidate best = complete.front();

    // The strings one digit off the best, set at its size and place: the
    // beam can lose the best string to one that led it on fewer digits, and
    // they are the rivals a trusted reading must clear, kept or not.
    std::array<int, kMaxFigureDigits> digits{};
    auto setDigits = [&](const Candidate& like, int count, Candidate& c) {
        c = Candidate{};
        c.setting = like.setting;
        c.shift = like.shift;
        c.xp = like.xp;
        if (like.xp) {
            set.place(c, kP);
            set.place(c, kX);
        }
        for (int j = 0; j < count; ++j)
            if (!set.place(c, digitIndex(digits[static_cast<std::size_t>(j)])))
                return false;
        c.complete = true;
        return like.xp || (set.place(c, kDollar) && set.place(c, kPlus));
    };
    auto spell = [&](const Candidate& c) {
        std::int64_t rest = c.value;
        for (int i = 0; i < c.digits; ++i) {
            digits[static_cast<std::size_t>(i)] = static_cast<int>(rest % 10);
            rest /= 10;
        }
    };
    constexpr int kClimbs = 3;
    for (int round = 0; round < kClimbs; ++round) {
        bool moved = false;
        const Candidate from = best;
        for (int i = 0; i < from.digits; ++i)
            for (int d = i + 1 == from.digits ? 1 : 0; d <= 9; ++d) {
                spell(from);
                if (d == digits[static_cast<std::size_t>(i)])
                    continue;
                digits[static_cast<std::size_t>(i)] = d;
                Candidate c;
                if (!setDigits(from, from.digits, c))
                    continue;
                c.sse = set.score(c);
                if (c.sse < best.sse) {
                    best = c;
                    moved = true;
                }
            }
        if (!moved)
            break;
    }

    // Margins are measured on the columns the two strings cover, not the
    // whole window: the phrase's last letters and the scene left of a
    // short figure are no one's to explain, and would drown the difference.
    const int right = set.width() - 1;
    // Each rival must leave the error ratio it is asked for: the renderings
    // take an "8" for a "4" more readily than any other pair (the soft,
    // compressed "4" fills in), so an "8" needs the wider margin over the
    // "4" in its place.
    double ratio = std::numeric_limits<double>::infinity();
    bool clear = true;
    auto against = [&](Candidate& r) {
        const int from = std::max(0, std::min(set.inkLeft(best), set.inkLeft(r)) - 3);
        const double mine = set.score(best, from, right);
        const double theirs = set.score(r, from, right);
        const double own = theirs / std::max(mine, 1e-9);
        ratio = std::min(ratio, own);
        if (own < (eightForFour(best, r) ? kMinEightOverFour : kMinErrorRatio))
            clear = false;
    };
    constexpr int kRivalStrings = 12;
    int rivals = 0;
    for (std::size_t i = 0; i < complete.size() && rivals < kRivalStrings; ++i) {
        if (sameString(complete[i], best))
            continue;
        bool seen = false;
        for (std::size_t j = 0; j < i && !seen; ++j)
            seen = sameString(complete[j], complete[i]);
        if (seen)
            continue;
        ++rivals;
        against(complete[i]);
    }
    // Each rival one digit off gets its own softness and a place half a
    // pixel either side: set where the best fits, it would lose by more
    // than it does on its own.
    const int sizeBase = best.setting / kSoftnesses * kSoftnesses;
    constexpr double kRivalShifts[] = {-0.5, 0.0, 0.5};
    for (int i = 0; i < best.digits; ++i)
        for (int d = i + 1 == best.digits ? 1 : 0; d <= 9; ++d) {
            spell(best);
            if (d == digits[static_cast<std::size_t>(i)])
                continue;
            digits[static_cast<std::size_t>(i)] = d;
            Candidate rival;
            bool found = false;
            for (int soft = 0; soft < kSoftnesses; ++soft)
                for (double shift : kRivalShifts) {
                    Candidate like = best;
                    like.setting = sizeBase + soft;
                    like.shift = best.shift + shift;
                    Candidate c;
                    if (!setDigits(like, best.digits, c))
                        continue;
                    c.sse = set.score(c);
                    if (!found || c.sse < rival.sse) {
                        rival = c;
                        found = true;
                    }
                }
            if (found)
                against(rival);
        }
    double fit = 0.0;
    set.score(best, std::max(0, set.inkLeft(best) - 3), right, &fit);
    if (fit < kMinFit || !clear)
        return false;
    if (best.xp) {
        line.hasXp = true;
        line.xp = static_cast<std::int32_t>(best.value);
    } else {
        line.hasFigure = true;
        line.figure = best.value;
        line.figureConfidence = static_cast<float>(fit);
        line.figureMargin = static_cast<float>(ratio - 1.0);
        line.figureX = best.centres[0];
    }
    return true;
}

} // namespace hud::reward

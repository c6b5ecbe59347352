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

double advanceOf(int c) {
    return figureWidths().of(kSetChars[c]);
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
// The figure's right edge is known to a pixel or two: the first glyph is
// tried at whole-pixel shifts, and the best few placements refined.
constexpr double kCoarseShifts[] = {-1.0, 0.0, 1.0};
constexpr int kRefined = 4;
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
constexpr std::size_t kBeamWidth = 10;
// A hard bound on the strings drawn for one line, whatever the frame: the
// search as laid out draws some 2,100 at most; reaching it means giving up
// unread.
constexpr int kMaxScores = 2500;

// Settings are numbered (scale, rise, softness), softness fastest.
int riseOf(int setting) {
    return setting / kSoftnesses % kRiseCount;
}
int withRise(int setting, int rise) {
    return setting + (rise - riseOf(setting)) * kSoftnesses;
}

struct Setting {
    int softness = 0; // below kSigmaCount a blur width, else a frame grid's blur
    double cap = 0.0;
    double capTop = 0.0;
    double right = 0.0; // ink right edge before the shift, in pixel-centre columns
};

using Sums = std::array<double, 7>;

struct Patch {
    int start = -1; // in the pool; -1 while not made
    int x0 = 0;     // first column, relative to the glyph centre's whole column
    int width = 0;
    int top = 0; // the rows holding any ink
    int bottom = -1;
};

// The rows of a w x h patch holding any ink, into p.
void findInkRows(const float* data, int w, int h, Patch& p) {
    p.top = h;
    p.bottom = -1;
    for (int y = 0; y < h; ++y) {
        const float* row = data + offset(0, y, w);
        if (std::any_of(row, row + w, [](float v) { return v > 0.0f; })) {
            p.top = std::min(p.top, y);
            p.bottom = y;
        }
    }
}

// The ink plane has this many zero rows above and columns left of the
// window, so the shadow's offsets read zeros there instead of testing.
constexpr int kInkPad = kShadowFar;

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

struct Tap {
    int index = 0;
    double weight = 0.0;
};

struct Scratch {
    std::vector<Tap> tapX;
    std::vector<Tap> tapY;
    std::vector<double> across;
    std::vector<int> upColumn;
    std::vector<double> upColumnT;
    std::vector<int> upRow;
    std::vector<double> upRowT;
    std::vector<float> luma;
    std::vector<float> ink;
    std::vector<float> pool;
    std::vector<float> sharp;
    std::vector<float> blurred;
    std::vector<float> frame;
    std::vector<float> frameBlurred;
    std::vector<float> rowMean;
    std::vector<float> kernel;
    std::vector<double> colSum;
    std::vector<double> colSum2;
    std::vector<double> latticeSum;
    std::vector<double> latticeSum2;
    std::vector<Patch> patches;
    std::vector<Candidate> beam;
    std::vector<Candidate> next;
    std::vector<Candidate> complete;
    std::vector<float> strokes;
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
        inkStride_ = w + kInkPad;
        s_.ink.assign(static_cast<std::size_t>(inkStride_) * static_cast<std::size_t>(h + kInkPad), 0.0f);
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
        // The same over every other row and column: the search's lattice.
        s_.latticeSum.assign(static_cast<std::size_t>(w) + 1, 0.0);
        s_.latticeSum2.assign(static_cast<std::size_t>(w) + 1, 0.0);
        for (int x = 0; x < w; ++x) {
            double c = 0.0;
            double c2 = 0.0;
            for (int y = 0; x % 2 == 0 && y < h; y += 2) {
                const double v = s_.luma[offset(x, y, w)];
                c += v;
                c2 += v * v;
            }
            s_.latticeSum[static_cast<std::size_t>(x) + 1] = s_.latticeSum[static_cast<std::size_t>(x)] + c;
            s_.latticeSum2[static_cast<std::size_t>(x) + 1] =
                s_.latticeSum2[static_cast<std::size_t>(x)] + c2;
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
    int scored() const { return scored_; }
    bool overBudget() const { return scored_ > kMaxScores; }
    void searchOnLattice(bool on) { lattice_ = on; }

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

    // Adds the candidate's glyphs, columns from..to, into the ink plane;
    // lo..hi and top..bottom widen to the columns and rows written.
    void render(const Candidate& cand, int from, int to, int& lo, int& hi, int& top, int& bottom) {
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
            if (a > b || p.bottom < p.top)
                continue;
            lo = std::min(lo, a);
            hi = std::max(hi, b);
            top = std::min(top, p.top);
            bottom = std::max(bottom, p.bottom);
            const float* src = s_.pool.data() + p.start;
            for (int y = p.top; y <= p.bottom; ++y) {
                float* dst = inkRow(y);
                const float* row = src + static_cast<std::ptrdiff_t>(y) * p.width - at;
                for (int x = a; x <= b; ++x)
                    dst[x] = std::min(1.0f, dst[x] + row[x]);
            }
        }
    }

    // The squared error of the best fit of columns from..to of the window's
    // luma by the candidate's text and shadow over an even background; the
    // columns' whole variance when the text would have to be darker than
    // its background. `fit` receives the share of the variance explained.
    double score(const Candidate& cand, int from = 0, int to = -1, double* fit = nullptr) {
        if (to < 0)
            to = w_ - 1;
        // Past the budget nothing is drawn: the reading is given up.
        if (++scored_ > kMaxScores) {
            if (fit != nullptr)
                *fit = 0.0;
            return std::numeric_limits<double>::infinity();
        }
        Sums sums{};
        int lo = to + 1;
        int hi = -1;
        int top = h_;
        int bottom = -1;
        render(cand, from, to, lo, hi, top, bottom);
        if (hi >= lo)
            accumulate(top, std::min(h_ - 1, bottom + kShadowFar), lo, std::min(to, hi + kShadowFar), sums);
        clear(lo, hi, top, bottom);
        return error(sums, from, to, hi >= lo, fit);
    }

    // Sums, over columns xa..xb and rows top..last of the ink plane, of
    // ink, shadow, their squares and product and each times the luma. The
    // search's lattice takes every other row and column.
    void accumulate(int top, int last, int xa, int xb, Sums& out) {
        const int step = lattice_ ? 2 : 1;
        const int firstRow = lattice_ ? (top + 1) / 2 * 2 : top;
        const int firstColumn = lattice_ ? (xa + 1) / 2 * 2 : xa;
        double sa = 0.0, ss = 0.0, saa = 0.0, sas = 0.0, sss = 0.0, sla = 0.0, sls = 0.0;
        // Summed in float along a row (a few hundred terms), in double
        // across rows.
        for (int y = firstRow; y <= last; y += step) {
            const float* ink = inkRow(y);
            const float* near = inkRow(y - kShadowNear) - kShadowNear;
            const float* far = inkRow(y - kShadowFar) - kShadowFar;
            const float* luma = s_.luma.data() + offset(0, y, w_);
            float ra = 0.0f, rs = 0.0f, raa = 0.0f, ras = 0.0f, rss = 0.0f, rla = 0.0f, rls = 0.0f;
            for (int x = firstColumn; x <= xb; x += step) {
                const float a = ink[x];
                const float sh = (kShadowNearAlpha * near[x] + kShadowFarAlpha * far[x]) * (1.0f - a);
                const float l = luma[x];
                ra += a;
                rs += sh;
                raa += a * a;
                ras += a * sh;
                rss += sh * sh;
                rla += l * a;
                rls += l * sh;
            }
            sa += ra;
            ss += rs;
            saa += raa;
            sas += ras;
            sss += rss;
            sla += rla;
            sls += rls;
        }
        out[0] += sa;
        out[1] += ss;
        out[2] += saa;
        out[3] += sas;
        out[4] += sss;
        out[5] += sla;
        out[6] += sls;
    }

    void clear(int lo, int hi, int top, int bottom) {
        for (int y = top; y <= bottom && hi >= lo; ++y)
            std::fill_n(inkRow(y) + lo, hi - lo + 1, 0.0f);
    }

    // The fit's error from the sums over columns from..to.
    double error(const Sums& sums, int from, int to, bool any, double* fit) const {
        // The search ranks candidates on every other row and column (the
        // glyphs are several pixels soft there); verdicts use every pixel.
        const double* cs = lattice_ ? s_.latticeSum.data() : colSum_;
        const double* cs2 = lattice_ ? s_.latticeSum2.data() : colSum2_;
        const double n = lattice_ ? static_cast<double>(to / 2 - (from + 1) / 2 + 1) * ((h_ + 1) / 2)
                                  : static_cast<double>(to - from + 1) * h_;
        const double sumL = cs[static_cast<std::size_t>(to + 1)] - cs[static_cast<std::size_t>(from)];
        const double sst =
            cs2[static_cast<std::size_t>(to + 1)] - cs2[static_cast<std::size_t>(from)] - sumL * sumL / n;
        if (fit != nullptr)
            *fit = 0.0;
        if (!any)
            return sst;
        const double sa = sums[0], ss = sums[1], saa = sums[2], sas = sums[3], sss = sums[4], sla = sums[5],
                     sls = sums[6];
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
    // The frame column of the candidate's leftmost ink.
    double inkLeftAt(const Candidate& cand) const {
        const Setting& st = settings_[static_cast<std::size_t>(cand.setting)];
        return cand.lastCentre - glyphs_[static_cast<std::size_t>(cand.lastChar)]->inkWidth / 2.0 * st.cap;
    }

    // The window columns of the candidate's `k`th glyph, its advance
    // widened by `pad` either side.
    void glyphColumns(const Candidate& cand, int k, int pad, int& from, int& to) const {
        const Setting& st = settings_[static_cast<std::size_t>(cand.setting)];
        const double centre = cand.centres[static_cast<std::size_t>(k)] - x0_;
        const double half = advanceOf(cand.chars[static_cast<std::size_t>(k)]) / 2.0 * st.cap;
        from = std::max(0, static_cast<int>(std::floor(centre - half)) - pad);
        to = std::min(w_ - 1, static_cast<int>(std::ceil(centre + half)) + pad);
    }

    // How much more error `rival` leaves than `best` over the columns of
    // the glyphs where the two strings differ (both set from the right, so
    // glyph k of one stands where glyph k of the other does).
    double localRatio(const Candidate& best, const Candidate& rival) {
        const int n = std::max(best.count, rival.count);
        int first = -1;
        int last = -1;
        for (int k = 0; k < n; ++k) {
            const int a = k < best.count ? best.chars[static_cast<std::size_t>(k)] : -1;
            const int b = k < rival.count ? rival.chars[static_cast<std::size_t>(k)] : -1;
            if (a != b) {
                first = first < 0 ? k : first;
                last = k;
            }
        }
        if (first < 0)
            return 1.0;
        constexpr int kPad = 2;
        int lo = w_;
        int hi = -1;
        for (int k = first; k <= last; ++k)
            for (const Candidate* c : {&best, &rival})
                if (k < c->count) {
                    int a = 0;
                    int b = 0;
                    glyphColumns(*c, k, kPad, a, b);
                    lo = std::min(lo, a);
                    hi = std::max(hi, b);
                }
        return score(rival, lo, hi) / std::max(score(best, lo, hi), 1e-9);
    }

private:
    float* inkRow(int y) {
        return s_.ink.data() + static_cast<std::ptrdiff_t>(y + kInkPad) * inkStride_ + kInkPad;
    }

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
                makeGridPatch(setting, c, phase, column, slot);
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
    void makeGridPatch(int setting, int c, int phase, int column, int slot) {
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
        s_.frame.resize(static_cast<std::size_t>(fw) * static_cast<std::size_t>(fh));
        constexpr int kTaps = 4;
        axisTaps(fw, kTaps, static_cast<int>(g.columns), s_.tapX, [&](int i, int tx) {
            const double x = (i0 + i + (tx + 0.5) / kTaps - kSmallFrameLeft) * k - 0.5;
            return ((x - cx) / st.cap - g.originX) * perCap_ - 0.5;
        });
        axisTaps(fh, kTaps, static_cast<int>(g.rows), s_.tapY, [&](int j, int ty) {
            const double y = (j0 + j + (ty + 0.5) / kTaps) * k - 0.5;
            return ((y - st.capTop) / st.cap - g.originY) * perCap_ - 0.5;
        });
        sampleSeparable(g, fw, fh, kTaps, s_.frame.data());
        // Where each capture pixel falls between the frame's.
        s_.upColumn.resize(static_cast<std::size_t>(width));
        s_.upColumnT.resize(static_cast<std::size_t>(width));
        for (int x = 0; x < width; ++x) {
            const double fx = frameX(x0 + x) - i0;
            const int ix = std::clamp(static_cast<int>(std::floor(fx)), 0, fw - 2);
            s_.upColumn[static_cast<std::size_t>(x)] = ix;
            s_.upColumnT[static_cast<std::size_t>(x)] = std::clamp(fx - ix, 0.0, 1.0);
        }
        s_.upRow.resize(static_cast<std::size_t>(h_));
        s_.upRowT.resize(static_cast<std::size_t>(h_));
        for (int y = 0; y < h_; ++y) {
            const double fy = frameY(y0_ + y) - j0;
            const int jy = std::clamp(static_cast<int>(std::floor(fy)), 0, fh - 2);
            s_.upRow[static_cast<std::size_t>(y)] = jy;
            s_.upRowT[static_cast<std::size_t>(y)] = std::clamp(fy - jy, 0.0, 1.0);
        }
        // Both blurs of the frame share the sampling: each its own patch.
        const int sizeBase = setting / kSoftnesses * kSoftnesses;
        for (int gb = 0; gb < kGridBlurCount; ++gb) {
            const int si = sizeBase + kSigmaCount + gb;
            Patch& p = s_.patches[static_cast<std::size_t>((si * kSetCount + c) * kPhaseSlots + slot)];
            const float* frame = s_.frame.data();
            if (kGridBlurs[gb] > 0.05) {
                s_.frameBlurred.resize(s_.frame.size());
                blurPlane(kGridBlurs[gb], fw, fh, s_.frame.data(), s_.frameBlurred.data());
                frame = s_.frameBlurred.data();
            }
            // Up to the capture, then the 3 x 3 mean, a row's three first.
            s_.sharp.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(h_ + 2), 0.0f);
            float* up = s_.sharp.data() + width; // a zero row above and below
            for (int y = 0; y < h_; ++y) {
                const int jy = s_.upRow[static_cast<std::size_t>(y)];
                const double ty = s_.upRowT[static_cast<std::size_t>(y)];
                const float* f0 = frame + offset(0, jy, fw);
                const float* f1 = f0 + fw;
                float* dst = up + offset(0, y, width);
                for (int x = 0; x < width; ++x) {
                    const int ix = s_.upColumn[static_cast<std::size_t>(x)];
                    const double tx = s_.upColumnT[static_cast<std::size_t>(x)];
                    const double top = f0[ix] * (1 - tx) + f0[ix + 1] * tx;
                    const double bottom = f1[ix] * (1 - tx) + f1[ix + 1] * tx;
                    dst[x] = static_cast<float>(top * (1 - ty) + bottom * ty);
                }
            }
            s_.rowMean.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(h_ + 2));
            for (int y = -1; y <= h_; ++y) {
                const float* in = up + static_cast<std::ptrdiff_t>(y) * width;
                float* out = s_.rowMean.data() + offset(0, y + 1, width);
                for (int x = 0; x < width; ++x)
                    out[x] = (x > 0 ? in[x - 1] : 0.0f) + in[x] + (x + 1 < width ? in[x + 1] : 0.0f);
            }
            p.x0 = x0 - column;
            p.width = width;
            float* out = claim(width * h_);
            p.start = static_cast<int>(out - s_.pool.data());
            for (int y = 0; y < h_; ++y) {
                const float* r0 = s_.rowMean.data() + offset(0, y, width);
                const float* r1 = r0 + width;
                const float* r2 = r1 + width;
                for (int x = 0; x < width; ++x)
                    out[offset(x, y, width)] = (r0[x] + r1[x] + r2[x]) / 9.0f;
            }
            findInkRows(out, width, h_, p);
        }
    }

    // A separable sampler's taps along one axis: for each of `count`
    // output pixels, `taps` bilinear samples at coord(pixel, tap), each two
    // (source index, weight) pairs, the weights summing to one over the
    // pixel; sources outside 0..limit-1 weigh nothing.
    template <typename Coord>
    static void axisTaps(int count, int taps, int limit, std::vector<Tap>& out, Coord coord) {
        out.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(2 * taps));
        for (int i = 0; i < count; ++i)
            for (int t = 0; t < taps; ++t) {
                const double u = coord(i, t);
                const double fu = std::floor(u);
                const int iu = static_cast<int>(fu);
                const double tu = u - fu;
                Tap* at = &out[static_cast<std::size_t>((i * taps + t) * 2)];
                const bool in0 = iu >= 0 && iu < limit;
                const bool in1 = iu + 1 >= 0 && iu + 1 < limit;
                at[0] = Tap{in0 ? iu : 0, in0 ? (1.0 - tu) / taps : 0.0};
                at[1] = Tap{in1 ? iu + 1 : 0, in1 ? tu / taps : 0.0};
            }
    }

    // The glyph sampled at the taps in s_.tapX and s_.tapY into a w x h
    // plane: bilinear samples averaged over a pixel are separable, so each
    // output row that reaches the glyph is first combined down from the
    // source rows, then filtered across.
    void sampleSeparable(const FigureGlyph& g, int w, int h, int taps, float* out) {
        const int cols = static_cast<int>(g.columns);
        const int per = 2 * taps;
        s_.across.resize(static_cast<std::size_t>(cols));
        for (int y = 0; y < h; ++y) {
            const Tap* t = &s_.tapY[static_cast<std::size_t>(y * per)];
            float* dst = out + offset(0, y, w);
            bool any = false;
            for (int k = 0; k < per; ++k)
                any = any || t[k].weight != 0.0;
            if (!any) {
                std::fill_n(dst, w, 0.0f);
                continue;
            }
            std::fill(s_.across.begin(), s_.across.end(), 0.0);
            for (int k = 0; k < per; ++k) {
                if (t[k].weight == 0.0)
                    continue;
                const float* src = g.coverage.data() + offset(0, t[k].index, cols);
                for (int x = 0; x < cols; ++x)
                    s_.across[static_cast<std::size_t>(x)] += t[k].weight * src[x];
            }
            for (int x = 0; x < w; ++x) {
                const Tap* u = &s_.tapX[static_cast<std::size_t>(x * per)];
                double sum = 0.0;
                for (int k = 0; k < per; ++k)
                    sum += u[k].weight * s_.across[static_cast<std::size_t>(u[k].index)];
                dst[x] = static_cast<float>(sum);
            }
        }
    }

    // Separable Gaussian blur of a w x h plane from `in` to `out`.
    // Only rows inkTop..inkBottom of `in` may hold ink; the rest are known
    // empty and neither blurred across nor read.
    void blurPlane(double sigma, int w, int h, const float* in, float* out, int inkTop = 0,
                   int inkBottom = -1) {
        if (inkBottom < 0)
            inkBottom = h - 1;
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
        // Tap by tap over whole rows, each pixel's taps added in the same
        // order as pixel by pixel, so the loops run over contiguous memory.
        s_.blurred.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0.0f);
        for (int y = inkTop; y <= inkBottom; ++y) {
            const float* src = in + offset(0, y, w);
            float* dst = s_.blurred.data() + offset(0, y, w);
            for (int i = -r; i <= r; ++i) {
                const float k = s_.kernel[static_cast<std::size_t>(i + r)];
                const int xa = std::max(0, -i);
                const int xb = std::min(w, w - i);
                for (int x = xa; x < xb; ++x)
                    dst[x] += k * src[x + i];
            }
        }
        std::fill_n(out, static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0.0f);
        for (int y = std::max(0, inkTop - r); y <= std::min(h - 1, inkBottom + r); ++y) {
            float* dst = out + offset(0, y, w);
            for (int i = std::max(inkTop - y, -r); i <= std::min(inkBottom - y, r); ++i) {
                const float k = s_.kernel[static_cast<std::size_t>(i + r)];
                const float* src = s_.blurred.data() + offset(0, y + i, w);
                for (int x = 0; x < w; ++x)
                    dst[x] += k * src[x];
            }
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
        // Each capture pixel the mean of 3 x 3 bilinear samples.
        constexpr int kTaps = 3;
        axisTaps(width, kTaps, static_cast<int>(g.columns), s_.tapX, [&](int x, int tx) {
            const double xc = x0 + x + (tx - 1) / 3.0;
            return ((xc - phi) / st.cap - g.originX) * perCap_ - 0.5;
        });
        axisTaps(h_, kTaps, static_cast<int>(g.rows), s_.tapY, [&](int y, int ty) {
            const double yc = y0_ + y + (ty - 1) / 3.0;
            return ((yc - st.capTop) / st.cap - g.originY) * perCap_ - 0.5;
        });
        s_.sharp.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(h_));
        sampleSeparable(g, width, h_, kTaps, s_.sharp.data());
        Patch ink;
        findInkRows(s_.sharp.data(), width, h_, ink);
        for (int k = 0; k < kSigmaCount; ++k) {
            const int si = sizeIndex * kSoftnesses + k;
            Patch& p = s_.patches[static_cast<std::size_t>((si * kSetCount + c) * kPhaseSlots + phase)];
            p.x0 = x0;
            p.width = width;
            float* out = claim(width * h_);
            p.start = static_cast<int>(out - s_.pool.data());
            blurPlane(kSigmas[k], width, h_, s_.sharp.data(), out, ink.top, ink.bottom);
            findInkRows(out, width, h_, p);
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
    int inkStride_ = 0;
    int scored_ = 0;
    bool lattice_ = false;
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
// The error of the whole string is mostly what no rendering explains (the
// soft edges, the compression) and is shared by the right string and a
// rival alike; on the glyphs where the two differ it is not. A rival that
// explains those glyphs better than the best refuses the reading, however
// the whole strings compare; and a narrower whole-string margin is enough
// where those glyphs favour the best clearly. A rival leaving this much
// more error over the whole is no contender and is not asked.
constexpr double kMinLocalRatio = 1.0;
constexpr double kNarrowErrorRatio = 1.04;
constexpr double kNarrowLocalRatio = 1.15;
constexpr double kNarrowEightLocalRatio = 1.30;
constexpr double kLocalAsked = 1.6;

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

// The game stands its reward lines' cap middles 4.033 + 1.3 i money heights
// below the top of the capture (line i from the top). On soft footage the
// balance's measured height can be a tenth off, beyond the sizes tried
// around it, while a line's middle stays where it was drawn: where the
// two disagree clearly, the sizes are tried around the line's own.
constexpr double kFirstLineMiddle = 3.7 + 0.667 / 2.0;
constexpr double kLinePitch = 1.3;
constexpr double kMinPlaceMismatch = 0.035;
constexpr double kMaxPlaceMismatch = 0.13;

double scaleByPlace(double middle, double moneyHeight) {
    const double down = (middle + 0.5) / moneyHeight;
    const double index = std::round((down - kFirstLineMiddle) / kLinePitch);
    if (index < 0.0 || index > 3.0)
        return 1.0;
    const double byPlace = down / (kFirstLineMiddle + kLinePitch * index);
    const double off = std::abs(byPlace - 1.0);
    return off > kMinPlaceMismatch && off < kMaxPlaceMismatch ? byPlace : 1.0;
}

// The game sets the phrase's last letter a whole cap left of the figure's
// first glyph (a light panel's edge half a cap). A string whose first glyph
// would put that clear space over strokes has taken the phrase's last
// letters for glyphs of its own: short figures lose to long ones that way,
// the thin "1" and "7" of the long one lying over the clear space cheaply.
class ClearSpace {
public:
    ClearSpace(const Plane& luma, double capTop, double cap, int from, int to, std::vector<float>& store)
        : luma_(luma), cap_(cap), from_(std::max(1, from)), store_(store) {
        const int last = std::min(luma.width - 2, to);
        store_.assign(static_cast<std::size_t>(std::max(0, last - from_ + 1)), 0.0f);
        // Bright strokes fill the cap's middle rows; the rows just above
        // and below it hold the scene, or a panel's padding.
        const int innerTop = rowAt(capTop + kInner * cap);
        const int innerBottom = rowAt(capTop + (1.0 - kInner) * cap);
        const int aboveTop = rowAt(capTop - kOuterFar * cap);
        const int aboveBottom = rowAt(capTop - kOuterNear * cap);
        const int belowTop = rowAt(capTop + (1.0 + kOuterNear) * cap);
        const int belowBottom = rowAt(capTop + (1.0 + kOuterFar) * cap);
        if (innerBottom < innerTop || aboveBottom < aboveTop || belowBottom < belowTop)
            return;
        for (int x = from_; x <= last; ++x) {
            double sum = 0.0;
            for (int dx = -1; dx <= 1; ++dx) {
                const double inner = mean(x + dx, innerTop, innerBottom);
                const double outer =
                    (mean(x + dx, aboveTop, aboveBottom) + mean(x + dx, belowTop, belowBottom)) / 2.0;
                sum += inner - outer;
            }
            store_[static_cast<std::size_t>(x - from_)] = static_cast<float>(sum / 3.0);
        }
        valid_ = true;
    }

    // The strongest stroke over columns a..b.
    double strongest(double a, double b) const {
        double most = 0.0;
        const int lo = std::max(0, static_cast<int>(std::floor(a)) - from_);
        const int hi = std::min(static_cast<int>(store_.size()) - 1, static_cast<int>(std::ceil(b)) - from_);
        for (int i = lo; i <= hi; ++i)
            most = std::max(most, static_cast<double>(store_[static_cast<std::size_t>(i)]));
        return most;
    }

    // Whether the space the game leaves left of ink starting at `inkLeft`
    // holds strokes as strong as a share of the figure's own (`figure`).
    bool holdsText(double inkLeft, double figure) const {
        if (!valid_ || !(figure > 0.0))
            return false;
        return strongest(inkLeft - kSpaceFar * cap_, inkLeft - kSpaceNear * cap_) > kMaxShare * figure;
    }

private:
    int rowAt(double y) const { return std::clamp(static_cast<int>(std::lround(y)), 0, luma_.height - 1); }
    double mean(int x, int y0, int y1) const {
        double sum = 0.0;
        for (int y = y0; y <= y1; ++y)
            sum += luma_.at(x, y);
        return sum / (y1 - y0 + 1);
    }

    static constexpr double kInner = 0.15;
    static constexpr double kOuterNear = 0.12;
    static constexpr double kOuterFar = 0.28;
    // Clear of the soft edges of the first glyph and of a panel's.
    static constexpr double kSpaceNear = 0.3;
    static constexpr double kSpaceFar = 0.75;
    static constexpr double kMaxShare = 0.5;

    const Plane& luma_;
    double cap_;
    int from_;
    std::vector<float>& store_;
    bool valid_ = false;
};

} // namespace

bool readAmountBySynthesis(const Model& model, const FramePlanes& planes, double hp, double figureRight,
                           HudLine& line) {
    const Plane& luma = planes.smooth;
    if (model.figureGlyphs.pixelsPerCap == 0 || luma.empty() || !(hp > 4.0) || line.bottom <= line.top)
        return false;
    const double moneyHeight = hp / 0.667;
    const double rightAtScale1 = figureRight + 0.5;
    const double middle = (line.top + line.bottom) / 2.0;
    const double sized = scaleByPlace(middle, moneyHeight);
    std::array<Setting, kSettings> settings{};
    for (int a = 0; a < kScaleCount; ++a)
        for (int b = 0; b < kRiseCount; ++b)
            for (int c = 0; c < kSoftnesses; ++c) {
                Setting& st = settings[static_cast<std::size_t>((a * kRiseCount + b) * kSoftnesses + c)];
                const double scale = kScales[a] * sized;
                st.softness = c;
                st.cap = hp * scale;
                st.capTop = middle - (st.cap - 1.0) / 2.0 + kRises[b];
                st.right = rightAtScale1 + 2.56 * moneyHeight * (1.0 - scale);
            }
    const double capMax = hp * kScales[kScaleCount - 1] * sized;
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
    // The first glyph places the string: every setting is tried with the
    // first glyph at whole-pixel shifts, and the best few placements again
    // half a pixel either side.
    set.searchOnLattice(true);
    auto first = [&](int setting, double shift, bool xp) {
        Candidate start;
        start.setting = setting;
        start.shift = shift;
        start.xp = xp;
        if (xp) {
            set.place(start, kP);
            set.place(start, kX);
            start.sse = set.score(start);
            next.push_back(start);
            return;
        }
        for (int d = 0; d <= 9; ++d) {
            Candidate c = start;
            set.place(c, digitIndex(d));
            c.sse = set.score(c);
            next.push_back(c);
        }
    };
    for (int kind = 0; kind < 2; ++kind) {
        const bool xp = kind == 1;
        next.clear();
        // A frame grid's patches differ with the glyph's column modulo the
        // grid, so those settings start at one shift and are moved only
        // where they lead.
        // Rows likewise: each size starts on the middle row, and the
        // leaders try the rows either side.
        for (int s = 0; s < kSettings; ++s)
            for (double shift : kCoarseShifts)
                if ((s % kSoftnesses < kSigmaCount || shift == 0.0) && riseOf(s) == kRiseCount / 2)
                    first(s, shift, xp);
        std::sort(next.begin(), next.end(), bySse);
        std::array<std::pair<int, double>, kRefined> refine{};
        int refined = 0;
        for (std::size_t i = 0; i < next.size() && refined < kRefined; ++i) {
            const std::pair<int, double> at{next[i].setting, next[i].shift};
            if (std::find(refine.begin(), refine.begin() + refined, at) == refine.begin() + refined)
                refine[static_cast<std::size_t>(refined++)] = at;
        }
        for (int i = 0; i < refined; ++i) {
            const auto [setting, shift] = refine[static_cast<std::size_t>(i)];
            const bool grid = setting % kSoftnesses >= kSigmaCount;
            for (double by : {-1.0, -0.5, 0.5, 1.0})
                if (grid || std::abs(by) < 1.0)
                    first(setting, shift + by, xp);
            for (int rise = 0; rise < kRiseCount; ++rise)
                if (rise != riseOf(setting))
                    first(withRise(setting, rise), shift, xp);
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
    set.searchOnLattice(false);
    if (complete.empty())
        return false;
    // The lattice ranks; the leading strings are measured on every pixel.
    std::sort(complete.begin(), complete.end(), bySse);
    constexpr std::size_t kRemeasured = 8;
    for (std::size_t i = 0; i < std::min(kRemeasured, complete.size()); ++i)
        complete[i].sse = set.score(complete[i]);
    std::sort(complete.begin(),
              complete.begin() + static_cast<std::ptrdiff_t>(std::min(kRemeasured, complete.size())), bySse);
    // Strings that would leave strokes in the space before them are no
    // readings, and no rivals either.
    const double cap = hp * sized;
    const ClearSpace space(luma, middle - (cap - 1.0) / 2.0, cap, x0 - static_cast<int>(std::ceil(cap)),
                           static_cast<int>(std::ceil(rightAtScale1)), scratch.strokes);
    const double figureStrokes = space.strongest(rightAtScale1 - 2.0 * cap, rightAtScale1);
    complete.erase(
        std::remove_if(complete.begin(), complete.end(),
                       [&](const Candidate& c) { return space.holdsText(set.inkLeftAt(c), figureStrokes); }),
        complete.end());
    if (complete.empty())
        return false;
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
    // Climbed on the lattice like the search; the rivals below are
    // measured on every pixel.
    constexpr int kClimbs = 3;
    set.searchOnLattice(true);
    best.sse = set.score(best);
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
    set.searchOnLattice(false);

    // Each rival one digit off gets its own softness and a place half a
    // pixel either side: set where the best fits, it would lose by more
    // than it does on its own.
    const int sizeBase = best.setting / kSoftnesses * kSoftnesses;
    const int right = set.width() - 1;
    const int ownFrom = std::max(0, set.inkLeft(best) - 3);
    const int bestSetting = best.setting;
    const double bestShift = best.shift;
    constexpr double kRivalShifts[] = {-0.5, 0.0, 0.5};
    // The string spelt in `digits` at those variants, ranked on the
    // lattice, the best two measured on every pixel of the best's own
    // columns (where the verdict is taken); the better into `out`.
    auto setBest = [&](Candidate& out) {
        std::array<Candidate, 2> two{};
        int found = 0;
        set.searchOnLattice(true);
        for (int soft = 0; soft < kSoftnesses; ++soft)
            for (double shift : kRivalShifts) {
                if (shift != 0.0 && sizeBase + soft != bestSetting)
                    continue;
                Candidate like = best;
                like.setting = sizeBase + soft;
                like.shift = bestShift + shift;
                Candidate c;
                if (!setDigits(like, best.digits, c))
                    continue;
                c.sse = set.score(c);
                if (found < 2) {
                    two[static_cast<std::size_t>(found++)] = c;
                } else if (c.sse < two[1].sse) {
                    two[1] = c;
                }
                if (found == 2 && two[1].sse < two[0].sse)
                    std::swap(two[0], two[1]);
            }
        set.searchOnLattice(false);
        if (found == 0)
            return false;
        for (int k = 0; k < found; ++k)
            two[static_cast<std::size_t>(k)].sse =
                set.score(two[static_cast<std::size_t>(k)], ownFrom, right);
        if (found == 2 && two[1].sse < two[0].sse)
            std::swap(two[0], two[1]);
        out = two[0];
        return true;
    };
    // The best gets the same freedom before it is weighed against them:
    // a rival fitted seven ways against a best fitted one would win on
    // the noise alone, and refuse right readings.
    {
        best.sse = set.score(best, ownFrom, right);
        spell(best);
        Candidate refit;
        if (setBest(refit) && refit.sse < best.sse)
            best = refit;
    }

    // Margins are measured on the columns the two strings cover, not the
    // whole window: the phrase's last letters and the scene left of a
    // short figure are no one's to explain, and would drown the difference.
    // Each rival must leave the error ratio it is asked for: the renderings
    // take an "8" for a "4" more readily than any other pair (the soft,
    // compressed "4" fills in), so an "8" needs the wider margin over the
    // "4" in its place.
    double ratio = std::numeric_limits<double>::infinity();
    bool clear = true;
    int mineFrom = -1;
    double mine = 0.0;
    auto against = [&](Candidate& r) {
        const int from = std::max(0, std::min(set.inkLeft(best), set.inkLeft(r)) - 3);
        if (from != mineFrom) {
            mine = set.score(best, from, right);
            mineFrom = from;
        }
        const double theirs = set.score(r, from, right);
        const double own = theirs / std::max(mine, 1e-9);
        ratio = std::min(ratio, own);
        const bool eight = eightForFour(best, r);
        if (own >= kLocalAsked)
            return;
        const double local = set.localRatio(best, r);
        const bool wide = own >= (eight ? kMinEightOverFour : kMinErrorRatio);
        const bool narrow = own >= (eight ? kMinErrorRatio : kNarrowErrorRatio) &&
                            local >= (eight ? kNarrowEightLocalRatio : kNarrowLocalRatio);
        if (local < kMinLocalRatio || (!wide && !narrow))
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
    for (int i = 0; i < best.digits; ++i)
        for (int d = i + 1 == best.digits ? 1 : 0; d <= 9; ++d) {
            spell(best);
            if (d == digits[static_cast<std::size_t>(i)])
                continue;
            digits[static_cast<std::size_t>(i)] = d;
            Candidate rival;
            if (setBest(rival))
                against(rival);
        }
    double fit = 0.0;
    set.score(best, std::max(0, set.inkLeft(best) - 3), right, &fit);
    if (fit < kMinFit || !clear || set.overBudget())
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

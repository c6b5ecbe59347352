#include "hud/cash/lines.h"

#include "hud/cash/money.h"
#include "hud/cash/vocab.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

namespace hud {

namespace {

// Reward text is two thirds the height of the balance digits.
constexpr double kRewardTextScale = 0.667;

// Light panels behind dark reward text: brighter than any scene the game
// draws the HUD over, and sized like one word at the HUD scales in use.
constexpr float kPanelLuma = 185.0f;
constexpr int kPanelMinHeight = 24;
constexpr int kPanelMaxHeight = 60;
constexpr int kPanelMinWidth = 50;
constexpr int kPanelMaxWidth = 260;
constexpr double kPanelFill = 0.55;
constexpr int kPanelGrow = 2;
constexpr int kPanelTopHat = 7;
constexpr int kPanelBorder = 2;
constexpr float kPanelTextTopHat = 34.0f;
constexpr float kPanelTextInv = 60.0f;

// Sizes a text blob can have at all in the capture.
constexpr int kTextMinHeight = 2;
constexpr int kTextMaxHeight = 48;
constexpr int kTextMaxWidth = 70;
constexpr int kTextMinArea = 6;

// Reward-line figures: "+$250" in their own font, set like the balance.
constexpr double kFigureRightMargin = 2.56; // in H, from the right edge
constexpr double kFigureGroupGap = 0.39;
constexpr int kFigureMaxDigits = 7;
constexpr int kFigureRadius = 3;

// A glyph whose better reading is weaker than this is not text.
constexpr float kGlyphMinScore = 0.55f;

using Cell = std::array<float, kGlyphCellLength>;

// A light area too dark inside to pass as a panel by its fill alone is still
// one when its padding is light all round: bold dark letters at the font's
// own spacing take close to half of a panel with the game's narrow padding.
constexpr double kPanelLooseFill = 0.3;
constexpr double kPanelRimLight = 0.9;
// "KILL" on its panel is about 1.6 panel heights wide.
constexpr int kNarrowPanelMinWidth = 36;
constexpr double kNarrowPanelHeights = 1.3;
// Bold letters blurred at small sizes leave a panel lighter than this only.
constexpr double kPanelSoftFill = 0.2;

bool plainTextSize(const Blob& b) {
    return b.height() >= kTextMinHeight && b.height() <= kTextMaxHeight && b.width() <= kTextMaxWidth &&
           b.area >= kTextMinArea;
}

bool insideGrown(const Blob& b, const Blob& panel) {
    return b.x0 >= panel.x0 - kPanelGrow && b.x1 <= panel.x1 + kPanelGrow && b.y0 >= panel.y0 - kPanelGrow &&
           b.y1 <= panel.y1 + kPanelGrow;
}

bool sameSize(const Plane& p, int w, int h) {
    return p.width == w && p.height == h &&
           p.pixels.size() >= static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

std::size_t offset(int x, int y, int w) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
}

// Share of light pixels along the panel's padding: the second row and column
// in from each side of the box.
double rimLight(const std::vector<std::uint8_t>& bright, int w, const Blob& b) {
    int light = 0;
    int total = 0;
    for (int x = b.x0 + 2; x <= b.x1 - 2; ++x) {
        light += bright[offset(x, b.y0 + 1, w)] + bright[offset(x, b.y1 - 1, w)];
        total += 2;
    }
    for (int y = b.y0 + 2; y <= b.y1 - 2; ++y) {
        light += bright[offset(b.x0 + 1, y, w)] + bright[offset(b.x1 - 1, y, w)];
        total += 2;
    }
    return total > 0 ? static_cast<double>(light) / total : 0.0;
}

// Splits the area of a blob between two parts in proportion to their widths;
// the cut column's share goes to neither.
void shareArea(const Blob& whole, Blob& left, Blob& right) {
    const double w = whole.width();
    left.area = static_cast<int>(whole.area * (left.width() / w));
    right.area = static_cast<int>(whole.area * (right.width() / w));
}

struct FigureRead {
    bool accepted = false;
    MoneyReading reading;
};

// A digit a figure's reading left out right of its last one, in caps from
// the last digit's centre: that digit's own ink lies within the first reach,
// the blank after it before the second, and the left-out digit's ink begins
// before the third. Its columns are at least this share as dark as the last
// digit's darkest and this wide, and its reading ends this far further right
// with its "$" no further right than this of where the short one found it.
constexpr double kLostDigitOwnInk = 0.2;
constexpr double kLostDigitBlankReach = 0.65;
constexpr double kLostDigitReach = 1.2;
constexpr float kLostDigitShare = 0.35f;
constexpr double kLostDigitMinWidth = 0.15;
constexpr double kLostDigitMinStep = 0.3;
constexpr double kLostDigitDollarShift = 0.5;

bool digitInkRightOf(const FramePlanes& planes, const RewardRow& row, double lastX, double& centre);

// Reads a reward-line figure leftwards from startX with the figure font.
FigureRead readFigureFrom(const Model& model, const FramePlanes& planes, const RewardRow& row, double startX,
                          float minLineConfidence, float minMargin, bool settleTies) {
    MoneyRowContext ctx(planes.ink2, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    if (settleTies)
        ctx.settlers = &model.figureSettlers;
    FigureRead out;
    out.reading = readMoney(ctx, startX, figureWidths(), kFigureGroupGap, kFigureMaxDigits, kFigureRadius);
    out.accepted =
        out.reading.ok && out.reading.minScore >= minLineConfidence && out.reading.minMargin >= minMargin;
    if (!out.accepted)
        out.accepted = confirmWithSoft(ctx, model.figuresWithSoft, figureWidths(), kFigureGroupGap,
                                       kFigureMaxDigits, minLineConfidence, minMargin, 1.0f, out.reading);
    return out;
}

// A figure read from a digit short of its end ("+$621" read from its "2" as
// +$62) passes every test of its own characters; the ink of the digit left
// out, standing clear right of the last one read, gives it away. It is read
// again from that digit, and is no figure when that fails: a wrong amount is
// worse than none.
FigureRead readFigure(const Model& model, const FramePlanes& planes, const RewardRow& row, double startX,
                      float minLineConfidence, float minMargin, bool settleTies = false) {
    FigureRead out = readFigureFrom(model, planes, row, startX, minLineConfidence, minMargin, settleTies);
    double lost = 0.0;
    if (!out.reading.ok || !digitInkRightOf(planes, row, out.reading.firstX, lost))
        return out;
    const FigureRead whole =
        readFigureFrom(model, planes, row, lost, minLineConfidence, minMargin, settleTies);
    double further = 0.0;
    // The whole figure is the short one and more: more digits, its "$" not
    // right of where the short reading found it.
    if (whole.reading.ok && whole.reading.firstX > out.reading.firstX + kLostDigitMinStep * row.lh &&
        whole.reading.digits.size() > out.reading.digits.size() &&
        whole.reading.dollarX <= out.reading.dollarX + kLostDigitDollarShift * row.lh &&
        !digitInkRightOf(planes, row, whole.reading.firstX, further))
        return whole;
    // Short of a digit: no whole figure, for the glyphs to confirm either.
    out.accepted = false;
    out.reading.ok = false;
    return out;
}

void takeFigure(const MoneyReading& r, HudLine& line) {
    line.hasFigure = true;
    line.figure = r.value;
    line.figureConfidence = r.minScore;
    line.figureMargin = r.minMargin;
    line.figureX = r.firstX;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A column holding less ink than this share of the cap is blank.
constexpr float kXpColumnInk = 0.1f;
// How far from where a figure's reading puts its right edge the amount's
// ink may end, in caps.
constexpr double kXpEndReach = 0.6;
// A figure read at least this sure on its first reading is not checked for
// an amount's letters: the check would cost every clean frame its time, and
// the letters read as digits score below it.
constexpr float kSureFigureScore = 0.82f;

// The ink of a row's band, summed per column.
class RowColumns {
public:
    RowColumns(const Plane& ink, const RewardRow& row)
        : ink_(ink), r0_(std::max(0, row.top)), r1_(std::min(ink.height - 1, row.bottom)) {}

    bool usable() const { return !ink_.empty() && r1_ - r0_ >= 3; }
    int width() const { return ink_.width; }
    int top() const { return r0_; }
    int bottom() const { return r1_; }
    float inked() const { return kXpColumnInk * static_cast<float>(r1_ - r0_ + 1); }

    float at(int x) const {
        float sum = 0.0f;
        for (int y = r0_; y <= r1_; ++y)
            sum += ink_.pixels[offset(x, y, ink_.width)];
        return sum;
    }

    // The faintest column within `reach` of `x`; -1 when none is in the plane.
    int faintestNear(double x, int reach) const {
        const int centre = static_cast<int>(std::lround(x));
        int best = -1;
        float least = std::numeric_limits<float>::infinity();
        for (int c = std::max(0, centre - reach); c <= std::min(ink_.width - 1, centre + reach); ++c) {
            const float v = at(c);
            if (v < least) {
                least = v;
                best = c;
            }
        }
        return best;
    }

    // The last inked column at or left of `from`, not left of `lo`; below
    // `lo` when there is none.
    int lastInked(int from, int lo) const {
        int x = std::min(ink_.width - 1, from);
        lo = std::max(0, lo);
        while (x >= lo && at(x) < inked())
            --x;
        return x;
    }

    // [x0, x1] with the blank columns at both ends taken off, as a box over
    // the band; false when fewer than two columns are left.
    bool trimmed(int x0, int x1, Blob& box) const {
        while (x0 <= x1 && at(x0) < inked())
            ++x0;
        while (x1 >= x0 && at(x1) < inked())
            --x1;
        if (x1 - x0 < 1)
            return false;
        box.x0 = x0;
        box.x1 = x1;
        box.y0 = r0_;
        box.y1 = r1_;
        return true;
    }

private:
    const Plane& ink_;
    int r0_;
    int r1_;
};

// Whether ink right of a figure's last digit, centred at `lastX`, is a digit
// the reading left out: past the blank that ends the last digit, a run of
// dark columns wide enough for a digit. `centre` is that run's middle.
bool digitInkRightOf(const FramePlanes& planes, const RewardRow& row, double lastX, double& centre) {
    const RowColumns cols(planes.ink2, row);
    if (!cols.usable() || row.lh < 4 || !std::isfinite(lastX))
        return false;
    const double lh = row.lh;
    const int right = std::min(cols.width() - 1, static_cast<int>(std::lround(lastX + kLostDigitReach * lh)));
    const int own0 = std::max(0, static_cast<int>(std::lround(lastX - kLostDigitOwnInk * lh)));
    const int own1 = static_cast<int>(std::lround(lastX + kLostDigitOwnInk * lh));
    if (own1 >= right)
        return false;
    float own = 0.0f;
    for (int x = own0; x <= own1; ++x)
        own = std::max(own, cols.at(x));
    const float dark = std::max(cols.inked(), kLostDigitShare * own);
    // The blank: the faintest column between the digit's ink and the reach
    // of a neighbour's.
    const int valley = cols.faintestNear(
        lastX + 0.5 * (kLostDigitOwnInk + kLostDigitBlankReach) * lh,
        static_cast<int>(std::lround(0.5 * (kLostDigitBlankReach - kLostDigitOwnInk) * lh)));
    if (valley < 0)
        return false;
    // No blank at all: the last digit runs into more ink, as an amount's
    // "XP" fused by blur into the digit before it does. Nothing stands
    // right of a figure's last digit.
    if (cols.at(valley) >= dark) {
        centre = lastX + figureWidths().of('0') * lh;
        return true;
    }
    int x = valley + 1;
    while (x <= right && cols.at(x) < dark)
        ++x;
    const int start = x;
    while (x < cols.width() && cols.at(x) >= dark)
        ++x;
    const int end = x - 1;
    if (start > right ||
        end - start + 1 < std::max(2, static_cast<int>(std::lround(kLostDigitMinWidth * lh))))
        return false;
    centre = 0.5 * (start + end);
    return true;
}

// The letters "XP" of an amount: their inked boxes.
struct XpLetters {
    Blob x;
    Blob p;
};

// The letters of an amount whose ink ends at column `end`, cut from each
// other at column `cut` and from the digit before them at `start`. Both
// boxes must read better as their letter than as any digit; with
// `anyLastLetter`, the second box only better as some letter than as any
// digit.
bool readXpLetters(const Model& model, const FramePlanes& planes, const RewardRow& row,
                   const RowColumns& cols, int start, int cut, int end, bool anyLastLetter, XpLetters& out) {
    if (start < 0 || cut <= start + 2 || end <= cut + 2)
        return false;
    if (!cols.trimmed(start + 1, cut - 1, out.x) || !cols.trimmed(cut + 1, end, out.p))
        return false;
    std::array<Cell, 2> cells{};
    std::array<float*, 2> samples{};
    const Blob boxes[2] = {out.x, out.p};
    for (std::size_t k = 0; k < 2; ++k) {
        sampleGlyphCell(planes.ink2, boxes[k], row.top, row.bottom, row.lh, cells[k].data());
        samples[k] = cells[k].data();
    }
    normalizeVectors(samples.data(), samples.size(), static_cast<std::size_t>(kGlyphCellLength));
    const std::array<const float*, 2> views{samples[0], samples[1]};
    std::array<GlyphClass, 2> letters{};
    std::array<GlyphClass, 2> digits{};
    classifyGlyphs(views.data(), views.size(), model.glyphs, kLineLetters, letters.data());
    classifyGlyphs(views.data(), views.size(), model.glyphs, kLineDigits, digits.data());
    // A blurred "P" loses the foot of its bowl's join and reads as "F"; no
    // digit does.
    return letters[0].character == 'X' &&
           (anyLastLetter || letters[1].character == 'P' || letters[1].character == 'F') &&
           letters[0].score > digits[0].score && letters[1].score > digits[1].score;
}

// The letters "XP" of an amount at the two advances that end at `right`,
// told apart from a figure's last digits without the row's blobs: at small
// sizes the two letters fuse into one blob, or into one with the digit
// before them, and the blob reading never sees them. Each advance's inked
// columns, cut from its neighbour at the faintest column near their border,
// are read with the glyph templates; both must read better as their letter
// than as any digit.
bool xpLettersEndAt(const Model& model, const FramePlanes& planes, const RewardRow& row, double right) {
    const RowColumns cols(planes.ink2, row);
    if (!cols.usable() || row.lh < 4 || !std::isfinite(right))
        return false;
    const double advance = figureWidths().of('P') * row.lh;
    const int reach = std::max(1, static_cast<int>(std::lround(0.2 * row.lh)));
    // The "P" ends where the amount's ink does: a figure read a little off
    // its place says only roughly where.
    const int reachEnd = static_cast<int>(std::lround(kXpEndReach * row.lh));
    const int endLo = static_cast<int>(std::lround(right)) - reachEnd;
    const int end = cols.lastInked(static_cast<int>(std::lround(right)) + reachEnd, endLo);
    if (end < std::max(0, endLo))
        return false;
    const int cut = cols.faintestNear(end + 0.5 - advance, reach);
    const int start = cols.faintestNear(end + 0.5 - 2.0 * advance, reach);
    XpLetters letters;
    return readXpLetters(model, planes, row, cols, start, cut, end, false, letters);
}

// Whether the glyphs a figure was read from end in the letters "XP": the
// figure templates know no letters, and an experience amount's digits and
// letters can pass for a figure's "$" and digits. Such a figure is none.
// Asked by the later attempts at a figure, and by the first ones only for
// figures short of sure: the glyph batch it takes would cost every clean
// frame its time.
bool figureEndsInXp(const Model& model, const FramePlanes& planes, const RewardRow& row,
                    const std::vector<Blob>& rowBlobs, const MoneyReading& r) {
    const char last = static_cast<char>('0' + r.value % 10);
    if (r.ok && xpLettersEndAt(model, planes, row, r.firstX + figureWidths().of(last) / 2.0 * row.lh))
        return true;
    std::vector<Blob> blobs;
    for (const Blob& b : rowBlobs)
        if (b.x1 > r.dollarX && b.x0 <= r.firstX + row.lh)
            blobs.push_back(b);
    if (blobs.size() < 2)
        return false;
    const std::vector<GlyphWord> words =
        readGlyphWords(planes, blobs, row.top, row.bottom, row.lh, model.glyphs);
    std::vector<const GlyphRead*> glyphs;
    for (const GlyphWord& w : words)
        for (const GlyphRead& g : w)
            glyphs.push_back(&g);
    if (glyphs.size() < 2)
        return false;
    const GlyphRead& x = *glyphs[glyphs.size() - 2];
    const GlyphRead& p = *glyphs.back();
    return x.letter == 'X' && p.letter == 'P' && x.letterScore > x.digitScore && p.letterScore > p.digitScore;
}

void appendJoined(std::string& s, std::string_view word) {
    if (!s.empty())
        s.push_back(' ');
    s.append(word);
}

// A light component's box without the ragged rows and columns at its edges
// where bright scene or a soft panel edge joins it: the panel proper.
constexpr double kPanelEdgeLight = 0.75;

Blob trimmedBox(const std::vector<std::uint8_t>& bright, int w, const Blob& b) {
    Blob t = b;
    auto rowShare = [&](int y) {
        int n = 0;
        for (int x = t.x0; x <= t.x1; ++x)
            n += bright[offset(x, y, w)];
        return static_cast<double>(n) / (t.x1 - t.x0 + 1);
    };
    auto columnShare = [&](int x) {
        int n = 0;
        for (int y = t.y0; y <= t.y1; ++y)
            n += bright[offset(x, y, w)];
        return static_cast<double>(n) / (t.y1 - t.y0 + 1);
    };
    for (int pass = 0; pass < 2; ++pass) {
        while (t.y1 - t.y0 > 4 && rowShare(t.y0) < kPanelEdgeLight)
            ++t.y0;
        while (t.y1 - t.y0 > 4 && rowShare(t.y1) < kPanelEdgeLight)
            --t.y1;
        while (t.x1 - t.x0 > 4 && columnShare(t.x0) < kPanelEdgeLight)
            ++t.x0;
        while (t.x1 - t.x0 > 4 && columnShare(t.x1) < kPanelEdgeLight)
            --t.x1;
    }
    return t;
}

// The light panels of the frame: bright components of a panel's size that
// are filled, or loosely filled with a lit rim. `loose` receives the panels
// only a second look finds: components whose rim is lit once the ragged
// edges where the scene joins them are trimmed off, or whose bold letters
// leave less of them light.
std::vector<Blob> findPanels(FramePlanes& planes, int w, int h, std::vector<Blob>& loose) {
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    // The frame's spare mask is free once the money line is found; reusing
    // it keeps a frame-sized allocation out of every pass.
    std::vector<std::uint8_t>& bright = planes.scratch.spareMask;
    bright.resize(n);
    maskAbove(planes.smooth.pixels.data(), n, kPanelLuma, bright.data());
    std::vector<Blob> panels;
    std::vector<Blob> brightBlobs;
    labelComponents(bright, w, h, brightBlobs, planes.scratch.labels);
    for (const Blob& b : brightBlobs) {
        const int bw = b.width();
        const int bh = b.height();
        if (bh < kPanelMinHeight || bh > kPanelMaxHeight || bw < kNarrowPanelMinWidth || bw > kPanelMaxWidth)
            continue;
        // A short word's panel at a small HUD scale is narrower than the
        // usual lower bound; such a one must be light all round its padding.
        if (bw < kPanelMinWidth) {
            if (bw >= kNarrowPanelHeights * bh && b.area > kPanelLooseFill * bw * bh &&
                rimLight(bright, w, b) >= kPanelRimLight)
                panels.push_back(b);
            continue;
        }
        if (b.area > kPanelFill * bw * bh ||
            (b.area > kPanelLooseFill * bw * bh && rimLight(bright, w, b) >= kPanelRimLight)) {
            panels.push_back(b);
            continue;
        }
        const Blob t = trimmedBox(bright, w, b);
        const int tw = t.width();
        const int th = t.height();
        if (th >= kPanelMinHeight - 4 && tw >= kNarrowPanelHeights * th &&
            b.area > kPanelSoftFill * tw * th && rimLight(bright, w, t) >= kPanelRimLight)
            loose.push_back(t);
    }
    return panels;
}

// Bright text of plain size off the panels.
void keepPlainText(FramePlanes& planes, const std::vector<Blob>& panels, int w, int h) {
    // The money line search has usually labelled this very mask already.
    if (!planes.maskBlobsReady) {
        labelComponents(planes.mask, w, h, planes.scratch.blobs, planes.scratch.labels);
        planes.maskBlobsReady = true;
    }
    for (const Blob& b : planes.scratch.blobs) {
        const bool onPanel =
            std::any_of(panels.begin(), panels.end(), [&b](const Blob& p) { return insideGrown(b, p); });
        if (onPanel || !plainTextSize(b) || b.x0 < 1 || b.y0 < 1)
            continue;
        Blob kept = b;
        kept.inverted = false;
        planes.textBlobs.push_back(kept);
    }
}

// Dark text on a light panel becomes ordinary bright ink once the panel is
// inverted, so the glyph templates serve both kinds of line.
void keepPanelText(FramePlanes& planes, const std::vector<Blob>& panels, int w) {
    Plane inv;
    Plane th;
    Plane ramp;
    Plane tmpA;
    Plane tmpB;
    std::vector<std::uint8_t> cropMask;
    std::vector<Blob> cropBlobs;
    for (const Blob& p : panels) {
        const int cw = p.width();
        const int ch = p.height();
        inv.resize(cw, ch);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                inv.pixels[offset(x, y, cw)] = 255.0f - planes.smooth.at(p.x0 + x, p.y0 + y);
        topHat(inv, kPanelTopHat, th, tmpA, tmpB);
        contrastRamp(th, ramp);
        for (int y = 0; y < ch; ++y)
            std::copy_n(ramp.pixels.begin() + static_cast<std::ptrdiff_t>(offset(0, y, cw)), cw,
                        planes.ink2.pixels.begin() + static_cast<std::ptrdiff_t>(offset(p.x0, p.y0 + y, w)));
        cropMask.assign(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 0);
        for (int y = kPanelBorder; y < ch - kPanelBorder; ++y)
            for (int x = kPanelBorder; x < cw - kPanelBorder; ++x) {
                const std::size_t i = offset(x, y, cw);
                cropMask[i] = (th.pixels[i] > kPanelTextTopHat && inv.pixels[i] > kPanelTextInv) ? 1 : 0;
            }
        labelComponents(cropMask, cw, ch, cropBlobs, planes.scratch.labels);
        for (Blob b : cropBlobs) {
            if (!plainTextSize(b))
                continue;
            b.x0 += p.x0;
            b.x1 += p.x0;
            b.y0 += p.y0;
            b.y1 += p.y0;
            b.inverted = true;
            planes.textBlobs.push_back(b);
        }
    }
}

} // namespace

void findTextBlobs(FramePlanes& planes) {
    if (planes.textBlobsReady)
        return;
    planes.textBlobsReady = true;
    planes.textBlobs.clear();
    planes.panels.clear();

    const int w = planes.smooth.width;
    const int h = planes.smooth.height;
    if (planes.smooth.empty() || !sameSize(planes.smooth, w, h)) {
        planes.ink2 = Plane{};
        return;
    }
    // Everything downstream samples ink2 at smooth's coordinates; planes that
    // disagree in size would be read out of bounds, so such ink is dropped.
    if (sameSize(planes.ink, w, h)) {
        planes.ink2 = planes.ink;
    } else {
        planes.ink2.width = w;
        planes.ink2.height = h;
        planes.ink2.pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0.0f);
    }
    std::vector<Blob> loose;
    const std::vector<Blob> panels = findPanels(planes, w, h, loose);
    keepPlainText(planes, panels, w, h);
    keepPanelText(planes, panels, w);
    planes.panels = panels;
    planes.panels.insert(planes.panels.end(), loose.begin(), loose.end());
}

namespace {

// Wider than any one glyph of the reward lines (the widest letters stay
// under 1.3 line heights, with letter spacing): such a blob is letters run
// together, whatever the classifier thinks of it.
constexpr double kSeveralGlyphs = 1.9;

// The column of the blob's middle half with the least ink over rows r0..r1;
// -1 when the blob is too narrow to have one.
int faintestColumn(const Plane& ink2, const Blob& blob, int r0, int r1) {
    const int w = blob.width();
    const int c0 = static_cast<int>(0.25 * w);
    const int c1 = static_cast<int>(0.75 * w) - 1;
    if (c1 < c0)
        return -1;
    int cut = blob.x0 + c0;
    double lowest = std::numeric_limits<double>::infinity();
    for (int c = c0; c <= c1; ++c) {
        const int x = blob.x0 + c;
        double sum = 0.0;
        if (x >= 0 && x < ink2.width)
            for (int y = r0; y <= r1; ++y)
                sum += ink2.at(x, y);
        if (sum < lowest) {
            lowest = sum;
            cut = x;
        }
    }
    return cut;
}

// Cuts a run of several fused letters at its faintest middle column until
// every piece is narrow enough to be at most two letters; a single cut into
// halves of two letters each would classify no better than the whole, and
// the run would be dropped with its word.
void cutRuns(const Plane& ink2, const Blob& blob, int r0, int r1, double lh, std::vector<Blob>& out) {
    if (blob.width() <= kSeveralGlyphs * lh) {
        out.push_back(blob);
        return;
    }
    const int cut = faintestColumn(ink2, blob, r0, r1);
    Blob left = blob;
    left.x1 = cut - 1;
    Blob right = blob;
    right.x0 = cut + 1;
    if (cut < 0 || left.width() < 3 || right.width() < 3) {
        out.push_back(blob);
        return;
    }
    shareArea(blob, left, right);
    cutRuns(ink2, left, r0, r1, lh, out);
    cutRuns(ink2, right, r0, r1, lh, out);
}

// Splits each blob wider than a glyph into two at its faintest column when
// both halves read clearly better than the whole.
// Scores a caller may keep of the cells splitPairs classified: per part
// returned, the row of its cell in `scores` (charset.size() per row), or -1.
struct SplitScores {
    std::vector<int> rowOf;
    std::vector<float> scores;
};

// A blob that may be cut, with its two parts.
struct Split {
    Blob left;
    Blob right;
    std::size_t cell = 0; // cells of whole, left, right from here on
};

// Room for `count` glyph cells, kept from call to call: sampleGlyphCell
// writes every value, so nothing is cleared.
float* glyphCells(std::vector<float>& room, std::size_t count) {
    const std::size_t need = count * static_cast<std::size_t>(kGlyphCellLength);
    if (room.size() < need)
        room.resize(need);
    return room.data();
}

// splitPairs' working memory, kept per thread from row to row.
struct PairScratch {
    std::vector<Split> splits;
    std::vector<int> splitOf;
    std::vector<float> cells;
    std::vector<float*> samples;
    std::vector<const float*> views;
    std::vector<float> scores;
};

std::vector<Blob> splitPairs(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                             double bottom, double lh, int r0, int r1, const detail::Templates& glyphs,
                             std::string_view charset, SplitScores* kept = nullptr) {
    const Plane& ink2 = planes.ink2;
    std::vector<Blob> out;
    out.reserve(blobs.size() + 4);
    // The blobs that may be cut, with their two parts (splitOf is -1 for a
    // blob kept whole). All candidates are sampled first and scored in one
    // batch, so that each template is read once per row.
    thread_local PairScratch s;
    std::vector<Split>& splits = s.splits;
    std::vector<int>& splitOf = s.splitOf;
    splits.clear();
    splitOf.assign(blobs.size(), -1);
    for (std::size_t k = 0; k < blobs.size(); ++k) {
        const Blob& blob = blobs[k];
        if (blob.width() <= 0.95 * lh)
            continue;
        const int cut = faintestColumn(ink2, blob, r0, r1);
        if (cut < 0)
            continue;
        Split sp;
        sp.left = blob;
        sp.left.x1 = cut - 1;
        sp.right = blob;
        sp.right.x0 = cut + 1;
        if (sp.left.width() < 3 || sp.right.width() < 3)
            continue;
        sp.cell = 3 * splits.size();
        splitOf[k] = static_cast<int>(splits.size());
        splits.push_back(sp);
    }
    if (splits.empty()) {
        out = blobs;
        if (kept)
            kept->rowOf.assign(out.size(), -1);
        return out;
    }
    const std::size_t cellCount = 3 * splits.size();
    float* cells = glyphCells(s.cells, cellCount);
    std::vector<float*>& samples = s.samples;
    samples.assign(cellCount, nullptr);
    for (std::size_t k = 0; k < blobs.size(); ++k) {
        if (splitOf[k] < 0)
            continue;
        const Split& sp = splits[static_cast<std::size_t>(splitOf[k])];
        const Blob* parts[3] = {&blobs[k], &sp.left, &sp.right};
        for (std::size_t p = 0; p < 3; ++p) {
            float* cell = cells + (sp.cell + p) * static_cast<std::size_t>(kGlyphCellLength);
            sampleGlyphCell(ink2, *parts[p], top, bottom, lh, cell);
            samples[sp.cell + p] = cell;
        }
    }
    normalizeVectors(samples.data(), samples.size(), static_cast<std::size_t>(kGlyphCellLength));
    std::vector<const float*>& views = s.views;
    views.assign(samples.begin(), samples.end());
    // The scores of every character, not only the best two: the caller
    // reads the parts by letters and by digits apart and can take them
    // from here instead of scoring the same cells again.
    const std::size_t width = charset.size();
    std::vector<float>& scores = kept ? kept->scores : s.scores;
    scores.resize(views.size() * width);
    bestGlyphScores(views.data(), views.size(), glyphs, charset, scores.data());
    auto scoreOf = [&](std::size_t cell) {
        return foldGlyphScores(scores.data() + cell * width, charset).score;
    };
    auto keep = [&](const Blob& b, int row) {
        out.push_back(b);
        if (kept)
            kept->rowOf.push_back(row);
    };
    if (kept)
        kept->rowOf.clear();

    for (std::size_t k = 0; k < blobs.size(); ++k) {
        const Blob& blob = blobs[k];
        if (splitOf[k] < 0) {
            keep(blob, -1);
            continue;
        }
        Split sp = splits[static_cast<std::size_t>(splitOf[k])];
        const float whole = scoreOf(sp.cell);
        const float ls = scoreOf(sp.cell + 1);
        const float rs = scoreOf(sp.cell + 2);
        if (ls > whole + 0.05f && rs > whole + 0.05f) {
            shareArea(blob, sp.left, sp.right);
            keep(sp.left, static_cast<int>(sp.cell + 1));
            keep(sp.right, static_cast<int>(sp.cell + 2));
        } else {
            keep(blob, static_cast<int>(sp.cell));
        }
    }
    return out;
}

} // namespace

namespace {

std::vector<Blob> splitKeepingScores(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                     double bottom, double lh, const detail::Templates& glyphs,
                                     std::string_view charset, SplitScores* kept) {
    if (kept) {
        kept->rowOf.clear();
        kept->scores.clear();
    }
    std::vector<Blob> out;
    out.reserve(blobs.size() + 4);
    if (!(lh > 0.0) || !std::isfinite(lh) || !std::isfinite(top) || !std::isfinite(bottom)) {
        out = blobs;
        return out;
    }
    const Plane& ink2 = planes.ink2;
    if (ink2.empty() || !sameSize(ink2, ink2.width, ink2.height)) {
        out = blobs;
        return out;
    }
    // The band of rows whose ink decides the cut, clipped to the plane.
    int r0 = 0;
    int r1 = -1;
    const double bandTop = std::max(top, 0.0);
    const double bandBottom = std::min(bottom, static_cast<double>(ink2.height - 1));
    if (bandTop <= bandBottom) {
        r0 = static_cast<int>(bandTop);
        r1 = static_cast<int>(bandBottom);
    }
    std::vector<Blob> runs;
    runs.reserve(blobs.size() + 4);
    for (const Blob& blob : blobs)
        cutRuns(ink2, blob, r0, r1, lh, runs);
    return splitPairs(planes, runs, top, bottom, lh, r0, r1, glyphs, charset, kept);
}

} // namespace

std::vector<Blob> splitFusedGlyphs(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                   double bottom, double lh, const detail::Templates& glyphs,
                                   std::string_view charset) {
    return splitKeepingScores(planes, blobs, top, bottom, lh, glyphs, charset, nullptr);
}

namespace {

// readGlyphWords' working memory, kept per thread from row to row.
struct WordScratch {
    SplitScores split;
    std::vector<const Blob*> kept;
    std::vector<int> scoredRow;
    std::vector<GlyphClass> letters;
    std::vector<GlyphClass> digits;
    std::vector<std::size_t> fresh;
    std::vector<float> cells;
    std::vector<float*> samples;
    std::vector<const float*> views;
    std::vector<GlyphClass> freshLetters;
    std::vector<GlyphClass> freshDigits;
};

} // namespace

std::vector<GlyphWord> readGlyphWords(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                      double bottom, double lh, const detail::Templates& glyphs) {
    std::vector<GlyphWord> words;
    const Plane& ink2 = planes.ink2;
    if (!(lh > 0.0) || !std::isfinite(lh) || ink2.empty() || !sameSize(ink2, ink2.width, ink2.height))
        return words;
    thread_local WordScratch s;
    SplitScores& split = s.split;
    const std::vector<Blob> parts =
        splitKeepingScores(planes, blobs, top, bottom, lh, glyphs, kLineCharset, &split);
    // Every glyph of the row is sampled first and then classified in one
    // batch, so that each template is read once per row, not once per glyph.
    // A part whose cell the splitting already scored (a wide blob, kept
    // whole or cut) is not scored again: the same cell gives the same
    // scores, and the letters and digits are the charset's two halves.
    static_assert(kLineCharset.substr(0, kLineLetters.size()) == kLineLetters &&
                      kLineCharset.substr(kLineLetters.size()) == kLineDigits,
                  "the line charset is the letters, then the digits");
    std::vector<const Blob*>& kept = s.kept;
    std::vector<int>& scoredRow = s.scoredRow;
    kept.clear();
    scoredRow.clear();
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Blob& b = parts[p];
        const int bh = b.height();
        if (bh < 0.7 * lh || bh > 1.35 * lh)
            continue;
        kept.push_back(&b);
        scoredRow.push_back(p < split.rowOf.size() ? split.rowOf[p] : -1);
    }
    std::vector<GlyphClass>& letters = s.letters;
    std::vector<GlyphClass>& digits = s.digits;
    std::vector<std::size_t>& fresh = s.fresh;
    letters.assign(kept.size(), GlyphClass{});
    digits.assign(kept.size(), GlyphClass{});
    fresh.clear();
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (scoredRow[k] < 0) {
            fresh.push_back(k);
            continue;
        }
        const float* row = split.scores.data() + static_cast<std::size_t>(scoredRow[k]) * kLineCharset.size();
        letters[k] = foldGlyphScores(row, kLineLetters);
        digits[k] = foldGlyphScores(row + kLineLetters.size(), kLineDigits);
    }
    float* cells = glyphCells(s.cells, fresh.size());
    std::vector<float*>& samples = s.samples;
    samples.assign(fresh.size(), nullptr);
    for (std::size_t f = 0; f < fresh.size(); ++f) {
        samples[f] = cells + f * static_cast<std::size_t>(kGlyphCellLength);
        sampleGlyphCell(ink2, *kept[fresh[f]], top, bottom, lh, samples[f]);
    }
    normalizeVectors(samples.data(), samples.size(), static_cast<std::size_t>(kGlyphCellLength));
    std::vector<const float*>& views = s.views;
    views.assign(samples.begin(), samples.end());
    std::vector<GlyphClass>& freshLetters = s.freshLetters;
    std::vector<GlyphClass>& freshDigits = s.freshDigits;
    freshLetters.resize(fresh.size());
    freshDigits.resize(fresh.size());
    classifyGlyphs(views.data(), views.size(), glyphs, kLineLetters, freshLetters.data());
    classifyGlyphs(views.data(), views.size(), glyphs, kLineDigits, freshDigits.data());
    for (std::size_t f = 0; f < fresh.size(); ++f) {
        letters[fresh[f]] = freshLetters[f];
        digits[fresh[f]] = freshDigits[f];
    }

    const Blob* previous = nullptr;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const Blob& b = *kept[k];
        const GlyphClass& letter = letters[k];
        const GlyphClass& digit = digits[k];
        if (std::max(letter.score, digit.score) < kGlyphMinScore)
            continue;
        GlyphRead g;
        g.box = b;
        g.letter = letter.character;
        g.letterScore = letter.score;
        g.letterSecond = letter.second;
        g.digit = digit.character;
        g.digitScore = digit.score;
        g.digitSecond = digit.second;
        // Word spaces are about half a letter; letter spacing far less.
        if (previous == nullptr || b.x0 - previous->x1 - 1 > 0.28 * lh)
            words.emplace_back();
        words.back().push_back(g);
        previous = &b;
    }
    return words;
}

namespace {

// A glyph digit whose runner-up came this close is a close call.
constexpr float kCloseDigit = 0.08f;

// An experience amount ("25XP") is never the cash figure, however much its
// digits make it look like one: the line's text reading takes it.
bool endsInXp(const GlyphWord& word) {
    const std::size_t n = word.size();
    return n >= 3 && word[n - 2].letter == 'X' && word[n - 1].letter == 'P';
}

// The last of words[0..count) that ends in "XP"; count when none does.
std::size_t lastXpWord(const std::vector<GlyphWord>& words, std::size_t count) {
    for (std::size_t w = std::min(count, words.size()); w-- > 0;)
        if (endsInXp(words[w]))
            return w;
    return count;
}

// The experience amount is set in the figures' font: a digit of it that
// the glyph templates found a close call is decided again by the figure
// templates and their pair tie-breakers, and changed only when those are
// sure of it.
void settleXpDigits(const Model& model, const FramePlanes& planes, const RewardRow& row,
                    std::vector<GlyphWord>& words, float minLineConfidence, float minMargin) {
    constexpr std::string_view kDigits = "0123456789";
    for (GlyphWord& word : words) {
        if (!endsInXp(word))
            continue;
        for (std::size_t i = 0; i + 2 < word.size(); ++i) {
            GlyphRead& g = word[i];
            if (!isDigit(g.digit) || g.digitScore - g.digitSecond >= kCloseDigit)
                continue;
            MoneyRowContext ctx(planes.ink2, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
            std::array<Candidate, kDigits.size()> candidates{};
            for (std::size_t c = 0; c < kDigits.size(); ++c)
                candidates[c] = bestPosition(ctx, (g.box.x0 + g.box.x1) / 2.0, kDigits[c], 1);
            const Decision d = decide(ctx, candidates.data(), candidates.size());
            if (d.margin >= minMargin && d.chosen.score >= minLineConfidence)
                g.digit = d.chosen.character;
        }
    }
}

// Leading digits of an experience amount whose blobs the mask lost: the
// amount is set right to left on the figures' advances, and one advance
// left of its first digit read lies the blank before the phrase unless a
// digit stands there. Each such place where the figure templates are sure
// of a digit adds it, up to the amount's five digits.
void findLostXpDigits(const Model& model, const FramePlanes& planes, const RewardRow& row,
                      const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                      float minMargin, HudLine& line) {
    if (!line.hasXp || line.xp <= 0)
        return;
    const std::size_t xpWord = lastXpWord(words, count);
    if (xpWord == count)
        return;
    std::size_t digits = 0;
    for (std::int32_t v = line.xp; v > 0; v /= 10)
        ++digits;
    // The amount's leftmost digit as read, counted leftwards from the "X".
    const GlyphRead* leftmost = nullptr;
    std::size_t seen = 0;
    for (std::size_t w = xpWord + 1; w-- > 0 && seen < digits;) {
        const std::size_t end = w == xpWord ? words[w].size() - 2 : words[w].size();
        for (std::size_t i = end; i-- > 0 && seen < digits;) {
            leftmost = &words[w][i];
            ++seen;
        }
    }
    if (leftmost == nullptr || seen < digits)
        return;
    constexpr std::string_view kDigits = "0123456789";
    constexpr std::size_t kMaxXpDigits = 5;
    const WidthTable& widths = figureWidths();
    MoneyRowContext ctx(planes.ink2, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    double x = (leftmost->box.x0 + leftmost->box.x1) / 2.0;
    char right = leftmost->digit;
    std::int32_t scale = 1;
    for (std::size_t i = 0; i < digits; ++i)
        scale *= 10;
    std::int32_t value = line.xp;
    // An amount never starts with a zero: a 0 found counts once a digit
    // further left is found too.
    std::int32_t kept = value;
    for (; digits < kMaxXpDigits; ++digits) {
        std::array<Candidate, kDigits.size()> candidates{};
        for (std::size_t c = 0; c < kDigits.size(); ++c) {
            const double step = (widths.of(right) + widths.of(kDigits[c])) / 2.0 * row.lh;
            candidates[c] = bestPosition(ctx, x - step, kDigits[c], 2);
        }
        const Decision d = decide(ctx, candidates.data(), candidates.size());
        if (d.margin < minMargin || d.chosen.score < minLineConfidence)
            break;
        value += (d.chosen.character - '0') * scale;
        scale *= 10;
        if (d.chosen.character != '0')
            kept = value;
        x = d.chosen.x;
        right = d.chosen.character;
    }
    line.xp = kept;
}

} // namespace

bool looksNumeric(const GlyphWord& word) {
    if (word.empty())
        return false;
    // Letters the glyph reader gives to digits it is unsure of.
    constexpr std::string_view kDigitLike = "OSBZIGDQ";
    std::size_t count = 0;
    for (const GlyphRead& g : word)
        if (g.digitScore >= g.letterScore - 0.04f || kDigitLike.find(g.letter) != std::string_view::npos)
            ++count;
    return 4 * count >= 3 * word.size();
}

std::vector<RewardRow> selectRewardRows(const std::vector<Blob>& textBlobs, int frameWidth,
                                        double moneyBottom, double moneyHeight) {
    std::vector<RewardRow> rows;
    if (!(moneyHeight > 0.0) || !std::isfinite(moneyHeight) || !std::isfinite(moneyBottom))
        return rows;
    const double hp = kRewardTextScale * moneyHeight;
    const double yMin = moneyBottom + 0.9 * moneyHeight;
    const double yMax = moneyBottom + 14.0 * moneyHeight;
    const double xMin = frameWidth - 32.0 * hp;
    std::vector<Blob> below;
    for (const Blob& b : textBlobs)
        if (b.y0 >= yMin && b.y0 <= yMax && b.x0 >= xMin)
            below.push_back(b);
    if (below.empty())
        return rows;

    std::vector<int> y0s;
    std::vector<int> y1s;
    for (std::vector<Blob>& group : groupRows(below)) {
        RewardRow row;
        y0s.clear();
        y1s.clear();
        for (const Blob& b : group) {
            const int bh = b.height();
            if (bh >= 0.8 * hp && bh <= 1.15 * hp) {
                row.textHeight.push_back(b);
                y0s.push_back(b.y0);
                y1s.push_back(b.y1);
            }
        }
        if (row.textHeight.size() < 2)
            continue;
        row.top = static_cast<int>(medianInt(y0s));
        row.bottom = static_cast<int>(medianInt(y1s));
        row.lh = row.bottom - row.top + 1;
        row.blobs = std::move(group);
        rows.push_back(std::move(row));
    }
    return rows;
}

bool figureFromLetterS(const std::vector<GlyphWord>& words, std::size_t first, HudLine& line) {
    if (first >= words.size() || words[first].empty() || words[first].front().letter != 'S')
        return false;
    constexpr std::size_t kMaxDigits = 6;
    std::array<char, kMaxDigits> digits{};
    std::size_t count = 0;
    float weakest = std::numeric_limits<float>::infinity();
    for (std::size_t w = first; w < words.size(); ++w) {
        for (std::size_t i = (w == first ? 1 : 0); i < words[w].size(); ++i) {
            const GlyphRead& g = words[w][i];
            if (g.digitScore < 0.7f || g.digitScore - g.digitSecond < 0.03f || !isDigit(g.digit))
                return false;
            if (count == kMaxDigits)
                return false;
            digits[count++] = g.digit;
            weakest = std::min(weakest, g.digitScore);
        }
    }
    // Rewards are whole multiples of five, never written with a leading zero.
    if (count < 2 || digits[0] == '0' || (digits[count - 1] != '0' && digits[count - 1] != '5'))
        return false;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value * 10 + (digits[i] - '0');
    line.hasFigure = true;
    line.figure = value;
    line.figureConfidence = std::min(0.7f, weakest);
    line.figureMargin = 0.0f;
    const Blob& last = words.back().back().box;
    line.figureX = (last.x0 + last.x1) / 2.0;
    return true;
}

// Whether the glyph reader, with templates of its own, spells the digits of
// a figure reading whose scores were high but whose close call between two
// digits the pair classifier left open: the glyphs right of the figure's
// "$", each clearly a digit, must be exactly the figure's digits.
bool glyphsConfirmFigure(const std::vector<GlyphWord>& words, std::size_t first, const MoneyReading& r,
                         double lh) {
    if (r.digits.empty())
        return false;
    std::string spelled;
    for (std::size_t w = first; w < words.size(); ++w)
        for (const GlyphRead& g : words[w]) {
            if ((g.box.x0 + g.box.x1) / 2.0 <= r.dollarX + 0.3 * lh)
                continue;
            if (!isDigit(g.digit) || g.digitScore < 0.7f || g.digitScore - g.digitSecond < 0.03f)
                return false;
            spelled.push_back(g.digit);
        }
    return spelled == r.digits;
}

// Longest phrase the second attempt compares, without its spaces; and the
// fewest letters it starts from ("KILL" on a panel, its "KI" run together
// into one glyph, reads as three).
constexpr std::size_t kRescueMaxLetters = 40;
constexpr std::size_t kRescueMinLetters = 3;

// Edit distance in half steps like editDistance, where a read glyph may also
// stand for two letters run together, or two pieces for one cut letter, at
// the cost of one replacement: at the font's own spacing the glyph reader
// often takes "KI" or "SI" for one wide letter. Fixed buffers: no allocation.
int fusedDistance(std::string_view read, std::string_view phrase) {
    const std::size_t n = read.size();
    const std::size_t m = phrase.size();
    std::array<std::array<int, kRescueMaxLetters + 1>, kRescueMaxLetters + 1> d{};
    for (std::size_t i = 0; i <= n; ++i)
        for (std::size_t j = 0; j <= m; ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = 2 * static_cast<int>(i + j);
                continue;
            }
            const char a = read[i - 1];
            const char b = phrase[j - 1];
            int v = d[i - 1][j - 1] + (a == b ? 0 : areConfusable(a, b) ? 1 : 2);
            v = std::min(v, d[i - 1][j] + 2);
            v = std::min(v, d[i][j - 1] + 2);
            if (j >= 2)
                v = std::min(v, d[i - 1][j - 2] + 2);
            if (i >= 2)
                v = std::min(v, d[i - 2][j - 1] + 2);
            d[i][j] = v;
        }
    return d[n][m];
}

// Second attempt for a line whose words matched no phrase: the one phrase
// the letters as read are clearly closest to, counting fused and cut
// letters. Most of the phrase must have been read, and no other phrase may
// come near.
const std::string* rescuePhrase(std::string_view letters) {
    if (letters.size() < kRescueMinLetters || letters.size() > kRescueMaxLetters)
        return nullptr;
    std::array<char, kRescueMaxLetters> buffer{};
    const std::string* bestPhrase = nullptr;
    int best = std::numeric_limits<int>::max();
    int second = std::numeric_limits<int>::max();
    std::size_t bestLength = 0;
    for (const std::string& p : eventPhrases()) {
        std::size_t len = 0;
        for (char c : p) {
            if (c == ' ')
                continue;
            if (len < buffer.size())
                buffer[len] = c;
            ++len;
        }
        if (len > kRescueMaxLetters)
            continue;
        const int dist = fusedDistance(letters, std::string_view(buffer.data(), len));
        // A phrase of which too few letters were read cannot be chosen, but
        // it still stands near: a longer phrase whose later letters were
        // lost reads closer to a shorter one than to itself.
        if (4 * letters.size() < 3 * len) {
            second = std::min(second, dist);
            continue;
        }
        if (dist < best) {
            second = std::min(second, best);
            best = dist;
            bestPhrase = &p;
            bestLength = len;
        } else if (dist < second) {
            second = dist;
        }
    }
    if (bestPhrase == nullptr || best > std::max(2, static_cast<int>(bestLength / 2)))
        return nullptr;
    if (second != std::numeric_limits<int>::max() && second < best + 4)
        return nullptr;
    return bestPhrase;
}

namespace {

// Whether `word` holds leading digits of the experience amount whose first
// glyph is `next`: digits only, clearly so, closer to it than the blank that
// separates the amount from the phrase (a whole cap), with room in the
// amount's five digits.
bool leadsAmount(const GlyphWord& word, const GlyphRead& next, std::size_t digits) {
    if (word.empty() || digits > 5)
        return false;
    const int gap = next.box.x0 - word.back().box.x1 - 1;
    if (gap > 0.7 * next.box.height())
        return false;
    for (const GlyphRead& g : word)
        if (!isDigit(g.digit) || g.digitScore < g.letterScore || g.digitScore < 0.7f)
            return false;
    return !(word.front().digit == '0');
}

// Marks the words that are an XP amount ("25XP") and takes the value.
std::vector<bool> readXpWords(const std::vector<GlyphWord>& words, std::size_t count, HudLine& line) {
    std::vector<bool> isXp(count, false);
    constexpr std::size_t kMaxXpDigits = 5;
    for (std::size_t w = 0; w < count; ++w) {
        const GlyphWord& word = words[w];
        const std::size_t n = word.size();
        if (n < 3 || word[n - 2].letter != 'X' || word[n - 1].letter != 'P')
            continue;
        if (n - 2 > kMaxXpDigits)
            continue;
        bool digitsOnly = true;
        std::int32_t value = 0;
        for (std::size_t i = 0; i + 2 < n; ++i) {
            if (!isDigit(word[i].digit)) {
                digitsOnly = false;
                break;
            }
            value = value * 10 + (word[i].digit - '0');
        }
        if (!digitsOnly)
            continue;
        // The amount's digits stand on advances wider than themselves, so a
        // narrow digit can leave a blank as wide as a word space: digits just
        // before the amount, closer than the blank before it, belong to it.
        std::size_t digits = n - 2;
        std::int32_t scale = 1;
        for (std::size_t i = 0; i + 2 < n; ++i)
            scale *= 10;
        std::size_t first = w;
        while (first > 0 &&
               leadsAmount(words[first - 1], words[first].front(), digits + words[first - 1].size())) {
            const GlyphWord& lead = words[first - 1];
            std::int32_t leadValue = 0;
            std::int32_t leadScale = 1;
            for (const GlyphRead& g : lead) {
                leadValue = leadValue * 10 + (g.digit - '0');
                leadScale *= 10;
            }
            value += leadValue * scale;
            scale *= leadScale;
            digits += lead.size();
            --first;
        }
        line.hasXp = true;
        line.xp = value;
        for (std::size_t k = first; k <= w; ++k)
            isXp[k] = true;
    }
    return isXp;
}

// The line's words as read and as snapped to the game's vocabulary.
struct WordTally {
    std::string raw;
    std::string best;
    std::string bestCompact;
    std::string snappedOnly;
    std::string allLetters;
    std::size_t totalLetters = 0;
    std::size_t snappedLetters = 0;
    std::size_t wordCount = 0;
    std::size_t snappedWords = 0;
};

WordTally tallyWords(const std::vector<GlyphWord>& words, std::size_t count, const std::vector<bool>& isXp) {
    WordTally t;
    std::string letters;
    for (std::size_t w = 0; w < count; ++w) {
        if (isXp[w] || words[w].size() < 2)
            continue;
        letters.clear();
        for (const GlyphRead& g : words[w])
            letters.push_back(g.letter);
        const WordSnap snap = snapWord(letters);
        ++t.wordCount;
        t.totalLetters += letters.size();
        appendJoined(t.raw, letters);
        t.allLetters.append(letters);
        appendJoined(t.best, snap.word);
        t.bestCompact.append(snap.word);
        if (snap.snapped) {
            ++t.snappedWords;
            t.snappedLetters += letters.size();
            appendJoined(t.snappedOnly, snap.word);
        }
    }
    return t;
}

// A phrase of the game is the strongest evidence: take it when enough of the
// words were recognised on their own, or the whole reading is within a
// letter of it.
bool takeBestPhrase(const WordTally& t, HudLine& line) {
    if (t.best.empty())
        return false;
    const PhraseSnap phrase = snapPhrase(t.best);
    if (!phrase.matched)
        return false;
    bool accept = 2 * t.snappedLetters >= t.totalLetters;
    if (!accept && t.totalLetters >= 3) {
        std::string phraseCompact;
        for (char c : phrase.phrase)
            if (c != ' ')
                phraseCompact.push_back(c);
        accept = editDistance(t.bestCompact, phraseCompact) <= 2;
    }
    if (!accept)
        return false;
    line.text = phrase.phrase;
    line.known = true;
    return true;
}

} // namespace

void readLineText(const std::vector<GlyphWord>& words, std::size_t count, HudLine& line) {
    count = std::min(count, words.size());
    const std::vector<bool> isXp = readXpWords(words, count, line);
    const WordTally t = tallyWords(words, count, isXp);
    line.raw = t.raw;

    if (takeBestPhrase(t, line))
        return;
    if (!t.snappedOnly.empty()) {
        const PhraseSnap phrase = snapPhrase(t.snappedOnly);
        if (phrase.matched && phrase.phrase == t.snappedOnly) {
            line.text = t.snappedOnly;
            line.known = true;
            // Words that snapped to nothing may be the rest of a longer
            // phrase ending in these ("KILL GONHRMED" is "KILL CONFIRMED"):
            // that phrase wins when the letters as read are clearly it.
            if (t.snappedWords < t.wordCount) {
                const std::string* longer = rescuePhrase(t.allLetters);
                if (longer != nullptr && longer->size() > t.snappedOnly.size() &&
                    longer->find(t.snappedOnly) != std::string::npos)
                    line.text = *longer;
            }
            return;
        }
    }
    if (const std::string* rescued = rescuePhrase(t.allLetters)) {
        line.text = *rescued;
        line.known = true;
        return;
    }
    // Event words in an order the phrase list does not know are still
    // worth reporting when they make up most of the line.
    if (t.snappedWords >= 1 && 3 * t.snappedLetters >= 2 * t.totalLetters && t.snappedLetters >= 4) {
        line.text = t.snappedOnly;
        line.known = t.snappedWords == t.wordCount;
    }
}

namespace {

void dropContestedXp(const Model& model, const FramePlanes& planes, const RewardRow& row,
                     const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                     float minMargin, HudLine& line);

// Steps shared by both attempts at a row's words: the glyph words of
// `blobs`, a figure spelled at their end when none stood where expected,
// the experience amount and the reason text.
void readRowWords(const Model& model, const FramePlanes& planes, const RewardRow& row,
                  const std::vector<Blob>& blobs, float minLineConfidence, float minMargin, HudLine& line,
                  double* figureX = nullptr) {
    std::vector<GlyphWord> words = readGlyphWords(planes, blobs, row.top, row.bottom, row.lh, model.glyphs);
    settleXpDigits(model, planes, row, words, minLineConfidence, minMargin);

    // Digits at the end of the line are the figure, read as glyphs when
    // it did not stand where expected.
    std::size_t k = words.size();
    while (k > 1 && looksNumeric(words[k - 1]) && !endsInXp(words[k - 1]))
        --k;
    if (k < words.size() && !line.hasFigure) {
        const Blob& last = words.back().back().box;
        const FigureRead f =
            readFigure(model, planes, row, (last.x0 + last.x1) / 2.0, minLineConfidence, minMargin);
        // The glyphs, too, can lose a figure's last digit.
        double lostX = 0.0;
        if ((f.accepted || (f.reading.ok && f.reading.minScore >= minLineConfidence &&
                            glyphsConfirmFigure(words, k, f.reading, row.lh))) &&
            (f.reading.minScore >= kSureFigureScore ||
             !figureEndsInXp(model, planes, row, blobs, f.reading))) {
            takeFigure(f.reading, line);
            if (figureX != nullptr)
                *figureX = f.reading.firstX;
        } else if (!digitInkRightOf(planes, row, (last.x0 + last.x1) / 2.0, lostX) &&
                   figureFromLetterS(words, k, line) && figureX != nullptr) {
            *figureX = (last.x0 + last.x1) / 2.0;
        }
    }
    readLineText(words, k, line);
    findLostXpDigits(model, planes, row, words, k, minLineConfidence, minMargin, line);
    dropContestedXp(model, planes, row, words, k, minLineConfidence, minMargin, line);
    // The game never awards nothing: an amount of 0 is a misread, and
    // reporting none leaves the later attempts free to read it.
    if (line.hasXp && line.xp <= 0) {
        line.hasXp = false;
        line.xp = 0;
    }
}

bool isWholePhrase(const HudLine& line) {
    if (!line.known || line.text.empty())
        return false;
    const std::vector<std::string>& phrases = eventPhrases();
    return std::find(phrases.begin(), phrases.end(), line.text) != phrases.end();
}

// Whether the mask holds a run of text-height ink in the row, left of the
// figure, that was too wide to pass as a text blob: at the font's own
// letter spacing a whole word can fuse into one component, and the first
// reading then lacks it.
bool lostWideRun(const FramePlanes& planes, const RewardRow& row, double limit) {
    if (!planes.maskBlobsReady)
        return false;
    for (const Blob& b : planes.scratch.blobs) {
        if (b.width() <= kTextMaxWidth || b.x1 >= limit)
            continue;
        const int bh = b.height();
        const int overlap = std::min(b.y1, row.bottom) - std::max(b.y0, row.top) + 1;
        if (bh >= 0.7 * row.lh && bh <= 1.35 * row.lh && 2 * overlap >= row.lh)
            return true;
    }
    return false;
}

// Ink of the second attempt, as a share of the ramp: the money line's own
// retry threshold (a top-hat of 24 rather than 34), so that thin strokes
// at small sizes hold together.
constexpr float kRetryInk = 0.2173913f;
constexpr float kRetryLuma = 95.0f;

// The text-height blobs of a row's crop (cw x ch, placed at x0, y0 in the
// frame), in frame coordinates and left to right.
std::vector<Blob> rowTextBlobs(const std::vector<std::uint8_t>& crop, int cw, int ch, int x0, int y0,
                               const RewardRow& row) {
    LabelScratch scratch;
    std::vector<Blob> labelled;
    labelComponents(crop, cw, ch, labelled, scratch);
    std::vector<Blob> blobs;
    for (Blob b : labelled) {
        const int bh = b.height();
        if (bh < 0.7 * row.lh || bh > 1.35 * row.lh || b.area < kTextMinArea)
            continue;
        b.x0 += x0;
        b.x1 += x0;
        b.y0 += y0;
        b.y1 += y0;
        blobs.push_back(b);
    }
    std::sort(blobs.begin(), blobs.end(), [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });
    return blobs;
}

// The row's glyph blobs labelled afresh from ink2 inside the row's band,
// with no limit on width (runs are cut by the glyph splitter) and the lower
// ink threshold. Dark text on panels is in ink2 already; there the luma
// test does not apply.
std::vector<Blob> retryBlobs(const FramePlanes& planes, const RewardRow& row, double hp, double limit) {
    std::vector<Blob> out;
    const Plane& ink2 = planes.ink2;
    const Plane& smooth = planes.smooth;
    const int w = ink2.width;
    const int h = ink2.height;
    if (!sameSize(smooth, w, h) || !sameSize(planes.ink, w, h))
        return out;
    const int pad = std::max(2, row.lh / 3);
    const int y0 = std::max(0, row.top - pad);
    const int y1 = std::min(h - 1, row.bottom + pad);
    const int x0 = std::max(0, static_cast<int>(std::ceil(w - 32.0 * hp)));
    const int x1 = std::min(w - 1, static_cast<int>(std::min(limit, static_cast<double>(w))) - 1);
    if (y1 - y0 < 2 || x1 - x0 < 2)
        return out;
    const int cw = x1 - x0 + 1;
    const int ch = y1 - y0 + 1;
    std::vector<std::uint8_t> crop(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 0);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const std::size_t i = offset(x0 + x, y0 + y, w);
            const float v = ink2.pixels[i];
            const bool panelInk = v != planes.ink.pixels[i];
            crop[offset(x, y, cw)] = (v > kRetryInk && (panelInk || smooth.pixels[i] > kRetryLuma)) ? 1 : 0;
        }
    return rowTextBlobs(crop, cw, ch, x0, y0, row);
}

// Takes a later attempt's reading of a row when it is a whole phrase of the
// game and the earlier was not, or the earlier was a part of it; a figure or
// amount only the later attempt found comes with it.
bool adoptReading(const HudLine& second, HudLine& line) {
    if (!isWholePhrase(second))
        return false;
    if (isWholePhrase(line) &&
        (second.text.size() <= line.text.size() || second.text.find(line.text) == std::string::npos))
        return false;
    line.text = second.text;
    line.raw = second.raw;
    line.known = true;
    if (!line.hasXp && second.hasXp) {
        line.hasXp = true;
        line.xp = second.xp;
    }
    if (!line.hasFigure && second.hasFigure) {
        line.hasFigure = true;
        line.figure = second.figure;
        line.figureConfidence = second.figureConfidence;
        line.figureMargin = second.figureMargin;
        line.figureX = second.figureX;
    }
    return true;
}

HudLine withFigureOf(const HudLine& line) {
    HudLine out;
    out.hasFigure = line.hasFigure;
    out.figure = line.figure;
    out.figureConfidence = line.figureConfidence;
    out.figureMargin = line.figureMargin;
    out.figureX = line.figureX;
    return out;
}

// Shares of the way from the band's background to its brightest text that
// the local ramp starts and ends at; its mask is the ramp's middle.
constexpr double kLocalRampLow = 0.25;
constexpr double kLocalRampSpan = 0.5;
// Less than this between background and text is no text at all.
constexpr float kLocalMinContrast = 30.0f;

bool onPanel(const FramePlanes& planes, int x, int y) {
    return std::any_of(planes.panels.begin(), planes.panels.end(), [x, y](const Blob& p) {
        return x >= p.x0 - kPanelGrow && x <= p.x1 + kPanelGrow && y >= p.y0 - kPanelGrow &&
               y <= p.y1 + kPanelGrow;
    });
}

// Value at share q of the sorted values (q in 0..1).
float quantile(std::vector<float>& v, double q) {
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// A window's background (its median) and brightest text (its 98th
// percentile) on the smoothed plane; x1 and y1 are inclusive.
struct WindowLevels {
    float background = 0.0f;
    float text = 0.0f;
};

WindowLevels windowLevels(const Plane& smooth, int x0, int y0, int x1, int y1) {
    std::vector<float> values;
    values.reserve(static_cast<std::size_t>(x1 - x0 + 1) * static_cast<std::size_t>(y1 - y0 + 1));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            values.push_back(smooth.pixels[offset(x, y, smooth.width)]);
    WindowLevels levels;
    levels.background = quantile(values, 0.5);
    levels.text = quantile(values, 0.98);
    return levels;
}

// Shape fitting: caps tried around the expected one, letter spacings from
// the font's own to a tenth of a cap wider, the cap band a pixel up or down;
// clear space demanded left of the phrase and right of it.
constexpr double kShapeCaps[] = {0.92, 0.96, 1.0, 1.04, 1.08};
constexpr double kShapeTracking[] = {0.0, 0.05, 0.1};
constexpr double kShapeWordSpace = 0.45;
constexpr double kShapeClearLeft = 1.0;
constexpr double kShapeClearRight = 0.3;
constexpr float kShapeMinContrast = 20.0f;

// A phrase's ink as the row would show it at a cap of `cap` pixels and the
// given extra letter spacing: bands x columns from the phrase's ink left,
// softened by a pixel as the capture softens it.
struct ShapeImage {
    int columns = 0;
    std::vector<float> ink; // column by column, `bands` values each
};

ShapeImage renderShape(const PhraseShapes& shapes, const PhraseShape& phrase, double cap, double tracking) {
    ShapeImage out;
    const int bands = static_cast<int>(shapes.bands);
    const double perPixel = shapes.columnsPerCap / cap; // shape columns per pixel
    struct Placed {
        const LetterShape* shape;
        double left;
    };
    std::vector<Placed> placed;
    double wordLeft = 0.0;
    double wordRight = 0.0;
    std::size_t letter = 0;
    int inWord = 0;
    for (char c : phrase.text) {
        if (c == ' ') {
            if (inWord > 0)
                wordLeft = wordRight + kShapeWordSpace * cap;
            inWord = 0;
            continue;
        }
        const auto it = shapes.letters.find(static_cast<signed char>(c));
        if (it == shapes.letters.end() || letter >= phrase.letterLeft.size())
            return out;
        const double left = wordLeft + (phrase.letterLeft[letter] + tracking * inWord) * cap;
        placed.push_back({&it->second, left});
        wordRight = std::max(wordRight, left + it->second.columns / perPixel);
        ++letter;
        ++inWord;
    }
    out.columns = static_cast<int>(std::ceil(wordRight));
    if (out.columns <= 0)
        return out;
    std::vector<float> sharp(static_cast<std::size_t>(out.columns) * static_cast<std::size_t>(bands), 0.0f);
    for (const Placed& p : placed) {
        const int first = std::max(0, static_cast<int>(std::floor(p.left)));
        const int last =
            std::min(out.columns - 1, static_cast<int>(std::ceil(p.left + p.shape->columns / perPixel)));
        for (int x = first; x <= last; ++x) {
            const double u = (x + 0.5 - p.left) * perPixel - 0.5;
            const int c0 = static_cast<int>(std::floor(u));
            const double f = u - c0;
            for (int b = 0; b < bands; ++b) {
                auto at = [&](int c) {
                    return c >= 0 && c < static_cast<int>(p.shape->columns)
                               ? p.shape->ink[static_cast<std::size_t>(c) * static_cast<std::size_t>(bands) +
                                              static_cast<std::size_t>(b)]
                               : 0.0f;
                };
                const float v = static_cast<float>((1.0 - f) * at(c0) + f * at(c0 + 1));
                float& dst = sharp[static_cast<std::size_t>(x) * static_cast<std::size_t>(bands) +
                                   static_cast<std::size_t>(b)];
                dst = std::min(1.0f, dst + v);
            }
        }
    }
    out.ink.assign(sharp.size(), 0.0f);
    for (int x = 0; x < out.columns; ++x)
        for (int b = 0; b < bands; ++b) {
            auto at = [&](int xx) {
                return xx >= 0 && xx < out.columns
                           ? sharp[static_cast<std::size_t>(xx) * static_cast<std::size_t>(bands) +
                                   static_cast<std::size_t>(b)]
                           : 0.0f;
            };
            out.ink[static_cast<std::size_t>(x) * static_cast<std::size_t>(bands) +
                    static_cast<std::size_t>(b)] = 0.25f * at(x - 1) + 0.5f * at(x) + 0.25f * at(x + 1);
        }
    return out;
}

} // namespace

PhraseFit fitPhraseShape(const Model& model, const FramePlanes& planes, int top, double cap, double rightLo,
                         double rightHi, const std::vector<std::string_view>& only, bool commonWindow) {
    PhraseFit fit;
    const PhraseShapes& shapes = model.phraseShapes;
    const Plane& smooth = planes.smooth;
    const int w = smooth.width;
    const int h = smooth.height;
    if (shapes.bands == 0 || shapes.phrases.empty() || !(cap >= 3.0) || !std::isfinite(cap) ||
        !std::isfinite(rightLo) || !std::isfinite(rightHi) || rightHi < rightLo ||
        !sameSize(planes.ink2, w, h) || !sameSize(planes.ink, w, h))
        return fit;
    const int bands = static_cast<int>(shapes.bands);
    const double capHi = cap * kShapeCaps[std::size(kShapeCaps) - 1];
    // Each phrase drawn once per cap and spacing tried; the widest bounds the
    // window the observed ink is taken from.
    const std::size_t nCaps = std::size(kShapeCaps);
    const std::size_t nTracking = std::size(kShapeTracking);
    std::vector<ShapeImage> drawn(shapes.phrases.size() * nCaps * nTracking);
    auto drawnAt = [&](std::size_t k, std::size_t c, std::size_t t) -> ShapeImage& {
        return drawn[(k * nCaps + c) * nTracking + t];
    };
    double widest = 0.0;
    for (std::size_t k = 0; k < shapes.phrases.size(); ++k) {
        const PhraseShape& p = shapes.phrases[k];
        if (!only.empty() && std::find(only.begin(), only.end(), std::string_view(p.text)) == only.end())
            continue;
        for (std::size_t c = 0; c < nCaps; ++c)
            for (std::size_t t = 0; t < nTracking; ++t) {
                ShapeImage& img = drawnAt(k, c, t);
                img = renderShape(shapes, p, cap * kShapeCaps[c], kShapeTracking[t]);
                widest = std::max(widest, static_cast<double>(img.columns));
            }
    }
    if (!(widest > 0.0))
        return fit;
    auto widestAt = [&](std::size_t c, std::size_t t) {
        int most = 0;
        for (std::size_t k = 0; k < shapes.phrases.size(); ++k)
            most = std::max(most, drawnAt(k, c, t).columns);
        return most;
    };
    const int wx0 =
        std::max(0, static_cast<int>(std::floor(rightLo - widest - (kShapeClearLeft + 0.1) * capHi)));
    const int wx1 = std::min(w - 1, static_cast<int>(std::ceil(rightHi + (kShapeClearRight + 0.1) * capHi)));
    const int wy0 = std::max(0, top - 2);
    const int wy1 = std::min(h - 1, top + static_cast<int>(std::ceil(capHi)) + 2);
    if (wx1 - wx0 < 8 || wy1 - wy0 < 3)
        return fit;
    const WindowLevels levels = windowLevels(smooth, wx0, wy0, wx1, wy1);
    if (!(levels.text - levels.background >= kShapeMinContrast))
        return fit;
    const int ww = wx1 - wx0 + 1;
    const int wh = wy1 - wy0 + 1;
    std::vector<float> seen(static_cast<std::size_t>(ww) * static_cast<std::size_t>(wh));
    for (int y = 0; y < wh; ++y)
        for (int x = 0; x < ww; ++x) {
            const std::size_t i = offset(wx0 + x, wy0 + y, w);
            const bool panelInk =
                planes.ink2.pixels[i] != planes.ink.pixels[i] || onPanel(planes, wx0 + x, wy0 + y);
            seen[offset(x, y, ww)] = panelInk ? planes.ink2.pixels[i]
                                              : std::min(std::max((smooth.pixels[i] - levels.background) /
                                                                      (levels.text - levels.background),
                                                                  0.0f),
                                                         1.0f);
        }

    std::vector<double> bestOf(shapes.phrases.size(), -2.0);
    std::vector<std::pair<int, int>> placeOf(shapes.phrases.size());
    std::vector<float> band(static_cast<std::size_t>(ww) * static_cast<std::size_t>(bands));
    for (std::size_t ci = 0; ci < nCaps; ++ci) {
        const double c = cap * kShapeCaps[ci];
        for (int t = top - 1; t <= top + 1; ++t) {
            // The observed ink pooled into the cap's bands, column by column.
            std::fill(band.begin(), band.end(), 0.0f);
            std::vector<int> rowsIn(static_cast<std::size_t>(bands), 0);
            for (int y = std::max(t, wy0); y <= wy1 && y < t + c; ++y) {
                const int b = std::min(bands - 1, static_cast<int>((y + 0.5 - t) * bands / c));
                ++rowsIn[static_cast<std::size_t>(b)];
                for (int x = 0; x < ww; ++x)
                    band[static_cast<std::size_t>(x) * static_cast<std::size_t>(bands) +
                         static_cast<std::size_t>(b)] += seen[offset(x, y - wy0, ww)];
            }
            for (int b = 0; b < bands; ++b)
                if (rowsIn[static_cast<std::size_t>(b)] > 0)
                    for (int x = 0; x < ww; ++x)
                        band[static_cast<std::size_t>(x) * static_cast<std::size_t>(bands) +
                             static_cast<std::size_t>(b)] /=
                            static_cast<float>(rowsIn[static_cast<std::size_t>(b)]);
            const int padL = static_cast<int>(std::lround(kShapeClearLeft * c));
            const int padR = static_cast<int>(std::lround(kShapeClearRight * c));
            for (std::size_t k = 0; k < shapes.phrases.size(); ++k)
                for (std::size_t ti = 0; ti < nTracking; ++ti) {
                    const ShapeImage& img = drawnAt(k, ci, ti);
                    if (img.columns <= 0)
                        continue;
                    // Chosen phrases are all judged over the widest one's
                    // window: a shorter phrase must then also explain the
                    // blank where the longer ones have letters.
                    const int lead = commonWindow ? widestAt(ci, ti) - img.columns : 0;
                    const int padLead = padL + lead;
                    const int m = padLead + img.columns + padR;
                    const double n = static_cast<double>(m) * bands;
                    double ts = 0.0;
                    double tss = 0.0;
                    for (float v : img.ink) {
                        ts += v;
                        tss += static_cast<double>(v) * v;
                    }
                    const double tvar = tss - ts * ts / n;
                    if (!(tvar > 0.0))
                        continue;
                    for (int right = static_cast<int>(std::floor(rightLo));
                         right <= static_cast<int>(std::ceil(rightHi)); ++right) {
                        const int start =
                            right - img.columns - padLead - wx0; // window column of the left pad
                        if (start < 0 || start + m > ww)
                            continue;
                        double os = 0.0;
                        double oss = 0.0;
                        double ot = 0.0;
                        const float* o =
                            band.data() + static_cast<std::size_t>(start) * static_cast<std::size_t>(bands);
                        const std::size_t total =
                            static_cast<std::size_t>(m) * static_cast<std::size_t>(bands);
                        const std::size_t shapeFrom =
                            static_cast<std::size_t>(padLead) * static_cast<std::size_t>(bands);
                        for (std::size_t i = 0; i < total; ++i) {
                            os += o[i];
                            oss += static_cast<double>(o[i]) * o[i];
                        }
                        for (std::size_t i = 0; i < img.ink.size(); ++i)
                            ot += static_cast<double>(o[shapeFrom + i]) * img.ink[i];
                        const double ovar = oss - os * os / n;
                        if (!(ovar > 0.0))
                            continue;
                        const double r = (ot - os * ts / n) / std::sqrt(ovar * tvar);
                        if (r > bestOf[k]) {
                            bestOf[k] = r;
                            placeOf[k] = {right - img.columns, right - 1};
                        }
                    }
                }
        }
    }
    for (std::size_t k = 0; k < bestOf.size(); ++k) {
        if (bestOf[k] > fit.score) {
            fit.runnerUp = fit.score;
            fit.second = fit.phrase;
            fit.score = bestOf[k];
            fit.phrase = &shapes.phrases[k];
            fit.left = placeOf[k].first;
            fit.right = placeOf[k].second;
        } else if (bestOf[k] > fit.runnerUp) {
            fit.runnerUp = bestOf[k];
            fit.second = &shapes.phrases[k];
        }
    }
    if (fit.score <= -2.0)
        fit.phrase = nullptr;
    return fit;
}

namespace {

// Third attempt, for rows whose thin or blurred strokes the frame's top-hat
// breaks apart (small frames scaled up, soft streams): the band's ink is
// ramped afresh from its own background and brightest text, the row's blobs
// and figure are read from that, and ink2 is put back afterwards. Panel
// text keeps the panel's ink.
HudLine readWithLocalInk(const Model& model, FramePlanes& planes, RewardRow& row, bool measureRow, double hp,
                         double figureRight, double limit, float minLineConfidence, float minMargin,
                         const HudLine& first) {
    HudLine second = withFigureOf(first);
    Plane& ink2 = planes.ink2;
    const Plane& smooth = planes.smooth;
    const int w = ink2.width;
    const int h = ink2.height;
    if (!sameSize(smooth, w, h) || !sameSize(planes.ink, w, h))
        return second;
    const int pad = std::max(2, row.lh / 3);
    const int y0 = std::max(0, row.top - pad);
    const int y1 = std::min(h - 1, row.bottom + pad);
    const int x0 = std::max(0, static_cast<int>(std::ceil(w - 32.0 * hp)));
    const int x1 = w - 1;
    if (y1 - y0 < 2 || x1 - x0 < 2)
        return second;
    const int cw = x1 - x0 + 1;
    const int ch = y1 - y0 + 1;
    const WindowLevels levels = windowLevels(smooth, x0, y0, x1, y1);
    const float background = levels.background;
    const float text = levels.text;
    if (!(text - background >= kLocalMinContrast))
        return second;
    const float low = background + static_cast<float>(kLocalRampLow) * (text - background);
    const float span = static_cast<float>(kLocalRampSpan) * (text - background);

    std::vector<float> saved(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch));
    std::vector<std::uint8_t> crop(saved.size(), 0);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const std::size_t i = offset(x0 + x, y0 + y, w);
            const std::size_t c = offset(x, y, cw);
            saved[c] = ink2.pixels[i];
            const bool panelInk = ink2.pixels[i] != planes.ink.pixels[i] || onPanel(planes, x0 + x, y0 + y);
            if (!panelInk)
                ink2.pixels[i] = std::min(std::max((smooth.pixels[i] - low) / span, 0.0f), 1.0f);
            crop[c] = ink2.pixels[i] > 0.5f ? 1 : 0;
        }
    std::vector<Blob> blobs = rowTextBlobs(crop, cw, ch, x0, y0, row);
    // A row placed where the game puts its lines is measured on its blobs.
    if (measureRow) {
        std::vector<int> y0s;
        std::vector<int> y1s;
        for (const Blob& b : blobs)
            if (b.height() >= 0.8 * hp && b.height() <= 1.15 * hp) {
                y0s.push_back(b.y0);
                y1s.push_back(b.y1);
            }
        if (y0s.size() < 2) {
            blobs.clear();
        } else {
            row.top = static_cast<int>(medianInt(y0s));
            row.bottom = static_cast<int>(medianInt(y1s));
            row.lh = row.bottom - row.top + 1;
            row.blobs = blobs;
        }
    }

    if (!second.hasFigure && !blobs.empty()) {
        const Blob* figureBlob = nullptr;
        for (const Blob& b : blobs)
            if (std::abs(b.x1 - figureRight) <= 0.5 * hp && (figureBlob == nullptr || b.x1 > figureBlob->x1))
                figureBlob = &b;
        if (figureBlob != nullptr) {
            const FigureRead f = readFigure(model, planes, row, (figureBlob->x0 + figureBlob->x1) / 2.0,
                                            minLineConfidence, minMargin);
            if (f.accepted && !figureEndsInXp(model, planes, row, blobs, f.reading)) {
                takeFigure(f.reading, second);
                limit = f.reading.dollarX - 0.6 * row.lh - 0.3 * hp;
            }
        }
    }
    blobs.erase(std::remove_if(blobs.begin(), blobs.end(), [limit](const Blob& b) { return b.x1 >= limit; }),
                blobs.end());
    if (!blobs.empty())
        readRowWords(model, planes, row, blobs, minLineConfidence, minMargin, second);
    for (int y = 0; y < ch; ++y)
        std::copy_n(saved.begin() + static_cast<std::ptrdiff_t>(offset(0, y, cw)), cw,
                    ink2.pixels.begin() + static_cast<std::ptrdiff_t>(offset(x0, y0 + y, w)));
    return second;
}

// Dark panel text ramped from the panel's own light and its darkest ink,
// for panels whose bold strokes are wider than the frame's top-hat keeps
// (a HUD scale near 1 and above) or whose text blur left too little of it.
constexpr double kPanelRampLight = 0.75;
constexpr double kPanelRampDark = 0.03;
constexpr float kPanelMinContrast = 40.0f;

struct SavedInk {
    int x0 = 0;
    int y0 = 0;
    int width = 0;
    std::vector<float> pixels;
};

// A light panel behind a row that the frame's panel search missed because
// bright scene joined it: the padding rows above and below the text are
// light along the panel's whole width, and the scene there rarely is.
constexpr double kRowPanelPad = 0.2;
constexpr double kRowPanelMinWidth = 2.0;
constexpr double kRowPanelMaxWidth = 14.0;

bool findRowPanel(const FramePlanes& planes, int top, int bottom, int lh, int xMin, int xMax, Blob& panel) {
    const Plane& smooth = planes.smooth;
    const int w = smooth.width;
    const int h = smooth.height;
    const int pad = std::max(1, static_cast<int>(std::lround(kRowPanelPad * lh)));
    const int ya = top - pad;
    const int yb = bottom + pad;
    xMin = std::max(1, xMin);
    xMax = std::min(w - 2, xMax);
    if (ya < 1 || yb > h - 2 || xMax - xMin < 4)
        return false;
    auto light = [&](int x, int y) { return smooth.pixels[offset(x, y, w)] > kPanelLuma; };
    int bestX0 = -1;
    int bestX1 = -1;
    for (int x = xMin; x <= xMax;) {
        if (!(light(x, ya) && light(x, yb))) {
            ++x;
            continue;
        }
        const int x0 = x;
        while (x <= xMax && light(x, ya) && light(x, yb))
            ++x;
        if (x - x0 > bestX1 - bestX0 + 1) {
            bestX0 = x0;
            bestX1 = x - 1;
        }
    }
    const int runWidth = bestX1 - bestX0 + 1;
    if (bestX0 < 0 || runWidth < kRowPanelMinWidth * lh || runWidth > kRowPanelMaxWidth * lh)
        return false;
    auto rowLight = [&](int y) {
        int n = 0;
        for (int x = bestX0; x <= bestX1; ++x)
            n += light(x, y) ? 1 : 0;
        return n >= kPanelEdgeLight * runWidth;
    };
    int y0 = ya;
    while (y0 > 0 && ya - y0 < lh && rowLight(y0 - 1))
        --y0;
    int y1 = yb;
    while (y1 < h - 1 && y1 - yb < lh && rowLight(y1 + 1))
        ++y1;
    panel = Blob{};
    panel.x0 = bestX0;
    panel.x1 = bestX1;
    panel.y0 = y0;
    panel.y1 = y1;
    panel.area = runWidth * (y1 - y0 + 1);
    return true;
}

// Re-ramps ink2 over every panel that overlaps rows top..bottom and returns
// what it overwrote, for restoreInk.
std::vector<SavedInk> rampPanelsLocally(FramePlanes& planes, const std::vector<Blob>& panels, int top,
                                        int bottom) {
    std::vector<SavedInk> saved;
    Plane& ink2 = planes.ink2;
    const Plane& smooth = planes.smooth;
    const int w = ink2.width;
    const int h = ink2.height;
    if (!sameSize(smooth, w, h))
        return saved;
    std::vector<float> values;
    for (const Blob& p : panels) {
        if (p.y1 < top || p.y0 > bottom)
            continue;
        const int gx0 = std::max(0, p.x0 - kPanelGrow);
        const int gy0 = std::max(0, p.y0 - kPanelGrow);
        const int gx1 = std::min(w - 1, p.x1 + kPanelGrow);
        const int gy1 = std::min(h - 1, p.y1 + kPanelGrow);
        const int ix0 = p.x0 + kPanelBorder;
        const int iy0 = p.y0 + kPanelBorder;
        const int ix1 = p.x1 - kPanelBorder;
        const int iy1 = p.y1 - kPanelBorder;
        if (ix1 - ix0 < 4 || iy1 - iy0 < 4)
            continue;
        values.clear();
        for (int y = iy0; y <= iy1; ++y)
            for (int x = ix0; x <= ix1; ++x)
                values.push_back(smooth.pixels[offset(x, y, w)]);
        const float light = quantile(values, kPanelRampLight);
        const float dark = quantile(values, kPanelRampDark);
        const float contrast = light - dark;
        if (!(contrast >= kPanelMinContrast))
            continue;
        const float low = static_cast<float>(kLocalRampLow) * contrast;
        const float span = static_cast<float>(kLocalRampSpan) * contrast;
        SavedInk s;
        s.x0 = gx0;
        s.y0 = gy0;
        s.width = gx1 - gx0 + 1;
        s.pixels.reserve(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(gy1 - gy0 + 1));
        for (int y = gy0; y <= gy1; ++y)
            for (int x = gx0; x <= gx1; ++x) {
                float& v = ink2.pixels[offset(x, y, w)];
                s.pixels.push_back(v);
                const bool inside = x >= ix0 && x <= ix1 && y >= iy0 && y <= iy1;
                v = inside ? std::min(std::max((light - smooth.pixels[offset(x, y, w)] - low) / span, 0.0f),
                                      1.0f)
                           : 0.0f;
            }
        saved.push_back(std::move(s));
    }
    return saved;
}

void restoreInk(FramePlanes& planes, const std::vector<SavedInk>& saved) {
    const int w = planes.ink2.width;
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        const int rows = static_cast<int>(it->pixels.size()) / it->width;
        for (int y = 0; y < rows; ++y)
            std::copy_n(it->pixels.begin() + static_cast<std::ptrdiff_t>(offset(0, y, it->width)), it->width,
                        planes.ink2.pixels.begin() +
                            static_cast<std::ptrdiff_t>(offset(it->x0, it->y0 + y, w)));
    }
}

// Further attempts at a row whose words did not read as a whole phrase of
// the game, or lost a fused run: a panel's text ramped on the panel's own
// levels, first the blobs relabelled in the row's own
// band, then the band's ink ramped from its own contrast.
void retryRowWords(const Model& model, FramePlanes& planes, RewardRow row, double hp, double figureRight,
                   double limit, float minLineConfidence, float minMargin, HudLine& line) {
    std::vector<Blob> panels;
    for (const Blob& p : planes.panels)
        if (p.y1 >= row.top && p.y0 <= row.bottom)
            panels.push_back(p);
    Blob found;
    if (panels.empty() && findRowPanel(planes, row.top, row.bottom, row.lh,
                                       static_cast<int>(std::ceil(planes.ink2.width - 32.0 * hp)),
                                       static_cast<int>(std::min(limit, figureRight - 1.5 * hp)), found))
        panels.push_back(found);
    const std::vector<SavedInk> saved = rampPanelsLocally(planes, panels, row.top, row.bottom);
    if (!saved.empty()) {
        const std::vector<Blob> panelBlobs = retryBlobs(planes, row, hp, limit);
        HudLine second = withFigureOf(line);
        if (!panelBlobs.empty())
            readRowWords(model, planes, row, panelBlobs, minLineConfidence, minMargin, second);
        restoreInk(planes, saved);
        if (adoptReading(second, line))
            return;
    }
    const std::vector<Blob> blobs = retryBlobs(planes, row, hp, limit);
    if (!blobs.empty()) {
        HudLine second = withFigureOf(line);
        readRowWords(model, planes, row, blobs, minLineConfidence, minMargin, second);
        if (adoptReading(second, line))
            return;
    }
    const HudLine third = readWithLocalInk(model, planes, row, false, hp, figureRight, limit,
                                           minLineConfidence, minMargin, line);
    adoptReading(third, line);
}

// Where the last digit's centre stands left of the figure's right edge, in
// line heights: half a digit's ink, a "1" narrower; and how far short of the
// edge a read figure may end before its last digit counts as lost.
constexpr double kLastDigitCentres[] = {0.3, 0.2, 0.4};
constexpr double kLastDigitSlack = 0.75;

// The game's own places for its lines, in money heights below the balance.
constexpr double kFirstLineTop = 1.1;
constexpr double kLinePitch = 1.3;
constexpr int kMaxLines = 4;

// Lines whose strokes the frame's mask broke into pieces too small to make
// a row at all: each place where the game puts a line, holds no line read
// and has text ink, is read with the band's own ink. Only a whole phrase of
// the game with its figure or amount counts there.
bool readByShape(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                 HudLine& line);

void findMissedRows(const Model& model, FramePlanes& planes, double moneyBottom, double moneyHeight,
                    float minLineConfidence, float minMargin, std::vector<HudLine>& lines) {
    const int width = planes.ink2.width;
    const double hp = kRewardTextScale * moneyHeight;
    const double figureRight = (width - 1) - kFigureRightMargin * moneyHeight;
    const double xMin = width - 32.0 * hp;
    for (int i = 0; i < kMaxLines; ++i) {
        const double top = moneyBottom + (kFirstLineTop + kLinePitch * i) * moneyHeight;
        const double bottom = top + hp;
        const bool taken = std::any_of(lines.begin(), lines.end(),
                                       [&](const HudLine& l) { return l.top <= bottom && l.bottom >= top; });
        if (taken)
            continue;
        const bool inked = std::any_of(planes.textBlobs.begin(), planes.textBlobs.end(), [&](const Blob& b) {
            return b.x0 >= xMin && b.y1 >= top && b.y0 <= bottom;
        });
        if (!inked)
            break;
        RewardRow row;
        row.top = static_cast<int>(std::lround(top));
        row.bottom = static_cast<int>(std::lround(bottom)) - 1;
        row.lh = row.bottom - row.top + 1;
        std::vector<Blob> panels = planes.panels;
        Blob panel;
        if (findRowPanel(planes, row.top, row.bottom, row.lh, static_cast<int>(std::ceil(xMin)),
                         static_cast<int>(figureRight - 1.5 * hp), panel))
            panels.push_back(panel);
        const std::vector<SavedInk> saved = rampPanelsLocally(planes, panels, row.top, row.bottom);
        HudLine found = readWithLocalInk(model, planes, row, true, hp, figureRight,
                                         std::numeric_limits<double>::infinity(), minLineConfidence,
                                         minMargin, HudLine{});
        restoreInk(planes, saved);
        if (!found.hasFigure && !found.hasXp)
            continue;
        // The band's figure or amount read, its phrase not: the phrase may
        // still show by its shape.
        if (!isWholePhrase(found) && !row.blobs.empty()) {
            HudLine byShape = withFigureOf(found);
            byShape.hasXp = found.hasXp;
            byShape.xp = found.xp;
            if (readByShape(model, planes, row.top, hp, figureRight, byShape))
                found = byShape;
        }
        if (!isWholePhrase(found) || row.blobs.empty())
            continue;
        HudLine line;
        adoptReading(found, line);
        line.left = width;
        line.right = row.blobs.front().x1;
        for (const Blob& b : row.blobs) {
            line.left = std::min(line.left, b.x0);
            line.right = std::max(line.right, b.x1);
        }
        line.top = row.top;
        line.bottom = row.bottom;
        lines.push_back(std::move(line));
    }
}

// The figure's window: its widest value with "+$" and a comma, and a
// little past its right edge.
constexpr double kFigureWindowWidth = 8.0; // in h'
constexpr double kFigureWindowSlack = 0.5; // in h'
constexpr float kFigureMinContrast = 20.0f;
// Ramped this way, the "XP" of an amount whose digits were lost can pass
// for the end of a figure; such readings score below this.
constexpr float kLocalFigureMinScore = 0.75f;
// A line whose phrase only its shape gave has no letters that rule out an
// amount's "XP" standing where the figure would: its figure must read
// better still.
constexpr float kShapeLineFigureMinScore = 0.8f;

// The figure's window in ink2 ramped from its own background to its
// brightest digits, for as long as this lives: over a bright patch of the
// world the frame's top-hat keeps little of the digits. ink2 is put back on
// leaving, so the readings after see the frame's own ink again.
class LocalFigureInk {
public:
    LocalFigureInk(FramePlanes& planes, const RewardRow& row, double hp, double figureRight)
        : ink_(planes.ink2) {
        const Plane& smooth = planes.smooth;
        const int w = ink_.width;
        const int h = ink_.height;
        if (!sameSize(smooth, w, h))
            return;
        const int pad = std::max(2, row.lh / 3);
        const int y0 = std::max(0, row.top - pad);
        const int y1 = std::min(h - 1, row.bottom + pad);
        const int x0 = std::max(0, static_cast<int>(figureRight - kFigureWindowWidth * hp));
        const int x1 = std::min(w - 1, static_cast<int>(figureRight + kFigureWindowSlack * hp));
        if (y1 - y0 < 2 || x1 - x0 < 2)
            return;
        const WindowLevels levels = windowLevels(smooth, x0, y0, x1, y1);
        if (!(levels.text - levels.background >= kFigureMinContrast))
            return;
        const float low =
            levels.background + static_cast<float>(kLocalRampLow) * (levels.text - levels.background);
        const float span = static_cast<float>(kLocalRampSpan) * (levels.text - levels.background);
        x0_ = x0;
        y0_ = y0;
        cw_ = x1 - x0 + 1;
        ch_ = y1 - y0 + 1;
        saved_.resize(static_cast<std::size_t>(cw_) * static_cast<std::size_t>(ch_));
        for (int y = 0; y < ch_; ++y)
            for (int x = 0; x < cw_; ++x) {
                const std::size_t i = offset(x0_ + x, y0_ + y, w);
                saved_[offset(x, y, cw_)] = ink_.pixels[i];
                ink_.pixels[i] = std::min(std::max((smooth.pixels[i] - low) / span, 0.0f), 1.0f);
            }
    }
    ~LocalFigureInk() {
        for (int y = 0; y < ch_; ++y)
            std::copy_n(saved_.begin() + static_cast<std::ptrdiff_t>(offset(0, y, cw_)), cw_,
                        ink_.pixels.begin() + static_cast<std::ptrdiff_t>(offset(x0_, y0_ + y, ink_.width)));
    }
    LocalFigureInk(const LocalFigureInk&) = delete;
    LocalFigureInk& operator=(const LocalFigureInk&) = delete;

    bool ramped() const { return !saved_.empty(); }

private:
    Plane& ink_;
    int x0_ = 0;
    int y0_ = 0;
    int cw_ = 0;
    int ch_ = 0;
    std::vector<float> saved_;
};

// Last attempt at a figure that did not read at all: read on the figure's
// own window levels.
void readFigureOnLocalInk(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                          double figureRight, float minLineConfidence, float minMargin, HudLine& line,
                          float minScore = kLocalFigureMinScore) {
    const LocalFigureInk local(planes, row, hp, figureRight);
    if (!local.ramped())
        return;
    for (double centre : kLastDigitCentres) {
        const FigureRead f =
            readFigure(model, planes, row, figureRight - centre * row.lh, minLineConfidence, minMargin);
        if (f.accepted && f.reading.minScore >= minScore &&
            !figureEndsInXp(model, planes, row, row.blobs, f.reading)) {
            takeFigure(f.reading, line);
            break;
        }
    }
}

// A figure left unread because a digit of it tied with its runner-up: read
// again from every place its last digit may be centred on, the tie left to
// the settling classifiers; taken when at least two places read it whole and
// every place that does gives one value.
void readSettledFigure(const Model& model, const FramePlanes& planes, const RewardRow& row,
                       double figureRight, float minLineConfidence, float minMargin, HudLine& line) {
    MoneyReading agreed;
    int agreeing = 0;
    for (double centre : kLastDigitCentres) {
        const FigureRead f =
            readFigure(model, planes, row, figureRight - centre * row.lh, minLineConfidence, minMargin, true);
        if (!f.accepted || figureEndsInXp(model, planes, row, row.blobs, f.reading))
            continue;
        if (agreeing > 0 && f.reading.value != agreed.value)
            return;
        if (agreeing == 0 || f.reading.minScore < agreed.minScore)
            agreed = f.reading;
        ++agreeing;
    }
    if (agreeing >= 2)
        takeFigure(agreed, line);
}

// Last attempt at the words of a line that read as no phrase at all: text
// too small or soft for its letters to be told apart still shows its
// phrase's shape. Taken only when one phrase fits clearly and no other
// comes near.
constexpr double kShapeMinScore = 0.6;
constexpr double kShapeMinLead = 0.08;
constexpr double kShapeMinWordLead = 0.15;
// Where the phrase can end: a cap left of the figure or amount, which takes
// from about two to eight caps left of the figure's right edge.
constexpr double kShapeRightNear = 2.8;
constexpr double kShapeRightFar = 8.3;

// With the figure or amount read, the phrase ends where its characters'
// advances put it: their centres a mean advance apart, a comma's gap before
// every third digit from the right, about a third of a cap of ink either
// side of the end centres, then the cap of blank before the phrase.
constexpr double kShapeFigureSlack = 0.5;
// Phrases fitted freely end up to about 0.8 of a cap right of that place
// (the figure's place is measured on the balance, whose height a pixel
// off moves it), rarely left of it: the search reaches that far right.
constexpr double kShapeFigureSlackRight = 1.0;
constexpr double kFigureEndInk = 0.6;    // both halves together, in caps
constexpr double kPhraseFigureGap = 1.0; // in caps

bool expectedPhraseRight(const HudLine& line, double figureRight, double hp, double& right) {
    std::string text;
    if (line.hasFigure && line.figure > 0)
        text = "+$" + std::to_string(line.figure);
    else if (line.hasXp && line.xp > 0)
        text = std::to_string(line.xp) + "XP";
    else
        return false;
    const std::size_t digits = text.size() - 2;
    double span = 0.0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        span += 0.5 * (figureWidths().of(text[i]) + figureWidths().of(text[i + 1]));
    if (line.hasFigure && digits > 3)
        span += kFigureGroupGap * static_cast<double>((digits - 1) / 3);
    right = figureRight - (span + kFigureEndInk + kPhraseFigureGap) * hp;
    return true;
}

// The phrase whose shape fits the row at `top` ending between lo and hi,
// when it fits clearly and no other comes near.
bool fitClearPhrase(const Model& model, const FramePlanes& planes, int top, double hp, double lo, double hi,
                    HudLine& line) {
    const PhraseFit fit = fitPhraseShape(model, planes, top, hp, lo, hi, {}, true);
    if (fit.phrase == nullptr || fit.score < kShapeMinScore)
        return false;
    // The one-word phrases are short blocks of alike capitals, on a panel
    // most often: between two of them the shape must lead by more.
    const bool oneWordEach = fit.second != nullptr && fit.phrase->text.find(' ') == std::string::npos &&
                             fit.second->text.find(' ') == std::string::npos;
    if (fit.score - fit.runnerUp < (oneWordEach ? kShapeMinWordLead : kShapeMinLead))
        return false;
    line.text = fit.phrase->text;
    line.known = true;
    return true;
}

bool readByShape(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                 HudLine& line) {
    double expected = 0.0;
    if (!expectedPhraseRight(line, figureRight, hp, expected))
        return fitClearPhrase(model, planes, top, hp, figureRight - kShapeRightFar * hp,
                              figureRight - kShapeRightNear * hp, line);
    // Where the figure's place was measured a little off, the phrase ends
    // further right; searched there only when the place itself shows no
    // clear phrase, as a shorter phrase shifted right can come near a short
    // panel word's own fit.
    return fitClearPhrase(model, planes, top, hp, expected - kShapeFigureSlack * hp,
                          expected + kShapeFigureSlack * hp, line) ||
           fitClearPhrase(model, planes, top, hp, expected - kShapeFigureSlack * hp,
                          expected + kShapeFigureSlackRight * hp, line);
}

// Words of a text, split at blanks.
std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t j = std::min(text.find(' ', i), text.size());
        if (j > i)
            out.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

std::size_t wordCount(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        n += text[i] != ' ' && (i == 0 || text[i - 1] == ' ') ? 1 : 0;
    return n;
}

// Whether every word of `part` stands in `phrase`, in the same order.
bool holdsInOrder(std::string_view phrase, std::string_view part) {
    const std::vector<std::string_view> whole = wordsOf(phrase);
    std::size_t at = 0;
    for (std::string_view w : wordsOf(part)) {
        while (at < whole.size() && whole[at] != w)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

// Among phrases that agree with the words read, the shape decides: they
// differ in what the glyph reader lost, and a clear lead there is enough.
constexpr double kChoiceMinScore = 0.6;
constexpr double kChoiceMinLead = 0.08;

// A line whose words read as part of a phrase, or as a phrase with words
// left over that snapped to nothing ("KILL GONHRMMI"): the phrases holding
// the words read compete by shape at the place the figure leaves for them.
void settlePhraseByShape(const Model& model, const FramePlanes& planes, double hp, double figureRight,
                         HudLine& line) {
    if (line.text.empty())
        return;
    const bool whole = isWholePhrase(line);
    double expected = 0.0;
    const bool placed = expectedPhraseRight(line, figureRight, hp, expected);
    // A one-word phrase snapped from one misread word ("KAL" for "KILL") can
    // be what is left of a longer phrase whose other word was lost: with the
    // figure's place known, a longer phrase holding it may take over when
    // its shape leads as clearly as between two one-word phrases.
    const bool misreadWord =
        whole && placed && wordCount(line.text) == 1 && wordCount(line.raw) == 1 && line.raw != line.text;
    // A phrase of several words whose first word was not read as itself
    // ("CO ZCNE PRESENCE" snapped to HOT ZONE PRESENCE): the phrases that
    // differ from it in the first word alone differ by whole letters at its
    // start, which the shape shows where the letters did not.
    const std::vector<std::string_view> textWords = wordsOf(line.text);
    const std::vector<std::string_view> rawWords = wordsOf(line.raw);
    const bool misreadFirst = whole && placed && textWords.size() >= 2 &&
                              (rawWords.empty() || rawWords.front() != textWords.front());
    std::vector<std::string_view> candidates;
    if (misreadFirst) {
        for (const std::string& p : eventPhrases()) {
            const std::vector<std::string_view> words = wordsOf(p);
            if (words.size() == textWords.size() &&
                std::equal(words.begin() + 1, words.end(), textWords.begin() + 1))
                candidates.push_back(p);
        }
    }
    // Other whole phrases read from misread letters stay: by shape alone the
    // zone phrases' last words are too alike to overrule the letters.
    if (candidates.size() < 2 && whole && wordCount(line.raw) <= wordCount(line.text) && !misreadWord)
        return;
    if (candidates.size() < 2) {
        candidates.clear();
        for (const std::string& p : eventPhrases())
            if (holdsInOrder(p, line.text))
                candidates.push_back(p);
    }
    if (candidates.empty() || (candidates.size() == 1 && whole))
        return;
    double lo = figureRight - kShapeRightFar * hp;
    double hi = figureRight - kShapeRightNear * hp;
    if (placed) {
        lo = expected - kShapeFigureSlack * hp;
        hi = expected + kShapeFigureSlackRight * hp;
    }
    const PhraseFit fit = fitPhraseShape(model, planes, line.top, hp, lo, hi, candidates, true);
    if (fit.phrase == nullptr || fit.score < kChoiceMinScore ||
        (candidates.size() > 1 &&
         fit.score - fit.runnerUp < (misreadWord ? kShapeMinWordLead : kChoiceMinLead)))
        return;
    line.text = fit.phrase->text;
    line.known = true;
}

// A row whose words read as nothing, kept for the shape reading that runs
// once every other attempt at every row and line place is done: the index
// of its line when a figure or amount made one, else the line to add.
struct ShapePending {
    std::size_t index = 0;
    bool stored = false;
    HudLine line;
    std::vector<Blob> blobs; // the row's, for a line still to be stored
};

void readXpAtFigurePlace(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line);

// A row that is a piece of another line's text (its lower half grouped on
// its own) fits that line's phrase too, and a line place another attempt
// read is read already: a row gets a phrase by shape only where no other
// line stands within half a cap.
void readPendingShapes(const Model& model, FramePlanes& planes, std::vector<ShapePending>& pending, double hp,
                       double figureRight, float minLineConfidence, float minMargin,
                       std::vector<HudLine>& lines) {
    for (ShapePending& p : pending) {
        const std::size_t self = p.stored ? p.index : lines.size();
        const HudLine& own = p.stored ? lines[p.index] : p.line;
        bool taken = false;
        for (std::size_t k = 0; k < lines.size() && !taken; ++k)
            taken = k != self && std::abs(lines[k].top - own.top) < 0.5 * hp;
        if (taken)
            continue;
        if (p.stored) {
            readByShape(model, planes, lines[p.index].top, hp, figureRight, lines[p.index]);
        } else if (readByShape(model, planes, p.line.top, hp, figureRight, p.line)) {
            // Its figure or amount had no phrase to go with when the row was
            // read: now that the line has one, they get their last attempt.
            RewardRow row;
            row.blobs = std::move(p.blobs);
            row.top = p.line.top;
            row.bottom = p.line.bottom;
            row.lh = row.bottom - row.top + 1;
            readFigureOnLocalInk(model, planes, row, hp, figureRight, minLineConfidence, minMargin, p.line,
                                 kShapeLineFigureMinScore);
            if (!p.line.hasFigure)
                readXpAtFigurePlace(model, planes, row, hp, figureRight, minLineConfidence, minMargin,
                                    p.line);
            lines.push_back(std::move(p.line));
        }
    }
}

} // namespace

namespace {

// The blank left of an experience amount, in caps from its first digit's
// advance, and the most ink a column of it may hold (a share of the cap).
constexpr double kXpBlankReach = 0.8;
// Left of an amount whose "X" the glyphs placed, the row's band measured on
// soft letters stands taller than the cap, and the phrase's last letter
// comes within the wider reach; a lost digit's ink still falls in this one.
constexpr double kXpBlankReachNearLetters = 0.6;
constexpr double kXpBlankSlack = 0.1;
constexpr float kXpBlankInk = 0.12f;
// A reading taken on the row's ink alone must find that blank clearly
// blank: a faint "1" it stopped short of leaves less than the usual share
// in a column, more than half of it.
constexpr float kXpLoneBlankInk = 0.06f;
// The narrow "1" also fits the stem of a "4" or "7" read from a place a
// little off: here it must fit far better than a digit's least.
constexpr float kXpOneMinScore = 0.85f;

// Where an amount's digits are sought: the centre of its "X", the cap its
// advances are measured in, whether the letters' places must be checked
// for a figure's digits, and how far left of the amount the blank before
// the phrase is checked (in caps).
struct XpPlace {
    double xCentre = 0.0;
    double cap = 0.0;
    bool checkLetterPlaces = false;
    double blankReach = kXpBlankReach;
    float oneMinScore = kXpOneMinScore;
    // Digits that tie go to the settling classifiers, as a figure's do
    // where its place is sure.
    bool settle = false;
    // The "X" and "P" were read on the row's ink where the amount ends.
    bool lettersOnInk = false;
    float blankInk = kXpBlankInk;
};

// The digits of an experience amount at `place`, read right to left on the
// figures' advances with the figure templates on `ink`. Empty when a digit
// is unsure, when the amount runs on past its five digits, or, with
// checkLetterPlaces, when the places of "X" and "P" hold a sure digit (a
// cash figure stands there).
std::string xpDigitsAt(const Model& model, const Plane& ink, const RewardRow& row, const XpPlace& place,
                       float minLineConfidence, float minMargin) {
    constexpr std::string_view kDigits = "0123456789";
    constexpr std::size_t kMaxXpDigits = 5;
    const WidthTable& widths = figureWidths();
    const double cap = place.cap;
    MoneyRowContext ctx(ink, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    if (place.settle)
        ctx.settlers = &model.figureSettlers;
    auto best = [&](double at, char right, Decision& d) {
        std::array<Candidate, kDigits.size()> candidates{};
        for (std::size_t c = 0; c < kDigits.size(); ++c) {
            const double step = (widths.of(right) + widths.of(kDigits[c])) / 2.0 * cap;
            candidates[c] = bestPosition(ctx, at - step, kDigits[c], 2);
        }
        d = decide(ctx, candidates.data(), candidates.size());
        return d.margin >= minMargin && d.chosen.score >= minLineConfidence;
    };
    const double letter = widths.of('X') * cap;
    Decision d;
    // A digit sure at the letters' places: a figure, not an amount.
    if (place.checkLetterPlaces &&
        (best(place.xCentre + 2.0 * letter, 'X', d) || best(place.xCentre + letter, 'X', d)))
        return {};
    std::string digits;
    double at = place.xCentre;
    char right = 'X';
    while (best(at, right, d)) {
        if (digits.size() == kMaxXpDigits ||
            (d.chosen.character == '1' && d.chosen.score < place.oneMinScore))
            return {};
        digits.insert(digits.begin(), d.chosen.character);
        at = d.chosen.x;
        right = d.chosen.character;
    }
    if (digits.empty() || digits.front() == '0')
        return {};
    // The phrase ends a cap left of the amount: a digit the reading stopped
    // short of, or a "$", leaves ink in that blank.
    const double left = at - widths.of(right) / 2.0 * cap;
    const int c0 = std::max(0, static_cast<int>(std::floor(left - place.blankReach * cap)));
    const int c1 = std::min(ink.width - 1, static_cast<int>(std::ceil(left - kXpBlankSlack * cap)));
    const int r0 = std::max(0, row.top);
    const int r1 = std::min(ink.height - 1, row.bottom);
    if (c1 < c0 || r1 < r0)
        return {};
    for (int x = c0; x <= c1; ++x) {
        float sum = 0.0f;
        for (int y = r0; y <= r1; ++y)
            sum += ink.pixels[offset(x, y, ink.width)];
        if (sum > place.blankInk * static_cast<float>(r1 - r0 + 1))
            return {};
    }
    return digits;
}

// The amount at `place`, taken only when the row's ink and the figure
// window's own levels read the same digits: a wrong amount is worse than
// none. Where the amount's letters were read on the ink, the window's
// levels only have to not read other digits: ramped over the window, soft
// digits often come out too faint for any to be sure, and the reading on
// the ink, sure of every digit between the letters and a blank before the
// phrase that holds next to no ink, stands on its own there.
void takeAgreedXp(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                  double figureRight, const XpPlace& place, float minLineConfidence, float minMargin,
                  HudLine& line) {
    const std::string first = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin);
    if (first.empty())
        return;
    std::string second;
    {
        const LocalFigureInk local(planes, row, hp, figureRight);
        if (!local.ramped())
            return;
        second = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin);
    }
    if (second.empty() && place.lettersOnInk) {
        XpPlace lone = place;
        lone.blankInk = kXpLoneBlankInk;
        if (xpDigitsAt(model, planes.ink2, row, lone, minLineConfidence, minMargin) != first)
            return;
    } else if (second != first) {
        return;
    }
    std::int32_t value = 0;
    for (char c : first)
        value = value * 10 + (c - '0');
    line.hasXp = true;
    line.xp = value;
}

// An amount the glyph words spelled, read again with the figure templates
// leftwards from its "X": where that reading is sure of other digits, one
// of the two took a digit for another ("838" read as 808, "182" as 162),
// and neither is taken: the later attempts at the line may still read the
// amount, each with its own checks.
void dropContestedXp(const Model& model, const FramePlanes& planes, const RewardRow& row,
                     const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                     float minMargin, HudLine& line) {
    if (!line.hasXp || line.xp <= 0)
        return;
    const std::size_t xpWord = lastXpWord(words, count);
    if (xpWord == count)
        return;
    const GlyphWord& word = words[xpWord];
    const GlyphRead& x = word[word.size() - 2];
    XpPlace place;
    place.xCentre = (x.box.x0 + x.box.x1) / 2.0;
    place.cap = row.lh;
    place.blankReach = kXpBlankReachNearLetters;
    place.settle = true;
    const std::string again = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin);
    if (again.empty() || again == std::to_string(line.xp))
        return;
    line.hasXp = false;
    line.xp = 0;
}

// The letters "XP" of an amount found on the row's ink, for an amount the
// blob reading missed: the "P" is set centred on its ink, which ends where
// a figure's last digit would, and the "X" stands one advance left of it.
// Neither the balance's measured height nor the row's band (taller than
// the cap by the shadow and blur) gives the cap closely enough to step
// there from the figure's place; the "X" is centred on its own ink, which
// gives its place. The digits are stepped in the cap the balance gives:
// the "P" often loses the soft edge of its bowl to the ink, and the
// distance between the letters' centres then comes out short, so it only
// confirms that the two boxes are the letters. The search windows are in
// caps as the balance gives them: the cut between the letters lies 0.75
// caps left of the ink's end, the blank before the "X" 0.86 caps left of
// that.
constexpr double kXpCutFromEnd = 0.75;
constexpr double kXpStartFromCut = 0.86;
constexpr double kXpCutReach = 0.15;
// The distance of the letters' centres in caps, against the balance's: the
// money line's measured height is off by a tenth either way on soft
// frames, and the "P" box by a pixel or two.
constexpr double kXpMinCapRatio = 0.8;
constexpr double kXpMaxCapRatio = 1.25;
// Left of letters found on the ink, the blank before the phrase: its last
// letter ends a cap left of the first digit's ink, some 0.85 caps from the
// digit's advance.
constexpr double kXpBlankReachOnInk = 0.7;

bool xpPlaceOnInk(const Model& model, const FramePlanes& planes, const RewardRow& row, double hp,
                  double figureRight, XpPlace& place) {
    const RowColumns cols(planes.ink2, row);
    if (!cols.usable() || !(hp >= 4.0) || !std::isfinite(figureRight))
        return false;
    const int reachEnd = static_cast<int>(std::lround(kXpEndReach * hp));
    const int right = static_cast<int>(std::lround(figureRight));
    const int end = cols.lastInked(right + reachEnd, right - reachEnd);
    if (end < std::max(0, right - reachEnd))
        return false;
    const int reach = std::max(1, static_cast<int>(std::lround(kXpCutReach * hp)));
    const int cut = cols.faintestNear(end + 0.5 - kXpCutFromEnd * hp, reach);
    const int start = cut < 0 ? -1 : cols.faintestNear(cut - kXpStartFromCut * hp, reach);
    XpLetters letters;
    if (!readXpLetters(model, planes, row, cols, start, cut, end, true, letters))
        return false;
    const double x = (letters.x.x0 + letters.x.x1) / 2.0;
    const double p = (letters.p.x0 + letters.p.x1) / 2.0;
    const double cap = (p - x) / figureWidths().of('X');
    if (!(cap >= kXpMinCapRatio * hp && cap <= kXpMaxCapRatio * hp))
        return false;
    place.xCentre = x;
    place.cap = hp;
    place.settle = true;
    place.lettersOnInk = true;
    place.checkLetterPlaces = false;
    place.blankReach = kXpBlankReachOnInk;
    place.oneMinScore = 0.0f;
    return true;
}

// An experience amount the first readings missed although the phrase read:
// its "XP" ends where a figure would, and its digits stand left of it. The
// amount is read on the row's ink and again on the window's own levels, and
// taken only when both readings are sure and agree: a wrong amount is worse
// than none. The letters are sought on the ink first; only where they do
// not read is the amount read from the place the frame's measures give,
// which, where they do, lies off theirs.
void readXpAtFigurePlace(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line) {
    XpPlace place;
    if (xpPlaceOnInk(model, planes, row, hp, figureRight, place)) {
        takeAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, line);
        return;
    }
    place.xCentre = figureRight - 1.5 * figureWidths().of('X') * row.lh;
    place.cap = row.lh;
    place.checkLetterPlaces = true;
    place.blankReach = kXpBlankReach;
    place.oneMinScore = kXpOneMinScore;
    takeAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, line);
}

// An amount whose "X" and "P" the glyph reader found although its digits
// did not read: the digits are read leftwards from the "X" where it stands,
// which a frame's measured place misses by more than a figure's search
// reaches when the HUD's size was measured a little off.
constexpr double kXpLetterReach = 0.6; // in caps, from the figure's place

void readXpLeftOfLetters(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line) {
    std::vector<Blob> blobs;
    for (const Blob& b : row.blobs)
        if (b.x1 >= figureRight - kFigureWindowWidth * hp && b.x0 <= figureRight + kXpLetterReach * hp)
            blobs.push_back(b);
    if (blobs.size() < 2)
        return;
    const std::vector<GlyphWord> words =
        readGlyphWords(planes, blobs, row.top, row.bottom, row.lh, model.glyphs);
    if (words.empty() || words.back().size() < 2)
        return;
    const GlyphWord& word = words.back();
    const GlyphRead& x = word[word.size() - 2];
    const GlyphRead& p = word.back();
    if (x.letter != 'X' || p.letter != 'P' || !(x.letterScore > x.digitScore) ||
        !(p.letterScore > p.digitScore) || std::abs(p.box.x1 - figureRight) > kXpLetterReach * hp)
        return;
    XpPlace place;
    place.xCentre = (x.box.x0 + x.box.x1) / 2.0;
    place.cap = row.lh;
    place.blankReach = kXpBlankReachNearLetters;
    takeAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, line);
}

} // namespace

namespace {

std::vector<HudLine> readLinesBelow(const Model& model, FramePlanes& planes, double moneyBottom,
                                    double moneyHeight, float minLineConfidence, float minMargin) {
    std::vector<HudLine> lines;
    const int width = planes.ink2.width;
    if (width <= 0 || !(moneyHeight > 0.0) || !std::isfinite(moneyHeight))
        return lines;
    const double hp = kRewardTextScale * moneyHeight;
    const double figureRight = (width - 1) - kFigureRightMargin * moneyHeight;

    std::vector<Blob> wordBlobs;
    std::vector<ShapePending> pending;
    for (const RewardRow& row : selectRewardRows(planes.textBlobs, width, moneyBottom, moneyHeight)) {
        HudLine line;
        double limit = std::numeric_limits<double>::infinity();

        // The figure stands at a fixed distance from the right edge.
        const Blob* figureBlob = nullptr;
        double lastDigitX = figureRight;
        for (const Blob& b : row.textHeight)
            if (std::abs(b.x1 - figureRight) <= 0.5 * hp && (figureBlob == nullptr || b.x1 > figureBlob->x1))
                figureBlob = &b;
        if (figureBlob != nullptr) {
            const FigureRead f = readFigure(model, planes, row, (figureBlob->x0 + figureBlob->x1) / 2.0,
                                            minLineConfidence, minMargin);
            if (f.accepted && (f.reading.minScore >= kSureFigureScore ||
                               !figureEndsInXp(model, planes, row, row.blobs, f.reading))) {
                takeFigure(f.reading, line);
                limit = f.reading.dollarX - 0.6 * row.lh - 0.3 * hp;
                lastDigitX = f.reading.firstX;
            }
        }
        wordBlobs.clear();
        for (const Blob& b : row.blobs)
            if (b.x1 < limit)
                wordBlobs.push_back(b);
        // A figure spelled at the end of the words is read from their last
        // glyph: where that stands a digit short of the figure's place, a
        // digit's blob was lost ("+$808" read as +$80), and the figure is
        // read again below from where its last digit must be. It is kept
        // when that fails: the place, measured on the balance, can be off
        // by as much at large HUD scales.
        double spelledX = std::numeric_limits<double>::quiet_NaN();
        readRowWords(model, planes, row, wordBlobs, minLineConfidence, minMargin, line, &spelledX);
        if (std::isfinite(spelledX))
            lastDigitX = spelledX;
        if (!isWholePhrase(line) || lostWideRun(planes, row, limit))
            retryRowWords(model, planes, row, hp, figureRight, limit, minLineConfidence, minMargin, line);
        // The figure ends where the game puts it: a figure that did not read
        // there, or whose last digit stands a character short of it (touching
        // digits read from the wrong centre), is read again from where that
        // digit's centre must be. A line with an experience amount has none.
        if (!line.hasXp && (!line.hasFigure || figureRight - lastDigitX > kLastDigitSlack * hp)) {
            for (double offset : kLastDigitCentres) {
                const FigureRead g = readFigure(model, planes, row, figureRight - offset * row.lh,
                                                minLineConfidence, minMargin);
                if (g.accepted && (!line.hasFigure || g.reading.firstX > lastDigitX + 0.3 * hp) &&
                    !figureEndsInXp(model, planes, row, row.blobs, g.reading)) {
                    takeFigure(g.reading, line);
                    break;
                }
            }
        }

        // Only for a line whose words were read: a row with neither words
        // nor figure is left to the search of the line places below, which
        // reads words and figure together; and an amount whose digits were
        // lost ("XP" alone) is no figure.
        if (!line.hasFigure && !line.hasXp && !line.text.empty() && line.raw.find("XP") == std::string::npos)
            readFigureOnLocalInk(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
        if (!line.hasFigure && !line.hasXp && !line.text.empty() && line.raw.find("XP") == std::string::npos)
            readSettledFigure(model, planes, row, figureRight, minLineConfidence, minMargin, line);
        if (!line.hasFigure && !line.hasXp && !line.text.empty())
            readXpAtFigurePlace(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
        if (!line.hasFigure && !line.hasXp && !line.text.empty())
            readXpLeftOfLetters(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);

        line.left = width;
        line.right = row.blobs.front().x1;
        for (const Blob& b : row.blobs) {
            line.left = std::min(line.left, b.x0);
            line.right = std::max(line.right, b.x1);
        }
        line.top = row.top;
        line.bottom = row.bottom;
        const bool stored = !line.text.empty() || line.hasFigure || line.hasXp;
        if (line.text.empty())
            pending.push_back(
                {lines.size(), stored, stored ? HudLine{} : line, stored ? std::vector<Blob>{} : row.blobs});
        if (stored)
            lines.push_back(std::move(line));
    }
    findMissedRows(model, planes, moneyBottom, moneyHeight, minLineConfidence, minMargin, lines);
    for (HudLine& line : lines)
        settlePhraseByShape(model, planes, hp, figureRight, line);
    readPendingShapes(model, planes, pending, hp, figureRight, minLineConfidence, minMargin, lines);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const HudLine& a, const HudLine& b) { return a.top < b.top; });
    return lines;
}

// The balance's digits stand with their middle 2.1 money heights below the
// capture's top. Blur takes the soft edges of the digits off the frame's
// mask, and the money line measured on it comes out short (a soft shadow
// can make it tall); its middle stays. Lines sized from such a money line
// are sought with the wrong text height and at the wrong figure place.
constexpr double kLayoutMoneyMiddle = 2.1;
constexpr double kLayoutMinMismatch = 1.12;
constexpr double kLayoutMinMoneyHeight = 16.0;
constexpr double kLayoutMaxMoneyHeight = 40.0;

} // namespace

bool moneyBandByLayout(double moneyBottom, double moneyHeight, double& bottom, double& height) {
    if (!(moneyHeight > 0.0) || !std::isfinite(moneyHeight) || !std::isfinite(moneyBottom))
        return false;
    const double middle = moneyBottom - 0.5 * (moneyHeight - 1.0);
    const double laidOut = middle / kLayoutMoneyMiddle;
    if (!(laidOut >= kLayoutMinMismatch * moneyHeight || laidOut * kLayoutMinMismatch <= moneyHeight) ||
        laidOut < kLayoutMinMoneyHeight || laidOut > kLayoutMaxMoneyHeight)
        return false;
    height = laidOut;
    bottom = middle + 0.5 * (laidOut - 1.0);
    return true;
}

std::vector<HudLine> readRewardLines(const Model& model, FramePlanes& planes, double moneyBottom,
                                     double moneyHeight, float minLineConfidence, float minMargin) {
    findTextBlobs(planes);
    std::vector<HudLine> lines =
        readLinesBelow(model, planes, moneyBottom, moneyHeight, minLineConfidence, minMargin);
    // Lines left incomplete under a money line measured clearly off the
    // height the layout gives the balance: read again at the layout's.
    const bool complete = !lines.empty() && std::all_of(lines.begin(), lines.end(), [](const HudLine& l) {
        return !l.text.empty() && (l.hasFigure || l.hasXp);
    });
    double bottom = 0.0;
    double height = 0.0;
    if (complete || !moneyBandByLayout(moneyBottom, moneyHeight, bottom, height))
        return lines;
    std::vector<HudLine> second = readLinesBelow(model, planes, bottom, height, minLineConfidence, minMargin);
    // Text that soft has lost digits to the mask: a figure must end where
    // the game puts its last digit, or part of it was not read.
    const double figureRight = (planes.ink2.width - 1) - kFigureRightMargin * height;
    const double slack = kLastDigitSlack * kRewardTextScale * height;
    for (HudLine& line : second)
        if (line.hasFigure && std::abs(figureRight - line.figureX) > slack)
            line.hasFigure = false;
    second.erase(
        std::remove_if(second.begin(), second.end(), [](const HudLine& l) { return l.text.empty(); }),
        second.end());
    const bool noWords =
        std::all_of(lines.begin(), lines.end(), [](const HudLine& l) { return l.text.empty(); });
    if (noWords)
        return second.empty() ? lines : second;
    // What the first reading got stays; the second fills in what it lacks:
    // the figure or amount of a line read with the same words, and lines
    // where the first found none.
    for (const HudLine& s : second) {
        auto same = std::find_if(lines.begin(), lines.end(),
                                 [&s](const HudLine& l) { return l.top <= s.bottom && l.bottom >= s.top; });
        if (same == lines.end()) {
            lines.push_back(s);
            continue;
        }
        if (same->text != s.text || same->hasFigure || same->hasXp)
            continue;
        same->hasFigure = s.hasFigure;
        same->figure = s.figure;
        same->figureConfidence = s.figureConfidence;
        same->figureMargin = s.figureMargin;
        same->figureX = s.figureX;
        same->hasXp = s.hasXp;
        same->xp = s.xp;
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const HudLine& a, const HudLine& b) { return a.top < b.top; });
    return lines;
}

} // namespace hud

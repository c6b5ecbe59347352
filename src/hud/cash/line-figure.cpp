#include "hud/cash/lines-internal.h"

#include "hud/cash/money.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// A line's cash figure ("+$250"): read with the figure templates where the
// game sets it, checked for a digit left out and for an amount's "XP".

namespace hud::reward {

namespace {

// A reward figure ("+$250") has at most seven digits, each sought this many
// pixels either side of where its neighbour puts it.
constexpr int kFigureMaxDigits = 7;
constexpr int kFigureRadius = 3;

// A digit a figure's reading left out right of its last one, in caps from
// the last digit's centre: that digit's own ink lies within the first reach,
// the blank after it before the second, and the left-out digit's ink begins
// before the third. Its columns are at least this share as dark as the last
// digit's darkest and this wide, and its reading ends this far further right
// with its "$" no further right than this of where the short one found it.
constexpr double kLostDigitOwnInk = 0.2;
constexpr double kLostDigitBlankReach = 0.65;
// After a thin "1" the blank ends sooner: a "1" left out right of it begins
// its ink within this reach, and the background past that "1" lies within
// the wider one.
constexpr double kLostDigitBlankReachAfterOne = 0.42;
constexpr double kLostDigitReach = 1.2;
constexpr float kLostDigitShare = 0.35f;
// A "0" after a "4" or a "7" has thin strokes beside their heavy stem and
// bar, and at 720 lines blur leaves its columns a fifth as dark ("+$40" read
// as +$4). So faint a run is looked for on the light ink alone: on a pale
// patch the last digit's shadow, dark ink beside it, is as dark.
constexpr float kLostDigitLightShare = 0.2f;
constexpr double kLostDigitMinWidth = 0.15;
constexpr double kLostDigitMinStep = 0.3;
constexpr double kLostDigitDollarShift = 0.5;

// A "1" is narrow and centred on its own ink: a figure read to end in one
// whose ink is wider than this, in caps, or whose centre stands further
// than this from that ink's middle, is a wider digit read on one of its
// strokes ("+$14,713" read as +$14,711, "+$8,708" as +$8,701).
constexpr double kOneMaxInk = 0.45;
constexpr double kOneMaxOffset = 0.1;

// Whether a figure read to end in a "1" ends on a stroke of a wider digit.
bool oneOnWiderDigit(const FramePlanes& planes, const RewardRow& row, const MoneyReading& r) {
    if (r.digits.empty() || r.digits.back() != '1')
        return false;
    const RowColumns cols(planes.ink2, row);
    if (!cols.usable() || row.lh < 4 || !std::isfinite(r.firstX))
        return false;
    const double lh = row.lh;
    const int centre = static_cast<int>(std::lround(r.firstX));
    const int reach = static_cast<int>(std::lround(kLostDigitOwnInk * lh));
    if (centre - reach < 0 || centre + reach >= cols.width())
        return false;
    float own = 0.0f;
    for (int x = centre - reach; x <= centre + reach; ++x)
        own = std::max(own, cols.at(x));
    const float dark = std::max(cols.inked(), kLostDigitShare * own);
    if (cols.at(centre) < dark)
        return true;
    int x0 = centre;
    while (x0 > 0 && cols.at(x0 - 1) >= dark)
        --x0;
    int x1 = centre;
    while (x1 + 1 < cols.width() && cols.at(x1 + 1) >= dark)
        ++x1;
    return x1 - x0 + 1 > kOneMaxInk * lh || std::abs(0.5 * (x0 + x1) - r.firstX) > kOneMaxOffset * lh;
}

// A figure's "$" follows its "+", whose ink keeps clear of the caps' top
// rows: a glyph there reaching them as strongly as its middle is a digit,
// and the "$" read was a "5" or a "0" ("+$26,554" read as +$4). The bottom
// rows say nothing: the shadow cast down from the "+" reaches them. The
// rows in caps from the caps' top, the middle band's and the columns'
// reach either side of the "+" centre.
constexpr double kPlusTopRows = 0.15;
constexpr double kPlusMiddleReach = 0.15;
constexpr double kPlusReach = 0.2;
constexpr float kPlusTopShare = 0.9f;

// Whether the glyph left of the reading's "$" reaches the caps' top as a
// digit does.
bool digitBeforeDollar(const FramePlanes& planes, const RewardRow& row, const MoneyReading& r) {
    const Plane& ink = planes.ink2;
    if (ink.empty() || row.lh < 8 || !std::isfinite(r.dollarX))
        return false;
    const double lh = row.lh;
    const double centre = r.dollarX - 0.5 * (figureWidths().of('$') + figureWidths().of('+')) * lh;
    const int x0 = static_cast<int>(std::lround(centre - kPlusReach * lh));
    const int x1 = static_cast<int>(std::lround(centre + kPlusReach * lh));
    const int topRows = std::max(2, static_cast<int>(std::lround(kPlusTopRows * lh)));
    const int mid = (row.top + row.bottom) / 2;
    const int midReach = std::max(1, static_cast<int>(std::lround(kPlusMiddleReach * lh)));
    if (x0 < 0 || x1 >= ink.width || row.top < 0 || row.bottom >= ink.height)
        return false;
    float top = 0.0f;
    float middle = 0.0f;
    for (int x = x0; x <= x1; ++x) {
        float t = 0.0f;
        float m = 0.0f;
        for (int y = row.top; y < row.top + topRows; ++y)
            t += ink.at(x, y);
        for (int y = mid - midReach; y <= mid + midReach; ++y)
            m += ink.at(x, y);
        top = std::max(top, t / topRows);
        middle = std::max(middle, m / (2 * midReach + 1));
    }
    return top > kPlusTopShare * middle;
}

// An "8" has strokes either side of the middle of each bowl. A "1" has one
// stem in the middle, and at 720 lines blur lets the "8" templates fit it
// and its serif ("+$41" read as +$48). The rows of each bowl and the reach
// of the middle and of the sides, in caps; a side whose darkest column
// holds less than this share of the middle's faintest is blank.
constexpr double kBowlRows[2][2] = {{0.22, 0.38}, {0.62, 0.78}};
constexpr double kStemReach = 0.12;
constexpr double kSideReach = 0.45;
constexpr float kBlankSide = 0.05f;

// Whether a figure read to end in an "8" has a side of it blank in both
// bowls, a lone stem.
bool eightOnLoneStem(const FramePlanes& planes, const RewardRow& row, const MoneyReading& r) {
    const Plane& ink = planes.ink2;
    if (r.digits.empty() || r.digits.back() != '8' || ink.empty() || row.lh < 8 || !std::isfinite(r.firstX))
        return false;
    const double lh = row.lh;
    const int x0 = static_cast<int>(std::lround(r.firstX - kSideReach * lh));
    const int x1 = static_cast<int>(std::lround(r.firstX + kSideReach * lh));
    if (x0 < 0 || x1 >= ink.width)
        return false;
    for (const auto& rows : kBowlRows) {
        const int y0 = std::max(0, row.top + static_cast<int>(std::lround(rows[0] * lh)));
        const int y1 = std::min(ink.height - 1, row.top + static_cast<int>(std::lround(rows[1] * lh)));
        float left = 0.0f;
        float right = 0.0f;
        float middle = std::numeric_limits<float>::infinity();
        for (int x = x0; x <= x1; ++x) {
            float v = 0.0f;
            for (int y = y0; y <= y1; ++y)
                v += ink.at(x, y);
            const double d = (x - r.firstX) / lh;
            if (d < -kStemReach)
                left = std::max(left, v);
            else if (d > kStemReach)
                right = std::max(right, v);
            else
                middle = std::min(middle, v);
        }
        if (!(middle > 0.0f) || std::min(left, right) >= kBlankSide * middle)
            return false;
    }
    return true;
}

// Where a figure whose reading had a close call is read again, in caps
// either side of its last digit: read a little off its place, a digit can
// fit another's strokes and its tie-breaker lean the other way.
constexpr double kRereadShift = 0.12;

// Whether the figure read from a little either side of `r`'s last digit
// has as many digits but another value: then neither reading is to be
// trusted. On the context `r` was read on, whose row it has sampled.
bool figureContradicted(MoneyRowContext& ctx, const RewardRow& row, const MoneyReading& r,
                        float minLineConfidence) {
    for (const double side : {-1.0, 1.0}) {
        const MoneyReading again = readMoney(ctx, r.firstX + side * kRereadShift * row.lh, figureWidths(),
                                             kFigureGroupGap, kFigureMaxDigits, kFigureRadius);
        if (again.ok && again.minScore >= minLineConfidence && again.digits.size() == r.digits.size() &&
            again.value != r.value)
            return true;
    }
    return false;
}

// Whether a reading can be a figure the game shows at all: the game never
// awards nothing, and writes no leading zero.
bool possibleFigure(const MoneyReading& r) {
    return r.value > 0 && !r.digits.empty() && r.digits.front() != '0';
}

// Reads a reward-line figure leftwards from startX with the figure font.
FigureRead readFigureFrom(const Model& model, MoneyRowContext& ctx, double startX, float minLineConfidence,
                          float minMargin) {
    FigureRead out;
    out.reading = readMoney(ctx, startX, figureWidths(), kFigureGroupGap, kFigureMaxDigits, kFigureRadius);
    out.accepted =
        out.reading.ok && out.reading.minScore >= minLineConfidence && out.reading.minMargin >= minMargin;
    if (!out.accepted)
        out.accepted = confirmWithSoft(ctx, model.figuresWithSoft, figureWidths(), kFigureGroupGap,
                                       kFigureMaxDigits, minLineConfidence, minMargin, 1.0f, out.reading);
    return out;
}

} // namespace

namespace {

FigureRead readWholeFigure(const Model& model, const FramePlanes& planes, const RewardRow& row,
                           MoneyRowContext& ctx, double startX, float minLineConfidence, float minMargin) {
    FigureRead out = readFigureFrom(model, ctx, startX, minLineConfidence, minMargin);
    double lost = 0.0;
    if (!out.reading.ok || !digitInkRightOf(planes, row, out.reading.firstX, lost, out.reading.digits.back()))
        return out;
    const FigureRead whole = readFigureFrom(model, ctx, lost, minLineConfidence, minMargin);
    double further = 0.0;
    // The whole figure is the short one and more: more digits, its "$" not
    // right of where the short reading found it.
    if (whole.reading.ok && whole.reading.firstX > out.reading.firstX + kLostDigitMinStep * row.lh &&
        whole.reading.digits.size() > out.reading.digits.size() &&
        whole.reading.dollarX <= out.reading.dollarX + kLostDigitDollarShift * row.lh &&
        !digitInkRightOf(planes, row, whole.reading.firstX, further, whole.reading.digits.back()))
        return whole;
    // Short of a digit: no whole figure, for the glyphs to confirm either.
    out.accepted = false;
    out.reading.ok = false;
    return out;
}

// A figure whose every character reads sure but for a close call or two
// the tie-breaker leaves open where the digit was found ("+$49,423", its 9
// a few hundredths ahead of a 0 on a light background): read again from
// its last digit with the settling classifiers, which may settle two ties
// here, the agreement asked below standing for the second; and from a
// little either side of it. The three must give the same value, sure of
// every character, and the value the templates led with; a tie settled
// loosely (see MoneyReading::looseSettles) is no settling. A settled value
// other than the templates' is not taken: the two disagree, and a wrong
// figure is worse than none.
// A figure settled this way had its one chance already; every character
// must read a little better than a first reading's floor (an amount's
// "722XP" read as "+$237" at 0.74).
constexpr float kSettledMinScore = 0.75f;

void settleCloseCalls(const Model& model, const FramePlanes& planes, const RewardRow& row,
                      float minLineConfidence, float minMargin, FigureRead& out) {
    MoneyRowContext ctx(planes.ink2, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    ctx.askBothPlaces = true;
    ctx.oneDollar = true;
    ctx.settlers = &model.figureSettlers;
    ctx.mostSettled = 2;
    const FigureRead settled =
        readWholeFigure(model, planes, row, ctx, out.reading.firstX, minLineConfidence, minMargin);
    if (!settled.accepted || settled.reading.value != out.reading.value || settled.reading.looseSettles > 0 ||
        settled.reading.minScore < kSettledMinScore || oneOnWiderDigit(planes, row, settled.reading))
        return;
    for (const double side : {-1.0, 1.0}) {
        const MoneyReading again =
            readMoney(ctx, settled.reading.firstX + side * kRereadShift * row.lh, figureWidths(),
                      kFigureGroupGap, kFigureMaxDigits, kFigureRadius);
        if (!again.ok || again.value != settled.reading.value || again.minScore < minLineConfidence ||
            again.minMargin < minMargin)
            return;
    }
    out = settled;
}

} // namespace

FigureRead readFigure(const Model& model, const FramePlanes& planes, const RewardRow& row, double startX,
                      float minLineConfidence, float minMargin, bool settleTies) {
    // One context for every read of the row: each samples the same columns.
    MoneyRowContext ctx(planes.ink2, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    ctx.askBothPlaces = true;
    ctx.oneDollar = true;
    if (settleTies)
        ctx.settlers = &model.figureSettlers;
    FigureRead out = readWholeFigure(model, planes, row, ctx, startX, minLineConfidence, minMargin);
    // No figure, for the glyphs to confirm either.
    if (out.reading.ok &&
        (!possibleFigure(out.reading) || oneOnWiderDigit(planes, row, out.reading) ||
         (out.reading.minScore >= minLineConfidence && out.reading.minMargin < kWideMargin &&
          figureContradicted(ctx, row, out.reading, minLineConfidence)))) {
        out.accepted = false;
        out.reading.ok = false;
    }
    if (out.reading.ok &&
        (digitBeforeDollar(planes, row, out.reading) || eightOnLoneStem(planes, row, out.reading))) {
        out.accepted = false;
        out.reading.ok = false;
    }
    if (!settleTies && out.reading.ok && !out.accepted && out.reading.minScore >= minLineConfidence &&
        out.reading.minMargin < minMargin)
        settleCloseCalls(model, planes, row, minLineConfidence, minMargin, out);
    return out;
}

void takeFigure(const MoneyReading& r, HudLine& line) {
    line.hasFigure = true;
    line.figure = r.value;
    line.figureConfidence = r.minScore;
    line.figureMargin = r.minMargin;
    line.figureX = r.firstX;
}

namespace {

// Whether the ink of columns x0..x1 reaches the caps' top quarter, as every
// digit's does, at this share of its darkest row.
constexpr double kCapTopRows = 0.25;
constexpr float kCapTopShare = 0.3f;

bool reachesCapTop(const Plane& ink, const RewardRow& row, int x0, int x1) {
    const int topRows = std::max(2, static_cast<int>(kCapTopRows * row.lh));
    float top = 0.0f;
    float darkest = 0.0f;
    for (int y = std::max(0, row.top); y <= std::min(ink.height - 1, row.bottom); ++y) {
        float v = 0.0f;
        for (int x = x0; x <= x1; ++x)
            v += ink.at(x, y);
        darkest = std::max(darkest, v);
        if (y < row.top + topRows)
            top = std::max(top, v);
    }
    return darkest > 0.0f && top >= kCapTopShare * darkest;
}

// With `faint`, a run of columns as faint as `share` allows counts only
// where it reaches the caps' top: the edge of a lighter patch of the scene
// beside the last digit can be as dark, but rises from below.
bool lostDigitInk(const Plane& ink, const RewardRow& row, double lastX, float share, bool faint, char last,
                  double& centre) {
    const RowColumns cols(ink, row);
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
    const float dark = std::max(cols.inked(), share * own);
    // The blank: the faintest column between the digit's ink and the reach
    // of a neighbour's.
    const double blankReach = last == '1' ? kLostDigitBlankReachAfterOne : kLostDigitBlankReach;
    const int valley =
        cols.faintestNear(lastX + 0.5 * (kLostDigitOwnInk + blankReach) * lh,
                          static_cast<int>(std::lround(0.5 * (blankReach - kLostDigitOwnInk) * lh)));
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
    if (faint && !reachesCapTop(ink, row, start, end))
        return false;
    centre = 0.5 * (start + end);
    return true;
}

} // namespace

bool digitInkRightOf(const FramePlanes& planes, const RewardRow& row, double lastX, double& centre,
                     char last) {
    return lostDigitInk(planes.ink2, row, lastX, kLostDigitShare, false, last, centre) ||
           lostDigitInk(planes.ink, row, lastX, kLostDigitLightShare, true, last, centre);
}

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

bool takeSpelledFigure(const std::vector<GlyphWord>& words, std::size_t first, const MoneyReading& templates,
                       float minScore, HudLine& line) {
    HudLine spelled;
    if (!figureFromLetterS(words, first, spelled))
        return false;
    std::size_t digits = 0;
    for (std::int64_t v = spelled.figure; v > 0; v /= 10)
        ++digits;
    if (templates.ok && templates.minScore >= minScore && templates.digits.size() != digits)
        return false;
    return figureFromLetterS(words, first, line);
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

namespace {

// What a figure's strokes are measured against, column by column: the
// median of the band around the column, or the rows just above and below
// the caps, clear of the digits' soft edges and of the shadow cast down
// from them, taken between the two for the rows between them.
enum class StrokeBackground { Band, AboveBelow };

// One way of ramping a figure's strokes over their background (see
// strokeInk): the shares of the strongest stroke nearby that the ramp
// starts at and runs over.
struct StrokeRamp {
    StrokeBackground background;
    float low;
    float span;
};

// Both are read. A steep ramp over the band's median keeps thin strokes
// whole; a gentler one over the rows above and below the caps follows a
// pale patch whose edge cuts through a digit. A gentle ramp over the band's
// median reads more figures alone, but agrees with itself on soft misreads
// the others do not read at all ("+$30" as +$38 at 720 lines).
constexpr StrokeRamp kStrokeRamps[] = {
    {StrokeBackground::Band, 0.1f, 0.3f},
    {StrokeBackground::AboveBelow, 0.15f, 0.6f},
};

// A stroke less than this many grey levels over its background is the
// scene's noise.
constexpr float kStrokeMinContrast = 12.0f;
// The background rows above and below the caps: this far clear of them and
// this deep, in caps.
constexpr double kBackgroundClear = 0.12;
constexpr double kBackgroundDepth = 0.25;
// The band whose median is a column's background reaches at least this
// many columns either side, enough that text and its gaps hold less than
// half of it.
constexpr int kBandMinReach = 9;

float medianOf(std::vector<float>& v) {
    const std::size_t k = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// The light strokes of the window x0, y0 (cw x ch) of `smooth` over each
// column's own background, ramped on the strongest stroke of the row's caps
// within half a cap: white digits over a pale patch of the world keep only
// a fraction of the frame's contrast, and no one level serves them and the
// digits over the dark scene beside them. The shadow, darker than what lies
// behind it, gets no ink. False when the window leaves no room for the
// background rows.
bool strokeInk(const Plane& smooth, int x0, int y0, int cw, int ch, const RewardRow& row,
               const StrokeRamp& ramp, std::vector<float>& ink) {
    const int clear = std::max(1, static_cast<int>(std::lround(kBackgroundClear * row.lh)));
    const int depth = std::max(2, static_cast<int>(std::lround(kBackgroundDepth * row.lh)));
    const int a1 = row.top - clear;
    const int a0 = a1 - depth + 1;
    const int b0 = row.bottom + clear + 1;
    const int b1 = b0 + depth - 1;
    if (a0 < 0 || b1 >= smooth.height || x0 < 1 || x0 + cw + 1 > smooth.width || y0 < 0 ||
        y0 + ch > smooth.height)
        return false;
    const std::size_t n = static_cast<std::size_t>(cw);
    thread_local std::vector<float> values;
    thread_local std::vector<float> above;
    thread_local std::vector<float> below;
    thread_local std::vector<float> column;
    above.assign(n, 0.0f);
    below.assign(n, 0.0f);
    column.assign(n, 0.0f);
    const int wide = std::max(kBandMinReach, row.lh);
    for (int x = 0; x < cw; ++x) {
        values.clear();
        if (ramp.background == StrokeBackground::Band) {
            for (int c = std::max(0, x - wide); c <= std::min(cw - 1, x + wide); ++c)
                for (int y = 0; y < ch; ++y)
                    values.push_back(smooth.at(x0 + c, y0 + y));
            above[static_cast<std::size_t>(x)] = below[static_cast<std::size_t>(x)] = medianOf(values);
            continue;
        }
        for (int y = a0; y <= a1; ++y)
            for (int c = x0 + x - 1; c <= x0 + x + 1; ++c)
                values.push_back(smooth.at(c, y));
        above[static_cast<std::size_t>(x)] = medianOf(values);
        values.clear();
        for (int y = b0; y <= b1; ++y)
            for (int c = x0 + x - 1; c <= x0 + x + 1; ++c)
                values.push_back(smooth.at(c, y));
        below[static_cast<std::size_t>(x)] = medianOf(values);
    }
    auto background = [&](int x, int y) {
        const double t = std::min(1.0, std::max(0.0, (y - a1) / static_cast<double>(b0 - a1)));
        return static_cast<float>((1.0 - t) * above[static_cast<std::size_t>(x)] +
                                  t * below[static_cast<std::size_t>(x)]);
    };
    for (int x = 0; x < cw; ++x)
        for (int y = std::max(row.top, y0); y <= std::min(row.bottom, y0 + ch - 1); ++y)
            column[static_cast<std::size_t>(x)] =
                std::max(column[static_cast<std::size_t>(x)], smooth.at(x0 + x, y) - background(x, y));
    ink.assign(n * static_cast<std::size_t>(ch), 0.0f);
    const int reach = std::max(2, row.lh / 2);
    for (int x = 0; x < cw; ++x) {
        float peak = 0.0f;
        for (int c = std::max(0, x - reach); c <= std::min(cw - 1, x + reach); ++c)
            peak = std::max(peak, column[static_cast<std::size_t>(c)]);
        if (!(peak >= kStrokeMinContrast))
            continue;
        const float low = ramp.low * peak;
        const float span = ramp.span * peak;
        for (int y = 0; y < ch; ++y)
            ink[offset(x, y, cw)] = std::min(
                std::max((smooth.at(x0 + x, y0 + y) - background(x, y0 + y) - low) / span, 0.0f), 1.0f);
    }
    return true;
}

// The figure's window in ink2 as strokeInk gives it, for as long as this
// lives. The figure is light text only, so its shadow, which a pale patch
// makes dark ink on the frame's planes, is left out; panel ink stays as it
// is. ink2 is put back on leaving.
class FigureStrokeInk : public SwappedInkWindow {
public:
    FigureStrokeInk(FramePlanes& planes, const RewardRow& row, double hp, double figureRight,
                    const StrokeRamp& ramp)
        : SwappedInkWindow(planes.ink2) {
        const Plane& smooth = planes.smooth;
        const int w = ink_.width;
        const int h = ink_.height;
        if (!sameSize(smooth, w, h) || !(hp > 0.0) || !std::isfinite(figureRight))
            return;
        const int pad = std::max(2, row.lh / 3);
        const int y0 = std::max(0, row.top - pad);
        const int y1 = std::min(h - 1, row.bottom + pad);
        const int x0 = std::max(0, static_cast<int>(figureRight - kFigureWindowWidth * hp));
        const int x1 = std::min(w - 1, static_cast<int>(figureRight + kStrokeWindowSlack * hp));
        if (y1 - y0 < 2 || x1 - x0 < 2)
            return;
        const int cw = x1 - x0 + 1;
        const int ch = y1 - y0 + 1;
        thread_local std::vector<float> strokes;
        if (!strokeInk(smooth, x0, y0, cw, ch, row, ramp, strokes))
            return;
        save(x0, y0, cw, ch);
        for (int y = 0; y < ch_; ++y)
            for (int x = 0; x < cw_; ++x)
                if (!onPanel(planes, x0_ + x, y0_ + y))
                    ink_.pixels[offset(x0_ + x, y0_ + y, w)] = strokes[offset(x, y, cw_)];
    }

private:
    static constexpr double kStrokeWindowSlack = 0.5; // in h'
};

// A figure read on its strokes' own contrast is a new look at ink the
// frame's readings found too faint or too close to call: it is taken only
// where at least this many separate looks read it whole, and every reading
// sure of its characters, on any ramp, gives that value. A look is a ramp's
// reading at its own cells: the places its last digit may be centred on
// mostly settle on the same cells, and one ramp read twice there agrees
// with itself on a misread as readily as on the figure ("+$176" as +$116,
// "+$30" as +$38 at 720 lines).
constexpr int kStrokeMinReads = 2;
// Readings whose rightmost digits stand closer than this, in pixels, read
// the same cells.
constexpr double kSameCells = 0.5;

struct StrokeTally {
    MoneyReading agreed; // the least sure of the readings taken
    std::int64_t value = 0;
    int sure = 0;  // readings sure of their characters
    int reads = 0; // of those, the looks accepted whole
    bool split = false;
};

void tallyStrokes(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                  double figureRight, const StrokeRamp& ramp, float minLineConfidence, float minMargin,
                  float minScore, StrokeTally& tally) {
    const FigureStrokeInk strokes(planes, row, hp, figureRight, ramp);
    if (!strokes.ramped())
        return;
    bool readOnThisRamp = false;
    double lastFirstX = 0.0;
    for (double centre : kLastDigitCentres) {
        const FigureRead f =
            readFigure(model, planes, row, figureRight - centre * row.lh, minLineConfidence, minMargin);
        if (!f.reading.ok || f.reading.minScore < minLineConfidence)
            continue;
        if (tally.sure++ > 0 && f.reading.value != tally.value)
            tally.split = true;
        tally.value = f.reading.value;
        if (!f.accepted || f.reading.minScore < minScore)
            continue;
        // An amount's "XP" read as a figure's last digits.
        if (figureEndsInXp(model, planes, row, row.blobs, f.reading))
            tally.split = true;
        if (tally.reads == 0 || f.reading.minScore < tally.agreed.minScore)
            tally.agreed = f.reading;
        // Two places whose readings settle on the same cells of this ink
        // are one look at it.
        if (readOnThisRamp && std::abs(f.reading.firstX - lastFirstX) < kSameCells)
            continue;
        readOnThisRamp = true;
        lastFirstX = f.reading.firstX;
        ++tally.reads;
    }
}

} // namespace

void readFigureOnLocalInk(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                          double figureRight, float minLineConfidence, float minMargin, HudLine& line,
                          float minScore) {
    {
        const LocalFigureInk local(planes, row, hp, figureRight);
        if (local.ramped())
            for (double centre : kLastDigitCentres) {
                const FigureRead f = readFigure(model, planes, row, figureRight - centre * row.lh,
                                                minLineConfidence, minMargin);
                if (f.accepted && f.reading.minScore >= minScore &&
                    !figureEndsInXp(model, planes, row, row.blobs, f.reading)) {
                    takeFigure(f.reading, line);
                    return;
                }
            }
    }
}

void readFigureOnStrokes(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line,
                         float minScore) {
    StrokeTally tally;
    for (const StrokeRamp& ramp : kStrokeRamps)
        tallyStrokes(model, planes, row, hp, figureRight, ramp, minLineConfidence, minMargin, minScore,
                     tally);
    if (!tally.split && tally.reads >= kStrokeMinReads)
        takeFigure(tally.agreed, line);
}

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

namespace {

// The least score of every character of a reading that counts in
// readAgreedFigure: below it, a reading neither adds nor vetoes.
constexpr float kAgreedMinScore = 0.7f;
// Sure readings, on both inks together, that readAgreedFigure needs: a
// digit's tie settled the wrong way from one place on each ink can agree
// ("+$189" read as +$119 once from each).
constexpr int kAgreedMinReads = 3;

// A figure read sure from this many places on the frame's ink alone is
// taken where the band's own levels give no sure reading to set beside
// them: soft 720-line text ramped afresh often reads nothing at all, which
// says nothing against the frame's readings. Every character of each must
// then read a little better than a first reading's floor: an amount's
// "722XP" reads as +$237 at 0.74 from every place.
constexpr int kAgreedMinOnFrameAlone = 3;
constexpr float kAgreedAloneMinScore = 0.75f;

// How far from where the balance puts it the figure's right end may be
// found on the row's own ink, in text caps.
constexpr double kRowFigureReach = 0.5;

// Reads the figure, ties settled, from each place its last digit may be
// centred on, left of each of the `places` right ends in `rights`; counts
// in `reads` those sure enough, keeps the least sure of them in `agreed`
// and their widest margin in `widest`, and clears `backed` when one of
// them left a tie the tie-breakers do not lean for. With `skipLoose`, a
// reading with a tie settled loosely (see MoneyReading::looseSettles)
// neither adds nor vetoes. False when one of them gives another value than
// those before it.
bool agreeingReadings(const Model& model, const FramePlanes& planes, const RewardRow& row,
                      const double* rights, std::size_t places, float minLineConfidence, bool skipLoose,
                      MoneyReading& agreed, int& reads, float& widest, bool& backed) {
    for (std::size_t p = 0; p < places; ++p)
        for (double centre : kLastDigitCentres) {
            const FigureRead f =
                readFigure(model, planes, row, rights[p] - centre * row.lh, minLineConfidence, 0.0f, true);
            if (!f.reading.ok || f.reading.minScore < kAgreedMinScore ||
                (skipLoose && f.reading.looseSettles > 0))
                continue;
            if (reads > 0 && f.reading.value != agreed.value)
                return false;
            if (reads == 0 || f.reading.minScore < agreed.minScore)
                agreed = f.reading;
            widest = std::max(widest, f.reading.minMargin);
            backed = backed && f.reading.unbacked == 0;
            ++reads;
        }
    return true;
}

// The figure's right end as the row's own ink shows it: the right edge of
// its rightmost blob of text height near where the balance puts it. Blur
// at 720 lines makes the balance measure tall, and the figure's place
// measured from it falls a third of a cap short of the figure's end.
bool rowFigureRight(const RewardRow& row, double hp, double figureRight, double& right) {
    const Blob* last = nullptr;
    for (const Blob& b : row.textHeight)
        if (std::abs(b.x1 - figureRight) <= kRowFigureReach * hp && (last == nullptr || b.x1 > last->x1))
            last = &b;
    if (last == nullptr)
        return false;
    right = last->x1;
    return true;
}

// The agreed reading from the places left of each of `rights`, on the
// frame's ink and on the band's own levels: every sure reading gives one
// value, `minOnFrame` of them on the frame's ink, and the band's levels add
// one unless the frame's ink alone gave kAgreedMinOnFrameAlone. True when
// it took the figure.
bool agreedFrom(const Model& model, FramePlanes& planes, const RewardRow& row, double hp, double figureRight,
                const double* rights, std::size_t places, int minOnFrame, float minLineConfidence,
                HudLine& line) {
    MoneyReading agreed;
    int onFrame = 0;
    float widest = 0.0f;
    bool backed = true;
    if (!agreeingReadings(model, planes, row, rights, places, minLineConfidence, places > 1, agreed, onFrame,
                          widest, backed) ||
        onFrame < minOnFrame)
        return false;
    int total = onFrame;
    {
        const LocalFigureInk local(planes, row, hp, figureRight);
        if (!local.ramped() ||
            !agreeingReadings(model, planes, row, rights, places, minLineConfidence, places > 1, agreed,
                              total, widest, backed) ||
            (total == onFrame &&
             (onFrame < kAgreedMinOnFrameAlone || agreed.minScore < kAgreedAloneMinScore)) ||
            total < kAgreedMinReads)
            return false;
    }
    // Every reading a tie: blur at 720 lines leaves a "3" tied with a "2"
    // at every place, the tie-breakers all leaning the right way though
    // short of settling it.
    if (!(widest > 0.0f || backed) || figureEndsInXp(model, planes, row, row.blobs, agreed))
        return false;
    takeFigure(agreed, line);
    return true;
}

} // namespace

void readAgreedFigure(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                      double figureRight, float minLineConfidence, HudLine& line) {
    if (agreedFrom(model, planes, row, hp, figureRight, &figureRight, 1, 1, minLineConfidence, line))
        return;
    // Again with the places measured on the row's own ink as well. Every
    // reading from the balance's places still counts against another
    // value, and two sure ones on the frame's ink must agree: a soft "8"
    // read as a "6" from one place of each ink can agree ("+$4,806" read
    // as +$4,606). With twice the places, a tie settled loosely from two
    // of them, a soft "8" as a thin "1" ("+$189" read as +$119), would
    // agree as often: such readings do not count.
    double own = figureRight;
    if (!rowFigureRight(row, hp, figureRight, own) || std::abs(own - figureRight) < 1.0)
        return;
    const double both[] = {figureRight, own};
    agreedFrom(model, planes, row, hp, figureRight, both, 2, 2, minLineConfidence, line);
}

} // namespace hud::reward

namespace hud {

using namespace reward;

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
    // The game writes no leading zero. Any last digit is possible, but the
    // glyph templates, which know the figures' font only roughly, misread
    // many more figures than they would add here: one is taken from them
    // only where it ends in 0 or 5 (which leaves figures such as +$699 to
    // the figure templates).
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

} // namespace hud

#include "hud/cash/lines-internal.h"

#include "hud/cash/money.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// A line's experience amount ("25XP"): its letters found on the row's ink,
// its digits read with the figure templates and checked against each other.

namespace hud::reward {

namespace {

using Cell = std::array<float, kGlyphCellLength>;
// How far from where a figure's reading puts its right edge the amount's
// ink may end, in caps.
constexpr double kXpEndReach = 0.6;

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

// A glyph digit whose runner-up came this close is a close call.
constexpr float kCloseDigit = 0.08f;

// The last of words[0..count) that ends in "XP"; count when none does.
std::size_t lastXpWord(const std::vector<GlyphWord>& words, std::size_t count) {
    for (std::size_t w = std::min(count, words.size()); w-- > 0;)
        if (endsInXp(words[w]))
            return w;
    return count;
}

// The word of the amount the line holds, as lastXpWord gives it; count
// when the line holds none.
std::size_t amountWord(const std::vector<GlyphWord>& words, std::size_t count, const HudLine& line) {
    return line.hasXp && line.xp > 0 ? lastXpWord(words, count) : count;
}

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
    // The same for a "1" next to the "X": read from a place a little left
    // of the amount's own, the stem of its last digit passes for one.
    float lastOneMinScore = 0.0f;
    // Digits that tie go to the settling classifiers, as a figure's do
    // where its place is sure.
    bool settle = false;
    // The "X" and "P" were read on the row's ink where the amount ends.
    bool lettersOnInk = false;
    float blankInk = kXpBlankInk;
    // The reading goes on past one place where a digit fits well but ties
    // with another, taking the likelier and noting the tie.
    bool passTie = false;
    // The last column of a light panel behind the phrase, its soft edge
    // included: the blank before the amount ends there.
    double panelEnd = -std::numeric_limits<double>::infinity();
};

// How a reading of an amount's digits went: the digits it read, the place
// where two digits tied (counted from the amount's last digit: a reading
// that stopped there read that many), and whether the blank before the
// phrase held ink.
struct XpStop {
    std::string digits;
    bool tied = false;
    std::size_t tieAt = 0;
    char tieChosen = '?';
    char tieOther = '?';
    double tieX = 0.0;
    // The reading stopped where a digit fits well, tied with another.
    bool stoppedOnDigit = false;
    bool blankInked = false;
    // The margin of the digits' least sure decision.
    float leastMargin = 1.0f;
    // The centres of the digits read, the last digit first.
    std::array<double, 5> xs{};
};

// Whether columns x0..x1 of a row's band hold ink: a column holding more
// than `share` of the band's height in ink counts. Outside when the span
// has no column in the plane.
enum class BlankInk { Clear, Inked, Outside };

BlankInk blankLeftOf(const Plane& ink, const RewardRow& row, double x0, double x1, float share) {
    const int c0 = std::max(0, static_cast<int>(std::floor(x0)));
    const int c1 = std::min(ink.width - 1, static_cast<int>(std::ceil(x1)));
    const int r0 = std::max(0, row.top);
    const int r1 = std::min(ink.height - 1, row.bottom);
    if (c1 < c0 || r1 < r0)
        return BlankInk::Outside;
    const float most = share * static_cast<float>(r1 - r0 + 1);
    for (int x = c0; x <= c1; ++x) {
        float sum = 0.0f;
        for (int y = r0; y <= r1; ++y)
            sum += ink.pixels[offset(x, y, ink.width)];
        if (sum > most)
            return BlankInk::Inked;
    }
    return BlankInk::Clear;
}

// The digits of an experience amount at `place`, read right to left on the
// figures' advances with the figure templates on `ink`. Empty when a digit
// is unsure, when the amount runs on past its five digits, or, with
// checkLetterPlaces, when the places of "X" and "P" hold a sure digit (a
// cash figure stands there).
std::string xpDigitsAt(const Model& model, const Plane& ink, const RewardRow& row, const XpPlace& place,
                       float minLineConfidence, float minMargin, XpStop* stop = nullptr) {
    XpStop unused;
    XpStop& how = stop != nullptr ? *stop : unused;
    how = XpStop{};
    constexpr std::string_view kDigits = "0123456789";
    constexpr std::size_t kMaxXpDigits = 5;
    const WidthTable& widths = figureWidths();
    const double cap = place.cap;
    MoneyRowContext ctx(ink, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    if (place.settle)
        ctx.settlers = &model.figureSettlers;
    char other = '?';
    auto best = [&](double at, char right, Decision& d) {
        std::array<Candidate, kDigits.size()> candidates{};
        for (std::size_t c = 0; c < kDigits.size(); ++c) {
            const double step = (widths.of(right) + widths.of(kDigits[c])) / 2.0 * cap;
            candidates[c] = bestPosition(ctx, at - step, kDigits[c], 2);
        }
        d = decide(ctx, candidates.data(), candidates.size());
        // The two best, sorted by decide: the one not chosen is the tie's other.
        other =
            candidates[0].character == d.chosen.character ? candidates[1].character : candidates[0].character;
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
    for (;;) {
        if (!best(at, right, d)) {
            const bool tie = d.chosen.score >= minLineConfidence && d.margin < minMargin;
            how.stoppedOnDigit = tie && (how.tied || !place.passTie);
            if (!tie || how.tied)
                break;
            // A digit fits here but ties with another: noted, and passed
            // only where asked.
            how.tied = true;
            how.tieAt = digits.size();
            how.tieChosen = d.chosen.character;
            how.tieOther = other;
            how.tieX = d.chosen.x;
            if (!place.passTie)
                break;
        } else {
            how.leastMargin = std::min(how.leastMargin, d.margin);
        }
        if (digits.size() == kMaxXpDigits ||
            (d.chosen.character == '1' &&
             d.chosen.score <
                 (digits.empty() ? std::max(place.oneMinScore, place.lastOneMinScore) : place.oneMinScore)))
            return {};
        how.xs[digits.size()] = d.chosen.x;
        digits.insert(digits.begin(), d.chosen.character);
        at = d.chosen.x;
        right = d.chosen.character;
    }
    how.digits = digits;
    if (digits.empty() || digits.front() == '0')
        return {};
    // The phrase ends a cap left of the amount: a digit the reading stopped
    // short of, or a "$", leaves ink in that blank.
    const double left = at - widths.of(right) / 2.0 * cap;
    // A light panel behind the phrase may end within that blank: its edge
    // is no digit, and a digit lost there would stand right of it.
    const double blankFrom = std::max(left - place.blankReach * cap, place.panelEnd);
    const double blankTo = left - kXpBlankSlack * cap;
    const BlankInk blank =
        blankFrom > blankTo ? BlankInk::Clear : blankLeftOf(ink, row, blankFrom, blankTo, place.blankInk);
    if (blank == BlankInk::Outside)
        return {};
    if (blank == BlankInk::Inked) {
        how.blankInked = true;
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
bool readAgreedXp(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                  double figureRight, const XpPlace& place, float minLineConfidence, float minMargin,
                  std::string& out, bool& tied, XpStop& onFrame) {
    const std::string first =
        xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &onFrame);
    tied = onFrame.tied;
    XpStop how;
    if (first.empty())
        return false;
    std::string second;
    {
        const LocalFigureInk local(planes, row, hp, figureRight);
        if (!local.ramped())
            return false;
        second = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &how);
        tied = tied || how.tied;
    }
    if (second.empty() && place.lettersOnInk) {
        XpPlace lone = place;
        lone.blankInk = kXpLoneBlankInk;
        if (xpDigitsAt(model, planes.ink2, row, lone, minLineConfidence, minMargin) != first)
            return false;
    } else if (second != first) {
        return false;
    }
    out = first;
    return true;
}

// A margin a digit's decision clears only when its runner-up is plainly
// worse, or the pair tie-breaker is confident.
constexpr float kClearXpMargin = 0.1f;
// The share of a tied digit's advance, either side of its centre, that the
// glyph templates are shown.
constexpr double kXpTieGlyphWidth = 0.5;

// The amount at `place` where one ink's reading tied two digits at one
// place: read on both inks past that tie, and taken only when the other ink
// reads every digit surely, each clear of its runner-up, its digit there is
// one of the two, and both readings have the same digits and a blank before
// the phrase.
bool readTiedXp(const Model& model, FramePlanes& planes, const RewardRow& row, double hp, double figureRight,
                XpPlace place, float minLineConfidence, float minMargin, std::string& out, XpStop& a) {
    place.passTie = true;
    XpStop b;
    const std::string onFrame = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &a);
    if (onFrame.empty())
        return false;
    std::string onWindow;
    {
        const LocalFigureInk local(planes, row, hp, figureRight);
        if (!local.ramped())
            return false;
        onWindow = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &b);
    }
    if (onWindow != onFrame || a.tied == b.tied)
        return false;
    const XpStop& sure = a.tied ? b : a;
    if (sure.leastMargin < kClearXpMargin)
        return false;
    // The two inks share the figure templates and their tie-breakers, which
    // can fall the same wrong way: the glyph templates, drawn apart from
    // them, must take the same of the two clearly on the frame's ink.
    const XpStop& tie = a.tied ? a : b;
    const char chosen = onFrame[onFrame.size() - 1 - tie.tieAt];
    const double half = kXpTieGlyphWidth * figureWidths().of(chosen) * place.cap;
    const RowColumns cols(planes.ink2, row);
    Blob box;
    if (!cols.usable() || !cols.trimmed(static_cast<int>(std::lround(tie.tieX - half)),
                                        static_cast<int>(std::lround(tie.tieX + half)), box))
        return false;
    Cell cell{};
    float* sample = cell.data();
    sampleGlyphCell(planes.ink2, box, row.top, row.bottom, row.lh, sample);
    normalizeVectors(&sample, 1, static_cast<std::size_t>(kGlyphCellLength));
    const char pair[2] = {chosen, tie.tieOther};
    const GlyphClass g = classifyGlyph(sample, model.glyphs, std::string_view(pair, 2));
    if (g.character != chosen || g.score - g.second < kCloseDigit)
        return false;
    out = onFrame;
    return true;
}

// The figure's window in ink2 measured against each column's own
// background and its strongest stroke nearby, for as long as this lives:
// an amount over a pale patch of the world beside a dark one keeps its
// counters on neither the frame's top-hat nor one level for the window.
// Panel ink stays as it is; ink2 is put back on leaving.
class AmountPeakInk : public SwappedInkWindow {
public:
    AmountPeakInk(FramePlanes& planes, const RewardRow& row, double hp, double figureRight)
        : SwappedInkWindow(planes.ink2) {
        const Plane& smooth = planes.smooth;
        const int w = ink_.width;
        const int h = ink_.height;
        if (!sameSize(smooth, w, h) || !sameSize(planes.ink, w, h) || !(hp > 0.0) ||
            !std::isfinite(figureRight))
            return;
        const int pad = std::max(2, row.lh / 3);
        const int y0 = std::max(0, row.top - pad);
        const int y1 = std::min(h - 1, row.bottom + pad);
        const int x0 = std::max(0, static_cast<int>(figureRight - kFigureWindowWidth * hp));
        const int x1 = std::min(w - 1, static_cast<int>(figureRight + kXpEndReach * hp));
        if (y1 - y0 < 2 || x1 - x0 < 2)
            return;
        const int cw = x1 - x0 + 1;
        const int ch = y1 - y0 + 1;
        std::vector<float> peaks;
        inkOnLocalPeaks(smooth, x0, y0, cw, ch, row.top, row.bottom, std::max(2, row.lh / 2), peaks);
        if (peaks.size() != static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch))
            return;
        save(x0, y0, cw, ch);
        for (int y = 0; y < ch_; ++y)
            for (int x = 0; x < cw_; ++x) {
                const std::size_t i = offset(x0_ + x, y0_ + y, w);
                const bool panelInk =
                    ink_.pixels[i] != planes.ink.pixels[i] || onPanel(planes, x0_ + x, y0_ + y);
                if (!panelInk)
                    ink_.pixels[i] = peaks[offset(x, y, cw_)];
            }
    }
};

bool digitsReachCapEnds(const Plane& ink, const RewardRow& row, const XpStop& how, double cap);

// Whether the glyph templates, drawn apart from the figure templates, take
// each digit a reading found, by `clearBy` over every other digit, on the
// ink now in ink2.
bool glyphsConfirmDigits(const Model& model, const FramePlanes& planes, const RewardRow& row,
                         const XpStop& how, double cap, float clearBy = kCloseDigit) {
    const RowColumns cols(planes.ink2, row);
    if (!cols.usable() || how.digits.empty() || how.digits.size() > how.xs.size())
        return false;
    constexpr std::string_view kDigits = "0123456789";
    const std::size_t n = how.digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char digit = how.digits[n - 1 - i];
        const double half = kXpTieGlyphWidth * figureWidths().of(digit) * cap;
        Blob box;
        if (!cols.trimmed(static_cast<int>(std::lround(how.xs[i] - half)),
                          static_cast<int>(std::lround(how.xs[i] + half)), box))
            return false;
        Cell cell{};
        float* sample = cell.data();
        sampleGlyphCell(planes.ink2, box, row.top, row.bottom, row.lh, sample);
        normalizeVectors(&sample, 1, static_cast<std::size_t>(kGlyphCellLength));
        const GlyphClass g = classifyGlyph(sample, model.glyphs, kDigits);
        if (g.character != digit || g.score - g.second < clearBy)
            return false;
    }
    return true;
}

// The amount at `place` read on three inks: the frame's (read on past a
// tie), the columns' own peaks and the window's own levels. Each can be
// sure of a wrong digit on its own (a pale patch fills a "3"'s counters
// on the frame's ink and reads it as an "8"; the window's levels read a
// "6" as a "5" where the patch ends inside the window), so the peaks and
// one other ink must read the same digits and the third none at all. Where
// only the peaks read any, every digit must reach the cap's ends there and
// the glyph templates must take each of them clearly. `a` gets the stop of
// a reading that gave the digits; `reachesEnds` says that the peaks' own
// digits were found to reach the cap's ends, which the frame's ink over a
// pale patch may not show.
// Read by the peaks alone, one digit is too little to go on: a figure's
// "$9" can pass for the letters and its "+" for a digit ("+$95" as 6XP).
constexpr std::size_t kPeaksAloneMinDigits = 2;

bool readPeakXp(const Model& model, FramePlanes& planes, const RewardRow& row, double hp, double figureRight,
                XpPlace place, float minLineConfidence, float minMargin, std::string& out, XpStop& a,
                bool& reachesEnds) {
    place.passTie = true;
    const std::string onFrame = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &a);
    place.passTie = false;
    XpStop b;
    std::string onPeaks;
    bool alone = false;
    {
        const AmountPeakInk peaks(planes, row, hp, figureRight);
        if (!peaks.ramped())
            return false;
        onPeaks = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &b);
        reachesEnds = !onPeaks.empty() && digitsReachCapEnds(planes.ink2, row, b, place.cap);
        alone = reachesEnds && !b.tied && onFrame.empty() && onPeaks.size() >= kPeaksAloneMinDigits &&
                glyphsConfirmDigits(model, planes, row, b, place.cap);
    }
    if (onPeaks.empty() || b.tied)
        return false;
    std::string onWindow;
    {
        const LocalFigureInk local(planes, row, hp, figureRight);
        if (local.ramped())
            onWindow = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin);
    }
    const bool frameAgrees = onFrame == onPeaks && onWindow.empty();
    // The frame's ink read on only past a tie, the same digits as the
    // peaks but the tied one, is unsure of just that digit: a pale patch
    // under the open side of a "3" fills it towards an "8" there and leaves
    // the "8" tied with a "0". One digit is too little to go on, as for
    // the peaks alone.
    bool tiedOnlyThere = a.tied && onFrame.size() == onPeaks.size() &&
                         onPeaks.size() >= kPeaksAloneMinDigits && a.tieAt < onFrame.size();
    for (std::size_t i = 0; tiedOnlyThere && i < onFrame.size(); ++i)
        tiedOnlyThere = onFrame[i] == onPeaks[i] || i == onFrame.size() - 1 - a.tieAt;
    const bool frameUnsure = onFrame.empty() || tiedOnlyThere;
    const bool windowAgrees = (onWindow == onPeaks || (alone && onWindow.empty())) && frameUnsure;
    if (!frameAgrees && !windowAgrees)
        return false;
    if (!frameAgrees)
        a = b;
    else
        reachesEnds = false;
    out = onPeaks;
    return true;
}

// Every digit has ink in both the top and the bottom quarter of the cap; a
// "+" stands in its middle. Blurred into a blob, a "+" can fit a digit's
// template where a figure's "$" is taken for an amount's "X" ("+$49" read
// as 6XP). Each end of a digit must hold this share of its strongest ink.
constexpr float kXpDigitEndInk = 0.1f;

bool digitsReachCapEnds(const Plane& ink, const RewardRow& row, const XpStop& how, double cap) {
    const int r0 = std::max(0, row.top);
    const int r1 = std::min(ink.height - 1, row.bottom);
    const int quarter = std::max(1, (r1 - r0 + 1) / 4);
    const double half = 0.25 * cap;
    for (std::size_t i = 0; i < how.digits.size() && i < how.xs.size(); ++i) {
        const int x0 = std::max(0, static_cast<int>(std::lround(how.xs[i] - half)));
        const int x1 = std::min(ink.width - 1, static_cast<int>(std::lround(how.xs[i] + half)));
        float peak = 0.0f;
        float head = 0.0f;
        float foot = 0.0f;
        for (int y = r0; y <= r1; ++y) {
            float most = 0.0f;
            for (int x = x0; x <= x1; ++x)
                most = std::max(most, ink.pixels[offset(x, y, ink.width)]);
            peak = std::max(peak, most);
            if (y < r0 + quarter)
                head = std::max(head, most);
            if (y > r1 - quarter)
                foot = std::max(foot, most);
        }
        if (!(peak > 0.0f) || std::min(head, foot) < kXpDigitEndInk * peak)
            return false;
    }
    return true;
}

// How far a light panel's soft edge reaches past it, in caps.
constexpr double kPanelSoftEdge = 0.2;

// The place's blank ended at the light panel behind the row's phrase, where
// one ends left of the amount's "X".
XpPlace besidePanel(const FramePlanes& planes, const RewardRow& row, XpPlace place) {
    const int middle = (row.top + row.bottom) / 2;
    for (const Blob& p : planes.panels) {
        const double end = p.x1 + kPanelGrow;
        if (middle < p.y0 - kPanelGrow || middle > p.y1 + kPanelGrow || !(end < place.xCentre))
            continue;
        place.panelEnd = std::max(place.panelEnd, end + 1.0 + kPanelSoftEdge * place.cap);
    }
    return place;
}

void takeAgreedXp(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                  double figureRight, const XpPlace& atPlace, float minLineConfidence, float minMargin,
                  HudLine& line) {
    const XpPlace place = besidePanel(planes, row, atPlace);
    std::string digits;
    bool tied = false;
    XpStop onFrame;
    bool endsOnPeaks = false;
    if (!readAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, digits, tied,
                      onFrame) &&
        (!tied || !readTiedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin,
                              digits, onFrame)) &&
        !readPeakXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, digits, onFrame,
                    endsOnPeaks))
        return;
    // The digits stand where an ink read them, and reach the cap's ends.
    if (onFrame.digits != digits ||
        (!endsOnPeaks && !digitsReachCapEnds(planes.ink2, row, onFrame, place.cap)))
        return;
    std::int32_t value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    line.hasXp = true;
    line.xp = value;
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
// Where else the cut is sought, in caps from where it should be (further
// from the end first): the measured place first, alone in taking a "P"
// that reads as another letter.
constexpr double kXpCutShifts[] = {0.0, 0.15, -0.15, 0.3, -0.3};
// The distance of the letters' centres in caps, against the balance's: the
// money line's measured height is off by a tenth either way on soft
// frames, and the "P" box by a pixel or two.
constexpr double kXpMinCapRatio = 0.8;
constexpr double kXpMaxCapRatio = 1.25;
// Left of letters found on the ink, the blank before the phrase: its last
// letter ends a cap left of the first digit's ink, some 0.85 caps from the
// digit's advance.
constexpr double kXpBlankReachOnInk = 0.7;

// A place found on the row's own ink, where the amount's end is seen rather
// than measured: its ties are settled and a lone "1" needs no floor.
XpPlace placeOnInk(double xCentre, double cap, bool checkLetterPlaces) {
    XpPlace place;
    place.xCentre = xCentre;
    place.cap = cap;
    place.settle = true;
    place.lettersOnInk = true;
    place.checkLetterPlaces = checkLetterPlaces;
    place.blankReach = kXpBlankReachOnInk;
    place.oneMinScore = 0.0f;
    return place;
}

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
    // Blurred at small sizes, the letters run into each other and the
    // faintest column near where the cut should be can lie inside the "X":
    // the cut is sought a little either side of it too, and there both
    // letters must read as themselves.
    bool found = false;
    double x = 0.0;
    double p = 0.0;
    for (double shift : kXpCutShifts) {
        const int cut = cols.faintestNear(end + 0.5 - (kXpCutFromEnd + shift) * hp, reach);
        const int start = cut < 0 ? -1 : cols.faintestNear(cut - kXpStartFromCut * hp, reach);
        XpLetters letters;
        if (!readXpLetters(model, planes, row, cols, start, cut, end, shift == 0.0, letters))
            continue;
        x = (letters.x.x0 + letters.x.x1) / 2.0;
        p = (letters.p.x0 + letters.p.x1) / 2.0;
        const double cap = (p - x) / figureWidths().of('X');
        if (cap >= kXpMinCapRatio * hp && cap <= kXpMaxCapRatio * hp) {
            found = true;
            break;
        }
        if (shift == 0.0)
            return false;
    }
    if (!found)
        return false;
    place = placeOnInk(x, hp, false);
    return true;
}

// Blurred at the smallest sizes, an amount's "X" and "P" often read as no
// letters at all, and the "P"'s soft bowl may fall below the inked share,
// so neither the letters nor the ink's end give the "X"'s place to the
// pixel the figure templates need. The amount is then read from places
// stepped across the span where the "X" can stand, in caps left of the
// ink's end: read from a place a digit off, the same ink gives a shorter
// or another amount, so it is taken only where three places or more read
// it and no place reads anything else. Each reading still checks that no
// sure digit stands where the letters do.
constexpr double kXpSweepNear = 0.7;
constexpr double kXpSweepFar = 1.5;
constexpr double kXpSweepStep = 0.05;
constexpr int kXpSweepMinAgreeing = 3;
// One digit is too little to go on here: a figure's "$9" can pass for the
// letters and its "+" for a digit.
constexpr std::int32_t kXpSweepLeast = 10;
// How far from the centre of an "X" read on the ink a place may stand and
// still count as the letters' own, in caps.
constexpr double kXpSweepNearLetters = 0.1;
// By how much the glyph templates must prefer each digit of an amount read
// at so few places: a blurred "8" passes for a "6" by less.
constexpr float kXpLettersGlyphMargin = 0.03f;

std::size_t digitCount(std::int32_t value) {
    std::size_t n = 1;
    for (; value >= 10; value /= 10)
        ++n;
    return n;
}

void readXpAcrossPlaces(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                        double figureRight, float minLineConfidence, float minMargin, HudLine& line,
                        double lettersX = std::numeric_limits<double>::quiet_NaN()) {
    const RowColumns cols(planes.ink2, row);
    if (!cols.usable() || !(hp >= 4.0) || !std::isfinite(figureRight))
        return;
    const int reachEnd = static_cast<int>(std::lround(kXpEndReach * hp));
    const int right = static_cast<int>(std::lround(figureRight));
    const int end = cols.lastInked(right + reachEnd, right - reachEnd);
    if (end < std::max(0, right - reachEnd))
        return;
    XpPlace place = placeOnInk(0.0, hp, true);
    place.lastOneMinScore = kXpOneMinScore;
    const int steps = static_cast<int>(std::lround((kXpSweepFar - kXpSweepNear) / kXpSweepStep));
    std::int32_t value = 0;
    int agreeing = 0;
    int nearLetters = 0;
    int firstStep = -1;
    int lastStep = -1;
    bool passedLetters = false;
    double at = 0.0;
    // The longest the frame's ink read, on past a tie, where no place had
    // agreed yet.
    std::string nearer;
    for (int i = 0; i <= steps; ++i) {
        place.xCentre = end + 0.5 - (kXpSweepNear + i * kXpSweepStep) * hp;
        HudLine read;
        takeAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, read);
        if (!read.hasXp) {
            if (agreeing == 0) {
                XpPlace onFrame = besidePanel(planes, row, place);
                onFrame.passTie = true;
                XpStop how;
                xpDigitsAt(model, planes.ink2, row, onFrame, minLineConfidence, minMargin, &how);
                if (how.digits.size() > nearer.size())
                    nearer = how.digits;
            }
            continue;
        }
        if (agreeing > 0 && read.xp != value) {
            // Read from a place on the amount's own last digit, its ink
            // gives an amount a digit or more shorter: the sweep has passed
            // the amount's "X", and what it read so far stands, checked by
            // the glyph templates as a few places' reading is.
            if (digitCount(read.xp) < digitCount(value)) {
                passedLetters = true;
                break;
            }
            return;
        }
        value = read.xp;
        ++agreeing;
        nearLetters += std::abs(place.xCentre - lettersX) <= kXpSweepNearLetters * hp ? 1 : 0;
        at = place.xCentre;
        firstStep = firstStep < 0 ? i : firstStep;
        lastStep = i;
    }
    if (value < kXpSweepLeast)
        return;
    // Places nearer the ink's end that read on to one more digit after
    // the same ones stood on the amount's "X": the places that agreed
    // stand on its last digit and stepped over it to the one before
    // ("151" read as 15 past its narrow "1").
    const std::string agreed = std::to_string(value);
    if (nearer.size() > agreed.size() && nearer.compare(0, agreed.size(), agreed) == 0)
        return;
    if (agreeing < kXpSweepMinAgreeing || passedLetters) {
        // Where the "X" and "P" read as themselves on the ink, the amount
        // is where they put it: a place or two beside theirs reading it
        // will do, the letters' own centre being a pixel off at most, once
        // the glyph templates, drawn apart from the figure templates, take
        // each of its digits on the frame's ink over every other digit.
        // Where the letters read as nothing at all, two neighbouring places
        // a step apart reading it stand for the same: a place a digit off
        // lies half a cap away and reads another amount.
        const bool byLetters = agreeing > 0 && nearLetters == agreeing;
        const bool byNeighbours = std::isnan(lettersX) && agreeing == 2 && lastStep == firstStep + 1;
        if (!byLetters && !byNeighbours && agreeing < kXpSweepMinAgreeing)
            return;
        place.xCentre = at;
        XpStop how;
        if (xpDigitsAt(model, planes.ink2, row, besidePanel(planes, row, place), minLineConfidence, minMargin,
                       &how) != std::to_string(value) ||
            !glyphsConfirmDigits(model, planes, row, how, hp, kXpLettersGlyphMargin))
            return;
    }
    line.hasXp = true;
    line.xp = value;
}

// An amount whose "X" and "P" the glyph reader found although its digits
// did not read: the digits are read leftwards from the "X" where it stands,
// which a frame's measured place misses by more than a figure's search
// reaches when the HUD's size was measured a little off.
constexpr double kXpLetterReach = 0.6; // in caps, from the figure's place

// The most a digit's own soft edge runs on left of where its ink was
// found to begin, and how far left of that a digit lost before it would
// stand, in caps: a lost digit's ink ends within a quarter cap of the
// next one's, and a light panel behind the phrase ends half a cap left of
// the amount, its soft edge a little nearer.
constexpr double kXpOwnEdge = 0.2;
constexpr double kXpLostDigitReach = 0.4;

// Whether ink stands left of a digit whose ink begins at column `left`,
// in the blank before it: past the digit's own soft edge, a column holding
// more than the usual share of ink, short of a panel's soft edge. An edge
// that runs on further than a soft edge does is ink of its own too. Over a
// pale patch of the world the frame's ink holds some of the background:
// ink is measured above the faintest column of the span.
bool inkLeftOfDigit(const FramePlanes& planes, const RewardRow& row, double left, double cap) {
    const Plane& ink = planes.ink2;
    const RowColumns cols(ink, row);
    if (!cols.usable())
        return false;
    const int middle = (cols.top() + cols.bottom()) / 2;
    const int start = std::min(ink.width, static_cast<int>(std::ceil(left))) - 1;
    const int edgeEnd = start - static_cast<int>(std::lround(kXpOwnEdge * cap));
    int last = std::max(0, static_cast<int>(std::floor(left - kXpLostDigitReach * cap)));
    for (int x = start; x >= last; --x)
        if (onPanel(planes, x, middle)) {
            last = x + 1 + static_cast<int>(std::lround(kXpOwnEdge * cap));
            break;
        }
    if (start < last)
        return false;
    float floor = std::numeric_limits<float>::infinity();
    for (int x = start; x >= last; --x)
        floor = std::min(floor, cols.at(x));
    const float most = floor + kXpBlankInk * static_cast<float>(cols.bottom() - cols.top() + 1);
    int x = start;
    while (x >= last && x >= edgeEnd && cols.at(x) > most)
        --x;
    if (x < edgeEnd && x >= last)
        return true;
    for (; x >= last; --x)
        if (cols.at(x) > most)
            return true;
    return false;
}

// How far left and right of an amount's "X" its window on the columns' own
// peaks reaches, in caps: five digits and the blank before the phrase, and
// the "P".
constexpr double kPeakWindowLeft = 6.5;
constexpr double kPeakWindowRight = 1.5;

// The digits at `place` read on the columns' own peaks in a window of the
// frame around the amount, copied apart so that the frame's planes stay as
// they are. Panel ink is kept as the frame's ink has it.
std::string peakDigitsAt(const Model& model, const FramePlanes& planes, const RewardRow& row, XpPlace place,
                         float minLineConfidence, float minMargin, XpStop& how) {
    how = XpStop{};
    const Plane& ink2 = planes.ink2;
    const Plane& smooth = planes.smooth;
    const int w = ink2.width;
    const int h = ink2.height;
    if (!sameSize(smooth, w, h) || !sameSize(planes.ink, w, h) || !(place.cap > 0.0) ||
        !std::isfinite(place.xCentre))
        return {};
    const int pad = std::max(2, row.lh / 3);
    const int y0 = std::max(0, row.top - pad);
    const int y1 = std::min(h - 1, row.bottom + pad);
    const int x0 = std::max(0, static_cast<int>(place.xCentre - kPeakWindowLeft * place.cap));
    const int x1 = std::min(w - 1, static_cast<int>(place.xCentre + kPeakWindowRight * place.cap));
    if (y1 - y0 < 2 || x1 - x0 < 2)
        return {};
    const int cw = x1 - x0 + 1;
    const int ch = y1 - y0 + 1;
    thread_local std::vector<float> peaks;
    inkOnLocalPeaks(smooth, x0, y0, cw, ch, row.top, row.bottom, std::max(2, row.lh / 2), peaks);
    thread_local Plane window;
    window.width = cw;
    window.height = ch;
    window.pixels.assign(peaks.begin(), peaks.end());
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const std::size_t i = offset(x0 + x, y0 + y, w);
            if (ink2.pixels[i] != planes.ink.pixels[i] || onPanel(planes, x0 + x, y0 + y))
                window.pixels[offset(x, y, cw)] = ink2.pixels[i];
        }
    RewardRow moved;
    moved.top = row.top - y0;
    moved.bottom = row.bottom - y0;
    moved.lh = row.lh;
    place.xCentre -= x0;
    return xpDigitsAt(model, window, moved, place, minLineConfidence, minMargin, &how);
}

// A digit's glyph that fits no digit this well is no digit's ink.
constexpr float kLostDigitMinGlyph = 0.5f;

// Whether the ink of a digit found at `x` reads as some digit's glyph at
// least fairly well.
bool shapedLikeADigit(const Model& model, const FramePlanes& planes, const RewardRow& row, double x,
                      char digit) {
    const RowColumns cols(planes.ink2, row);
    const double half = kXpTieGlyphWidth * figureWidths().of(digit) * row.lh;
    Blob box;
    if (!cols.usable() ||
        !cols.trimmed(static_cast<int>(std::lround(x - half)), static_cast<int>(std::lround(x + half)), box))
        return false;
    Cell cell{};
    float* sample = cell.data();
    sampleGlyphCell(planes.ink2, box, row.top, row.bottom, row.lh, sample);
    normalizeVectors(&sample, 1, static_cast<std::size_t>(kGlyphCellLength));
    return classifyGlyph(sample, model.glyphs, "0123456789").score >= kLostDigitMinGlyph;
}

} // namespace

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

bool endsInXp(const GlyphWord& word) {
    const std::size_t n = word.size();
    return n >= 3 && word[n - 2].letter == 'X' && word[n - 1].letter == 'P';
}

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

void findLostXpDigits(const Model& model, const FramePlanes& planes, const RewardRow& row,
                      const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                      float minMargin, HudLine& line) {
    const std::size_t xpWord = amountWord(words, count, line);
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
    // Where the ink of the amount's leftmost digit kept begins.
    double keptLeft = leftmost->box.x0;
    for (; digits < kMaxXpDigits; ++digits) {
        std::array<Candidate, kDigits.size()> candidates{};
        for (std::size_t c = 0; c < kDigits.size(); ++c) {
            const double step = (widths.of(right) + widths.of(kDigits[c])) / 2.0 * row.lh;
            candidates[c] = bestPosition(ctx, x - step, kDigits[c], 2);
        }
        const Decision d = decide(ctx, candidates.data(), candidates.size());
        if (d.margin < minMargin || d.chosen.score < minLineConfidence)
            break;
        // The glyph words lost this digit, yet it is still shaped like
        // one: the edge of a light panel the phrase sits on fits a
        // digit's template at a pinch, no digit's glyph at all.
        if (!shapedLikeADigit(model, planes, row, d.chosen.x, d.chosen.character))
            break;
        value += (d.chosen.character - '0') * scale;
        scale *= 10;
        if (d.chosen.character != '0') {
            kept = value;
            keptLeft = d.chosen.x - widths.of(d.chosen.character) / 2.0 * row.lh;
        }
        x = d.chosen.x;
        right = d.chosen.character;
    }
    line.xp = kept;
    // Left of the amount lies the blank before the phrase: ink there is a
    // digit neither the glyphs nor the figure templates read ("123" spelled
    // 23, its faint "1" unsure), and the amount is short of it.
    if (inkLeftOfDigit(planes, row, keptLeft, row.lh)) {
        line.hasXp = false;
        line.xp = 0;
    }
}

// Whether a digit of an amount is a close call of the glyphs that the
// figure templates, read where the glyph stands, lean the other way without
// being sure of it either: two template sets drawn apart from each other
// each unsure, and not of the same digit.
static bool unsettledGlyph(MoneyRowContext& ctx, const GlyphRead& g, float minLineConfidence,
                           float minMargin) {
    constexpr std::string_view kDigits = "0123456789";
    if (g.digitScore - g.digitSecond >= kCloseDigit)
        return false;
    std::array<Candidate, kDigits.size()> candidates{};
    for (std::size_t c = 0; c < kDigits.size(); ++c)
        candidates[c] = bestPosition(ctx, (g.box.x0 + g.box.x1) / 2.0, kDigits[c], 1);
    const Decision d = decide(ctx, candidates.data(), candidates.size());
    if (d.chosen.character != g.digit && !(d.margin >= minMargin && d.chosen.score >= minLineConfidence))
        return true;
    // Nor does a wide digit whose glyph reads best as the letter "I", a
    // lone stem, on templates that tie too: a blurred "1" comes out as an
    // "8" in both ("163" spelled 863).
    return g.letter == 'I' && g.digit != '1' && d.margin < minMargin;
}

// The same for every digit the glyph words spelled of the amount: those of
// its own word, and those of the words of digits before it that a narrow
// digit's blank set apart ("151" spelled 851, its leading "1" read as a
// close "8" where the figure templates lean to a "1").
static bool hasUnsettledDigit(const Model& model, const FramePlanes& planes, const RewardRow& row,
                              const std::vector<GlyphWord>& words, std::size_t xpWord,
                              float minLineConfidence, float minMargin) {
    MoneyRowContext ctx(planes.ink2, row.top, row.bottom, row.lh, model.figures, model.figurePairs);
    const GlyphWord& word = words[xpWord];
    for (std::size_t i = 0; i + 2 < word.size(); ++i)
        if (unsettledGlyph(ctx, word[i], minLineConfidence, minMargin))
            return true;
    auto spelledDigit = [](const GlyphRead& g) { return isDigit(g.digit) && g.digitScore >= g.letterScore; };
    for (std::size_t w = xpWord; w-- > 0;) {
        if (words[w].empty() || !std::all_of(words[w].begin(), words[w].end(), spelledDigit))
            break;
        for (const GlyphRead& g : words[w])
            if (unsettledGlyph(ctx, g, minLineConfidence, minMargin))
                return true;
    }
    return false;
}

void dropContestedXp(const Model& model, const FramePlanes& planes, const RewardRow& row,
                     const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                     float minMargin, HudLine& line) {
    const std::size_t xpWord = amountWord(words, count, line);
    if (xpWord == count)
        return;
    const GlyphWord& word = words[xpWord];
    const GlyphRead& x = word[word.size() - 2];
    XpPlace place;
    place.xCentre = (x.box.x0 + x.box.x1) / 2.0;
    place.cap = row.lh;
    place.blankReach = kXpBlankReachNearLetters;
    place.settle = true;
    place = besidePanel(planes, row, place);
    XpStop how;
    const std::string again = xpDigitsAt(model, planes.ink2, row, place, minLineConfidence, minMargin, &how);
    const std::string spelled = std::to_string(line.xp);
    // The same digits up to a place where two digits fit well but tie, and
    // the spelled digit there neither of them ("293" spelled 213 where a "9"
    // and a "3" tie).
    bool tieContested = false;
    bool lostLeading = false;
    if (how.tied && how.tieAt <= spelled.size() &&
        spelled.compare(spelled.size() - how.tieAt, how.tieAt, how.digits) == 0) {
        // Read on past a tie within the spelling: the same digits, then a
        // place where a digit fits well but ties with another, and ink in
        // the blank the phrase would leave: the glyph words lost the
        // amount's leading digit ("687" spelled 7, "854" spelled 54).
        XpStop past = how;
        if (how.tieAt < spelled.size()) {
            const char at = spelled[spelled.size() - 1 - how.tieAt];
            tieContested = at != how.tieChosen && at != how.tieOther;
            XpPlace on = place;
            on.passTie = true;
            xpDigitsAt(model, planes.ink2, row, on, minLineConfidence, minMargin, &past);
            if (past.digits.size() == spelled.size())
                past.digits[spelled.size() - 1 - how.tieAt] = at;
            // Read on past the tie, the figure templates sure of every
            // other digit and the tied one taken as spelled: other digits
            // than the spelling's are a glyph misread where the first
            // reading never reached ("952" spelled 152, the reading stopped
            // at once, its "2" tied with a "7").
            if (past.digits.size() == spelled.size() && past.digits != spelled)
                tieContested = true;
        }
        lostLeading = past.stoppedOnDigit && past.blankInked && past.digits == spelled;
    }
    // Where the figure templates could not read it again, the columns' own
    // peaks, sure of other digits, contest it: over a pale patch the
    // frame's ink fills a "5"'s opening into a "6" for the glyphs.
    bool peaksContest = false;
    if (!lostLeading && !tieContested && again.empty()) {
        XpStop onPeaks;
        const std::string peaks =
            peakDigitsAt(model, planes, row, place, minLineConfidence, minMargin, onPeaks);
        peaksContest = !peaks.empty() && !onPeaks.tied && peaks != spelled;
    }
    // Nor, where the figure templates could not read it again, may a digit
    // stand on a close call of the glyphs that the figure templates, unsure
    // too, take for another: such a digit is as likely the other ("197"
    // spelled 117, "535" spelled 536).
    const bool unsettled = !lostLeading && !tieContested && !peaksContest && again.empty() &&
                           hasUnsettledDigit(model, planes, row, words, xpWord, minLineConfidence, minMargin);
    // A lone digit whose blank before the phrase holds a faint trace of
    // ink is as likely short of a faint "1" the glyphs never saw ("19"
    // spelled 9 over a pale patch).
    bool faintBefore = false;
    if (!lostLeading && !tieContested && !peaksContest && !unsettled && spelled.size() == 1) {
        XpPlace lone = place;
        lone.blankInk = kXpLoneBlankInk;
        XpStop onLone;
        xpDigitsAt(model, planes.ink2, row, lone, minLineConfidence, minMargin, &onLone);
        faintBefore = onLone.blankInked;
    }
    if (!lostLeading && !tieContested && !peaksContest && !unsettled && !faintBefore &&
        (again.empty() || again == spelled))
        return;
    line.hasXp = false;
    line.xp = 0;
}

void readXpAtFigurePlace(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line) {
    XpPlace place;
    if (xpPlaceOnInk(model, planes, row, hp, figureRight, place)) {
        takeAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, line);
        if (!line.hasXp)
            readXpAcrossPlaces(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line,
                               place.xCentre);
        return;
    }
    place.xCentre = figureRight - 1.5 * figureWidths().of('X') * row.lh;
    place.cap = row.lh;
    place.checkLetterPlaces = true;
    place.blankReach = kXpBlankReach;
    place.oneMinScore = kXpOneMinScore;
    takeAgreedXp(model, planes, row, hp, figureRight, place, minLineConfidence, minMargin, line);
    if (!line.hasXp)
        readXpAcrossPlaces(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
}

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

} // namespace hud::reward

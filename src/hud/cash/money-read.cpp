#include "hud/cash/money-internal.h"

#include <algorithm>
#include <cmath>

// One figure read character by character: the decisions between close
// candidates (templates, tie-breakers, settling classifiers) and the walk
// from the rightmost digit to the "$".

namespace hud {

using namespace moneyread;

namespace {

// A digit scoring below this ends the figure unread.
constexpr float kMinDigitScore = 0.45f;
// Below this margin the pair tie-breaker is consulted.
constexpr float kCloseCall = 0.08f;
constexpr float kPairConfident = 2.0f;
// A tie-breaker that leans the same way at both candidates' positions by at
// least this much settles a close call, though with a small margin.
constexpr float kPairLean = 1.0f;
constexpr float kLeanMargin = 0.05f;
// Only a call this close is asked again: further apart, the templates'
// own lead is worth more than the tie-breaker's second opinion.
constexpr float kNearTie = 0.04f;
// Advance widths, in line heights, further apart than this make two
// characters unlike: a "1" and any wider digit.
constexpr double kUnlikeWidths = 0.1;
// How far a settling classifier must speak for one candidate, at both
// positions, to settle a tie. A reward figure is tried from several places,
// and a tie settled in a misplaced reading would let it through, so it needs
// more than the balance and the change, whose every digit must also reach
// the reader's confidence.
constexpr float kSettleFigure = 1.5f;
constexpr float kSettleMoney = 1.0f;
// What a balance digit's settling classifier must give on average over
// both places, a little past kSettleMoney.
constexpr float kSettleMoneyAverage = 1.18f;
// A balance or change digit that beats the next by less than the confirming
// margin needs its settling classifier to back it at least this much: soft
// 720p footage thins an "8" until its template loses to the "6"'s by a
// clear margin and the tie-breaker leans for the "6" too; only the settling
// classifier, trained on such footage, hesitates.
constexpr float kSettlerBacks = 0.5f;
// The candidate a tie is settled for must still look like its character;
// a letter or a half-seen digit between two templates does not.
constexpr float kSettleFloor = 0.8f;
constexpr float kSettledMargin = 0.04f;
// The soft templates fit more shapes than the first ones, a half-seen or
// misplaced figure's among them: their look counts only as far as it is as
// sure as a balance must be, whatever the caller's own floor.
constexpr float kSoftFloor = 0.85f;
// A "$" one place left of a "5" tied with the "$" that reads this well,
// and this much better than the tied "$", makes the "5" the figure's first
// digit; a tied "$" ahead by the third of the "$" one place left of it
// makes it the figure's "$".
constexpr float kDollarReads = 0.85f;
constexpr float kDollarLead = 0.1f;
constexpr float kPlusBehind = 0.25f;

WidthTable makeTable(double other, std::initializer_list<std::pair<char, double>> widths) {
    WidthTable t{};
    for (double& w : t.byChar)
        w = other;
    for (const auto& [c, w] : widths)
        t.byChar[static_cast<unsigned char>(c)] = w;
    return t;
}

std::int64_t digitsValue(const std::string& digits) {
    std::int64_t v = 0;
    for (char c : digits)
        v = v * 10 + (c - '0');
    return v;
}

} // namespace

const WidthTable& moneyWidths() {
    static const WidthTable table = makeTable(0.9, {{'$', 0.95},
                                                    {'-', 0.71},
                                                    {'0', 0.948},
                                                    {'1', 0.608},
                                                    {'2', 0.87},
                                                    {'3', 0.886},
                                                    {'4', 0.918},
                                                    {'5', 0.854},
                                                    {'6', 0.896},
                                                    {'7', 0.799},
                                                    {'8', 0.872},
                                                    {'9', 0.892}});
    return table;
}

const WidthTable& figureWidths() {
    static const WidthTable table = makeTable(0.833, {{'$', 0.86}, {'+', 0.75}, {'1', 0.5}, {'7', 0.8}});
    return table;
}

PairScore pairScore(const PairTable& pairs, const float* cell, char a, char b) {
    PairScore result;
    const auto sa = static_cast<signed char>(a);
    const auto sb = static_cast<signed char>(b);
    auto usable = [&](PairTable::const_iterator it) {
        return it != pairs.end() && it->second.weights.size() == static_cast<std::size_t>(kMoneyCellLength);
    };
    auto it = pairs.find(PairKey{sa, sb});
    if (usable(it)) {
        result.found = true;
        result.score = dot(it->second.weights.data(), cell, kMoneyCellLength) - it->second.bias;
        return result;
    }
    it = pairs.find(PairKey{sb, sa});
    if (usable(it)) {
        result.found = true;
        result.score = -(dot(it->second.weights.data(), cell, kMoneyCellLength) - it->second.bias);
    }
    return result;
}

namespace {

// A close call the tie-breaker did not settle at the first candidate's
// position (its score between the two confident bounds), asked again at the
// second's: leaning the same way at both, it is followed. Leaning for the
// first, the call is kept with a small margin; leaning for the second, the
// second is chosen but stays uncertain. The tie-breaker leans the wrong way
// at both positions when blur merges a "6" and an "8" the same way, so a
// kept call also needs the settling classifier behind it.
void settleAtBoth(MoneyRowContext& ctx, const Candidate& first, const Candidate& second, float atFirst,
                  Decision& d) {
    sampleNormalised(ctx, second.x);
    const PairScore atSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    if (!atSecond.found)
        return;
    if (atFirst >= kPairLean && atSecond.score >= kPairLean) {
        if (ctx.settlers && !ctx.settlers->empty()) {
            sampleNormalised(ctx, first.x);
            const PairScore settler = pairScore(*ctx.settlers, ctx.cell, first.character, second.character);
            if (!settler.found || settler.score < kSettlerBacks)
                return;
        }
        d.margin = kLeanMargin;
        d.leaned = true;
    } else if (atFirst < 0.0f && atSecond.score < 0.0f) {
        d.chosen = second;
        d.margin = 0.0f;
    }
}

} // namespace

bool settleTie(MoneyRowContext& ctx, const Candidate& first, const Candidate& second, float need,
               Decision& d) {
    if (!ctx.settlers || ctx.settlers->empty() || !(need > 0.0f))
        return false;
    sampleNormalised(ctx, first.x);
    const PairScore atFirst = pairScore(*ctx.settlers, ctx.cell, first.character, second.character);
    if (!atFirst.found || std::abs(atFirst.score) < need)
        return false;
    const PairScore pairFirst = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    if (second.x != first.x)
        sampleNormalised(ctx, second.x);
    const PairScore atSecond = pairScore(*ctx.settlers, ctx.cell, first.character, second.character);
    const PairScore pairSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    // The tie-breakers, though short of deciding, must not lean against it.
    const float lean = pairFirst.score + pairSecond.score;
    // A balance digit also needs the settling classifier a little past its
    // bound on average: a blurred "5" that half reads as a "6" passes it at
    // both places, but only just at one of them.
    const float total = 2.0f * (ctx.confirmBelow > 0.0f ? kSettleMoneyAverage * need : need);
    const float sum = atFirst.score + atSecond.score;
    if (atFirst.score >= need && atSecond.score >= need && sum >= total && lean >= 0.0f &&
        first.score >= kSettleFloor) {
        d.chosen = first;
    } else if (atFirst.score <= -need && atSecond.score <= -need && sum <= -total && lean <= 0.0f &&
               second.score >= kSettleFloor) {
        d.chosen = second;
    } else {
        return false;
    }
    d.margin = kSettledMargin;
    d.settled = true;
    return true;
}

namespace {

Decision decideByPairs(MoneyRowContext& ctx, Candidate* candidates, std::size_t count) {
    Decision d;
    if (count == 0 || !candidates)
        return d;
    // Insertion sort: stable and allocation-free for these few candidates.
    for (std::size_t i = 1; i < count; ++i) {
        const Candidate c = candidates[i];
        std::size_t j = i;
        for (; j > 0 && candidates[j - 1].score < c.score; --j)
            candidates[j] = candidates[j - 1];
        candidates[j] = c;
    }
    d.chosen = candidates[0];
    if (count == 1) {
        d.margin = 1.0f;
        return d;
    }
    const Candidate& first = candidates[0];
    const Candidate& second = candidates[1];
    d.margin = first.score - second.score;
    if (ctx.pairs.empty())
        return d;
    if (d.margin >= kCloseCall) {
        if (d.margin < ctx.confirmBelow) {
            sampleNormalised(ctx, first.x);
            const PairScore check = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
            const PairScore settler =
                ctx.settlers ? pairScore(*ctx.settlers, ctx.cell, first.character, second.character)
                             : PairScore{};
            if ((check.found && check.score < 0.0f) || (settler.found && settler.score < kSettlerBacks))
                d.margin = 0.0f;
        }
        return d;
    }

    sampleNormalised(ctx, first.x);
    const PairScore atFirst = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    if (!atFirst.found)
        return d;
    if (atFirst.score >= kPairConfident) {
        d.margin = 0.1f;
        if (ctx.askBothPlaces && first.character != '$' && second.character != '$' && second.x != first.x &&
            first.score - second.score < kNearTie) {
            sampleNormalised(ctx, second.x);
            const PairScore atSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
            if (atSecond.found && atSecond.score <= -kPairConfident && atFirst.score + atSecond.score < 0.0f)
                d.margin = 0.0f;
        }
    } else if (atFirst.score <= -kPairConfident) {
        sampleNormalised(ctx, second.x);
        const PairScore atSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
        if (atSecond.found && atSecond.score <= -kPairConfident) {
            d.chosen = second;
            d.margin = 0.1f;
        } else {
            d.margin = 0.0f;
        }
    } else {
        d.margin = 0.0f;
        if (ctx.confirmBelow > 0.0f)
            settleAtBoth(ctx, first, second, atFirst.score, d);
    }
    return d;
}

// A bright world behind the balance eats the strokes that tell an "8" from
// a "3" until the "8" falls behind a third digit, so the tie-breakers asked
// about the first two never hear of it. Any digit within the confirming
// margin that the settling classifier does not clearly set behind the chosen
// one, or that the tie-breaker prefers, leaves the call unsettled.
// The search of a figure's first digit scores only the two best exactly;
// the others, known only to stand below the second, are asked about too
// while that second is within the margin (a soft "8" behind a "6" and a
// "1" otherwise goes unheard).
// `candidates` are sorted best first.
void doubtByThirds(MoneyRowContext& ctx, const Candidate* candidates, std::size_t count, Decision& d) {
    if (!ctx.settlers || ctx.settlers->empty() || d.chosen.character == '$')
        return;
    // A close call is asked where each was found, too: a thin "1" fits the
    // left stroke of a soft "8" a few pixels left of it, and at that place
    // the tie-breaker sees a "1".
    const Candidate* elsewhere[kMostCandidates];
    std::size_t moved = 0;
    bool sampled = false;
    for (std::size_t i = 1; i < count; ++i) {
        const Candidate& c = candidates[i];
        if (c.score > kNoScore && c.score < d.chosen.score - ctx.confirmBelow)
            break;
        if (c.character == d.chosen.character || c.character == '$')
            continue;
        if (!sampled) {
            sampleNormalised(ctx, d.chosen.x);
            sampled = true;
        }
        const PairScore s = pairScore(*ctx.settlers, ctx.cell, d.chosen.character, c.character);
        const PairScore p = pairScore(ctx.pairs, ctx.cell, d.chosen.character, c.character);
        if ((s.found && s.score < kSettlerBacks) || (p.found && p.score < 0.0f)) {
            d.margin = 0.0f;
            return;
        }
        if (c.score >= d.chosen.score - kCloseCall && std::abs(c.x - d.chosen.x) >= 1.0 &&
            moved < kMostCandidates)
            elsewhere[moved++] = &c;
    }
    for (std::size_t i = 0; i < moved; ++i) {
        sampleNormalised(ctx, elsewhere[i]->x);
        const PairScore p = pairScore(ctx.pairs, ctx.cell, d.chosen.character, elsewhere[i]->character);
        if (p.found && p.score < 0.0f) {
            d.margin = 0.0f;
            return;
        }
    }
}

// Whether a figure's digit left tied is still leaned for, the chosen over
// the runner-up, by the tie-breaker at both their places, and not leaned
// against there by the settling classifier where it knows the pair. Blur
// at 720 lines ties a "3" with a "2" with every classifier behind the right
// one though short of settling it; a tie read the wrong way ("+$512" as
// +$517) has one against it. A "$" tied with a digit is never backed: the
// tie-breaker leans for a "$" where a "5" begins the figure as readily as
// where the figure ends ("+$562" read as +$62); the place left of them may
// tell them apart (see dollarOrFive).
bool tieBacked(MoneyRowContext& ctx, const Candidate* candidates, std::size_t count, const Decision& d) {
    if (d.chosen.character == '$')
        return false;
    if (count < 2)
        return true;
    const Candidate& other = candidates[0].character == d.chosen.character ? candidates[1] : candidates[0];
    for (const double x : {d.chosen.x, other.x}) {
        sampleNormalised(ctx, x);
        const PairScore p = pairScore(ctx.pairs, ctx.cell, d.chosen.character, other.character);
        const PairScore s = pairScore(*ctx.settlers, ctx.cell, d.chosen.character, other.character);
        if (!p.found || p.score <= 0.0f || (s.found && s.score < 0.0f))
            return false;
    }
    return true;
}

// Whether a tie settled between the two best of `candidates` (sorted best
// first) leaves the figure in doubt. A third character within a near tie
// of the best is not asked about: blur at 720 lines leaves a "9", an "8"
// and a "6" within a hundredth of each other, and which two of them tie
// turns on where the search began. And two characters of unlike widths
// put the next digit at different places: a thin "1" settled against a
// soft "8" ("+$189" read as +$119) had the digits left of it read from
// the "1"'s place alone.
bool looseSettle(const Candidate* candidates, std::size_t count, const WidthTable& widths) {
    if (count < 2)
        return false;
    if (count >= 3 && candidates[2].score >= candidates[0].score - kNearTie)
        return true;
    return std::abs(widths.of(candidates[0].character) - widths.of(candidates[1].character)) > kUnlikeWidths;
}

// A "$" and a "5" left tied where a figure ends or goes on. A figure has
// exactly one "$", right after its "+": left of a "5" that begins the
// figure its "$" reads clearly, better than the tied "$" itself; left of
// the "$" stands the "+", which a "$" fits only loosely. A digit left of a
// "5" inside the figure fits a "$" loosely too, so the "$" is taken only
// where the tied "$" also leads and the "$" left of it falls well behind.
// Otherwise it is left as it was: a wrong figure is worse than none.
// Told apart, the call keeps no margin: it only no longer counts as a tie
// nothing backs (see tieBacked). Given a margin, it would let through
// figures whose tie with the "$" was all that kept another digit's tie,
// leaned the wrong way, from being taken ("+$79" read as +$76).
bool dollarOrFive(MoneyRowContext& ctx, const WidthTable& widths, const Candidate* candidates,
                  std::size_t count, Decision& d) {
    if (!ctx.oneDollar || d.margin > 0.0f || count < 2)
        return false;
    const char a = candidates[0].character;
    const char b = candidates[1].character;
    if (!((a == '$' && b == '5') || (a == '5' && b == '$')))
        return false;
    const Candidate& five = a == '5' ? candidates[0] : candidates[1];
    const Candidate& dollar = a == '$' ? candidates[0] : candidates[1];
    const double h = ctx.lineHeight;
    const Candidate left = bestPosition(ctx, five.x - (widths.of('5') + widths.of('$')) / 2.0 * h, '$', 3);
    if (left.score >= kDollarReads && left.score - dollar.score >= kDollarLead) {
        d.chosen = five;
    } else if (a == '$' && dollar.score - left.score >= kPlusBehind) {
        d.chosen = dollar;
    } else {
        return false;
    }
    return true;
}

} // namespace

Decision decide(MoneyRowContext& ctx, Candidate* candidates, std::size_t count) {
    Decision d = decideByPairs(ctx, candidates, count);
    // A tie with the "$" is where a figure ends or goes on; it stays a tie.
    if (d.margin == 0.0f && count >= 2 && ctx.settlers && candidates[0].character != '$' &&
        candidates[1].character != '$')
        settleTie(ctx, candidates[0], candidates[1], ctx.confirmBelow > 0.0f ? kSettleMoney : kSettleFigure,
                  d);
    if (ctx.confirmBelow > 0.0f && d.margin > 0.0f)
        doubtByThirds(ctx, candidates, count, d);
    return d;
}

MoneyReading readMoney(MoneyRowContext& ctx, double startX, const WidthTable& widths, double groupGap,
                       int maxDigits, int radius) {
    MoneyReading r;
    const double h = ctx.lineHeight;
    // A figure never has more digits than an int64 holds; the string stays
    // within its inline buffer, so the loop below does not allocate.
    maxDigits = std::min(std::max(maxDigits, 1), 15);
    radius = std::min(std::max(radius, 0), 64);
    r.digits.reserve(15);

    // First digit: every offset is sampled once and scored for all digits,
    // which gives the same best positions as trying each digit separately.
    Candidate cands[kDigitCount + 1];
    const detail::TemplateList* lists[kDigitCount];
    for (int i = 0; i < kDigitCount; ++i) {
        cands[i].character = kDigits[i];
        cands[i].x = startX;
        cands[i].score = kNoScore;
        lists[i] = ctx.templates.find(kDigits[i]);
    }
    double centres[kDigitCount];
    for (double& c : centres)
        c = startX;
    const bool searched = searchCandidates(ctx, centres, cands, kDigitCount, -radius, 2 * radius + 1);
    for (int d0 = -radius; d0 <= radius && !searched; d0 += kMoneyBlock) {
        const int k = std::min(kMoneyBlock, radius - d0 + 1);
        float scores[kDigitCount][kMoneyBlock];
        scoreOffsets(ctx, startX, d0, k, lists, kDigitCount, scores);
        for (int i = 0; i < kDigitCount; ++i) {
            for (int q = 0; q < k && lists[i]; ++q) {
                if (scores[i][q] > cands[i].score) {
                    cands[i].score = scores[i][q];
                    cands[i].x = startX + (d0 + q);
                }
            }
        }
    }
    Decision first = decide(ctx, cands, kDigitCount);
    const bool strictSettling = ctx.confirmBelow <= 0.0f;
    const bool countBacking = strictSettling && ctx.settlers && !ctx.settlers->empty();
    if (countBacking && first.margin == 0.0f && !tieBacked(ctx, cands, kDigitCount, first))
        ++r.unbacked;
    if (first.settled) {
        ++r.settled;
        r.looseSettles += looseSettle(cands, kDigitCount, widths) ? 1 : 0;
    }
    if (first.leaned)
        ++r.leaned;
    r.digits.push_back(first.chosen.character);
    r.minScore = first.chosen.score;
    r.minMargin = first.margin;
    if (first.margin < kWideMargin)
        r.minCloseScore = first.chosen.score;
    r.firstX = first.chosen.x;
    int count = 1;
    Candidate previous = first.chosen;

    for (;;) {
        const bool digitsAllowed = count < maxDigits;
        std::size_t n = 0;
        const char* set = digitsAllowed ? "0123456789$" : "$";
        double predicted[kDigitCount + 1];
        for (const char* c = set; *c; ++c) {
            const bool dollar = *c == '$';
            const double gap = (!dollar && count % 3 == 0) ? groupGap * h : 0.0;
            predicted[n] = previous.x - (widths.of(*c) + widths.of(previous.character)) / 2.0 * h - gap;
            cands[n++].character = *c;
        }
        followPositions(ctx, predicted, cands, n);
        Decision d = decide(ctx, cands, n);
        const bool toldApart = dollarOrFive(ctx, widths, cands, n, d);
        if (d.settled && ++r.settled > ctx.mostSettled && strictSettling)
            d.margin = 0.0f;
        if (d.settled && looseSettle(cands, n, widths))
            ++r.looseSettles;
        if (countBacking && d.margin == 0.0f && !toldApart && !tieBacked(ctx, cands, n, d))
            ++r.unbacked;
        if (d.leaned)
            ++r.leaned;
        if (d.margin < kWideMargin)
            r.minCloseScore = std::min(r.minCloseScore, d.chosen.score);
        if (d.chosen.character == '$') {
            r.dollarX = d.chosen.x;
            r.minScore = std::min(r.minScore, d.chosen.score);
            r.minMargin = std::min(r.minMargin, d.margin);
            r.ok = true;
            r.value = digitsValue(r.digits);
            return r;
        }
        if (d.chosen.score < kMinDigitScore) {
            r.ok = false;
            return r;
        }
        r.digits.insert(r.digits.begin(), d.chosen.character);
        r.minScore = std::min(r.minScore, d.chosen.score);
        r.minMargin = std::min(r.minMargin, d.margin);
        ++count;
        previous = d.chosen;
    }
}

bool confirmWithSoft(const MoneyRowContext& ctx, const detail::Templates& templates, const WidthTable& widths,
                     double groupGap, int maxDigits, float minScore, float minMargin, float wideFloor,
                     MoneyReading& first) {
    // It lifts a low score; a close call between two characters it leaves
    // alone, as the soft templates of both may fit the same ink.
    if (!first.ok || first.digits.empty() || first.minMargin < minMargin ||
        templates.cellLength != static_cast<std::uint32_t>(kMoneyCellLength))
        return false;
    MoneyRowContext again(ctx.plane, ctx.top, ctx.bottom, ctx.lineHeight, templates, ctx.pairs);
    again.confirmBelow = ctx.confirmBelow;
    again.settlers = ctx.settlers;
    again.askBothPlaces = ctx.askBothPlaces;
    again.oneDollar = ctx.oneDollar;
    const MoneyReading m = readMoney(again, first.firstX, widths, groupGap, maxDigits, kSoftRadius);
    if (!m.ok || m.digits != first.digits || m.minMargin < minMargin)
        return false;
    const float floor = std::max(minScore, kSoftFloor);
    const bool sure = m.minScore >= floor;
    // Or both looks doubt no character at a lower score.
    const bool wide = m.minScore >= wideFloor && first.minScore >= wideFloor &&
                      first.minMargin >= minMargin && first.minCloseScore >= floor &&
                      m.minCloseScore >= floor;
    if (!sure && !wide)
        return false;
    first = m;
    return true;
}

void figureStart(const Blob& rightmost, double lineHeight, double& startX, int& radius) {
    if (0.9 * rightmost.height() >= rightmost.width()) {
        startX = (rightmost.x0 + rightmost.x1) / 2.0;
        radius = 2;
    } else {
        startX = rightmost.x1 - 0.43 * lineHeight;
        radius = 4;
    }
}

} // namespace hud

#include "hud/cash/money-internal.h"

#include <algorithm>
#include <cmath>

// The balance and the change: the money line's two figures, their sign and
// their certainty, and the second attempts at a balance not read certainly.

namespace hud {

using namespace moneyread;

namespace {

// A minus glyph scoring above this makes the change a loss.
constexpr float kMinusPresent = 0.6f;
// A minus that alone, without the arrow, makes the sign certain.
constexpr float kMinusSure = 0.75f;
// Template margins up to this still go past the tie-breaker on the balance
// and the change. A bright world behind the HUD thins the strokes that tell
// an "8" from a "3", and the thinned "8" then correlates better with "3" by
// a clear margin; only the tie-breaker still sees the difference.
constexpr float kConfirmBelow = 0.2f;
// A balance character whose template beats every other by a wide margin
// at a low score is a thin stroke ("1") or a bright world eating its edges,
// not a doubt between two characters: on the second look it needs only
// this score. The first value and the tie-breakers must still agree.
constexpr float kWideFloor = 0.55f;
// The change read without its blobs: the last digit's centre this many line
// heights left of where its ink must end, searched as widely as for a wide
// blob.
constexpr double kChangeLastDigitHalf = 0.43;
constexpr int kChangeSecondRadius = 4;
// Where that ink may end around its expected place, in line heights; the
// arrow starts about one line height further right.
constexpr double kChangeSearchBefore = 1.0;
constexpr double kChangeSearchAfter = 0.6;
// A column holds a figure's ink when this share of the line's rows is inked
// above kFaintColumnInk (the faint mask's level).
constexpr double kInkedRowShare = 0.15;
constexpr float kFaintColumnInk = 0.2173913f;

} // namespace

int arrowColour(const FrameView& frame, const MoneyLine& line, double fromX, double toX) {
    if (!frame.valid())
        return 0;
    // Clamp before truncating so that no value outside int range is converted.
    auto clampTo = [](double v, double lo, double hi) {
        return std::isnan(v) ? lo : std::min(std::max(v, lo), hi);
    };
    const double w = frame.width;
    const double fh = frame.height;
    const int xa = static_cast<int>(clampTo(fromX + 2.0, 0.0, w));
    const int xb = static_cast<int>(clampTo(toX, 0.0, w));
    if (xb - xa < 3)
        return 0;
    const double h = line.height;
    const int ya = static_cast<int>(clampTo(line.top - 0.2 * h, 0.0, fh));
    const int yb = static_cast<int>(clampTo(line.bottom + 0.2 * h, 0.0, fh));
    if (yb <= ya)
        return 0;
    int red = 0;
    int green = 0;
    int deepGreen = 0;
    for (int y = ya; y < yb; ++y) {
        for (int x = xa; x < xb; ++x) {
            const std::uint8_t* px = framePixel(frame, x, y);
            const float b = px[0];
            const float g = px[1];
            const float r = px[2];
            if (r > 140.0f && r > 1.6f * g && r > 1.6f * b)
                ++red;
            if (g > 110.0f && g > 1.3f * r && g > 1.15f * b) {
                ++green;
                if (g > 1.6f * r && g > 1.6f * b)
                    ++deepGreen;
            }
        }
    }
    // A green world behind a loss's arrow passes the loose green test as
    // often as the arrow's red passes the red one; as deep a green as the
    // red is deep is rare outside a gain's arrow.
    if (red >= 8 && (red > 3 * green || red > 3 * deepGreen))
        return -1;
    if (green < 8)
        return 0;
    return green > 3 * red ? 1 : 0;
}

std::string formatThousands(std::int64_t v) {
    // The magnitude as unsigned, so that the most negative value has one too.
    std::uint64_t m = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    char buf[32];
    int pos = static_cast<int>(sizeof buf);
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            buf[--pos] = ',';
            inGroup = 0;
        }
        buf[--pos] = static_cast<char>('0' + m % 10);
        m /= 10;
        ++inGroup;
    } while (m != 0);
    return std::string(buf + pos, sizeof buf - static_cast<std::size_t>(pos));
}

std::string moneyText(std::int64_t v) {
    return (v < 0 ? "-$" : "$") + formatThousands(v);
}

namespace {

void takeBalance(const MoneyReading& m, HudReading& reading) {
    reading.balance = m.value;
    reading.balanceText = "$" + formatThousands(m.value);
    reading.balanceConfidence = m.minScore;
    reading.balanceMargin = m.minMargin;
    reading.balanceLeft = m.dollarX;
    reading.balanceRight = m.firstX;
}

} // namespace

bool readBalance(const Model& model, const FramePlanes& planes, const MoneyLine& line, double startX,
                 int radius, const HudReadOptions& options, HudReading& reading) {
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money, model.moneyPairs);
    ctx.confirmBelow = kConfirmBelow;
    ctx.settlers = &model.moneySettlers;
    const MoneyReading m = readMoney(ctx, startX, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, radius);
    if (!m.ok)
        return false;
    takeBalance(m, reading);
    reading.balanceCertain =
        reading.balanceConfidence >= options.minConfidence && reading.balanceMargin >= options.minMargin;
    if (!reading.balanceCertain)
        reading.reason = kReasonUncertain;
    return true;
}

bool confirmBalance(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                    const HudReadOptions& options, HudReading& reading) {
    if (reading.balanceCertain || reading.balanceText.empty() || !(line.height > 4.0))
        return false;
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money, model.moneyPairs);
    ctx.confirmBelow = kConfirmBelow;
    ctx.settlers = &model.moneySettlers;
    // The first look again from the digit it ended at, for its characters'
    // own scores and margins.
    MoneyReading m =
        readMoney(ctx, reading.balanceRight, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, kSoftRadius);
    if (!m.ok || m.value != reading.balance)
        return false;
    if (!confirmWithSoft(ctx, model.moneyWithSoft, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits,
                         options.minConfidence, options.minMargin, kWideFloor, m))
        return false;
    takeBalance(m, reading);
    reading.balanceCertain = true;
    reading.reason.clear();
    return true;
}

namespace {

constexpr int kRereadRadius = 4;

// Whether a try before tries[i] reads the very same line: the moves of a
// line measured from the ink can land where a move of the line found does,
// and the same reading twice is not two tries agreeing (a soft "$8" read
// certain as "$6" at one geometry counted as two).
bool repeatsEarlier(const BalanceTry* tries, std::size_t i) {
    const BalanceTry& t = tries[i];
    for (std::size_t j = 0; j < i; ++j) {
        const BalanceTry& e = tries[j];
        if (e.top == t.top && e.bottom == t.bottom && e.startX == t.startX && e.band == t.band &&
            e.bandTop == t.bandTop)
            return true;
    }
    return false;
}

} // namespace

int rereadBalance(const Model& model, const FramePlanes& planes, const BalanceTry* tries, std::size_t count,
                  const HudReadOptions& options, HudReading& reading) {
    const bool haveFirst = !reading.balanceText.empty();
    int agreeing = 0;
    int firm = 0;
    MoneyReading best;
    int chosen = -1;
    for (std::size_t i = 0; i < count && tries; ++i) {
        const BalanceTry& t = tries[i];
        const double h = t.bottom - t.top + 1.0;
        if (!(h > 4.0) || !std::isfinite(h) || !std::isfinite(t.startX) || repeatsEarlier(tries, i))
            continue;
        const double shift = t.band ? t.bandTop : 0.0;
        MoneyRowContext ctx(t.band ? *t.band : planes.ink, t.top - shift, t.bottom - shift, h, model.money,
                            model.moneyPairs);
        ctx.confirmBelow = kConfirmBelow;
        ctx.settlers = &model.moneySettlers;
        MoneyReading m =
            readMoney(ctx, t.startX, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, kRereadRadius);
        if (!m.ok || m.minMargin < options.minMargin)
            continue;
        // A try is certain by its own scores, or where the soft digits'
        // second look on its line lifts every character to the confidence
        // and the templates alone decided every one in both looks. Not by a
        // character's wide margin at a low score, as the first reading may
        // be, nor through the tie-breakers: over so many geometries some
        // soft "8" loses to a "6" by such a margin, and a light-on-light "5"
        // leans or is settled to a "6" on several at once.
        auto byTemplates = [](const MoneyReading& r) { return r.settled == 0 && r.leaned == 0; };
        if (m.minScore < options.minConfidence &&
            (!byTemplates(m) ||
             !confirmWithSoft(ctx, model.moneyWithSoft, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits,
                              options.minConfidence, options.minMargin, options.minConfidence, m) ||
             !byTemplates(m)))
            continue;
        if (agreeing > 0 && m.value != best.value)
            return -1;
        ++agreeing;
        if (m.leaned == 0)
            ++firm;
        if (agreeing == 1 || m.minScore > best.minScore) {
            best = m;
            chosen = static_cast<int>(i);
        }
    }
    // A value other than the first reading's needs two tries without a digit
    // that only the tie-breaker's lean kept: it leans alike on every line
    // geometry, so such tries can all be wrong together (a soft
    // light-on-light "5" leaning to "6" on every line).
    const bool contradicts = haveFirst && best.value != reading.balance;
    const bool agreed = contradicts
                            ? firm >= 2
                            : agreeing >= 2 || (agreeing == 1 && haveFirst && best.value == reading.balance);
    if (!agreed)
        return -1;
    takeBalance(best, reading);
    reading.balanceCertain = true;
    reading.reason.clear();
    return chosen;
}

namespace {

// The rightmost column in [fromX, toX) whose rows of the money line carry
// faint ink, or -1.
double rightmostInkColumn(const Plane& ink, const MoneyLine& line, double fromX, double toX) {
    if (ink.empty() || !(fromX == fromX) || !(toX == toX))
        return -1.0;
    const int xa = static_cast<int>(std::max(fromX, 0.0));
    const int xb = static_cast<int>(std::min(toX, static_cast<double>(ink.width)));
    const int ya = static_cast<int>(std::max(line.top, 0.0));
    const int yb = static_cast<int>(std::min(line.bottom + 1.0, static_cast<double>(ink.height)));
    const int needed = std::max(2, static_cast<int>(kInkedRowShare * line.height));
    for (int x = xb - 1; x >= xa; --x) {
        int inked = 0;
        for (int y = ya; y < yb; ++y)
            if (ink.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.width) +
                           static_cast<std::size_t>(x)] > kFaintColumnInk)
                ++inked;
        if (inked >= needed)
            return x;
    }
    return -1.0;
}

} // namespace

void readChange(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                const HudReadOptions& options, HudReading& reading) {
    const double h = line.height;
    const double target = reading.balanceLeft - 3.15 * h;
    const Blob* last = nullptr;
    for (const Blob& b : line.charBlobs)
        if (std::abs(b.x1 - target) <= 0.45 * h && (!last || b.x1 > last->x1))
            last = &b;
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, h, model.money, model.moneyPairs);
    ctx.confirmBelow = kConfirmBelow;
    ctx.settlers = &model.moneySettlers;
    MoneyReading m;
    double arrowFrom = target;
    if (last) {
        double startX = 0.0;
        int radius = 0;
        figureStart(*last, h, startX, radius);
        m = readMoney(ctx, startX, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, radius);
        arrowFrom = last->x1;
    }
    if (!m.ok) {
        // Thin strokes of a small, soft change (720 lines, blur) can stay
        // below the mask's threshold while their ink still reads. The arrow
        // is drawn only with a change, so where it shows, the figure is read
        // from where its last digit must end.
        if (arrowColour(planes.frame, line, target, reading.balanceLeft - 0.5 * h) == 0)
            return;
        const double inkRight = rightmostInkColumn(planes.ink, line, target - kChangeSearchBefore * h,
                                                   target + kChangeSearchAfter * h);
        if (inkRight < 0.0)
            return;
        m = readMoney(ctx, inkRight - kChangeLastDigitHalf * h, moneyWidths(), kMoneyGroupGap,
                      kMoneyMaxDigits, kChangeSecondRadius);
        arrowFrom = inkRight;
        if (!m.ok)
            return;
    }

    const WidthTable& w = moneyWidths();
    const Candidate minus = bestPosition(ctx, m.dollarX - (w.of('-') + w.of('$')) / 2.0 * h, '-', 2);
    const bool minusGlyph = minus.score > kMinusPresent;
    const int arrow = arrowColour(planes.frame, line, arrowFrom, reading.balanceLeft - 0.5 * h);

    float confidence = m.minScore;
    bool negative = minusGlyph;
    if (arrow < 0) {
        negative = true;
    } else if (arrow > 0 && minusGlyph) {
        // A loss drawn with a gain's arrow: believe the glyph, but not enough
        // to report it as certain.
        confidence = std::min(confidence, 0.5f);
    } else if (arrow == 0 && minus.score <= kMinusSure) {
        // A gain is drawn with its arrow. Seeing neither the arrow nor a
        // minus, the sign rests on a minus not found, and a minus blurred
        // into the world behind it is not found either; nor does a minus
        // barely found settle it, where the edge of something in the world
        // behind stands just left of the "$" and a small arrow's green
        // drowned in the world's colour.
        confidence = std::min(confidence, 0.5f);
    }
    reading.arrow = arrow;
    reading.change = negative ? -m.value : m.value;
    reading.changeText = (negative ? "-$" : "$") + formatThousands(m.value);
    reading.changeConfidence = confidence;
    reading.changeMargin = m.minMargin;
    reading.changeLeft = m.dollarX;
    reading.changeRight = m.firstX;
    // The change is found from the balance's "$": after an uncertain balance
    // that place, and so the figure read there, may be part of the balance.
    reading.changeCertain =
        reading.balanceCertain && confidence >= options.minConfidence && m.minMargin >= options.minMargin;
}

} // namespace hud

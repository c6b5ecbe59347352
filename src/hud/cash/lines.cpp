#include "hud/cash/lines-internal.h"

#include "hud/cash/line-synth.h"

#include "hud/cash/money.h"
#include "hud/cash/vocab.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

// The attempts at each reward row, in order: the figure where the game sets
// it, the words, the retries on the row's own ink, the line places no row
// was found at, and the phrases read by shape last.

namespace hud::reward {

namespace {

// Reward text is two thirds the height of the balance digits.
constexpr double kRewardTextScale = 0.667;

// Reward-line figures: "+$250" in their own font, set like the balance.
constexpr double kFigureRightMargin = 2.56; // in H, from the right edge
// A figure read at least this sure on its first reading is not checked for
// an amount's letters: the check would cost every clean frame its time, and
// the letters read as digits score below it.
constexpr float kSureFigureScore = 0.82f;

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
                   takeSpelledFigure(words, k, f.reading, minLineConfidence, line) && figureX != nullptr) {
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

// A figure or amount an attempt at a row read where its phrase did not
// read whole, kept with the row's top for a line of that row whose phrase
// another attempt, or the shape reading, gives without one. An attempt
// whose reading of digits is not trusted (the faint strokes') is kept
// unsure: it only vouches for or against the others.
struct KeptAmount {
    HudLine amount;
    bool sure = true;
};

void keepAmount(const HudLine& attempt, const RewardRow& row, bool sure, std::vector<KeptAmount>& amounts) {
    if (!attempt.hasFigure && !attempt.hasXp)
        return;
    KeptAmount kept{withFigureOf(attempt), sure};
    kept.amount.hasXp = attempt.hasXp;
    kept.amount.xp = attempt.xp;
    kept.amount.top = row.top;
    kept.amount.bottom = row.bottom;
    amounts.push_back(std::move(kept));
}

// Less than this between background and text is no text at all.
constexpr float kLocalMinContrast = 30.0f;

// How a band's ink is ramped afresh: from the band's own background and
// brightest text, or column by column from the strongest strokes nearby.
enum class BandInk { Levels, Peaks };

// Third attempt, for rows whose thin or blurred strokes the frame's top-hat
// breaks apart (small frames scaled up, soft streams): the band's ink is
// ramped afresh from its own background and brightest text, the row's blobs
// and figure are read from that, and ink2 is put back afterwards. Panel
// text keeps the panel's ink.
HudLine readWithLocalInk(const Model& model, FramePlanes& planes, RewardRow& row, bool measureRow, double hp,
                         double figureRight, double limit, float minLineConfidence, float minMargin,
                         const HudLine& first, BandInk mode = BandInk::Levels) {
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
    float low = 0.0f;
    float span = 1.0f;
    std::vector<float> peaks;
    if (mode == BandInk::Peaks) {
        inkOnLocalPeaks(smooth, x0, y0, cw, ch, row.top, row.bottom, std::max(2, row.lh / 2), peaks);
    } else {
        const WindowLevels levels = windowLevels(smooth, x0, y0, x1, y1);
        if (!(levels.text - levels.background >= kLocalMinContrast))
            return second;
        low = levels.background + static_cast<float>(kLocalRampLow) * (levels.text - levels.background);
        span = static_cast<float>(kLocalRampSpan) * (levels.text - levels.background);
    }

    std::vector<float> saved(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch));
    std::vector<std::uint8_t> crop(saved.size(), 0);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const std::size_t i = offset(x0 + x, y0 + y, w);
            const std::size_t c = offset(x, y, cw);
            saved[c] = ink2.pixels[i];
            const bool panelInk = ink2.pixels[i] != planes.ink.pixels[i] || onPanel(planes, x0 + x, y0 + y);
            if (!panelInk)
                ink2.pixels[i] = mode == BandInk::Peaks
                                     ? peaks[c]
                                     : std::min(std::max((smooth.pixels[i] - low) / span, 0.0f), 1.0f);
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

// Further attempts at a row whose words did not read as a whole phrase of
// the game, or lost a fused run: a panel's text ramped on the panel's own
// levels, first the blobs relabelled in the row's own
// band, then the band's ink ramped from its own contrast, last on the local
// contrast of its strokes. True when the phrase came from that last one.
// The figures and amounts of attempts not taken go to `amounts`, their
// letters to `letters`.
bool retryRowWords(const Model& model, FramePlanes& planes, RewardRow row, double hp, double figureRight,
                   double limit, float minLineConfidence, float minMargin, HudLine& line,
                   std::vector<KeptAmount>& amounts, std::vector<std::string>& letters) {
    const bool lacksAmount = !line.hasFigure && !line.hasXp;
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
            return false;
        if (lacksAmount)
            keepAmount(second, row, true, amounts);
        letters.push_back(second.raw);
    }
    const std::vector<Blob> blobs = retryBlobs(planes, row, hp, limit);
    if (!blobs.empty()) {
        HudLine second = withFigureOf(line);
        readRowWords(model, planes, row, blobs, minLineConfidence, minMargin, second);
        if (adoptReading(second, line))
            return false;
        if (lacksAmount)
            keepAmount(second, row, true, amounts);
        letters.push_back(second.raw);
    }
    const HudLine third = readWithLocalInk(model, planes, row, false, hp, figureRight, limit,
                                           minLineConfidence, minMargin, line);
    if (adoptReading(third, line))
        return false;
    if (lacksAmount)
        keepAmount(third, row, true, amounts);
    letters.push_back(third.raw);
    // Ink this faint reads the phrase's letters well enough, but its digits
    // too weakly to be trusted: the figure or amount is left to the later
    // attempts, which read it with checks of their own.
    HudLine fourth = readWithLocalInk(model, planes, row, false, hp, figureRight, limit, minLineConfidence,
                                      minMargin, line, BandInk::Peaks);
    if (lacksAmount)
        keepAmount(fourth, row, false, amounts);
    letters.push_back(fourth.raw);
    fourth.hasFigure = line.hasFigure;
    fourth.hasXp = false;
    return adoptReading(fourth, line);
}

// Whether `r`, sure of its characters, holds the figure `held` followed
// by more digits.
bool readsOnPast(const MoneyReading& r, std::int64_t held, float minLineConfidence) {
    if (!r.ok || r.minScore < minLineConfidence || held <= 0)
        return false;
    const std::string shorter = std::to_string(held);
    return r.digits.size() > shorter.size() && r.digits.compare(0, shorter.size(), shorter) == 0;
}

// How far short of the figure's right edge, in line heights, a figure may
// end before its last digit counts as lost.
constexpr double kLastDigitSlack = 0.75;

// Where a line stands: its row's band and the reach of its blobs.
void placeLine(const RewardRow& row, int width, HudLine& line) {
    line.left = width;
    line.right = row.blobs.front().x1;
    for (const Blob& b : row.blobs) {
        line.left = std::min(line.left, b.x0);
        line.right = std::max(line.right, b.x1);
    }
    line.top = row.top;
    line.bottom = row.bottom;
}

// The game's own places for its lines, in money heights below the balance.
constexpr double kFirstLineTop = 1.1;
constexpr double kLinePitch = 1.3;
constexpr int kMaxLines = 4;

// A row whose words read as nothing, kept for the shape reading that runs
// once every other attempt at every row and line place is done: the index
// of its line when a figure or amount made one, else the line to add.
struct ShapePending {
    std::size_t index = 0;
    bool stored = false;
    HudLine line;
    std::vector<Blob> blobs; // the row's, for a line still to be stored
    // What the row's later attempts read: letters too garbled for a
    // phrase still name one the shape leads with.
    std::vector<std::string> letters;
    // Found only on its strokes' local contrast, over a pale patch that a
    // panel's search can take for a light panel: its width tells no word.
    bool overPalePatch = false;
};

// Lines whose strokes the frame's mask broke into pieces too small to make
// a row at all: each place where the game puts a line, holds no line read
// and has text ink, is read with the band's own ink. Only a whole phrase of
// the game with its figure or amount counts there. A line at `faint` (the
// indices of lines whose phrase only the faint strokes gave, without figure
// or amount) leaves its place open, and such a reading replaces it. A place
// whose band made a row but read neither phrase nor figure joins `pending`:
// the shape reading may still find its phrase. One that read a figure or
// amount but no whole phrase leaves it in `amounts`.
void findMissedRows(const Model& model, FramePlanes& planes, double moneyBottom, double moneyHeight,
                    float minLineConfidence, float minMargin, const std::vector<std::size_t>& faint,
                    std::vector<HudLine>& lines, std::vector<HudLine>& unread,
                    std::vector<ShapePending>& pending, std::vector<KeptAmount>& amounts) {
    const int width = planes.ink2.width;
    const double hp = kRewardTextScale * moneyHeight;
    const double figureRight = (width - 1) - kFigureRightMargin * moneyHeight;
    const double xMin = width - 32.0 * hp;
    for (int i = 0; i < kMaxLines; ++i) {
        const double top = moneyBottom + (kFirstLineTop + kLinePitch * i) * moneyHeight;
        const double bottom = top + hp;
        auto at = [&](const HudLine& l) { return l.top <= bottom && l.bottom >= top; };
        std::size_t open = lines.size();
        bool taken = false;
        for (std::size_t k = 0; k < lines.size() && !taken; ++k) {
            if (!at(lines[k]))
                continue;
            if (std::find(faint.begin(), faint.end(), k) != faint.end())
                open = k;
            else
                taken = true;
        }
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
        // Over a pale patch of the world the band's one level takes the
        // patch for ink and leaves no blob of text height: the strokes'
        // local contrast may still show the row. Digits on that ink are
        // too faint to trust; the phrase alone is read there.
        const bool pale = row.blobs.empty();
        if (pale) {
            found = readWithLocalInk(model, planes, row, true, hp, figureRight,
                                     std::numeric_limits<double>::infinity(), minLineConfidence, minMargin,
                                     HudLine{}, BandInk::Peaks);
            found.hasFigure = false;
            found.hasXp = false;
        }
        restoreInk(planes, saved);
        if (!found.raw.empty()) {
            // The letters of a place that makes no line still help the
            // shape reading of a row found there.
            unread.push_back(found);
            unread.back().top = row.top;
            unread.back().bottom = row.bottom;
        }
        if (!found.hasFigure && !found.hasXp) {
            if (open == lines.size() && !row.blobs.empty()) {
                HudLine place = found;
                placeLine(row, width, place);
                pending.push_back({lines.size(), false, std::move(place), row.blobs, {}, pale});
            }
            continue;
        }
        // The band's figure or amount read, its phrase not: the phrase may
        // still show by its shape.
        if (!isWholePhrase(found) && !row.blobs.empty()) {
            HudLine byShape = withFigureOf(found);
            byShape.hasXp = found.hasXp;
            byShape.xp = found.xp;
            if (readByShape(model, planes, row.top, hp, figureRight, byShape))
                found = byShape;
        }
        if (!isWholePhrase(found) || row.blobs.empty()) {
            keepAmount(found, row, true, amounts);
            continue;
        }
        HudLine line;
        adoptReading(found, line);
        placeLine(row, width, line);
        if (open < lines.size())
            lines[open] = std::move(line);
        else
            lines.push_back(std::move(line));
    }
}

// A line whose phrase only its shape gave has no letters that rule out an
// amount's "XP" standing where the figure would: its figure must read
// better still.
constexpr float kShapeLineFigureMinScore = 0.8f;

// A row that is a piece of another line's text (its lower half grouped on
// its own) fits that line's phrase too, and a line place another attempt
// read is read already: a row gets a phrase by shape only where no other
// line stands within half a cap. Where no phrase fits clearly, the letters
// its own reading and the line place's reading gave may settle between
// phrases that fit well (`unread`: the place readings that made no line).
void readPendingShapes(const Model& model, FramePlanes& planes, std::vector<ShapePending>& pending, double hp,
                       double figureRight, float minLineConfidence, float minMargin,
                       const std::vector<HudLine>& unread, std::vector<HudLine>& lines) {
    std::vector<std::string> letters;
    for (ShapePending& p : pending) {
        const std::size_t self = p.stored ? p.index : lines.size();
        const HudLine& own = p.stored ? lines[p.index] : p.line;
        bool taken = false;
        for (std::size_t k = 0; k < lines.size() && !taken; ++k)
            taken = k != self && std::abs(lines[k].top - own.top) < 0.5 * hp;
        if (taken)
            continue;
        letters.assign(1, own.raw);
        letters.insert(letters.end(), p.letters.begin(), p.letters.end());
        for (const HudLine& u : unread)
            if (std::abs(u.top - own.top) < 0.5 * hp)
                letters.push_back(u.raw);
        HudLine& target = p.stored ? lines[p.index] : p.line;
        bool byPanel = false;
        const std::string spelled = isWholePhrase(target) ? target.text : std::string();
        bool read = readByShape(model, planes, target.top, hp, figureRight, target) ||
                    readByShape(model, planes, target.top, hp, figureRight, target, &letters,
                                p.overPalePatch ? nullptr : &byPanel);
        // Over a pale patch any short block of light has a one-word
        // phrase's shape: such a phrase is taken there only where the
        // letters, too, spelled it.
        if (read && p.overPalePatch && target.text.find(' ') == std::string::npos && target.text != spelled) {
            read = false;
            target.text = spelled;
            target.known = !spelled.empty();
        }
        // Too soft for its shape to lead clearly, the phrase may still be
        // told by the length and words of its ink: reported without a
        // figure, which is no worse than nothing.
        if (!read && !p.stored && phraseByInk(model, planes, target.top, hp, figureRight, p.line)) {
            lines.push_back(std::move(p.line));
            continue;
        }
        if (read && !p.stored) {
            // Its figure or amount had no phrase to go with when the row was
            // read: now that the line has one, they get their last attempt.
            RewardRow row;
            row.blobs = std::move(p.blobs);
            row.top = p.line.top;
            row.bottom = p.line.bottom;
            row.lh = row.bottom - row.top + 1;
            // A word its panel alone gave vouches for nothing at the figure's
            // place: only the readings that two inks agree on are taken there.
            if (!byPanel)
                readFigureOnLocalInk(model, planes, row, hp, figureRight, minLineConfidence, minMargin,
                                     p.line, kShapeLineFigureMinScore);
            if (!p.line.hasFigure)
                readAgreedFigure(model, planes, row, hp, figureRight, minLineConfidence, p.line);
            if (!byPanel && !p.line.hasFigure)
                readFigureOnStrokes(model, planes, row, hp, figureRight, minLineConfidence, minMargin, p.line,
                                    kShapeLineFigureMinScore);
            if (!p.line.hasFigure)
                readXpAtFigurePlace(model, planes, row, hp, figureRight, minLineConfidence, minMargin,
                                    p.line);
            lines.push_back(std::move(p.line));
        }
    }
}

bool sameAmount(const HudLine& a, const HudLine& b) {
    return a.hasFigure == b.hasFigure && a.figure == b.figure && a.hasXp == b.hasXp && a.xp == b.xp;
}

// An experience amount kept from one attempt was spelled by the glyph
// templates on one ink, its digits as soft as the letters that did not
// read ("94XP" read as 98XP): it counts only where a second attempt read
// the same. A kept figure must clear every digit's runner-up: one whose
// reading came down to a close call ("+$76" read as +$78 at the smallest
// frames) is as likely the runner-up's. Nor is a kept figure of one digit
// taken: a figure whose leading digits the attempt lost reads as its last
// one alone ("+$621" as +$1), which passes every check of its own.
constexpr int kKeptXpMinReads = 2;
constexpr std::int64_t kKeptFigureMin = 10;

// A whole phrase read without its figure or amount takes the one kept from
// the other attempts at its row, each read by that attempt's own checks:
// only when no attempt read another, and where the phrase's shape, fitted
// at the place that figure or amount leaves it, is the same phrase. A
// figure short of its first digits ("+$8" for +$92,053) leaves the phrase
// a place it does not end at.
void takeKeptAmount(const Model& model, const FramePlanes& planes, double hp, double figureRight,
                    const std::vector<KeptAmount>& amounts, HudLine& line) {
    if (line.hasFigure || line.hasXp || !isWholePhrase(line))
        return;
    const KeptAmount* kept = nullptr;
    int reads = 0;
    for (const KeptAmount& a : amounts) {
        if (std::abs(a.amount.top - line.top) >= 0.5 * hp)
            continue;
        if (kept != nullptr && !sameAmount(a.amount, kept->amount))
            return;
        if (kept == nullptr || a.sure)
            kept = &a;
        ++reads;
    }
    if (kept == nullptr || !kept->sure || (kept->amount.hasXp && reads < kKeptXpMinReads) ||
        (kept->amount.hasFigure &&
         (!(kept->amount.figureMargin > 0.0f) || kept->amount.figure < kKeptFigureMin)))
        return;
    HudLine placed = kept->amount;
    if (!readByShape(model, planes, line.top, hp, figureRight, placed) || placed.text != line.text)
        return;
    line.hasFigure = kept->amount.hasFigure;
    line.figure = kept->amount.figure;
    line.figureConfidence = kept->amount.figureConfidence;
    line.figureMargin = kept->amount.figureMargin;
    line.figureX = kept->amount.figureX;
    line.hasXp = kept->amount.hasXp;
    line.xp = kept->amount.xp;
}

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
    std::vector<std::size_t> faintLines;
    std::vector<KeptAmount> amounts;
    std::vector<std::string> rowLetters;
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
        rowLetters.clear();
        for (const Blob& b : row.blobs)
            if (b.x1 < limit)
                wordBlobs.push_back(b);
        // A figure spelled at the end of the words is read from their last
        // glyph: where that stands a digit short of the figure's place, a
        // digit's blob was lost ("+$808" read as +$80), and the figure is
        // read again below from where its last digit must be. It is kept
        // when that fails, unless that reading goes on past it: the place,
        // measured on the balance, can be off by as much at large HUD
        // scales.
        double spelledX = std::numeric_limits<double>::quiet_NaN();
        readRowWords(model, planes, row, wordBlobs, minLineConfidence, minMargin, line, &spelledX);
        if (std::isfinite(spelledX))
            lastDigitX = spelledX;
        const bool faint = (!isWholePhrase(line) || lostWideRun(planes, row, limit)) &&
                           retryRowWords(model, planes, row, hp, figureRight, limit, minLineConfidence,
                                         minMargin, line, amounts, rowLetters);
        // The figure ends where the game puts it: a figure that did not read
        // there, or whose last digit stands a character short of it (touching
        // digits read from the wrong centre), is read again from where that
        // digit's centre must be. A line with an experience amount has none.
        if (!line.hasXp && (!line.hasFigure || figureRight - lastDigitX > kLastDigitSlack * hp)) {
            const bool heldShort = line.hasFigure;
            bool heldLostDigits = false;
            for (double offset : kLastDigitCentres) {
                const FigureRead g = readFigure(model, planes, row, figureRight - offset * row.lh,
                                                minLineConfidence, minMargin);
                const bool endsFurther = g.reading.firstX > lastDigitX + 0.3 * hp;
                if (g.accepted && (!line.hasFigure || endsFurther) &&
                    !figureEndsInXp(model, planes, row, row.blobs, g.reading)) {
                    takeFigure(g.reading, line);
                    heldLostDigits = false;
                    break;
                }
                heldLostDigits = heldLostDigits || (heldShort && endsFurther &&
                                                    readsOnPast(g.reading, line.figure, minLineConfidence));
            }
            // A figure read from where the game ends it, sure of every
            // character though a close call stays open, that goes on with
            // more digits past the last one held: the held figure lost
            // digits whose blobs touched ("+$706" read as +$7), and a
            // figure short of digits is worse than none.
            if (heldLostDigits) {
                line.hasFigure = false;
                line.figure = 0;
                line.figureConfidence = 0.0f;
                line.figureMargin = 0.0f;
                line.figureX = 0.0;
            }
        }

        // A phrase read only on its strokes' local contrast stood too faint
        // for its letters to rule out an amount's "XP" where the figure
        // would be: its figure or amount gets the attempts of a phrase read
        // by shape, and only where the shape gives that phrase too.
        if (faint && !line.hasFigure && !line.hasXp) {
            HudLine byShape = withFigureOf(line);
            if (readByShape(model, planes, row.top, hp, figureRight, byShape) && byShape.text == line.text) {
                if (line.raw.find("XP") == std::string::npos)
                    readFigureOnLocalInk(model, planes, row, hp, figureRight, minLineConfidence, minMargin,
                                         line, kShapeLineFigureMinScore);
                if (!line.hasFigure && line.raw.find("XP") == std::string::npos)
                    readAgreedFigure(model, planes, row, hp, figureRight, minLineConfidence, line);
                if (!line.hasFigure && line.raw.find("XP") == std::string::npos)
                    readFigureOnStrokes(model, planes, row, hp, figureRight, minLineConfidence, minMargin,
                                        line, kShapeLineFigureMinScore);
                if (!line.hasFigure)
                    readXpAtFigurePlace(model, planes, row, hp, figureRight, minLineConfidence, minMargin,
                                        line);
            }
        }
        if (!faint) {
            // Only for a line whose words were read: a row with neither
            // words nor figure is left to the search of the line places
            // below, which reads words and figure together; and an amount
            // whose digits were lost ("XP" alone) is no figure.
            const bool lettersOnly = line.raw.find("XP") == std::string::npos;
            if (!line.hasFigure && !line.hasXp && !line.text.empty() && lettersOnly)
                readFigureOnLocalInk(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
            if (!line.hasFigure && !line.hasXp && !line.text.empty() && lettersOnly)
                readSettledFigure(model, planes, row, figureRight, minLineConfidence, minMargin, line);
            if (!line.hasFigure && !line.hasXp && !line.text.empty() && lettersOnly)
                readAgreedFigure(model, planes, row, hp, figureRight, minLineConfidence, line);
            if (!line.hasFigure && !line.hasXp && !line.text.empty() && lettersOnly)
                readFigureOnStrokes(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
            if (!line.hasFigure && !line.hasXp && !line.text.empty())
                readXpAtFigurePlace(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
            if (!line.hasFigure && !line.hasXp && !line.text.empty())
                readXpLeftOfLetters(model, planes, row, hp, figureRight, minLineConfidence, minMargin, line);
        }

        placeLine(row, width, line);
        const bool stored = !line.text.empty() || line.hasFigure || line.hasXp;
        if (line.text.empty())
            pending.push_back({lines.size(), stored, stored ? HudLine{} : line,
                               stored ? std::vector<Blob>{} : row.blobs, rowLetters});
        if (faint && !line.hasFigure && !line.hasXp)
            faintLines.push_back(lines.size());
        if (stored)
            lines.push_back(std::move(line));
    }
    std::vector<HudLine> unread;
    findMissedRows(model, planes, moneyBottom, moneyHeight, minLineConfidence, minMargin, faintLines, lines,
                   unread, pending, amounts);
    for (HudLine& line : lines)
        settlePhraseByShape(model, planes, hp, figureRight, line);
    readPendingShapes(model, planes, pending, hp, figureRight, minLineConfidence, minMargin, unread, lines);
    for (HudLine& line : lines)
        takeKeptAmount(model, planes, hp, figureRight, amounts, line);
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

} // namespace hud::reward

namespace hud {

using namespace reward;

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
    // Last, what no cell reading gave: a line's figure or amount set whole
    // and compared with the pixels, at the money height the lines were
    // read at.
    auto typeset = [&](std::vector<HudLine>& read, double atHeight) {
        const double figureRight = (planes.ink2.width - 1) - kFigureRightMargin * atHeight;
        // Each attempt has a bounded cost, and so has the pass: a frame
        // with more unread lines than this is a frame to read again later.
        constexpr int kMaxTypesetLines = 4;
        int tried = 0;
        for (HudLine& line : read)
            if (!line.text.empty() && !line.hasFigure && !line.hasXp && tried++ < kMaxTypesetLines)
                readAmountBySynthesis(model, planes, kRewardTextScale * atHeight, figureRight, line);
        return std::move(read);
    };
    // Lines left incomplete under a money line measured clearly off the
    // height the layout gives the balance: read again at the layout's.
    const bool complete = !lines.empty() && std::all_of(lines.begin(), lines.end(), [](const HudLine& l) {
        return !l.text.empty() && (l.hasFigure || l.hasXp);
    });
    double bottom = 0.0;
    double height = 0.0;
    if (complete || !moneyBandByLayout(moneyBottom, moneyHeight, bottom, height))
        return typeset(lines, moneyHeight);
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
        return second.empty() ? typeset(lines, moneyHeight) : typeset(second, height);
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
        // A line the first reading found no phrase for takes the second's
        // whole phrase where the two do not read different amounts.
        if (same->text.empty() && isWholePhrase(s)) {
            const bool agree =
                (!same->hasFigure && !same->hasXp) || (!s.hasFigure && !s.hasXp) || sameAmount(*same, s);
            if (!agree)
                continue;
            same->text = s.text;
            same->raw = s.raw;
            same->known = true;
            if (same->hasFigure || same->hasXp)
                continue;
        } else if (same->text != s.text || same->hasFigure || same->hasXp) {
            continue;
        }
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
    return typeset(lines, height);
}

} // namespace hud

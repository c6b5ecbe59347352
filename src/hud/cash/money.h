#pragma once

// Reading cash figures ("$12,345", "-$250", "+$250") character by character
// from right to left. The characters are not segmented: the next centre is
// predicted from the font's advance widths, a cell is slid a few pixels
// around the prediction, and the best template correlation wins. Close calls
// between two characters go to the model's pairwise tie-breakers.

#include "hud/core/image.h"
#include "hud/core/model.h"
#include "hud/cash/pass.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hud {

// Cells scored side by side against each template: enough to keep the
// multipliers busy, few enough to stay in registers and L1.
constexpr int kMoneyBlock = 8;

// Every cell of a line samples the same 36 rows, so each row is blended
// vertically once into this strip and a cell then only blends horizontally.
// Columns are filled as the reading first reaches them; a zero column either
// side stands for the taps outside the plane.
struct MoneyStrip {
    bool ready = false; // rows measured and storage made
    int width = 0;      // plane width + 2; 0 when the plane is empty
    int lo = 0;         // filled columns: [lo, hi)
    int hi = 0;
    int rowIndex[kMoneyCellRows] = {};
    float rowWeight[kMoneyCellRows] = {};
    bool rowLive[kMoneyCellRows] = {};
    // `width` columns of kMoneyCellRows, column by column, in the context's
    // search memory.
    float* values = nullptr;
};

// Working memory of the strip and of the reader's pruned search (see
// money-search.cpp), taken on first use and kept for the context's life. It comes
// from a small per-thread pool, so that the dozen contexts of a frame do
// not each allocate and clear their buffers anew.
struct MoneySearch;

// What the character reader works on: one line of one plane, which must not
// change while the context is in use.
struct MoneyRowContext {
    MoneyRowContext(const Plane& p, double lineTop, double lineBottom, double height,
                    const detail::Templates& set, const PairTable& pairTable)
        : plane(p), top(lineTop), bottom(lineBottom), lineHeight(height), templates(set), pairs(pairTable) {}

    const Plane& plane;
    double top;
    double bottom;
    double lineHeight;
    const detail::Templates& templates;
    const PairTable& pairs;
    // The balance and change must never be reported certain and wrong: their
    // reader sets this, and every template margin below it must then also be
    // backed by the pair tie-breaker (see decide). 0 leaves the tie-breaker
    // to the close calls alone.
    float confirmBelow = 0.0f;
    // Classifiers for the pairs degraded digits leave tied (Model's
    // moneySettlers or figureSettlers); null or empty, a tie stays a tie.
    const PairTable* settlers = nullptr;
    // Reward figures set this: a near tie between two digits found a few
    // pixels apart, which the tie-breaker decides at the first one's place,
    // is asked again at the second's, and stays a tie where the tie-breaker
    // is as sure of the second there and leans harder for it. A small
    // blurred digit fits the tie-breaker at its own place, and so does a
    // wider one's template a little off it ("+$441" read as +$448).
    bool askBothPlaces = false;
    // Reward figures set this too: a figure has one "$", right after its
    // "+", so a "$" and a "5" left tied are told apart one place further
    // left (see dollarOrFive).
    bool oneDollar = false;
    // Without a confirming margin, the ties a reading may have settled
    // before a further one leaves it a tie.
    int mostSettled = 1;
    // Aligned so that the dot products' loads do not straddle cache lines.
    // Scratch, written in full before every read; left uninitialised, as
    // clearing the block alone would cost a context 23 KiB of stores.
    alignas(32) float cell[kMoneyCellLength];
    alignas(32) float block[kMoneyBlock][kMoneyCellLength];
    MoneyStrip strip;
    std::shared_ptr<MoneySearch> search;
};

// The money cell centred on cx on the context's line, as sampleMoneyCell
// gives it but blended rows first, which can differ from it in the last bits.
void sampleLineCell(MoneyRowContext& ctx, double cx, float* out);

struct Candidate {
    float score = kNoScore;
    char character = '?';
    double x = 0.0; // centre x at which the score was reached
};

struct Decision {
    Candidate chosen;
    float margin = 0.0f;
    bool settled = false; // by the settling classifiers (see settleTie)
    bool leaned = false;  // kept by the tie-breaker's lean at both places
};

struct MoneyReading {
    bool ok = false; // the figure ended with a "$"
    std::int64_t value = 0;
    std::string digits; // most significant first
    float minScore = 0.0f;
    float minMargin = 0.0f;
    // The lowest score among the characters chosen by less than kWideMargin
    // over the next best; 1 when every one won by more.
    float minCloseScore = 1.0f;
    int settled = 0; // digits whose tie the settling classifiers decided
    int leaned = 0;  // digits kept by the tie-breaker's lean
    // Reward figures only (settling classifiers set, no confirming margin):
    // digits left tied that the tie-breaker does not lean for at both
    // candidates' places, or that the settling classifier leans against.
    int unbacked = 0;
    // Digits whose tie the settling classifiers decided though it says
    // little of the figure: a third character stood as close to the best,
    // or the two tied differ in width, so that the digits left of them were
    // read from where only one of the two put them.
    int looseSettles = 0;
    double dollarX = 0.0;
    double firstX = 0.0; // centre x of the rightmost digit
};

// Advance widths in units of the line height, per character.
struct WidthTable {
    double byChar[256];
    double of(char c) const { return byChar[static_cast<unsigned char>(c)]; }
};

// The balance and change font.
const WidthTable& moneyWidths();
// The figures of the reward lines.
const WidthTable& figureWidths();

// A template margin at which a character is no longer a close call.
constexpr float kWideMargin = 0.15f;

// Extra space before the fourth and seventh digit, in units of H.
constexpr double kMoneyGroupGap = 0.49;
constexpr int kMoneyMaxDigits = 9;

// Score of character c with its cell centred at x: the best correlation with
// its templates, kNoScore without templates.
float scoreAt(MoneyRowContext& ctx, double x, char c);

// Best score of c at the integer offsets -radius..radius around x (the first
// on ties); score kNoScore at x when c has no templates.
Candidate bestPosition(MoneyRowContext& ctx, double x, char c, int radius);

// The highest of bestPosition(ctx, centres[i], characters[i], radius).score
// over i < n (kNoScore for none) where it reaches `floor`; below `floor`
// where it does not, though not necessarily that highest score.
float bestScoreAround(MoneyRowContext& ctx, const double* centres, const char* characters, std::size_t n,
                      int radius, float floor);

struct PairScore {
    bool found = false;
    float score = 0.0f; // > 0 speaks for a, < 0 for b
};

// The tie-breaker for (a, b) on a normalised money cell; a pair stored the
// other way round is used negated. Only records of the money cell length count.
PairScore pairScore(const PairTable& pairs, const float* cell, char a, char b);

// Chooses among candidates given in character-set order. Reorders them (by
// score, highest first, stably). With ctx.confirmBelow set, a tie-breaker
// leaning against the template choice makes it uncertain, and a close call
// it cannot settle at one position is looked at again at the other; with
// ctx.askBothPlaces, so is a near tie it settles at the first. A call
// still left without a margin goes to ctx.settlers (see settleTie).
Decision decide(MoneyRowContext& ctx, Candidate* candidates, std::size_t count);

// The last word on two candidates the templates and tie-breakers left
// without a margin: the settling classifier for the pair, asked at both
// candidates' positions, must speak for the same one at both by at least
// `need`, the tie-breakers must not lean against it, and its template score
// must reach 0.8. Then that one is chosen with a small margin and marked
// settled; otherwise `d` stays. True when it settled.
bool settleTie(MoneyRowContext& ctx, const Candidate& first, const Candidate& second, float need,
               Decision& d);

// Reads one figure leftwards from startX until its "$". On the reward
// figures (ctx.confirmBelow 0) a settled tie counts only once in a figure:
// several ties in one figure speak of a misplaced reading, not of soft
// digits, and leave its margin 0.
MoneyReading readMoney(MoneyRowContext& ctx, double startX, const WidthTable& widths, double groupGap,
                       int maxDigits, int radius);

// A second look at a figure `first` that read with every margin reaching
// minMargin but a score below minScore: read again
// on ctx's line from its rightmost digit, with `templates` (ctx's own joined
// with the soft digits' templates) in place of ctx's. Only the very same
// value confirms it, with every character reaching minMargin and minScore
// (never less than a balance's confidence). Or, where a character's low
// score is no doubt between two, at `wideFloor`: when in both looks every
// character won by less than kWideMargin reaches that confidence, every
// other one `wideFloor`, and the margins minMargin. Then
// `first` takes the second look's scores and positions. Never changes the
// value. True when confirmed.
bool confirmWithSoft(const MoneyRowContext& ctx, const detail::Templates& templates, const WidthTable& widths,
                     double groupGap, int maxDigits, float minScore, float minMargin, float wideFloor,
                     MoneyReading& first);

// Where to start reading a figure whose rightmost blob is given: a narrow
// blob is one digit, so its centre with radius 2; a wide one holds fused
// digits, so where the last of them would be centred, with radius 4.
void figureStart(const Blob& rightmost, double lineHeight, double& startX, int& radius);

// Colour of the change arrow between fromX and toX on the money line:
// -1 red, +1 green, 0 unknown.
int arrowColour(const FrameView& frame, const MoneyLine& line, double fromX, double toX);

// |v| with "," between groups of three digits: 1234567 -> "1,234,567".
std::string formatThousands(std::int64_t v);
// "$" or "-$" and formatThousands(v).
std::string moneyText(std::int64_t v);

// Reads the balance into `reading` from startX (the rightmost digit's centre)
// with the given search radius. False when the figure does not read; then
// `reading` is left as it was.
bool readBalance(const Model& model, const FramePlanes& planes, const MoneyLine& line, double startX,
                 int radius, const HudReadOptions& options, HudReading& reading);

// One place to read a balance again: the line's top and bottom and the
// rightmost digit's centre, in the capture's pixels, and the plane to read:
// the frame's ink unless given, else a band of rows whose first is the
// capture's row `bandTop`.
struct BalanceTry {
    double top = 0.0;
    double bottom = 0.0;
    double startX = 0.0;
    const Plane* band = nullptr;
    int bandTop = 0;
};

// The second attempt at a balance the first did not read certainly. Each try
// is read on its own line geometry; a value is taken only when every try
// that reads certainly by itself (by its own scores, or by the soft digits'
// second look on its line, as confirmBalance does for the first reading)
// gives it, and it either equals the first reading or two tries give it.
// Anything else leaves `reading` as it was. The index of the try taken (the
// best scoring of those that agree), -1 when the balance stays as it was.
int rereadBalance(const Model& model, const FramePlanes& planes, const BalanceTry* tries, std::size_t count,
                  const HudReadOptions& options, HudReading& reading);

// The soft digits' second look (see confirmWithSoft) at a balance read but
// uncertain, on the line it was read on. True when it made it certain.
bool confirmBalance(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                    const HudReadOptions& options, HudReading& reading);

// Reads the change left of a balance already in `reading`; leaves the change
// fields untouched when there is none.
void readChange(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                const HudReadOptions& options, HudReading& reading);

} // namespace hud

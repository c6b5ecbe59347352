#pragma once

// What the files of the reward-line reader share, and nothing another reader
// needs: the sizes and thresholds several steps use, the row's ink read on
// other levels than the frame's, and the steps one file hands to another.
// lines.cpp runs the attempts at each row; text-blobs.cpp, glyph-words.cpp,
// line-text.cpp, phrase-shape.cpp, line-figure.cpp, line-xp.cpp and
// row-ink.cpp hold the steps.

#include "hud/cash/lines.h"
#include "hud/cash/money.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace hud::reward {

// Light panels behind dark reward text: brighter than any scene the game
// draws the HUD over, and sized like one word at the HUD scales in use.
constexpr float kPanelLuma = 185.0f;
constexpr int kPanelGrow = 2;
constexpr int kPanelBorder = 2;

// Sizes a text blob can have at all in the capture.
constexpr int kTextMinHeight = 2;
constexpr int kTextMaxHeight = 48;
constexpr int kTextMaxWidth = 70;
constexpr int kTextMinArea = 6;

// A reward figure's thousands are set apart by this much of a line height.
constexpr double kFigureGroupGap = 0.39;

inline bool sameSize(const Plane& p, int w, int h) {
    return p.width == w && p.height == h &&
           p.pixels.size() >= static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

inline std::size_t offset(int x, int y, int w) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
}

// A figure's reading, and whether it passes as a figure by itself.
struct FigureRead {
    bool accepted = false;
    MoneyReading reading;
};

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A column holding less ink than this share of the cap is blank.
constexpr float kXpColumnInk = 0.1f;

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

// A panel's edge row or column is the panel's when this share of it is
// light.
constexpr double kPanelEdgeLight = 0.75;

// Shares of the way from the band's background to its brightest text that
// the local ramp starts and ends at; its mask is the ramp's middle.
constexpr double kLocalRampLow = 0.25;
constexpr double kLocalRampSpan = 0.5;

// A window's background (its median) and brightest text (its 98th
// percentile) on the smoothed plane; x1 and y1 are inclusive.
struct WindowLevels {
    float background = 0.0f;
    float text = 0.0f;
};

// Ink a local ramp overwrote, to be put back.
struct SavedInk {
    int x0 = 0;
    int y0 = 0;
    int width = 0;
    std::vector<float> pixels;
};

// Where the last digit's centre stands left of the figure's right edge, in
// line heights: half a digit's ink, a "1" narrower.
constexpr double kLastDigitCentres[] = {0.3, 0.2, 0.4};

// The figure's window: its widest value with "+$" and a comma.
constexpr double kFigureWindowWidth = 8.0; // in h'

// Ramped this way, the "XP" of an amount whose digits were lost can pass
// for the end of a figure; such readings score below this.
constexpr float kLocalFigureMinScore = 0.75f;

// A window of ink2 rewritten for as long as this lives and put back on
// leaving, so the readings after see the frame's own ink again.
class SwappedInkWindow {
public:
    SwappedInkWindow(const SwappedInkWindow&) = delete;
    SwappedInkWindow& operator=(const SwappedInkWindow&) = delete;

    bool ramped() const { return !saved_.empty(); }

protected:
    explicit SwappedInkWindow(Plane& ink) : ink_(ink) {}
    ~SwappedInkWindow();
    // Keeps the window's pixels before the deriving reader writes them.
    void save(int x0, int y0, int cw, int ch);

    Plane& ink_;
    int x0_ = 0;
    int y0_ = 0;
    int cw_ = 0;
    int ch_ = 0;

private:
    std::vector<float> saved_;
};

// The figure's window in ink2 ramped from its own background to its
// brightest digits: over a bright patch of the world the frame's top-hat
// keeps little of the digits.
class LocalFigureInk : public SwappedInkWindow {
public:
    LocalFigureInk(FramePlanes& planes, const RewardRow& row, double hp, double figureRight);
};

// The words of a line (line-text.cpp).

// Whether the line's text is one of the game's phrases, whole.
bool isWholePhrase(const HudLine& line);

// Phrases told by their shape (phrase-shape.cpp).

// The phrase of the row at `top` by its shape, where the line's figure or
// amount leaves room for it, or anywhere a phrase can end when it has
// neither (failing that, at the blank before the figure's ink); true when
// one phrase fits clearly. Given the letters the row's
// readings gave, a phrase that fits well but not clearly is taken where
// the letters, too, name it and no other. Given `byPanelWidth`, a row
// with neither figure nor amount whose shape leads nowhere takes the word
// its light panel's width tells, and the flag is set.
bool readByShape(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                 HudLine& line, const std::vector<std::string>* letters = nullptr,
                 bool* byPanelWidth = nullptr);

// A line whose words read as part of a phrase, or as a phrase with words
// left over that snapped to nothing ("KILL GONHRMMI"): the phrases holding
// the words read compete by shape at the place the figure leaves for them.
void settlePhraseByShape(const Model& model, const FramePlanes& planes, double hp, double figureRight,
                         HudLine& line);

// The cash figure of a line (line-figure.cpp).

// A figure read from a digit short of its end ("+$621" read from its "2" as
// +$62) passes every test of its own characters; the ink of the digit left
// out, standing clear right of the last one read, gives it away. It is read
// again from that digit, and is no figure when that fails: a wrong amount is
// worse than none. Nor is an amount of nothing or one with a leading zero,
// a last "1" read on a stroke of a wider digit, or a reading with a close
// call that, read again from a little either side, gives another value.
FigureRead readFigure(const Model& model, const FramePlanes& planes, const RewardRow& row, double startX,
                      float minLineConfidence, float minMargin, bool settleTies = false);

// Makes the reading the line's figure.
void takeFigure(const MoneyReading& r, HudLine& line);

// The figure spelled by the glyphs of words[first..] (figureFromLetterS)
// made the line's, unless the figure templates, reading the same figure
// as `templates` at least `minScore` sure of each character, found another
// number of digits: the glyphs lose a digit where two fuse ("+$70145"
// spelled $7015), and a figure short of a digit is worse than none.
bool takeSpelledFigure(const std::vector<GlyphWord>& words, std::size_t first, const MoneyReading& templates,
                       float minScore, HudLine& line);

// Whether ink right of a figure's last digit, centred at `lastX`, is a digit
// the reading left out: past the blank that ends the last digit, a run of
// dark columns wide enough for a digit. `centre` is that run's middle.
// `last` is the digit read there, when known.
bool digitInkRightOf(const FramePlanes& planes, const RewardRow& row, double lastX, double& centre,
                     char last = '0');

// Whether the glyphs a figure was read from end in the letters "XP": the
// figure templates know no letters, and an experience amount's digits and
// letters can pass for a figure's "$" and digits. Such a figure is none.
// Asked by the later attempts at a figure, and by the first ones only for
// figures short of sure: the glyph batch it takes would cost every clean
// frame its time.
bool figureEndsInXp(const Model& model, const FramePlanes& planes, const RewardRow& row,
                    const std::vector<Blob>& rowBlobs, const MoneyReading& r);

// Whether the glyph reader, with templates of its own, spells the digits of
// a figure reading whose scores were high but whose close call between two
// digits the pair classifier left open: the glyphs right of the figure's
// "$", each clearly a digit, must be exactly the figure's digits.
bool glyphsConfirmFigure(const std::vector<GlyphWord>& words, std::size_t first, const MoneyReading& r,
                         double lh);

// A line holding only the figure of `line`: what a later attempt at its
// words starts from.
HudLine withFigureOf(const HudLine& line);

// Attempt at a figure that did not read at all: read on the figure's own
// window levels.
void readFigureOnLocalInk(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                          double figureRight, float minLineConfidence, float minMargin, HudLine& line,
                          float minScore = kLocalFigureMinScore);

// Last attempt at a figure every other attempt left unread: read on each
// column's own background (a figure across a pale patch's edge has no one
// level that serves both sides); two places must read it whole and no sure
// reading may disagree. It comes after the attempts that read the frame's
// own ink, so it never overrides one of them.
void readFigureOnStrokes(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line,
                         float minScore = kLocalFigureMinScore);

// A figure left unread because a digit of it tied with its runner-up: read
// again from every place its last digit may be centred on, the tie left to
// the settling classifiers; taken when at least two places read it whole and
// every place that does gives one value.
void readSettledFigure(const Model& model, const FramePlanes& planes, const RewardRow& row,
                       double figureRight, float minLineConfidence, float minMargin, HudLine& line);

// A figure every reading of which was a close call: read from each place
// its last digit may be centred on, on the frame's ink and again on the
// window's own levels, and taken only when both inks read it, at least
// three readings sure enough of their characters give one value and none
// another, one of them clears every character by some margin or every
// tie left in them has the tie-breakers leaning for it, and its glyphs do
// not end in an amount's "XP". One ink alone agrees with itself on a
// misread as readily as on the figure, and a close call can fall the same
// way on both.
void readAgreedFigure(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                      double figureRight, float minLineConfidence, HudLine& line);

// The experience amount of a line (line-xp.cpp).

// The letters "XP" of an amount at the two advances that end at `right`,
// told apart from a figure's last digits without the row's blobs: at small
// sizes the two letters fuse into one blob, or into one with the digit
// before them, and the blob reading never sees them. Each advance's inked
// columns, cut from its neighbour at the faintest column near their border,
// are read with the glyph templates; both must read better as their letter
// than as any digit.
bool xpLettersEndAt(const Model& model, const FramePlanes& planes, const RewardRow& row, double right);

// An experience amount ("25XP") is never the cash figure, however much its
// digits make it look like one: the line's text reading takes it.
bool endsInXp(const GlyphWord& word);

// The experience amount is set in the figures' font: a digit of it that
// the glyph templates found a close call is decided again by the figure
// templates and their pair tie-breakers, and changed only when those are
// sure of it.
void settleXpDigits(const Model& model, const FramePlanes& planes, const RewardRow& row,
                    std::vector<GlyphWord>& words, float minLineConfidence, float minMargin);

// Leading digits of an experience amount whose blobs the mask lost: the
// amount is set right to left on the figures' advances, and one advance
// left of its first digit read lies the blank before the phrase unless a
// digit stands there. Each such place where the figure templates are sure
// of a digit adds it, up to the amount's five digits.
void findLostXpDigits(const Model& model, const FramePlanes& planes, const RewardRow& row,
                      const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                      float minMargin, HudLine& line);

// An amount the glyph words spelled, read again with the figure templates
// leftwards from its "X": where that reading is sure of other digits, one
// of the two took a digit for another ("838" read as 808, "182" as 162),
// and neither is taken: the later attempts at the line may still read the
// amount, each with its own checks.
void dropContestedXp(const Model& model, const FramePlanes& planes, const RewardRow& row,
                     const std::vector<GlyphWord>& words, std::size_t count, float minLineConfidence,
                     float minMargin, HudLine& line);

// An experience amount the first readings missed although the phrase read:
// its "XP" ends where a figure would, and its digits stand left of it. The
// amount is read on the row's ink and again on the window's own levels, and
// taken only when both readings are sure and agree: a wrong amount is worse
// than none. The letters are sought on the ink first; only where they do
// not read is the amount read from the place the frame's measures give,
// which, where they do, lies off theirs.
void readXpAtFigurePlace(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line);

// An amount whose "X" and "P" the glyph reader found although its digits
// did not read: the digits are read leftwards from the "X" where it stands.
void readXpLeftOfLetters(const Model& model, FramePlanes& planes, const RewardRow& row, double hp,
                         double figureRight, float minLineConfidence, float minMargin, HudLine& line);

// A row's ink on its own levels, and its blobs labelled again (row-ink.cpp).

// Whether the mask holds a run of text-height ink in the row, left of the
// figure, that was too wide to pass as a text blob: at the font's own
// letter spacing a whole word can fuse into one component, and the first
// reading then lacks it.
bool lostWideRun(const FramePlanes& planes, const RewardRow& row, double limit);

// The text-height blobs of a row's crop (cw x ch, placed at x0, y0 in the
// frame), in frame coordinates and left to right.
std::vector<Blob> rowTextBlobs(const std::vector<std::uint8_t>& crop, int cw, int ch, int x0, int y0,
                               const RewardRow& row);

// The row's glyph blobs labelled afresh from ink2 inside the row's band,
// with no limit on width (runs are cut by the glyph splitter) and the lower
// ink threshold. Dark text on panels is in ink2 already; there the luma
// test does not apply.
std::vector<Blob> retryBlobs(const FramePlanes& planes, const RewardRow& row, double hp, double limit);

// Whether (x, y) lies on one of the frame's light panels.
bool onPanel(const FramePlanes& planes, int x, int y);

// The levels of the smoothed plane's window x0..x1, y0..y1 (inclusive).
WindowLevels windowLevels(const Plane& smooth, int x0, int y0, int x1, int y1);

// A light panel behind rows top..bottom, between xMin and xMax, that the
// frame's panel search missed because bright scene joined it.
bool findRowPanel(const FramePlanes& planes, int top, int bottom, int lh, int xMin, int xMax, Blob& panel);

// Whether a row's light panel was measured whole: on the padding rows above
// and below the row's text, the scene beyond each of its ends, within half
// a line height, stands clearly darker than the panel. A panel measured in
// part goes on light past an end.
bool panelStandsWhole(const FramePlanes& planes, const Blob& panel, int top, int bottom, int lh);

// Re-ramps ink2 over every panel that overlaps rows top..bottom and returns
// what it overwrote, for restoreInk.
std::vector<SavedInk> rampPanelsLocally(FramePlanes& planes, const std::vector<Blob>& panels, int top,
                                        int bottom);

// Puts back what rampPanelsLocally overwrote.
void restoreInk(FramePlanes& planes, const std::vector<SavedInk>& saved);

// The run of ink a phrase ending near `right` makes on the row at `top`:
// its first and last inked columns, on the window's own levels, and how
// many words its blanks part it into. Soft text loses its letters long
// before its extent and its word spaces.
// A phrase's row between two columns, each pixel as a share of the way from
// the window's background to its brightest text, or a light panel's own ink
// where one stands. False from open() when the window is too small or shows
// less contrast than `minContrast`.
class PhraseRowInk {
public:
    bool open(const FramePlanes& planes, int top, double hp, int x0, int x1, float minContrast);
    float at(int x, int y) const {
        const std::size_t i = offset(x, y, planes_->smooth.width);
        const bool panelInk = planes_->ink2.pixels[i] != planes_->ink.pixels[i] || onPanel(*planes_, x, y);
        return panelInk ? planes_->ink2.pixels[i]
                        : std::min(std::max((planes_->smooth.pixels[i] - background_) / span_, 0.0f), 1.0f);
    }
    int x0 = 0;
    int x1 = 0;
    int y0 = 0;
    int y1 = 0;

private:
    const FramePlanes* planes_ = nullptr;
    float background_ = 0.0f;
    float span_ = 1.0f;
};

struct PhraseInk {
    int left = 0;
    int right = 0;
    int words = 0;
};
bool measurePhraseInk(const FramePlanes& planes, int top, double hp, double right, PhraseInk& ink);

// The phrase of a row with neither figure nor amount read whose shape
// fits too softly to lead clearly: the phrase whose shape leads, or the
// one the row's letters named whole (`line`'s), taken when the run of ink
// it is fitted to starts and ends where it does, parts into as many words,
// and no other phrase's fit spans ink as long. One-word phrases, alike
// blocks of capitals often on a panel, are not taken so.
bool phraseByInk(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                 HudLine& line);

// Ink of the smoothed plane's window x0, y0 (cw x ch) measured against the
// text's own local contrast rather than one level: each column's height
// above the median background around it, ramped on the strongest stroke of
// the rows rowTop..rowBottom within `reach` columns. White text over a pale
// patch of the world keeps only a fraction of the frame's contrast, blurred
// and compressed less still, and no single level serves it and the text over
// the dark scene beside it. Columns with no stroke stronger than noise
// within reach get no ink. `ink` receives cw x ch values in 0..1.
void inkOnLocalPeaks(const Plane& smooth, int x0, int y0, int cw, int ch, int rowTop, int rowBottom,
                     int reach, std::vector<float>& ink);

} // namespace hud::reward

#include "hud/cash/lines-internal.h"

#include "hud/cash/money.h"
#include "hud/cash/vocab.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// Phrases told by their shape: each phrase drawn at the row's cap and
// fitted to the row's ink, for text too small or soft to read letter by
// letter.

namespace hud::reward {

namespace {

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

// Last attempt at the words of a line that read as no phrase at all: text
// too small or soft for its letters to be told apart still shows its
// phrase's shape. Taken only when one phrase fits clearly and no other
// comes near.
constexpr double kShapeMinScore = 0.6;
constexpr double kShapeMinLead = 0.08;
constexpr double kShapeMinWordLead = 0.15;
// A phrase the row's letters name, too, may fit a little less well.
constexpr double kShapeLettersMinScore = 0.55;
// Ending where the figure or amount read puts it, a phrase whose shape
// leads every other by this much is the row's though soft text fits it
// less well.
constexpr double kShapeFarMinScore = 0.5;
constexpr double kShapeFarLead = 0.25;
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

// Letters read at a row, however garbled, still tell phrases apart where
// their shapes come close. A reading names the phrase nearest to it when
// that leads every other phrase by a letter's full edit and lies within
// three half steps of it for every two of its letters (soft text misreads
// most letters as a look-alike); a reading of fewer letters than this names
// none. The readings of a row must not name two phrases.
constexpr std::size_t kLettersMinCount = 4;
constexpr int kLettersMinLead = 2; // in half steps

// The phrase the letters name; null when they name none or disagree.
const std::string* phraseOfLetters(const std::vector<std::string>& letters) {
    const std::string* agreed = nullptr;
    std::string compact;
    std::string phraseCompact;
    auto withoutBlanks = [](const std::string& text, std::string& out) {
        out.clear();
        std::copy_if(text.begin(), text.end(), std::back_inserter(out), [](char c) { return c != ' '; });
    };
    for (const std::string& l : letters) {
        withoutBlanks(l, compact);
        if (compact.size() < kLettersMinCount)
            continue;
        const std::string* named = nullptr;
        std::size_t namedLength = 0;
        int best = std::numeric_limits<int>::max();
        int runnerUp = std::numeric_limits<int>::max();
        for (const std::string& p : eventPhrases()) {
            withoutBlanks(p, phraseCompact);
            const int d = editDistance(compact, phraseCompact);
            if (d < best) {
                runnerUp = best;
                best = d;
                named = &p;
                namedLength = phraseCompact.size();
            } else if (d < runnerUp) {
                runnerUp = d;
            }
        }
        if (named == nullptr || runnerUp - best < kLettersMinLead ||
            2 * best > 3 * static_cast<int>(namedLength))
            continue;
        if (agreed != nullptr && agreed != named)
            return nullptr;
        agreed = named;
    }
    return agreed;
}

// A phrase drawn on a light panel stands inside it with the panel's
// padding either side, 0.3 to 0.5 of a cap; a fit off by a little more
// than a letter's softened edge still is the panel's word. A one-word
// phrase fitted over part of a longer panel word ("HEADSHOT" fitted as
// ASSIST) leaves a wide stretch of the panel on one side, or runs past
// its edge.
constexpr double kPanelFitLeast = -0.3; // in caps, from the panel's edge
constexpr double kPanelFitMost = 0.9;

// Whether a fit over a light panel of the frame sits in it as its word.
bool fitsItsPanel(const FramePlanes& planes, int top, double hp, const PhraseFit& fit) {
    for (const Blob& p : planes.panels) {
        if (p.y0 > top + hp || p.y1 < top || p.x0 > fit.right || p.x1 < fit.left)
            continue;
        const double left = (fit.left - p.x0) / hp;
        const double right = (p.x1 - fit.right) / hp;
        if (left < kPanelFitLeast || left > kPanelFitMost || right < kPanelFitLeast || right > kPanelFitMost)
            return false;
    }
    return true;
}

// How sure a place the phrase must end at is: where the figure or amount
// read puts it, only where a phrase can end, or at a blank taken for the
// one before the figure. Soft digits can leave a blank that wide inside a
// figure ("700XP" at 720 lines, its zeros hollow): a one-word phrase
// pinned there must lead every other phrase as it must lead another
// one-word phrase.
enum class PhraseEnd { Known, Free, Pinned };

// The phrase whose shape fits the row at `top` ending between lo and hi,
// when it fits clearly and no other comes near, or, ending where the figure
// or amount puts it, leads every other far; or, given the letters read at
// the row, when it fits well and leads the rest, and the letters name it.
bool fitClearPhrase(const Model& model, const FramePlanes& planes, int top, double hp, double lo, double hi,
                    HudLine& line, const std::vector<std::string>* letters = nullptr,
                    PhraseEnd end = PhraseEnd::Known) {
    const PhraseFit fit = fitPhraseShape(model, planes, top, hp, lo, hi, {}, true);
    const bool farAhead = end == PhraseEnd::Known && fit.score >= kShapeFarMinScore &&
                          fit.score - fit.runnerUp >= kShapeFarLead;
    if (fit.phrase == nullptr || (fit.score < kShapeLettersMinScore && !farAhead) ||
        !fitsItsPanel(planes, top, hp, fit))
        return false;
    // The one-word phrases are short blocks of alike capitals, on a panel
    // most often: between two of them the shape must lead by more.
    const bool oneWord = fit.phrase->text.find(' ') == std::string::npos;
    const bool wordLead = fit.second != nullptr && oneWord &&
                          (end == PhraseEnd::Pinned || fit.second->text.find(' ') == std::string::npos);
    const bool clear =
        farAhead || (fit.score >= kShapeMinScore &&
                     fit.score - fit.runnerUp >= (wordLead ? kShapeMinWordLead : kShapeMinLead));
    if (!clear) {
        const std::string* named = letters != nullptr ? phraseOfLetters(*letters) : nullptr;
        if (named == nullptr || *named != fit.phrase->text)
            return false;
    }
    line.text = fit.phrase->text;
    line.known = true;
    return true;
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

// Without a figure or amount read, the phrase's end still shows as the
// blank before them: a cap wide where the blanks between words take under
// half of one. The nearest such blank left of where the shortest figure
// starts pins the phrase's end, which a free search over the whole reach
// leaves to shift by a letter: there the zone phrases come too close.
constexpr double kEndGapMin = 0.8;       // in caps
constexpr double kEndGapSlack = 0.4;     // in caps, either side of the pinned end
constexpr double kEndGapFigureMin = 1.5; // the shortest figure's ink, in caps

bool phraseEndByGap(const FramePlanes& planes, int top, double hp, double figureRight, double& right) {
    RewardRow row;
    row.top = top;
    row.bottom = top + static_cast<int>(std::lround(hp)) - 1;
    const RowColumns columns(planes.ink2, row);
    if (!columns.usable())
        return false;
    const int lo = std::max(0, static_cast<int>(std::floor(figureRight - kShapeRightFar * hp)));
    const int from =
        std::min(columns.width() - 1, static_cast<int>(std::lround(figureRight - kEndGapFigureMin * hp)));
    const int minRun = static_cast<int>(std::ceil(kEndGapMin * hp));
    int run = 0;
    for (int x = from; x >= lo; --x) {
        if (columns.at(x) >= columns.inked()) {
            if (run >= minRun && x + 1 <= figureRight - kShapeRightNear * hp + kEndGapSlack * hp) {
                right = x + 1;
                return true;
            }
            run = 0;
            continue;
        }
        ++run;
    }
    return false;
}

// How far the letters read of a word are from the start of `word`, in half
// steps: letters lost at a word's end cost nothing.
int distanceToStart(std::string_view read, std::string_view word) {
    int best = std::numeric_limits<int>::max();
    for (std::size_t k = 0; k <= word.size(); ++k)
        best = std::min(best, editDistance(read, word.substr(0, k)));
    return best;
}

// Whether the first word of a phrase chosen among `candidates`, which
// differ in their first word alone, rests on nothing the letters show:
// the first word read is the phrase's second (the first one was lost), or
// the letters read of it start another candidate's first word more nearly.
bool firstWordDoubtful(const std::vector<std::string_view>& rawWords,
                       const std::vector<std::string_view>& textWords,
                       const std::vector<std::string_view>& candidates) {
    if (rawWords.empty() || textWords.size() < 2)
        return false;
    if (rawWords.size() < textWords.size()) {
        const WordSnap snap = snapWord(rawWords.front());
        if (snap.snapped && snap.word == textWords[1])
            return true;
    }
    const int chosen = distanceToStart(rawWords.front(), textWords.front());
    for (std::string_view c : candidates) {
        const std::string_view first = c.substr(0, std::min(c.find(' '), c.size()));
        if (first != textWords.front() && distanceToStart(rawWords.front(), first) < chosen)
            return true;
    }
    return false;
}

// Where a phrase ending at `right` starts on the row's ink: the left end of
// the run of inked columns, blanks no wider than a word's space between
// them, that reaches `right`. Soft text loses its letters' detail long
// before their extent; this measure is what tells a phrase from one a
// letter or two longer whose shape fits as well.
constexpr double kInkColumnShare = 0.15;
constexpr double kInkRunGap = 0.9;     // in caps: wider than a word's space
constexpr double kInkReach = 24.0;     // in caps: longer than the longest phrase
constexpr double kInkStartSlack = 0.3; // in caps, right of `right`: short of the figure

bool phraseInkLeft(const FramePlanes& planes, int top, double hp, double right, int& left) {
    PhraseRowInk row;
    if (!row.open(planes, top, hp, static_cast<int>(std::floor(right - kInkReach * hp)),
                  static_cast<int>(std::lround(right + kInkStartSlack * hp)), kShapeMinContrast))
        return false;
    const int x0 = row.x0;
    const int x1 = row.x1;
    auto columnInk = [&](int x) {
        float sum = 0.0f;
        for (int y = row.y0; y <= row.y1; ++y)
            sum += row.at(x, y);
        return sum / static_cast<float>(row.y1 - row.y0 + 1);
    };
    const int maxGap = static_cast<int>(std::ceil(kInkRunGap * hp));
    int last = -1;
    int gap = 0;
    for (int x = x1; x >= x0; --x) {
        if (columnInk(x) >= kInkColumnShare) {
            last = x;
            gap = 0;
        } else if (last >= 0 && ++gap > maxGap) {
            break;
        }
    }
    if (last < 0 || last <= x0)
        return false;
    left = last;
    return true;
}

// With the figure or amount read, the phrase's right end is known, and the
// run of ink that reaches it tells how long the phrase is. Soft text whose
// shape comes close between phrases of different lengths still shows that:
// the phrase whose shape leads among those as long as the ink is taken
// when it fits well and leads them by a margin. A light panel's ink is its
// own word's measure and is left to the panel's fit.
constexpr double kLengthSlack = 0.5; // in caps, the phrase's left from the ink's
constexpr double kLengthMinScore = 0.6;
constexpr double kLengthMinLead = 0.04;

// The ink runs on past a phrase's start by a word when it starts this far
// left of it: a short word and its space.
constexpr double kInkLongerBy = 1.0; // in caps

// Phrases that differ in their first word alone ("HOT ZONE PRESENCE",
// "CONTROL ZONE PRESENCE") differ most in length, which soft text keeps
// when its letters are gone: with the phrase's end known, the run of ink
// reaching it starts where one of them starts and a word's length away
// from where the others do.
const PhraseFit* fitOfInkLength(const std::vector<PhraseFit>& each, int inkLeft, double hp) {
    const PhraseFit* matched = nullptr;
    for (const PhraseFit& e : each) {
        const double off = std::abs(e.left - inkLeft) / hp;
        if (off <= kLengthSlack) {
            if (matched != nullptr)
                return nullptr;
            matched = &e;
        } else if (off <= 2.0 * kLengthSlack) {
            return nullptr;
        }
    }
    return matched;
}

bool onAnyPanel(const FramePlanes& planes, int top, double hp, int left, int right) {
    return std::any_of(planes.panels.begin(), planes.panels.end(), [&](const Blob& p) {
        return !(p.y0 > top + hp || p.y1 < top || p.x0 > right || p.x1 < left);
    });
}

bool fitByInkLength(const Model& model, const FramePlanes& planes, int top, double hp, double lo, double hi,
                    HudLine& line) {
    std::vector<PhraseFit> each;
    const PhraseFit fit = fitPhraseShape(model, planes, top, hp, lo, hi, {}, true, &each);
    int inkLeft = 0;
    if (fit.phrase == nullptr || onAnyPanel(planes, top, hp, fit.left, fit.right) ||
        !phraseInkLeft(planes, top, hp, fit.right, inkLeft))
        return false;
    const PhraseFit* best = nullptr;
    double runnerUp = -1.0;
    for (const PhraseFit& e : each) {
        if (std::abs(e.left - inkLeft) > kLengthSlack * hp)
            continue;
        if (best == nullptr || e.score > best->score) {
            if (best != nullptr)
                runnerUp = std::max(runnerUp, best->score);
            best = &e;
        } else {
            runnerUp = std::max(runnerUp, e.score);
        }
    }
    // A one-word phrase may stand on a panel the frame's search missed,
    // whose light this measure takes for letters: it is left to the panel.
    if (best == nullptr || best->phrase->text.find(' ') == std::string::npos ||
        best->score < kLengthMinScore || best->score - runnerUp < kLengthMinLead)
        return false;
    line.text = best->phrase->text;
    line.known = true;
    return true;
}

// Only the one-word phrases are drawn on a light panel, padded by about a
// third of a cap either side: a row's panel measures its word, and the
// words differ in length by a letter or more where their soft shapes come
// close. The word is the one whose drawn width the panel's inside matches
// within this share, no other within twice that.
constexpr std::string_view kPanelWords[] = {"KILL", "HEADSHOT", "ASSIST"};
constexpr double kPanelPadding = 0.35; // in caps, either side
constexpr double kPanelWidthSlack = 0.12;
constexpr double kPanelWordMinScore = 0.4;

// Without a sure figure to vouch for the row, the panel's width is taken
// only from a panel measured whole, and only where its height, a cap and
// its padding above and below, agrees with the cap the words are measured
// in: under a money line measured short, one word's panel has another's
// width. Soft text on a panel measured so fits its own word's shape too
// faintly for the usual floor, but must still show some of it.
constexpr double kLonePanelMinHeight = 1.4; // in caps
constexpr double kLonePanelMaxHeight = 2.2;
constexpr double kLonePanelWordMinScore = 0.2;

// Panels of other looks are padded by up to half a cap, and their words
// set up to a tenth of a cap wider apart: the panel's height, a cap and
// its padding above and below, tells the padding to take off its width,
// and what is left lies between the word's width at the font's spacing and
// at the widest.
constexpr double kPanelTrackingMost = 0.1; // in caps, between letters

// The panel word whose width lies nearest what the panel leaves, and how
// near the next comes.
struct PanelWordChoice {
    std::string_view word;
    double nearest = std::numeric_limits<double>::infinity();
    double next = std::numeric_limits<double>::infinity();

    void rank(std::string_view w, double off) {
        if (off < nearest) {
            next = nearest;
            nearest = off;
            word = w;
        } else {
            next = std::min(next, off);
        }
    }
    bool clear() const {
        return !word.empty() && nearest <= kPanelWidthSlack && next >= 2.0 * kPanelWidthSlack;
    }
};

bool fitPanelWord(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                  HudLine& line, bool alone = false) {
    const PhraseShapes& shapes = model.phraseShapes;
    const int lh = static_cast<int>(std::lround(hp));
    const double xMin = planes.ink2.width - 32.0 * hp;
    const Blob* panel = nullptr;
    for (const Blob& p : planes.panels)
        if (p.y0 <= top + 0.5 * hp && p.y1 >= top + 0.5 * hp && p.x0 >= xMin && p.x1 < figureRight &&
            (panel == nullptr || p.x1 > panel->x1))
            panel = &p;
    Blob found;
    if (panel == nullptr && findRowPanel(planes, top, top + lh - 1, lh, static_cast<int>(std::ceil(xMin)),
                                         static_cast<int>(figureRight - 1.5 * hp), found))
        panel = &found;
    if (panel == nullptr || shapes.columnsPerCap == 0)
        return false;
    const double width = panel->x1 - panel->x0 + 1;
    const double height = panel->height();
    const bool heightFits = height >= kLonePanelMinHeight * hp && height <= kLonePanelMaxHeight * hp;
    const double inside = width - 2.0 * kPanelPadding * hp;
    const double insideByHeight = width - (height - hp);
    PanelWordChoice byPadding;
    PanelWordChoice byHeight;
    for (std::string_view word : kPanelWords) {
        const auto it = std::find_if(shapes.phrases.begin(), shapes.phrases.end(),
                                     [word](const PhraseShape& p) { return p.text == word; });
        if (it == shapes.phrases.end())
            continue;
        const ShapeImage img = renderShape(shapes, *it, hp, 0.0);
        if (img.columns <= 0)
            continue;
        byPadding.rank(word, std::abs(inside / img.columns - 1.0));
        const double tight = img.columns;
        const double loose = renderShape(shapes, *it, hp, kPanelTrackingMost).columns;
        byHeight.rank(word, insideByHeight < tight   ? (tight - insideByHeight) / tight
                            : insideByHeight > loose ? (insideByHeight - loose) / loose
                                                     : 0.0);
    }
    // The look's own padding first; only where that tells no word, the
    // padding the panel's height shows.
    std::string_view chosen = byPadding.clear() ? byPadding.word : std::string_view{};
    if (chosen.empty() && heightFits && byHeight.clear())
        chosen = byHeight.word;
    if (chosen.empty())
        return false;
    const bool measured = heightFits && panelStandsWhole(planes, *panel, top, top + lh - 1, lh);
    if (alone && !measured)
        return false;
    const PhraseFit fit =
        fitPhraseShape(model, planes, top, hp, panel->x1 - 2.0 * kPanelPadding * hp, panel->x1, {chosen});
    if (fit.phrase == nullptr || fit.score < (measured ? kLonePanelWordMinScore : kPanelWordMinScore))
        return false;
    line.text = std::string(chosen);
    line.known = true;
    return true;
}

} // namespace

bool readByShape(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                 HudLine& line, const std::vector<std::string>* letters, bool* byPanelWidth) {
    double expected = 0.0;
    if (!expectedPhraseRight(line, figureRight, hp, expected)) {
        if (fitClearPhrase(model, planes, top, hp, figureRight - kShapeRightFar * hp,
                           figureRight - kShapeRightNear * hp, line, letters, PhraseEnd::Free))
            return true;
        double pinned = 0.0;
        if (phraseEndByGap(planes, top, hp, figureRight, pinned) &&
            fitClearPhrase(model, planes, top, hp, pinned - kEndGapSlack * hp, pinned + kEndGapSlack * hp,
                           line, letters, PhraseEnd::Pinned))
            return true;
        // No phrase's shape leads, and nothing places the phrase's end: a
        // light panel measured whole still tells its word by its width.
        if (byPanelWidth == nullptr || !fitPanelWord(model, planes, top, hp, figureRight, line, true))
            return false;
        *byPanelWidth = true;
        return true;
    }
    // Where the figure's place was measured a little off, the phrase ends
    // further right; searched there only when the place itself shows no
    // clear phrase, as a shorter phrase shifted right can come near a short
    // panel word's own fit.
    if (fitClearPhrase(model, planes, top, hp, expected - kShapeFigureSlack * hp,
                       expected + kShapeFigureSlack * hp, line, letters) ||
        fitClearPhrase(model, planes, top, hp, expected - kShapeFigureSlack * hp,
                       expected + kShapeFigureSlackRight * hp, line, letters))
        return true;
    // Neither fits clearly: a panel's width, or the length of the row's
    // ink, still tells the phrases apart that the shapes of soft text leave
    // close, where the amount that places the phrase's end is sure. A
    // figure that came down to a close call is not; nor is an amount, whose
    // digits the glyph templates spelled: a phrase given to its row would
    // carry an amount nothing else backs ("322XP" read as 372XP).
    if (!line.hasFigure || !(line.figureMargin > 0.0f))
        return false;
    return fitPanelWord(model, planes, top, hp, figureRight, line) ||
           fitByInkLength(model, planes, top, hp, expected - kShapeFigureSlack * hp,
                          expected + kShapeFigureSlackRight * hp, line);
}

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
    bool firstWordChoice = false;
    if (misreadFirst) {
        for (const std::string& p : eventPhrases()) {
            const std::vector<std::string_view> words = wordsOf(p);
            if (words.size() == textWords.size() &&
                std::equal(words.begin() + 1, words.end(), textWords.begin() + 1))
                candidates.push_back(p);
        }
        firstWordChoice = candidates.size() >= 2;
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
    std::vector<PhraseFit> each;
    const PhraseFit fit = fitPhraseShape(model, planes, line.top, hp, lo, hi, candidates, true, &each);
    if (fit.phrase == nullptr || fit.score < kChoiceMinScore ||
        (candidates.size() > 1 &&
         fit.score - fit.runnerUp < (misreadWord ? kShapeMinWordLead : kChoiceMinLead))) {
        // Where the shapes of the first words come close, the ink's length
        // may still tell them apart: it is taken for the phrase whose shape
        // leads, and only where that fits well enough.
        int inkLeft = 0;
        const PhraseFit* byLength = firstWordChoice && fit.phrase != nullptr &&
                                            phraseInkLeft(planes, line.top, hp, fit.right, inkLeft)
                                        ? fitOfInkLength(each, inkLeft, hp)
                                        : nullptr;
        if (byLength != nullptr && byLength->phrase == fit.phrase && fit.score >= kShapeLettersMinScore) {
            line.text = fit.phrase->text;
            line.known = true;
            return;
        }
        // The shape cannot tell the first words apart, and the letters
        // chose by the phrase's length alone: its first word lost ("IZNE
        // ENTTRTD"), or the letters read of it begin another phrase's ("CO
        // ZCNE PRESENCE" snapped to HOT ZONE PRESENCE). A wrong phrase is
        // worse than none.
        if (firstWordChoice && firstWordDoubtful(rawWords, textWords, candidates)) {
            line.text.clear();
            line.known = false;
        }
        // The letters' phrase whose shape leads no other clearly, where the
        // letters read a word before its own last one and the run of ink
        // that ends with it starts a word's length left of it, is what the
        // letters kept of a longer phrase ("LJYER ASSIS" read as ASSIST):
        // the one phrase the ink's length names, where it fits fairly, or
        // none. A word read after the phrase is the amount's, garbled; a
        // light panel's ink is its own word's measure.
        if (whole && !firstWordChoice && rawWords.size() > textWords.size() &&
            snapWord(rawWords.back()).word == textWords.back()) {
            const auto own = std::find_if(each.begin(), each.end(),
                                          [&](const PhraseFit& e) { return e.phrase->text == line.text; });
            int runLeft = 0;
            if (own != each.end() && !onAnyPanel(planes, line.top, hp, own->left, own->right) &&
                phraseInkLeft(planes, line.top, hp, own->right, runLeft) &&
                (own->left - runLeft) / hp > kInkLongerBy) {
                const PhraseFit* named = fitOfInkLength(each, runLeft, hp);
                if (named != nullptr && named->score >= kShapeFarMinScore) {
                    line.text = named->phrase->text;
                    line.known = true;
                } else {
                    line.text.clear();
                    line.known = false;
                }
                return;
            }
        }
        // Words that stand within the game's phrases, none of which the
        // shape makes out, are a phrase short of the words the letters lost
        // ("HOT ZONE" for HOT ZONE ENTERED), not one of their own.
        if (!whole) {
            line.text.clear();
            line.known = false;
        }
        return;
    }
    // A word the letters lost, not fused into its neighbour, leaves the
    // shape alone to choose the first word; where the run of ink that ends
    // at the phrase starts a word's length left of the phrase chosen, the
    // painted phrase is a longer one.
    int inkLeft = 0;
    if (firstWordChoice && rawWords.size() >= 2 && rawWords.size() < textWords.size() &&
        phraseInkLeft(planes, line.top, hp, fit.right, inkLeft) && (fit.left - inkLeft) / hp > kInkLongerBy) {
        line.text.clear();
        line.known = false;
        return;
    }
    line.text = fit.phrase->text;
    line.known = true;
}

} // namespace hud::reward

namespace hud {

using namespace reward;

PhraseFit fitPhraseShape(const Model& model, const FramePlanes& planes, int top, double cap, double rightLo,
                         double rightHi, const std::vector<std::string_view>& only, bool commonWindow,
                         std::vector<PhraseFit>* each) {
    PhraseFit fit;
    if (each != nullptr)
        each->clear();
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
        if (each != nullptr && bestOf[k] > -2.0) {
            PhraseFit one;
            one.phrase = &shapes.phrases[k];
            one.score = bestOf[k];
            one.left = placeOf[k].first;
            one.right = placeOf[k].second;
            each->push_back(one);
        }
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

} // namespace hud

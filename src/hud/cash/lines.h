#pragma once

// The reward lines under the cash balance: "KILL CONFIRMED  +$250",
// "HEADSHOT  25XP" and the like. Each line is found as a row of text blobs,
// its cash figure is read with the figure templates, its words with the glyph
// templates, and the words are snapped to the game's vocabulary.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hud/core/image.h"
#include "hud/core/model.h"

namespace hud {

// One recognised glyph, scored both as a letter and as a digit: the caller
// decides later which reading the glyph's word calls for.
struct GlyphRead {
    Blob box;
    char letter = '?';
    float letterScore = kNoScore;
    float letterSecond = kNoScore;
    char digit = '?';
    float digitScore = kNoScore;
    float digitSecond = kNoScore;
};

using GlyphWord = std::vector<GlyphRead>;

struct HudLine {
    std::string text; // reason after snapping to the vocabulary (may be empty)
    std::string raw;  // letters as read, words joined by single blanks
    bool known = false;
    bool hasFigure = false;
    std::int64_t figure = 0; // no sign
    float figureConfidence = 0.0f;
    float figureMargin = 0.0f;
    double figureX = 0.0; // centre of the figure's last digit, 0 when not known
    bool hasXp = false;
    std::int32_t xp = 0;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// Letters of the reward lines (there is no Q in them), then the digits.
constexpr std::string_view kLineLetters = "ABCDEFGHIJKLMNOPRSTUVWXYZ";
constexpr std::string_view kLineDigits = "0123456789";
constexpr std::string_view kLineCharset = "ABCDEFGHIJKLMNOPRSTUVWXYZ0123456789";

// Fills planes.ink2 and planes.textBlobs once per frame: bright text as in
// `mask`, plus dark text on light panels turned into ink.
void findTextBlobs(FramePlanes& planes);

// Cuts runs of several fused letters (wider than 1.9 line heights) at their
// faintest middle columns, then splits blobs wider than a glyph at their
// faintest column when both halves read clearly better than the whole.
std::vector<Blob> splitFusedGlyphs(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                   double bottom, double lh, const detail::Templates& glyphs,
                                   std::string_view charset);

// Classifies the glyph-sized blobs of a row (in x order) and cuts them into
// words at wide blanks.
std::vector<GlyphWord> readGlyphWords(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                      double bottom, double lh, const detail::Templates& glyphs);

// A word that reads at least three quarters as digits (or as letters that
// are often misread digits).
bool looksNumeric(const GlyphWord& word);

// Reads every reward line below the money line (its bottom and height H) and
// returns them sorted by top. Thresholds as for the balance: a figure counts
// when its weakest character scores at least minLineConfidence and its
// smallest margin is at least minMargin.
std::vector<HudLine> readRewardLines(const Model& model, FramePlanes& planes, double moneyBottom,
                                     double moneyHeight, float minLineConfidence, float minMargin);

// Building blocks of readRewardLines, exposed for tests.

// A reward row: all its blobs in x order and its measured text band.
struct RewardRow {
    std::vector<Blob> blobs;
    std::vector<Blob> textHeight; // blobs of the expected text height
    int top = 0;
    int bottom = 0;
    int lh = 0; // bottom - top + 1
};

// Picks the rows of planes.textBlobs (findTextBlobs must have run) that can
// be reward lines under a money line ending at moneyBottom with height H.
std::vector<RewardRow> selectRewardRows(const std::vector<Blob>& textBlobs, int frameWidth,
                                        double moneyBottom, double moneyHeight);

// The cash figure spelled with glyphs, its "$" read as the letter S: the
// glyphs of words[first..] after the leading S. Sets hasFigure, figure and
// its confidence when the digits are clear and plausible.
bool figureFromLetterS(const std::vector<GlyphWord>& words, size_t first, HudLine& line);

// The reward phrase whose shape (Model::phraseShapes) fits the ink of a
// row best: the row's cap band starting near `top`, its cap near `cap`
// pixels, the phrase's right ink edge between rightLo and rightHi and
// nothing but background from a cap left of it. `phrase` stays null when the
// model has no shapes or the row holds no text contrast; the caller judges
// `score` and `runnerUp` (the best other phrase, `second`) in -1..1. With
// `only` given, just those phrases are tried. With `commonWindow`, every
// phrase is judged over the widest one's window, so that a short phrase
// must also explain the blank where a longer one has letters. With `each`
// given, it receives every phrase tried with its own best fit.
struct PhraseFit {
    const PhraseShape* phrase = nullptr;
    double score = -1.0;
    double runnerUp = -1.0;
    const PhraseShape* second = nullptr;
    int left = 0;
    int right = 0;
};
PhraseFit fitPhraseShape(const Model& model, const FramePlanes& planes, int top, double cap, double rightLo,
                         double rightHi, const std::vector<std::string_view>& only = {},
                         bool commonWindow = false, std::vector<PhraseFit>* each = nullptr);

// The money line the HUD's layout puts where a measured one stands: the
// balance's digits have their middle 2.1 money heights below the capture's
// top. True, with the layout's bottom and height, when the measured line
// comes out clearly shorter (blur took its soft edges off the mask) or
// taller than that, and the layout's height is one a HUD scale can give.
bool moneyBandByLayout(double moneyBottom, double moneyHeight, double& bottom, double& height);

// Takes the experience amount out of words[0..count) (a word "50XP") and
// builds text, raw and known from the remaining words.
void readLineText(const std::vector<GlyphWord>& words, size_t count, HudLine& line);

} // namespace hud

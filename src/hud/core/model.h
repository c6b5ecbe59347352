#pragma once

// The HUD model: character templates and pairwise tie-breakers that the cash
// and reward-line readers correlate sampled cells against.
//
// File format ("hud/model.bin"), little-endian, no padding anywhere:
//
//   "KHUD"  u32 version (= kModelVersion)  u32 sectionCount
//   sectionCount times:  char tag[4]  u32 payloadLength  payload
//
// Template-set payload (tags kTagMoneyCells, kTagFigureCells, kTagGlyphCells):
//   u32 cellLength D (1..kMaxCellLength)  u32 entryCount K (0..kMaxEntries)
//   K times: u8 character  u32 templateCount T (0..kMaxTemplatesPerChar)  T*D f32
//
// Pair-parameter payload (tags kTagMoneyPairs, kTagFigurePairs):
//   u32 weightCount D (1..kMaxCellLength)  u32 pairCount P (0..kMaxPairs)
//   P times: i8 first  i8 second  f32 bias  D*f32 weights
//
// Phrase-shape payload (tag kTagPhraseShapes):
//   u32 bands B (1..kMaxShapeBands)  u32 columnsPerCap C (1..kMaxShapeColumns)
//   u32 letterCount L (0..kMaxEntries)
//   L times: u8 character  u32 columns K (1..kMaxShapeColumns)  K*B f32 (0..1, column by column)
//   u32 phraseCount P (0..kMaxEntries)
//   P times: u32 length N (1..kMaxShapeColumns)  N chars  then one f32 per non-blank char: its
//            ink left within its word at the font's own spacing, in cap heights (0..kMaxShapeColumns)
//
// Settling-pair payload (tags kTagMoneySettlers, kTagFigureSettlers): as the pair parameters.
//
// Soft-digit payload (tags kTagMoneySoft, kTagFigureSoft): a template set of the money cell length.
//
// Figure-glyph payload (tag kTagFigureGlyphs):
//   u32 pixelsPerCap P (1..kMaxGlyphPixelsPerCap)  u32 glyphCount G (0..kMaxEntries)
//   G times: u8 character  f32 inkWidth (0..kMaxGlyphCaps)  f32 originX  f32 originY
//            (-kMaxGlyphCaps..kMaxGlyphCaps)  u32 columns C  u32 rows R (1..kMaxGlyphPixelsPerCap *
//            kMaxGlyphCaps)  C*R f32 coverage (0..1, row by row)
//
// Unknown tags are stepped over, so newer builders can add sections.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hud {

constexpr char kModelMagic[4] = {'K', 'H', 'U', 'D'};
constexpr std::uint32_t kModelVersion = 1;

constexpr char kTagMoneyCells[4] = {'M', 'C', 'E', 'L'};
constexpr char kTagFigureCells[4] = {'F', 'C', 'E', 'L'};
constexpr char kTagGlyphCells[4] = {'G', 'L', 'Y', 'P'};
constexpr char kTagMoneyPairs[4] = {'M', 'P', 'A', 'R'};
constexpr char kTagFigurePairs[4] = {'F', 'P', 'A', 'R'};
constexpr char kTagPhraseShapes[4] = {'P', 'S', 'H', 'P'};
constexpr char kTagMoneySettlers[4] = {'M', 'S', 'E', 'T'};
constexpr char kTagFigureSettlers[4] = {'F', 'S', 'E', 'T'};
constexpr char kTagMoneySoft[4] = {'M', 'S', 'F', 'T'};
constexpr char kTagFigureSoft[4] = {'F', 'S', 'F', 'T'};
constexpr char kTagFigureGlyphs[4] = {'F', 'G', 'L', 'F'};

constexpr std::uint32_t kMaxCellLength = 4096;
constexpr std::uint32_t kMaxEntries = 128;
constexpr std::uint32_t kMaxTemplatesPerChar = 64;
constexpr std::uint32_t kMaxPairs = 4096;
constexpr std::uint32_t kMaxShapeBands = 16;
constexpr std::uint32_t kMaxShapeColumns = 64;
constexpr std::uint32_t kMaxGlyphPixelsPerCap = 256;
constexpr std::uint32_t kMaxGlyphCaps = 4;

// Cell geometry the templates are sampled at (see image.h).
constexpr int kMoneyCellColumns = 20;
constexpr int kMoneyCellRows = 36;
constexpr int kMoneyCellLength = kMoneyCellColumns * kMoneyCellRows; // 720
constexpr int kGlyphCellSide = 32;
constexpr int kGlyphCellLength = kGlyphCellSide * kGlyphCellSide; // 1024

namespace detail {

using Template = std::vector<float>;
using TemplateList = std::vector<Template>;

// The coarse forms of one character's templates (see coarsenCell in
// image.h), which let a search pass over templates that cannot win. They
// stand for the templates only while each is still the very vector they
// were made from (same storage, same size): a copied or rebuilt set has
// new storage, and its searches then do without them.
struct CoarseList {
    const TemplateList* list = nullptr;
    std::vector<const float*> storage; // each template's data() when made
    std::vector<std::size_t> sizes;
    std::vector<float> sums; // the coarse length per template
    std::vector<float> rest; // per template; negative for one too short
    // Money sets only: the 4 x 4 forms (roughenMoneyCoarse in image.h) made
    // from the above, value j of template t at roughByValue[j * roughStride
    // + t] so that one pass bounds every template at once; roughRest holds
    // roughStride lengths, negative for none. Empty for other sets.
    std::vector<float> roughByValue;
    std::vector<float> roughRest;
    std::size_t roughStride = 0;

    bool stillFor(const TemplateList& templates) const;
};

struct Templates;

struct CoarseTemplates {
    const Templates* owner = nullptr; // the set they were made for, not a copy of it
    std::size_t coarseLength = 0;
    std::vector<CoarseList> lists;

    // The forms made for `templates` of `set`, or null when they no longer
    // fit it.
    const CoarseList* find(const Templates& set, const TemplateList* templates) const;
};

struct Templates {
    std::uint32_t cellLength = 0; // 0 while the section never came
    std::map<signed char, TemplateList> byChar;
    // Made when a model file is read; null for sets built in memory.
    std::shared_ptr<const CoarseTemplates> coarse;

    // The character's templates, or null when the model has none for it.
    const TemplateList* find(char c) const {
        auto it = byChar.find(static_cast<signed char>(c));
        return it == byChar.end() ? nullptr : &it->second;
    }
};

} // namespace detail

struct PairParams {
    std::vector<float> weights;
    float bias = 0.0f;
};

// Keyed by (first, second); a positive score speaks for the first.
using PairKey = std::pair<signed char, signed char>;
using PairTable = std::map<PairKey, PairParams>;

// The ink of the reward phrases as the game's font sets them, coarse enough
// to compare with text too small or soft to read letter by letter: each
// letter's ink coverage in B horizontal bands of the cap height, C columns
// per cap height from its ink left; and where each letter of a phrase
// stands in its word.
struct LetterShape {
    std::uint32_t columns = 0;
    std::vector<float> ink; // columns * bands, column by column
};

struct PhraseShape {
    std::string text;
    std::vector<float> letterLeft; // per non-blank character, in caps within its word
};

struct PhraseShapes {
    std::uint32_t bands = 0; // 0 while the section never came
    std::uint32_t columnsPerCap = 0;
    std::map<signed char, LetterShape> letters;
    std::vector<PhraseShape> phrases;
};

// The reward figures' characters as the game's font draws them, for
// typesetting a candidate figure and comparing it with the pixels: each
// glyph's ink coverage at P pixels per cap height, placed by its ink centre
// as the game places it. Image pixel (0, 0) begins at originX caps right of
// the ink centre and originY caps below the cap top; inkWidth is the ink
// box's width in caps.
struct FigureGlyph {
    float inkWidth = 0.0f;
    float originX = 0.0f;
    float originY = 0.0f;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::vector<float> coverage; // rows * columns, row by row
};

struct FigureGlyphs {
    std::uint32_t pixelsPerCap = 0; // 0 while the section never came
    std::map<signed char, FigureGlyph> byChar;
};

struct Model {
    detail::Templates money;   // "MCEL": balance and change digits and "$", "-"
    detail::Templates figures; // "FCEL": figures of the reward lines
    detail::Templates glyphs;  // "GLYP": letters and digits of text lines
    PairTable moneyPairs;      // "MPAR"
    PairTable figurePairs;     // "FPAR"
    PhraseShapes phraseShapes; // "PSHP"
    // Pairwise classifiers for the digits that soft, small or bright-backed
    // footage leaves tied: consulted only where the templates and the
    // tie-breakers above could not decide. Empty in older files.
    PairTable moneySettlers;  // "MSET"
    PairTable figureSettlers; // "FSET"
    // Templates of the digits as soft, small or bright-backed footage leaves
    // them, for a second look at a reading the templates above left
    // uncertain. Empty in older files.
    detail::Templates moneySoft;  // "MSFT"
    detail::Templates figureSoft; // "FSFT"
    // The figures' glyph images ("+$0123456789,XP"). Empty in older files.
    FigureGlyphs figureGlyphs; // "FGLF"
    // Made on loading: `money` and `figures` with the soft templates joined
    // to each digit's own; cell length 0 without soft templates.
    detail::Templates moneyWithSoft;
    detail::Templates figuresWithSoft;
};

// `base` with each character's templates in `extra` appended to its own;
// cell length 0 when `extra` is empty or of another cell length.
detail::Templates joinTemplates(const detail::Templates& base, const detail::Templates& extra);

// Reads and validates a model file. Empty on failure, with a message in
// `error` when given. Never throws for a bad file.
std::shared_ptr<const Model> loadModel(const std::string& path, std::string* error = nullptr);
std::shared_ptr<const Model> parseModel(const std::uint8_t* data, std::size_t length,
                                        std::string* error = nullptr);

// The inverse of parseModel, for the tools that build the file: sections in
// the order MCEL, FCEL, GLYP, MPAR, FPAR, PSHP, MSET, FSET, MSFT, FSFT, FGLF; sets with cell length 0
// and empty pair tables, phrase shapes without bands and glyph images without a
// resolution are left out.
std::vector<std::uint8_t> serializeModel(const Model& model);

} // namespace hud

#pragma once

// The kill feed: rows of "killer  icons  [123 m]  victim" at the left of the
// screen. readFeedRows finds the rows in the engine's capture of the feed area
// (scaled as if the frame were 2160 lines high, so every pixel constant here
// is at that scale), cuts each into names, icon zone and distance bracket,
// and decides from the way the game draws the player's own name whether the
// player killed, died, both or neither. Names are never read as text.

#include "hud/core/image.h"
#include "hud/feed/killdata.h"
#include "hud/core/model.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hud {

// Feed slot pitch at the 2160-line capture scale.
constexpr double kFeedSlot = 47.952;
constexpr int kRowSignatureLength = 48;

struct SideStats {
    int n = 0; // letter components of the name (0: no name)
    int x0 = 0;
    int x1 = 0;
    float v = 0.0f;  // brightness: 90th percentile of the name's text luma
    float w = 0.0f;  // warmth: median (R - B) / R of the brighter half
    float s = 0.0f;  // saturation: median (max - min) / max of the same pixels
    bool sh = false; // an orange marker stands beside the name
    bool tm = false; // a team marker stands beside the name
};

// Where the player's own name stands in a feed row. The numbers show in the
// evaluation tool's feed trace.
enum class PlayerSide {
    Neither = 0, // a row between other players
    Killer = 1,  // the player killed
    Victim = 2,  // the player died
    Both = 3,    // the player killed themself
};

struct FeedRow {
    int x0 = 0;
    int y = 0;
    int x1 = 0;
    int bottom = 0;
    double cap = 0.0;
    PlayerSide side = PlayerSide::Neither;
    bool squadKiller = false;
    bool squadVictim = false;
    SideStats killer;
    SideStats victim;
    float alike = 0.0f;
    float confidence = 0.0f;
    bool bright = false;
    bool hasDistance = false;
    int distance = 0;
    float distanceConfidence = 0.0f;
    int bracketX0 = 0;
    int bracketX1 = 0; // <= bracketX0 when there is no bracket
    std::vector<std::pair<int, int>> glyphs;
    int mX0 = -1;
    int mX1 = -1;
    double figuresTop = 0.0;
    double figuresBottom = 0.0;
    std::string icon;
    float iconScore = 0.0f;
    bool headshot = false;
    std::vector<float> signature;
    std::string text;

    bool hasBracket() const { return bracketX1 > bracketX0; }
};

struct FeedRead {
    std::vector<FeedRow> rows; // top row first
    std::string note;          // "no feed rows" or empty
};

// Everything one row's steps share. Pointers stay owned by readFeedRows.
struct RowCtx {
    const FramePlanes* planes = nullptr;
    FrameView frame;
    const Model* model = nullptr;
    const KillData* killData = nullptr;
    double top = 0.0;
    double bottom = 0.0;
    double cap = 0.0;
    int x0 = 0;
    int x1 = 0;
    std::vector<Blob> comps; // sorted by x0
};

struct ColourBlock {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int count = 0;
    bool orange = false;
    float hue = 0.0f;
    float gr = 0.0f;
    float fill = 0.0f;
};

struct RowSplit {
    std::vector<Blob> left;  // killer name letters
    std::vector<Blob> right; // victim name letters
    int iconX0 = -1;
    int iconX1 = -1;
    std::vector<ColourBlock> blocks;
};

struct Figures {
    bool found = false;
    std::string text; // digits, then "m" when one was read
    float lowest = 0.0f;
    float lead = 0.0f;
    std::vector<std::pair<int, int>> glyphs;
    int mX0 = -1;
    int mX1 = -1;
};

// One pass over a 32-bit BGRA capture. Never throws for image content; an
// invalid image reads as "no feed rows".
FeedRead readFeedRows(const Model& model, const KillData& killData, const std::uint8_t* pixels, int width,
                      int height, int bytesPerLine);

std::vector<ColourBlock> colourBlocks(const RowCtx& ctx);
RowSplit splitRow(const RowCtx& ctx, int bracketX0, int bracketX1);
std::vector<float> rowSignature(const RowCtx& ctx);

// Row parsing, in the order readFeedRows calls the steps.
void readDistance(const RowCtx& ctx, FeedRow& row);
// A piece read as "1" is at most `oneWidth` caps wide.
constexpr double kOneWidth = 0.45;
Figures readFigures(const RowCtx& ctx, int fromX, int toX, double top, double bottom,
                    const detail::Templates& templates, double oneWidth = kOneWidth);
SideStats sideStats(const RowCtx& ctx, const std::vector<Blob>& components,
                    const std::vector<ColourBlock>& blocks, bool left);
float namesAlike(const RowCtx& ctx, const std::vector<Blob>& killer, const std::vector<Blob>& victim);
void classifySides(FeedRow& row, bool hasBracket);
void matchIcons(const RowCtx& ctx, int fromX, int toX, FeedRow& row);
std::string rowText(const FeedRow& row);

// The normalised 32 x 32 cell of one figure piece as readFigures classifies
// it: `piece` is the piece's box trimmed to its mask pixels, sampled from
// planes.ink with sampleGlyphCell in the band [top, bottom] (line height
// bottom - top + 1), then normalizeVector. The model builder harvests the
// distance templates through this same function.
void figureCell(const FramePlanes& planes, const Blob& piece, double top, double bottom, float* out);

// classifyGlyph(cell, templates, "0123456789") for a normalised figure cell,
// with the same result, passing over the templates that the coarse bounds
// of killData->digitBounds show cannot be best or second (only when
// `templates` are killData->digits and the bounds still fit them).
GlyphClass classifyFigureCell(const float* cell, const detail::Templates& templates,
                              const KillData* killData);

// Tuning read from the environment once per process (KF_TH, KF_G, KF_DEBUG).
struct FeedTuning {
    double topHat = 34.0;
    double luma = 95.0;
    bool debug = false;
};
const FeedTuning& feedTuning();

namespace detail {

// Mask pixels per column for columns x0..x1 (counts[x - x0]) inside the union
// of the boxes, each pixel counted once however the boxes overlap.
void maskColumnCounts(const FramePlanes& planes, const std::vector<Blob>& boxes, int x0, int x1,
                      std::vector<int>& counts);

#if defined(__MINGW_PRINTF_FORMAT)
// mingw's "printf" checks msvcrt's dialect (no %zu); std::vsnprintf there is
// mingw's C99 one, which this names.
#define CORVEX_HUD_PRINTF(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__) || defined(__clang__)
#define CORVEX_HUD_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define CORVEX_HUD_PRINTF(f, a)
#endif
// The kill-feed traces: printf-style text appended to `out`, and a finished
// trace written to the standard error stream in one piece.
void appendTrace(std::string& out, const char* format, ...) CORVEX_HUD_PRINTF(2, 3);
void writeTrace(const std::string& text);

} // namespace detail

} // namespace hud

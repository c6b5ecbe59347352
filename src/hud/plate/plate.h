#pragma once

// The two small readers beside the kill feed: the weapon plate (the name of
// the item in the player's hands, bottom right) and the damage-log header the
// game shows while the player is knocked down.

#include "hud/core/image.h"
#include "hud/feed/killdata.h"
#include "hud/core/model.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hud {

struct PlateRead {
    bool found = false;      // a plate line was located
    std::string read;        // letters as read, words separated by one space
    std::string name;        // matched weapon table name, empty when none
    bool weapon = false;     // the matched entry is a weapon, not a gadget
    std::string weaponClass; // the matched entry's class
    float score = -2.0f;     // best match score, -2 when nothing was scored
};

// One read of the plate area, captured as if the frame were 2160 lines high.
PlateRead readPlate(const Model& model, const KillData& killData, const std::uint8_t* pixels, int width,
                    int height, int bytesPerLine);

struct DownRead {
    float score = 0.0f; // best correlation, at least 0
    bool found = false; // score >= 0.8
    float x = 0.0f;     // top-left of the best position in the captured area
    float y = 0.0f;
};

// Kept by the engine between damage-log passes.
struct DownDetector {
    std::shared_ptr<const KillData> killData;
    int lockedVariant = -1;
    int lockedX = 0;
    int lockedY = 0;
};

// One read of the damage-log area (captured at 562.5 reference lines).
// `fullScan` searches every variant at every position; otherwise only the
// locked position or the expected one is searched.
DownRead readDownScore(DownDetector& detector, const std::uint8_t* pixels, int width, int height,
                       int bytesPerLine, bool fullScan);

namespace detail {

// The characters the plate shows, in the order that wins ties.
constexpr std::string_view kPlateCharset = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kPlateCharCount = 36;
// One glyph's score for each character of kPlateCharset (-2: no templates).
using PlateGlyphScores = std::array<float, kPlateCharCount>;

struct PlateMatch {
    int entry = -1;       // index into weaponTable(); -1 when no entry fitted the words
    float score = -2.0f;  // the entry's score: its weakest glyph
    float second = -2.0f; // best score of an entry with another key
    bool accepted = false;
};

// The glyphs of a plate line as the reader takes them: `line` (ordered by
// x0, as groupRows gives it) walked up to the first slash, glyphs of 0.7 to
// 1.4 cap kept, a gap over 0.4 cap opening a new word. `mask` is the line's
// width-wide 0/1 mask.
void plateGlyphs(const std::vector<std::uint8_t>& mask, int width, const std::vector<Blob>& line, double cap,
                 std::vector<Blob>& glyphs, std::vector<int>& wordLengths);

// Matches the glyphs of a plate line, split into words of `wordLengths`
// glyphs (in reading order), against the weapon table.
PlateMatch matchPlate(const std::vector<PlateGlyphScores>& glyphs, const std::vector<int>& wordLengths);

} // namespace detail

} // namespace hud

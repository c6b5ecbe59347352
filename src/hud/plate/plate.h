#pragma once

// The weapon plate beside the kill feed: the name of the item in the
// player's hands, bottom right.

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
    float score = kNoScore;  // best match score, kNoScore when nothing was scored
};

// One read of the plate area, captured as if the frame were 2160 lines high.
PlateRead readPlate(const Model& model, const KillData& killData, const std::uint8_t* pixels, int width,
                    int height, int bytesPerLine);

namespace detail {

// The characters the plate shows, in the order that wins ties.
constexpr std::string_view kPlateCharset = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kPlateCharCount = 36;
// One glyph's score for each character of kPlateCharset (kNoScore: no templates).
using PlateGlyphScores = std::array<float, kPlateCharCount>;

struct PlateMatch {
    int entry = -1;          // index into weaponTable(); -1 when no entry fitted the words
    float score = kNoScore;  // the entry's score: its weakest glyph
    float second = kNoScore; // best score of an entry with another key
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

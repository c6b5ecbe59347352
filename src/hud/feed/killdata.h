#pragma once

// Reference images of the kill-feed readers ("hud/killfeed.bin"): the icons
// between the two names of a feed row, the damage-log header shown while the
// player is knocked down, and the glyph templates of the bracketed distance.
//
// File format, little-endian, unaligned, no padding:
//
//   "KKFD"  u32 version (= 1)  u32 sectionCount
//   sectionCount times:  char tag[4]  u32 length  body
//
//   ICON: u32 count (<= 512), then per icon: u8 nameLength, name,
//         u16 width (1..512), u16 height (1..512), width*height grey bytes
//   DOWN: f32 relativeWidth (0 < w <= 1, header width / frame height),
//         u16 width (1..2048), u16 height (1..512), width*height grey bytes
//   DIGT: u32 templateLength (= 1024), u32 keyCount (<= 16), then per key:
//         u8 key, u32 templateCount (<= 256), templateCount * 1024 f32
//
// Unknown tags are stepped over. ICON and DIGT sections append; of several
// DOWN sections the last one is the header. The file is built by
// corvex-build-model and only read here; everything the per-frame readers
// need is prepared at load.

#include "hud/core/model.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hud {

constexpr char kKillDataMagic[4] = {'K', 'K', 'F', 'D'};
constexpr std::uint32_t kKillDataVersion = 1;
constexpr char kTagIcons[4] = {'I', 'C', 'O', 'N'};
constexpr char kTagDamageLog[4] = {'D', 'O', 'W', 'N'};
constexpr char kTagDistanceDigits[4] = {'D', 'I', 'G', 'T'};

// The damage-log area is captured as if the frame were this many lines high.
constexpr double kDamageLogRefHeight = 562.5;

struct KillIcon {
    std::string name; // as stored ("skull_2")
    std::string key;  // iconKey(name) ("skull"): what readers report
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<float> pixels; // byte / 255, zero-mean, unit length
    float ink = 0.0f;          // share of stored bytes >= 128
    // Per row, the running sums of its pixels from the right end back:
    // entry j of row r is the sum of the row's first width - j pixels,
    // added in double and rounded once, as the matcher slides them. Made at
    // load; an icon built in memory may come without them.
    std::vector<float> rowSums;
    // topSums[s]: the sum of the s largest pixels, s = 0 .. width * height
    // (added in double from the largest down). Whatever s white cells an
    // icon lies over, its products with them sum to no more. Made at load.
    std::vector<double> topSums;
};

// Fills icon.rowSums and icon.topSums from icon.pixels.
void makeRowSums(KillIcon& icon);

struct DamageLogVariant {
    int width = 0;
    int height = 0;
    float scale = 0.0f;
    std::vector<float> pixels; // blurred, local mean removed, zero-mean, unit length
};

// The coarse forms of one key's distance templates (see coarsenCell), which
// let the figure reader pass over templates that cannot win.
struct DigitBounds {
    signed char key = 0;
    std::size_t count = 0;   // templates of the key when made
    std::vector<float> sums; // kDigitCoarseLength per template
    std::vector<float> rest; // per template
};
constexpr std::size_t kDigitCoarseLength = kGlyphCellLength / 4;

struct KillData {
    std::vector<KillIcon> icons;
    std::vector<DamageLogVariant> damageLog;
    float damageLogWidth = 0.0f;
    std::uint32_t digitLength = 0; // 1024 once distance templates were read
    detail::Templates digits;      // "0".."9" and "m", 32 x 32 cells
    // Made from `digits` when the file is read, one entry per key; a set
    // built or changed in memory comes without them and is scored in full.
    std::vector<DigitBounds> digitBounds;
};

// Fills data.digitBounds from data.digits.
void makeDigitBounds(KillData& data);

// Reads and parses the file; empty with `error` set on any failure ("cannot
// open <path>" or one of parseKillData's messages). Never throws for bad data.
std::shared_ptr<const KillData> loadKillData(const std::string& path, std::string* error = nullptr);
std::shared_ptr<const KillData> parseKillData(const std::uint8_t* bytes, std::size_t size,
                                              std::string* error = nullptr);

// "skull_2" -> "skull", "skull_small" -> "skull", "ak_74b" stays.
std::string iconKey(std::string_view name);

// In place: subtract the mean, then scale by 1 / (norm + 1e-6).
void normalizeTemplate(std::vector<float>& values);
void normalizeTemplate(float* values, std::size_t n);

// What the builder writes: the stored form of each section.
struct KillDataSource {
    struct Icon {
        std::string name;
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> pixels;
    };
    std::vector<Icon> icons;
    float damageLogWidth = 0.0f;
    int damageLogImageWidth = 0;
    int damageLogImageHeight = 0;
    std::vector<std::uint8_t> damageLogPixels;
    std::map<char, std::vector<std::vector<float>>> digits; // 1024 floats each
};
// Sections in the order ICON, DOWN, DIGT (DIGT left out without digits).
std::vector<std::uint8_t> serializeKillData(const KillDataSource& source);

namespace detail {
// The damage-log preparation shared by the header variants and the frames
// they are compared with: the 0.209 / 0.582 / 0.209 blur along rows then
// columns, then each value less the mean of its 13 x 13 window (cut at the
// border), in place.
void blurAndRemoveLocalMean(std::vector<float>& values, int width, int height);
} // namespace detail

} // namespace hud

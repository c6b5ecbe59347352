// The kill-feed data file (hud/killfeed.bin) as corvex-build-model makes it:
// the icons of the feed, the damage-log header and the distance digit
// templates, all from the synthetic game's own drawing.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace killfeed {

struct BuildOptions {
    std::uint32_t seed = 20240611;
    int frames = 600;         // synthetic kill-feed frames the digits are harvested from
    int templatesPerKey = 24; // distance templates kept per digit and for "m"
    int poolPerKey = 1500;    // harvested cells kept per key before the choice
    bool verbose = false;
};

// The file's bytes, checked by loading them back; empty with `error` set on
// failure. The same options give the same bytes.
std::vector<std::uint8_t> buildKillData(const BuildOptions& options, QString* error);

// Reads held-out synthetic feed frames with the data and prints how many
// distances come out right; non-zero when the data or the HUD model do not
// load.
// With `verbose`, every row and plate read wrongly is listed.
int checkKillData(const std::vector<std::uint8_t>& bytes, int frames, std::uint32_t seed, bool verbose);

// What --help says about it.
extern const char* const kHelpText;

} // namespace killfeed

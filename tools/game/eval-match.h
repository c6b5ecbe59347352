// corvex-eval --sequences: the kill-feed, plate and damage-log readers and
// their trackers measured on played match sequences.
#pragma once

#include "hud/core/model.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace synth {

struct MatchEvalOptions {
    std::shared_ptr<const hud::Model> model;
    QString killDataPath;
    std::uint32_t seed = 1;
    int count = 100;
    bool degrade = true;
    bool lookRange = false; // each sequence's look drawn from the range around the game's own
    int feedDivisor = 1;    // the auxiliary readers at 1/n of their rates (1, 2 or 4)
    QString dumpDir;        // a JSON file per sequence with a miss or a wrong report
    bool traceFeed = false; // every kill-feed read printed, with its time, to the standard output
};

// Prints the measures; non-zero when the data could not be loaded.
int evalMatches(const MatchEvalOptions& options);

} // namespace synth

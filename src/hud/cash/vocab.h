#pragma once

// The game's fixed words: the phrases of the reward lines, the single words
// they are built from, and the weapon and equipment names of the weapon
// plate. Readings of glyphs are noisy, so everything here is about matching
// a guess against this vocabulary with a tolerance that knows which letters
// the glyph classifier tends to mix up.
//
// All tables are built on first use and never change afterwards; every
// function here may be called from any thread.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hud {

struct WeaponEntry {
    std::string name;        // as the game writes it
    bool weapon = false;     // false for gadgets and tools held in the hands
    std::string weaponClass; // the icon family; empty when the item has none
};

// The reward-line phrases, in the game's order.
const std::vector<std::string>& eventPhrases();
// The single words of reward lines, in a fixed order (ties in matching go to
// the earlier word).
const std::vector<std::string>& eventWords();
// Unordered letter pairs the glyph reader confuses easily.
const std::vector<std::pair<char, char>>& confusablePairs();
const std::vector<WeaponEntry>& weaponTable();

// True when a and b form one of the confusable pairs (either order).
bool areConfusable(char a, char b);

// Edit distance in half steps: insertion and deletion cost 2, replacing a
// letter by its confusable partner 1, any other replacement 2.
int editDistance(std::string_view a, std::string_view b);

// Plain Levenshtein distance on the bytes (every edit costs 1).
int levenshtein(std::string_view a, std::string_view b);

struct WordSnap {
    std::string word; // the event word, or the letters as read
    bool snapped = false;
};

struct PhraseSnap {
    std::string phrase; // the event phrase, or the text as given
    bool matched = false;
};

// Replaces a read word by the one event word it is clearly closest to.
WordSnap snapWord(std::string_view letters);

// Replaces a read text by the nearest event phrase, spaces ignored.
PhraseSnap snapPhrase(std::string_view text);

// A name reduced to its ASCII letters and digits, upper-cased: the form in
// which the weapon plate shows it ("PP-19 Vityaz" -> "PP19VITYAZ").
std::string weaponKey(std::string_view name);

} // namespace hud

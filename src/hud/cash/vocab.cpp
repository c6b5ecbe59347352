#include "hud/cash/vocab.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

namespace hud {

namespace {

// Words and phrases are short; rows up to this length live on the stack so
// that matching a reading against the whole vocabulary never allocates.
constexpr size_t kStackRow = 128;

// Two-row dynamic programme for an edit distance with the given costs. Once
// a whole row reaches `limit` the distance does too (costs are never
// negative), and that row's least value is returned as it stands: callers
// that pass a limit only ask whether the distance stays below it.
template <typename SubstCost>
int distanceWith(std::string_view a, std::string_view b, int indel, SubstCost subst, int limit = INT_MAX) {
    const size_t n = b.size();
    // Only the first n + 1 entries are used, each written before it is read.
    std::array<int, kStackRow> stackPrev;
    std::array<int, kStackRow> stackCur;
    std::vector<int> heapPrev;
    std::vector<int> heapCur;
    int* prev = stackPrev.data();
    int* cur = stackCur.data();
    if (n + 1 > kStackRow) {
        heapPrev.resize(n + 1);
        heapCur.resize(n + 1);
        prev = heapPrev.data();
        cur = heapCur.data();
    }
    for (size_t j = 0; j <= n; ++j)
        prev[j] = static_cast<int>(j) * indel;
    for (size_t i = 1; i <= a.size(); ++i) {
        cur[0] = static_cast<int>(i) * indel;
        int least = cur[0];
        const char ca = a[i - 1];
        for (size_t j = 1; j <= n; ++j) {
            const int diagonal = prev[j - 1] + subst(ca, b[j - 1]);
            const int up = prev[j] + indel;
            const int left = cur[j - 1] + indel;
            cur[j] = std::min(diagonal, std::min(up, left));
            least = std::min(least, cur[j]);
        }
        std::swap(prev, cur);
        if (least >= limit)
            return least;
    }
    return prev[n];
}

// One bit per letter: bit j of row i is set when letters 'A'+i and 'A'+j are
// confusable.
struct ConfusableTable {
    std::array<uint32_t, 26> rows{};
};

const ConfusableTable& confusableTable() {
    static const ConfusableTable table = [] {
        ConfusableTable t;
        for (const auto& p : confusablePairs()) {
            const int a = p.first - 'A';
            const int b = p.second - 'A';
            t.rows[static_cast<size_t>(a)] |= 1u << b;
            t.rows[static_cast<size_t>(b)] |= 1u << a;
        }
        return t;
    }();
    return table;
}

bool isUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

// Writes s without its blanks into out (reusing out's storage).
void removeBlanks(std::string_view s, std::string& out) {
    out.clear();
    for (char c : s)
        if (c != ' ')
            out.push_back(c);
}

// How far a word may be from an event word, in half steps, by the longer of
// the two lengths. Short words get no tolerance: too many of them are one
// confusion away from each other.
int allowedWordDistance(size_t longer) {
    if (longer < 4)
        return 0;
    if (longer == 4)
        return 1;
    if (longer <= 6)
        return 2;
    return 4;
}

} // namespace

const std::vector<std::string>& eventPhrases() {
    static const std::vector<std::string> phrases = {
        "KILL",
        "REVENGE KILL",
        "KILL CONFIRMED",
        "VEHICLE DESTROYED",
        "ROTORS DESTROYED",
        "CONTROL ZONE PRESENCE",
        "HOT ZONE PRESENCE",
        "REVIVED TEAMMATE",
        "HEADSHOT",
        "ASSIST",
        "PURCHASE REFUNDED",
        "CONTROL ZONE ENTERED",
        "HOT ZONE ENTERED",
        "SUPPLIED PLAYER ASSIST",
    };
    return phrases;
}

const std::vector<std::string>& eventWords() {
    static const std::vector<std::string> words = {
        "KILL",        "CONFIRMED",    "REVENGE",   "CONTROL",   "ZONE",      "PRESENCE",  "HOT",
        "ROTORS",      "DESTROYED",    "VEHICLE",   "REVIVE",    "REVIVED",   "HEADSHOT",  "ASSIST",
        "SUPPLY",      "SUPPLIES",     "SUPPLIED",  "DELIVERED", "PASSENGER", "TRANSPORT", "SPAWN",
        "FOB",         "BUILT",        "REPAIR",    "REPAIRED",  "REFUNDED",  "PURCHASE",  "BRIBE",
        "CAPTURE",     "CAPTURED",     "OBJECTIVE", "ENEMY",     "DOWNED",    "EXECUTION", "LONG",
        "RANGE",       "SHOT",         "MULTI",     "DOUBLE",    "TRIPLE",    "BONUS",     "TEAMMATE",
        "SQUAD",       "FRIENDLY",     "HEAL",      "HEALED",    "AMMO",      "RESUPPLY",  "DEFIBRILLATOR",
        "ENTERED",     "ENTERING",     "HELD",      "PLAYER",    "KILLED",    "ASSISTED",  "SECURED",
        "DESTROY",     "ELIMINATED",   "STREAK",    "EXTRACTED", "SPOTTED",   "DAMAGED",   "DISABLED",
        "BUILD",       "CRATE",        "PALLET",    "SECTOR",    "HOLD",      "REFUND",    "ZONES",
        "TRANSPORTED", "RESUSCITATED",
    };
    return words;
}

const std::vector<std::pair<char, char>>& confusablePairs() {
    static const std::vector<std::pair<char, char>> pairs = {
        {'D', 'O'}, {'O', 'G'}, {'O', 'Q'}, {'C', 'G'}, {'U', 'L'}, {'I', 'L'}, {'I', 'J'},
        {'H', 'B'}, {'B', 'E'}, {'P', 'F'}, {'V', 'Y'}, {'M', 'N'}, {'H', 'N'}, {'E', 'F'},
        {'R', 'B'}, {'K', 'X'}, {'T', 'I'}, {'Z', 'S'}, {'C', 'O'}, {'U', 'V'},
    };
    return pairs;
}

const std::vector<WeaponEntry>& weaponTable() {
    static const std::vector<WeaponEntry> table = {
        {"A-91", true, "rifle"},
        {"AK74", true, "rifle"},
        {"Bushmaster M17S", true, "rifle"},
        {"FAL", true, "rifle"},
        {"Galil", true, "rifle"},
        {"KH-2002", true, "rifle"},
        {"M4", true, "rifle"},
        {"T-21", true, "rifle"},
        {"AMP-9", true, "rifle"},
        {"MP5", true, "rifle"},
        {"PP-19 Vityaz", true, "rifle"},
        {"Super-45", true, "rifle"},
        {"M500", true, "shotgun"},
        {"MP43", true, "shotgun"},
        {"M249 SAW", true, "lmg"},
        {"PKM", true, "lmg"},
        {"BMR-308", true, "sniper"},
        {"SKS", true, "hunting"},
        {"SVD", true, "sniper"},
        {"AMR 50", true, "sniper"},
        {"MK22", true, "sniper"},
        {"Mosin Nagant", true, "boltgun"},
        {"Scout Rifle TD", true, "boltgun"},
        {"SV98", true, "boltgun"},
        {"Deagle", true, "pistol"},
        {"GGX 17", true, "pistol"},
        {"GGX 18", true, "pistol"},
        {"Judge", true, "pistol"},
        {"M1911", true, "pistol"},
        {"9K333 Verba", true, "rpg"},
        {"MAAWS", true, "rpg"},
        {"MGL-40", true, "grenade"},
        {"RPG-7", true, "rpg"},
        {"Compound Bow", true, ""},
        {"M67 Frag Grenade", true, "grenade"},
        {"Gold Frag Grenade", true, "grenade"},
        {"C4 Charge", true, "c4"},
        {"Remote Detonator", true, "c4"},
        {"Improvised Explosive Device", true, "c4"},
        {"AT Mine", true, ""},
        {"Claymore", true, ""},
        {"Fists", true, ""},
        {"Small Hammer", true, "hammer"},
        {"Medium Hammer", true, "hammer"},
        {"Large Hammer", true, "hammer"},
        {"L81 Mortar", true, "mortar"},
        {"Talon 9K-SAM", true, ""},
        {"Vanguard CIWS", true, ""},
        {"Stingray", true, ""},
        {"MH-6", true, "heli"},
        {"AH-6M [Miniguns]", true, "heli"},
        {"AH-6R [Rockets]", true, "heli"},
        {"Havoc", true, "heli"},
        {"Z20 Lakota", true, "heli"},
        {"Z20 Lakota [Miniguns]", true, "heli"},
        {"L2A6", true, "tank"},
        {"Flakpanzer Gepard", true, "tank"},
        {"M113 APC SV", true, "tank"},
        {"SPH-2", true, "artillery"},
        {"Bobcat", true, "car"},
        {"Dune Buggy", true, "car"},
        {"Humvee", true, "car"},
        {"Humvee [M249]", true, "car"},
        {"Humvee [Minigun]", true, "car"},
        {"Kodiak", true, "car"},
        {"Kodiak [M249]", true, "car"},
        {"Kodiak [Pickup]", true, "car"},
        {"URAL", true, "car"},
        {"Ural Defender", true, "car"},
        {"Ural Defender [M249]", true, "car"},
        {"Defibrillator", false, ""},
        {"Emergency Resuscitator", false, ""},
        {"M18 Smoke Grenade", false, ""},
        {"M18 Signal Grenade", false, ""},
        {"Halligan Bar", false, ""},
        {"Wrench", false, ""},
        {"Light Drill", false, ""},
        {"Heavy Drill", false, ""},
        {"Loudspeaker", false, ""},
    };
    return table;
}

bool areConfusable(char a, char b) {
    if (!isUpperLetter(a) || !isUpperLetter(b))
        return false;
    const auto& rows = confusableTable().rows;
    return (rows[static_cast<size_t>(a - 'A')] >> (b - 'A')) & 1u;
}

namespace {

// The half-step distance, or some value of at least `limit` once it is
// certain to reach it.
int editDistanceBelow(std::string_view a, std::string_view b, int limit) {
    // Make sure the table exists before the inner loop reads it.
    const auto& rows = confusableTable().rows;
    return distanceWith(
        a, b, 2,
        [&rows](char x, char y) {
            if (x == y)
                return 0;
            if (isUpperLetter(x) && isUpperLetter(y) &&
                ((rows[static_cast<size_t>(x - 'A')] >> (y - 'A')) & 1u))
                return 1;
            return 2;
        },
        limit);
}

} // namespace

int editDistance(std::string_view a, std::string_view b) {
    return editDistanceBelow(a, b, INT_MAX);
}

int levenshtein(std::string_view a, std::string_view b) {
    return distanceWith(a, b, 1, [](char x, char y) { return x == y ? 0 : 1; });
}

WordSnap snapWord(std::string_view letters) {
    const auto& words = eventWords();
    int best = INT_MAX;
    int second = INT_MAX;
    const std::string* bestWord = nullptr;
    for (const auto& w : words) {
        const size_t lw = w.size();
        const size_t ll = letters.size();
        const size_t apart = lw > ll ? lw - ll : ll - lw;
        if (apart > 2)
            continue;
        // Each letter of difference in length costs an insertion (2), so a
        // word whose distance cannot come below the second best changes
        // neither the best nor the second; nor does one whose distance
        // reaches it, so the distance need only be known below it.
        if (second != INT_MAX && static_cast<int>(2 * apart) >= second)
            continue;
        const int d = editDistanceBelow(letters, w, second);
        if (d < best) {
            second = best;
            best = d;
            bestWord = &w;
        } else if (d < second) {
            second = d;
        }
    }
    if (bestWord != nullptr) {
        const int allowed = allowedWordDistance(std::max(letters.size(), bestWord->size()));
        if (best <= allowed && (best == 0 || second != best))
            return {*bestWord, true};
    }
    return {std::string(letters), false};
}

PhraseSnap snapPhrase(std::string_view text) {
    std::string compact;
    removeBlanks(text, compact);
    std::string phraseCompact;
    const std::string* bestPhrase = nullptr;
    int best = INT_MAX;
    size_t bestLength = 0;
    for (const auto& p : eventPhrases()) {
        // A phrase whose distance cannot come below the best so far
        // changes nothing, so the distance need only be known below it; a
        // letter of difference in length costs an insertion (2).
        const size_t lp = p.size() - static_cast<size_t>(std::count(p.begin(), p.end(), ' '));
        const size_t apart = lp > compact.size() ? lp - compact.size() : compact.size() - lp;
        if (best != INT_MAX && 2 * apart >= static_cast<size_t>(best))
            continue;
        removeBlanks(p, phraseCompact);
        const int d = editDistanceBelow(compact, phraseCompact, best);
        if (d < best) {
            best = d;
            bestPhrase = &p;
            bestLength = phraseCompact.size();
        }
    }
    if (bestPhrase != nullptr) {
        const int allowed = std::max(2, static_cast<int>(bestLength / 2));
        if (best <= allowed)
            return {*bestPhrase, true};
    }
    return {std::string(text), false};
}

std::string weaponKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    for (char c : name) {
        if (c >= 'a' && c <= 'z')
            key.push_back(static_cast<char>(c - 'a' + 'A'));
        else if (isUpperLetter(c) || (c >= '0' && c <= '9'))
            key.push_back(c);
    }
    return key;
}

} // namespace hud

#include "hud/cash/vocab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace hud;

namespace {

// A small fixed random sequence.
struct Lcg {
    unsigned state;
    unsigned operator()() {
        state = state * 1103515245u + 12345u;
        return (state >> 8) & 0xFFFFu;
    }
};

// Up to `edits` random substitutions, deletions and insertions of letters,
// drawn from `next`.
void garble(std::string& text, unsigned edits, Lcg& next) {
    for (unsigned e = 0; e < edits && !text.empty(); ++e) {
        const size_t at = next() % text.size();
        const char c = static_cast<char>('A' + next() % 26);
        switch (next() % 3) {
        case 0:
            text[at] = c;
            break;
        case 1:
            text.erase(at, 1);
            break;
        default:
            text.insert(at, 1, c);
            break;
        }
    }
}

} // namespace

TEST(Vocab, TablesAreComplete) {
    EXPECT_EQ(eventPhrases().size(), 14u);
    EXPECT_EQ(eventWords().size(), 72u);
    EXPECT_EQ(confusablePairs().size(), 20u);
    // Every word of every phrase must be snappable on its own.
    const std::set<std::string> words(eventWords().begin(), eventWords().end());
    EXPECT_EQ(words.size(), eventWords().size());
    for (const std::string& phrase : eventPhrases())
        for (size_t start = 0, end = 0; start <= phrase.size(); start = end + 1) {
            end = std::min(phrase.find(' ', start), phrase.size());
            EXPECT_TRUE(words.count(phrase.substr(start, end - start))) << phrase;
        }

    const auto& table = weaponTable();
    ASSERT_EQ(table.size(), 79u);
    std::map<std::string, int> perClass;
    std::set<std::string> keys;
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].weapon, i < 70) << table[i].name;
        ++perClass[table[i].weaponClass];
        keys.insert(weaponKey(table[i].name));
    }
    EXPECT_EQ(keys.size(), table.size()) << "two entries share a plate key";
    const std::map<std::string, int> expected = {
        {"rifle", 12}, {"shotgun", 2}, {"lmg", 2},       {"sniper", 4}, {"hunting", 1}, {"boltgun", 3},
        {"pistol", 5}, {"rpg", 3},     {"grenade", 3},   {"c4", 3},     {"hammer", 3},  {"mortar", 1},
        {"heli", 6},   {"tank", 3},    {"artillery", 1}, {"car", 11},   {"", 16}};
    EXPECT_EQ(perClass, expected);
}

TEST(Vocab, Distances) {
    EXPECT_EQ(editDistance("KILL", "KILL"), 0);
    EXPECT_EQ(editDistance("KILI", "KILL"), 1); // I-L confusable
    EXPECT_EQ(editDistance("KILO", "KILL"), 2); // O-L is not
    EXPECT_EQ(editDistance("KIL", "KILL"), 2);
    EXPECT_EQ(editDistance("", "KILL"), 8);
    EXPECT_EQ(editDistance("kili", "kill"), 2) << "only capitals are known to be confusable";
    for (const auto& p : confusablePairs()) {
        EXPECT_EQ(editDistance(std::string(1, p.first), std::string(1, p.second)), 1);
        EXPECT_EQ(editDistance(std::string(1, p.second), std::string(1, p.first)), 1);
    }
    EXPECT_FALSE(areConfusable('1', 'I'));
    EXPECT_FALSE(areConfusable('\xC9', 'E'));
    EXPECT_EQ(levenshtein("kitten", "sitting"), 3);
    EXPECT_EQ(levenshtein("", "abc"), 3);
    // Texts longer than the stack rows.
    const std::string a(300, 'A');
    EXPECT_EQ(levenshtein(a, a.substr(1)), 1);
    EXPECT_EQ(editDistance(a, a.substr(1)), 2);
    EXPECT_EQ(editDistance(std::string(300, 'D'), std::string(300, 'O')), 300);
}

TEST(Vocab, SnapWord) {
    EXPECT_EQ(snapWord("KILI").word, "KILL");
    EXPECT_TRUE(snapWord("KILI").snapped);
    EXPECT_FALSE(snapWord("KILO").snapped);
    EXPECT_EQ(snapWord("KILO").word, "KILO");
    // Three letters: exact words only.
    EXPECT_TRUE(snapWord("HOT").snapped);
    EXPECT_FALSE(snapWord("HOI").snapped);
    // Longer words get more room.
    EXPECT_EQ(snapWord("DESTROYEO").word, "DESTROYED");
    EXPECT_EQ(snapWord("REVXNGX").word, "REVENGE");
    EXPECT_FALSE(snapWord("REXXNGX").snapped);
    EXPECT_FALSE(snapWord("").snapped);
    // Ties stay as read: SUPPLIES/SUPPLIED, REPAIR/REPAIRED.
    EXPECT_FALSE(snapWord("SUPPLIEX").snapped);
    EXPECT_FALSE(snapWord("REPAIRE").snapped);
    EXPECT_TRUE(snapWord("SUPPLIED").snapped);
}

// snapWord passes over words that cannot come closer than the second best
// and stops a distance once it reaches it; the snap must still be the one a
// full comparison with every word gives. Near-misses of the event words
// (confusions, dropped and added letters) exercise ties and close seconds.
TEST(Vocab, SnapWordMatchesFullComparison) {
    const auto reference = [](const std::string& letters) {
        int best = 1 << 30;
        int second = 1 << 30;
        const std::string* bestWord = nullptr;
        for (const auto& w : eventWords()) {
            const size_t apart =
                w.size() > letters.size() ? w.size() - letters.size() : letters.size() - w.size();
            if (apart > 2)
                continue;
            const int d = editDistance(letters, w);
            if (d < best) {
                second = best;
                best = d;
                bestWord = &w;
            } else if (d < second) {
                second = d;
            }
        }
        if (bestWord == nullptr)
            return std::string();
        const size_t longer = std::max(letters.size(), bestWord->size());
        const int allowed = longer < 4 ? 0 : longer == 4 ? 1 : longer <= 6 ? 2 : 4;
        return best <= allowed && (best == 0 || second != best) ? *bestWord : std::string();
    };
    Lcg next{12345u};
    int checked = 0;
    for (const auto& w : eventWords()) {
        for (int round = 0; round < 12; ++round) {
            std::string letters = w;
            garble(letters, next() % 4, next);
            const WordSnap snap = snapWord(letters);
            const std::string expected = reference(letters);
            EXPECT_EQ(snap.snapped, !expected.empty()) << letters;
            EXPECT_EQ(snap.word, expected.empty() ? letters : expected) << letters;
            ++checked;
        }
    }
    EXPECT_GT(checked, 500);
}

TEST(Vocab, SnapPhraseMatchesFullComparison) {
    // Garbled phrases, blanks dropped or kept, snap to what comparing with
    // every phrase in full gives (ties to the earlier phrase).
    const auto reference = [](const std::string& text) {
        const auto compactOf = [](const std::string& s) {
            std::string out;
            for (char c : s)
                if (c != ' ')
                    out.push_back(c);
            return out;
        };
        const std::string compact = compactOf(text);
        int best = 1 << 30;
        const std::string* bestPhrase = nullptr;
        for (const auto& p : eventPhrases()) {
            const int d = editDistance(compact, compactOf(p));
            if (d < best) {
                best = d;
                bestPhrase = &p;
            }
        }
        if (bestPhrase == nullptr || best > std::max(2, static_cast<int>(compactOf(*bestPhrase).size() / 2)))
            return std::string();
        return *bestPhrase;
    };
    Lcg next{777u};
    int checked = 0;
    for (const auto& phrase : eventPhrases()) {
        for (int round = 0; round < 16; ++round) {
            std::string text = phrase;
            garble(text, next() % 9, next);
            if (round % 2 == 1)
                text.erase(0, next() % (text.size() + 1)); // a phrase's tail, or nothing
            const PhraseSnap snap = snapPhrase(text);
            const std::string expected = reference(text);
            EXPECT_EQ(snap.matched, !expected.empty()) << text;
            EXPECT_EQ(snap.phrase, expected.empty() ? text : expected) << text;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

TEST(Vocab, SnapPhrase) {
    EXPECT_EQ(snapPhrase("REVENGEKILL").phrase, "REVENGE KILL");
    EXPECT_TRUE(snapPhrase("REVENGEKILL").matched);
    EXPECT_EQ(snapPhrase("KILL CONFIRMEO").phrase, "KILL CONFIRMED");
    EXPECT_EQ(snapPhrase("KIL").phrase, "KILL"); // 2 half steps, allowed 2
    EXPECT_FALSE(snapPhrase("KI").matched);
    EXPECT_EQ(snapPhrase("KI").phrase, "KI");
    EXPECT_FALSE(snapPhrase("").matched);
    // 15 letters allow 7 half steps.
    EXPECT_TRUE(snapPhrase("HOTZXNXPRXSENGE").matched);
    EXPECT_FALSE(snapPhrase("HOTZXNXPRXSXNCE").matched);
}

TEST(Vocab, WeaponKey) {
    EXPECT_EQ(weaponKey("PP-19 Vityaz"), "PP19VITYAZ");
    EXPECT_EQ(weaponKey("AH-6M [Miniguns]"), "AH6MMINIGUNS");
    EXPECT_EQ(weaponKey("Caf\xC3\xA9 9"), "CAF9");
}

TEST(Vocab, FirstUseFromManyThreadsAgrees) {
    // Each test runs in its own process, so the tables are built here by
    // whichever thread comes first.
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (size_t t = 0; t < ok.size(); ++t)
        threads.emplace_back([t, &ok] {
            bool good = true;
            for (int i = 0; i < 50; ++i)
                good = good && snapWord("KILI").word == "KILL" && snapPhrase("REVENGEKILL").matched &&
                       weaponTable().size() == 79u && editDistance("O", "Q") == 1;
            ok[t] = good ? 1 : 0;
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(ok, std::vector<int>(8, 1));
}

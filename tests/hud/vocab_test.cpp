#include "hud/cash/vocab.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace hud;

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

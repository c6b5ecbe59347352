#include "hud/cash/lines-internal.h"

#include "hud/cash/vocab.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// A line's words as the game's phrase: the experience amount taken out, the
// words snapped to the vocabulary, and a phrase rescued from fused letters.

namespace hud::reward {

namespace {

void appendJoined(std::string& s, std::string_view word) {
    if (!s.empty())
        s.push_back(' ');
    s.append(word);
}

// Longest phrase the second attempt compares, without its spaces; and the
// fewest letters it starts from ("KILL" on a panel, its "KI" run together
// into one glyph, reads as three).
constexpr std::size_t kRescueMaxLetters = 40;
constexpr std::size_t kRescueMinLetters = 3;

// Edit distance in half steps like editDistance, where a read glyph may also
// stand for two letters run together, or two pieces for one cut letter, at
// the cost of one replacement: at the font's own spacing the glyph reader
// often takes "KI" or "SI" for one wide letter. Fixed buffers: no allocation.
int fusedDistance(std::string_view read, std::string_view phrase) {
    const std::size_t n = read.size();
    const std::size_t m = phrase.size();
    std::array<std::array<int, kRescueMaxLetters + 1>, kRescueMaxLetters + 1> d{};
    for (std::size_t i = 0; i <= n; ++i)
        for (std::size_t j = 0; j <= m; ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = 2 * static_cast<int>(i + j);
                continue;
            }
            const char a = read[i - 1];
            const char b = phrase[j - 1];
            int v = d[i - 1][j - 1] + (a == b ? 0 : areConfusable(a, b) ? 1 : 2);
            v = std::min(v, d[i - 1][j] + 2);
            v = std::min(v, d[i][j - 1] + 2);
            if (j >= 2)
                v = std::min(v, d[i - 1][j - 2] + 2);
            if (i >= 2)
                v = std::min(v, d[i - 2][j - 1] + 2);
            d[i][j] = v;
        }
    return d[n][m];
}

// Second attempt for a line whose words matched no phrase: the one phrase
// the letters as read are clearly closest to, counting fused and cut
// letters. Most of the phrase must have been read, and no other phrase may
// come near.
const std::string* rescuePhrase(std::string_view letters) {
    if (letters.size() < kRescueMinLetters || letters.size() > kRescueMaxLetters)
        return nullptr;
    std::array<char, kRescueMaxLetters> buffer{};
    const std::string* bestPhrase = nullptr;
    int best = std::numeric_limits<int>::max();
    int second = std::numeric_limits<int>::max();
    std::size_t bestLength = 0;
    for (const std::string& p : eventPhrases()) {
        std::size_t len = 0;
        for (char c : p) {
            if (c == ' ')
                continue;
            if (len < buffer.size())
                buffer[len] = c;
            ++len;
        }
        if (len > kRescueMaxLetters)
            continue;
        const int dist = fusedDistance(letters, std::string_view(buffer.data(), len));
        // A phrase of which too few letters were read cannot be chosen, but
        // it still stands near: a longer phrase whose later letters were
        // lost reads closer to a shorter one than to itself.
        if (4 * letters.size() < 3 * len) {
            second = std::min(second, dist);
            continue;
        }
        if (dist < best) {
            second = std::min(second, best);
            best = dist;
            bestPhrase = &p;
            bestLength = len;
        } else if (dist < second) {
            second = dist;
        }
    }
    if (bestPhrase == nullptr || best > std::max(2, static_cast<int>(bestLength / 2)))
        return nullptr;
    if (second != std::numeric_limits<int>::max() && second < best + 4)
        return nullptr;
    return bestPhrase;
}

// Whether `word` holds leading digits of the experience amount whose first
// glyph is `next`: digits only, clearly so, closer to it than the blank that
// separates the amount from the phrase (a whole cap), with room in the
// amount's five digits.
bool leadsAmount(const GlyphWord& word, const GlyphRead& next, std::size_t digits) {
    if (word.empty() || digits > 5)
        return false;
    const int gap = next.box.x0 - word.back().box.x1 - 1;
    if (gap > 0.7 * next.box.height())
        return false;
    for (const GlyphRead& g : word)
        if (!isDigit(g.digit) || g.digitScore < g.letterScore || g.digitScore < 0.7f)
            return false;
    return !(word.front().digit == '0');
}

// A glyph that reads clearly better as a letter than as any digit is no
// digit of an amount: two narrow digits fused into one blob (the "11" of
// 411XP) read as an "H", and as a digit only as a poor "0".
constexpr float kAmountLetterLead = 0.05f;

// Whether `g` stands within `left`'s columns, right of where it starts: a
// piece the mask broke off a digit, read as a digit of its own ("752XP"
// read as 7052XP).
bool insideLeftGlyph(const GlyphRead& left, const GlyphRead& g) {
    return g.box.x0 > left.box.x0 && g.box.x1 <= left.box.x1;
}

// Marks the words that are an XP amount ("25XP") and takes the value.
std::vector<bool> readXpWords(const std::vector<GlyphWord>& words, std::size_t count, HudLine& line) {
    std::vector<bool> isXp(count, false);
    constexpr std::size_t kMaxXpDigits = 5;
    for (std::size_t w = 0; w < count; ++w) {
        const GlyphWord& word = words[w];
        const std::size_t n = word.size();
        if (n < 3 || word[n - 2].letter != 'X' || word[n - 1].letter != 'P')
            continue;
        if (n - 2 > kMaxXpDigits)
            continue;
        bool digitsOnly = true;
        std::int32_t value = 0;
        for (std::size_t i = 0; i + 2 < n; ++i) {
            if (!isDigit(word[i].digit) || word[i].letterScore - word[i].digitScore > kAmountLetterLead ||
                (i > 0 && insideLeftGlyph(word[i - 1], word[i]))) {
                digitsOnly = false;
                break;
            }
            value = value * 10 + (word[i].digit - '0');
        }
        if (!digitsOnly)
            continue;
        // The amount's digits stand on advances wider than themselves, so a
        // narrow digit can leave a blank as wide as a word space: digits just
        // before the amount, closer than the blank before it, belong to it.
        std::size_t digits = n - 2;
        std::int32_t scale = 1;
        for (std::size_t i = 0; i + 2 < n; ++i)
            scale *= 10;
        std::size_t first = w;
        while (first > 0 &&
               leadsAmount(words[first - 1], words[first].front(), digits + words[first - 1].size())) {
            const GlyphWord& lead = words[first - 1];
            std::int32_t leadValue = 0;
            std::int32_t leadScale = 1;
            for (const GlyphRead& g : lead) {
                leadValue = leadValue * 10 + (g.digit - '0');
                leadScale *= 10;
            }
            value += leadValue * scale;
            scale *= leadScale;
            digits += lead.size();
            --first;
        }
        line.hasXp = true;
        line.xp = value;
        for (std::size_t k = first; k <= w; ++k)
            isXp[k] = true;
    }
    return isXp;
}

// The line's words as read and as snapped to the game's vocabulary.
struct WordTally {
    std::string raw;
    std::string best;
    std::string bestCompact;
    std::string snappedOnly;
    std::string allLetters;
    std::size_t totalLetters = 0;
    std::size_t snappedLetters = 0;
    std::size_t wordCount = 0;
    std::size_t snappedWords = 0;
};

WordTally tallyWords(const std::vector<GlyphWord>& words, std::size_t count, const std::vector<bool>& isXp) {
    WordTally t;
    std::string letters;
    for (std::size_t w = 0; w < count; ++w) {
        if (isXp[w] || words[w].size() < 2)
            continue;
        letters.clear();
        for (const GlyphRead& g : words[w])
            letters.push_back(g.letter);
        const WordSnap snap = snapWord(letters);
        ++t.wordCount;
        t.totalLetters += letters.size();
        appendJoined(t.raw, letters);
        t.allLetters.append(letters);
        appendJoined(t.best, snap.word);
        t.bestCompact.append(snap.word);
        if (snap.snapped) {
            ++t.snappedWords;
            t.snappedLetters += letters.size();
            appendJoined(t.snappedOnly, snap.word);
        }
    }
    return t;
}

// A phrase of the game is the strongest evidence: take it when enough of the
// words were recognised on their own, or the whole reading is within a
// letter of it.
bool takeBestPhrase(const WordTally& t, HudLine& line) {
    if (t.best.empty())
        return false;
    const PhraseSnap phrase = snapPhrase(t.best);
    if (!phrase.matched)
        return false;
    bool accept = 2 * t.snappedLetters >= t.totalLetters;
    if (!accept && t.totalLetters >= 3) {
        std::string phraseCompact;
        for (char c : phrase.phrase)
            if (c != ' ')
                phraseCompact.push_back(c);
        accept = editDistance(t.bestCompact, phraseCompact) <= 2;
    }
    if (!accept)
        return false;
    line.text = phrase.phrase;
    line.known = true;
    return true;
}

} // namespace

bool isWholePhrase(const HudLine& line) {
    if (!line.known || line.text.empty())
        return false;
    const std::vector<std::string>& phrases = eventPhrases();
    return std::find(phrases.begin(), phrases.end(), line.text) != phrases.end();
}

} // namespace hud::reward

namespace hud {

using namespace reward;

void readLineText(const std::vector<GlyphWord>& words, std::size_t count, HudLine& line) {
    count = std::min(count, words.size());
    const std::vector<bool> isXp = readXpWords(words, count, line);
    const WordTally t = tallyWords(words, count, isXp);
    line.raw = t.raw;

    if (takeBestPhrase(t, line))
        return;
    if (!t.snappedOnly.empty()) {
        const PhraseSnap phrase = snapPhrase(t.snappedOnly);
        if (phrase.matched && phrase.phrase == t.snappedOnly) {
            line.text = t.snappedOnly;
            line.known = true;
            // Words that snapped to nothing may be the rest of a longer
            // phrase ending in these ("KILL GONHRMED" is "KILL CONFIRMED"):
            // that phrase wins when the letters as read are clearly it.
            if (t.snappedWords < t.wordCount) {
                const std::string* longer = rescuePhrase(t.allLetters);
                if (longer != nullptr && longer->size() > t.snappedOnly.size() &&
                    longer->find(t.snappedOnly) != std::string::npos)
                    line.text = *longer;
            }
            return;
        }
    }
    if (const std::string* rescued = rescuePhrase(t.allLetters)) {
        line.text = *rescued;
        line.known = true;
        return;
    }
    // Event words in an order the phrase list does not know are still
    // worth reporting when they make up most of the line.
    if (t.snappedWords >= 1 && 3 * t.snappedLetters >= 2 * t.totalLetters && t.snappedLetters >= 4) {
        line.text = t.snappedOnly;
        line.known = t.snappedWords == t.wordCount;
    }
}

} // namespace hud

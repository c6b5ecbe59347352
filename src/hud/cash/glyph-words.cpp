#include "hud/cash/lines-internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>
#include <vector>

// A row's blobs as glyphs: fused letters cut apart, every glyph scored as a
// letter and as a digit in one batch, and the glyphs grouped into words.

namespace hud::reward {

namespace {

// A glyph whose better reading is weaker than this is not text.
constexpr float kGlyphMinScore = 0.55f;

// Splits the area of a blob between two parts in proportion to their widths;
// the cut column's share goes to neither.
void shareArea(const Blob& whole, Blob& left, Blob& right) {
    const double w = whole.width();
    left.area = static_cast<int>(whole.area * (left.width() / w));
    right.area = static_cast<int>(whole.area * (right.width() / w));
}

// Wider than any one glyph of the reward lines (the widest letters stay
// under 1.3 line heights, with letter spacing): such a blob is letters run
// together, whatever the classifier thinks of it.
constexpr double kSeveralGlyphs = 1.9;

// The column of the blob's middle half with the least ink over rows r0..r1;
// -1 when the blob is too narrow to have one.
int faintestColumn(const Plane& ink2, const Blob& blob, int r0, int r1) {
    const int w = blob.width();
    const int c0 = static_cast<int>(0.25 * w);
    const int c1 = static_cast<int>(0.75 * w) - 1;
    if (c1 < c0)
        return -1;
    int cut = blob.x0 + c0;
    double lowest = std::numeric_limits<double>::infinity();
    for (int c = c0; c <= c1; ++c) {
        const int x = blob.x0 + c;
        double sum = 0.0;
        if (x >= 0 && x < ink2.width)
            for (int y = r0; y <= r1; ++y)
                sum += ink2.at(x, y);
        if (sum < lowest) {
            lowest = sum;
            cut = x;
        }
    }
    return cut;
}

// Cuts a run of several fused letters at its faintest middle column until
// every piece is narrow enough to be at most two letters; a single cut into
// halves of two letters each would classify no better than the whole, and
// the run would be dropped with its word.
void cutRuns(const Plane& ink2, const Blob& blob, int r0, int r1, double lh, std::vector<Blob>& out) {
    if (blob.width() <= kSeveralGlyphs * lh) {
        out.push_back(blob);
        return;
    }
    const int cut = faintestColumn(ink2, blob, r0, r1);
    Blob left = blob;
    left.x1 = cut - 1;
    Blob right = blob;
    right.x0 = cut + 1;
    if (cut < 0 || left.width() < 3 || right.width() < 3) {
        out.push_back(blob);
        return;
    }
    shareArea(blob, left, right);
    cutRuns(ink2, left, r0, r1, lh, out);
    cutRuns(ink2, right, r0, r1, lh, out);
}

// Splits each blob wider than a glyph into two at its faintest column when
// both halves read clearly better than the whole.
// Classes a caller may keep of the cells splitPairs classified: per part
// returned, the row of its cell, or -1; row r's best characters among the
// charset's first `divide` characters are head[r], among the rest tail[r].
struct SplitScores {
    std::size_t divide = 0;
    std::vector<int> rowOf;
    std::vector<GlyphClass> head;
    std::vector<GlyphClass> tail;
};

// A blob that may be cut, with its two parts.
struct Split {
    Blob left;
    Blob right;
    std::size_t cell = 0; // cells of whole, left, right from here on
};

// Room for `count` glyph cells, kept from call to call: sampleGlyphCell
// writes every value, so nothing is cleared.
float* glyphCells(std::vector<float>& room, std::size_t count) {
    const std::size_t need = count * static_cast<std::size_t>(kGlyphCellLength);
    if (room.size() < need)
        room.resize(need);
    return room.data();
}

// splitPairs' working memory, kept per thread from row to row.
struct PairScratch {
    std::vector<Split> splits;
    std::vector<int> splitOf;
    std::vector<float> cells;
    std::vector<float*> samples;
    std::vector<const float*> views;
    SplitScores classes;
};

std::vector<Blob> splitPairs(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                             double bottom, double lh, int r0, int r1, const detail::Templates& glyphs,
                             std::string_view charset, SplitScores* kept = nullptr) {
    const Plane& ink2 = planes.ink2;
    std::vector<Blob> out;
    out.reserve(blobs.size() + 4);
    // The blobs that may be cut, with their two parts (splitOf is -1 for a
    // blob kept whole). All candidates are sampled first and scored in one
    // batch, so that each template is read once per row.
    thread_local PairScratch s;
    std::vector<Split>& splits = s.splits;
    std::vector<int>& splitOf = s.splitOf;
    splits.clear();
    splitOf.assign(blobs.size(), -1);
    for (std::size_t k = 0; k < blobs.size(); ++k) {
        const Blob& blob = blobs[k];
        if (blob.width() <= 0.95 * lh)
            continue;
        const int cut = faintestColumn(ink2, blob, r0, r1);
        if (cut < 0)
            continue;
        Split sp;
        sp.left = blob;
        sp.left.x1 = cut - 1;
        sp.right = blob;
        sp.right.x0 = cut + 1;
        if (sp.left.width() < 3 || sp.right.width() < 3)
            continue;
        sp.cell = 3 * splits.size();
        splitOf[k] = static_cast<int>(splits.size());
        splits.push_back(sp);
    }
    if (splits.empty()) {
        out = blobs;
        if (kept)
            kept->rowOf.assign(out.size(), -1);
        return out;
    }
    const std::size_t cellCount = 3 * splits.size();
    float* cells = glyphCells(s.cells, cellCount);
    std::vector<float*>& samples = s.samples;
    samples.assign(cellCount, nullptr);
    for (std::size_t k = 0; k < blobs.size(); ++k) {
        if (splitOf[k] < 0)
            continue;
        const Split& sp = splits[static_cast<std::size_t>(splitOf[k])];
        const Blob* parts[3] = {&blobs[k], &sp.left, &sp.right};
        for (std::size_t p = 0; p < 3; ++p) {
            float* cell = cells + (sp.cell + p) * static_cast<std::size_t>(kGlyphCellLength);
            sampleGlyphCell(ink2, *parts[p], top, bottom, lh, cell);
            samples[sp.cell + p] = cell;
        }
    }
    normalizeVectors(samples.data(), samples.size(), static_cast<std::size_t>(kGlyphCellLength));
    std::vector<const float*>& views = s.views;
    views.assign(samples.begin(), samples.end());
    // Each cell is classified over the two parts of the charset the caller
    // reads it by (letters and digits), which is what it keeps; the best
    // of the two is the best over the whole charset, which decides a cut.
    // Only the best two of a part are wanted, so the bounded search serves.
    SplitScores& classes = kept ? *kept : s.classes;
    const std::size_t divide = kept ? std::min(kept->divide, charset.size()) : charset.size();
    classes.head.resize(views.size());
    classes.tail.assign(views.size(), GlyphClass{});
    classifyGlyphs(views.data(), views.size(), glyphs, charset.substr(0, divide), classes.head.data());
    if (divide < charset.size())
        classifyGlyphs(views.data(), views.size(), glyphs, charset.substr(divide), classes.tail.data());
    auto scoreOf = [&](std::size_t cell) {
        return std::max(classes.head[cell].score, classes.tail[cell].score);
    };
    auto keep = [&](const Blob& b, int row) {
        out.push_back(b);
        if (kept)
            kept->rowOf.push_back(row);
    };
    if (kept)
        kept->rowOf.clear();

    for (std::size_t k = 0; k < blobs.size(); ++k) {
        const Blob& blob = blobs[k];
        if (splitOf[k] < 0) {
            keep(blob, -1);
            continue;
        }
        Split sp = splits[static_cast<std::size_t>(splitOf[k])];
        const float whole = scoreOf(sp.cell);
        const float ls = scoreOf(sp.cell + 1);
        const float rs = scoreOf(sp.cell + 2);
        if (ls > whole + 0.05f && rs > whole + 0.05f) {
            shareArea(blob, sp.left, sp.right);
            keep(sp.left, static_cast<int>(sp.cell + 1));
            keep(sp.right, static_cast<int>(sp.cell + 2));
        } else {
            keep(blob, static_cast<int>(sp.cell));
        }
    }
    return out;
}

std::vector<Blob> splitKeepingScores(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                     double bottom, double lh, const detail::Templates& glyphs,
                                     std::string_view charset, SplitScores* kept) {
    if (kept) {
        kept->rowOf.clear();
        kept->head.clear();
        kept->tail.clear();
    }
    std::vector<Blob> out;
    out.reserve(blobs.size() + 4);
    if (!(lh > 0.0) || !std::isfinite(lh) || !std::isfinite(top) || !std::isfinite(bottom)) {
        out = blobs;
        return out;
    }
    const Plane& ink2 = planes.ink2;
    if (ink2.empty() || !sameSize(ink2, ink2.width, ink2.height)) {
        out = blobs;
        return out;
    }
    // The band of rows whose ink decides the cut, clipped to the plane.
    int r0 = 0;
    int r1 = -1;
    const double bandTop = std::max(top, 0.0);
    const double bandBottom = std::min(bottom, static_cast<double>(ink2.height - 1));
    if (bandTop <= bandBottom) {
        r0 = static_cast<int>(bandTop);
        r1 = static_cast<int>(bandBottom);
    }
    std::vector<Blob> runs;
    runs.reserve(blobs.size() + 4);
    for (const Blob& blob : blobs)
        cutRuns(ink2, blob, r0, r1, lh, runs);
    return splitPairs(planes, runs, top, bottom, lh, r0, r1, glyphs, charset, kept);
}

// readGlyphWords' working memory, kept per thread from row to row.
struct WordScratch {
    SplitScores split;
    std::vector<const Blob*> kept;
    std::vector<int> scoredRow;
    std::vector<GlyphClass> letters;
    std::vector<GlyphClass> digits;
    std::vector<std::size_t> fresh;
    std::vector<float> cells;
    std::vector<float*> samples;
    std::vector<const float*> views;
    std::vector<GlyphClass> freshLetters;
    std::vector<GlyphClass> freshDigits;
};

} // namespace

} // namespace hud::reward

namespace hud {

using namespace reward;

std::vector<Blob> splitFusedGlyphs(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                   double bottom, double lh, const detail::Templates& glyphs,
                                   std::string_view charset) {
    return splitKeepingScores(planes, blobs, top, bottom, lh, glyphs, charset, nullptr);
}

std::vector<GlyphWord> readGlyphWords(const FramePlanes& planes, const std::vector<Blob>& blobs, double top,
                                      double bottom, double lh, const detail::Templates& glyphs) {
    std::vector<GlyphWord> words;
    const Plane& ink2 = planes.ink2;
    if (!(lh > 0.0) || !std::isfinite(lh) || ink2.empty() || !sameSize(ink2, ink2.width, ink2.height))
        return words;
    thread_local WordScratch s;
    SplitScores& split = s.split;
    split.divide = kLineLetters.size();
    const std::vector<Blob> parts =
        splitKeepingScores(planes, blobs, top, bottom, lh, glyphs, kLineCharset, &split);
    // Every glyph of the row is sampled first and then classified in one
    // batch, so that each template is read once per row, not once per glyph.
    // A part whose cell the splitting already scored (a wide blob, kept
    // whole or cut) is not scored again: the same cell gives the same
    // scores, and the letters and digits are the charset's two halves.
    static_assert(kLineCharset.substr(0, kLineLetters.size()) == kLineLetters &&
                      kLineCharset.substr(kLineLetters.size()) == kLineDigits,
                  "the line charset is the letters, then the digits");
    std::vector<const Blob*>& kept = s.kept;
    std::vector<int>& scoredRow = s.scoredRow;
    kept.clear();
    scoredRow.clear();
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Blob& b = parts[p];
        const int bh = b.height();
        if (bh < 0.7 * lh || bh > 1.35 * lh)
            continue;
        kept.push_back(&b);
        scoredRow.push_back(p < split.rowOf.size() ? split.rowOf[p] : -1);
    }
    std::vector<GlyphClass>& letters = s.letters;
    std::vector<GlyphClass>& digits = s.digits;
    std::vector<std::size_t>& fresh = s.fresh;
    letters.assign(kept.size(), GlyphClass{});
    digits.assign(kept.size(), GlyphClass{});
    fresh.clear();
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (scoredRow[k] < 0) {
            fresh.push_back(k);
            continue;
        }
        letters[k] = split.head[static_cast<std::size_t>(scoredRow[k])];
        digits[k] = split.tail[static_cast<std::size_t>(scoredRow[k])];
    }
    float* cells = glyphCells(s.cells, fresh.size());
    std::vector<float*>& samples = s.samples;
    samples.assign(fresh.size(), nullptr);
    for (std::size_t f = 0; f < fresh.size(); ++f) {
        samples[f] = cells + f * static_cast<std::size_t>(kGlyphCellLength);
        sampleGlyphCell(ink2, *kept[fresh[f]], top, bottom, lh, samples[f]);
    }
    normalizeVectors(samples.data(), samples.size(), static_cast<std::size_t>(kGlyphCellLength));
    std::vector<const float*>& views = s.views;
    views.assign(samples.begin(), samples.end());
    std::vector<GlyphClass>& freshLetters = s.freshLetters;
    std::vector<GlyphClass>& freshDigits = s.freshDigits;
    freshLetters.resize(fresh.size());
    freshDigits.resize(fresh.size());
    classifyGlyphs(views.data(), views.size(), glyphs, kLineLetters, freshLetters.data());
    classifyGlyphs(views.data(), views.size(), glyphs, kLineDigits, freshDigits.data());
    for (std::size_t f = 0; f < fresh.size(); ++f) {
        letters[fresh[f]] = freshLetters[f];
        digits[fresh[f]] = freshDigits[f];
    }

    const Blob* previous = nullptr;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const Blob& b = *kept[k];
        const GlyphClass& letter = letters[k];
        const GlyphClass& digit = digits[k];
        if (std::max(letter.score, digit.score) < kGlyphMinScore)
            continue;
        GlyphRead g;
        g.box = b;
        g.letter = letter.character;
        g.letterScore = letter.score;
        g.letterSecond = letter.second;
        g.digit = digit.character;
        g.digitScore = digit.score;
        g.digitSecond = digit.second;
        // Word spaces are about half a letter; letter spacing far less.
        if (previous == nullptr || b.x0 - previous->x1 - 1 > 0.28 * lh)
            words.emplace_back();
        words.back().push_back(g);
        previous = &b;
    }
    return words;
}

bool looksNumeric(const GlyphWord& word) {
    if (word.empty())
        return false;
    // Letters the glyph reader gives to digits it is unsure of.
    constexpr std::string_view kDigitLike = "OSBZIGDQ";
    std::size_t count = 0;
    for (const GlyphRead& g : word)
        if (g.digitScore >= g.letterScore - 0.04f || kDigitLike.find(g.letter) != std::string_view::npos)
            ++count;
    return 4 * count >= 3 * word.size();
}

} // namespace hud

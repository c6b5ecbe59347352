#include "hud/plate/plate.h"

#include "hud/cash/vocab.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace hud {

namespace {

// Components that can be plate letters at the 2160-line capture scale.
constexpr int kMinComponentHeight = 5;
constexpr int kMaxComponentHeight = 40;
constexpr int kMaxComponentWidth = 60;
constexpr int kMinComponentArea = 5;

// The plate's right edge stands this far left of the capture's right edge;
// the line nearest to it is the plate.
constexpr double kPlateRightMargin = 50.328;
constexpr double kPlateRightTolerance = 75.6;
constexpr double kMinCap = 10.0;
constexpr double kMaxCap = 34.0;
constexpr double kTallShare = 0.7;
constexpr int kMinTallComponents = 2;

constexpr double kGlyphMinHeight = 0.7;
constexpr double kGlyphMaxHeight = 1.4;
constexpr double kWordGap = 0.4;

// The slash between the item's name and its ammunition.
constexpr double kSlashMinHeight = 0.8;
constexpr double kSlashMinWidth = 0.2;
constexpr double kSlashMaxWidth = 0.75;
constexpr int kSlashMinPixels = 6;
constexpr double kSlashMaxCorrelation = -0.72;

// The brackets around a mounted weapon ("KODIAK [M249]") reach above the
// capitals and below their baseline: about 1.3 to 1.45 cap high and a quarter
// to a third of a cap wide on the plate. Letters that tall only come from ink
// run together with the scene, and then they are at least two thirds of a cap
// wide.
constexpr double kBracketMinHeight = 1.15;
constexpr double kBracketMaxWidth = 0.5;

constexpr float kAcceptScore = 0.7f;
constexpr float kAcceptShortKeyScore = 0.78f;
constexpr std::size_t kShortKey = 3;
constexpr float kAcceptLead = 0.08f;

using Cell = std::array<float, kGlyphCellLength>;

// A weapon table entry as the matcher needs it, prepared once.
struct PlateEntry {
    std::string key;
    int minWords = 1;
    int maxWords = 1;
};

const std::vector<PlateEntry>& plateEntries() {
    static const std::vector<PlateEntry> entries = [] {
        std::vector<PlateEntry> out;
        for (const WeaponEntry& e : weaponTable()) {
            PlateEntry p;
            p.key = weaponKey(e.name);
            const auto spaces = static_cast<int>(std::count(e.name.begin(), e.name.end(), ' '));
            const auto hyphens = static_cast<int>(std::count(e.name.begin(), e.name.end(), '-'));
            // A hyphen is too short to be a glyph and may leave a word gap.
            p.minWords = spaces + 1;
            p.maxWords = spaces + 1 + hyphens;
            out.push_back(std::move(p));
        }
        return out;
    }();
    return entries;
}

int charIndex(char c) {
    const std::size_t at = detail::kPlateCharset.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// A thin stroke rising to the right: the pixels' x and y fall together.
bool isSlash(const std::vector<std::uint8_t>& mask, int width, const Blob& b, double cap) {
    const int bw = b.width();
    if (b.height() < kSlashMinHeight * cap || bw < kSlashMinWidth * cap || bw > kSlashMaxWidth * cap)
        return false;
    if (width <= 0 || b.x0 < 0 || b.y0 < 0 || b.x1 >= width)
        return false;
    const auto w = static_cast<std::size_t>(width);
    if (static_cast<std::size_t>(b.y1) >= mask.size() / w)
        return false;
    double n = 0.0;
    double sx = 0.0;
    double sy = 0.0;
    double sxx = 0.0;
    double syy = 0.0;
    double sxy = 0.0;
    for (int y = b.y0; y <= b.y1; ++y) {
        const std::uint8_t* row = mask.data() + static_cast<std::size_t>(y) * w;
        for (int x = b.x0; x <= b.x1; ++x) {
            if (!row[x])
                continue;
            n += 1.0;
            sx += x;
            sy += y;
            sxx += static_cast<double>(x) * x;
            syy += static_cast<double>(y) * y;
            sxy += static_cast<double>(x) * y;
        }
    }
    if (n < kSlashMinPixels)
        return false;
    const double vx = sxx / n - (sx / n) * (sx / n);
    const double vy = syy / n - (sy / n) * (sy / n);
    if (!(vx > 0.0) || !(vy > 0.0))
        return false;
    const double r = (sxy / n - (sx / n) * (sy / n)) / std::sqrt(vx * vy);
    return r <= kSlashMaxCorrelation;
}

// No table key holds a bracket, so a bracket is passed over; kept as a glyph
// it would make every bracketed name one or two glyphs too long to match.
bool isBracket(const Blob& b, double cap) {
    return b.height() >= kBracketMinHeight * cap && b.width() <= kBracketMaxWidth * cap;
}

float charScore(const float* cell, char c, const Model& model, const KillData& killData) {
    float best = kNoScore;
    if (const detail::TemplateList* list = model.glyphs.find(c))
        best = std::max(best, bestTemplateScore(cell, *list, kGlyphCellLength));
    if (const detail::TemplateList* list = killData.digits.find(c))
        best = std::max(best, bestTemplateScore(cell, *list, kGlyphCellLength));
    return best;
}

// Per-thread buffers, so that a steady stream of plates does not allocate.
struct PlateScratch {
    FramePlanes planes;
    std::vector<Blob> components;
    std::vector<Blob> candidates;
    std::vector<Blob> glyphs;
    std::vector<int> wordLengths;
    std::vector<Cell> cells;
    std::vector<detail::PlateGlyphScores> scores;
    std::vector<RowGeometry> geometry;
};

} // namespace

namespace detail {

void plateGlyphs(const std::vector<std::uint8_t>& mask, int width, const std::vector<Blob>& line, double cap,
                 std::vector<Blob>& glyphs, std::vector<int>& wordLengths) {
    glyphs.clear();
    wordLengths.clear();
    const Blob* previous = nullptr;
    for (const Blob& b : line) {
        if (isSlash(mask, width, b, cap))
            break;
        if (isBracket(b, cap))
            continue;
        const int bh = b.height();
        if (bh < kGlyphMinHeight * cap || bh > kGlyphMaxHeight * cap)
            continue;
        if (previous == nullptr || b.x0 - previous->x1 > kWordGap * cap)
            wordLengths.push_back(0);
        ++wordLengths.back();
        glyphs.push_back(b);
        previous = &b;
    }
}

PlateMatch matchPlate(const std::vector<PlateGlyphScores>& glyphs, const std::vector<int>& wordLengths) {
    struct Candidate {
        int entry;
        float score;
    };
    thread_local std::vector<Candidate> candidates;
    candidates.clear();
    const std::vector<PlateEntry>& entries = plateEntries();
    std::size_t g = 0;
    for (std::size_t w = 1; w <= wordLengths.size(); ++w) {
        g += static_cast<std::size_t>(std::max(wordLengths[w - 1], 0));
        if (g > glyphs.size())
            break;
        const int words = static_cast<int>(w);
        for (std::size_t e = 0; e < entries.size(); ++e) {
            const PlateEntry& entry = entries[e];
            if (entry.key.size() != g || words < entry.minWords || words > entry.maxWords)
                continue;
            float score = std::numeric_limits<float>::infinity();
            for (std::size_t k = 0; k < g; ++k) {
                const int c = charIndex(entry.key[k]);
                const float s = c < 0 ? -1.0f : glyphs[k][static_cast<std::size_t>(c)];
                score = std::min(score, s);
            }
            candidates.push_back(Candidate{static_cast<int>(e), score});
        }
    }
    const auto needed = [](const std::string& key) {
        return key.size() <= kShortKey ? kAcceptShortKeyScore : kAcceptScore;
    };
    const auto extends = [](const std::string& longer, const std::string& shorter) {
        return longer.size() > shorter.size() && longer.compare(0, shorter.size(), shorter) == 0;
    };
    PlateMatch match;
    for (const Candidate& c : candidates)
        if (match.entry < 0 || c.score > match.score) {
            match.entry = c.entry;
            match.score = c.score;
        }
    if (match.entry < 0)
        return match;
    // A name that is the leading words of a longer one ("URAL" of "URAL
    // DEFENDER", "KODIAK" of "KODIAK [M249]") scores at least as well as the
    // longer one on the same glyphs, and would block it for ever. The longest
    // such longer name that the line reads well enough on its own is the
    // item shown, and the names it extends are not its rivals. A longer name
    // read too weakly stays a rival of the shorter one.
    const std::string* key = &entries[static_cast<std::size_t>(match.entry)].key;
    for (const Candidate& c : candidates) {
        const std::string& other = entries[static_cast<std::size_t>(c.entry)].key;
        if (extends(other, *key) && c.score >= needed(other)) {
            match.entry = c.entry;
            match.score = c.score;
            key = &other;
        }
    }
    for (const Candidate& c : candidates) {
        const std::string& other = entries[static_cast<std::size_t>(c.entry)].key;
        if (other != *key && !extends(*key, other) && c.score > match.second)
            match.second = c.score;
    }
    match.accepted = match.score >= needed(*key) && match.score - match.second >= kAcceptLead;
    return match;
}

} // namespace detail

PlateRead readPlate(const Model& model, const KillData& killData, const std::uint8_t* pixels, int width,
                    int height, int bytesPerLine) {
    PlateRead out;
    const FrameView frame{width, height, pixels, bytesPerLine};
    if (!frame.valid())
        return out;
    thread_local PlateScratch s;
    FramePlanes& planes = s.planes;
    prepareFrame(frame, planes);
    if (planes.mask.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return out;

    labelComponents(planes.mask, width, height, s.components, planes.scratch.labels);
    s.candidates.clear();
    for (const Blob& b : s.components)
        if (b.height() >= kMinComponentHeight && b.height() <= kMaxComponentHeight &&
            b.width() <= kMaxComponentWidth && b.area >= kMinComponentArea)
            s.candidates.push_back(b);
    std::vector<RowGeometry>& geometry = s.geometry;
    const std::vector<std::vector<Blob>> lines = groupRows(s.candidates, &geometry);

    // The plate is the line of letters whose right end stands where the
    // game puts it.
    const double expectedRight = width - kPlateRightMargin;
    int chosen = -1;
    double nearest = kPlateRightTolerance;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double cap = geometry[i].height;
        int tall = 0;
        int right = std::numeric_limits<int>::min();
        for (const Blob& b : lines[i])
            if (b.height() >= kTallShare * cap) {
                ++tall;
                right = std::max(right, b.x1);
            }
        if (tall < kMinTallComponents || cap < kMinCap || cap > kMaxCap)
            continue;
        const double distance = std::abs(right - expectedRight);
        if (distance < nearest) {
            nearest = distance;
            chosen = static_cast<int>(i);
        }
    }
    if (chosen < 0)
        return out;
    out.found = true;

    const std::vector<Blob>& line = lines[static_cast<std::size_t>(chosen)];
    const RowGeometry& row = geometry[static_cast<std::size_t>(chosen)];
    detail::plateGlyphs(planes.mask, width, line, row.height, s.glyphs, s.wordLengths);

    const std::size_t count = s.glyphs.size();
    s.cells.resize(count);
    s.scores.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        float* cell = s.cells[k].data();
        sampleGlyphCell(planes.ink, s.glyphs[k], row.top, row.bottom, row.height, cell);
        normalizeVector(cell, kGlyphCellLength);
        for (std::size_t c = 0; c < detail::kPlateCharCount; ++c)
            s.scores[k][c] = charScore(cell, detail::kPlateCharset[c], model, killData);
    }

    std::size_t k = 0;
    for (std::size_t w = 0; w < s.wordLengths.size(); ++w) {
        if (w > 0)
            out.read.push_back(' ');
        for (int i = 0; i < s.wordLengths[w]; ++i, ++k) {
            char best = '?';
            float bestScore = kNoScore;
            for (std::size_t c = 0; c < detail::kPlateCharCount; ++c)
                if (s.scores[k][c] > bestScore) {
                    bestScore = s.scores[k][c];
                    best = detail::kPlateCharset[c];
                }
            out.read.push_back(best);
        }
    }

    const detail::PlateMatch match = detail::matchPlate(s.scores, s.wordLengths);
    out.score = match.score;
    if (match.accepted) {
        const WeaponEntry& entry = weaponTable()[static_cast<std::size_t>(match.entry)];
        out.name = entry.name;
        out.weapon = entry.weapon;
        out.weaponClass = entry.weaponClass;
    }
    return out;
}

} // namespace hud

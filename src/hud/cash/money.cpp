#include "hud/cash/money.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace hud {

namespace {

constexpr char kDigits[] = "0123456789";
constexpr int kDigitCount = 10;

// Offsets tried around a predicted centre after the first character.
constexpr int kFollowRadius = 3;
// A digit scoring below this ends the figure unread.
constexpr float kMinDigitScore = 0.45f;
// Below this margin the pair tie-breaker is consulted.
constexpr float kCloseCall = 0.08f;
constexpr float kPairConfident = 2.0f;
constexpr float kMinusPresent = 0.6f;
// A minus that alone, without the arrow, makes the sign certain.
constexpr float kMinusSure = 0.75f;
// Template margins up to this still go past the tie-breaker on the balance
// and the change. A bright world behind the HUD thins the strokes that tell
// an "8" from a "3", and the thinned "8" then correlates better with "3" by
// a clear margin; only the tie-breaker still sees the difference.
constexpr float kConfirmBelow = 0.2f;
// A tie-breaker that leans the same way at both candidates' positions by at
// least this much settles a close call, though with a small margin.
constexpr float kPairLean = 1.0f;
constexpr float kLeanMargin = 0.05f;
// How far a settling classifier must speak for one candidate, at both
// positions, to settle a tie. A reward figure is tried from several places,
// and a tie settled in a misplaced reading would let it through, so it needs
// more than the balance and the change, whose every digit must also reach
// the reader's confidence.
constexpr float kSettleFigure = 1.5f;
constexpr float kSettleMoney = 1.0f;
// What a balance digit's settling classifier must give on average over
// both places, a little past kSettleMoney.
constexpr float kSettleMoneyAverage = 1.18f;
// A balance or change digit that beats the next by less than the confirming
// margin needs its settling classifier to back it at least this much: soft
// 720p footage thins an "8" until its template loses to the "6"'s by a
// clear margin and the tie-breaker leans for the "6" too; only the settling
// classifier, trained on such footage, hesitates.
constexpr float kSettlerBacks = 0.5f;
// The candidate a tie is settled for must still look like its character;
// a letter or a half-seen digit between two templates does not.
constexpr float kSettleFloor = 0.8f;
constexpr float kSettledMargin = 0.04f;
// The soft digits' second look starts at the first look's rightmost digit,
// so it need not search far.
constexpr int kSoftRadius = 1;
// The soft templates fit more shapes than the first ones, a half-seen or
// misplaced figure's among them: their look counts only as far as it is as
// sure as a balance must be, whatever the caller's own floor.
constexpr float kSoftFloor = 0.85f;
// A balance character whose template beats every other by a wide margin
// at a low score is a thin stroke ("1") or a bright world eating its edges,
// not a doubt between two characters: on the second look it needs only
// this score. The first value and the tie-breakers must still agree.
constexpr float kWideFloor = 0.55f;
// The change read without its blobs: the last digit's centre this many line
// heights left of where its ink must end, searched as widely as for a wide
// blob.
constexpr double kChangeLastDigitHalf = 0.43;
constexpr int kChangeSecondRadius = 4;
// Where that ink may end around its expected place, in line heights; the
// arrow starts about one line height further right.
constexpr double kChangeSearchBefore = 1.0;
constexpr double kChangeSearchAfter = 0.6;
// A column holds a figure's ink when this share of the line's rows is inked
// above kFaintColumnInk (the faint mask's level).
constexpr double kInkedRowShare = 0.15;
constexpr float kFaintColumnInk = 0.2173913f;

WidthTable makeTable(double other, std::initializer_list<std::pair<char, double>> widths) {
    WidthTable t{};
    for (double& w : t.byChar)
        w = other;
    for (const auto& [c, w] : widths)
        t.byChar[static_cast<unsigned char>(c)] = w;
    return t;
}

MoneySearch& searchOf(MoneyRowContext& ctx);
float* stripStorage(MoneySearch& s, std::size_t length);
bool sameBlock(MoneyRowContext& ctx, double x, int d0, int k);
void keepBlock(MoneyRowContext& ctx, double x, int d0, int k);

// The strip's rows: the vertical sample positions of sampleMoneyCell, with
// the same test for a row that cannot reach the plane.
void prepareStrip(MoneyRowContext& ctx) {
    MoneyStrip& s = ctx.strip;
    s.ready = true;
    const Plane& p = ctx.plane;
    if (p.empty() ||
        p.pixels.size() < static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height)) {
        s.width = 0;
        return;
    }
    s.width = p.width + 2;
    s.lo = s.hi = 0;
    s.values = stripStorage(searchOf(ctx),
                            static_cast<std::size_t>(kMoneyCellRows) * static_cast<std::size_t>(s.width));
    const double h = ctx.lineHeight;
    const double upper = ctx.top - 0.3 * h;
    const double stepY = (ctx.bottom - ctx.top + 0.6 * h) / kMoneyCellRows;
    for (int i = 0; i < kMoneyCellRows; ++i) {
        const double y = upper + i * stepY;
        s.rowLive[i] = y > -1.0 && y < static_cast<double>(p.height);
        if (!s.rowLive[i])
            continue;
        s.rowIndex[i] = static_cast<int>(std::floor(y));
        s.rowWeight[i] = static_cast<float>(y - s.rowIndex[i]);
    }
}

// Fills strip columns [a, b); strip column c holds plane column c - 1.
void fillStrip(MoneyRowContext& ctx, int a, int b) {
    MoneyStrip& s = ctx.strip;
    const Plane& p = ctx.plane;
    constexpr std::size_t rows = kMoneyCellRows;
    float* const values = s.values;
    std::fill(values + rows * static_cast<std::size_t>(a), values + rows * static_cast<std::size_t>(b), 0.0f);
    // Plane columns inside [a - 1, b - 1).
    const int xa = std::max(a - 1, 0);
    const int xb = std::min(b - 1, p.width);
    if (xa >= xb)
        return;
    for (int i = 0; i < kMoneyCellRows; ++i) {
        if (!s.rowLive[i])
            continue;
        float* __restrict dst = values + rows + static_cast<std::size_t>(i); // plane column 0
        const int iy = s.rowIndex[i];
        const float fy = s.rowWeight[i];
        const float gy = 1.0f - fy;
        const float* __restrict r0 =
            iy >= 0 ? p.pixels.data() + static_cast<std::size_t>(iy) * static_cast<std::size_t>(p.width)
                    : nullptr;
        const float* __restrict r1 =
            iy + 1 < p.height
                ? p.pixels.data() + static_cast<std::size_t>(iy + 1) * static_cast<std::size_t>(p.width)
                : nullptr;
        if (r0 && r1) {
            for (int x = xa; x < xb; ++x)
                dst[rows * static_cast<std::size_t>(x)] = gy * r0[x] + fy * r1[x];
        } else if (r0) {
            for (int x = xa; x < xb; ++x)
                dst[rows * static_cast<std::size_t>(x)] = gy * r0[x];
        } else if (r1) {
            for (int x = xa; x < xb; ++x)
                dst[rows * static_cast<std::size_t>(x)] = fy * r1[x];
        }
    }
}

void ensureStrip(MoneyRowContext& ctx, int a, int b) {
    MoneyStrip& s = ctx.strip;
    a = std::max(a, 0);
    b = std::min(b, s.width);
    if (a >= b)
        return;
    if (s.lo == s.hi) {
        fillStrip(ctx, a, b);
        s.lo = a;
        s.hi = b;
        return;
    }
    if (a < s.lo) {
        fillStrip(ctx, a, s.lo);
        s.lo = a;
    }
    if (b > s.hi) {
        fillStrip(ctx, s.hi, b);
        s.hi = b;
    }
}

void sampleNormalised(MoneyRowContext& ctx, double x, float* cell) {
    sampleLineCell(ctx, x, cell);
    normalizeVector(cell, kMoneyCellLength);
}

void sampleNormalised(MoneyRowContext& ctx, double x) {
    sampleNormalised(ctx, x, ctx.cell);
}

float scoreCell(const MoneyRowContext& ctx, const detail::TemplateList* list) {
    return list ? bestTemplateScore(ctx.cell, *list, kMoneyCellLength) : kNoScore;
}

// Samples the cells at x + d0 .. x + d0 + k - 1 into ctx.block and scores
// each against every list: scores[l][q] is the best correlation of cell q
// with list l, kNoScore for a missing list. Each template is read once for the
// whole block.
void scoreOffsets(MoneyRowContext& ctx, double x, int d0, int k, const detail::TemplateList* const* lists,
                  int listCount, float (*scores)[kMoneyBlock]) {
    const float* cells[kMoneyBlock] = {};
    float* samples[kMoneyBlock] = {};
    for (int q = 0; q < k; ++q) {
        samples[q] = ctx.block[q];
        cells[q] = ctx.block[q];
    }
    // Callers score one place for each character in turn: the block then
    // holds its cells already.
    if (!sameBlock(ctx, x, d0, k)) {
        for (int q = 0; q < k; ++q)
            sampleLineCell(ctx, x + (d0 + q), ctx.block[q]);
        normalizeVectors(samples, static_cast<std::size_t>(k), kMoneyCellLength);
        keepBlock(ctx, x, d0, k);
    }
    for (int l = 0; l < listCount; ++l) {
        float* best = scores[l];
        for (int q = 0; q < k; ++q)
            best[q] = kNoScore;
        if (!lists[l])
            continue;
        for (const detail::Template& t : *lists[l]) {
            if (t.size() < static_cast<std::size_t>(kMoneyCellLength))
                continue;
            float s[kMoneyBlock];
            dotMany(t.data(), cells, static_cast<std::size_t>(k), kMoneyCellLength, s);
            for (int q = 0; q < k; ++q)
                if (s[q] > best[q])
                    best[q] = s[q];
        }
    }
}

} // namespace

// Every candidate character is first bounded from the cells' and templates'
// coarse forms (see coarsenCell); the exact scores are then taken from the
// most promising character down, and only as long as a character's bound
// still reaches the second best exact score, which is all decide() reads.
// Within a character, a template whose bound stays below the character's
// best so far cannot change its score or position either. So the results
// equal those of scoring every template at every offset.
struct MoneySearch {
    struct CoarseSet {
        const detail::TemplateList* list = nullptr;
        const float* sums = nullptr; // kCoarseLength per template
        const float* rest = nullptr; // per template; negative for one too short
        std::vector<float> ownSums;  // where the model came without them
        std::vector<float> ownRest;
        // The 4 x 4 block forms, made from the above when first needed:
        // value j of template t at roughByValue[j * roughStride + t], so
        // that one pass bounds every template at once.
        std::vector<float> roughByValue;
        std::vector<float> roughRest; // roughStride; negative for none
        std::size_t roughStride = 0;
    };
    // Stable: the search holds pointers into it. Sets without a list are
    // free for the next lists.
    std::deque<CoarseSet> sets;
    std::vector<float> coarse; // kCoarseLength per cell
    std::vector<float> rest;   // per cell
    std::vector<float> rough;  // kRoughLength per cell
    std::vector<float> roughRest;
    std::vector<float> offsetBounds;       // 2 x 2 bounds per candidate, template and offset
    std::vector<unsigned char> normalised; // per cell
    std::vector<float> cells;              // kMoneyCellLength per cell
    std::vector<const float*> pointers;
    std::vector<float> scores;
    std::vector<float> best;
    std::vector<float> strip; // the context's MoneyStrip values
    // What the context's block holds: the k normalised cells from x + d0
    // (a context moved or copied keeps its block elsewhere).
    bool blockKept = false;
    const float* blockAt = nullptr;
    double blockX = 0.0;
    int blockD0 = 0;
    int blockK = 0;
};

namespace {

// Sizes only ever grow while a search memory is in use: a vector resized
// down and up again would clear what it grew back into.
template <typename T> void ensureSize(std::vector<T>& v, std::size_t n) {
    if (v.size() < n)
        v.resize(n);
}

// Search memories not in use, per thread. A few suffice: a frame's contexts
// live one or two at a time. One grown far beyond a usual line's needs is
// not kept.
constexpr std::size_t kPooledSearches = 4;
constexpr std::size_t kMostPooledFloats = std::size_t{1} << 18;

struct SearchPool {
    std::vector<std::unique_ptr<MoneySearch>> idle;
};

SearchPool& searchPool() {
    thread_local SearchPool pool;
    return pool;
}

void returnSearch(MoneySearch* s) {
    std::unique_ptr<MoneySearch> owned(s);
    // Its coarse sets point into the templates of the context's model,
    // which may be gone before the memory is next used: they are emptied,
    // their storage kept for the next context's sets.
    for (MoneySearch::CoarseSet& set : owned->sets) {
        set.list = nullptr;
        set.sums = nullptr;
        set.rest = nullptr;
        set.roughStride = 0;
    }
    SearchPool& pool = searchPool();
    if (pool.idle.size() >= kPooledSearches || owned->cells.capacity() > kMostPooledFloats ||
        owned->coarse.capacity() > kMostPooledFloats || owned->strip.capacity() > kMostPooledFloats)
        return;
    pool.idle.push_back(std::move(owned));
}

MoneySearch& searchOf(MoneyRowContext& ctx) {
    if (!ctx.search) {
        SearchPool& pool = searchPool();
        std::unique_ptr<MoneySearch> s;
        if (pool.idle.empty()) {
            s = std::make_unique<MoneySearch>();
        } else {
            s = std::move(pool.idle.back());
            pool.idle.pop_back();
        }
        s->blockKept = false; // the block is another context's
        ctx.search = std::shared_ptr<MoneySearch>(s.release(), returnSearch);
    }
    return *ctx.search;
}

bool sameBlock(MoneyRowContext& ctx, double x, int d0, int k) {
    const MoneySearch& s = searchOf(ctx);
    return s.blockKept && s.blockAt == ctx.block[0] && s.blockX == x && s.blockD0 == d0 && s.blockK == k;
}

void keepBlock(MoneyRowContext& ctx, double x, int d0, int k) {
    MoneySearch& s = searchOf(ctx);
    s.blockKept = true;
    s.blockAt = ctx.block[0];
    s.blockX = x;
    s.blockD0 = d0;
    s.blockK = k;
}

float* stripStorage(MoneySearch& s, std::size_t length) {
    ensureSize(s.strip, length);
    return s.strip.data();
}

constexpr int kCoarseLength = (kMoneyCellColumns / 2) * (kMoneyCellRows / 2);
// What the bounds allow for the rounding of the float sums: far above it,
// far below the gaps between the scores that the pruning relies on.
constexpr float kBoundSlack = 1e-3f;
// A block of offsets beyond this is scored without the search.
constexpr int kMostSearchedOffsets = 2 * 64 + 1;
constexpr std::size_t kMostCandidates = kDigitCount + 1;

constexpr int kRoughColumns = kMoneyRoughColumns;
constexpr int kRoughRows = kMoneyRoughRows;
constexpr int kRoughLength = kMoneyRoughLength;
static_assert(kMoneyCellColumns % 4 == 0 && kMoneyCellRows % 4 == 0, "a 4 x 4 block is four 2 x 2 ones");
// The rough bound's own rounding, on top of the coarse bound's allowance.
constexpr float kRoughSlack = 1e-3f;

} // namespace

#if CORVEX_HUD_AVX
namespace {

// Eight values of two rows as four 2 x 2 blocks: the blocks' sums halved
// into out[0 .. 4), their values' squared deviations from the blocks' means
// added to `acc`.
CORVEX_HUD_TARGET_AVX inline void blocksOfEight(const float* top, const float* below, float* out,
                                                __m256& acc) {
    const __m256 t = _mm256_loadu_ps(top);
    const __m256 b = _mm256_loadu_ps(below);
    // Per 128-bit half: the sums of the column pairs (0, 1) and (2, 3), each
    // repeated for the two columns it covers.
    const __m256 pairs = _mm256_hadd_ps(_mm256_add_ps(t, b), _mm256_add_ps(t, b));
    const __m256 mean = _mm256_mul_ps(_mm256_unpacklo_ps(pairs, pairs), _mm256_set1_ps(0.25f));
    const __m256 dt = _mm256_sub_ps(t, mean);
    const __m256 db = _mm256_sub_ps(b, mean);
    acc = _mm256_add_ps(acc, _mm256_add_ps(_mm256_mul_ps(dt, dt), _mm256_mul_ps(db, db)));
    const __m128 sums = _mm_shuffle_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1),
                                       _MM_SHUFFLE(1, 0, 1, 0));
    _mm_storeu_ps(out, _mm_mul_ps(sums, _mm_set1_ps(0.5f)));
}

// roughenMoneyCoarse four blocks a step: the same sums and deviations,
// summed in another order, which only the bounds see.
CORVEX_HUD_TARGET_AVX float roughenAvx(const float* coarse, float rest, float* rough) {
    static_assert(kMoneyCellColumns / 2 == 10, "a row pair of the 2 x 2 form is 8 + 2 values");
    constexpr int half = kMoneyCellColumns / 2;
    __m256 acc = _mm256_setzero_ps();
    float tail = 0.0f;
    for (int by = 0; by < kRoughRows; ++by) {
        const float* top = coarse + (2 * by) * half;
        const float* below = top + half;
        float* out = rough + by * kRoughColumns;
        blocksOfEight(top, below, out, acc);
        const float a0 = top[8], a1 = top[9], c0 = below[8], c1 = below[9];
        const float sum = (a0 + a1) + (c0 + c1);
        const float m = 0.25f * sum;
        tail += ((a0 - m) * (a0 - m) + (a1 - m) * (a1 - m)) + ((c0 - m) * (c0 - m) + (c1 - m) * (c1 - m));
        out[4] = 0.5f * sum;
    }
    alignas(32) float parts[8];
    _mm256_store_ps(parts, acc);
    _mm256_zeroupper();
    for (int j = kRoughColumns * kRoughRows; j < kRoughLength; ++j)
        rough[j] = 0.0f;
    const float leftOut =
        rest * rest +
        ((((parts[0] + parts[1]) + (parts[2] + parts[3])) + ((parts[4] + parts[5]) + (parts[6] + parts[7]))) +
         tail);
    return std::sqrt(leftOut);
}

} // namespace
#endif

float roughenMoneyCoarse(const float* coarse, float rest, float* rough) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        return roughenAvx(coarse, rest, rough);
#endif
    constexpr int half = kMoneyCellColumns / 2;
    float leftOut = rest * rest;
    for (int by = 0; by < kRoughRows; ++by) {
        const float* top = coarse + (2 * by) * half;
        const float* below = top + half;
        float* out = rough + by * kRoughColumns;
        for (int bx = 0; bx < kRoughColumns; ++bx) {
            const float a = top[2 * bx], b = top[2 * bx + 1], c = below[2 * bx], d = below[2 * bx + 1];
            const float sum = (a + b) + (c + d);
            const float mean = 0.25f * sum;
            leftOut += ((a - mean) * (a - mean) + (b - mean) * (b - mean)) +
                       ((c - mean) * (c - mean) + (d - mean) * (d - mean));
            out[bx] = 0.5f * sum;
        }
    }
    for (int j = kRoughColumns * kRoughRows; j < kRoughLength; ++j)
        rough[j] = 0.0f;
    return std::sqrt(leftOut);
}

namespace {

MoneySearch::CoarseSet& coarseSet(MoneySearch& s, const detail::Templates& templates,
                                  const detail::TemplateList* list) {
    MoneySearch::CoarseSet* unused = nullptr;
    for (MoneySearch::CoarseSet& set : s.sets) {
        if (set.list == list)
            return set;
        if (!set.list && !unused)
            unused = &set;
    }
    if (!unused) {
        s.sets.emplace_back();
        unused = &s.sets.back();
    }
    MoneySearch::CoarseSet& set = *unused;
    set.list = list;
    set.roughStride = 0;
    const detail::CoarseList* made =
        templates.coarse && templates.coarse->coarseLength == static_cast<std::size_t>(kCoarseLength)
            ? templates.coarse->find(templates, list)
            : nullptr;
    if (made) {
        set.sums = made->sums.data();
        set.rest = made->rest.data();
        return set;
    }
    set.ownSums.assign(list->size() * kCoarseLength, 0.0f);
    set.ownRest.assign(list->size(), -1.0f);
    for (std::size_t t = 0; t < list->size(); ++t) {
        const detail::Template& tpl = (*list)[t];
        if (tpl.size() < static_cast<std::size_t>(kMoneyCellLength))
            continue;
        set.ownRest[t] = coarsenCell(tpl.data(), kMoneyCellColumns, kMoneyCellRows,
                                     set.ownSums.data() + t * kCoarseLength);
    }
    set.sums = set.ownSums.data();
    set.rest = set.ownRest.data();
    return set;
}

void roughenSet(MoneySearch::CoarseSet& set) {
    if (set.roughStride != 0 || set.list->empty())
        return;
    const std::size_t n = set.list->size();
    set.roughStride = (n + 7) / 8 * 8;
    set.roughByValue.assign(kRoughLength * set.roughStride, 0.0f);
    set.roughRest.assign(set.roughStride, -1.0f);
    float rough[kRoughLength];
    for (std::size_t t = 0; t < n; ++t) {
        if (set.rest[t] < 0.0f)
            continue;
        set.roughRest[t] = roughenMoneyCoarse(set.sums + t * kCoarseLength, set.rest[t], rough);
        for (int j = 0; j < kRoughLength; ++j)
            set.roughByValue[static_cast<std::size_t>(j) * set.roughStride + t] = rough[j];
    }
}

// out[t] for every template t of `set` (roughStride of them, padding
// included): the highest rough bound over the k cells, without the slack.
#if CORVEX_HUD_AVX
CORVEX_HUD_TARGET_AVX void roughBoundsAvx(const MoneySearch::CoarseSet& set, const float* const* cells,
                                          const float* cellRest, int k, float* out) {
    constexpr int values = kRoughColumns * kRoughRows;
    for (std::size_t b = 0; b < set.roughStride; b += 8) {
        const __m256 templateRest = _mm256_loadu_ps(set.roughRest.data() + b);
        __m256 high = _mm256_set1_ps(kNoScore);
        __m256 unordered = _mm256_setzero_ps(); // a NaN must reach the caller's check
        for (int q = 0; q < k; ++q) {
            const float* cell = cells[q];
            const float* column = set.roughByValue.data() + b;
            __m256 a0 = _mm256_setzero_ps();
            __m256 a1 = _mm256_setzero_ps();
            int j = 0;
            for (; j + 2 <= values; j += 2) {
                a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_set1_ps(cell[j]),
                                                     _mm256_loadu_ps(column + j * set.roughStride)));
                a1 = _mm256_add_ps(a1, _mm256_mul_ps(_mm256_set1_ps(cell[j + 1]),
                                                     _mm256_loadu_ps(column + (j + 1) * set.roughStride)));
            }
            for (; j < values; ++j)
                a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_set1_ps(cell[j]),
                                                     _mm256_loadu_ps(column + j * set.roughStride)));
            const __m256 v = _mm256_add_ps(_mm256_add_ps(a0, a1),
                                           _mm256_mul_ps(templateRest, _mm256_set1_ps(cellRest[q])));
            high = _mm256_max_ps(high, v);
            unordered = _mm256_or_ps(unordered, _mm256_cmp_ps(v, v, _CMP_UNORD_Q));
        }
        _mm256_storeu_ps(out + b, _mm256_or_ps(high, unordered));
    }
    _mm256_zeroupper();
}
#endif

void roughBounds(const MoneySearch::CoarseSet& set, const float* const* cells, const float* cellRest, int k,
                 float* out) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx()) {
        roughBoundsAvx(set, cells, cellRest, k, out);
        return;
    }
#endif
    constexpr int values = kRoughColumns * kRoughRows;
    for (std::size_t t = 0; t < set.roughStride; ++t)
        out[t] = kNoScore;
    for (int q = 0; q < k; ++q) {
        const float* cell = cells[q];
        for (std::size_t t = 0; t < set.roughStride; ++t) {
            float sum = 0.0f;
            for (int j = 0; j < values; ++j)
                sum += cell[j] * set.roughByValue[static_cast<std::size_t>(j) * set.roughStride + t];
            const float v = sum + set.roughRest[t] * cellRest[q];
            out[t] = v != v ? v : std::max(out[t], v);
        }
    }
}

// Normalises the k cells at `cells`, kMoneyCellLength apart, exactly as
// scoreOffsets does.
void normaliseGroup(float* cells, int k) {
    for (int q0 = 0; q0 < k; q0 += kMoneyBlock) {
        const int m = std::min(kMoneyBlock, k - q0);
        float* block[kMoneyBlock] = {};
        for (int q = 0; q < m; ++q)
            block[q] = cells + static_cast<std::size_t>(q0 + q) * kMoneyCellLength;
        normalizeVectors(block, static_cast<std::size_t>(m), kMoneyCellLength);
    }
}

// Below this length about its mean a cell is normalised before it is
// bounded: scaling its coarse form by the inverse of a smaller length
// would blow its rounding up towards kBoundSlack. Any cell with a stroke
// in it spreads far more.
constexpr double kMinLazySpread = 0.1;

// A cell's mean and its length about the mean, as normalising would find
// them up to rounding, from its 2 x 2 form (`coarse`, `rest`): a block's
// values lie around its own mean, coarse / 2, by what `rest` counts. Only
// the bounds take them, so single precision serves: an error in the mean
// shifts every coarse value alike, which the zero-mean templates do not
// see, and the length comes from the deviations themselves, without the
// cancellation of a difference of two sums.
#if CORVEX_HUD_AVX
CORVEX_HUD_TARGET_AVX void coarseSpreadAvx(const float* coarse, float rest, double& mean, double& norm) {
    constexpr int whole = kCoarseLength / 8 * 8;
    __m256 sum = _mm256_setzero_ps();
    for (int i = 0; i < whole; i += 8)
        sum = _mm256_add_ps(sum, _mm256_loadu_ps(coarse + i));
    alignas(32) float parts[8];
    _mm256_store_ps(parts, sum);
    float total =
        ((parts[0] + parts[1]) + (parts[2] + parts[3])) + ((parts[4] + parts[5]) + (parts[6] + parts[7]));
    for (int i = whole; i < kCoarseLength; ++i)
        total += coarse[i];
    // Twice the cell's mean: what a coarse value of a block at the mean is.
    const float centre = total / static_cast<float>(kCoarseLength);
    const __m256 c = _mm256_set1_ps(centre);
    __m256 squares = _mm256_setzero_ps();
    for (int i = 0; i < whole; i += 8) {
        const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(coarse + i), c);
        squares = _mm256_add_ps(squares, _mm256_mul_ps(d, d));
    }
    _mm256_store_ps(parts, squares);
    _mm256_zeroupper();
    float spread =
        ((parts[0] + parts[1]) + (parts[2] + parts[3])) + ((parts[4] + parts[5]) + (parts[6] + parts[7]));
    for (int i = whole; i < kCoarseLength; ++i)
        spread += (coarse[i] - centre) * (coarse[i] - centre);
    mean = 0.5 * static_cast<double>(centre);
    norm = std::sqrt(static_cast<double>(spread) + static_cast<double>(rest) * static_cast<double>(rest));
}
#endif

void coarseSpread(const float* coarse, float rest, double& mean, double& norm) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx()) {
        coarseSpreadAvx(coarse, rest, mean, norm);
        return;
    }
#endif
    float total = 0.0f;
    for (int i = 0; i < kCoarseLength; ++i)
        total += coarse[i];
    const float centre = total / static_cast<float>(kCoarseLength);
    float spread = 0.0f;
    for (int i = 0; i < kCoarseLength; ++i)
        spread += (coarse[i] - centre) * (coarse[i] - centre);
    mean = 0.5 * static_cast<double>(centre);
    norm = std::sqrt(static_cast<double>(spread) + static_cast<double>(rest) * static_cast<double>(rest));
}

#if CORVEX_HUD_AVX
// coarsenCell for a money cell, four blocks a step: the same block sums and
// deviations, summed in another order, which only the bounds see.
CORVEX_HUD_TARGET_AVX float coarsenMoneyCellAvx(const float* cell, float* coarse) {
    static_assert(kMoneyCellColumns == 20 && kMoneyCellRows % 2 == 0, "a row pair is 2 x 8 + 4 columns");
    constexpr int half = kMoneyCellColumns / 2;
    const __m256 quarter = _mm256_set1_ps(0.25f);
    __m256 acc = _mm256_setzero_ps();
    __m128 acc4 = _mm_setzero_ps();
    for (int by = 0; by < kMoneyCellRows; by += 2) {
        const float* top = cell + static_cast<std::ptrdiff_t>(by) * kMoneyCellColumns;
        const float* below = top + kMoneyCellColumns;
        float* out = coarse + static_cast<std::ptrdiff_t>(by / 2) * half;
        for (int x = 0; x < 16; x += 8) {
            blocksOfEight(top + x, below + x, out + x / 2, acc);
        }
        const __m128 t = _mm_loadu_ps(top + 16);
        const __m128 b = _mm_loadu_ps(below + 16);
        const __m128 v = _mm_add_ps(t, b);
        const __m128 sum = _mm_add_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0)),
                                      _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1)));
        const __m128 mean = _mm_mul_ps(sum, _mm256_castps256_ps128(quarter));
        const __m128 dt = _mm_sub_ps(t, mean);
        const __m128 db = _mm_sub_ps(b, mean);
        acc4 = _mm_add_ps(acc4, _mm_add_ps(_mm_mul_ps(dt, dt), _mm_mul_ps(db, db)));
        alignas(16) float sums[4];
        _mm_store_ps(sums, sum);
        out[8] = sums[0] * 0.5f;
        out[9] = sums[2] * 0.5f;
    }
    alignas(32) float parts[8];
    _mm256_store_ps(parts, acc);
    alignas(16) float tail[4];
    _mm_store_ps(tail, acc4);
    _mm256_zeroupper();
    const float rest =
        (((parts[0] + parts[1]) + (parts[2] + parts[3])) + ((parts[4] + parts[5]) + (parts[6] + parts[7]))) +
        ((tail[0] + tail[1]) + (tail[2] + tail[3]));
    return std::sqrt(rest);
}
#endif

} // namespace

float coarsenMoneyCell(const float* cell, float* coarse) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        return coarsenMoneyCellAvx(cell, coarse);
#endif
    return coarsenCell(cell, kMoneyCellColumns, kMoneyCellRows, coarse);
}

namespace {

// Orders the template indices by bound, highest first, equal bounds in
// their given order. A character has a few dozen templates at most, and
// std::stable_sort would ask for a buffer on every call.
void sortByBound(std::size_t* indices, std::size_t n, const float* bound) {
    for (std::size_t u = 1; u < n; ++u) {
        const std::size_t t = indices[u];
        std::size_t v = u;
        for (; v > 0 && bound[indices[v - 1]] < bound[t]; --v)
            indices[v] = indices[v - 1];
        indices[v] = t;
    }
}

// For cands[i] (i < n) with its own centre centres[i]: the best score over
// its templates and the offsets d0 .. d0 + k - 1, and the first offset that
// reaches it, as scoreOffsets' loops give them, for at least the two
// best-scoring characters; every other one gets a score below those two.
// Scores below `floor` need not be exact: a character whose best stays
// below it may get any score below it. False, with nothing done, for
// centres or cells the bounds cannot serve.
bool searchCandidates(MoneyRowContext& ctx, const double* centres, Candidate* cands, std::size_t n, int d0,
                      int k, float floor = kNoScore) {
    if (n == 0 || n > kMostCandidates || k < 1 || k > kMostSearchedOffsets ||
        ctx.templates.cellLength != static_cast<std::uint32_t>(kMoneyCellLength))
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(centres[i]))
            return false;
    MoneySearch& s = searchOf(ctx);

    // Candidates that share a centre share its cells.
    int groupOf[kMostCandidates];
    double groupX[kMostCandidates];
    int groups = 0;
    for (std::size_t i = 0; i < n; ++i) {
        int g = 0;
        while (g < groups && !(groupX[g] == centres[i]))
            ++g;
        if (g == groups)
            groupX[groups++] = centres[i];
        groupOf[i] = g;
    }
    const std::size_t cellCount = static_cast<std::size_t>(groups) * static_cast<std::size_t>(k);
    ensureSize(s.coarse, cellCount * kCoarseLength);
    ensureSize(s.rest, cellCount);
    ensureSize(s.rough, cellCount * kRoughLength);
    ensureSize(s.roughRest, cellCount);
    ensureSize(s.cells, cellCount * kMoneyCellLength);
    ensureSize(s.pointers, static_cast<std::size_t>(k));
    ensureSize(s.scores, static_cast<std::size_t>(k));
    ensureSize(s.best, static_cast<std::size_t>(k));
    // Most groups are only bounded, never scored exactly, so their cells
    // are normalised only when first scored: the bounds are taken from the
    // raw cells' coarse forms, shifted and scaled as normalising would
    // shift and scale them. That differs from the normalised cell's coarse
    // form by rounding only, far inside kBoundSlack. A group with a nearly
    // flat cell, whose spread a single pass cannot measure well enough, is
    // normalised at once.
    ensureSize(s.normalised, cellCount);
    std::fill(s.normalised.begin(), s.normalised.begin() + static_cast<std::ptrdiff_t>(cellCount), 0);
    for (int g = 0; g < groups; ++g) {
        float* cells =
            s.cells.data() + static_cast<std::size_t>(g) * static_cast<std::size_t>(k) * kMoneyCellLength;
        const std::size_t first = static_cast<std::size_t>(g) * static_cast<std::size_t>(k);
        bool flat = false;
        for (int q = 0; q < k; ++q) {
            float* cell = cells + static_cast<std::size_t>(q) * kMoneyCellLength;
            sampleLineCell(ctx, groupX[g] + (d0 + q), cell);
            const std::size_t c = first + static_cast<std::size_t>(q);
            float* coarse = s.coarse.data() + c * kCoarseLength;
            const float rest = coarsenMoneyCell(cell, coarse);
            double mean = 0.0;
            double norm = 0.0;
            coarseSpread(coarse, rest, mean, norm);
            if (!(norm >= kMinLazySpread)) {
                flat = true;
                continue;
            }
            const auto shift = static_cast<float>(2.0 * mean);
            const auto scale = static_cast<float>(1.0 / norm);
            for (int j = 0; j < kCoarseLength; ++j)
                coarse[j] = (coarse[j] - shift) * scale;
            s.rest[c] = rest * scale;
        }
        if (flat) {
            normaliseGroup(cells, k);
            std::fill(s.normalised.begin() + static_cast<std::ptrdiff_t>(first),
                      s.normalised.begin() + static_cast<std::ptrdiff_t>(first + static_cast<std::size_t>(k)),
                      1);
            for (int q = 0; q < k; ++q) {
                const std::size_t c = first + static_cast<std::size_t>(q);
                s.rest[c] =
                    coarsenCell(cells + static_cast<std::size_t>(q) * kMoneyCellLength, kMoneyCellColumns,
                                kMoneyCellRows, s.coarse.data() + c * kCoarseLength);
            }
        }
        for (int q = 0; q < k; ++q) {
            const std::size_t c = first + static_cast<std::size_t>(q);
            if (!std::isfinite(s.rest[c]))
                return false;
            s.roughRest[c] = roughenMoneyCoarse(s.coarse.data() + c * kCoarseLength, s.rest[c],
                                                s.rough.data() + c * kRoughLength);
        }
    }

    // Bounds: per candidate and template, the highest over the offsets,
    // first from the 4 x 4 forms (the rough bounds), for all. A template's
    // 2 x 2 bound is taken only when the order of the characters or the
    // choice of templates to score needs it, from the highest rough bound
    // down: a character's 2 x 2 bound is known once its highest 2 x 2 bound
    // so far reaches every rough bound left. Until then the highest rough
    // bound left stands above it.
    const MoneySearch::CoarseSet* sets[kMostCandidates] = {};
    float bound[kMostCandidates][kMaxTemplatesPerChar];
    bool refined[kMostCandidates][kMaxTemplatesPerChar];
    std::size_t byRough[kMostCandidates][kMaxTemplatesPerChar];
    std::size_t live[kMostCandidates] = {};
    std::size_t next[kMostCandidates] = {};
    float highest[kMostCandidates]; // the highest 2 x 2 bound taken
    for (std::size_t i = 0; i < n; ++i) {
        cands[i].score = kNoScore;
        cands[i].x = centres[i];
        highest[i] = kNoScore;
        const detail::TemplateList* list = ctx.templates.find(cands[i].character);
        if (!list)
            continue;
        if (list->size() > kMaxTemplatesPerChar)
            return false;
        MoneySearch::CoarseSet& set = coarseSet(s, ctx.templates, list);
        roughenSet(set);
        sets[i] = &set;
        const std::size_t first = static_cast<std::size_t>(groupOf[i]) * static_cast<std::size_t>(k);
        for (int q = 0; q < k; ++q)
            s.pointers[static_cast<std::size_t>(q)] =
                s.rough.data() + (first + static_cast<std::size_t>(q)) * kRoughLength;
        float rough[kMaxTemplatesPerChar + 8];
        roughBounds(set, s.pointers.data(), s.roughRest.data() + first, k, rough);
        for (std::size_t t = 0; t < list->size(); ++t) {
            bound[i][t] = kNoScore;
            refined[i][t] = false;
            if (set.roughRest[t] < 0.0f)
                continue;
            const float high = rough[t] + (kBoundSlack + kRoughSlack);
            if (!std::isfinite(high))
                return false;
            bound[i][t] = high;
            byRough[i][live[i]++] = t;
        }
        sortByBound(byRough[i], live[i], bound[i]);
    }
    const float* coarsePointers[kMostSearchedOffsets];
    ensureSize(s.offsetBounds, n * kMaxTemplatesPerChar * static_cast<std::size_t>(k));
    const auto offsetBoundsOf = [&](std::size_t i, std::size_t t) {
        return s.offsetBounds.data() + (i * kMaxTemplatesPerChar + t) * static_cast<std::size_t>(k);
    };
    // Scores candidate i's template t at the m offsets given into s.best,
    // raising `best`; each cell is normalised when first scored.
    const auto scoreOffsetsOf = [&](std::size_t i, std::size_t t, const int* offsets, std::size_t m,
                                    float& best) {
        if (m == 0)
            return;
        const float* scored[kMostSearchedOffsets];
        float* fresh[kMostSearchedOffsets];
        std::size_t freshCount = 0;
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t c = static_cast<std::size_t>(groupOf[i]) * static_cast<std::size_t>(k) +
                                  static_cast<std::size_t>(offsets[j]);
            float* cell = s.cells.data() + c * kMoneyCellLength;
            if (!s.normalised[c]) {
                s.normalised[c] = 1;
                fresh[freshCount++] = cell;
            }
            scored[j] = cell;
        }
        normalizeVectors(fresh, freshCount, kMoneyCellLength);
        dotMany((*sets[i]->list)[t].data(), scored, m, kMoneyCellLength, s.scores.data());
        for (std::size_t j = 0; j < m; ++j) {
            const float v = s.scores[j];
            const auto q = static_cast<std::size_t>(offsets[j]);
            if (v > s.best[q])
                s.best[q] = v;
            best = std::max(best, v);
        }
    };
    // Takes the 2 x 2 bound of candidate i's template t.
    const auto refine = [&](std::size_t i, std::size_t t) {
        const MoneySearch::CoarseSet& set = *sets[i];
        const std::size_t first = static_cast<std::size_t>(groupOf[i]) * static_cast<std::size_t>(k);
        for (int q = 0; q < k; ++q)
            coarsePointers[q] = s.coarse.data() + (first + static_cast<std::size_t>(q)) * kCoarseLength;
        dotMany(set.sums + t * kCoarseLength, coarsePointers, static_cast<std::size_t>(k), kCoarseLength,
                s.scores.data());
        const float tr = set.rest[t];
        float* at = offsetBoundsOf(i, t);
        float high = kNoScore;
        for (int q = 0; q < k; ++q) {
            at[q] = s.scores[static_cast<std::size_t>(q)] + tr * s.rest[first + static_cast<std::size_t>(q)] +
                    kBoundSlack;
            high = std::max(high, at[q]);
        }
        refined[i][t] = true;
        bound[i][t] = high;
        return std::isfinite(high);
    };
    // Candidate i's 2 x 2 bound where `known`, else a bound above it.
    const auto candidateBound = [&](std::size_t i, bool& known) {
        known = next[i] == live[i] || bound[i][byRough[i][next[i]]] < highest[i];
        return known ? highest[i] : bound[i][byRough[i][next[i]]];
    };

    // Exact scores, from the highest 2 x 2 bound down (the first candidate
    // on equal bounds).
    bool done[kMostCandidates] = {};
    float top1 = kNoScore;
    float top2 = kNoScore;
    int exactCount = 0;
    for (;;) {
        std::size_t i = n;
        float high = kNoScore;
        bool known = false;
        for (std::size_t j = 0; j < n; ++j) {
            if (done[j] || !sets[j])
                continue;
            bool jKnown = false;
            const float b = candidateBound(j, jKnown);
            if (i == n || b > high) {
                i = j;
                high = b;
                known = jKnown;
            }
        }
        if (i == n)
            break;
        if ((exactCount >= 2 && high < top2) || high < floor)
            break; // and so is every one after it
        if (!known) {
            if (!refine(i, byRough[i][next[i]]))
                return false;
            highest[i] = std::max(highest[i], bound[i][byRough[i][next[i]]]);
            ++next[i];
            continue;
        }
        done[i] = true;
        const detail::TemplateList& list = *sets[i]->list;
        for (int q = 0; q < k; ++q)
            s.best[static_cast<std::size_t>(q)] = kNoScore;
        // Within the character, the templates whose 2 x 2 bound reaches
        // the floor and the best score so far are scored, from the highest
        // bound down; a rough bound that reaches them is first narrowed to
        // the 2 x 2 one. Below the floor the score is then the best of
        // those whose 2 x 2 bound reaches the floor, whatever the order.
        std::size_t byBound[kMaxTemplatesPerChar];
        for (std::size_t t = 0; t < list.size(); ++t)
            byBound[t] = t;
        sortByBound(byBound, list.size(), bound[i]);
        float best = kNoScore;
        bool anyScored = false;
        int offsets[kMostSearchedOffsets];
        for (std::size_t u = 0; u < list.size(); ++u) {
            const std::size_t t = byBound[u];
            if (sets[i]->rest[t] < 0.0f)
                continue;
            if (bound[i][t] < std::max(best, floor))
                break;
            if (!refined[i][t]) {
                if (!refine(i, t))
                    return false;
                if (bound[i][t] < std::max(best, floor))
                    continue;
            }
            // Only the offsets whose own bound reaches the best score so far:
            // a score below it changes neither the best nor where it is. The
            // character's first template is scored first where its bound is
            // highest, so that the best so far prunes its other offsets too.
            const float* at = offsetBoundsOf(i, t);
            int alone = -1;
            if (!anyScored) {
                anyScored = true;
                alone = 0;
                for (int q = 1; q < k; ++q)
                    if (at[q] > at[alone])
                        alone = q;
                scoreOffsetsOf(i, t, &alone, 1, best);
            }
            std::size_t m = 0;
            for (int q = 0; q < k; ++q)
                if (q != alone && !(at[q] < best))
                    offsets[m++] = q;
            scoreOffsetsOf(i, t, offsets, m, best);
        }
        Candidate& c = cands[i];
        for (int q = 0; q < k; ++q)
            if (s.best[static_cast<std::size_t>(q)] > c.score) {
                c.score = s.best[static_cast<std::size_t>(q)];
                c.x = centres[i] + (d0 + q);
            }
        ++exactCount;
        if (c.score > top1) {
            top2 = top1;
            top1 = c.score;
        } else if (c.score > top2) {
            top2 = c.score;
        }
    }
    return true;
}

// bestPosition(ctx, predicted[i], cands[i].character, kFollowRadius) into
// cands[i] for i < n, with the same results: characters of one advance
// width are predicted at the same centre, and each distinct centre is
// sampled and normalised once for all the characters that share it.
void followPositions(MoneyRowContext& ctx, const double* predicted, Candidate* cands, std::size_t n) {
    constexpr std::size_t kMost = kDigitCount + 1;
    static_assert(2 * kFollowRadius + 1 <= kMoneyBlock, "the follow window is one block");
    constexpr int k = 2 * kFollowRadius + 1;
    n = std::min(n, kMost);
    if (searchCandidates(ctx, predicted, cands, n, -kFollowRadius, k))
        return;
    bool done[kMost] = {};
    for (std::size_t i = 0; i < n; ++i) {
        if (done[i])
            continue;
        const double x = predicted[i];
        std::size_t members[kMost];
        const detail::TemplateList* lists[kMost];
        int m = 0;
        for (std::size_t j = i; j < n; ++j) {
            if (done[j] || !(predicted[j] == x))
                continue;
            done[j] = true;
            members[m] = j;
            lists[m] = ctx.templates.find(cands[j].character);
            cands[j].score = kNoScore;
            cands[j].x = predicted[j];
            ++m;
        }
        if (!(x == x)) {
            // A centre that equals nothing, not even itself, is scored alone.
            done[i] = true;
            members[0] = i;
            lists[0] = ctx.templates.find(cands[i].character);
            cands[i].score = kNoScore;
            cands[i].x = x;
            m = 1;
        }
        float scores[kMost][kMoneyBlock];
        scoreOffsets(ctx, x, -kFollowRadius, k, lists, m, scores);
        for (int l = 0; l < m; ++l) {
            if (!lists[l])
                continue;
            Candidate& c = cands[members[l]];
            for (int q = 0; q < k; ++q) {
                if (scores[l][q] > c.score) {
                    c.score = scores[l][q];
                    c.x = x + (q - kFollowRadius);
                }
            }
        }
    }
}

std::int64_t digitsValue(const std::string& digits) {
    std::int64_t v = 0;
    for (char c : digits)
        v = v * 10 + (c - '0');
    return v;
}

} // namespace

const WidthTable& moneyWidths() {
    static const WidthTable table = makeTable(0.9, {{'$', 0.95},
                                                    {'-', 0.71},
                                                    {'0', 0.948},
                                                    {'1', 0.608},
                                                    {'2', 0.87},
                                                    {'3', 0.886},
                                                    {'4', 0.918},
                                                    {'5', 0.854},
                                                    {'6', 0.896},
                                                    {'7', 0.799},
                                                    {'8', 0.872},
                                                    {'9', 0.892}});
    return table;
}

const WidthTable& figureWidths() {
    static const WidthTable table = makeTable(0.833, {{'$', 0.86}, {'+', 0.75}, {'1', 0.5}, {'7', 0.8}});
    return table;
}

float scoreAt(MoneyRowContext& ctx, double x, char c) {
    const detail::TemplateList* list = ctx.templates.find(c);
    if (!list)
        return kNoScore;
    sampleNormalised(ctx, x);
    return scoreCell(ctx, list);
}

namespace {

// The cell's columns, each contiguous, transposed into its rows.
void columnsToCell(const float (&columns)[kMoneyCellColumns][kMoneyCellRows], float* out) {
#if CORVEX_HUD_SSE2
    static_assert(kMoneyCellRows % 4 == 0 && kMoneyCellColumns % 4 == 0, "cells transpose in 4 x 4 blocks");
    for (int i = 0; i < kMoneyCellRows; i += 4)
        for (int j = 0; j < kMoneyCellColumns; j += 4) {
            __m128 c0 = _mm_load_ps(&columns[j][i]);
            __m128 c1 = _mm_load_ps(&columns[j + 1][i]);
            __m128 c2 = _mm_load_ps(&columns[j + 2][i]);
            __m128 c3 = _mm_load_ps(&columns[j + 3][i]);
            _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
            float* dst = out + i * kMoneyCellColumns + j;
            _mm_storeu_ps(dst, c0);
            _mm_storeu_ps(dst + kMoneyCellColumns, c1);
            _mm_storeu_ps(dst + 2 * kMoneyCellColumns, c2);
            _mm_storeu_ps(dst + 3 * kMoneyCellColumns, c3);
        }
#else
    for (int i = 0; i < kMoneyCellRows; ++i)
        for (int j = 0; j < kMoneyCellColumns; ++j)
            out[i * kMoneyCellColumns + j] = columns[j][i];
#endif
}

// Clears the cell columns that cannot reach the plane (both weights 0).
void clearDead(float* out, bool dead, const float* wl, const float* wr) {
    if (dead)
        for (int j = 0; j < kMoneyCellColumns; ++j)
            if (wl[j] == 0.0f && wr[j] == 0.0f)
                for (int i = 0; i < kMoneyCellRows; ++i)
                    out[i * kMoneyCellColumns + j] = 0.0f;
}

#if CORVEX_HUD_AVX
// The blend of sampleLineCell's columns, written straight into the cell's
// rows: four columns of eight rows are blended in registers (the same two
// products and one sum per value as the plain loop) and transposed there,
// so the columns never go through memory.
CORVEX_HUD_TARGET_AVX void blendToCellAvx(const float* values, const int* index, const float* wl,
                                          const float* wr, float* out) {
    constexpr std::size_t rows = kMoneyCellRows;
    constexpr int width = kMoneyCellColumns;
    static_assert(kMoneyCellRows % 8 == 4 && kMoneyCellColumns % 4 == 0,
                  "cells blend in eight-row steps and a last four rows, four columns at a time");
    for (int j = 0; j < width; j += 4) {
        const float* a[4];
        __m256 l[4];
        __m256 r[4];
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k) {
            a[k] = values + rows * static_cast<std::size_t>(index[j + k]);
            l[k] = _mm256_set1_ps(wl[j + k]);
            r[k] = _mm256_set1_ps(wr[j + k]);
        }
        std::size_t i = 0;
        for (; i + 8 <= rows; i += 8) {
            __m256 c[4];
            CORVEX_HUD_UNROLL
            for (int k = 0; k < 4; ++k)
                c[k] = _mm256_add_ps(_mm256_mul_ps(l[k], _mm256_loadu_ps(a[k] + i)),
                                     _mm256_mul_ps(r[k], _mm256_loadu_ps(a[k] + rows + i)));
            const __m256 t0 = _mm256_unpacklo_ps(c[0], c[1]);
            const __m256 t1 = _mm256_unpackhi_ps(c[0], c[1]);
            const __m256 t2 = _mm256_unpacklo_ps(c[2], c[3]);
            const __m256 t3 = _mm256_unpackhi_ps(c[2], c[3]);
            // Lane 0 holds rows i .. i + 3, lane 1 rows i + 4 .. i + 7.
            const __m256 r0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
            const __m256 r1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
            const __m256 r2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
            const __m256 r3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
            float* dst = out + i * width + j;
            _mm_storeu_ps(dst, _mm256_castps256_ps128(r0));
            _mm_storeu_ps(dst + width, _mm256_castps256_ps128(r1));
            _mm_storeu_ps(dst + 2 * width, _mm256_castps256_ps128(r2));
            _mm_storeu_ps(dst + 3 * width, _mm256_castps256_ps128(r3));
            _mm_storeu_ps(dst + 4 * width, _mm256_extractf128_ps(r0, 1));
            _mm_storeu_ps(dst + 5 * width, _mm256_extractf128_ps(r1, 1));
            _mm_storeu_ps(dst + 6 * width, _mm256_extractf128_ps(r2, 1));
            _mm_storeu_ps(dst + 7 * width, _mm256_extractf128_ps(r3, 1));
        }
        // The last four rows.
        __m128 c[4];
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k)
            c[k] = _mm_add_ps(_mm_mul_ps(_mm256_castps256_ps128(l[k]), _mm_loadu_ps(a[k] + i)),
                              _mm_mul_ps(_mm256_castps256_ps128(r[k]), _mm_loadu_ps(a[k] + rows + i)));
        _MM_TRANSPOSE4_PS(c[0], c[1], c[2], c[3]);
        float* dst = out + i * width + j;
        CORVEX_HUD_UNROLL
        for (int k = 0; k < 4; ++k)
            _mm_storeu_ps(dst + k * width, c[k]);
    }
    _mm256_zeroupper();
}
#endif

#if CORVEX_HUD_AVX
// cellTaps four columns a step, with the same double arithmetic. Columns
// off the plane are taken at 0 so that nothing out of range is converted.
CORVEX_HUD_TARGET_AVX unsigned cellTapsAvx(double left, double stepX, double planeWidth, int* ix, float* fx) {
    static_assert(kMoneyCellColumns % 4 == 0, "cell columns come four at a time");
    unsigned live = 0;
    for (int j = 0; j < kMoneyCellColumns; j += 4) {
        const __m256d jv = _mm256_set_pd(j + 3, j + 2, j + 1, j);
        const __m256d x = _mm256_add_pd(_mm256_set1_pd(left), _mm256_mul_pd(jv, _mm256_set1_pd(stepX)));
        const __m256d in = _mm256_and_pd(_mm256_cmp_pd(x, _mm256_set1_pd(-1.0), _CMP_GT_OQ),
                                         _mm256_cmp_pd(x, _mm256_set1_pd(planeWidth), _CMP_LT_OQ));
        live |= static_cast<unsigned>(_mm256_movemask_pd(in)) << j;
        const __m256d taken = _mm256_and_pd(x, in);
        const __m256d floor = _mm256_floor_pd(taken);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ix + j), _mm256_cvttpd_epi32(floor));
        _mm_storeu_ps(fx + j, _mm256_cvtpd_ps(_mm256_sub_pd(taken, floor)));
    }
    _mm256_zeroupper();
    return live;
}
#endif

// Where each cell column of sampleLineCell samples: its left tap ix[j] and
// the weight fx[j] of the right one. Bit j of the result is set where column
// j can reach the plane; the others' taps are left unset.
unsigned cellTaps(double left, double stepX, int planeWidth, int* ix, float* fx) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        return cellTapsAvx(left, stepX, static_cast<double>(planeWidth), ix, fx);
#endif
    unsigned live = 0;
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        const double x = left + j * stepX;
        if (!(x > -1.0 && x < static_cast<double>(planeWidth)))
            continue;
        live |= 1u << j;
        ix[j] = static_cast<int>(std::floor(x));
        fx[j] = static_cast<float>(x - ix[j]);
    }
    return live;
}

} // namespace

void sampleLineCell(MoneyRowContext& ctx, double cx, float* out) {
    MoneyStrip& s = ctx.strip;
    if (!s.ready)
        prepareStrip(ctx);
    if (s.width == 0) {
        std::fill(out, out + kMoneyCellLength, 0.0f);
        return;
    }
    const double h = ctx.lineHeight;
    const double left = cx - 0.45 * h;
    const double stepX = 0.9 * h / kMoneyCellColumns;
    const int planeWidth = ctx.plane.width;
    int index[kMoneyCellColumns];
    float wl[kMoneyCellColumns];
    float wr[kMoneyCellColumns];
    int ix[kMoneyCellColumns];
    float fx[kMoneyCellColumns];
    const unsigned live = cellTaps(left, stepX, planeWidth, ix, fx);
    bool dead = false;
    int lo = s.width;
    int hi = 0;
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        if (((live >> j) & 1u) == 0) {
            dead = true;
            index[j] = -1;
            continue;
        }
        index[j] = ix[j] + 1; // strip column of the left tap
        wl[j] = 1.0f - fx[j];
        wr[j] = fx[j];
        lo = std::min(lo, ix[j] + 1);
        hi = std::max(hi, ix[j] + 3);
    }
    ensureStrip(ctx, lo, hi);
    if (dead) {
        // Columns that cannot reach the plane read 0; point them at any
        // filled column and clear them afterwards.
        for (int j = 0; j < kMoneyCellColumns; ++j)
            if (index[j] < 0) {
                index[j] = lo < hi ? lo : 0;
                wl[j] = wr[j] = 0.0f;
            }
    }
    if (lo >= hi) {
        std::fill(out, out + kMoneyCellLength, 0.0f);
        return;
    }
    // Each cell column blends two whole strip columns, which lie contiguous
    // and so vectorise; the block is then transposed into the cell's rows.
#if CORVEX_HUD_AVX
    if (detail::haveAvx()) {
        blendToCellAvx(s.values, index, wl, wr, out);
        clearDead(out, dead, wl, wr);
        return;
    }
#endif
    constexpr std::size_t rows = kMoneyCellRows;
    alignas(16) float columns[kMoneyCellColumns][kMoneyCellRows];
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        const float* __restrict a = s.values + rows * static_cast<std::size_t>(index[j]);
        const float* __restrict b = a + rows;
        float* __restrict dst = columns[j];
        const float l = wl[j];
        const float r = wr[j];
        for (std::size_t i = 0; i < rows; ++i)
            dst[i] = l * a[i] + r * b[i];
    }
    columnsToCell(columns, out);
    clearDead(out, dead, wl, wr);
}

Candidate bestPosition(MoneyRowContext& ctx, double x, char c, int radius) {
    Candidate best;
    best.character = c;
    best.x = x;
    const detail::TemplateList* list = ctx.templates.find(c);
    if (!list)
        return best;
    // Wide enough that d0 + kMoneyBlock cannot overflow.
    for (long long d0 = -static_cast<long long>(radius); d0 <= radius; d0 += kMoneyBlock) {
        const int k = static_cast<int>(std::min<long long>(kMoneyBlock, radius - d0 + 1));
        float scores[1][kMoneyBlock];
        scoreOffsets(ctx, x, static_cast<int>(d0), k, &list, 1, scores);
        for (int q = 0; q < k; ++q) {
            if (scores[0][q] > best.score) {
                best.score = scores[0][q];
                best.x = x + static_cast<int>(d0 + q);
            }
        }
    }
    return best;
}

float bestScoreAround(MoneyRowContext& ctx, const double* centres, const char* characters, std::size_t n,
                      int radius, float floor) {
    float best = kNoScore;
    radius = std::min(std::max(radius, 0), 64);
    if (n <= kMostCandidates) {
        Candidate cands[kMostCandidates];
        for (std::size_t i = 0; i < n; ++i)
            cands[i].character = characters[i];
        if (searchCandidates(ctx, centres, cands, n, -radius, 2 * radius + 1, floor)) {
            for (std::size_t i = 0; i < n; ++i)
                best = std::max(best, cands[i].score);
            return best;
        }
    }
    for (std::size_t i = 0; i < n; ++i)
        best = std::max(best, bestPosition(ctx, centres[i], characters[i], radius).score);
    return best;
}

PairScore pairScore(const PairTable& pairs, const float* cell, char a, char b) {
    PairScore result;
    const auto sa = static_cast<signed char>(a);
    const auto sb = static_cast<signed char>(b);
    auto usable = [&](PairTable::const_iterator it) {
        return it != pairs.end() && it->second.weights.size() == static_cast<std::size_t>(kMoneyCellLength);
    };
    auto it = pairs.find(PairKey{sa, sb});
    if (usable(it)) {
        result.found = true;
        result.score = dot(it->second.weights.data(), cell, kMoneyCellLength) - it->second.bias;
        return result;
    }
    it = pairs.find(PairKey{sb, sa});
    if (usable(it)) {
        result.found = true;
        result.score = -(dot(it->second.weights.data(), cell, kMoneyCellLength) - it->second.bias);
    }
    return result;
}

namespace {

// A close call the tie-breaker did not settle at the first candidate's
// position (its score between the two confident bounds), asked again at the
// second's: leaning the same way at both, it is followed. Leaning for the
// first, the call is kept with a small margin; leaning for the second, the
// second is chosen but stays uncertain. The tie-breaker leans the wrong way
// at both positions when blur merges a "6" and an "8" the same way, so a
// kept call also needs the settling classifier behind it.
void settleAtBoth(MoneyRowContext& ctx, const Candidate& first, const Candidate& second, float atFirst,
                  Decision& d) {
    sampleNormalised(ctx, second.x);
    const PairScore atSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    if (!atSecond.found)
        return;
    if (atFirst >= kPairLean && atSecond.score >= kPairLean) {
        if (ctx.settlers && !ctx.settlers->empty()) {
            sampleNormalised(ctx, first.x);
            const PairScore settler = pairScore(*ctx.settlers, ctx.cell, first.character, second.character);
            if (!settler.found || settler.score < kSettlerBacks)
                return;
        }
        d.margin = kLeanMargin;
        d.leaned = true;
    } else if (atFirst < 0.0f && atSecond.score < 0.0f) {
        d.chosen = second;
        d.margin = 0.0f;
    }
}

} // namespace

bool settleTie(MoneyRowContext& ctx, const Candidate& first, const Candidate& second, float need,
               Decision& d) {
    if (!ctx.settlers || ctx.settlers->empty() || !(need > 0.0f))
        return false;
    sampleNormalised(ctx, first.x);
    const PairScore atFirst = pairScore(*ctx.settlers, ctx.cell, first.character, second.character);
    if (!atFirst.found || std::abs(atFirst.score) < need)
        return false;
    const PairScore pairFirst = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    if (second.x != first.x)
        sampleNormalised(ctx, second.x);
    const PairScore atSecond = pairScore(*ctx.settlers, ctx.cell, first.character, second.character);
    const PairScore pairSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    // The tie-breakers, though short of deciding, must not lean against it.
    const float lean = pairFirst.score + pairSecond.score;
    // A balance digit also needs the settling classifier a little past its
    // bound on average: a blurred "5" that half reads as a "6" passes it at
    // both places, but only just at one of them.
    const float total = 2.0f * (ctx.confirmBelow > 0.0f ? kSettleMoneyAverage * need : need);
    const float sum = atFirst.score + atSecond.score;
    if (atFirst.score >= need && atSecond.score >= need && sum >= total && lean >= 0.0f &&
        first.score >= kSettleFloor) {
        d.chosen = first;
    } else if (atFirst.score <= -need && atSecond.score <= -need && sum <= -total && lean <= 0.0f &&
               second.score >= kSettleFloor) {
        d.chosen = second;
    } else {
        return false;
    }
    d.margin = kSettledMargin;
    d.settled = true;
    return true;
}

namespace {

Decision decideByPairs(MoneyRowContext& ctx, Candidate* candidates, std::size_t count) {
    Decision d;
    if (count == 0 || !candidates)
        return d;
    // Insertion sort: stable and allocation-free for these few candidates.
    for (std::size_t i = 1; i < count; ++i) {
        const Candidate c = candidates[i];
        std::size_t j = i;
        for (; j > 0 && candidates[j - 1].score < c.score; --j)
            candidates[j] = candidates[j - 1];
        candidates[j] = c;
    }
    d.chosen = candidates[0];
    if (count == 1) {
        d.margin = 1.0f;
        return d;
    }
    const Candidate& first = candidates[0];
    const Candidate& second = candidates[1];
    d.margin = first.score - second.score;
    if (ctx.pairs.empty())
        return d;
    if (d.margin >= kCloseCall) {
        if (d.margin < ctx.confirmBelow) {
            sampleNormalised(ctx, first.x);
            const PairScore check = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
            const PairScore settler =
                ctx.settlers ? pairScore(*ctx.settlers, ctx.cell, first.character, second.character)
                             : PairScore{};
            if ((check.found && check.score < 0.0f) || (settler.found && settler.score < kSettlerBacks))
                d.margin = 0.0f;
        }
        return d;
    }

    sampleNormalised(ctx, first.x);
    const PairScore atFirst = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
    if (!atFirst.found)
        return d;
    if (atFirst.score >= kPairConfident) {
        d.margin = 0.1f;
    } else if (atFirst.score <= -kPairConfident) {
        sampleNormalised(ctx, second.x);
        const PairScore atSecond = pairScore(ctx.pairs, ctx.cell, first.character, second.character);
        if (atSecond.found && atSecond.score <= -kPairConfident) {
            d.chosen = second;
            d.margin = 0.1f;
        } else {
            d.margin = 0.0f;
        }
    } else {
        d.margin = 0.0f;
        if (ctx.confirmBelow > 0.0f)
            settleAtBoth(ctx, first, second, atFirst.score, d);
    }
    return d;
}

// A bright world behind the balance eats the strokes that tell an "8" from
// a "3" until the "8" falls behind a third digit, so the tie-breakers asked
// about the first two never hear of it. Any digit within the confirming
// margin that the settling classifier does not clearly set behind the chosen
// one, or that the tie-breaker prefers, leaves the call unsettled.
// The search of a figure's first digit scores only the two best exactly;
// the others, known only to stand below the second, are asked about too
// while that second is within the margin (a soft "8" behind a "6" and a
// "1" otherwise goes unheard).
// `candidates` are sorted best first.
void doubtByThirds(MoneyRowContext& ctx, const Candidate* candidates, std::size_t count, Decision& d) {
    if (!ctx.settlers || ctx.settlers->empty() || d.chosen.character == '$')
        return;
    // A close call is asked where each was found, too: a thin "1" fits the
    // left stroke of a soft "8" a few pixels left of it, and at that place
    // the tie-breaker sees a "1".
    const Candidate* elsewhere[kMostCandidates];
    std::size_t moved = 0;
    bool sampled = false;
    for (std::size_t i = 1; i < count; ++i) {
        const Candidate& c = candidates[i];
        if (c.score > kNoScore && c.score < d.chosen.score - ctx.confirmBelow)
            break;
        if (c.character == d.chosen.character || c.character == '$')
            continue;
        if (!sampled) {
            sampleNormalised(ctx, d.chosen.x);
            sampled = true;
        }
        const PairScore s = pairScore(*ctx.settlers, ctx.cell, d.chosen.character, c.character);
        const PairScore p = pairScore(ctx.pairs, ctx.cell, d.chosen.character, c.character);
        if ((s.found && s.score < kSettlerBacks) || (p.found && p.score < 0.0f)) {
            d.margin = 0.0f;
            return;
        }
        if (c.score >= d.chosen.score - kCloseCall && std::abs(c.x - d.chosen.x) >= 1.0 &&
            moved < kMostCandidates)
            elsewhere[moved++] = &c;
    }
    for (std::size_t i = 0; i < moved; ++i) {
        sampleNormalised(ctx, elsewhere[i]->x);
        const PairScore p = pairScore(ctx.pairs, ctx.cell, d.chosen.character, elsewhere[i]->character);
        if (p.found && p.score < 0.0f) {
            d.margin = 0.0f;
            return;
        }
    }
}

} // namespace

Decision decide(MoneyRowContext& ctx, Candidate* candidates, std::size_t count) {
    Decision d = decideByPairs(ctx, candidates, count);
    // A tie with the "$" is where a figure ends or goes on; it stays a tie.
    if (d.margin == 0.0f && count >= 2 && ctx.settlers && candidates[0].character != '$' &&
        candidates[1].character != '$')
        settleTie(ctx, candidates[0], candidates[1], ctx.confirmBelow > 0.0f ? kSettleMoney : kSettleFigure,
                  d);
    if (ctx.confirmBelow > 0.0f && d.margin > 0.0f)
        doubtByThirds(ctx, candidates, count, d);
    return d;
}

MoneyReading readMoney(MoneyRowContext& ctx, double startX, const WidthTable& widths, double groupGap,
                       int maxDigits, int radius) {
    MoneyReading r;
    const double h = ctx.lineHeight;
    // A figure never has more digits than an int64 holds; the string stays
    // within its inline buffer, so the loop below does not allocate.
    maxDigits = std::min(std::max(maxDigits, 1), 15);
    radius = std::min(std::max(radius, 0), 64);
    r.digits.reserve(15);

    // First digit: every offset is sampled once and scored for all digits,
    // which gives the same best positions as trying each digit separately.
    Candidate cands[kDigitCount + 1];
    const detail::TemplateList* lists[kDigitCount];
    for (int i = 0; i < kDigitCount; ++i) {
        cands[i].character = kDigits[i];
        cands[i].x = startX;
        cands[i].score = kNoScore;
        lists[i] = ctx.templates.find(kDigits[i]);
    }
    double centres[kDigitCount];
    for (double& c : centres)
        c = startX;
    const bool searched = searchCandidates(ctx, centres, cands, kDigitCount, -radius, 2 * radius + 1);
    for (int d0 = -radius; d0 <= radius && !searched; d0 += kMoneyBlock) {
        const int k = std::min(kMoneyBlock, radius - d0 + 1);
        float scores[kDigitCount][kMoneyBlock];
        scoreOffsets(ctx, startX, d0, k, lists, kDigitCount, scores);
        for (int i = 0; i < kDigitCount; ++i) {
            for (int q = 0; q < k && lists[i]; ++q) {
                if (scores[i][q] > cands[i].score) {
                    cands[i].score = scores[i][q];
                    cands[i].x = startX + (d0 + q);
                }
            }
        }
    }
    Decision first = decide(ctx, cands, kDigitCount);
    const bool strictSettling = ctx.confirmBelow <= 0.0f;
    if (first.settled)
        ++r.settled;
    if (first.leaned)
        ++r.leaned;
    r.digits.push_back(first.chosen.character);
    r.minScore = first.chosen.score;
    r.minMargin = first.margin;
    if (first.margin < kWideMargin)
        r.minCloseScore = first.chosen.score;
    r.firstX = first.chosen.x;
    int count = 1;
    Candidate previous = first.chosen;

    for (;;) {
        const bool digitsAllowed = count < maxDigits;
        std::size_t n = 0;
        const char* set = digitsAllowed ? "0123456789$" : "$";
        double predicted[kDigitCount + 1];
        for (const char* c = set; *c; ++c) {
            const bool dollar = *c == '$';
            const double gap = (!dollar && count % 3 == 0) ? groupGap * h : 0.0;
            predicted[n] = previous.x - (widths.of(*c) + widths.of(previous.character)) / 2.0 * h - gap;
            cands[n++].character = *c;
        }
        followPositions(ctx, predicted, cands, n);
        Decision d = decide(ctx, cands, n);
        if (d.settled && ++r.settled > 1 && strictSettling)
            d.margin = 0.0f;
        if (d.leaned)
            ++r.leaned;
        if (d.margin < kWideMargin)
            r.minCloseScore = std::min(r.minCloseScore, d.chosen.score);
        if (d.chosen.character == '$') {
            r.dollarX = d.chosen.x;
            r.minScore = std::min(r.minScore, d.chosen.score);
            r.minMargin = std::min(r.minMargin, d.margin);
            r.ok = true;
            r.value = digitsValue(r.digits);
            return r;
        }
        if (d.chosen.score < kMinDigitScore) {
            r.ok = false;
            return r;
        }
        r.digits.insert(r.digits.begin(), d.chosen.character);
        r.minScore = std::min(r.minScore, d.chosen.score);
        r.minMargin = std::min(r.minMargin, d.margin);
        ++count;
        previous = d.chosen;
    }
}

bool confirmWithSoft(const MoneyRowContext& ctx, const detail::Templates& templates, const WidthTable& widths,
                     double groupGap, int maxDigits, float minScore, float minMargin, float wideFloor,
                     MoneyReading& first) {
    // It lifts a low score; a close call between two characters it leaves
    // alone, as the soft templates of both may fit the same ink.
    if (!first.ok || first.digits.empty() || first.minMargin < minMargin ||
        templates.cellLength != static_cast<std::uint32_t>(kMoneyCellLength))
        return false;
    MoneyRowContext again(ctx.plane, ctx.top, ctx.bottom, ctx.lineHeight, templates, ctx.pairs);
    again.confirmBelow = ctx.confirmBelow;
    again.settlers = ctx.settlers;
    const MoneyReading m = readMoney(again, first.firstX, widths, groupGap, maxDigits, kSoftRadius);
    if (!m.ok || m.digits != first.digits || m.minMargin < minMargin)
        return false;
    const float floor = std::max(minScore, kSoftFloor);
    const bool sure = m.minScore >= floor;
    // Or both looks doubt no character at a lower score.
    const bool wide = m.minScore >= wideFloor && first.minScore >= wideFloor &&
                      first.minMargin >= minMargin && first.minCloseScore >= floor &&
                      m.minCloseScore >= floor;
    if (!sure && !wide)
        return false;
    first = m;
    return true;
}

int arrowColour(const FrameView& frame, const MoneyLine& line, double fromX, double toX) {
    if (!frame.valid())
        return 0;
    // Clamp before truncating so that no value outside int range is converted.
    auto clampTo = [](double v, double lo, double hi) {
        return std::isnan(v) ? lo : std::min(std::max(v, lo), hi);
    };
    const double w = frame.width;
    const double fh = frame.height;
    const int xa = static_cast<int>(clampTo(fromX + 2.0, 0.0, w));
    const int xb = static_cast<int>(clampTo(toX, 0.0, w));
    if (xb - xa < 3)
        return 0;
    const double h = line.height;
    const int ya = static_cast<int>(clampTo(line.top - 0.2 * h, 0.0, fh));
    const int yb = static_cast<int>(clampTo(line.bottom + 0.2 * h, 0.0, fh));
    if (yb <= ya)
        return 0;
    int red = 0;
    int green = 0;
    int deepGreen = 0;
    for (int y = ya; y < yb; ++y) {
        for (int x = xa; x < xb; ++x) {
            const std::uint8_t* px = framePixel(frame, x, y);
            const float b = px[0];
            const float g = px[1];
            const float r = px[2];
            if (r > 140.0f && r > 1.6f * g && r > 1.6f * b)
                ++red;
            if (g > 110.0f && g > 1.3f * r && g > 1.15f * b) {
                ++green;
                if (g > 1.6f * r && g > 1.6f * b)
                    ++deepGreen;
            }
        }
    }
    // A green world behind a loss's arrow passes the loose green test as
    // often as the arrow's red passes the red one; as deep a green as the
    // red is deep is rare outside a gain's arrow.
    if (red >= 8 && (red > 3 * green || red > 3 * deepGreen))
        return -1;
    if (green < 8)
        return 0;
    return green > 3 * red ? 1 : 0;
}

void figureStart(const Blob& rightmost, double lineHeight, double& startX, int& radius) {
    if (0.9 * rightmost.height() >= rightmost.width()) {
        startX = (rightmost.x0 + rightmost.x1) / 2.0;
        radius = 2;
    } else {
        startX = rightmost.x1 - 0.43 * lineHeight;
        radius = 4;
    }
}

std::string formatThousands(std::int64_t v) {
    // The magnitude as unsigned, so that the most negative value has one too.
    std::uint64_t m = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    char buf[32];
    int pos = static_cast<int>(sizeof buf);
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            buf[--pos] = ',';
            inGroup = 0;
        }
        buf[--pos] = static_cast<char>('0' + m % 10);
        m /= 10;
        ++inGroup;
    } while (m != 0);
    return std::string(buf + pos, sizeof buf - static_cast<std::size_t>(pos));
}

std::string moneyText(std::int64_t v) {
    return (v < 0 ? "-$" : "$") + formatThousands(v);
}

namespace {

void takeBalance(const MoneyReading& m, HudReading& reading) {
    reading.balance = m.value;
    reading.balanceText = "$" + formatThousands(m.value);
    reading.balanceConfidence = m.minScore;
    reading.balanceMargin = m.minMargin;
    reading.balanceLeft = m.dollarX;
    reading.balanceRight = m.firstX;
}

} // namespace

bool readBalance(const Model& model, const FramePlanes& planes, const MoneyLine& line, double startX,
                 int radius, const HudReadOptions& options, HudReading& reading) {
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money, model.moneyPairs);
    ctx.confirmBelow = kConfirmBelow;
    ctx.settlers = &model.moneySettlers;
    const MoneyReading m = readMoney(ctx, startX, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, radius);
    if (!m.ok)
        return false;
    takeBalance(m, reading);
    reading.balanceCertain =
        reading.balanceConfidence >= options.minConfidence && reading.balanceMargin >= options.minMargin;
    if (!reading.balanceCertain)
        reading.reason = kReasonUncertain;
    return true;
}

bool confirmBalance(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                    const HudReadOptions& options, HudReading& reading) {
    if (reading.balanceCertain || reading.balanceText.empty() || !(line.height > 4.0))
        return false;
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, line.height, model.money, model.moneyPairs);
    ctx.confirmBelow = kConfirmBelow;
    ctx.settlers = &model.moneySettlers;
    // The first look again from the digit it ended at, for its characters'
    // own scores and margins.
    MoneyReading m =
        readMoney(ctx, reading.balanceRight, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, kSoftRadius);
    if (!m.ok || m.value != reading.balance)
        return false;
    if (!confirmWithSoft(ctx, model.moneyWithSoft, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits,
                         options.minConfidence, options.minMargin, kWideFloor, m))
        return false;
    takeBalance(m, reading);
    reading.balanceCertain = true;
    reading.reason.clear();
    return true;
}

namespace {

constexpr int kRereadRadius = 4;

// Whether a try before tries[i] reads the very same line: the moves of a
// line measured from the ink can land where a move of the line found does,
// and the same reading twice is not two tries agreeing (a soft "$8" read
// certain as "$6" at one geometry counted as two).
bool repeatsEarlier(const BalanceTry* tries, std::size_t i) {
    const BalanceTry& t = tries[i];
    for (std::size_t j = 0; j < i; ++j) {
        const BalanceTry& e = tries[j];
        if (e.top == t.top && e.bottom == t.bottom && e.startX == t.startX && e.band == t.band &&
            e.bandTop == t.bandTop)
            return true;
    }
    return false;
}

} // namespace

int rereadBalance(const Model& model, const FramePlanes& planes, const BalanceTry* tries, std::size_t count,
                  const HudReadOptions& options, HudReading& reading) {
    const bool haveFirst = !reading.balanceText.empty();
    int agreeing = 0;
    int firm = 0;
    MoneyReading best;
    int chosen = -1;
    for (std::size_t i = 0; i < count && tries; ++i) {
        const BalanceTry& t = tries[i];
        const double h = t.bottom - t.top + 1.0;
        if (!(h > 4.0) || !std::isfinite(h) || !std::isfinite(t.startX) || repeatsEarlier(tries, i))
            continue;
        const double shift = t.band ? t.bandTop : 0.0;
        MoneyRowContext ctx(t.band ? *t.band : planes.ink, t.top - shift, t.bottom - shift, h, model.money,
                            model.moneyPairs);
        ctx.confirmBelow = kConfirmBelow;
        ctx.settlers = &model.moneySettlers;
        MoneyReading m =
            readMoney(ctx, t.startX, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, kRereadRadius);
        if (!m.ok || m.minMargin < options.minMargin)
            continue;
        // A try is certain by its own scores, or where the soft digits'
        // second look on its line lifts every character to the confidence
        // and the templates alone decided every one in both looks. Not by a
        // character's wide margin at a low score, as the first reading may
        // be, nor through the tie-breakers: over so many geometries some
        // soft "8" loses to a "6" by such a margin, and a light-on-light "5"
        // leans or is settled to a "6" on several at once.
        auto byTemplates = [](const MoneyReading& r) { return r.settled == 0 && r.leaned == 0; };
        if (m.minScore < options.minConfidence &&
            (!byTemplates(m) ||
             !confirmWithSoft(ctx, model.moneyWithSoft, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits,
                              options.minConfidence, options.minMargin, options.minConfidence, m) ||
             !byTemplates(m)))
            continue;
        if (agreeing > 0 && m.value != best.value)
            return -1;
        ++agreeing;
        if (m.leaned == 0)
            ++firm;
        if (agreeing == 1 || m.minScore > best.minScore) {
            best = m;
            chosen = static_cast<int>(i);
        }
    }
    // A value other than the first reading's needs two tries without a digit
    // that only the tie-breaker's lean kept: it leans alike on every line
    // geometry, so such tries can all be wrong together (a soft
    // light-on-light "5" leaning to "6" on every line).
    const bool contradicts = haveFirst && best.value != reading.balance;
    const bool agreed = contradicts
                            ? firm >= 2
                            : agreeing >= 2 || (agreeing == 1 && haveFirst && best.value == reading.balance);
    if (!agreed)
        return -1;
    takeBalance(best, reading);
    reading.balanceCertain = true;
    reading.reason.clear();
    return chosen;
}

namespace {

// The rightmost column in [fromX, toX) whose rows of the money line carry
// faint ink, or -1.
double rightmostInkColumn(const Plane& ink, const MoneyLine& line, double fromX, double toX) {
    if (ink.empty() || !(fromX == fromX) || !(toX == toX))
        return -1.0;
    const int xa = static_cast<int>(std::max(fromX, 0.0));
    const int xb = static_cast<int>(std::min(toX, static_cast<double>(ink.width)));
    const int ya = static_cast<int>(std::max(line.top, 0.0));
    const int yb = static_cast<int>(std::min(line.bottom + 1.0, static_cast<double>(ink.height)));
    const int needed = std::max(2, static_cast<int>(kInkedRowShare * line.height));
    for (int x = xb - 1; x >= xa; --x) {
        int inked = 0;
        for (int y = ya; y < yb; ++y)
            if (ink.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(ink.width) +
                           static_cast<std::size_t>(x)] > kFaintColumnInk)
                ++inked;
        if (inked >= needed)
            return x;
    }
    return -1.0;
}

} // namespace

void readChange(const Model& model, const FramePlanes& planes, const MoneyLine& line,
                const HudReadOptions& options, HudReading& reading) {
    const double h = line.height;
    const double target = reading.balanceLeft - 3.15 * h;
    const Blob* last = nullptr;
    for (const Blob& b : line.charBlobs)
        if (std::abs(b.x1 - target) <= 0.45 * h && (!last || b.x1 > last->x1))
            last = &b;
    MoneyRowContext ctx(planes.ink, line.top, line.bottom, h, model.money, model.moneyPairs);
    ctx.confirmBelow = kConfirmBelow;
    ctx.settlers = &model.moneySettlers;
    MoneyReading m;
    double arrowFrom = target;
    if (last) {
        double startX = 0.0;
        int radius = 0;
        figureStart(*last, h, startX, radius);
        m = readMoney(ctx, startX, moneyWidths(), kMoneyGroupGap, kMoneyMaxDigits, radius);
        arrowFrom = last->x1;
    }
    if (!m.ok) {
        // Thin strokes of a small, soft change (720 lines, blur) can stay
        // below the mask's threshold while their ink still reads. The arrow
        // is drawn only with a change, so where it shows, the figure is read
        // from where its last digit must end.
        if (arrowColour(planes.frame, line, target, reading.balanceLeft - 0.5 * h) == 0)
            return;
        const double inkRight = rightmostInkColumn(planes.ink, line, target - kChangeSearchBefore * h,
                                                   target + kChangeSearchAfter * h);
        if (inkRight < 0.0)
            return;
        m = readMoney(ctx, inkRight - kChangeLastDigitHalf * h, moneyWidths(), kMoneyGroupGap,
                      kMoneyMaxDigits, kChangeSecondRadius);
        arrowFrom = inkRight;
        if (!m.ok)
            return;
    }

    const WidthTable& w = moneyWidths();
    const Candidate minus = bestPosition(ctx, m.dollarX - (w.of('-') + w.of('$')) / 2.0 * h, '-', 2);
    const bool minusGlyph = minus.score > kMinusPresent;
    const int arrow = arrowColour(planes.frame, line, arrowFrom, reading.balanceLeft - 0.5 * h);

    float confidence = m.minScore;
    bool negative = minusGlyph;
    if (arrow < 0) {
        negative = true;
    } else if (arrow > 0 && minusGlyph) {
        // A loss drawn with a gain's arrow: believe the glyph, but not enough
        // to report it as certain.
        confidence = std::min(confidence, 0.5f);
    } else if (arrow == 0 && minus.score <= kMinusSure) {
        // A gain is drawn with its arrow. Seeing neither the arrow nor a
        // minus, the sign rests on a minus not found, and a minus blurred
        // into the world behind it is not found either; nor does a minus
        // barely found settle it, where the edge of something in the world
        // behind stands just left of the "$" and a small arrow's green
        // drowned in the world's colour.
        confidence = std::min(confidence, 0.5f);
    }
    reading.arrow = arrow;
    reading.change = negative ? -m.value : m.value;
    reading.changeText = (negative ? "-$" : "$") + formatThousands(m.value);
    reading.changeConfidence = confidence;
    reading.changeMargin = m.minMargin;
    reading.changeLeft = m.dollarX;
    reading.changeRight = m.firstX;
    // The change is found from the balance's "$": after an uncertain balance
    // that place, and so the figure read there, may be part of the balance.
    reading.changeCertain =
        reading.balanceCertain && confidence >= options.minConfidence && m.minMargin >= options.minMargin;
}

} // namespace hud

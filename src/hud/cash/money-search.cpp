#include "hud/cash/money-internal.h"
#include "hud/cash/money-strip.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace hud {

using namespace moneyread;

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
        // The 4 x 4 block forms, the model's or made from the above when
        // first needed: value j of template t at roughByValue[j *
        // roughStride + t], so that one pass bounds every template at once.
        const float* roughByValue = nullptr;
        const float* roughRest = nullptr; // roughStride; negative for none
        std::size_t roughStride = 0;
        std::vector<float> ownRoughByValue;
        std::vector<float> ownRoughRest;
    };
    // Stable: the search holds pointers into it. Sets without a list are
    // free for the next lists.
    std::deque<CoarseSet> sets;
    std::vector<float> coarse; // kCoarseLength per cell
    std::vector<float> rest;   // per cell
    std::vector<float> rough;  // kRoughLength per cell
    std::vector<float> roughRest;
    std::vector<float> offsetBounds;       // 2 x 2 bounds per candidate, template and offset
    std::vector<unsigned char> normalised; // per cell: sampled and normalised
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

// Offsets tried around a predicted centre after the first character.
constexpr int kFollowRadius = 3;

// What the bounds allow for the rounding of the float sums: far above it,
// far below the gaps between the scores that the pruning relies on.
constexpr float kBoundSlack = 1e-3f;
// A block of offsets beyond this is scored without the search.
constexpr int kMostSearchedOffsets = 2 * 64 + 1;
// The rough bound's own rounding, on top of the coarse bound's allowance.
constexpr float kRoughSlack = 1e-3f;

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
        set.roughByValue = nullptr;
        set.roughRest = nullptr;
        set.roughStride = 0;
    }
    SearchPool& pool = searchPool();
    if (pool.idle.size() >= kPooledSearches || owned->cells.capacity() > kMostPooledFloats ||
        owned->coarse.capacity() > kMostPooledFloats || owned->strip.capacity() > kMostPooledFloats)
        return;
    pool.idle.push_back(std::move(owned));
}

} // namespace

MoneySearch& moneyread::searchOf(MoneyRowContext& ctx) {
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

namespace {

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

} // namespace

float* moneyread::stripStorage(MoneySearch& s, std::size_t length) {
    ensureSize(s.strip, length);
    return s.strip.data();
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
    set.roughByValue = nullptr;
    set.roughRest = nullptr;
    set.roughStride = 0;
    const detail::CoarseList* made =
        templates.coarse && templates.coarse->coarseLength == static_cast<std::size_t>(kCoarseLength)
            ? templates.coarse->find(templates, list)
            : nullptr;
    if (made) {
        set.sums = made->sums.data();
        set.rest = made->rest.data();
        if (made->roughStride != 0 && made->roughRest.size() == made->roughStride &&
            made->roughStride >= list->size()) {
            set.roughByValue = made->roughByValue.data();
            set.roughRest = made->roughRest.data();
            set.roughStride = made->roughStride;
        }
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
    set.roughStride =
        roughenMoneyTemplates(set.sums, set.rest, set.list->size(), set.ownRoughByValue, set.ownRoughRest);
    set.roughByValue = set.ownRoughByValue.data();
    set.roughRest = set.ownRoughRest.data();
}

// out[t] for every template t of `set` (roughStride of them, padding
// included): the highest rough bound over the k cells, without the slack.
#if CORVEX_HUD_AVX
// One step of a cell's rough bound: values j and j + 1 (if any) of the
// cell times the templates' into the two accumulators.
CORVEX_HUD_TARGET_AVX inline void roughStep(const float* cell, const float* column, std::size_t stride, int j,
                                            __m256& a0, __m256& a1) {
    constexpr int values = kRoughColumns * kRoughRows;
    a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_set1_ps(cell[j]),
                                         _mm256_loadu_ps(column + static_cast<std::size_t>(j) * stride)));
    if (j + 1 < values)
        a1 = _mm256_add_ps(a1,
                           _mm256_mul_ps(_mm256_set1_ps(cell[j + 1]),
                                         _mm256_loadu_ps(column + static_cast<std::size_t>(j + 1) * stride)));
}

// The bounds a cell's accumulators give, raising `high`; `unordered` gets
// the lanes where one is NaN.
CORVEX_HUD_TARGET_AVX inline void roughTake(__m256 a0, __m256 a1, __m256 templateRest, float cellRest,
                                            __m256& high, __m256& unordered) {
    const __m256 v =
        _mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_mul_ps(templateRest, _mm256_set1_ps(cellRest)));
    high = _mm256_max_ps(high, v);
    unordered = _mm256_or_ps(unordered, _mm256_cmp_ps(v, v, _CMP_UNORD_Q));
}

CORVEX_HUD_TARGET_AVX void roughBoundsAvx(const MoneySearch::CoarseSet& set, const float* const* cells,
                                          const float* cellRest, int k, float* out) {
    constexpr int values = kRoughColumns * kRoughRows;
    const std::size_t stride = set.roughStride;
    for (std::size_t b = 0; b < stride; b += 8) {
        const __m256 templateRest = _mm256_loadu_ps(set.roughRest + b);
        const float* column = set.roughByValue + b;
        __m256 high = _mm256_set1_ps(kNoScore);
        __m256 unordered = _mm256_setzero_ps(); // a NaN must reach the caller's check
        // Two cells at a time, each summed as it would be alone: their
        // sums, chains of dependent additions, overlap.
        int q = 0;
        for (; q + 2 <= k; q += 2) {
            __m256 a0 = _mm256_setzero_ps();
            __m256 a1 = _mm256_setzero_ps();
            __m256 c0 = _mm256_setzero_ps();
            __m256 c1 = _mm256_setzero_ps();
            CORVEX_HUD_UNROLL
            for (int j = 0; j < values; j += 2) {
                roughStep(cells[q], column, stride, j, a0, a1);
                roughStep(cells[q + 1], column, stride, j, c0, c1);
            }
            roughTake(a0, a1, templateRest, cellRest[q], high, unordered);
            roughTake(c0, c1, templateRest, cellRest[q + 1], high, unordered);
        }
        if (q < k) {
            __m256 a0 = _mm256_setzero_ps();
            __m256 a1 = _mm256_setzero_ps();
            CORVEX_HUD_UNROLL
            for (int j = 0; j < values; j += 2)
                roughStep(cells[q], column, stride, j, a0, a1);
            roughTake(a0, a1, templateRest, cellRest[q], high, unordered);
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

// Whether all n values are +0: such a cell normalises to itself (its mean
// is 0 and it has no spread to scale), and its block forms are all +0.
bool allPositiveZero(const float* v, std::size_t n) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t b = 0;
        std::memcpy(&b, v + i, sizeof b);
        bits |= b;
    }
    return bits == 0;
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
    CORVEX_HUD_UNROLL_TWICE
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
    CORVEX_HUD_UNROLL_TWICE
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

// coarse[j] = (coarse[j] - shift) * scale over a cell's coarse form, the
// same two float operations per value eight at a time.
#if CORVEX_HUD_AVX
CORVEX_HUD_TARGET_AVX void shiftAndScaleAvx(float* coarse, float shift, float scale) {
    constexpr int whole = kCoarseLength / 8 * 8;
    const __m256 s = _mm256_set1_ps(shift);
    const __m256 f = _mm256_set1_ps(scale);
    CORVEX_HUD_UNROLL_TWICE
    for (int j = 0; j < whole; j += 8)
        _mm256_storeu_ps(coarse + j, _mm256_mul_ps(_mm256_sub_ps(_mm256_loadu_ps(coarse + j), s), f));
    _mm256_zeroupper();
    for (int j = whole; j < kCoarseLength; ++j)
        coarse[j] = (coarse[j] - shift) * scale;
}
#endif

void shiftAndScale(float* coarse, float shift, float scale) {
#if CORVEX_HUD_AVX
    if (detail::haveAvx()) {
        shiftAndScaleAvx(coarse, shift, scale);
        return;
    }
#endif
    for (int j = 0; j < kCoarseLength; ++j)
        coarse[j] = (coarse[j] - shift) * scale;
}

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

float scoreCell(const MoneyRowContext& ctx, const detail::TemplateList* list) {
    return list ? bestTemplateScore(ctx.cell, *list, kMoneyCellLength) : kNoScore;
}

} // namespace

namespace moneyread {

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

bool searchCandidates(MoneyRowContext& ctx, const double* centres, Candidate* cands, std::size_t n, int d0,
                      int k, float floor) {
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
    // are sampled and normalised only when first scored: the bounds are
    // taken from the 2 x 2 forms of the raw cells, made from the strip
    // without the cells and shifted and scaled as normalising would shift
    // and scale them. That differs from the normalised cell's coarse form
    // by rounding only, far inside kBoundSlack. A group with a nearly flat
    // cell, whose spread a single pass cannot measure well enough, is
    // sampled and normalised at once.
    ensureSize(s.normalised, cellCount);
    std::fill(s.normalised.begin(), s.normalised.begin() + static_cast<std::ptrdiff_t>(cellCount), 0);
    for (int g = 0; g < groups; ++g) {
        float* cells =
            s.cells.data() + static_cast<std::size_t>(g) * static_cast<std::size_t>(k) * kMoneyCellLength;
        const std::size_t first = static_cast<std::size_t>(g) * static_cast<std::size_t>(k);
        bool flat = false;
        for (int q = 0; q < k; ++q) {
            const std::size_t c = first + static_cast<std::size_t>(q);
            float* coarse = s.coarse.data() + c * kCoarseLength;
            const float rest = sampleLineCoarse(ctx, groupX[g] + (d0 + q), coarse);
            double mean = 0.0;
            double norm = 0.0;
            coarseSpread(coarse, rest, mean, norm);
            if (!(norm >= kMinLazySpread)) {
                flat = true;
                continue;
            }
            const auto shift = static_cast<float>(2.0 * mean);
            const auto scale = static_cast<float>(1.0 / norm);
            shiftAndScale(coarse, shift, scale);
            s.rest[c] = rest * scale;
        }
        if (flat) {
            // A cell without any ink (the background right of a balance) is
            // its own normalised form, and its 2 x 2 form is blank: only the
            // others need the work.
            float* inked[kMostSearchedOffsets];
            bool blank[kMostSearchedOffsets];
            std::size_t inkedCount = 0;
            for (int q = 0; q < k; ++q) {
                float* cell = cells + static_cast<std::size_t>(q) * kMoneyCellLength;
                sampleLineCell(ctx, groupX[g] + (d0 + q), cell);
                blank[q] = allPositiveZero(cell, kMoneyCellLength);
                if (!blank[q])
                    inked[inkedCount++] = cell;
            }
            normalizeVectors(inked, inkedCount, kMoneyCellLength);
            std::fill(s.normalised.begin() + static_cast<std::ptrdiff_t>(first),
                      s.normalised.begin() + static_cast<std::ptrdiff_t>(first + static_cast<std::size_t>(k)),
                      1);
            for (int q = 0; q < k; ++q) {
                const std::size_t c = first + static_cast<std::size_t>(q);
                float* coarse = s.coarse.data() + c * kCoarseLength;
                if (blank[q]) {
                    std::fill(coarse, coarse + kCoarseLength, 0.0f);
                    s.rest[c] = 0.0f;
                } else {
                    s.rest[c] =
                        coarsenMoneyCell(cells + static_cast<std::size_t>(q) * kMoneyCellLength, coarse);
                }
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
    // The templates whose 2 x 2 bound the candidate's own bound has not
    // taken yet, and the one of them it takes next: the highest rough bound,
    // the first template on equal bounds. Most candidates never take one, so
    // the next is found when wanted rather than all ordered up front.
    bool pending[kMostCandidates][kMaxTemplatesPerChar];
    constexpr std::size_t kNone = kMaxTemplatesPerChar;
    std::size_t head[kMostCandidates];
    float highest[kMostCandidates]; // the highest 2 x 2 bound taken
    const auto findHead = [&](std::size_t i) {
        std::size_t h = kNone;
        const std::size_t size = sets[i]->list->size();
        for (std::size_t t = 0; t < size; ++t)
            if (pending[i][t] && (h == kNone || bound[i][t] > bound[i][h]))
                h = t;
        head[i] = h;
    };
    for (std::size_t i = 0; i < n; ++i) {
        cands[i].score = kNoScore;
        cands[i].x = centres[i];
        highest[i] = kNoScore;
        head[i] = kNone;
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
            pending[i][t] = false;
            if (set.roughRest[t] < 0.0f)
                continue;
            const float high = rough[t] + (kBoundSlack + kRoughSlack);
            if (!std::isfinite(high))
                return false;
            bound[i][t] = high;
            pending[i][t] = true;
        }
        findHead(i);
    }
    const float* coarsePointers[kMostSearchedOffsets];
    ensureSize(s.offsetBounds, n * kMaxTemplatesPerChar * static_cast<std::size_t>(k));
    const auto offsetBoundsOf = [&](std::size_t i, std::size_t t) {
        return s.offsetBounds.data() + (i * kMaxTemplatesPerChar + t) * static_cast<std::size_t>(k);
    };
    // Scores candidate i's template t at the m offsets given into s.best,
    // raising `best`; each cell is sampled and normalised when first scored.
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
                sampleLineCell(ctx, groupX[groupOf[i]] + (d0 + offsets[j]), cell);
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
    // Candidate i's 2 x 2 bound where known, else a bound above it; only
    // candidate i's own steps change it, so it is kept until they do.
    float candidateBound[kMostCandidates];
    bool boundKnown[kMostCandidates];
    const auto updateBound = [&](std::size_t i) {
        boundKnown[i] = head[i] == kNone || bound[i][head[i]] < highest[i];
        candidateBound[i] = boundKnown[i] ? highest[i] : bound[i][head[i]];
    };
    for (std::size_t i = 0; i < n; ++i)
        if (sets[i])
            updateBound(i);

    // Exact scores, from the highest 2 x 2 bound down (the first candidate
    // on equal bounds).
    bool done[kMostCandidates] = {};
    float top1 = kNoScore;
    float top2 = kNoScore;
    int exactCount = 0;
    for (;;) {
        std::size_t i = n;
        float high = kNoScore;
        for (std::size_t j = 0; j < n; ++j) {
            if (done[j] || !sets[j])
                continue;
            if (i == n || candidateBound[j] > high) {
                i = j;
                high = candidateBound[j];
            }
        }
        if (i == n)
            break;
        if ((exactCount >= 2 && high < top2) || high < floor)
            break; // and so is every one after it
        if (!boundKnown[i]) {
            const std::size_t t = head[i];
            if (!refine(i, t))
                return false;
            highest[i] = std::max(highest[i], bound[i][t]);
            pending[i][t] = false;
            findHead(i);
            updateBound(i);
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

} // namespace moneyread

float scoreAt(MoneyRowContext& ctx, double x, char c) {
    const detail::TemplateList* list = ctx.templates.find(c);
    if (!list)
        return kNoScore;
    sampleNormalised(ctx, x);
    return scoreCell(ctx, list);
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

} // namespace hud

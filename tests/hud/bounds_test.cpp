// The coarse bounds that let the money reader and the glyph classifier pass
// over templates: they must never change what scoring every template gives.

#include "hud/cash/money.h"
#include "hud/core/image.h"
#include "hud/core/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

std::shared_ptr<const hud::Model> shippedModel() {
    static const std::shared_ptr<const hud::Model> model =
        hud::loadModel(std::string(CORVEX_SOURCE_DIR) + "/data/hud/model.bin");
    return model;
}

std::vector<float> randomCell(std::mt19937& gen, int length, bool smooth) {
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(length));
    float last = 0.0f;
    for (float& x : v) {
        x = smooth ? 0.8f * last + noise(gen) : noise(gen);
        last = x;
    }
    hud::normalizeVector(v.data(), v.size());
    return v;
}

// Stamps template `t` (a money cell) where a cell centred on cx of the line
// [top, top + h - 1] samples it, over what the plane holds.
void stampMoneyTemplate(hud::Plane& p, const std::vector<float>& t, double cx, double top, double h) {
    const double bottom = top + h - 1.0;
    const double upper = top - 0.3 * h;
    const double stepY = (bottom - top + 0.6 * h) / hud::kMoneyCellRows;
    const double left = cx - 0.45 * h;
    const double stepX = 0.9 * h / hud::kMoneyCellColumns;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const int i = static_cast<int>(std::floor((y - upper) / stepY));
            const int j = static_cast<int>(std::floor((x - left) / stepX));
            if (i < 0 || i >= hud::kMoneyCellRows || j < 0 || j >= hud::kMoneyCellColumns)
                continue;
            p.pixels[static_cast<std::size_t>(y * p.width + x)] +=
                0.5f + 0.5f * t[static_cast<std::size_t>(i * hud::kMoneyCellColumns + j)];
        }
}

// bestPosition as it reads with every template scored at every offset.
hud::Candidate scoreEverywhere(hud::MoneyRowContext& ctx, double x, char c, int radius) {
    hud::Candidate best;
    best.character = c;
    best.x = x;
    for (int d = -radius; d <= radius; ++d) {
        const float v = hud::scoreAt(ctx, x + d, c);
        if (v > best.score) {
            best.score = v;
            best.x = x + d;
        }
    }
    return best;
}

// readMoney as it reads with every character scored at every offset:
// scoreEverywhere for each candidate, then decide().
hud::MoneyReading readEverything(hud::MoneyRowContext& ctx, double startX, int maxDigits, int radius) {
    const hud::WidthTable& widths = hud::moneyWidths();
    hud::MoneyReading r;
    hud::Candidate cands[11];
    for (int i = 0; i < 10; ++i)
        cands[i] = scoreEverywhere(ctx, startX, static_cast<char>('0' + i), radius);
    hud::Decision first = hud::decide(ctx, cands, 10);
    r.digits.push_back(first.chosen.character);
    r.minScore = first.chosen.score;
    r.minMargin = first.margin;
    r.firstX = first.chosen.x;
    int count = 1;
    hud::Candidate previous = first.chosen;
    for (;;) {
        const std::string set = count < maxDigits ? "0123456789$" : "$";
        std::size_t n = 0;
        for (char c : set) {
            const double gap = (c != '$' && count % 3 == 0) ? hud::kMoneyGroupGap * ctx.lineHeight : 0.0;
            const double x =
                previous.x - (widths.of(c) + widths.of(previous.character)) / 2.0 * ctx.lineHeight - gap;
            cands[n++] = scoreEverywhere(ctx, x, c, 3);
        }
        const hud::Decision d = hud::decide(ctx, cands, n);
        if (d.chosen.character == '$') {
            r.dollarX = d.chosen.x;
            r.minScore = std::min(r.minScore, d.chosen.score);
            r.minMargin = std::min(r.minMargin, d.margin);
            r.ok = true;
            return r;
        }
        if (d.chosen.score < 0.45f)
            return r;
        r.digits.insert(r.digits.begin(), d.chosen.character);
        r.minScore = std::min(r.minScore, d.chosen.score);
        r.minMargin = std::min(r.minMargin, d.margin);
        ++count;
        previous = d.chosen;
    }
}

} // namespace

TEST(HudBounds, CoarseFormsBoundTheDotProduct) {
    std::mt19937 gen(11);
    std::vector<float> ca(180), cb(180);
    for (int k = 0; k < 200; ++k) {
        const bool smooth = k % 2 == 0;
        const std::vector<float> a = randomCell(gen, 720, smooth);
        const std::vector<float> b = randomCell(gen, 720, smooth);
        const float ra = hud::coarsenCell(a.data(), 20, 36, ca.data());
        const float rb = hud::coarsenCell(b.data(), 20, 36, cb.data());
        EXPECT_LE(hud::dot(a.data(), b.data(), 720), hud::dot(ca.data(), cb.data(), 180) + ra * rb + 1e-5f);
        // And from below, by the same reasoning with one cell negated.
        EXPECT_GE(hud::dot(a.data(), b.data(), 720), hud::dot(ca.data(), cb.data(), 180) - ra * rb - 1e-5f);
    }
    // A cell of 2 x 2 blocks is all coarse form: nothing is left out.
    std::vector<float> blocks(32 * 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            blocks[static_cast<std::size_t>(y * 32 + x)] = static_cast<float>((x / 2 * 7 + y / 2 * 3) % 5);
    std::vector<float> coarse(256);
    EXPECT_NEAR(hud::coarsenCell(blocks.data(), 32, 32, coarse.data()), 0.0f, 1e-6f);
    EXPECT_NEAR(hud::dot(coarse.data(), coarse.data(), 256), hud::dot(blocks.data(), blocks.data(), 1024),
                1e-3f);
}

// The reader's pruned search against every template at every offset, on
// lines stamped with the shipped templates over noise, from start points on
// and off the last digit, with and without the model's own coarse forms.
TEST(HudBounds, MoneySearchReadsAsScoringEverything) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    hud::detail::Templates copied = model->money; // new storage: its coarse forms do not fit it
    std::mt19937 gen(5);
    std::normal_distribution<float> noise(0.0f, 0.15f);
    const char* figures[] = {"$1,234,567", "$80,305", "$9", "$46", "$999,999,999", "$10,000"};
    const double h = 27.0;
    const double top = 40.0;
    int compared = 0;
    for (const char* text : figures)
        for (int variant = 0; variant < 3; ++variant) {
            hud::Plane p;
            p.resize(700, 120);
            for (float& v : p.pixels)
                v = 0.2f + noise(gen);
            const std::string s(text);
            double x = 600.0 + variant * 0.37;
            int digits = 0;
            char prev = 0;
            for (auto it = s.rbegin(); it != s.rend(); ++it) {
                if (*it == ',')
                    continue;
                const bool digit = *it != '$';
                if (prev)
                    x -= (hud::moneyWidths().of(*it) + hud::moneyWidths().of(prev)) / 2 * h +
                         (digit && digits % 3 == 0 ? hud::kMoneyGroupGap * h : 0.0);
                const hud::detail::TemplateList* list = model->money.find(*it);
                ASSERT_TRUE(list);
                stampMoneyTemplate(p, (*list)[static_cast<std::size_t>(variant * 5 + digits) % list->size()],
                                   x, top, h);
                digits += digit;
                prev = *it;
            }
            for (const hud::detail::Templates* set :
                 {&model->money, static_cast<const hud::detail::Templates*>(&copied)})
                for (double start : {600.0, 601.5, 596.0, 612.0})
                    for (int radius : {2, 4, 9}) {
                        hud::MoneyRowContext pruned(p, top, top + h - 1.0, h, *set, model->moneyPairs);
                        hud::MoneyRowContext full(p, top, top + h - 1.0, h, *set, model->moneyPairs);
                        pruned.confirmBelow = full.confirmBelow = 0.2f;
                        const hud::MoneyReading a =
                            hud::readMoney(pruned, start, hud::moneyWidths(), hud::kMoneyGroupGap, 9, radius);
                        const hud::MoneyReading b = readEverything(full, start, 9, radius);
                        EXPECT_EQ(a.ok, b.ok) << text << " " << start << " " << radius;
                        EXPECT_EQ(a.digits, b.digits) << text << " " << start << " " << radius;
                        EXPECT_EQ(a.minScore, b.minScore) << text << " " << start << " " << radius;
                        EXPECT_EQ(a.minMargin, b.minMargin) << text << " " << start << " " << radius;
                        EXPECT_EQ(a.firstX, b.firstX) << text << " " << start << " " << radius;
                        if (a.ok && b.ok) {
                            EXPECT_EQ(a.dollarX, b.dollarX) << text << " " << start << " " << radius;
                        }
                        ++compared;
                    }
        }
    EXPECT_GT(compared, 0);
}

// The classifier on the model's glyph set and on a copy of it (new storage,
// so nothing made for the model's own vectors can apply), on mixtures of two
// glyphs: a search that prunes must give what scoring everything gives.
TEST(HudBounds, GlyphClassesAsScoringEverything) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    hud::detail::Templates copied = model->glyphs;
    std::mt19937 gen(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<const std::vector<float>*> all;
    for (const auto& [c, list] : model->glyphs.byChar)
        for (const auto& t : list)
            all.push_back(&t);
    std::vector<std::vector<float>> cells;
    for (int k = 0; k < 120; ++k) {
        const auto& a = *all[gen() % all.size()];
        const auto& b = *all[gen() % all.size()];
        const float mix = static_cast<float>(k % 6) / 10.0f;
        const float grain = static_cast<float>(k % 4) * 0.15f;
        std::vector<float> cell(1024);
        for (std::size_t i = 0; i < cell.size(); ++i)
            cell[i] = (1.0f - mix) * a[i] + mix * b[i] + grain * noise(gen) / 32.0f;
        hud::normalizeVector(cell.data(), cell.size());
        cells.push_back(cell);
    }
    std::vector<const float*> views;
    for (const auto& c : cells)
        views.push_back(c.data());
    for (const char* charset :
         {"ABCDEFGHIJKLMNOPRSTUVWXYZ", "0123456789", "0123456789ABCDEFGHIJKLMNOPRSTUVWXYZ", "KKXY"}) {
        for (std::size_t count : {std::size_t{1}, std::size_t{5}, views.size()}) {
            std::vector<hud::GlyphClass> a(count), b(count);
            hud::classifyGlyphs(views.data(), count, model->glyphs, charset, a.data());
            hud::classifyGlyphs(views.data(), count, copied, charset, b.data());
            for (std::size_t q = 0; q < count; ++q) {
                EXPECT_EQ(a[q].character, b[q].character) << charset << " " << q;
                EXPECT_EQ(a[q].score, b[q].score) << charset << " " << q;
                EXPECT_EQ(a[q].second, b[q].second) << charset << " " << q;
            }
        }
    }
}

// Cells close to several templates of the character with the most of
// them, each template weighted differently, so that within that character
// the best score comes from templates scored in one group as well as in
// later ones and the floors rise part way through a group: the pruned
// search must still give what scoring everything gives, bit for bit.
TEST(HudBounds, GlyphClassesAsScoringEverythingAmongOneCharactersTemplates) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    hud::detail::Templates copied = model->glyphs;
    char most = 0;
    std::size_t size = 0;
    for (const auto& [c, list] : model->glyphs.byChar)
        if (list.size() > size) {
            most = c;
            size = list.size();
        }
    ASSERT_GE(size, 6u); // more than one group of templates
    const auto& list = *model->glyphs.find(most);
    std::mt19937 gen(17);
    std::vector<std::vector<float>> cells;
    for (std::size_t lead = 0; lead < size; ++lead)
        for (int spread = 1; spread <= 3; ++spread) {
            std::vector<float> cell(1024, 0.0f);
            for (std::size_t t = 0; t < size; ++t) {
                const float w = t == lead ? 1.0f : static_cast<float>(gen() % 100) / (100.0f * spread);
                for (std::size_t i = 0; i < cell.size(); ++i)
                    cell[i] += w * list[t][i];
            }
            hud::normalizeVector(cell.data(), cell.size());
            cells.push_back(cell);
        }
    std::vector<const float*> views;
    for (const auto& c : cells)
        views.push_back(c.data());
    const std::string charset = std::string(1, most) + "0123456789ABCDEFGHIJKLMNOPRSTUVWXYZ";
    for (std::size_t block : {std::size_t{1}, std::size_t{3}, views.size()})
        for (std::size_t from = 0; from + block <= views.size(); from += block) {
            std::vector<hud::GlyphClass> a(block), b(block);
            hud::classifyGlyphs(views.data() + from, block, model->glyphs, charset, a.data());
            hud::classifyGlyphs(views.data() + from, block, copied, charset, b.data());
            for (std::size_t q = 0; q < block; ++q) {
                EXPECT_EQ(a[q].character, b[q].character) << from + q;
                EXPECT_EQ(std::memcmp(&a[q].score, &b[q].score, sizeof(float)), 0) << from + q;
                EXPECT_EQ(std::memcmp(&a[q].second, &b[q].second, sizeof(float)), 0) << from + q;
            }
        }
}

// Cells where the bounds decide little or where characters tie: a template
// itself (one clear winner), an even blend of two characters, a blank cell
// (every score 0, the first character of the charset wins) and a cell with
// a NaN (no bound holds), in blocks of every size and after a longer charset
// on the same thread.
TEST(HudBounds, GlyphClassesAsScoringEverythingOnTiesAndOddCells) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    hud::detail::Templates copied = model->glyphs;
    const auto& zero = (*model->glyphs.find('0'))[0];
    const auto& oh = (*model->glyphs.find('O'))[0];
    const auto& d = (*model->glyphs.find('D'))[1];
    std::vector<std::vector<float>> cells = {zero, oh, std::vector<float>(1024, 0.0f), d};
    std::vector<float> blend(1024);
    for (std::size_t i = 0; i < blend.size(); ++i)
        blend[i] = 0.5f * oh[i] + 0.5f * d[i];
    hud::normalizeVector(blend.data(), blend.size());
    cells.push_back(blend);
    std::vector<float> broken = blend;
    broken[517] = std::nanf("");
    cells.push_back(broken);
    cells.push_back(zero);
    std::vector<const float*> views;
    for (const auto& c : cells)
        views.push_back(c.data());
    for (const char* charset :
         {"0123456789ABCDEFGHIJKLMNOPRSTUVWXYZ", "DO0", "ODOD", "ABCDEFGHIJKLMNOPRSTUVWXYZ"})
        for (std::size_t from = 0; from < views.size(); ++from)
            for (std::size_t count = 1; from + count <= views.size(); ++count) {
                std::vector<hud::GlyphClass> a(count), b(count);
                hud::classifyGlyphs(views.data() + from, count, model->glyphs, charset, a.data());
                hud::classifyGlyphs(views.data() + from, count, copied, charset, b.data());
                for (std::size_t q = 0; q < count; ++q) {
                    const std::string where = std::string(charset) + " " + std::to_string(from + q);
                    EXPECT_EQ(a[q].character, b[q].character) << where;
                    EXPECT_EQ(std::memcmp(&a[q].score, &b[q].score, sizeof(float)), 0) << where;
                    EXPECT_EQ(std::memcmp(&a[q].second, &b[q].second, sizeof(float)), 0) << where;
                }
            }
    // The blank cell ties at 0 everywhere: the charset's first character.
    hud::GlyphClass blank;
    hud::classifyGlyphs(views.data() + 2, 1, model->glyphs, "DO0", &blank);
    EXPECT_EQ(blank.character, 'D');
    EXPECT_EQ(blank.score, 0.0f);
    EXPECT_EQ(blank.second, 0.0f);
}

// Where one more digit could stand: the highest score exactly once it
// reaches the floor, and something below the floor otherwise.
TEST(HudBounds, BestScoreAroundIsExactFromItsFloor) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    std::mt19937 gen(9);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    const double h = 27.0;
    const double top = 40.0;
    hud::Plane p;
    p.resize(400, 120);
    for (float& v : p.pixels)
        v = 0.2f + noise(gen);
    stampMoneyTemplate(p, (*model->money.find('7'))[3], 200.0, top, h);
    const char digits[] = "0123456789";
    for (double from : {150.0, 180.0, 196.5, 200.0, 230.0})
        for (float floor : {-2.0f, 0.3f, 0.6f, 0.9f}) {
            double centres[10];
            for (int i = 0; i < 10; ++i)
                centres[i] = from + (hud::moneyWidths().of(digits[i]) - 0.9) * h / 2.0;
            hud::MoneyRowContext ctx(p, top, top + h - 1.0, h, model->money, model->moneyPairs);
            const float got = hud::bestScoreAround(ctx, centres, digits, 10, 3, floor);
            float want = hud::kNoScore;
            for (int i = 0; i < 10; ++i)
                want = std::max(want, hud::bestPosition(ctx, centres[i], digits[i], 3).score);
            if (want >= floor)
                EXPECT_EQ(got, want) << from << " " << floor;
            else
                EXPECT_LT(got, floor) << from << " " << floor;
        }
}

// One pass of per-character scores, folded over any part of the charset,
// must give what classifying with that part alone gives.
TEST(HudBounds, GlyphScoresFoldAsClassifying) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    std::mt19937 gen(17);
    std::vector<const std::vector<float>*> all;
    for (const auto& [c, list] : model->glyphs.byChar)
        for (const auto& t : list)
            all.push_back(&t);
    std::vector<std::vector<float>> cells;
    for (int k = 0; k < 23; ++k) {
        std::vector<float> cell = randomCell(gen, 1024, k % 2 == 0);
        if (k % 3 == 0) {
            const auto& a = *all[gen() % all.size()];
            for (std::size_t i = 0; i < cell.size(); ++i)
                cell[i] = a[i] + 0.02f * cell[i];
            hud::normalizeVector(cell.data(), cell.size());
        }
        cells.push_back(cell);
    }
    std::vector<const float*> views;
    for (const auto& c : cells)
        views.push_back(c.data());
    // "Q" has no templates; "KKXY" repeats one.
    const std::string charset = "ABCDEFGHIJKLMNOPRSTUVWXYZ0123456789QKK";
    std::vector<float> scores(views.size() * charset.size());
    hud::bestGlyphScores(views.data(), views.size(), model->glyphs, charset, scores.data());
    for (const auto& [from, length] :
         {std::pair<std::size_t, std::size_t>{0, 25}, {25, 10}, {0, 35}, {33, 5}}) {
        const std::string part = charset.substr(from, length);
        std::vector<hud::GlyphClass> want(views.size());
        hud::classifyGlyphs(views.data(), views.size(), model->glyphs, part, want.data());
        for (std::size_t q = 0; q < views.size(); ++q) {
            const hud::GlyphClass got = hud::foldGlyphScores(scores.data() + q * charset.size() + from, part);
            EXPECT_EQ(got.character, want[q].character) << part << " " << q;
            EXPECT_EQ(got.score, want[q].score) << part << " " << q;
            EXPECT_EQ(got.second, want[q].second) << part << " " << q;
        }
    }
    // Nothing to score: every character stays without a score.
    hud::detail::Templates none;
    hud::bestGlyphScores(views.data(), 3, none, "AB", scores.data());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(scores[static_cast<std::size_t>(i)], hud::kNoScore);
    EXPECT_EQ(hud::foldGlyphScores(scores.data(), "AB").character, '?');
}

// The money reader's working memory outlives its contexts (it is pooled per
// thread): a context read after others, on other templates that may stand
// where freed ones stood, must read as a context on fresh memory would.
TEST(HudBounds, MoneySearchMemoryKeepsNothingAcrossContexts) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    const double h = 27.0;
    const double top = 40.0;
    hud::Plane p;
    p.resize(400, 120);
    std::mt19937 gen(23);
    std::normal_distribution<float> noise(0.0f, 0.002f);
    for (float& v : p.pixels)
        v = 0.2f + noise(gen);
    stampMoneyTemplate(p, (*model->money.find('4'))[1], 300.0, top, h);
    stampMoneyTemplate(p, (*model->money.find('$'))[0], 300.0 - (0.918 + 0.95) / 2.0 * h, top, h);
    auto read = [&](const hud::detail::Templates& set) {
        hud::MoneyRowContext ctx(p, top, top + h - 1.0, h, set, model->moneyPairs);
        return hud::readMoney(ctx, 300.0, hud::moneyWidths(), hud::kMoneyGroupGap, 9, 4);
    };
    auto same = [](const hud::MoneyReading& a, const hud::MoneyReading& b) {
        return a.ok == b.ok && a.digits == b.digits && a.minScore == b.minScore &&
               a.minMargin == b.minMargin && a.firstX == b.firstX && a.dollarX == b.dollarX;
    };
    // On a thread of its own the reading starts from fresh memory.
    auto readFresh = [&](const hud::detail::Templates& set) {
        hud::MoneyReading r;
        std::thread([&] { r = read(set); }).join();
        return r;
    };
    const hud::MoneyReading first = read(model->money);
    EXPECT_TRUE(same(first, readFresh(model->money)));
    const char replacements[] = "7193";
    for (int round = 0; round < 4; ++round) {
        // A set whose "4" templates are another digit's, made and freed
        // each round, so that the next one's lists may take their places.
        auto swapped = std::make_unique<hud::detail::Templates>(model->money);
        swapped->coarse.reset();
        swapped->byChar[static_cast<signed char>('4')] = *model->money.find(replacements[round]);
        const hud::MoneyReading other = read(*swapped);
        EXPECT_FALSE(same(other, first)) << round;
        EXPECT_TRUE(same(other, readFresh(*swapped))) << round;
        swapped.reset();
        EXPECT_TRUE(same(read(model->money), first)) << round;
    }
}

// The 4 x 4 forms a loaded model carries for its money-sized sets are the
// ones a search would make from their 2 x 2 forms, bit for bit, with the
// padding up to the stride marked as no template; other sets carry none.
TEST(HudBounds, ModelRoughFormsAreTheSearchsOwn) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    const hud::detail::Templates* sets[] = {&model->money, &model->figures, &model->moneyWithSoft,
                                            &model->figuresWithSoft};
    int checked = 0;
    for (const hud::detail::Templates* set : sets) {
        ASSERT_TRUE(set->coarse);
        for (const auto& [c, list] : set->byChar) {
            const hud::detail::CoarseList* made = set->coarse->find(*set, &list);
            ASSERT_NE(made, nullptr);
            ASSERT_EQ(made->roughStride, (list.size() + 7) / 8 * 8) << c;
            ASSERT_EQ(made->roughRest.size(), made->roughStride);
            ASSERT_EQ(made->roughByValue.size(), made->roughStride * hud::kMoneyRoughLength);
            for (std::size_t t = 0; t < made->roughStride; ++t) {
                if (t >= list.size() || made->rest[t] < 0.0f) {
                    EXPECT_LT(made->roughRest[t], 0.0f) << c << " " << t;
                    continue;
                }
                std::vector<float> rough(hud::kMoneyRoughLength);
                const float rest = hud::roughenMoneyCoarse(made->sums.data() + t * set->coarse->coarseLength,
                                                           made->rest[t], rough.data());
                EXPECT_EQ(made->roughRest[t], rest) << c << " " << t;
                for (int j = 0; j < hud::kMoneyRoughLength; ++j)
                    ASSERT_EQ(made->roughByValue[static_cast<std::size_t>(j) * made->roughStride + t],
                              rough[j])
                        << c << " " << t << " " << j;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100);
    ASSERT_TRUE(model->glyphs.coarse);
    for (const hud::detail::CoarseList& made : model->glyphs.coarse->lists)
        EXPECT_EQ(made.roughStride, 0u);
}

// The money cell's own coarsening against the general one.
TEST(HudBounds, MoneyCellCoarsensAsAnyCell) {
    std::mt19937 gen(29);
    std::vector<float> want(180), got(180);
    for (int k = 0; k < 50; ++k) {
        std::vector<float> cell = randomCell(gen, 720, k % 2 == 0);
        if (k % 5 == 0)
            for (float& v : cell)
                v = 0.5f * v + 0.3f; // raw, not centred
        const float wantRest = hud::coarsenCell(cell.data(), 20, 36, want.data());
        const float gotRest = hud::coarsenMoneyCell(cell.data(), got.data());
        EXPECT_NEAR(gotRest, wantRest, 1e-5f) << k;
        for (std::size_t j = 0; j < want.size(); ++j)
            EXPECT_NEAR(got[j], want[j], 1e-6f) << k << " " << j;
    }
}

// The 4 x 4 forms the money search bounds with first: never below the 2 x 2
// bound (which the search then relies on being the same for the characters
// it orders) nor the dot product itself, on smooth and rough cells, flat
// ones, single spikes, cells far from zero mean and the shipped templates.
TEST(HudBounds, RoughFormsBoundTheCoarseBound) {
    std::mt19937 gen(41);
    auto model = shippedModel();
    ASSERT_TRUE(model);
    std::vector<std::vector<float>> cells;
    for (int k = 0; k < 60; ++k)
        cells.push_back(randomCell(gen, 720, k % 2 == 0));
    cells.emplace_back(720, 0.0f); // empty
    cells.emplace_back(720, 0.7f); // flat, not centred
    std::vector<float> spike(720, 0.0f);
    spike[719] = 1.0f; // the last value of the last block
    cells.push_back(spike);
    spike.assign(720, 0.0f);
    spike[0] = -1.0f;
    cells.push_back(spike);
    std::vector<float> shifted = randomCell(gen, 720, true);
    for (float& v : shifted)
        v = 40.0f + 3.0f * v;
    cells.push_back(shifted);
    for (const char c : std::string("0123456789$")) {
        const auto* list = model->money.find(c);
        ASSERT_NE(list, nullptr) << c;
        for (const auto& t : *list)
            if (t.size() >= 720)
                cells.push_back(t);
    }
    const std::size_t count = cells.size();
    std::vector<std::vector<float>> coarse(count, std::vector<float>(180));
    std::vector<std::vector<float>> rough(count, std::vector<float>(hud::kMoneyRoughLength, 1.0f));
    std::vector<float> coarseRest(count), roughRest(count);
    for (std::size_t i = 0; i < count; ++i) {
        coarseRest[i] = hud::coarsenMoneyCell(cells[i].data(), coarse[i].data());
        roughRest[i] = hud::roughenMoneyCoarse(coarse[i].data(), coarseRest[i], rough[i].data());
        ASSERT_TRUE(std::isfinite(roughRest[i])) << i;
        for (int j = hud::kMoneyRoughColumns * hud::kMoneyRoughRows; j < hud::kMoneyRoughLength; ++j)
            EXPECT_EQ(rough[i][static_cast<std::size_t>(j)], 0.0f) << i; // padding
    }
    // The rough form keeps the cell's whole length.
    for (std::size_t i = 0; i < count; ++i) {
        const float whole = hud::dot(cells[i].data(), cells[i].data(), 720);
        const float kept =
            hud::dot(rough[i].data(), rough[i].data(), hud::kMoneyRoughLength) + roughRest[i] * roughRest[i];
        EXPECT_NEAR(kept, whole, 1e-4f * std::max(1.0f, whole)) << i;
    }
    int tighter = 0;
    for (std::size_t a = 0; a < count; a += 3)
        for (std::size_t b = 0; b < count; ++b) {
            const float scale = std::sqrt(hud::dot(cells[a].data(), cells[a].data(), 720) *
                                          hud::dot(cells[b].data(), cells[b].data(), 720));
            const float slack = 1e-5f * std::max(1.0f, scale);
            const float exact = hud::dot(cells[a].data(), cells[b].data(), 720);
            const float byCoarse =
                hud::dot(coarse[a].data(), coarse[b].data(), 180) + coarseRest[a] * coarseRest[b];
            const float byRough = hud::dot(rough[a].data(), rough[b].data(), hud::kMoneyRoughLength) +
                                  roughRest[a] * roughRest[b];
            EXPECT_LE(exact, byCoarse + slack) << a << " " << b;
            EXPECT_LE(byCoarse, byRough + slack) << a << " " << b;
            if (byRough > byCoarse + 0.01f * std::max(1.0f, scale))
                ++tighter;
        }
    // The two bounds are not the same bound in disguise.
    EXPECT_GT(tighter, 0);
}

// The best place of one character against every template at every offset,
// with the characters asked in turn at one place (whose cells the reader
// samples once): on stamped digits, beside them, on noise alone, at the
// plane's edges, from blocks of one offset to several, on the model's
// templates and on a copy without coarse forms.
TEST(HudBounds, BestPositionAsScoringEverything) {
    const auto model = shippedModel();
    ASSERT_TRUE(model);
    hud::detail::Templates copied = model->money;
    std::mt19937 gen(43);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    const double h = 25.0;
    const double top = 30.0;
    int compared = 0;
    for (int round = 0; round < 6; ++round) {
        hud::Plane p;
        p.resize(400, 100);
        for (float& v : p.pixels)
            v = 0.3f + noise(gen);
        const std::string digits = "3806";
        for (std::size_t i = 0; i < digits.size() && round < 5; ++i) {
            const hud::detail::TemplateList* list = model->money.find(digits[i]);
            ASSERT_TRUE(list);
            stampMoneyTemplate(p, (*list)[(i + static_cast<std::size_t>(round)) % list->size()],
                               100.0 + 21.0 * static_cast<double>(i) + 0.3 * round, top, h);
        }
        for (const hud::detail::Templates* set :
             {&model->money, static_cast<const hud::detail::Templates*>(&copied)}) {
            // One context for every place, as a line's reader keeps it.
            hud::MoneyRowContext pruned(p, top, top + h - 1.0, h, *set, model->moneyPairs);
            for (int radius : {0, 1, 2, 4, 11})
                for (double x : {100.0, 121.4, 142.0, 142.0, 166.7, 250.0, 3.0, 398.0}) {
                    hud::MoneyRowContext full(p, top, top + h - 1.0, h, *set, model->moneyPairs);
                    // Digits in turn at one place, as the reward figures ask.
                    for (char c : std::string("0123456789$-")) {
                        const hud::Candidate a = hud::bestPosition(pruned, x, c, radius);
                        const hud::Candidate b = scoreEverywhere(full, x, c, radius);
                        EXPECT_EQ(a.score, b.score) << round << " " << x << " " << radius << " " << c;
                        EXPECT_EQ(a.x, b.x) << round << " " << x << " " << radius << " " << c;
                        ++compared;
                    }
                }
        }
    }
    EXPECT_GT(compared, 1000);
}

#include "hud/core/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Assembles model files byte by byte, independently of serializeModel.
struct Bytes {
    std::vector<std::uint8_t> b;

    Bytes& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes& u8(std::uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Bytes& f32(float f) {
        std::uint32_t v;
        std::memcpy(&v, &f, 4);
        return u32(v);
    }
    Bytes& text(const char* s) {
        for (; *s; ++s)
            b.push_back(static_cast<std::uint8_t>(*s));
        return *this;
    }
    Bytes& append(const Bytes& o) {
        b.insert(b.end(), o.b.begin(), o.b.end());
        return *this;
    }
    Bytes& section(const char* tag, const Bytes& payload) {
        text(tag).u32(static_cast<std::uint32_t>(payload.b.size()));
        return append(payload);
    }
};

Bytes header(std::uint32_t sections) {
    Bytes h;
    h.text("KHUD").u32(1).u32(sections);
    return h;
}

// A template set of `cellLength` with the given characters, each with `count`
// templates whose values are the character code plus the template index, over
// 256 (stored templates are normalised, so their values lie within -1..1).
Bytes templateSet(std::uint32_t cellLength, const std::string& chars, std::uint32_t count) {
    Bytes p;
    p.u32(cellLength).u32(static_cast<std::uint32_t>(chars.size()));
    for (char c : chars) {
        p.u8(static_cast<std::uint8_t>(c)).u32(count);
        for (std::uint32_t t = 0; t < count; ++t)
            for (std::uint32_t i = 0; i < cellLength; ++i)
                p.f32((static_cast<float>(c) + static_cast<float>(t)) / 256.0f);
    }
    return p;
}

Bytes moneySection() {
    return templateSet(720, "0$", 1);
}

struct Parsed {
    std::shared_ptr<const hud::Model> model;
    std::string error;
};

Parsed parse(const Bytes& bytes) {
    Parsed p;
    p.model = hud::parseModel(bytes.b.data(), bytes.b.size(), &p.error);
    return p;
}

std::string errorOf(const Bytes& bytes) {
    const Parsed p = parse(bytes);
    EXPECT_FALSE(p.model);
    return p.error;
}

} // namespace

TEST(HudModel, HeaderFailuresNameTheirCause) {
    EXPECT_EQ(errorOf(Bytes{}), "not a HUD model file");
    EXPECT_EQ(errorOf(Bytes{}.text("KHU")), "not a HUD model file");
    EXPECT_EQ(errorOf(Bytes{}.text("khud").u32(1).u32(0)), "not a HUD model file");
    EXPECT_EQ(errorOf(Bytes{}.text("KHUD")), "unsupported HUD model version");
    EXPECT_EQ(errorOf(Bytes{}.text("KHUD").u8(1).u8(0)), "unsupported HUD model version");
    EXPECT_EQ(errorOf(Bytes{}.text("KHUD").u32(2).u32(1).section("MCEL", moneySection())),
              "unsupported HUD model version");
    // Without a section count (or with none) there is nothing to read.
    EXPECT_EQ(errorOf(Bytes{}.text("KHUD").u32(1)), "HUD model has no money templates");
    EXPECT_EQ(errorOf(header(0)), "HUD model has no money templates");
    EXPECT_EQ(errorOf(Bytes{}.text("KHUD").u32(1).u8(1)), "HUD model has no money templates");
}

TEST(HudModel, SectionsCutShortAreTruncated) {
    EXPECT_EQ(errorOf(header(1)), "truncated HUD model");
    EXPECT_EQ(errorOf(header(1).text("MC")), "truncated HUD model");
    EXPECT_EQ(errorOf(header(1).text("MCEL").u8(4)), "truncated HUD model");
    // A length past the end fails even for a section nobody reads.
    EXPECT_EQ(errorOf(header(2).section("MCEL", moneySection()).text("XTRA").u32(5).u32(0)),
              "truncated HUD model");
    // A huge section count with no sections behind it.
    EXPECT_EQ(errorOf(header(0xFFFFFFFFu).section("MCEL", moneySection())), "truncated HUD model");
}

TEST(HudModel, UnknownSectionsAreSkippedAndTagsAreCaseSensitive) {
    Bytes extra;
    extra.text("whatever is in here");
    const Parsed p =
        parse(header(3).section("XTRA", extra).section("mcel", extra).section("MCEL", moneySection()));
    ASSERT_TRUE(p.model) << p.error;
    EXPECT_EQ(p.model->money.cellLength, 720u);
    ASSERT_NE(p.model->money.find('$'), nullptr);
    EXPECT_EQ(p.model->money.find('$')->size(), 1u);
    EXPECT_EQ(p.model->money.find('7'), nullptr);
    EXPECT_FLOAT_EQ(p.model->money.find('0')->front()[719], static_cast<float>('0') / 256.0f);
}

TEST(HudModel, MoneyCellLengthMustBe720) {
    EXPECT_EQ(errorOf(header(1).section("MCEL", templateSet(719, "0", 1))),
              "HUD model has no money templates");
    EXPECT_EQ(errorOf(header(1).section("MCEL", templateSet(721, "0", 1))),
              "HUD model has no money templates");
    // Other sets are not held to a length when loading.
    const Parsed p =
        parse(header(2).section("GLYP", templateSet(16, "AB", 2)).section("MCEL", moneySection()));
    ASSERT_TRUE(p.model) << p.error;
    EXPECT_EQ(p.model->glyphs.cellLength, 16u);
    EXPECT_EQ(p.model->glyphs.find('B')->size(), 2u);
}

TEST(HudModel, TemplateSetLimits) {
    const char* damaged = "damaged HUD model section";
    EXPECT_EQ(errorOf(header(1).section("MCEL", Bytes{}.u32(0).u32(0))), damaged);
    EXPECT_EQ(errorOf(header(1).section("MCEL", Bytes{}.u32(4097).u32(0))), damaged);
    EXPECT_EQ(errorOf(header(1).section("MCEL", Bytes{}.u32(720))), damaged);
    EXPECT_EQ(errorOf(header(1).section("FCEL", templateSet(8, "1", 65)).section("MCEL", moneySection())),
              damaged);
    EXPECT_TRUE(parse(header(1).section("MCEL", templateSet(720, "1", 64))).model);

    std::string many;
    for (int i = 0; i < 129; ++i)
        many.push_back(static_cast<char>(i));
    EXPECT_EQ(errorOf(header(1).section("MCEL", templateSet(720, many, 0))), damaged);
    many.pop_back();
    const Parsed p = parse(header(1).section("MCEL", templateSet(720, many, 0)));
    ASSERT_TRUE(p.model) << p.error;
    // Entries exist even without templates.
    EXPECT_EQ(p.model->money.byChar.size(), 128u);
    ASSERT_NE(p.model->money.find('\x7f'), nullptr);
    EXPECT_TRUE(p.model->money.find('\x7f')->empty());
}

TEST(HudModel, SectionParsersStayInsideTheirPayload) {
    // The payload claims one template of 720 floats but holds only part of
    // it; the bytes after it (a valid section) must not be read as its rest.
    Bytes shortPayload = Bytes{}.u32(720).u32(1).u8('0').u32(1);
    for (int i = 0; i < 100; ++i)
        shortPayload.f32(1.0f);
    EXPECT_EQ(errorOf(header(2).section("MCEL", shortPayload).section("MCEL", moneySection())),
              "damaged HUD model section");
    // Bytes left over at the end of a payload are ignored.
    Bytes padded = moneySection();
    padded.text("spare");
    EXPECT_TRUE(parse(header(1).section("MCEL", padded)).model);
}

TEST(HudModel, RepeatedCharactersAndSectionsAppend) {
    const Parsed p =
        parse(header(2).section("MCEL", templateSet(720, "00", 1)).section("MCEL", templateSet(720, "0", 2)));
    ASSERT_TRUE(p.model) << p.error;
    const auto* zeros = p.model->money.find('0');
    ASSERT_NE(zeros, nullptr);
    ASSERT_EQ(zeros->size(), 4u);
    EXPECT_FLOAT_EQ((*zeros)[3][0], (static_cast<float>('0') + 1.0f) / 256.0f);
}

TEST(HudModel, PairParameters) {
    Bytes pairs;
    pairs.u32(3).u32(2);
    pairs.u8('3').u8('8').f32(0.5f).f32(1).f32(2).f32(3);
    pairs.u8('3').u8('8').f32(-1.5f).f32(4).f32(5).f32(6);
    const Parsed p = parse(header(2).section("MPAR", pairs).section("MCEL", moneySection()));
    ASSERT_TRUE(p.model) << p.error;
    ASSERT_EQ(p.model->moneyPairs.size(), 1u);
    const hud::PairParams& rec = p.model->moneyPairs.at(hud::PairKey{'3', '8'});
    EXPECT_FLOAT_EQ(rec.bias, -1.5f);
    EXPECT_EQ(rec.weights, (std::vector<float>{4, 5, 6}));

    const char* damaged = "damaged HUD model section";
    EXPECT_EQ(errorOf(header(1).section("FPAR", Bytes{}.u32(0).u32(0))), damaged);
    EXPECT_EQ(errorOf(header(1).section("FPAR", Bytes{}.u32(4097).u32(0))), damaged);
    EXPECT_EQ(errorOf(header(1).section("FPAR", Bytes{}.u32(1).u32(4097))), damaged);
    EXPECT_EQ(errorOf(header(1).section("FPAR", Bytes{}.u32(2).u32(1).u8('1').u8('7').f32(0).f32(1))),
              damaged);
    // Negative character codes order as signed.
    Bytes signedPairs;
    signedPairs.u32(1).u32(2).u8(0xF0).u8('a').f32(0).f32(1).u8('a').u8('a').f32(0).f32(1);
    const Parsed s = parse(header(2).section("FPAR", signedPairs).section("MCEL", moneySection()));
    ASSERT_TRUE(s.model) << s.error;
    EXPECT_EQ(s.model->figurePairs.begin()->first.first, static_cast<signed char>(0xF0));
}

TEST(HudModel, SerializeRoundTripsAndSplitsAtTheLimits) {
    hud::Model m;
    m.money.cellLength = 720;
    m.money.byChar['5'].assign(70, std::vector<float>(720, 0.25f)); // more than one entry holds
    m.money.byChar['$'].push_back(std::vector<float>(720, -1.0f));
    m.glyphs.cellLength = 2;
    for (int c = -100; c < 100; ++c) // more characters than one section holds
        m.glyphs.byChar[static_cast<signed char>(c)].push_back({static_cast<float>(c) / 128.0f, 1.0f});
    m.figures.cellLength = 720; // declared but empty
    m.moneyPairs[hud::PairKey{'3', '8'}] = {std::vector<float>(720, 0.5f), 0.25f};
    m.figurePairs[hud::PairKey{'1', '7'}] = {{1.0f, 2.0f}, 3.0f};
    m.figurePairs[hud::PairKey{'1', '4'}] = {{1.0f}, -3.0f}; // another weight count

    const std::vector<std::uint8_t> bytes = hud::serializeModel(m);
    std::string error;
    const auto back = hud::parseModel(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->money.byChar, m.money.byChar);
    EXPECT_EQ(back->glyphs.byChar, m.glyphs.byChar);
    EXPECT_EQ(back->glyphs.cellLength, 2u);
    EXPECT_EQ(back->figures.cellLength, 720u);
    ASSERT_EQ(back->moneyPairs.size(), 1u);
    EXPECT_EQ(back->moneyPairs.at(hud::PairKey{'3', '8'}).weights,
              m.moneyPairs.at(hud::PairKey{'3', '8'}).weights);
    ASSERT_EQ(back->figurePairs.size(), 2u);
    EXPECT_FLOAT_EQ(back->figurePairs.at(hud::PairKey{'1', '4'}).bias, -3.0f);
}

TEST(HudModel, LoadReadsFilesAndReportsMissingOnes) {
    std::string error;
    const std::string missing = ::testing::TempDir() + "/no such dir/model.bin";
    EXPECT_FALSE(hud::loadModel(missing, &error));
    EXPECT_EQ(error, "cannot open " + missing);
    EXPECT_FALSE(hud::loadModel(missing)); // no message wanted, no crash

    const std::string path = ::testing::TempDir() + "/hud_model_test.bin";
    const Bytes file = header(1).section("MCEL", moneySection());
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.b.data()), static_cast<std::streamsize>(file.b.size()));
    }
    error.clear();
    const auto model = hud::loadModel(path, &error);
    ASSERT_TRUE(model) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(model->money.byChar.size(), 2u);
    std::remove(path.c_str());
}

TEST(HudModel, PhraseShapesRoundTripAndRejectDamage) {
    hud::Model m;
    m.money.cellLength = 720;
    m.money.byChar['0'].push_back(std::vector<float>(720, 0.0f));
    m.phraseShapes.bands = 2;
    m.phraseShapes.columnsPerCap = 3;
    m.phraseShapes.letters['K'] = {2, {0.0f, 0.5f, 1.0f, 0.25f}};
    m.phraseShapes.letters['I'] = {1, {1.0f, 1.0f}};
    m.phraseShapes.phrases.push_back({"KI K", {0.0f, 0.7f, 0.0f}});
    const std::vector<std::uint8_t> bytes = hud::serializeModel(m);
    std::string error;
    const auto back = hud::parseModel(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->phraseShapes.bands, 2u);
    EXPECT_EQ(back->phraseShapes.columnsPerCap, 3u);
    ASSERT_EQ(back->phraseShapes.letters.size(), 2u);
    EXPECT_EQ(back->phraseShapes.letters.at('K').ink, m.phraseShapes.letters.at('K').ink);
    ASSERT_EQ(back->phraseShapes.phrases.size(), 1u);
    EXPECT_EQ(back->phraseShapes.phrases[0].text, "KI K");
    EXPECT_EQ(back->phraseShapes.phrases[0].letterLeft, m.phraseShapes.phrases[0].letterLeft);

    // A model without shapes writes no section and loads without them.
    hud::Model plain = m;
    plain.phraseShapes = {};
    const std::vector<std::uint8_t> plainBytes = hud::serializeModel(plain);
    const auto plainBack = hud::parseModel(plainBytes.data(), plainBytes.size(), &error);
    ASSERT_TRUE(plainBack) << error;
    EXPECT_EQ(plainBack->phraseShapes.bands, 0u);

    const char* damaged = "damaged HUD model section";
    auto withShapes = [](const Bytes& payload) {
        return header(2).section("MCEL", moneySection()).section("PSHP", payload);
    };
    EXPECT_EQ(errorOf(withShapes(Bytes{}.u32(0).u32(3).u32(0).u32(0))), damaged);  // no bands
    EXPECT_EQ(errorOf(withShapes(Bytes{}.u32(17).u32(3).u32(0).u32(0))), damaged); // too many
    EXPECT_EQ(errorOf(withShapes(Bytes{}.u32(1).u32(3).u32(1).u8('K').u32(0).u32(0))), damaged);
    EXPECT_EQ(errorOf(withShapes(Bytes{}.u32(1).u32(3).u32(1).u8('K').u32(2).f32(0.5f))), damaged);
    // A phrase's letter places cut short, or its text longer than the payload.
    EXPECT_EQ(errorOf(withShapes(Bytes{}.u32(1).u32(3).u32(0).u32(1).u32(2).text("KI").f32(0))), damaged);
    EXPECT_EQ(errorOf(withShapes(Bytes{}.u32(1).u32(3).u32(0).u32(1).u32(9).text("KI"))), damaged);
    // Ink shares outside 0..1 (or not numbers) and places off the word.
    const std::string bad = errorOf(withShapes(Bytes{}.u32(1).u32(3).u32(1).u8('K').u32(1).f32(1.5f).u32(0)));
    EXPECT_NE(bad.find("PSHP"), std::string::npos) << bad;
    EXPECT_FALSE(
        parse(withShapes(Bytes{}.u32(1).u32(3).u32(1).u8('K').u32(1).f32(std::nanf("")).u32(0))).model);
    EXPECT_FALSE(parse(withShapes(Bytes{}.u32(1).u32(3).u32(0).u32(1).u32(1).text("K").f32(-1.0f))).model);
    // Blanks take no place of their own.
    const Parsed ok = parse(withShapes(Bytes{}.u32(1).u32(3).u32(0).u32(1).u32(3).text("K I").f32(0).f32(0)));
    ASSERT_TRUE(ok.model) << ok.error;
    EXPECT_EQ(ok.model->phraseShapes.phrases[0].letterLeft.size(), 2u);
}

TEST(HudModel, SettlingPairsAreAnAdditiveSection) {
    // A file from before the section loads with no settlers.
    const Parsed old = parse(header(2)
                                 .section("MPAR", Bytes{}.u32(1).u32(1).u8('3').u8('8').f32(0).f32(1))
                                 .section("MCEL", moneySection()));
    ASSERT_TRUE(old.model) << old.error;
    EXPECT_TRUE(old.model->moneySettlers.empty());
    EXPECT_TRUE(old.model->figureSettlers.empty());

    // Round trip, beside the tie-breakers and kept apart from them.
    hud::Model m;
    m.money.cellLength = 720;
    m.money.byChar['0'].push_back(std::vector<float>(720, 0.5f));
    m.moneyPairs[hud::PairKey{'3', '8'}] = {std::vector<float>(720, 0.5f), 0.25f};
    m.moneySettlers[hud::PairKey{'3', '8'}] = {std::vector<float>(720, -0.5f), 1.25f};
    m.figureSettlers[hud::PairKey{'5', '6'}] = {std::vector<float>(720, 2.0f), -0.75f};
    m.figureSettlers[hud::PairKey{'0', '8'}] = {std::vector<float>(720, 1.0f), 0.0f};
    const std::vector<std::uint8_t> bytes = hud::serializeModel(m);
    std::string error;
    const auto back = hud::parseModel(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->moneyPairs.size(), 1u);
    EXPECT_FLOAT_EQ(back->moneyPairs.at(hud::PairKey{'3', '8'}).bias, 0.25f);
    ASSERT_EQ(back->moneySettlers.size(), 1u);
    EXPECT_FLOAT_EQ(back->moneySettlers.at(hud::PairKey{'3', '8'}).bias, 1.25f);
    EXPECT_EQ(back->moneySettlers.at(hud::PairKey{'3', '8'}).weights, std::vector<float>(720, -0.5f));
    ASSERT_EQ(back->figureSettlers.size(), 2u);
    EXPECT_EQ(back->figureSettlers.at(hud::PairKey{'5', '6'}).weights, std::vector<float>(720, 2.0f));
    EXPECT_TRUE(back->figurePairs.empty());

    // Damage is refused: a cut record, an impossible count, a weight that is
    // not a number.
    EXPECT_EQ(errorOf(header(1).section("MSET", Bytes{}.u32(2).u32(1).u8('3').u8('8').f32(0).f32(1))),
              "damaged HUD model section");
    EXPECT_EQ(errorOf(header(1).section("FSET", Bytes{}.u32(1).u32(4097))), "damaged HUD model section");
    const Bytes notANumber = Bytes{}.u32(1).u32(1).u8('3').u8('8').f32(0).f32(std::nanf(""));
    EXPECT_EQ(errorOf(header(2).section("FSET", notANumber).section("MCEL", moneySection())),
              "HUD model section FSET holds a weight that is not a finite number");
}

TEST(HudModel, SoftDigitTemplatesAreAnAdditiveSectionJoinedOnLoading) {
    // A file from before the section loads with no soft templates and no
    // joined sets, so the readers never take a second look.
    const Parsed old = parse(header(1).section("MCEL", moneySection()));
    ASSERT_TRUE(old.model) << old.error;
    EXPECT_TRUE(old.model->moneySoft.byChar.empty());
    EXPECT_EQ(old.model->moneyWithSoft.cellLength, 0u);
    EXPECT_EQ(old.model->figuresWithSoft.cellLength, 0u);

    // Round trip; each soft template joins its digit's own ones after them,
    // a digit without own templates gets the soft ones alone, and the "$"
    // stays as it was.
    hud::Model m;
    m.money.cellLength = 720;
    m.money.byChar['0'].push_back(std::vector<float>(720, 0.5f));
    m.money.byChar['$'].push_back(std::vector<float>(720, 0.25f));
    m.moneySoft.cellLength = 720;
    m.moneySoft.byChar['0'].push_back(std::vector<float>(720, -0.5f));
    m.moneySoft.byChar['7'].push_back(std::vector<float>(720, 0.75f));
    m.figures.cellLength = 720;
    m.figures.byChar['1'].push_back(std::vector<float>(720, 0.125f));
    m.figureSoft.cellLength = 720;
    m.figureSoft.byChar['1'].push_back(std::vector<float>(720, -0.125f));
    const std::vector<std::uint8_t> bytes = hud::serializeModel(m);
    std::string error;
    const auto back = hud::parseModel(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->moneySoft.byChar.size(), 2u);
    EXPECT_EQ(back->moneySoft.byChar.at('7').at(0), std::vector<float>(720, 0.75f));
    ASSERT_EQ(back->money.byChar.at('0').size(), 1u) << "the first templates stay apart";
    const hud::detail::Templates& joined = back->moneyWithSoft;
    EXPECT_EQ(joined.cellLength, 720u);
    ASSERT_EQ(joined.byChar.at('0').size(), 2u);
    EXPECT_EQ(joined.byChar.at('0')[0], std::vector<float>(720, 0.5f));
    EXPECT_EQ(joined.byChar.at('0')[1], std::vector<float>(720, -0.5f));
    EXPECT_EQ(joined.byChar.at('7').size(), 1u);
    EXPECT_EQ(joined.byChar.at('$').size(), 1u);
    ASSERT_EQ(back->figuresWithSoft.byChar.at('1').size(), 2u);
    // The joined sets carry their own coarse forms for the pruned search.
    ASSERT_TRUE(joined.coarse);
    EXPECT_NE(joined.coarse->find(joined, &joined.byChar.at('0')), nullptr);

    // Joining refuses sets of another cell length.
    hud::detail::Templates other;
    other.cellLength = 1024;
    other.byChar['0'].push_back(std::vector<float>(1024, 0.0f));
    EXPECT_EQ(hud::joinTemplates(m.money, other).cellLength, 0u);

    // Damage is refused: a cut template, a value out of range, a set of a
    // cell length the money reader cannot use.
    Bytes cut = templateSet(720, "3", 1);
    cut.b.resize(cut.b.size() - 4);
    EXPECT_EQ(errorOf(header(2).section("MCEL", moneySection()).section("MSFT", cut)),
              "damaged HUD model section");
    Bytes outOfRange;
    outOfRange.u32(720).u32(1).u8('3').u32(1);
    for (int i = 0; i < 720; ++i)
        outOfRange.f32(i == 5 ? 1.5f : 0.0f);
    EXPECT_EQ(errorOf(header(2).section("MCEL", moneySection()).section("FSFT", outOfRange)),
              "HUD model section FSFT holds a template value outside -1..1 or not a number");
    EXPECT_EQ(errorOf(header(2).section("MCEL", moneySection()).section("MSFT", templateSet(16, "3", 1))),
              "HUD model soft digit templates of the wrong cell length");
}

TEST(HudModel, FigureGlyphsRoundTripAndRejectDamage) {
    hud::Model m;
    m.money.cellLength = 720;
    m.money.byChar['0'].push_back(std::vector<float>(720, 0.0f));
    m.figureGlyphs.pixelsPerCap = 4;
    m.figureGlyphs.byChar['7'] = {0.6f, -0.4f, -0.1f, 2, 3, {0.0f, 0.5f, 1.0f, 0.25f, 0.0f, 1.0f}};
    const std::vector<std::uint8_t> bytes = hud::serializeModel(m);
    std::string error;
    const auto back = hud::parseModel(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->figureGlyphs.pixelsPerCap, 4u);
    const hud::FigureGlyph& g = back->figureGlyphs.byChar.at('7');
    EXPECT_EQ(g.columns, 2u);
    EXPECT_EQ(g.rows, 3u);
    EXPECT_FLOAT_EQ(g.originX, -0.4f);
    EXPECT_EQ(g.coverage, m.figureGlyphs.byChar.at('7').coverage);

    const char* damaged = "damaged HUD model section";
    auto withGlyphs = [](const Bytes& payload) {
        return header(2).section("MCEL", moneySection()).section("FGLF", payload);
    };
    auto glyph = [](std::uint32_t columns, std::uint32_t rows, float inkWidth, float coverage) {
        Bytes p;
        p.u32(4).u32(1).u8('7').f32(inkWidth).f32(-0.4f).f32(-0.1f).u32(columns).u32(rows);
        for (std::uint32_t i = 0; i < columns * rows; ++i)
            p.f32(coverage);
        return p;
    };
    EXPECT_EQ(errorOf(withGlyphs(Bytes{}.u32(0).u32(0))), damaged);   // no resolution
    EXPECT_EQ(errorOf(withGlyphs(Bytes{}.u32(257).u32(0))), damaged); // too fine
    EXPECT_EQ(errorOf(withGlyphs(glyph(0, 3, 0.6f, 0.5f))), damaged); // empty image
    EXPECT_EQ(errorOf(withGlyphs(glyph(2000, 3, 0.6f, 0.5f))), damaged);
    Bytes cut = glyph(2, 3, 0.6f, 0.5f);
    cut.b.resize(cut.b.size() - 4);
    EXPECT_EQ(errorOf(withGlyphs(cut)), damaged);
    const std::string bad = errorOf(withGlyphs(glyph(2, 3, 0.6f, 1.5f)));
    EXPECT_NE(bad.find("FGLF"), std::string::npos) << bad;
    EXPECT_FALSE(parse(withGlyphs(glyph(2, 3, std::nanf(""), 0.5f))).model);
    EXPECT_FALSE(parse(withGlyphs(glyph(2, 3, 9.0f, 0.5f))).model);
    EXPECT_TRUE(parse(withGlyphs(glyph(2, 3, 0.6f, 1.0f))).model);
}

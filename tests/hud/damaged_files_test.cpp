// The shipped data files with one thing changed: a template value no
// normalised template can hold is refused with the section's name, with or
// without a checksum; a file our builders sealed refuses any changed byte;
// older files without the checksum still load.
#include "hud/core/checksum.h"
#include "hud/feed/killdata.h"
#include "hud/core/model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readData(const char* name) {
    std::ifstream in(std::string(CORVEX_SOURCE_DIR) + "/data/hud/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

struct Section {
    std::string tag;
    std::size_t at;      // of the tag
    std::size_t payload; // first payload byte
    std::uint32_t length;
};

std::vector<Section> sections(const Bytes& b) {
    std::vector<Section> out;
    std::size_t at = 12;
    for (std::uint32_t i = 0; i < u32At(b, 8); ++i) {
        const std::uint32_t length = u32At(b, at + 4);
        out.push_back({std::string(reinterpret_cast<const char*>(b.data() + at), 4), at, at + 8, length});
        at += 8 + length;
    }
    return out;
}

const Section& find(const std::vector<Section>& all, const std::string& tag) {
    for (const Section& s : all)
        if (s.tag == tag)
            return s;
    throw std::runtime_error("no section " + tag);
}

// The same file as an older builder wrote it: no checksum section.
Bytes unsealed(Bytes b) {
    const std::vector<Section> all = sections(b);
    EXPECT_EQ(all.back().tag, "CSUM");
    b.resize(all.back().at);
    const std::uint32_t count = u32At(b, 8) - 1;
    std::memcpy(b.data() + 8, &count, 4);
    return b;
}

void setFloat(Bytes& b, std::size_t at, float value) {
    std::memcpy(b.data() + at, &value, 4);
}

std::string modelError(const Bytes& b) {
    std::string error;
    return hud::parseModel(b.data(), b.size(), &error) ? "loaded" : error;
}

std::string killError(const Bytes& b) {
    std::string error;
    return hud::parseKillData(b.data(), b.size(), &error) ? "loaded" : error;
}

// Every byte changed three ways; or, for the big shipped files, one way at
// every `step`th byte and at all of the first and last 24 (header, section
// count, the checksum section and what precedes it).
template <typename Parse> int loadsAfterAChangedByte(const Bytes& file, Parse parse, std::size_t step = 1) {
    int loaded = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (step > 1 && i >= 24 && i + 24 < file.size() && i % step != 0)
            continue;
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            if (step > 1 && flip != 0x80)
                continue;
            Bytes changed = file;
            changed[i] ^= flip;
            if (parse(changed) == "loaded") {
                ADD_FAILURE() << "loads with byte " << i << " xor " << int{flip};
                ++loaded;
            }
        }
    }
    return loaded;
}

TEST(DamagedDataFiles, ModelTemplateValuesOutsideANormalisedTemplateAreRefused) {
    const Bytes shipped = readData("model.bin");
    ASSERT_EQ(modelError(shipped), "loaded");
    ASSERT_EQ(modelError(unsealed(shipped)), "loaded"); // files without a checksum still load

    // The first glyph template's first value: one entry header (character
    // and count) after the set's cell length and entry count.
    const std::size_t glyphValue = find(sections(shipped), "GLYP").payload + 8 + 5;
    const std::size_t pairWeight = find(sections(shipped), "MPAR").payload + 8 + 6;
    for (const Bytes& base : {shipped, unsealed(shipped)}) {
        for (float bad : {-1.15e33f, 1.5f, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity()}) {
            Bytes b = base;
            setFloat(b, glyphValue, bad);
            EXPECT_EQ(modelError(b),
                      "HUD model section GLYP holds a template value outside -1..1 or not a number")
                << bad;
        }
        Bytes b = base;
        setFloat(b, pairWeight, std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ(modelError(b), "HUD model section MPAR holds a weight that is not a finite number");
    }

    // A value a template can hold passes the range check: only the checksum
    // tells it from the original.
    Bytes plausible = shipped;
    setFloat(plausible, glyphValue, 0.5f);
    EXPECT_EQ(modelError(plausible), "HUD model checksum does not match");
    plausible = unsealed(shipped);
    setFloat(plausible, glyphValue, 0.5f);
    EXPECT_EQ(modelError(plausible), "loaded");
}

TEST(DamagedDataFiles, KillFeedDigitValuesOutsideANormalisedTemplateAreRefused) {
    const Bytes shipped = readData("killfeed.bin");
    ASSERT_EQ(killError(shipped), "loaded");
    ASSERT_EQ(killError(unsealed(shipped)), "loaded");

    // A value in the middle of the first digit template.
    const std::size_t digitValue = find(sections(shipped), "DIGT").payload + 8 + 5 + 4 * 500;
    for (const Bytes& base : {shipped, unsealed(shipped)}) {
        for (float bad : {-1.15e33f, -1.01f, std::numeric_limits<float>::quiet_NaN()}) {
            Bytes b = base;
            setFloat(b, digitValue, bad);
            EXPECT_EQ(killError(b),
                      "kill-feed data section DIGT holds a template value outside -1..1 or not a number")
                << bad;
        }
    }
    Bytes plausible = shipped;
    setFloat(plausible, digitValue, 0.01f);
    EXPECT_EQ(killError(plausible), "kill-feed data checksum does not match");
}

TEST(DamagedDataFiles, ASealedFileRefusesEveryChangedByte) {
    // Small files from the serialisers, every byte changed.
    hud::Model model;
    model.money.cellLength = 720;
    model.money.byChar['0'].push_back(std::vector<float>(720, 0.03f));
    model.glyphs.cellLength = 4;
    model.glyphs.byChar['A'].push_back({0.5f, -0.5f, 0.5f, -0.5f});
    model.moneyPairs[hud::PairKey{'3', '8'}] = {std::vector<float>(3, 0.25f), 0.5f};
    const Bytes modelFile = hud::serializeModel(model);
    ASSERT_EQ(sections(modelFile).back().tag, "CSUM");
    ASSERT_EQ(modelError(modelFile), "loaded");
    EXPECT_EQ(loadsAfterAChangedByte(modelFile, modelError), 0);

    hud::KillDataSource source;
    source.icons.push_back({"skull_2", 3, 2, {0, 128, 255, 127, 200, 10}});
    source.damageLogWidth = 0.12f;
    source.damageLogImageWidth = 20;
    source.damageLogImageHeight = 4;
    source.damageLogPixels.assign(80, 90);
    source.digits['7'].push_back(std::vector<float>(1024, 0.03f));
    const Bytes killFile = hud::serializeKillData(source);
    ASSERT_EQ(killError(killFile), "loaded");
    EXPECT_EQ(loadsAfterAChangedByte(killFile, killError), 0);

    // The shipped files, sampled across their whole length.
    EXPECT_EQ(loadsAfterAChangedByte(readData("model.bin"), modelError, 150001), 0);
    EXPECT_EQ(loadsAfterAChangedByte(readData("killfeed.bin"), killError, 60013), 0);
}

TEST(DamagedDataFiles, ChecksumIsTheUsualCrc32) {
    const char* text = "123456789";
    EXPECT_EQ(hud::detail::crc32(reinterpret_cast<const std::uint8_t*>(text), 9), 0xCBF43926u);
}

} // namespace

namespace {

// The seeds of the parseModel fuzz target are written by the serialiser; they
// must keep loading, or the fuzzer is back to guessing the header.
TEST(DamagedDataFiles, ModelFuzzSeedsLoad) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(CORVEX_SOURCE_DIR) +
                                                                 "/tests/hud/fuzz-corpus/fuzz_model")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(modelError(b), "loaded") << entry.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 3);
}

} // namespace

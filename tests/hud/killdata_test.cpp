#include "hud/feed/killdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Assembles kill-feed files byte by byte, independently of serializeKillData.
struct Bytes {
    std::vector<std::uint8_t> b;

    Bytes& u8(std::uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Bytes& u16(std::uint16_t v) {
        return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8));
    }
    Bytes& u32(std::uint32_t v) {
        return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
    }
    Bytes& f32(float f) {
        std::uint32_t v;
        std::memcpy(&v, &f, 4);
        return u32(v);
    }
    Bytes& text(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& fill(std::size_t n, std::uint8_t v = 0) {
        b.insert(b.end(), n, v);
        return *this;
    }
    Bytes section(const char* tag, const Bytes& body) const {
        Bytes out = *this;
        out.text(tag).u32(static_cast<std::uint32_t>(body.b.size()));
        out.b.insert(out.b.end(), body.b.begin(), body.b.end());
        return out;
    }
};

Bytes header(std::uint32_t sections) {
    return Bytes{}.text("KKFD").u32(1).u32(sections);
}

Bytes iconBody(std::uint16_t w, std::uint16_t h) {
    return Bytes{}.u32(1).u8(5).text("rifle").u16(w).u16(h).fill(std::size_t{w} * h, 200);
}

// A striped header.
Bytes downBody(float relativeWidth, std::uint16_t w = 64, std::uint16_t h = 14) {
    Bytes p;
    p.f32(relativeWidth).u16(w).u16(h);
    for (int i = 0; i < w * h; ++i)
        p.u8(static_cast<std::uint8_t>(((i % w) / 3 % 2) * 200 + i / w));
    return p;
}

// Icons, then the given DOWN body, then whatever sections follow.
Bytes withDown(const Bytes& down, std::uint32_t more = 0) {
    return header(2 + more).section("ICON", iconBody(2, 2)).section("DOWN", down);
}
Bytes withIcon(const Bytes& icons) {
    return header(2).section("ICON", icons).section("DOWN", downBody(0.12f));
}
Bytes withDigits(const Bytes& digits) {
    return withDown(downBody(0.12f), 1).section("DIGT", digits);
}

std::string parseError(const Bytes& file) {
    std::string error;
    return hud::parseKillData(file.b.data(), file.b.size(), &error) ? std::string("loaded") : error;
}

double norm(const std::vector<float>& v, double* mean = nullptr) {
    double s = 0.0;
    double q = 0.0;
    for (float f : v) {
        s += f;
        q += static_cast<double>(f) * f;
    }
    if (mean)
        *mean = s / static_cast<double>(v.size());
    return std::sqrt(q);
}

} // namespace

TEST(KillData, RoundTripBuildsWhatTheReadersUse) {
    hud::KillDataSource s;
    s.icons.push_back({"skull_2", 3, 2, {0, 128, 255, 127, 200, 10}});
    s.icons.push_back({"rifle", 1, 1, {255}});
    s.damageLogWidth = 0.12f;
    s.damageLogImageWidth = 68;
    s.damageLogImageHeight = 14;
    for (int i = 0; i < 68 * 14; ++i)
        s.damageLogPixels.push_back(static_cast<std::uint8_t>((i * 37) % 256));
    std::vector<float> t(1024);
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = static_cast<float>(i) / 2048.0f;
    s.digits['7'] = std::vector<std::vector<float>>(300, t); // more than one entry holds
    s.digits['m'] = {t, std::vector<float>(1023)};           // the short one cannot be stored
    for (int i = 0; i < 600; ++i)                            // more than one section holds
        s.icons.push_back({"i", 1, 1, {static_cast<std::uint8_t>(i)}});
    s.icons.push_back({"bad", 2, 2, {1, 2, 3}}); // pixels do not match: left out

    const auto bytes = hud::serializeKillData(s);
    std::string error;
    const auto data = hud::parseKillData(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(data) << error;
    ASSERT_EQ(data->icons.size(), 602u);
    const hud::KillIcon& skull = data->icons[0];
    EXPECT_EQ(skull.name, "skull_2");
    EXPECT_EQ(skull.key, "skull");
    EXPECT_EQ(skull.width, 3u);
    EXPECT_EQ(skull.height, 2u);
    EXPECT_FLOAT_EQ(skull.ink, 0.5f); // 128, 255 and 200 of six
    double mean = 1.0;
    EXPECT_NEAR(norm(skull.pixels, &mean), 1.0, 1e-5);
    EXPECT_NEAR(mean, 0.0, 1e-6);
    EXPECT_EQ(std::max_element(skull.pixels.begin(), skull.pixels.end()) - skull.pixels.begin(), 2);

    EXPECT_FLOAT_EQ(data->damageLogWidth, 0.12f);
    EXPECT_EQ(data->damageLog.size(), 8u);
    EXPECT_EQ(data->digitLength, 1024u);
    EXPECT_EQ(data->digits.find('7')->size(), 300u);
    ASSERT_EQ(data->digits.find('m')->size(), 1u);
    EXPECT_EQ(data->digits.find('m')->front(), t); // used as stored
    EXPECT_EQ(data->digits.find('0'), nullptr);

    // Without digits the file has no DIGT section.
    s.digits.clear();
    const auto plain = hud::serializeKillData(s);
    EXPECT_EQ(hud::parseKillData(plain.data(), plain.size())->digitLength, 0u);
}

TEST(KillData, EveryFailureNamesItsCause) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {Bytes{}.text("KKF"), "not a kill-feed data file"},
        {Bytes{}.text("KHUD").u32(1).u32(0), "not a kill-feed data file"},
        {Bytes{}.text("KKFD").u16(1), "unsupported kill-feed data version"},
        {Bytes{}.text("KKFD").u32(2).u32(0), "unsupported kill-feed data version"},
        {Bytes{}.text("KKFD").u32(1), "kill-feed data has no icons"}, // no count: no sections
        {header(1).text("ICON").u32(100).fill(99), "truncated kill-feed data"},
        {header(1).text("ICON").u16(0), "truncated kill-feed data"},
        {withDown(downBody(0.12f), 1), "truncated kill-feed data"},
        // Icons.
        {withIcon(Bytes{}.u16(1)), "damaged kill-feed data section"},
        {withIcon(Bytes{}.u32(513)), "damaged kill-feed icons"},
        {withIcon(Bytes{}.u32(0)), "kill-feed data has no icons"},
        {withIcon(Bytes{}.u32(1).u8(10).text("rifle")), "damaged kill-feed data section"},
        {withIcon(Bytes{}.u32(1)), "damaged kill-feed icon"},
        {withIcon(Bytes{}.u32(1).u8(0).u16(4).u8(4)), "damaged kill-feed icon"},
        {withIcon(iconBody(0, 4)), "damaged kill-feed icon"},
        {withIcon(iconBody(1, 513)), "damaged kill-feed icon"},
        {withIcon(Bytes{}.u32(1).u8(0).u16(4).u16(4).fill(15)), "damaged kill-feed data section"},
        {withIcon(iconBody(512, 512)), "loaded"},
        // The damage-log header.
        {withDown(Bytes{}.u16(1)), "damaged damage-log template"},
        {withDown(Bytes{}.f32(0.12f).u16(64)), "damaged damage-log template"},
        {withDown(downBody(0.0f)), "damaged damage-log template"},
        {withDown(downBody(-0.5f)), "damaged damage-log template"},
        {withDown(downBody(1.0001f)), "damaged damage-log template"},
        {withDown(downBody(nan)), "damaged damage-log template"},
        {withDown(downBody(1.0f)), "loaded"},
        {withDown(Bytes{}.f32(0.12f).u16(2049).u16(5)), "damaged damage-log template"},
        {withDown(Bytes{}.f32(0.12f).u16(64).u16(513)), "damaged damage-log template"},
        {withDown(Bytes{}.f32(0.12f).u16(64).u16(14).fill(64 * 14 - 1)), "truncated damage-log template"},
        {header(1).section("ICON", iconBody(1, 1)), "kill-feed data has no damage-log header"},
        // Distance templates.
        {withDigits(Bytes{}.u32(1024).u32(0)), "loaded"},
        {withDigits(Bytes{}.u32(1023).u32(0)), "damaged distance templates"},
        {withDigits(Bytes{}.u32(1025).u32(0)), "damaged distance templates"},
        {withDigits(Bytes{}.u32(1024)), "damaged distance templates"},
        {withDigits(Bytes{}.u32(1024).u32(17)), "damaged distance templates"},
        {withDigits(Bytes{}.u32(1024).u32(1).u8('1')), "damaged distance templates"},
        {withDigits(Bytes{}.u32(1024).u32(1).u8('1').u32(257)), "damaged distance templates"},
        {withDigits(Bytes{}.u32(1024).u32(1).u8('1').u32(1).fill(4095)), "damaged kill-feed data section"},
        // Unknown tags (case counts) are skipped; a body is parsed within its
        // own length, whatever it leaves unread.
        {withDown(downBody(0.12f), 2).section("XTRA", Bytes{}.fill(5)).section("icon", Bytes{}), "loaded"},
        {header(2).section("ICON", iconBody(2, 2).fill(7)).section("DOWN", downBody(0.12f)), "loaded"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(parseError(cases[i].first), cases[i].second) << "case " << i;

    EXPECT_FALSE(hud::parseKillData(nullptr, 12));
    const Bytes good = withDown(downBody(0.12f));
    EXPECT_TRUE(hud::parseKillData(good.b.data(), good.b.size(), nullptr));
}

TEST(KillData, DamageLogPyramid) {
    // Relative width 0.2: 112.5 pixels at scale 1, so a 100 x 10 header is
    // 11.25 lines high and its 0.8 variant (9 lines) is skipped.
    const Bytes file = withDown(downBody(0.2f, 100, 10));
    const auto data = hud::parseKillData(file.b.data(), file.b.size());
    ASSERT_TRUE(data);
    const float listed[] = {0.848f, 0.89888f, 0.952813f, 1.00998f, 1.07058f, 1.13481f, 1.2029f};
    ASSERT_EQ(data->damageLog.size(), 7u);
    float s = 0.8f;
    for (std::size_t i = 0; i < 7; ++i) {
        s *= 1.06f; // single-precision steps
        const hud::DamageLogVariant& v = data->damageLog[i];
        EXPECT_EQ(v.scale, s);
        EXPECT_NEAR(v.scale, listed[i], 1e-5);
        const float nominal = s * (0.2f * 562.5f);
        EXPECT_EQ(v.width, std::lround(nominal));
        EXPECT_EQ(v.height, std::lround(nominal * 10.0f / 100.0f));
        ASSERT_EQ(v.pixels.size(), static_cast<std::size_t>(v.width * v.height));
        double mean = 1.0;
        EXPECT_NEAR(norm(v.pixels, &mean), 1.0, 1e-5);
        EXPECT_NEAR(mean, 0.0, 1e-6);
    }
    EXPECT_EQ(data->damageLog[0].width, 95);

    // A narrow header keeps a width of 8.
    const Bytes narrow = withDown(downBody(0.01f, 1, 3));
    EXPECT_EQ(hud::parseKillData(narrow.b.data(), narrow.b.size())->damageLog.front().width, 8);
    // Under 10 lines at every scale: no variants, so no header.
    EXPECT_EQ(parseError(withDown(downBody(0.01f, 10, 10))), "kill-feed data has no damage-log header");
    // Taller than any capture at every scale (hundreds of thousands of lines
    // for a 1 x 512 header at full width): none is built.
    EXPECT_EQ(parseError(withDown(downBody(1.0f, 1, 512))), "kill-feed data has no damage-log header");

    // The last DOWN section is the header: hundreds of two-pixel headers,
    // each worth megabytes of variants, make one pyramid.
    Bytes many = header(401).section("ICON", iconBody(2, 2));
    for (int i = 0; i < 399; ++i)
        many = many.section("DOWN", downBody(1.0f, 2, 1));
    many = many.section("DOWN", downBody(0.2f, 100, 10));
    const auto last = hud::parseKillData(many.b.data(), many.b.size());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->damageLog.size(), 7u);
    EXPECT_FLOAT_EQ(last->damageLogWidth, 0.2f);
}

TEST(KillData, LoadReadsFilesAndNamesMissingOnes) {
    std::string error;
    EXPECT_FALSE(hud::loadKillData("/nonexistent/dir/killfeed.bin", &error));
    EXPECT_EQ(error, "cannot open /nonexistent/dir/killfeed.bin");

    const std::string path = ::testing::TempDir() + "killdata_test.bin";
    const Bytes good = withDown(downBody(0.12f));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(good.b.data()), static_cast<std::streamsize>(good.b.size()));
    EXPECT_TRUE(hud::loadKillData(path, &error)) << error;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "KKFD";
    EXPECT_FALSE(hud::loadKillData(path, &error));
    EXPECT_EQ(error, "unsupported kill-feed data version");
    std::remove(path.c_str());
}

TEST(KillData, IconKeys) {
    EXPECT_EQ(hud::iconKey("skull"), "skull");
    EXPECT_EQ(hud::iconKey("skull_2"), "skull");
    EXPECT_EQ(hud::iconKey("skull_small"), "skull");
    EXPECT_EQ(hud::iconKey("skull_small_3"), "skull");
    EXPECT_EQ(hud::iconKey("skull_"), "skull_"); // nothing after the underscore
    EXPECT_EQ(hud::iconKey("a_2_"), "a_2_");     // the last underscore decides
    EXPECT_EQ(hud::iconKey("ak_74b"), "ak_74b"); // not all digits
    EXPECT_EQ(hud::iconKey("m_4_1"), "m_4");     // only the last suffix goes
    EXPECT_EQ(hud::iconKey("skull_smaller"), "skull_smaller");
}

TEST(KillData, NormalizeTemplateAlwaysDivides) {
    std::vector<float> flat(9, 5.0f);
    hud::normalizeTemplate(flat);
    EXPECT_EQ(flat, std::vector<float>(9, 0.0f));
    // Far below unit length it is still scaled by 1 / (norm + 1e-6), where
    // normalizeVector would leave it merely centred.
    std::vector<float> tiny = {0.0f, 1e-6f};
    hud::normalizeTemplate(tiny);
    EXPECT_NEAR(tiny[1], 0.5e-6 / (std::sqrt(0.5e-12) + 1e-6), 1e-6);
    std::vector<float> none;
    hud::normalizeTemplate(none);
}

TEST(KillData, BlurAndLocalMeanMatchTheirDefinition) {
    constexpr int w = 19;
    constexpr int h = 16;
    std::mt19937 gen(7);
    std::vector<float> in(w * h);
    for (float& v : in)
        v = static_cast<float>(gen() % 256);
    // Straight from the definition, in double: edges copied, then the 13 x 13 mean.
    std::vector<double> rows(w * h);
    std::vector<double> cols(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = y * w + x;
            rows[i] = (x == 0 || x == w - 1) ? in[i] : 0.209 * in[i - 1] + 0.582 * in[i] + 0.209 * in[i + 1];
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = y * w + x;
            cols[i] = (y == 0 || y == h - 1) ? rows[i]
                                             : 0.209 * rows[i - w] + 0.582 * rows[i] + 0.209 * rows[i + w];
        }
    std::vector<float> out = in;
    hud::detail::blurAndRemoveLocalMean(out, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            int n = 0;
            for (int yy = std::max(y - 6, 0); yy <= std::min(y + 6, h - 1); ++yy)
                for (int xx = std::max(x - 6, 0); xx <= std::min(x + 6, w - 1); ++xx, ++n)
                    sum += cols[yy * w + xx];
            ASSERT_NEAR(out[y * w + x], cols[y * w + x] - sum / n, 2e-3) << x << "," << y;
        }
    // A buffer shorter than its size says is left alone.
    std::vector<float> shortBuffer = {1.0f, 2.0f};
    hud::detail::blurAndRemoveLocalMean(shortBuffer, 4, 4);
    EXPECT_EQ(shortBuffer[1], 2.0f);
}

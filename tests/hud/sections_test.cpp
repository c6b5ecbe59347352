#include "hud/core/sections.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using hud::detail::ByteReader;

constexpr char kMagic[4] = {'T', 'E', 'S', 'T'};
constexpr char kTag[4] = {'A', 'B', 'C', 'D'};

// A short read must not leave the reader part-way: every later read fails
// too, so a parser that checks once after a header cannot accept garbage.
TEST(ByteReader, ShortReadFailsAndStaysFailed) {
    const std::uint8_t bytes[] = {1, 2, 3};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.u16(), 0x0201);
    EXPECT_EQ(r.u32(), 0u);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(r.u8(), 0);
    char out[2] = {'x', 'y'};
    r.bytes(out, 2);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);

    ByteReader none(nullptr, 100);
    EXPECT_EQ(none.remaining(), 0u);
    EXPECT_EQ(none.u8(), 0);
    EXPECT_FALSE(none.ok());
}

TEST(Sections, WrittenFileReadsBack) {
    std::vector<std::uint8_t> file;
    const std::size_t countAt = hud::detail::putFileStart(file, kMagic, 3);
    hud::detail::SectionWriter s(file, kTag);
    hud::detail::putF32(file, 1.5f);
    hud::detail::putU16(file, 0xBEEF);
    s.close();
    hud::detail::patchU32(file, countAt, 1);

    ByteReader r(file.data(), file.size());
    std::uint32_t count = 0;
    ASSERT_EQ(hud::detail::readFileStart(r, kMagic, 3, count), hud::detail::FileStart::Ok);
    EXPECT_EQ(count, 1u);
    hud::detail::Section section;
    ASSERT_TRUE(hud::detail::nextSection(r, section));
    EXPECT_TRUE(hud::detail::sameTag(section.tag, kTag));
    EXPECT_EQ(section.offset, 12u);
    EXPECT_EQ(section.length, 6u);
    EXPECT_EQ(section.payload.f32(), 1.5f);
    EXPECT_EQ(section.payload.u16(), 0xBEEF);
    EXPECT_TRUE(section.payload.ok());
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_FALSE(hud::detail::nextSection(r, section));
}

TEST(Sections, DamagedStartsAndTruncatedSections) {
    std::vector<std::uint8_t> file;
    hud::detail::putFileStart(file, kMagic, 3);
    std::uint32_t count = 7;
    {
        ByteReader r(file.data(), file.size());
        EXPECT_EQ(hud::detail::readFileStart(r, kTag, 3, count), hud::detail::FileStart::NotThisFile);
    }
    {
        ByteReader r(file.data(), file.size());
        EXPECT_EQ(hud::detail::readFileStart(r, kMagic, 4, count), hud::detail::FileStart::OtherVersion);
    }
    {
        // The count cut short reads as no sections.
        ByteReader r(file.data(), 10);
        EXPECT_EQ(hud::detail::readFileStart(r, kMagic, 3, count), hud::detail::FileStart::Ok);
        EXPECT_EQ(count, 0u);
    }
    {
        ByteReader r(file.data(), 3);
        EXPECT_EQ(hud::detail::readFileStart(r, kMagic, 3, count), hud::detail::FileStart::NotThisFile);
    }

    // A length that reaches past the end, and a header cut inside its length.
    std::vector<std::uint8_t> section;
    hud::detail::putTag(section, kTag);
    hud::detail::putU32(section, 5);
    section.insert(section.end(), {1, 2, 3, 4});
    hud::detail::Section out;
    ByteReader past(section.data(), section.size());
    EXPECT_FALSE(hud::detail::nextSection(past, out));
    ByteReader cut(section.data(), 6);
    EXPECT_FALSE(hud::detail::nextSection(cut, out));
}

} // namespace

#pragma once

// What the two data files ("model.bin", "killfeed.bin") have in common: a
// four-byte magic, a u32 version and a u32 section count, then sections of a
// four-byte tag, a u32 payload length and the payload, all little-endian.
// Both are read from untrusted bytes, so every read is bounds-checked here
// once rather than in each parser.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace hud::detail {

// A bounds-checked little-endian reader. A short read yields 0 (or zeroed
// bytes), marks the reader failed and leaves nothing more to read, so a
// parser can read a whole header and check once.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    std::size_t remaining() const { return size_ - pos_; }
    std::size_t position() const { return pos_; }
    bool has(std::size_t n) const { return remaining() >= n; }
    bool ok() const { return ok_; }
    const std::uint8_t* here() const { return data_ + pos_; }

    std::uint8_t u8() {
        if (!has(1))
            return fail();
        return data_[pos_++];
    }

    signed char i8() { return static_cast<signed char>(u8()); }

    std::uint16_t u16() {
        if (!has(2))
            return fail();
        const std::uint8_t* p = data_ + pos_;
        pos_ += 2;
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }

    std::uint32_t u32() {
        if (!has(4))
            return fail();
        const std::uint8_t* p = data_ + pos_;
        pos_ += 4;
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

    float f32() {
        const std::uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    // Copies n bytes out; on a short read leaves `out` zeroed.
    void bytes(char* out, std::size_t n) {
        if (!has(n)) {
            std::memset(out, 0, n);
            fail();
            return;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
    }

    // Reads n floats into out; the caller has checked has(4 * n).
    void floats(float* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = f32();
    }

    // Steps over n bytes, at most to the end.
    void skip(std::size_t n) { pos_ += n <= remaining() ? n : remaining(); }

private:
    std::uint8_t fail() {
        ok_ = false;
        pos_ = size_;
        return 0;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// The whole file at `path` into `bytes`; false when it cannot be opened or read.
inline bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

inline bool sameTag(const char* a, const char (&b)[4]) {
    return std::memcmp(a, b, 4) == 0;
}

enum class FileStart { Ok, NotThisFile, OtherVersion };

// Reads the magic, the version and the section count; a count cut short
// reads as 0.
inline FileStart readFileStart(ByteReader& file, const char (&magic)[4], std::uint32_t version,
                               std::uint32_t& sectionCount) {
    sectionCount = 0;
    char found[4];
    file.bytes(found, 4);
    if (!file.ok() || !sameTag(found, magic))
        return FileStart::NotThisFile;
    if (file.u32() != version || !file.ok())
        return FileStart::OtherVersion;
    sectionCount = file.u32();
    return FileStart::Ok;
}

struct Section {
    std::size_t offset = 0; // of its tag in the file
    char tag[4] = {0, 0, 0, 0};
    std::uint32_t length = 0;
    ByteReader payload{nullptr, 0};
};

// Reads the next section's tag and length and steps over its payload. False
// when the file ends inside the section.
inline bool nextSection(ByteReader& file, Section& section) {
    section.offset = file.position();
    file.bytes(section.tag, 4);
    section.length = file.u32();
    if (!file.ok() || section.length > file.remaining())
        return false;
    section.payload = ByteReader(file.here(), section.length);
    file.skip(section.length);
    return true;
}

// --- writing ---

inline void putU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void putF32(std::vector<std::uint8_t>& out, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    putU32(out, bits);
}

inline void putTag(std::vector<std::uint8_t>& out, const char (&tag)[4]) {
    for (char ch : tag)
        out.push_back(static_cast<std::uint8_t>(ch));
}

// Writes the file's magic, version and a section count that
// patchSectionCount fills in once the sections are written.
inline std::size_t putFileStart(std::vector<std::uint8_t>& out, const char (&magic)[4],
                                std::uint32_t version) {
    putTag(out, magic);
    putU32(out, version);
    const std::size_t countAt = out.size();
    putU32(out, 0);
    return countAt;
}

inline void patchU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Writes tag and a length placeholder; close() patches the length in.
class SectionWriter {
public:
    SectionWriter(std::vector<std::uint8_t>& out, const char (&tag)[4]) : out_(out) {
        putTag(out_, tag);
        lengthAt_ = out_.size();
        putU32(out_, 0);
    }
    void close() { patchU32(out_, lengthAt_, static_cast<std::uint32_t>(out_.size() - lengthAt_ - 4)); }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t lengthAt_ = 0;
};

} // namespace hud::detail

#include "hud/core/checksum.h"

#include <array>
#include <cstring>

namespace hud::detail {

namespace {

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

std::uint32_t u32At(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Magic, version and section count come before the first section.
constexpr std::size_t kHeaderSize = 12;

} // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i)
        c = kTable[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void appendChecksum(std::vector<std::uint8_t>& file) {
    if (file.size() < kHeaderSize)
        return;
    const std::uint32_t sections = u32At(file.data() + 8) + 1;
    for (std::size_t i = 0; i < 4; ++i)
        file[8 + i] = static_cast<std::uint8_t>(sections >> (8 * i));
    const std::uint32_t crc = crc32(file.data(), file.size());
    file.insert(file.end(), kTagChecksum, kTagChecksum + 4);
    putU32(file, 4);
    putU32(file, crc);
}

Seal::Seal(const std::uint8_t* data, std::size_t size) : size_(size) {
    if (!data || size < kHeaderSize + kChecksumSectionSize)
        return;
    const std::uint8_t* tail = data + size - kChecksumSectionSize;
    if (u32At(tail + 4) != 4)
        return;
    crcMatches_ = crc32(data, size - kChecksumSectionSize) == u32At(tail + 8);
    sealed_ = crcMatches_ || std::memcmp(tail, kTagChecksum, 4) == 0;
}

bool Seal::matches(std::size_t offset, std::uint32_t payloadLength) const {
    return sealed_ && crcMatches_ && payloadLength == 4 && offset + kChecksumSectionSize == size_;
}

} // namespace hud::detail

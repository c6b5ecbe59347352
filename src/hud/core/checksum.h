#pragma once

// The optional last section of the data files our builders write: "CSUM",
// length 4, then the CRC-32 (the zlib polynomial) of every byte before the
// section's tag. Readers that predate it skip it as an unknown section.
//
// A file counts as sealed when it ends like such a section: its last twelve
// bytes are "CSUM" and the length 4, or the length 4 and a CRC that matches
// what precedes them. A sealed file loads only if its checksum section is
// reached as the last section and matches, so one changed byte anywhere
// (the tag, the length and the section count included) is always refused.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hud::detail {

constexpr char kTagChecksum[4] = {'C', 'S', 'U', 'M'};
constexpr std::size_t kChecksumSectionSize = 12;

std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

// Appends the checksum section to a whole file (magic, version, section
// count at byte 8, sections) and counts it in the header.
void appendChecksum(std::vector<std::uint8_t>& file);

// What a loader needs to know about a file before its sections.
class Seal {
public:
    Seal(const std::uint8_t* data, std::size_t size);

    bool sealed() const { return sealed_; }
    // The checksum section at `offset` (its tag) with `payloadLength`: true
    // when it is the file's last section and its CRC matches.
    bool matches(std::size_t offset, std::uint32_t payloadLength) const;

private:
    std::size_t size_ = 0;
    bool sealed_ = false;
    bool crcMatches_ = false;
};

} // namespace hud::detail

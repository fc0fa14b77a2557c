// The byte layout of the zip format's records: local headers, central
// directory records and the end records. Only layout here; the streaming
// and the bookkeeping are the archive writer's.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tarnhollow::tool::zip {

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;

struct EntryFacts {
    std::string name; // ends in '/' for a folder
    std::time_t mtime = 0;
    unsigned mode = 0; // st_mode as found
    bool deflated = false;
    bool zip64 = false; // sizes in a zip64 field of the local header
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t headerOffset = 0;
};

// The local header; crc and sizes are filled in later at the offsets below.
Bytes localHeader(const EntryFacts& entry);
// Where, from the start of the local header, the fields to patch lie.
constexpr std::size_t kCrcOffset = 14;
std::size_t zip64SizesOffset(const EntryFacts& entry);
// The crc and sizes as they stand in the local header (crc, csize, usize).
Bytes localSizes(const EntryFacts& entry);
// The zip64 field's two sizes (usize, csize).
Bytes zip64Sizes(const EntryFacts& entry);

Bytes centralRecord(const EntryFacts& entry);
Bytes endRecords(std::uint64_t entries, std::uint64_t directoryStart, std::uint64_t directorySize);

// The mode an extractor applies: a regular file or a folder, owner
// readable, never setuid, setgid or sticky. The manifest keeps the real one.
unsigned extractedMode(unsigned mode, bool folder);

} // namespace tarnhollow::tool::zip

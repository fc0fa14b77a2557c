// A piece of one entry's content, deflated on its own so that many can be
// deflated at once. A block of a long entry is primed with the 32 KiB of
// content before it and ends on a byte boundary, so that the blocks' output
// laid end to end is one deflate stream, the same whoever deflated each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnhollow::tool {

// How much of an entry one block holds.
constexpr std::size_t kBlockSize = 256 << 10;
// What deflate may refer back to: the tail of the previous block.
constexpr std::size_t kDictionarySize = 32 << 10;

struct Block {
    std::vector<unsigned char> input;
    std::vector<unsigned char> dictionary; // the content just before input, if any
    bool last = true;                      // ends the entry's stream
    // The whole entry in this block: store it when deflating does not pay,
    // or when it already looks compressed.
    bool mayStore = false;
    bool hashInput = false; // the content's SHA-256 goes to sha256

    // Filled in by deflateBlock().
    std::vector<unsigned char> output; // raw deflate; empty when stored
    std::uint32_t crc = 0;             // of input
    bool stored = false;
    std::string sha256;
    bool failed = false; // zlib refused (out of memory)
    bool done = false;   // guarded by the pool that deflated it
};

// Deflates block.input at level 6 on the calling thread.
void deflateBlock(Block& block);

// Whether data is already compressed (an archive, an image, random bytes):
// by its first bytes where a format says so, else by how little deflate's
// fastest level gains on a sample.
bool looksCompressed(const unsigned char* data, std::size_t size);

} // namespace tarnhollow::tool

// An open regular file's logical content, as any reader of it sees it: data
// as it is and holes as zeros, so that what is archived hashes like the
// original. Holes are not read from the disk, only counted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnhollow::tool {

class FileContent {
public:
    // Delivers at most length bytes from the start of fd (not owned).
    // sparse: the file may have holes worth looking for.
    FileContent(int fd, std::uint64_t length, bool sparse);

    // Bytes put into buffer; 0 at the end of the file or of length; -1 when
    // reading failed, with the errno in error().
    long read(char* buffer, std::size_t capacity);

    // Whether the last read() came from a hole (zeros, not read).
    bool lastWasHole() const { return lastHole_; }
    std::uint64_t offset() const { return pos_; }
    int error() const { return error_; }
    std::uint64_t holeBytes() const { return holes_; }
    // Whether more lies beyond length (the file was cut).
    bool more() const;

private:
    long readData(char* buffer, std::size_t capacity);
    bool findRegion();

    int fd_;
    std::uint64_t length_;
    bool sparse_;
    std::uint64_t pos_ = 0;
    std::uint64_t holes_ = 0;
    std::uint64_t regionEnd_ = 0; // where the data or hole at pos_ ends
    bool inHole_ = false;
    bool lastHole_ = false;
    int error_ = 0;
};

} // namespace tarnhollow::tool

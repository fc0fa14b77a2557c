// Room kept free on the output medium for what closes an archive (its
// central directory, manifest, timeline and log): when the medium fills,
// giving it back lets the archive end after its last complete entry.
#pragma once

#include <cstdint>

namespace tarnhollow::tool {

class SpaceReserve {
public:
    SpaceReserve() = default;
    ~SpaceReserve();
    SpaceReserve(const SpaceReserve&) = delete;
    SpaceReserve& operator=(const SpaceReserve&) = delete;

    // A nameless file in the folder; 0 or errno.
    int open(int folderFd);
    // Makes it hold at least bytes; 0 or errno (ENOSPC: the medium is full).
    int grow(std::uint64_t bytes);
    // Gives the room back; grow() can take it again.
    void release();
    std::uint64_t size() const { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

} // namespace tarnhollow::tool

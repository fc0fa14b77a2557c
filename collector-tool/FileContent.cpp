#include "collector-tool/FileContent.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

constexpr std::size_t kPage = 4096;

} // namespace

FileContent::FileContent(int fd, std::uint64_t length, bool sparse)
    : fd_(fd),
      length_(length),
      sparse_(sparse)
{
}

// Where the data or the hole at pos_ ends; a system that cannot tell makes
// the rest of the file one data region.
bool FileContent::findRegion()
{
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    const off_t data = ::lseek(fd_, static_cast<off_t>(pos_), SEEK_DATA);
    if (data < 0 && errno == ENXIO) { // a hole up to the end, or the file shrank
        struct stat st {};
        inHole_ = true;
        regionEnd_ = ::fstat(fd_, &st) == 0 ? std::min<std::uint64_t>(length_, st.st_size) : pos_;
        return true;
    }
    if (data > static_cast<off_t>(pos_)) {
        inHole_ = true;
        regionEnd_ = static_cast<std::uint64_t>(data);
        return true;
    }
    const off_t hole = data < 0 ? -1 : ::lseek(fd_, data, SEEK_HOLE);
    if (hole > data) {
        inHole_ = false;
        regionEnd_ = static_cast<std::uint64_t>(hole);
        return true;
    }
#endif
    sparse_ = false;
    return false;
}

long FileContent::readData(char* buffer, std::size_t capacity)
{
    for (;;) {
        const ssize_t n = ::pread(fd_, buffer, capacity, static_cast<off_t>(pos_));
        if (n >= 0) {
            pos_ += static_cast<std::uint64_t>(n);
            return static_cast<long>(n);
        }
        if (errno == EINTR)
            continue;
        // A bad spot on the disk fails a large read whole: what lies before
        // it is read again in pages, so that none of it is lost.
        if (errno == EIO && capacity > kPage) {
            capacity = kPage;
            continue;
        }
        error_ = errno;
        return -1;
    }
}

long FileContent::read(char* buffer, std::size_t capacity)
{
    lastHole_ = false;
    if (pos_ >= length_)
        return 0;
    std::uint64_t want = std::min<std::uint64_t>(capacity, length_ - pos_);
    if (sparse_ && pos_ >= regionEnd_)
        findRegion();
    if (!sparse_)
        return readData(buffer, static_cast<std::size_t>(want));
    if (regionEnd_ <= pos_)
        return 0;
    want = std::min(want, regionEnd_ - pos_);
    if (!inHole_)
        return readData(buffer, static_cast<std::size_t>(want));
    std::memset(buffer, 0, static_cast<std::size_t>(want));
    lastHole_ = true;
    pos_ += want;
    holes_ += want;
    return static_cast<long>(want);
}

bool FileContent::more() const
{
    char probe;
    return pos_ >= length_ && ::pread(fd_, &probe, 1, static_cast<off_t>(pos_)) > 0;
}

} // namespace tarnhollow::tool

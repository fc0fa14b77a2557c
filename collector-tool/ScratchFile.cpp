#include "collector-tool/ScratchFile.h"
#include "platform/posix/WriteAll.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace tarnhollow::tool {

namespace {

constexpr std::size_t kBufferSize = 256 << 10;

} // namespace

ScratchFile::~ScratchFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      error_(other.error_),
      size_(other.size_),
      written_(other.written_),
      buffer_(std::move(other.buffer_))
{
}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        size_ = other.size_;
        written_ = other.written_;
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

int ScratchFile::create(int folderFd, ScratchFile& file)
{
    int fd = -1;
#ifdef O_TMPFILE
    fd = ::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    // File systems without nameless files (FAT, exFAT): a random name taken
    // exclusively, never through a link, and removed at once.
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        unsigned char random[8] = {};
        if (::getentropy(random, sizeof random) != 0)
            return errno;
        std::string name = ".tarnhollow-scratch-";
        for (unsigned char c : random)
            name += "0123456789abcdef"[c & 15];
        fd = ::openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::unlinkat(folderFd, name.c_str(), 0);
            break;
        }
        if (errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    file = ScratchFile();
    file.fd_ = fd;
    file.buffer_.reserve(kBufferSize);
    return 0;
}

bool ScratchFile::append(const void* data, std::size_t size)
{
    if (fd_ < 0)
        return false;
    size_ += size;
    const auto* bytes = static_cast<const char*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    if (error_ != 0)
        return false;
    return buffer_.size() < kBufferSize || flush();
}

void ScratchFile::syncSize()
{
    struct stat st {};
    if (fd_ >= 0 && flush() && ::fstat(fd_, &st) == 0)
        size_ = written_ = static_cast<std::uint64_t>(st.st_size);
}

bool ScratchFile::flush()
{
    if (buffer_.empty())
        return error_ == 0;
    if (const int error = posix::writeAllAt(fd_, buffer_.data(), buffer_.size(), written_)) {
        // Part of it may be in the file; the next try writes it all again.
        error_ = error;
        return false;
    }
    written_ += buffer_.size();
    buffer_.clear();
    return error_ == 0;
}

bool ScratchFile::rewind()
{
    if (fd_ < 0 || error_ != 0 || !flush())
        return false;
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

long ScratchFile::read(void* data, std::size_t capacity)
{
    for (;;) {
        const ssize_t n = ::read(fd_, data, capacity);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR) {
            error_ = errno;
            return -1;
        }
    }
}

} // namespace tarnhollow::tool

#include "collector-tool/SpaceReserve.h"

#include "collector-tool/ScratchFile.h"
#include "platform/posix/WriteAll.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tarnhollow::tool {

namespace {

constexpr std::uint64_t kStep = 1 << 20;

} // namespace

SpaceReserve::~SpaceReserve()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int SpaceReserve::open(int folderFd)
{
    ScratchFile file;
    if (const int error = ScratchFile::create(folderFd, file); error != 0)
        return error;
    fd_ = ::dup(file.fd());
    return fd_ >= 0 ? 0 : errno;
}

int SpaceReserve::grow(std::uint64_t bytes)
{
    if (fd_ < 0 || bytes <= size_)
        return fd_ < 0 ? EBADF : 0;
    const std::uint64_t target = (bytes + kStep - 1) / kStep * kStep;
#ifdef __linux__
    const int error = ::posix_fallocate(fd_, 0, static_cast<off_t>(target));
    if (error == 0) {
        size_ = target;
        return 0;
    }
    if (error != EOPNOTSUPP && error != EINVAL)
        return error;
#endif
    // Media that cannot allocate ahead get written zeros.
    const std::vector<char> zeros(kStep, 0);
    for (; size_ < target; size_ += kStep)
        if (const int failed = posix::writeAllAt(fd_, zeros.data(), zeros.size(), size_))
            return failed;
    return ::fsync(fd_) == 0 || errno == EINVAL ? 0 : errno;
}

void SpaceReserve::release()
{
    if (fd_ >= 0 && ::ftruncate(fd_, 0) == 0)
        size_ = 0;
}

} // namespace tarnhollow::tool

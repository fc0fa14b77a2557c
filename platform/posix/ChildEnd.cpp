#include "platform/posix/ChildEnd.h"

#include "platform/posix/PipeDrain.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

namespace tarnhollow::posix {

namespace {

// How often a child that keeps the pipe quiet is checked for having ended.
constexpr int reapCheckMilliseconds = 100;

} // namespace

int32_t statusForSignal(int signal) { return 128 + signal; }

int32_t statusForWait(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return statusForSignal(WTERMSIG(waitStatus));
    return -1;
}

std::optional<int32_t> waitForEnd(pid_t pid)
{
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    return statusForWait(waitStatus);
}

ChildEnd waitDrainingOutput(pid_t pid, int fd)
{
    ChildEnd end;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    bool open = true;
    for (;;) {
        if (open) {
            pollfd watched{fd, POLLIN, 0};
            const int ready = ::poll(&watched, 1, reapCheckMilliseconds);
            if (ready > 0)
                open = drainAvailable(fd, end.output);
            else if (ready < 0 && errno != EINTR)
                open = false;
        }
        int waitStatus = 0;
        // Once the pipe is closed nothing more can come: just wait.
        const pid_t reaped = ::waitpid(pid, &waitStatus, open ? WNOHANG : 0);
        if (reaped == pid) {
            end.status = statusForWait(waitStatus);
            break;
        }
        if (reaped < 0 && errno != EINTR)
            break; // someone else reaped it; the status is unknown
    }

    // Everything the child wrote is in the pipe by now. Take just that much:
    // a grandchild may go on writing.
    int pending = 0;
    if (open && ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0)
        drainAvailable(fd, end.output, static_cast<std::size_t>(pending));
    return end;
}

} // namespace tarnhollow::posix

// How a child process ended, in one convention: its exit status, or 128
// plus the number of the signal that ended it, as the shell reports it. A
// signal is never a success.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tarnhollow::posix {

int32_t statusForSignal(int signal);
// From waitpid's status word.
int32_t statusForWait(int waitStatus);

// Waits for the child; nothing when it could not be waited for (someone
// else reaped it).
std::optional<int32_t> waitForEnd(pid_t pid);

struct ChildEnd {
    int32_t status = -1; // -1: unknown
    std::string output;
};

// Reads `fd` (a pipe the child writes to) while the child runs, so that a
// child writing more than a pipe holds cannot block, and reaps the child.
// End of file is not waited for once the child is gone: a grandchild may
// hold the pipe open for ever. What the pipe holds at that moment is kept.
// Blocks the calling thread; does not close `fd`.
ChildEnd waitDrainingOutput(pid_t pid, int fd);

} // namespace tarnhollow::posix

#include "collector-tool/LiveCommand.h"
#include "collector-tool/Text.h"
#include "platform/posix/Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tarnhollow::tool {

namespace {

// After the kill, how long to wait for the process to be gone. A process
// stuck in the kernel (a dead network mount) may never go; it is left.
constexpr int kReapSeconds = 5;

double secondsSince(const struct timespec& start)
{
    struct timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec - start.tv_sec) + static_cast<double>(t.tv_nsec - start.tv_nsec) / 1e9;
}

void pause(long milliseconds)
{
    struct timespec step {
        0, milliseconds * 1000000L
    };
    while (::nanosleep(&step, &step) != 0 && errno == EINTR) {
    }
}

// Root runs only what no other account could have placed or swapped:
// every folder on the way and the program itself belong to root (or to
// us) and nobody else may write to them.
std::string untrustedReason(const std::string& resolved)
{
    const uid_t self = ::geteuid();
    std::string path;
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = resolved.find('/', from + 1);
        path = slash == std::string::npos ? resolved : resolved.substr(0, slash);
        struct stat st {};
        if (::lstat(path.empty() ? "/" : path.c_str(), &st) != 0)
            return path + ": " + errorText(errno);
        if (st.st_uid != 0 && st.st_uid != self)
            return path + " belongs to user " + std::to_string(st.st_uid);
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return path + " is writable by others";
        if (slash == std::string::npos) {
            if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0)
                return path + " is not an executable file";
            return {};
        }
        from = slash;
    }
}

// Whether the child has ended, without reaping it: while it is a zombie
// its process group number cannot be taken by anyone else.
bool hasEnded(pid_t pid)
{
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    for (;;) {
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
            return info.si_pid == pid;
        if (errno != EINTR)
            return true; // nothing left to wait for
    }
}

bool reap(pid_t pid, int& status, bool block)
{
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (done == pid)
            return true;
        if (done == 0)
            return false;
        if (errno != EINTR) {
            status = 0;
            return true;
        }
    }
}

// Waits for the child up to its limit, then ends it with its whole group.
LiveResult awaitChild(pid_t pid, int seconds, const struct timespec& start)
{
    using Outcome = LiveResult::Outcome;
    const double limit = seconds;
    long step = 2;
    bool timedOut = false;
    while (!hasEnded(pid)) {
        if (secondsSince(start) >= limit) {
            timedOut = true;
            break;
        }
        pause(step);
        step = step < 50 ? step * 2 : 50;
    }
    // Whatever the program left behind in its group goes with it.
    ::kill(-pid, SIGKILL);
    int status = 0;
    if (!timedOut) {
        reap(pid, status, true);
        if (WIFSIGNALED(status))
            return {Outcome::failed, 0, "ended by signal " + std::to_string(WTERMSIG(status))};
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
        return {Outcome::ran, code, ""};
    }
    ::kill(pid, SIGKILL);
    const std::string killed = "killed after " + std::to_string(seconds) + " s";
    while (!reap(pid, status, false)) {
        if (secondsSince(start) >= limit + kReapSeconds)
            return {Outcome::timedOut, 0, killed + ", and still not gone; left behind"};
        pause(20);
    }
    return {Outcome::timedOut, 0, killed};
}

} // namespace

LiveResult runLiveCommand(const LiveCommand& command, int outFd)
{
    using Outcome = LiveResult::Outcome;
    if (command.argv.empty() || command.argv[0].empty() || command.argv[0][0] != '/')
        return {Outcome::failed, 0, "not run: the program is not given by its full path"};

    char resolved[PATH_MAX];
    if (::realpath(command.argv[0].c_str(), resolved) == nullptr) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {Outcome::missing, 0, "no " + command.argv[0]};
        return {Outcome::failed, 0, "not run: " + errorText(error)};
    }
    if (const std::string reason = untrustedReason(resolved); !reason.empty())
        return {Outcome::failed, 0, "not run: " + reason};

    // The standard descriptors are about to be replaced; keep the output apart from them.
    int target = outFd;
    if (outFd >= 0 && outFd <= 2)
        target = ::fcntl(outFd, F_DUPFD_CLOEXEC, 3);
    if (target < 0)
        return {Outcome::failed, 0, "not run: no file for its output"};
    struct timespec start {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    // argv[0] stays as given: multi-call programs choose their part by it.
    const posix::Spawned child = posix::spawn(resolved, command.argv, {target, target}, {true});
    if (target != outFd)
        ::close(target);
    if (child.error != 0) {
        if (child.error == ENOENT)
            return {Outcome::missing, 0, "no " + command.argv[0]};
        return {Outcome::failed, 0, "could not start: " + errorText(child.error)};
    }
    return awaitChild(child.pid, command.timeoutSeconds > 0 ? command.timeoutSeconds : 1, start);
}

} // namespace tarnhollow::tool

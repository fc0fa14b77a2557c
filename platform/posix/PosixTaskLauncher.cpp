#include "platform/posix/PosixTaskLauncher.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarnhollow {

namespace posix {

namespace {

// How often a child that keeps the pipe quiet is checked for having ended.
constexpr int reapCheckMilliseconds = 100;

int32_t terminationStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus); // never 0: a killed runner is no success
    return -1;
}

// Appends one read's worth; false at end of file or on a hard error.
bool readSome(int fd, std::string& output, std::size_t limit)
{
    char buffer[64 * 1024];
    const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, limit));
    if (got > 0) {
        output.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return true;
    return false;
}

} // namespace

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
                open = readSome(fd, end.output, SIZE_MAX);
            else if (ready < 0 && errno != EINTR)
                open = false;
        }
        int waitStatus = 0;
        // Once the pipe is closed nothing more can come: just wait.
        const pid_t reaped = ::waitpid(pid, &waitStatus, open ? WNOHANG : 0);
        if (reaped == pid) {
            end.status = terminationStatus(waitStatus);
            break;
        }
        if (reaped < 0 && errno != EINTR)
            break; // someone else reaped it; the status is unknown
    }

    // Everything the child wrote is in the pipe by now. Take just that much:
    // a grandchild may go on writing.
    int pending = 0;
    if (open && ::ioctl(fd, FIONREAD, &pending) == 0) {
        std::size_t left = static_cast<std::size_t>(pending);
        while (left > 0) {
            const std::size_t before = end.output.size();
            if (!readSome(fd, end.output, left) || end.output.size() == before)
                break;
            left -= end.output.size() - before;
        }
    }
    return end;
}

} // namespace posix

namespace {

class Pipe {
public:
    Pipe() = default;
    ~Pipe()
    {
        closeEnd(read);
        closeEnd(write);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int open()
    {
        int fds[2];
#if defined(__linux__)
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return errno;
#else
        if (::pipe(fds) != 0)
            return errno;
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
        read = aboveStandardStreams(fds[0]);
        write = aboveStandardStreams(fds[1]);
        return 0;
    }

    static void closeEnd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    int read = -1;
    int write = -1;

private:
    // With a standard stream closed the pipe may land on 0, 1 or 2, where the
    // child's own redirections would clobber it.
    static int aboveStandardStreams(int fd)
    {
        if (fd > 2)
            return fd;
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (moved < 0)
            return fd;
        ::close(fd);
        return moved;
    }
};

std::string describe(const std::filesystem::path& executable, int error)
{
    return executable.string() + ": " + std::generic_category().message(error);
}

} // namespace

LaunchResult PosixTaskLauncher::launch(const TaskRequest& request, TerminationHandler onTermination)
{
    Pipe errorPipe;
    if (const int error = errorPipe.open())
        return {false, describe(request.executable, error)};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorPipe.write, STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // The runner writes into a pipe whose reader may be gone; it should
    // see SIGPIPE as any program does, whatever this process ignores.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
#if defined(__APPLE__)
    // Nothing of ours leaks into the child but what the actions name.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    posix_spawn_file_actions_addinherit_np(&actions, STDIN_FILENO);
#else
    // Other code in this process may open descriptors without O_CLOEXEC.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    posix_spawnattr_setflags(&attributes, flags);

    std::vector<std::string> argumentStore;
    argumentStore.reserve(request.arguments.size() + 1);
    argumentStore.push_back(request.executable.string());
    argumentStore.insert(argumentStore.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argumentStore)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, request.executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return {false, describe(request.executable, error)};

    // Only the child may hold the writing end, or end of file never comes.
    Pipe::closeEnd(errorPipe.write);
    const int readEnd = errorPipe.read;
    errorPipe.read = -1;

    try {
        std::thread([pid, readEnd, handler = std::move(onTermination)] {
            auto end = posix::waitDrainingOutput(pid, readEnd);
            ::close(readEnd);
            handler(end.status, std::move(end.output));
        }).detach();
    } catch (const std::system_error& failure) {
        // Without a thread nobody would report the end: take the run back.
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(readEnd);
        return {false, failure.what()};
    }
    return {true, {}};
}

} // namespace tarnhollow

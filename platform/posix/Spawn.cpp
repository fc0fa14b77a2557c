#include "platform/posix/Spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace tarnhollow::posix {

namespace {

// With a standard stream closed the pipe may land on 0, 1 or 2, where the
// child's own redirections would clobber it.
int aboveStandardStreams(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0)
        return fd;
    ::close(fd);
    return moved;
}

void redirect(posix_spawn_file_actions_t& actions, int stream, int target)
{
    if (target == StandardStreams::nullDevice)
        posix_spawn_file_actions_addopen(&actions, stream, "/dev/null", O_WRONLY, 0);
    else if (target >= 0)
        posix_spawn_file_actions_adddup2(&actions, target, stream);
#if defined(__APPLE__)
    else
        posix_spawn_file_actions_addinherit_np(&actions, stream);
#endif
}

} // namespace

Pipe::~Pipe()
{
    closeEnd(read);
    closeEnd(write);
}

int Pipe::open()
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

void Pipe::closeEnd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int Pipe::release(int& fd)
{
    const int released = fd;
    fd = -1;
    return released;
}

namespace {

void isolate(posix_spawn_file_actions_t& actions, posix_spawnattr_t& attributes, short& flags)
{
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes, &all);
}

} // namespace

Spawned spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments, StandardStreams streams,
              Isolation isolation)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    redirect(actions, STDOUT_FILENO, streams.output);
    redirect(actions, STDERR_FILENO, streams.error);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // A child writing into a pipe whose reader is gone should see SIGPIPE
    // as any program does.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    if (isolation.enabled)
        isolate(actions, attributes, flags);
#if defined(__APPLE__)
    // Nothing of ours leaks into the child but what the actions name.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    if (!isolation.enabled)
        posix_spawn_file_actions_addinherit_np(&actions, STDIN_FILENO);
#else
    // Other code in this process may open descriptors without O_CLOEXEC.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    posix_spawnattr_setflags(&attributes, flags);

    std::vector<std::string> store = arguments;
    std::vector<char*> argv;
    argv.reserve(store.size() + 1);
    for (auto& argument : store)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    char* noEnvironment[] = {nullptr};
    Spawned child;
    child.error = ::posix_spawn(&child.pid, program.c_str(), &actions, &attributes, argv.data(),
                                isolation.enabled ? noEnvironment : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return child;
}

} // namespace tarnhollow::posix

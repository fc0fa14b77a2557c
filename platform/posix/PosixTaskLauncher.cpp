#include "platform/posix/PosixTaskLauncher.h"

#include "platform/posix/ChildEnd.h"
#include "platform/posix/Spawn.h"

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnhollow {

namespace {

std::string describe(const std::filesystem::path& executable, int error)
{
    return executable.string() + ": " + std::generic_category().message(error);
}

} // namespace

LaunchResult PosixTaskLauncher::launch(const TaskRequest& request, TerminationHandler onTermination)
{
    posix::Pipe errorPipe;
    if (const int error = errorPipe.open())
        return {false, describe(request.executable, error)};

    std::vector<std::string> arguments;
    arguments.reserve(request.arguments.size() + 1);
    arguments.push_back(request.executable.string());
    arguments.insert(arguments.end(), request.arguments.begin(), request.arguments.end());
    const posix::Spawned child =
        posix::spawn(request.executable, arguments, {posix::StandardStreams::nullDevice, errorPipe.write});
    if (child.error != 0)
        return {false, describe(request.executable, child.error)};

    // Only the child may hold the writing end, or end of file never comes.
    posix::Pipe::closeEnd(errorPipe.write);
    const int readEnd = posix::Pipe::release(errorPipe.read);
    const pid_t pid = child.pid;

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

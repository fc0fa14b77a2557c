// The elevation runner of the Linux build. It takes what the application
// gives the Mac's runner: "-e", the runner script, the collector command
// line and the password prompt, and runs the command line with /bin/sh as
// root: directly when it already is root, otherwise through pkexec (by its
// full path: a search of PATH would run whatever the caller put first). It ends
// with status 0 exactly when the shell did; when the user dismisses the
// authentication dialog its error output contains contract::cancelledMarker.
#include "collect/LastLine.h"
#include "collector/Contract.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/Spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace {

namespace contract = tarnhollow::contract;
namespace lines = tarnhollow::lines;
namespace posix = tarnhollow::posix;

constexpr const char* shell = "/bin/sh";
constexpr const char* pkexec = "/usr/bin/pkexec";

// Run as root under pkexec: one byte on standard output says that
// authorisation succeeded and the command line is about to run. pkexec
// passes its own failures and the shell's statuses through the same exit
// status (126 is both "dialog dismissed" and "command not executable"), so
// the byte is what tells them apart. The command line arrives as "$1",
// never spliced into this text.
constexpr const char* announcingScript = "printf x; exec /bin/sh -c \"$1\" >/dev/null";

// pkexec's status when the user dismissed the authentication dialog.
constexpr int pkexecDismissed = 126;

constexpr int failureStatus = 1;
constexpr int usageStatus = 2;

// The app may have quit and closed our error pipe; the collection goes on
// regardless, so failed writes are simply dropped.
void writeError(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void writeErrorLine(const std::string& message)
{
    writeError("elevate: " + message + "\n");
}

std::string errorText(int error) { return std::generic_category().message(error); }

int reportShellEnd(int status)
{
    if (status != 0)
        writeErrorLine("the command ended with status " + std::to_string(status));
    return status;
}

int runAsRoot(const std::string& commandLine)
{
    const posix::Spawned child = posix::spawn(shell, {"sh", "-c", commandLine});
    if (child.error != 0) {
        writeErrorLine(std::string("cannot run ") + shell + ": " + errorText(child.error));
        return failureStatus;
    }
    const auto status = posix::waitForEnd(child.pid);
    if (!status) {
        writeErrorLine("lost track of the command: " + errorText(errno));
        return failureStatus;
    }
    return reportShellEnd(*status);
}

int runThroughPkexec(const std::string& commandLine)
{
    posix::Pipe announced;
    posix::Pipe errors;
    int error = announced.open();
    if (error == 0)
        error = errors.open();
    if (error != 0) {
        writeErrorLine("cannot make a pipe: " + errorText(error));
        return failureStatus;
    }
    const posix::Spawned child = posix::spawn(pkexec, {"pkexec", shell, "-c", announcingScript, "sh", commandLine},
                                              {announced.write, errors.write});
    posix::Pipe::closeEnd(announced.write);
    posix::Pipe::closeEnd(errors.write);
    if (child.error != 0) {
        writeErrorLine(std::string("cannot run ") + pkexec + ": " + errorText(child.error));
        return failureStatus;
    }

    // Drained while it runs: the shell's own complaints come this way too.
    const posix::ChildEnd end = posix::waitDrainingOutput(child.pid, errors.read);
    ::fcntl(announced.read, F_SETFL, O_NONBLOCK);
    char byte = 0;
    const bool shellRan = ::read(announced.read, &byte, 1) == 1;

    if (shellRan) {
        writeError(end.output);
        return reportShellEnd(end.status == 0 ? 0 : (end.status > 0 ? end.status : failureStatus));
    }
    if (end.status == pkexecDismissed) {
        writeErrorLine("administrator authentication was dismissed. " + std::string(contract::cancelledMarker));
        return failureStatus;
    }
    const std::string reason(lines::lastNonEmptyLine(end.output));
    writeErrorLine("could not obtain administrator rights: " +
                   (reason.empty() ? "pkexec ended with status " + std::to_string(end.status) : reason));
    return failureStatus;
}

} // namespace

int main(int argc, char** argv)
{
    // A closed error pipe (the app has quit) must not end the collection.
    std::signal(SIGPIPE, SIG_IGN);

    if (argc != 5 || std::string_view(argv[1]) != "-e") {
        writeErrorLine("usage: elevate -e <script> <command line> <prompt>");
        return usageStatus;
    }
    if (std::string_view(argv[2]) != contract::runnerScript) {
        writeErrorLine("refusing to run a script other than the application's own");
        return usageStatus;
    }
    // The prompt (argv[4]) is the Mac's dialog text; pkexec shows its own.
    const std::string commandLine = argv[3];
    return ::geteuid() == 0 ? runAsRoot(commandLine) : runThroughPkexec(commandLine);
}

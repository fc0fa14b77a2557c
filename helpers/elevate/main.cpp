// The elevation runner of the Linux build. It takes what the application
// gives the Mac's runner: "-e", the runner script, the collector command
// line and the password prompt, and runs the command line with /bin/sh as
// root: directly when it already is root, otherwise through pkexec (by its
// full path: a search of PATH would run whatever the caller put first). It ends
// with status 0 exactly when the shell did; when the user dismisses the
// authentication dialog its error output contains contract::cancelledMarker.
//
// The copy that the Debian package installed, root's alone, asks pkexec to
// run itself instead of /bin/sh: the package's polkit action names this
// program, so the dialog says that Tarnhollow asks and why. Any other copy
// (a kit on a stick, which others may be able to write) keeps the generic
// road through /bin/sh, since root must never run a program from there.
#include "collect/LastLine.h"
#include "collector/Contract.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/Spawn.h"
#include "platform/posix/WriteAll.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

namespace contract = tarnhollow::contract;
namespace lines = tarnhollow::lines;
namespace posix = tarnhollow::posix;

constexpr const char* shell = "/bin/sh";
constexpr const char* pkexec = "/usr/bin/pkexec";
// Named by the polkit action org.tarnhollow.collect in the Debian package.
constexpr const char* installedRunner = "/opt/tarnhollow/Tarnhollow.app/Contents/Helpers/elevate";

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
void writeError(std::string_view text) { tarnhollow::posix::writeAll(STDERR_FILENO, text); }

void writeErrorLine(const std::string& message) { writeError("elevate: " + message + "\n"); }

std::string errorText(int error) { return std::generic_category().message(error); }

int reportShellEnd(int status)
{
    if (status != 0)
        writeErrorLine("the command ended with status " + std::to_string(status));
    return status;
}

// True when `path` and every folder above it belong to root and no one else
// may change them, so that what pkexec runs as root is what root put there.
bool onlyRootCanChange(std::filesystem::path path)
{
    for (;;) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode) || info.st_uid != 0 ||
            (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return false;
        if (path == path.root_path())
            return true;
        path = path.parent_path();
    }
}

bool isInstalledRunner()
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error) == installedRunner && !error &&
           onlyRootCanChange(installedRunner);
}

int runAsRoot(const std::string& commandLine)
{
    // Started by pkexec as the installed runner: the caller waits for the
    // same byte the generic road's script gives, and the command line's
    // output goes nowhere, as there.
    if (std::getenv("PKEXEC_UID") && ::write(STDOUT_FILENO, "x", 1) == 1) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
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

int runThroughPkexec(const std::string& commandLine, const std::string& prompt)
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
    std::vector<std::string> arguments = {"pkexec", shell, "-c", announcingScript, "sh", commandLine};
    const bool asItself = isInstalledRunner();
    if (asItself)
        arguments = {"pkexec", installedRunner, "-e", std::string(contract::runnerScript), commandLine, prompt};
    const posix::Spawned child = posix::spawn(pkexec, arguments, {announced.write, errors.write});
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
        if (asItself) // it has said how the command ended
            return end.status >= 0 ? end.status : failureStatus;
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
    // The prompt (argv[4]) is the Mac's dialog text; pkexec shows its own
    // (the installed copy's polkit action has ours).
    const std::string commandLine = argv[3];
    return ::geteuid() == 0 ? runAsRoot(commandLine) : runThroughPkexec(commandLine, argv[4]);
}

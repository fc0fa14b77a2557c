// The elevation runner of the Linux build. It takes what the application
// gives the Mac's runner: "-e", the runner script, the collector command
// line and the password prompt, and runs the command line with /bin/sh as
// root: directly when it already is root, otherwise through pkexec (by its
// full path: a search of PATH would run whatever the caller put first). It ends
// with status 0 exactly when the shell did; when the user dismisses the
// authentication dialog its error output contains contract::cancelledMarker.
//
// The copy that the Debian package installed runs under pkexec as itself,
// with fixed arguments (Installed.h). Any other copy (a kit on a stick,
// which others may be able to write) keeps the generic road through
// /bin/sh, since root must never run a program from there.
#include "collect/LastLine.h"
#include "collector/Contract.h"
#include "helpers/elevate/Installed.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/Spawn.h"
#include "platform/posix/WriteAll.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

namespace contract = tarnhollow::contract;
namespace lines = tarnhollow::lines;
namespace posix = tarnhollow::posix;
namespace elevate = tarnhollow::elevate;

constexpr const char* shell = "/bin/sh";
constexpr const char* pkexec = "/usr/bin/pkexec";

// Run as root under pkexec: one byte on standard output says that
// authorisation succeeded and the command line is about to run. pkexec
// passes its own failures and the shell's statuses through the same exit
// status (126 is both "dialog dismissed" and "command not executable"), so
// the byte is what tells them apart. The command line arrives as "$1",
// never spliced into this text.
constexpr const char* announcingScript = "printf x; exec /bin/sh -c \"$1\" >/dev/null";

// pkexec's statuses when the user dismissed the authentication dialog, and
// when polkit said no: some agents report a dismissed dialog that way, and
// either way the user may try again. 127 also covers pkexec's other
// failures, which its error output tells apart.
constexpr int pkexecDismissed = 126;
constexpr int pkexecNotAuthorized = 127;

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

// Started by pkexec as the installed runner: the caller waits for the same
// byte the generic road's script gives, and nothing else goes that way.
int collectAsInstalled(char** argv)
{
    if (::write(STDOUT_FILENO, "x", 1) == 1) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    return elevate::collectForPkexecUser(argv[2], argv[3], argv[4]);
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
    std::vector<std::string> arguments = {"pkexec", shell, "-c", announcingScript, "sh", commandLine};
    const bool asItself = elevate::isInstalledRunner();
    if (asItself) {
        // Root is handed the run's data, never the line itself.
        const auto run = contract::parseCollectorCommandLine(commandLine);
        if (!run) {
            writeErrorLine("refusing a command line other than the application's own");
            return usageStatus;
        }
        arguments = {"pkexec",
                     elevate::installedRunner,
                     elevate::collectVerb,
                     run->output.path.string(),
                     contract::pinText(run->output),
                     run->progressFile.string()};
    }
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
    if (end.output.find("No authentication agent") != std::string::npos) {
        writeError(std::string(contract::noPasswordDialog) + "\n");
        return failureStatus;
    }
    if (end.status == pkexecDismissed ||
        (end.status == pkexecNotAuthorized && end.output.find("Not authorized") != std::string::npos)) {
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

    if (::geteuid() == 0 && std::getenv("PKEXEC_UID")) {
        // Under the package's polkit action: its fixed arguments or nothing.
        if (argc == 5 && std::string_view(argv[1]) == elevate::collectVerb && elevate::isInstalledRunner())
            return collectAsInstalled(argv);
        writeErrorLine("under pkexec only the installed collector runs");
        return usageStatus;
    }
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
    return ::geteuid() == 0 ? runAsRoot(commandLine) : runThroughPkexec(commandLine);
}

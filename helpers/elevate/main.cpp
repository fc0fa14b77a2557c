// The elevation runner of the Linux build. It takes what the application
// gives the Mac's runner: "-e", the runner script, the collector command
// line and the password prompt, and runs the command line with /bin/sh as
// root: directly when it already is root, otherwise through pkexec (by its
// full path: a search of PATH would run whatever the caller put first). It ends
// with status 0 exactly when the shell did; when the user dismisses the
// authentication dialog its error output contains "(-128)".
#include "collector/Contract.h"
#include "platform/posix/PosixTaskLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

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

struct Child {
    pid_t pid = -1;
    int error = 0;
};

// Starts a program with our standard streams, or those given, and none of
// our other descriptors; SIGPIPE back at its default, which we ignore.
Child spawn(const char* program, std::vector<std::string> arguments, int standardOutput = -1,
            int standardError = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (standardOutput >= 0)
        posix_spawn_file_actions_adddup2(&actions, standardOutput, STDOUT_FILENO);
    if (standardError >= 0)
        posix_spawn_file_actions_adddup2(&actions, standardError, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Child child;
    child.error = ::posix_spawn(&child.pid, program, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return child;
}

std::string errorText(int error) { return std::generic_category().message(error); }

// Our exit status for the shell's end; a signal is never a success.
int exitStatusFor(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return failureStatus;
}

int reportShellEnd(int status)
{
    if (status != 0)
        writeErrorLine("the command ended with status " + std::to_string(status));
    return status;
}

int runAsRoot(const std::string& commandLine)
{
    const Child child = spawn(shell, {"sh", "-c", commandLine});
    if (child.error != 0) {
        writeErrorLine(std::string("cannot run ") + shell + ": " + errorText(child.error));
        return failureStatus;
    }
    int waitStatus = 0;
    while (::waitpid(child.pid, &waitStatus, 0) < 0) {
        if (errno != EINTR) {
            writeErrorLine("lost track of the command: " + errorText(errno));
            return failureStatus;
        }
    }
    return reportShellEnd(exitStatusFor(waitStatus));
}

std::string lastNonEmptyLine(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t start = text.rfind('\n', end - 1);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        std::string line = text.substr(from, end - from);
        if (line.find_first_not_of(" \t\r") != std::string::npos)
            return line;
        if (start == std::string::npos)
            break;
        end = start;
    }
    return {};
}

int runThroughPkexec(const std::string& commandLine)
{
    int announced[2];
    int errors[2];
    if (::pipe2(announced, O_CLOEXEC) != 0) {
        writeErrorLine("cannot make a pipe: " + errorText(errno));
        return failureStatus;
    }
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        writeErrorLine("cannot make a pipe: " + errorText(errno));
        return failureStatus;
    }
    const Child child = spawn(pkexec, {"pkexec", shell, "-c", announcingScript, "sh", commandLine},
                              announced[1], errors[1]);
    ::close(announced[1]);
    ::close(errors[1]);
    if (child.error != 0) {
        writeErrorLine(std::string("cannot run ") + pkexec + ": " + errorText(child.error));
        return failureStatus;
    }

    // Drained while it runs: the shell's own complaints come this way too.
    const auto end = tarnhollow::posix::waitDrainingOutput(child.pid, errors[0]);
    ::fcntl(announced[0], F_SETFL, O_NONBLOCK);
    char byte = 0;
    const bool shellRan = ::read(announced[0], &byte, 1) == 1;
    ::close(announced[0]);
    ::close(errors[0]);

    if (shellRan) {
        writeError(end.output);
        return reportShellEnd(end.status == 0 ? 0 : (end.status > 0 ? end.status : failureStatus));
    }
    if (end.status == pkexecDismissed) {
        writeErrorLine("administrator authentication was dismissed. (-128)");
        return failureStatus;
    }
    const std::string reason = lastNonEmptyLine(end.output);
    writeErrorLine("could not obtain administrator rights: " +
                   (reason.empty() ? "pkexec ended with status " + std::to_string(end.status) : reason));
    return failureStatus;
}

} // namespace

int main(int argc, char** argv)
{
    // A closed error pipe (the app has quit) must not end the collection.
    std::signal(SIGPIPE, SIG_IGN);

    namespace contract = tarnhollow::contract;
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

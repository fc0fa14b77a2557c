// Starting a child process: its standard streams where we say, none of our
// other descriptors, and a clean signal state.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarnhollow::posix {

// Both ends close on exec and lie above the standard streams.
class Pipe {
public:
    Pipe() = default;
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // 0, or the errno of the failure.
    int open();
    static void closeEnd(int& fd);
    // Hands the descriptor over: the pipe no longer closes it.
    static int release(int& fd);

    int read = -1;
    int write = -1;
};

// Where the child's standard output and error go: a descriptor of ours,
// or one of these.
struct StandardStreams {
    static constexpr int inherit = -1;
    static constexpr int nullDevice = -2;
    int output = inherit;
    int error = inherit;
};

// For a child that must depend on nothing of ours (a program of an examined
// system run as root): none of our environment, input from the null device,
// every signal at its default, and a process group of its own, so that it
// can be stopped with whatever it starts.
struct Isolation {
    bool enabled = false;
};

struct Spawned {
    pid_t pid = -1;
    int error = 0; // errno when it could not be started
};

// Starts `program` (an absolute path; PATH is never searched) with
// `arguments` as its argv, argv[0] included, and our environment. Standard
// input is inherited. The child starts with no signal blocked and SIGPIPE
// at its default, whatever this process ignores.
Spawned spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments,
              StandardStreams streams = {}, Isolation isolation = {});

} // namespace tarnhollow::posix

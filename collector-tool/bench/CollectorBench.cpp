// Archives a generated tree (many small files, a few large ones) with the
// collector tool and with "zip -r -6", one after the other on a warm cache,
// and prints our time divided by zip's, and our peak memory.
//
//   collector_bench [--small N] [--large N] [--large-mib M] [--tool PATH]

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs argv in dir, output discarded; wall time and the child's peak RSS.
Result measure(const std::vector<std::string>& args, const std::string& dir)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout); // the child must not print our buffer again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Result r;
    int status = 0;
    struct rusage usage { };
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Log-like text: compresses about as well as real logs do.
class Text {
public:
    std::string line()
    {
        static const char* const words[] = { "session", "opened", "closed", "for", "user", "root", "accepted",
            "publickey", "from", "port", "ssh2", "kernel", "audit", "started", "stopped", "unit", "cron",
            "CMD", "failed", "password" };
        std::string s = "2026-12-06T08:" + std::to_string(next() % 60) + ":" + std::to_string(next() % 60)
            + " host svc[" + std::to_string(next() % 65536) + "]:";
        const int n = 4 + static_cast<int>(next() % 10);
        for (int i = 0; i < n; ++i) {
            s += ' ';
            s += words[next() % 20];
            if (next() % 4 == 0)
                s += "=" + std::to_string(next());
        }
        s += '\n';
        return s;
    }

private:
    std::uint64_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

void writeText(const fs::path& path, std::uint64_t bytes, Text& text)
{
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    std::uint64_t written = 0;
    while (written < bytes) {
        chunk.clear();
        while (chunk.size() < (1u << 20) && written + chunk.size() < bytes)
            chunk += text.line();
        if (written + chunk.size() > bytes)
            chunk.resize(bytes - written);
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        written += chunk.size();
    }
}

void readAll(const fs::path& root)
{
    std::vector<char> buffer(1 << 20);
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file())
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) { }
    }
}

std::uintmax_t onlyFileSize(const fs::path& dir)
{
    for (const auto& e : fs::directory_iterator(dir))
        return fs::file_size(e.path());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int small = 10000;
    int large = 3;
    std::uint64_t largeMiB = 100;
    std::string tool = TARNHOLLOW_TOOL;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--small")
            small = std::atoi(argv[i + 1]);
        else if (opt == "--large")
            large = std::atoi(argv[i + 1]);
        else if (opt == "--large-mib")
            largeMiB = std::strtoull(argv[i + 1], nullptr, 10);
        else if (opt == "--tool")
            tool = argv[i + 1];
    }

    char pattern[] = "/tmp/collector-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    // The tree lies where an item of the tool looks (the system logs).
    const fs::path root = work / "root";
    const fs::path tree = root / "var/log/bench";
    const fs::path ours = work / "ours";
    const fs::path theirs = work / "zip";
    fs::create_directories(tree);
    fs::create_directories(ours);
    fs::create_directories(theirs);

    std::printf("generating %d small files and %d files of %llu MiB in %s\n", small, large,
        static_cast<unsigned long long>(largeMiB), work.c_str());
    Text text;
    for (int i = 0; i < small; ++i) {
        const fs::path dir = tree / ("d" + std::to_string(i / 100));
        if (i % 100 == 0)
            fs::create_directories(dir);
        writeText(
            dir / ("f" + std::to_string(i) + ".log"), 500 + static_cast<std::uint64_t>(i % 7) * 700, text);
    }
    for (int i = 0; i < large; ++i)
        writeText(tree / ("large" + std::to_string(i) + ".log"), largeMiB << 20, text);
    readAll(root); // both runs start from a warm cache

    const Result zipRun
        = measure({ "zip", "-r", "-6", "-q", (theirs / "tree.zip").string(), "." }, root.string());
    const Result toolRun = measure({ tool, "-o", ours.string(), "--root", root.string() }, work.string());

    std::printf("zip -r -6:   %8.2f s  peak %6.1f MiB  archive %llu bytes  (status %d)\n", zipRun.seconds,
        zipRun.peakKiB / 1024.0, static_cast<unsigned long long>(onlyFileSize(theirs)), zipRun.status);
    std::printf("tarnhollow:  %8.2f s  peak %6.1f MiB  archive %llu bytes  (status %d)\n", toolRun.seconds,
        toolRun.peakKiB / 1024.0, static_cast<unsigned long long>(onlyFileSize(ours)), toolRun.status);
    std::printf("time ratio tarnhollow / zip: %.3f (target at most 1.3)\n", toolRun.seconds / zipRun.seconds);
    std::printf("tarnhollow peak RSS: %.1f MiB (target under 64 MiB)\n", toolRun.peakKiB / 1024.0);

    std::error_code ec;
    fs::remove_all(work, ec);
    return zipRun.status == 0 && toolRun.status == 0 ? 0 : 1;
}

// Archives two generated trees with the collector tool and with "zip -r -6",
// one after the other on a warm cache, and prints wall time, peak memory and
// entries of each, and our time divided by zip's:
//  - realistic: logs, many small files and a few large ones;
//  - hostile: what a user can put in a home folder to stop, stall or bloat a
//    run (a path too long for a zip member, a deep chain, thousands of empty
//    folders, 50,000 small files, a 20 GiB sparse file).
//
//   collector_bench [--small N] [--large N] [--large-mib M] [--sparse-gib G] [--tool PATH]

#include <fcntl.h>
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
#include <functional>
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
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// prefix followed by n; GCC 12 at -O3 sees a false overlap in "literal" + std::string.
std::string numbered(const char* prefix, std::uint64_t n)
{
    std::string text(prefix);
    text += std::to_string(n);
    return text;
}

// Log-like text: compresses about as well as real logs do.
class Text {
public:
    std::string line()
    {
        static const char* const words[] = {"session",   "opened", "closed", "for",  "user",   "root",    "accepted",
                                            "publickey", "from",   "port",   "ssh2", "kernel", "audit",   "started",
                                            "stopped",   "unit",   "cron",   "CMD",  "failed", "password"};
        std::string s = "2026-12-06T08:" + std::to_string(next() % 60) + ":" + std::to_string(next() % 60) +
                        " host svc[" + std::to_string(next() % 65536) + "]:";
        const int n = 4 + static_cast<int>(next() % 10);
        for (int i = 0; i < n; ++i) {
            s += ' ';
            s += words[next() % 20];
            if (next() % 4 == 0)
                s += numbered("=", next());
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
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        }
    }
}

fs::path onlyZip(const fs::path& dir)
{
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".zip")
            return e.path();
    return {};
}

// Entries as the archive's end record counts them (the 64-bit record when present).
std::uint64_t zipEntries(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    const std::uint64_t window = std::min<std::uint64_t>(size, 70000);
    std::string tail(window, '\0');
    in.seekg(static_cast<std::streamoff>(size - window));
    in.read(tail.data(), static_cast<std::streamsize>(window));
    const auto le = [&](std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(tail[at + static_cast<std::size_t>(i)]);
        return v;
    };
    const std::size_t end = tail.rfind(std::string("PK\x05\x06", 4));
    if (end == std::string::npos)
        return 0;
    if (le(end + 10, 2) != 0xFFFF)
        return le(end + 10, 2);
    const std::size_t zip64 = tail.rfind(std::string("PK\x06\x06", 4), end);
    return zip64 == std::string::npos ? 0 : le(zip64 + 32, 8);
}

void file(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

// Built with *at calls: the long chain is longer than any path the system accepts.
void hostileTree(const fs::path& home, std::uint64_t sparseGiB)
{
    fs::create_directories(home / ".ssh");
    int fd = ::open((home / ".ssh").c_str(), O_RDONLY | O_DIRECTORY);
    const std::string longName(255, 'n');
    for (int i = 0; i < 256 && fd >= 0; ++i) {
        ::mkdirat(fd, longName.c_str(), 0755);
        const int next = ::openat(fd, longName.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0)
        ::close(fd);
    fs::path deep = home / ".ssh/deep";
    fs::create_directories(deep);
    fd = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 250 && fd >= 0; ++i) {
        ::mkdirat(fd, "d", 0755);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0)
        ::close(fd);
    for (int i = 0; i < 4000; ++i)
        fs::create_directories(home / ".ssh/empty" / numbered("e", static_cast<std::uint64_t>(i)));
    for (int i = 0; i < 50000; ++i) {
        const fs::path dir = home / ".ssh/many" / std::to_string(i / 1000);
        if (i % 1000 == 0)
            fs::create_directories(dir);
        file(dir / std::to_string(i), "key " + std::to_string(i) + "\n");
    }
    std::ofstream(home / ".bash_history").close();
    fs::resize_file(home / ".bash_history", sparseGiB << 30);
}

// Runs work in a child, so that what it allocates never counts in this
// process's memory, which every measured child inherits at fork as its
// starting peak.
void inChild(const std::function<void()>& work)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        work();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

struct Case {
    std::string name;
    Result zip;
    std::uint64_t zipEntries = 0;
    Result tool;
    std::uint64_t toolEntries = 0;
};

Case measureTree(const std::string& name, const fs::path& work, const fs::path& root, const std::string& tool)
{
    const fs::path ours = work / ("ours-" + name);
    const fs::path theirs = work / ("zip-" + name);
    fs::create_directories(ours);
    fs::create_directories(theirs);
    inChild([&] { readAll(root); }); // both runs start from a warm cache
    Case c;
    c.name = name;
    c.zip = measure({"zip", "-r", "-6", "-q", (theirs / "tree.zip").string(), "."}, root.string());
    c.zipEntries = fs::exists(theirs / "tree.zip") ? zipEntries(theirs / "tree.zip") : 0;
    c.tool = measure({tool, "-o", ours.string(), "--root", root.string()}, work.string());
    const fs::path archive = onlyZip(ours);
    c.toolEntries = archive.empty() ? 0 : zipEntries(archive);
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    int small = 10000;
    int large = 3;
    std::uint64_t largeMiB = 100;
    std::uint64_t sparseGiB = 20;
    std::string tool = TARNHOLLOW_TOOL;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--small")
            small = std::atoi(argv[i + 1]);
        else if (opt == "--large")
            large = std::atoi(argv[i + 1]);
        else if (opt == "--large-mib")
            largeMiB = std::strtoull(argv[i + 1], nullptr, 10);
        else if (opt == "--sparse-gib")
            sparseGiB = std::strtoull(argv[i + 1], nullptr, 10);
        else if (opt == "--tool")
            tool = argv[i + 1];
    }

    char pattern[] = "/tmp/collector-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    // Each tree lies where an item of the tool looks: the system logs, a home folder.
    const fs::path realistic = work / "realistic";
    const fs::path hostile = work / "hostile";
    const fs::path tree = realistic / "var/log/bench";
    fs::create_directories(tree);

    std::printf("generating %d small files and %d files of %llu MiB, and the hostile home folder, in %s\n", small,
                large, static_cast<unsigned long long>(largeMiB), work.c_str());
    inChild([&] {
        Text text;
        for (int i = 0; i < small; ++i) {
            const fs::path dir = tree / numbered("d", static_cast<std::uint64_t>(i / 100));
            if (i % 100 == 0)
                fs::create_directories(dir);
            writeText(dir / (numbered("f", static_cast<std::uint64_t>(i)) + ".log"),
                      500 + static_cast<std::uint64_t>(i % 7) * 700, text);
        }
        for (int i = 0; i < large; ++i)
            writeText(tree / ("large" + std::to_string(i) + ".log"), largeMiB << 20, text);
        hostileTree(hostile / "home/mallory", sparseGiB);
    });

    const Case cases[] = {measureTree("realistic", work, realistic, tool), measureTree("hostile", work, hostile, tool)};

    std::printf("\n| tree | program | wall s | peak RSS MiB | entries | status |\n|---|---|---|---|---|---|\n");
    for (const auto& c : cases) {
        std::printf("| %s | zip -r -6 | %.2f | %.1f | %llu | %d |\n", c.name.c_str(), c.zip.seconds,
                    c.zip.peakKiB / 1024.0, static_cast<unsigned long long>(c.zipEntries), c.zip.status);
        std::printf("| %s | tarnhollow | %.2f | %.1f | %llu | %d |\n", c.name.c_str(), c.tool.seconds,
                    c.tool.peakKiB / 1024.0, static_cast<unsigned long long>(c.toolEntries), c.tool.status);
    }
    std::printf("\nrealistic: time ratio tarnhollow / zip %.3f (target at most 1.3)\n",
                cases[0].tool.seconds / cases[0].zip.seconds);
    std::printf("hostile: tarnhollow %.1f s (target at most 60), peak RSS %.1f MiB (target at most 64)\n",
                cases[1].tool.seconds, cases[1].tool.peakKiB / 1024.0);

    // The chain of long names is longer than any path remove_all could name;
    // rm walks it by descriptor.
    measure({"rm", "-rf", work.string()}, "/");
    return cases[0].tool.status == 0 && cases[1].tool.status == 0 ? 0 : 1;
}

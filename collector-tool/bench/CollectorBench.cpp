// Archives two generated trees with the collector tool and with "zip -r -6",
// one after the other on a warm cache, and prints wall time, peak memory,
// size and entries of each, and our time and size divided by zip's:
//  - realistic: many small logs and a few large ones, gzip files, and random
//    data under names that do not tell (about 60,000 files, 250 MB), archived
//    with 1, 2 and all cores, to show what each core adds;
//  - hostile: what a user can put in a home folder to stop, stall or bloat a
//    run (a path too long for a zip member, a deep chain, thousands of empty
//    folders, 50,000 small files, a 20 GiB sparse file).
//
//   collector_bench [--small N] [--large N] [--large-mib M] [--sparse-gib G] [--tool PATH] [--keep DIR]
//
// --keep generates the trees into DIR once and leaves them there for the
// next run with the same DIR.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
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

// Random bytes: what encrypted or compressed data looks like to deflate.
void writeRandom(const fs::path& path, std::uint64_t bytes, std::uint64_t seed)
{
    std::vector<std::uint64_t> words(static_cast<std::size_t>((bytes + 7) / 8));
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& w : words) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        w = x;
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(bytes));
}

// A gzip file of log text, as logrotate leaves them.
void writeGzip(const fs::path& path, std::uint64_t textBytes, Text& text)
{
    std::string plain;
    while (plain.size() < textBytes)
        plain += text.line();
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&z, plain.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(packed.size() - z.avail_out);
    deflateEnd(&z);
    std::ofstream(path, std::ios::binary) << packed;
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

struct Run {
    std::string label;
    Result result;
    std::uint64_t entries = 0;
    std::uint64_t bytes = 0;
};

// zip first, then the tool once per entry of jobs (0: its default).
std::vector<Run> measureTree(const std::string& name, const fs::path& work, const fs::path& root,
                             const std::string& tool, const std::vector<unsigned>& jobs)
{
    inChild([&] { readAll(root); }); // every run starts from a warm cache
    std::vector<Run> runs;
    const fs::path theirs = work / ("zip-" + name);
    fs::create_directories(theirs);
    Run zip{"zip -r -6", measure({"zip", "-r", "-6", "-q", (theirs / "tree.zip").string(), "."}, root.string())};
    if (fs::exists(theirs / "tree.zip")) {
        zip.entries = zipEntries(theirs / "tree.zip");
        zip.bytes = fs::file_size(theirs / "tree.zip");
    }
    runs.push_back(zip);
    for (const unsigned n : jobs) {
        const fs::path ours = work / ("ours-" + name + "-" + std::to_string(n));
        fs::create_directories(ours);
        std::vector<std::string> args{tool, "-o", ours.string(), "--root", root.string()};
        if (n != 0)
            args.insert(args.end(), {"--jobs", std::to_string(n)});
        Run run{n == 0 ? "tarnhollow, all cores" : numbered("tarnhollow, cores: ", n), measure(args, work.string())};
        const fs::path archive = onlyZip(ours);
        if (!archive.empty()) {
            run.entries = zipEntries(archive);
            run.bytes = fs::file_size(archive);
        }
        runs.push_back(run);
    }
    return runs;
}

void printRuns(const std::string& tree, const std::vector<Run>& runs)
{
    for (const auto& r : runs)
        std::printf("| %s | %s | %.2f | %.1f | %.1f | %llu | %d |\n", tree.c_str(), r.label.c_str(), r.result.seconds,
                    r.result.peakKiB / 1024.0, static_cast<double>(r.bytes) / 1e6,
                    static_cast<unsigned long long>(r.entries), r.result.status);
}

} // namespace

int main(int argc, char** argv)
{
    int small = 56000;
    int large = 3;
    std::uint64_t largeMiB = 20;
    std::uint64_t sparseGiB = 20;
    std::string tool = TARNHOLLOW_TOOL;
    std::string keep;
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
        else if (opt == "--keep")
            keep = argv[i + 1];
    }

    char pattern[] = "/tmp/collector-bench-XXXXXX";
    if (keep.empty() && mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = keep.empty() ? fs::path(pattern) : fs::path(keep);
    const bool generated = !keep.empty() && fs::exists(work / "realistic");
    // Archives of an earlier run with --keep.
    for (const auto& e : fs::directory_iterator(fs::exists(work) ? work : fs::path("/")))
        if (fs::exists(work) &&
            (e.path().filename().string().starts_with("ours-") || e.path().filename().string().starts_with("zip-")))
            fs::remove_all(e.path());
    // Each tree lies where an item of the tool looks: the system logs, a home folder.
    const fs::path realistic = work / "realistic";
    const fs::path hostile = work / "hostile";
    const fs::path tree = realistic / "var/log/bench";
    fs::create_directories(tree);

    if (!generated) {
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
            // Rotated logs, and data deflate cannot shrink under names that do not say so.
            fs::create_directories(tree / "rotated");
            fs::create_directories(tree / "data");
            for (int i = 0; i < small / 25; ++i) {
                writeGzip(tree / "rotated" / numbered("syslog.", static_cast<std::uint64_t>(i)) += ".gz", 40000, text);
                writeRandom(tree / "data" / numbered("blob", static_cast<std::uint64_t>(i)), 8192,
                            static_cast<std::uint64_t>(i) + 1);
            }
            writeGzip(tree / "rotated/big.gz", largeMiB << 19, text);
            writeRandom(tree / "data/store.db", largeMiB << 19, 7);
            hostileTree(hostile / "home/mallory", sparseGiB);
        });
    }

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<unsigned> jobs{1, 2};
    if (cores > 2)
        jobs.push_back(cores);
    const std::vector<Run> realisticRuns = measureTree("realistic", work, realistic, tool, jobs);
    const std::vector<Run> hostileRuns = measureTree("hostile", work, hostile, tool, {0});

    std::printf("\n| tree | program | wall s | peak RSS MiB | archive MB | entries | status |\n"
                "|---|---|---|---|---|---|---|\n");
    printRuns("realistic", realisticRuns);
    printRuns("hostile", hostileRuns);
    const Run& zip = realisticRuns.front();
    const Run& one = realisticRuns[1];
    const Run& all = realisticRuns.back();
    std::printf("\nrealistic, %u cores: time tarnhollow / zip %.3f (target at most 0.5), size %.3f (target at most "
                "1.05), peak RSS %.1f MiB (target at most 64)\n",
                cores, all.result.seconds / zip.result.seconds, static_cast<double>(all.bytes) / zip.bytes,
                all.result.peakKiB / 1024.0);
    for (std::size_t i = 1; i < realisticRuns.size(); ++i)
        std::printf("  %s: %.2fx the speed of one core, %.3f of zip's time\n", realisticRuns[i].label.c_str(),
                    one.result.seconds / realisticRuns[i].result.seconds,
                    realisticRuns[i].result.seconds / zip.result.seconds);
    std::printf("hostile: tarnhollow %.1f s (target at most 60), peak RSS %.1f MiB (target at most 64)\n",
                hostileRuns[1].result.seconds, hostileRuns[1].result.peakKiB / 1024.0);

    // The chain of long names is longer than any path remove_all could name;
    // rm walks it by descriptor.
    if (keep.empty())
        measure({"rm", "-rf", work.string()}, "/");
    bool ok = hostileRuns[1].result.status == 0;
    for (std::size_t i = 1; i < realisticRuns.size(); ++i)
        ok = ok && realisticRuns[i].result.status == 0;
    return ok ? 0 : 1;
}

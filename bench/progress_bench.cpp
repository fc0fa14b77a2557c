// What polling the progress file costs, against what a user would pick as
// the least any reader must do: read() of the file into a buffer that
// already exists. Generates its files in a fresh folder under /tmp, removes
// them at the end, and prints one table.
#include "collect/LastLine.h"
#include "collect/ProgressLine.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <time.h>
#include <unistd.h>

using namespace tarnhollow;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;
constexpr int rounds = 7;

// CPU time of this thread, system time included: the machine may be busy
// with other work, and nothing measured here waits for the disk.
double seconds(const std::function<void()>& work)
{
    timespec begin{}, end{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
    work();
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    return static_cast<double>(end.tv_sec - begin.tv_sec) + static_cast<double>(end.tv_nsec - begin.tv_nsec) * 1e-9;
}

// The baseline: open, read() `count` bytes from `offset` into a buffer
// that exists and is paged in already, close.
class BareRead {
public:
    explicit BareRead(std::size_t capacity)
        : buffer_(capacity)
    {
    }
    void operator()(const fs::path& file, std::size_t offset, std::size_t count)
    {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0)
            std::abort();
        for (std::size_t done = 0; done < count;) {
            const ssize_t got = ::read(fd, buffer_.data() + done, count - done);
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        ::close(fd);
    }

private:
    std::vector<char> buffer_;
};

void append(const fs::path& file, std::string_view bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::app) << bytes;
}

// Output as the collector writes it: lines of 40 to 120 bytes, some of them
// Japanese, and a progress line every 20 lines.
std::string realisticOutput(std::size_t size, std::size_t& item)
{
    static std::mt19937 random(7);
    auto below = [](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const char* words[] = {"copied",  "/private/var/log/system.log", "bytes",   "ok",       "sha256", "3f2a9c",
                           "entries", "/Library/Preferences",        "skipped", "warning:", "plist",  "done"};
    const char* japanese[] = {"ファイルを収集しました", "完了", "ログを読み込めません", "権限がありません"};
    std::string out;
    out.reserve(size + 200);
    for (std::size_t line = 0; out.size() < size; ++line) {
        const std::size_t start = out.size(), target = 40 + below(81);
        if (line % 20 == 0) {
            ++item;
            out += "Collecting item " + std::to_string(item) + " (" + std::to_string(item) + "/999999)";
        } else {
            out += "[" + std::to_string(line) + "]";
            if (below(4) == 0)
                out += std::string(" ") + japanese[below(std::size(japanese))];
            while (out.size() - start < target)
                out += std::string(" ") + words[below(std::size(words))];
        }
        out += '\n';
    }
    return out;
}

// One long line full of "Collecting " and no count.
std::string decoys(std::size_t size)
{
    std::string out;
    for (std::size_t i = 0; out.size() < size; ++i)
        out += "Collecting item-" + std::to_string(i) + " (pending) ";
    out.resize(size);
    return out;
}

struct Controller {
    testing::RecordingPlatform fake;
    Platform platform = fake.platform();
    std::shared_ptr<AppDelegate> controller = AppDelegate::create(platform);
    AppDelegateProbe probe{*controller};
    explicit Controller(const fs::path& file) { probe.progressURL() = file; }
    void poll()
    {
        probe.poll();
        fake.log.clear();
    }
    std::size_t memory() { return probe.progressReader().bufferCapacity(); }
};

// `limit`: the most the ratio may be, or 0 for none.
void row(const char* name, double ours, const char* baseline, double read, double limit)
{
    const double ratio = ours / read;
    std::printf("%-46s %10.3f ms  %-26s %9.3f ms  %8.4fx", name, ours * 1e3, baseline, read * 1e3, ratio);
    if (limit > 0)
        std::printf("  (at most %gx) %s", limit, ratio <= limit ? "ok" : "OVER");
    std::printf("\n");
}

} // namespace

int main()
{
    char pattern[] = "/tmp/tarnhollow-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const fs::path folder = pattern;
    BareRead bareRead(111 * MiB);

    std::printf("thread CPU time, best of %d rounds side by side; the baseline is read() into a buffer that exists\n",
                rounds);
    std::printf("%-46s %13s  %-26s %12s  %9s\n", "case", "poll", "baseline", "", "ratio");

    // 100 MiB of realistic output.
    const fs::path realistic = folder / "realistic.out";
    std::size_t item = 0;
    std::ofstream(realistic, std::ios::binary) << realisticOutput(100 * MiB, item);
    const std::size_t size = fs::file_size(realistic);
    bareRead(realistic, 0, size); // into the page cache

    double cold = 1e9, readAll = 1e9;
    std::string headline;
    for (int round = 0; round < rounds; ++round) {
        readAll = std::min(readAll, seconds([&] { bareRead(realistic, 0, size); }));
        Controller c(realistic);
        cold = std::min(cold, seconds([&] { c.poll(); }));
        headline = c.fake.status.text;
    }

    Controller warm(realistic);
    warm.poll();
    constexpr int unchangedPolls = 1000;
    double unchanged = 1e9;
    for (int round = 0; round < rounds; ++round)
        unchanged = std::min(unchanged, seconds([&] {
                                            for (int i = 0; i < unchangedPolls; ++i)
                                                warm.poll();
                                        }) / unchangedPolls);

    double appended = 1e9, readAppended = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const std::size_t before = fs::file_size(realistic);
        append(realistic, realisticOutput(MiB, item));
        const std::size_t added = fs::file_size(realistic) - before;
        appended = std::min(appended, seconds([&] { warm.poll(); }));
        readAppended = std::min(readAppended, seconds([&] { bareRead(realistic, before, added); }));
    }

    double lastLine = 1e9;
    std::string kept;
    for (int round = 0; round < rounds; ++round)
        lastLine = std::min(lastLine, seconds([&] {
                                warm.poll();
                                kept = lines::lastNonEmptyLineOf(*warm.fake.openRegularFile(realistic));
                            }));

    row("poll, unchanged 100 MiB file", unchanged, "read() of the 100 MiB", readAll, 0.01);
    row("poll after 1 MiB appended to 100 MiB", appended, "read() of the 1 MiB", readAppended, 2);

    // A 10 MiB line that grows by 64 KiB between polls.
    const fs::path longLine = folder / "long-line.out";
    const std::string growth = decoys(64 * KiB);
    std::ofstream(longLine, std::ios::binary) << decoys(10 * MiB);
    Controller growing(longLine);
    growing.poll();
    constexpr int growthPolls = 16;
    double perGrowth = 1e9, readLine = 1e9;
    for (int round = 0; round < rounds; ++round) {
        double total = 0;
        for (int i = 0; i < growthPolls; ++i) {
            append(longLine, growth);
            total += seconds([&] { growing.poll(); });
        }
        perGrowth = std::min(perGrowth, total / growthPolls);
        const std::size_t lineSize = fs::file_size(longLine);
        readLine = std::min(readLine, seconds([&] { bareRead(longLine, 0, lineSize); }));
    }
    row("poll, 10 MiB+ line growing 64 KiB per poll", perGrowth, "read() of the whole line", readLine, 3);
    row("first poll of 100 MiB", cold, "read() of the 100 MiB", readAll, 2);
    row("poll and whole-file last line at the end, 100 MiB", lastLine, "read() of the 100 MiB", readAll, 3);

    std::printf("\n%-46s %13s  %s\n", "reader's memory", "buffer", "limit: longest unfinished line + 1 MiB");
    std::printf("%-46s %9.3f MiB  %.3f MiB\n", "realistic output, 100 MiB and more", warm.memory() / double(MiB),
                (200 + MiB) / double(MiB));
    const std::size_t lineSize = fs::file_size(longLine);
    std::printf("%-46s %9.3f MiB  %.3f MiB\n", "one line growing to more than 10 MiB", growing.memory() / double(MiB),
                (lineSize + MiB) / double(MiB));

    // The answers themselves, against the regular-expression engine's full
    // search of the whole file.
    std::ifstream in(realistic, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto all = warm.fake.text().compile(progress::pattern)->matches(whole);
    const bool same = !all.empty() && warm.fake.detail.text == all.back().groups[0];
    std::printf("\nheadline after the first poll: %s; detail now: %s; same as the engine's full search: %s\n",
                headline.c_str(), warm.fake.detail.text.c_str(), same ? "yes" : "NO");
    std::printf("last line kept at the end: %s\n", kept.c_str());

    fs::remove_all(folder);
    return 0;
}

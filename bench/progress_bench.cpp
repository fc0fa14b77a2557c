// How polling and the end of a run scale with the collector's output.
// Generates its files in a fresh folder under /tmp, removes them at the end,
// and prints, per case, our time against a bare read() of the same file
// and the engine's full left-to-right search against ours.
#include "collect/LastLine.h"
#include "collect/ProgressLine.h"
#include "collect/Utf8.h"
#include "platform/icu/IcuTextServices.h"
#include "platform/posix/PosixFileSystem.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <new>
#include <unicode/uclean.h>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using namespace tarnhollow;
namespace fs = std::filesystem;

// Every heap byte of the process is counted: ours through operator new,
// the engine's through its own allocation hooks, both on malloc.
namespace counting {
std::size_t current = 0;
std::size_t peak = 0;
void* take(void* block)
{
    if (block) {
        current += malloc_usable_size(block);
        peak = std::max(peak, current);
    }
    return block;
}
void give(void* block)
{
    if (block)
        current -= malloc_usable_size(block);
}
void* engineAlloc(const void*, size_t size) { return take(std::malloc(size)); }
void* engineRealloc(const void*, void* block, size_t size)
{
    give(block);
    return take(std::realloc(block, size));
}
void engineFree(const void*, void* block)
{
    give(block);
    std::free(block);
}
} // namespace counting

void* operator new(std::size_t size)
{
    if (void* block = counting::take(std::malloc(size ? size : 1)))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    counting::give(block);
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace {

constexpr std::size_t MiB = 1024 * 1024;
constexpr int rounds = 5;

// CPU time of this thread: the machine may be busy with other work, and
// nothing measured here waits for anything but memory and the page cache.
double seconds(const std::function<void()>& work)
{
    timespec begin{}, end{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
    work();
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    return static_cast<double>(end.tv_sec - begin.tv_sec) + static_cast<double>(end.tv_nsec - begin.tv_nsec) * 1e-9;
}

// The least a poll must do: get the whole file into fresh memory.
std::size_t bareRead(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        std::abort();
    struct stat info {};
    ::fstat(fd, &info);
    const auto size = static_cast<std::size_t>(info.st_size);
    char* buffer = static_cast<char*>(std::malloc(size + 1));
    std::size_t used = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer + used, size + 1 - used);
        if (got <= 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    // Touch the result so that the read cannot be dropped.
    volatile char sink = used ? buffer[used - 1] : 0;
    (void)sink;
    std::free(buffer);
    return used;
}

// Alternating rounds of the two, the best of each.
std::pair<double, double> sideBySide(const std::function<void()>& ours, const fs::path& file)
{
    double best = 1e9, bestRead = 1e9;
    for (int round = 0; round < rounds; ++round) {
        bestRead = std::min(bestRead, seconds([&] { bareRead(file); }));
        best = std::min(best, seconds(ours));
    }
    return {best, bestRead};
}

// The most heap memory that `work` holds at once beyond what was held before.
long peakExtraBytes(const std::function<void()>& work)
{
    const std::size_t before = counting::current;
    counting::peak = before;
    work();
    return static_cast<long>(counting::peak - before);
}

void writeFile(const fs::path& file, const std::string& content)
{
    std::ofstream(file, std::ios::binary) << content;
}

// Output as the collector writes it: lines of 40 to 120 bytes, some of them
// Japanese, and a progress line every 20 lines.
std::string realisticOutput(std::size_t size, bool withProgress)
{
    std::mt19937 random(7);
    auto below = [&random](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const char* words[] = {"copied", "/private/var/log/system.log", "bytes", "ok", "sha256", "3f2a9c", "entries",
                           "/Library/Preferences", "skipped", "warning:", "plist", "done"};
    const char* japanese[] = {"ファイルを収集しました", "完了", "ログを読み込めません", "権限がありません"};
    const char* decoys[] = {"Collecting artifacts (pending)", "Collecting unified logs (1 of 3)",
                            "Collecting browser history (3/", "collecting keychains (2/9)",
                            "Collecting\u3000spotlight (5/9)", "Collecting  (4/9)"};
    std::string out;
    out.reserve(size + 200);
    std::size_t line = 0, item = 0;
    while (out.size() < size) {
        const std::size_t target = 40 + below(81);
        const std::size_t start = out.size();
        if (line % 20 == 0) {
            if (withProgress)
            {
                ++item;
                out += "Collecting item " + std::to_string(item) + " (" + std::to_string(item) + "/999999)";
            }
            else
                out += decoys[below(std::size(decoys))];
        } else {
            out += "[" + std::to_string(line) + "]";
            if (below(4) == 0) {
                out += ' ';
                out += japanese[below(std::size(japanese))];
            }
            while (out.size() - start < target) {
                out += ' ';
                out += words[below(std::size(words))];
            }
        }
        out += '\n';
        ++line;
    }
    return out;
}

std::string decoyLine(std::size_t size, std::size_t collectings)
{
    std::string out;
    out.reserve(size);
    const std::size_t each = size / collectings;
    for (std::size_t i = 0; i < collectings; ++i) {
        const std::size_t start = out.size();
        out += "Collecting item-" + std::to_string(i) + " (pending) ";
        out.append(each - std::min(each, out.size() - start), 'x');
    }
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
};

std::optional<RegularExpression::Match> fullSearch(const RegularExpression& expression, std::string_view text)
{
    auto all = expression.matches(text);
    if (all.empty())
        return std::nullopt;
    return all.back();
}

// A poll that leaves the whole search to the engine.
std::optional<RegularExpression::Match> enginePoll(const RegularExpression& expression, PosixFileSystem& files,
                                                   const fs::path& file)
{
    const auto content = files.readWholeFile(file);
    if (!content || !utf8::isValid(*content))
        return std::nullopt;
    return fullSearch(expression, *content);
}

bool same(const std::optional<RegularExpression::Match>& a, const std::optional<RegularExpression::Match>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->begin == b->begin && a->end == b->end && a->groups == b->groups);
}

void row(const char* name, double ours, double read, const std::string& engine, const char* limit)
{
    std::printf("%-44s %9.1f ms %9.1f ms %7.2fx  (limit %s)  %s\n", name, ours * 1e3, read * 1e3, ours / read,
                limit, engine.c_str());
}

} // namespace

int main()
{
    UErrorCode error = U_ZERO_ERROR;
    u_setMemoryFunctions(nullptr, counting::engineAlloc, counting::engineRealloc, counting::engineFree, &error);
    if (U_FAILURE(error))
        return 1;
    char pattern[] = "/tmp/tarnhollow-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const fs::path folder = pattern;
    IcuTextServices services;
    const auto expression = services.compile(progress::pattern);
    PosixFileSystem files;

    std::printf("thread CPU time, best of %d rounds, alternating with the bare read\n", rounds);
    std::printf("%-44s %12s %12s %8s\n", "case", "ours", "bare read", "ratio");

    // A poll of a whole file, against a bare read and against an engine
    // that searches the whole text.
    auto pollCase = [&](const char* name, const fs::path& file, const std::string& text, const char* limit) {
        writeFile(file, text);
        Controller c(file);
        auto [ours, read] = sideBySide([&] { c.poll(); }, file);
        std::optional<RegularExpression::Match> full;
        const double engine = seconds([&] { full = enginePoll(*expression, files, file); });
        const bool agree = same(full, progress::lastMatch(text, services));
        char note[160];
        std::snprintf(note, sizeof note, "read, check and full engine search %.0f ms = %.1fx ours, same match: %s",
                      engine * 1e3, engine / ours, agree ? "yes" : "NO");
        row(name, ours, read, note, limit);
        std::printf("    headline after the poll: %s\n", c.fake.status.text.c_str());
    };

    // 1. Realistic output.
    const fs::path realistic = folder / "realistic.out";
    pollCase("poll, realistic output, 100 MiB", realistic, realisticOutput(100 * MiB, true), "2x");

    // 2. No progress line at all, with look-alikes.
    const fs::path decoys = folder / "decoys.out";
    pollCase("poll, 100 MiB without a progress line", decoys, realisticOutput(100 * MiB, false), "2.5x");

    // 3. One long line full of "Collecting " and no count. The engine's
    // full search is quadratic here, so it only gets a prefix.
    const fs::path longLine = folder / "long-line.out";
    {
        const std::string text = decoyLine(10 * MiB, 100'000);
        writeFile(longLine, text);
        Controller c(longLine);
        auto [ours, read] = sideBySide([&] { c.poll(); }, longLine);
        const std::size_t prefix = 128 * 1024;
        std::optional<RegularExpression::Match> full;
        const double engine = seconds([&] { full = fullSearch(*expression, std::string_view(text).substr(0, prefix)); });
        const double scale = static_cast<double>(text.size()) / prefix;
        const bool agree = same(full, progress::lastMatch(std::string_view(text).substr(0, prefix), services));
        char note[240];
        std::snprintf(note, sizeof note,
                      "engine capped at a 128 KiB prefix: %.0f ms = %.0fx ours on the whole line (whole line "
                      "by the quadratic estimate: ~%.0f s), same match on the prefix: %s",
                      engine * 1e3, engine / ours, engine * scale * scale, agree ? "yes" : "NO");
        row("poll, one 10 MiB line, 100,000 Collecting", ours, read, note, "3x");
        // Where the time goes: reading through the file system seam, the
        // UTF-8 check, and the search.
        double reading = 1e9, checking = 1e9, searching = 1e9;
        for (int round = 0; round < rounds; ++round) {
            std::optional<FileContents> content;
            reading = std::min(reading, seconds([&] { content = files.readWholeFile(longLine); }));
            checking = std::min(checking, seconds([&] { utf8::isValid(*content); }));
            searching = std::min(searching, seconds([&] { progress::lastMatch(*content, services); }));
        }
        std::printf("    of which: readWholeFile %.1f ms, UTF-8 check %.1f ms, search %.1f ms\n", reading * 1e3,
                    checking * 1e3, searching * 1e3);
    }

    // 4. The last non-empty line that the end of a run keeps.
    {
        std::string kept;
        auto lastLine = [&] {
            auto content = files.readWholeFile(realistic);
            if (content && utf8::isValid(*content))
                kept = lines::lastNonEmptyLine(*content);
        };
        auto [ours, read] = sideBySide(lastLine, realistic);
        row("last non-empty line at the end, 100 MiB", ours, read, "", "2x");
    }

    // 5. Memory: the most heap one poll holds at once.
    std::printf("\n%-44s %12s %12s %14s\n", "extra memory of one poll", "peak extra", "file size", "extra - size");
    for (const fs::path& file : {realistic, decoys, longLine}) {
        Controller c(file);
        c.poll(); // the expression is compiled and the first allocations settled
        const long extra = peakExtraBytes([&] { c.poll(); });
        const auto size = static_cast<long>(fs::file_size(file));
        std::printf("%-44s %9.2f MiB %9.2f MiB %11.3f MiB  (limit 1 MiB)\n", file.filename().c_str(),
                    extra / double(MiB), size / double(MiB), (extra - size) / double(MiB));
    }

    fs::remove_all(folder);
    return 0;
}

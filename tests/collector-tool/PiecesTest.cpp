// The collector's small parts on their own: number parsing, the timeline's
// mode text, the zip's end records, the problem count, the scratch file
// across a failed write, and pattern expansion over a tree.
#include "collector-tool/RunLog.h"
#include "collector-tool/Sources.h"
#include "collector-tool/Text.h"
#include "collector-tool/Timeline.h"
#include "collector-tool/ZipRecords.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

namespace tarnhollow::tool {
namespace {

TEST(Pieces, ParseDecimalIsStrictAndBounded)
{
    // The bound is 1000 for numbers starting "10", else the largest there is.
    const auto parse = [](std::string_view text, std::uint64_t& value) {
        return parseDecimal(text, text.starts_with("10") ? 1000 : UINT64_MAX, value);
    };
    std::uint64_t value = 0;
    for (const char* text : {"0", "1000", "18446744073709551615"})
        EXPECT_TRUE(parse(text, value) && std::to_string(value) == text) << text;
    for (const char* text : {"", "+1", "1a", "/", ":", "1001", "18446744073709551616", "000000000000000000001"})
        EXPECT_FALSE(parse(text, value)) << text;
}

TEST(Pieces, TimelineModesAndLinks)
{
    const std::pair<unsigned, const char*> cases[] = {
        {S_IFREG | 0644, "r/rrw-r--r--"},  {S_IFREG | 04755, "r/rrwsr-xr-x"}, {S_IFREG | 04644, "r/rrwSr--r--"},
        {S_IFDIR | 02750, "d/drwxr-s---"}, {S_IFDIR | 02740, "d/drwxr-S---"}, {S_IFDIR | 01777, "d/drwxrwxrwt"},
        {S_IFDIR | 01776, "d/drwxrwxrwT"}, {S_IFLNK | 0777, "l/lrwxrwxrwx"},  {S_IFIFO | 0600, "p/prw-------"},
        {S_IFSOCK | 0, "s/s---------"},    {S_IFCHR | 0, "c/c---------"},     {S_IFBLK | 0, "b/b---------"}};
    for (const auto& [mode, text] : cases)
        EXPECT_EQ(bodyMode(mode), text);
    Node link;
    link.mode = S_IFLNK | 0777;
    link.linkTarget = "/etc/a|b";
    link.birthtime.tv_sec = 9;
    EXPECT_EQ(bodyLine(link, "/x"), "0|/x -> /etc/a%7Cb|0|l/lrwxrwxrwx|0|0|0|0|0|0|0\n");
    link.hasBirthtime = true;
    link.mode = S_IFREG | 0600;
    EXPECT_EQ(bodyLine(link, "/x"), "0|/x|0|r/rrw-------|0|0|0|0|0|0|9\n");
}

TEST(Pieces, ZipRecordsTurnToZip64AtTheirLimits)
{
    using zip::kMax32;
    EXPECT_EQ(zip::endRecords(0xFFFE, kMax32 - 1, kMax32 - 1).size(), 22u);
    for (const auto& [entries, start, size] :
         {std::tuple{0xFFFFull, 0ull, 0ull}, {1ull, kMax32 + 0ull, 0ull}, {1ull, 0ull, kMax32 + 0ull}})
        EXPECT_EQ(zip::endRecords(entries, start, size).size(), 98u);
    zip::EntryFacts e;
    const std::size_t plain = zip::centralRecord(e).size();
    e.size = e.compressedSize = e.headerOffset = kMax32 - 1;
    EXPECT_EQ(zip::centralRecord(e).size(), plain);
    e.size = kMax32;
    EXPECT_EQ(zip::centralRecord(e).size(), plain + 12);
    e.compressedSize = e.headerOffset = kMax32;
    EXPECT_EQ(zip::centralRecord(e).size(), plain + 28);
    EXPECT_EQ(zip::extractedMode(S_IFREG | 06755, false), S_IFREG | 0755u);
    EXPECT_EQ(zip::extractedMode(S_IFLNK | 0200, false), S_IFREG | 0600u);
    EXPECT_EQ(zip::extractedMode(S_IFDIR | 01000, true), S_IFDIR | 0700u);
}

TEST(Pieces, ProblemsPrintedUpToALimitAndAllCounted)
{
    RunLog log;
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 52; ++i)
        log.problem("/p(" + std::to_string(i) + ")", i % 2 == 0);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.problems(), 52u);
    EXPECT_NE(printed.find("Not collected: /p%2849)\nFurther problems are listed in collection.log only\n"),
              std::string::npos);
    EXPECT_EQ(printed.find("/p%2850)"), std::string::npos);
}

TEST(Pieces, ScratchFileKeepsWhatAFailedWriteHeld)
{
    ScratchFile file;
    ASSERT_EQ(ScratchFile::create(AT_FDCWD, file), 0); // nameless, in the working folder
    // A file-size limit makes the flush fail like a full disk would.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_IGN); // a failed write, not the end of the test program
    const rlimit small{4096, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string chunk(300 << 10, 'x'); // more than the buffer holds
    EXPECT_TRUE(!file.append(chunk) && file.error() != 0 && !file.append("y") && !file.rewind());
    ::setrlimit(RLIMIT_FSIZE, &old);
    file.clearError();
    ASSERT_TRUE(file.append("z") && file.rewind());
    std::string back(file.size() + 10, '\0');
    ASSERT_EQ(file.read(back.data(), back.size()), static_cast<long>(chunk.size() + 2));
    EXPECT_EQ(back.substr(0, chunk.size() + 2), chunk + "yz");
    ScratchFile moved;
    moved = std::move(file);
    EXPECT_TRUE(moved.valid() && !file.valid() && moved.size() == chunk.size() + 2);
}

TEST(Pieces, PatternsExpandAlternativesWildcardsAndDepth)
{
    testing::ScratchFolder work;
    for (const char* name : {"a/x/1.log", "a/x/d/2.log", "a/y/3.log", "a/y/.h.log", "a/z/4.log", "a/x/5.txt"}) {
        std::filesystem::create_directories((work / name).parent_path());
        std::ofstream(work / name) << "t";
    }
    SourceTree tree;
    std::string error;
    ASSERT_TRUE(tree.open(work.path(), error));
    // Pattern, depth below a matched folder, walk limits (levels, path bytes, name bytes): paths and cuts.
    const std::tuple<const char*, int, WalkLimits, const char*> cases[] = {
        {"/a/{x,y}/*.log", 0, {}, "/a/x/1.log /a/y/3.log"},
        {"/a/x", -1, {}, "/a/x"},
        {"/a/x", 1, {}, "/a/x /a/x/1.log /a/x/5.txt /a/x/d"},
        {"/a/?/d", 0, {}, "/a/x/d /a/x/d/2.log"},
        {"/a/[xz]", 5, {}, "/a/x /a/x/1.log /a/x/5.txt /a/x/d /a/x/d/2.log /a/z /a/z/4.log"},
        {"/a/w/*", 0, {}, ""},
        {"/a", 0, {1, 4096, 1 << 20}, "/a cut:/a/x /a/x cut:/a/y /a/y cut:/a/z /a/z"},
        {"/a/x", 0, {32, 9, 1 << 20}, "/a/x cut:/a/x/1.lo… cut:/a/x/5.tx… /a/x/d cut:/a/x/d/2.…"},
        {"/a/x", 0, {32, 4096, 40}, "/a/x cut:/a/x /a/x/1.log"}};
    for (const auto& [pattern, depth, limits, expected] : cases) {
        std::string seen;
        const auto add = [&](const std::string& text) { seen += (seen.empty() ? "" : " ") + text; };
        tree.expand(
            pattern, depth, limits, [&](Node& node) { return add(node.path), true; },
            [](const std::string&, const std::string&) {}, [&](const std::string& path, auto&) { add("cut:" + path); });
        EXPECT_EQ(seen, expected) << pattern;
    }
}

} // namespace
} // namespace tarnhollow::tool

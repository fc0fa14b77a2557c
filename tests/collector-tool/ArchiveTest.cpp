// The zip writer's output, read by other programs: entries that may pass
// 4 GiB carry their sizes in the local header's zip64 field, where a reader
// from a pipe looks for them; content deflated in blocks on many workers is
// the same archive, byte for byte, as on one.
#include "collector-tool/Archive.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace tarnhollow::tool {
namespace {

std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            text += static_cast<char>(c);
        ::pclose(pipe);
    }
    return text;
}

// An empty archive file in work and the scratch file for its directory.
int createArchive(const testing::ScratchFolder& work, const std::string& name, ScratchFile& directory)
{
    const int folder = ::open(work.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(ScratchFile::create(folder, directory), 0);
    ::close(folder);
    return ::open((work / name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

TEST(ArchiveTest, EntriesBoundAboveFourGibibytesReadFromAPipe)
{
    testing::ScratchFolder work;
    const std::string path = work / "a.zip";
    ScratchFile directory;
    const int fd = createArchive(work, "a.zip", directory);
    {
        Archive archive(fd, std::move(directory));
        for (const bool deflated : {true, false}) {
            archive.begin(deflated ? "big-deflated" : "big-stored", {0, 0100644, deflated, 5ull << 30});
            archive.write("hello", 5);
            archive.writeZeros(1 << 20);
            ASSERT_TRUE(archive.end());
        }
        ASSERT_TRUE(archive.close());
    }
    ::close(fd);
    for (const char* name : {"big-deflated", "big-stored"}) {
        EXPECT_EQ(output("bsdtar -xOf - " + std::string(name) + " < '" + path + "' | head -c 5"), "hello");
        EXPECT_EQ(output("unzip -p '" + path + "' " + name + " | wc -c"), "1048581\n");
    }
}

std::string logText(std::size_t bytes)
{
    std::string text;
    for (unsigned i = 0; text.size() < bytes; i = i * 1103515245u + 12345u)
        text += "Dec  6 08:00:" + std::to_string(i % 60) + " host sshd[" + std::to_string(i % 4099) + "]: session " +
                (i % 3 ? "opened" : "closed") + " for user u" + std::to_string(i % 97) + "\n";
    text.resize(bytes);
    return text;
}

std::string randomBytes(std::size_t bytes)
{
    std::independent_bits_engine<std::mt19937, 8, unsigned> next(1);
    std::string data(bytes, '\0');
    std::generate(data.begin(), data.end(), [&] { return static_cast<char>(next()); });
    return data;
}

TEST(ArchiveTest, ManyWorkersWriteTheBytesOneWorkerWritesAndEveryReaderTakesThem)
{
    testing::ScratchFolder work;
    // Blocks of a long text refer back across their boundaries; compressed
    // and random data are stored; holes come between data.
    const std::string text = logText(kBlockSize * 3 + 1000);
    const std::string random = randomBytes(kBlockSize + 7);
    const std::string gzip = "\x1f\x8b\x08" + text.substr(0, 5000);
    for (const unsigned workers : {1u, 4u}) {
        DeflatePool pool(workers);
        ScratchFile directory;
        const std::string name = "w" + std::to_string(workers) + ".zip";
        const int fd = createArchive(work, name, directory);
        Archive archive(fd, std::move(directory), pool);
        for (const auto& [entry, data] : {std::pair{"text", text}, {"random", random}, {"gzip", gzip}, {"empty", ""}}) {
            archive.begin(entry, {0, 0100644, true, data.size()});
            const std::size_t step = workers == 1 ? 100000 : 77777; // writes that straddle blocks
            for (std::size_t at = 0; at < data.size(); at += step)
                archive.write(data.data() + at, std::min(step, data.size() - at));
            ASSERT_TRUE(archive.end()) << entry;
        }
        archive.begin("holes", {0, 0100644, true, 3u << 20});
        archive.write(text.data(), 5000);
        archive.writeZeros(1 << 20);
        archive.write(random.data(), kBlockSize + 1); // deflated: the entry was judged at its start
        archive.writeZeros(1 << 20);
        ASSERT_TRUE(archive.end());
        archive.begin("hole-first", {0, 0100644, true, 2u << 20}); // judged at its start too
        archive.writeZeros(1 << 20);
        ASSERT_TRUE(archive.write(random.data(), kBlockSize + 1) && archive.end() && archive.close());
        ::close(fd);
    }
    const auto bytes = [&](const char* name) {
        std::ifstream in(work / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes("w1.zip"), bytes("w4.zip"));
    const std::string path = work / "w4.zip";
    // zipinfo's method column, on the line of each entry.
    for (const auto& [entry, method] :
         {std::pair{"text", "defN"}, {"random", "stor"}, {"gzip", "stor"}, {"holes", "defN"}})
        EXPECT_EQ(output("zipinfo '" + path + "' " + entry + " | awk '{print $6}'"), method + std::string("\n"))
            << entry;
    // Every entry's CRC is of what was written: the contents read back whole.
    EXPECT_EQ(output("unzip -tq '" + path + "' >/dev/null && bsdtar -xOf - < '" + path + "' | wc -c"),
              std::to_string(text.size() + random.size() * 3 - 12 + gzip.size() + 5000 + (3u << 20)) + "\n");
}

// Calls out of turn change nothing; past the size limit the entry fails
// with EFBIG and a rollback leaves the archive closable after the last
// complete entry; other failures stick.
TEST(ArchiveTest, CallsOutOfTurnAndFailuresLeaveTheCompleteEntries)
{
    testing::ScratchFolder work;
    ScratchFile directory;
    const int fd = createArchive(work, "a.zip", directory);
    Archive archive(fd, std::move(directory));
    auto ahead = std::make_shared<Block>();
    ahead->input.assign(3000, 'a');
    ahead->mayStore = ahead->hashInput = true;
    deflateBlock(*ahead);
    EXPECT_FALSE(archive.write("x", 1) || archive.writeZeros(1 << 20) || archive.writeBlock(*ahead) || archive.end());
    ASSERT_TRUE(archive.begin("a", {0, 0100644, true, 5}));
    EXPECT_FALSE(archive.begin("b", {0, 0100644, true, 5}) || archive.close());
    EXPECT_TRUE(archive.write("hello", 5));
    EXPECT_FALSE(archive.writeBlock(*ahead)); // the content is under way already
    ASSERT_TRUE(archive.end());
    ASSERT_TRUE(archive.begin("ahead", {0, 0100644, !ahead->stored, 3000}) && archive.writeBlock(*ahead));
    ASSERT_TRUE(archive.end());
    archive.setLimit(archive.bytesWritten() + 500);
    ASSERT_TRUE(archive.begin("too-big", {0, 0100644, false, 1000}));
    EXPECT_FALSE(archive.write(std::string(1000, 'x').data(), 1000) || archive.begin("c", {}) || archive.close());
    EXPECT_EQ(archive.error(), EFBIG);
    ASSERT_TRUE(archive.rollback());
    EXPECT_EQ(archive.entries(), 2u);
    ASSERT_TRUE(archive.close());
    ::close(fd);
    const std::string path = work / "a.zip";
    EXPECT_EQ(output("unzip -Z1 '" + path + "'"), "a\nahead\n");
    EXPECT_EQ(output("unzip -p '" + path + "' ahead"), std::string(3000, 'a'));
    EXPECT_EQ(output("sha256sum < '" + path + "'"), archive.sha256() + "  -\n");
    EXPECT_EQ(ahead->sha256, "556ac82f23f64d2f41b3fb3b9a171791364021aa95c0af6df9e2b5e1d88c8038");
    archive.fail(EIO);
    EXPECT_FALSE(archive.rollback() || archive.begin("d", {}));
}

// Compressed formats by their first bytes; other data by how random it is
// and whether it repeats; too little to judge is deflated and judged after.
TEST(ArchiveTest, WhatLooksCompressed)
{
    const std::string random = randomBytes(20000);
    std::string repeats; // random, yet deflate finds it again and again
    for (int i = 0; i < 5; ++i)
        repeats += random.substr(0, 4096);
    const std::pair<std::string, bool> cases[] = {
        {"\x1f\x8b\x08" + logText(9000), true}, {"\x89PNG\r\n" + logText(100), true},
        {"....ftypheic" + logText(100), true},  {random, true},
        {random.substr(0, 4000), false},        {logText(20000), false},
        {std::string(20000, '\0'), false},      {repeats, false}};
    for (const auto& [data, compressed] : cases)
        EXPECT_EQ(looksCompressed(reinterpret_cast<const unsigned char*>(data.data()), data.size()), compressed)
            << data.substr(0, 12);
}

} // namespace
} // namespace tarnhollow::tool

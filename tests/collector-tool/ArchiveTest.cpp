// The zip writer's output, read by other programs: entries that may pass
// 4 GiB carry their sizes in the local header's zip64 field, where a reader
// from a pipe looks for them; content deflated in blocks on many workers is
// the same archive, byte for byte, as on one.
#include "collector-tool/Archive.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

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
    std::string data(bytes, '\0');
    std::uint64_t x = 88172645463325252ull;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 56);
    }
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
            for (std::size_t at = 0; at < data.size(); at += 100000) // writes that straddle blocks
                archive.write(data.data() + at, std::min<std::size_t>(100000, data.size() - at));
            ASSERT_TRUE(archive.end()) << entry;
        }
        archive.begin("holes", {0, 0100644, true, 3u << 20});
        archive.write(text.data(), 5000);
        archive.writeZeros(1 << 20);
        archive.write(text.data(), kBlockSize + 1);
        archive.writeZeros(1 << 20);
        ASSERT_TRUE(archive.end());
        ASSERT_TRUE(archive.close());
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
    EXPECT_EQ(output("unzip -p '" + path + "' text"), text);
    EXPECT_EQ(output("unzip -p '" + path + "' random"), random);
    const std::string holes =
        text.substr(0, 5000) + std::string(1 << 20, '\0') + text.substr(0, kBlockSize + 1) + std::string(1 << 20, '\0');
    EXPECT_EQ(output("unzip -p '" + path + "' holes"), holes);
    EXPECT_EQ(output("unzip -tq '" + path + "' >/dev/null && bsdtar -xOf - < '" + path + "' | wc -c"),
              std::to_string(text.size() + random.size() + gzip.size() + holes.size()) + "\n");
}

} // namespace
} // namespace tarnhollow::tool

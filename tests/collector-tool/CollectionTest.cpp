// A collection run in-process, where a test can step in between listing a
// file and opening it, and where live commands run against files of its own.
#include "collector-tool/Collection.h"
#include "collector-tool/OutputDirectory.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace tarnhollow::tool {
namespace {

namespace fs = std::filesystem;

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// The manifest's rows by path, each as its columns by name.
// What unzip prints for the one archive in out.
std::string unzip(const fs::path& out, const std::string& options)
{
    std::string zip;
    for (const auto& entry : fs::directory_iterator(out))
        if (entry.path().extension() == ".zip")
            zip = entry.path();
    std::string text;
    if (FILE* pipe =
            ::popen(("unzip " + options + " '" + zip + "'" + (options == "-p" ? " manifest.tsv" : "")).c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            text += static_cast<char>(c);
        ::pclose(pipe);
    }
    return text;
}

std::map<std::string, std::map<std::string, std::string>> manifestOf(const fs::path& out)
{
    std::istringstream lines(unzip(out, "-p"));
    std::vector<std::string> header;
    std::map<std::string, std::map<std::string, std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        if (header.empty())
            header = cells;
        else
            for (std::size_t i = 0; i < cells.size() && i < header.size(); ++i)
                rows[cells[0]][header[i]] = cells[i];
    }
    return rows;
}

Outcome collect(const std::string& root, const std::vector<Item>& items, const fs::path& out,
                const std::string& topNote = "")
{
    fs::create_directories(out);
    OutputDirectory folder;
    SourceTree tree;
    std::string error;
    EXPECT_EQ(folder.open(out), 0);
    EXPECT_TRUE(tree.open(root, error));
    RunInfo info;
    info.root = root;
    info.topNote = topNote;
    const struct timespec start {
    };
    ArchiveFiles files(folder, "test", Owner{}, tree, start);
    std::vector<std::string> notes;
    ScratchFile log;
    EXPECT_EQ(files.start(notes), 0);
    EXPECT_EQ(ScratchFile::create(folder.fd(), log), 0);
    Collection collection(tree, items, info, files, std::move(log));
    return collection.run();
}

TEST(CollectionTest, FileReplacedBetweenListingAndOpeningIsDescribedAsRead)
{
    testing::ScratchFolder work;
    put(work / "root/var/log/syslog", "old content\n");
    put(work / "rotated", "new content, written later\n");
    struct stat replacement {};
    ::stat((work / "rotated").c_str(), &replacement);
    put(work / "root/var/log/auth.log", "to become a folder\n");
    Collection::beforeOpen = [&](const std::string& path) {
        if (path == "/var/log/syslog")
            fs::rename(work / "rotated", work / "root/var/log/syslog");
        if (path == "/var/log/auth.log" && fs::remove(work / "root" / path.substr(1)))
            fs::create_directory(work / "root" / path.substr(1));
    };
    const Outcome outcome =
        collect(work / "root", {{"Logs", {"/var/log/syslog", "/var/log/auth.log"}}}, work / "out", "limited\n");
    Collection::beforeOpen = nullptr;
    ASSERT_EQ(outcome, Outcome::complete);
    auto rows = manifestOf(work / "out");
    EXPECT_EQ(rows["/var/log/auth.log"]["note"] + rows["/var/log/auth.log"]["entry"], "no longer a regular file-");
    auto row = rows["/var/log/syslog"];
    EXPECT_EQ(row["inode"], std::to_string(replacement.st_ino));
    EXPECT_EQ(row["size"], "27");
    EXPECT_EQ(row["note"].rfind("replaced while collected: listed as inode ", 0), 0u) << row["note"];
    EXPECT_EQ(unzip(work / "out", "-Z1").substr(0, 12), "LIMITED.txt\n"); // a run's note comes first
}

TEST(CollectionTest, AccessTimesAreThoseFromBeforeTheLiveCommandsRead)
{
    testing::ScratchFolder work;
    const fs::path wtmp = work / "wtmp";
    put(wtmp, "login records\n");
    const struct timespec times[2] = {{1000000000, 0}, {UTIME_OMIT, 0}}; // read long ago, changed since
    ASSERT_EQ(::utimensat(AT_FDCWD, wtmp.c_str(), times, 0), 0);
    std::vector<Item> items = {liveItem("Live: logins", {{"last", {"/bin/cat", wtmp}}}), {"Login records", {wtmp}}};
    ASSERT_EQ(collect("/", items, work / "out"), Outcome::complete);
    struct stat now {};
    ::stat(wtmp.c_str(), &now);
    if (now.st_atime == 1000000000)
        GTEST_SKIP() << "this file system does not record access times";
    EXPECT_EQ(manifestOf(work / "out")[wtmp]["atime"], "2001-09-09T01:46:40.000000000Z");
}

} // namespace
} // namespace tarnhollow::tool

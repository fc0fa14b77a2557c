// The collector command line, through a real /bin/sh, with hostile paths.
#include "collector/Contract.h"
#include "platform/posix/PosixFileSystem.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhollow {
namespace {

using namespace testing;

TEST(CommandLineTest, DataComesFirstQuotedAsPositionalParameters)
{
    const std::filesystem::path bundle = "/Users/analyst/Case's data/Kit.app";
    const std::string line = contract::collectorCommandLine(
        {501, 20, bundle / contract::collectorInBundle, "ab12", bundle.parent_path(),
         "/var/tmp/T/tarnhollow-Q1w2E3r4/tarnhollow-3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C.out"});
    EXPECT_EQ(line.rfind("set -- 'ab12' '/Users/analyst/Case'\\''s data/Kit.app/Contents/MacOS/tarnhollow' "
                         "'/Users/analyst/Case'\\''s data' '/var/tmp/T/tarnhollow-Q1w2E3r4' "
                         "'tarnhollow-3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C.out' '501' '20' '",
                         0),
              0u)
        << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(CommandLineTest, RunnerGetsTheScriptTheLineAndThePromptInOrder)
{
    const auto arguments = contract::runnerArguments("LINE");
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[0], "-e");
    EXPECT_EQ(arguments[1],
              "on run argv\n\tdo shell script (item 1 of argv) with prompt (item 2 of argv) with administrator "
              "privileges\nend run");
    EXPECT_EQ(arguments[1].size(), 112u);
    EXPECT_EQ(arguments[2], "LINE");
    EXPECT_EQ(arguments[3], "Tarnhollow がこの Mac からフォレンジック調査用のアーティファクトを収集するため、"
                            "管理者権限を求めています。");
}

// Pieces a path may hold that mean something to the shell, or to a program
// reading its arguments.
const std::vector<std::string>& hostilePieces()
{
    static const std::vector<std::string> pieces = {
        "'", "''", "\"", "$", "$HOME", "${IFS}", "$(printf INJECTED)", "`printf INJECTED`", "`", "\\",
        "\\'", "'\\''", "\n", "\r", "\t", " ", "  ", "*", "?", "[a-z]", "~", "-", "--", "-o", ";", "&",
        "&&", "|", "||", ">", "<", "2>&1", "(", ")", "{", "}", "!", "#", "%", "=", "SUDO_UID=0", "日本語",
        "ケースのデータ", "証拠 📁", "é", "plain"};
    return pieces;
}

// Deterministic names built from 1 to 4 pieces; some start with "-".
std::vector<std::string> generateHostileNames(std::size_t count)
{
    std::vector<std::string> names;
    for (const auto& piece : hostilePieces())
        names.push_back("x" + piece); // each piece on its own first
    std::mt19937 random(20261206);
    const auto& pieces = hostilePieces();
    while (names.size() < count) {
        std::string name = random() % 4 == 0 ? "-" : "";
        const int length = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < length; ++i)
            name += pieces[random() % pieces.size()];
        if (name == "." || name == "..")
            continue;
        names.push_back(name);
    }
    return names;
}

// The fake collector prints its arguments and identity, NUL-separated, on
// standard output, and a line on standard error: both must land in the
// progress file.
constexpr const char* recordingCollector =
    "printf '%s\\0' \"$#\" \"$@\" \"${SUDO_UID-unset}\" \"${SUDO_GID-unset}\"\n"
    "echo 'to stderr' >&2\n";

TEST(CommandLineTest, ShellHandsTheCollectorExactlyItsArgumentsWhateverThePathsHold)
{
    ScratchFolder scratch;
    PosixFileSystem files;
    const auto names = generateHostileNames(120);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        SCOPED_TRACE(::testing::PrintToString(name));
        const auto outputDir = scratch / ("out-" + std::to_string(i)) / name;
        const auto collector = outputDir / (name + ".app") / contract::collectorInBundle;
        std::filesystem::create_directories(collector.parent_path());
        std::filesystem::create_directories(scratch / ("tmp-" + std::to_string(i)) / name);
        writeScript(collector, recordingCollector);
        const auto folder = files.makePrivateFolder(scratch / ("tmp-" + std::to_string(i)) / name);
        ASSERT_TRUE(folder);
        const auto progress = *folder / "tarnhollow-3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C.out";
        ASSERT_TRUE(files.createEmptyFile(progress));

        const std::string line = contract::collectorCommandLine(
            {::getuid(), ::getgid(), collector, *files.sha256OfFile(collector), outputDir, progress});
        // system() is exactly `/bin/sh -c line`, as the runner does it.
        const int waitStatus = std::system(line.c_str());
        ASSERT_TRUE(WIFEXITED(waitStatus));
        ASSERT_EQ(WEXITSTATUS(waitStatus), 0) << readFile(progress);

        const std::string written = readFile(progress);
        ASSERT_EQ(splitNul(written), (std::vector<std::string>{"2", "-o", outputDir.string(),
                                                               std::to_string(::getuid()),
                                                               std::to_string(::getgid())}));
        EXPECT_EQ(written.substr(written.rfind('\0') + 1), "to stderr\n");
        // Nothing was written anywhere else.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(*folder), {}), 1);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outputDir), {}), 1);
    }
}

} // namespace
} // namespace tarnhollow

// The collector command line, through a real /bin/sh, with hostile paths.
#include "collector/Contract.h"
#include "platform/posix/PosixFileSystem.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhollow {
namespace {

using namespace testing;

// Names that mean something to the shell or to a program reading its
// arguments; some start with "-".
const std::vector<std::string> hostileNames = {"'",
                                               "''\\'\\''",
                                               "\"$HOME\"",
                                               "${IFS}x",
                                               "$(printf INJECTED)",
                                               "`printf INJECTED`",
                                               "\\",
                                               "a\nb\r\tc",
                                               "  *?[a-z]~",
                                               "-",
                                               "--",
                                               "-o",
                                               ";&&|||>2>&1<",
                                               "(){}!#%=",
                                               "SUDO_UID=0",
                                               "ケースのデータ 証拠 📁é",
                                               "-'$(touch x)';`id`"};

TEST(CommandLineTest, ShellHandsTheCollectorExactlyItsArgumentsWhateverThePathsHold)
{
    ScratchFolder scratch;
    PosixFileSystem files;
    for (std::size_t i = 0; i < hostileNames.size(); ++i) {
        const std::string& name = hostileNames[i];
        SCOPED_TRACE(::testing::PrintToString(name));
        const auto outputDir = scratch / ("out-" + std::to_string(i)) / name;
        const auto collector = outputDir / (name + ".app") / contract::collectorInBundle;
        std::filesystem::create_directories(collector.parent_path());
        std::filesystem::create_directories(scratch / ("tmp-" + std::to_string(i)) / name);
        // Arguments and identity NUL-separated, then a line on standard
        // error: both must land in the progress file.
        writeScript(collector, "printf '%s\\0' \"$#\" \"$@\" \"${SUDO_UID-unset}\" \"${SUDO_GID-unset}\"\n"
                               "echo 'to stderr' >&2\n");
        const auto folder = files.makePrivateFolder(scratch / ("tmp-" + std::to_string(i)) / name);
        ASSERT_TRUE(folder);
        const auto progress = *folder / "tarnhollow-3F2A.out";
        ASSERT_TRUE(files.createEmptyFile(progress));

        const std::string line = contract::collectorCommandLine(
            {::getuid(), ::getgid(), collector, *files.sha256OfFile(collector), outputDir, progress});
        const int waitStatus = std::system(line.c_str()); // `/bin/sh -c line`, as the runner does
        ASSERT_TRUE(WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) << readFile(progress);
        const std::string written = readFile(progress);
        EXPECT_EQ(splitNul(written),
                  (std::vector<std::string>{"2", "-o", outputDir.string(), std::to_string(::getuid()),
                                            std::to_string(::getgid())}));
        EXPECT_EQ(written.substr(written.rfind('\0') + 1), "to stderr\n");
        // Nothing was written anywhere else.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(*folder), {}), 1);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outputDir), {}), 1);
    }
}

} // namespace
} // namespace tarnhollow

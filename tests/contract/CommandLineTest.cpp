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
        writeScript(collector, "printf '%s\\0' \"$#\" \"$@\" \"${SUDO_UID-unset}\" \"${SUDO_GID-unset}\" "
                               "\"${TARNHOLLOW_OUTPUT_PIN-unset}\"\n"
                               "echo 'to stderr' >&2\n");
        const auto folder = files.makePrivateFolder(scratch / ("tmp-" + std::to_string(i)) / name);
        ASSERT_TRUE(folder);
        const auto progress = *folder / "tarnhollow-3F2A.out";
        ASSERT_TRUE(files.createEmptyFile(progress));

        const auto resolved = files.resolveFolder(outputDir);
        ASSERT_TRUE(resolved);
        const contract::CollectorRun run{::getuid(),
                                         ::getgid(),
                                         collector,
                                         *files.sha256OfFile(collector),
                                         {resolved->path, resolved->device, resolved->inode},
                                         progress};
        const std::string line = contract::collectorCommandLine(run);
        // The installed runner takes the run back out of the line, and
        // nothing but what this code builds.
        EXPECT_EQ(contract::parseCollectorCommandLine(line), run);
        for (const std::string& foreign : {line + " ", line + "; id", "set -- 'x'; " + line.substr(line.find("; ") + 2),
                                           line.substr(0, line.find("; ")) + "; id"})
            EXPECT_FALSE(contract::parseCollectorCommandLine(foreign)) << foreign;
        const int waitStatus = std::system(line.c_str()); // `/bin/sh -c line`, as the runner does
        ASSERT_TRUE(WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) << readFile(progress);
        const std::string written = readFile(progress);
        EXPECT_EQ(splitNul(written),
                  (std::vector<std::string>{"2", "-o", resolved->path.string(), std::to_string(::getuid()),
                                            std::to_string(::getgid()), contract::pinText(run.output)}));
        EXPECT_EQ(written.substr(written.rfind('\0') + 1), "to stderr\n");
        // Nothing was written anywhere else.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(*folder), {}), 1);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outputDir), {}), 1);
    }
}

} // namespace
} // namespace tarnhollow

// The controller against the recording fake, driven as the user and the
// platform drive it: screens, the launch, the poll, the end of a run, and
// finding the archive.
#include "collect/AppDelegate.h"
#include "collect/Texts.h"
#include "collector/Contract.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

namespace tarnhollow {
namespace {

std::string str(std::string_view text) { return std::string(text); }
// The running screen's headline for item n of m.
std::string counting(std::string n, std::string m)
{
    return str(texts::collectingPrefix) + n + str(texts::countSeparator) + m;
}

using testing::RecordingPlatform;
using State = AppDelegate::State;
using Log = std::vector<std::string>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* exampleUUID = "3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C";

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(temporary);
        fs::create_directories(out);
        fake.bundle = out / "Kit.app";
        // Relative, as TMPDIR may be: root's shell starts elsewhere.
        fake.temporary = fs::relative(temporary);
        fake.uuids = {exampleUUID};
        controller = AppDelegate::create(platform);
        ASSERT_EQ(fake.log, Log{}) << "creating draws nothing";
        controller->applicationDidFinishLaunching();
        launchLog = fake.takeLog();
    }

    // What one step records.
    Log logOf(const std::function<void()>& step)
    {
        fake.takeLog();
        step();
        return fake.takeLog();
    }
    // Presses the button in a ready window, a new one after a run that ended.
    Log start()
    {
        if (controller->currentState() != State::ready) {
            controller = AppDelegate::create(platform);
            controller->applicationDidFinishLaunching();
        }
        const Log log = logOf([&] { fake.click(); });
        // The run's progress file, in the one private folder it made.
        progress.clear();
        for (const auto& folder : fs::directory_iterator(temporary))
            progress = fs::directory_iterator(folder)->path();
        return log;
    }
    // Another file with this content in the progress file's place, then a poll.
    Log poll(const std::string& content)
    {
        std::ofstream(temporary / "next", std::ios::binary) << content;
        fs::rename(temporary / "next", progress);
        return logOf([&] { fake.advance(0.5); });
    }
    Log finish(int32_t status, const std::string& errorOutput, const std::string& content = "")
    {
        std::ofstream(progress, std::ios::binary | std::ios::app) << content;
        return logOf([&] {
            fake.endTask(status, errorOutput);
            EXPECT_EQ(fake.log, Log{}) << "only through the main queue";
            fake.runMainQueue();
            EXPECT_EQ(fake.liveTimers(), 0);
        });
    }
    static std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

    testing::ScratchFolder scratch;
    const fs::path temporary = scratch / "tmp", out = scratch / "Case's data";
    const std::string savedTo = str(texts::savedTo) + out.string();
    RecordingPlatform fake;
    Platform platform = fake.platform();
    std::shared_ptr<AppDelegate> controller;
    Log launchLog;
    fs::path progress;
};

TEST_F(ControllerTest, EachScreenSetsItsControlsInOrder)
{
    const Log ready{"detail.setStringValue: " + str(texts::readyDetailIntro) + "\n" + savedTo, "bar.setHidden: YES",
                    "button.setTitle: " + str(texts::startButton), "button.setEnabled: YES"};
    Log launch{"toolkit.setupMenu", "toolkit.setupWindow",
               "status.setStringValue: " + str(texts::macWords.readyHeadline)},
        cancelled{"timer.invalidate", "status.setStringValue: " + str(texts::cancelled)};
    launch.insert(launch.end(), ready.begin(), ready.end());
    launch.push_back("toolkit.activateIgnoringOtherApps");
    cancelled.insert(cancelled.end(), ready.begin(), ready.end());
    EXPECT_EQ(launchLog, launch);
    EXPECT_TRUE(controller->applicationShouldTerminateAfterLastWindowClosed());

    const Log running{"status.setStringValue: " + str(texts::askingPassword),
                      "detail.setStringValue: " + savedTo,
                      "bar.setHidden: NO",
                      "bar.setIndeterminate: YES",
                      "bar.startAnimation",
                      "button.setTitle: " + str(texts::runningButton),
                      "button.setEnabled: NO",
                      "task.launch: /usr/bin/osascript",
                      "timer.schedule: 0.5"};
    EXPECT_EQ(start(), running);
    EXPECT_EQ(finish(1, "0:42: execution error: User canceled. (-128)\n"), cancelled);
    EXPECT_EQ(controller->currentState(), State::ready);

    EXPECT_EQ(start(), running);
    EXPECT_EQ(finish(2, "ディスクがいっぱいです"),
              (Log{"timer.invalidate", "bar.stopAnimation", "bar.setHidden: YES",
                   "status.setStringValue: " + str(texts::failedHeadline),
                   "detail.setStringValue: ディスクがいっぱいです\n" + str(texts::logHint) + out.string(),
                   "button.setTitle: " + str(texts::openFolderButton), "button.setEnabled: YES"}));
    EXPECT_EQ(controller->currentState(), State::failed);

    EXPECT_EQ(start(), running);
    std::ofstream(out / "artifacts.zip") << "zip";
    // The file's last state is shown before the done screen.
    EXPECT_EQ(finish(0, "execution error (-128)", "Collecting ログ (4/4)\n(-128) is fine here\n"),
              (Log{"timer.invalidate", "bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setMaxValue: 4",
                   "bar.setDoubleValue: 3", "status.setStringValue: " + counting("4", "4"),
                   "detail.setStringValue: ログ", "bar.stopAnimation", "bar.setIndeterminate: NO",
                   "bar.setDoubleValue: 4", "status.setStringValue: " + str(texts::doneHeadline),
                   "detail.setStringValue: " + savedTo + "/artifacts.zip",
                   "button.setTitle: " + str(texts::macWords.revealButton), "button.setEnabled: YES"}));
    EXPECT_EQ(controller->currentState(), State::done);
    EXPECT_TRUE(fs::is_empty(temporary)) << "each run's private folder goes with its file";
}

TEST_F(ControllerTest, ScreensNameTheComputerAndItsFileManagerInThePlatformsWords)
{
    fake.platformWords = texts::linuxWords;
    controller = AppDelegate::create(platform);
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(fake.status.text, texts::linuxWords.readyHeadline);
    start();
    finish(0, "");
    EXPECT_EQ(fake.button.title, texts::linuxWords.revealButton);
}

TEST_F(ControllerTest, LaunchAsksForThePasswordOnlyWithTheRunPrepared)
{
    // What lies in the collector's and the output folder's places now is
    // not what root is told to trust: the app pinned both when it started.
    fake.collectorSha256 = std::string(64, 'd');
    fake.resolvedOutput = ResolvedFolder{"/elsewhere", 1, 2};
    start();
    const fs::path file = progress;
    ASSERT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(fs::status(file.parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // The collector's hash and the output folder's identity, and the data
    // root works on, every path absolute.
    const std::string quoted = "'" + scratch.path().string() + "/Case'\\''s data";
    const auto& arguments = fake.launches.at(0).arguments;
    EXPECT_EQ(arguments.at(3), contract::passwordPrompt);
    const std::string& line = arguments.at(2);
    EXPECT_EQ(line.rfind("set -- '" + std::string(64, 'c') + "' " + quoted +
                             "/Kit.app/Contents/MacOS/tarnhollow' '/resolved/out' '" +
                             (fs::absolute(fake.temporary) / file.parent_path().filename()).string() +
                             "' 'tarnhollow-" + exampleUUID + ".out' '501' '20' '7:42'; ",
                         0),
              0u)
        << line;
    // Pressing again does nothing, even past the disabled button.
    EXPECT_EQ(logOf([&] { controller->buttonPressed(); }), Log{});
    EXPECT_EQ(fake.launches.size(), 1u);

    // The first poll comes half a second after the launch.
    std::ofstream(file) << "Collecting 統合ログ (2/9)\n";
    EXPECT_EQ(logOf([&] { fake.advance(0.499); }), Log{});
    EXPECT_EQ(logOf([&] { fake.advance(0.001); }).back(), "detail.setStringValue: 統合ログ");
    finish(0, "");
    // The next run gets a file of its own.
    start();
    EXPECT_EQ(fake.uuidsHandedOut, 2);
    EXPECT_NE(progress.parent_path(), file.parent_path());
    EXPECT_TRUE(fs::exists(progress));
}

TEST_F(ControllerTest, NoPasswordIsAskedWhenTheRunCannotBePreparedOrLaunched)
{
    const struct {
        std::function<void()> arrange;
        std::string reason;
        bool launched;
    } cases[] = {
        {[&] { fake.failCreate = true; }, str(texts::progressFileUnavailable), false},
        {[&] { fake.temporary = temporary / "missing"; }, str(texts::progressFileUnavailable), false},
        {[&] { fake.collectorSha256.reset(); }, str(texts::collectorUnreadable), false},
        {[&] { fake.resolvedOutput.reset(); }, str(texts::outputFolderUnavailable), false},
        {[&] {
             fake.nextLaunch = {false, "elevate: No such file"};
         },
         "elevate: No such file", true},
    };
    for (const auto& c : cases) {
        c.arrange();
        start();
        EXPECT_EQ(firstLine(fake.detail.text), str(texts::launchFailed) + c.reason);
        EXPECT_EQ(fake.launches.size(), c.launched ? 1u : 0u);
        // A run that was launched and failed keeps its empty file; nothing else is left behind.
        EXPECT_EQ(fs::is_empty(temporary), !c.launched) << c.reason;
        EXPECT_EQ(fake.liveTimers(), 0);
        EXPECT_EQ(logOf([&] { fake.advance(5); }), Log{});
        fake.failCreate = false;
        fake.collectorSha256 = std::string(64, 'c');
        fake.resolvedOutput = ResolvedFolder{"/resolved/out", 7, 42};
        fake.temporary = fs::relative(temporary);
    }
}

TEST_F(ControllerTest, PollShowsTheLastCountAndNameOfReadableUtf8TextOnly)
{
    start();
    for (const std::string text : {"", "Collecting ログ (1/5)\ntail \xFF\n",
                                   "\xC0\xAF"
                                   "Collecting ログ (1/5)\n"})
        EXPECT_EQ(poll(text), Log{}) << text;
    // Nothing in its place: the poll shows nothing (what else may be there
    // is the file system's test).
    fs::remove(progress);
    EXPECT_EQ(logOf([&] { fake.advance(0.5); }), Log{});

    // No match at all: "preparing", and the bar stays indeterminate.
    const Log preparing{"status.setStringValue: " + str(texts::preparing)};
    for (const std::string text :
         {"Password:\n", "Collecting  (1/2)\n", "collecting x (1/2)\n", "Collecting artifacts (pending)\n"})
        EXPECT_EQ(poll(text), preparing) << text;
    EXPECT_TRUE(fake.bar.indeterminate);
    EXPECT_EQ(poll("password accepted\nCollecting x (007/010)\r\n"),
              (Log{"bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setMaxValue: 10", "bar.setDoubleValue: 6",
                   "status.setStringValue: " + counting("7", "10"), "detail.setStringValue: x"}));
    // Determinate once; m = 0 and n > m are shown as they are.
    EXPECT_EQ(poll("Collecting ログ (1/5)\nCollecting z (3/0)\nwarning: skipped\n"),
              (Log{"bar.setMaxValue: 0", "bar.setDoubleValue: 2", "status.setStringValue: " + counting("3", "0"),
                   "detail.setStringValue: z"}));
    // Huge counts saturate instead of overflowing.
    const std::pair<std::string, std::string> huge[] = {
        {"9007199254740993/9223372036854775807", counting("9007199254740992", "9223372036854775807")},
        {"9223372036854775808/99999999999999999999", counting("9223372036854775807", "9223372036854775807")},
        {"1/" + std::string(400, '9'), counting("1", "9223372036854775807")}};
    for (const auto& [counts, headline] : huge)
        EXPECT_EQ(poll("Collecting a (1/2) b (" + counts + ")").at(2), "status.setStringValue: " + headline);
    EXPECT_EQ(fake.detail.text, "a (1/2) b");
    EXPECT_EQ(fake.bar.maxValue, std::numeric_limits<double>::max());

    // A last match that does not convert shows "preparing" and leaves bar and
    // detail, even when an earlier match converts.
    poll("Collecting good (2/4)\n");
    for (const std::string text : {"Collecting wide (３/4)\n", "Collecting kawi (3/\U00011F54)\n"})
        EXPECT_EQ(poll("Collecting good (2/4)\n" + text), preparing) << text;
    EXPECT_EQ(fake.detail.text, "good");
    EXPECT_EQ(fake.bar.maxValue, 4);
    EXPECT_EQ(fake.bar.value, 1);
}

TEST_F(ControllerTest, EndOfRunShowsTheCollectorsLastLineOrElseTheRunnersWords)
{
    const struct {
        int32_t status;
        std::string content, errorOutput, headline, shown;
    } cases[] = {
        // Success without progress or archive fills the bar and names the folder.
        {0, "", "", str(texts::doneHeadline), savedTo},
        // Cancellation is read from the error output only.
        {1, "Collecting x (1/2)\n", "execution error: User canceled. (-128)", str(texts::cancelled),
         str(texts::readyDetailIntro)},
        {1, "error (-128)\n", "", str(texts::failedHeadline), "error (-128)"},
        {2, "Collecting x (1/2)\nerror: disk full\n\n\n", "  runner says something else\n", str(texts::failedHeadline),
         "error: disk full"},
        {1, "\n\n", "\u3000 sh: tarnhollow: Permission denied\u2028\r\n", str(texts::failedHeadline),
         "sh: tarnhollow: Permission denied"},
        {1, "half \xE3\x81", "\u3000 sh: denied\n", str(texts::failedHeadline), "sh: denied"},
        {1, "Collecting x (1/2)\n\xFF\nerror: disk full\n", "sh: denied", str(texts::failedHeadline), "sh: denied"},
        // Error output that is not UTF-8 is handed on empty, not even read as a cancellation.
        {1, "", "\xff (-128)", str(texts::failedHeadline), ""},
    };
    for (const auto& c : cases) {
        start();
        finish(c.status, c.errorOutput, c.content);
        EXPECT_EQ(fake.status.text, c.headline) << c.content;
        const bool failed = c.headline == str(texts::failedHeadline);
        EXPECT_EQ(failed ? fake.detail.text : firstLine(fake.detail.text),
                  c.shown + (failed ? "\n" + str(texts::logHint) + out.string() : ""));
        EXPECT_TRUE(fs::is_empty(temporary));
    }
    // Failed deletion changes nothing but leaves the file.
    fake.failRemove = true;
    start();
    finish(1, "", "fatal: cannot open /var/db\n");
    EXPECT_EQ(firstLine(fake.detail.text), "fatal: cannot open /var/db");
    EXPECT_TRUE(fs::exists(progress));
}

TEST_F(ControllerTest, ButtonOpensTheFolderAfterAFailureAndRevealsTheNewestArchiveWhenDone)
{
    auto pressed = [&] { return logOf([&] { controller->buttonPressed(); }); };
    auto reveals = [](const fs::path& zip) {
        return Log{"workspace.activateFileViewerSelectingURLs: " + zip.string()};
    };
    const Log opensFolder{"workspace.openURL: " + out.string()};
    start();
    finish(1, "x");
    EXPECT_EQ(pressed(), opensFolder);
    EXPECT_EQ(pressed(), opensFolder) << "every time";

    const Date started = Date(1'750'000'000s + 123'456'789ns);
    fake.clock = started;
    start();
    finish(0, "");
    // An entry whose modification time is `offset` from the run's start.
    auto entry = [&](const fs::path& path, std::chrono::nanoseconds offset, bool folder = false) {
        folder ? (void)fs::create_directories(path) : (void)(std::ofstream(path) << "PK");
        const auto when = (started + offset).time_since_epoch().count();
        const timespec time{when / 1'000'000'000, when % 1'000'000'000}, times[2] = {time, time};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        return path;
    };
    entry(out / "before.zip", -1us);
    EXPECT_EQ(pressed(), opensFolder);
    const auto exact = entry(out / "exact.zip", 0ns);
    EXPECT_EQ(pressed(), reveals(exact)) << "looked for again on every press";
    // Only the user's own files and folders with the exact extension count.
    for (const char* name : {"CASE.ZIP", "case.Zip", "archive.zip.part", "zip"})
        entry(out / name, 9s);
    entry(out / "sub", 0s, true);
    entry(out / "sub/deep.zip", 9s);
    entry(out / "sub", 0s, true);
    fs::create_symlink(entry(scratch / "outside.zip", 9s), out / "link.zip");
    entry(out / "link.zip", 9s);
    if (::getuid() == 0) {
        for (const bool folder : {false, true})
            EXPECT_EQ(
                ::chown(entry(out / (folder ? "planted-folder.zip" : "planted.zip"), 9s, folder).c_str(), 65534, 65534),
                0);
    }
    const auto hidden = entry(out / ".hidden.zip", 1s);
    EXPECT_EQ(pressed(), reveals(hidden));
    EXPECT_EQ(pressed(), reveals(entry(out / "folder.zip", 1500ms, true)));
    // The latest wins, whatever the listing order; the first listed among equals.
    entry(out / "a.zip", 2s);
    const auto latest = entry(out / "b.zip", 2s + 500ms);
    entry(out / "c.zip", 1s);
    EXPECT_EQ(pressed(), reveals(latest));
    for (const char* name : {"one.zip", "two.zip", "three.zip"})
        entry(out / name, 5s);
    const auto listing = fake.contentsOfDirectory(out).value();
    EXPECT_EQ(pressed(), reveals(*std::find_if(listing.begin(), listing.end(), [](auto& p) {
                  return p.filename() == "one.zip" || p.filename() == "two.zip" || p.filename() == "three.zip";
              })));
    fs::remove_all(out);
    EXPECT_EQ(pressed(), opensFolder);
    EXPECT_EQ(controller->currentState(), State::done);
}

TEST(OutputFolderTest, BesideTheBundleUnlessTranslocatedOrInstalled)
{
    RecordingPlatform fake;
    fake.desktop = "/home/analyst/デスクトップ";
    for (const auto& [bundle, installed, folder] : std::vector<std::tuple<std::string, bool, std::string>>{
             {"/private/var/folders/xy/T/AppTranslocation/1A2B/d/Tarnhollow.app", false, "/Users/analyst/Desktop"},
             {"/private/var/folders/xy/T/apptranslocation/1A2B/d/Tarnhollow.app", false,
              "/private/var/folders/xy/T/apptranslocation/1A2B/d"},
             {"/Volumes/AppTranslocation-ish/Tarnhollow.app", false, "/Volumes/AppTranslocation-ish"},
             {"/opt/tarnhollow/Tarnhollow.app", true, "/home/analyst/デスクトップ"}}) {
        fake.bundle = bundle;
        fake.installed = installed;
        EXPECT_EQ(AppDelegateProbe::defaultOutputDir(fake), folder) << bundle;
    }
}

} // namespace
} // namespace tarnhollow

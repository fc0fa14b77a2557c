#include "tests/support/RecordingPlatform.h"

#include "platform/icu/IcuTextServices.h"

#include <cmath>
#include <cstdio>

namespace tarnhollow::testing {

namespace {

const char* yesNo(bool flag) { return flag ? "YES" : "NO"; }

class RecordingTextField final : public TextField {
public:
    RecordingTextField(RecordingPlatform& owner, std::string name, FakeTextField& state)
        : owner_(owner), name_(std::move(name)), state_(state) {}
    void setStringValue(const std::string& text) override
    {
        owner_.log.push_back(name_ + ".setStringValue: " + text);
        state_.text = text;
    }

private:
    RecordingPlatform& owner_;
    std::string name_;
    FakeTextField& state_;
};

class RecordingBar final : public ProgressIndicator {
public:
    RecordingBar(RecordingPlatform& owner, FakeBar& state) : owner_(owner), state_(state) {}
    void setHidden(bool hidden) override { record("setHidden: ", yesNo(hidden)); state_.hidden = hidden; }
    void setIndeterminate(bool flag) override { record("setIndeterminate: ", yesNo(flag)); state_.indeterminate = flag; }
    bool isIndeterminate() const override { return state_.indeterminate; }
    void startAnimation() override { record("startAnimation", ""); state_.animating = true; }
    void stopAnimation() override { record("stopAnimation", ""); state_.animating = false; }
    void setMinValue(double v) override { record("setMinValue: ", formatNumber(v)); state_.minValue = v; }
    void setMaxValue(double v) override { record("setMaxValue: ", formatNumber(v)); state_.maxValue = v; }
    double maxValue() const override { return state_.maxValue; }
    void setDoubleValue(double v) override { record("setDoubleValue: ", formatNumber(v)); state_.value = v; }

private:
    void record(const std::string& op, const std::string& argument) { owner_.log.push_back("bar." + op + argument); }
    RecordingPlatform& owner_;
    FakeBar& state_;
};

class RecordingButton final : public Button {
public:
    RecordingButton(RecordingPlatform& owner, FakeButton& state) : owner_(owner), state_(state) {}
    void setTitle(const std::string& title) override
    {
        owner_.log.push_back("button.setTitle: " + title);
        state_.title = title;
    }
    void setEnabled(bool enabled) override
    {
        owner_.log.push_back(std::string("button.setEnabled: ") + yesNo(enabled));
        state_.enabled = enabled;
    }

private:
    RecordingPlatform& owner_;
    FakeButton& state_;
};

class RecordingWindow final : public Window {};

} // namespace

struct RecordingPlatform::ScheduledTimer final {
    double interval = 0;
    Date nextFire;
    std::function<void()> tick;
    bool valid = true;
};

namespace {

class RecordingTimer final : public Timer {
public:
    RecordingTimer(RecordingPlatform& owner, std::weak_ptr<void> scheduled, bool* valid)
        : owner_(owner), scheduled_(std::move(scheduled)), valid_(valid) {}
    void invalidate() override
    {
        owner_.log.push_back("timer.invalidate");
        if (!scheduled_.expired())
            *valid_ = false;
    }

private:
    RecordingPlatform& owner_;
    std::weak_ptr<void> scheduled_;
    bool* valid_;
};

} // namespace

RecordingPlatform::RecordingPlatform() : text_(std::make_unique<IcuTextServices>()) {}
RecordingPlatform::~RecordingPlatform() = default;

Platform RecordingPlatform::platform()
{
    return Platform{*this, *this, *this, *this, *this, *this, *text_};
}

TextServices& RecordingPlatform::text() { return *text_; }

std::vector<std::string> RecordingPlatform::takeLog()
{
    std::vector<std::string> taken;
    taken.swap(log);
    return taken;
}

void RecordingPlatform::advance(double seconds)
{
    const Date end = clock + std::chrono::nanoseconds(std::llround(seconds * 1e9));
    for (;;) {
        std::shared_ptr<ScheduledTimer> due;
        for (auto& timer : timers_)
            if (timer->valid && timer->nextFire <= end && (!due || timer->nextFire < due->nextFire))
                due = timer;
        if (!due)
            break;
        clock = due->nextFire;
        due->nextFire += std::chrono::nanoseconds(std::llround(due->interval * 1e9));
        due->tick();
    }
    clock = end;
}

void RecordingPlatform::runMainQueue()
{
    while (!mainQueue_.empty()) {
        auto step = std::move(mainQueue_.front());
        mainQueue_.pop_front();
        step();
    }
}

int RecordingPlatform::liveTimers() const
{
    int live = 0;
    for (const auto& timer : timers_)
        live += timer->valid ? 1 : 0;
    return live;
}

void RecordingPlatform::endTask(int32_t status, std::string errorOutput)
{
    auto handler = std::move(onTermination_);
    onTermination_ = nullptr;
    if (handler)
        handler(status, std::move(errorOutput));
}

std::unique_ptr<TextField> RecordingPlatform::makeLabel()
{
    return std::make_unique<RecordingTextField>(*this, "status", status);
}

std::unique_ptr<TextField> RecordingPlatform::makeWrappingLabel()
{
    return std::make_unique<RecordingTextField>(*this, "detail", detail);
}

std::unique_ptr<ProgressIndicator> RecordingPlatform::makeProgressIndicator()
{
    return std::make_unique<RecordingBar>(*this, bar);
}

std::unique_ptr<Button> RecordingPlatform::makeButton()
{
    return std::make_unique<RecordingButton>(*this, button);
}

void RecordingPlatform::setupMenu() { log.push_back("toolkit.setupMenu"); }

std::unique_ptr<Window> RecordingPlatform::setupWindow(TextField&, TextField&, ProgressIndicator&, Button&,
                                                       std::function<void()> pressed)
{
    log.push_back("toolkit.setupWindow");
    pressed_ = std::move(pressed);
    windowShown = true;
    return std::make_unique<RecordingWindow>();
}

void RecordingPlatform::activateIgnoringOtherApps() { log.push_back("toolkit.activateIgnoringOtherApps"); }

void RecordingPlatform::click()
{
    if (pressed_ && button.enabled)
        pressed_();
}

std::unique_ptr<Timer> RecordingPlatform::scheduleRepeatingTimer(double seconds, std::function<void()> tick)
{
    log.push_back("timer.schedule: " + formatNumber(seconds));
    auto scheduled = std::make_shared<ScheduledTimer>();
    scheduled->interval = seconds;
    scheduled->nextFire = clock + std::chrono::nanoseconds(std::llround(seconds * 1e9));
    scheduled->tick = std::move(tick);
    timers_.push_back(scheduled);
    return std::make_unique<RecordingTimer>(*this, scheduled, &scheduled->valid);
}

void RecordingPlatform::postToMainQueue(std::function<void()> step)
{
    mainQueue_.push_back(std::move(step));
}

LaunchResult RecordingPlatform::launch(const TaskRequest& request, TerminationHandler onTermination)
{
    launches.push_back(request);
    log.push_back("task.launch: " + request.executable.string());
    if (nextLaunch.launched)
        onTermination_ = std::move(onTermination);
    return nextLaunch;
}

void RecordingPlatform::openURL(const std::filesystem::path& folder)
{
    log.push_back("workspace.openURL: " + folder.string());
}

void RecordingPlatform::activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files)
{
    std::string line = "workspace.activateFileViewerSelectingURLs:";
    for (const auto& file : files)
        line += " " + file.string();
    log.push_back(line);
}

std::optional<std::filesystem::path> RecordingPlatform::makePrivateFolder(const std::filesystem::path& parent)
{
    return realFiles_.makePrivateFolder(parent);
}

std::optional<std::string> RecordingPlatform::sha256OfFile(const std::filesystem::path&)
{
    return collectorSha256;
}

bool RecordingPlatform::createEmptyFile(const std::filesystem::path& file)
{
    return !failCreate && realFiles_.createEmptyFile(file);
}

namespace {

// Counts what is read through a file that is on disk or in memory.
class CountingFile final : public ReadableFile {
public:
    CountingFile(uint64_t& bytesRead, std::unique_ptr<ReadableFile> onDisk,
                 std::shared_ptr<RecordingPlatform::MemoryFile> inMemory)
        : bytesRead_(bytesRead), onDisk_(std::move(onDisk)), inMemory_(std::move(inMemory)) {}

    std::optional<FileStatus> status() override
    {
        if (onDisk_)
            return onDisk_->status();
        return FileStatus{0, inMemory_->inode, inMemory_->content.size()};
    }

    std::optional<std::size_t> readAt(uint64_t offset, char* into, std::size_t count) override
    {
        std::optional<std::size_t> got;
        if (onDisk_) {
            got = onDisk_->readAt(offset, into, count);
        } else {
            const std::string& content = inMemory_->content;
            got = offset < content.size() ? content.copy(into, count, static_cast<std::size_t>(offset)) : 0;
        }
        bytesRead_ += got.value_or(0);
        return got;
    }

private:
    uint64_t& bytesRead_;
    std::unique_ptr<ReadableFile> onDisk_;
    std::shared_ptr<RecordingPlatform::MemoryFile> inMemory_;
};

} // namespace

std::optional<FileStatus> RecordingPlatform::regularFileStatus(const std::filesystem::path& file)
{
    ++statCalls;
    if (auto found = memoryFiles.find(file); found != memoryFiles.end())
        return FileStatus{0, found->second->inode, found->second->content.size()};
    return realFiles_.regularFileStatus(file);
}

std::unique_ptr<ReadableFile> RecordingPlatform::openRegularFile(const std::filesystem::path& file)
{
    ++opens;
    if (auto found = memoryFiles.find(file); found != memoryFiles.end())
        return std::make_unique<CountingFile>(bytesRead, nullptr, found->second);
    auto onDisk = realFiles_.openRegularFile(file);
    if (!onDisk)
        return nullptr;
    return std::make_unique<CountingFile>(bytesRead, std::move(onDisk), nullptr);
}

bool RecordingPlatform::removeItem(const std::filesystem::path& item)
{
    return !failRemove && realFiles_.removeItem(item);
}

std::optional<std::vector<std::filesystem::path>> RecordingPlatform::contentsOfDirectory(
    const std::filesystem::path& folder)
{
    return realFiles_.contentsOfDirectory(folder);
}

std::optional<Date> RecordingPlatform::contentModificationDate(const std::filesystem::path& item)
{
    return realFiles_.contentModificationDate(item);
}

std::string RecordingPlatform::newUUIDString()
{
    ++uuidsHandedOut;
    if (!uuids.empty()) {
        std::string next = uuids.front();
        uuids.pop_front();
        return next;
    }
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", uuidsHandedOut);
    return text;
}

std::string formatNumber(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

} // namespace tarnhollow::testing

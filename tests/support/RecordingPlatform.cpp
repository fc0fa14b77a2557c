#include "tests/support/RecordingPlatform.h"

#include "platform/icu/IcuTextServices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarnhollow::testing {

struct RecordingPlatform::ScheduledTimer {
    double interval;
    Date nextFire;
    std::function<void()> tick;
    bool valid = true;
};

namespace {

using Log = std::vector<std::string>;
std::string yesNo(bool flag) { return flag ? "YES" : "NO"; }
std::string number(double value) // "5", "0.5", "-1"
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}
std::chrono::nanoseconds span(double seconds) { return std::chrono::nanoseconds(std::llround(seconds * 1e9)); }

// Any of the controls: logs "name.operation: argument" and keeps the state.
class Control final : public TextField, public ProgressIndicator, public Button {
public:
    Control(Log& log, std::string name, FakeControl& state)
        : log_(log),
          name_(std::move(name)),
          s_(state)
    {
    }
    void setStringValue(const std::string& text) override { record("setStringValue: " + (s_.text = text)); }
    void setHidden(bool flag) override { record("setHidden: " + yesNo(s_.hidden = flag)); }
    void setIndeterminate(bool flag) override { record("setIndeterminate: " + yesNo(s_.indeterminate = flag)); }
    bool isIndeterminate() const override { return s_.indeterminate; }
    void startAnimation() override { s_.animating = true, record("startAnimation"); }
    void stopAnimation() override { s_.animating = false, record("stopAnimation"); }
    void setMinValue(double value) override { record("setMinValue: " + number(value)); }
    void setMaxValue(double value) override { record("setMaxValue: " + number(s_.maxValue = value)); }
    double maxValue() const override { return s_.maxValue; }
    void setDoubleValue(double value) override { record("setDoubleValue: " + number(s_.value = value)); }
    void setTitle(const std::string& title) override { record("setTitle: " + (s_.title = title)); }
    void setEnabled(bool flag) override { record("setEnabled: " + yesNo(s_.enabled = flag)); }

private:
    void record(const std::string& operation) { log_.push_back(name_ + "." + operation); }
    Log& log_;
    std::string name_;
    FakeControl& s_;
};

auto control(Log& log, const char* name, FakeControl& state) { return std::make_unique<Control>(log, name, state); }

struct FakeTimer final : Timer {
    std::function<void()> stop;
    void invalidate() override { stop(); }
};

} // namespace

RecordingPlatform::RecordingPlatform()
    : text_(std::make_unique<IcuTextServices>())
{
}
RecordingPlatform::~RecordingPlatform() = default;

void RecordingPlatform::advance(double seconds)
{
    const Date end = clock + span(seconds);
    for (;;) {
        std::shared_ptr<ScheduledTimer> due;
        for (auto& timer : timers_)
            if (timer->valid && timer->nextFire <= end && (!due || timer->nextFire < due->nextFire))
                due = timer;
        if (!due)
            break;
        clock = due->nextFire;
        due->nextFire += span(due->interval);
        due->tick();
    }
    clock = end;
}

void RecordingPlatform::runMainQueue()
{
    for (; !mainQueue_.empty(); mainQueue_.pop_front())
        std::exchange(mainQueue_.front(), nullptr)();
}

int RecordingPlatform::liveTimers() const
{
    return static_cast<int>(std::count_if(timers_.begin(), timers_.end(), [](auto& t) { return t->valid; }));
}

std::unique_ptr<TextField> RecordingPlatform::makeLabel() { return control(log, "status", status); }
std::unique_ptr<TextField> RecordingPlatform::makeWrappingLabel() { return control(log, "detail", detail); }
std::unique_ptr<ProgressIndicator> RecordingPlatform::makeProgressIndicator() { return control(log, "bar", bar); }
std::unique_ptr<Button> RecordingPlatform::makeButton() { return control(log, "button", button); }

std::unique_ptr<Window> RecordingPlatform::setupWindow(TextField&, TextField&, ProgressIndicator&, Button&,
                                                       std::function<void()> pressed)
{
    log.push_back("toolkit.setupWindow");
    pressed_ = std::move(pressed);
    return std::make_unique<Window>();
}

std::unique_ptr<Timer> RecordingPlatform::scheduleRepeatingTimer(double seconds, std::function<void()> tick)
{
    log.push_back("timer.schedule: " + number(seconds));
    auto timer = std::make_shared<ScheduledTimer>(ScheduledTimer{seconds, clock + span(seconds), std::move(tick)});
    timers_.push_back(timer);
    auto stop = std::make_unique<FakeTimer>();
    stop->stop = [this, timer] { log.push_back("timer.invalidate"), timer->valid = false; };
    return stop;
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

std::string RecordingPlatform::newUUIDString()
{
    if (static_cast<std::size_t>(uuidsHandedOut) < uuids.size())
        return uuids[static_cast<std::size_t>(uuidsHandedOut++)];
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", ++uuidsHandedOut);
    return text;
}

} // namespace tarnhollow::testing

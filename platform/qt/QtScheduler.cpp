#include "platform/qt/QtScheduler.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cmath>
#include <mutex>
#include <vector>

namespace tarnhollow {

namespace {

struct TickState {
    std::function<void()> tick;
    bool valid = true;
    bool ticking = false;
};

class QtTimer final : public Timer {
public:
    QtTimer(double seconds, std::function<void()> tick)
        : timer_(new QTimer),
          state_(std::make_shared<TickState>())
    {
        state_->tick = std::move(tick);
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setInterval(static_cast<int>(std::lround(seconds * 1000)));
        QObject::connect(timer_, &QTimer::timeout, timer_, [state = state_] {
            if (!state->valid)
                return;
            state->ticking = true;
            state->tick();
            state->ticking = false;
        });
        timer_->start();
    }

    ~QtTimer() override
    {
        invalidate();
        // The owner may drop the timer from inside its own tick; the QTimer
        // is still emitting then and goes once control is back in the loop.
        if (state_->ticking)
            timer_->deleteLater();
        else
            delete timer_;
    }

    void invalidate() override
    {
        state_->valid = false;
        timer_->stop();
    }

private:
    QTimer* timer_;
    std::shared_ptr<TickState> state_;
};

// Steps posted after the main queue has ended, while the process ends.
std::vector<std::function<void()>>& abandonedSteps()
{
    static auto* steps = new std::vector<std::function<void()>>;
    return *steps;
}

} // namespace

struct QtScheduler::MainQueue {
    std::mutex mutex;
    QObject* receiver = nullptr; // lives on the main thread
};

QtScheduler::QtScheduler()
    : queue_(std::make_shared<MainQueue>())
{
    queue_->receiver = new QObject;
}

QtScheduler::~QtScheduler() { stop(); }

void QtScheduler::stop()
{
    QObject* receiver = nullptr;
    {
        std::lock_guard lock(queue_->mutex);
        std::swap(receiver, queue_->receiver);
    }
    delete receiver; // drops the steps still queued
}

std::unique_ptr<Timer> QtScheduler::scheduleRepeatingTimer(double seconds, std::function<void()> tick)
{
    return std::make_unique<QtTimer>(seconds, std::move(tick));
}

void QtScheduler::postToMainQueue(std::function<void()> step)
{
    std::lock_guard lock(queue_->mutex);
    if (!queue_->receiver) {
        abandonedSteps().push_back(std::move(step));
        return;
    }
    // Posting an event is safe from any thread; the step runs in the
    // receiver's thread, the main one.
    QMetaObject::invokeMethod(queue_->receiver, std::move(step), Qt::QueuedConnection);
}

} // namespace tarnhollow

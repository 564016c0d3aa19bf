#pragma once

// Helpers for the main-thread rule: background work hands its result back to the main thread,
// and delays are single-shot timers that can be cancelled.

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>
#include <type_traits>

namespace vyo {

// Runs `work` on the global thread pool and then `done(result)` on `context`'s thread (the main
// thread for model objects). Nothing is called back when `context` is gone by then.
template <typename Work, typename Done> void runInBackground(QObject *context, Work work, Done done)
{
    using Result = std::invoke_result_t<Work>;
    QFuture<Result> future = QtConcurrent::run(std::move(work));
    if constexpr (std::is_void_v<Result>)
        future.then(context, [done = std::move(done)]() mutable { done(); });
    else
        future.then(context,
                    [done = std::move(done)](Result result) mutable { done(std::move(result)); });
}

// A cancellable delayed call. Starting it again replaces the pending call; cancelling or
// destroying it means the call never happens.
class Delay
{
public:
    Delay();
    Delay(const Delay &) = delete;
    Delay &operator=(const Delay &) = delete;

    void start(int milliseconds, std::function<void()> action);
    void cancel();
    bool isPending() const { return m_timer.isActive(); }

private:
    QTimer m_timer;
    std::function<void()> m_action;
};

// Calls `action` on `context`'s thread after `milliseconds`, unless `context` is gone by then.
void callLater(QObject *context, int milliseconds, std::function<void()> action);

} // namespace vyo

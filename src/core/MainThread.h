#pragma once

// Helpers for the main-thread rule: background work hands its result back to the main thread,
// and delays are single-shot timers that can be cancelled.

#include <QCoreApplication>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>
#include <type_traits>

namespace vyo {

// Runs `work` on the global thread pool and then `done(result)` on the main thread. Nothing is
// called back when `context` is gone by then (a null context never calls back).
template <typename Work, typename Done> void runInBackground(QObject *context, Work work, Done done)
{
    using Result = std::invoke_result_t<Work>;
    QFuture<Result> future = QtConcurrent::run(std::move(work));
    // The continuation runs in the application object's thread, which outlives every context;
    // a context that dies first only makes it do nothing.
    const QPointer<QObject> guard(context);
    if constexpr (std::is_void_v<Result>)
        future.then(QCoreApplication::instance(), [guard, done = std::move(done)]() mutable {
            if (guard)
                done();
        });
    else
        future.then(QCoreApplication::instance(),
                    [guard, done = std::move(done)](Result result) mutable {
                        if (guard)
                            done(std::move(result));
                    });
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

// Runs file work off the GUI thread and brings its result back to it. `work` runs on a thread of its
// own; `then` runs on the GUI thread, and not at all when the context object is gone by then. `run` is
// called on the GUI thread. Every thread started for a context is waited for when the context is
// destroyed, so no work outlives its engine or posts to an application that is gone; long work reads
// `stopFlag(context)` between items to stop early.
#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QFutureWatcher>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace Background {

using StopFlag = std::shared_ptr<const std::atomic<bool>>;

// The threads of one context; a child of it, so it is destroyed (and waits) with it.
class Jobs : public QObject {
public:
    explicit Jobs(QObject* parent) : QObject(parent) {}
    ~Jobs() override { stopAndWait(); }

    void stopAndWait() {
        stop->store(true);
        std::unique_lock lock(mutex);
        idle.wait(lock, [this] { return running == 0; });
    }
    void enter() {
        const std::lock_guard lock(mutex);
        ++running;
    }
    void leave() {
        const std::lock_guard lock(mutex);
        --running;
        idle.notify_all();
    }
    [[nodiscard]] StopFlag flag() const { return stop; }

private:
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
};

// Found by name: Jobs has no meta-object of its own, so a search by type would take any child.
inline Jobs& jobsOf(QObject* context) {
    static const QString name = QStringLiteral("kestrune-background-jobs");
    if (auto* found = context->findChild<QObject*>(name, Qt::FindDirectChildrenOnly)) {
        return *static_cast<Jobs*>(found);
    }
    auto* jobs = new Jobs(context);
    jobs->setObjectName(name);
    return *jobs;
}

// What one background thread holds.
template <typename Work, typename Then> struct Job {
    Job(QPointer<QObject> guard, QPointer<QTimer> heartbeat, Work work, Then then)
        : guard(std::move(guard)), heartbeat(std::move(heartbeat)), work(std::move(work)),
          then(std::move(then)) {}
    QPointer<QObject> guard;
    QPointer<QTimer> heartbeat;
    Work work;
    Then then;
};

// Set once the context is being destroyed.
inline StopFlag stopFlag(QObject* context) {
    return jobsOf(context).flag();
}

// A function handed to the GUI thread through Qt's event queue. The queue orders everything the posting
// thread did before the function runs, and the run before the function is destroyed (on whichever thread
// lets go of it last), but with Qt's own locks and reference counts, which ThreadSanitizer does not see
// since Qt is not built with it. Under ThreadSanitizer this wrapper states that ordering; elsewhere it is
// the bare function.
template <typename Fn> class Handoff {
public:
    explicit Handoff(Fn fn) : fn(std::move(fn)) { handedOver(); }
    Handoff(Handoff&& other) noexcept : fn(std::move(other.fn)) { handedOver(); }
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;
    Handoff& operator=(Handoff&&) = delete;
    ~Handoff() { takenOver(); }

    void operator()() {
        takenOver();
        fn();
        handedOver();
    }

private:
#if defined(__SANITIZE_THREAD__)
    void handedOver() {
        __tsan_release(this);
    }
    void takenOver() {
        __tsan_acquire(this);
    }
#else
    void handedOver() {}
    void takenOver() {}
#endif
    Fn fn;
};

// Runs `fn` on the GUI thread; callable from any thread while the application exists.
template <typename Fn> void post(Fn fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), Handoff<Fn>(std::move(fn)), Qt::QueuedConnection);
}

template <typename Work, typename Then> void run(QObject* context, Work work, Then then) {
    QPointer<QObject> guard(context);
    Jobs* jobs = &jobsOf(context);
    // A heartbeat while the work runs: if the thread's wake-up of the GUI thread is ever lost (a failed
    // write to the event loop's eventfd), the loop still wakes within a quarter second and runs `then`.
    QPointer<QTimer> heartbeat = new QTimer(context);
    heartbeat->start(250);
    jobs->enter();
    std::thread([jobs, job = std::make_unique<Job<Work, Then>>(guard, heartbeat, std::move(work),
                                                               std::move(then))]() mutable {
        {
            // Everything the thread holds goes before it leaves: whatever the work or `then` captured
            // is released before the context (which waits for the leave) can be destroyed.
            const auto own = std::move(job);
            auto result = std::make_shared<std::invoke_result_t<Work&>>(own->work());
            // The context (and with it `jobs`) waits for this thread, so the application is still there.
            post([guard = own->guard, heartbeat = own->heartbeat, result,
                  then = std::move(own->then)]() mutable {
                delete heartbeat.data();
                if (guard) {
                    then(std::move(*result));
                }
            });
        }
        jobs->leave();
    }).detach();
}

// Runs `then` on the GUI thread once `future` has finished, unless `context` is gone by then. Unlike
// QFuture::then(context, ...), whose debug build asserts when the future ends after its context (an
// engine destroyed mid-operation cancels its pending steps), this simply drops the step.
template <typename Then> void after(const QFuture<void>& future, QObject* context, Then then) {
    auto* watcher = new QFutureWatcher<void>(context);
    QObject::connect(watcher, &QFutureWatcher<void>::finished, context,
                     [watcher, then = std::move(then)]() mutable {
                         watcher->deleteLater();
                         then();
                     });
    watcher->setFuture(future);
}

// A finished future, for operations that have nothing to do.
inline QFuture<void> done() {
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

// A promise shared between the steps of one asynchronous operation.
using Completion = std::shared_ptr<QPromise<void>>;

inline Completion started() {
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    return promise;
}

} // namespace Background

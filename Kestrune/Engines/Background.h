// Runs file work off the GUI thread and brings its result back to it. `work` runs on a thread of its
// own; `then` runs on the GUI thread, and not at all when the context object is gone by then.
#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QMetaObject>
#include <QPointer>
#include <QPromise>

#include <memory>
#include <thread>
#include <type_traits>

namespace Background {

template <typename Work, typename Then> void run(QObject* context, Work work, Then then) {
    QPointer<QObject> guard(context);
    std::thread([guard, work = std::move(work), then = std::move(then)]() mutable {
        auto result = std::make_shared<std::invoke_result_t<Work&>>(work());
        // The application object outlives every engine; the guard is only read on the GUI thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, result, then = std::move(then)]() mutable {
                if (guard) {
                    then(std::move(*result));
                }
            },
            Qt::QueuedConnection);
    }).detach();
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

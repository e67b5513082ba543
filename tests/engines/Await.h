// Engine tests wait for an operation's future by running the event loop, as the command line does.
#pragma once

#include <QEventLoop>
#include <QFuture>
#include <QFutureWatcher>

inline void await(const QFuture<void>& future) {
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) {
        loop.exec();
    }
}

// The D-Bus call is asynchronous: a file manager that is slow to start must not freeze the window,
// and the fallback runs only once the call has failed.
#include "Kestrune/Screens/Desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace Desktop {

void revealInFileManager(const QString& path) {
    const QString parent = QFileInfo(path).absolutePath();
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        open(parent);
        return;
    }
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 5000), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [watcher, parent] {
        if (watcher->isError()) {
            open(parent);
        }
        watcher->deleteLater();
    });
}

void open(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void copyText(const QString& text) {
    auto* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace Desktop

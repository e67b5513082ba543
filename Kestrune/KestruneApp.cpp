// The kestrune executable: creates the engines once, hands them to the main window and runs the
// desktop's event loop. Every command it offers is an engine operation.
#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/AppSettings.h"
#include "Kestrune/Screens/Icons.h"
#include "Kestrune/Screens/MainWindow.h"
#include "KestruneCore/Maintenance/Permissions.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrune"));
    QApplication::setApplicationName(QStringLiteral("kestrune"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kestrune"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrune"));
    QApplication::setWindowIcon(Icons::application());
    // Without a desktop theme Qt falls back to its plain "Windows" style; Fusion reads the palette.
    if (QApplication::style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) == 0) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }

    ScanEngine scan;
    TreemapEngine treemap;
    UninstallEngine uninstall;
    ActivityEngine& activity = ActivityEngine::shared();
    scan.activity = &activity;
    treemap.activity = &activity;
    AppSettings settings;
    MainWindow window({scan, treemap, activity, uninstall}, settings,
                      [] { return Permissions::hasFullDiskAccess(); });
    window.show();
    return QApplication::exec();
}

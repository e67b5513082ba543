// The real window on a real temporary home with the real engines, for the screen tests: the home and
// the system folders are prepared before the window is shown, because showing it starts the first scan
// and the disk-map build.
#pragma once

#include "tests/engines/Await.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/AppActions.h"
#include "Kestrune/Screens/AppSettings.h"
#include "Kestrune/Screens/ConfirmSheet.h"
#include "Kestrune/Screens/MainWindow.h"
#include "Kestrune/Screens/SheetOverlay.h"
#include "Kestrune/Screens/SidebarModel.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "tests/TestHome.h"

#include <QAction>
#include <QFuture>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QtTest>

#include <functional>
#include <memory>

namespace ScreenTest {

// Points the disk map's system scopes at a small folder of the home (the home restores the variable).
[[nodiscard]] std::string systemRootIn(const TestTree::TemporaryHome& home);

struct Window {
    explicit Window(
        ScannerList registry, std::function<bool()> hasAccess = [] { return true; });
    ~Window();

    // Shows the window (which starts the first scan) and waits until the scan and the disk map are done.
    [[nodiscard]] bool start();
    [[nodiscard]] bool idle() const;
    // Makes the files below the home.
    void make(const std::vector<TestTree::Entry>& files) const { TestTree::build(home.path(), files); }
    // The confirmation the window presents, if any.
    [[nodiscard]] ConfirmSheet* confirmation() const;

    TestTree::TemporaryHome home;
    std::string systemRoot = systemRootIn(home);
    ActivityEngine activity;
    ScanEngine scan;
    TreemapEngine treemap;
    UninstallEngine uninstall;
    AppSettings settings{QString::fromStdString(home / "settings.ini")};
    std::unique_ptr<MainWindow> window;
};

// The desktop's file manager on the test's D-Bus session, for as long as it lives or until withdrawn:
// records every ShowItems call.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    FakeFileManager();
    ~FakeFileManager() override;
    void withdraw();
    bool registered = false;
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId);
};

// QUrl text of a local path, as the file manager receives it.
[[nodiscard]] QString fileUrl(const std::string& path);
[[nodiscard]] QString human(std::int64_t bytes);
// The display texts of one column of a model's rows below `parent`, top to bottom.
[[nodiscard]] QStringList texts(const QAbstractItemModel* model, int column = 0,
                                const QModelIndex& parent = {});
// Checks the model's consistency on every change for as long as it lives.
void checkModel(QAbstractItemModel* model);
// Runs the layouts that a change just asked for, as they would have run before a user's next click.
void settle();
[[nodiscard]] QString titleOf(const ConfirmSheet* sheet);

// True when the DejaVu fonts the screens are drawn with are installed (missing fonts render boxes).
[[nodiscard]] bool fontsInstalled();

} // namespace ScreenTest

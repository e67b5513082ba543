// The real window on a real temporary home with the real engines, for the screen tests: the home and
// the system folders are prepared before the window is shown, because showing it starts the first scan
// and the disk-map build.
#pragma once

#include "tests/engines/Await.h"

#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/AppSettings.h"
#include "Kestrune/Screens/MainWindow.h"
#include "tests/TestHome.h"

#include <QFuture>

#include <functional>
#include <memory>

namespace ScreenTest {

// Points the disk map's system scopes at a small folder of the home, for as long as it lives.
struct SystemRoot {
    explicit SystemRoot(const TestTree::TemporaryHome& home);
    ~SystemRoot();
    std::string path;
};

struct Window {
    explicit Window(
        ScannerList registry, std::function<bool()> hasAccess = [] { return true; });
    ~Window();

    // Shows the window (which starts the first scan) and waits until the scan and the disk map are done.
    [[nodiscard]] bool start();
    [[nodiscard]] bool idle() const;

    TestTree::TemporaryHome home;
    SystemRoot systemRoot{home};
    ActivityEngine activity;
    ScanEngine scan;
    TreemapEngine treemap;
    UninstallEngine uninstall;
    AppSettings settings{QString::fromStdString(home / "settings.ini")};
    std::unique_ptr<MainWindow> window;
};

// Waits without blocking the event loop until the future is finished.

// True when the DejaVu fonts the screens are drawn with are installed (missing fonts render boxes).
[[nodiscard]] bool fontsInstalled();

} // namespace ScreenTest

// Measures the window's responsiveness (not a test): the time from process start to the first painted
// main window, and, while the first scan of HOME runs with the window shown, the longest gap between
// the ticks of a 5 ms timer on the GUI thread.
//   window-probe   (HOME names the home to scan; KESTRUNE_SYSTEM_ROOT, if set, the disk map's system scopes)
#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/AppSettings.h"
#include "Kestrune/Screens/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// Milliseconds since this process started, from the kernel's own record of the start.
double sinceProcessStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) {
        fields >> field;
    }
    const double startTicks = std::stod(field);
    std::ifstream uptimeFile("/proc/uptime");
    double uptime = 0;
    uptimeFile >> uptime;
    return (uptime - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

class FirstPaint : public QObject {
public:
    double at = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (at < 0 && event->type() == QEvent::Paint) {
            at = sinceProcessStart();
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ScanEngine scan;
    TreemapEngine treemap;
    UninstallEngine uninstall;
    ActivityEngine activity;
    scan.activity = &activity;
    treemap.activity = &activity;
    QTemporaryDir settingsFolder;
    AppSettings settings(settingsFolder.filePath(QStringLiteral("settings.ini")));
    MainWindow window({scan, treemap, activity, uninstall}, settings, [] { return true; });
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);

    QElapsedTimer sinceTick;
    QElapsedTimer scanTime;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    // Gaps count from the first tick after the first frame has been painted: the frame itself
    // (fonts, glyph caches, the first layout) belongs to starting up, measured above.
    bool shown = false;
    double frameDone = -1;
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
        if (!shown) {
            shown = firstPaint.at >= 0;
            if (shown) {
                frameDone = sinceProcessStart();
            }
        } else if (scan.isScanning()) {
            longestGap = std::max(longestGap, sinceTick.elapsed());
            if (qEnvironmentVariableIsSet("PROBE_VERBOSE") && sinceTick.elapsed() > 25) {
                std::printf("  gap %lld ms at %lld ms, step %d\n",
                            static_cast<long long>(sinceTick.elapsed()),
                            static_cast<long long>(scanTime.elapsed()), scan.step());
            }
        }
        sinceTick.restart();
    });
    QObject::connect(&scan, &ScanEngine::isScanningChanged, &window, [&] {
        if (scan.isScanning()) {
            scanTime.start();
            sinceTick.start();
            return;
        }
        std::printf("first paint after process start: %.0f ms (first frame done: %.0f ms)\n", firstPaint.at,
                    frameDone);
        std::printf("scan: %.1f s, %zu categories\n", double(scanTime.elapsed()) / 1000.0,
                    scan.results().size());
        std::printf("longest gap between 5 ms ticks during the scan: %lld ms\n",
                    static_cast<long long>(longestGap));
        QApplication::quit();
    });
    ticker.start();
    window.show();
    return QApplication::exec();
}

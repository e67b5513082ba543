// Renders every screen of the window to PNG files, light and dark, on a prepared temporary home with
// the real engines, so that the screens can be looked at without a desktop:
//   screenshots DIR
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/MaintenanceEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/UninstallEngine.h"
#include "Kestrune/Screens/ActivityModel.h"
#include "Kestrune/Screens/ActivityPane.h"
#include "Kestrune/Screens/AppSettings.h"
#include "Kestrune/Screens/CategoryPane.h"
#include "Kestrune/Screens/DiskMapPane.h"
#include "Kestrune/Screens/MainWindow.h"
#include "Kestrune/Screens/MaintenancePane.h"
#include "Kestrune/Screens/OverviewPane.h"
#include "Kestrune/Screens/ReclaimSheet.h"
#include "Kestrune/Screens/SheetOverlay.h"
#include "Kestrune/Screens/TreemapView.h"
#include "Kestrune/Screens/UninstallerPane.h"
#include "tests/AppsFixture.h"
#include "tests/TestHome.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

// An AppImage of `bytes` allocated (its program, then room for its file system), with a menu entry.
void appImage(const TestTree::TemporaryHome& home, const std::string& file, const std::string& name,
              off_t bytes) {
    const std::string path = AppsFixture::makeAppImage(home / ("Applications/" + file));
    const int fd = open(path.c_str(), O_WRONLY);
    (void)posix_fallocate(fd, 0, bytes);
    close(fd);
    AppsFixture::desktopEntry(home, file + ".desktop", name, path);
}

void prepareApps(const TestTree::TemporaryHome& home) {
    const struct {
        const char* file;
        const char* name;
        off_t bytes;
        long daysAgo; // -1: never opened
    } apps[] = {{"Krita-5.2.AppImage", "Krita", 310'000'000, 3},
                {"Obsidian-1.5.AppImage", "Obsidian", 118'000'000, 240},
                {"Inkscape-1.3.AppImage", "Inkscape", 96'000'000, -1},
                {"LibreSprite.AppImage", "LibreSprite", 42'000'000, 400},
                {"Zettlr.AppImage", "Zettlr", 133'000'000, 30},
                {"balenaEtcher.AppImage", "balenaEtcher", 104'000'000, -1}};
    std::string state = "<?xml version=\"1.0\"?>\n<application-state>\n  <context id=\"\">\n";
    const auto now = std::chrono::system_clock::now();
    for (const auto& a : apps) {
        appImage(home, a.file, a.name, a.bytes);
        if (a.daysAgo >= 0) {
            const auto seen = std::chrono::duration_cast<std::chrono::seconds>(
                (now - std::chrono::hours(24 * a.daysAgo)).time_since_epoch());
            state += std::string("    <application id=\"") + a.file + ".desktop\" last-seen=\"" +
                     std::to_string(seen.count()) + "\"/>\n";
        }
    }
    state += "  </context>\n</application-state>\n";
    TestTree::writeFile(home / ".local/share/gnome-shell/application_state", state);
    TestTree::makeFile(home / ".config/krita/kritarc", 60'000);
    TestTree::makeFile(home / ".local/share/krita/resources/brushes.bundle", 48'000'000);
    TestTree::makeFile(home / ".cache/krita/thumbs", 12'000'000);
    TestTree::makeFile(home / ".local/share/icons/hicolor/256x256/apps/krita.png", 40'000);
    TestTree::makeFile(home / ".config/obsidian/Cache/data", 22'000'000);
    TestTree::writeFile(home / "system/snap/spotify/current/meta/snap.yaml",
                        "name: spotify\ntitle: Spotify\n");
    TestTree::makeFile(home / "system/var/lib/snapd/snaps/spotify_75.snap", 182'000'000);
    TestTree::makeFile(home / "snap/spotify/75/.config/spotify/prefs", 4'000);
}

void prepare(const TestTree::TemporaryHome& home) {
    prepareApps(home);
    const auto old = std::chrono::system_clock::now() - 24h * 90;
    TestTree::makeFile(home / "Library/Caches/org.mozilla.firefox/cache2/entries", 412'000'000);
    TestTree::makeFile(home / "Library/Caches/com.spotify.client/Data/storage", 268'000'000);
    TestTree::makeFile(home / "Library/Caches/pip/http/wheels", 96'000'000);
    TestTree::makeFile(home / "Library/Logs/DiagnosticReports/crash.log", 14'000'000);
    TestTree::makeFile(home / "Library/Logs/Kestrel/session.log", 3'500'000);
    TestTree::makeFile(home / "Projects/website/node_modules/react/index.js", 185'000'000);
    TestTree::makeFile(home / "Projects/api/node_modules/lodash/lodash.js", 62'000'000);
    for (const std::string name : {"VirtualBox-7.0.dmg", "Slack-4.36.pkg", "Zoom-installer.dmg"}) {
        TestTree::makeFile(home / ("Downloads/" + name), 130'000'000);
        TestTree::setModified(home / ("Downloads/" + name), old);
    }
    TestTree::makeFile(home / ".local/share/Trash/files/old-videos/clip.mp4", 220'000'000);
    TestTree::writeFile(home / ".local/share/Trash/info/old-videos.trashinfo",
                        "[Trash Info]\nPath=/home/user/old-videos\nDeletionDate=2026-11-01T10:00:00\n");
    TestTree::makeFile(home / "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw",
                       2'400'000'000);
    TestTree::makeFile(home / "Documents/report.pdf", 2'000'000);
    TestTree::makeFolder(home / "system/usr/share");
    TestTree::makeFile(home / "system/usr/share/dict/words", 4'000'000);
    // The maintenance pane's items and updates: autostart entries and a user service, one of each
    // broken, a system entry, and a Flatpak that has two updates.
    TestTree::writeFile(home / ".config/autostart/com.example.OldSync.desktop",
                        "[Desktop Entry]\nExec=\"/opt/Old Sync/oldsync\" --background\n");
    TestTree::writeFile(home / ".config/autostart/notes-helper.desktop",
                        "[Desktop Entry]\nExec=/bin/sh -c true\n");
    TestTree::writeFile(home / ".config/autostart/tray-clock.desktop",
                        "[Desktop Entry]\nExec=/bin/true\nX-GNOME-Autostart-enabled=false\n");
    TestTree::writeFile(home / ".config/systemd/user/backup-agent.service",
                        "[Service]\nExecStart=%h/.local/bin/backup-agent --watch\n");
    TestTree::writeFile(home / "system/etc/xdg/autostart/print-applet.desktop",
                        "[Desktop Entry]\nExec=/usr/lib/print-applet/applet\n");
    TestTree::makeFolder(home / ".local/share/applications");
    const std::string flatpak = TestTree::writeFile(
        home / "bin/flatpak", "#!/bin/sh\nif [ \"$1\" = remote-ls ]; then\n"
                              "printf 'org.mozilla.firefox\\t128.0.3\\norg.gimp.GIMP\\t2.10.38\\n'\nelse\n"
                              "printf 'org.mozilla.firefox\\t128.0\\norg.gimp.GIMP\\t2.10.36\\n'\nfi\n");
    chmod(flatpak.c_str(), 0755);
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2e), base(0x1f, 0x1f, 0x22), text(0xea, 0xea, 0xec);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x27, 0x27, 0x2a));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x90));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x7f, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x5a, 0xa8, 0xff));
    p.setColor(QPalette::Mid, QColor(0x44, 0x44, 0x48));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x7a, 0x7a, 0x80));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x7a, 0x7a, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x7a, 0x7a, 0x80));
    return p;
}

void settle(int ms = 60) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void waitFor(const std::function<bool()>& done) {
    while (!done()) {
        settle(20);
    }
}

void save(QWidget& window, const QString& dir, const QString& name, const QString& theme) {
    // Long enough for the selected size to have counted to its figure.
    settle(400);
    const QString path = QStringLiteral("%1/%2-%3.png").arg(dir, name, theme);
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("%s\n", qPrintable(path));
}

void render(const QString& dir, const QString& theme, const TestTree::TemporaryHome& home) {
    ScanEngine scan;
    TreemapEngine treemap;
    ActivityEngine activity;
    scan.activity = &activity;
    treemap.activity = &activity;
    scan.emptyTrashViaFileManager = [] { return std::nullopt; };
    AppSettings settings(QString::fromStdString(home / "screenshots.ini"));
    UninstallEngine uninstall;
    uninstall.activity = &activity;
    Engines engines{scan, treemap, activity, uninstall};
    {
        MainWindow window(engines, settings, [] { return true; });
        window.resize(1130, 820);
        window.show();
        waitFor([&] { return scan.hasScanned() && !scan.isScanning() && !treemap.isBuilding(); });
        window.overview()->refresh();
        save(window, dir, QStringLiteral("overview"), theme);

        window.setPane(Pane::of(CategoryKind::userCaches));
        save(window, dir, QStringLiteral("category"), theme);
        window.setPane(Pane::of(CategoryKind::docker));
        save(window, dir, QStringLiteral("category-docker"), theme);

        window.setPane(Pane{});
        scan.selectAllReclaimable();
        window.requestReclaim();
        auto* sheet = qobject_cast<ReclaimSheet*>(window.overlay()->sheet());
        save(window, dir, QStringLiteral("reclaim-1-select"), theme);
        sheet->setStep(1);
        save(window, dir, QStringLiteral("reclaim-2-review"), theme);
        sheet->setStep(2);
        save(window, dir, QStringLiteral("reclaim-3-confirm"), theme);
        window.overlay()->close();
        window.requestEmptyTrash();
        save(window, dir, QStringLiteral("empty-trash"), theme);
        window.overlay()->close();

        window.setPane(Pane{Pane::Kind::maintenance, CategoryKind::userCaches});
        auto& maintenance = window.maintenanceTasks();
        waitFor([&] { return maintenance.hasLoaded() && !maintenance.isLoading(); });
        bool ran = false;
        QFutureWatcher<void> watcher;
        QObject::connect(&watcher, &QFutureWatcher<void>::finished, &watcher, [&] { ran = true; });
        watcher.setFuture(maintenance.runTask("lsregister"));
        waitFor([&] { return ran; });
        save(window, dir, QStringLiteral("maintenance"), theme);
        if (auto* scroll = window.maintenance()->findChild<QScrollArea*>()) {
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        }
        save(window, dir, QStringLiteral("maintenance-items"), theme);

        window.setPane(Pane{Pane::Kind::uninstaller, CategoryKind::userCaches});
        waitFor([&] { return !uninstall.isLoading() && !uninstall.apps().empty(); });
        save(window, dir, QStringLiteral("uninstaller"), theme);
        for (const auto& app : uninstall.apps()) {
            if (app.name == "Krita") {
                (void)uninstall.select(app);
            }
        }
        waitFor([&] { return uninstall.selectedApp() && !uninstall.isSearching(); });
        save(window, dir, QStringLiteral("uninstaller-detail"), theme);
        if (auto* pane = window.findChild<UninstallerPane*>()) {
            pane->requestUninstall();
            save(window, dir, QStringLiteral("uninstaller-confirm"), theme);
            pane->overlay()->close();
        }
        (void)uninstall.select(std::nullopt);

        window.setPane(Pane{Pane::Kind::treemap, CategoryKind::userCaches});
        save(window, dir, QStringLiteral("disk-map"), theme);
        TreemapView* map = window.diskMap()->map();
        for (const auto& tile : map->tiles()) {
            if (tile.node->name() == "Library") {
                treemap.drill(tile.node);
                break;
            }
        }
        // The pointer resting on the largest tile: its border and tooltip.
        const QPoint over = map->tileRect(0).center().toPoint();
        QMouseEvent move(QEvent::MouseMove, over, map->mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(map, &move);
        save(window, dir, QStringLiteral("disk-map-drilled"), theme);
        treemap.popTo(0);

        // The history with a reclaim of the selection recorded (the files stay, for the dark set), its
        // paths open.
        std::vector<ActivityPath> moved;
        for (const auto& item : scan.selected()) {
            moved.push_back(
                {ActivityPath::displayPath(item.url), item.bytes, PathDisposition::trashed, std::nullopt});
        }
        std::sort(moved.begin(), moved.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
        activity.recordReclaim(moved, {});
        window.setPane(Pane{Pane::Kind::history, CategoryKind::userCaches});
        window.history()->toggle(window.history()->eventModel().index(0, 0));
        save(window, dir, QStringLiteral("history"), theme);

        window.setPane(Pane{Pane::Kind::treemap, CategoryKind::userCaches});
        window.resize(760, 480);
        save(window, dir, QStringLiteral("disk-map-small"), theme);
        window.setPane(Pane{});
        save(window, dir, QStringLiteral("overview-small"), theme);
        window.hide();
    }
    {
        MainWindow gate(engines, settings, [] { return false; });
        gate.resize(1130, 820);
        gate.show();
        save(gate, dir, QStringLiteral("permission-gate"), theme);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots DIR\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(dir);
    TestTree::TemporaryHome home;
    prepare(home);
    qputenv("KESTRUNE_SYSTEM_ROOT", QByteArray::fromStdString(home / "system"));
    qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(home / "system/etc/xdg"));
    qputenv("PATH", QByteArray::fromStdString(home / "bin") + ":" + qgetenv("PATH"));
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9.5);
    QApplication::setFont(font);
    const QPalette light = QApplication::style()->standardPalette();
    QApplication::setPalette(light);
    render(dir, QStringLiteral("light"), home);
    QApplication::setPalette(darkPalette());
    render(dir, QStringLiteral("dark"), home);
    return 0;
}

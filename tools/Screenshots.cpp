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
#include <functional>
#include <memory>
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
    const std::pair<const char*, std::int64_t> files[] = {
        {"Library/Caches/org.mozilla.firefox/cache2/entries", 412'000'000},
        {"Library/Caches/com.spotify.client/Data/storage", 268'000'000},
        {"Library/Caches/pip/http/wheels", 96'000'000},
        {"Library/Logs/DiagnosticReports/crash.log", 14'000'000},
        {"Library/Logs/Kestrel/session.log", 3'500'000},
        {"Projects/website/node_modules/react/index.js", 185'000'000},
        {"Projects/api/node_modules/lodash/lodash.js", 62'000'000},
        {".local/share/Trash/files/old-videos/clip.mp4", 220'000'000},
        {"Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw", 2'400'000'000},
        {"Documents/report.pdf", 2'000'000},
        {"system/usr/share/dict/words", 4'000'000}};
    for (const auto& [path, bytes] : files) {
        TestTree::makeFile(home / path, bytes);
    }
    for (const std::string name : {"VirtualBox-7.0.dmg", "Slack-4.36.pkg", "Zoom-installer.dmg"}) {
        TestTree::setModified(TestTree::makeFile(home / ("Downloads/" + name), 130'000'000),
                              std::chrono::system_clock::now() - 24h * 90);
    }
    // The maintenance pane's items and updates: autostart entries and a user service, one of each
    // broken, a system entry, and a Flatpak that has two updates.
    const std::pair<const char*, const char*> texts[] = {
        {".local/share/Trash/info/old-videos.trashinfo",
         "[Trash Info]\nPath=/home/user/old-videos\nDeletionDate=2026-11-01T10:00:00\n"},
        {".config/autostart/com.example.OldSync.desktop",
         "[Desktop Entry]\nExec=\"/opt/Old Sync/oldsync\" --background\n"},
        {".config/autostart/notes-helper.desktop", "[Desktop Entry]\nExec=/bin/sh -c true\n"},
        {".config/autostart/tray-clock.desktop",
         "[Desktop Entry]\nExec=/bin/true\nX-GNOME-Autostart-enabled=false\n"},
        {".config/systemd/user/backup-agent.service",
         "[Service]\nExecStart=%h/.local/bin/backup-agent --watch\n"},
        {"system/etc/xdg/autostart/print-applet.desktop",
         "[Desktop Entry]\nExec=/usr/lib/print-applet/applet\n"},
        {"bin/flatpak", "#!/bin/sh\nif [ \"$1\" = remote-ls ]; then\n"
                        "printf 'org.mozilla.firefox\\t128.0.3\\norg.gimp.GIMP\\t2.10.38\\n'\nelse\n"
                        "printf 'org.mozilla.firefox\\t128.0\\norg.gimp.GIMP\\t2.10.36\\n'\nfi\n"},
    };
    for (const auto& [path, text] : texts) {
        TestTree::writeFile(home / path, text);
    }
    chmod((home / "bin/flatpak").c_str(), 0755);
    TestTree::makeFolder(home / ".local/share/applications");
}

QPalette darkPalette() {
    QPalette p;
    const QRgb text = 0xeaeaec, base = 0x1f1f22;
    const std::pair<QPalette::ColorRole, QRgb> roles[] = {{QPalette::Window, 0x2b2b2e},
                                                          {QPalette::WindowText, text},
                                                          {QPalette::Base, base},
                                                          {QPalette::AlternateBase, 0x27272a},
                                                          {QPalette::ToolTipBase, base},
                                                          {QPalette::ToolTipText, text},
                                                          {QPalette::PlaceholderText, 0x8a8a90},
                                                          {QPalette::Text, text},
                                                          {QPalette::Button, 0x3a3a3e},
                                                          {QPalette::ButtonText, text},
                                                          {QPalette::BrightText, 0xffffff},
                                                          {QPalette::Highlight, 0x2f7fe0},
                                                          {QPalette::HighlightedText, 0xffffff},
                                                          {QPalette::Link, 0x5aa8ff},
                                                          {QPalette::Mid, 0x444448},
                                                          {QPalette::Dark, 0x18181a},
                                                          {QPalette::Light, 0x4a4a4e}};
    for (const auto& [role, color] : roles) {
        p.setColor(role, QColor(color));
    }
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, QColor(0x7a7a80));
    }
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
    UninstallEngine uninstall;
    scan.activity = treemap.activity = uninstall.activity = &activity;
    scan.emptyTrashViaFileManager = [] { return std::nullopt; };
    // As root every folder opens; the maps show how entries a user could not read are reported.
    treemap.build = [real = treemap.build](const std::string& root, const VolumeTree::Options& options,
                                           const std::function<void(const VolumeTree::Progress&)>& onProgress,
                                           const std::function<bool()>& isCancelled) -> TreemapEngine::Node {
        auto node = std::make_shared<DiskNode>(*real(root, options, onProgress, isCancelled));
        node->unreadable = 3;
        return node;
    };
    AppSettings settings(QString::fromStdString(home / "screenshots.ini"));
    Engines engines{scan, treemap, activity, uninstall};
    auto window = std::make_unique<MainWindow>(engines, settings, [] { return true; });
    const auto shot = [&](const char* name) { save(*window, dir, QString::fromLatin1(name), theme); };
    window->resize(1130, 820);
    window->show();
    waitFor([&] { return scan.hasScanned() && !scan.isScanning() && !treemap.isBuilding(); });
    window->overview()->refresh();
    shot("overview");
    window->setPane(Pane::of(CategoryKind::userCaches));
    shot("category");
    window->setPane(Pane::of(CategoryKind::docker));
    shot("category-docker");

    window->setPane(Pane{});
    scan.selectAllReclaimable();
    window->requestReclaim();
    shot("reclaim-1-select");
    for (const int step : {1, 2}) {
        qobject_cast<ReclaimSheet*>(window->overlay()->sheet())->setStep(step);
        shot(step == 1 ? "reclaim-2-review" : "reclaim-3-confirm");
    }
    window->overlay()->close();
    window->requestEmptyTrash();
    shot("empty-trash");
    window->overlay()->close();

    window->setPane(Pane{Pane::Kind::maintenance, {}});
    auto& maintenance = window->maintenanceTasks();
    waitFor([&] { return maintenance.hasLoaded() && !maintenance.isLoading(); });
    bool ran = false;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &watcher, [&] { ran = true; });
    watcher.setFuture(maintenance.runTask("lsregister"));
    waitFor([&] { return ran; });
    shot("maintenance");
    auto* bar = window->maintenance()->findChild<QScrollArea*>()->verticalScrollBar();
    bar->setValue(bar->maximum());
    shot("maintenance-items");

    window->setPane(Pane{Pane::Kind::uninstaller, {}});
    waitFor([&] { return !uninstall.isLoading() && !uninstall.apps().empty(); });
    shot("uninstaller");
    (void)uninstall.select(*std::find_if(uninstall.apps().begin(), uninstall.apps().end(),
                                         [](const InstalledApp& app) { return app.name == "Krita"; }));
    waitFor([&] { return uninstall.selectedApp() && !uninstall.isSearching(); });
    shot("uninstaller-detail");
    auto* apps = window->findChild<UninstallerPane*>();
    apps->requestUninstall();
    shot("uninstaller-confirm");
    apps->overlay()->close();
    (void)uninstall.select(std::nullopt);

    window->setPane(Pane{Pane::Kind::treemap, {}});
    shot("disk-map");
    TreemapView* map = window->diskMap()->map();
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
    shot("disk-map-drilled");
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
    window->setPane(Pane{Pane::Kind::history, {}});
    window->history()->toggle(window->history()->eventModel().index(0, 0));
    shot("history");

    window->setPane(Pane{Pane::Kind::treemap, {}});
    window->resize(760, 480);
    shot("disk-map-small");
    window->setPane(Pane{});
    shot("overview-small");
    window.reset();
    window = std::make_unique<MainWindow>(engines, settings, [] { return false; });
    window->resize(1130, 820);
    window->show();
    shot("permission-gate");
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

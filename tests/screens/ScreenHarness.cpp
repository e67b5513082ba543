#include "tests/screens/ScreenHarness.h"

#include "KestruneCore/Walk/DiskMeasure.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFontDatabase>
#include <QUrl>

#include <cstdlib>

namespace ScreenTest {

std::string systemRootIn(const TestTree::TemporaryHome& home) {
    const std::string path = home / "system";
    TestTree::makeFile(path + "/usr/share/doc/readme", 40'000);
    setenv("KESTRUNE_SYSTEM_ROOT", path.c_str(), 1);
    return path;
}

Window::Window(ScannerList registry, std::function<bool()> hasAccess) : scan(std::move(registry)) {
    scan.activity = &activity;
    treemap.activity = &activity;
    uninstall.activity = &activity;
    // No desktop Trash service exists here; what the direct wipe leaves stays.
    scan.emptyTrashViaFileManager = [] { return std::nullopt; };
    scan.openTrashFolder = [](const std::string&) {};
    window = std::make_unique<MainWindow>(Engines{scan, treemap, activity, uninstall}, settings,
                                          std::move(hasAccess));
}

Window::~Window() {
    window.reset();
    // The overview starts a Trash measurement each time it is shown, and the engine's continuation of
    // it asserts in Debug builds when the engine is gone first: the engines outlive every measurement
    // and the delivery of its result (a measurement of the small test Trash takes microseconds; the
    // pause lets the finished threads' queued results arrive).
    await(scan.refreshTrashBytesLive());
    (void)QTest::qWaitFor([] { return DiskMath::measurementsInFlight() == 0; }, 10'000);
    QTest::qWait(100);
    QCoreApplication::processEvents();
}

bool Window::idle() const {
    return scan.hasScanned() && !scan.isScanning() && !treemap.isBuilding();
}

ConfirmSheet* Window::confirmation() const {
    return qobject_cast<ConfirmSheet*>(window->overlay()->sheet());
}

bool Window::start() {
    window->show();
    return QTest::qWaitFor([this] { return idle(); }, 120'000);
}

FakeFileManager::FakeFileManager() {
    auto bus = QDBusConnection::sessionBus();
    registered = bus.isConnected() &&
                 bus.registerObject("/org/freedesktop/FileManager1", this, QDBusConnection::ExportAllSlots) &&
                 bus.registerService("org.freedesktop.FileManager1");
}

FakeFileManager::~FakeFileManager() {
    withdraw();
}

void FakeFileManager::withdraw() {
    auto bus = QDBusConnection::sessionBus();
    bus.unregisterService("org.freedesktop.FileManager1");
    bus.unregisterObject("/org/freedesktop/FileManager1");
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString&) {
    shown << uris;
}

QString fileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path)).toString();
}

QString human(std::int64_t bytes) {
    return QString::fromStdString(DiskMath::human(bytes));
}

QStringList texts(const QAbstractItemModel* model, int column, const QModelIndex& parent) {
    QStringList out;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        out << model->index(row, column, parent).data().toString();
    }
    return out;
}

void checkModel(QAbstractItemModel* model) {
    new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest, model);
}

void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::processEvents();
}

QString titleOf(const ConfirmSheet* sheet) {
    return sheet->findChild<QLabel*>("confirmTitle")->text();
}

bool fontsInstalled() {
    return QFontDatabase::families().contains(QStringLiteral("DejaVu Sans"));
}

} // namespace ScreenTest

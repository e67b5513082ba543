// The scan engine's guards around a reclaim, on a real temporary home: nothing that changed after the
// scan moves, a copy goes only while its kept copy still holds the same bytes, the Trash is left without
// orphan info files, a log that cannot be written says so, and an engine that goes away during a reclaim
// stops it and waits for it.
#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/Background.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "tests/TrashFixture.h"
#include "tests/engines/Await.h"

#include <QtTest>

#include <filesystem>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace TestTree;
using namespace TrashFixture;

bool anyErrorContains(const ScanEngine& engine, const std::string& text) {
    const auto& errors = engine.errors();
    return std::any_of(errors.begin(), errors.end(),
                       [&](const std::string& e) { return e.find(text) != std::string::npos; });
}

// A temporary home with an engine that has scanned it.
struct Home {
    TemporaryHome home;
    ActivityEngine activity;
    std::unique_ptr<ScanEngine> engine;

    ScanEngine& scanned(ScannerList scanners) {
        engine = std::make_unique<ScanEngine>(std::move(scanners));
        engine->activity = &activity;
        await(engine->scan());
        return *engine;
    }
};

} // namespace

class ReclaimGuardTest : public QObject {
    Q_OBJECT

private slots:
    // The row's name is the change; `kept` whether the message names the kept copy.
    void anythingChangedSinceTheScanStaysWhereItIs_data() {
        QTest::addColumn<QString>("stays");
        QTest::addColumn<bool>("kept");
        QTest::newRow("append copy") << "b.bin" << false;
        QTest::newRow("edit kept") << "b.bin" << true;
        QTest::newRow("remove kept") << "b.bin" << true;
        QTest::newRow("rewrite installer") << "Downloads/x.iso" << false;
        QTest::newRow("folder installer") << "Downloads/x.iso" << false;
    }

    void anythingChangedSinceTheScanStaysWhereItIs() {
        QFETCH(QString, stays);
        QFETCH(bool, kept);
        Home h;
        const std::string a = writeFile(h.home / "a.bin", randomBytes(1'200'000, 1));
        const std::string b = writeFile(h.home / "b.bin", readFile(a));
        const std::string iso = writeFile(h.home / "Downloads/x.iso", randomBytes(5'100'000, 2));
        setModified(a, std::chrono::system_clock::now() - 48h);
        setModified(iso, std::chrono::system_clock::now() - 60 * 24h);
        auto& engine =
            h.scanned({std::make_shared<DownloadsScanner>(), std::make_shared<DuplicateScanner>()});
        engine.selectAllReclaimable();
        QCOMPARE(engine.selected().size(), std::size_t{2}); // x.iso and the copy b.bin
        const std::map<std::string, std::function<void()>> changes{
            {"append copy", [&] { writeFile(b, readFile(b) + "more"); }},
            {"edit kept",
             [&] {
                 auto bytes = readFile(a);
                 writeFile(a, bytes.replace(600'000, 1, 1, static_cast<char>(bytes[600'000] ^ 1)));
             }},
            {"remove kept", [&] { QVERIFY(std::filesystem::remove(a)); }},
            {"rewrite installer", [&] { writeFile(iso, randomBytes(5'100'000, 3)); }},
            {"folder installer",
             [&] {
                 QVERIFY(std::filesystem::remove(iso));
                 makeFile(iso + "/inside", 5'100'000);
             }},
        };
        changes.at(QTest::currentDataTag())();
        const std::string changed = h.home / stays.toStdString();
        const std::string message = std::string(Paths::lastComponent(changed)) + ": changed since the scan" +
                                    (kept ? " (the copy kept" : "");
        // A file's bytes, or a folder's tree (a snapshot of a file is empty).
        const auto now = [&changed] { return std::pair(readFile(changed), snapshot(changed)); };
        const auto before = now();
        await(engine.reclaimAndEmptyTrash());
        QVERIFY2(anyErrorContains(engine, message), message.c_str());
        QCOMPARE(now(), before);
        QVERIFY(!exists(stays == "Downloads/x.iso" ? b : iso)); // the unchanged item went
    }

    // Emptying removes info files whose item is gone once they are old enough not to belong to a move
    // in progress, and never an info file whose item is there.
    void emptyingSweepsOrphanInfoFiles() {
        Home h;
        const std::string info = trashRoot() + "/info/";
        const auto old = writeFile(info + "crashed.trashinfo", "");
        setModified(old, std::chrono::system_clock::now() - 1h);
        const auto young = writeFile(info + "moving.trashinfo", "[Trash Info]\n");
        const auto cache = makeFile(h.home / "Library/Caches/app/blob", 2'000'000);
        QVERIFY(Trash::moveToTrash(writeFile(h.home / "Documents/mine.txt", "mine")).ok);
        auto& engine = h.scanned({std::make_shared<UserCachesScanner>()});
        await(engine.reclaimAndEmptyTrash());
        QVERIFY(engine.errors().empty());
        // The old orphan and the reclaimed cache go; the young info file and the user's own item stay.
        const Tree left{{"files/mine.txt", "mine"},
                        {"info/mine.txt.trashinfo", readFile(info + "mine.txt.trashinfo")},
                        {"info/moving.trashinfo", "[Trash Info]\n"}};
        QCOMPARE(contents(trashRoot()), left);
        QVERIFY(!exists(cache));
    }

    // A log that cannot be read is left exactly as it is and the failure is an error of the reclaim.
    void aLogThatCannotBeWrittenIsReportedNeverReplaced() {
        Home h;
        const std::string log = ActivityStore::fileURL();
        makeFolder(log); // reading a folder fails with EISDIR, like an I/O error
        writeFile(log + "/history", "the real log");
        makeFile(h.home / "Library/Caches/app/blob", 2'000'000);
        auto& engine = h.scanned({std::make_shared<UserCachesScanner>()});
        await(engine.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        QVERIFY(anyErrorContains(engine, "Could not read the activity log"));
        QCOMPARE(readFile(log + "/history"), std::string("the real log"));
        QVERIFY(!exists(log + ".unreadable"));
    }

    // Destroying the engine while its reclaim waits for another reclaim's lock: the reclaim, let go only
    // once the engine has asked it to stop, moves nothing. (Holding it there makes the order certain.)
    void anEngineThatGoesAwayDuringAReclaimStopsAndWaits() {
        Home h;
        for (int i = 0; i < 30; ++i) {
            makeFile(h.home / ("Library/Caches/c" + std::to_string(i) + "/blob"), 1'000'000);
        }
        QCOMPARE(h.scanned({std::make_shared<UserCachesScanner>()}).selected().size(), std::size_t{30});
        auto other = Platform::FileLock::take(ScanEngine::reclaimLockPath(), Platform::FileLock::Wait::yes);
        const auto before = snapshot(h.home.path());
        (void)h.engine->reclaimAndEmptyTrash();
        QTRY_COMPARE(h.engine->progressLabel(), std::string("Waiting for another reclaim to finish\u2026"));
        std::thread release([stop = Background::stopFlag(h.engine.get()), &other] {
            while (!stop->load()) {
                std::this_thread::yield();
            }
            other = Platform::FileLock();
        });
        h.engine.reset();
        release.join();
        QCOMPARE(snapshot(h.home.path()), before);
    }
};

QTEST_GUILESS_MAIN(ReclaimGuardTest)
#include "ReclaimGuardTest.moc"

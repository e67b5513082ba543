// The scan engine's guards around a reclaim, on a real temporary home: nothing that changed after the
// scan moves, a copy goes only while its kept copy still holds the same bytes, each byte counts once in
// the lifetime total, the Trash is left without orphan info files, a log that cannot be written says so,
// and an engine that goes away mid-reclaim stops after the current item.
#include "Kestrune/Engines/ActivityEngine.h"
#include "Kestrune/Engines/ScanEngine.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Scanners/DuplicateScanner.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "tests/TestHome.h"
#include "tests/engines/Await.h"

#include <QtTest>

#include <filesystem>
#include <functional>
#include <random>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) {
        b = static_cast<char>(generator());
    }
    return bytes;
}

bool anyErrorContains(const ScanEngine& engine, const std::string& text) {
    const auto& errors = engine.errors();
    return std::any_of(errors.begin(), errors.end(),
                       [&](const std::string& e) { return e.find(text) != std::string::npos; });
}

std::string trashRoot() {
    const std::string files = Trash::filesFolder();
    return files.substr(0, files.size() - std::string("/files").size());
}

// A temporary home with an engine that has scanned it.
struct Home {
    TestTree::TemporaryHome home;
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
    void anythingChangedSinceTheScanStaysWhereItIs_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("stays");
        QTest::addColumn<QString>("message");
        QTest::newRow("copy appended to") << "append copy"
                                          << "b.bin"
                                          << "b.bin: changed since the scan";
        QTest::newRow("kept copy edited in place") << "edit kept"
                                                   << "b.bin"
                                                   << "b.bin: changed since the scan (the copy kept";
        QTest::newRow("kept copy gone") << "remove kept"
                                        << "b.bin"
                                        << "b.bin: changed since the scan (the copy kept";
        QTest::newRow("installer rewritten") << "rewrite installer"
                                             << "Downloads/x.iso"
                                             << "x.iso: changed since the scan";
        QTest::newRow("installer replaced by a folder") << "folder installer"
                                                        << "Downloads/x.iso"
                                                        << "x.iso: changed since the scan";
    }

    void anythingChangedSinceTheScanStaysWhereItIs() {
        QFETCH(QString, change);
        QFETCH(QString, stays);
        QFETCH(QString, message);
        Home h;
        const std::string a = TestTree::writeFile(h.home / "a.bin", randomBytes(1'200'000, 1));
        const std::string b = TestTree::writeFile(h.home / "b.bin", TestTree::readFile(a));
        TestTree::setModified(a, std::chrono::system_clock::now() - 48h);
        const std::string iso = TestTree::writeFile(h.home / "Downloads/x.iso", randomBytes(5'100'000, 2));
        TestTree::setModified(iso, std::chrono::system_clock::now() - 60 * 24h);
        auto& engine =
            h.scanned({std::make_shared<DownloadsScanner>(), std::make_shared<DuplicateScanner>()});
        engine.selectAllReclaimable();
        QCOMPARE(engine.selected().size(), std::size_t{2}); // x.iso and the copy b.bin
        const std::map<QString, std::function<void()>> changes{
            {"append copy", [&] { TestTree::writeFile(b, TestTree::readFile(b) + "more"); }},
            {"edit kept",
             [&] {
                 auto bytes = TestTree::readFile(a);
                 bytes[600'000] ^= 1;
                 TestTree::writeFile(a, bytes);
             }},
            {"remove kept", [&] { QVERIFY(std::filesystem::remove(a)); }},
            {"rewrite installer", [&] { TestTree::writeFile(iso, randomBytes(5'100'000, 3)); }},
            {"folder installer",
             [&] {
                 QVERIFY(std::filesystem::remove(iso));
                 TestTree::makeFile(iso + "/inside", 5'100'000);
             }},
        };
        changes.at(change)();
        const std::string kept = h.home / stays.toStdString();
        const auto before = TestTree::snapshot(kept);
        await(engine.reclaimAndEmptyTrash());
        QVERIFY2(anyErrorContains(engine, message.toStdString()), qPrintable(message));
        QVERIFY(TestTree::exists(kept));
        QCOMPARE(TestTree::snapshot(kept), before);
        QVERIFY(!TestTree::exists(stays == "Downloads/x.iso" ? b : iso)); // the unchanged item went
    }

    // A reclaim that trashes and then empties adds exactly what it freed to the lifetime total, once;
    // a file that keeps a hard link outside what went frees nothing, one linked only inside frees once.
    void theLifetimeTotalCountsEachByteOnce() {
        Home h;
        const auto& home = h.home;
        TestTree::makeFile(home / "Library/Caches/app/blob", 3'000'000);
        const std::string inside = TestTree::makeFile(home / "Library/Caches/app/twice", 200'000);
        QVERIFY(link(inside.c_str(), (home / "Library/Caches/app/twice-again").c_str()) == 0);
        const std::string kept = TestTree::makeFile(home / "Documents/shared", 400'000);
        QVERIFY(link(kept.c_str(), (home / "Library/Caches/app/shared").c_str()) == 0);
        const std::string trashed =
            TestTree::writeFile(Trash::filesFolder() + "/old", std::string(100'000, 'x'));
        QVERIFY(link(trashed.c_str(), (home / "Documents/old").c_str()) == 0);
        const auto documents = TestTree::snapshot(home / "Documents");
        auto& engine = h.scanned({std::make_shared<UserCachesScanner>(), std::make_shared<TrashScanner>()});
        const std::int64_t freed =
            engine.selectedBytes() - TestTree::allocated(kept) - TestTree::allocated(trashed);
        await(engine.reclaimAndEmptyTrash());
        QVERIFY(engine.errors().empty());
        QVERIFY(!TestTree::exists(home / "Library/Caches/app"));
        QCOMPARE(TestTree::snapshot(home / "Documents"), documents);
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, freed);
        QCOMPARE(h.activity.lifetimeReclaimed(), freed);
    }

    // Empty Trash empties every Trash of the user, here a Snap app's own, and counts it freed.
    void emptyTrashEmptiesTheOtherTrashesToo() {
        Home h;
        const std::string snapHome = h.home / "snap/firefox/4521";
        const std::string own = TestTree::makeFile(Trash::filesFolder() + "/own", 100'000);
        const std::string snap =
            TestTree::makeFile(snapHome + "/.local/share/Trash/files/page/saved.html", 300'000);
        const std::int64_t bytes = TestTree::allocated(own) + TestTree::allocated(snap);
        TestTree::makeFile(snapHome + "/.local/share/firefox/profile", 50'000);
        auto& engine = h.scanned({std::make_shared<TrashScanner>()});
        await(engine.emptyTrash(ScanEngine::Rescan::no));
        QVERIFY(engine.errors().empty());
        QVERIFY(!TestTree::exists(own) && !TestTree::exists(snapHome + "/.local/share/Trash/files/page"));
        QVERIFY(TestTree::exists(snapHome + "/.local/share/firefox/profile"));
        QCOMPARE(h.activity.lifetimeReclaimed(), bytes);
    }

    // Emptying removes info files whose item is gone once they are old enough not to belong to a move
    // in progress, and never an info file whose item is there.
    void emptyingSweepsOrphanInfoFiles() {
        Home h;
        const std::string info = trashRoot() + "/info/";
        const auto old = TestTree::writeFile(info + "crashed.trashinfo", "");
        TestTree::setModified(old, std::chrono::system_clock::now() - 1h);
        const auto young = TestTree::writeFile(info + "moving.trashinfo", "[Trash Info]\n");
        const auto cache = TestTree::makeFile(h.home / "Library/Caches/app/blob", 2'000'000);
        QVERIFY(Trash::moveToTrash(TestTree::writeFile(h.home / "Documents/mine.txt", "mine")).ok);
        auto& engine = h.scanned({std::make_shared<UserCachesScanner>()});
        await(engine.reclaimAndEmptyTrash());
        QVERIFY(engine.errors().empty());
        QVERIFY(!TestTree::exists(old));
        QVERIFY(TestTree::exists(young));
        QVERIFY(TestTree::exists(info + "mine.txt.trashinfo")); // the user's own, still in the Trash
        QCOMPARE(TestTree::readFile(Trash::filesFolder() + "/mine.txt"), std::string("mine"));
        QVERIFY(!TestTree::exists(cache));
    }

    // A log that cannot be read is left exactly as it is and the failure is an error of the reclaim.
    void aLogThatCannotBeWrittenIsReportedNeverReplaced() {
        Home h;
        const std::string log = ActivityStore::fileURL();
        TestTree::makeFolder(log); // reading a folder fails with EISDIR, like an I/O error
        TestTree::writeFile(log + "/history", "the real log");
        TestTree::makeFile(h.home / "Library/Caches/app/blob", 2'000'000);
        auto& engine = h.scanned({std::make_shared<UserCachesScanner>()});
        await(engine.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        QVERIFY(!h.activity.logError().empty());
        QVERIFY(anyErrorContains(engine, "Could not read the activity log"));
        QCOMPARE(TestTree::readFile(log + "/history"), std::string("the real log"));
        QVERIFY(!TestTree::exists(log + ".unreadable"));
    }

    // Destroying the engine during a reclaim waits for the current item; every item is then either in
    // place or in the Trash with its info file, and nothing runs on afterwards.
    void anEngineThatGoesAwayMidReclaimStopsCleanly() {
        Home h;
        for (int i = 0; i < 300; ++i) {
            TestTree::makeFile(h.home / ("Library/Caches/c" + std::to_string(i) + "/blob"), 1'000'000);
        }
        QCOMPARE(h.scanned({std::make_shared<UserCachesScanner>()}).selected().size(), std::size_t{300});
        (void)h.engine->reclaimAndEmptyTrash();
        h.engine.reset();
        int inPlace = 0;
        for (int i = 0; i < 300; ++i) {
            const std::string name = "c" + std::to_string(i);
            if (TestTree::exists(h.home / ("Library/Caches/" + name + "/blob"))) {
                ++inPlace;
                continue;
            }
            QVERIFY2(TestTree::exists(Trash::filesFolder() + "/" + name + "/blob"), name.c_str());
            QVERIFY2(TestTree::exists(trashRoot() + "/info/" + name + ".trashinfo"), name.c_str());
        }
        QVERIFY2(inPlace > 0, "the reclaim ran to its end before the engine went away");
    }
};

QTEST_GUILESS_MAIN(ReclaimGuardTest)
#include "ReclaimGuardTest.moc"

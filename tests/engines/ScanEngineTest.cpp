// The scan engine and the activity engine on a real temporary home: scanning and its progress, the
// selections, the Trash reconciliation thresholds, reclaiming and emptying the Trash (with what was not
// selected left byte for byte, and each freed byte counted once) and the recorded texts.
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/ActivityEngine.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Scanners/CacheScanners.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"
#include "tests/engines/Await.h"

#include <QSemaphore>
#include <QtTest>

#include <algorithm>
#include <atomic>

#include <unistd.h>

namespace {

// A scanner of the test: reports one path, measured unless its size is given.
class FixedScanner final : public Scanner {
public:
    FixedScanner(CategoryKind kind, std::string path, std::int64_t bytes, bool recommended)
        : category(kind), item(std::move(path), 0, Dates::distantPast) {
        item.bytes = bytes < 0 ? DiskMath::size(item.url) : bytes;
        item.recommended = recommended;
    }
    [[nodiscard]] CategoryKind kind() const override { return category; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override { return {item}; }

private:
    CategoryKind category;
    CleanupItem item;
};

std::shared_ptr<const Scanner> fixed(CategoryKind kind, const std::string& path, std::int64_t bytes = -1,
                                     bool recommended = true) {
    return std::make_shared<FixedScanner>(kind, path, bytes, recommended);
}

// A scanner that finds nothing and waits until the GUI thread has handled an event posted to it: only
// possible while the scan runs off the GUI thread. The wait is bounded only to fail rather than hang.
class GuiProbe final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::logs; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override {
        const auto handled = std::make_shared<QSemaphore>();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handled] { handled->release(); }, Qt::QueuedConnection);
        guiTurned = handled->tryAcquire(1, 60'000);
        return {};
    }
    mutable std::atomic<bool> guiTurned{false};
};

ScannerList realScanners() {
    return {std::make_shared<UserCachesScanner>(), std::make_shared<LogsScanner>(),
            std::make_shared<NodeModulesScanner>(), std::make_shared<DownloadsScanner>(),
            std::make_shared<TrashScanner>()};
}

std::set<std::string> selectedUrls(const ScanEngine& engine) {
    return TestTree::urls({engine.selected().begin(), engine.selected().end()});
}

std::vector<ActivityEvent> storedEvents() {
    return ActivityStore::load().events;
}

using Dispositions = std::map<std::string, PathDisposition>;

// What became of each path of each stored event, newest event first.
std::vector<Dispositions> storedDispositions() {
    std::vector<Dispositions> out;
    for (const auto& event : storedEvents()) {
        out.emplace_back();
        for (const auto& path : event.paths) {
            out.back()[path.path] = path.disposition;
        }
    }
    return out;
}

std::pair<int, int> stateOf(const ScanEngine& engine, CategoryKind kind) {
    const auto state = engine.selectionState(kind);
    return {state.checked, state.total};
}

// A temporary home with an activity engine of its own and, once asked, a scan engine that has scanned it.
struct Home {
    TestTree::TemporaryHome dir;
    ActivityEngine activity;
    std::unique_ptr<ScanEngine> engine;

    [[nodiscard]] std::string operator/(const std::string& relative) const { return dir / relative; }
    [[nodiscard]] std::string path() const { return dir.path(); }
    ScanEngine& make(ScannerList scanners) {
        engine = std::make_unique<ScanEngine>(std::move(scanners));
        engine->activity = &activity;
        return *engine;
    }
    ScanEngine& scanned(ScannerList scanners) {
        await(make(std::move(scanners)).scan());
        return *engine;
    }
};

} // namespace

class ScanEngineTest : public QObject {
    Q_OBJECT

private slots:
    // The scan runs off the GUI thread, a second one meanwhile is ignored and each report names its
    // category. The recommended selection holds only safe categories (node_modules is in one, but its
    // scanner advises against it); advice is never selectable, and reclaiming it changes nothing.
    void aScanRunsInTheBackgroundAndRecommendsOnlySafeCategories() {
        Home home;
        TestTree::build(home.path(), {{".local/share/Trash/files/old", "x"},
                                      {"Library/Caches/app/blob", 2'000'000},
                                      {"Desktop/Screenshot 1.png", "png"},
                                      {"Downloads/setup.dmg", 6'000'000, 60},
                                      {"sim/device", "d"},
                                      {"docker/image", "i"},
                                      {"project/node_modules", "held"}});
        const std::string trashed = Trash::filesFolder() + "/old", cache = home / "Library/Caches/app",
                          shot = home / "Desktop/Screenshot 1.png", installer = home / "Downloads/setup.dmg",
                          sim = home / "sim/device", docker = home / "docker/image",
                          held = home / "project/node_modules";
        const auto probe = std::make_shared<GuiProbe>();
        auto& engine =
            home.make({std::make_shared<UserCachesScanner>(), std::make_shared<DownloadsScanner>(),
                       std::make_shared<TrashScanner>(), fixed(CategoryKind::screenshots, shot),
                       fixed(CategoryKind::nodeModules, held, -1, false),
                       fixed(CategoryKind::simulators, sim), fixed(CategoryKind::docker, docker), probe});
        std::vector<std::string> labels;
        connect(&engine, &ScanEngine::progressLabelChanged, this,
                [&] { labels.push_back(engine.progressLabel()); });
        auto first = engine.scan();
        QVERIFY(engine.isScanning() && engine.scan().isFinished());
        await(first);
        QVERIFY2(probe->guiTurned, "the GUI thread did not run its event loop while the scan ran");
        QCOMPARE(std::tuple(engine.isScanning(), engine.hasScanned(), engine.step(), engine.stepCount(),
                            engine.progress()),
                 std::tuple(false, true, 8, 8, 1.0));
        // One label per report, each naming a category, then the empty label.
        QVERIFY(labels.size() >= 2);
        QCOMPARE(labels.back(), std::string());
        for (std::size_t i = 0; i + 1 < labels.size(); ++i) {
            QVERIFY2(labels[i].starts_with("Scanning ") && labels[i].ends_with("\u2026"), labels[i].c_str());
        }

        QCOMPARE(selectedUrls(engine), (std::set{trashed, cache}));
        QCOMPARE(stateOf(engine, CategoryKind::trash), std::pair(1, 1));
        QCOMPARE(stateOf(engine, CategoryKind::xcode), std::pair(0, 0));
        engine.selectAllReclaimable();
        QCOMPARE(selectedUrls(engine), (std::set{trashed, cache, shot, installer, held}));
        QCOMPARE(stateOf(engine, CategoryKind::simulators), std::pair(0, 1));
        QCOMPARE(engine.selectedBytes(), engine.totalFound() -
                                             engine.result(CategoryKind::simulators)->bytes() -
                                             engine.result(CategoryKind::docker)->bytes());

        const auto before = TestTree::snapshot(home.path());
        engine.setSelected({CleanupItem(sim, 1, {}), CleanupItem(docker, 1, {})});
        await(engine.reclaimAndEmptyTrash());
        QCOMPARE(engine.selected().size(), std::size_t{2});
        QCOMPARE(TestTree::snapshot(home.path()), before);
        QCOMPARE(storedEvents().size(), std::size_t{1}); // the one scan
    }

    void reconcilingDropsAnOutdatedTrashResult_data() {
        QTest::addColumn<qint64>("scanned");
        QTest::addColumn<qint64>("live");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("result at 1,000,000 stays") << qint64(1'000'000) << qint64(0) << false;
        QTest::newRow("result above 1,000,000") << qint64(1'000'001) << qint64(0) << true;
        QTest::newRow("below 500,000") << qint64(4'000'000) << qint64(400'000) << true;
        QTest::newRow("at 500,000") << qint64(4'000'000) << qint64(500'000) << false;
        QTest::newRow("big: below T/20") << qint64(40'000'000) << qint64(1'999'999) << true;
        QTest::newRow("big: at T/20") << qint64(40'000'000) << qint64(2'000'000) << false;
    }
    void reconcilingDropsAnOutdatedTrashResult() {
        QFETCH(qint64, scanned);
        QFETCH(qint64, live);
        QFETCH(bool, dropped);
        Home home;
        auto& engine = home.make(
            {fixed(CategoryKind::trash, TestTree::writeFile(Trash::filesFolder() + "/x", "x"), scanned)});
        engine.measureTrash = [live](const std::string&) { return std::int64_t{live}; };
        await(engine.scan());
        await(engine.reconcileTrashWithDisk());
        QCOMPARE(engine.result(CategoryKind::trash) == nullptr, dropped);
        QCOMPARE(engine.selected().empty(), dropped);
    }

    void reclaimTrashesDeletesAndLeavesTheRestByteForByte() {
        Home home;
        // Small/tiny is below the floor. Hard links: one file linked only inside the cache frees once, one
        // also linked in Documents frees nothing, and so does the Trash item linked there.
        TestTree::build(home.path(), {{"Library/Caches/app/blob", 2'000'000},
                                      {"Library/Caches/app/index", "index"},
                                      {"Library/Caches/app/twice", 200'000},
                                      {"Library/Logs/big.log", 300'000},
                                      {".local/share/Trash/files/old-report", "old"},
                                      {"Documents/thesis.tex", "precious"},
                                      {"Documents/shared", 400'000},
                                      {"Library/Caches/small/tiny", 4096},
                                      {"Downloads/keep.pdf", "pdf"}});
        const std::string cache = home / "Library/Caches/app", log = home / "Library/Logs/big.log",
                          oldTrash = Trash::filesFolder() + "/old-report", shared = home / "Documents/shared";
        for (const auto& [from, to] :
             {std::pair(cache + "/twice", cache + "/twice-again"), std::pair(shared, cache + "/shared"),
              std::pair(oldTrash, home / "Documents/old-report")}) {
            QVERIFY(link(from.c_str(), to.c_str()) == 0);
        }
        // Every file but the selected ones, the Trash and the audit log stays byte for byte.
        const auto unselected = [&home] {
            auto files = TestTree::snapshot(home.path());
            std::erase_if(files, [](const auto& file) {
                return file.first.starts_with("Library/Caches/app") || file.first == "Library/Logs/big.log" ||
                       file.first.starts_with(".local/share/");
            });
            return files;
        };
        const auto kept = unselected();
        auto& engine = home.scanned(realScanners());
        QCOMPARE(engine.selected().size(), std::size_t{3}); // cache, log, the Trash item
        const std::int64_t selectedBytes = engine.selectedBytes();
        const std::int64_t linkedTrash = TestTree::allocated(oldTrash);
        const std::int64_t freed = selectedBytes - TestTree::allocated(shared) - linkedTrash;
        await(engine.reclaimAndEmptyTrash());
        QVERIFY(engine.errors().empty());
        QVERIFY(!TestTree::exists(cache) && !TestTree::exists(log) && !TestTree::exists(oldTrash));
        QCOMPARE(unselected(), kept);
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, freed);
        // Newest first: the rescan, the emptying, the reclaim, the first scan. The emptying deletes the two
        // items just trashed; what was already in the Trash is never trashed again.
        constexpr auto removed = PathDisposition::removed, trashed = PathDisposition::trashed;
        QCOMPARE(storedDispositions(),
                 (std::vector<Dispositions>{{},
                                            {{"~/.local/share/Trash/files/app", removed},
                                             {"~/.local/share/Trash/files/big.log", removed}},
                                            {{"~/Library/Caches/app", trashed},
                                             {"~/Library/Logs/big.log", trashed},
                                             {"~/.local/share/Trash/files/old-report", removed}},
                                            {}}));
        const auto events = storedEvents();
        QCOMPARE(events[1].meta.at("emptyTrash"), std::string("true"));
        QCOMPARE(events[2].bytes.value_or(-1), selectedBytes - linkedTrash); // removing it freed nothing
    }

    void anItemThatCannotMoveStaysSelectedWithItsReason() {
        Home home;
        const std::string stuck = TestTree::makeFile(home / "Library/Caches/stuck", 2'000'000);
        const std::string free = TestTree::makeFile(home / "Library/Caches/free", 2'000'000);
        if (TestTree::run({"/usr/bin/chattr", "+i", stuck}).status != 0) {
            QSKIP("chattr +i is not possible here");
        }
        auto& engine = home.scanned({std::make_shared<UserCachesScanner>()});
        const std::int64_t stuckBytes = DiskMath::size(stuck);
        await(engine.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        const bool stillThere = TestTree::exists(stuck);
        (void)TestTree::run({"/usr/bin/chattr", "-i", stuck});
        QVERIFY(stillThere);
        QVERIFY(!TestTree::exists(free));
        QCOMPARE(engine.errors(), std::vector<std::string>{std::string("stuck: ") + std::strerror(EPERM)});
        QCOMPARE(engine.selected(), ScanEngine::Selection{CleanupItem(stuck, 0, {})});
        QCOMPARE(storedDispositions().front(),
                 (Dispositions{{"~/Library/Caches/stuck", PathDisposition::failed},
                               {"~/Library/Caches/free", PathDisposition::trashed}}));
        const auto paths = storedEvents().front().paths;
        QCOMPARE(*std::ranges::find(paths, PathDisposition::failed, &ActivityPath::disposition),
                 (ActivityPath{"~/Library/Caches/stuck", stuckBytes, PathDisposition::failed,
                               std::strerror(EPERM)}));
    }

    // A Trash of only .DS_Store, or one never created, is empty: nothing to delete, record or report.
    void emptyingAnEmptyTrashRecordsNothing() {
        for (const bool created : {true, false}) {
            Home home;
            const std::string dsStore = Trash::filesFolder() + "/.DS_Store";
            if (created) {
                TestTree::writeFile(dsStore, "finder");
            }
            await(home.make(ScannerList{}).emptyTrash(ScanEngine::Rescan::no));
            QCOMPARE(TestTree::exists(dsStore), created);
            QVERIFY(home.engine->errors().empty() && storedEvents().empty());
        }
    }

    // Emptying wipes every Trash of the user, here a Snap app's own too, and leaves the rest of that app's
    // home. What the wipe leaves (measured here as `left`) sends the emptying on to the file manager only
    // above 1,000,000 bytes, and what the file manager then frees counts.
    void emptyingWipesEveryTrashAndAsksTheFileManagerOnlyAboveOneMillionBytesLeft_data() {
        QTest::addColumn<qint64>("left");
        QTest::addColumn<bool>("asked");
        QTest::newRow("1,000,000") << qint64(1'000'000) << false;
        QTest::newRow("1,000,001") << qint64(1'000'001) << true;
    }
    void emptyingWipesEveryTrashAndAsksTheFileManagerOnlyAboveOneMillionBytesLeft() {
        QFETCH(qint64, left);
        QFETCH(bool, asked);
        Home home;
        const std::string own = TestTree::makeFile(Trash::filesFolder() + "/a", 100'000);
        const std::string snapHome = home / "snap/firefox/4521";
        const std::string snapTrash = snapHome + "/.local/share/Trash/files";
        TestTree::makeFile(snapTrash + "/page/saved.html", 300'000);
        const std::string profile = TestTree::writeFile(snapHome + "/.local/share/firefox/profile", "mine");
        const std::int64_t wiped = TestTree::allocated(own) + TestTree::allocatedTree(snapTrash + "/page");
        auto& engine = home.make(ScannerList{});
        int calls = 0;
        engine.measureTrash = [&](const std::string& path) -> std::int64_t {
            return path != snapTrash ? 0 : calls == 0 ? left : left - 1000;
        };
        engine.emptyTrashViaFileManager = [&] {
            ++calls;
            return std::optional<std::string>("File Manager could not empty Trash");
        };
        await(engine.emptyTrash(ScanEngine::Rescan::no));
        QVERIFY(!TestTree::exists(own) && !TestTree::exists(snapTrash + "/page"));
        QCOMPARE(TestTree::readFile(profile), std::string("mine"));
        const auto events = storedEvents();
        QCOMPARE(events.size(), std::size_t{1});
        QCOMPARE(std::tuple(calls, engine.lastReclaimed(), home.activity.lifetimeReclaimed(),
                            engine.errors().size(), events[0].paths.size(),
                            events[0].detail->ends_with(" \u2014 File Manager could not empty Trash")),
                 std::tuple(asked ? 1 : 0, wiped + (asked ? 1000 : 0), wiped, std::size_t(asked ? 1 : 0),
                            std::size_t{2}, asked));
    }

    // Each event's title, detail and bytes, and the lifetime total after it: moving to the Trash frees
    // nothing yet, the lifetime counts bytes when they leave the disk.
    void activityTextsAreStoredAsBuilt() {
        Home home;
        constexpr auto trashed = PathDisposition::trashed, removed = PathDisposition::removed,
                       failed = PathDisposition::failed;
        using Row = std::tuple<std::string, std::string, std::int64_t, std::int64_t>;
        const auto recorded = [] {
            const auto e = storedEvents().front();
            return Row{e.title, e.detail.value_or(""), e.bytes.value_or(-1),
                       ActivityStore::load().lifetimeReclaimedBytes};
        };
        home.activity.recordReclaim(
            {{"~/a", 100, trashed, {}}, {"~/b", 200, trashed, {}}, {"~/c", 50, failed, "EPERM"}},
            {"c: EPERM"});
        QCOMPARE(recorded(),
                 Row("Reclaimed " + DiskMath::human(300), "2 items moved, 1 failed \u2014 c: EPERM", 300, 0));
        home.activity.recordReclaim({{"~/t", 300, removed, {}}}, {"e1", "e2", "e3", "e4"});
        QCOMPARE(recorded(),
                 Row("Reclaimed " + DiskMath::human(300), "1 item moved \u2014 e1; e2; e3", 300, 300));
        home.activity.recordReclaim({{"~/x", 70, failed, "busy"}}, {"x: busy"});
        QCOMPARE(recorded(),
                 Row("Reclaim finished with errors", "0 items moved, 1 failed \u2014 x: busy", 0, 300));
        home.activity.recordEmptyTrash({{"~/.local/share/Trash/files/z", 4096, removed, {}}}, {});
        QCOMPARE(recorded(), Row("Emptied Trash \u00B7 " + DiskMath::human(4096),
                                 "1 item permanently deleted", 4096, 4396));
        QCOMPARE(home.activity.lifetimeReclaimed(), std::int64_t{4396});
        home.activity.recordMaintenance("Rebuild", "Done.");
        QVERIFY(!storedEvents().front().bytes.has_value());
    }
};

QTEST_GUILESS_MAIN(ScanEngineTest)
#include "ScanEngineTest.moc"

// The scan engine and the activity engine on a real temporary home: scanning and its progress, the
// selections, the Trash reconciliation thresholds, reclaiming and emptying the Trash (with what was not
// selected left byte for byte), the recorded texts, and a GUI thread that stays responsive.
#include "Kestrune/Engines/ScanEngine.h"
#include "Kestrune/Engines/ActivityEngine.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Scanners/CacheScanners.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"
#include "tests/engines/Await.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A scanner of the test: reports the given paths with the given sizes (measured when negative).
class FixedScanner final : public Scanner {
public:
    FixedScanner(CategoryKind kind, std::vector<std::pair<std::string, std::int64_t>> items)
        : category(kind), items(std::move(items)) {}
    [[nodiscard]] CategoryKind kind() const override { return category; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override {
        std::vector<CleanupItem> out;
        for (const auto& [path, bytes] : items) {
            out.emplace_back(path, bytes < 0 ? DiskMath::size(path) : bytes, Dates::distantPast);
        }
        return out;
    }

private:
    CategoryKind category;
    std::vector<std::pair<std::string, std::int64_t>> items;
};

std::shared_ptr<const Scanner> fixed(CategoryKind kind,
                                     std::vector<std::pair<std::string, std::int64_t>> items) {
    return std::make_shared<FixedScanner>(kind, std::move(items));
}

ScannerList realScanners() {
    return {std::make_shared<UserCachesScanner>(), std::make_shared<LogsScanner>(),
            std::make_shared<NodeModulesScanner>(), std::make_shared<DownloadsScanner>(),
            std::make_shared<TrashScanner>()};
}

bool chattr(const std::string& flag, const std::string& path) {
    return TestTree::run({"/usr/bin/chattr", flag, path}).status == 0;
}

// Every file of the home except those under the given paths: what must be untouched by a reclaim.
std::map<std::string, std::string> unselected(const std::string& home,
                                              const std::vector<std::string>& selected) {
    auto all = TestTree::snapshot(home);
    std::map<std::string, std::string> kept;
    for (const auto& [relative, hash] : all) {
        const std::string path = home + "/" + relative;
        // The Trash and the audit log change by design.
        bool chosen = false;
        for (const std::string own : {".local/share/Trash", ".local/share/Kestrune"}) {
            chosen = chosen || relative == own || relative.starts_with(own + "/");
        }
        for (const auto& s : selected) {
            chosen = chosen || path == s || path.starts_with(s + "/");
        }
        if (!chosen) {
            kept[relative] = hash;
        }
    }
    return kept;
}

std::vector<ActivityEvent> storedEvents() {
    return ActivityStore::load().events;
}

} // namespace

class ScanEngineTest : public QObject {
    Q_OBJECT

private slots:
    void aSecondScanWhileScanningIsIgnored() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        TestTree::makeFile(home / "Library/Caches/big", 2'000'000);
        ScanEngine engine(realScanners());
        engine.activity = &activity;
        std::vector<std::string> labels;
        std::vector<int> steps;
        connect(&engine, &ScanEngine::progressLabelChanged, this,
                [&] { labels.push_back(engine.progressLabel()); });
        connect(&engine, &ScanEngine::stepChanged, this, [&] { steps.push_back(engine.step()); });
        auto first = engine.scan();
        QVERIFY(engine.isScanning());
        auto second = engine.scan();
        QVERIFY(second.isFinished());
        await(first);
        QVERIFY(!engine.isScanning());
        QCOMPARE(engine.progressLabel(), std::string());
        QCOMPARE(engine.step(), 5);
        QCOMPARE(engine.stepCount(), 5);
        QVERIFY(engine.hasScanned());
        QCOMPARE(engine.progress(), 1.0);
        // One label per report, each naming a category of the registry, then the empty label.
        QVERIFY(labels.size() >= 2);
        QCOMPARE(labels.back(), std::string());
        for (std::size_t i = 0; i + 1 < labels.size(); ++i) {
            QVERIFY2(labels[i].starts_with("Scanning ") && labels[i].ends_with("\u2026"), labels[i].c_str());
        }
        QCOMPARE(steps.back(), 5);
        const auto events = storedEvents();
        QCOMPARE(events.size(), std::size_t{1});
        QCOMPARE(events[0].title, std::string("Scan finished"));
        QCOMPARE(activity.events().size(), std::size_t{1});
    }

    void theRecommendedSelectionHoldsOnlySafeCategories() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string trashed = TestTree::writeFile(Trash::filesFolder() + "/old", "x");
        const std::string cache = TestTree::makeFile(home / "Library/Caches/app/blob", 2'000'000);
        const std::string shot = TestTree::writeFile(home / "Desktop/Screenshot 1.png", "png");
        const std::string installer = TestTree::makeFile(home / "Downloads/setup.dmg", 6'000'000);
        TestTree::setModified(installer, Dates::now() - std::chrono::hours(24 * 60));
        const std::string sim = TestTree::writeFile(home / "sim/device", "d");
        ScanEngine engine({std::make_shared<UserCachesScanner>(), std::make_shared<DownloadsScanner>(),
                           std::make_shared<TrashScanner>(), fixed(CategoryKind::screenshots, {{shot, -1}}),
                           fixed(CategoryKind::simulators, {{sim, -1}})});
        engine.activity = &activity;
        await(engine.scan());
        auto selected = [&](const std::string& path) {
            return engine.selected().contains(CleanupItem(path, 0, {}));
        };
        QVERIFY(selected(trashed));
        QVERIFY(selected(home / "Library/Caches/app"));
        QVERIFY(!selected(shot));
        QVERIFY(!selected(installer));
        QVERIFY(!selected(sim));
        QCOMPARE(engine.selectionState(CategoryKind::trash).checked, 1);
        QCOMPARE(engine.selectionState(CategoryKind::trash).total, 1);
        QCOMPARE(engine.selectionState(CategoryKind::xcode).total, 0);
        QCOMPARE(engine.selectionState(CategoryKind::screenshots).checked, 0);
        engine.selectAllReclaimable();
        QVERIFY(selected(shot));
        QVERIFY(selected(installer));
        QVERIFY(!selected(sim));
        QCOMPARE(engine.selectionState(CategoryKind::simulators).checked, 0);
        QCOMPARE(engine.selectionState(CategoryKind::simulators).total, 1);
        QCOMPARE(engine.selectedBytes(),
                 engine.totalFound() - engine.result(CategoryKind::simulators)->bytes());
    }

    void itemsInUseOrWorthALookAreNotRecommendedInSafeCategories() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string editorCache = home / ".config/Code/CachedData";
        TestTree::makeFile(editorCache + "/a/blob", 21'000'000);
        const std::string chatCache = home / ".config/Slack/Cache";
        TestTree::makeFile(chatCache + "/blob", 21'000'000);
        const std::string maven = home / ".m2/repository";
        TestTree::makeFile(maven + "/com/example/app.jar", 11'000'000);
        const std::string pip = home / ".cache/pip";
        TestTree::makeFile(pip + "/http/blob", 11'000'000);
        TestTree::RunningProgram editor(home / "procs", "code");
        QVERIFY(editor.started);
        ScanEngine engine({std::make_shared<PackageCacheScanner>(), std::make_shared<AppCacheScanner>()});
        engine.activity = &activity;
        await(engine.scan());
        auto selected = [&](const std::string& path) {
            return engine.selected().contains(CleanupItem(path, 0, {}));
        };
        QVERIFY(selected(pip));
        QVERIFY(selected(chatCache));
        QVERIFY(!selected(editorCache)); // VS Code runs
        QVERIFY(!selected(maven));       // holds what the user installed
        const auto* caches = engine.result(CategoryKind::appCaches);
        QVERIFY(caches != nullptr);
        const auto editorItem = std::find_if(caches->items.begin(), caches->items.end(),
                                             [&](const CleanupItem& i) { return i.url == editorCache; });
        QVERIFY(editorItem != caches->items.end());
        QCOMPARE(editorItem->name(), std::string("VS Code \u00B7 CachedData (in use)"));
        engine.selectAllReclaimable();
        QVERIFY(selected(editorCache));
        QVERIFY(selected(maven));
    }

    void reconcilingDropsAnOutdatedTrashResult_data() {
        QTest::addColumn<qint64>("scanned");
        QTest::addColumn<qint64>("live");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("small result stays") << qint64(800'000) << qint64(0) << false;
        QTest::newRow("below 500,000") << qint64(4'000'000) << qint64(400'000) << true;
        QTest::newRow("at 500,000") << qint64(4'000'000) << qint64(500'000) << false;
        QTest::newRow("big: below T/20") << qint64(40'000'000) << qint64(1'999'999) << true;
        QTest::newRow("big: at T/20") << qint64(40'000'000) << qint64(2'000'000) << false;
    }
    void reconcilingDropsAnOutdatedTrashResult() {
        QFETCH(qint64, scanned);
        QFETCH(qint64, live);
        QFETCH(bool, dropped);
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string item = TestTree::writeFile(Trash::filesFolder() + "/x", "x");
        ScanEngine engine({fixed(CategoryKind::trash, {{item, scanned}})});
        engine.activity = &activity;
        // A live size that a real Trash cannot have to the byte.
        engine.measureTrash = [live](const std::string&) { return std::int64_t{live}; };
        await(engine.scan());
        QVERIFY(engine.result(CategoryKind::trash) != nullptr);
        await(engine.reconcileTrashWithDisk());
        QCOMPARE(engine.trashBytesLive(), std::int64_t{live});
        QCOMPARE(engine.result(CategoryKind::trash) == nullptr, dropped);
        QCOMPARE(engine.selected().empty(), dropped);
    }

    void reclaimTrashesDeletesAndLeavesTheRestByteForByte() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string cache = home / "Library/Caches/app";
        TestTree::makeFile(cache + "/blob", 2'000'000);
        TestTree::writeFile(cache + "/index", "index");
        const std::string log = TestTree::makeFile(home / "Library/Logs/big.log", 300'000);
        const std::string oldTrash = TestTree::writeFile(Trash::filesFolder() + "/old-report", "old");
        TestTree::writeFile(home / "Documents/thesis.tex", "precious");
        TestTree::makeFile(home / "Library/Caches/small/tiny", 4096); // below the floor: not found
        TestTree::writeFile(home / "Downloads/keep.pdf", "pdf");
        const auto kept = unselected(home.path(), {cache, log});
        ScanEngine engine(realScanners());
        engine.activity = &activity;
        await(engine.scan());
        QCOMPARE(engine.selected().size(), std::size_t{3}); // cache, log, the Trash item
        const std::int64_t selectedBytes = engine.selectedBytes();
        int emptied = 0;
        engine.emptyTrashViaFileManager = [&] {
            ++emptied;
            return std::optional<std::string>();
        };
        await(engine.reclaimAndEmptyTrash());
        QVERIFY(engine.errors().empty());
        QCOMPARE(emptied, 0);
        QVERIFY(!TestTree::exists(cache));
        QVERIFY(!TestTree::exists(log));
        QVERIFY(!TestTree::exists(oldTrash));
        QCOMPARE(unselected(home.path(), {cache, log}), kept);
        // Newest first: the rescan, the emptying, the reclaim, the first scan.
        const auto events = storedEvents();
        QCOMPARE(events.size(), std::size_t{4});
        QCOMPARE(events[0].kind, ActivityKind::scan);
        const auto& emptying = events[1];
        const auto& reclaim = events[2];
        QCOMPARE(emptying.meta.at("emptyTrash"), std::string("true"));
        QCOMPARE(emptying.paths.size(), std::size_t{2}); // the two items just trashed
        for (const auto& p : emptying.paths) {
            QCOMPARE(p.disposition, PathDisposition::removed);
        }
        QCOMPARE(reclaim.paths.size(), std::size_t{3});
        QCOMPARE(reclaim.bytes.value_or(-1), selectedBytes);
        int trashed = 0;
        for (const auto& p : reclaim.paths) {
            if (p.path == "~/.local/share/Trash/files/old-report") {
                QCOMPARE(p.disposition,
                         PathDisposition::removed); // already in the Trash: never trashed again
            } else {
                QCOMPARE(p.disposition, PathDisposition::trashed);
                ++trashed;
            }
        }
        QCOMPARE(trashed, 2);
        QCOMPARE(engine.result(CategoryKind::userCaches), nullptr); // the rescan found nothing left
    }

    void itemsThatWereTrashedHaveInfoFiles() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string cache = home / "Library/Caches/app";
        TestTree::makeFile(cache + "/blob", 2'000'000);
        ScanEngine engine({std::make_shared<UserCachesScanner>()});
        engine.activity = &activity;
        await(engine.scan());
        await(engine.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        QVERIFY(TestTree::exists(Trash::filesFolder() + "/app/blob"));
        const std::string info = TestTree::readFile(Trash::filesFolder() + "/../info/app.trashinfo");
        QVERIFY(info.find("Path=" + Trash::Info::encode(cache) + "\n") != std::string::npos);
        QCOMPARE(engine.lastReclaimed(), DiskMath::size(Trash::filesFolder() + "/app"));
        QVERIFY(engine.selected().empty());
    }

    void aSelectionOfAdviceOnlyChangesNothing() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string sim = TestTree::writeFile(home / "sim/runtime", "r");
        const std::string docker = TestTree::writeFile(home / "docker/image", "i");
        TestTree::writeFile(Trash::filesFolder() + "/in-trash", "t");
        ScanEngine engine(
            {fixed(CategoryKind::simulators, {{sim, -1}}), fixed(CategoryKind::docker, {{docker, -1}})});
        engine.activity = &activity;
        await(engine.scan());
        const auto before = TestTree::snapshot(home.path());
        engine.selectAllReclaimable();
        QVERIFY(engine.selected().empty()); // advice is never selectable
        engine.setSelected({CleanupItem(sim, 1, {}), CleanupItem(docker, 1, {})});
        int labelChanges = 0;
        connect(&engine, &ScanEngine::progressLabelChanged, this, [&] { ++labelChanges; });
        await(engine.reclaimAndEmptyTrash());
        QCOMPARE(labelChanges, 0);
        QCOMPARE(engine.selected().size(), std::size_t{2});
        QCOMPARE(TestTree::snapshot(home.path()), before);
        QCOMPARE(storedEvents().size(), std::size_t{1}); // the scan only
    }

    void anItemThatCannotMoveStaysSelectedWithItsReason() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        const std::string stuck = TestTree::makeFile(home / "Library/Caches/stuck", 2'000'000);
        const std::string free = TestTree::makeFile(home / "Library/Caches/free", 2'000'000);
        if (!chattr("+i", stuck)) {
            QSKIP("chattr +i is not possible here");
        }
        ScanEngine engine({std::make_shared<UserCachesScanner>()});
        engine.activity = &activity;
        await(engine.scan());
        const std::int64_t stuckBytes = DiskMath::size(stuck);
        await(engine.clean(ScanEngine::OpenTrash::no, ScanEngine::Rescan::no));
        const bool stillThere = TestTree::exists(stuck);
        chattr("-i", stuck);
        QVERIFY(stillThere);
        QVERIFY(!TestTree::exists(free));
        QCOMPARE(engine.errors().size(), std::size_t{1});
        QCOMPARE(engine.errors()[0], std::string("stuck: ") + std::strerror(EPERM));
        QCOMPARE(engine.selected().size(), std::size_t{1});
        QVERIFY(engine.selected().contains(CleanupItem(stuck, 0, {})));
        const auto reclaim = storedEvents().front();
        QCOMPARE(reclaim.paths.size(), std::size_t{2});
        bool sawFailure = false;
        for (const auto& p : reclaim.paths) {
            if (p.disposition == PathDisposition::failed) {
                sawFailure = true;
                QCOMPARE(p.path, std::string("~/Library/Caches/stuck"));
                QCOMPARE(p.bytes, stuckBytes);
                QCOMPARE(p.error.value_or(""), std::string(std::strerror(EPERM)));
            }
        }
        QVERIFY(sawFailure);
    }

    void emptyingATrashOfOnlyDsStoreRecordsNothing() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        TestTree::writeFile(Trash::filesFolder() + "/.DS_Store", "finder");
        ScanEngine engine(ScannerList{});
        engine.activity = &activity;
        await(engine.emptyTrash(ScanEngine::Rescan::no));
        QVERIFY(TestTree::exists(Trash::filesFolder() + "/.DS_Store"));
        QCOMPARE(engine.lastReclaimed(), std::int64_t{0});
        QVERIFY(engine.errors().empty());
        QVERIFY(storedEvents().empty());
        // A Trash that was never created is an empty one, not an error.
        TestTree::TemporaryHome fresh;
        ScanEngine second(ScannerList{});
        second.activity = &activity;
        await(second.emptyTrash(ScanEngine::Rescan::no));
        QVERIFY(second.errors().empty());
    }

    void theFileManagerIsAskedOnlyAboveOneMillionBytesLeft_data() {
        QTest::addColumn<qint64>("left");
        QTest::addColumn<bool>("asked");
        QTest::newRow("1,000,000") << qint64(1'000'000) << false;
        QTest::newRow("1,000,001") << qint64(1'000'001) << true;
    }
    void theFileManagerIsAskedOnlyAboveOneMillionBytesLeft() {
        QFETCH(qint64, left);
        QFETCH(bool, asked);
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        TestTree::makeFile(Trash::filesFolder() + "/a", 8192);
        ScanEngine engine(ScannerList{});
        engine.activity = &activity;
        int measurements = 0;
        // After the direct wipe the Trash "still holds" `left` bytes; after the file manager, 1,000 less.
        engine.measureTrash = [&](const std::string&) -> std::int64_t {
            ++measurements;
            return measurements == 1 ? left : left - 1000;
        };
        int calls = 0;
        engine.emptyTrashViaFileManager = [&] {
            ++calls;
            return std::optional<std::string>("File Manager could not empty Trash");
        };
        await(engine.emptyTrash(ScanEngine::Rescan::no));
        QCOMPARE(calls, asked ? 1 : 0);
        QVERIFY(!TestTree::exists(Trash::filesFolder() + "/a"));
        QCOMPARE(engine.lastReclaimed(), asked ? std::int64_t{8192 + 1000} : std::int64_t{8192});
        QCOMPARE(engine.errors().size(), asked ? std::size_t{1} : std::size_t{0});
        const auto events = storedEvents();
        QCOMPARE(events.size(), std::size_t{1});
        QCOMPARE(events[0].paths.size(), std::size_t{1});
        if (asked) {
            QVERIFY(events[0].detail->ends_with(" \u2014 File Manager could not empty Trash"));
        }
    }

    void theGuiThreadKeepsTurningDuringABigScan() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        // 100,000 entries: node_modules trees and caches.
        for (int project = 0; project < 50; ++project) {
            const std::string modules = home / ("code/p" + std::to_string(project) + "/node_modules");
            for (int package = 0; package < 40; ++package) {
                const std::string dir = modules + "/pkg" + std::to_string(package);
                TestTree::makeFolder(dir);
                const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
                for (int file = 0; file < 49; ++file) {
                    const int f = openat(fd, ("f" + std::to_string(file)).c_str(), O_WRONLY | O_CREAT, 0644);
                    if (file == 0 && write(f, "x", 1) != 1) {
                        QFAIL("write failed");
                    }
                    close(f);
                }
                close(fd);
            }
        }
        ScanEngine engine(AllScanners::all());
        engine.activity = &activity;
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 worst = 0;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, [&] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last);
            last = now;
            ++ticks;
        });
        clock.start();
        timer.start();
        await(engine.scan());
        timer.stop();
        QVERIFY(engine.result(CategoryKind::nodeModules) != nullptr);
        QCOMPARE(engine.result(CategoryKind::nodeModules)->items.size(), std::size_t{50});
        QVERIFY2(ticks > 5, qPrintable(QString::number(ticks)));
        qInfo("scan of 100,000 entries: %d timer ticks, longest gap %lld ms", ticks,
              static_cast<long long>(worst));
        QVERIFY2(worst <= 100, qPrintable(QString("longest gap %1 ms").arg(worst)));
    }

    void activityTextsAreStoredAsBuilt() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        activity.recordReclaim({{"~/a", 100, PathDisposition::trashed, std::nullopt},
                                {"~/b", 200, PathDisposition::trashed, std::nullopt},
                                {"~/c", 50, PathDisposition::failed, "Permission denied"}},
                               {"c: Permission denied"});
        auto e = storedEvents().front();
        QCOMPARE(e.title, "Reclaimed " + DiskMath::human(300));
        QCOMPARE(e.detail.value_or(""), std::string("2 items moved, 1 failed \u2014 c: Permission denied"));
        QCOMPARE(e.bytes.value_or(-1), std::int64_t{300});
        QCOMPARE(e.paths.size(), std::size_t{3});
        // Moving to the Trash frees nothing yet: the lifetime total counts bytes when they leave the disk.
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, std::int64_t{0});
        activity.recordReclaim({{"~/t", 300, PathDisposition::removed, std::nullopt}}, {});
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, std::int64_t{300});

        activity.recordReclaim({{"~/a", 10, PathDisposition::trashed, std::nullopt}},
                               {"e1", "e2", "e3", "e4", "e5"});
        QCOMPARE(storedEvents().front().detail.value_or(""), std::string("1 item moved \u2014 e1; e2; e3"));

        activity.recordReclaim({{"~/x", 70, PathDisposition::failed, "busy"}}, {"x: busy"});
        e = storedEvents().front();
        QCOMPARE(e.title, std::string("Reclaim finished with errors"));
        QCOMPARE(e.detail.value_or(""), std::string("0 items moved, 1 failed \u2014 x: busy"));
        QCOMPARE(e.bytes.value_or(-1), std::int64_t{0});
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, std::int64_t{300}); // "~/a" was only trashed

        activity.recordUninstall("Foo",
                                 {{"~/p1", 1, PathDisposition::trashed, std::nullopt},
                                  {"~/p2", 1, PathDisposition::failed, "no"},
                                  {"~/p3", 1, PathDisposition::trashed, std::nullopt}},
                                 ActivityEngine::Reset::yes);
        e = storedEvents().front();
        QCOMPARE(e.kind, ActivityKind::appReset);
        QCOMPARE(e.title, std::string("Reset Foo"));
        QCOMPARE(e.detail.value_or(""), std::string("Completed with errors"));
        QCOMPARE(e.meta.at("app"), std::string("Foo"));

        activity.recordScan(0, 1, 0, 12.34);
        e = storedEvents().front();
        QCOMPARE(e.detail.value_or(""), std::string("\u2014 reclaimable across 1 categories"));
        QCOMPARE(e.meta.at("seconds"), std::string("12.3"));
        QCOMPARE(e.meta.at("items"), std::string("0"));

        const std::int64_t before = ActivityStore::load().lifetimeReclaimedBytes;
        activity.recordMaintenance("Rebuild", "Done.");
        e = storedEvents().front();
        QCOMPARE(e.title, std::string("Maintenance \u00B7 Rebuild"));
        QVERIFY(!e.bytes.has_value());
        QCOMPARE(ActivityStore::load().lifetimeReclaimedBytes, before);
        QVERIFY(TestTree::readFile(ActivityStore::fileURL()).find("\"bytes\": null") == std::string::npos);

        activity.recordEmptyTrash(
            {{"~/.local/share/Trash/files/z", 4096, PathDisposition::removed, std::nullopt}}, {});
        e = storedEvents().front();
        QCOMPARE(e.title, "Emptied Trash \u00B7 " + DiskMath::human(4096));
        QCOMPARE(e.detail.value_or(""), std::string("1 item permanently deleted"));
        QCOMPARE(activity.events().front().id, e.id);
        QCOMPARE(activity.lifetimeReclaimed(), ActivityStore::load().lifetimeReclaimedBytes);
    }

    void withoutAReferenceEventsReachTheSharedEngine() {
        TestTree::TemporaryHome home;
        ScanEngine engine(ScannerList{});
        const std::size_t before = ActivityEngine::shared().events().size();
        await(engine.scan());
        QCOMPARE(ActivityEngine::shared().events().size(), before + 1);
        QCOMPARE(ActivityEngine::shared().events().front().title, std::string("Scan finished"));
    }

    void clearingAndExportingTheReport() {
        TestTree::TemporaryHome home;
        ActivityEngine activity;
        activity.recordMaintenance("Rebuild", "Done.");
        const std::string out = home / "report.txt";
        QVERIFY(activity.exportReport(out));
        QCOMPARE(TestTree::readFile(out), activity.supportReport() + "\n");
        QVERIFY(activity.supportReport().find("[") != std::string::npos);
        QVERIFY(ActivityEngine::suggestedReportName().starts_with("Kestrune-activity-"));
        QCOMPARE(ActivityEngine::suggestedReportName().size(),
                 std::string("Kestrune-activity-20261206-1200.txt").size());
        activity.clear();
        QVERIFY(activity.events().empty());
        QCOMPARE(activity.lifetimeReclaimed(), std::int64_t{0});
        QVERIFY(ActivityStore::load().events.empty());
    }
};

QTEST_GUILESS_MAIN(ScanEngineTest)
#include "ScanEngineTest.moc"

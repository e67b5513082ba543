// The disk map engine on real temporary trees: the order of build runs, stopping and filling in,
// refreshing during a run, the trail's edges, the recorded events, and progress reports that arrive
// too late.
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/ActivityEngine.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "tests/TestHome.h"
#include "tests/engines/Await.h"

#include <QSemaphore>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr std::int64_t block = 3'000'000; // above the engine's 2,000,000-byte floor

// A temporary home holding the system root too ("Applications" is <home>/system/usr and "Whole disk"
// is <home>/system), and an engine recording to its own activity engine.
struct Trees {
    Trees() {
        for (const char* file : {"big/a", "big/b", "big/sub/c", "l1/l2/l3/l4/l5/l6/l7/f", "file.bin",
                                 "system/usr/lib/x", "system/usr/bin/y", "system/opt/z"}) {
            TestTree::makeFile(home / file, block);
        }
        TestTree::makeFile(home / "big/small", 100'000);
        engine.activity = &activity;
    }
    [[nodiscard]] std::string system() const { return home / "system"; }

    TestTree::TemporaryHome home;
    // Set before the engine exists, which takes its scopes' roots when it is made; the home puts it back.
    int rooted = setenv("KESTRUNE_SYSTEM_ROOT", system().c_str(), 1);
    ActivityEngine activity;
    TreemapEngine engine;
};

std::vector<ActivityEvent> eventsOldestFirst() {
    auto events = ActivityStore::load().events;
    std::reverse(events.begin(), events.end());
    return events;
}

std::vector<std::string> titles() {
    std::vector<std::string> out;
    for (const auto& e : eventsOldestFirst()) {
        out.push_back(e.title);
    }
    return out;
}

TreemapEngine::Node child(const TreemapEngine::Node& parent, const std::string& name) {
    const auto it = std::ranges::find_if(parent->children, [&](const auto& c) { return c->name() == name; });
    return it == parent->children.end() ? nullptr : *it;
}

TreemapEngine::Node findNode(const TreemapEngine::Node& node,
                             const std::function<bool(const DiskNode&)>& test) {
    if (test(*node)) {
        return node;
    }
    for (const auto& c : node->children) {
        if (auto found = findNode(c, test)) {
            return found;
        }
    }
    return nullptr;
}

const std::string home = "Disk map \u00B7 Home", apps = "Disk map \u00B7 Applications",
                  disk = "Disk map \u00B7 Whole disk";

} // namespace

class TreemapEngineTest : public QObject {
    Q_OBJECT

private slots:
    // A first run builds the three scopes, Home first; the trail then keeps to its edges, and a refresh
    // after the run forgets the maps at once. Clicks and keys reach the trail through the window (see the
    // map screen's test).
    void aFirstRunBuildsAllThreeScopesAndTheTrailKeepsToItsEdges() {
        Trees t;
        auto& engine = t.engine;
        // A folder of some other tree, before this scope has a map, neither enters nor counts as a map.
        const auto foreign = VolumeTree::build(
            t.home.path(), VolumeTree::Options{2'000'000, 7, 120, 2}, [](const VolumeTree::Progress&) {},
            [] { return false; });
        engine.drill(foreign);
        engine.drill(child(foreign, "big"));
        QVERIFY(engine.trail().empty());
        std::vector<std::optional<std::string>> building;
        std::vector<double> progress;
        connect(&engine, &TreemapEngine::buildingScopeIDChanged, this,
                [&] { building.push_back(engine.buildingScopeID()); });
        connect(&engine, &TreemapEngine::progressChanged, this,
                [&] { progress.push_back(engine.progress()); });
        auto run = engine.startBackgroundBuildIfNeeded();
        QVERIFY(engine.isBuilding());
        QCOMPARE(engine.scopesQueued(), 3);
        QVERIFY(engine.startBackgroundBuildIfNeeded().isFinished()); // a second request while building
        await(run);
        QVERIFY(!engine.isBuilding());
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0);
        QCOMPARE(engine.progressLabel(), std::string());
        QCOMPARE(building, (std::vector<std::optional<std::string>>{"home", "apps", "disk", std::nullopt}));
        QCOMPARE((std::vector{engine.builtMap("home")->path(), engine.builtMap("apps")->path(),
                              engine.builtMap("disk")->path()}),
                 (std::vector<std::string>{t.home.path(), t.system() + "/usr", t.system()}));
        QVERIFY2(std::ranges::is_sorted(progress), "progress went backwards within a run");
        QVERIFY(engine.startBackgroundBuildIfNeeded().isFinished()); // nothing is missing now
        const auto events = eventsOldestFirst();
        QCOMPARE(titles(), (std::vector<std::string>{"Disk map build", home, apps, disk}));
        QCOMPARE(events[0].meta, (std::map<std::string, std::string>{{"scopes", "3"}, {"refresh", "false"}}));
        QCOMPARE(events[1].bytes, std::optional<std::int64_t>(engine.builtMap("home")->bytes));
        QCOMPARE(events[3].meta, (std::map<std::string, std::string>{{"scope", "disk"}}));
        QCOMPARE(t.activity.lifetimeReclaimed(), std::int64_t{0});

        const auto root = engine.current();
        const auto big = child(root, "big");
        const auto sub = child(big, "sub");
        QVERIFY(root && big && sub && !sub->children.empty());
        int changes = 0;
        connect(&engine, &TreemapEngine::trailChanged, this, [&] { ++changes; });
        engine.ascend();
        for (const int at : {0, -1, 7}) {
            engine.popTo(at);
        }
        // What cannot be entered: a file, a folder measured as one block, "Other", nothing, and a folder
        // that is not in the one on screen.
        const auto file = child(root, "file.bin");
        const auto measured = findNode(root, [](const DiskNode& n) { return n.name() == "l7"; });
        const auto other = findNode(root, [](const DiskNode& n) { return n.isAggregate; });
        QVERIFY(file && !file->isDirectory && measured && measured->children.empty() && other);
        for (const auto& node : {file, measured, other, TreemapEngine::Node(), sub}) {
            engine.drill(node);
        }
        QCOMPARE(engine.trail().size(), std::size_t{1});
        QCOMPARE(changes, 0);
        engine.drill(big);
        engine.drill(sub);
        QCOMPARE(engine.trail(), (TreemapEngine::Trail{root, big, sub}));
        engine.popTo(2);
        engine.ascend();
        QCOMPARE(engine.trail(), (TreemapEngine::Trail{root, big}));
        QCOMPARE(changes, 3);

        auto again = engine.refreshAll();
        QVERIFY(engine.trail().empty());
        QVERIFY(!engine.builtAt());
        await(again);
        QCOMPARE(engine.trail().size(), std::size_t{1});
        QVERIFY(engine.trail()[0] != root);
    }

    void aStopAfterOneScopeIsFilledInFromOneThird() {
        Trees t;
        auto& engine = t.engine;
        connect(&engine, &TreemapEngine::scopesCompletedChanged, this, [&] {
            if (engine.scopesCompleted() == 1 && engine.isBuilding()) {
                engine.cancel();
            }
        });
        await(engine.startBackgroundBuildIfNeeded());
        QVERIFY(!engine.isBuilding());
        QCOMPARE(engine.scopesCompleted(), 1);
        QCOMPARE(engine.progress(), 1.0 / 3);
        QVERIFY(!engine.buildingScopeID());
        QCOMPARE(engine.trail().size(), std::size_t{1}); // Home's map stays
        QCOMPARE(titles(), (std::vector<std::string>{"Disk map build", home, "Disk map stopped"}));
        QCOMPARE(eventsOldestFirst()[2].detail, std::optional<std::string>("Cancelled after 1 of 3 scopes"));

        disconnect(&engine, &TreemapEngine::scopesCompletedChanged, this, nullptr);
        auto rest = engine.startBackgroundBuildIfNeeded();
        QCOMPARE(engine.scopesCompleted(), 1);
        QCOMPARE(engine.scopesQueued(), 3);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("apps"));
        await(rest);
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0);
        QCOMPARE(titles(), (std::vector<std::string>{"Disk map build", home, "Disk map stopped",
                                                     "Disk map build", apps, disk}));
        QCOMPARE(eventsOldestFirst()[3].detail,
                 std::optional<std::string>("Queued Applications, Whole disk"));
        engine.cancel(); // a stop while idle records nothing
        QCOMPARE(titles().size(), std::size_t{6});
    }

    void aRefreshDuringARunStartsOver() {
        Trees t;
        auto& engine = t.engine;
        auto first = engine.startBackgroundBuildIfNeeded();
        auto second = engine.refreshAll();
        QVERIFY(engine.isBuilding());
        QCOMPARE(engine.scopesCompleted(), 0);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("home"));
        await(first);
        await(second);
        // The replaced run ends without a record or a finished scope of its own.
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(titles(),
                 (std::vector<std::string>{"Disk map build", "Disk map refresh", home, apps, disk}));
        QCOMPARE(eventsOldestFirst()[1].meta,
                 (std::map<std::string, std::string>{{"scopes", "3"}, {"refresh", "true"}}));
    }

    void aScopeWithNothingOfSizeCountsAsDoneButIsQueuedAgain() {
        Trees t;
        std::filesystem::remove_all(t.system() + "/usr");
        TestTree::makeFile(t.system() + "/usr/empty", 0);
        auto& engine = t.engine;
        await(engine.startBackgroundBuildIfNeeded());
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0); // every scope of the run was dealt with, mapped or not
        QCOMPARE(titles(), (std::vector<std::string>{"Disk map build", home, disk}));
        engine.setScope(engine.roots()[1]);
        QVERIFY(engine.trail().empty());
        QVERIFY(!engine.builtAt());
        auto again = engine.startBackgroundBuildIfNeeded();
        QCOMPARE(engine.scopesCompleted(), 2);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("apps"));
        await(again);
        QCOMPARE(eventsOldestFirst().back().detail, std::optional<std::string>("Queued Applications"));
    }

    void anEngineThatGoesAwayStopsItsBuildAndWaitsForIt() {
        QSemaphore running;
        QAtomicInt sawCancel = 0;
        {
            Trees t;
            t.engine.build = [&](const std::string& root, const VolumeTree::Options& o,
                                 const auto& onProgress, const auto& isCancelled) {
                running.release();
                // Held until the engine, going away, cancels the build (a minute at most).
                for (int i = 0; i < 600'000 && !isCancelled(); ++i) {
                    QThread::usleep(100);
                }
                sawCancel.storeRelease(isCancelled() ? 1 : 0);
                return VolumeTree::build(root, o, onProgress, isCancelled);
            };
            (void)t.engine.startBackgroundBuildIfNeeded();
            running.acquire();
        }
        // The destructor cancelled the build and waited for its thread.
        QCOMPARE(sawCancel.loadAcquire(), 1);
    }

    void progressArrivingAfterAStopChangesNothing() {
        Trees t;
        auto& engine = t.engine;
        // The real builder runs, then holds its thread until the test has stopped the run and delivers
        // one more report, as a worker that had not yet seen the flag would.
        QAtomicInt built = 0;
        QSemaphore stopped;
        engine.build = [&](const std::string& root, const VolumeTree::Options& o, const auto& onProgress,
                           const auto& isCancelled) {
            auto tree = VolumeTree::build(root, o, onProgress, isCancelled);
            built.storeRelease(1);
            stopped.acquire();
            onProgress(VolumeTree::Progress{0.5, "late", 4242, 4242});
            return tree;
        };
        auto run = engine.startBackgroundBuildIfNeeded();
        QTRY_VERIFY(built.loadAcquire() == 1);
        engine.cancel();
        int changes = 0;
        for (auto signal : {&TreemapEngine::progressChanged, &TreemapEngine::progressLabelChanged,
                            &TreemapEngine::directoriesChanged, &TreemapEngine::bytesFoundChanged,
                            &TreemapEngine::trailChanged, &TreemapEngine::scopesCompletedChanged,
                            &TreemapEngine::isBuildingChanged}) {
            connect(&engine, signal, this, [&] { ++changes; });
        }
        stopped.release();
        await(run);
        QCOMPARE(changes, 0);
        QCOMPARE(titles(), (std::vector<std::string>{"Disk map build", "Disk map stopped"}));
        QCOMPARE(eventsOldestFirst()[1].detail, std::optional<std::string>("Cancelled after 0 of 3 scopes"));
    }

    void reportsOfAFinishedScopeDoNotReachTheNextOne() {
        Trees t;
        auto& engine = t.engine;
        // Home's progress callback is kept and called again while Applications is being built.
        std::function<void(const VolumeTree::Progress&)> homeReports;
        engine.build = [&](const std::string& root, const VolumeTree::Options& o, const auto& onProgress,
                           const auto& isCancelled) {
            if (root == t.home.path()) {
                homeReports = onProgress;
            } else if (homeReports) {
                homeReports(VolumeTree::Progress{0.99, "stale", 4242, 4242});
                homeReports = nullptr;
            }
            return VolumeTree::build(root, o, onProgress, isCancelled);
        };
        std::vector<std::string> labels;
        std::vector<int> directories;
        connect(&engine, &TreemapEngine::progressLabelChanged, this,
                [&] { labels.push_back(engine.progressLabel()); });
        connect(&engine, &TreemapEngine::directoriesChanged, this,
                [&] { directories.push_back(engine.directories()); });
        await(engine.startBackgroundBuildIfNeeded());
        QVERIFY(!homeReports); // the stale report was really sent
        QVERIFY(std::find(labels.begin(), labels.end(), "Applications") != labels.end());
        QVERIFY(std::none_of(labels.begin(), labels.end(),
                             [](const std::string& l) { return l.find("stale") != std::string::npos; }));
        QVERIFY(std::find(directories.begin(), directories.end(), 4242) == directories.end());
    }
};

QTEST_GUILESS_MAIN(TreemapEngineTest)
#include "TreemapEngineTest.moc"

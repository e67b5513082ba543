// The disk map engine on real temporary trees: the order and counters of build runs, stopping and
// filling in, refreshing during a run, the trail's edges and its restoration per scope, the recorded
// events, and progress reports that arrive too late.
#include "Kestrune/Engines/TreemapEngine.h"
#include "Kestrune/Engines/ActivityEngine.h"
#include "KestruneCore/Activity/ActivityStore.h"
#include "tests/TestHome.h"
#include "tests/engines/Await.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QSemaphore>
#include <QtTest>

#include <cstdlib>
#include <filesystem>

namespace {

constexpr std::int64_t block = 3'000'000; // above the engine's 2,000,000-byte floor

// A temporary home holding the system root too: "Applications" is <home>/system/usr and "Whole disk"
// is <home>/system while the object lives.
class Trees {
public:
    Trees() {
        const char* old = std::getenv("KESTRUNE_SYSTEM_ROOT");
        saved = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("KESTRUNE_SYSTEM_ROOT", system().c_str(), 1);
        TestTree::makeFile(home / "big/a", block);
        TestTree::makeFile(home / "big/b", block);
        TestTree::makeFile(home / "big/small", 100'000);
        TestTree::makeFile(home / "big/sub/c", block);
        TestTree::makeFile(home / "l1/l2/l3/l4/l5/l6/l7/f", block);
        TestTree::makeFile(home / "file.bin", block);
        TestTree::makeFile(home / "system/usr/lib/x", block);
        TestTree::makeFile(home / "system/usr/bin/y", block);
        TestTree::makeFile(home / "system/opt/z", block);
    }
    ~Trees() {
        if (saved) {
            setenv("KESTRUNE_SYSTEM_ROOT", saved->c_str(), 1);
        } else {
            unsetenv("KESTRUNE_SYSTEM_ROOT");
        }
    }
    [[nodiscard]] std::string system() const { return home / "system"; }

    TestTree::TemporaryHome home;

private:
    std::optional<std::string> saved;
};

std::vector<ActivityEvent> storedEventsOldestFirst() {
    auto events = ActivityStore::load().events;
    std::reverse(events.begin(), events.end());
    return events;
}

std::vector<std::string> titles(const std::vector<ActivityEvent>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
        out.push_back(e.title);
    }
    return out;
}

TreemapEngine::Node child(const TreemapEngine::Node& parent, const std::string& name) {
    for (const auto& c : parent->children) {
        if (c->name() == name) {
            return c;
        }
    }
    return nullptr;
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

// The real builder, with what it was given and when it returned visible to the test.
struct WatchedBuilder {
    std::vector<std::string> roots;
    std::vector<VolumeTree::Options> options;

    TreemapEngine::Builder builder() {
        return [this](const std::string& root, const VolumeTree::Options& o,
                      const std::function<void(const VolumeTree::Progress&)>& onProgress,
                      const std::function<bool()>& isCancelled) {
            {
                std::lock_guard lock(mutex);
                roots.push_back(root);
                options.push_back(o);
            }
            return VolumeTree::build(root, o, onProgress, isCancelled);
        };
    }
    std::mutex mutex;
};

} // namespace

class TreemapEngineTest : public QObject {
    Q_OBJECT

private slots:
    void aFirstRunBuildsAllThreeScopesHomeFirst() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        WatchedBuilder watched;
        engine.build = watched.builder();
        std::vector<std::optional<std::string>> building;
        std::vector<double> progress;
        std::vector<std::string> labels;
        connect(&engine, &TreemapEngine::buildingScopeIDChanged, this,
                [&] { building.push_back(engine.buildingScopeID()); });
        connect(&engine, &TreemapEngine::progressChanged, this,
                [&] { progress.push_back(engine.progress()); });
        connect(&engine, &TreemapEngine::progressLabelChanged, this,
                [&] { labels.push_back(engine.progressLabel()); });

        QCOMPARE(engine.scope().id, std::string("home"));
        QVERIFY(engine.trail().empty());
        auto run = engine.startBackgroundBuildIfNeeded();
        QVERIFY(engine.isBuilding());
        QCOMPARE(engine.scopesQueued(), 3);
        QCOMPARE(engine.scopesCompleted(), 0);
        QCOMPARE(engine.progress(), 0.0);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("home"));
        // A second request while building does nothing.
        QVERIFY(engine.startBackgroundBuildIfNeeded().isFinished());
        await(run);

        QVERIFY(!engine.isBuilding());
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0);
        QCOMPARE(engine.progressLabel(), std::string());
        QVERIFY(!engine.buildingScopeID());
        QVERIFY(engine.builtAt());
        const std::vector<std::optional<std::string>> order{"home", "apps", "disk", std::nullopt};
        QCOMPARE(building, order);
        QCOMPARE(watched.roots,
                 (std::vector<std::string>{trees.home.path(), trees.system() + "/usr", trees.system()}));
        for (const auto& o : watched.options) {
            QCOMPARE(o.minBytes, std::int64_t{2'000'000});
            QCOMPARE(o.maxDepth, 7);
            QCOMPARE(o.maxChildren, 120);
            QVERIFY(o.threads >= 2 && o.threads <= 8);
        }
        for (std::size_t i = 1; i < progress.size(); ++i) {
            QVERIFY2(progress[i] >= progress[i - 1], "progress went backwards within a run");
        }
        for (const auto& label : labels) {
            QVERIFY2(label.empty() || label.starts_with("Home") || label.starts_with("Applications") ||
                         label.starts_with("Whole disk"),
                     label.c_str());
        }
        QCOMPARE(engine.trail().size(), std::size_t{1});
        QCOMPARE(engine.trail()[0]->path(), trees.home.path());
        QVERIFY(engine.trail()[0]->bytes >= 7 * block);

        // Nothing is missing now, so nothing more is built.
        QVERIFY(engine.startBackgroundBuildIfNeeded().isFinished());
        QVERIFY(!engine.isBuilding());

        const auto events = storedEventsOldestFirst();
        QCOMPARE(titles(events),
                 (std::vector<std::string>{"Disk map build", "Disk map \u00B7 Home",
                                           "Disk map \u00B7 Applications", "Disk map \u00B7 Whole disk"}));
        QCOMPARE(events[0].detail, std::optional<std::string>("Queued Home, Applications, Whole disk"));
        QCOMPARE(events[0].meta, (std::map<std::string, std::string>{{"scopes", "3"}, {"refresh", "false"}}));
        QVERIFY(!events[0].bytes);
        const std::vector<std::string> ids{"home", "apps", "disk"};
        for (std::size_t i = 1; i < 4; ++i) {
            QCOMPARE(events[i].kind, ActivityKind::diskMap);
            QCOMPARE(events[i].detail, std::optional<std::string>("Finished"));
            QCOMPARE(events[i].meta, (std::map<std::string, std::string>{{"scope", ids[i - 1]}}));
            QVERIFY(events[i].paths.empty());
        }
        QCOMPARE(events[1].bytes, std::optional<std::int64_t>(engine.trail()[0]->bytes));
        QCOMPARE(activity.lifetimeReclaimed(), std::int64_t{0});
        QCOMPARE(activity.events().size(), std::size_t{4});
    }

    void aStopAfterOneScopeIsFilledInFromOneThird() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        connect(&engine, &TreemapEngine::scopesCompletedChanged, this, [&] {
            if (engine.scopesCompleted() == 1 && engine.isBuilding()) {
                engine.cancel();
            }
        });
        await(engine.startBackgroundBuildIfNeeded());
        QVERIFY(!engine.isBuilding());
        QCOMPARE(engine.scopesCompleted(), 1);
        QCOMPARE(engine.scopesQueued(), 3);
        QCOMPARE(engine.progress(), 1.0 / 3);
        QVERIFY(!engine.buildingScopeID());
        QCOMPARE(engine.progressLabel(), std::string());
        QCOMPARE(engine.trail().size(), std::size_t{1}); // Home's map stays
        auto events = storedEventsOldestFirst();
        QCOMPARE(titles(events),
                 (std::vector<std::string>{"Disk map build", "Disk map \u00B7 Home", "Disk map stopped"}));
        QCOMPARE(events[2].detail, std::optional<std::string>("Cancelled after 1 of 3 scopes"));
        QVERIFY(events[2].meta.empty());
        QVERIFY(!events[2].bytes);

        disconnect(&engine, &TreemapEngine::scopesCompletedChanged, this, nullptr);
        auto rest = engine.startBackgroundBuildIfNeeded();
        QVERIFY(engine.isBuilding());
        QCOMPARE(engine.scopesCompleted(), 1);
        QCOMPARE(engine.scopesQueued(), 3);
        QCOMPARE(engine.progress(), 1.0 / 3);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("apps"));
        await(rest);
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0);
        events = storedEventsOldestFirst();
        QCOMPARE(events.size(), std::size_t{6});
        QCOMPARE(events[3].title, std::string("Disk map build"));
        QCOMPARE(events[3].detail, std::optional<std::string>("Queued Applications, Whole disk"));
        QCOMPARE(events[3].meta, (std::map<std::string, std::string>{{"scopes", "2"}, {"refresh", "false"}}));
        QCOMPARE(events[4].title, std::string("Disk map \u00B7 Applications"));
        QCOMPARE(events[5].title, std::string("Disk map \u00B7 Whole disk"));

        // A stop while idle records nothing.
        engine.cancel();
        QCOMPARE(storedEventsOldestFirst().size(), std::size_t{6});
    }

    void aRefreshDuringARunStartsOver() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        auto first = engine.startBackgroundBuildIfNeeded();
        auto second = engine.refreshAll();
        QVERIFY(engine.isBuilding());
        QCOMPARE(engine.scopesQueued(), 3);
        QCOMPARE(engine.scopesCompleted(), 0);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("home"));
        await(first);
        await(second);
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0);
        QVERIFY(!engine.isBuilding());
        auto events = storedEventsOldestFirst();
        // The replaced run ends without a record or a finished scope of its own.
        QCOMPARE(titles(events),
                 (std::vector<std::string>{"Disk map build", "Disk map refresh", "Disk map \u00B7 Home",
                                           "Disk map \u00B7 Applications", "Disk map \u00B7 Whole disk"}));
        QCOMPARE(events[1].detail, std::optional<std::string>("Queued Home, Applications, Whole disk"));
        QCOMPARE(events[1].meta, (std::map<std::string, std::string>{{"scopes", "3"}, {"refresh", "true"}}));

        // A refresh after a finished run forgets the maps at once.
        const auto oldRoot = engine.trail().at(0);
        engine.drill(child(oldRoot, "big"));
        QCOMPARE(engine.trail().size(), std::size_t{2});
        auto third = engine.refreshAll();
        QVERIFY(engine.trail().empty());
        QVERIFY(!engine.builtAt());
        QCOMPARE(engine.progress(), 0.0);
        await(third);
        QCOMPARE(engine.trail().size(), std::size_t{1});
        QVERIFY(engine.trail()[0] != oldRoot);
    }

    void drillAscendAndPopToStayWithinTheTrail() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        // A folder of some other tree, before this scope has a map, neither enters nor counts as a map.
        const auto foreign = VolumeTree::build(
            trees.home.path(), VolumeTree::Options{2'000'000, 7, 120, 2}, [](const VolumeTree::Progress&) {},
            [] { return false; });
        QVERIFY(foreign);
        engine.drill(foreign);
        engine.drill(child(foreign, "big"));
        QVERIFY(engine.trail().empty());
        auto first = engine.startBackgroundBuildIfNeeded();
        QCOMPARE(engine.scopesCompleted(), 0);
        await(first);
        const auto root = engine.current();
        QVERIFY(root);
        int changes = 0;
        connect(&engine, &TreemapEngine::trailChanged, this, [&] { ++changes; });

        // The edges: nothing to go up to, no breadcrumb position after the last.
        engine.ascend();
        engine.popTo(0);
        engine.popTo(-1);
        engine.popTo(7);
        QCOMPARE(engine.trail().size(), std::size_t{1});

        // What cannot be entered: a file, a folder measured as one block, "Other", nothing, and a
        // folder that is not in the one on screen.
        const auto file = child(root, "file.bin");
        QVERIFY(file && !file->isDirectory);
        engine.drill(file);
        const auto measured = findNode(root, [](const DiskNode& n) { return n.name() == "l7"; });
        QVERIFY(measured && measured->isDirectory && measured->children.empty());
        engine.drill(measured);
        const auto other = findNode(root, [](const DiskNode& n) { return n.isAggregate; });
        QVERIFY(other);
        engine.drill(other);
        engine.drill(nullptr);
        const auto big = child(root, "big");
        QVERIFY(big);
        const auto sub = child(big, "sub");
        QVERIFY(sub && !sub->children.empty());
        engine.drill(sub);
        QCOMPARE(engine.trail().size(), std::size_t{1});
        QCOMPARE(changes, 0);

        engine.drill(big);
        engine.drill(sub);
        QCOMPARE(engine.trail(), (TreemapEngine::Trail{root, big, sub}));
        engine.popTo(2);
        QCOMPARE(engine.trail().size(), std::size_t{3});
        engine.ascend();
        QCOMPARE(engine.trail(), (TreemapEngine::Trail{root, big}));
        engine.drill(sub);
        engine.popTo(0);
        QCOMPARE(engine.trail(), (TreemapEngine::Trail{root}));
        QCOMPARE(changes, 5);
    }

    void eachScopeKeepsItsOwnTrail() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        await(engine.startBackgroundBuildIfNeeded());
        const auto home = engine.roots()[0];
        const auto disk = engine.roots()[2];
        const auto homeRoot = engine.current();
        const auto homeBuilt = engine.builtAt();
        engine.drill(child(homeRoot, "big"));
        QCOMPARE(engine.trail().size(), std::size_t{2});

        int scopeSignals = 0;
        connect(&engine, &TreemapEngine::scopeChanged, this, [&] { ++scopeSignals; });
        engine.setScope(disk);
        QCOMPARE(engine.scope().id, std::string("disk"));
        QCOMPARE(engine.trail().size(), std::size_t{1});
        QCOMPARE(engine.current()->path(), trees.system());
        QVERIFY(engine.builtAt() && *engine.builtAt() >= *homeBuilt);
        QCOMPARE(engine.directories(), 0);
        QCOMPARE(engine.bytesFound(), std::int64_t{0});
        const auto usr = child(engine.current(), "usr");
        QVERIFY(usr);
        engine.drill(usr);

        engine.setScope(home);
        QCOMPARE(engine.trail().size(), std::size_t{2});
        QCOMPARE(engine.trail()[0], homeRoot);
        QCOMPARE(engine.current()->name(), std::string("big"));
        QCOMPARE(engine.builtAt(), homeBuilt);
        engine.setScope(home); // the same scope again changes nothing
        engine.setScope(disk);
        QCOMPARE(engine.current(), usr);
        QCOMPARE(scopeSignals, 3);
    }

    void aScopeWithNothingOfSizeCountsAsDoneButIsQueuedAgain() {
        Trees trees;
        std::filesystem::remove_all(trees.system() + "/usr");
        TestTree::makeFile(trees.system() + "/usr/empty", 0);
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        await(engine.startBackgroundBuildIfNeeded());
        QCOMPARE(engine.scopesCompleted(), 3);
        QCOMPARE(engine.progress(), 1.0); // every scope of the run was dealt with, mapped or not
        QVERIFY(!engine.isBuilding());
        QCOMPARE(titles(storedEventsOldestFirst()),
                 (std::vector<std::string>{"Disk map build", "Disk map \u00B7 Home",
                                           "Disk map \u00B7 Whole disk"}));
        engine.setScope(engine.roots()[1]);
        QVERIFY(engine.trail().empty());
        QVERIFY(!engine.builtAt());

        auto again = engine.startBackgroundBuildIfNeeded();
        QCOMPARE(engine.scopesCompleted(), 2);
        QCOMPARE(engine.scopesQueued(), 3);
        QCOMPARE(engine.buildingScopeID(), std::optional<std::string>("apps"));
        await(again);
        QCOMPARE(storedEventsOldestFirst().back().detail, std::optional<std::string>("Queued Applications"));
    }

    void anEngineThatGoesAwayStopsItsBuildAndWaitsForIt() {
        Trees trees;
        ActivityEngine activity;
        QSemaphore running;
        QAtomicInt sawCancel = 0;
        {
            TreemapEngine engine;
            engine.activity = &activity;
            engine.build = [&](const std::string& root, const VolumeTree::Options& o,
                               const std::function<void(const VolumeTree::Progress&)>& onProgress,
                               const std::function<bool()>& isCancelled) {
                running.release();
                // Held until the engine, going away, cancels the build (a minute at most).
                for (int i = 0; i < 600'000 && !isCancelled(); ++i) {
                    QThread::usleep(100);
                }
                sawCancel.storeRelease(isCancelled() ? 1 : 0);
                return VolumeTree::build(root, o, onProgress, isCancelled);
            };
            (void)engine.startBackgroundBuildIfNeeded();
            running.acquire();
        }
        // The engine's destructor cancelled the build and waited for its thread: nothing of it is left
        // running to post to an application that may be gone next.
        QCOMPARE(sawCancel.loadAcquire(), 1);
    }

    void progressArrivingAfterAStopChangesNothing() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        // The real builder runs; afterwards it holds its thread until the test has stopped the run, and
        // then delivers one more report, as a worker that had not yet seen the flag would.
        QAtomicInt built = 0;
        QSemaphore stopped;
        engine.build = [&](const std::string& root, const VolumeTree::Options& o,
                           const std::function<void(const VolumeTree::Progress&)>& onProgress,
                           const std::function<bool()>& isCancelled) {
            auto tree = VolumeTree::build(root, o, onProgress, isCancelled);
            built.storeRelease(1);
            stopped.acquire();
            onProgress(VolumeTree::Progress{0.5, "late", 4242, 4242});
            return tree;
        };
        auto run = engine.startBackgroundBuildIfNeeded();
        QTRY_VERIFY(built.loadAcquire() == 1);
        engine.cancel();
        const double progress = engine.progress();
        const std::string label = engine.progressLabel();
        const int directories = engine.directories();
        const std::int64_t bytes = engine.bytesFound();
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
        QCOMPARE(engine.progress(), progress);
        QCOMPARE(engine.progress(), 0.0);
        QCOMPARE(engine.progressLabel(), label);
        QCOMPARE(engine.directories(), directories);
        QCOMPARE(engine.bytesFound(), bytes);
        QVERIFY(engine.trail().empty());
        QCOMPARE(engine.scopesCompleted(), 0);
        const auto events = storedEventsOldestFirst();
        QCOMPARE(titles(events), (std::vector<std::string>{"Disk map build", "Disk map stopped"}));
        QCOMPARE(events[1].detail, std::optional<std::string>("Cancelled after 0 of 3 scopes"));
    }

    void reportsOfAFinishedScopeDoNotReachTheNextOne() {
        Trees trees;
        ActivityEngine activity;
        TreemapEngine engine;
        engine.activity = &activity;
        // Home's progress callback is kept and called again while Applications is being built.
        std::function<void(const VolumeTree::Progress&)> homeReports;
        engine.build = [&](const std::string& root, const VolumeTree::Options& o,
                           const std::function<void(const VolumeTree::Progress&)>& onProgress,
                           const std::function<bool()>& isCancelled) {
            if (root == trees.home.path()) {
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
        for (const auto& label : labels) {
            QVERIFY2(label.find("stale") == std::string::npos, label.c_str());
        }
        QVERIFY(std::find(directories.begin(), directories.end(), 4242) == directories.end());
        QCOMPARE(engine.scopesCompleted(), 3);
    }
};

QTEST_GUILESS_MAIN(TreemapEngineTest)
#include "TreemapEngineTest.moc"

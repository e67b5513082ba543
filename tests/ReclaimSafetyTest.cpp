// kestrune-cli reclaim on real temporary homes: the plan, the refusal without a terminal, a dry run that
// changes nothing, a reclaim of the Trash recorded in the audit log, and where a careless reclaim would lose
// data: the last copy of a group selected through another category, the Trash's own items, a second
// reclaim at the same time, injected system-call failures and kills at random moments.
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/AppSupport.h"
#include "KestruneCore/Platform/FileLock.h"
#include "tests/Photos.h"
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace TestTree;
using namespace TrashFixture;
const auto now = std::chrono::system_clock::now();

ProcessResult cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"/usr/bin/timeout", "120", cliPath()});
    return run(arguments);
}

// Copies of `contents` at `members` (relative path, age in days); `survives` while one still holds it.
struct Group {
    std::vector<std::string> members;
    std::string contents;

    Group(const TemporaryHome& home, const std::vector<std::pair<std::string, int>>& paths, std::string bytes)
        : contents(std::move(bytes)) {
        for (const auto& [path, days] : paths) {
            members.push_back(writeFile(home / path, contents));
            setModified(home / path, now - days * 24h);
        }
    }
    [[nodiscard]] bool survives() const {
        return std::any_of(members.begin(), members.end(),
                           [&](const std::string& p) { return exists(p) && readFile(p) == contents; });
    }
};

// One home through every kind of run: a dry run and a run without --yes change nothing; a reclaim started
// while another holds the per-user lock waits, says so, then goes on, names the item it could not move
// (an immutable folder) with exit status 1 and deletes from the Trash only what it moved there;
// --no-empty leaves the Trash's own items out and deletes nothing; a reclaim of the Trash empties it and
// records every path it removed. What no run chose stays byte for byte.
TEST(ReclaimCommand, EveryRunLeavesWhatItDidNotChooseAndSaysWhatItCouldNotDo) {
    TemporaryHome home;
    const std::string caches = home / "Library/Caches", stuck = caches + "/stuck";
    TestTree::build(home.path(), {{"Library/Caches/app/blob", 2'000'000},
                                  {"Library/Caches/stuck/blob", 2'000'000},
                                  {"Documents/thesis.tex", "precious"s}});
    for (int i = 0; i < 50; ++i) {
        writeFile(inTrash("file" + std::to_string(i)), "trashed " + std::to_string(i));
    }
    const bool locked = run({"/usr/bin/chattr", "+i", stuck}).status == 0; // then it cannot be renamed
    // What the program's own files (the audit log's scan event, the hash cache) leave out.
    const auto files = [&home] {
        auto all = snapshot(home.path());
        std::erase_if(all, [](const auto& entry) {
            return entry.first.starts_with(".local/share/Kestrune") || entry.first.starts_with(".cache");
        });
        return all;
    };
    const auto before = files();
    const auto r = cli({"reclaim", "--dry-run", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* line : {"Caches ", "50 items", "Total                            52 items",
                             "Then what this reclaim moves to the Trash is deleted from it permanently"}) {
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
    }
    EXPECT_EQ(files(), before);
    const auto refused = cli({"reclaim", "--quiet"}); // without a terminal
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("pass --yes"), std::string::npos);
    EXPECT_EQ(files(), before);

    const auto usersTrash = contents(Trash::filesFolder());
    auto held = Platform::FileLock::take(Platform::applicationSupportFolder() + "/Kestrune/reclaim.lock",
                                         Platform::FileLock::Wait::yes);
    ASSERT_TRUE(held.held()) << held.error();
    auto second = start({cliPath(), "reclaim", "--yes", "--quiet", "--category", "userCaches"});
    ASSERT_TRUE(awaitOutput(second, "another reclaim is running"));
    EXPECT_EQ(files(), before); // nothing moved while waiting
    held = Platform::FileLock();
    auto done = finish(second, 0);
    EXPECT_EQ(done.status, locked ? 1 : 0) << done.output;
    EXPECT_EQ(done.output.find("stuck: ") != std::string::npos, locked) << done.output;
    EXPECT_EQ(contents(caches), locked ? (Tree{{"stuck/blob", readFile(stuck + "/blob")}}) : Tree());
    EXPECT_EQ(contents(Trash::filesFolder()), usersTrash);

    makeFile(caches + "/other/blob", 2'000'000);
    auto trashed = snapshot(caches);
    std::erase_if(trashed, [](const auto& entry) { return entry.first.starts_with("stuck"); });
    trashed.merge(snapshot(Trash::filesFolder()));
    done = cli({"reclaim", "--all", "--yes", "--quiet", "--no-empty"});
    EXPECT_EQ(done.status, locked ? 1 : 0) << done.output;
    EXPECT_NE(done.output.find("The Trash's own items are left out"), std::string::npos) << done.output;
    EXPECT_EQ(snapshot(Trash::filesFolder()), trashed);

    const auto untouched = snapshot(home / "Library");
    done = cli({"reclaim", "--yes", "--quiet", "--category", "trash"});
    run({"/usr/bin/chattr", "-i", stuck});
    ASSERT_EQ(done.status, 0) << done.output;
    EXPECT_EQ(contents(Trash::filesFolder()), Tree());
    EXPECT_EQ(snapshot(home / "Library"), untouched); // not chosen
    EXPECT_EQ(readFile(home / "Documents/thesis.tex"), "precious");
    // The newest event is this reclaim's, recording every path it removed once; the emptying afterwards
    // finds nothing left to record.
    const auto history = cli({"history", "--json"});
    const auto document = ActivityJson::read(history.output);
    ASSERT_TRUE(document) << history.output;
    std::vector<std::string> recorded, expected{"~/.local/share/Trash/files/other removed"};
    for (const auto& p : document->events.front().paths) {
        recorded.push_back(p.path + " " + std::string(ActivityKinds::rawValue(p.disposition)));
    }
    for (int i = 0; i < 50; ++i) {
        expected.push_back("~/.local/share/Trash/files/file" + std::to_string(i) + " removed");
    }
    std::sort(recorded.begin(), recorded.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(document->events.front().kind, ActivityKind::reclaim);
    EXPECT_EQ(recorded, expected);
}

// Every group of copies keeps a member with its bytes whatever selects its copies, and what no chosen
// category holds stays byte for byte. First fixed groups whose kept copy another category selects, under
// --all: the reclaim says it kept something back and the other copy goes. Then generated homes with groups
// spread over old installers, a leftover folder and plain folders, reclaimed with random sets of categories.
TEST(ReclaimSafety, EveryGroupOfCopiesKeepsOneMemberWhateverIsSelected) {
    const std::string leftovers = "Music/Previous Libraries.localized/";
    // Members with their age in days; the first is the original, of `bytes` random bytes or a photo.
    const struct {
        const char* name;
        std::vector<std::pair<std::string, int>> members;
        std::size_t bytes;
    } fixed[] = {
        {"kept copy is an old installer", {{"Downloads/x.iso", 90}, {"copy.iso", 0}}, 6'000'000},
        {"both copies are old installers", {{"Downloads/a.iso", 90}, {"Downloads/b.iso", 60}}, 6'000'000},
        {"kept copy in a leftover folder", {{leftovers + "song.bin", 400}, {"song.bin", 0}}, 3'000'000},
        {"kept photo is a screenshot", {{"Desktop/Screenshot 1.jpg", 30}, {"Pictures/shot.jpg", 0}}, 0},
    };
    std::mt19937 generator(7121);
    // Weighted towards the places another category takes files from.
    const std::vector<std::string> places{"Downloads/", "Downloads/", leftovers, "Documents/",
                                          "Projects/deep/"};
    const std::vector<std::string> categories{"downloads", "mediaLeftovers", "duplicates", "userCaches"};
    for (std::size_t round = 0; round < std::size(fixed) + 12; ++round) {
        const bool isFixed = round < std::size(fixed);
        SCOPED_TRACE(isFixed ? fixed[round].name : "round " + std::to_string(round));
        TemporaryHome home;
        TestTree::build(home.path(), {{leftovers + "Library.musicdb", 52'000'000},
                                      {"Library/Caches/app/blob", 2'000'000}});
        std::vector<Group> groups;
        if (isFixed) {
            const auto& c = fixed[round];
            groups.emplace_back(
                home, c.members,
                c.bytes ? randomBytes(c.bytes, 1)
                        : readFile(TestPhotos::photo(home / c.members[0].first, 900, 700, 1, 95)));
        }
        for (std::size_t g = 0, count = isFixed ? 0 : 2 + generator() % 3; g < count; ++g) {
            std::vector<std::pair<std::string, int>> members;
            for (int m = 0, n = 2 + static_cast<int>(generator() % 2); m < n; ++m) {
                members.emplace_back(places[generator() % places.size()] + "g" + std::to_string(g) + "m" +
                                         std::to_string(m) + ".iso",
                                     400 - 10 * m);
            }
            // Over the installer floor, so that the ones in Downloads are old installers too.
            groups.emplace_back(home, members, randomBytes(5'100'000 + g * 4096, generator()));
        }
        const auto notes = writeFile(home / "Documents/notes.txt", "mine");
        const auto unselectedCache = snapshot(home / "Library/Caches");
        std::vector<std::string> arguments{"reclaim", "--yes", "--quiet"}, chosen;
        for (const auto& category : categories) {
            if (!isFixed && generator() % 4 != 0) {
                chosen.push_back(category);
                arguments.insert(arguments.end(), {"--category", category});
            }
        }
        if (chosen.empty()) {
            arguments.push_back("--all");
        }
        const auto r = cli(arguments);
        EXPECT_TRUE(r.status == 0 || (!isFixed && r.status == 1)) << r.output;
        for (const auto& group : groups) {
            EXPECT_TRUE(group.survives()) << group.members.front() << "\n" << r.output;
        }
        EXPECT_EQ(readFile(notes), "mine");
        if (isFixed) {
            EXPECT_NE(r.output.find("kept back"), std::string::npos) << r.output;
            EXPECT_EQ(std::count_if(groups[0].members.begin(), groups[0].members.end(), exists), 1)
                << r.output;
        } else if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), "userCaches") == chosen.end()) {
            EXPECT_EQ(snapshot(home / "Library/Caches"), unselectedCache);
        }
    }
}

// A small home for the fault tests: three selected caches, one unselected document, the Trash's item.
struct FaultHome {
    TemporaryHome home;
    const std::vector<std::string> names{"one", "two", "three"};
    std::map<std::string, std::string> untouched;

    FaultHome() {
        for (const auto& name : names) {
            makeFile(home / ("Library/Caches/" + name + "/blob"), 1'500'000);
        }
        writeFile(home / "Documents/thesis.tex", "precious");
        untouched = snapshot(home / "Documents");
    }

    // Every selected item is in place or in the Trash with an info file naming where it came from;
    // returns how many moved.
    long expectConsistent(const std::string& context) const {
        long moved = 0;
        for (const auto& name : names) {
            const std::string item = home / ("Library/Caches/" + name);
            if (exists(item + "/blob")) {
                continue;
            }
            ++moved;
            EXPECT_TRUE(exists(inTrash(name + "/blob"))) << context << name;
            EXPECT_NE(readFile(infoOf(name)).find("Path=" + Trash::Info::encode(item) + "\n"),
                      std::string::npos)
                << context << name;
        }
        EXPECT_EQ(snapshot(home / "Documents"), untouched) << context;
        const auto log = readFile(ActivityStore::fileURL());
        EXPECT_TRUE(log.empty() || ActivityJson::read(log)) << context << "the audit log does not read";
        return moved;
    }

    // After the next emptying no info file lacks its item.
    void expectNoOrphans(const std::string& context) const {
        const std::string info = trashRoot() + "/info";
        for (const auto& [name, hash] : snapshot(info)) {
            setModified(info + "/" + name, now - 1h); // past the grace for moves in progress
        }
        // Something to empty, so that the reclaim really deletes from the Trash even when the kill came
        // before any item reached it.
        makeFile(inTrash("to-empty"), 4096);
        const auto r = cli({"reclaim", "--yes", "--quiet", "--category", "trash"});
        EXPECT_FALSE(exists(inTrash("to-empty"))) << context << r.output;
        for (const auto& [name, hash] : snapshot(info)) {
            EXPECT_TRUE(exists(inTrash(name.substr(0, name.rfind('.'))))) << context << name << r.output;
        }
    }
};

// The most calls of `call` one thread of a clean traced reclaim makes (strace counts per thread).
int callsPerThread(const std::string& call) {
    FaultHome home;
    const std::string log = home.home / "strace.log";
    run({"/usr/bin/strace", "-f", "-qq", "-o", log, "-e", "trace=" + call, cliPath(), "reclaim", "--yes",
         "--quiet", "--no-empty"});
    std::map<std::string, int> perThread;
    int most = 0;
    for (const auto& line : lines(readFile(log))) {
        most = std::max(most, ++perThread[line.substr(0, line.find(' '))]);
    }
    return most;
}

// Each call of each system call that moves, writes or deletes fails once in turn; whatever happens, no
// item is lost or stranded, a run that says it succeeded really did, every failure is named, and a
// lost wake-up between threads never leaves the program waiting.
TEST(ReclaimSafety, InjectedSystemCallFailuresLoseNothingAndAreReported) {
    if (access("/usr/bin/strace", X_OK) != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
#if defined(__SANITIZE_ADDRESS__)
    // A failed write inside the sanitizer's own runtime aborts it, whatever the program does; the
    // sanitized binary is several times slower, so only every fifth openat fails.
    const std::vector<std::string> calls{"renameat2", "unlinkat", "fsync", "openat"};
    const int stride = 5;
#else
    const std::vector<std::string> calls{"renameat2", "unlinkat", "fsync", "write", "openat"};
    const int stride = 1;
#endif
    for (const std::string& call : calls) {
        const int count = callsPerThread(call);
        for (int when = 1; when <= std::max(count, 1); when += (call == "openat" ? stride : 1)) {
            FaultHome home;
            const std::string context = call + " #" + std::to_string(when) + ": ";
            const auto r =
                run({"/usr/bin/timeout", "60", "/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e",
                     "trace=" + call, "-e", "inject=" + call + ":error=EIO:when=" + std::to_string(when),
                     cliPath(), "reclaim", "--yes", "--quiet", "--no-empty"});
            ASSERT_NE(r.status, 124) << context << "hung";
            const long moved = home.expectConsistent(context);
            // A failed listing during the scan only hides an item from the plan; what the plan listed
            // must really have moved when the run says it succeeded.
            std::smatch planned;
            const bool hasPlan = std::regex_search(r.output, planned, std::regex(R"(Total +(\d+) item)"));
            if (r.status == 0) {
                EXPECT_EQ(moved, hasPlan ? std::stol(planned[1]) : 0) << context << r.output;
            } else {
                EXPECT_FALSE(r.output.empty()) << context << "failed without saying why";
            }
            home.expectNoOrphans(context);
        }
    }
}

// Killed at any moment, a reclaim leaves every item in place or in the Trash with its info file.
TEST(ReclaimSafety, AKillAtAnyMomentStrandsNothing) {
    std::mt19937 generator(20261207);
    std::uniform_int_distribution<int> delay(0, 400);
    for (int round = 0; round < 12; ++round) {
        FaultHome home;
        const std::string context = "round " + std::to_string(round) + ": ";
        auto child = start({cliPath(), "reclaim", "--yes", "--quiet", "--no-empty"});
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(generator)));
        finish(child, SIGKILL);
        home.expectConsistent(context);
        home.expectNoOrphans(context);
    }
}

} // namespace

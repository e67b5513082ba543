// kestrune-cli reclaim on real temporary homes: the plan, the refusal without a terminal, a dry run that
// changes nothing, a reclaim of the Trash recorded in the audit log, and where a careless reclaim would lose
// data: the last copy of a group selected through another category, the Trash's own items, a second
// reclaim at the same time, injected system-call failures and kills at random moments.
#include "KestruneCore/Activity/ActivityStore.h"
#include "KestruneCore/Platform/AppSupport.h"
#include "KestruneCore/Platform/FileLock.h"
#include "KestruneCore/Platform/Trash.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
const auto now = std::chrono::system_clock::now();

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = generator();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    return bytes;
}

// A noisy photo well over the similar-images floor; the same seed gives the same bytes.
std::string photo(const std::string& path, unsigned seed) {
    VipsImage* noise = nullptr;
    EXPECT_EQ(vips_gaussnoise(&noise, 900, 700, "mean", 128.0, "sigma", 40.0 + seed % 7, nullptr), 0);
    VipsImage* bytes = nullptr;
    EXPECT_EQ(vips_cast_uchar(noise, &bytes, nullptr), 0);
    TestTree::makeFolder(path.substr(0, path.rfind('/')));
    EXPECT_EQ(vips_jpegsave(bytes, path.c_str(), "Q", 95, nullptr), 0) << vips_error_buffer();
    g_object_unref(noise);
    g_object_unref(bytes);
    return path;
}

std::string copyOf(const std::string& from, const std::string& to) {
    return TestTree::writeFile(to, TestTree::readFile(from));
}

TestTree::ProcessResult cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"/usr/bin/timeout", "120", TestTree::cliPath()});
    return TestTree::run(arguments);
}

// Whether at least one of `paths` is still there holding `contents`.
bool oneSurvives(const std::vector<std::string>& paths, const std::string& contents) {
    return std::any_of(paths.begin(), paths.end(), [&](const std::string& p) {
        return TestTree::exists(p) && TestTree::readFile(p) == contents;
    });
}

void plantHome(const TestTree::TemporaryHome& home) {
    TestTree::makeFile(home / "Library/Caches/app/blob", 2'000'000);
    TestTree::writeFile(home / "Documents/thesis.tex", "precious");
    for (int i = 0; i < 50; ++i) {
        TestTree::writeFile(Trash::filesFolder() + "/file" + std::to_string(i),
                            "trashed " + std::to_string(i));
    }
}

TEST(ReclaimCommand, ADryRunShowsThePlanAndChangesNothing) {
    TestTree::TemporaryHome home;
    plantHome(home);
    // What the program's own files (the audit log's scan event, the hash cache) leave out.
    const auto files = [&home] {
        auto all = TestTree::snapshot(home.path());
        std::erase_if(all, [](const auto& entry) {
            return entry.first.starts_with(".local/share/Kestrune") || entry.first.starts_with(".cache");
        });
        return all;
    };
    const auto before = files();
    const auto r = cli({"reclaim", "--dry-run", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* line : {"Caches ", "50 items", "Total                            51 items",
                             "Then what this reclaim moves to the Trash is deleted from it permanently"}) {
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
    }
    EXPECT_EQ(files(), before);
    // Without a terminal and without --yes nothing happens either.
    const auto refused = cli({"reclaim", "--quiet"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("pass --yes"), std::string::npos);
    EXPECT_EQ(files(), before);
}

TEST(ReclaimCommand, ReclaimingTheTrashEmptiesItAndRecordsEveryPath) {
    TestTree::TemporaryHome home;
    plantHome(home);
    const auto r = cli({"reclaim", "--yes", "--quiet", "--category", "trash"});
    ASSERT_EQ(r.status, 0) << r.output;
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/file" + std::to_string(i)));
    }
    EXPECT_TRUE(TestTree::exists(home / "Library/Caches/app/blob")); // not chosen
    EXPECT_EQ(TestTree::readFile(home / "Documents/thesis.tex"), "precious");
    const auto history = cli({"history", "--json"});
    const auto document = ActivityJson::read(history.output);
    ASSERT_TRUE(document) << history.output;
    int reclaims = 0;
    for (const auto& event : document->events) {
        if (event.kind != ActivityKind::reclaim) {
            continue;
        }
        ++reclaims;
        ASSERT_EQ(event.paths.size(), 50u);
        for (const auto& p : event.paths) {
            EXPECT_EQ(p.disposition, PathDisposition::removed);
            EXPECT_TRUE(p.path.starts_with("~/.local/share/Trash/files/file")) << p.path;
        }
    }
    EXPECT_EQ(reclaims, 1); // the emptying afterwards found nothing left to record
    EXPECT_EQ(document->events.front().kind, ActivityKind::reclaim);
}

TEST(ReclaimCommand, AFailedItemIsReportedWithExitStatusOne) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Caches/stuck/blob", 2'000'000);
    const std::string stuck = home / "Library/Caches/stuck"; // an immutable folder cannot be renamed
    TestTree::makeFile(home / "Library/Caches/free/blob", 2'000'000);
    if (TestTree::run({"/usr/bin/chattr", "+i", stuck}).status != 0) {
        GTEST_SKIP() << "chattr +i is not possible here";
    }
    const auto r = cli({"reclaim", "--yes", "--quiet", "--no-empty"});
    TestTree::run({"/usr/bin/chattr", "-i", stuck});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("stuck: "), std::string::npos) << r.output;
    EXPECT_TRUE(TestTree::exists(stuck));
    EXPECT_FALSE(TestTree::exists(home / "Library/Caches/free"));
    EXPECT_TRUE(TestTree::exists(Trash::filesFolder() + "/free/blob")); // --no-empty: still in the Trash
}

struct Group {
    std::vector<std::string> members;
    std::string contents;
};

struct LastCopyCase {
    const char* name;
    std::function<Group(const TestTree::TemporaryHome&)> plant;
};

TEST(ReclaimSafety, EveryGroupOfCopiesKeepsOneMemberWhateverIsSelected) {
    const std::vector<LastCopyCase> cases{
        {"kept copy is an old installer",
         [](const TestTree::TemporaryHome& home) {
             const auto iso = TestTree::writeFile(home / "Downloads/x.iso", randomBytes(6'000'000, 1));
             TestTree::setModified(iso, now - 90 * 24h);
             return Group{{iso, copyOf(iso, home / "copy.iso")}, TestTree::readFile(iso)};
         }},
        {"both copies are old installers",
         [](const TestTree::TemporaryHome& home) {
             const auto a = TestTree::writeFile(home / "Downloads/a.iso", randomBytes(6'000'000, 2));
             const auto b = copyOf(a, home / "Downloads/b.iso");
             TestTree::setModified(a, now - 90 * 24h);
             TestTree::setModified(b, now - 60 * 24h);
             return Group{{a, b}, TestTree::readFile(a)};
         }},
        {"kept copy inside a selected leftover folder",
         [](const TestTree::TemporaryHome& home) {
             const std::string folder = home / "Music/Previous Libraries.localized";
             TestTree::makeFile(folder + "/Library.musicdb", 52'000'000);
             const auto song = TestTree::writeFile(folder + "/song.bin", randomBytes(3'000'000, 3));
             TestTree::setModified(song, now - 400 * 24h);
             return Group{{song, copyOf(song, home / "song.bin")}, TestTree::readFile(song)};
         }},
        {"kept photo is a screenshot",
         [](const TestTree::TemporaryHome& home) {
             const auto shot = photo(home / "Desktop/Screenshot 2026-01-02.jpg", 4);
             TestTree::setModified(shot, now - 30 * 24h);
             return Group{{shot, copyOf(shot, home / "Pictures/shot.jpg")}, TestTree::readFile(shot)};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestTree::TemporaryHome home;
        const Group group = c.plant(home);
        const auto bystander = TestTree::writeFile(home / "Documents/notes.txt", "keep me");
        const auto r = cli({"reclaim", "--all", "--yes", "--quiet"});
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("kept back"), std::string::npos) << r.output;
        EXPECT_TRUE(oneSurvives(group.members, group.contents)) << r.output;
        EXPECT_EQ(TestTree::readFile(bystander), "keep me");
        // Only one member was kept back; the rest went.
        EXPECT_EQ(std::count_if(group.members.begin(), group.members.end(), TestTree::exists), 1) << r.output;
    }
}

// Only the Trash items the user chose are deleted for good; --no-empty deletes nothing at all.
TEST(ReclaimSafety, TheUsersOwnTrashStaysUnlessChosen) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Caches/app/blob", 2'000'000);
    const auto mine = TestTree::writeFile(home / "Documents/draft.txt", "trashed by hand");
    ASSERT_TRUE(Trash::moveToTrash(mine).ok);
    const std::string inTrash = Trash::filesFolder() + "/draft.txt";

    auto r = cli({"reclaim", "--yes", "--quiet", "--category", "userCaches"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(TestTree::exists(home / "Library/Caches/app"));
    EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/app")); // what this reclaim moved is emptied
    EXPECT_EQ(TestTree::readFile(inTrash), "trashed by hand");

    TestTree::makeFile(home / "Library/Caches/other/blob", 2'000'000);
    r = cli({"reclaim", "--all", "--yes", "--quiet", "--no-empty"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("The Trash's own items are left out"), std::string::npos) << r.output;
    EXPECT_EQ(TestTree::readFile(inTrash), "trashed by hand");
    EXPECT_TRUE(TestTree::exists(Trash::filesFolder() + "/other/blob"));
}

// A reclaim started while another holds the per-user lock waits for it, says so, then goes on.
TEST(ReclaimSafety, ASecondReclaimWaitsForTheFirst) {
    TestTree::TemporaryHome home;
    TestTree::makeFile(home / "Library/Caches/app/blob", 2'000'000);
    auto held = Platform::FileLock::take(Platform::applicationSupportFolder() + "/Kestrune/reclaim.lock",
                                         Platform::FileLock::Wait::yes);
    ASSERT_TRUE(held.held()) << held.error();
    auto second = TestTree::start({TestTree::cliPath(), "reclaim", "--yes", "--quiet"});
    ASSERT_TRUE(TestTree::awaitOutput(second, "another reclaim is running"));
    EXPECT_TRUE(TestTree::exists(home / "Library/Caches/app/blob")); // nothing moved while waiting
    held = Platform::FileLock();
    const auto r = TestTree::finish(second, 0);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(TestTree::exists(home / "Library/Caches/app"));
}

// Generated homes with groups of copies spread over old installers, a leftover folder
// and plain folders, reclaimed with random sets of categories: every group keeps a member with its
// bytes, and every file outside the chosen categories stays byte for byte.
TEST(ReclaimSafety, RandomHomesAndSelectionsNeverLoseAGroup) {
    std::mt19937 generator(7121);
    // Weighted towards the places another category takes files from.
    const std::vector<std::string> places{"Downloads/", "Downloads/", "Music/Previous Libraries.localized/",
                                          "Documents/", "Projects/deep/"};
    const std::vector<std::string> categories{"downloads", "mediaLeftovers", "duplicates", "userCaches"};
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TestTree::TemporaryHome home;
        TestTree::makeFile(home / "Music/Previous Libraries.localized/Library.musicdb", 51'000'000);
        TestTree::makeFile(home / "Library/Caches/app/blob", 2'000'000);
        std::vector<Group> groups;
        const int groupCount = 2 + static_cast<int>(generator() % 3);
        for (int g = 0; g < groupCount; ++g) {
            // Over the installer floor, so that the ones in Downloads are old installers too.
            const std::string contents = randomBytes(5'100'000 + g * 4096, generator());
            Group group{{}, contents};
            const int members = 2 + static_cast<int>(generator() % 2);
            for (int m = 0; m < members; ++m) {
                const std::string place = places[generator() % places.size()];
                const std::string path =
                    home / (place + "g" + std::to_string(g) + "m" + std::to_string(m) + ".iso");
                TestTree::writeFile(path, contents);
                TestTree::setModified(path, now - std::chrono::hours(24 * (400 - 10 * m)));
                group.members.push_back(path);
            }
            groups.push_back(std::move(group));
        }
        const auto notes = TestTree::writeFile(home / "Documents/notes.txt", "mine");
        const auto unselectedCache = TestTree::snapshot(home / "Library/Caches");
        std::vector<std::string> arguments{"reclaim", "--yes", "--quiet"};
        std::vector<std::string> chosen;
        for (const auto& category : categories) {
            if (generator() % 4 != 0) {
                chosen.push_back(category);
                arguments.insert(arguments.end(), {"--category", category});
            }
        }
        if (chosen.empty()) {
            arguments.push_back("--all");
        }
        const auto r = cli(arguments);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.output;
        for (const auto& group : groups) {
            EXPECT_TRUE(oneSurvives(group.members, group.contents)) << group.members.front() << "\n"
                                                                    << r.output;
        }
        EXPECT_EQ(TestTree::readFile(notes), "mine");
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), "userCaches") == chosen.end()) {
            EXPECT_EQ(TestTree::snapshot(home / "Library/Caches"), unselectedCache);
        }
    }
}

// A small home for the fault tests: three selected caches, one unselected document, the Trash's item.
struct FaultHome {
    TestTree::TemporaryHome home;
    std::vector<std::string> selected;
    std::map<std::string, std::string> untouched;

    FaultHome() {
        for (const char* name : {"one", "two", "three"}) {
            selected.push_back(home / (std::string("Library/Caches/") + name));
            TestTree::makeFile(selected.back() + "/blob", 1'500'000);
        }
        TestTree::writeFile(home / "Documents/thesis.tex", "precious");
        untouched = TestTree::snapshot(home / "Documents");
    }

    // Every selected item is in place or in the Trash with an info file naming where it came from.
    void expectConsistent(const std::string& context) const {
        for (const auto& item : selected) {
            if (TestTree::exists(item + "/blob")) {
                continue;
            }
            const std::string name = item.substr(item.rfind('/') + 1);
            const std::string trashRoot = Trash::filesFolder().substr(0, Trash::filesFolder().size() - 6);
            EXPECT_TRUE(TestTree::exists(Trash::filesFolder() + "/" + name + "/blob")) << context << name;
            const auto info = TestTree::readFile(trashRoot + "/info/" + name + ".trashinfo");
            EXPECT_NE(info.find("Path=" + Trash::Info::encode(item)), std::string::npos) << context << name;
        }
        EXPECT_EQ(TestTree::snapshot(home / "Documents"), untouched) << context;
        const auto log = TestTree::readFile(ActivityStore::fileURL());
        EXPECT_TRUE(log.empty() || ActivityJson::read(log)) << context << "the audit log does not read";
    }

    // After the next emptying no info file lacks its item.
    void expectNoOrphans(const std::string& context) const {
        const std::string info = Trash::filesFolder().substr(0, Trash::filesFolder().size() - 6) + "/info";
        for (const auto& [name, hash] : TestTree::snapshot(info)) {
            TestTree::setModified(info + "/" + name, now - 1h); // past the grace for moves in progress
        }
        // Something to empty, so that the reclaim really deletes from the Trash even when the kill came
        // before any item reached it.
        TestTree::makeFile(Trash::filesFolder() + "/to-empty", 4096);
        const auto r = cli({"reclaim", "--yes", "--quiet", "--category", "trash"});
        EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/to-empty")) << context << r.output;
        for (const auto& [name, hash] : TestTree::snapshot(info)) {
            const std::string item = name.substr(0, name.size() - std::string(".trashinfo").size());
            EXPECT_TRUE(TestTree::exists(Trash::filesFolder() + "/" + item)) << context << name << r.output;
        }
    }
};

// The most calls of `call` one thread of a clean traced reclaim makes (strace counts per thread).
int callsPerThread(const std::string& call) {
    FaultHome home;
    const std::string log = home.home / "strace.log";
    TestTree::run({"/usr/bin/strace", "-f", "-qq", "-o", log, "-e", "trace=" + call, TestTree::cliPath(),
                   "reclaim", "--yes", "--quiet", "--no-empty"});
    std::map<std::string, int> perThread;
    std::istringstream lines(TestTree::readFile(log));
    for (std::string line; std::getline(lines, line);) {
        ++perThread[line.substr(0, line.find(' '))];
    }
    int most = 0;
    for (const auto& [thread, count] : perThread) {
        most = std::max(most, count);
    }
    return most;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int stride = 5; // every fifth call: the sanitized binary is several times slower
#else
constexpr int stride = 1;
#endif

// Each call of each system call that moves, writes or deletes fails once in turn; whatever happens, no
// item is lost or stranded, a run that says it succeeded really did, every failure is named, and a
// lost wake-up between threads never leaves the program waiting.
TEST(ReclaimSafety, InjectedSystemCallFailuresLoseNothingAndAreReported) {
    if (access("/usr/bin/strace", X_OK) != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
#if defined(__SANITIZE_ADDRESS__)
    // A failed write inside the sanitizer's own runtime aborts it, whatever the program does.
    const std::vector<std::string> calls{"renameat2", "unlinkat", "fsync", "openat"};
#else
    const std::vector<std::string> calls{"renameat2", "unlinkat", "fsync", "write", "openat"};
#endif
    for (const std::string& call : calls) {
        const int calls = callsPerThread(call);
        for (int when = 1; when <= std::max(calls, 1); when += (call == "openat" ? stride : 1)) {
            FaultHome home;
            const std::string context = call + " #" + std::to_string(when) + ": ";
            const auto r = TestTree::run({"/usr/bin/timeout", "60", "/usr/bin/strace", "-f", "-qq", "-o",
                                          "/dev/null", "-e", "trace=" + call, "-e",
                                          "inject=" + call + ":error=EIO:when=" + std::to_string(when),
                                          TestTree::cliPath(), "reclaim", "--yes", "--quiet", "--no-empty"});
            ASSERT_NE(r.status, 124) << context << "hung";
            home.expectConsistent(context);
            // A failed listing during the scan only hides an item from the plan; what the plan listed
            // must really have moved when the run says it succeeded.
            const auto moved = std::count_if(home.selected.begin(), home.selected.end(),
                                             [](const std::string& p) { return !TestTree::exists(p); });
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
        auto child = TestTree::start({TestTree::cliPath(), "reclaim", "--yes", "--quiet", "--no-empty"});
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(generator)));
        TestTree::finish(child, SIGKILL);
        home.expectConsistent(context);
        home.expectNoOrphans(context);
    }
}

} // namespace

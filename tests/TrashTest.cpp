// The Trash operations on real trees under a temporary home: freedesktop.org layout and interplay with
// gio, the guards of permanent deletion (links, swaps, refusals, permissions, immutable files, other
// mounts) and what is left untouched afterwards.
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace TestTree;
using namespace TrashFixture;
using namespace std::string_literals;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// gio inside a private session bus, the way a desktop session runs it.
ProcessResult gio(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/dbus-run-session", "--", "/usr/bin/gio"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

bool haveGio() {
    return exists("/usr/bin/gio") && exists("/usr/bin/dbus-run-session");
}

// The Trash is made private, each item gets a three-line info file, a second item of the same name a
// distinct name, a file in files/ without an info file (someone else's) is never replaced, and a link
// goes as the link, even written with a trailing slash.
TEST(MoveToTrash, CreatesThePrivateTrashWithInfoFilesAndNeverOverwrites) {
    TemporaryHome home;
    const std::string file = writeFile(home / "a/notes.txt", "first");
    ASSERT_FALSE(exists(trashRoot()));
    const auto first = Trash::moveToTrash(file);
    ASSERT_TRUE(first.ok) << first.reason;
    EXPECT_EQ(first.trashedAs, inTrash("notes.txt"));
    for (const auto& folder : {trashRoot(), trashRoot() + "/files", trashRoot() + "/info"}) {
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    }
    const auto info = lines(readFile(infoOf("notes.txt")));
    ASSERT_EQ(info.size(), 3u);
    EXPECT_EQ(std::pair(info[0], info[1]), std::pair("[Trash Info]"s, "Path=" + Trash::Info::encode(file)));
    EXPECT_TRUE(std::regex_match(info[2], std::regex(R"(DeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
    const auto second = Trash::moveToTrash(writeFile(home / "b/notes.txt", "second"));
    EXPECT_EQ(second.trashedAs, inTrash("notes.txt.2"));
    EXPECT_EQ(lines(readFile(infoOf("notes.txt.2")))[1], "Path=" + Trash::Info::encode(home / "b/notes.txt"));
    writeFile(inTrash("orphan"), "keep me");
    const auto third = Trash::moveToTrash(writeFile(home / "orphan", "new"));
    EXPECT_EQ(third.trashedAs, inTrash("orphan.2")) << third.reason;
    EXPECT_FALSE(exists(infoOf("orphan")));
    build(home.path(), {{"precious/a.txt", "a"s}, {"shortcut", {}, -1, home / "precious"}});
    EXPECT_TRUE(Trash::moveToTrash(home / "shortcut/").ok);
    const Tree trashed{{"notes.txt", "first"},
                       {"notes.txt.2", "second"},
                       {"orphan", "keep me"},
                       {"orphan.2", "new"},
                       {"shortcut", "-> " + home / "precious"}};
    EXPECT_EQ(contents(Trash::filesFolder()), trashed);
    EXPECT_EQ(contents(home / "a"), Tree());
    EXPECT_EQ(contents(home / "precious"), (Tree{{"a.txt", "a"}}));
}

// gio lists each item with its original path and restores it to the exact bytes; for names gio itself
// cannot restore (it restores to an escaped display form) our info file must equal gio's own. What gio
// trashed is deleted with its info file and its directorysizes line, and nothing else.
TEST(MoveToTrash, OddNamesRoundTripThroughGioAndGiosItemsAreDeletedCleanly) {
    TemporaryHome home;
    const std::vector<std::string> names{
        "caf\xC3\xA9 \xFF\xFE", "two\nlines", "r\xC3\xA9sum\xC3\xA9", "100% done", "-rf", "a b#c?d [1]"};
    const std::size_t gioCannotRestore = 3;
    for (const auto& name : names) {
        const std::string original = writeFile(home / ("odd/" + name), "body of " + name);
        const auto outcome = Trash::moveToTrash(original);
        EXPECT_EQ(outcome.trashedAs, inTrash(name)) << outcome.reason;
        const auto info = lines(readFile(infoOf(name)));
        ASSERT_EQ(info.size(), 3u) << "a name may not break the info file's lines";
        EXPECT_EQ(Trash::Info::decode(info[1].substr(5)), original);
    }
    if (!haveGio()) {
        GTEST_SKIP() << "gio or dbus-run-session missing: restore not checked";
    }
    for (std::size_t i = 0; i < gioCannotRestore; ++i) {
        ASSERT_EQ(gio({"trash", writeFile(home / ("odd/" + names[i]), "twin")}).status, 0);
        EXPECT_EQ(lines(readFile(infoOf(names[i] + ".2")))[1], lines(readFile(infoOf(names[i])))[1]);
    }
    for (std::size_t i = gioCannotRestore; i < names.size(); ++i) {
        const std::string& name = names[i];
        const auto list = gio({"trash", "--list"});
        std::string uri;
        for (const auto& line : lines(list.output)) {
            const auto tab = line.find('\t');
            if (line.starts_with("trash:///") && tab != std::string::npos &&
                Trash::Info::decode(line.substr(9, tab - 9)) == name &&
                line.substr(tab + 1) == home / ("odd/" + name)) {
                uri = line.substr(0, tab);
            }
        }
        ASSERT_FALSE(uri.empty()) << "gio does not list " << name << " with its path:\n" << list.output;
        const auto restored = gio({"trash", "--restore", uri});
        EXPECT_EQ(restored.status, 0) << restored.output;
        EXPECT_EQ(readFile(home / ("odd/" + name)), "body of " + name) << name;
        EXPECT_FALSE(exists(infoOf(name)));
    }
    build(home.path(), {{"bulky/inner/file", "data"s}, {"other", "stays"s}});
    ASSERT_EQ(gio({"trash", home / "bulky", home / "other"}).status, 0);
    writeFile(trashRoot() + "/directorysizes", "4096 1700000000 bulky\n8192 1700000001 other%20dir\n");
    const auto before = contents(Trash::filesFolder());
    const auto outcome = Trash::deletePermanently(inTrash("bulky"));
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    auto expected = before;
    expected.erase("bulky/inner/file");
    EXPECT_EQ(contents(Trash::filesFolder()), expected);
    EXPECT_FALSE(exists(infoOf("bulky")));
    EXPECT_TRUE(exists(infoOf("other")));
    EXPECT_EQ(readFile(trashRoot() + "/directorysizes"), "8192 1700000001 other%20dir\n");
}

TEST(InfoEncoding, EveryByteRoundTripsAndBadEscapesAreRejected) {
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const auto encoded = Trash::Info::encode(all);
    EXPECT_EQ(
        encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~/%"),
        std::string::npos);
    EXPECT_EQ(Trash::Info::decode(encoded), all);
    EXPECT_EQ(Trash::Info::encode("/home/anna/My File%.txt"), "/home/anna/My%20File%25.txt");
    EXPECT_FALSE(Trash::Info::decode("bad%2") || Trash::Info::decode("bad%zz"));
}

TEST(DeletePermanently, AFolderSwappedForALinkWhileDeletingNeverReachesTheCanary) {
    TemporaryHome home;
    const std::string canaryFolder = home / "canary", files = Trash::filesFolder(),
                      victim = files + "/victim";
    constexpr int folders = 16;
    for (int i = 0; i < 20; ++i) {
        writeFile(canaryFolder + "/file" + std::to_string(i), "alive");
    }
    makeFolder(files);
    const auto canary = snapshot(canaryFolder);
    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    // Keeps replacing each victim/innerN by a link to the canary for a moment and putting it back.
    std::thread attacker([&] {
        for (int n = 0; !stop; n = (n + 1) % folders) {
            const std::string inner = victim + "/inner" + std::to_string(n);
            const std::string aside = files + "/aside" + std::to_string(n);
            if (rename(inner.c_str(), aside.c_str()) != 0) {
                continue;
            }
            if (symlink(canaryFolder.c_str(), inner.c_str()) == 0) {
                ++swaps;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                unlink(inner.c_str());
            }
            rename(aside.c_str(), inner.c_str());
        }
    });
    // At least 5 s, and on a busy machine on until the race really ran (60 s at the most).
    const auto start = std::chrono::steady_clock::now();
    const auto racing = [&](long rounds) {
        const auto spent = std::chrono::steady_clock::now() - start;
        return spent < std::chrono::seconds(5) ||
               ((rounds <= 10 || swaps.load() <= 100) && spent < std::chrono::seconds(60));
    };
    long rounds = 0;
    bool canaryHurt = false;
    for (; racing(rounds) && !canaryHurt; ++rounds) {
        for (int n = 0; n < folders; ++n) {
            const std::string inner = victim + "/inner" + std::to_string(n);
            mkdir(victim.c_str(), 0755);
            mkdir(inner.c_str(), 0755);
            // Never through the attacker's link: the test must not touch the canary itself.
            const int dir = open(inner.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (dir >= 0) {
                close(openat(dir, "f", O_WRONLY | O_CREAT | O_NOFOLLOW, 0644));
                close(dir);
            }
        }
        (void)Trash::deletePermanently(victim);
        canaryHurt = snapshot(canaryFolder) != canary;
    }
    stop = true;
    attacker.join();
    EXPECT_GT(rounds, 10);
    EXPECT_GT(swaps.load(), 100);
    EXPECT_FALSE(canaryHurt) << "after " << rounds << " rounds";
}

// Moving refuses what is not an item outside the Trash, deleting what is not an item inside it: a path
// through a link, the Trash reached through a link included. Links in the Trash go as links, never
// followed, and what is gone already counts as done. Nothing outside the Trash changes.
TEST(TrashRefusals, NothingOutsideTheTrashIsEverReached) {
    TemporaryHome home;
    const std::string files = Trash::filesFolder(), precious = home / "precious";
    build(home.path(), {{"precious/deep/photo.jpg", "irreplaceable"s},
                        {"precious/notes.txt", "notes"s},
                        {"elsewhere/files/victim", "keep too"s}});
    ASSERT_TRUE(Trash::moveToTrash(writeFile(home / "inside", "in trash")).ok);
    build(files, {{"alone", {}, -1, precious},
                  {"bundle/sub/inside", {}, -1, precious},
                  {"bundle/file-link", {}, -1, precious + "/notes.txt"},
                  {"again", {}, -1, precious}});
    const auto before = contents(home.path());
    for (const std::string& path :
         {std::string(), "relative/path"s, "/"s, home.path(), home.path() + "/", home / ".local", trashRoot(),
          files, inTrash("inside"), home / "missing"}) {
        const auto outcome = Trash::moveToTrash(path);
        EXPECT_FALSE(outcome.ok || outcome.reason.empty()) << path;
    }
    EXPECT_EQ(Trash::moveToTrash(home / "missing").reason, std::strerror(ENOENT));
    for (const auto& path : std::vector<std::string>{
             "", "/", home.path(), home.path() + "/", "relative/inside", precious + "/notes.txt", precious,
             files, files + "/", files + "/../files", trashRoot(), files + "/../info",
             files + "/again/notes.txt",
             home / "precious/../.local/share/Trash/files/../../../../precious/notes.txt"}) {
        EXPECT_FALSE(Trash::deletePermanently(path).ok) << "'" << path << "'";
    }
    EXPECT_EQ(contents(home.path()), before);
    for (const auto& item : {files + "/alone/", files + "/bundle", files + "/alone", files + "/never-there",
                             files + "/no/such/folder"}) {
        const auto outcome = Trash::deletePermanently(item);
        EXPECT_TRUE(outcome.ok) << item << ": " << outcome.reason;
    }
    auto expected = before; // less the two items deleted
    std::erase_if(expected, [&](const auto& entry) {
        const std::string inFiles = files.substr(home.path().size() + 1) + "/";
        return entry.first.starts_with(inFiles + "alone") || entry.first.starts_with(inFiles + "bundle");
    });
    EXPECT_EQ(contents(home.path()), expected);
    // The Trash folder itself a link to somewhere else, then its files folder: nothing through it goes.
    ASSERT_EQ(rename(trashRoot().c_str(), (home / "realtrash").c_str()), 0);
    ASSERT_EQ(symlink((home / "elsewhere").c_str(), trashRoot().c_str()), 0);
    EXPECT_FALSE(Trash::deletePermanently(files + "/victim").ok);
    unlink(trashRoot().c_str());
    makeFolder(trashRoot());
    ASSERT_EQ(symlink((home / "elsewhere/files").c_str(), files.c_str()), 0);
    EXPECT_FALSE(Trash::deletePermanently(files + "/victim").ok);
    EXPECT_EQ(readFile(home / "elsewhere/files/victim"), "keep too");
}

// As an ordinary user, for whom the permission bits really apply, and with 64 descriptors: a read-only
// tree of the user's is emptied, and so is one 1,500 levels deep; the sibling stays.
TEST(DeletePermanently, ReadOnlyAndDeepTreesGoAsAnOrdinaryUserWithFewDescriptors) {
    TemporaryHome home;
    const std::string tree = inTrash("readonly"), deep = inTrash("deep");
    build(tree, {{"level1/level2/file0"}, {"level1/level2/file1"}, {"top"}, {"noaccess/below/f"}});
    std::string bottom = deep;
    for (int level = 0; level < 1500; ++level) {
        bottom += "/d";
        if (level % 100 == 0) {
            writeFile(bottom + "/f", "");
        }
    }
    makeFolder(bottom);
    writeFile(inTrash("sibling"), "stays");
    giveToUnprivileged(trashRoot());
    for (const auto& [path, mode] :
         std::vector<std::pair<std::string, mode_t>>{{"/level1/level2/file0", 0444},
                                                     {"/top", 0444},
                                                     {"/level1/level2", 0555},
                                                     {"/level1", 0555},
                                                     {"/noaccess/below", 0},
                                                     {"/noaccess", 0},
                                                     {"", 0555}}) {
        chmod((tree + path).c_str(), mode);
    }
    const auto r =
        run({KESTRUNE_TRASH_TOOL_PATH, "--max-fds", "64", "delete", tree, deep}, Privilege::unprivileged);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(contents(Trash::filesFolder()), (Tree{{"sibling", "stays"}}));
    EXPECT_FALSE(exists(tree) || exists(deep));
}

TEST(DeletePermanently, AnImmutableFileIsKeptAndNamedWhileItsSiblingsGo) {
    TemporaryHome home;
    const std::string locked = inTrash("item2/locked");
    for (int i = 1; i <= 3; ++i) {
        writeFile(inTrash("item" + std::to_string(i) + "/data"), std::to_string(i));
    }
    writeFile(locked, "immutable");
    if (run({"/usr/bin/chattr", "+i", locked}).status != 0) {
        GTEST_SKIP() << "chattr +i is not possible here (file system or privileges)";
    }
    std::vector<std::string> messages;
    for (int i = 1; i <= 3; ++i) {
        const auto outcome = Trash::deletePermanently(inTrash("item" + std::to_string(i)));
        messages.push_back(outcome.ok ? "ok" : outcome.reason);
    }
    const auto left = contents(Trash::filesFolder());
    const auto entries = snapshot(Trash::filesFolder()).size(); // folders too
    run({"/usr/bin/chattr", "-i", locked});
    EXPECT_EQ(messages, (std::vector<std::string>{"ok", "locked: "s + std::strerror(EPERM), "ok"}));
    EXPECT_EQ(left, (Tree{{"item2/locked", "immutable"}}));
    EXPECT_EQ(entries, 2u) << "only item2 and its locked file are left";
}

// Items go to their file system's own Trash (a shared sticky .Trash preferred), and are deleted through
// it; without a usable Trash the item stays; a mount inside a trashed folder is never crossed.
TEST(OtherFileSystems, ItemsGoToTheTopDirectoryTrashAndMountsAreNeverCrossed) {
    TemporaryHome home;
    Mount disk(home / "mnt/disk"), readOnly(home / "mnt/readonly");
    if (!disk.mounted || !readOnly.mounted) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error;
    }
    const std::string uid = std::to_string(geteuid()), ownTrash = disk.path + "/.Trash-" + uid;
    const auto outcome = Trash::moveToTrash(writeFile(disk.path + "/photos/a.jpg", "jpeg"));
    EXPECT_EQ(outcome.trashedAs, ownTrash + "/files/a.jpg") << outcome.reason;
    EXPECT_EQ(modeOf(ownTrash), 0700u);
    EXPECT_EQ(lines(readFile(ownTrash + "/info/a.jpg.trashinfo"))[1], "Path=photos/a.jpg");

    // A shared, sticky .Trash is preferred; one without the sticky bit is not used.
    makeFolder(disk.path + "/.Trash");
    chmod((disk.path + "/.Trash").c_str(), 01777);
    const auto shared = Trash::moveToTrash(writeFile(disk.path + "/b.txt", "b"));
    EXPECT_EQ(shared.trashedAs, disk.path + "/.Trash/" + uid + "/files/b.txt") << shared.reason;
    chmod((disk.path + "/.Trash").c_str(), 0777);
    const auto unshared = Trash::moveToTrash(writeFile(disk.path + "/c.txt", "c"));
    EXPECT_EQ(unshared.trashedAs, ownTrash + "/files/c.txt") << unshared.reason;
    EXPECT_TRUE(Trash::deletePermanently(shared.trashedAs).ok);
    EXPECT_TRUE(Trash::deletePermanently(outcome.trashedAs).ok);
    EXPECT_FALSE(exists(outcome.trashedAs) || exists(ownTrash + "/info/a.jpg.trashinfo"));
    EXPECT_FALSE(exists(shared.trashedAs));
    EXPECT_EQ(contents(disk.path), (Tree{{".Trash-" + uid + "/files/c.txt", "c"},
                                         {".Trash-" + uid + "/info/c.txt.trashinfo",
                                          readFile(ownTrash + "/info/c.txt.trashinfo")}}));

    writeFile(readOnly.path + "/stuck.bin", "stuck");
    readOnly.remountReadOnly();
    const auto stuck = Trash::moveToTrash(readOnly.path + "/stuck.bin");
    EXPECT_FALSE(stuck.ok);
    EXPECT_NE(stuck.reason.find("No Trash can be used on the file system of " + readOnly.path),
              std::string::npos)
        << stuck.reason;
    EXPECT_FALSE(Trash::moveToTrash(readOnly.path).ok); // nor is a mount point itself moved
    EXPECT_EQ(contents(readOnly.path), (Tree{{"stuck.bin", "stuck"}}));
    EXPECT_FALSE(exists(inTrash("stuck.bin")));

    writeFile(inTrash("holder/before"), "x");
    Mount inner(inTrash("holder/mounted"));
    ASSERT_TRUE(inner.mounted);
    writeFile(inner.path + "/precious", "on another mount");
    const auto skipped = Trash::deletePermanently(inTrash("holder"));
    EXPECT_FALSE(skipped.ok);
    EXPECT_EQ(skipped.skipped, std::vector<std::string>{"mounted"});
    EXPECT_NE(skipped.reason.find("mounted: a mount point"), std::string::npos) << skipped.reason;
    EXPECT_EQ(contents(inTrash("holder")), (Tree{{"mounted/precious", "on another mount"}}));
}

TEST(Desktop, EmptiesTheTrashThroughGioAndSaysSoWhenItCannot) {
    TemporaryHome home;
    if (haveGio()) {
        ASSERT_TRUE(Trash::moveToTrash(writeFile(home / "junk/a", "a")).ok);
        const auto r = run({"/usr/bin/dbus-run-session", "--", KESTRUNE_TRASH_TOOL_PATH, "empty-desktop"});
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_FALSE(exists(inTrash("junk")));
    }
    setenv("PATH", (home / "empty-bin").c_str(), 1); // the home puts PATH back when it goes
    EXPECT_EQ(Trash::emptyViaDesktop().value_or("reported as done"),
              "Could not run File Manager Empty Trash");
}

} // namespace

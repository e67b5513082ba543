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

ProcessResult tool(const std::vector<std::string>& args, Privilege privilege = Privilege::inherited) {
    std::vector<std::string> argv{KESTRUNE_TRASH_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, privilege);
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

bool makeImmutable(const std::string& path, bool on = true) {
    return run({"/usr/bin/chattr", on ? "+i" : "-i", path}).status == 0;
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
    EXPECT_EQ(info[0], "[Trash Info]");
    EXPECT_EQ(info[1], "Path=" + Trash::Info::encode(file));
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
// cannot restore (it restores to an escaped display form) our info file must equal gio's own.
TEST(MoveToTrash, OddNamesRoundTripThroughTheInfoFileByteForByte) {
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
}

TEST(InfoEncoding, EveryByteRoundTripsAndBadEscapesAreRejected) {
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const auto encoded = Trash::Info::encode(all);
    for (const char c : encoded) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-_.~/%", c)) << int(c);
    }
    EXPECT_EQ(Trash::Info::decode(encoded), all);
    EXPECT_EQ(Trash::Info::encode("/home/anna/My File%.txt"), "/home/anna/My%20File%25.txt");
    EXPECT_FALSE(Trash::Info::decode("bad%2") || Trash::Info::decode("bad%zz"));
}

TEST(DeletePermanently, RemovesWhatGioTrashedWithItsInfoAndDirectorySizeLine) {
    if (!haveGio()) {
        GTEST_SKIP() << "gio or dbus-run-session missing";
    }
    TemporaryHome home;
    plant(home.path(), {{"bulky/inner/file", -1, "data"}, {"other", -1, "stays"}});
    ASSERT_EQ(gio({"trash", home / "bulky", home / "other"}).status, 0);
    writeFile(trashRoot() + "/directorysizes", "4096 1700000000 bulky\n8192 1700000001 other%20dir\n");
    const auto outcome = Trash::deletePermanently(inTrash("bulky"));
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(contents(Trash::filesFolder()), (Tree{{"other", "stays"}}));
    EXPECT_FALSE(exists(infoOf("bulky")));
    EXPECT_TRUE(exists(infoOf("other")));
    EXPECT_EQ(readFile(trashRoot() + "/directorysizes"), "8192 1700000001 other%20dir\n");
}

TEST(DeletePermanently, LinksInTheTrashAreRemovedNeverFollowed) {
    TemporaryHome home;
    const std::string precious = home / "precious", files = Trash::filesFolder();
    build(precious, {{"deep/photo.jpg", "irreplaceable"s}, {"notes.txt", "notes"s}});
    const auto before = snapshot(precious);
    build(files, {{"alone", {}, -1, precious},
                  {"bundle/sub/inside", {}, -1, precious},
                  {"bundle/file-link", {}, -1, precious + "/notes.txt"}});
    for (const auto& item : {files + "/alone/", files + "/bundle", files + "/alone"}) {
        const auto outcome = Trash::deletePermanently(item);
        EXPECT_TRUE(outcome.ok) << item << ": " << outcome.reason;
    }
    EXPECT_EQ(contents(files), Tree());
    EXPECT_EQ(snapshot(precious), before);
    // A path through a link reaches the target only by following it: refused.
    build(files, {{"again", {}, -1, precious}});
    EXPECT_FALSE(Trash::deletePermanently(files + "/again/notes.txt").ok);
    EXPECT_EQ(snapshot(precious), before);
    // What is gone already counts as done.
    EXPECT_TRUE(Trash::deletePermanently(files + "/never-there").ok);
    EXPECT_TRUE(Trash::deletePermanently(files + "/no/such/folder").ok);
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
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    long rounds = 0;
    bool canaryHurt = false;
    for (; std::chrono::steady_clock::now() < until && !canaryHurt; ++rounds) {
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

// Moving refuses what is not an item outside the Trash, deleting what is not an item inside it, the
// Trash reached through a link included; nothing moves either way.
TEST(TrashRefusals, LeaveEverythingWhereItWas) {
    TemporaryHome home;
    const std::string files = Trash::filesFolder();
    plant(home.path(), {{"outside/file", -1, "keep"}, {"elsewhere/files/victim", -1, "keep too"}});
    ASSERT_TRUE(Trash::moveToTrash(writeFile(home / "inside", "in trash")).ok);
    const auto before = snapshot(home.path());
    for (const std::string& path :
         {std::string(), "relative/path"s, "/"s, home.path(), home.path() + "/", home / ".local", trashRoot(),
          files, inTrash("inside"), home / "missing"}) {
        const auto outcome = Trash::moveToTrash(path);
        EXPECT_FALSE(outcome.ok || outcome.reason.empty()) << path;
    }
    EXPECT_EQ(Trash::moveToTrash(home / "missing").reason, std::strerror(ENOENT));
    for (const auto& path : std::vector<std::string>{
             "", "/", home.path(), home.path() + "/", "relative/inside", home / "outside/file",
             home / "outside", files, files + "/", files + "/../files", trashRoot(), files + "/../info",
             home / "outside/../.local/share/Trash/files/../../../../outside/file"}) {
        EXPECT_FALSE(Trash::deletePermanently(path).ok) << "'" << path << "'";
    }
    EXPECT_EQ(snapshot(home.path()), before);
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

TEST(DeletePermanently, ReadOnlyTreesOfTheUserAreEmptied) {
    TemporaryHome home;
    const std::string tree = inTrash("readonly");
    plant(tree, {{"level1/level2/file0"}, {"level1/level2/file1"}, {"top"}, {"noaccess/below/f"}});
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
    // As an ordinary user, for whom the permission bits really apply.
    const auto r = tool({"delete", tree}, Privilege::unprivileged);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(contents(Trash::filesFolder()), (Tree{{"sibling", "stays"}}));
    EXPECT_FALSE(exists(tree));
}

TEST(DeletePermanently, AnImmutableFileIsKeptAndNamedWhileItsSiblingsGo) {
    TemporaryHome home;
    const std::string locked = inTrash("item3/locked");
    for (int i = 1; i <= 10; ++i) {
        writeFile(inTrash("item" + std::to_string(i) + "/data"), std::to_string(i));
    }
    writeFile(locked, "immutable");
    if (!makeImmutable(locked)) {
        GTEST_SKIP() << "chattr +i is not possible here (file system or privileges)";
    }
    std::vector<std::string> messages;
    for (int i = 1; i <= 10; ++i) {
        const auto outcome = Trash::deletePermanently(inTrash("item" + std::to_string(i)));
        if (!outcome.ok) {
            messages.push_back("item" + std::to_string(i) + ": " + outcome.reason);
        }
    }
    const auto left = contents(Trash::filesFolder());
    const auto entries = snapshot(Trash::filesFolder()).size(); // folders too
    makeImmutable(locked, false);
    EXPECT_EQ(messages, std::vector<std::string>{"item3: locked: " + std::string(std::strerror(EPERM))});
    EXPECT_EQ(left, (Tree{{"item3/locked", "immutable"}}));
    EXPECT_EQ(entries, 2u) << "only item3 and its locked file are left";
}

TEST(DeletePermanently, DeepTreesNeedNoMoreThanAFewDescriptors) {
    TemporaryHome home;
    // 1,500 levels of one-letter folders: far more than 64 descriptors deep.
    const std::string deep = inTrash("deep");
    std::string path = deep;
    for (int level = 0; level < 1500; ++level) {
        path += "/d";
        if (level % 100 == 0) {
            writeFile(path + "/f", "");
        }
    }
    makeFolder(path);
    const auto r = tool({"--max-fds", "64", "delete", deep});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(exists(deep));
}

TEST(OtherFileSystems, ItemsGoToTheTopDirectoryTrashAndMountsAreNeverCrossed) {
    TemporaryHome home;
    Mount disk(home / "mnt/disk");
    if (!disk.mounted) {
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

    // Both are deleted through their own Trash.
    EXPECT_TRUE(Trash::deletePermanently(shared.trashedAs).ok);
    EXPECT_TRUE(Trash::deletePermanently(outcome.trashedAs).ok);
    EXPECT_FALSE(exists(outcome.trashedAs) || exists(ownTrash + "/info/a.jpg.trashinfo"));
    EXPECT_FALSE(exists(shared.trashedAs));

    // A file system mounted inside a trashed folder is skipped and reported, never emptied.
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

TEST(OtherFileSystems, WithoutAUsableTrashTheItemStaysWhereItWas) {
    TemporaryHome home;
    Mount disk(home / "mnt/readonly");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error;
    }
    writeFile(disk.path + "/stuck.bin", "stuck");
    disk.remountReadOnly();
    const auto outcome = Trash::moveToTrash(disk.path + "/stuck.bin");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.reason.find("No Trash can be used on the file system of " + disk.path),
              std::string::npos)
        << outcome.reason;
    EXPECT_FALSE(Trash::moveToTrash(disk.path).ok); // nor is a mount point itself moved
    EXPECT_EQ(contents(disk.path), (Tree{{"stuck.bin", "stuck"}}));
    EXPECT_FALSE(exists(inTrash("stuck.bin")));
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

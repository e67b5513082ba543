// The Trash operations on real trees under a temporary home: freedesktop.org layout and interplay with
// gio, the guards of permanent deletion (links, swaps, refusals, permissions, immutable files, other
// mounts) and what is left untouched afterwards.
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Model/Paths.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string trashRoot() {
    return std::string(Paths::parent(Trash::filesFolder()));
}
std::string infoOf(const std::string& trashName) {
    return trashRoot() + "/info/" + trashName + ".trashinfo";
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool isLink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TestTree::ProcessResult tool(const std::vector<std::string>& args,
                             TestTree::Privilege privilege = TestTree::Privilege::inherited) {
    std::vector<std::string> argv{KESTRUNE_TRASH_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return TestTree::run(argv, privilege);
}

// gio inside a private session bus, the way a desktop session runs it.
TestTree::ProcessResult gio(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/dbus-run-session", "--", "/usr/bin/gio"};
    argv.insert(argv.end(), args.begin(), args.end());
    return TestTree::run(argv);
}

bool haveGio() {
    return TestTree::exists("/usr/bin/gio") && TestTree::exists("/usr/bin/dbus-run-session");
}

// A tmpfs mounted for the test's lifetime, when the machine allows mounting.
class Mount {
public:
    explicit Mount(const std::string& where) : path(where) {
        TestTree::makeFolder(where);
        mounted = mount("kestrune-test", where.c_str(), "tmpfs", 0, "size=16m") == 0;
        error = mounted ? "" : std::strerror(errno);
    }
    ~Mount() {
        if (mounted) {
            umount2(path.c_str(), MNT_DETACH);
        }
    }
    void remountReadOnly() { mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr); }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    std::string path;
    bool mounted = false;
    std::string error;
};

bool makeImmutable(const std::string& path, bool on = true) {
    return TestTree::run({"/usr/bin/chattr", on ? "+i" : "-i", path}).status == 0;
}

// ------------------------------------------------------------------------------------------------
// Moving to the Trash

TEST(MoveToTrash, CreatesTheHomeTrashPrivatelyAndWritesAnInfoFile) {
    TestTree::TemporaryHome home;
    const std::string file = TestTree::writeFile(home / "Documents/report.pdf", "contents");
    ASSERT_FALSE(TestTree::exists(trashRoot()));
    const auto outcome = Trash::moveToTrash(file);
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.trashedAs, Trash::filesFolder() + "/report.pdf");
    EXPECT_FALSE(TestTree::exists(file));
    EXPECT_EQ(TestTree::readFile(outcome.trashedAs), "contents");
    for (const auto& folder : {trashRoot(), trashRoot() + "/files", trashRoot() + "/info"}) {
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    }
    const auto info = lines(TestTree::readFile(infoOf("report.pdf")));
    ASSERT_EQ(info.size(), 3u);
    EXPECT_EQ(info[0], "[Trash Info]");
    EXPECT_EQ(info[1], "Path=" + Trash::Info::encode(file));
    EXPECT_TRUE(std::regex_match(info[2], std::regex(R"(DeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
}

TEST(MoveToTrash, SameNamesGetDistinctTrashNamesAndOrphansAreNeverOverwritten) {
    TestTree::TemporaryHome home;
    const auto first = Trash::moveToTrash(TestTree::writeFile(home / "a/notes.txt", "first"));
    const auto second = Trash::moveToTrash(TestTree::writeFile(home / "b/notes.txt", "second"));
    ASSERT_TRUE(first.ok && second.ok);
    EXPECT_EQ(first.trashedAs, Trash::filesFolder() + "/notes.txt");
    EXPECT_EQ(second.trashedAs, Trash::filesFolder() + "/notes.txt.2");
    EXPECT_EQ(TestTree::readFile(first.trashedAs), "first");
    EXPECT_EQ(TestTree::readFile(second.trashedAs), "second");
    EXPECT_NE(TestTree::readFile(infoOf("notes.txt.2")).find(Trash::Info::encode(home / "b/notes.txt")),
              std::string::npos);
    // A file in files/ without its info file is someone else's: the rename must not replace it.
    TestTree::writeFile(Trash::filesFolder() + "/orphan", "keep me");
    const auto third = Trash::moveToTrash(TestTree::writeFile(home / "orphan", "new"));
    ASSERT_TRUE(third.ok) << third.reason;
    EXPECT_EQ(third.trashedAs, Trash::filesFolder() + "/orphan.2");
    EXPECT_EQ(TestTree::readFile(Trash::filesFolder() + "/orphan"), "keep me");
    EXPECT_FALSE(TestTree::exists(infoOf("orphan")));
}

TEST(MoveToTrash, ALinkIsMovedAsTheLinkEvenWithATrailingSlash) {
    TestTree::TemporaryHome home;
    TestTree::writeFile(home / "precious/a.txt", "a");
    const auto before = TestTree::snapshot(home / "precious");
    ASSERT_EQ(symlink((home / "precious").c_str(), (home / "shortcut").c_str()), 0);
    const auto outcome = Trash::moveToTrash(home / "shortcut/");
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_TRUE(isLink(outcome.trashedAs));
    EXPECT_FALSE(TestTree::exists(home / "shortcut"));
    EXPECT_EQ(TestTree::snapshot(home / "precious"), before);
}

TEST(MoveToTrash, RefusalsLeaveEverythingWhereItWas) {
    TestTree::TemporaryHome home;
    TestTree::writeFile(home / "keep/file", "x");
    ASSERT_TRUE(Trash::moveToTrash(TestTree::writeFile(home / "trashed", "t")).ok);
    const auto before = TestTree::snapshot(home.path());
    for (const auto& path : {std::string(), std::string("relative/path"), std::string("/"), home.path(),
                             home.path() + "/", home / ".local", trashRoot(), Trash::filesFolder(),
                             Trash::filesFolder() + "/trashed", home / "missing"}) {
        const auto outcome = Trash::moveToTrash(path);
        EXPECT_FALSE(outcome.ok) << path;
        EXPECT_FALSE(outcome.reason.empty()) << path;
    }
    EXPECT_EQ(Trash::moveToTrash(home / "missing").reason, std::strerror(ENOENT));
    EXPECT_EQ(TestTree::snapshot(home.path()), before);
}

// gio lists each item with its original path and restores it to the exact bytes; for names gio itself
// cannot restore (it restores to an escaped display form) our info file must equal gio's own.
TEST(MoveToTrash, OddNamesRoundTripThroughTheInfoFileByteForByte) {
    TestTree::TemporaryHome home;
    const std::vector<std::string> names{"caf\xC3\xA9 \xFF\xFE bytes",
                                         "two\nlines",
                                         "caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9",
                                         "100% done",
                                         "-rf",
                                         "a b#c?d [1]"};
    const std::size_t gioCannotRestore = 3;
    for (const auto& name : names) {
        const std::string original = TestTree::writeFile(home / ("odd/" + name), "body of " + name);
        const auto outcome = Trash::moveToTrash(original);
        ASSERT_TRUE(outcome.ok) << outcome.reason;
        EXPECT_EQ(Paths::lastComponent(outcome.trashedAs), name);
        const auto info = lines(TestTree::readFile(infoOf(name)));
        ASSERT_EQ(info.size(), 3u) << "a name may not break the info file's lines";
        EXPECT_EQ(Trash::Info::decode(info[1].substr(5)), original);
    }
    if (!haveGio()) {
        GTEST_SKIP() << "gio or dbus-run-session missing: restore not checked";
    }
    for (std::size_t i = 0; i < gioCannotRestore; ++i) {
        ASSERT_EQ(gio({"trash", TestTree::writeFile(home / ("odd/" + names[i]), "twin")}).status, 0);
        EXPECT_EQ(lines(TestTree::readFile(infoOf(names[i] + ".2")))[1],
                  lines(TestTree::readFile(infoOf(names[i])))[1]);
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
        EXPECT_EQ(TestTree::readFile(home / ("odd/" + name)), "body of " + name) << name;
        EXPECT_FALSE(TestTree::exists(infoOf(name)));
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
    EXPECT_FALSE(Trash::Info::decode("bad%2"));
    EXPECT_FALSE(Trash::Info::decode("bad%zz"));
}

// ------------------------------------------------------------------------------------------------
// Permanent deletion

TEST(DeletePermanently, RemovesWhatGioTrashedWithItsInfoAndDirectorySizeLine) {
    if (!haveGio()) {
        GTEST_SKIP() << "gio or dbus-run-session missing";
    }
    TestTree::TemporaryHome home;
    TestTree::writeFile(home / "bulky/inner/file", "data");
    TestTree::writeFile(home / "other", "stays");
    ASSERT_EQ(gio({"trash", home / "bulky"}).status, 0);
    ASSERT_EQ(gio({"trash", home / "other"}).status, 0);
    TestTree::writeFile(trashRoot() + "/directorysizes",
                        "4096 1700000000 bulky\n8192 1700000001 other%20dir\n");
    const auto outcome = Trash::deletePermanently(Trash::filesFolder() + "/bulky");
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/bulky"));
    EXPECT_FALSE(TestTree::exists(infoOf("bulky")));
    EXPECT_EQ(TestTree::readFile(Trash::filesFolder() + "/other"), "stays");
    EXPECT_TRUE(TestTree::exists(infoOf("other")));
    EXPECT_EQ(TestTree::readFile(trashRoot() + "/directorysizes"), "8192 1700000001 other%20dir\n");
    const auto list = gio({"trash", "--list"});
    EXPECT_EQ(list.output.find("bulky"), std::string::npos);
    EXPECT_NE(list.output.find("trash:///other"), std::string::npos);
}

TEST(DeletePermanently, LinksInTheTrashAreRemovedNeverFollowed) {
    TestTree::TemporaryHome home;
    TestTree::writeFile(home / "precious/deep/photo.jpg", "irreplaceable");
    TestTree::writeFile(home / "precious/notes.txt", "notes");
    const auto before = TestTree::snapshot(home / "precious");
    const std::string files = Trash::filesFolder();
    TestTree::makeFolder(files + "/bundle/sub");
    ASSERT_EQ(symlink((home / "precious").c_str(), (files + "/alone").c_str()), 0);
    ASSERT_EQ(symlink((home / "precious").c_str(), (files + "/bundle/sub/inside").c_str()), 0);
    ASSERT_EQ(symlink((home / "precious/notes.txt").c_str(), (files + "/bundle/file-link").c_str()), 0);
    for (const auto& item : {files + "/alone", files + "/bundle", files + "/alone/"}) {
        const auto outcome = Trash::deletePermanently(item);
        EXPECT_TRUE(outcome.ok) << item << ": " << outcome.reason;
    }
    EXPECT_FALSE(isLink(files + "/alone"));
    EXPECT_FALSE(TestTree::exists(files + "/bundle"));
    EXPECT_EQ(TestTree::snapshot(home / "precious"), before);
    // A path through a link reaches the target only by following it: refused.
    ASSERT_EQ(symlink((home / "precious").c_str(), (files + "/again").c_str()), 0);
    EXPECT_FALSE(Trash::deletePermanently(files + "/again/notes.txt").ok);
    EXPECT_EQ(TestTree::snapshot(home / "precious"), before);
    // What is gone already counts as done.
    EXPECT_TRUE(Trash::deletePermanently(files + "/never-there").ok);
    EXPECT_TRUE(Trash::deletePermanently(files + "/no/such/folder").ok);
}

TEST(DeletePermanently, AFolderSwappedForALinkWhileDeletingNeverReachesTheCanary) {
    TestTree::TemporaryHome home;
    const std::string canaryFolder = home / "canary";
    const std::string files = Trash::filesFolder();
    const std::string victim = files + "/victim";
    constexpr int folders = 16;
    for (int i = 0; i < 20; ++i) {
        TestTree::writeFile(canaryFolder + "/file" + std::to_string(i), "alive");
    }
    TestTree::makeFolder(files);
    const auto canary = TestTree::snapshot(canaryFolder);
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
    while (std::chrono::steady_clock::now() < until && !canaryHurt) {
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
        ++rounds;
        canaryHurt = TestTree::snapshot(canaryFolder) != canary;
    }
    stop = true;
    attacker.join();
    EXPECT_GT(rounds, 10);
    EXPECT_GT(swaps.load(), 100);
    EXPECT_FALSE(canaryHurt) << "after " << rounds << " rounds";
}

TEST(DeletePermanently, RefusesAnythingButTrashContents) {
    TestTree::TemporaryHome home;
    TestTree::writeFile(home / "outside/file", "keep");
    TestTree::writeFile(Trash::filesFolder() + "/inside", "in trash");
    TestTree::writeFile(home / "elsewhere/files/victim", "keep too");
    const auto before = TestTree::snapshot(home.path());
    const std::string files = Trash::filesFolder();
    for (const auto& path :
         {std::string(), std::string("/"), home.path(), home.path() + "/", std::string("relative/inside"),
          home / "outside/file", home / "outside", files, files + "/", files + "/../files", trashRoot(),
          files + "/../info", home / "outside/../.local/share/Trash/files/../../../../outside/file"}) {
        EXPECT_FALSE(Trash::deletePermanently(path).ok) << "'" << path << "'";
    }
    EXPECT_EQ(TestTree::snapshot(home.path()), before);
    // The Trash folder itself a link to somewhere else, then its files folder: nothing through it goes.
    ASSERT_EQ(rename(trashRoot().c_str(), (home / "realtrash").c_str()), 0);
    ASSERT_EQ(symlink((home / "elsewhere").c_str(), trashRoot().c_str()), 0);
    EXPECT_FALSE(Trash::deletePermanently(files + "/victim").ok);
    EXPECT_EQ(TestTree::readFile(home / "elsewhere/files/victim"), "keep too");
    unlink(trashRoot().c_str());
    TestTree::makeFolder(trashRoot());
    ASSERT_EQ(symlink((home / "elsewhere/files").c_str(), files.c_str()), 0);
    EXPECT_FALSE(Trash::deletePermanently(files + "/victim").ok);
    EXPECT_EQ(TestTree::readFile(home / "elsewhere/files/victim"), "keep too");
}

TEST(DeletePermanently, ReadOnlyTreesOfTheUserAreEmptied) {
    TestTree::TemporaryHome home;
    const std::string tree = Trash::filesFolder() + "/readonly";
    for (int i = 0; i < 3; ++i) {
        TestTree::writeFile(tree + "/level1/level2/file" + std::to_string(i), "r");
    }
    TestTree::writeFile(tree + "/top", "r");
    TestTree::writeFile(tree + "/noaccess/below/f", "r");
    TestTree::writeFile(Trash::filesFolder() + "/sibling", "stays");
    TestTree::giveToUnprivileged(trashRoot());
    for (const auto& [path, mode] :
         std::vector<std::pair<std::string, mode_t>>{{tree + "/level1/level2/file0", 0444},
                                                     {tree + "/top", 0444},
                                                     {tree + "/level1/level2", 0555},
                                                     {tree + "/level1", 0555},
                                                     {tree + "/noaccess/below", 0},
                                                     {tree + "/noaccess", 0},
                                                     {tree, 0555}}) {
        chmod(path.c_str(), mode);
    }
    // As an ordinary user, for whom the permission bits really apply.
    const auto r = tool({"delete", tree}, TestTree::Privilege::unprivileged);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(TestTree::exists(tree));
    EXPECT_EQ(TestTree::readFile(Trash::filesFolder() + "/sibling"), "stays");
}

TEST(DeletePermanently, AnImmutableFileIsKeptAndNamedWhileItsSiblingsGo) {
    TestTree::TemporaryHome home;
    const std::string files = Trash::filesFolder();
    for (int i = 1; i <= 10; ++i) {
        TestTree::writeFile(files + "/item" + std::to_string(i) + "/data", std::to_string(i));
    }
    TestTree::writeFile(files + "/item3/locked", "immutable");
    if (!makeImmutable(files + "/item3/locked")) {
        GTEST_SKIP() << "chattr +i is not possible here (file system or privileges)";
    }
    std::vector<std::string> messages;
    for (int i = 1; i <= 10; ++i) {
        const auto outcome = Trash::deletePermanently(files + "/item" + std::to_string(i));
        if (!outcome.ok) {
            messages.push_back("item" + std::to_string(i) + ": " + outcome.reason);
        }
    }
    const bool lockedKept = TestTree::exists(files + "/item3/locked");
    makeImmutable(files + "/item3/locked", false);
    EXPECT_EQ(messages, std::vector<std::string>{"item3: locked: " + std::string(std::strerror(EPERM))});
    EXPECT_TRUE(lockedKept);
    EXPECT_FALSE(TestTree::exists(files + "/item3/data"));
    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(TestTree::exists(files + "/item" + std::to_string(i)), i == 3) << i;
    }
}

TEST(DeletePermanently, DeepTreesNeedNoMoreThanAFewDescriptors) {
    TestTree::TemporaryHome home;
    // 1,500 levels of one-letter folders: far more than 64 descriptors deep.
    const std::string deep = TestTree::makeFolder(Trash::filesFolder() + "/deep");
    int fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < 1500; ++level) {
        ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
        if (level % 100 == 0) {
            close(openat(fd, "f", O_WRONLY | O_CREAT, 0644));
        }
    }
    close(fd);
    const auto r = tool({"--max-fds", "64", "delete", deep});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(TestTree::exists(deep));
}

// ------------------------------------------------------------------------------------------------
// Other file systems

TEST(OtherFileSystems, ItemsGoToTheTopDirectoryTrashAndMountsAreNeverCrossed) {
    TestTree::TemporaryHome home;
    Mount disk(home / "mnt/disk");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error;
    }
    const std::string uid = std::to_string(geteuid());
    const std::string ownTrash = disk.path + "/.Trash-" + uid;
    const auto outcome = Trash::moveToTrash(TestTree::writeFile(disk.path + "/photos/a.jpg", "jpeg"));
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.trashedAs, ownTrash + "/files/a.jpg");
    EXPECT_EQ(modeOf(ownTrash), 0700u);
    EXPECT_EQ(lines(TestTree::readFile(ownTrash + "/info/a.jpg.trashinfo"))[1], "Path=photos/a.jpg");
    EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/a.jpg"));

    // A shared, sticky .Trash is preferred; one without the sticky bit is not used.
    TestTree::makeFolder(disk.path + "/.Trash");
    chmod((disk.path + "/.Trash").c_str(), 01777);
    const auto shared = Trash::moveToTrash(TestTree::writeFile(disk.path + "/b.txt", "b"));
    ASSERT_TRUE(shared.ok) << shared.reason;
    EXPECT_EQ(shared.trashedAs, disk.path + "/.Trash/" + uid + "/files/b.txt");
    chmod((disk.path + "/.Trash").c_str(), 0777);
    const auto unshared = Trash::moveToTrash(TestTree::writeFile(disk.path + "/c.txt", "c"));
    ASSERT_TRUE(unshared.ok) << unshared.reason;
    EXPECT_EQ(unshared.trashedAs, ownTrash + "/files/c.txt");

    // Both are deleted through their own Trash.
    EXPECT_TRUE(Trash::deletePermanently(shared.trashedAs).ok);
    EXPECT_TRUE(Trash::deletePermanently(outcome.trashedAs).ok);
    EXPECT_FALSE(TestTree::exists(outcome.trashedAs));
    EXPECT_FALSE(TestTree::exists(ownTrash + "/info/a.jpg.trashinfo"));

    // A file system mounted inside a trashed folder is skipped and reported, never emptied.
    TestTree::writeFile(Trash::filesFolder() + "/holder/before", "x");
    Mount inner(Trash::filesFolder() + "/holder/mounted");
    ASSERT_TRUE(inner.mounted);
    TestTree::writeFile(inner.path + "/precious", "on another mount");
    const auto skipped = Trash::deletePermanently(Trash::filesFolder() + "/holder");
    EXPECT_FALSE(skipped.ok);
    EXPECT_EQ(skipped.skipped, std::vector<std::string>{"mounted"});
    EXPECT_NE(skipped.reason.find("mounted: a mount point"), std::string::npos) << skipped.reason;
    EXPECT_EQ(TestTree::readFile(inner.path + "/precious"), "on another mount");
    EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/holder/before"));
}

TEST(OtherFileSystems, WithoutAUsableTrashTheItemStaysWhereItWas) {
    TestTree::TemporaryHome home;
    Mount disk(home / "mnt/readonly");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error;
    }
    TestTree::writeFile(disk.path + "/stuck.bin", "stuck");
    disk.remountReadOnly();
    const auto outcome = Trash::moveToTrash(disk.path + "/stuck.bin");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.reason.find("No Trash can be used on the file system of " + disk.path),
              std::string::npos)
        << outcome.reason;
    EXPECT_EQ(TestTree::readFile(disk.path + "/stuck.bin"), "stuck");
    EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/stuck.bin"));
    EXPECT_FALSE(Trash::moveToTrash(disk.path).ok); // nor is a mount point itself moved
    EXPECT_TRUE(TestTree::exists(disk.path + "/stuck.bin"));
}

// ------------------------------------------------------------------------------------------------
// The desktop

TEST(Desktop, EmptiesTheTrashThroughGioAndSaysSoWhenItCannot) {
    TestTree::TemporaryHome home;
    if (haveGio()) {
        ASSERT_TRUE(Trash::moveToTrash(TestTree::writeFile(home / "junk/a", "a")).ok);
        const auto r =
            TestTree::run({"/usr/bin/dbus-run-session", "--", KESTRUNE_TRASH_TOOL_PATH, "empty-desktop"});
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_FALSE(TestTree::exists(Trash::filesFolder() + "/junk"));
    }
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", (home / "empty-bin").c_str(), 1);
    const auto message = Trash::emptyViaDesktop();
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(message.value_or("reported as done"), "Could not run File Manager Empty Trash");
}

} // namespace

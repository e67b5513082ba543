// Large-and-old files, screen captures and mail attachments on real temporary homes: the last-use
// rule with real access dates, floors, exclusions, depth, capture names and folders.
#include "KestruneCore/Platform/ScreenCaptureFolder.h"
#include "KestruneCore/Scanners/ForgottenFilesScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

using TestTree::atOrAbove;
using TestTree::below;
using TestTree::block;
using TestTree::daysAgo;
using TestTree::urls;

using Clock = std::chrono::system_clock;

// Sets the access and modification dates separately, as opening and editing a file would.
void setTimes(const std::string& path, Clock::time_point accessed, Clock::time_point modified) {
    const timespec times[2] = {{Clock::to_time_t(accessed), 0}, {Clock::to_time_t(modified), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::string oldFile(const std::string& path, std::int64_t bytes) {
    setTimes(TestTree::makeFile(path, bytes), daysAgo(200), daysAgo(200));
    return path;
}

// A file is old when it was neither opened nor modified for the age, and dated by the later of the two;
// only files from the floor, outside the excluded folders, count. Hidden, excluded, "Public", deep and
// linked folders are SharedWalk's; here a hidden file, the other exclusions, a name excluded only when
// spelled exactly, folders and links to files.
TEST(LargeOldFiles, OldFilesFromTheFloorOutsideExcludedFolders) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    const auto today = std::chrono::floor<std::chrono::seconds>(daysAgo(0));
    const auto days = [&](int n) { return today - std::chrono::hours(24 * n); };
    // Name, days since last opened and since last modified.
    for (const auto& [name, opened, modified] :
         {std::tuple{"opened", 10, 200}, {"untouched", 190, 250}, {"edited", 300, 5}}) {
        setTimes(TestTree::makeFile(home / ("Movies/" + std::string(name) + ".mov"), 300'000'000),
                 days(opened), days(modified));
    }
    const std::string at = oldFile(home / "Documents/at.bin", atOrAbove(200'000'000, b));
    oldFile(home / "Documents/under.bin", below(200'000'000, b));
    for (const std::string place : {"work/go/pkg/mod.cache", "Applications/App.img", ".big-hidden-file"}) {
        oldFile(home / place, 210'000'000);
    }
    const std::string publicLower = oldFile(home / "public/share.iso", 210'000'000);
    for (int i = 0; i < 3; ++i) {
        oldFile(home / ("Project/part" + std::to_string(i)), 100'000'000);
    }
    TestTree::setModified(home / "Project", daysAgo(400));
    ASSERT_EQ(symlink(at.c_str(), (home / "link.bin").c_str()), 0);
    const auto items = LargeOldFilesScanner().scan();
    const std::string untouched = home / "Movies/untouched.mov";
    EXPECT_EQ(urls(items), (std::set<std::string>{untouched, at, publicLower}));
    for (const auto& item : items) {
        EXPECT_TRUE(item.url != untouched || item.modified == days(190)) << "dated by its later date";
    }
    // The walk SharedWalk checks the shared one against takes its own cutoff and starting depth.
    std::vector<CleanupItem> walked;
    LargeOldFilesScanner::walk(home.path(), 0, daysAgo(250), walked);
    LargeOldFilesScanner::walk(home.path(), 6, daysAgo(150), walked);
    EXPECT_TRUE(walked.empty());
    LargeOldFilesScanner::walk(home.path(), 0, daysAgo(150), walked);
    EXPECT_EQ(urls(walked), urls(items));
}

// --- screen captures ---------------------------------------------------------------------------

TEST(Screenshots, PrefixesAndExtensionsDecide) {
    for (const char* name :
         {"Screenshot 2024-05-01 at 10.00.00.png", "Screenshot.PNG", "Screen Shot 2019-01-01.JPeG",
          "Screen Recording 1.mov", "CleanShot 2024.heic", "Screenshot.tar.jpg"}) {
        EXPECT_TRUE(ScreenshotScanner::isCaptureName(name)) << name;
    }
    for (const char* name : {"my screenshot.png", "screenshot.png", "Screenshot 1.gif", "Screenshot",
                             "Screenshot.png.txt", "ScreenShot.png"}) {
        EXPECT_FALSE(ScreenshotScanner::isCaptureName(name)) << name;
    }
}

// Captures on the Desktop and in the capture folder are reported, others not; a capture folder that is
// the Desktop (linked, or named through "$HOME/Desktop/..") reports each capture once; the capture
// folder is Screenshots in the pictures folder user-dirs.dirs names, when it exists.
TEST(Screenshots, DesktopCapturesAreReportedOnceAndOthersAreNot) {
    TestTree::TemporaryHome home;
    const auto desk = [&](const std::string& name, std::int64_t bytes) {
        return TestTree::makeFile(home / ("Desktop/" + name), bytes);
    };
    const std::string a = desk("Screenshot 2024-05-01 at 10.00.00.png", 300'000);
    const std::string b = desk("Screenshot.PNG", 4096);
    const std::string c = desk("Screen Recording 1.mov", 2'000'000);
    desk(".Screenshot hidden.png", 4096);
    desk("Sub/Screenshot nested.png", 4096);
    desk("Screenshot empty.png", 0);
    desk("Screenshot folder.png/inside", 8192);
    TestTree::makeFile(home / "Documents/Screenshot 4.png", 4096); // outside the capture folders
    TestTree::setModified(a, daysAgo(3));

    // Each capture once, whichever way the capture folder names the Desktop.
    const auto listed = [] {
        std::multiset<std::string> out;
        for (const auto& item : ScreenshotScanner().scan()) {
            EXPECT_EQ(item.modified, DiskMath::modified(item.url));
            out.insert(item.url);
        }
        return out;
    };
    const std::multiset<std::string> expected{a, b, c, home / "Desktop/Screenshot folder.png"};
    EXPECT_EQ(Platform::screenCaptureFolder(), std::nullopt);
    EXPECT_EQ(listed(), expected);
    TestTree::makeFolder(home / "Pictures");
    ASSERT_EQ(symlink("../Desktop", (home / "Pictures/Screenshots").c_str()), 0);
    ASSERT_EQ(Platform::screenCaptureFolder(), home / "Pictures/Screenshots");
    EXPECT_EQ(listed(), expected);
    TestTree::writeFile(home / ".config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Desktop/..\"\n");
    ASSERT_EQ(symlink("Desktop", (home / "Screenshots").c_str()), 0);
    EXPECT_EQ(listed(), expected);
    // The pictures folder user-dirs.dirs names holds the capture folder, once it exists.
    TestTree::writeFile(home / ".config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                                         "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                         "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(Platform::screenCaptureFolder(), std::nullopt) << "Bilder/Screenshots does not exist";
    const std::string capture = TestTree::makeFile(home / "Bilder/Screenshots/Screenshot 1.png", 4096);
    std::filesystem::remove(home / "Pictures/Screenshots");
    TestTree::makeFile(home / "Pictures/Screenshots/Screenshot 2.png", 4096);
    auto withCapture = expected;
    withCapture.insert(capture);
    EXPECT_EQ(listed(), withCapture);
}

// --- mail attachments --------------------------------------------------------------------------

const std::string containerDownloads = "Library/Containers/com.apple.mail/Data/Library/Mail Downloads";

TEST(MailAttachments, DownloadFoldersFromTheFloorAndALinkedFolderCountsOnce) {
    TestTree::TemporaryHome home;
    const auto b = block(home);
    const std::string data = home / "Library/Containers/com.apple.mail/Data/Library/";
    const std::string at =
        TestTree::makeFile(home / (containerDownloads + "/at.pdf"), atOrAbove(1'000'000, b));
    TestTree::makeFile(home / (containerDownloads + "/under.pdf"), below(1'000'000, b));
    const std::string folder = data + "Mail/Downloads/d";
    TestTree::makeFile(folder + "/e.mov", 5'000'000);
    const std::string cached = TestTree::makeFile(data + "Caches/Mail Downloads/c.zip", 1'200'000);
    TestTree::makeFile(data + "Mail/V10/message.pdf", 2'000'000);
    TestTree::makeFile(home / "Library/mail downloads/lower.pdf", 2'000'000);
    ASSERT_EQ(symlink((home / containerDownloads).c_str(), (home / "Library/Mail Downloads").c_str()), 0);
    const auto items = MailAttachmentScanner().scan();
    EXPECT_EQ(urls(items), (std::set<std::string>{at, folder, cached}));
    EXPECT_EQ(items.size(), 3u);
    // The home's own download folder: a folder as one item.
    std::filesystem::remove(home / "Library/Mail Downloads");
    const std::string own = home / "Library/Mail Downloads/ABCD-1234";
    TestTree::makeFile(own + "/photo.jpg", 1'500'000);
    EXPECT_EQ(urls(MailAttachmentScanner().scan()), (std::set<std::string>{at, folder, cached, own}));
}

} // namespace

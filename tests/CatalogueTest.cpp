// The whole catalogue through the real kestrune-cli: one temporary home where every category's rule is
// met, and one where every case falls just short of its rule, both scanned by the same child process
// the user would run.
#include "KestruneCore/Model/CategoryKind.h"
#include "KestruneCore/Scanners/AllScanners.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <vips/vips.h>

#include <chrono>
#include <fcntl.h>
#include <map>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const auto now = std::chrono::system_clock::now();

std::chrono::system_clock::time_point daysAgo(int days) {
    return now - std::chrono::hours(24 * days);
}

// Label (or "(no label)") and bytes of each item, by category and path.
using Items = std::map<std::string, std::pair<std::string, std::int64_t>>;
using Catalogue = std::map<std::string, Items>;

constexpr const char* noLabel = "(no label)";

// Allocation granularity of the test file system: a floor is approached from below with the largest
// whole-block allocation under it.
std::int64_t blockSize(const TestTree::TemporaryHome& home) {
    TestTree::makeFile(home / ".probe", 1);
    return TestTree::allocated(home / ".probe");
}

std::int64_t justBelow(std::int64_t floor, std::int64_t block) {
    return (floor - 1) / block * block;
}

// `bytes` of deterministic noise: files that must not be zero-filled twins of each other.
std::string noise(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(bytes, '\0');
    for (auto& c : out) {
        c = static_cast<char>(random() & 0xff);
    }
    return out;
}

void setTimes(const std::string& path, std::chrono::system_clock::time_point accessed,
              std::chrono::system_clock::time_point modified) {
    const auto toTimes = [](std::chrono::system_clock::time_point t) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
        return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    };
    const timespec times[2] = {toTimes(accessed), toTimes(modified)};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A photo-like picture: a smooth random landscape of 6 x 4 patches, scaled up bilinearly, with a little
// noise; equal seeds give the same picture at any size.
VipsImage* scene(int width, int height, unsigned seed) {
    static const bool started = VIPS_INIT("kestrune_tests") == 0;
    EXPECT_TRUE(started);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, 255);
    std::vector<std::uint8_t> patches(6 * 4 * 3);
    for (auto& byte : patches) {
        byte = static_cast<std::uint8_t>(value(random));
    }
    VipsImage* small =
        vips_image_new_from_memory_copy(patches.data(), patches.size(), 6, 4, 3, VIPS_FORMAT_UCHAR);
    VipsImage* large = nullptr;
    EXPECT_EQ(vips_resize(small, &large, width / 6.0, "vscale", height / 4.0, "kernel", VIPS_KERNEL_LINEAR,
                          nullptr),
              0);
    g_object_unref(small);
    VipsImage* grain = nullptr;
    EXPECT_EQ(vips_gaussnoise(&grain, large->Xsize, large->Ysize, "mean", 0.0, "sigma", 6.0, nullptr), 0);
    VipsImage* sum = nullptr;
    EXPECT_EQ(vips_add(large, grain, &sum, nullptr), 0);
    VipsImage* bytes = nullptr;
    EXPECT_EQ(vips_cast_uchar(sum, &bytes, nullptr), 0);
    for (VipsImage* image : {large, grain, sum}) {
        g_object_unref(image);
    }
    return bytes;
}

std::string photo(const std::string& path, int width, int height, unsigned seed, int quality) {
    TestTree::makeFolder(path.substr(0, path.rfind('/')));
    VipsImage* image = scene(width, height, seed);
    EXPECT_EQ(vips_jpegsave(image, path.c_str(), "Q", quality, nullptr), 0) << vips_error_buffer();
    g_object_unref(image);
    return path;
}

// A bundle with a real XML Info.plist, so that it counts as installed.
void install(const std::string& folder, const std::string& name, const std::string& identifier) {
    TestTree::writeFile(folder + "/" + name + ".app/Contents/Info.plist",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                        "<plist version=\"1.0\">\n<dict>\n"
                        "\t<key>CFBundleName</key>\n\t<string>" +
                            name + "</string>\n\t<key>CFBundleIdentifier</key>\n\t<string>" + identifier +
                            "</string>\n</dict>\n</plist>\n");
}

void installFillers(const std::string& system) {
    // The leftover rule only runs with at least eleven identifiers installed.
    const std::vector<std::string> folders{system + "/Applications", system + "/System/Applications",
                                           system + "/System/Applications/Utilities",
                                           system + "/Applications/Utilities"};
    for (int i = 0; i < 11; ++i) {
        install(folders[static_cast<std::size_t>(i % 4)], "Filler" + std::to_string(i),
                "net.filler" + std::to_string(i) + ".App");
    }
    // Owners of profiles both homes hold.
    install(system + "/Applications", "Spotify", "com.spotify.client");
    install(system + "/Applications", "Docker", "com.docker.docker");
}

std::string devicePlist(const std::string& key, const std::string& value) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>" + key +
           "</key>\n\t<string>" + value + "</string>\n</dict>\n</plist>\n";
}

// Runs the real command line over the current home as the user who owns it, with fixed languages and
// the system folders below `system`.
TestTree::ProcessResult scanHome(const TestTree::TemporaryHome& home, const std::string& system,
                                 const std::string& languages) {
    TestTree::giveToUnprivileged(home.path());
    return TestTree::run({TestTree::cliPath(), "scan", "--json", "--quiet"},
                         TestTree::Privilege::unprivileged,
                         {{"KESTRUNE_SYSTEM_ROOT", system},
                          {"LANGUAGE", languages},
                          {"LC_ALL", "C"},
                          {"LC_MESSAGES", "C"},
                          {"LANG", "C"}});
}

Catalogue reported(const nlohmann::json& document) {
    Catalogue out;
    for (const auto& category : document["categories"]) {
        auto& items = out[category["kind"].get<std::string>()];
        for (const auto& item : category["items"]) {
            items[item["path"].get<std::string>()] = {
                item.contains("label") ? item["label"].get<std::string>() : std::string(noLabel),
                item["bytes"].get<std::int64_t>()};
        }
    }
    return out;
}

TEST(CatalogueScan, EveryCategoryReportsExactlyWhatItsRuleAdmits) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    Catalogue expected;
    // Expected sizes are measured here, independently of the code under test.
    const auto expect = [&](const std::string& kind, const std::string& path,
                            const std::string& label = noLabel) {
        expected[kind][path] = {label, TestTree::allocatedTree(path)};
    };
    const auto file = [&](const std::string& relative, std::int64_t bytes) {
        return TestTree::makeFile(home / relative, bytes);
    };
    installFillers(system);

    // Package caches: a whole cache folder, hidden or not.
    file(".npm/_cacache/content-v2/blob", 11'000'000);
    expect("packageCaches", home / ".npm/_cacache");
    file(".cargo/registry/cache/index/crate", 12'000'000);
    expect("packageCaches", home / ".cargo/registry");

    // App caches: a named cache folder inside a profile, and a profile that is a cache itself. The
    // JetBrains folder also lies in the user cache folder; the earlier category keeps it.
    file("Library/Application Support/Spotify/PersistentCache/Storage/blob", 21'000'000);
    expect("appCaches", home / "Library/Application Support/Spotify/PersistentCache");
    file("Library/Caches/JetBrains/IdeaIC/index", 22'000'000);
    expect("appCaches", home / "Library/Caches/JetBrains");

    // Xcode: the entries inside the developer folders, not the folders.
    file("Library/Developer/Xcode/DerivedData/App-abc/Build/product", 2'000'000);
    expect("xcode", home / "Library/Developer/Xcode/DerivedData/App-abc");
    file("Library/Developer/Xcode/Archives/2024-05-01/App.xcarchive/payload", 1'500'000);
    expect("xcode", home / "Library/Developer/Xcode/Archives/2024-05-01");

    // node_modules: near and eight folders down.
    file("src/web/node_modules/left-pad/index.js", 8192);
    expect("nodeModules", home / "src/web/node_modules");
    file("deep/2/3/4/5/6/7/8/node_modules/pkg/index.js", 8192);
    expect("nodeModules", home / "deep/2/3/4/5/6/7/8/node_modules");

    // Screenshots: on the Desktop, and in the capture folder (Pictures/Screenshots on Linux).
    file("Desktop/Screenshot 2024-05-01 at 10.00.00.png", 300'000);
    expect("screenshots", home / "Desktop/Screenshot 2024-05-01 at 10.00.00.png");
    file("Pictures/Screenshots/Screen Recording 1.mov", 400'000);
    expect("screenshots", home / "Pictures/Screenshots/Screen Recording 1.mov");

    // Simulators: the device folder as a whole.
    file("Library/Developer/CoreSimulator/Devices/4F1C/data/disk", 101'000'000);
    expect("simulators", home / "Library/Developer/CoreSimulator/Devices");

    // Docker: the disk image at its first place. Its container belongs to an installed application.
    file("Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw", 120'000'000);
    expect("docker", home / "Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw");

    // Caches and logs: direct children, a file or a folder.
    file("Library/Caches/com.example.viewer/cache.db", 1'500'000);
    expect("userCaches", home / "Library/Caches/com.example.viewer");
    file("Library/Logs/sync.log", 300'000);
    expect("logs", home / "Library/Logs/sync.log");
    file("Library/Logs/DiagnosticReports/crash.ips", 250'000);
    expect("logs", home / "Library/Logs/DiagnosticReports");

    // Old installers, by their last extension.
    TestTree::setModified(file("Downloads/Setup.dmg", 6'000'000), daysAgo(40));
    expect("downloads", home / "Downloads/Setup.dmg");
    TestTree::setModified(file("Downloads/archive.tar.gz", 7'000'000), daysAgo(60));
    expect("downloads", home / "Downloads/archive.tar.gz");

    // The Trash (the freedesktop home trash on Linux): every visible entry, empty ones included.
    file(".local/share/Trash/files/gone.txt", 0);
    expect("trash", home / ".local/share/Trash/files/gone.txt");
    file(".local/share/Trash/files/old folder/note", 8192);
    expect("trash", home / ".local/share/Trash/files/old folder");

    // App leftovers: a bundle identifier of a vendor with nothing installed, and a saved state judged
    // without its suffix.
    file("Library/Application Support/com.example.Editor/data", 6'000'000);
    expect("appLeftovers", home / "Library/Application Support/com.example.Editor");
    file("Library/Saved Application State/com.gone.Player.savedState/windows", 5'500'000);
    expect("appLeftovers", home / "Library/Saved Application State/com.gone.Player.savedState");

    // Language files of the two application roots, the user reading only American English.
    install(home / "Applications", "Atlas", "org.atlas.Atlas");
    file("Applications/Atlas.app/Contents/Resources/de.lproj/Localizable.strings", 2'000'000);
    expect("languageFiles", home / "Applications/Atlas.app/Contents/Resources/de.lproj",
           "Atlas \u00B7 de.lproj");
    install(system + "/Applications", "Globe", "org.globe.Globe");
    TestTree::makeFile(system + "/Applications/Globe.app/Contents/Resources/ja.lproj/Main.nib", 1'000'000);
    expect("languageFiles", system + "/Applications/Globe.app/Contents/Resources/ja.lproj",
           "Globe \u00B7 ja.lproj");

    // Large and old: neither modified nor opened for 200 days.
    const std::string footage = file("Documents/archive/footage.mov", 210'000'000);
    setTimes(footage, daysAgo(200), daysAgo(200));
    expect("largeOldFiles", footage);

    // Mail attachments: a file, and a folder in the container's download folder.
    file("Library/Mail Downloads/invoice.pdf", 2'000'000);
    expect("mailAttachments", home / "Library/Mail Downloads/invoice.pdf");
    file("Library/Containers/com.apple.mail/Data/Library/Mail Downloads/ABC-123/photo.heic", 1'200'000);
    expect("mailAttachments", home / "Library/Containers/com.apple.mail/Data/Library/Mail Downloads/ABC-123");

    // Device backups, named by "Device Name" or else "Display Name".
    const std::string backups = "Library/Application Support/MobileSync/Backup/";
    file(backups + "00008030-AAAA/Manifest.db", 11'000'000);
    TestTree::writeFile(home / (backups + "00008030-AAAA/Info.plist"),
                        devicePlist("Device Name", "Work Phone"));
    expect("iosBackups", home / (backups + "00008030-AAAA"), "Work Phone backup");
    file(backups + "00008101-BBBB/Manifest.db", 12'000'000);
    TestTree::writeFile(home / (backups + "00008101-BBBB/Info.plist"),
                        devicePlist("Display Name", "Travel iPad"));
    expect("iosBackups", home / (backups + "00008101-BBBB"), "Travel iPad backup");

    // Cloud copies. Linux has no cloud document service, so no status can be read and every large
    // entry counts as downloaded: a large folder is reported whole and never entered.
    const std::string drive = "Library/Mobile Documents/com~apple~CloudDocs/";
    file(drive + "big.zip", 55'000'000);
    expect("cloudClutter", home / (drive + "big.zip"), "iCloud \u00B7 big.zip");
    file(drive + "Movies/trip.mov", 60'000'000);
    expect("cloudClutter", home / (drive + "Movies"), "iCloud \u00B7 Movies");

    // Privacy traces in places no earlier category claims.
    file("Library/Cookies/Cookies.binarycookies", 150'000);
    expect("privacyTraces", home / "Library/Cookies/Cookies.binarycookies", "Safari Cookies");
    file("Library/Containers/com.apple.Safari/Data/Library/Caches/WebKit/blob", 6'000'000);
    expect("privacyTraces", home / "Library/Containers/com.apple.Safari/Data/Library/Caches",
           "Safari Caches");

    // Music leftovers.
    file("Library/Containers/com.apple.Music/Data/Library/Caches/artwork", 21'000'000);
    expect("mediaLeftovers", home / "Library/Containers/com.apple.Music/Data/Library/Caches", "Music Cache");
    file("Music/Previous Libraries.localized/Music Library.musiclibrary", 51'000'000);
    expect("mediaLeftovers", home / "Music/Previous Libraries.localized", "Previous Music Library");

    // Similar images: one photo at two qualities, the older kept; another scene of the same size stays.
    const std::string older = photo(home / "Pictures/trip/IMG_1.jpg", 1200, 900, 7, 95);
    const std::string newer = photo(home / "Downloads/IMG_1 export.jpg", 1200, 900, 7, 70);
    const std::string other = photo(home / "Pictures/trip/IMG_2.jpg", 1200, 900, 8, 95);
    ASSERT_GE(TestTree::allocated(newer), 100'000) << "the export must be large enough to be examined";
    TestTree::setModified(older, daysAgo(400));
    TestTree::setModified(newer, daysAgo(1));
    TestTree::setModified(other, daysAgo(1));
    expect("similarImages", newer, "Similar to IMG_1.jpg");

    // Duplicates: the same contents twice, the older copy kept.
    const std::string body = noise(1'500'000, 1);
    TestTree::setModified(TestTree::writeFile(home / "Documents/report.pdf", body), daysAgo(300));
    const std::string copy = TestTree::writeFile(home / "Desktop/report copy.pdf", body);
    TestTree::setModified(copy, daysAgo(2));
    expect("duplicates", copy);

    const auto r = scanHome(home, system, "en_US");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto document = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << r.output;

    EXPECT_EQ(reported(document), expected);
    // All of them, in the order of the registry.
    std::vector<std::string> order;
    for (const auto& category : document["categories"]) {
        order.push_back(category["kind"].get<std::string>());
    }
    std::vector<std::string> registry;
    for (const auto& scanner : AllScanners::all()) {
        registry.emplace_back(CategoryKinds::rawValue(scanner->kind()));
    }
    EXPECT_EQ(registry.size(), expected.size());
    EXPECT_EQ(order, registry);
}

TEST(CatalogueScan, CasesJustShortOfEveryRuleReportNothing) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    const std::int64_t block = blockSize(home);
    // A large file on a fragmented disk may also hold a block or two of extent index, which counts in
    // its allocation: the largest cases keep a hundredth of a percent clear of their floors.
    const auto below = [block](std::int64_t floor) { return justBelow(floor - floor / 10'000, block); };
    const auto file = [&](const std::string& relative, std::int64_t bytes) {
        return TestTree::makeFile(home / relative, bytes);
    };
    installFillers(system);

    // Package caches: below the floor, or not a cache folder of the table.
    file(".npm/_cacache/content-v2/blob", below(10'000'000));
    file(".npm/other/blob", 12'000'000);
    file(".cache/pipx/venvs/blob", 12'000'000);

    // App caches: below the floor, or a profile folder that is not one of its named caches. The
    // profiles belong to installed applications, so they are no leftovers either.
    install(system + "/Applications", "Cursor", "com.todesktop.cursor");
    install(system + "/Applications", "Discord", "com.hnc.Discord");
    file("Library/Application Support/Spotify/PersistentCache/Storage/blob", below(20'000'000));
    file("Library/Application Support/Cursor/logs/main.log", 25'000'000);
    // Under both the app-cache and the privacy floor of 20,000,000 bytes.
    file("Library/Application Support/discord/Cache/data_1", 10'000'000);

    // Xcode: too small, hidden, or in a developer folder that is not one of the five.
    file("Library/Developer/Xcode/DerivedData/small/product", below(1'000'000));
    file("Library/Developer/Xcode/DerivedData/.hidden/product", 2'000'000);
    file("Library/Developer/Xcode/Products/App/product", 2'000'000);

    // node_modules: inside Library, a hidden folder, a media folder, another tree, too deep, or empty.
    file("Library/app/node_modules/a/index.js", 8192);
    file(".config/tool/node_modules/a/index.js", 8192);
    file("Music/player/node_modules/a/index.js", 8192);
    file("1/2/3/4/5/6/7/8/9/node_modules/a/index.js", 8192);
    TestTree::makeFolder(home / "empty/node_modules");

    // Screenshots: prefix not at the start, another extension, empty, hidden, outside the capture
    // folders, or in a sub-folder of the Desktop.
    file("Desktop/my screenshot.png", 300'000);
    file("Desktop/Screenshot 1.gif", 300'000);
    file("Desktop/Screenshot 2.png", 0);
    file("Desktop/.Screenshot 3.png", 300'000);
    file("Documents/Screenshot 4.png", 300'000);
    file("Desktop/old shots/Screenshot 5.png", 300'000);

    // Simulators under their floor; the simulator cache's entries under the Xcode floor.
    file("Library/Developer/CoreSimulator/Devices/4F1C/data/disk", below(100'000'000));
    file("Library/Developer/CoreSimulator/Caches/dyld/cache", below(1'000'000));

    // Docker: an image and its data folder under the floor, the other engines' homes too.
    file("Library/Containers/com.docker.docker/Data/vms/0/data/Docker.raw", 80'000'000);
    file(".colima/default/disk", below(100'000'000));

    // Caches and logs: under their floors, system cache folders, hidden entries.
    file("Library/Caches/small/cache.db", below(1'000'000));
    file("Library/Caches/CloudKit/cache.db", 3'000'000);
    file("Library/Caches/com.apple.containermanagerd/cache.db", 3'000'000);
    file("Library/Caches/.hidden/cache.db", 3'000'000);
    file("Library/Logs/small.log", below(200'000));
    file("Library/Logs/.hidden.log", 300'000);

    // Installers: too recent, not an installer, no extension, too small, hidden. The sizes differ so
    // that no two of these zero-filled files are duplicates.
    TestTree::setModified(file("Downloads/Recent.dmg", 6'000'000), daysAgo(29));
    TestTree::setModified(file("Downloads/notes.txt", 6'100'000), daysAgo(365));
    TestTree::setModified(file("Downloads/README", 6'200'000), daysAgo(365));
    TestTree::setModified(file("Downloads/old.dmg", below(5'000'000)), daysAgo(365));
    TestTree::setModified(file("Downloads/.hidden.dmg", 6'300'000), daysAgo(365));

    // Trash: only a hidden entry in the platform trash; a macOS-style ~/.Trash is not the trash here.
    file(".local/share/Trash/files/.hidden", 8192);
    file(".Trash/macos-style", 8192);

    // App leftovers, each kept by one rule: a shared vendor prefix, an exact identifier after the
    // suffix is stripped, protected prefixes, an installed name in any case, a name inside an
    // installed one, too small, hidden.
    install(system + "/Applications", "Viewer", "com.example.Viewer");
    install(home / "Applications", "Editor Pro", "org.editorpro.EditorPro");
    const std::string support = "Library/Application Support/";
    for (const std::string name : {"com.example.Editor", "com.apple.Notes", "GoogleUpdater", "Editor Pro",
                                   "editor pro", "Editor", ".hidden"}) {
        file(support + name + "/data", 6'000'000);
    }
    file(support + "com.gone.Small/data", below(5'000'000));
    file("Library/Saved Application State/com.example.Viewer.savedState/windows", 6'000'000);

    // Language files, the user reading German and British English: every spelling of those is kept,
    // and so are the base and English folders; the rest is too small, a file, inside a helper
    // application, too deep, in a bundle the user cannot write, in a folder that is no bundle, or in
    // an application folder that is not searched.
    const std::string resources = "Applications/Atlas.app/Contents/Resources/";
    install(home / "Applications", "Atlas", "org.atlas.Atlas");
    for (const std::string kept : {"Base", "en", "English", "de", "de_DE", "de-DE", "en_GB", "en-GB"}) {
        file(resources + kept + ".lproj/Localizable.strings", 600'000);
    }
    file(resources + "fr.lproj/Localizable.strings", below(500'000));
    file(resources + "pl.lproj", 1'000'000);
    file("Applications/Atlas.app/Contents/Library/LoginItems/Helper.app/Contents/Resources/it.lproj/x",
         1'000'000);
    file("Applications/Atlas.app/Contents/a/b/c/d/e/nl.lproj/x", 1'000'000);
    install(system + "/Applications", "Locked", "org.locked.Locked");
    TestTree::makeFile(system + "/Applications/Locked.app/Contents/Resources/ru.lproj/x", 1'000'000);
    TestTree::makeFile(system + "/Applications/Notes/sv.lproj/x", 1'000'000);
    install(system + "/System/Applications", "Sys", "org.sys.Sys");
    TestTree::makeFile(system + "/System/Applications/Sys.app/Contents/Resources/pt.lproj/x", 1'000'000);

    // Large and old: opened recently, modified recently, just under the floor, in Public, in a go
    // folder, in a hidden folder, seven folders down. Sizes differ by whole megabytes, so no two of them
    // are duplicates.
    setTimes(file("Documents/watched.mov", 201'000'000), daysAgo(10), daysAgo(200));
    setTimes(file("Documents/edited.mov", 202'000'000), daysAgo(200), daysAgo(10));
    setTimes(file("Documents/almost.mov", below(200'000'000)), daysAgo(200), daysAgo(200));
    setTimes(file("Public/shared.mov", 203'000'000), daysAgo(200), daysAgo(200));
    setTimes(file("go/pkg/big.iso", 204'000'000), daysAgo(200), daysAgo(200));
    setTimes(file(".stash/big.iso", 205'000'000), daysAgo(200), daysAgo(200));
    setTimes(file("d1/d2/d3/d4/d5/d6/d7/too-deep.mov", 206'000'000), daysAgo(200), daysAgo(200));

    // Mail: under the floor, hidden, or a mail folder that is not a download folder.
    file("Library/Mail Downloads/small.pdf", 900'000);
    file("Library/Mail Downloads/.hidden.pdf", 2'000'000);
    file("Library/Containers/com.apple.mail/Data/Library/Mail/V10/message.pdf", 2'000'000);

    // Device backups: under the floor, hidden, a file instead of a folder.
    const std::string backups = "Library/Application Support/MobileSync/Backup/";
    file(backups + "small-device/Manifest.db", below(10'000'000));
    file(backups + ".hidden-device/Manifest.db", 20'000'000);
    file(backups + "loose.db", 20'000'000);

    // Cloud copies: under the floor, a folder under the floor (not entered), hidden, or another
    // application's container.
    const std::string drive = "Library/Mobile Documents/com~apple~CloudDocs/";
    file(drive + "medium.mov", below(50'000'000));
    file(drive + "Photos/a.jpg", 20'000'000);
    file(drive + "Photos/b.jpg", below(30'000'000));
    file(drive + ".hidden.mov", 60'000'000);
    file("Library/Mobile Documents/iCloud~com~example~app/Documents/big.mov", 60'000'000);

    // Privacy traces under their floors, and a cookie store the table does not name.
    file("Library/Cookies/Cookies.binarycookies", below(100'000));
    file("Library/Cookies/Other.binarycookies", 200'000);
    file("Library/Containers/com.apple.Safari/Data/Library/Caches/WebKit/blob", below(5'000'000));

    // Music: leftovers under their floors, and the media library itself.
    file("Library/Containers/com.apple.Music/Data/Library/Caches/artwork", below(20'000'000));
    file("Music/Previous Libraries.localized/Music Library.musiclibrary", below(50'000'000));
    file("Music/Music/Media.localized/song.m4a", 60'000'000);

    // Similar images: other dimensions, other scenes, a skipped folder, a hidden file, images too small
    // to be examined, and a folder that is not searched.
    photo(home / "Pictures/full.jpg", 1200, 900, 11, 90);
    photo(home / "Pictures/half.jpg", 600, 450, 11, 90);
    photo(home / "Pictures/scene-a.jpg", 1200, 900, 7, 95);
    photo(home / "Pictures/scene-b.jpg", 1200, 900, 8, 95);
    photo(home / "Pictures/Caches/c1.jpg", 1200, 900, 13, 95);
    photo(home / "Pictures/Caches/c2.jpg", 1200, 900, 13, 70);
    photo(home / "Desktop/.hidden.jpg", 1200, 900, 11, 70);
    const std::string thumb = photo(home / "Downloads/thumb-1.jpg", 64, 48, 14, 95);
    photo(home / "Downloads/thumb-2.jpg", 64, 48, 14, 70);
    ASSERT_LT(TestTree::allocated(thumb), 100'000) << "the thumbnail must stay below the image floor";
    photo(home / "Documents/scan-1.jpg", 1200, 900, 15, 95);
    photo(home / "Documents/scan-2.jpg", 1200, 900, 15, 70);

    // Duplicates: under the floor, one byte apart, a copy whose twin is in an excluded, hidden or too
    // deep folder, and a link.
    const std::string notes = noise(900'000, 2);
    TestTree::writeFile(home / "Documents/notes-a.txt", notes);
    TestTree::writeFile(home / "Documents/notes-b.txt", notes);
    std::string version = noise(2'000'000, 3);
    TestTree::writeFile(home / "Documents/v1.bin", version);
    version[1'000'000] = static_cast<char>(version[1'000'000] ^ 1);
    TestTree::writeFile(home / "Documents/v2.bin", version);
    const std::vector<std::pair<std::string, std::string>> twins{
        {"Library/Keep/kept.bin", "kept.bin"},
        {"go/pkg/tool.bin", "tool.bin"},
        {".config/twin.bin", "twin.bin"},
        {"d1/d2/d3/d4/d5/d6/d7/deep.bin", "deep.bin"}};
    unsigned seed = 4;
    std::size_t size = 1'500'000;
    for (const auto& [away, name] : twins) {
        const std::string contents = noise(size, seed++);
        size += 100'000;
        TestTree::writeFile(home / away, contents);
        TestTree::writeFile(home / ("Documents/" + name), contents);
    }
    ASSERT_EQ(symlink((home / "Documents/kept.bin").c_str(), (home / "Desktop/alias.bin").c_str()), 0);

    // A bundle the scanning user cannot write (handing the tree over changes owners, not modes).
    ASSERT_EQ(chmod((system + "/Applications/Locked.app").c_str(), 0555), 0);
    const auto r = scanHome(home, system, "de_DE:en_GB");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto document = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << r.output;
    EXPECT_EQ(reported(document), Catalogue{});
    EXPECT_EQ(document["totalBytes"], 0);
}

} // namespace

// A Linux desktop home as the programs on it lay it out, scanned and reclaimed by the real kestrune-cli:
// every category of the registry at once, every location in its category with its size, what must stay
// out of the recommended selection, what must never be reported, the JSON as the model has it, and
// everything not chosen still there byte for byte after `reclaim --all`.
#include "KestruneCore/Model/CategoryKind.h"
#include "KestruneCore/Platform/DesktopEntries.h"
#include "KestruneCore/Platform/UserFolders.h"
#include "KestruneCore/Scanners/AppLeftoversScanner.h"
#include "KestruneCore/Scanners/CacheScanners.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/Photos.h"
#include "tests/TestHome.h"
#include "tests/TrashFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using TrashFixture::Mount;
namespace fs = std::filesystem;

// One file the home holds, written "item|rest" (TestTree::fileAndItem), relative to the home. `recommended`
// is whether the recommended selection takes the item; Firefox and the Snap "spotify" run during the test.
struct Row {
    Row(const char* path) : Row(std::string(path)) {}
    Row(const std::string& path, bool recommended = true, std::string label = {}, std::string inUseBy = {})
        : path(path), recommended(recommended), label(std::move(label)), inUseBy(std::move(inUseBy)) {}
    std::string path;
    bool recommended;
    std::string label;
    std::string inUseBy; // the running program the test starts owns it
};

// The files of one category, each `bytes` above its floor plus a block per row of the whole table, so
// that no two files are zero-filled copies of each other.
struct Section {
    std::string kind;
    std::int64_t bytes;
    std::vector<Row> rows;
    std::vector<std::string> never; // files nothing may ever report
    int days = 40;                  // since the files were last modified
};

constexpr std::int64_t MB = 1'000'000;

const std::vector<Section>& table() {
    static const std::vector<Section> sections{
        // Caches from 1 MB: each child of ~/.cache, the thumbnails, Flatpak and Snap app caches, never the
        // keep-list or hidden children.
        {"userCaches",
         2 * MB,
         {".cache/fontconfig|/cache-7", ".cache/thumbnails|/large/0a1b.png", ".thumbnails|/normal/9f8e.png",
          Row{".var/app/org.gnome.Maps/cache|/tiles/1.png", true, "org.gnome.Maps · cache"},
          Row{"snap/spotify/common/.cache|/data/blob", false, "spotify · cache", "spotify"}},
         {".cache/doc/by-app/note", ".cache/ibus/bus/registry", ".cache/wallpaper/scaled.png",
          ".cache/gnome-control-center/backgrounds/a.png", ".cache/obexd/transfer",
          ".cache/evolution/mail/inbox", ".cache/sessions/session-1", ".cache/kwin/qmlcache/a.qmlc",
          ".cache/plasmashell/qmlcache/b.qmlc", ".cache/drkonqi/crash", ".cache/icon-cache.kcache",
          ".cache/plasma_theme_breeze.kcache", ".cache/qtshadercache-x86_64-little_endian-lp64/shader",
          ".cache/mesa_shader_cache/index", ".cache/mesa_shader_cache_db/index",
          ".cache/pypoetry/virtualenvs/app-x1-py3.11/lib/site.py", ".cache/.hidden-state/blob"}},
        // Logs from 200 KB: the last session's errors, old Xorg logs (the newest is the running server's),
        // app log folders.
        {"logs",
         300'000,
         {".xsession-errors.old", ".local/share/xorg/Xorg.0.log.old", ".local/share/xorg/Xorg.1.log",
          ".local/state/nvim/lsp.log",
          Row{".config/Code/logs|/20240601T101010/main.log", true, "VS Code · logs"},
          Row{".cache/JetBrains/IntelliJIdea2024.1/log|/idea.log", true,
              "JetBrains · IntelliJIdea2024.1/log"}},
         {".xsession-errors", ".local/share/xorg/Xorg.0.log"}},
        // Package caches from 10 MB; Cargo's tools and settings and Poetry's environments never.
        {"packageCaches",
         11 * MB,
         {".cache/go-build|/00/a1-d", "go/pkg/mod/cache|/download/golang.org/x/sys/@v/v0.1.0.zip",
          ".cache/yarn|/v6/npm-left-pad/package.tgz", ".cache/deno|/deps/https/deno.land/mod",
          ".cache/pypoetry/cache|/repositories/PyPI/a", ".cache/ms-playwright|/chromium-1105/chrome",
          ".cache/bazel|/_bazel_user/install/a", ".cargo/registry|/cache/index.crates.io/serde.crate",
          ".cargo/git|/db/tokio-1234/pack",
          Row{".m2/repository|/com/example/app/1.0/app-1.0.jar", false,
              "Maven repository (holds your installed artifacts)"}},
         {".cargo/bin/cargo-watch"}},
        // App caches from 20 MB: browsers, editors, chat apps, older IDE versions, Steam's shaders; never
        // profiles and what they hold besides caches.
        {"appCaches",
         21 * MB,
         {Row{".cache/mozilla/firefox/k3.default/cache2|/A1", false, "Firefox · k3.default/cache2",
              "Firefox"},
          Row{"snap/firefox/common/.cache/mozilla/firefox/s9.default/cache2|/B2", false,
              "Firefox · s9.default/cache2", "Firefox"},
          Row{".var/app/org.mozilla.firefox/cache/mozilla/firefox/f1.default/cache2|/C3", false,
              "Firefox · f1.default/cache2", "Firefox"},
          Row{".cache/google-chrome|/Default/Cache/Cache_Data/data_1", true, "Chrome · cache"},
          Row{".config/google-chrome/Default/Code Cache|/js/index", true, "Chrome · Default/Code Cache"},
          Row{".config/google-chrome/Profile 1/Service Worker/CacheStorage|/a/b", true,
              "Chrome · Profile 1/Service Worker/CacheStorage"},
          Row{".config/google-chrome/GrShaderCache|/data_0", true, "Chrome · GrShaderCache"},
          Row{".config/chromium/Default/GPUCache|/data_1", true, "Chromium · Default/GPUCache"},
          Row{".config/BraveSoftware/Brave-Browser/Default/DawnCache|/data_1", true,
              "Brave · Default/DawnCache"},
          Row{".cache/microsoft-edge|/Default/Cache/data", true, "Edge · cache"},
          Row{".config/vivaldi/Default/Cache|/data", true, "Vivaldi · Default/Cache"},
          Row{".config/Code/CachedData|/1a2b/chrome/js", true, "VS Code · CachedData"},
          Row{".config/Code/CachedExtensionVSIXs|/ms-python.python", true, "VS Code · CachedExtensionVSIXs"},
          Row{".config/VSCodium/Cache|/Cache_Data/data_0", true, "VSCodium · Cache"},
          Row{".config/Cursor/GPUCache|/data_0", true, "Cursor · GPUCache"},
          Row{".config/Slack/Cache|/Cache_Data/data_0", true, "Slack · Cache"},
          Row{".config/discord/Code Cache|/js/index", true, "Discord · Code Cache"},
          Row{".config/Signal/Service Worker/CacheStorage|/x", true, "Signal · Service Worker/CacheStorage"},
          Row{".config/Element/GPUCache|/data_0", true, "Element · GPUCache"},
          Row{".cache/JetBrains/IntelliJIdea2023.3|/caches/content.dat", true,
              "JetBrains · IntelliJIdea2023.3"},
          Row{".local/share/Steam/steamapps/shadercache|/730/fozpipelinesv6/a", true, "Steam · shadercache"}},
         {".cache/JetBrains/IntelliJIdea2024.1/LocalHistory/changes.storageData",
          ".cache/JetBrains/PyCharmCE2024.2/caches/content.dat", ".mozilla/firefox/k3.default/places.sqlite",
          ".config/google-chrome/Default/Local Storage/leveldb/000003.log",
          ".config/google-chrome/Default/IndexedDB/https_mail.example_0.indexeddb.leveldb/1",
          ".config/google-chrome/Default/Cookies", ".config/Code/User/globalStorage/state.vscdb",
          ".config/Signal/sql/db.sqlite"}},
        // Old installers from 5 MB in the desktop's Downloads folder (a translated name) and in ~/Downloads;
        // a desktop entry starts the Editor.
        {"downloads",
         6 * MB,
         {"Téléchargements/tool_1.0_amd64.deb", "Téléchargements/tool-1.0.x86_64.rpm",
          "Téléchargements/driver.run", "Téléchargements/org.example.App.flatpakref",
          "Téléchargements/tool_12.snap", "Téléchargements/Viewer-x86_64.AppImage",
          "Downloads/old_0.9_amd64.deb"},
         {"Téléchargements/Editor-x86_64.AppImage"}},
        // The home trash, a Snap app's own trash.
        {"trash",
         8192,
         {".local/share/Trash/files/draft.txt", "snap/spotify/210/.local/share/Trash/files/song.ogg"},
         {}},
        // Leftovers from 5 MB of apps no longer installed; nothing under ~/.config or ~/.local/share by
        // name, nor an installed Flatpak's settings.
        {"appLeftovers",
         6 * MB,
         {".var/app/com.example.Gone|/data/library.db", "snap/oldtool|/common/state.db"},
         {".config/UninstalledApp/settings.db", ".local/share/uninstalled-app/data.db",
          ".var/app/org.gnome.Maps/config/glib-2.0/settings"}},
        // Container storage from 100 MB: advisory, labelled with the engine's own command.
        {"docker",
         101 * MB,
         {".docker/desktop/vms/0/data/Docker.raw",
          Row{".local/share/docker|/overlay2/abc/diff/blob", true,
              "Docker (rootless) · docker system df, then docker system prune"},
          Row{".local/share/containers/storage|/overlay/abc/diff/blob", true,
              "Podman · podman system df, then podman system prune"}},
         {}},
        // The categories whose places are the same on every desktop, one item each.
        {"xcode", 2 * MB, {"Library/Developer/Xcode/DerivedData/App-abc|/Build/product"}, {}},
        {"nodeModules", 8192, {"src/web/node_modules|/left-pad/index.js"}, {}},
        {"screenshots", 300'000, {"Desktop/Screenshot 2024-05-01 at 10.00.00.png"}, {}},
        {"simulators", 101 * MB, {"Library/Developer/CoreSimulator/Devices|/4F1C/data/disk"}, {}},
        // Neither modified nor opened (then too) for 200 days.
        {"largeOldFiles", 210 * MB, {"Documents/archive/footage.mov"}, {}, 200},
        // The user reads only American English.
        {"languageFiles",
         2 * MB,
         {Row{"Applications/Atlas.app/Contents/Resources/de.lproj|/Localizable.strings", true,
              "Atlas · de.lproj"}},
         {}},
        {"mailAttachments", 2 * MB, {"Library/Mail Downloads/invoice.pdf"}, {}},
        {"iosBackups", 11 * MB, {"Library/Application Support/MobileSync/Backup/0A|/Manifest.db"}, {}},
        // With no cloud document service on Linux every large entry counts as downloaded.
        {"cloudClutter",
         55 * MB,
         {Row{"Library/Mobile Documents/com~apple~CloudDocs/big.zip", true, "iCloud · big.zip"}},
         {}},
        {"privacyTraces", 6 * MB, {Row{"Library/Cookies/Cookies.binarycookies", true, "Safari Cookies"}}, {}},
        {"mediaLeftovers",
         21 * MB,
         {Row{"Library/Containers/com.apple.Music/Data/Library/Caches|/artwork", true, "Music Cache"}},
         {}},
    };
    return sections;
}

// A flatpak that lists `ids` (the one stand-in: no Flatpak installation exists here).
std::string fakeFlatpak(const std::string& folder, const std::string& ids, int status = 0) {
    const std::string path = TestTree::writeFile(
        folder + "/flatpak",
        "#!/bin/sh\n[ \"$*\" = \"list --app --columns=application\" ] || exit 3\nprintf '" + ids +
            "'\nexit " + std::to_string(status) + "\n");
    chmod(path.c_str(), 0755);
    return folder;
}

std::string withPath(const std::string& first) {
    const char* path = std::getenv("PATH");
    return first + ":" + (path ? path : "/usr/bin:/bin");
}

struct Found {
    std::string kind;
    std::string label;
    std::int64_t bytes = 0;
    bool recommended = true;
    std::string inUseBy;
    bool operator==(const Found&) const = default;
};

void PrintTo(const Found& f, std::ostream* out) {
    *out << f.kind << " '" << f.label << "' " << f.bytes << (f.recommended ? "" : " not recommended")
         << (f.inUseBy.empty() ? "" : " in use by " + f.inUseBy);
}

// Every item of the scan's JSON by path, after checking that each category is written as the model has
// it, largest items first, in the order of the registry.
std::map<std::string, Found> scanned(const std::string& output, const std::string& home) {
    const auto document = nlohmann::json::parse(output);
    EXPECT_EQ(document["home"], home);
    EXPECT_TRUE(document["seconds"].is_number());
    std::map<std::string, Found> found;
    std::vector<std::string> order;
    std::int64_t total = 0;
    for (const auto& category : document["categories"]) {
        order.push_back(category["kind"].get<std::string>());
        SCOPED_TRACE(order.back());
        const CategoryKind kind = *CategoryKinds::fromRawValue(order.back());
        const ReclaimAction action = CategoryKinds::action(kind);
        EXPECT_EQ(category["title"], CategoryKinds::title(kind));
        EXPECT_EQ(category["safety"], CategoryKinds::rawValue(CategoryKinds::safety(kind)));
        EXPECT_EQ(category["action"], action.kind == ReclaimAction::Kind::advise  ? "advise"
                                      : action.kind == ReclaimAction::Kind::evict ? "evict"
                                                                                  : "trash");
        EXPECT_EQ(category.value("command", ""), action.command);
        std::int64_t sum = 0;
        std::int64_t previous = INT64_MAX;
        for (const auto& item : category["items"]) {
            const std::int64_t bytes = item["bytes"].get<std::int64_t>();
            EXPECT_LE(bytes, previous) << "largest first";
            previous = bytes;
            sum += bytes;
            const CleanupItem model(item["path"].get<std::string>(), bytes, Dates::distantPast,
                                    item.value("label", std::string()));
            EXPECT_EQ(item["name"], model.name() + (item.contains("inUseBy") ? " (in use)" : ""));
            EXPECT_EQ(item["location"], model.location(home));
            const auto modified = Dates::parseIso8601(item["modified"].get<std::string>());
            EXPECT_TRUE(modified && *modified > Dates::distantPast) << item["modified"];
            found[model.url] = {order.back(), model.label.value_or(""), bytes,
                                item.value("recommended", true), item.value("inUseBy", "")};
        }
        EXPECT_EQ(category["bytes"], sum);
        total += sum;
    }
    EXPECT_EQ(document["totalBytes"], total);
    // Every category has items here, in the registry's order: each scanner stands at its position, so an
    // earlier category keeps what it shares with a later one.
    EXPECT_EQ(order,
              (std::vector<std::string>{"packageCaches", "appCaches",     "xcode",           "nodeModules",
                                        "screenshots",   "simulators",    "docker",          "userCaches",
                                        "logs",          "downloads",     "trash",           "appLeftovers",
                                        "languageFiles", "largeOldFiles", "mailAttachments", "iosBackups",
                                        "cloudClutter",  "privacyTraces", "mediaLeftovers",  "similarImages",
                                        "duplicates"}));
    return found;
}

TEST(LinuxHome, EveryCategoryFindsItsLocationsAndNothingElseIsTouchedByAFullReclaim) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    const std::string uid = std::to_string(geteuid());
    const std::string usbTrash = "media/usb/.Trash-" + uid;
    // The table's files, old enough for every rule; the Xorg log the server writes is the newest.
    std::map<std::string, Found> expected;
    std::int64_t extra = 0;
    for (const auto& section : table()) {
        const auto make = [&](const std::string& file) {
            TestTree::makeFile(home / file, section.bytes + (extra += 4096));
            TestTree::setModified(
                home / file, TestTree::daysAgo(file == "Downloads/old_0.9_amd64.deb" ? 31 : section.days));
        };
        for (const auto& row : section.rows) {
            const auto [file, item] = TestTree::fileAndItem(row.path);
            make(file);
            expected[home / item] = {section.kind, row.label, 0, row.recommended, row.inUseBy};
        }
        std::for_each(section.never.begin(), section.never.end(), make);
    }
    TestTree::setModified(home / ".local/share/xorg/Xorg.0.log", std::chrono::system_clock::now());
    // Similar images: one photo at two qualities, the older kept; another scene of the same size stays.
    // Duplicates: the same contents twice, the older copy kept.
    const std::string older = TestPhotos::photo(home / "Pictures/trip/IMG_1.jpg", 1200, 900, 7, 95);
    const std::string newer = TestPhotos::photo(home / "Desktop/IMG_1 export.jpg", 1200, 900, 7, 70);
    TestPhotos::photo(home / "Pictures/trip/IMG_2.jpg", 1200, 900, 8, 95);
    TestTree::setModified(older, TestTree::daysAgo(400));
    const std::string body = TrashFixture::randomBytes(1'500'000, 1);
    TestTree::setModified(TestTree::writeFile(home / "Documents/report.pdf", body), TestTree::daysAgo(300));
    const std::string copy = TestTree::writeFile(home / "Desktop/report copy.pdf", body);
    expected[newer] = {"similarImages", "Similar to IMG_1.jpg", 0, true, ""};
    expected[copy] = {"duplicates", "", 0, true, ""};
    // Beside the table: snapd's mounts of the installed snaps, the fake flatpak's installed apps, the
    // Downloads folder's translated name, a desktop entry starting an AppImage, links that are never
    // followed (a child of ~/.cache, a profile's cache), and settings, credentials and profiles that
    // must outlive every reclaim.
    const std::string tools = fakeFlatpak(home / "fakebin", "org.gnome.Maps\\norg.mozilla.firefox\\n");
    const std::string editor = home / "Téléchargements/Editor-x86_64.AppImage";
    const std::vector<TestTree::Entry> rest{
        {"system/snap/spotify/current/"},
        {"system/snap/firefox/current/"},
        {".config/user-dirs.dirs",
         "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n"},
        {".local/share/applications/appimagekit-editor.desktop",
         "[Desktop Entry]\nName=Editor\nExec=\"" + editor + "\" %U\nType=Application\n"},
        {"elsewhere/big/blob", 30 * MB},
        {".cache/linked", {}, -1, home / "elsewhere/big"},
        {".config/google-chrome/Default/GPUCache", {}, -1, home / "elsewhere/big"},
        {".cargo/config.toml", "[build]\njobs = 2\n"},
        {".cargo/credentials.toml", "[registry]\ntoken = \"secret\"\n"},
        {".mozilla/firefox/profiles.ini", "[Profile0]\nPath=k3.default\n"},
        {".config/google-chrome/Default/Preferences", "{\"profile\":{}}"},
        {".config/Code/User/settings.json", "{\"editor.fontSize\": 14}"},
        {".cache/pypoetry/virtualenvs/app-x1-py3.11/pyvenv.cfg", "home = /usr/bin\n"},
        {".cache/ibus/bus/user-registry", "ibus"},
        {"Documents/thesis.tex", "precious"}};
    TestTree::build(home.path(), rest);
    // A mount inside ~/.cache is neither an item nor counted in its parent; a trash on another mount is
    // the Trash's.
    Mount portal(home / ".cache/portal-mount");
    Mount inner(home / ".cache/fontconfig/mounted");
    Mount removable(home / "media/usb");
    if (portal.mounted) {
        TestTree::build(home.path(),
                        {{".cache/portal-mount/blob", 3 * MB},
                         {".cache/fontconfig/mounted/blob", 3 * MB},
                         {usbTrash + "/files/holiday.mov", 8192},
                         {usbTrash + "/info/holiday.mov.trashinfo",
                          "[Trash Info]\nPath=/media/usb/holiday.mov\nDeletionDate=2024-01-01T10:00:00\n"}});
        // A folder holding a mount is never offered (moving it would carry the mount along), and it is
        // measured without it.
        expected.erase(home / ".cache/fontconfig");
        EXPECT_EQ(DiskMath::size(home / ".cache/fontconfig"),
                  TestTree::allocated(home / ".cache/fontconfig/cache-7"));
        expected[home / (usbTrash + "/files/holiday.mov")] = {"trash", "", 0, true, ""};
    } else {
        std::cout << "[  SKIPPED ] the mount cases: " << portal.error << "\n";
    }
    for (auto& [item, want] : expected) {
        want.bytes = TestTree::allocatedTree(item);
    }
    TestTree::RunningProgram firefox(home / "procs", "firefox");
    TestTree::RunningProgram spotify(home / "procs", "spotify");
    ASSERT_TRUE(firefox.started && spotify.started);

    const std::map<std::string, std::string> environment{{"KESTRUNE_SYSTEM_ROOT", system},
                                                         {"PATH", withPath(tools)},
                                                         {"LANGUAGE", "en_US"},
                                                         {"LC_ALL", "C"},
                                                         {"LC_MESSAGES", "C"},
                                                         {"LANG", "C"}};
    const auto scan = TestTree::run({TestTree::cliPath(), "scan", "--json", "--quiet"},
                                    TestTree::Privilege::inherited, environment);
    ASSERT_EQ(scan.status, 0) << scan.output;
    auto found = scanned(scan.output, home.path());
    // Only this table's home counts: the whole machine's other mounts may hold trashes of their own.
    std::erase_if(found, [&](const auto& entry) { return !entry.first.starts_with(home.path() + "/"); });
    EXPECT_EQ(found, expected);

    // Everything the reclaim may take is taken; what was not chosen stays as it was, byte for byte.
    auto before = TestTree::snapshot(home.path());
    TestTree::setModified(home / "Documents/archive/footage.mov", TestTree::daysAgo(200)); // read: opened now
    const auto reclaim = TestTree::run({TestTree::cliPath(), "reclaim", "--yes", "--all", "--quiet"},
                                       TestTree::Privilege::inherited, environment);
    // The cloud copy cannot be evicted here: that one failure is said, and makes the status 1.
    EXPECT_EQ(reclaim.status, 1) << reclaim.output;
    for (const char* line :
         {"Firefox · k3.default/cache2 (in use): kept back, quit Firefox first to reclaim it",
          "iCloud · big.zip: No cloud document service is available on this system; the local copy was "
          "kept"}) {
        EXPECT_NE(reclaim.output.find(line), std::string::npos) << reclaim.output;
    }
    // The audit log, the hash cache, the Trash itself and the info files of what was emptied aside.
    const auto ours = [&](const auto& entry) {
        const std::string& file = entry.first;
        return file.starts_with(".local/share/Kestrune") || file.starts_with(".cache/kestrune") ||
               file.starts_with(".local/share/Trash") || file.starts_with(usbTrash + "/info");
    };
    std::set<std::string> taken;
    for (const auto& [path, want] : expected) {
        const ReclaimAction action = CategoryKinds::action(*CategoryKinds::fromRawValue(want.kind));
        if (want.inUseBy.empty() && action.kind == ReclaimAction::Kind::trash) {
            taken.insert(path.substr(home.path().size() + 1));
        }
    }
    auto kept = before;
    std::erase_if(kept, [&](const auto& entry) {
        return ours(entry) || std::any_of(taken.begin(), taken.end(), [&](const std::string& item) {
                   return entry.first == item || entry.first.starts_with(item + "/");
               });
    });
    auto after = TestTree::snapshot(home.path());
    std::erase_if(after, ours);
    std::vector<std::pair<std::string, std::string>> touched; // gone, changed, or taken and still there
    std::set_symmetric_difference(after.begin(), after.end(), kept.begin(), kept.end(),
                                  std::back_inserter(touched));
    EXPECT_EQ(touched, decltype(touched){}) << reclaim.output;
    EXPECT_GT(kept.size(), rest.size());
}

TEST(LinuxHome, ACacheFolderLinkedToAnotherFileSystemIsListedButNoLinkBelowItIsFollowed) {
    TestTree::TemporaryHome home;
    Mount fast(home / "fast");
    if (!fast.mounted) {
        GTEST_SKIP() << fast.error;
    }
    TestTree::build(home.path(),
                    {{"fast/cache/thumbnails/large/a.png", 2 * MB},
                     {"fast/cache/JetBrains/GoLand2023.1/caches/a", 21 * MB},
                     {"fast/cache/JetBrains/GoLand2024.1/caches/a", 21 * MB},
                     {"elsewhere/Rider2022.1/caches/a", 21 * MB},
                     {"cache-link", {}, -1, home / "fast/cache"},
                     {"fast/cache/JetBrains/Rider2021.1", {}, -1, home / "elsewhere/Rider2022.1"}});
    setenv("XDG_CACHE_HOME", (home / "cache-link").c_str(), 1);
    EXPECT_EQ(TestTree::urls(UserCachesScanner().scan()),
              std::set<std::string>{home / "cache-link/thumbnails"});
    // The older GoLand only: the newest holds local history, and a version folder that is a link is
    // never entered (nor does it count as the newest Rider).
    EXPECT_EQ(TestTree::urls(AppCacheScanner().scan()),
              std::set<std::string>{home / "cache-link/JetBrains/GoLand2023.1"});
}

TEST(LinuxHome, FlatpakLeftoversNeedTheInstalledListAndSnapLeftoversNeedSnapd) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    setenv("KESTRUNE_SYSTEM_ROOT", system.c_str(), 1); // the home puts it and PATH back
    TestTree::build(home.path(), {{".var/app/org.example.Kept/data/a", 6 * MB},
                                  {".var/app/org.example.Gone/data/a", 6 * MB},
                                  {".var/app/org.example.Small/data/a", 4 * MB},
                                  {"snap/gone/common/a", 6 * MB}});
    struct Case {
        std::string description;
        std::optional<int> flatpakStatus; // nothing: no flatpak on PATH at all
        bool snapd;
        std::set<std::string> leftovers;
    };
    const std::set<std::string> both{home / ".var/app/org.example.Gone", home / "snap/gone"};
    const std::vector<Case> cases{{"flatpak lists the kept app, snapd keeps /snap", 0, true, both},
                                  {"no flatpak, no snapd", std::nullopt, false, {}},
                                  {"flatpak fails", 1, false, {}}};
    for (const auto& c : cases) {
        fs::remove_all(home / "bin");
        fs::remove_all(system);
        TestTree::makeFolder(home / "bin");
        if (c.flatpakStatus) {
            fakeFlatpak(home / "bin", "org.example.Kept\\n", *c.flatpakStatus);
        }
        if (c.snapd) {
            TestTree::makeFolder(system + "/snap/core22");
        }
        // Only the fake (or nothing) can be found: PATH holds just its folder.
        setenv("PATH", (home / "bin").c_str(), 1);
        EXPECT_EQ(TestTree::urls(AppLeftoversScanner::linuxLeftovers()), c.leftovers) << c.description;
    }
}

TEST(LinuxHome, UserDirsAndDesktopEntriesAreReadAsTheirToolsWriteThem) {
    TestTree::TemporaryHome home;
    EXPECT_EQ(Platform::downloadsFolder(), home / "Downloads"); // no user-dirs.dirs
    // Every folder the file names (downloads, pictures) is read by this one rule.
    const std::vector<std::pair<std::string, std::optional<std::string>>> userDirs{
        {"XDG_DOWNLOAD_DIR=\"$HOME/Desc\\\"argas\"\n", "/h/Desc\"argas"},
        {"XDG_DOWNLOAD_DIR=\"/data/dl\"\nXDG_DOWNLOAD_DIR=\"$HOME/later\"\n", "/h/later"},
        {"# XDG_DOWNLOAD_DIR=\"/x\"\n  XDG_DOWNLOAD_DIR=\"$HOME\"\n", "/h"},
        {"XDG_DOWNLOAD_DIR=\"/srv/photos/\"\n", "/srv/photos"},
        {"XDG_DOWNLOAD_DIR=relative\n", std::nullopt},
        {"XDG_DOWNLOAD_DIR=\"relative/dir\"\n", std::nullopt},
        {"XDG_DOWNLOAD_DIR=\"$HOME/unterminated\n", std::nullopt},
        {"XDG_DOWNLOAD_DIRX=\"/x\"\n", std::nullopt}};
    for (const auto& [text, folder] : userDirs) {
        EXPECT_EQ(Platform::userDir(text, "XDG_DOWNLOAD_DIR", "/h"), folder) << text;
    }
    const std::vector<std::pair<std::string, std::set<std::string>>> execs{
        {"/opt/App.AppImage %U", {"/opt/App.AppImage"}},
        {"\"/home/a b/My App.AppImage\" --no-sandbox %F", {"/home/a b/My App.AppImage"}},
        {"env DESKTOPINTEGRATION=1 /home/a/Tool.AppImage", {"/home/a/Tool.AppImage"}},
        {"firefox %u", {}},
        {"\"/x/q\\\"uote.AppImage\"", {"/x/q\"uote.AppImage"}}};
    for (const auto& [exec, paths] : execs) {
        EXPECT_EQ(Platform::execPaths(exec), paths) << exec;
    }
}

} // namespace

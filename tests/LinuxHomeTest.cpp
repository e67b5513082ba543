// A Linux desktop home as the programs on it lay it out, scanned and reclaimed by the real kestrune-cli:
// every location in its category with its size, what must stay out of the recommended selection, what
// must never be reported, and everything not chosen still there byte for byte after `reclaim --all`.
#include "KestruneCore/Platform/DesktopEntries.h"
#include "KestruneCore/Platform/UserFolders.h"
#include "KestruneCore/Scanners/AppLeftoversScanner.h"
#include "KestruneCore/Scanners/CacheScanners.h"
#include "KestruneCore/Scanners/LocationScanners.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const auto now = std::chrono::system_clock::now();

// One file the home holds. `item` is the folder (or file) reported for it, relative to the home, or empty
// when nothing may ever report it; `recommended` is whether the recommended selection takes that item.
// Firefox and the Snap "spotify" run during the test.
struct Row {
    std::string file;
    std::int64_t bytes;
    std::string kind;
    std::string item;
    bool recommended = true;
    std::string label = {};
    std::string inUseBy = {}; // the running program the test starts owns it
};

constexpr std::int64_t MB = 1'000'000;

// Caches from 1 MB, logs from 200 KB, package caches from 10 MB, app caches from 20 MB, installers from
// 5 MB, leftovers from 5 MB, container storage from 100 MB: every file here is above its floor.
const std::vector<Row>& table() {
    static const std::vector<Row> rows{
        // Caches: each child of ~/.cache, the thumbnails, Flatpak and Snap app caches.
        {".cache/fontconfig/cache-7", 2 * MB, "userCaches", ".cache/fontconfig"},
        {".cache/thumbnails/large/0a1b.png", 2 * MB, "userCaches", ".cache/thumbnails"},
        {".thumbnails/normal/9f8e.png", 2 * MB, "userCaches", ".thumbnails"},
        {".var/app/org.gnome.Maps/cache/tiles/1.png", 2 * MB, "userCaches", ".var/app/org.gnome.Maps/cache",
         true, "org.gnome.Maps \u00B7 cache"},
        {"snap/spotify/common/.cache/data/blob", 2 * MB, "userCaches", "snap/spotify/common/.cache", false,
         "spotify \u00B7 cache", "spotify"},
        // The keep-list, hidden children and an installed Flatpak's settings.
        {".cache/doc/by-app/note", 2 * MB, "", ""},
        {".cache/ibus/bus/registry", 2 * MB, "", ""},
        {".cache/wallpaper/scaled.png", 2 * MB, "", ""},
        {".cache/gnome-control-center/backgrounds/a.png", 2 * MB, "", ""},
        {".cache/obexd/transfer", 2 * MB, "", ""},
        {".cache/evolution/mail/inbox", 2 * MB, "", ""},
        {".cache/sessions/session-1", 2 * MB, "", ""},
        {".cache/kwin/qmlcache/a.qmlc", 2 * MB, "", ""},
        {".cache/plasmashell/qmlcache/b.qmlc", 2 * MB, "", ""},
        {".cache/drkonqi/crash", 2 * MB, "", ""},
        {".cache/icon-cache.kcache", 2 * MB, "", ""},
        {".cache/plasma_theme_breeze.kcache", 2 * MB, "", ""},
        {".cache/qtshadercache-x86_64-little_endian-lp64/shader", 2 * MB, "", ""},
        {".cache/mesa_shader_cache/index", 2 * MB, "", ""},
        {".cache/mesa_shader_cache_db/index", 2 * MB, "", ""},
        {".cache/pypoetry/virtualenvs/app-x1-py3.11/lib/site.py", 2 * MB, "", ""},
        {".cache/.hidden-state/blob", 2 * MB, "", ""},
        {".var/app/org.gnome.Maps/config/glib-2.0/settings", 6 * MB, "", ""},

        // Logs: the last session's errors, old Xorg logs, app log folders.
        {".xsession-errors.old", 300'000, "logs", ".xsession-errors.old"},
        {".xsession-errors", 300'000, "", ""},
        {".local/share/xorg/Xorg.0.log.old", 300'000, "logs", ".local/share/xorg/Xorg.0.log.old"},
        {".local/share/xorg/Xorg.1.log", 300'000, "logs", ".local/share/xorg/Xorg.1.log"},
        {".local/share/xorg/Xorg.0.log", 300'000, "", ""}, // the newest: the running server's
        {".local/state/nvim/lsp.log", 300'000, "logs", ".local/state/nvim/lsp.log"},
        {".config/Code/logs/20240601T101010/main.log", 300'000, "logs", ".config/Code/logs", true,
         "VS Code \u00B7 logs"},
        {".cache/JetBrains/IntelliJIdea2024.1/log/idea.log", 300'000, "logs",
         ".cache/JetBrains/IntelliJIdea2024.1/log", true, "JetBrains \u00B7 IntelliJIdea2024.1/log"},

        // Package caches; Cargo's tools and settings and Poetry's environments never.
        {".cache/go-build/00/a1-d", 11 * MB, "packageCaches", ".cache/go-build"},
        {"go/pkg/mod/cache/download/golang.org/x/sys/@v/v0.1.0.zip", 11 * MB, "packageCaches",
         "go/pkg/mod/cache"},
        {".cache/yarn/v6/npm-left-pad/package.tgz", 11 * MB, "packageCaches", ".cache/yarn"},
        {".cache/deno/deps/https/deno.land/mod", 11 * MB, "packageCaches", ".cache/deno"},
        {".cache/pypoetry/cache/repositories/PyPI/a", 11 * MB, "packageCaches", ".cache/pypoetry/cache"},
        {".cache/ms-playwright/chromium-1105/chrome", 11 * MB, "packageCaches", ".cache/ms-playwright"},
        {".cache/bazel/_bazel_user/install/a", 11 * MB, "packageCaches", ".cache/bazel"},
        {".cargo/registry/cache/index.crates.io/serde.crate", 11 * MB, "packageCaches", ".cargo/registry"},
        {".cargo/git/db/tokio-1234/pack", 11 * MB, "packageCaches", ".cargo/git"},
        {".cargo/bin/cargo-watch", 11 * MB, "", ""},
        {".m2/repository/com/example/app/1.0/app-1.0.jar", 11 * MB, "packageCaches", ".m2/repository", false,
         "Maven repository (holds your installed artifacts)"},

        // App caches: browsers, editors, chat apps, older IDE versions, Steam's shaders.
        {".cache/mozilla/firefox/k3x.default-release/cache2/entries/A1", 21 * MB, "appCaches",
         ".cache/mozilla/firefox/k3x.default-release/cache2", false,
         "Firefox \u00B7 k3x.default-release/cache2", "Firefox"},
        {"snap/firefox/common/.cache/mozilla/firefox/s9.default/cache2/entries/B2", 21 * MB, "appCaches",
         "snap/firefox/common/.cache/mozilla/firefox/s9.default/cache2", false,
         "Firefox \u00B7 s9.default/cache2", "Firefox"},
        {".var/app/org.mozilla.firefox/cache/mozilla/firefox/f1.default/cache2/entries/C3", 21 * MB,
         "appCaches", ".var/app/org.mozilla.firefox/cache/mozilla/firefox/f1.default/cache2", false,
         "Firefox \u00B7 f1.default/cache2", "Firefox"},
        {".cache/google-chrome/Default/Cache/Cache_Data/data_1", 21 * MB, "appCaches", ".cache/google-chrome",
         true, "Chrome \u00B7 cache"},
        {".config/google-chrome/Default/Code Cache/js/index", 21 * MB, "appCaches",
         ".config/google-chrome/Default/Code Cache", true, "Chrome \u00B7 Default/Code Cache"},
        {".config/google-chrome/Profile 1/Service Worker/CacheStorage/a/b", 21 * MB, "appCaches",
         ".config/google-chrome/Profile 1/Service Worker/CacheStorage", true,
         "Chrome \u00B7 Profile 1/Service Worker/CacheStorage"},
        {".config/google-chrome/GrShaderCache/data_0", 21 * MB, "appCaches",
         ".config/google-chrome/GrShaderCache", true, "Chrome \u00B7 GrShaderCache"},
        {".config/chromium/Default/GPUCache/data_1", 21 * MB, "appCaches",
         ".config/chromium/Default/GPUCache", true, "Chromium \u00B7 Default/GPUCache"},
        {".config/BraveSoftware/Brave-Browser/Default/DawnCache/data_1", 21 * MB, "appCaches",
         ".config/BraveSoftware/Brave-Browser/Default/DawnCache", true, "Brave \u00B7 Default/DawnCache"},
        {".cache/microsoft-edge/Default/Cache/data", 21 * MB, "appCaches", ".cache/microsoft-edge", true,
         "Edge \u00B7 cache"},
        {".config/vivaldi/Default/Cache/data", 21 * MB, "appCaches", ".config/vivaldi/Default/Cache", true,
         "Vivaldi \u00B7 Default/Cache"},
        {".config/Code/CachedData/1a2b/chrome/js", 21 * MB, "appCaches", ".config/Code/CachedData", true,
         "VS Code \u00B7 CachedData"},
        {".config/Code/CachedExtensionVSIXs/ms-python.python", 21 * MB, "appCaches",
         ".config/Code/CachedExtensionVSIXs", true, "VS Code \u00B7 CachedExtensionVSIXs"},
        {".config/VSCodium/Cache/Cache_Data/data_0", 21 * MB, "appCaches", ".config/VSCodium/Cache", true,
         "VSCodium \u00B7 Cache"},
        {".config/Cursor/GPUCache/data_0", 21 * MB, "appCaches", ".config/Cursor/GPUCache", true,
         "Cursor \u00B7 GPUCache"},
        {".config/Slack/Cache/Cache_Data/data_0", 21 * MB, "appCaches", ".config/Slack/Cache", true,
         "Slack \u00B7 Cache"},
        {".config/discord/Code Cache/js/index", 21 * MB, "appCaches", ".config/discord/Code Cache", true,
         "Discord \u00B7 Code Cache"},
        {".config/Signal/Service Worker/CacheStorage/x", 21 * MB, "appCaches",
         ".config/Signal/Service Worker/CacheStorage", true, "Signal \u00B7 Service Worker/CacheStorage"},
        {".config/Element/GPUCache/data_0", 21 * MB, "appCaches", ".config/Element/GPUCache", true,
         "Element \u00B7 GPUCache"},
        {".cache/JetBrains/IntelliJIdea2023.3/caches/content.dat", 21 * MB, "appCaches",
         ".cache/JetBrains/IntelliJIdea2023.3", true, "JetBrains \u00B7 IntelliJIdea2023.3"},
        {".cache/JetBrains/IntelliJIdea2024.1/LocalHistory/changes.storageData", 21 * MB, "", ""},
        {".cache/JetBrains/PyCharmCE2024.2/caches/content.dat", 21 * MB, "", ""},
        {".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6/a", 21 * MB, "appCaches",
         ".local/share/Steam/steamapps/shadercache", true, "Steam \u00B7 shadercache"},
        // Profiles and what they hold besides caches: never.
        {".mozilla/firefox/k3x.default-release/places.sqlite", 21 * MB, "", ""},
        {".config/google-chrome/Default/Local Storage/leveldb/000003.log", 21 * MB, "", ""},
        {".config/google-chrome/Default/IndexedDB/https_mail.example_0.indexeddb.leveldb/1", 21 * MB, "", ""},
        {".config/google-chrome/Default/Cookies", 21 * MB, "", ""},
        {".config/Code/User/globalStorage/state.vscdb", 21 * MB, "", ""},
        {".config/Signal/sql/db.sqlite", 21 * MB, "", ""},

        // Old installers in the desktop's Downloads folder (a translated name) and in ~/Downloads.
        {"T\u00E9l\u00E9chargements/tool_1.0_amd64.deb", 6 * MB + 1 * 4096, "downloads",
         "T\u00E9l\u00E9chargements/tool_1.0_amd64.deb"},
        {"T\u00E9l\u00E9chargements/tool-1.0.x86_64.rpm", 6 * MB + 2 * 4096, "downloads",
         "T\u00E9l\u00E9chargements/tool-1.0.x86_64.rpm"},
        {"T\u00E9l\u00E9chargements/driver.run", 6 * MB + 3 * 4096, "downloads",
         "T\u00E9l\u00E9chargements/driver.run"},
        {"T\u00E9l\u00E9chargements/org.example.App.flatpakref", 6 * MB + 4 * 4096, "downloads",
         "T\u00E9l\u00E9chargements/org.example.App.flatpakref"},
        {"T\u00E9l\u00E9chargements/tool_12.snap", 6 * MB + 5 * 4096, "downloads",
         "T\u00E9l\u00E9chargements/tool_12.snap"},
        {"T\u00E9l\u00E9chargements/Viewer-x86_64.AppImage", 6 * MB + 6 * 4096, "downloads",
         "T\u00E9l\u00E9chargements/Viewer-x86_64.AppImage"},
        {"T\u00E9l\u00E9chargements/Editor-x86_64.AppImage", 7 * MB, "", ""}, // a desktop entry starts it
        {"Downloads/old_0.9_amd64.deb", 6 * MB + 7 * 4096, "downloads", "Downloads/old_0.9_amd64.deb"},

        // The home trash, a Snap app's own trash.
        {".local/share/Trash/files/draft.txt", 8192, "trash", ".local/share/Trash/files/draft.txt"},
        {"snap/spotify/210/.local/share/Trash/files/song.ogg", 8192, "trash",
         "snap/spotify/210/.local/share/Trash/files/song.ogg"},

        // Leftovers of apps no longer installed; nothing under ~/.config or ~/.local/share by name.
        {".var/app/com.example.Gone/data/library.db", 6 * MB, "appLeftovers", ".var/app/com.example.Gone"},
        // A size of its own: zero-filled files of equal size are copies, and the last copy stays.
        {"snap/oldtool/common/state.db", 6 * MB + 64 * 4096, "appLeftovers", "snap/oldtool"},
        {".config/UninstalledApp/settings.db", 6 * MB, "", ""},
        {".local/share/uninstalled-app/data.db", 6 * MB, "", ""},

        // Container storage: advisory, labelled with the engine's own command.
        {".docker/desktop/vms/0/data/Docker.raw", 101 * MB, "docker",
         ".docker/desktop/vms/0/data/Docker.raw"},
        {".local/share/docker/overlay2/abc/diff/blob", 101 * MB, "docker", ".local/share/docker", true,
         "Docker (rootless) \u00B7 docker system df, then docker system prune"},
        {".local/share/containers/storage/overlay/abc/diff/blob", 101 * MB, "docker",
         ".local/share/containers/storage", true, "Podman \u00B7 podman system df, then podman system prune"},
    };
    return rows;
}

// Files whose contents must outlive every reclaim: settings, credentials, profiles.
const std::map<std::string, std::string>& precious() {
    static const std::map<std::string, std::string> files{
        {".cargo/config.toml", "[build]\njobs = 2\n"},
        {".cargo/credentials.toml", "[registry]\ntoken = \"secret\"\n"},
        {".mozilla/firefox/profiles.ini", "[Profile0]\nPath=k3x.default-release\n"},
        {".config/google-chrome/Default/Preferences", "{\"profile\":{}}"},
        {".config/Code/User/settings.json", "{\"editor.fontSize\": 14}"},
        {".cache/pypoetry/virtualenvs/app-x1-py3.11/pyvenv.cfg", "home = /usr/bin\n"},
        {".cache/ibus/bus/user-registry", "ibus"},
        {"Documents/thesis.tex", "precious"},
    };
    return files;
}

// A tmpfs mounted for the test's lifetime; `reason` says why not where mounting is refused.
class Tmpfs {
public:
    explicit Tmpfs(const std::string& at) : point(at) {
        fs::create_directories(at);
        if (mount("kestrune-test", at.c_str(), "tmpfs", 0, "size=64m") == 0) {
            mounted = true;
        } else {
            reason = std::string("mounting a tmpfs was refused: ") + std::strerror(errno);
        }
    }
    ~Tmpfs() {
        if (mounted) {
            umount2(point.c_str(), MNT_DETACH);
        }
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool mounted = false;
    std::string reason;

private:
    std::string point;
};

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

std::map<std::string, Found> scanned(const std::string& output) {
    std::map<std::string, Found> out;
    const auto document = nlohmann::json::parse(output);
    for (const auto& category : document["categories"]) {
        for (const auto& item : category["items"]) {
            out[item["path"].get<std::string>()] = {
                category["kind"].get<std::string>(), item.value("label", ""),
                item["bytes"].get<std::int64_t>(), item.value("recommended", true),
                item.value("inUseBy", "")};
        }
    }
    return out;
}

TEST(LinuxHome, EveryLocationIsFoundInItsCategoryAndNothingElseIsTouchedByAFullReclaim) {
    TestTree::TemporaryHome home;
    const std::string system = home / "system";
    // snapd's mounts of the installed snaps; the fake flatpak's installed apps.
    for (const std::string snap : {"spotify", "firefox"}) {
        TestTree::makeFolder(system + "/snap/" + snap + "/current");
    }
    const std::string tools = fakeFlatpak(home / "fakebin", "org.gnome.Maps\\norg.mozilla.firefox\\n");
    TestTree::writeFile(
        home / ".config/user-dirs.dirs",
        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/T\u00E9l\u00E9chargements\"\n");
    TestTree::writeFile(home / ".local/share/applications/appimagekit-editor.desktop",
                        "[Desktop Entry]\nName=Editor\nExec=\"" +
                            (home / "T\u00E9l\u00E9chargements/Editor-x86_64.AppImage") +
                            "\" %U\nType=Application\n");
    for (const auto& row : table()) {
        TestTree::makeFile(home / row.file, row.bytes);
        // Installers are old enough; of the Xorg logs the one the server writes is the newest.
        TestTree::setModified(home / row.file, now - std::chrono::hours(24 * 40));
    }
    TestTree::setModified(home / "Downloads/old_0.9_amd64.deb", now - std::chrono::hours(24 * 31));
    TestTree::setModified(home / ".local/share/xorg/Xorg.0.log", now);
    for (const auto& [file, text] : precious()) {
        TestTree::writeFile(home / file, text);
    }
    // Links are never followed: a link child of ~/.cache, a profile's cache that is a link.
    TestTree::makeFile(home / "elsewhere/big/blob", 30 * MB);
    fs::create_directory_symlink(home / "elsewhere/big", home / ".cache/linked");
    fs::create_directory_symlink(home / "elsewhere/big", home / ".config/google-chrome/Default/GPUCache");
    // A mount inside ~/.cache is neither an item nor counted in its parent; a trash on another mount is
    // the Trash's.
    Tmpfs portal(home / ".cache/portal-mount");
    Tmpfs inner(home / ".cache/fontconfig/mounted");
    Tmpfs removable(home / "media/usb");
    const std::string uid = std::to_string(geteuid());
    if (portal.mounted) {
        TestTree::makeFile(home / ".cache/portal-mount/blob", 3 * MB);
        TestTree::makeFile(home / ".cache/fontconfig/mounted/blob", 3 * MB);
        TestTree::makeFile(home / ("media/usb/.Trash-" + uid + "/files/holiday.mov"), 8192);
        TestTree::writeFile(home / ("media/usb/.Trash-" + uid + "/info/holiday.mov.trashinfo"),
                            "[Trash Info]\nPath=/media/usb/holiday.mov\nDeletionDate=2024-01-01T10:00:00\n");
    }
    TestTree::RunningProgram firefox(home / "procs", "firefox");
    TestTree::RunningProgram spotify(home / "procs", "spotify");
    ASSERT_TRUE(firefox.started && spotify.started);

    const std::map<std::string, std::string> environment{{"KESTRUNE_SYSTEM_ROOT", system},
                                                         {"PATH", withPath(tools)}};
    const auto scan = TestTree::run({TestTree::cliPath(), "scan", "--json", "--quiet"},
                                    TestTree::Privilege::inherited, environment);
    ASSERT_EQ(scan.status, 0) << scan.output;
    auto found = scanned(scan.output);
    // Only this table's home counts: the whole machine's other mounts may hold trashes of their own.
    std::erase_if(found, [&](const auto& entry) { return !entry.first.starts_with(home.path() + "/"); });

    std::map<std::string, Found> expected;
    for (const auto& row : table()) {
        if (!row.kind.empty()) {
            const std::string item = home / row.item;
            expected[item] = {row.kind, row.label, TestTree::allocatedTree(item), row.recommended,
                              row.inUseBy};
        }
    }
    if (portal.mounted) {
        // A folder holding a mount is never offered (moving it would carry the mount along), and it is
        // measured without it.
        expected.erase(home / ".cache/fontconfig");
        EXPECT_EQ(DiskMath::size(home / ".cache/fontconfig"),
                  TestTree::allocated(home / ".cache/fontconfig/cache-7"));
        expected[home / ("media/usb/.Trash-" + uid + "/files/holiday.mov")] = {
            "trash", "", TestTree::allocated(home / ("media/usb/.Trash-" + uid + "/files/holiday.mov")), true,
            ""};
    }
    EXPECT_EQ(found, expected);
    if (!portal.mounted) {
        std::cout << "[  SKIPPED ] the mount cases: " << portal.reason << "\n";
    }

    // Everything the reclaim may take is taken; what was not chosen stays as it was, byte for byte.
    auto before = TestTree::snapshot(home.path());
    const auto reclaim = TestTree::run({TestTree::cliPath(), "reclaim", "--yes", "--all", "--quiet"},
                                       TestTree::Privilege::inherited, environment);
    ASSERT_EQ(reclaim.status, 0) << reclaim.output;
    EXPECT_NE(reclaim.output.find("Firefox \u00B7 k3x.default-release/cache2 (in use): kept back, quit "
                                  "Firefox first to reclaim it"),
              std::string::npos)
        << reclaim.output;
    const auto after = TestTree::snapshot(home.path());
    std::set<std::string> taken;
    for (const auto& [path, want] : expected) {
        if (want.inUseBy.empty() && want.kind != "docker") {
            taken.insert(path.substr(home.path().size() + 1));
        }
    }
    const auto inside = [](const std::string& file, const std::set<std::string>& folders) {
        return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
            return file == folder || file.starts_with(folder + "/");
        });
    };
    std::size_t kept = 0;
    for (const auto& [file, hash] : before) {
        if (file.starts_with(".local/share/Kestrune/") || file.starts_with(".cache/kestrune/") ||
            file.starts_with(".local/share/Trash/") ||
            file.starts_with("media/usb/.Trash-" + uid + "/info/")) {
            continue; // the audit log, the hash cache, the Trash itself, the info files of what was emptied
        }
        if (inside(file, taken)) {
            EXPECT_FALSE(after.contains(file)) << "still there: " << file << "\n" << reclaim.output;
            continue;
        }
        ++kept;
        const auto at = after.find(file);
        ASSERT_NE(at, after.end()) << "gone: " << file;
        EXPECT_EQ(at->second, hash) << "changed: " << file;
    }
    EXPECT_GT(kept, precious().size());
    for (const auto& [file, text] : precious()) {
        EXPECT_EQ(TestTree::readFile(home / file), text) << file;
    }
}

TEST(LinuxHome, ACacheFolderLinkedToAnotherFileSystemIsListedButNoLinkBelowItIsFollowed) {
    TestTree::TemporaryHome home;
    Tmpfs fast(home / "fast");
    if (!fast.mounted) {
        GTEST_SKIP() << fast.reason;
    }
    TestTree::makeFile(home / "fast/cache/thumbnails/large/a.png", 2 * MB);
    TestTree::makeFile(home / "fast/cache/JetBrains/GoLand2023.1/caches/a", 21 * MB);
    TestTree::makeFile(home / "fast/cache/JetBrains/GoLand2024.1/caches/a", 21 * MB);
    TestTree::makeFile(home / "elsewhere/Rider2022.1/caches/a", 21 * MB);
    fs::create_directory_symlink(home / "fast/cache", home / "cache-link");
    fs::create_directory_symlink(home / "elsewhere/Rider2022.1", home / "fast/cache/JetBrains/Rider2021.1");
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
    TestTree::makeFile(home / ".var/app/org.example.Kept/data/a", 6 * MB);
    TestTree::makeFile(home / ".var/app/org.example.Gone/data/a", 6 * MB);
    TestTree::makeFile(home / ".var/app/org.example.Small/data/a", 4 * MB);
    TestTree::makeFile(home / "snap/gone/common/a", 6 * MB);
    struct Case {
        std::string description;
        std::optional<int> flatpakStatus; // nothing: no flatpak on PATH at all
        bool snapd;
        std::set<std::string> leftovers;
    };
    const std::vector<Case> cases{
        {"flatpak lists the kept app, snapd keeps /snap",
         0,
         true,
         {home / ".var/app/org.example.Gone", home / "snap/gone"}},
        {"no flatpak, no snapd", std::nullopt, false, {}},
        {"flatpak fails", 1, false, {}},
    };
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
    const std::vector<std::pair<std::string, std::string>> userDirs{
        {"XDG_DOWNLOAD_DIR=\"$HOME/Desc\\\"argas\"\n", home / "Desc\"argas"},
        {"XDG_DOWNLOAD_DIR=\"/data/dl\"\nXDG_DOWNLOAD_DIR=\"$HOME/later\"\n", home / "later"},
        {"XDG_DOWNLOAD_DIR=relative\n", home / "Downloads"},
        {"# XDG_DOWNLOAD_DIR=\"/x\"\n  XDG_DOWNLOAD_DIR=\"$HOME\"\n", home.path()},
    };
    for (const auto& [text, folder] : userDirs) {
        TestTree::writeFile(home / ".config/user-dirs.dirs", text);
        EXPECT_EQ(Platform::downloadsFolder(), folder) << text;
    }
    const std::vector<std::pair<std::string, std::set<std::string>>> execs{
        {"/opt/App.AppImage %U", {"/opt/App.AppImage"}},
        {"\"/home/a b/My App.AppImage\" --no-sandbox %F", {"/home/a b/My App.AppImage"}},
        {"env DESKTOPINTEGRATION=1 /home/a/Tool.AppImage", {"/home/a/Tool.AppImage"}},
        {"firefox %u", {}},
        {"\"/x/q\\\"uote.AppImage\"", {"/x/q\"uote.AppImage"}},
    };
    for (const auto& [exec, paths] : execs) {
        EXPECT_EQ(Platform::execPaths(exec), paths) << exec;
    }
}

} // namespace

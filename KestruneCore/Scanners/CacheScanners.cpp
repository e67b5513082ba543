// Only paths that exist are measured, each once, in parallel; an item is always the whole folder (or
// file), never its contents. A profile folder that is missing rules out its whole row: the profile
// itself is never an item.
#include "KestruneCore/Scanners/CacheScanners.h"

#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/RunningApps.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <set>

namespace {

using ScannerHelpers::measured;
using ScannerHelpers::subfolders;

enum class Root { cache, config, data, home };

std::string rootPath(Root root) {
    switch (root) {
    case Root::cache:
        return Platform::cacheHome();
    case Root::config:
        return Platform::configHome();
    case Root::data:
        return Platform::dataHome();
    case Root::home:
        return Platform::homeFolder();
    }
    return Platform::homeFolder();
}

// Package caches that live under the XDG cache folder. pypoetry's own folder also holds the user's
// virtual environments, so only its cache is named.
constexpr std::array<std::string_view, 9> xdgPackageCaches{
    "yarn", "deno", "pypoetry/cache", "ms-playwright", "bazel", "pip", "uv", "composer", "go-build"};

// The cache folders inside a Chromium-family profile, and the ones beside the profiles.
constexpr std::array<std::string_view, 7> chromiumProfileCaches{
    "Cache",         "Code Cache", "GPUCache", "DawnCache", "Service Worker/CacheStorage",
    "GrShaderCache", "ShaderCache"};
constexpr std::array<std::string_view, 2> chromiumSharedCaches{"GrShaderCache", "ShaderCache"};

struct Browser {
    std::string_view app;
    std::string_view folder; // the same name under ~/.cache and ~/.config
    std::vector<std::string_view> owners;
};

const std::vector<Browser>& chromiumBrowsers() {
    static const std::vector<Browser> table{
        {"Chrome", "google-chrome", {"chrome", "google-chrome"}},
        {"Chromium", "chromium", {"chromium", "chromium-browser"}},
        {"Brave", "BraveSoftware/Brave-Browser", {"brave", "brave-browser"}},
        {"Edge", "microsoft-edge", {"msedge", "microsoft-edge"}},
        {"Vivaldi", "vivaldi", {"vivaldi", "vivaldi-bin"}},
    };
    return table;
}

// Editors and chat apps built on Electron keep their caches directly in their ~/.config folder, beside
// settings, extensions state and Local Storage, which are never named here.
struct ElectronApp {
    std::string_view app;
    std::string_view folder;
    std::vector<std::string_view> caches;
    std::vector<std::string_view> owners;
};

const std::vector<ElectronApp>& electronApps() {
    static const std::vector<std::string_view> editor{"Cache", "CachedData", "CachedExtensionVSIXs",
                                                      "Code Cache", "GPUCache"};
    static const std::vector<std::string_view> chat{"Cache", "Code Cache", "GPUCache", "DawnCache",
                                                    "Service Worker/CacheStorage"};
    static const std::vector<ElectronApp> table{
        {"VS Code", "Code", editor, {"code"}},
        {"VSCodium", "VSCodium", editor, {"codium", "vscodium"}},
        {"Cursor", "Cursor", editor, {"cursor"}},
        {"Slack", "Slack", chat, {"slack"}},
        {"Discord", "discord", chat, {"Discord", "discord"}},
        {"Teams", "Microsoft/Microsoft Teams", chat, {"teams"}},
        {"Teams", "teams-for-linux", chat, {"teams-for-linux"}},
        {"Signal", "Signal", chat, {"signal-desktop"}},
        {"Element", "Element", chat, {"element-desktop"}},
    };
    return table;
}

// Firefox's profiles keep their network cache under ~/.cache, in the Snap's and the Flatpak's own
// homes for those packagings.
constexpr std::array<std::pair<Root, std::string_view>, 3> firefoxCacheFolders{{
    {Root::cache, "mozilla/firefox"},
    {Root::home, "snap/firefox/common/.cache/mozilla/firefox"},
    {Root::home, ".var/app/org.mozilla.firefox/cache/mozilla/firefox"},
}};
constexpr std::array<std::string_view, 3> firefoxOwners{"firefox", "firefox-bin", "firefox-esr"};

constexpr std::array<std::pair<Root, std::string_view>, 2> steamShaderCaches{{
    {Root::data, "Steam/steamapps/shadercache"},
    {Root::home, ".steam/debian-installation/steamapps/shadercache"},
}};

using Running = std::set<std::string, std::less<>>;

template <typename Names>
std::string ownerIfRunning(std::string_view app, const Names& owners, const Running& running) {
    for (const auto& owner : owners) {
        if (running.contains(owner)) {
            return std::string(app);
        }
    }
    return {};
}

// Adds `relative` under `base` when it is reached through real folders on base's file system.
void addIfReachable(std::vector<Candidate>& out, const std::string& base, std::string_view relative,
                    std::optional<std::string> label, std::string inUseBy) {
    std::string path = Paths::child(base, relative);
    if (Platform::reachableWithin(base, path)) {
        out.push_back({std::move(path), std::move(label), std::move(inUseBy), true});
    }
}

std::string labelled(std::string_view app, std::string_view what) {
    std::string label(app);
    label += " \u00B7 ";
    label += what;
    return label;
}

// "IntelliJIdea2024.1" is product "IntelliJIdea", version {2024, 1}.
struct JetBrainsFolder {
    std::string name;
    std::string product;
    std::vector<int> version;
};

std::optional<JetBrainsFolder> jetBrainsFolder(const std::string& name) {
    const auto digit = name.find_first_of("0123456789");
    if (digit == std::string::npos || digit == 0) {
        return std::nullopt;
    }
    JetBrainsFolder folder{name, name.substr(0, digit), {}};
    int part = 0;
    for (std::size_t i = digit; i < name.size(); ++i) {
        if (name[i] >= '0' && name[i] <= '9') {
            part = part * 10 + (name[i] - '0');
        } else if (name[i] == '.') {
            folder.version.push_back(part);
            part = 0;
        } else {
            return std::nullopt;
        }
    }
    folder.version.push_back(part);
    return folder;
}

// The launcher's name of a JetBrains product ("PyCharmCE" runs as "pycharm").
std::string jetBrainsProcess(std::string product) {
    for (const std::string_view edition : {"CE", "IC", "IU", "PE"}) {
        if (product.size() > edition.size() && product.ends_with(edition)) {
            product.resize(product.size() - edition.size());
        }
    }
    if (product == "IntelliJIdea" || product == "Idea") {
        return "idea";
    }
    std::transform(product.begin(), product.end(), product.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return product;
}

// Every version's cache but the newest of each product, which holds the IDE's local history.
void addJetBrainsCaches(std::vector<Candidate>& out, const Running& running) {
    const std::string cache = Platform::cacheHome();
    const std::string base = Paths::child(cache, "JetBrains");
    std::map<std::string, std::vector<JetBrainsFolder>> byProduct;
    for (const auto& name : subfolders(base)) {
        if (auto folder = jetBrainsFolder(name)) {
            byProduct[folder->product].push_back(std::move(*folder));
        }
    }
    for (auto& [product, folders] : byProduct) {
        std::sort(folders.begin(), folders.end(),
                  [](const JetBrainsFolder& a, const JetBrainsFolder& b) { return a.version < b.version; });
        folders.pop_back();
        const std::string process = jetBrainsProcess(product);
        const std::string inUse = running.contains(process) ? "JetBrains " + product : std::string();
        for (const auto& folder : folders) {
            addIfReachable(out, cache, "JetBrains/" + folder.name, labelled("JetBrains", folder.name), inUse);
        }
    }
}

std::vector<Candidate> linuxAppCaches() {
    const Running running = Platform::runningProgramNames();
    std::vector<Candidate> out;
    const std::string cache = Platform::cacheHome();
    const std::string config = Platform::configHome();
    for (const auto& browser : chromiumBrowsers()) {
        const std::string inUse = ownerIfRunning(browser.app, browser.owners, running);
        addIfReachable(out, cache, browser.folder, labelled(browser.app, "cache"), inUse);
        const std::string profiles = Paths::child(config, browser.folder);
        if (!Platform::reachableWithin(config, profiles)) {
            continue;
        }
        for (const auto shared : chromiumSharedCaches) {
            addIfReachable(out, config, Paths::child(browser.folder, shared), labelled(browser.app, shared),
                           inUse);
        }
        for (const auto& profile : subfolders(profiles)) {
            if (profile != "Default" && !profile.starts_with("Profile ") && profile != "Guest Profile") {
                continue;
            }
            for (const auto sub : chromiumProfileCaches) {
                addIfReachable(out, config, Paths::child(Paths::child(browser.folder, profile), sub),
                               labelled(browser.app, Paths::child(profile, sub)), inUse);
            }
        }
    }
    const std::string firefoxInUse = ownerIfRunning("Firefox", firefoxOwners, running);
    for (const auto& [root, relative] : firefoxCacheFolders) {
        const std::string base = rootPath(root);
        const std::string profiles = Paths::child(base, relative);
        if (!Platform::reachableWithin(base, profiles)) {
            continue;
        }
        for (const auto& profile : subfolders(profiles)) {
            addIfReachable(out, base, Paths::child(Paths::child(relative, profile), "cache2"),
                           labelled("Firefox", profile + "/cache2"), firefoxInUse);
        }
    }
    for (const auto& app : electronApps()) {
        const std::string folder = Paths::child(config, app.folder);
        if (!Platform::reachableWithin(config, folder)) {
            continue;
        }
        const std::string inUse = ownerIfRunning(app.app, app.owners, running);
        for (const auto sub : app.caches) {
            addIfReachable(out, config, Paths::child(app.folder, sub), labelled(app.app, sub), inUse);
        }
    }
    addJetBrainsCaches(out, running);
    const std::string steamInUse = running.contains("steam") ? "Steam" : "";
    for (const auto& [root, relative] : steamShaderCaches) {
        addIfReachable(out, rootPath(root), relative, labelled("Steam", "shadercache"), steamInUse);
    }
    return out;
}

std::vector<Candidate> linuxPackageCaches() {
    std::vector<Candidate> out;
    const std::string cache = Platform::cacheHome();
    // Tools whose caches follow a variable of their own when it names a folder (an absolute path): Go's
    // GOCACHE (the build cache itself, else the XDG cache's go-build), Cargo's CARGO_HOME, Go's
    // GOMODCACHE, else the first folder of GOPATH (the table holds the defaults under the home).
    const auto variableFolder = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (value == nullptr || value[0] != '/') {
            return std::nullopt;
        }
        return Paths::standardized(value);
    };
    const auto addUnder = [&out](const std::string& root, std::string_view sub) {
        const std::string path = Paths::child(root, sub);
        if (Platform::reachableWithin(root, path)) {
            out.push_back({path, std::nullopt, {}, true});
        }
    };
    for (const auto relative : xdgPackageCaches) {
        if (relative == "go-build") {
            if (const auto gocache = variableFolder("GOCACHE")) {
                addUnder(std::string(Paths::parent(*gocache)), Paths::lastComponent(*gocache));
                continue;
            }
        }
        addIfReachable(out, cache, relative, std::nullopt, {});
    }
    if (const auto cargo = variableFolder("CARGO_HOME")) {
        addUnder(*cargo, "registry");
        addUnder(*cargo, "git");
    }
    if (const auto modules = variableFolder("GOMODCACHE")) {
        addUnder(*modules, "cache");
    } else if (const auto gopath = variableFolder("GOPATH")) {
        addUnder(gopath->substr(0, gopath->find(':')), "pkg/mod/cache");
    }
    return out;
}

// Adds each candidate not already present (the XDG folders are often the defaults the table names).
void addNew(std::vector<Candidate>& into, std::vector<Candidate> more) {
    for (auto& candidate : more) {
        if (std::none_of(into.begin(), into.end(),
                         [&](const Candidate& c) { return c.path == candidate.path; })) {
            into.push_back(std::move(candidate));
        }
    }
}

} // namespace

const std::vector<CacheLocation>& PackageCacheScanner::locations() {
    static const std::vector<CacheLocation> table{
        {"npm", {".npm/_cacache"}},
        {"pnpm", {".local/share/pnpm/store", "Library/pnpm/store"}},
        {"Yarn", {"Library/Caches/Yarn", ".yarn/berry/cache"}},
        {"Bun", {".bun/install/cache"}},
        {"pip", {"Library/Caches/pip", ".cache/pip"}},
        {"uv", {".cache/uv"}},
        {"Cargo", {".cargo/registry", ".cargo/git"}},
        {"Go", {"go/pkg/mod/cache", "Library/Caches/go-build"}},
        {"Maven", {".m2/repository"}},
        {"Gradle", {".gradle/caches"}},
        {"CocoaPods", {"Library/Caches/CocoaPods"}},
        {"SwiftPM", {"Library/Caches/org.swift.swiftpm"}},
        {"Homebrew", {"Library/Caches/Homebrew"}},
        {"Conda", {"anaconda3/pkgs", "miniconda3/pkgs", "miniforge3/pkgs"}},
        {"Composer", {".composer/cache", ".cache/composer"}},
        {"NuGet", {".nuget/packages"}},
    };
    return table;
}

const std::vector<AppCacheLocation>& AppCacheScanner::locations() {
    static const std::vector<AppCacheLocation> table{
        {"Chrome",
         "Library/Application Support/Google/Chrome",
         {"Default/Cache", "Default/Code Cache", "Default/GPUCache", "Default/Service Worker/CacheStorage",
          "ShaderCache", "GrShaderCache"}},
        {"Chrome", "Library/Caches/Google/Chrome", {""}},
        {"Brave",
         "Library/Application Support/BraveSoftware/Brave-Browser",
         {"Default/Cache", "Default/Code Cache", "Default/GPUCache"}},
        {"Firefox", "Library/Caches/Firefox", {""}},
        {"Safari", "Library/Caches/com.apple.Safari", {""}},
        {"Slack",
         "Library/Application Support/Slack",
         {"Cache", "Code Cache", "GPUCache", "Service Worker/CacheStorage"}},
        {"VS Code",
         "Library/Application Support/Code",
         {"Cache", "CachedData", "Code Cache", "GPUCache", "CachedExtensionVSIXs"}},
        {"Cursor", "Library/Application Support/Cursor", {"Cache", "CachedData", "Code Cache", "GPUCache"}},
        {"Spotify", "Library/Application Support/Spotify", {"PersistentCache"}},
        {"Discord", "Library/Application Support/discord", {"Cache", "Code Cache", "GPUCache"}},
        {"Teams", "Library/Application Support/Microsoft/Teams", {"Cache", "Code Cache", "GPUCache"}},
        {"JetBrains", "Library/Caches/JetBrains", {""}},
    };
    return table;
}

std::vector<CleanupItem> PackageCacheScanner::scan() const {
    const std::string root = home();
    std::vector<Candidate> candidates;
    for (const auto& cache : locations()) {
        for (const auto& path : cache.paths) {
            std::string candidate = Paths::child(root, path);
            if (Platform::exists(candidate)) {
                // Maven's repository also holds what `mvn install` put there: nothing downloads that again.
                const bool reviewFirst = cache.tool == "Maven";
                candidates.push_back({std::move(candidate),
                                      reviewFirst ? std::optional<std::string>("Maven repository (holds your "
                                                                               "installed artifacts)")
                                                  : std::nullopt,
                                      {},
                                      !reviewFirst});
            }
        }
    }
    addNew(candidates, linuxPackageCaches());
    return measured(candidates, floorBytes);
}

std::vector<CleanupItem> AppCacheScanner::scan() const {
    const std::string root = home();
    std::vector<Candidate> candidates;
    for (const auto& location : locations()) {
        const std::string base = Paths::child(root, location.profile);
        if (!Platform::exists(base)) {
            continue;
        }
        for (const auto& subpath : location.subpaths) {
            std::string candidate = subpath.empty() ? base : Paths::child(base, subpath);
            if (Platform::exists(candidate)) {
                candidates.push_back({std::move(candidate), std::nullopt, {}, true});
            }
        }
    }
    addNew(candidates, linuxAppCaches());
    return measured(candidates, floorBytes);
}

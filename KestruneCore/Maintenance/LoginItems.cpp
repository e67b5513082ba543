// Linux: XDG autostart (the freedesktop autostart folders and keys) and systemd user services
// (unit folders in systemd's own order, *.wants links naming what starts). The launchd folders are
// read as well, so that a home carried over from a Mac shows its agents.
#include "KestruneCore/Maintenance/LoginItems.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Model/TextFolding.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/DesktopEntries.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/Process.h"
#include "KestruneCore/Platform/PropertyList.h"
#include "KestruneCore/Platform/RegularFile.h"
#include "KestruneCore/Platform/SystemFolder.h"
#include "KestruneCore/Platform/Trash.h"
#include "KestruneCore/Platform/UserFolders.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

namespace {

using Kind = BackgroundItem::Kind;
using Program = BackgroundItem::Program;

// Unit and entry files are small; a larger file is not read (a FIFO or a device never blocks us).
constexpr std::streamsize maximumBytes = 1 << 20;

std::string trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::optional<std::string> readSmallFile(const std::string& path) {
    const Platform::RegularFile file(path, Platform::RegularFile::Links::followed);
    const std::int64_t length = file.length();
    if (!file.valid() || length > static_cast<std::int64_t>(maximumBytes)) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    const std::int64_t got = file.readAt(text.data(), text.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

// For a link whose target is not there: its program is the target, missing when certainly gone, else
// unknown; true then. False (and nothing set) when the target is there.
bool markDangling(BackgroundItem& item, const std::string& path) {
    const auto presence = Platform::presenceOf(path);
    if (presence == Platform::Presence::present) {
        return false;
    }
    item.program = Platform::linkTarget(path);
    item.programState = presence == Platform::Presence::missing ? Program::missing : Program::unknown;
    return true;
}

std::string stem(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Words after "env": its options and VAR=value assignments are not the program.
std::string programAfterEnv(const std::vector<std::string>& words) {
    std::size_t i = 0;
    if (i < words.size() && baseName(words[i]) == "env") {
        ++i;
        while (i < words.size()) {
            const std::string& w = words[i];
            if (w == "-u" || w == "--unset" || w == "-C" || w == "--chdir") {
                i += 2;
            } else if (w.starts_with('-') || w.find('=') != std::string::npos) {
                ++i;
            } else {
                break;
            }
        }
    }
    return i < words.size() ? words[i] : std::string();
}

// systemd's splitting of a command line: blanks separate words; double and single quotes group them;
// backslash escapes as in C.
std::vector<std::string> systemdWords(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            switch (next) {
            case 'n':
                word.push_back('\n');
                break;
            case 't':
                word.push_back('\t');
                break;
            case 's':
                word.push_back(' ');
                break;
            default:
                word.push_back(next);
            }
            inWord = true;
        } else if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word.push_back(c);
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                out.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) {
        out.push_back(std::move(word));
    }
    return out;
}

// The keys of one group of an ini-style file (desktop entries, unit files), every value of a key in
// file order. Comments and other groups are skipped; a unit file's trailing backslash continues the line.
std::multimap<std::string, std::string> group(const std::string& text, std::string_view name) {
    std::multimap<std::string, std::string> keys;
    bool inGroup = false;
    std::size_t start = 0;
    std::string pending;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = pending + text.substr(start, end - start);
        start = end + 1;
        pending.clear();
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string t = trimmed(line);
        if (t.empty() || t.front() == '#' || t.front() == ';') {
            continue;
        }
        if (t.front() == '[') {
            inGroup = t == "[" + std::string(name) + "]";
            continue;
        }
        if (inGroup && t.back() == '\\' && name != "Desktop Entry") {
            pending = t.substr(0, t.size() - 1) + " ";
            continue;
        }
        const auto equals = t.find('=');
        if (!inGroup || equals == std::string::npos) {
            continue;
        }
        keys.emplace(trimmed(std::string_view(t).substr(0, equals)),
                     trimmed(std::string_view(t).substr(equals + 1)));
    }
    return keys;
}

std::optional<std::string> first(const std::multimap<std::string, std::string>& keys,
                                 const std::string& key) {
    const auto it = keys.find(key);
    return it == keys.end() ? std::nullopt : std::optional(it->second);
}

void setProgram(BackgroundItem& item, const std::string& program) {
    item.program = program;
    std::string resolved;
    item.programState = LoginItems::check(program, &resolved);
    if (!resolved.empty()) {
        item.program = resolved;
    }
}

BackgroundItem autostartItem(const std::string& path, const std::string& name, bool user) {
    BackgroundItem item;
    item.label = stem(name);
    item.path = path;
    item.kind = Kind::autostart;
    item.isUserWritable = user;
    const auto text = readSmallFile(path);
    if (!text) {
        // A dangling link is an entry whose file is gone; anything else we cannot read is not judged.
        if (Platform::kindOf(path) == Platform::FileKind::link) {
            markDangling(item, path);
        }
        return item;
    }
    const auto keys = group(*text, "Desktop Entry");
    item.disabled = first(keys, "Hidden") == "true" || first(keys, "X-GNOME-Autostart-enabled") == "false";
    if (const auto exec = first(keys, "Exec")) {
        setProgram(item, LoginItems::execProgram(*exec));
    }
    return item;
}

BackgroundItem serviceItem(const std::string& path, const std::string& name, bool user,
                           const std::vector<std::string>& dropIns = {}) {
    BackgroundItem item;
    item.label = stem(name);
    item.path = path;
    item.kind = Kind::userService;
    item.isUserWritable = user;
    if (Platform::kindOf(path) == Platform::FileKind::link) {
        if (Platform::linkTarget(path) == "/dev/null") {
            item.disabled = true; // masked
            return item;
        }
        if (markDangling(item, path)) {
            return item;
        }
    }
    const auto text = readSmallFile(path);
    if (!text) {
        return item;
    }
    // The unit, then its drop-ins in order: the last empty ExecStart= clears the ones before it; the
    // first after that is what starts.
    std::string execStart;
    const auto apply = [&execStart](const std::string& unitText) {
        const auto keys = group(unitText, "Service");
        const auto [begin, end] = keys.equal_range("ExecStart");
        for (auto it = begin; it != end; ++it) {
            if (it->second.empty()) {
                execStart.clear();
            } else if (execStart.empty()) {
                execStart = it->second;
            }
        }
    };
    apply(*text);
    for (const auto& dropIn : dropIns) {
        if (const auto more = readSmallFile(dropIn)) {
            apply(*more);
        }
    }
    if (!execStart.empty()) {
        setProgram(item, LoginItems::execStartProgram(execStart, Platform::homeFolder()));
    }
    return item;
}

BackgroundItem launchdItem(const std::string& path, const std::string& name, Kind kind, bool user) {
    BackgroundItem item;
    item.label = stem(name);
    item.path = path;
    item.kind = kind;
    item.isUserWritable = user;
    const auto plist = PropertyList::readDictionary(path);
    if (!plist) {
        return item;
    }
    std::string program = plist->string("Program").value_or("");
    if (program.empty()) {
        const auto arguments = plist->stringArray("ProgramArguments");
        if (arguments && !arguments->empty()) {
            program = arguments->front();
        }
    }
    if (program.starts_with('~')) {
        program = Platform::homeFolder() + program.substr(1);
    }
    if (!program.empty()) {
        setProgram(item, program);
    }
    return item;
}

bool visible(const BulkEntry& entry) {
    return !entry.name.empty() && entry.name.front() != '.';
}

void readAutostart(const std::string& folder, bool user, std::vector<BackgroundItem>& items) {
    for (const auto& entry : BulkDir::read(folder)) {
        if (visible(entry) && !entry.isDirectory && entry.name.ends_with(".desktop")) {
            items.push_back(autostartItem(Paths::child(folder, entry.name), entry.name, user));
        }
    }
}

std::vector<std::string> configDirs() {
    const char* value = std::getenv("XDG_CONFIG_DIRS");
    std::string dirs = value && *value ? value : Platform::systemFolder("/etc/xdg");
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const auto colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (dir.starts_with('/')) {
            out.push_back(Paths::standardized(dir));
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return out;
}

// The service name a template instance is started from: foo@bar.service runs foo@.service.
std::string templateOf(const std::string& unit) {
    const auto at = unit.find('@');
    const auto dot = unit.rfind('.');
    if (at == std::string::npos || dot == std::string::npos || dot < at) {
        return unit;
    }
    return unit.substr(0, at + 1) + unit.substr(dot);
}

struct UnitFolder {
    std::string path;
    bool user;
};

// The drop-in files of a service (NAME.service.d/*.conf, and foo@.service.d/ for an instance of
// foo@.service) in the order systemd reads them: by file name, a name in the instance's folder or in an
// earlier unit folder hiding the same name elsewhere.
std::vector<std::string> dropInsOf(const std::vector<UnitFolder>& folders, const std::string& unit) {
    std::map<std::string, std::string> byName;
    std::vector<std::string> names{unit};
    if (templateOf(unit) != unit) {
        names.push_back(templateOf(unit)); // the instance's own drop-ins come first
    }
    for (const auto& name : names) {
        for (const auto& folder : folders) {
            const std::string dir = Paths::child(folder.path, name + ".d");
            for (const auto& entry : BulkDir::read(dir)) {
                if (visible(entry) && !entry.isDirectory && entry.name.ends_with(".conf")) {
                    byName.emplace(entry.name, Paths::child(dir, entry.name));
                }
            }
        }
    }
    std::vector<std::string> paths;
    for (auto& [name, path] : byName) {
        paths.push_back(std::move(path));
    }
    return paths;
}

void readServices(std::vector<BackgroundItem>& items) {
    const std::vector<UnitFolder> folders = {{Paths::child(Platform::configHome(), "systemd/user"), true},
                                             {Platform::systemFolder("/etc/systemd/user"), false},
                                             {Platform::systemFolder("/usr/lib/systemd/user"), false}};
    // What some *.wants or *.requires folder links to: these start with the session. A link left
    // dangling in the user's own folder is an item of its own, broken.
    std::set<std::string> wanted;
    for (const auto& folder : folders) {
        for (const auto& sub : BulkDir::read(folder.path)) {
            if (!sub.isDirectory || !(sub.name.ends_with(".wants") || sub.name.ends_with(".requires"))) {
                continue;
            }
            const std::string dir = Paths::child(folder.path, sub.name);
            for (const auto& link : BulkDir::read(dir)) {
                if (!visible(link) || !link.name.ends_with(".service")) {
                    continue;
                }
                wanted.insert(link.name);
                wanted.insert(templateOf(link.name));
                const std::string path = Paths::child(dir, link.name);
                if (folder.user && link.isSymlink &&
                    Platform::presenceOf(path) != Platform::Presence::present) {
                    items.push_back(serviceItem(path, link.name, true));
                }
            }
        }
    }
    for (const auto& folder : folders) {
        for (const auto& entry : BulkDir::read(folder.path)) {
            if (!visible(entry) || entry.isDirectory || !entry.name.ends_with(".service")) {
                continue;
            }
            if (folder.user || wanted.contains(entry.name)) {
                items.push_back(serviceItem(Paths::child(folder.path, entry.name), entry.name, folder.user,
                                            dropInsOf(folders, entry.name)));
            }
        }
    }
}

void readLaunchd(std::vector<BackgroundItem>& items) {
    struct Folder {
        std::string path;
        Kind kind;
        bool user;
    };
    const Folder folders[] = {
        {Paths::child(Platform::homeFolder(), "Library/LaunchAgents"), Kind::launchAgent, true},
        {Platform::systemFolder("/Library/LaunchAgents"), Kind::launchAgent, false},
        {Platform::systemFolder("/Library/LaunchDaemons"), Kind::launchDaemon, false}};
    for (const auto& folder : folders) {
        for (const auto& entry : BulkDir::read(folder.path)) {
            if (visible(entry) && !entry.isDirectory && entry.name.ends_with(".plist")) {
                items.push_back(
                    launchdItem(Paths::child(folder.path, entry.name), entry.name, folder.kind, folder.user));
            }
        }
    }
}

// A path below the places removable and network volumes are mounted, whose nearest existing folder
// is still on the root file system: the volume that would hold it is not mounted.
bool onUnmountedVolume(const std::string& path) {
    static const std::string roots[] = {"/media/", "/run/media/", "/mnt/"};
    if (std::none_of(std::begin(roots), std::end(roots),
                     [&](const auto& r) { return path.starts_with(r); })) {
        return false;
    }
    std::string existing = path;
    while (existing.size() > 1) {
        existing = std::string(Paths::parent(existing));
        if (Platform::exists(existing, Platform::Links::notFollowed)) {
            break;
        }
    }
    const auto root = Platform::fileSystemOf("/", Platform::Links::followed);
    const auto nearest = Platform::fileSystemOf(existing);
    return root && nearest && *root == *nearest;
}

} // namespace

std::string BackgroundItem::scope() const {
    switch (kind) {
    case Kind::autostart:
        return "Autostart entry";
    case Kind::userService:
        return "User service";
    case Kind::launchAgent:
        return "Launch agent";
    case Kind::launchDaemon:
        return "Launch daemon";
    }
    return "";
}

namespace LoginItems {

std::string execProgram(const std::string& exec) {
    return programAfterEnv(Platform::execWords(exec));
}

std::string execStartProgram(const std::string& execStart, const std::string& home) {
    std::string program = programAfterEnv([&] {
        auto words = systemdWords(execStart);
        if (!words.empty()) {
            // Prefixes that change how systemd runs the command, not what it runs.
            const auto prefix = words.front().find_first_not_of("@-:+!");
            words.front().erase(0, prefix == std::string::npos ? words.front().size() : prefix);
            if (words.front().empty()) {
                words.erase(words.begin());
            }
        }
        return words;
    }());
    std::string out;
    for (std::size_t i = 0; i < program.size(); ++i) {
        if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == 'h') {
            out += home;
            ++i;
        } else if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '%') {
            out += "%%"; // kept escaped, so that check() cannot mistake it for an unresolved specifier
            ++i;
        } else {
            out.push_back(program[i]);
        }
    }
    return out;
}

Program check(const std::string& program, std::string* resolved) {
    if (program.empty()) {
        return Program::none;
    }
    // Another specifier (%t, %U, ...) depends on the running manager: not checkable here.
    for (std::size_t i = 0; i < program.size(); ++i) {
        if (program[i] == '%') {
            if (i + 1 < program.size() && program[i + 1] == '%') {
                ++i;
                continue;
            }
            return Program::unknown;
        }
    }
    std::string path;
    for (std::size_t i = 0; i < program.size(); ++i) {
        path.push_back(program[i]);
        if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '%') {
            ++i;
        }
    }
    if (path.find('/') == std::string::npos) {
        const std::string found = Process::find(path);
        if (resolved) {
            *resolved = found;
        }
        return found.empty() ? Program::missing : Program::found;
    }
    if (!path.starts_with('/')) {
        return Program::unknown;
    }
    if (resolved) {
        *resolved = path;
    }
    switch (Platform::presenceOf(path)) {
    case Platform::Presence::present:
        return Program::found;
    case Platform::Presence::missing:
        return onUnmountedVolume(path) ? Program::unknown : Program::missing;
    case Platform::Presence::unknown:
        break;
    }
    return Program::unknown;
}

std::vector<BackgroundItem> all() {
    std::vector<BackgroundItem> items;
    readAutostart(Paths::child(Platform::configHome(), "autostart"), true, items);
    for (const auto& dir : configDirs()) {
        readAutostart(Paths::child(dir, "autostart"), false, items);
    }
    readServices(items);
    readLaunchd(items);
    std::stable_sort(items.begin(), items.end(), [](const BackgroundItem& a, const BackgroundItem& b) {
        return TextFolding::folded(a.label) < TextFolding::folded(b.label);
    });
    return items;
}

std::optional<BackgroundItem> find(const std::string& path) {
    for (auto& item : all()) {
        if (item.path == path) {
            return item;
        }
    }
    return std::nullopt;
}

std::optional<std::string> remove(const BackgroundItem& item) {
    const auto now = find(item.path);
    if (!now) {
        return item.label + " is no longer there.";
    }
    if (!now->isUserWritable) {
        return item.label + " belongs to the system and can't be removed.";
    }
    if (!now->isBroken()) {
        return item.label + " is not broken: its program is there or can't be checked.";
    }
    const auto moved = Trash::moveToTrash(now->path);
    if (!moved.ok) {
        return moved.reason;
    }
    return std::nullopt;
}

} // namespace LoginItems

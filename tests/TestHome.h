// The one shared test helper: a real temporary home folder with files of exact allocated sizes, and
// real child processes (optionally without root's permission overrides).
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace TestTree {

// A fresh folder under the system's temporary folder; HOME and the XDG folders point into it while the
// object lives, and the tree is removed afterwards (read-only folders included). The system root, PATH and
// the locale variables a test may change get their old values back then too.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    [[nodiscard]] const std::string& path() const { return root; }
    // home + "/" + relative
    [[nodiscard]] std::string operator/(const std::string& relative) const;

private:
    std::string root;
    std::map<std::string, std::optional<std::string>> savedEnvironment;
};

// Creates parent folders as needed. The file gets `allocatedBytes` rounded up to whole blocks through
// fallocate, so that its measured size is exact and nothing is written.
std::string makeFile(const std::string& path, std::int64_t allocatedBytes = 0);
// A file with these contents.
std::string writeFile(const std::string& path, const std::string& contents);
std::string makeFolder(const std::string& path);
void setModified(const std::string& path, std::chrono::system_clock::time_point when);
[[nodiscard]] std::string readFile(const std::string& path);

// One entry of a tree `build` makes: a file of so many bytes allocated (as makeFile) or with this text;
// a folder when the path ends in "/"; a symbolic link to `link` (as written) when that is set. A file or
// folder is dated `days` ago when that is not negative.
struct Entry {
    std::string path;
    std::variant<std::int64_t, std::string> contents = std::int64_t{0};
    int days = -1;
    std::string link = {};
};
// Makes every entry below `root`, in order; paths are relative to it. Returns `root`.
std::string build(const std::string& root, const std::vector<Entry>& entries);
// A table path written "item|rest" as {the file, the item}: the item is the part before "|", the
// whole path without one.
[[nodiscard]] std::pair<std::string, std::string> fileAndItem(const std::string& path);
// `days` days before now.
[[nodiscard]] std::chrono::system_clock::time_point daysAgo(int days);
// An XML property list whose top dictionary holds `entries` ("<key>...</key><string>...</string>...").
[[nodiscard]] std::string xmlPlist(const std::string& entries);
// An application bundle `folder`/`name`.app with a real XML Info.plist; no identifier when it is empty.
std::string installApp(const std::string& folder, const std::string& name, const std::string& identifier);

// Allocated bytes as the kernel reports them (blocks x 512), 0 when missing.
[[nodiscard]] std::int64_t allocated(const std::string& path);
// Sum of allocated bytes of every regular file under `path`, independent of the code under test (nftw).
[[nodiscard]] std::int64_t allocatedTree(const std::string& path);
// Content hash of every file and link under `path`, keyed by relative path: for "untouched" checks.
[[nodiscard]] std::map<std::string, std::string> snapshot(const std::string& path);

[[nodiscard]] bool exists(const std::string& path);

// The paths of scan results, for order-free comparison.
[[nodiscard]] std::set<std::string> urls(const std::vector<CleanupItem>& items);

// The file system's allocation unit under the home: no file can occupy exactly a floor such as
// 1,000,000 bytes on disk, so floors are probed with the nearest whole-block allocations either side.
[[nodiscard]] std::int64_t block(const TemporaryHome& home);
[[nodiscard]] constexpr std::int64_t below(std::int64_t floor, std::int64_t block) {
    return (floor - 1) / block * block;
}
[[nodiscard]] constexpr std::int64_t atOrAbove(std::int64_t floor, std::int64_t block) {
    return (floor + block - 1) / block * block;
}

struct ProcessResult {
    int status = -1;    // exit status, or 128 + signal
    std::string output; // standard output and error together
};

enum class Privilege { inherited, unprivileged };

// Runs argv[0] with the rest as arguments, no shell. `unprivileged` runs it as user "nobody" when the
// test runs as root, so that permission bits really stop it.
ProcessResult run(const std::vector<std::string>& argv, Privilege privilege = Privilege::inherited,
                  const std::map<std::string, std::string>& environment = {});

// A child process left running: its standard output and error arrive on `output`.
struct Spawned {
    int pid = -1;
    int output = -1;
    std::string received; // read by awaitOutput, handed back by finish
};
Spawned start(const std::vector<std::string>& argv);
// Reads the child's output until it contains `text`; false when the child closed it first.
bool awaitOutput(Spawned& child, const std::string& text);
// Sends `signal` (0 for none), waits for the child and returns what it printed.
ProcessResult finish(Spawned& child, int signal);

// A copy of sleep running as `folder`/`name`, so that /proc shows a program of that name (command name and
// executable) until the object goes; `started` is false when it never became that program.
class RunningProgram {
public:
    RunningProgram(const std::string& folder, const std::string& name);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    bool started = false;

private:
    Spawned child;
};

// Hands the tree to the user Privilege::unprivileged runs as (a no-op unless the tests run as root).
void giveToUnprivileged(const std::string& path);

// Path of the kestrune-cli built beside the tests.
[[nodiscard]] std::string cliPath();

} // namespace TestTree

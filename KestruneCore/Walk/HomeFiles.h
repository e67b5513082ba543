// The large files of the home folder, listed once per scan for the scanners that look for them (large
// and old files, duplicates): both walk the same folders by the same rules, so one walk serves both.
// Any thread.
#pragma once

#include "KestruneCore/Model/Dates.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

struct HomeFile {
    std::string path;
    std::int64_t allocSize = 0;
    Date modified;
    Date accessed;
    std::uint64_t fsid = 0;
    std::uint64_t inode = 0;
    std::uint32_t links = 1;
    bool inPublic = false; // below a folder named "Public", at any depth
};

namespace HomeFiles {

inline constexpr std::int64_t minimumBytes = 1'000'000;
inline constexpr int depthLimit = 6;

// Folder names never walked, at any depth (exact, case-sensitive); "Public" is walked and marked.
[[nodiscard]] const std::unordered_set<std::string>& excluded();

// Every file of at least minimumBytes allocated below `home`, down to depthLimit folders, in walk order
// (depth first, each folder in the file system's order), leaving out names that start with a dot,
// symbolic links and the excluded folders. While a Session lives, the first call for a home walks it and
// every later call for it gets the same list; otherwise each call walks.
[[nodiscard]] std::shared_ptr<const std::vector<HomeFile>> of(const std::string& home);

// One scan's sharing of the walk: the lists are forgotten when the last Session goes.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// How many walks of(…) made since the program started (for tests of the sharing).
[[nodiscard]] int walksMade();

} // namespace HomeFiles

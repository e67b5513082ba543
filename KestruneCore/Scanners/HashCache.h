// Digests and image hashes of files from earlier scans, so that an unchanged file is never read twice.
// One SQLite file in $XDG_CACHE_HOME/kestrune (WAL mode): lookups go through one prepared statement under
// a mutex, and what a scan learnt is written in one transaction when its scanner ends, so each process is
// one writer and a second process at the same time waits for it. A value is used only while the file's
// device, inode, size, modification time and change time (nanoseconds) are all as they were; the cache
// can make a scan faster, never change what it finds. Any thread.
#pragma once

#include "KestruneCore/Platform/FileKey.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class HashCache {
public:
    // The kinds of value kept. Each has a version: values written by another version of its hash are
    // ignored (and dropped when the cache opens).
    enum class Kind : int { headTail = 0, full = 1, imageHash = 2 };
    static constexpr int kindCount = 3;

    // Rows kept at most; beyond it the ones used longest ago go. At about 200 bytes a row the file stays
    // under 40 MB.
    static constexpr std::int64_t maximumEntries = 200'000;

    // Opens (or creates) the cache file. A file that is not a readable cache of ours is set aside as
    // FILE.corrupt and a fresh one made; nothing when no cache can be made at all (then every lookup
    // misses and nothing is stored).
    [[nodiscard]] static std::unique_ptr<HashCache> openFile(const std::string& file);
    // $XDG_CACHE_HOME/kestrune/hashes.sqlite
    [[nodiscard]] static std::string defaultFile();

    // The process's cache, opened on first use from defaultFile() (again when that moves); null while
    // disabled or when no cache can be made.
    [[nodiscard]] static std::shared_ptr<HashCache> shared();
    // Switches the process's cache off (kestrune-cli scan --no-cache) or on again, closing it.
    static void setEnabled(bool enabled);

    ~HashCache();
    HashCache(const HashCache&) = delete;
    HashCache& operator=(const HashCache&) = delete;

    // The stored value for the file in the state `key`, or nothing (a miss, counted).
    [[nodiscard]] std::optional<std::string> lookup(Kind kind, const FileKey& key);
    // The cached value of the regular file at `path`, else compute()'s (nothing: the file could not be
    // read), remembered when the file stayed in one state while it ran and that state is older than the
    // clock's coarsest tick (a file written in the same tick could change again unseen). Without a cache
    // (null) only compute().
    [[nodiscard]] static std::optional<std::string>
    through(HashCache* cache, Kind kind, const std::string& path,
            const std::function<std::optional<std::string>()>& compute);
    // Remembers `value` for the file at `path` when it is still in the state `before` (taken before its
    // contents were read) and that state is older than the clock's coarsest tick. No-op without a cache.
    static void keep(HashCache* cache, Kind kind, const std::string& path, const FileKey& before,
                     std::string value);
    // Remembers a value until flush() writes it.
    void store(Kind kind, const std::string& path, const FileKey& key, std::string value);
    // Writes what was stored and marks what was looked up as used, in one transaction; then drops the
    // rows of `kinds` that this process did not use and whose file is gone or is another file now, and
    // the oldest rows beyond maximumEntries. Failures leave the cache as it was.
    void flush(const std::vector<Kind>& kinds);

    struct Counts {
        std::int64_t hits = 0;
        std::int64_t misses = 0;
    };
    // Since this object opened (or resetCounts).
    [[nodiscard]] Counts counts(Kind kind) const;
    void resetCounts();
    // Rows in the file.
    [[nodiscard]] std::int64_t entries();

private:
    explicit HashCache(std::string file);
    bool start(); // opens the file and readies it; false when it is not a cache of ours
    void close();
    void setAsideAndRestart(); // with the mutex held, after SQLite found the file damaged

    struct Pending {
        Kind kind;
        std::string path;
        FileKey key;
        std::string value;
    };

    std::mutex mutex;
    sqlite3* db = nullptr;
    std::string file;
    sqlite3_stmt* select = nullptr;
    std::vector<Pending> pending;
    std::vector<std::pair<Kind, FileKey>> used;
    std::int64_t run = 0; // this process's use stamp: seconds since the epoch at opening
    std::array<std::atomic<std::int64_t>, kindCount> hits{};
    std::array<std::atomic<std::int64_t>, kindCount> misses{};
};

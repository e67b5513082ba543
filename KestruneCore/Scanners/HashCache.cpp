// Schema: entries(kind, device, inode) -> (size, mtime, ctime, path, value, used) without row ids, and
// meta(kind -> version of its hash). application_id marks the file as ours, user_version its layout.
#include "KestruneCore/Scanners/HashCache.h"

#include "KestruneCore/Platform/UserFolders.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>

namespace {

constexpr int applicationId = 0x4b535452; // "KSTR"
constexpr int layoutVersion = 1;
// The version of each kind's hash; raise one when its bytes change, and the old values are dropped.
constexpr std::array<int, HashCache::kindCount> hashVersions{1, 1, 1};

// A check over a row's key and value, so that a damaged row that SQLite cannot notice (its pages still
// well formed) is never taken for a digest: FNV-1a, 64 bits.
std::int64_t rowCheck(HashCache::Kind kind, const FileKey& key, const char* value, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&](const void* data, std::size_t length) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < length; ++i) {
            hash = (hash ^ bytes[i]) * 1099511628211ULL;
        }
    };
    const auto k = static_cast<int>(kind);
    mix(&k, sizeof k);
    mix(&key.device, sizeof key.device);
    mix(&key.inode, sizeof key.inode);
    mix(&key.size, sizeof key.size);
    mix(&key.modifiedNs, sizeof key.modifiedNs);
    mix(&key.changedNs, sizeof key.changedNs);
    mix(value, size);
    return static_cast<std::int64_t>(hash);
}

bool damaged(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR ||
           primary == SQLITE_CANTOPEN || primary == SQLITE_FORMAT;
}

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Runs SQL without results; the SQLite code.
int exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

std::int64_t single(sqlite3* db, const char* sql, int* code = nullptr) {
    sqlite3_stmt* statement = nullptr;
    std::int64_t value = -1;
    int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) {
            value = sqlite3_column_int64(statement, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    if (code != nullptr) {
        *code = rc;
    }
    return value;
}

void bindKey(sqlite3_stmt* statement, HashCache::Kind kind, const FileKey& key) {
    sqlite3_bind_int(statement, 1, static_cast<int>(kind));
    sqlite3_bind_int64(statement, 2, static_cast<sqlite3_int64>(key.device));
    sqlite3_bind_int64(statement, 3, static_cast<sqlite3_int64>(key.inode));
}

std::mutex sharedMutex;
bool sharedEnabled = true;
std::shared_ptr<HashCache> sharedCache;

} // namespace

std::string HashCache::defaultFile() {
    return Platform::cacheHome() + "/kestrune/hashes.sqlite";
}

std::shared_ptr<HashCache> HashCache::shared() {
    const std::lock_guard lock(sharedMutex);
    if (!sharedEnabled) {
        return nullptr;
    }
    const std::string file = defaultFile();
    if (!sharedCache || sharedCache->file != file) {
        sharedCache = HashCache::openFile(file);
    }
    return sharedCache;
}

void HashCache::setEnabled(bool enabled) {
    const std::lock_guard lock(sharedMutex);
    sharedEnabled = enabled;
    sharedCache.reset();
}

std::unique_ptr<HashCache> HashCache::openFile(const std::string& file) {
    if (const auto slash = file.rfind('/'); slash != std::string::npos && slash > 0) {
        Platform::makePrivateFolders(file.substr(0, slash));
    }
    std::unique_ptr<HashCache> cache(new HashCache(file));
    const std::lock_guard lock(cache->mutex);
    if (!cache->start()) {
        cache->setAsideAndRestart();
    }
    if (cache->db == nullptr) {
        return nullptr;
    }
    return cache;
}

HashCache::HashCache(std::string file) : file(std::move(file)), run(nowNs()) {}

HashCache::~HashCache() {
    close();
}

void HashCache::close() {
    sqlite3_finalize(select);
    select = nullptr;
    if (db != nullptr) {
        sqlite3_close_v2(db);
        db = nullptr;
    }
}

bool HashCache::start() {
    // The file lists the user's paths: readable by the user alone, as are the journal files SQLite makes
    // beside it with the same permissions.
    Platform::createPrivateFile(file);
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(db, 10'000); // a scan in another process may be writing
    int rc = SQLITE_OK;
    const std::int64_t id = single(db, "PRAGMA application_id", &rc);
    const std::int64_t layout = single(db, "PRAGMA user_version", &rc);
    const std::int64_t tables = rc == SQLITE_OK ? single(db, "SELECT count(*) FROM sqlite_master", &rc) : -1;
    // A file damaged anywhere is not trusted at all: checked whole at each opening, which the bound on
    // its size keeps short.
    sqlite3_stmt* check = nullptr;
    bool intact = false;
    if (rc == SQLITE_OK && sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr) == SQLITE_OK &&
        sqlite3_step(check) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        intact = text != nullptr && std::string_view(text) == "ok";
    }
    sqlite3_finalize(check);
    if (rc != SQLITE_OK || !intact || (tables > 0 && (id != applicationId || layout != layoutVersion))) {
        close(); // not a cache of ours, or one laid out otherwise: set aside and made anew
        return false;
    }
    if (exec(db, "PRAGMA journal_mode=WAL") != SQLITE_OK ||
        exec(db, "PRAGMA synchronous=NORMAL") != SQLITE_OK) {
        close();
        return false;
    }
    const std::string schema =
        "BEGIN IMMEDIATE;"
        "CREATE TABLE IF NOT EXISTS meta(kind INTEGER PRIMARY KEY, version INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS entries(kind INTEGER NOT NULL, device INTEGER NOT NULL, inode INTEGER "
        "NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL, ctime INTEGER NOT NULL, path BLOB NOT "
        "NULL, "
        "value BLOB NOT NULL, used INTEGER NOT NULL, checksum INTEGER NOT NULL, PRIMARY KEY(kind, device, "
        "inode)) WITHOUT ROWID;"
        "CREATE INDEX IF NOT EXISTS entries_used ON entries(used);"
        "PRAGMA application_id=" +
        std::to_string(applicationId) + ";PRAGMA user_version=" + std::to_string(layoutVersion) + ";";
    std::string versions;
    for (int kind = 0; kind < kindCount; ++kind) {
        const std::string k = std::to_string(kind);
        const std::string v = std::to_string(hashVersions[static_cast<std::size_t>(kind)]);
        // Values of another version of the hash are never used: dropped here.
        versions += "DELETE FROM entries WHERE kind=" + k + " AND EXISTS(SELECT 1 FROM meta WHERE kind=" + k +
                    " AND version<>" + v + ");INSERT OR REPLACE INTO meta VALUES(" + k + "," + v + ");";
    }
    if (exec(db, (schema + versions + "COMMIT;").c_str()) != SQLITE_OK) {
        exec(db, "ROLLBACK");
        close();
        return false;
    }
    if (sqlite3_prepare_v3(
            db,
            "SELECT size, mtime, ctime, value, checksum FROM entries WHERE kind=? AND device=? AND inode=?",
            -1, SQLITE_PREPARE_PERSISTENT, &select, nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    return true;
}

void HashCache::setAsideAndRestart() {
    close();
    std::rename(file.c_str(), (file + ".corrupt").c_str());
    for (const char* suffix : {"-wal", "-shm"}) {
        Platform::discardOwnFile(file + suffix);
    }
    if (!start()) {
        close(); // no cache this time: every lookup misses
    }
}

std::optional<std::string> HashCache::lookup(Kind kind, const FileKey& key) {
    const auto k = static_cast<std::size_t>(kind);
    std::optional<std::string> found;
    {
        const std::lock_guard lock(mutex);
        if (db != nullptr) {
            bindKey(select, kind, key);
            int rc = sqlite3_step(select);
            if (rc == SQLITE_ROW && sqlite3_column_int64(select, 0) == key.size &&
                sqlite3_column_int64(select, 1) == key.modifiedNs &&
                sqlite3_column_int64(select, 2) == key.changedNs) {
                const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select, 3));
                const auto size = static_cast<std::size_t>(sqlite3_column_bytes(select, 3));
                if (rowCheck(kind, key, bytes, size) == sqlite3_column_int64(select, 4)) {
                    found.emplace(bytes == nullptr ? "" : std::string(bytes, size));
                    used.emplace_back(kind, key);
                } else {
                    rc = SQLITE_CORRUPT;
                }
            }
            sqlite3_reset(select);
            if (damaged(rc)) {
                setAsideAndRestart();
            }
        }
    }
    (found ? hits : misses)[k].fetch_add(1, std::memory_order_relaxed);
    return found;
}

std::optional<std::string> HashCache::through(HashCache* cache, Kind kind, const std::string& path,
                                              const std::function<std::optional<std::string>()>& compute) {
    if (cache == nullptr) {
        return compute();
    }
    const auto before = FileKey::of(path);
    if (before) {
        if (auto value = cache->lookup(kind, *before)) {
            return value;
        }
    }
    auto value = compute();
    if (value && before) {
        keep(cache, kind, path, *before, *value);
    }
    return value;
}

void HashCache::keep(HashCache* cache, Kind kind, const std::string& path, const FileKey& before,
                     std::string value) {
    constexpr std::int64_t settledNs = 50'000'000;
    if (cache != nullptr && FileKey::of(path) == before && nowNs() - before.changedNs > settledNs) {
        cache->store(kind, path, before, std::move(value));
    }
}

void HashCache::store(Kind kind, const std::string& path, const FileKey& key, std::string value) {
    const std::lock_guard lock(mutex);
    pending.push_back(Pending{kind, path, key, std::move(value)});
}

void HashCache::flush(const std::vector<Kind>& kinds) {
    const std::lock_guard lock(mutex);
    if (db == nullptr) {
        pending.clear();
        used.clear();
        return;
    }
    const std::int64_t stamp = nowNs();
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* touch = nullptr;
    int rc = exec(db, "BEGIN IMMEDIATE");
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO entries VALUES(?,?,?,?,?,?,?,?,?,?)", -1, &insert,
                                nullptr);
    }
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(db, "UPDATE entries SET used=? WHERE kind=? AND device=? AND inode=?", -1,
                                &touch, nullptr);
    }
    for (std::size_t i = 0; rc == SQLITE_OK && i < pending.size(); ++i) {
        const Pending& p = pending[i];
        bindKey(insert, p.kind, p.key);
        sqlite3_bind_int64(insert, 4, p.key.size);
        sqlite3_bind_int64(insert, 5, p.key.modifiedNs);
        sqlite3_bind_int64(insert, 6, p.key.changedNs);
        sqlite3_bind_blob(insert, 7, p.path.data(), static_cast<int>(p.path.size()), SQLITE_STATIC);
        sqlite3_bind_blob(insert, 8, p.value.data(), static_cast<int>(p.value.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 9, stamp);
        sqlite3_bind_int64(insert, 10, rowCheck(p.kind, p.key, p.value.data(), p.value.size()));
        rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
        sqlite3_reset(insert);
    }
    for (std::size_t i = 0; rc == SQLITE_OK && i < used.size(); ++i) {
        sqlite3_bind_int64(touch, 1, stamp);
        sqlite3_bind_int(touch, 2, static_cast<int>(used[i].first));
        sqlite3_bind_int64(touch, 3, static_cast<sqlite3_int64>(used[i].second.device));
        sqlite3_bind_int64(touch, 4, static_cast<sqlite3_int64>(used[i].second.inode));
        rc = sqlite3_step(touch) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
        sqlite3_reset(touch);
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(touch);
    pending.clear();
    used.clear();

    // Rows of these kinds that this flush did not write or use: dropped when their file is gone or the
    // path now names another file.
    std::vector<std::pair<int, std::pair<std::uint64_t, std::uint64_t>>> gone;
    sqlite3_stmt* stale = nullptr;
    for (const Kind kind : kinds) {
        if (rc != SQLITE_OK ||
            sqlite3_prepare_v2(db, "SELECT device, inode, path FROM entries WHERE kind=? AND used<?", -1,
                               &stale, nullptr) != SQLITE_OK) {
            rc = rc == SQLITE_OK ? sqlite3_errcode(db) : rc;
            break;
        }
        sqlite3_bind_int(stale, 1, static_cast<int>(kind));
        sqlite3_bind_int64(stale, 2, stamp);
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(stale)) == SQLITE_ROW) {
            const auto device = static_cast<std::uint64_t>(sqlite3_column_int64(stale, 0));
            const auto inode = static_cast<std::uint64_t>(sqlite3_column_int64(stale, 1));
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stale, 2));
            const std::string path(bytes == nullptr ? "" : bytes,
                                   static_cast<std::size_t>(sqlite3_column_bytes(stale, 2)));
            const auto now = FileKey::of(path);
            if (!now || now->device != device || now->inode != inode) {
                gone.push_back({static_cast<int>(kind), {device, inode}});
            }
        }
        rc = step == SQLITE_DONE ? SQLITE_OK : step;
        sqlite3_finalize(stale);
        stale = nullptr;
    }
    sqlite3_stmt* drop = nullptr;
    if (rc == SQLITE_OK && !gone.empty()) {
        rc = sqlite3_prepare_v2(db, "DELETE FROM entries WHERE kind=? AND device=? AND inode=?", -1, &drop,
                                nullptr);
        for (std::size_t i = 0; rc == SQLITE_OK && i < gone.size(); ++i) {
            sqlite3_bind_int(drop, 1, gone[i].first);
            sqlite3_bind_int64(drop, 2, static_cast<sqlite3_int64>(gone[i].second.first));
            sqlite3_bind_int64(drop, 3, static_cast<sqlite3_int64>(gone[i].second.second));
            rc = sqlite3_step(drop) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
            sqlite3_reset(drop);
        }
        sqlite3_finalize(drop);
    }
    // The bound: the rows used longest ago go first.
    if (rc == SQLITE_OK) {
        const std::int64_t count = single(db, "SELECT count(*) FROM entries", &rc);
        if (rc == SQLITE_OK && count > maximumEntries) {
            const std::string trim =
                "DELETE FROM entries WHERE (kind, device, inode) IN (SELECT kind, device, "
                "inode FROM entries ORDER BY used LIMIT " +
                std::to_string(count - maximumEntries) + ")";
            rc = exec(db, trim.c_str());
        }
    }
    if (rc == SQLITE_OK) {
        rc = exec(db, "COMMIT");
    }
    if (rc != SQLITE_OK) {
        exec(db, "ROLLBACK");
        if (damaged(rc)) {
            setAsideAndRestart();
        }
    }
}

HashCache::Counts HashCache::counts(Kind kind) const {
    const auto k = static_cast<std::size_t>(kind);
    return Counts{hits[k].load(), misses[k].load()};
}

void HashCache::resetCounts() {
    for (int k = 0; k < kindCount; ++k) {
        hits[static_cast<std::size_t>(k)] = 0;
        misses[static_cast<std::size_t>(k)] = 0;
    }
}

std::int64_t HashCache::entries() {
    const std::lock_guard lock(mutex);
    return db == nullptr ? 0 : single(db, "SELECT count(*) FROM entries");
}

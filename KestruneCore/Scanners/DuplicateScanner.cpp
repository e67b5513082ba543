// Size groups, then head-and-tail digests, then whole contents. Whole contents are compared byte for
// byte against one representative per class when a group is small (two files equal byte for byte have
// equal digests, and comparing stops at the first difference); bigger groups are digested. Either way
// the classes are exactly those of equal full digests. Groups are confirmed in parallel. The hash cache
// keeps what each file was found to be, so that the next scan reads only files that changed.
#include "KestruneCore/Scanners/DuplicateScanner.h"

#include "KestruneCore/Platform/RegularFile.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Scanners/HashCache.h"
#include "KestruneCore/Walk/HomeFiles.h"

#include <openssl/evp.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace {

// Groups up to this size are confirmed by comparing bytes; larger ones by digests.
constexpr std::size_t compareLimit = 4;

// Regular files only, never through a link, read front to back.
class File : public Platform::RegularFile {
public:
    explicit File(const std::string& path) : RegularFile(path, Links::notFollowed, Access::sequential) {}
};

class Sha256 {
public:
    Sha256() : context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(context); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const char* data, std::size_t size) { EVP_DigestUpdate(context, data, size); }
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context, digest, &length);
        static const char* digits = "0123456789abcdef";
        std::string out;
        for (unsigned int i = 0; i < length; ++i) {
            out += digits[digest[i] >> 4];
            out += digits[digest[i] & 15];
        }
        return out;
    }

private:
    EVP_MD_CTX* context;
};

// One thread's reading buffers, reused across files.
struct Buffers {
    std::unique_ptr<char[]> a{new char[DuplicateScanner::fullChunk]};
    std::unique_ptr<char[]> b{new char[DuplicateScanner::fullChunk]};
};
thread_local Buffers buffers;

// The byte stream the full digest would see: chunks until a read yields nothing or fails.
class Stream {
public:
    explicit Stream(const File& file, char* buffer) : file(file), buffer(buffer) {}
    // The next chunk; empty at the end (or at a read error).
    std::string_view next() {
        if (ended) {
            return {};
        }
        const std::int64_t n = file.readAt(buffer, DuplicateScanner::fullChunk, offset);
        if (n <= 0) {
            ended = true;
            return {};
        }
        offset += n;
        return {buffer, static_cast<std::size_t>(n)};
    }

private:
    const File& file;
    char* buffer;
    std::int64_t offset = 0;
    bool ended = false;
};

// Whether two files' streams are equal. Chunks of a regular file are whole 1 MiB blocks except the
// last, so equal streams come in equal chunks; a short chunk on one side only is a difference.
bool sameContents(const File& x, const File& y) {
    Stream a(x, buffers.a.get());
    Stream b(y, buffers.b.get());
    while (true) {
        const auto ca = a.next();
        const auto cb = b.next();
        if (ca.size() != cb.size()) {
            return false;
        }
        if (ca.empty()) {
            return true; // both ended together
        }
        if (std::memcmp(ca.data(), cb.data(), ca.size()) != 0) {
            return false;
        }
    }
}

// Splits a group whose head-and-tail digests agree into classes of identical contents, keeping the
// group order inside each class. Items that cannot be opened drop out.
//
// With the cache, each file confirmed by comparison is remembered with its class's mark: the whole-file
// digest when the class has one, else "=" and the state (FileKey) of the member the class was found
// around. Two unchanged files with the same mark were equal when it was given and neither changed since,
// so the next scan groups them without reading; a changed or new file is compared with one member of
// each class. Marks are never compared with digests: a group too big to compare digests every file whose
// mark is not a digest.
std::vector<std::vector<CleanupItem>> classes(const std::vector<CleanupItem>& group, HashCache* cache) {
    std::vector<std::vector<CleanupItem>> out;
    if (group.size() <= compareLimit) {
        // Files the cache knows first, so that every changed or new file is compared with their classes.
        std::vector<std::optional<FileKey>> keys(group.size());
        std::vector<std::optional<std::string>> known(group.size());
        for (std::size_t i = 0; i < group.size() && cache != nullptr; ++i) {
            keys[i] = FileKey::of(group[i].url);
            known[i] = keys[i] ? cache->lookup(HashCache::Kind::full, *keys[i]) : std::nullopt;
        }
        std::vector<std::vector<std::size_t>> members;      // group positions of each class
        std::vector<std::unique_ptr<File>> representatives; // opened when a file must be compared with it
        std::vector<std::string> marks;                     // each class's, empty without the cache
        for (std::size_t i = 0; i < group.size(); ++i) {
            if (!known[i]) {
                continue;
            }
            const auto same = std::find(marks.begin(), marks.end(), *known[i]);
            if (same != marks.end()) {
                members[static_cast<std::size_t>(same - marks.begin())].push_back(i);
            } else {
                members.push_back({i});
                representatives.push_back(nullptr);
                marks.push_back(*known[i]);
            }
        }
        for (std::size_t i = 0; i < group.size(); ++i) {
            if (known[i]) {
                continue;
            }
            auto file = std::make_unique<File>(group[i].url);
            if (!file->valid()) {
                continue;
            }
            std::optional<std::size_t> placed;
            for (std::size_t c = 0; c < members.size() && !placed; ++c) {
                if (!representatives[c]) {
                    representatives[c] = std::make_unique<File>(group[members[c].front()].url);
                }
                if (representatives[c]->valid() && sameContents(*file, *representatives[c])) {
                    members[c].push_back(i);
                    placed = c;
                }
            }
            const auto& key = keys[i];
            if (!placed) {
                members.push_back({i});
                representatives.push_back(std::move(file));
                marks.push_back(key ? "=" + std::to_string(key->device) + ":" + std::to_string(key->inode) +
                                          ":" + std::to_string(key->size) + ":" +
                                          std::to_string(key->modifiedNs) + ":" +
                                          std::to_string(key->changedNs)
                                    : std::string());
                placed = members.size() - 1;
            }
            if (key) {
                HashCache::keep(cache, HashCache::Kind::full, group[i].url, *key, marks[*placed]);
            }
        }
        // Group order inside each class, and classes in the order of their first members.
        for (auto& positions : members) {
            std::sort(positions.begin(), positions.end());
        }
        std::sort(members.begin(), members.end(),
                  [](const auto& a, const auto& b) { return a.front() < b.front(); });
        for (const auto& positions : members) {
            auto& same = out.emplace_back();
            for (const std::size_t i : positions) {
                same.push_back(group[i]);
            }
        }
        return out;
    }
    std::map<std::string, std::size_t> byDigest;
    for (const auto& item : group) {
        auto digest = HashCache::through(cache, HashCache::Kind::full, item.url,
                                         [&] { return Duplicates::fullDigest(item.url); });
        if (digest && digest->starts_with('=')) {
            const auto key = FileKey::of(item.url);
            digest = Duplicates::fullDigest(item.url);
            if (digest && key) {
                HashCache::keep(cache, HashCache::Kind::full, item.url, *key, *digest);
            }
        }
        if (!digest) {
            continue;
        }
        const auto [it, added] = byDigest.try_emplace(*digest, out.size());
        if (added) {
            out.emplace_back();
        }
        out[it->second].push_back(item);
    }
    return out;
}

// The home's files of the duplicates' size, from the walk this scan shares with the large-and-old files.
void collect(const std::string& home, std::map<std::int64_t, std::vector<CleanupItem>>& sizes) {
    static_assert(HomeFiles::minimumBytes == DuplicateScanner::minimumBytes &&
                  HomeFiles::depthLimit == DuplicateScanner::depthLimit);
    std::set<std::pair<std::uint64_t, std::uint64_t>> linked; // (file system, inode) of files met already
    const auto files = HomeFiles::of(home);
    for (const HomeFile& file : *files) {
        // Two links of one file are one file: removing one frees nothing and is no copy.
        if (file.links > 1 && !linked.emplace(file.fsid, file.inode).second) {
            continue;
        }
        sizes[file.allocSize].emplace_back(file.path, file.allocSize, file.modified);
    }
}

} // namespace

namespace Duplicates {

std::optional<std::string> partialDigest(const std::string& path) {
    const File file(path);
    if (!file.valid()) {
        return std::nullopt;
    }
    std::array<char, DuplicateScanner::partialBlock> head{};
    const std::int64_t headBytes = file.readAt(head.data(), head.size(), 0);
    if (headBytes <= 0) {
        return std::nullopt;
    }
    Sha256 sha;
    sha.update(head.data(), static_cast<std::size_t>(headBytes));
    const std::int64_t length = file.length();
    if (length > static_cast<std::int64_t>(DuplicateScanner::partialBlock)) {
        std::array<char, DuplicateScanner::partialBlock> tail{};
        const std::int64_t tailBytes = file.readAt(
            tail.data(), tail.size(), length - static_cast<std::int64_t>(DuplicateScanner::partialBlock));
        if (tailBytes > 0) {
            sha.update(tail.data(), static_cast<std::size_t>(tailBytes));
        }
    }
    return sha.hex();
}

std::optional<std::string> fullDigest(const std::string& path) {
    const File file(path);
    if (!file.valid()) {
        return std::nullopt;
    }
    Sha256 sha;
    Stream stream(file, buffers.a.get());
    for (auto chunk = stream.next(); !chunk.empty(); chunk = stream.next()) {
        sha.update(chunk.data(), chunk.size());
    }
    return sha.hex();
}

} // namespace Duplicates

const std::unordered_set<std::string>& DuplicateScanner::excluded() {
    return HomeFiles::excluded();
}

std::vector<CleanupItem> DuplicateScanner::scan() const {
    const auto cache = HashCache::shared();
    std::map<std::int64_t, std::vector<CleanupItem>> sizes;
    collect(home(), sizes);

    // Head-and-tail digests of every file that shares its size, in parallel, kept in walk order.
    std::vector<const CleanupItem*> candidates;
    for (const auto& [size, group] : sizes) {
        if (group.size() >= 2) {
            for (const auto& item : group) {
                candidates.push_back(&item);
            }
        }
    }
    std::vector<std::optional<std::string>> partial(candidates.size());
    tbb::parallel_for(std::size_t{0}, candidates.size(), [&](std::size_t i) {
        const std::string& url = candidates[i]->url;
        partial[i] = HashCache::through(cache.get(), HashCache::Kind::headTail, url,
                                        [&] { return Duplicates::partialDigest(url); });
    });

    std::vector<std::vector<CleanupItem>> groups; // same size and same head and tail, walk order
    std::size_t next = 0;
    for (const auto& [size, group] : sizes) {
        if (group.size() < 2) {
            continue;
        }
        std::map<std::string, std::vector<CleanupItem>> byPartial;
        for (const auto& item : group) {
            if (const auto& digest = partial[next++]) {
                byPartial[*digest].push_back(item);
            }
        }
        for (auto& [digest, members] : byPartial) {
            if (members.size() >= 2) {
                groups.push_back(std::move(members));
            }
        }
    }

    std::vector<std::vector<CleanupItem>> reported(groups.size());
    tbb::parallel_for(std::size_t{0}, groups.size(), [&](std::size_t g) {
        for (auto& same : classes(groups[g], cache.get())) {
            if (same.size() < 2) {
                continue;
            }
            std::stable_sort(same.begin(), same.end(), [](const CleanupItem& a, const CleanupItem& b) {
                return a.modified < b.modified;
            });
            for (auto copy = same.begin() + 1; copy != same.end(); ++copy) {
                copy->keptCopy = same.front().url;
                reported[g].push_back(std::move(*copy));
            }
        }
    });
    if (cache) {
        cache->flush({HashCache::Kind::headTail, HashCache::Kind::full});
    }
    std::vector<CleanupItem> out;
    for (auto& r : reported) {
        out.insert(out.end(), std::make_move_iterator(r.begin()), std::make_move_iterator(r.end()));
    }
    return out;
}

// Workers pop folders off one shared stack, list them and push their sub-folders; a folder at the depth
// limit becomes one measured block whose whole subtree goes through the same stack, every folder adding
// its bytes to the block, so both threads stay busy however lopsided the tree. When the stack runs dry
// the caller assembles the records bottom-up. Everything in Discovery after its constants is guarded by
// its mutex; listing runs without it.
#include "KestruneCore/DiskMap/VolumeTree.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/Home.h"
#include "KestruneCore/Platform/SystemFolder.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "KestruneCore/Walk/LinkSet.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string_view>
#include <utility>

std::string DiskNode::name() const {
    if (isAggregate) {
        return "Other";
    }
    const std::string_view last = Paths::lastComponent(url);
    return last.empty() ? url : std::string(last);
}

namespace VolumeTree {
namespace {

using NodePtr = std::shared_ptr<const DiskNode>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t workerStackBytes = 1024 * 1024;
constexpr auto reportInterval = std::chrono::milliseconds(125);

// The kernel's and the running system's pseudo file systems: never part of the disk.
constexpr std::array<std::string_view, 4> excludedAbsolute = {"/proc", "/sys", "/dev", "/run"};

std::string normalized(std::string path) {
    while (path.size() >= 2 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// Whether parent joined with name is one of the excluded paths, without building the joined path.
bool isExcluded(std::string_view parent, std::string_view name) {
    const std::size_t separator = parent == "/" ? 0 : 1;
    for (const std::string_view excluded : excludedAbsolute) {
        if (excluded.size() == parent.size() + separator + name.size() && excluded.starts_with(parent) &&
            excluded.ends_with(name) && (separator == 0 || excluded[parent.size()] == '/')) {
            return true;
        }
    }
    return false;
}

NodePtr makeNode(std::string url, std::int64_t bytes, bool isDirectory, bool isAggregate = false,
                 std::vector<NodePtr> children = {}) {
    auto node = std::make_shared<DiskNode>();
    node->url = std::move(url);
    node->bytes = bytes;
    node->isDirectory = isDirectory;
    node->isAggregate = isAggregate;
    node->children = std::move(children);
    return node;
}

constexpr std::uint32_t noSink = ~std::uint32_t{0};

// A queued folder. One above the depth limit fills its own record; one at the limit is measured as a
// block: its record is its sink, and every folder below it is queued too, adding its bytes to that sink.
struct Item {
    std::string path;
    int depth = 0;
    int top = 0;
    std::uint32_t record = 0;    // slot in Discovery::records reserved when the item was queued
    std::uint32_t sink = noSink; // the measured block this folder's bytes belong to
};

// One listed folder. Its queued sub-folders occupy the consecutive record slots
// firstChild ... firstChild + childCount - 1, in listing order.
struct DirRecord {
    bool listed = false;
    bool measured = false; // a folder at the depth limit: one node of directBytes, everything below it
    bool atLimit = false;  // its sub-folders are measured blocks, ordered among its files by keptAt
    std::string path;
    std::int64_t directBytes = 0;      // the folder's own files (a measured block: everything below it)
    std::vector<NodePtr> kept;         // its files of at least minBytes
    std::vector<std::uint32_t> keptAt; // their listing positions, when atLimit
    std::uint32_t listedAt = 0;        // a measured block's listing position in its parent
    std::uint32_t firstChild = 0;
    std::uint32_t childCount = 0;
};

// What listing one folder found, in per-thread scratch that survives from folder to folder, so that
// listing allocates nothing per entry.
struct Scratch {
    std::int64_t bytes = 0;
    std::vector<std::string> childPaths; // sub-folders to queue, in listing order
    std::vector<std::uint32_t> childAt;  // their listing positions
    std::vector<NodePtr> kept;
    std::vector<std::uint32_t> keptAt;
    std::int64_t unreadable = 0; // entries and folders there but not readable, since last collected
};

struct Report {
    std::uint64_t sequence = 0;
    Progress progress;
};

class Discovery {
public:
    Discovery(const Options& options, std::uint64_t fsid, LinkSet& links,
              const std::function<void(const Progress&)>& onProgress,
              const std::function<bool()>& isCancelled)
        : options(options), fsid(fsid), links(links), onProgress(onProgress), isCancelled(isCancelled) {}

    void seed(std::vector<Item> items, std::vector<std::string> topLabels, std::int64_t bytes) {
        const std::lock_guard lock(mutex);
        labels = std::move(topLabels);
        bytesSoFar = bytes;
        lastArea = labels.empty() ? std::string() : labels.front();
        outstanding.assign(labels.size(), 0);
        for (const auto& item : items) {
            outstanding[static_cast<std::size_t>(item.top)] += 1;
        }
        queue = std::move(items);
    }

    void run() {
        if (queue.empty()) {
            return;
        }
        const int count = std::max(options.threads, 1);
        std::vector<pthread_t> workers;
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, workerStackBytes);
        for (int i = 0; i < count; ++i) {
            pthread_t thread;
            if (pthread_create(
                    &thread, &attributes,
                    [](void* self) -> void* {
                        static_cast<Discovery*>(self)->loop();
                        return nullptr;
                    },
                    this) == 0) {
                workers.push_back(thread);
            }
        }
        pthread_attr_destroy(&attributes);
        if (workers.empty()) {
            loop(); // no thread could be started: walk on the caller's own
        }
        // Every worker leaves once the walk is done or cancelled, and none may outlive this object, so
        // joining them is the whole wait. The caller does not sleep on the workers' condition: if it
        // did, each folder that queues sub-folders would wake it for nothing (one futex call per folder,
        // a sixth of a one-thread walk's system time).
        for (const pthread_t thread : workers) {
            pthread_join(thread, nullptr);
        }
    }

    // Hands a report to the caller unless a later one already went out, so reports from different
    // workers never arrive out of order and the final one is the last.
    void deliver(const Report& report) {
        const std::lock_guard lock(deliveryMutex);
        if (report.sequence <= delivered) {
            return;
        }
        delivered = report.sequence;
        if (onProgress) {
            onProgress(report.progress);
        }
    }

    const Options options;
    const std::uint64_t fsid;
    LinkSet& links; // every worker's files, so that a file of several links counts once in the tree
    const std::function<void(const Progress&)>& onProgress;
    const std::function<bool()>& isCancelled;

    std::vector<DirRecord> records; // filled by the caller before run(), by the workers during it
    std::int64_t unreadable = 0;    // entries of the whole build not read, once run() is over

private:
    void loop() {
        Scratch scratch;
        std::unique_lock lock(mutex);
        while (true) {
            while (queue.empty()) {
                if (active == 0 || done) {
                    break;
                }
                cond.wait(lock);
            }
            if (queue.empty() || done) {
                break;
            }
            Item item = std::move(queue.back());
            queue.pop_back();
            ++active;
            lock.unlock();

            if (isCancelled && isCancelled()) {
                lock.lock();
                break;
            }
            list(item, scratch);

            lock.lock();
            const std::size_t added = scratch.childPaths.size();
            if (item.sink == noSink) {
                DirRecord record;
                record.listed = true;
                record.path = std::move(item.path);
                record.directBytes = scratch.bytes;
                record.kept = std::move(scratch.kept);
                record.atLimit = item.depth + 1 >= options.maxDepth;
                if (record.atLimit) {
                    record.keptAt = scratch.keptAt;
                }
                record.firstChild = static_cast<std::uint32_t>(records.size());
                record.childCount = static_cast<std::uint32_t>(added);
                records.resize(records.size() + added);
                for (std::size_t i = 0; i < added; ++i) {
                    const auto slot = record.firstChild + static_cast<std::uint32_t>(i);
                    records[slot].listedAt = scratch.childAt[i];
                    queue.push_back(Item{std::move(scratch.childPaths[i]), item.depth + 1, item.top, slot,
                                         record.atLimit ? slot : noSink});
                }
                records[item.record] = std::move(record);
            } else {
                DirRecord& sink = records[item.sink];
                if (item.record == item.sink) {
                    sink.listed = true;
                    sink.measured = true;
                    sink.path = std::move(item.path);
                }
                sink.directBytes += scratch.bytes;
                for (std::size_t i = 0; i < added; ++i) {
                    queue.push_back(
                        Item{std::move(scratch.childPaths[i]), item.depth + 1, item.top, noSink, item.sink});
                }
            }
            scratch.kept.clear();
            scratch.childPaths.clear();
            bytesSoFar += scratch.bytes;
            unreadable += std::exchange(scratch.unreadable, 0);
            outstanding[static_cast<std::size_t>(item.top)] += static_cast<int>(added) - 1;
            processed += 1;
            active -= 1;
            if (queue.empty() && active == 0) {
                done = true;
            }
            const auto report = sample(done);
            if (added > 0 || done) {
                cond.notify_all();
            }
            lock.unlock();
            if (report) {
                deliver(*report);
            }
            lock.lock();
        }
        done = true;
        cond.notify_all();
    }

    // Lists one queued folder without the mutex: the bytes of its files, those worth a node of their
    // own (only above a measured block) and the sub-folders to queue, all left in scratch.
    void list(const Item& item, Scratch& scratch) {
        scratch.bytes = 0;
        scratch.childAt.clear();
        scratch.keptAt.clear();
        const BulkDir::Folder folder = BulkDir::open(item.path, BulkDir::Links::notFollowed);
        if (!folder) {
            scratch.unreadable += folder.error() == ENOENT ? 0 : 1; // vanished meanwhile: nothing to count
            return;
        }
        const int fd = folder.fd();
        const bool inBlock = item.sink != noSink;
        std::uint32_t position = 0;
        scratch.unreadable += static_cast<std::int64_t>(
            BulkDir::forEachAt(fd, BulkDir::Options::none, [&](const BulkEntry& entry) {
                ++position;
                if (entry.isSymlink || entry.fsid != fsid || isExcluded(item.path, entry.name)) {
                    return;
                }
                if (entry.isDirectory) {
                    scratch.childPaths.push_back(Paths::child(item.path, entry.name));
                    scratch.childAt.push_back(position);
                } else if (const std::int64_t bytes = links.bytesOf(entry); bytes > 0) {
                    scratch.bytes += bytes;
                    if (!inBlock && bytes >= options.minBytes) {
                        scratch.kept.push_back(makeNode(Paths::child(item.path, entry.name), bytes, false));
                        scratch.keptAt.push_back(position);
                    }
                }
            }));
    }

    // With the mutex held: a report when one is due (always when finished), else nothing.
    std::optional<Report> sample(bool finished) {
        const auto now = Clock::now();
        if (!finished && lastEmit && now - *lastEmit < reportInterval) {
            return std::nullopt;
        }
        lastEmit = now;
        const double pending = std::max<double>(
            static_cast<double>(processed) + static_cast<double>(queue.size()) + active, 1.0);
        reported = std::max(reported, static_cast<double>(processed) / pending);
        if (finished) {
            reported = 1.0;
        }
        std::size_t busiest = 0;
        for (std::size_t i = 1; i < outstanding.size(); ++i) {
            if (outstanding[i] > outstanding[busiest]) {
                busiest = i;
            }
        }
        if (!outstanding.empty() && outstanding[busiest] >= 1) {
            lastArea = labels[busiest];
        }
        return Report{++issued, Progress{reported, lastArea, processed, bytesSoFar}};
    }

    std::mutex mutex;
    std::condition_variable cond;
    std::vector<Item> queue; // used as a stack: the walk goes depth-first
    int active = 0;
    bool done = false;
    std::vector<int> outstanding; // per top-level folder: folders of its subtree queued or being listed
    std::vector<std::string> labels;
    int processed = 0;
    std::int64_t bytesSoFar = 0;
    double reported = 0;
    std::optional<Clock::time_point> lastEmit; // none: the distant past
    std::string lastArea;
    std::uint64_t issued = 0;

    std::mutex deliveryMutex;
    std::uint64_t delivered = 0; // guarded by deliveryMutex
};

std::vector<NodePtr> fold(std::vector<NodePtr> nodes, std::int64_t total, const Options& options) {
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const NodePtr& a, const NodePtr& b) { return a->bytes > b->bytes; });
    const auto limit = static_cast<std::size_t>(std::max(options.maxChildren, 0));
    if (nodes.size() > limit) {
        nodes.resize(limit);
    }
    std::erase_if(nodes, [&](const NodePtr& node) { return node->bytes < options.minBytes; });
    std::int64_t shown = 0;
    for (const auto& node : nodes) {
        shown += node->bytes;
    }
    if (total - shown > 0) {
        nodes.push_back(makeNode("/", total - shown, false, true));
    }
    return nodes;
}

NodePtr assemble(std::uint32_t index, std::vector<DirRecord>& records, const Options& options) {
    if (index >= records.size() || !records[index].listed) {
        return nullptr;
    }
    DirRecord& record = records[index];
    if (record.measured) {
        return record.directBytes < 1 ? nullptr : makeNode(std::move(record.path), record.directBytes, true);
    }
    std::int64_t total = record.directBytes;
    std::vector<NodePtr> children = std::move(record.kept);
    // At the depth limit the measured blocks stand among the files in listing order.
    std::vector<std::uint32_t> order = std::move(record.keptAt);
    for (std::uint32_t i = 0; i < record.childCount; ++i) {
        if (auto child = assemble(record.firstChild + i, records, options)) {
            total += child->bytes;
            if (child->bytes >= options.minBytes) {
                order.push_back(records[record.firstChild + i].listedAt);
                children.push_back(std::move(child));
            }
        }
    }
    if (total < 1) {
        return nullptr;
    }
    if (record.atLimit && order.size() == children.size()) {
        std::vector<std::pair<std::uint32_t, NodePtr>> placed;
        placed.reserve(children.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            placed.emplace_back(order[i], std::move(children[i]));
        }
        std::stable_sort(placed.begin(), placed.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (std::size_t i = 0; i < placed.size(); ++i) {
            children[i] = std::move(placed[i].second);
        }
    }
    return makeNode(std::move(record.path), total, true, false, fold(std::move(children), total, options));
}

} // namespace

std::vector<Root> roots() {
    return {
        Root{"home", "Home", Platform::homeFolder()},
        // System folders go through the one override, so a prepared tree can stand in for them.
        Root{"apps", "Applications", Platform::systemFolder("/usr")},
        Root{"disk", "Whole disk", Platform::systemFolder("/")},
    };
}

std::shared_ptr<const DiskNode> build(const std::string& root, const Options& options,
                                      const std::function<void(const Progress&)>& onProgress,
                                      const std::function<bool()>& isCancelled) {
    const std::string rootPath = normalized(root);
    const auto cancelled = [&] { return isCancelled && isCancelled(); };

    // The root itself may be reached through a link; below it nothing is followed. The walk keeps to
    // the file system of the root folder itself, which on Linux need not be that of its first entry.
    const BulkDir::Folder rootFolder = BulkDir::open(rootPath, BulkDir::Links::followed);
    std::uint64_t fsid = 0;
    struct TopEntry {
        std::string name;
        bool isDirectory;
        std::int64_t allocSize;
    };
    std::vector<TopEntry> top;
    LinkSet topLinks; // the whole build's, handed to the workers below
    std::int64_t unreadable = 0;
    if (const auto self = BulkDir::entryOf(rootFolder, BulkDir::Options::none)) {
        fsid = self->fsid;
        unreadable += static_cast<std::int64_t>(
            BulkDir::forEachAt(rootFolder.fd(), BulkDir::Options::none, [&](const BulkEntry& entry) {
                if (!entry.isSymlink && entry.fsid == fsid && !isExcluded(rootPath, entry.name)) {
                    top.push_back(TopEntry{entry.name, entry.isDirectory, topLinks.bytesOf(entry)});
                }
            }));
    }

    if (top.empty()) {
        // Nothing to list: an unreadable or empty folder, or a file. Entries that were all links or
        // on other file systems count nothing, as they would anywhere below.
        std::int64_t bytes = 0;
        bool isDirectory = true;
        if (!rootFolder) {
            const auto measured = DiskMath::measured(rootPath);
            bytes = measured.bytes;
            unreadable += measured.unreadable;
            int error = 0;
            const auto self = BulkDir::entryOf(rootPath, BulkDir::Options::none, error);
            isDirectory = !(self && !self->isDirectory);
        }
        if (cancelled()) {
            return nullptr;
        }
        if (onProgress) {
            onProgress(Progress{1.0, std::string(), 0, bytes});
        }
        auto node = std::make_shared<DiskNode>(*makeNode(rootPath, bytes, isDirectory));
        node->unreadable = unreadable;
        return node;
    }

    Discovery discovery(options, fsid, topLinks, onProgress, isCancelled);
    DirRecord rootRecord;
    rootRecord.listed = true;
    rootRecord.path = rootPath;
    rootRecord.firstChild = 1;
    std::vector<Item> items;
    std::vector<std::string> labels;
    for (auto& entry : top) {
        if (entry.isDirectory) {
            const int index = static_cast<int>(items.size());
            items.push_back(
                Item{Paths::child(rootPath, entry.name), 1, index, static_cast<std::uint32_t>(index + 1)});
            labels.push_back(std::move(entry.name));
        } else if (entry.allocSize >= 1) {
            rootRecord.directBytes += entry.allocSize;
            if (entry.allocSize >= options.minBytes) {
                rootRecord.kept.push_back(
                    makeNode(Paths::child(rootPath, entry.name), entry.allocSize, false));
            }
        }
    }
    rootRecord.childCount = static_cast<std::uint32_t>(items.size());
    const std::int64_t rootBytes = rootRecord.directBytes;
    discovery.records.resize(items.size() + 1);
    discovery.records[0] = std::move(rootRecord);
    const bool anyFolder = !items.empty();
    discovery.seed(std::move(items), std::move(labels), rootBytes);
    if (anyFolder) {
        discovery.run();
    } else if (!cancelled()) {
        discovery.deliver(Report{1, Progress{1.0, std::string(), 0, rootBytes}});
    }
    if (cancelled()) {
        return nullptr;
    }
    const NodePtr assembled = assemble(0, discovery.records, options);
    unreadable += discovery.unreadable;
    if (!assembled || unreadable == 0) {
        return assembled;
    }
    auto withCount = std::make_shared<DiskNode>(*assembled); // the same node, children shared
    withCount->unreadable = unreadable;
    return withCount;
}

} // namespace VolumeTree

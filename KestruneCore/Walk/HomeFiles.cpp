#include "KestruneCore/Walk/HomeFiles.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"

#include <atomic>
#include <future>
#include <map>
#include <mutex>

namespace HomeFiles {
namespace {

std::mutex mutex;
int sessions = 0; // guarded by mutex
std::map<std::string, std::shared_future<std::shared_ptr<const std::vector<HomeFile>>>> lists; // too
std::atomic<int> walks{0};

void walk(const std::string& folder, int depth, bool inPublic, std::vector<HomeFile>& into) {
    if (depth > depthLimit) {
        return;
    }
    for (auto& entry : BulkDir::read(folder, BulkDir::Options::dates)) {
        if (entry.isSymlink || entry.name.starts_with('.')) {
            continue;
        }
        if (entry.isDirectory) {
            if (!excluded().contains(entry.name)) {
                walk(Paths::child(folder, entry.name), depth + 1, inPublic || entry.name == "Public", into);
            }
        } else if (entry.allocSize >= minimumBytes) {
            into.push_back(HomeFile{Paths::child(folder, entry.name), entry.allocSize,
                                    entry.modified.value_or(Dates::distantPast),
                                    entry.accessed.value_or(Dates::distantPast), entry.fsid, entry.inode,
                                    entry.links, inPublic});
        }
    }
}

std::shared_ptr<const std::vector<HomeFile>> walked(const std::string& home) {
    walks.fetch_add(1);
    auto files = std::make_shared<std::vector<HomeFile>>();
    walk(home, 0, false, *files);
    return files;
}

} // namespace

const std::unordered_set<std::string>& excluded() {
    static const std::unordered_set<std::string> names{
        "Library", "Applications", ".Trash",  "node_modules", ".git",   ".build", "DerivedData",
        ".npm",    ".cargo",       ".gradle", ".m2",          ".cache", ".local", "go"};
    return names;
}

std::shared_ptr<const std::vector<HomeFile>> of(const std::string& home) {
    std::promise<std::shared_ptr<const std::vector<HomeFile>>> promise;
    std::shared_future<std::shared_ptr<const std::vector<HomeFile>>> earlier;
    {
        const std::lock_guard lock(mutex);
        if (sessions == 0) {
            return walked(home);
        }
        if (const auto found = lists.find(home); found != lists.end()) {
            earlier = found->second;
        } else {
            lists.emplace(home, promise.get_future().share());
        }
    }
    if (earlier.valid()) {
        return earlier.get(); // waits while another scanner is still walking it
    }
    auto files = walked(home);
    promise.set_value(files);
    return files;
}

Session::Session() {
    const std::lock_guard lock(mutex);
    ++sessions;
}

Session::~Session() {
    const std::lock_guard lock(mutex);
    if (--sessions == 0) {
        lists.clear();
    }
}

int walksMade() {
    return walks.load();
}

} // namespace HomeFiles

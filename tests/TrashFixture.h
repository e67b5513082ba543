// Helpers of the Trash, reclaim and disk map tests: the Trash's folders, a tree's contents, a tmpfs
// mounted for a test's lifetime and random bytes.
#pragma once

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/Trash.h"
#include "tests/TestHome.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <sys/mount.h>
#include <unistd.h>

namespace TrashFixture {

inline std::string trashRoot() {
    return std::string(Paths::parent(Trash::filesFolder()));
}
inline std::string inTrash(const std::string& name) {
    return Trash::filesFolder() + "/" + name;
}
inline std::string infoOf(const std::string& name) {
    return trashRoot() + "/info/" + name + ".trashinfo";
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Every file under `root` by relative path with its contents, "-> target" for a link; folders are left out.
using Tree = std::map<std::string, std::string>;
inline Tree contents(const std::string& root) {
    Tree tree;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string relative = it->path().string().substr(root.size() + 1);
        if (it->is_symlink()) {
            tree[relative] = "-> " + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            tree[relative] = TestTree::readFile(it->path().string());
        }
    }
    return tree;
}

inline std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = generator();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    return bytes;
}

// A tmpfs mounted for the test's lifetime when the machine allows mounting, detached afterwards.
class Mount {
public:
    explicit Mount(const std::string& where) : path(TestTree::makeFolder(where)) {
        mounted = mount("kestrune-test", where.c_str(), "tmpfs", 0, "size=64m") == 0;
        error = mounted ? "" : std::strerror(errno);
    }
    ~Mount() {
        if (mounted) {
            umount2(path.c_str(), MNT_DETACH);
        }
    }
    void remountReadOnly() { mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr); }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    std::string path;
    bool mounted = false;
    std::string error;
};

} // namespace TrashFixture

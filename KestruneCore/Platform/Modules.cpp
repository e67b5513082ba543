#include "KestruneCore/Platform/Modules.h"

#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <unistd.h>
#include <vector>

#ifndef KESTRUNE_MODULE_DIR
#define KESTRUNE_MODULE_DIR ""
#endif
#ifndef KESTRUNE_MODULE_BESIDE_BIN
#define KESTRUNE_MODULE_BESIDE_BIN ""
#endif

namespace Platform {
namespace {

std::vector<std::filesystem::path> moduleFolders() {
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        auto folder = executable.parent_path();
        for (int level = 0; level < 3 && !folder.empty(); ++level) {
            folders.push_back(folder);
            if (folder == folder.root_path()) {
                break;
            }
            folder = folder.parent_path();
        }
        // An installed tree moved elsewhere as a whole (another prefix, a staging folder) keeps the module
        // at the same place relative to the program.
        if (const std::string beside = KESTRUNE_MODULE_BESIDE_BIN; !beside.empty()) {
            folders.push_back((executable.parent_path() / beside).lexically_normal());
        }
    }
    if (const std::string installed = KESTRUNE_MODULE_DIR; !installed.empty()) {
        folders.emplace_back(installed);
    }
    return folders;
}

} // namespace

void* moduleSymbol(const std::string& fileName, const char* symbol, std::string& error) {
    // dlerror's text is per thread but dlopen's search is not worth racing: one load at a time.
    static std::mutex loading;
    const std::lock_guard lock(loading);
    std::string tried;
    for (const auto& folder : moduleFolders()) {
        const std::string path = (folder / fileName).string();
        if (::access(path.c_str(), F_OK) != 0) {
            continue;
        }
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* why = ::dlerror();
            error = why != nullptr ? why : "cannot load " + path;
            return nullptr;
        }
        if (void* address = ::dlsym(module, symbol); address != nullptr) {
            return address;
        }
        error = path + " has no " + symbol;
        return nullptr;
    }
    error = fileName + " was not found beside the program or in " KESTRUNE_MODULE_DIR;
    return nullptr;
}

} // namespace Platform

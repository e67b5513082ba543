// Reads property lists through libplist and copies out the values callers use, so no plist_t escapes.
#include "KestruneCore/Platform/PropertyList.h"

#include <plist/plist.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PropertyList {
namespace {

std::optional<std::string> stringValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text, static_cast<std::size_t>(length));
}

} // namespace

// Keys are only ever looked up, never iterated: libplist's iteration asserts on a key holding a NUL
// byte, which a damaged binary list can contain.
std::optional<std::string> Dictionary::string(const std::string& key) const {
    return stringValue(plist_dict_get_item(root.get(), key.c_str()));
}

std::optional<std::vector<std::string>> Dictionary::stringArray(const std::string& key) const {
    const plist_t value = plist_dict_get_item(root.get(), key.c_str());
    if (value == nullptr || plist_get_node_type(value) != PLIST_ARRAY) {
        return std::nullopt;
    }
    std::vector<std::string> texts;
    const std::uint32_t count = plist_array_get_size(value);
    for (std::uint32_t index = 0; index < count; ++index) {
        if (auto element = stringValue(plist_array_get_item(value, index))) {
            texts.push_back(std::move(*element));
        }
    }
    return texts;
}

std::optional<Dictionary> parseDictionary(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > maximumBytes) {
        return std::nullopt;
    }
    plist_t parsed = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &parsed);
    if (parsed == nullptr) {
        return std::nullopt;
    }
    std::shared_ptr<void> root(parsed, [](void* node) { plist_free(node); });
    if (plist_get_node_type(parsed) != PLIST_DICT) {
        return std::nullopt;
    }
    return Dictionary(std::move(root));
}

std::optional<Dictionary> readDictionary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status {};
    std::string bytes;
    bool complete = false;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        static_cast<std::uint64_t>(status.st_size) <= maximumBytes) {
        bytes.resize(static_cast<std::size_t>(status.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        // A file that shrank while being read is parsed as far as it goes.
        bytes.resize(done);
        complete = done > 0;
    }
    ::close(fd);
    if (!complete) {
        return std::nullopt;
    }
    return parseDictionary(bytes);
}

} // namespace PropertyList

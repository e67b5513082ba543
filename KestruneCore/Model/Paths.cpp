// Lexical path operations shared by the model, the walkers and the stores.
#include "KestruneCore/Model/Paths.h"

#include <vector>

namespace Paths {

std::string child(std::string_view parent, std::string_view name) {
    std::string result;
    if (parent == "/") {
        result.reserve(name.size() + 1);
        result += '/';
    } else {
        result.reserve(parent.size() + name.size() + 1);
        result += parent;
        result += '/';
    }
    result += name;
    return result;
}

std::string standardized(std::string_view path) {
    if (path.empty()) {
        return {};
    }
    const bool absolute = path.front() == '/';
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') {
            ++i;
        }
        size_t j = i;
        while (j < path.size() && path[j] != '/') {
            ++j;
        }
        const std::string_view part = path.substr(i, j - i);
        i = j;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
            continue;
        }
        parts.push_back(part);
    }
    std::string result;
    result.reserve(path.size());
    for (const auto part : parts) {
        if (absolute || !result.empty()) {
            result += '/';
        }
        result += part;
    }
    if (result.empty()) {
        return absolute ? "/" : ".";
    }
    return result;
}

std::string_view lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (path == "/") {
        return {};
    }
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    if (slash == 0) {
        return path.substr(0, 1);
    }
    return path.substr(0, slash);
}

std::string replacingAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(text);
    }
    std::string result;
    result.reserve(text.size());
    size_t start = 0;
    while (true) {
        const auto hit = text.find(from, start);
        if (hit == std::string_view::npos) {
            result += text.substr(start);
            return result;
        }
        result += text.substr(start, hit - start);
        result += to;
        start = hit + from.size();
    }
}

bool isInside(std::string_view path, std::string_view folder) {
    if (path == folder) {
        return true;
    }
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
           path[folder.size()] == '/';
}

} // namespace Paths

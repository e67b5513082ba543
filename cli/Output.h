// Shared output helpers of the commands: JSON that survives names that are not UTF-8.
#pragma once

#include "KestruneCore/Model/Utf8.h"
#include "KestruneCore/Platform/Trash.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <string>

namespace Output {

// A path for JSON: "path" as text (invalid UTF-8 becomes U+FFFD) and, when the name is not UTF-8,
// "pathBytes" with every byte percent-encoded as the Trash's info files write it, so that a script can
// still find the real file.
// Asks `question` on standard error and reads the answer from standard input: only y or yes (either
// case of the first letter) is a yes; end of input is a no.
inline bool confirmed(const std::string& question) {
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

inline void addPath(nlohmann::json& object, const std::string& path) {
    object["path"] = Utf8::valid(path);
    if (!Utf8::isValid(path)) {
        object["pathBytes"] = Trash::Info::encode(path);
    }
}

// Pretty JSON; invalid UTF-8 in any string becomes U+FFFD.
inline void printJson(const nlohmann::json& document, int indent = 2) {
    std::cout << document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

} // namespace Output

// Shared output helpers of the commands: JSON that survives names that are not UTF-8.
#pragma once

#include <nlohmann/json.hpp>

#include <iostream>
#include <string>

namespace Output {

// Pretty JSON; invalid UTF-8 in any string becomes U+FFFD.
inline void printJson(const nlohmann::json& document, int indent = 2) {
    std::cout << document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

} // namespace Output

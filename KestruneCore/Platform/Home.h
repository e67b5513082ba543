// The current user's home folder, read from the environment on every call so tests can point it elsewhere.
#pragma once

#include <string>

namespace Platform {

// $HOME when it is an absolute path, else the password database's entry; standardized, no trailing slash.
[[nodiscard]] std::string homeFolder();

} // namespace Platform

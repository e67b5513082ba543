// Where the program keeps its own files, and the operating-system line of reports.
#pragma once

#include <string>

namespace Platform {

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
[[nodiscard]] std::string applicationSupportFolder();

// "Linux: 6.1.0 / x86_64" from uname.
[[nodiscard]] std::string operatingSystemLine();

} // namespace Platform

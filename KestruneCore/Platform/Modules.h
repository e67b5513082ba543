// The program's own loadable modules: code kept out of start-up because few runs need it.
#pragma once

#include <string>

namespace Platform {

// The address of `symbol` in the module file `fileName`, loaded once per process and kept loaded; null
// with `error` set when it cannot be found or loaded. The module is looked for beside the running
// executable, then in the two folders above it (a build tree keeps tests and benchmarks in sub-folders),
// then in the installed module folder. Any thread.
[[nodiscard]] void* moduleSymbol(const std::string& fileName, const char* symbol, std::string& error);

} // namespace Platform

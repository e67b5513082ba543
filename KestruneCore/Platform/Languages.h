// The user's preferred languages, most preferred first, as tags of the form language[-script][-region]
// (en-US, de-DE, zh-Hans-CN). Read from the environment on every call; any thread.
#pragma once

#include <string>
#include <vector>

namespace Platform {

// Each language once, in order of preference; empty when the environment names none.
[[nodiscard]] std::vector<std::string> preferredLanguages();

} // namespace Platform

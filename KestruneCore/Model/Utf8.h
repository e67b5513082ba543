// Text that leaves the program (screens, JSON) must be valid UTF-8; names on disk need not be.
#pragma once

#include <string>
#include <string_view>

namespace Utf8 {

// The bytes as valid UTF-8: every invalid byte sequence becomes U+FFFD.
[[nodiscard]] std::string valid(std::string_view bytes);

[[nodiscard]] bool isValid(std::string_view bytes);

} // namespace Utf8

// Property lists (XML and binary) read with libplist into the plain values the scanners and the
// application inventory use. Safe to call from any thread; nothing is shared.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace PropertyList {

// The top level of a dictionary property list, looked up by key as written (case-sensitive). Values of
// other types read as absent; an array holding anything but strings keeps only its strings. Copies
// share the parsed list.
class Dictionary {
public:
    [[nodiscard]] std::optional<std::string> string(const std::string& key) const;
    [[nodiscard]] std::optional<std::vector<std::string>> stringArray(const std::string& key) const;

private:
    friend std::optional<Dictionary> parseDictionary(std::string_view bytes);
    explicit Dictionary(std::shared_ptr<void> root) : root(std::move(root)) {}
    std::shared_ptr<void> root;
};

// Property lists larger than this are not read: no real Info.plist comes near it.
inline constexpr std::size_t maximumBytes = 8 * 1024 * 1024;

// The dictionary in `bytes` (binary or XML), or nothing when they do not parse or the top level is not
// a dictionary.
[[nodiscard]] std::optional<Dictionary> parseDictionary(std::string_view bytes);

// The dictionary in the regular file at `path`. A missing, unreadable, oversized or unparsable file,
// and anything that is not a regular file (a FIFO never blocks the caller), gives nothing.
[[nodiscard]] std::optional<Dictionary> readDictionary(const std::string& path);

} // namespace PropertyList

// Identical files in the home folder: every copy but the oldest. Stateless; scan() runs on a runner
// worker thread and spreads its file reading over TBB tasks.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <string>
#include <unordered_set>

class DuplicateScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::duplicates; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    // Folder names never walked, at any depth (exact, case-sensitive).
    [[nodiscard]] static const std::unordered_set<std::string>& excluded();

    static constexpr std::int64_t minimumBytes = 1'000'000;
    static constexpr int depthLimit = 6;
    static constexpr std::size_t partialBlock = 65'536;
    static constexpr std::size_t fullChunk = 1'048'576;
};

namespace Duplicates {

// SHA-256 of the first and last 64 KiB (overlapping for short files); nothing when the file cannot be
// opened, is not a regular file, or its head reads nothing.
[[nodiscard]] std::optional<std::string> partialDigest(const std::string& path);
// SHA-256 of the whole contents, read in 1 MiB chunks; a read error ends the digest there.
[[nodiscard]] std::optional<std::string> fullDigest(const std::string& path);

} // namespace Duplicates

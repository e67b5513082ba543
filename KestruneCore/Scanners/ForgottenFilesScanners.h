// Files the user put aside and forgot: big files unused for half a year, screen captures, and what
// the mail client keeps of attachments. Stateless; scan() runs on a runner worker thread.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <array>
#include <chrono>
#include <set>
#include <string_view>

class LargeOldFilesScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::largeOldFiles; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    // Folder names never walked, at any depth (exact, case-sensitive).
    [[nodiscard]] static const std::set<std::string, std::less<>>& excluded();

    // Appends every file at least minimumBytes large below `path` whose last use (the later of its
    // modification and access dates) is before `cutoff`; folders are listed down to depthLimit.
    static void walk(const std::string& path, int depth, Date cutoff, std::vector<CleanupItem>& items);

    static constexpr std::int64_t minimumBytes = 200'000'000;
    static constexpr std::chrono::seconds age{15'552'000};
    static constexpr int depthLimit = 6;
};

class ScreenshotScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::screenshots; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    static constexpr std::array<std::string_view, 5> extensions{"png", "jpg", "jpeg", "mov", "heic"};
    static constexpr std::array<std::string_view, 4> prefixes{"Screenshot", "Screen Shot", "Screen Recording",
                                                              "CleanShot"};

    // Whether a file name looks like a capture: one of the prefixes and, lower-cased, one of the extensions.
    [[nodiscard]] static bool isCaptureName(std::string_view name);
};

class MailAttachmentScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::mailAttachments; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    static constexpr std::int64_t minimumBytes = 1'000'000;
    static constexpr std::array<std::string_view, 4> folders{
        "Library/Containers/com.apple.mail/Data/Library/Mail Downloads",
        "Library/Containers/com.apple.mail/Data/Library/Caches/Mail Downloads",
        "Library/Mail Downloads",
        "Library/Containers/com.apple.mail/Data/Library/Mail/Downloads",
    };
};

// Large data with a second home elsewhere: local copies of cloud-drive files, and device backups.
// Stateless (the cloud query is immutable and shared); scan() runs on a runner worker thread.
#pragma once

#include "KestruneCore/Platform/CloudStatus.h"
#include "KestruneCore/Scanners/Scanner.h"

#include <memory>
#include <string_view>

class CloudClutterScanner final : public Scanner {
public:
    CloudClutterScanner() : CloudClutterScanner(Platform::cloudStatus()) {}
    explicit CloudClutterScanner(std::shared_ptr<const Platform::CloudStatus> status)
        : status(std::move(status)) {}

    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::cloudClutter; }
    // Largest first, at most maximumItems.
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    // Appends downloaded entries of at least minimumBytes below `folder`; a large folder that is not
    // downloaded as a whole is entered instead, down to depthLimit.
    void collectDownloaded(const std::string& folder, int depth, std::vector<CleanupItem>& items) const;

    // False only when the service manages the item and says its contents are not on this computer.
    [[nodiscard]] bool isDownloadedUbiquitous(const std::string& path) const;

    static constexpr std::string_view root = "Library/Mobile Documents/com~apple~CloudDocs";
    static constexpr std::int64_t minimumBytes = 50'000'000;
    static constexpr std::size_t maximumItems = 200;
    static constexpr int depthLimit = 4;
    static constexpr std::string_view labelPrefix = "iCloud \u00B7 ";

private:
    std::shared_ptr<const Platform::CloudStatus> status;
};

class IOSBackupScanner final : public Scanner {
public:
    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::iosBackups; }
    // One item per backup folder, in listing order, labelled with the device's name.
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    static constexpr std::string_view root = "Library/Application Support/MobileSync/Backup";
    static constexpr std::int64_t minimumBytes = 10'000'000;
};

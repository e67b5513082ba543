// What the cloud document service says of a file or folder: whether it manages the item and whether
// its contents are on this computer. Queried from scanner worker threads; implementations keep no
// mutable state.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace Platform {

enum class DownloadingStatus { notDownloaded, downloaded, current };

struct CloudValues {
    bool isUbiquitousItem = false;
    std::optional<DownloadingStatus> downloadingStatus; // absent when the service gives none
};

class CloudStatus {
public:
    virtual ~CloudStatus() = default;
    // Nothing when the values cannot be read.
    [[nodiscard]] virtual std::optional<CloudValues> values(const std::string& path) const = 0;
};

// Linux has no cloud document service, so its values can never be read.
class UnavailableCloudStatus final : public CloudStatus {
public:
    [[nodiscard]] std::optional<CloudValues> values(const std::string&) const override {
        return std::nullopt;
    }
};

// The platform's query, shared and immutable.
[[nodiscard]] std::shared_ptr<const CloudStatus> cloudStatus();

} // namespace Platform

// The contract of every category scanner. scan() runs on one of the runner's worker threads, up to four
// at once, so a scanner keeps no mutable state of its own.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"
#include "KestruneCore/Walk/ScannerHelpers.h"

#include <memory>
#include <vector>

class Scanner {
public:
    virtual ~Scanner() = default;
    [[nodiscard]] virtual CategoryKind kind() const = 0;
    // Every reclaimable item of kind(), in any order; empty when nothing is found or readable. Never throws.
    [[nodiscard]] virtual std::vector<CleanupItem> scan() const = 0;

protected:
    [[nodiscard]] static std::string home() { return ScannerHelpers::home(); }
    [[nodiscard]] static std::vector<CleanupItem> children(const std::string& of, std::int64_t minBytes) {
        return ScannerHelpers::children(of, minBytes);
    }
};

using ScannerList = std::vector<std::shared_ptr<const Scanner>>;

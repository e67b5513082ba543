// Table-driven scanners of known browser, app and media-player locations: each row that exists and is
// large enough becomes one labelled item. Stateless, immutable tables; scan() runs on a runner worker
// thread.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <span>
#include <string_view>
#include <tuple>

class PrivacyTraceScanner final : public Scanner {
public:
    struct Target {
        std::string_view label;
        std::string_view relativePath; // file or folder under the home folder
        std::int64_t minBytes;
    };

    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::privacyTraces; }
    // At most one item per row, in table order.
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    [[nodiscard]] static std::span<const Target> targets();
};

class MediaLeftoversScanner final : public Scanner {
public:
    // label, path under the home folder, size floor
    using Row = std::tuple<std::string_view, std::string_view, std::int64_t>;

    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::mediaLeftovers; }
    // At most one item per row, in table order.
    [[nodiscard]] std::vector<CleanupItem> scan() const override;

    [[nodiscard]] static std::span<const Row> rows();
};

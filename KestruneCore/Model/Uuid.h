// Random (version 4) UUIDs from the kernel's random source.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    [[nodiscard]] static Uuid random();
    // Upper-case canonical text, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    [[nodiscard]] std::string text() const;
    // Canonical 8-4-4-4-12 text in either case; nothing for anything else.
    [[nodiscard]] static std::optional<Uuid> parse(const std::string& text);

    auto operator<=>(const Uuid&) const = default;
};

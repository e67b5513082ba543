// Points in time as the whole program stores them, and the one "unknown date" value.
#pragma once

#include <chrono>
#include <optional>
#include <string>

using Date = std::chrono::system_clock::time_point;

namespace Dates {

// Sorts before every real date; stands for a date that could not be read.
inline constexpr Date distantPast = Date::min();

[[nodiscard]] Date now();

// ISO 8601 in UTC without fractions, "2026-01-02T03:04:05Z". The distant past writes "0001-01-01T00:00:00Z".
[[nodiscard]] std::string iso8601(Date date);

// Strict reader of the form iso8601 writes (no fractions, "Z" only); nothing for anything else.
[[nodiscard]] std::optional<Date> parseIso8601(const std::string& text);

// The date in the current local time zone with a strftime pattern, "%Y-%m-%d %H:%M:%S" by default.
[[nodiscard]] std::string local(Date date, const char* pattern = "%Y-%m-%d %H:%M:%S");

} // namespace Dates

// The one byte-count text of the program. Any thread. (Measuring sizes on disk and free space is
// Walk/DiskMeasure.h's, in the same namespace.)
#pragma once

#include <cstdint>
#include <string>

namespace DiskMath {

// "—" for zero and below; decimal KB (no decimals), MB (one) or GB (two), trailing zeros dropped.
[[nodiscard]] std::string human(std::int64_t bytes);

} // namespace DiskMath

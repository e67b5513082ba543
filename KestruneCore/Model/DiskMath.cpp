#include "KestruneCore/Model/DiskMath.h"

namespace DiskMath {
namespace {

std::string withThousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const std::size_t lead = digits.size() % 3;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (i + 3 - lead) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

// value / 10^decimals with trailing zeros of the fraction dropped.
std::string fixed(std::uint64_t scaled, int decimals) {
    std::uint64_t divisor = 1;
    for (int i = 0; i < decimals; ++i) {
        divisor *= 10;
    }
    std::string out = withThousands(scaled / divisor);
    std::uint64_t fraction = scaled % divisor;
    int places = decimals;
    while (places > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --places;
    }
    if (places > 0) {
        std::string digits = std::to_string(fraction);
        out += '.';
        out += std::string(static_cast<std::size_t>(places) - digits.size(), '0') + digits;
    }
    return out;
}

} // namespace

std::string human(std::int64_t bytes) {
    if (bytes <= 0) {
        return "\u2014";
    }
    const auto b = static_cast<std::uint64_t>(bytes);
    const std::uint64_t kilo = (b + 500) / 1000;
    if (kilo < 1000) {
        return withThousands(kilo == 0 ? 1 : kilo) + " KB";
    }
    const std::uint64_t megaTenths = (b + 50'000) / 100'000;
    if (megaTenths < 10'000) {
        return fixed(megaTenths, 1) + " MB";
    }
    const std::uint64_t gigaHundredths = (b + 5'000'000) / 10'000'000;
    return fixed(gigaHundredths, 2) + " GB";
}

} // namespace DiskMath

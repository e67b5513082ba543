// UUIDs drawn from getrandom(2), buffered per thread so that making many items stays cheap.
#include "KestruneCore/Model/Uuid.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <sys/random.h>

namespace {

void fillRandom(std::uint8_t* out, size_t count) {
    thread_local std::array<std::uint8_t, 4096> pool{};
    thread_local size_t used = pool.size();
    while (count > 0) {
        if (used == pool.size()) {
            size_t filled = 0;
            while (filled < pool.size()) {
                const ssize_t n = getrandom(pool.data() + filled, pool.size() - filled, 0);
                if (n > 0) {
                    filled += static_cast<size_t>(n);
                } else if (n < 0 && errno != EINTR) {
                    // No kernel source: fall back to the library's device, still not a fixed seed.
                    std::random_device device;
                    for (; filled < pool.size(); ++filled) {
                        pool[filled] = static_cast<std::uint8_t>(device());
                    }
                }
            }
            used = 0;
        }
        const size_t take = std::min(count, pool.size() - used);
        std::memcpy(out, pool.data() + used, take);
        used += take;
        out += take;
        count -= take;
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

Uuid Uuid::random() {
    Uuid uuid;
    fillRandom(uuid.bytes.data(), uuid.bytes.size());
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
    return uuid;
}

std::string Uuid::text() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out += '-';
        }
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

std::optional<Uuid> Uuid::parse(const std::string& text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid;
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        uuid.bytes[byte++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return uuid;
}

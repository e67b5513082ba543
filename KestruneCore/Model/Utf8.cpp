// A small UTF-8 validator; invalid sequences are replaced one maximal subpart at a time.
#include "KestruneCore/Model/Utf8.h"

namespace Utf8 {
namespace {

// Length of the valid sequence starting at `i`, or 0 when the bytes there are not valid UTF-8.
size_t validLength(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) {
        return 1;
    }
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        if (c == 0xE0) {
            lo = 0xA0;
        } else if (c == 0xED) {
            hi = 0x9F;
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        if (c == 0xF0) {
            lo = 0x90;
        } else if (c == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) {
            return 0;
        }
        const unsigned char t = b(i + k);
        const unsigned char low = k == 1 ? lo : 0x80;
        const unsigned char high = k == 1 ? hi : 0xBF;
        if (t < low || t > high) {
            return 0;
        }
    }
    return need + 1;
}

} // namespace

bool isValid(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = validLength(bytes, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string valid(std::string_view bytes) {
    if (isValid(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = validLength(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

} // namespace Utf8

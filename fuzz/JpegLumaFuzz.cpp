// libFuzzer target of the JPEG luma reader: any bytes decode or are refused without a crash, a hang or
// a large allocation, and whatever the reader decodes, libjpeg-turbo (on its careful path) decodes to
// the same plane. The grid is made from every decoded plane.
#include "KestruneCore/Platform/Images.h"
#include "KestruneCore/Platform/JpegLuma.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const auto header = JpegLuma::readHeader(file);
    static_cast<void>(header);
    // Small enough that a header claiming a huge picture costs nothing.
    constexpr std::int64_t maximumPixels = 4'000'000;
    JpegLuma::Plane fast;
    if (JpegLuma::decodeDc(file, fast, maximumPixels) != JpegLuma::Outcome::decoded) {
        return 0;
    }
    if (fast.pixels.size() != static_cast<std::size_t>(fast.width) * static_cast<std::size_t>(fast.height)) {
        std::abort();
    }
    const auto grid = Images::gridFromLuma(fast);
    static_cast<void>(grid);
    JpegLuma::Plane reference;
    if (JpegLuma::decodeWithLibjpeg(file, reference, maximumPixels, 64) != JpegLuma::Outcome::decoded ||
        reference.pixels != fast.pixels) {
        std::abort();
    }
    return 0;
}

// libFuzzer target of the JPEG luma reader: any bytes decode or are refused without a crash, a hang or
// a large allocation; whatever the reader decodes, libjpeg-turbo (on its careful path) decodes to the
// same plane, and whatever it refuses, libjpeg-turbo refuses too. Read as two runs taking turns, the
// outcome and plane are those of one run. The grid is made from every decoded plane.
#include "KestruneCore/Images/Images.h"
#include "KestruneCore/Images/JpegLuma.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const auto header = JpegLuma::readHeader(file);
    static_cast<void>(header);
    // Small enough that a header claiming a huge picture costs nothing.
    constexpr std::int64_t maximumPixels = 4'000'000;
    JpegLuma::Plane fast;
    const auto outcome =
        JpegLuma::decodeDc(file, fast, maximumPixels, std::numeric_limits<std::size_t>::max());
    JpegLuma::Plane split;
    const auto splitOutcome = JpegLuma::decodeDc(file, split, maximumPixels, 1);
    if (splitOutcome != outcome || (outcome == JpegLuma::Outcome::decoded && split.pixels != fast.pixels)) {
        std::abort();
    }
    JpegLuma::Plane reference;
    if (outcome == JpegLuma::Outcome::failed) {
        if (JpegLuma::decodeWithLibjpeg(file, reference, maximumPixels, 64) != JpegLuma::Outcome::failed) {
            std::abort();
        }
        return 0;
    }
    if (outcome != JpegLuma::Outcome::decoded) {
        return 0;
    }
    if (fast.pixels.size() != static_cast<std::size_t>(fast.width) * static_cast<std::size_t>(fast.height)) {
        std::abort();
    }
    const auto grid = Images::gridFromLuma(fast);
    static_cast<void>(grid);
    if (JpegLuma::decodeWithLibjpeg(file, reference, maximumPixels, 64) != JpegLuma::Outcome::decoded ||
        reference.pixels != fast.pixels) {
        std::abort();
    }
    return 0;
}

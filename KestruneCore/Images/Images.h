// Image files: stored dimensions from the header alone, and an 8 x 8 grey grid made from an
// orientation-corrected thumbnail of the full image. JPEGs are read by JpegLuma (their luma at 1/8
// scale, straight from the DC terms); every other format through libvips. Safe from any thread; each
// call owns its images.
#pragma once

#include "KestruneCore/Images/JpegLuma.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace Images {

struct PixelSize {
    int width = 0;
    int height = 0;
};

// Images with more pixels than this are refused: a header may claim any size (a "decompression bomb"),
// and formats without shrink-on-load would be decoded whole. Far above any camera's output.
inline constexpr std::int64_t maximumPixels = 250'000'000;

// The width and height stored in the file (before orientation is applied), read without decoding
// pixels. Nothing when the file is not a JPEG, PNG, HEIF, TIFF, WebP or GIF image, has no positive
// dimensions, or exceeds maximumPixels.
[[nodiscard]] std::optional<PixelSize> pixelSize(const std::string& path);

// 64 grey bytes, row by row: the image decoded straight to a thumbnail whose longest side is at most
// 8 pixels (from the full image, never an embedded preview), turned upright by its orientation tag,
// flattened onto black, and stretched bilinearly over the full 8 x 8 grid. Nothing when any step
// fails, including a file truncated or changed while it is read.
//
// A JPEG's thumbnail is the area average of its 1/8-scale luma; other formats use libvips' thumbnail
// (shrink-on-load where the format has it) turned grey.
[[nodiscard]] std::optional<std::array<std::uint8_t, 64>> greyGrid(const std::string& path);

struct Examined {
    PixelSize size;
    std::array<std::uint8_t, 64> grid{};
};

// pixelSize and greyGrid together, reading the file once; nothing when either would be nothing.
[[nodiscard]] std::optional<Examined> examine(const std::string& path);

// For tests and benchmarks: the grid made from a JPEG's 1/8 luma plane (orientation, area-averaged
// thumbnail, stretch).
[[nodiscard]] std::array<std::uint8_t, 64> gridFromLuma(const JpegLuma::Plane& plane);

// Why an image other than a JPEG could not be read at all (the libvips module is missing or of another
// build), for a scan to say once; empty when no such image needed the module or it loaded. Read it
// after the work that examined images is over.
[[nodiscard]] std::string otherFormatsProblem();

// For benchmarks: decodes every pixel of the image at full size (no shrink-on-load) and returns the
// mean of its first band, or nothing on failure.
[[nodiscard]] std::optional<double> decodeFully(const std::string& path);

} // namespace Images

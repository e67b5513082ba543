// The boundary between the core and the libvips module (kestrune-vips.so). libvips and the hundred
// libraries it brings (codecs, GLib, X, TLS) cost every process about 19 ms to load and relocate, while
// only a scan that meets a PNG, HEIF, TIFF, WebP or GIF photo needs them; so they live in a module the
// core loads on first use. Plain C types only: the module and the program are built apart.
#pragma once

#include <cstdint>

extern "C" {

struct KestruneVipsCodec {
    // Equal to kestruneVipsCodecVersion for a module of this build; anything else is refused.
    std::uint32_t version;
    // The stored width and height of a PNG, HEIF, TIFF, WebP or GIF image, from its header; false for
    // any other file, for non-positive dimensions and above `maximumPixels`. `path` is a regular file.
    bool (*pixelSize)(const char* path, std::int64_t maximumPixels, int* width, int* height);
    // The 8 x 8 grey grid of such an image (see Images::greyGrid); false when any step fails.
    bool (*greyGrid)(const char* path, std::int64_t maximumPixels, std::uint8_t grid[64]);
    // Every pixel decoded at full size; the mean of the first band. For benchmarks.
    bool (*decodeFully)(const char* path, double* mean);
};

// The module's one entry point.
const KestruneVipsCodec* kestrune_vips_codec();
}

inline constexpr std::uint32_t kestruneVipsCodecVersion = 1;
inline constexpr const char* kestruneVipsModuleName = "kestrune-vips.so";

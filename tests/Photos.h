// Photo-like JPEG files written with libvips, for the image tests.
#pragma once

#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <random>

namespace TestPhotos {

// A smooth random landscape of 6 x 4 patches, scaled up bilinearly, with a little noise; equal seeds
// give the same picture at any size.
inline VipsImage* scene(int width, int height, unsigned seed) {
    static const bool started = VIPS_INIT("kestrune_tests") == 0;
    EXPECT_TRUE(started);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, 255);
    std::vector<std::uint8_t> patches(6 * 4 * 3);
    for (auto& byte : patches) {
        byte = static_cast<std::uint8_t>(value(random));
    }
    VipsImage* small =
        vips_image_new_from_memory_copy(patches.data(), patches.size(), 6, 4, 3, VIPS_FORMAT_UCHAR);
    VipsImage* large = nullptr;
    EXPECT_EQ(vips_resize(small, &large, width / 6.0, "vscale", height / 4.0, "kernel", VIPS_KERNEL_LINEAR,
                          nullptr),
              0);
    VipsImage* grain = nullptr;
    EXPECT_EQ(vips_gaussnoise(&grain, large->Xsize, large->Ysize, "mean", 0.0, "sigma", 6.0, nullptr), 0);
    VipsImage* sum = nullptr;
    EXPECT_EQ(vips_add(large, grain, &sum, nullptr), 0);
    VipsImage* bytes = nullptr;
    EXPECT_EQ(vips_cast_uchar(sum, &bytes, nullptr), 0);
    for (VipsImage* image : {small, large, grain, sum}) {
        g_object_unref(image);
    }
    return bytes;
}

inline std::string writeJpeg(VipsImage* image, const std::string& path, int quality) {
    TestTree::makeFolder(path.substr(0, path.rfind('/')));
    EXPECT_EQ(vips_jpegsave(image, path.c_str(), "Q", quality, nullptr), 0) << vips_error_buffer();
    return path;
}

inline std::string photo(const std::string& path, int width, int height, unsigned seed, int quality = 90) {
    VipsImage* image = scene(width, height, seed);
    writeJpeg(image, path, quality);
    g_object_unref(image);
    return path;
}

} // namespace TestPhotos

// libvips behind the module boundary (see VipsModule.h): started once, with its operation cache off
// (every file is read once, and a cache would hold decoded images) and with loaders it does not trust
// (ImageMagick and the like) blocked, so an odd file never reaches a general-purpose decoder.
#include "KestruneCore/Images/VipsModule.h"

#include <vips/vips.h>
// After vips.h, which it needs.
#include <vips/vector.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace {

bool started() {
    static const bool ok = [] {
        if (VIPS_INIT("kestrune") != 0) {
            return false;
        }
        vips_cache_set_max(0);
        vips_block_untrusted_set(TRUE);
        // Each scan hashes several files at once on its own threads.
        vips_concurrency_set(1);
        // liborc's run-time generated vector code crashed a whole-home scan here (a segfault inside
        // liborc while several files were resized at once); the plain C paths are fast enough for
        // thumbnails of a few pixels.
        vips_vector_set_enabled(FALSE);
        return true;
    }();
    return ok;
}

struct Unref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using Image = std::unique_ptr<VipsImage, Unref>;

// The loader libvips picks by sniffing the file's first bytes, if it is one of the formats we read.
enum class Format { none, heif, other };

Format formatOf(const std::string& path) {
    const char* loader = vips_foreign_find_load(path.c_str());
    if (loader == nullptr) {
        vips_error_clear();
        return Format::none;
    }
    const std::string_view name(loader);
    for (const std::string_view accepted :
         {"VipsForeignLoadJpeg", "VipsForeignLoadPng", "VipsForeignLoadSpng", "VipsForeignLoadTiff",
          "VipsForeignLoadWebp", "VipsForeignLoadGif", "VipsForeignLoadNsgif"}) {
        if (name.starts_with(accepted)) {
            return Format::other;
        }
    }
    return name.starts_with("VipsForeignLoadHeif") ? Format::heif : Format::none;
}

Image header(const std::string& path) {
    VipsImage* image = vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (image == nullptr) {
        vips_error_clear();
    }
    return Image(image);
}

bool withinLimits(const VipsImage* image, std::int64_t maximumPixels) {
    const std::int64_t width = image->Xsize;
    const std::int64_t height = image->Ysize;
    return width > 0 && height > 0 && width * height <= maximumPixels;
}

// Runs one libvips operation that makes an image; nothing on failure.
template <typename Call> Image make(Call call) {
    VipsImage* out = nullptr;
    if (call(&out) != 0) {
        vips_error_clear();
        return {};
    }
    return Image(out);
}

std::optional<std::pair<int, int>> vipsSize(const std::string& path, std::int64_t maximumPixels) {
    if (!started() || formatOf(path) == Format::none) {
        return std::nullopt;
    }
    const Image image = header(path);
    if (!image || !withinLimits(image.get(), maximumPixels)) {
        return std::nullopt;
    }
    return std::pair{image->Xsize, image->Ysize};
}

std::optional<std::array<std::uint8_t, 64>> vipsGrid(const std::string& path, std::int64_t maximumPixels) {
    if (!started()) {
        return std::nullopt;
    }
    const Format format = formatOf(path);
    if (format == Format::none) {
        return std::nullopt;
    }
    {
        const Image image = header(path);
        if (!image || !withinLimits(image.get(), maximumPixels)) {
            return std::nullopt;
        }
    }
    Image thumbnail;
    if (format == Format::heif) {
        // libvips makes HEIF thumbnails from the embedded preview when one is big enough; load the
        // primary image itself and shrink that instead.
        const Image full = make([&](VipsImage** out) {
            return vips_heifload(path.c_str(), out, "access", VIPS_ACCESS_SEQUENTIAL, "thumbnail", FALSE,
                                 "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr);
        });
        if (full) {
            thumbnail =
                make([&](VipsImage** out) { return vips_thumbnail_image(full.get(), out, 8, nullptr); });
        }
    } else {
        thumbnail = make([&](VipsImage** out) {
            return vips_thumbnail(path.c_str(), out, 8, "height", 8, "fail_on", VIPS_FAIL_ON_TRUNCATED,
                                  nullptr);
        });
    }
    if (!thumbnail) {
        return std::nullopt;
    }
    // Transparent pixels count as black, as when drawing onto a zeroed grey canvas.
    Image opaque = vips_image_hasalpha(thumbnail.get())
                       ? make([&](VipsImage** out) { return vips_flatten(thumbnail.get(), out, nullptr); })
                       : std::move(thumbnail);
    if (!opaque) {
        return std::nullopt;
    }
    const Image grey = make([&](VipsImage** out) {
        return vips_colourspace(opaque.get(), out, VIPS_INTERPRETATION_B_W, nullptr);
    });
    if (!grey) {
        return std::nullopt;
    }
    const double xScale = 8.0 / grey->Xsize;
    const double yScale = 8.0 / grey->Ysize;
    const Image stretched = make([&](VipsImage** out) {
        return vips_resize(grey.get(), out, xScale, "vscale", yScale, "kernel", VIPS_KERNEL_LINEAR, nullptr);
    });
    if (!stretched) {
        return std::nullopt;
    }
    const Image bytes = make([&](VipsImage** out) {
        VipsImage* firstBand = nullptr;
        if (vips_extract_band(stretched.get(), &firstBand, 0, nullptr) != 0) {
            return -1;
        }
        const int status = vips_cast_uchar(firstBand, out, nullptr);
        g_object_unref(firstBand);
        return status;
    });
    if (!bytes || bytes->Xsize != 8 || bytes->Ysize != 8) {
        return std::nullopt;
    }
    std::size_t length = 0;
    void* memory = vips_image_write_to_memory(bytes.get(), &length);
    if (memory == nullptr) {
        vips_error_clear();
        return std::nullopt;
    }
    std::optional<std::array<std::uint8_t, 64>> grid;
    if (length == 64) {
        grid.emplace();
        std::memcpy(grid->data(), memory, 64);
    }
    g_free(memory);
    return grid;
}

std::optional<double> vipsDecodeFully(const std::string& path) {
    if (!started()) {
        return std::nullopt;
    }
    const Image image = make([&](VipsImage** out) {
        *out = vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
        return *out == nullptr ? -1 : 0;
    });
    if (!image) {
        return std::nullopt;
    }
    double mean = 0;
    if (vips_avg(image.get(), &mean, nullptr) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    return mean;
}

const KestruneVipsCodec codec{
    kestruneVipsCodecVersion,
    [](const char* path, std::int64_t maximumPixels, int* width, int* height) {
        const auto size = vipsSize(path, maximumPixels);
        if (size) {
            std::tie(*width, *height) = *size;
        }
        return size.has_value();
    },
    [](const char* path, std::int64_t maximumPixels, std::uint8_t grid[64]) {
        const auto made = vipsGrid(path, maximumPixels);
        if (made) {
            std::memcpy(grid, made->data(), 64);
        }
        return made.has_value();
    },
    [](const char* path, double* mean) {
        const auto found = vipsDecodeFully(path);
        if (found) {
            *mean = *found;
        }
        return found.has_value();
    },
};

} // namespace

extern "C" __attribute__((visibility("default"))) const KestruneVipsCodec* kestrune_vips_codec() {
    return &codec;
}

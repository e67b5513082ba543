// Writes a folder of camera-sized JPEG photos for the image benchmarks: 400 originals of 4032 x 3024
// (large light and dark areas, smaller colour fields and fine grain, so they compress like photos),
// then 100 of them saved again at another quality, 50 exported at half size and 50 turned a quarter.
// Usage: make-images DIR   (writes DIR/Pictures/...)
//        make-images DIR COUNT WIDTH HEIGHT   (COUNT distinct photos of that size in DIR/Pictures/Camera)
#include <vips/vips.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Unref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using Image = std::unique_ptr<VipsImage, Unref>;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "make-images: %s: %s\n", what.c_str(), vips_error_buffer());
    std::exit(1);
}

// Runs one libvips operation that writes its output through the pointer it is given.
template <typename Operation> Image run(const std::string& what, Operation operation) {
    VipsImage* out = nullptr;
    if (operation(&out) != 0 || out == nullptr) {
        fail(what);
    }
    return Image(out);
}

Image photo(int index, int width = 4032, int height = 3024) {
    VipsImage* bands[3] = {};
    std::vector<Image> channel;
    for (int b = 0; b < 3; ++b) {
        const int seed = index * 3 + b;
        const Image coarse = run("noise", [&](VipsImage** out) {
            return vips_gaussnoise(out, width / 16, height / 16, "sigma", 45.0, "seed", seed, nullptr);
        });
        const Image smooth = run("resize", [&](VipsImage** out) {
            return vips_resize(coarse.get(), out, 16.0, "kernel", VIPS_KERNEL_CUBIC, nullptr);
        });
        const Image grain = run("grain", [&](VipsImage** out) {
            return vips_gaussnoise(out, width, height, "sigma", 6.0, "mean", 0.0, "seed", 100000 + seed,
                                   nullptr);
        });
        // The picture itself: a few large light and dark areas, different in every photo, which is what
        // an 8 x 8 grid sees. (Fine texture alone averages out to the same grey everywhere.)
        const Image scene = run("scene", [&](VipsImage** out) {
            return vips_gaussnoise(out, 6, 5, "sigma", 55.0, "mean", 0.0, "seed", 500000 + seed, nullptr);
        });
        const Image slope = run("resize", [&](VipsImage** out) {
            return vips_resize(scene.get(), out, width / 6.0, "vscale", height / 5.0, "kernel",
                               VIPS_KERNEL_LINEAR, nullptr);
        });
        const Image grained =
            run("add", [&](VipsImage** out) { return vips_add(smooth.get(), grain.get(), out, nullptr); });
        const Image sum =
            run("add", [&](VipsImage** out) { return vips_add(grained.get(), slope.get(), out, nullptr); });
        channel.push_back(
            run("cast", [&](VipsImage** out) { return vips_cast_uchar(sum.get(), out, nullptr); }));
        bands[b] = channel.back().get();
    }
    Image colour = run("bandjoin", [&](VipsImage** out) { return vips_bandjoin(bands, out, 3, nullptr); });
    colour->Type = VIPS_INTERPRETATION_sRGB;
    return colour;
}

void save(VipsImage* image, const std::filesystem::path& path, int quality) {
    if (vips_jpegsave(image, path.c_str(), "Q", quality, nullptr) != 0) {
        fail("save " + path.string());
    }
}

Image load(const std::filesystem::path& path) {
    return run("load " + path.string(), [&](VipsImage** out) {
        *out = vips_image_new_from_file(path.c_str(), nullptr);
        return *out == nullptr ? -1 : 0;
    });
}

} // namespace

int main(int argc, char** argv) {
    if ((argc != 2 && argc != 5) || VIPS_INIT(argv[0]) != 0) {
        std::fprintf(stderr, "usage: make-images DIR [COUNT WIDTH HEIGHT]\n");
        return 2;
    }
    const std::filesystem::path pictures = std::filesystem::path(argv[1]) / "Pictures";
    if (argc == 5) {
        const int count = std::atoi(argv[2]);
        const int width = std::atoi(argv[3]);
        const int height = std::atoi(argv[4]);
        if (count <= 0 || width < 16 || height < 16) {
            std::fprintf(stderr, "make-images: COUNT must be positive, WIDTH and HEIGHT at least 16\n");
            return 2;
        }
        std::filesystem::create_directories(pictures / "Camera");
        for (int i = 0; i < count; ++i) {
            save(photo(5000 + i, width, height).get(),
                 pictures / "Camera" / ("DSC_" + std::to_string(10000 + i) + ".jpg"), 90);
        }
        vips_shutdown();
        return 0;
    }
    for (const char* folder : {"Originals", "Reencoded", "Exports", "Rotated"}) {
        std::filesystem::create_directories(pictures / folder);
    }
    auto original = [&](int i) {
        return pictures / "Originals" / ("IMG_" + std::to_string(1000 + i) + ".jpg");
    };
    for (int i = 0; i < 400; ++i) {
        save(photo(i).get(), original(i), 88);
    }
    for (int i = 0; i < 100; ++i) {
        save(load(original(i)).get(),
             pictures / "Reencoded" / ("IMG_" + std::to_string(1000 + i) + "_q70.jpg"), 70);
    }
    for (int i = 100; i < 150; ++i) {
        const Image source = load(original(i));
        const Image out =
            run("export", [&](VipsImage** o) { return vips_resize(source.get(), o, 0.5, nullptr); });
        save(out.get(), pictures / "Exports" / ("IMG_" + std::to_string(1000 + i) + "_export.jpg"), 85);
    }
    for (int i = 150; i < 200; ++i) {
        const Image source = load(original(i));
        const Image out = run("rotate", [&](VipsImage** o) { return vips_rot90(source.get(), o, nullptr); });
        save(out.get(), pictures / "Rotated" / ("IMG_" + std::to_string(1000 + i) + "_rotated.jpg"), 88);
    }
    vips_shutdown();
    return 0;
}

// Similar images on real files: photos written with libvips, the walk's rules on real trees, and the
// clustering rules on hashes chosen bit by bit.
#include "KestruneCore/Scanners/SimilarImagesScanner.h"

#include "KestruneCore/Images/Images.h"
#include "tests/Photos.h"
#include "tests/TestHome.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const auto now = std::chrono::system_clock::now();

using TestPhotos::photo;
using TestPhotos::scene;
using TestPhotos::writeJpeg;

SimilarImages::Hashed hashed(const std::string& url, std::uint64_t hash, Date modified, int width = 640,
                             int height = 480) {
    return {CleanupItem(url, 200'000, modified), width, height, hash};
}

// The items of one scan of the current home, by path.
std::map<std::string, std::string> scanned() {
    std::map<std::string, std::string> labels;
    for (const auto& item : SimilarImagesScanner().scan()) {
        labels[item.url] = item.label.value_or("");
    }
    return labels;
}

TEST(SimilarImages, OtherDimensionsAreNeverCompared) {
    TestTree::TemporaryHome home;
    const auto full = photo(home / "Pictures/full.jpg", 4032, 3024, 11);
    const auto half = photo(home / "Pictures/half.jpg", 2016, 1512, 11);
    // The same scene turned a quarter: its stored dimensions are swapped.
    VipsImage* upright = scene(1200, 900, 12);
    VipsImage* turned = nullptr;
    ASSERT_EQ(vips_rot90(upright, &turned, nullptr), 0);
    writeJpeg(upright, home / "Pictures/wide.jpg", 90);
    writeJpeg(turned, home / "Pictures/tall.jpg", 90);
    g_object_unref(upright);
    g_object_unref(turned);
    TestTree::setModified(full, now - 48h);

    const auto fullSize = Images::pixelSize(full);
    ASSERT_TRUE(fullSize.has_value());
    EXPECT_EQ(fullSize->width, 4032);
    EXPECT_EQ(fullSize->height, 3024);
    const auto tallSize = Images::pixelSize(home / "Pictures/tall.jpg");
    ASSERT_TRUE(tallSize.has_value());
    EXPECT_EQ(tallSize->width, 900);
    // Same scene, so the hashes are close: only the buckets keep them apart.
    const auto fullGrid = Images::greyGrid(full);
    const auto halfGrid = Images::greyGrid(half);
    ASSERT_TRUE(fullGrid && halfGrid);
    EXPECT_LE(std::popcount(SimilarImages::averageHash(*fullGrid) ^ SimilarImages::averageHash(*halfGrid)),
              8);
    EXPECT_TRUE(scanned().empty());
}

TEST(SimilarImages, OrientationTagTurnsTheThumbnailUpright) {
    TestTree::TemporaryHome home;
    // A picture stored sideways with the tag that says "turn a quarter": its grid must match the
    // picture stored upright, and its stored dimensions stay those in the file.
    VipsImage* upright = scene(800, 600, 21);
    VipsImage* sideways = nullptr;
    ASSERT_EQ(vips_rot270(upright, &sideways, nullptr), 0);
    VipsImage* tagged = nullptr;
    ASSERT_EQ(vips_copy(sideways, &tagged, nullptr), 0);
    vips_image_set_int(tagged, VIPS_META_ORIENTATION, 6);
    writeJpeg(upright, home / "Pictures/upright.jpg", 92);
    writeJpeg(tagged, home / "Pictures/tagged.jpg", 92);
    for (VipsImage* image : {upright, sideways, tagged}) {
        g_object_unref(image);
    }
    const auto size = Images::pixelSize(home / "Pictures/tagged.jpg");
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 600);
    const auto a = Images::greyGrid(home / "Pictures/upright.jpg");
    const auto b = Images::greyGrid(home / "Pictures/tagged.jpg");
    ASSERT_TRUE(a && b);
    EXPECT_LE(std::popcount(SimilarImages::averageHash(*a) ^ SimilarImages::averageHash(*b)), 4);
}

TEST(SimilarImages, EightBitsApartAreSimilarAndNineAreNot) {
    const std::uint64_t base = 0x0123'4567'89ab'cdefULL;
    const std::uint64_t eight = base ^ 0xffULL;
    const std::uint64_t nine = base ^ 0x1ffULL;
    const auto items = SimilarImages::cluster({hashed("/h/Pictures/a.jpg", base, now - 48h),
                                               hashed("/h/Pictures/b.jpg", eight, now - 24h),
                                               hashed("/h/Pictures/c.jpg", nine, now - 24h)});
    ASSERT_EQ(items.size(), 1U);
    EXPECT_EQ(items[0].url, "/h/Pictures/b.jpg");
    EXPECT_EQ(items[0].label, "Similar to a.jpg");
    EXPECT_EQ(items[0].name(), "Similar to a.jpg");
    // Flat images hash to all ones, so any two of the same size are similar.
    std::array<std::uint8_t, 64> flat{};
    flat.fill(137);
    EXPECT_EQ(SimilarImages::averageHash(flat), ~std::uint64_t{0});
}

TEST(SimilarImages, ClustersFormAroundTheFirstMemberNotTransitively) {
    const std::uint64_t a = 0;
    const std::uint64_t b = 0x3fULL;       // 6 bits from a
    const std::uint64_t c = 0x3fULL << 6;  // 6 bits from a, 12 from b
    const std::uint64_t d = 0x3fULL << 14; // 6 from a too, but listed after c in another bucket
    const auto items = SimilarImages::cluster({
        hashed("/h/A.jpg", a, now - 72h),
        hashed("/h/B.jpg", b, now - 24h),
        hashed("/h/C.jpg", c, now - 48h),
        hashed("/h/D.jpg", d, now, 1024, 768),
    });
    std::map<std::string, std::string> labels;
    for (const auto& item : items) {
        labels[item.url] = *item.label;
    }
    EXPECT_EQ(labels, (std::map<std::string, std::string>{{"/h/B.jpg", "Similar to A.jpg"},
                                                          {"/h/C.jpg", "Similar to A.jpg"}}));

    // B first in the bucket: B's cluster takes A (6 bits) but not C (12 bits); C stays alone.
    const auto fromB =
        SimilarImages::cluster({hashed("/h/B.jpg", b, now - 24h), hashed("/h/A.jpg", a, now - 72h),
                                hashed("/h/C.jpg", c, now - 48h)});
    ASSERT_EQ(fromB.size(), 1U);
    EXPECT_EQ(fromB[0].url, "/h/B.jpg");
    EXPECT_EQ(fromB[0].label, "Similar to A.jpg") << "the oldest of the cluster is kept";

    // Equal dates keep the first listed.
    const auto tie =
        SimilarImages::cluster({hashed("/h/first.jpg", a, now), hashed("/h/second.jpg", a, now)});
    ASSERT_EQ(tie.size(), 1U);
    EXPECT_EQ(tie[0].url, "/h/second.jpg");
}

TEST(SimilarImages, WalkKeepsOnlyLargeEnoughVisibleImagesOutsideSkippedFolders) {
    TestTree::TemporaryHome home;
    // Allocations are whole 4,096-byte blocks: 98,304 is the largest below the floor.
    TestTree::makeFile(home / "Pictures/small.jpg", 98'304);
    const auto upper = TestTree::makeFile(home / "Pictures/photo.JPG", 200'000);
    TestTree::makeFile(home / "Pictures/.hidden.jpg", 200'000);
    TestTree::makeFile(home / "Pictures/.hidden/in.jpg", 200'000);
    TestTree::makeFile(home / "Pictures/Caches/thumb.png", 200'000);
    TestTree::makeFile(home / "Pictures/Library/a.png", 200'000);
    TestTree::makeFile(home / "Pictures/node_modules/a.png", 200'000);
    TestTree::makeFile(home / "Pictures/notes.txt", 200'000);
    TestTree::makeFile(home / "Pictures/no extension", 200'000);
    const auto inLibrary =
        TestTree::makeFile(home / "Pictures/Photos Library.photoslibrary/originals/a.heic", 102'400);
    const auto deep = TestTree::makeFile(home / "Desktop/1/2/3/4/5/deep.webp", 200'000);
    TestTree::makeFile(home / "Desktop/1/2/3/4/5/6/too deep.webp", 200'000);
    TestTree::makeFile(home / "Documents/elsewhere.jpg", 200'000);
    ASSERT_EQ(::symlink(upper.c_str(), (home / "Downloads").c_str()), 0) << "a linked root is not a folder";

    std::vector<std::string> urls;
    for (const auto& candidate : SimilarImages::collect(home.path())) {
        urls.push_back(candidate.url);
        EXPECT_GE(candidate.bytes, SimilarImagesScanner::minimumBytes);
    }
    std::sort(urls.begin(), urls.end());
    std::vector<std::string> expected{deep, upper, inLibrary};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(urls, expected);
}

TEST(SimilarImages, TwoThousandCandidatesFromPicturesStopTheWalk) {
    TestTree::TemporaryHome home;
    for (int i = 0; i < 2'500; ++i) {
        TestTree::makeFile(home / ("Pictures/burst/" + std::to_string(i) + ".jpg"), 102'400);
    }
    TestTree::makeFile(home / "Desktop/desk.jpg", 102'400);
    const auto candidates = SimilarImages::collect(home.path());
    EXPECT_EQ(candidates.size(), 2'000U);
    EXPECT_TRUE(std::none_of(candidates.begin(), candidates.end(), [](const CleanupItem& c) {
        return c.url.find("/Desktop/") != std::string::npos;
    }));
}

TEST(SimilarImages, FlatGreyPhotoHashesToAllOnes) {
    TestTree::TemporaryHome home;
    g_object_unref(scene(6, 4, 1)); // starts libvips
    VipsImage* grey = nullptr;
    ASSERT_EQ(vips_black(&grey, 1000, 800, "bands", 3, nullptr), 0);
    VipsImage* lifted = nullptr;
    ASSERT_EQ(vips_linear1(grey, &lifted, 1.0, 128.0, nullptr), 0);
    VipsImage* bytes = nullptr;
    ASSERT_EQ(vips_cast_uchar(lifted, &bytes, nullptr), 0);
    ASSERT_EQ(vips_pngsave(bytes, (home / "flat.png").c_str(), nullptr), 0);
    for (VipsImage* image : {grey, lifted, bytes}) {
        g_object_unref(image);
    }
    const auto grid = Images::greyGrid(home / "flat.png");
    ASSERT_TRUE(grid.has_value());
    EXPECT_EQ(SimilarImages::averageHash(*grid), ~std::uint64_t{0});
}

// A PNG whose header claims `width` x `height` followed by one tiny compressed row.
std::string pngClaiming(std::uint32_t width, std::uint32_t height) {
    const auto crc32 = [](const std::string& bytes) {
        std::uint32_t crc = 0xffffffffU;
        for (const unsigned char byte : bytes) {
            crc ^= byte;
            for (int k = 0; k < 8; ++k) {
                crc = (crc >> 1) ^ (0xedb88320U & (0U - (crc & 1U)));
            }
        }
        return ~crc;
    };
    const auto big = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        return big(static_cast<std::uint32_t>(data.size())) + type + data + big(crc32(type + data));
    };
    std::string ihdr = big(width) + big(height) + std::string("\x08\x00\x00\x00\x00", 5);
    // zlib stream of a few zero bytes
    const std::string idat("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01", 10);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", idat) +
           chunk("IEND", "");
}

TEST(SimilarImages, BadFilesAreSkippedWithoutHarm) {
    TestTree::TemporaryHome home;
    const auto good = photo(home / "Pictures/good.jpg", 1600, 1200, 31);
    const std::string bytes = TestTree::readFile(good);
    TestTree::writeFile(home / "Pictures/truncated.jpg", bytes.substr(0, bytes.size() / 2));
    TestTree::writeFile(home / "Pictures/bomb.png", pngClaiming(100'000, 100'000));
    TestTree::writeFile(home / "Pictures/fake.heic", std::string(150'000, 'x'));
    TestTree::writeFile(home / "Pictures/corrupt.jpg",
                        "\xff\xd8\xff\xe0 not really a jpeg" + std::string(120'000, 'q'));
    ASSERT_EQ(::mkfifo((home / "Pictures/photo.jpg").c_str(), 0600), 0);

    for (const char* name : {"truncated.jpg", "bomb.png", "fake.heic", "corrupt.jpg", "photo.jpg"}) {
        const std::string path = home / (std::string("Pictures/") + name);
        EXPECT_FALSE(Images::greyGrid(path).has_value()) << name;
    }
    EXPECT_FALSE(Images::pixelSize(home / "Pictures/bomb.png").has_value()) << "dimensions beyond the limit";
    EXPECT_FALSE(Images::pixelSize(home / "Pictures/fake.heic").has_value());
    EXPECT_TRUE(Images::greyGrid(good).has_value());

    // The whole scan in a child process: it finishes and stays small.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(KESTRUNE_CLI_PATH, KESTRUNE_CLI_PATH, "scan", "--only", "similarImages", "--json", "--quiet",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak resident KiB";
#endif
}

// libvips is a module loaded on the first photo that is not a JPEG: the program finds it in its build
// tree, and a copy of the program that cannot find it still compares JPEGs and says what it left out.
TEST(SimilarImages, PhotosOtherThanJpegNeedTheModuleAndItsAbsenceIsSaid) {
    TestTree::TemporaryHome home;
    if (std::filesystem::exists("/usr/local/lib/kestrune/kestrune-vips.so")) {
        GTEST_SKIP() << "an installed module would be found";
    }
    photo(home / "Pictures/a.jpg", 1600, 1200, 41);
    photo(home / "Pictures/b.jpg", 1600, 1200, 41, 80);
    for (const char* name : {"c.png", "d.png"}) {
        VipsImage* image = scene(1600, 1200, 42);
        ASSERT_EQ(vips_pngsave(image, (home / (std::string("Pictures/") + name)).c_str(), nullptr), 0);
        g_object_unref(image);
    }
    const std::string lonely = home / "bin/x/y/kestrune-cli";
    TestTree::makeFolder(home / "bin/x/y");
    std::filesystem::copy_file(KESTRUNE_CLI_PATH, lonely);
    for (const auto& [program, modular] :
         {std::pair{std::string(KESTRUNE_CLI_PATH), true}, {lonely, false}}) {
        const auto result =
            TestTree::run({program, "scan", "--only", "similarImages", "--json", "--quiet", "--no-cache"});
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_NE(result.output.find(home / "Pictures/b.jpg"), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find(home / "Pictures/d.png") != std::string::npos, modular) << result.output;
        EXPECT_EQ(result.output.find("only JPEG photos were compared") != std::string::npos, !modular)
            << result.output;
    }
}

TEST(SimilarImages, FileShrinkingWhileHashedIsSkippedOrHashed) {
    TestTree::TemporaryHome home;
    const auto path = photo(home / "Pictures/moving.jpg", 4032, 3024, 41);
    const std::string bytes = TestTree::readFile(path);
    std::atomic<bool> stop = false;
    std::thread shrinker([&] {
        // Rewrites the file whole and cut short, over and over, while it is being decoded.
        for (int round = 0; !stop; ++round) {
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                << (round % 2 == 0 ? bytes : bytes.substr(0, bytes.size() / 3));
        }
    });
    int decoded = 0;
    for (int i = 0; i < 30; ++i) {
        decoded += Images::greyGrid(path).has_value() ? 1 : 0;
    }
    stop = true;
    shrinker.join();
    TestTree::writeFile(path, bytes.substr(0, bytes.size() / 3));
    EXPECT_FALSE(Images::greyGrid(path).has_value()) << "after " << decoded << " decodes while it changed";
}

} // namespace

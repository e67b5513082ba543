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
#include <filesystem>
#include <fstream>
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

using Labels = std::map<std::string, std::string>;

// Items by path, with their labels.
Labels labels(const std::vector<CleanupItem>& items) {
    Labels out;
    for (const auto& item : items) {
        out[item.url] = item.label.value_or("");
    }
    return out;
}

// Eight bits apart is similar, nine is not; a cluster forms around its first member, not transitively
// (E is three bits from B), and keeps its oldest member (the first listed of equal dates).
TEST(SimilarImages, ClustersFormAroundTheFirstMemberWithinEightBits) {
    // Flat images hash to all ones, so any two of the same size are similar.
    std::array<std::uint8_t, 64> flat{};
    flat.fill(137);
    EXPECT_EQ(SimilarImages::averageHash(flat), ~std::uint64_t{0});

    const std::uint64_t a = 0;
    const std::uint64_t b = 0x3fULL;       // 6 bits from a
    const std::uint64_t c = 0xffULL << 6;  // 8 bits from a, 14 from b
    const std::uint64_t d = 0x3fULL << 14; // 6 from a too, but of another size
    const std::uint64_t e = 0x1ffULL;      // 9 bits from a, 3 from b
    EXPECT_EQ(
        labels(SimilarImages::cluster({hashed("/h/A.jpg", a, now - 72h), hashed("/h/B.jpg", b, now - 24h),
                                       hashed("/h/C.jpg", c, now - 48h),
                                       hashed("/h/D.jpg", d, now, 1024, 768), hashed("/h/E.jpg", e, now)})),
        (Labels{{"/h/B.jpg", "Similar to A.jpg"}, {"/h/C.jpg", "Similar to A.jpg"}}));
    // B first in the bucket: B's cluster takes A (6 bits) but not C (14 bits); C stays alone.
    EXPECT_EQ(
        labels(SimilarImages::cluster({hashed("/h/B.jpg", b, now - 24h), hashed("/h/A.jpg", a, now - 72h),
                                       hashed("/h/C.jpg", c, now - 48h)})),
        (Labels{{"/h/B.jpg", "Similar to A.jpg"}}));
    EXPECT_EQ(
        labels(SimilarImages::cluster({hashed("/h/first.jpg", a, now), hashed("/h/second.jpg", a, now)})),
        (Labels{{"/h/second.jpg", "Similar to first.jpg"}}));
}

// The walk keeps large enough visible images outside skipped folders. Of what it finds, only pictures of
// the same dimensions are compared: the same scene at half the size, whose hash is close, never is. A
// sideways picture tagged "turn a quarter" keeps its stored dimensions (its grid is turned upright:
// JpegLuma.EachOrientationTurnsTheGridUpright).
TEST(SimilarImages, OnlyLargeEnoughVisibleImagesOfTheSameDimensionsAreCompared) {
    TestTree::TemporaryHome home;
    const auto full = photo(home / "Pictures/full.jpg", 4032, 3024, 11);
    const auto half = photo(home / "Pictures/half.jpg", 2016, 1512, 11);
    TestTree::setModified(full, now - 48h);
    VipsImage* sideways = scene(600, 800, 21);
    VipsImage* tag = nullptr;
    ASSERT_EQ(vips_copy(sideways, &tag, nullptr), 0);
    vips_image_set_int(tag, VIPS_META_ORIENTATION, 6);
    const auto tagged = writeJpeg(tag, home / "Documents/tagged.jpg", 92);
    g_object_unref(sideways);
    g_object_unref(tag);
    for (const auto& [path, width, height] : {std::tuple{full, 4032, 3024}, {tagged, 600, 800}}) {
        const auto examined = Images::examine(path);
        ASSERT_TRUE(examined.has_value()) << path;
        EXPECT_EQ(std::pair(examined->size.width, examined->size.height), std::pair(width, height)) << path;
    }
    // Allocations are whole 4,096-byte blocks: 98,304 is the largest below the floor.
    TestTree::makeFile(home / "Pictures/small.jpg", 98'304);
    const auto upper = TestTree::makeFile(home / "Pictures/photo.JPG", 200'000);
    for (const char* ignored :
         {"Pictures/.hidden.jpg", "Pictures/.hidden/in.jpg", "Pictures/Caches/thumb.png",
          "Pictures/Library/a.png", "Pictures/node_modules/a.png", "Pictures/notes.txt",
          "Pictures/no extension", "Desktop/1/2/3/4/5/6/too deep.webp", "Documents/elsewhere.jpg"}) {
        TestTree::makeFile(home / ignored, 200'000);
    }
    const auto inLibrary =
        TestTree::makeFile(home / "Pictures/Photos Library.photoslibrary/originals/a.heic", 102'400);
    const auto deep = TestTree::makeFile(home / "Desktop/1/2/3/4/5/deep.webp", 200'000);
    ASSERT_EQ(::symlink(upper.c_str(), (home / "Downloads").c_str()), 0) << "a linked root is not a folder";

    const auto candidates = SimilarImages::collect(home.path());
    EXPECT_EQ(TestTree::urls(candidates), (std::set<std::string>{full, half, deep, upper, inLibrary}));
    EXPECT_EQ(candidates.size(), 5u);
    for (const auto& candidate : candidates) {
        EXPECT_GE(candidate.bytes, SimilarImagesScanner::minimumBytes);
    }
    EXPECT_TRUE(SimilarImagesScanner().scan().empty());
}

TEST(SimilarImages, TwoThousandCandidatesFromPicturesStopTheWalk) {
    TestTree::TemporaryHome home;
    for (int i = 0; i < 2'500; ++i) {
        TestTree::makeFile(home / ("Pictures/burst/" + std::to_string(i) + ".jpg"), 102'400);
    }
    TestTree::makeFile(home / "Desktop/desk.jpg", 102'400);
    const auto candidates = SimilarImages::collect(home.path());
    EXPECT_EQ(candidates.size(), 2'000U);
    EXPECT_FALSE(TestTree::urls(candidates).contains(home / "Desktop/desk.jpg"));
}

// A PNG whose header claims 100,000 x 100,000 pixels, followed by one tiny compressed row; CRCs valid.
const std::string bombPng("\x89PNG\r\n\x1a\n"
                          "\0\0\0\x0dIHDR\0\x01\x86\xa0\0\x01\x86\xa0\x08\0\0\0\0\x8d\x39\x54\x14"
                          "\0\0\0\x0aIDAT\x78\x9c\x63\x60\0\0\0\x02\0\x01\x48\xaf\xa4\x71"
                          "\0\0\0\0IEND\xae\x42\x60\x82",
                          67);

TEST(SimilarImages, BadFilesAreSkippedWithoutHarm) {
    TestTree::TemporaryHome home;
    const auto good = photo(home / "Pictures/good.jpg", 1600, 1200, 31);
    const std::string bytes = TestTree::readFile(good);
    TestTree::writeFile(home / "Pictures/truncated.jpg", bytes.substr(0, bytes.size() / 2));
    TestTree::writeFile(home / "Pictures/bomb.png", bombPng);
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

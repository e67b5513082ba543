// The DC reader against libjpeg-turbo on JPEGs written by its compressor with every setting that changes
// the coded data, broken copies of them, hostile files, the kinds it hands over, orientation, the grid.
#include "KestruneCore/Images/JpegLuma.h"
#include "KestruneCore/Images/Images.h"
#include "tests/TestHome.h"

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <tuple>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t anySize = 250'000'000;

struct Settings {
    int width = 64;
    int height = 48;
    int components = 3; // 1 grey, 3 colour
    int lumaH = 2;
    int lumaV = 2;
    int quality = 90;
    bool baseline = true;
    bool optimize = false;
    bool progressive = false;
    int restartMcus = 0;
    int restartRows = 0;
    bool rgbCoded = false;
    bool cmyk = false;
    int orientation = 0; // 0: no Exif block
};

// An Exif block holding only an orientation, in either byte order.
Bytes exifWithOrientation(int orientation, bool bigEndian) {
    Bytes b = {'E', 'x', 'i', 'f', 0, 0};
    const auto put = [&](unsigned v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            b.push_back(static_cast<std::uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
        }
    };
    b.push_back(bigEndian ? 'M' : 'I');
    b.push_back(bigEndian ? 'M' : 'I');
    // The first IFD at 8 with two entries: Make (ASCII, 4 bytes inline), Orientation (SHORT).
    for (const auto& [value, bytes] : {std::pair{42u, 2}, {8u, 4}, {2u, 2}, {0x010Fu, 2}, {2u, 2}, {4u, 4}}) {
        put(value, bytes);
    }
    b.insert(b.end(), {'K', 'e', 's', '\0'});
    const auto o = static_cast<unsigned>(orientation);
    for (const auto& [value, bytes] : {std::pair{0x0112u, 2}, {3u, 2}, {1u, 4}, {o, 2}, {0u, 2}, {0u, 4}}) {
        put(value, bytes);
    }
    return b;
}

Bytes encode(const Settings& s, const std::vector<std::uint8_t>& pixels) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* memory = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &memory, &size);
    info.image_width = static_cast<JDIMENSION>(s.width);
    info.image_height = static_cast<JDIMENSION>(s.height);
    info.input_components = s.cmyk ? 4 : s.components;
    info.in_color_space = s.cmyk ? JCS_CMYK : s.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    if (s.rgbCoded) {
        jpeg_set_colorspace(&info, JCS_RGB);
    }
    jpeg_set_quality(&info, s.quality, s.baseline ? TRUE : FALSE);
    if (s.components == 3 && !s.cmyk) {
        info.comp_info[0].h_samp_factor = s.lumaH;
        info.comp_info[0].v_samp_factor = s.lumaV;
    }
    info.optimize_coding = s.optimize ? TRUE : FALSE;
    info.restart_interval = static_cast<unsigned>(s.restartMcus);
    info.restart_in_rows = s.restartRows;
    if (s.progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    if (s.orientation != 0) {
        const Bytes exif = exifWithOrientation(s.orientation, s.orientation % 2 == 0);
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    const std::size_t stride =
        static_cast<std::size_t>(s.width) * static_cast<std::size_t>(info.input_components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes file(memory, memory + size);
    std::free(memory);
    return file;
}

// Gradients, flat patches and noise of a random strength: smooth areas give short blocks, noise long
// ones with large magnitudes.
std::vector<std::uint8_t> picture(std::mt19937& random, int width, int height, int channels) {
    std::uniform_real_distribution<double> slope(-3.0, 3.0);
    std::uniform_int_distribution<int> level(0, 255);
    const double noise = std::uniform_real_distribution<double>(0.0, 90.0)(random);
    std::normal_distribution<double> grain(0.0, 1.0);
    std::vector<std::array<double, 3>> planes(static_cast<std::size_t>(channels)); // v = a x + b y + c
    for (auto& [a, b, c] : planes) {
        a = slope(random);
        b = slope(random);
        c = level(random);
    }
    const int patchX = std::uniform_int_distribution<int>(0, width)(random);
    const int patchY = std::uniform_int_distribution<int>(0, height)(random);
    const int patchLevel = level(random);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                                     planes.size());
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (const auto& [a, b, c] : planes) {
                double v = x < patchX && y < patchY ? patchLevel : a * x + b * y + c;
                v += noise * grain(random);
                pixels[at++] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return pixels;
}

Settings randomSettings(std::mt19937& random) {
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    Settings s;
    s.width = pick(0, 9) == 0 ? pick(1, 9) : pick(1, 520);
    s.height = pick(0, 9) == 0 ? pick(1, 9) : pick(1, 400);
    s.components = pick(0, 3) == 0 ? 1 : 3;
    static const std::pair<int, int> sampling[] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {4, 1}, {4, 2}, {3, 1}};
    const auto& [h, v] = sampling[pick(0, 6)];
    s.lumaH = h;
    s.lumaV = v;
    s.quality = pick(0, 4) == 0 ? pick(1, 12) : pick(13, 100);
    s.baseline = pick(0, 1) == 0;
    s.optimize = pick(0, 1) == 0;
    const int restart = pick(0, 3);
    s.restartMcus = restart == 1 ? pick(1, 30) : 0;
    s.restartRows = restart == 2 ? pick(1, 3) : 0;
    return s;
}

// The outcome the DC reader gives a possibly broken file, read in one run and (from `splitFrom` bytes of
// data) in two, when it is libjpeg-turbo's on its careful path (fed 64 bytes at a time) and the planes
// agree byte for byte; else a failure naming the difference.
std::optional<JpegLuma::Outcome> agreedOutcome(const Bytes& file, std::size_t splitFrom = 1) {
    JpegLuma::Plane reference;
    const auto expected = JpegLuma::decodeWithLibjpeg(file, reference, anySize, 64);
    for (const std::size_t split : {std::numeric_limits<std::size_t>::max(), splitFrom}) {
        JpegLuma::Plane fast;
        const auto outcome = JpegLuma::decodeDc(file, fast, anySize, split);
        if (outcome != expected ||
            (outcome == JpegLuma::Outcome::decoded &&
             std::tie(fast.imageWidth, fast.imageHeight, fast.width, fast.height, fast.pixels) !=
                 std::tie(reference.imageWidth, reference.imageHeight, reference.width, reference.height,
                          reference.pixels))) {
            ADD_FAILURE() << "outcome " << static_cast<int>(outcome) << ", libjpeg-turbo's "
                          << static_cast<int>(expected) << ", split from " << split;
            return std::nullopt;
        }
    }
    return expected;
}

} // namespace

// Random settings and pictures: the DC reader, in one run or two, gives libjpeg-turbo's outcome and
// plane byte for byte. Every seventh round also tries damage libFuzzer's random edits (JpegLumaFuzz)
// would seldom hit: data running to the end of the file with no end-of-image marker, where a few bytes
// more or less decide how far libjpeg-turbo reads ahead, and (every 42nd) every value of each of the
// last bytes, where the run from halfway may start afresh and still seem to end in the right place.
TEST(JpegLuma, DcReaderGivesLibjpegsOutcomeAndPlaneForIntactAndBrokenFiles) {
    std::mt19937 random(20261207);
    std::map<std::string, std::pair<int, int>> outcomes; // failed, decoded
    const auto check = [&](const Bytes& file, const std::string& kind) {
        const auto outcome = agreedOutcome(file);
        if (outcome) {
            ++(outcome == JpegLuma::Outcome::decoded ? outcomes[kind].second : outcomes[kind].first);
        }
        return outcome.has_value();
    };
    std::int64_t handedOver = 0;
    std::int64_t splittable = 0;
    for (int round = 0; round < 160; ++round) {
        const std::string name = "round " + std::to_string(round);
        Settings s = randomSettings(random);
        if (round % 7 == 0) {
            s.width = std::max(s.width, 64);
            s.height = std::max(s.height, 64);
        }
        const Bytes file = encode(s, picture(random, s.width, s.height, s.components));
        ASSERT_TRUE(check(file, "intact")) << name;
        if (s.restartMcus + s.restartRows == 0) {
            const int mcuWidth = s.components == 1 ? 8 : 8 * s.lumaH;
            const int mcuHeight = s.components == 1 ? 8 : 8 * s.lumaV;
            handedOver += JpegLuma::lastSecondRunMcus();
            splittable +=
                std::int64_t{(s.width + mcuWidth - 1) / mcuWidth} * ((s.height + mcuHeight - 1) / mcuHeight);
        }
        if (round % 7 != 0) {
            continue;
        }
        Bytes unmarked(file.begin(), file.end() - 2);
        for (int extra = 0; extra <= 12;
             ++extra, unmarked.push_back(static_cast<std::uint8_t>(round % 2 == 0 ? 0 : random() % 0xFF))) {
            ASSERT_TRUE(check(unmarked, "no end marker")) << name << " +" << extra;
        }
        if (round % 42 == 0) {
            s.width = 96;
            s.height = 64;
            s.restartMcus = s.restartRows = 0;
            const Bytes small = encode(s, picture(random, s.width, s.height, s.components));
            const std::size_t end = small.size() - 2; // the end-of-image marker
            for (std::size_t at = end - 12; at < end; ++at) {
                for (int value = 0; value < 256; ++value) {
                    Bytes broken = small;
                    broken[at] = static_cast<std::uint8_t>(value);
                    ASSERT_TRUE(check(broken, "near the end")) << name << " byte " << at << " = " << value;
                }
            }
        }
    }
    // Every intact file was decoded, and both kinds of result were seen in each kind of damage.
    EXPECT_EQ(outcomes["intact"], std::pair(0, 160));
    for (const auto& [kind, failed, decoded] :
         {std::tuple{"near the end", 1000, 1000}, {"no end marker", 24, 100}}) {
        EXPECT_GT(outcomes[kind].first, failed) << kind;
        EXPECT_GT(outcomes[kind].second, decoded) << kind;
    }
    // The run from halfway falls into step early, so it gives most of the second half.
    EXPECT_GT(handedOver, splittable / 4) << handedOver << " of " << splittable;

    // A photo-sized file of grain takes two runs at the default threshold, as the scanner reads it.
    std::vector<std::uint8_t> grain(std::size_t{1600} * 1200 * 3);
    for (std::uint8_t& v : grain) {
        v = static_cast<std::uint8_t>(random());
    }
    const Bytes file = encode({.width = 1600, .height = 1200}, grain);
    ASSERT_GT(file.size(), 4 * JpegLuma::defaultSplitFrom);
    EXPECT_EQ(agreedOutcome(file, JpegLuma::defaultSplitFrom), JpegLuma::Outcome::decoded);
    EXPECT_GT(JpegLuma::lastSecondRunMcus(), 0);
}

namespace {

// Files no camera writes. Each block of these tables takes two bits, the fewest there can be (a
// one-bit DC code of size 0, a one-bit end-of-block); with `longBlocks` the one AC code is a
// coefficient instead, so a block of zero bits runs to its end: 127 bits.
Bytes handMadeHeader(int width, int height, int restartInterval, bool longBlocks) {
    const auto high = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto low = [](int v) { return static_cast<std::uint8_t>(v); };
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    b.insert(b.end(), 64, 1);
    b.insert(b.end(), {0xFF, 0xC0, 0x00, 0x0B, 0x08});
    b.insert(b.end(), {high(height), low(height), high(width), low(width), 1, 1, 0x11, 0});
    for (const std::uint8_t table : {0x00, 0x10}) {
        b.insert(b.end(), {0xFF, 0xC4, 0x00, 0x14, table, 1});
        b.insert(b.end(), 15, 0);
        b.push_back(table == 0x10 && longBlocks ? 0x01 : 0x00);
    }
    if (restartInterval != 0) {
        b.insert(b.end(), {0xFF, 0xDD, 0x00, 0x04, high(restartInterval), low(restartInterval)});
    }
    b.insert(b.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    return b;
}

// `pattern` over and over, then zero bytes and the end-of-image marker, to `size` bytes. Copied in
// doubling spans, which keeps building 16 MiB quick in a sanitized build.
void fillTo(Bytes& file, const Bytes& pattern, std::size_t size) {
    const std::size_t at = file.size();
    const std::size_t total = (size - 2 - at) / pattern.size() * pattern.size();
    file.resize(size - 2, 0);
    std::copy(pattern.begin(), pattern.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t done = pattern.size(); done < total;) {
        const std::size_t more = std::min(done, total - done);
        std::memcpy(file.data() + at + done, file.data() + at, more);
        done += more;
    }
    file.insert(file.end(), {0xFF, 0xD9});
}

std::int64_t statusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stoll(line.substr(field.size() + 1));
        }
    }
    return -1;
}

} // namespace

// A header may claim any size and the data may be anything: what one file costs stays within a small
// multiple of its size, whatever it holds. Peak resident memory is measured around each decode, which
// gives libjpeg-turbo's outcome.
TEST(JpegLuma, HostileDataCostsMemoryInProportionToItsSize) {
    constexpr std::size_t size = 16 * 1024 * 1024;
    using enum JpegLuma::Outcome;
    struct Case {
        const char* name;
        int width, height, interval;
        bool longBlocks;
        Bytes pattern;
        std::size_t goodBytes; // zero bytes before the pattern
        JpegLuma::Outcome outcome;
        bool endMarker = true;
    };
    Bytes restartMarkers;
    Bytes intervals;
    for (std::uint8_t marker = 0xD0; marker <= 0xD7; ++marker) {
        restartMarkers.insert(restartMarkers.end(), {0xFF, marker});
        intervals.insert(intervals.end(), {0, 0xFF, marker});
    }
    const std::vector<Case> cases = {
        {"restart markers only", 4032, 3024, 1, false, restartMarkers, 0, failed},
        {"stuffed FF bytes only", 4032, 3024, 0, false, {0xFF, 0x00}, 0, failed},
        {"good data, then FF 00", 8000, 8000, 0, true, {0xFF, 0x00}, size / 2, failed},
        {"an interval in every 3 bytes", 8000, 8000, 4, false, intervals, 0, decoded},
        {"two-bit blocks", 8000, 8000, 0, false, {0x00}, 0, decoded},
        {"the largest picture in 4 KiB", 65500, 3816, 0, false, {}, 4096, failed},
        // 250,000 blocks of 127 bits, the data ending with the file: libjpeg-turbo reads past its end,
        // unless eight bytes more follow.
        {"no marker after", 4000, 4000, 0, true, {}, 3'968'750, failed, false},
        {"8 bytes, no marker after", 4000, 4000, 0, true, {}, 3'968'758, decoded, false}};
    for (const Case& c : cases) {
        Bytes file = handMadeHeader(c.width, c.height, c.interval, c.longBlocks);
        file.resize(file.size() + c.goodBytes, 0);
        if (!c.pattern.empty()) {
            fillTo(file, c.pattern, size);
        } else if (c.endMarker) {
            file.insert(file.end(), {0xFF, 0xD9});
        }
        for (const std::size_t splitFrom : {JpegLuma::defaultSplitFrom, std::size_t{1}}) {
            std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
            const std::int64_t before = statusKiB("VmRSS");
            JpegLuma::Plane plane;
            EXPECT_EQ(JpegLuma::decodeDc(file, plane, anySize, splitFrom), c.outcome) << c.name;
            const std::int64_t grown = (statusKiB("VmHWM") - before) * 1024;
            ASSERT_GE(before, 0);
            EXPECT_LE(grown, static_cast<std::int64_t>(3 * file.size() + 32 * 1024 * 1024))
                << c.name << ": " << grown / (1024 * 1024) << " MiB for a file of "
                << file.size() / (1024 * 1024) << " MiB";
        }
        // And libjpeg-turbo comes to the same.
        EXPECT_EQ(agreedOutcome(file, JpegLuma::defaultSplitFrom), c.outcome) << c.name;
    }
}

TEST(JpegLuma, OtherKindsOfJpegAreLeftToLibjpegAndCmykToLibvips) {
    std::mt19937 random(11);
    JpegLuma::Plane plane;
    for (const Settings& s : {Settings{.width = 300, .height = 200, .progressive = true},
                              Settings{.width = 300, .height = 200, .rgbCoded = true}}) {
        const Bytes file = encode(s, picture(random, s.width, s.height, 3));
        EXPECT_EQ(JpegLuma::decodeDc(file, plane, anySize), JpegLuma::Outcome::unsupported);
        EXPECT_EQ(JpegLuma::decodeWithLibjpeg(file, plane, anySize), JpegLuma::Outcome::decoded);
        EXPECT_EQ(std::pair(plane.width, plane.height), std::pair(38, 25));
    }
    const Bytes file = encode({.width = 300, .height = 200, .cmyk = true}, picture(random, 300, 200, 4));
    EXPECT_EQ(JpegLuma::decodeDc(file, plane, anySize), JpegLuma::Outcome::unsupported);
    EXPECT_EQ(JpegLuma::decodeWithLibjpeg(file, plane, anySize), JpegLuma::Outcome::unsupported);
    TestTree::TemporaryHome home;
    const auto examined =
        Images::examine(TestTree::writeFile(home / "cmyk.jpg", std::string(file.begin(), file.end())));
    ASSERT_TRUE(examined.has_value()) << "libvips reads what libjpeg-turbo will not turn grey";
    EXPECT_EQ(std::pair(examined->size.width, examined->size.height), std::pair(300, 200));

    // A header claiming more pixels than allowed is refused by both before any decoding.
    const Bytes ordinary = encode({.width = 300, .height = 200}, picture(random, 300, 200, 3));
    EXPECT_EQ(JpegLuma::decodeDc(ordinary, plane, 1000), JpegLuma::Outcome::failed);
    EXPECT_EQ(JpegLuma::decodeWithLibjpeg(ordinary, plane, 1000), JpegLuma::Outcome::failed);
}

TEST(JpegLuma, ExifOrientationIsOnlyReadWhenValid) {
    // Valid values in both byte orders are read by the orientation test below.
    const Bytes good = exifWithOrientation(6, false);
    EXPECT_EQ(JpegLuma::exifOrientation(good), 6);
    const auto changed = [&](std::size_t at, std::uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    // Out of range, in either byte order; cut before the orientation entry; the IFD far past the end;
    // not an Exif block.
    for (const Bytes& block : {exifWithOrientation(9, false), exifWithOrientation(0, true),
                               Bytes(good.begin(), good.begin() + 30), changed(10, 0xF0), changed(0, 'X')}) {
        EXPECT_EQ(JpegLuma::exifOrientation(block), 1);
    }
}

TEST(JpegLuma, EachOrientationTurnsTheGridUpright) {
    // A square picture with a bright top-left quadrant and a mid-grey top-right one: every one of the
    // eight orientations moves them somewhere else.
    const int side = 256;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            pixels[static_cast<std::size_t>(y) * side + x] = y < side / 2 ? (x < side / 2 ? 250 : 128) : 10;
        }
    }
    Settings s{.width = side, .height = side, .components = 1};
    TestTree::TemporaryHome home;
    const auto write = [&](int orientation) {
        s.orientation = orientation;
        const Bytes file = encode(s, pixels);
        return Images::greyGrid(TestTree::writeFile(home / ("o" + std::to_string(orientation) + ".jpg"),
                                                    std::string(file.begin(), file.end())));
    };
    const auto stored = write(0);
    ASSERT_TRUE(stored.has_value());
    // Where each upright (x, y) is found in the stored grid, for orientations 1 to 8: the stored column,
    // then row, a capital for 7 minus the coordinate.
    const std::array<std::string, 8> source{"xy", "Xy", "XY", "xY", "yx", "yX", "YX", "Yx"};
    const auto expected = [&](int o) {
        std::array<std::uint8_t, 64> upright{};
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                const auto at = [&](std::size_t i) {
                    const char c = source[static_cast<std::size_t>(o - 1)][i];
                    return static_cast<std::size_t>(std::isupper(c) ? 7 - (c == 'X' ? x : y)
                                                                    : (c == 'x' ? x : y));
                };
                upright[static_cast<std::size_t>(y) * 8 + x] = (*stored)[at(1) * 8 + at(0)];
            }
        }
        return upright;
    };
    for (int o = 1; o <= 8; ++o) {
        const auto grid = write(o);
        ASSERT_TRUE(grid.has_value()) << o;
        EXPECT_EQ(*grid, expected(o)) << "orientation " << o;
    }
    // Orientation 6 (turn clockwise) puts the bright quadrant at the top right.
    EXPECT_GE(expected(6)[7], 240);
}

TEST(JpegLuma, GridAveragesAreasAndCountsTheLastBlockByWhatItCovers) {
    // 12 x 8 pixels: the plane's second sample covers only 4 of them. The thumbnail is 8 x 5 (12:8),
    // each of its columns 1.5 pixels wide, so the column over pixels 7.5 to 9 is one third dark, two thirds
    // light.
    JpegLuma::Plane plane{.imageWidth = 12, .imageHeight = 8, .width = 2, .height = 1, .pixels = {0, 240}};
    const auto grid = Images::gridFromLuma(plane);
    for (int y = 0; y < 8; ++y) {
        const std::array<std::uint8_t, 8> row{0, 0, 0, 0, 0, 160, 240, 240};
        EXPECT_TRUE(std::equal(row.begin(), row.end(), grid.begin() + y * 8)) << "row " << y;
    }

    // A tall image turned by its tag becomes wide: the thumbnail is made upright, then stretched.
    const auto turned = Images::gridFromLuma(
        {.imageWidth = 8, .imageHeight = 16, .width = 1, .height = 2, .orientation = 6, .pixels = {200, 40}});
    EXPECT_EQ((std::array{turned[0], turned[7], turned[56], turned[63]}),
              (std::array<std::uint8_t, 4>{40, 200, 40, 200}))
        << "the top of the stored picture ends up on the right";
}

// JPEGs are read whole into a per-thread buffer and handed to JpegLuma; every other format goes to
// libvips, through the module that keeps it out of start-up (VipsModule.h).
#include "KestruneCore/Images/Images.h"

#include "KestruneCore/Images/VipsModule.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Modules.h"
#include "KestruneCore/Platform/RegularFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace Images {
namespace {

// Why the module could not be loaded; empty when it was (or has not been tried).
std::string& problem() {
    static std::string text;
    return text;
}

// The libvips module, loaded on the first image that is not a JPEG; null when it cannot be.
const KestruneVipsCodec* vips() {
    static const KestruneVipsCodec* const loaded = [] {
        std::string error;
        const auto entry = reinterpret_cast<const KestruneVipsCodec* (*)()>(
            Platform::moduleSymbol(kestruneVipsModuleName, "kestrune_vips_codec", error));
        const KestruneVipsCodec* codec = entry != nullptr ? entry() : nullptr;
        if (codec != nullptr && codec->version != kestruneVipsCodecVersion) {
            error = std::string(kestruneVipsModuleName) + " is of another build";
            codec = nullptr;
        }
        if (codec == nullptr) {
            problem() = error;
        }
        return codec;
    }();
    return loaded;
}

// libvips opens files with a plain open, which a FIFO would block: only regular files go to it.
const KestruneVipsCodec* vipsFor(const std::string& path) {
    return Platform::kindOf(path, Platform::Links::followed) == Platform::FileKind::file ? vips() : nullptr;
}

std::optional<PixelSize> vipsSize(const std::string& path) {
    PixelSize size;
    const auto* codec = vipsFor(path);
    if (codec == nullptr || !codec->pixelSize(path.c_str(), maximumPixels, &size.width, &size.height)) {
        return std::nullopt;
    }
    return size;
}

std::optional<std::array<std::uint8_t, 64>> vipsGrid(const std::string& path) {
    std::array<std::uint8_t, 64> grid{};
    const auto* codec = vipsFor(path);
    if (codec == nullptr || !codec->greyGrid(path.c_str(), maximumPixels, grid.data())) {
        return std::nullopt;
    }
    return grid;
}

// Files larger than this are left to libvips, which streams them, rather than read into memory.
constexpr std::int64_t largestReadWhole = 64LL * 1024 * 1024;

// Reads the whole file into `data` when it is a regular file, starts like a JPEG and is not too large;
// false otherwise. Opened without blocking, so a FIFO never holds the scan.
bool readJpeg(const std::string& path, std::vector<std::uint8_t>& data) {
    const Platform::RegularFile file(path, Platform::RegularFile::Links::followed);
    const std::int64_t length = file.length();
    if (!file.valid() || length < 4 || length > largestReadWhole) {
        return false;
    }
    // The signature first, so other formats are neither buffered nor read twice.
    data.resize(3);
    if (file.readAt(data.data(), 3, 0) != 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) {
        return false;
    }
    data.resize(static_cast<std::size_t>(length));
    // Shorter than it was a moment ago: decode what is there, which will not pass.
    const std::int64_t rest = file.readAt(data.data() + 3, data.size() - 3, 3);
    data.resize(3 + static_cast<std::size_t>(std::max<std::int64_t>(rest, 0)));
    return true;
}

enum class JpegResult { examined, failed, notForUs };

JpegResult examineJpeg(const std::string& path, Examined& out) {
    const JpegLuma::KeptBuffer buffer(JpegLuma::KeptBuffer::Slot::file);
    if (!readJpeg(path, buffer.bytes)) {
        return JpegResult::notForUs;
    }
    // Both readers refuse what is not a JPEG and images over the pixel limit before decoding.
    const std::span<const std::uint8_t> bytes(buffer.bytes);
    JpegLuma::Plane plane;
    JpegLuma::Outcome outcome = JpegLuma::decodeDc(bytes, plane, maximumPixels);
    if (outcome == JpegLuma::Outcome::unsupported) {
        outcome = JpegLuma::decodeWithLibjpeg(bytes, plane, maximumPixels);
    }
    switch (outcome) {
    case JpegLuma::Outcome::decoded:
        out.size = PixelSize{plane.imageWidth, plane.imageHeight};
        out.grid = gridFromLuma(plane);
        return JpegResult::examined;
    case JpegLuma::Outcome::unsupported:
        return JpegResult::notForUs; // CMYK and the like: libvips turns those grey
    case JpegLuma::Outcome::failed:
        break;
    }
    return JpegResult::failed;
}

// The pixel at (x, y) of an image of width x height stored pixels once turned upright by `orientation`
// comes from (sourceX, sourceY); `width` and `height` are the stored dimensions.
std::pair<int, int> fromUpright(int orientation, int x, int y, int width, int height) {
    switch (orientation) {
    case 2:
        return {width - 1 - x, y};
    case 3:
        return {width - 1 - x, height - 1 - y};
    case 4:
        return {x, height - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, height - 1 - x};
    case 7:
        return {width - 1 - y, height - 1 - x};
    case 8:
        return {width - 1 - y, x};
    default:
        return {x, y};
    }
}

// For each of `cells` equal spans over `extent` image pixels, the plane pixels (of 8 image pixels each,
// the last one cut at `extent`) it overlaps and by how much, in units of 1/cells of a pixel.
std::vector<std::vector<std::pair<int, std::int64_t>>> spans(std::int64_t extent, int cells) {
    std::vector<std::vector<std::pair<int, std::int64_t>>> result(static_cast<std::size_t>(cells));
    for (int cell = 0; cell < cells; ++cell) {
        const std::int64_t from = cell * extent;
        const std::int64_t to = (cell + 1) * extent;
        for (std::int64_t i = from / (8 * cells); i * 8 * cells < to && i * 8 < extent; ++i) {
            const std::int64_t start = std::max(from, i * 8 * cells);
            const std::int64_t end = std::min(to, std::min(i * 8 + 8, extent) * cells);
            if (end > start) {
                result[static_cast<std::size_t>(cell)].emplace_back(static_cast<int>(i), end - start);
            }
        }
    }
    return result;
}

} // namespace

std::array<std::uint8_t, 64> gridFromLuma(const JpegLuma::Plane& plane) {
    // The thumbnail's size: longest side 8, the upright image's aspect ratio kept.
    const bool turned = plane.orientation >= 5;
    const std::int64_t uprightWidth = turned ? plane.imageHeight : plane.imageWidth;
    const std::int64_t uprightHeight = turned ? plane.imageWidth : plane.imageHeight;
    int thumbWidth = 8;
    int thumbHeight = 8;
    if (uprightWidth >= uprightHeight) {
        thumbHeight = static_cast<int>(
            std::max<std::int64_t>(1, (16 * uprightHeight + uprightWidth) / (2 * uprightWidth)));
    } else {
        thumbWidth = static_cast<int>(
            std::max<std::int64_t>(1, (16 * uprightWidth + uprightHeight) / (2 * uprightHeight)));
    }
    // Area averages over the stored plane, into a thumbnail in stored orientation; flips and turns map
    // each cell's area onto the upright cell's exactly, so turning afterwards changes nothing.
    const int cellsX = turned ? thumbHeight : thumbWidth;
    const int cellsY = turned ? thumbWidth : thumbHeight;
    const auto columns = spans(plane.imageWidth, cellsX);
    const auto rows = spans(plane.imageHeight, cellsY);
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(cellsX) * cellsY);
    const std::int64_t total = std::int64_t{plane.imageWidth} * plane.imageHeight;
    std::vector<std::uint64_t> rowSums(static_cast<std::size_t>(cellsX));
    for (int cy = 0; cy < cellsY; ++cy) {
        std::vector<std::uint64_t> sums(static_cast<std::size_t>(cellsX), 0);
        for (const auto& [row, rowWeight] : rows[static_cast<std::size_t>(cy)]) {
            const std::uint8_t* line = plane.pixels.data() + static_cast<std::size_t>(row) * plane.width;
            for (int cx = 0; cx < cellsX; ++cx) {
                std::uint64_t sum = 0;
                for (const auto& [column, columnWeight] : columns[static_cast<std::size_t>(cx)]) {
                    sum += std::uint64_t{line[column]} * static_cast<std::uint64_t>(columnWeight);
                }
                sums[static_cast<std::size_t>(cx)] += sum * static_cast<std::uint64_t>(rowWeight);
            }
        }
        for (int cx = 0; cx < cellsX; ++cx) {
            stored[static_cast<std::size_t>(cy) * cellsX + cx] = static_cast<std::uint8_t>(
                (sums[static_cast<std::size_t>(cx)] + static_cast<std::uint64_t>(total / 2)) /
                static_cast<std::uint64_t>(total));
        }
    }
    std::vector<std::uint8_t> thumbnail(static_cast<std::size_t>(thumbWidth) * thumbHeight);
    for (int y = 0; y < thumbHeight; ++y) {
        for (int x = 0; x < thumbWidth; ++x) {
            const auto [sx, sy] = fromUpright(plane.orientation, x, y, cellsX, cellsY);
            thumbnail[static_cast<std::size_t>(y) * thumbWidth + x] =
                stored[static_cast<std::size_t>(sy) * cellsX + sx];
        }
    }
    // Stretched bilinearly over the whole grid, sample centres aligned.
    std::array<std::uint8_t, 64> grid{};
    const auto source = [](int index, int from) {
        const double position = std::clamp((index + 0.5) * from / 8.0 - 0.5, 0.0, from - 1.0);
        const int low = static_cast<int>(position);
        return std::tuple{low, std::min(low + 1, from - 1), position - low};
    };
    for (int y = 0; y < 8; ++y) {
        const auto [y0, y1, fy] = source(y, thumbHeight);
        for (int x = 0; x < 8; ++x) {
            const auto [x0, x1, fx] = source(x, thumbWidth);
            const auto at = [&](int px, int py) {
                return static_cast<double>(thumbnail[static_cast<std::size_t>(py) * thumbWidth + px]);
            };
            const double top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * fx;
            const double bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * fx;
            grid[static_cast<std::size_t>(y) * 8 + x] =
                static_cast<std::uint8_t>(std::lround(top + (bottom - top) * fy));
        }
    }
    return grid;
}

std::optional<Examined> examine(const std::string& path) {
    Examined examined;
    switch (examineJpeg(path, examined)) {
    case JpegResult::examined:
        return examined;
    case JpegResult::failed:
        return std::nullopt;
    case JpegResult::notForUs:
        break;
    }
    const auto size = vipsSize(path);
    if (!size) {
        return std::nullopt;
    }
    const auto grid = vipsGrid(path);
    if (!grid) {
        return std::nullopt;
    }
    return Examined{*size, *grid};
}

std::optional<PixelSize> pixelSize(const std::string& path) {
    const JpegLuma::KeptBuffer buffer(JpegLuma::KeptBuffer::Slot::file);
    if (readJpeg(path, buffer.bytes)) {
        const auto header = JpegLuma::readHeader(buffer.bytes);
        if (!header || std::int64_t{header->width} * header->height > maximumPixels) {
            return std::nullopt;
        }
        return PixelSize{header->width, header->height};
    }
    return vipsSize(path);
}

std::optional<std::array<std::uint8_t, 64>> greyGrid(const std::string& path) {
    const auto examined = examine(path);
    if (!examined) {
        return std::nullopt;
    }
    return examined->grid;
}

std::optional<double> decodeFully(const std::string& path) {
    double mean = 0;
    const auto* codec = vipsFor(path);
    if (codec == nullptr || !codec->decodeFully(path.c_str(), &mean)) {
        return std::nullopt;
    }
    return mean;
}

std::string otherFormatsProblem() {
    return problem();
}

} // namespace Images

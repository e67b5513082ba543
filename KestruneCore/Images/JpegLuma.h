// A JPEG's luma at one eighth of its size: one grey byte per 8 x 8 block of its first component, the
// block's DC term turned into a sample exactly as libjpeg-turbo's 1/8-scaled greyscale decode does it.
// That is all a thumbnail of a few pixels needs, and most of a decoder's work (dequantising, inverse
// transforms, colour conversion, upsampling) never has to happen.
//
// `decodeDc` reads the common kind of JPEG itself: sequential Huffman coding, 8-bit samples, one scan
// holding every component, grey or YCbCr. The AC terms still have to be entropy-decoded to find where
// each block ends, and that is done with tables that skip several codes at once. Anything else is left
// to `decodeWithLibjpeg`, which gives the same plane through libjpeg-turbo for every JPEG that library
// reads in grey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace JpegLuma {

struct Plane {
    // The dimensions stored in the frame header, before orientation.
    int imageWidth = 0;
    int imageHeight = 0;
    // The plane's own: imageWidth / 8 and imageHeight / 8, rounded up.
    int width = 0;
    int height = 0;
    // The Exif orientation, 1 to 8; 1 when the file has none or an invalid one.
    int orientation = 1;
    std::vector<std::uint8_t> pixels; // width * height samples, row by row
};

// What the markers before the first scan say: enough for the stored dimensions without decoding.
struct Header {
    int width = 0;
    int height = 0;
    int orientation = 1;
};

// Reads the markers from the start of the file to the first scan. Nothing when the file does not start
// like a JPEG, has no frame header before its first scan, or its markers run past the end.
[[nodiscard]] std::optional<Header> readHeader(std::span<const std::uint8_t> file);

enum class Outcome {
    decoded,
    // A JPEG of a kind this reader leaves to libjpeg-turbo (progressive, arithmetic-coded, 12-bit,
    // several scans, RGB or CMYK, tables it would have to supply itself).
    unsupported,
    // Broken (truncated, a code no table holds, restart markers out of order, a bad table) or refused
    // (more than the allowed pixels).
    failed,
};

// Decodes `file` (the whole file in memory) into `plane`. Images of more than `maximumPixels` stored
// pixels fail before anything is allocated. Whatever the file holds, the memory this takes stays within
// about its size plus what `maximumPixels` bounds (a dozen bytes for each 8 x 8 block), and nothing
// is allocated for blocks the data is too short to hold.
//
// Coded data of at least `splitFrom` bytes with no restart markers is read by two runs taking turns on
// this thread: one from the start, one from halfway, which falls into step with the first within a few
// MCUs. The outcome and the plane are the same either way; tests lower the threshold to compare them.
inline constexpr std::size_t defaultSplitFrom = 64 * 1024;
[[nodiscard]] Outcome decodeDc(std::span<const std::uint8_t> file, Plane& plane, std::int64_t maximumPixels,
                               std::size_t splitFrom = defaultSplitFrom);

// How many of the MCUs of this thread's last decoded file the run from halfway gave: 0 when the run
// from the start decoded them all.
[[nodiscard]] std::int64_t lastSecondRunMcus();

// The same plane through libjpeg-turbo (scaled by 1/8, greyscale output) for any JPEG it reads.
// Truncated data, bad codes and lost restart markers, which libjpeg-turbo only warns about, count as
// failure. Unsupported means a colour space it does not turn into grey (CMYK, YCCK).
//
// With `feedBytes` above 0 the data is handed over that many bytes at a time, which keeps
// libjpeg-turbo on its careful decoding path: its fast path replaces a code no table holds with an
// end-of-block without a warning, the careful one warns. Tests use that to compare broken files.
[[nodiscard]] Outcome decodeWithLibjpeg(std::span<const std::uint8_t> file, Plane& plane,
                                        std::int64_t maximumPixels, std::size_t feedBytes = 0);

// The orientation stored in an Exif block (the payload of an APP1 marker, starting "Exif\0\0"):
// 1 to 8, or 1 when absent or invalid.
[[nodiscard]] int exifOrientation(std::span<const std::uint8_t> app1);

// A byte buffer the calling thread keeps between files: allocating several megabytes afresh for every
// photo costs a page fault per 4 KiB. Each slot is one buffer per thread, held by one KeptBuffer at a
// time; one that grew past 16 MiB is given back when its holder goes away.
class KeptBuffer {
public:
    enum class Slot { file }; // the file being read; the reader keeps its own buffers likewise
    explicit KeptBuffer(Slot slot);
    ~KeptBuffer();
    KeptBuffer(const KeptBuffer&) = delete;
    KeptBuffer& operator=(const KeptBuffer&) = delete;

    std::vector<std::uint8_t>& bytes;
};

} // namespace JpegLuma

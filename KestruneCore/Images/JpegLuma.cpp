// The reader follows libjpeg-turbo wherever the result depends on it: how Huffman tables are built
// and checked, how a code is looked up, how DC predictions wrap, how a DC term becomes a sample (the
// 1 x 1 inverse transform and its range limit), where blocks end when a run overshoots, and that a
// restart interval must end in the expected marker. The randomized tests compare the two planes byte
// for byte.
//
// Entropy-coded data is first copied without its stuffed zero bytes and split at restart markers, so
// the decoding loop reads plain bits with one unaligned load per lookup and never tests for markers.
#include "KestruneCore/Images/JpegLuma.h"

// jpeglib.h needs FILE and size_t declared first.
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>

namespace JpegLuma {
namespace {

using Bytes = std::span<const std::uint8_t>;

unsigned be16(const std::uint8_t* p) {
    return (unsigned{p[0]} << 8) | p[1];
}

// ---------------------------------------------------------------------------------------------------
// Markers

struct FrameComponent {
    int id = 0;
    int h = 1;
    int v = 1;
    int quantTable = 0;
};

struct HuffmanDefinition {
    bool defined = false;
    std::array<std::uint8_t, 17> counts{}; // counts[l]: codes of length l, 1 to 16
    std::array<std::uint8_t, 256> values{};
};

struct ScanComponent {
    int frameIndex = 0;
    int dcTable = 0;
    int acTable = 0;
};

struct Markers {
    bool frame = false;
    bool sequentialHuffman = false; // SOF0 or SOF1
    int precision = 0;
    int width = 0;
    int height = 0;
    std::vector<FrameComponent> components;
    std::array<int, 4> firstQuant{};
    std::array<bool, 4> quantDefined{};
    bool quantShort = false;
    std::array<HuffmanDefinition, 4> dc{};
    std::array<HuffmanDefinition, 4> ac{};
    int restartInterval = 0;
    int orientation = 1;
    bool exifSeen = false;
    bool jfif = false;
    bool adobe = false;
    int adobeTransform = -1;
    // The first scan.
    std::vector<ScanComponent> scan;
    bool scanResolved = true; // every scan component names a frame component, once
    int ss = 0, se = 0, ah = 0, al = 0;
    std::size_t dataStart = 0;
};

bool readDqt(const std::uint8_t* p, std::size_t n, Markers& m) {
    while (n > 0) {
        const int precision = p[0] >> 4;
        const int index = p[0] & 15;
        if (index > 3) {
            return false;
        }
        const std::size_t bytes = precision != 0 ? 128 : 64;
        if (n < 1 + bytes) {
            m.quantShort = true; // libjpeg-turbo fills a short table with ones; leave that to it
            return true;
        }
        m.firstQuant[index] = precision != 0 ? static_cast<int>(be16(p + 1)) : p[1];
        m.quantDefined[index] = true;
        p += 1 + bytes;
        n -= 1 + bytes;
    }
    return true;
}

bool readDht(const std::uint8_t* p, std::size_t n, Markers& m) {
    while (n > 0) {
        if (n < 17) {
            return false;
        }
        const int index = p[0];
        const bool isAc = (index & 0x10) != 0;
        const int table = index & ~0x10;
        if (table < 0 || table > 3) {
            return false;
        }
        HuffmanDefinition& definition = isAc ? m.ac[table] : m.dc[table];
        std::size_t total = 0;
        definition.counts[0] = 0;
        for (int l = 1; l <= 16; ++l) {
            definition.counts[l] = p[l];
            total += p[l];
        }
        if (total > 256 || total > n - 17) {
            return false;
        }
        definition.values.fill(0);
        std::memcpy(definition.values.data(), p + 17, total);
        definition.defined = true;
        p += 17 + total;
        n -= 17 + total;
    }
    return true;
}

bool readSof(const std::uint8_t* p, std::size_t n, Markers& m, bool sequentialHuffman) {
    if (m.frame || n < 6) {
        return false;
    }
    const std::size_t count = p[5];
    if (count == 0 || n != 6 + 3 * count) {
        return false;
    }
    m.frame = true;
    m.sequentialHuffman = sequentialHuffman;
    m.precision = p[0];
    m.height = static_cast<int>(be16(p + 1));
    m.width = static_cast<int>(be16(p + 3));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* c = p + 6 + 3 * i;
        m.components.push_back({c[0], c[1] >> 4, c[1] & 15, c[2]});
    }
    return m.width > 0 && m.height > 0;
}

bool readSos(const std::uint8_t* p, std::size_t n, Markers& m) {
    if (n < 1) {
        return false;
    }
    const std::size_t count = p[0];
    if (count < 1 || count > 4 || n != 4 + 2 * count) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int id = p[1 + 2 * i];
        ScanComponent component{-1, p[2 + 2 * i] >> 4, p[2 + 2 * i] & 15};
        for (std::size_t f = 0; f < m.components.size(); ++f) {
            if (m.components[f].id == id) {
                if (component.frameIndex >= 0) {
                    m.scanResolved = false; // two frame components with one id
                }
                component.frameIndex = static_cast<int>(f);
            }
        }
        for (const ScanComponent& earlier : m.scan) {
            if (earlier.frameIndex == component.frameIndex) {
                m.scanResolved = false;
            }
        }
        if (component.frameIndex < 0) {
            m.scanResolved = false;
        }
        m.scan.push_back(component);
    }
    const std::uint8_t* tail = p + 1 + 2 * count;
    m.ss = tail[0];
    m.se = tail[1];
    m.ah = tail[2] >> 4;
    m.al = tail[2] & 15;
    return true;
}

// Reads markers up to and including the first SOS; false when the file is not a JPEG or breaks off.
bool readMarkers(Bytes file, Markers& m) {
    const std::uint8_t* f = file.data();
    const std::size_t size = file.size();
    if (size < 4 || f[0] != 0xFF || f[1] != 0xD8) {
        return false;
    }
    std::size_t pos = 2;
    for (;;) {
        // As libjpeg does: skip stray bytes, then fill bytes, to the next marker code.
        while (pos < size && f[pos] != 0xFF) {
            ++pos;
        }
        while (pos < size && f[pos] == 0xFF) {
            ++pos;
        }
        if (pos >= size) {
            return false;
        }
        const int marker = f[pos++];
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9) {
            return false;
        }
        if (size - pos < 2) {
            return false;
        }
        const std::size_t length = be16(f + pos);
        if (length < 2 || length > size - pos) {
            return false;
        }
        const std::uint8_t* payload = f + pos + 2;
        const std::size_t n = length - 2;
        bool ok = true;
        switch (marker) {
        case 0xC0:
        case 0xC1:
            ok = readSof(payload, n, m, true);
            break;
        case 0xC2:
        case 0xC3:
        case 0xC5:
        case 0xC6:
        case 0xC7:
        case 0xC9:
        case 0xCA:
        case 0xCB:
        case 0xCD:
        case 0xCE:
        case 0xCF:
            ok = readSof(payload, n, m, false);
            break;
        case 0xC4:
            ok = readDht(payload, n, m);
            break;
        case 0xDB:
            ok = readDqt(payload, n, m);
            break;
        case 0xDD:
            ok = n == 2;
            if (ok) {
                m.restartInterval = static_cast<int>(be16(payload));
            }
            break;
        case 0xE0:
            if (n >= 14 && std::memcmp(payload, "JFIF", 5) == 0) {
                m.jfif = true;
            }
            break;
        case 0xE1:
            if (!m.exifSeen && n >= 6 && std::memcmp(payload, "Exif\0\0", 6) == 0) {
                m.exifSeen = true;
                m.orientation = exifOrientation(Bytes(payload, n));
            }
            break;
        case 0xEE:
            if (n >= 12 && std::memcmp(payload, "Adobe", 5) == 0) {
                m.adobe = true;
                m.adobeTransform = payload[11];
            }
            break;
        case 0xDA:
            if (!m.frame || !readSos(payload, n, m)) {
                return false;
            }
            m.dataStart = pos + length;
            return true;
        default:
            // What libjpeg-turbo skips: comments, the other application markers and line counts. Any
            // other code is an error there.
            ok = marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF) || marker == 0xDC;
            break;
        }
        if (!ok) {
            return false;
        }
        pos += length;
    }
}

// ---------------------------------------------------------------------------------------------------
// Huffman tables

constexpr int acLookBits = 11;
constexpr int dcLookBits = 9;

// One table as libjpeg-turbo derives it: canonical codes by length, with maxcode and value offsets.
struct Canonical {
    std::array<std::int32_t, 18> maxcode{};
    std::array<std::int32_t, 17> valoffset{};
    std::array<std::uint8_t, 256> values{};

    // The code at the top of `window`, looking at lengths from `first` up to `last`: its length and
    // symbol, or length 0 when no code of those lengths matches.
    std::pair<int, int> decode(std::uint64_t window, int first, int last) const {
        for (int l = first; l <= last; ++l) {
            const auto code = static_cast<std::int32_t>(window >> (64 - l));
            if (code <= maxcode[l]) {
                return {l, values[static_cast<std::uint8_t>(code + valoffset[l])]};
            }
        }
        return {0, 0};
    }
};

bool derive(const HuffmanDefinition& definition, bool isDc, Canonical& table) {
    std::array<std::uint8_t, 257> huffsize{};
    std::array<std::uint32_t, 257> huffcode{};
    int p = 0;
    for (int l = 1; l <= 16; ++l) {
        const int count = definition.counts[l];
        if (p + count > 256) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            huffsize[p++] = static_cast<std::uint8_t>(l);
        }
    }
    huffsize[p] = 0;
    const int symbols = p;
    std::uint32_t code = 0;
    int si = huffsize[0];
    p = 0;
    while (huffsize[p] != 0) {
        while (huffsize[p] == si) {
            huffcode[p++] = code;
            ++code;
        }
        if (code >= (std::uint32_t{1} << si)) {
            return false;
        }
        code <<= 1;
        ++si;
    }
    p = 0;
    for (int l = 1; l <= 16; ++l) {
        if (definition.counts[l] != 0) {
            table.valoffset[l] = p - static_cast<std::int32_t>(huffcode[p]);
            p += definition.counts[l];
            table.maxcode[l] = static_cast<std::int32_t>(huffcode[p - 1]);
        } else {
            table.maxcode[l] = -1;
        }
    }
    table.maxcode[17] = 0xFFFFF;
    table.values = definition.values;
    if (isDc) {
        for (int i = 0; i < symbols; ++i) {
            if (definition.values[i] > 15) {
                return false;
            }
        }
    }
    return true;
}

// What the next acLookBits bits hold. `bits` and `inc` describe as many whole codes (with their
// magnitude bits) as fit: together they move the coefficient index by `inc`, and by 64 more when they
// end with an end-of-block code, which puts the index past any block's end. They may be taken together
// only while the index is below `limit`, so that no code but the last lands past the block's end.
// `singleBits` and `singleInc` describe the first code alone, for the end of a block: singleBits is 0
// when even that does not fit and the code is decoded the long way, singleInc 0 for an end-of-block code.
struct AcEntry {
    std::uint8_t bits = 0;
    std::uint8_t inc = 0;
    std::uint8_t limit = 0;
    std::uint8_t singleBits = 0;
    std::uint8_t singleInc = 0;
    std::uint8_t codeLength = 0; // the first code's own length and symbol when it fits, else 0
    std::uint8_t symbol = 0;
    std::uint8_t padding = 0;
};
// Eight bytes, so no entry straddles a cache line.
static_assert(sizeof(AcEntry) == 8);

struct DcEntry {
    std::uint8_t length = 0; // 0: longer than dcLookBits
    std::uint8_t size = 0;
};

struct AcTable {
    Canonical canonical;
    std::array<AcEntry, std::size_t{1} << acLookBits> look{};
};

struct DcTable {
    Canonical canonical;
    std::array<DcEntry, std::size_t{1} << dcLookBits> look{};
};

void buildAc(AcTable& table) {
    for (std::uint32_t pattern = 0; pattern < (1u << acLookBits); ++pattern) {
        AcEntry entry;
        int used = 0;
        int inc = 0;
        int incBeforeLast = 0;
        bool endsBlock = false;
        while (used < acLookBits) {
            const std::uint64_t window = (std::uint64_t{pattern} << (64 - acLookBits)) << used;
            const auto [length, symbol] = table.canonical.decode(window, 1, acLookBits - used);
            if (length == 0) {
                break;
            }
            const bool first = used == 0;
            if (first) {
                entry.codeLength = static_cast<std::uint8_t>(length);
                entry.symbol = static_cast<std::uint8_t>(symbol);
            }
            const int magnitude = symbol & 15;
            const int run = symbol >> 4;
            if (used + length + magnitude > acLookBits) {
                break;
            }
            used += length + magnitude;
            endsBlock = magnitude == 0 && run != 15;
            incBeforeLast = inc;
            if (!endsBlock) {
                inc += magnitude != 0 ? run + 1 : 16;
            }
            if (first) {
                entry.singleBits = static_cast<std::uint8_t>(used);
                entry.singleInc = static_cast<std::uint8_t>(endsBlock ? 0 : inc);
            }
            if (endsBlock) {
                break;
            }
        }
        entry.bits = static_cast<std::uint8_t>(used);
        // An end-of-block code counts as 64 more, so one test of the index ends the block either way.
        entry.inc = static_cast<std::uint8_t>(endsBlock ? inc + 64 : inc);
        entry.limit = used == 0 ? 0 : static_cast<std::uint8_t>(std::max(0, 64 - incBeforeLast));
        table.look[pattern] = entry;
    }
}

void buildDc(DcTable& table) {
    for (std::uint32_t pattern = 0; pattern < (1u << dcLookBits); ++pattern) {
        const std::uint64_t window = std::uint64_t{pattern} << (64 - dcLookBits);
        const auto [length, symbol] = table.canonical.decode(window, 1, dcLookBits);
        table.look[pattern] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(symbol)};
    }
}

// ---------------------------------------------------------------------------------------------------
// Entropy-coded data

constexpr std::size_t padding = 8192; // zero bytes after the data: more than one MCU can overrun

constexpr std::size_t largestKept = std::size_t{16} * 1024 * 1024;

// A buffer kept between files is given back once it grew past 16 MiB.
template <class T> void releaseIfLarge(std::vector<T>& items) {
    if (items.capacity() * sizeof(T) > largestKept) {
        std::vector<T>().swap(items);
    }
}

// Memory a thread keeps between files whose contents are written afresh for each: what it held is not
// kept when it grows, and new memory is left uninitialised, so a buffer sized for the most that one
// file could need costs only the pages actually written.
template <class T> class Scratch {
public:
    T* atLeast(std::size_t count) {
        if (count > size_) {
            items_.reset();
            items_ = std::make_unique_for_overwrite<T[]>(count);
            size_ = count;
        }
        return items_.get();
    }
    T* data() const { return items_.get(); }
    friend void releaseIfLarge(Scratch& scratch) {
        if (scratch.size_ * sizeof(T) > largestKept) {
            scratch.items_.reset();
            scratch.size_ = 0;
        }
    }

private:
    std::unique_ptr<T[]> items_;
    std::size_t size_ = 0;
};

// Buffers a thread keeps between files, like KeptBuffer's.
template <class Items> struct Kept {
    Items& items;
    explicit Kept(Items& slot) : items(slot) {}
    ~Kept() { releaseIfLarge(items); }
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
};

// Every block takes at least two bits: a DC code and an AC code, each one bit or more.
constexpr std::uint64_t fewestBitsPerBlock = 2;

// The scan's data without stuffing, one segment per restart interval up to the one holding the last
// MCU: libjpeg-turbo reads nothing after that.
struct Data {
    std::vector<std::uint64_t> ends; // where each segment ends, in bits of the copy
    bool atEndOfFile = false;        // the last one ends with the file rather than a marker
};

// Copies the data into `copy` and stops as soon as it is known not to decode: when a segment before
// the last ends in anything but the next restart marker, or holds fewer bits than its MCUs need
// (`fullBits` for a whole interval, `lastBits` for the last segment). Either way the first run would
// fail there, and libjpeg-turbo with it.
bool unstuff(Bytes file, std::size_t start, Scratch<std::uint8_t>& copy, Data& data, std::size_t needed,
             std::uint64_t fullBits, std::uint64_t lastBits) {
    const std::uint8_t* f = file.data();
    const std::size_t size = file.size();
    // Never longer than the data it comes from.
    std::uint8_t* const clean = copy.atLeast(size - start + padding);
    std::size_t used = 0;
    std::uint64_t segmentStart = 0;
    std::size_t pos = start;
    bool atEnd = true;
    while (pos < size) {
        // Data made of little but FF bytes should not cost a call for each.
        const void* found = f[pos] == 0xFF ? f + pos : std::memchr(f + pos, 0xFF, size - pos);
        const std::size_t run =
            found == nullptr ? size - pos
                             : static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - (f + pos));
        std::memcpy(clean + used, f + pos, run);
        used += run;
        pos += run;
        if (found == nullptr) {
            break;
        }
        std::size_t next = pos + 1;
        while (next < size && f[next] == 0xFF) {
            ++next;
        }
        if (next >= size) {
            break;
        }
        const std::uint8_t code = f[next];
        if (code == 0x00) {
            clean[used++] = 0xFF;
            pos = next + 1;
            continue;
        }
        // A marker: the end of a segment.
        const std::uint64_t end = std::uint64_t{used} * 8;
        if (data.ends.size() + 1 == needed) {
            atEnd = false;
            break;
        }
        if (code != 0xD0 + data.ends.size() % 8 || end - segmentStart < fullBits) {
            return false;
        }
        data.ends.push_back(end);
        segmentStart = end;
        pos = next + 1;
    }
    const std::uint64_t end = std::uint64_t{used} * 8;
    if (data.ends.size() + 1 != needed || end - segmentStart < lastBits) {
        return false;
    }
    data.ends.push_back(end);
    data.atEndOfFile = atEnd;
    std::memset(clean + used, 0, padding);
    return true;
}

// Bits most significant first, refilled before every lookup without a branch: after `refill` at least
// 56 bits are valid, more than any one lookup consumes (31 at most).
struct BitReader {
    const std::uint8_t* base = nullptr;
    const std::uint8_t* next = nullptr;
    std::uint64_t bits = 0;
    unsigned count = 0;

    [[gnu::always_inline]] void refill() {
        std::uint64_t word;
        std::memcpy(&word, next, sizeof word);
        bits |= __builtin_bswap64(word) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    [[gnu::always_inline]] void consume(unsigned n) {
        bits <<= n;
        count -= n;
    }
    [[gnu::always_inline]] std::uint64_t position() const {
        return static_cast<std::uint64_t>(next - base) * 8 - count;
    }
    [[gnu::always_inline]] void seekByte(std::uint64_t byte) {
        next = base + byte;
        bits = 0;
        count = 0;
    }
};

// The sample libjpeg-turbo's 1 x 1 inverse transform makes of a DC term, through its range-limit
// table (which wraps values far outside 0..255 the way it does).
const std::array<std::uint8_t, 1024>& rangeLimit() {
    static const std::array<std::uint8_t, 1024> table = [] {
        std::array<std::uint8_t, 1024> t{};
        for (int i = 0; i < 1024; ++i) {
            t[i] = static_cast<std::uint8_t>(i < 128 ? i + 128 : i < 512 ? 255 : i < 896 ? 0 : i - 896);
        }
        return t;
    }();
    return table;
}

struct BlockPlan {
    const DcTable* dc = nullptr;
    const AcTable* ac = nullptr;
    int scanComponent = 0;
    bool luma = false;
};

// One run through entropy-coded data, block by block. It keeps each luma block's DC term (the running
// prediction, cut to 16 bits as libjpeg-turbo stores it) in coding order; the plane is made from those
// at the end. The decoding loop drives it with `lookup` and calls `advance` when a block is over, so
// that two runs can take turns in one loop: each lookup waits on the one before it in the same run,
// and two independent runs keep the core busy while either waits.
struct Run {
    BitReader reader;
    const BlockPlan* blocks = nullptr;
    int blocksPerMcu = 0;
    int blockIndex = 0;
    const AcTable* ac = nullptr;
    unsigned k = 64;
    int left = 0; // lookups the bits in hand still cover
    bool broken = false;
    // Each scan component's last DC term. Kept outside the run, so that the compiler can hold the rest of
    // it in registers (an array indexed at run time would keep the whole run in memory).
    std::uint32_t* prediction = nullptr;
    std::uint16_t* luma = nullptr; // where the next luma block's term goes

    static constexpr int lookupsPerRefill = 56 / acLookBits;

    // One lookup among the current block's AC codes: true when the block is over, or the run broken
    // on a code no table holds.
    [[gnu::always_inline]] bool lookup() {
        if (left == 0) {
            reader.refill();
            left = lookupsPerRefill;
        }
        --left;
        const AcEntry& e = ac->look[reader.bits >> (64 - acLookBits)];
        if (k < e.limit) [[likely]] {
            reader.consume(e.bits);
            k += e.inc;
            return k >= 64;
        }
        if (e.singleBits != 0) {
            reader.consume(e.singleBits);
            k += e.singleInc;
            return e.singleInc == 0 || k >= 64;
        }
        // A long code, or one whose magnitude bits run past the table: up to 31 bits.
        reader.refill();
        int length = e.codeLength;
        int symbol = e.symbol;
        if (length == 0) {
            std::tie(length, symbol) = ac->canonical.decode(reader.bits, acLookBits + 1, 16);
            if (length == 0) {
                broken = true;
                return true;
            }
        }
        const unsigned magnitude = static_cast<unsigned>(symbol) & 15;
        const unsigned run = static_cast<unsigned>(symbol) >> 4;
        reader.consume(static_cast<unsigned>(length) + magnitude);
        left = (56 - 31) / acLookBits;
        if (magnitude == 0 && run != 15) {
            return true;
        }
        k += magnitude != 0 ? run + 1 : 16;
        return k >= 64;
    }

    // The next block's DC code and the prediction it updates; false on a code no table holds.
    [[gnu::always_inline]] bool startBlock() {
        const BlockPlan& block = blocks[blockIndex];
        reader.refill();
        const DcEntry& dcEntry = block.dc->look[reader.bits >> (64 - dcLookBits)];
        int length = dcEntry.length;
        int size = dcEntry.size;
        if (length == 0) {
            const auto [l, symbol] = block.dc->canonical.decode(reader.bits, dcLookBits + 1, 16);
            if (l == 0) {
                return false;
            }
            length = l;
            size = symbol;
        }
        // The difference's `size` bits, negative when the first is 0; all without a branch, since the
        // sign is as likely one way as the other and a mispredicted branch costs more than this.
        const auto raw = static_cast<std::int32_t>(((reader.bits << length) >> (63 - size)) >> 1);
        const std::int32_t half = (1 << size) >> 1;
        const std::int32_t difference = raw - (((1 << size) - 1) & -static_cast<std::int32_t>(raw < half));
        reader.consume(static_cast<unsigned>(length + size));
        std::uint32_t& last = prediction[static_cast<std::size_t>(block.scanComponent)];
        last += static_cast<std::uint32_t>(difference);
        if (block.luma) {
            *luma++ = static_cast<std::uint16_t>(last);
        }
        // The DC code took at most 31 of the 56 bits its refill gave.
        left = (56 - 31) / acLookBits;
        k = 1;
        ac = block.ac;
        return true;
    }
};

// Starts the block the run stands at, crossing into the next MCU through `role` while a DC code is
// broken. False when the run is over.
template <class Role> [[gnu::always_inline]] inline bool resume(Run& run, Role& role) {
    for (;;) {
        if (run.startBlock()) [[likely]] {
            return true;
        }
        run.broken = true;
        if (!role.nextMcu(run)) {
            return false;
        }
    }
}

// After `lookup` said the block is over: on to the next block, and through `role` into the next MCU.
template <class Role> [[gnu::always_inline]] inline bool advance(Run& run, Role& role) {
    if (run.broken || ++run.blockIndex == run.blocksPerMcu) {
        if (!role.nextMcu(run)) {
            return false;
        }
    }
    return resume(run, role);
}

template <class Role> [[gnu::always_inline]] inline bool begin(Run& run, Role& role) {
    return role.nextMcu(run) && resume(run, role);
}

// The decoding loops live in functions of their own, on copies of the runs, so that nothing else in
// decodeDc competes for the registers that hold them.
template <class Role> [[gnu::noinline]] void runAlone(Run& run, Role& role) {
    Run local = run;
    bool going = true;
    while (going) {
        if (local.lookup()) {
            going = advance(local, role);
        }
    }
    run = local;
}

// Two runs take turns, one lookup each, until one of them stops; both must be going.
template <class RoleA, class RoleB>
[[gnu::noinline]] void takeTurns(Run& runA, RoleA& roleA, bool& goingA, Run& runB, RoleB& roleB,
                                 bool& goingB) {
    Run a = runA;
    Run b = runB;
    bool aGoing = true;
    bool bGoing = true;
    while (aGoing && bGoing) {
        if (a.lookup()) {
            aGoing = advance(a, roleA);
        }
        if (b.lookup()) {
            bGoing = advance(b, roleB);
        }
    }
    runA = a;
    runB = b;
    goingA = aGoing;
    goingB = bGoing;
}

// Where a run that started at a guessed place in the data was at the start of each MCU it decoded.
struct McuStart {
    std::uint32_t bit = 0;
    std::uint32_t lumaPrediction = 0;
};

// A run that starts halfway through the data, where it takes the bits to be the start of an MCU. It
// probably is not: its first blocks are nonsense. Huffman codes fall back into step within a few codes,
// though, and once this run and the one from the start stand at the same bit at the start of an MCU,
// they decode the same from there on. Only the DC predictions differ, by the same amount for the rest
// of the data, since a DC code is a difference. So this run notes where each of its MCUs starts, and
// on a code no table holds it steps one bit on and starts afresh. Data that keeps breaking it (a real
// file's falls into step within a few codes) makes it give up, which leaves the rest to the first run.
struct GuessRole {
    std::vector<McuStart>& starts;
    std::vector<std::uint32_t>& fresh; // indexes into `starts` where the run started afresh
    std::uint16_t* lumaBase = nullptr;
    int lumaPerMcu = 0;
    std::uint64_t endBit = 0;
    std::size_t cap = 0; // more MCUs than the data can hold in step
    static constexpr std::size_t mostRestarts = 64;

    [[gnu::always_inline]] bool nextMcu(Run& run) {
        if (run.broken) [[unlikely]] {
            run.broken = false;
            starts.pop_back(); // the MCU it was in
            if (fresh.size() == mostRestarts) {
                return false;
            }
            fresh.push_back(static_cast<std::uint32_t>(starts.size()));
            run.reader.refill();
            run.reader.consume(1);
        }
        const std::uint64_t bit = run.reader.position();
        // The start of an MCU past the end is where the last one ended, which tells whether it fits.
        starts.push_back({static_cast<std::uint32_t>(bit), run.prediction[0]});
        if (bit > endBit || starts.size() > cap) {
            return false;
        }
        run.luma = lumaBase + (starts.size() - 1) * static_cast<std::size_t>(lumaPerMcu);
        run.blockIndex = 0;
        return true;
    }
};

// The run from the start of the data, which decides the outcome; with a GuessRole behind it, it stops
// where that run took over and then looks for the place where the two fall into step.
struct ExactRole {
    enum class Phase { alone, ahead, waiting, seeking, done };
    Phase phase = Phase::alone;
    Outcome outcome = Outcome::failed;
    std::int64_t mcu = 0; // MCUs begun
    std::int64_t totalMcus = 0;
    std::int64_t interval = 0;
    const std::vector<std::uint64_t>* segmentEnds = nullptr;
    std::size_t segment = 0;
    std::uint16_t* lumaBase = nullptr;
    int lumaPerMcu = 0;
    // With a guessing run
    std::uint64_t guessBit = 0;
    const GuessRole* guess = nullptr;
    std::size_t nextStart = 0;
    std::size_t joined = 0;   // the guessing run's MCU where this run's own ended
    std::uint16_t shift = 0;  // what the guessing run's luma terms lack from `joined` on
    std::uint64_t endBit = 0; // where the last MCU ended, once decoded

    [[gnu::always_inline]] bool nextMcu(Run& run) {
        if (run.broken) [[unlikely]] {
            outcome = Outcome::failed;
            return false;
        }
        const std::uint64_t bit = run.reader.position();
        if (bit > (*segmentEnds)[segment]) {
            outcome = Outcome::failed; // ran out of data: truncated, or a marker where data should be
            return false;
        }
        if (mcu == totalMcus) {
            outcome = Outcome::decoded;
            endBit = bit;
            return false;
        }
        // Copying the data checked that each segment before the last ends in the right marker.
        if (interval != 0 && mcu != 0 && mcu % interval == 0) {
            if (segment + 1 >= segmentEnds->size()) {
                outcome = Outcome::failed;
                return false;
            }
            run.reader.seekByte((*segmentEnds)[segment] / 8);
            ++segment;
            std::fill_n(run.prediction, 4, 0u);
        }
        if (phase == Phase::ahead && bit >= guessBit) {
            phase = Phase::waiting;
            return false; // taken up again once the guessing run is done
        }
        return enter(run, bit);
    }

    // Once the guessing run is done: decoding on from where this run waited, looking for the join.
    bool takeUp(Run& run) {
        phase = Phase::seeking;
        return enter(run, run.reader.position());
    }

    // Into the MCU starting at `bit`, unless the guessing run's MCUs take over from there.
    [[gnu::always_inline]] bool enter(Run& run, std::uint64_t bit) {
        if (phase == Phase::seeking && joins(run.prediction[0], bit)) {
            phase = Phase::done;
            outcome = Outcome::decoded;
            return false;
        }
        run.luma = lumaBase + static_cast<std::size_t>(mcu) * static_cast<std::size_t>(lumaPerMcu);
        run.blockIndex = 0;
        ++mcu;
        return true;
    }

    // Whether the guessing run started an MCU at this bit and went on from there, unbroken and within
    // the data, to the end of the last MCU.
    [[gnu::noinline]] bool joins(std::uint32_t lumaPrediction, std::uint64_t bit) {
        const std::vector<McuStart>& starts = guess->starts;
        while (nextStart < starts.size() && starts[nextStart].bit < bit) {
            ++nextStart;
        }
        if (nextStart == starts.size() || starts[nextStart].bit != bit) {
            return false;
        }
        const std::size_t last = nextStart + static_cast<std::size_t>(totalMcus - mcu);
        if (last >= starts.size() || starts[last].bit > guess->endBit) {
            return false;
        }
        const std::vector<std::uint32_t>& fresh = guess->fresh;
        const auto after = std::upper_bound(fresh.begin(), fresh.end(), nextStart);
        if (after != fresh.end() && *after <= last) {
            return false;
        }
        joined = nextStart;
        endBit = starts[last].bit;
        shift = static_cast<std::uint16_t>(lumaPrediction - starts[nextStart].lumaPrediction);
        return true;
    }
};

// libjpeg-turbo's careful path keeps its bits in a 64-bit buffer, which it fills to at least 57 bits,
// a byte at a time, whenever a code or the bits after one would need more than it holds. A file whose
// last segment runs to the end of the file fails there when such a fill wants a byte past the end, even
// if all the bits it needs are there. Since fills happen only at the start of a code, which is at least
// one bit before the end of the last MCU, data that goes on for `lookAhead` bits after it is safe.
constexpr std::uint64_t fillTo = 57;
constexpr std::uint64_t lookAhead = fillTo - 1;

// Whether libjpeg-turbo, decoding the `mcus` MCUs of the segment from bit `from` to `end` of `clean`
// (data that decoded without fault), reads past `end`. It follows libjpeg-turbo code by code where a
// fill may come: a lookup of 8 bits, longer codes from 9 bits on one bit at a time, then a code's
// extra bits, each asking for a fill when the buffer holds fewer bits than it wants. While the buffer
// holds 8 bits more than a whole entry of the AC table takes, no fill can come inside it, and the entry
// is taken at once as the decoding loop does.
bool readsPastEnd(const std::uint8_t* clean, std::uint64_t from, std::uint64_t end, std::int64_t mcus,
                  const std::vector<BlockPlan>& blocks) {
    std::uint64_t at = from;     // bits taken
    std::uint64_t loaded = from; // bits read into the buffer
    const auto want = [&](std::uint64_t bits) {
        if (loaded - at >= bits) {
            return true;
        }
        while (loaded - at < fillTo) {
            if (loaded >= end) {
                return false;
            }
            loaded += 8;
        }
        return true;
    };
    const auto window = [&] {
        std::uint64_t word;
        std::memcpy(&word, clean + at / 8, sizeof word);
        return __builtin_bswap64(word) << (at % 8);
    };
    // Takes a code of `length` bits; false when reading it runs past the end.
    const auto take = [&](int length) {
        if (!want(8)) {
            return false;
        }
        if (length <= 8) {
            at += static_cast<unsigned>(length);
            return true;
        }
        for (int l = 9; l <= length; ++l) {
            if (!want(l == 9 ? 9 : 1)) {
                return false;
            }
            at += l == 9 ? 9 : 1;
        }
        return true;
    };
    for (std::int64_t mcu = 0; mcu < mcus; ++mcu) {
        for (const BlockPlan& block : blocks) {
            const std::uint64_t dcWindow = window();
            const DcEntry& d = block.dc->look[dcWindow >> (64 - dcLookBits)];
            const auto [length, size] = d.length != 0
                                            ? std::pair<int, int>{d.length, d.size}
                                            : block.dc->canonical.decode(dcWindow, dcLookBits + 1, 16);
            if (!take(length) || !want(static_cast<std::uint64_t>(size))) {
                return true;
            }
            at += static_cast<unsigned>(size);
            const AcTable& ac = *block.ac;
            for (unsigned k = 1; k < 64;) {
                const std::uint64_t acWindow = window();
                const AcEntry& e = ac.look[acWindow >> (64 - acLookBits)];
                if (k < e.limit && loaded - at >= std::uint64_t{e.bits} + 8) {
                    at += e.bits;
                    k += e.inc;
                    continue;
                }
                const auto [codeLength, symbol] = e.codeLength != 0
                                                      ? std::pair<int, int>{e.codeLength, e.symbol}
                                                      : ac.canonical.decode(acWindow, acLookBits + 1, 16);
                const auto run = static_cast<unsigned>(symbol) >> 4;
                const auto magnitude = static_cast<unsigned>(symbol) & 15;
                if (!take(codeLength) || !want(magnitude)) {
                    return true;
                }
                at += magnitude;
                if (magnitude != 0) {
                    k += run + 1;
                } else if (run != 15) {
                    break;
                } else {
                    k += 16;
                }
            }
        }
    }
    return false;
}

} // namespace

KeptBuffer::KeptBuffer(Slot slot)
    : bytes([slot]() -> std::vector<std::uint8_t>& {
          thread_local std::array<std::vector<std::uint8_t>, 1> slots;
          return slots[static_cast<std::size_t>(slot)];
      }()) {}

KeptBuffer::~KeptBuffer() {
    releaseIfLarge(bytes);
}

std::optional<Header> readHeader(Bytes file) {
    Markers markers;
    if (!readMarkers(file, markers)) {
        return std::nullopt;
    }
    return Header{markers.width, markers.height, markers.orientation};
}

int exifOrientation(Bytes app1) {
    if (app1.size() < 14 || std::memcmp(app1.data(), "Exif\0\0", 6) != 0) {
        return 1;
    }
    const Bytes tiff = app1.subspan(6);
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) {
        return 1;
    }
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? (std::uint32_t{tiff[at + 1]} << 8) | tiff[at]
                      : (std::uint32_t{tiff[at]} << 8) | tiff[at + 1];
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? (u16(at + 2) << 16) | u16(at) : (u16(at) << 16) | u16(at + 2);
    };
    if (u16(2) != 42) {
        return 1;
    }
    const std::uint64_t ifd = u32(4);
    if (ifd + 2 > tiff.size()) {
        return 1;
    }
    const std::uint32_t entries = u16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = ifd + 2 + 12 * std::uint64_t{i};
        if (entry + 12 > tiff.size()) {
            break;
        }
        if (u16(entry) == 0x0112) {
            const std::uint32_t value = u16(entry + 8);
            return u16(entry + 2) == 3 && u32(entry + 4) >= 1 && value >= 1 && value <= 8
                       ? static_cast<int>(value)
                       : 1;
        }
    }
    return 1;
}

namespace {
thread_local std::int64_t secondRunMcus = 0;
} // namespace

std::int64_t lastSecondRunMcus() {
    return secondRunMcus;
}

Outcome decodeDc(Bytes file, Plane& plane, std::int64_t maximumPixels, std::size_t splitFrom) {
    Markers m;
    if (!readMarkers(file, m)) {
        return Outcome::failed;
    }
    if (std::int64_t{m.width} * m.height > maximumPixels) {
        return Outcome::failed;
    }
    // What this reader takes on; anything else goes to libjpeg-turbo.
    const std::size_t count = m.components.size();
    const bool rgb = !m.jfif && ((m.adobe && m.adobeTransform == 0) ||
                                 (!m.adobe && count == 3 && m.components[0].id == 'R' &&
                                  m.components[1].id == 'G' && m.components[2].id == 'B'));
    const bool oddAdobe = !m.jfif && m.adobe && m.adobeTransform != 0 && m.adobeTransform != 1;
    // libjpeg-turbo refuses sides over 65,500.
    if (m.width > 65500 || m.height > 65500) {
        return Outcome::unsupported;
    }
    if (!m.sequentialHuffman || m.precision != 8 || (count != 1 && count != 3) || rgb || oddAdobe ||
        m.quantShort || !m.scanResolved || m.scan.size() != count || m.ss != 0 || m.se != 63 || m.ah != 0 ||
        m.al != 0) {
        return Outcome::unsupported;
    }
    // The scan must list the components in frame order, as libjpeg-turbo insists.
    for (std::size_t i = 0; i < count; ++i) {
        if (m.scan[i].frameIndex != static_cast<int>(i)) {
            return Outcome::unsupported;
        }
    }
    int maxH = 1;
    int maxV = 1;
    for (const FrameComponent& c : m.components) {
        // libjpeg-turbo wants a table for every component, even those greyscale output never uses.
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quantTable > 3 || !m.quantDefined[c.quantTable]) {
            return Outcome::unsupported;
        }
        maxH = std::max(maxH, c.h);
        maxV = std::max(maxV, c.v);
    }
    const FrameComponent& luma = m.components[0];
    if (!m.quantDefined[luma.quantTable] || (count > 1 && (luma.h != maxH || luma.v != maxV))) {
        return Outcome::unsupported;
    }

    // Tables, built once for each one the scan names.
    std::array<std::unique_ptr<DcTable>, 4> dcTables;
    std::array<std::unique_ptr<AcTable>, 4> acTables;
    for (const ScanComponent& s : m.scan) {
        if (s.dcTable > 3 || s.acTable > 3 || !m.dc[s.dcTable].defined || !m.ac[s.acTable].defined) {
            return Outcome::unsupported;
        }
        if (!dcTables[s.dcTable]) {
            dcTables[s.dcTable] = std::make_unique<DcTable>();
            if (!derive(m.dc[s.dcTable], true, dcTables[s.dcTable]->canonical)) {
                return Outcome::failed;
            }
            buildDc(*dcTables[s.dcTable]);
        }
        if (!acTables[s.acTable]) {
            acTables[s.acTable] = std::make_unique<AcTable>();
            if (!derive(m.ac[s.acTable], false, acTables[s.acTable]->canonical)) {
                return Outcome::failed;
            }
            buildAc(*acTables[s.acTable]);
        }
    }

    // The blocks of one MCU, in coding order; luma blocks go left to right, then top to bottom.
    std::vector<BlockPlan> blocks;
    int mcusPerRow = 0;
    int mcuRows = 0;
    int lumaH = 1;
    int lumaV = 1;
    if (count == 1) {
        blocks.push_back({dcTables[m.scan[0].dcTable].get(), acTables[m.scan[0].acTable].get(), 0, true});
        mcusPerRow = (m.width + 7) / 8;
        mcuRows = (m.height + 7) / 8;
    } else {
        int inMcu = 0;
        for (std::size_t s = 0; s < m.scan.size(); ++s) {
            const FrameComponent& c = m.components[m.scan[s].frameIndex];
            inMcu += c.h * c.v;
            for (int i = 0; i < c.h * c.v; ++i) {
                blocks.push_back({dcTables[m.scan[s].dcTable].get(), acTables[m.scan[s].acTable].get(),
                                  static_cast<int>(s), m.scan[s].frameIndex == 0});
            }
        }
        if (inMcu > 10) {
            return Outcome::unsupported;
        }
        mcusPerRow = (m.width + 8 * maxH - 1) / (8 * maxH);
        mcuRows = (m.height + 8 * maxV - 1) / (8 * maxV);
        lumaH = luma.h;
        lumaV = luma.v;
    }
    const int lumaPerMcu = lumaH * lumaV;
    const std::int64_t totalMcus = std::int64_t{mcusPerRow} * mcuRows;

    // Nothing is allocated for more MCUs than the data can hold: a header may claim any size.
    const auto blocksPerMcu = static_cast<std::uint64_t>(blocks.size());
    const std::uint64_t mcuBits = fewestBitsPerBlock * blocksPerMcu;
    if (static_cast<std::uint64_t>(totalMcus) > (file.size() - m.dataStart) * std::uint64_t{8} / mcuBits) {
        return Outcome::failed;
    }
    const std::int64_t interval = m.restartInterval;
    const std::int64_t segmentsNeeded = interval == 0 ? 1 : (totalMcus + interval - 1) / interval;
    const std::int64_t lastMcus = totalMcus - (segmentsNeeded - 1) * interval;

    thread_local Scratch<std::uint8_t> cleanSlot;
    const Kept<Scratch<std::uint8_t>> kept(cleanSlot);
    Scratch<std::uint8_t>& clean = kept.items;
    Data data;
    if (!unstuff(file, m.dataStart, clean, data, static_cast<std::size_t>(segmentsNeeded),
                 static_cast<std::uint64_t>(interval) * mcuBits,
                 static_cast<std::uint64_t>(lastMcus) * mcuBits)) {
        return Outcome::failed;
    }

    thread_local Scratch<std::uint16_t> lumaSlot;
    thread_local Scratch<std::uint16_t> guessLumaSlot;
    thread_local std::vector<McuStart> startsSlot;
    thread_local std::vector<std::uint32_t> freshSlot;
    const Kept<Scratch<std::uint16_t>> lumaTerms(lumaSlot);
    const Kept<Scratch<std::uint16_t>> guessLumaTerms(guessLumaSlot);
    const Kept<std::vector<McuStart>> starts(startsSlot);
    const Kept<std::vector<std::uint32_t>> fresh(freshSlot);
    lumaTerms.items.atLeast(static_cast<std::size_t>(totalMcus) * static_cast<std::size_t>(lumaPerMcu));

    std::array<std::uint32_t, 4> exactPrediction{};
    std::array<std::uint32_t, 4> guessPrediction{};
    Run exact;
    exact.prediction = exactPrediction.data();
    exact.reader.base = clean.data();
    exact.reader.next = clean.data();
    exact.blocks = blocks.data();
    exact.blocksPerMcu = static_cast<int>(blocks.size());
    ExactRole exactRole;
    exactRole.totalMcus = totalMcus;
    exactRole.interval = m.restartInterval;
    exactRole.segmentEnds = &data.ends;
    exactRole.lumaBase = lumaTerms.items.data();
    exactRole.lumaPerMcu = lumaPerMcu;

    const std::uint64_t dataBits = data.ends[0];
    GuessRole guessRole{starts.items, fresh.items};
    // MCU starts are kept as 32-bit bit positions.
    if (m.restartInterval == 0 && data.ends.size() == 1 && dataBits / 8 >= splitFrom && totalMcus > 1 &&
        dataBits <= std::numeric_limits<std::uint32_t>::max()) {
        const std::uint64_t guessByte = dataBits / 16;
        // As many MCUs as the second half can hold, and two more: the end of the last, and one to spare.
        guessRole.cap = static_cast<std::size_t>(std::min(static_cast<std::uint64_t>(totalMcus),
                                                          (dataBits - guessByte * 8) / mcuBits)) +
                        2;
        guessLumaTerms.items.atLeast(guessRole.cap * static_cast<std::size_t>(lumaPerMcu));
        guessRole.lumaBase = guessLumaTerms.items.data();
        guessRole.lumaPerMcu = lumaPerMcu;
        guessRole.endBit = dataBits;
        starts.items.clear();
        // All at once: pages cost only when written, and no copies as it grows.
        starts.items.reserve(guessRole.cap + 1);
        fresh.items.clear();
        Run guess = exact;
        guess.prediction = guessPrediction.data();
        guess.reader.seekByte(guessByte);
        exactRole.phase = ExactRole::Phase::ahead;
        exactRole.guessBit = guessByte * 8;
        exactRole.guess = &guessRole;

        bool exactGoing = begin(exact, exactRole);
        bool guessGoing = begin(guess, guessRole);
        if (exactGoing && guessGoing) {
            takeTurns(exact, exactRole, exactGoing, guess, guessRole, guessGoing);
        }
        // Only while the first run waits for it: once that failed, the outcome is known.
        if (guessGoing && exactRole.phase == ExactRole::Phase::waiting) {
            runAlone(guess, guessRole);
        }
        if (exactRole.phase == ExactRole::Phase::waiting) {
            if (exactRole.takeUp(exact) && resume(exact, exactRole)) {
                runAlone(exact, exactRole);
            }
        } else if (exactGoing) {
            exactRole.phase = ExactRole::Phase::seeking;
            runAlone(exact, exactRole);
        }
    } else if (begin(exact, exactRole)) {
        runAlone(exact, exactRole);
    }
    if (exactRole.outcome != Outcome::decoded) {
        return exactRole.outcome;
    }
    // Data that runs to the end of the file, with no marker after it, fails where libjpeg-turbo, which
    // reads ahead, meets the end of the file before the last MCU is done.
    if (data.atEndOfFile && exactRole.endBit + lookAhead > data.ends.back()) {
        const std::uint64_t from = data.ends.size() > 1 ? data.ends[data.ends.size() - 2] : 0;
        if (readsPastEnd(clean.data(), from, data.ends.back(), lastMcus, blocks)) {
            return Outcome::failed;
        }
    }

    plane.imageWidth = m.width;
    plane.imageHeight = m.height;
    plane.width = (m.width + 7) / 8;
    plane.height = (m.height + 7) / 8;
    plane.orientation = m.orientation;
    plane.pixels.assign(static_cast<std::size_t>(plane.width) * plane.height, 0);

    // The guessing run's terms from where the runs joined, set right and put after the first run's.
    const std::int64_t ownMcus = exactRole.phase == ExactRole::Phase::done ? exactRole.mcu : totalMcus;
    secondRunMcus = totalMcus - ownMcus;
    std::uint16_t* const terms = lumaTerms.items.data();
    if (ownMcus < totalMcus) {
        const std::uint16_t* from = guessLumaTerms.items.data() + exactRole.joined * lumaPerMcu;
        std::uint16_t* to = terms + ownMcus * lumaPerMcu;
        const std::uint16_t shift = exactRole.shift;
        for (std::int64_t i = 0; i < (totalMcus - ownMcus) * lumaPerMcu; ++i) {
            to[i] = static_cast<std::uint16_t>(from[i] + shift);
        }
    }

    // DC terms into samples, each luma block to its place in the plane, row by row of blocks; the
    // blocks of MCUs past the image's right or bottom edge are left out.
    const auto& limitTable = rangeLimit();
    const int quant = static_cast<std::int16_t>(static_cast<std::uint16_t>(m.firstQuant[luma.quantTable]));
    for (int by = 0; by < plane.height; ++by) {
        std::uint8_t* row =
            plane.pixels.data() + static_cast<std::size_t>(by) * static_cast<std::size_t>(plane.width);
        const std::uint16_t* t = terms + (std::int64_t{by / lumaV} * mcusPerRow * lumaV + by % lumaV) * lumaH;
        int bx = 0;
        for (int mx = 0; bx < plane.width; ++mx, t += lumaPerMcu) {
            for (int dx = 0; dx < lumaH && bx < plane.width; ++dx, ++bx) {
                // Both factors fit 16 bits, so the product fits an int.
                const int value = (static_cast<std::int16_t>(t[dx]) * quant + 4) >> 3;
                row[bx] = limitTable[static_cast<std::size_t>(value & 1023)];
            }
        }
    }
    return Outcome::decoded;
}

// ---------------------------------------------------------------------------------------------------
// libjpeg-turbo

namespace {

struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void failOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

void failOnBrokenData(j_common_ptr info, int level) {
    if (level >= 0) {
        return;
    }
    const int code = info->err->msg_code;
    if (code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_MUST_RESYNC ||
        code == JWRN_JPEG_EOF) {
        std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
    }
}

void quiet(j_common_ptr) {}

// A source that hands the data over a few bytes at a time.
struct Trickle {
    jpeg_source_mgr manager;
    const JOCTET* data;
    std::size_t size;
    std::size_t offset;
    std::size_t step;
};

const JOCTET fakeEnd[2] = {0xFF, JPEG_EOI};

boolean trickleFill(j_decompress_ptr info) {
    auto* source = reinterpret_cast<Trickle*>(info->src);
    if (source->offset >= source->size) {
        WARNMS(info, JWRN_JPEG_EOF);
        source->manager.next_input_byte = fakeEnd;
        source->manager.bytes_in_buffer = 2;
        return TRUE;
    }
    const std::size_t n = std::min(source->step, source->size - source->offset);
    source->manager.next_input_byte = source->data + source->offset;
    source->manager.bytes_in_buffer = n;
    source->offset += n;
    return TRUE;
}

void trickleSkip(j_decompress_ptr info, long count) {
    auto* source = reinterpret_cast<Trickle*>(info->src);
    while (count > 0) {
        if (source->manager.bytes_in_buffer == 0) {
            trickleFill(info);
        }
        const auto n = std::min(static_cast<std::size_t>(count), source->manager.bytes_in_buffer);
        source->manager.next_input_byte += n;
        source->manager.bytes_in_buffer -= n;
        count -= static_cast<long>(n);
    }
}

void trickleNothing(j_decompress_ptr) {}

// A progressive file may hold any number of scans; real ones have a dozen.
void limitScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > 1000) {
        std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
    }
}

} // namespace

Outcome decodeWithLibjpeg(Bytes file, Plane& plane, std::int64_t maximumPixels, std::size_t feedBytes) {
    const auto header = readHeader(file);
    if (!header) {
        return Outcome::failed;
    }
    // Nothing between setjmp and the longjmps below owns memory: libjpeg-turbo's own pools are freed by
    // jpeg_destroy_decompress, and the plane is the caller's.
    jpeg_decompress_struct info{};
    Errors errors{};
    jpeg_progress_mgr progress{};
    Trickle trickle{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = failOnError;
    errors.manager.emit_message = failOnBrokenData;
    errors.manager.output_message = quiet;
    progress.progress_monitor = limitScans;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return Outcome::failed;
    }
    jpeg_create_decompress(&info);
    info.progress = &progress;
    // Well above what a 250-megapixel progressive image needs for its coefficients would be too much;
    // this bounds what a hostile file can make it allocate.
    info.mem->max_memory_to_use = 160L * 1024 * 1024;
    if (feedBytes == 0) {
        jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    } else {
        trickle.manager.init_source = trickleNothing;
        trickle.manager.fill_input_buffer = trickleFill;
        trickle.manager.skip_input_data = trickleSkip;
        trickle.manager.resync_to_restart = jpeg_resync_to_restart;
        trickle.manager.term_source = trickleNothing;
        trickle.data = file.data();
        trickle.size = file.size();
        trickle.step = feedBytes;
        info.src = &trickle.manager;
    }
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(&info);
        return Outcome::unsupported;
    }
    if (std::int64_t{info.image_width} * info.image_height > maximumPixels) {
        jpeg_destroy_decompress(&info);
        return Outcome::failed;
    }
    info.scale_num = 1;
    info.scale_denom = 8;
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    plane.imageWidth = static_cast<int>(info.image_width);
    plane.imageHeight = static_cast<int>(info.image_height);
    plane.width = static_cast<int>(info.output_width);
    plane.height = static_cast<int>(info.output_height);
    plane.orientation = header->orientation;
    plane.pixels.assign(static_cast<std::size_t>(plane.width) * plane.height, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = plane.pixels.data() + static_cast<std::size_t>(info.output_scanline) * plane.width;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_destroy_decompress(&info);
    return Outcome::decoded;
}

} // namespace JpegLuma

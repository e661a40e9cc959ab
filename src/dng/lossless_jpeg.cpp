// Lossless JPEG (SOF3) decoding. The headers are parsed with bounds-checked cursors. The
// entropy-coded data is first copied without its byte stuffing into a buffer padded with zeros,
// noting where the restart markers were; a 64-bit bit buffer then reads it without branches or
// bounds checks, and whether it read past the data is checked after every line and at every
// restart.
//
// Hot path: a lookup table indexed by the next kLutBits bits resolves the Huffman code and, when
// they fit, the difference bits as well, in one load. Each stretch of a line that uses one
// predictor is decoded by a loop instantiated for that predictor and the component count.
#include "dng/lossless_jpeg.h"

#include "dng/error.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace dng {
namespace {

constexpr int kLutBits = 12;
constexpr uint32_t kLutSize = 1u << kLutBits;
constexpr int kMaxCodeLength = 16;
constexpr int kMaxComponents = 4;
constexpr int kMaxTables = 4;

enum : uint32_t {
    kLutLong = 0, // no code of kLutBits or fewer bits starts here: a longer code, or none at all
    kLutCategory = 1, // code resolved, difference bits follow: value = category | code length << 8
    kLutDiff = 2, // code and difference bits resolved: value = difference
};

// One lookup entry in 32 bits: the bits that the code and its difference bits use together in
// bits 0-7 (so that the entry can serve as a shift count as it is), kind in bits 8-15, value in
// bits 16-31 (signed for kLutDiff).
using LutEntry = uint32_t;

constexpr LutEntry MakeEntry(uint32_t kind, int32_t value, uint32_t length)
{
    return static_cast<uint32_t>(value) << 16 | kind << 8 | length;
}
constexpr uint32_t EntryLength(LutEntry e) { return e & 0xFF; }
constexpr uint32_t EntryKind(LutEntry e) { return (e >> 8) & 0xFF; }
constexpr int32_t EntryValue(LutEntry e) { return static_cast<int32_t>(e) >> 16; }

struct HuffTable {
    std::array<LutEntry, kLutSize> lut{};
    // Per code length 1..16: first and last code of that length (last = -1: none), and the index
    // of the first symbol of that length in values.
    std::array<int32_t, kMaxCodeLength + 1> minCode{};
    std::array<int32_t, kMaxCodeLength + 1> maxCode{};
    std::array<int32_t, kMaxCodeLength + 1> firstIndex{};
    std::array<uint8_t, 256> values{};
};

// Difference from its category s (1..15) and the s bits that follow the code.
inline int32_t ExtendDifference(uint32_t bits, int s)
{
    const int32_t v = static_cast<int32_t>(bits);
    return v < (1 << (s - 1)) ? v - ((1 << s) - 1) : v;
}

// ---------------------------------------------------------------------------------------------
// Header parsing

class Cursor {
public:
    Cursor(std::span<const uint8_t> bytes, const char* what) : fBytes(bytes), fWhat(what) {}

    size_t Left() const { return fBytes.size() - fPos; }

    uint8_t U8()
    {
        if (fPos >= fBytes.size())
            Fail("is too short");
        return fBytes[fPos++];
    }

    uint16_t U16()
    {
        const uint16_t hi = U8();
        return static_cast<uint16_t>((hi << 8) | U8());
    }

    void ExpectEnd() const
    {
        if (fPos != fBytes.size())
            Fail("has the wrong length");
    }

    [[noreturn]] void Fail(const std::string& problem) const
    {
        ThrowBadFormat(std::string("Lossless JPEG: ") + fWhat + " " + problem);
    }

private:
    std::span<const uint8_t> fBytes;
    size_t fPos = 0;
    const char* fWhat;
};

[[noreturn]] void Fail(const std::string& problem)
{
    ThrowBadFormat("Lossless JPEG: " + problem);
}

struct FrameComponent {
    uint8_t id = 0;
    uint8_t table = 0; // Huffman table chosen by the scan
};

struct Headers {
    LosslessJpegFrame frame;
    bool haveFrame = false;
    std::array<FrameComponent, kMaxComponents> components{};
    std::array<std::unique_ptr<HuffTable>, kMaxTables> tables;
    uint32_t restartInterval = 0;
    uint32_t predictor = 0;
    uint32_t pointTransform = 0;
    size_t scanStart = 0; // first byte of the entropy-coded data
};

void ParseFrame(Cursor c, Headers& h)
{
    if (h.haveFrame)
        c.Fail("appears twice");
    LosslessJpegFrame& f = h.frame;
    f.precision = c.U8();
    f.height = c.U16();
    f.width = c.U16();
    f.components = c.U8();
    if (f.precision < 2 || f.precision > 16)
        c.Fail("has precision " + std::to_string(f.precision) + " (2 to 16 allowed)");
    if (f.width == 0 || f.height == 0)
        c.Fail("has a zero dimension");
    if (f.components < 1 || f.components > kMaxComponents)
        c.Fail("has " + std::to_string(f.components) + " components (1 to 4 allowed)");
    for (uint32_t i = 0; i < f.components; ++i) {
        const uint8_t id = c.U8();
        const uint8_t sampling = c.U8();
        c.U8(); // quantisation table: unused by lossless coding
        if (sampling != 0x11)
            c.Fail("has subsampled components (only H = V = 1 is supported)");
        for (uint32_t j = 0; j < i; ++j) {
            if (h.components[j].id == id)
                c.Fail("names a component twice");
        }
        h.components[i].id = id;
    }
    c.ExpectEnd();
    h.haveFrame = true;
}

void BuildTable(const std::array<uint8_t, kMaxCodeLength + 1>& counts, HuffTable& t, Cursor& c)
{
    // Canonical codes: consecutive within a length, doubled when moving to the next length.
    std::array<int32_t, kMaxCodeLength + 1> firstCode{};
    int32_t code = 0;
    int32_t index = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        firstCode[len] = code;
        t.minCode[len] = code;
        t.firstIndex[len] = index;
        code += counts[len];
        index += counts[len];
        if (code > (1 << len))
            c.Fail("has more codes of length " + std::to_string(len) + " than fit");
        t.maxCode[len] = counts[len] ? code - 1 : -1;
        code <<= 1;
    }

    const int lutLengths = kLutBits < kMaxCodeLength ? kLutBits : kMaxCodeLength;
    for (int len = 1; len <= lutLengths; ++len) {
        for (int k = 0; k < counts[len]; ++k) {
            const int s = t.values[static_cast<size_t>(t.firstIndex[len] + k)];
            const uint32_t spare = static_cast<uint32_t>(kLutBits - len);
            const uint32_t base = static_cast<uint32_t>(firstCode[len] + k) << spare;
            for (uint32_t j = 0; j < (1u << spare); ++j) {
                LutEntry& e = t.lut[base + j];
                if (s == 0) {
                    e = MakeEntry(kLutDiff, 0, static_cast<uint32_t>(len));
                } else if (s < 16 && len + s <= kLutBits) {
                    const uint32_t extra = (j >> (spare - static_cast<uint32_t>(s))) & ((1u << s) - 1);
                    e = MakeEntry(kLutDiff, ExtendDifference(extra, s), static_cast<uint32_t>(len + s));
                } else if (s < 16) {
                    e = MakeEntry(kLutCategory, s | len << 8, static_cast<uint32_t>(len + s));
                } else {
                    e = MakeEntry(kLutLong, len, static_cast<uint32_t>(len)); // category 16
                }
            }
        }
    }
}

void ParseTables(Cursor c, Headers& h)
{
    do {
        const uint8_t classAndId = c.U8();
        if ((classAndId >> 4) != 0)
            c.Fail("defines an AC table, which lossless coding does not use");
        const uint8_t id = classAndId & 15;
        if (id >= kMaxTables)
            c.Fail("defines table " + std::to_string(id) + " (0 to 3 allowed)");
        std::array<uint8_t, kMaxCodeLength + 1> counts{};
        uint32_t total = 0;
        for (int len = 1; len <= kMaxCodeLength; ++len) {
            counts[len] = c.U8();
            total += counts[len];
        }
        if (total > 256)
            c.Fail("holds more than 256 codes");
        auto table = std::make_unique<HuffTable>();
        for (uint32_t i = 0; i < total; ++i) {
            table->values[i] = c.U8();
            if (table->values[i] > 16)
                c.Fail("holds a category above 16");
        }
        BuildTable(counts, *table, c);
        h.tables[id] = std::move(table);
    } while (c.Left() > 0);
}

void ParseRestartInterval(Cursor c, Headers& h)
{
    h.restartInterval = c.U16();
    c.ExpectEnd();
}

void ParseScan(Cursor c, Headers& h)
{
    if (!h.haveFrame)
        c.Fail("comes before the frame header");
    const uint32_t count = c.U8();
    // DNG tiles carry every component in one interleaved scan; anything else would leave
    // samples undecoded.
    if (count != h.frame.components)
        c.Fail("covers " + std::to_string(count) + " of " + std::to_string(h.frame.components) + " components");
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t id = c.U8();
        const uint8_t tables = c.U8();
        if (id != h.components[i].id)
            c.Fail("names a component that is not the frame's next one");
        const uint8_t table = tables >> 4;
        if (table >= kMaxTables || !h.tables[table])
            c.Fail("uses Huffman table " + std::to_string(table) + ", which is not defined");
        h.components[i].table = table;
    }
    h.predictor = c.U8();
    c.U8(); // Se: unused by lossless coding
    h.pointTransform = c.U8() & 15;
    c.ExpectEnd();
    if (h.predictor < 1 || h.predictor > 7)
        c.Fail("selects predictor " + std::to_string(h.predictor) + " (1 to 7 allowed)");
    if (h.pointTransform >= h.frame.precision)
        c.Fail("has a point transform not below the precision");
}

// Walks the markers up to the frame header (stopAtFrame) or up to the start of the scan.
Headers ParseHeaders(std::span<const uint8_t> stream, bool stopAtFrame)
{
    if (stream.size() < 2 || stream[0] != 0xFF || stream[1] != 0xD8)
        Fail("the stream does not start with SOI");
    Headers h;
    size_t pos = 2;
    for (;;) {
        if (pos >= stream.size() || stream[pos] != 0xFF)
            Fail(pos >= stream.size() ? "the stream ends before the scan" : "a marker is missing");
        while (pos < stream.size() && stream[pos] == 0xFF)
            ++pos; // fill bytes
        if (pos >= stream.size())
            Fail("the stream ends before the scan");
        const uint8_t code = stream[pos++];
        if ((code >= 0xD0 && code <= 0xD7) || code == 0x01)
            continue; // markers without a segment: nothing to skip
        if (code == 0xD8 || code == 0xD9)
            Fail(code == 0xD8 ? "a second SOI comes before the scan" : "the stream ends before the scan");
        if (code == 0x00)
            Fail("a marker is missing");
        if (stream.size() - pos < 2)
            Fail("a segment length is cut off");
        const size_t length = static_cast<size_t>(stream[pos]) << 8 | stream[pos + 1];
        if (length < 2 || length > stream.size() - pos)
            Fail("a segment runs past the end of the stream");
        const std::span<const uint8_t> body = stream.subspan(pos + 2, length - 2);
        pos += length;

        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
            if (code != 0xC3)
                Fail("only lossless (SOF3) frames are supported");
            ParseFrame(Cursor(body, "frame header"), h);
            if (stopAtFrame)
                return h;
        } else if (code == 0xC4) {
            ParseTables(Cursor(body, "Huffman table segment"), h);
        } else if (code == 0xDD) {
            ParseRestartInterval(Cursor(body, "restart interval segment"), h);
        } else if (code == 0xDA) {
            ParseScan(Cursor(body, "scan header"), h);
            h.scanStart = pos;
            return h;
        }
        // Anything else (APPn, COM, ...) is skipped.
    }
}

// ---------------------------------------------------------------------------------------------
// Entropy-coded data

// The scan's entropy-coded data with the stuffing removed, followed by zero bytes, and where in it
// each restart marker stood.
struct EntropyData {
    static constexpr size_t kPadding = 8;

    std::vector<uint8_t> bytes;
    size_t length = 0; // bytes of real data, before the padding
    std::vector<size_t> restarts; // offset in bytes of each RSTn
    std::vector<uint8_t> restartNumbers; // its n
};

// Collects the data from start up to the first marker other than RSTn (any marker at all when
// the stream has no restart interval), or up to the end of the stream.
EntropyData Unstuff(std::span<const uint8_t> stream, size_t start, bool restarts)
{
    EntropyData d;
    d.bytes.reserve(stream.size() - start + EntropyData::kPadding);
    const uint8_t* const data = stream.data();
    const size_t size = stream.size();
    size_t pos = start;
    while (pos < size) {
        const void* ff = std::memchr(data + pos, 0xFF, size - pos);
        const size_t run = ff ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - (data + pos)) : size - pos;
        d.bytes.insert(d.bytes.end(), data + pos, data + pos + run);
        pos += run + 1; // past the 0xFF
        if (!ff)
            break;
        while (pos < size && data[pos] == 0xFF)
            ++pos; // fill bytes
        if (pos >= size)
            break;
        const uint8_t code = data[pos++];
        if (code == 0x00) {
            d.bytes.push_back(0xFF);
        } else if (restarts && code >= 0xD0 && code <= 0xD7) {
            d.restarts.push_back(d.bytes.size());
            d.restartNumbers.push_back(code & 7);
        } else {
            break;
        }
    }
    d.length = d.bytes.size();
    d.bytes.resize(d.length + EntropyData::kPadding, 0);
    return d;
}

// MSB-first reader over EntropyData. Reads past the real data yield zero bits and are noticed
// by comparing Consumed() with where the data ends.
struct BitReader {
    const uint8_t* data = nullptr;
    size_t lastLoad = 0; // highest offset an 8-byte load may start at: the padding
    size_t next = 0; // offset of the first byte not yet in buf
    uint64_t buf = 0; // valid bits at the top; below them the following data or zeros
    uint32_t bits = 0; // number of valid bits in buf

    uint64_t Consumed() const { return uint64_t{next} * 8 - bits; }

    void Skip(uint32_t n)
    {
        buf <<= n;
        bits -= n;
    }

    // Tops the buffer up to 56..63 bits without a branch. Afterwards every bit of buf is data:
    // the ones below the counted bits are the data that follows, so loading them again later ORs
    // in the same values. Past the data, the load stays on the zero padding. As a sample uses at
    // most 48 bits, the top kLutBits bits are data whenever a sample starts.
    void Fill()
    {
        uint64_t word;
        std::memcpy(&word, data + std::min(next, lastLoad), 8);
        if constexpr (std::endian::native == std::endian::little)
            word = __builtin_bswap64(word);
        buf |= word >> bits;
        next += (63 - bits) >> 3;
        bits |= 56;
    }

    void Start(size_t offset)
    {
        next = offset;
        buf = 0;
        bits = 0;
        Fill();
    }
};

struct ScanTables {
    std::array<const HuffTable*, kMaxComponents> tables{};
    bool bugCompat16 = false;
};

struct Decoded {
    int32_t difference;
    uint32_t length; // bits used
};

// Codes longer than the lookup table (and invalid codes), and category 16. buf holds at least
// 48 valid bits. Takes and returns values so that the caller's bit buffer can stay in registers.
[[gnu::noinline]] Decoded DecodeDifferenceSlowly(uint64_t buf, const HuffTable& t, LutEntry e, bool bugCompat16)
{
    int s = -1;
    uint32_t length = 0;
    if (EntryValue(e) != 0) {
        s = 16; // its code is in the lookup, with its length as value
        length = static_cast<uint32_t>(EntryValue(e));
    } else {
        for (int len = kLutBits + 1; len <= kMaxCodeLength; ++len) {
            const int32_t code = static_cast<int32_t>(buf >> (64 - len));
            if (code <= t.maxCode[len] && code >= t.minCode[len]) {
                s = t.values[static_cast<size_t>(t.firstIndex[len] + code - t.minCode[len])];
                length = static_cast<uint32_t>(len);
                break;
            }
        }
        if (s < 0)
            Fail("the entropy-coded data holds an invalid Huffman code");
    }
    if (s == 0)
        return {0, length};
    if (s == 16)
        return {32768, bugCompat16 ? length + 16 : length};
    const uint32_t extra = static_cast<uint32_t>((buf << length) >> (64 - s));
    return {ExtendDifference(extra, s), length + static_cast<uint32_t>(s)};
}

inline int32_t DecodeDifference(BitReader& r, const HuffTable& t, bool bugCompat16)
{
    // The lookup uses the buffer as it is and the refill runs beside it, off the chain of
    // dependent steps from one code to the next, which is: lookup, shift, lookup.
    const LutEntry e = t.lut[r.buf >> (64 - kLutBits)];
    r.Fill();
    const uint32_t kind = EntryKind(e);
    if (kind == kLutLong) [[unlikely]] {
        const Decoded d = DecodeDifferenceSlowly(r.buf, t, e, bugCompat16);
        r.Skip(d.length);
        return d.difference;
    }
    const uint64_t bits = r.buf;
    r.Skip(EntryLength(e));
    if (kind == kLutDiff)
        return EntryValue(e);
    const int s = EntryValue(e) & 0xFF;
    const uint32_t codeLength = static_cast<uint32_t>(EntryValue(e)) >> 8;
    return ExtendDifference(static_cast<uint32_t>((bits << codeLength) >> (64 - s)), s);
}

template <int kPredictor>
inline int32_t Predict(int32_t ra, int32_t rb, int32_t rc)
{
    if constexpr (kPredictor == 1)
        return ra;
    else if constexpr (kPredictor == 2)
        return rb;
    else if constexpr (kPredictor == 3)
        return rc;
    else if constexpr (kPredictor == 4)
        return ra + rb - rc;
    else if constexpr (kPredictor == 5)
        return ra + ((rb - rc) >> 1);
    else if constexpr (kPredictor == 6)
        return rb + ((ra - rc) >> 1);
    else
        return (ra + rb) >> 1;
}

// Columns [from, to) of one line, from >= 1, all with the same predictor.
template <int kPredictor, int kComponents>
void DecodeColumns(BitReader& reader, const ScanTables& st, uint16_t* line, const uint16_t* above, uint32_t from,
                   uint32_t to)
{
    BitReader r = reader;
    std::array<const HuffTable*, kComponents> tables;
    for (int c = 0; c < kComponents; ++c)
        tables[c] = st.tables[c];
    const bool bugCompat16 = st.bugCompat16;
    uint16_t* out = line + static_cast<size_t>(from) * kComponents;
    if constexpr (kPredictor == 1) {
        std::array<uint16_t, kComponents> left;
        for (int c = 0; c < kComponents; ++c)
            left[c] = out[c - kComponents];
        for (uint32_t col = from; col < to; ++col) {
            for (int c = 0; c < kComponents; ++c) {
                left[c] = static_cast<uint16_t>(left[c] + DecodeDifference(r, *tables[c], bugCompat16));
                out[c] = left[c];
            }
            out += kComponents;
        }
    } else {
        const uint16_t* up = above + static_cast<size_t>(from) * kComponents;
        for (uint32_t col = from; col < to; ++col) {
            for (int c = 0; c < kComponents; ++c) {
                const int32_t px = Predict<kPredictor>(out[c - kComponents], up[c], up[c - kComponents]);
                out[c] = static_cast<uint16_t>(px + DecodeDifference(r, *tables[c], bugCompat16));
            }
            out += kComponents;
            up += kComponents;
        }
    }
    reader = r;
}

using ColumnsFn = void (*)(BitReader&, const ScanTables&, uint16_t*, const uint16_t*, uint32_t, uint32_t);

template <int kComponents>
constexpr std::array<ColumnsFn, 8> kColumnsFns = {
    nullptr,
    DecodeColumns<1, kComponents>,
    DecodeColumns<2, kComponents>,
    DecodeColumns<3, kComponents>,
    DecodeColumns<4, kComponents>,
    DecodeColumns<5, kComponents>,
    DecodeColumns<6, kComponents>,
    DecodeColumns<7, kComponents>,
};

ColumnsFn ColumnsFunction(uint32_t predictor, uint32_t components)
{
    switch (components) {
    case 1: return kColumnsFns<1>[predictor];
    case 2: return kColumnsFns<2>[predictor];
    case 3: return kColumnsFns<3>[predictor];
    default: return kColumnsFns<4>[predictor];
    }
}

// After restartInterval MCUs: the interval's data must end within the byte before the next
// RSTn, which must carry the expected number.
void Restart(BitReader& r, const EntropyData& d, size_t& index)
{
    if (index >= d.restarts.size())
        Fail("a restart marker is missing");
    const uint64_t end = uint64_t{d.restarts[index]} * 8;
    const uint64_t used = r.Consumed();
    if (used > end)
        Fail("a restart interval ends before its samples are complete");
    if (end - used >= 8)
        Fail("a restart interval holds more data than it uses");
    if (d.restartNumbers[index] != (index & 7))
        Fail("a restart marker is out of sequence");
    r.Start(d.restarts[index]);
    ++index;
}

void DecodeScan(const Headers& h, std::span<const uint8_t> stream, std::span<uint16_t> out, bool bugCompat16)
{
    const uint32_t width = h.frame.width;
    const uint32_t height = h.frame.height;
    const uint32_t nf = h.frame.components;
    const size_t lineSamples = static_cast<size_t>(width) * nf;

    ScanTables st;
    st.bugCompat16 = bugCompat16;
    for (uint32_t c = 0; c < nf; ++c)
        st.tables[c] = h.tables[h.components[c].table].get();

    const ColumnsFn selected = ColumnsFunction(h.predictor, nf);
    const ColumnsFn leftOnly = ColumnsFunction(1, nf);
    const int32_t initial = 1 << (h.frame.precision - h.pointTransform - 1);

    const EntropyData d = Unstuff(stream, h.scanStart, h.restartInterval != 0);
    BitReader r;
    r.data = d.bytes.data();
    r.lastLoad = d.bytes.size() - 8;
    r.Start(0);

    const uint64_t interval = h.restartInterval;
    uint64_t untilRestart = interval ? interval : ~uint64_t{0};
    size_t nextRestart = 0;
    bool intervalStart = true;

    for (uint32_t row = 0; row < height; ++row) {
        uint16_t* line = out.data() + row * lineSamples;
        const uint16_t* above = row ? line - lineSamples : nullptr;
        // Set from the MCU that starts the scan or a restart interval to the end of its line.
        bool leftOnlyLine = false;
        uint32_t col = 0;
        while (col < width) {
            if (untilRestart == 0) {
                Restart(r, d, nextRestart);
                untilRestart = interval;
                intervalStart = true;
            }
            if (intervalStart || col == 0) {
                // One MCU predicted from the constant (start of an interval) or from above.
                for (uint32_t c = 0; c < nf; ++c) {
                    const int32_t px = intervalStart ? initial : above[c];
                    line[col * nf + c] = static_cast<uint16_t>(px + DecodeDifference(r, *st.tables[c], bugCompat16));
                }
                leftOnlyLine = leftOnlyLine || intervalStart;
                intervalStart = false;
                ++col;
                --untilRestart;
                continue;
            }
            const uint32_t stop = static_cast<uint32_t>(std::min<uint64_t>(width, col + untilRestart));
            (leftOnlyLine ? leftOnly : selected)(r, st, line, above, col, stop);
            untilRestart -= stop - col;
            col = stop;
        }
        // The data of the current interval ends at the next restart marker, if any.
        const size_t dataEnd = nextRestart < d.restarts.size() ? d.restarts[nextRestart] : d.length;
        if (r.Consumed() > uint64_t{dataEnd} * 8)
            Fail("the entropy-coded data ends before all samples are decoded");
    }

    if (h.pointTransform) {
        for (uint16_t& v : out)
            v = static_cast<uint16_t>(v << h.pointTransform);
    }
}

} // namespace

LosslessJpegFrame ReadLosslessJpegFrame(std::span<const uint8_t> stream)
{
    return ParseHeaders(stream, true).frame;
}

LosslessJpegFrame DecodeLosslessJpeg(std::span<const uint8_t> stream, std::span<uint16_t> out, bool bugCompat16)
{
    const Headers h = ParseHeaders(stream, false);
    const uint64_t samples = uint64_t{h.frame.width} * h.frame.height * h.frame.components;
    if (samples != out.size())
        Fail("the frame holds " + std::to_string(samples) + " samples, the destination " +
             std::to_string(out.size()));
    DecodeScan(h, stream, out, bugCompat16);
    return h.frame;
}

} // namespace dng

// An opcode list as stored in the OpcodeList1/2/3 tags: the bytes are kept for writing back,
// the opcodes are split out so that callers can see which ones a file carries.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace dng {

enum OpcodeId : uint32_t {
    kOpcodeWarpRectilinear = 1,
    kOpcodeWarpFisheye = 2,
    kOpcodeFixVignetteRadial = 3,
    kOpcodeFixBadPixelsConstant = 4,
    kOpcodeFixBadPixelsList = 5,
    kOpcodeTrimBounds = 6,
    kOpcodeMapTable = 7,
    kOpcodeMapPolynomial = 8,
    kOpcodeGainMap = 9,
    kOpcodeDeltaPerRow = 10,
    kOpcodeDeltaPerColumn = 11,
    kOpcodeScalePerRow = 12,
    kOpcodeScalePerColumn = 13,
    kOpcodeWarpRectilinear2 = 14,
};

struct Opcode {
    uint32_t id = 0;
    uint32_t dngVersion = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> params; // big-endian, as stored

    bool IsOptional() const { return (flags & 1u) != 0; }
};

class OpcodeList {
public:
    static constexpr uint32_t kMaxOpcodes = 4096;

    // Splits the stored bytes (always big-endian). Throws kErrorBadFormat when the sizes inside do
    // not add up to the byte count.
    void Parse(std::span<const uint8_t> bytes);
    void Clear();
    // Replaces the list by these opcodes and stores their bytes.
    void SetOpcodes(std::vector<Opcode> opcodes);

    bool IsEmpty() const { return fOpcodes.empty(); }
    uint32_t Count() const { return static_cast<uint32_t>(fOpcodes.size()); }
    const std::vector<Opcode>& Opcodes() const { return fOpcodes; }
    const std::vector<uint8_t>& Bytes() const { return fBytes; }
    // The newest reader version that a non-optional opcode of the list needs (0 for none).
    uint32_t MinVersion() const;

private:
    std::vector<uint8_t> fBytes;
    std::vector<Opcode> fOpcodes;
};

} // namespace dng

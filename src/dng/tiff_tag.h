// One TIFF directory entry as stored: code, type, count and the value bytes in the file's byte
// order, so that it can be written back unchanged. Accessors widen and swap on demand.
#pragma once

#include "rational.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dng {

enum class ByteOrder : uint8_t { kLittle, kBig };

enum TagType : uint16_t {
    kTypeByte = 1,
    kTypeAscii = 2,
    kTypeShort = 3,
    kTypeLong = 4,
    kTypeRational = 5,
    kTypeSByte = 6,
    kTypeUndefined = 7,
    kTypeSShort = 8,
    kTypeSLong = 9,
    kTypeSRational = 10,
    kTypeFloat = 11,
    kTypeDouble = 12,
    kTypeIfd = 13,
};

// Size in bytes of one value of a TIFF type; 0 for a type that cannot be sized.
uint32_t TagTypeSize(uint16_t type);

struct TiffTag {
    uint16_t code = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    ByteOrder order = ByteOrder::kLittle;
    std::vector<uint8_t> bytes; // count x TagTypeSize(type) bytes, in 'order'
    uint32_t dataOffset = 0;    // file offset of the value bytes (the entry's own position when inline)

    bool IsInteger() const;  // BYTE, SHORT, LONG, SBYTE, SSHORT, SLONG, IFD
    bool IsRational() const; // RATIONAL, SRATIONAL
    // Value i widened; throw kErrorBadFormat when i >= count or the type does not fit the request.
    // Integer, rational, float and double types are all accepted by AsReal.
    uint64_t AsUnsigned(uint32_t i) const; // integer types only; a negative signed value is an error
    int64_t AsSigned(uint32_t i) const;    // integer types only
    double AsReal(uint32_t i) const;
    URational AsURational(uint32_t i) const; // RATIONAL, or an unsigned integer n as n/1
    SRational AsSRational(uint32_t i) const; // SRATIONAL, RATIONAL (when it fits), or an integer n as n/1
    // ASCII (or BYTE/UNDEFINED) text up to the first NUL, trailing blanks kept.
    std::string AsString() const;
};

} // namespace dng

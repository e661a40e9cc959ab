#include "tiff_tag.h"

#include "byte_order.h"
#include "error.h"

#include <bit>
#include <algorithm>
#include <cstring>
#include <limits>

namespace dng {

namespace {

std::string Describe(const TiffTag& tag)
{
    return "tag " + std::to_string(tag.code) + " (type " + std::to_string(tag.type) + ", count " +
           std::to_string(tag.count) + ")";
}

// The bytes of value i, after checking the index and that the stored bytes really hold it.
const uint8_t* ValueAt(const TiffTag& tag, uint32_t i)
{
    const uint32_t size = TagTypeSize(tag.type);
    if (size == 0)
        ThrowBadFormat(Describe(tag) + ": unknown type");
    if (i >= tag.count || (uint64_t(i) + 1) * size > tag.bytes.size())
        ThrowBadFormat(Describe(tag) + ": value " + std::to_string(i) + " is missing");
    return tag.bytes.data() + uint64_t(i) * size;
}

bool IsSignedInteger(uint16_t type)
{
    return type == kTypeSByte || type == kTypeSShort || type == kTypeSLong;
}

} // namespace

uint32_t TagTypeSize(uint16_t type)
{
    switch (type) {
    case kTypeByte:
    case kTypeAscii:
    case kTypeSByte:
    case kTypeUndefined:
        return 1;
    case kTypeShort:
    case kTypeSShort:
        return 2;
    case kTypeLong:
    case kTypeSLong:
    case kTypeFloat:
    case kTypeIfd:
        return 4;
    case kTypeRational:
    case kTypeSRational:
    case kTypeDouble:
        return 8;
    default:
        return 0;
    }
}

bool TiffTag::IsInteger() const
{
    switch (type) {
    case kTypeByte:
    case kTypeShort:
    case kTypeLong:
    case kTypeSByte:
    case kTypeSShort:
    case kTypeSLong:
    case kTypeIfd:
        return true;
    default:
        return false;
    }
}

bool TiffTag::IsRational() const
{
    return type == kTypeRational || type == kTypeSRational;
}

int64_t TiffTag::AsSigned(uint32_t i) const
{
    if (!IsInteger())
        ThrowBadFormat(Describe(*this) + ": an integer was expected");
    const uint8_t* p = ValueAt(*this, i);
    switch (type) {
    case kTypeByte:
        return p[0];
    case kTypeSByte:
        return static_cast<int8_t>(p[0]);
    case kTypeShort:
        return Get16(p, order);
    case kTypeSShort:
        return static_cast<int16_t>(Get16(p, order));
    case kTypeSLong:
        return static_cast<int32_t>(Get32(p, order));
    default: // LONG, IFD
        return Get32(p, order);
    }
}

uint64_t TiffTag::AsUnsigned(uint32_t i) const
{
    const int64_t v = AsSigned(i);
    if (v < 0)
        ThrowBadFormat(Describe(*this) + ": negative value where none is allowed");
    return static_cast<uint64_t>(v);
}

double TiffTag::AsReal(uint32_t i) const
{
    if (IsInteger())
        return static_cast<double>(AsSigned(i));
    switch (type) {
    case kTypeRational:
        return AsURational(i).As_real64();
    case kTypeSRational:
        return AsSRational(i).As_real64();
    case kTypeFloat:
        return static_cast<double>(std::bit_cast<float>(Get32(ValueAt(*this, i), order)));
    case kTypeDouble:
        return std::bit_cast<double>(Get64(ValueAt(*this, i), order));
    default:
        ThrowBadFormat(Describe(*this) + ": a number was expected");
    }
}

URational TiffTag::AsURational(uint32_t i) const
{
    if (type == kTypeRational) {
        const uint8_t* p = ValueAt(*this, i);
        return URational(Get32(p, order), Get32(p + 4, order));
    }
    if (IsInteger() && !IsSignedInteger(type))
        return URational(static_cast<uint32_t>(AsUnsigned(i)), 1);
    ThrowBadFormat(Describe(*this) + ": an unsigned rational was expected");
}

SRational TiffTag::AsSRational(uint32_t i) const
{
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (type == kTypeSRational) {
        const uint8_t* p = ValueAt(*this, i);
        return SRational(static_cast<int32_t>(Get32(p, order)), static_cast<int32_t>(Get32(p + 4, order)));
    }
    if (type == kTypeRational) {
        const URational u = AsURational(i);
        if (u.n > kMax || u.d > kMax)
            ThrowBadFormat(Describe(*this) + ": rational too large for a signed rational");
        return SRational(static_cast<int32_t>(u.n), static_cast<int32_t>(u.d));
    }
    if (IsInteger()) {
        const int64_t v = AsSigned(i);
        if (v > kMax || v < -kMax - 1)
            ThrowBadFormat(Describe(*this) + ": integer too large for a signed rational");
        return SRational(static_cast<int32_t>(v), 1);
    }
    ThrowBadFormat(Describe(*this) + ": a signed rational was expected");
}

std::string TiffTag::AsString() const
{
    if (type != kTypeAscii && type != kTypeByte && type != kTypeUndefined)
        ThrowBadFormat(Describe(*this) + ": text was expected");
    const size_t n = std::min<size_t>(count, bytes.size());
    if (n == 0)
        return {};
    const void* nul = std::memchr(bytes.data(), 0, n);
    const size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes.data()) : n;
    return std::string(reinterpret_cast<const char*>(bytes.data()), len);
}

} // namespace dng

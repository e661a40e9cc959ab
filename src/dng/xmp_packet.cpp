#include "xmp_packet.h"

#include "error.h"
#include "negative.h"

#include <cstdio>
#include <memory>
#include <type_traits>
#include <utility>

namespace dng {

namespace {

// Initialises exempi on first use and terminates it at program exit.
class ExempiRuntime {
public:
    ExempiRuntime()
    {
        if (!xmp_init())
            throw Error(kErrorUnknown, "the XMP library could not be initialised");
    }
    ~ExempiRuntime() { xmp_terminate(); }
    ExempiRuntime(const ExempiRuntime&) = delete;
    ExempiRuntime& operator=(const ExempiRuntime&) = delete;
};

void EnsureExempi()
{
    // A throwing constructor leaves the static unmade, so a later call tries again.
    static ExempiRuntime runtime;
}

[[noreturn]] void ThrowXmp(const std::string& what)
{
    throw Error(kErrorUnknown, "XMP: " + what + " (exempi error " + std::to_string(xmp_get_error()) + ")");
}

struct StringDeleter {
    void operator()(XmpStringPtr s) const { xmp_string_free(s); }
};
using XmpString = std::unique_ptr<std::remove_pointer_t<XmpStringPtr>, StringDeleter>;

XmpString NewString()
{
    XmpString s(xmp_string_new());
    if (!s)
        ThrowMemory("out of memory for an XMP string");
    return s;
}

// Appends the UTF-8 form of one code point below 0x10000.
void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Length of the well-formed UTF-8 sequence starting at s[i], or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t c = b(i);
    size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return 0;
    return n;
}

bool AllDigits(std::string_view s)
{
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return !s.empty();
}

int Number(std::string_view s)
{
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

std::string RationalText(uint32_t n, uint32_t d)
{
    return std::to_string(n) + "/" + std::to_string(d);
}

} // namespace

XmpPacket::XmpPacket()
{
    EnsureExempi();
    fXmp = xmp_new_empty();
    if (!fXmp)
        ThrowXmp("could not make an empty packet");
}

XmpPacket XmpPacket::Parse(std::span<const uint8_t> bytes)
{
    EnsureExempi();
    XmpPtr xmp = xmp_new(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!xmp)
        ThrowBadFormat("the bytes are no readable XMP packet");
    return XmpPacket(xmp);
}

XmpPacket::~XmpPacket()
{
    if (fXmp)
        xmp_free(fXmp);
}

XmpPacket::XmpPacket(XmpPacket&& other) noexcept : fXmp(std::exchange(other.fXmp, nullptr)) {}

XmpPacket& XmpPacket::operator=(XmpPacket&& other) noexcept
{
    if (this != &other) {
        if (fXmp)
            xmp_free(fXmp);
        fXmp = std::exchange(other.fXmp, nullptr);
    }
    return *this;
}

void XmpPacket::SetText(const char* ns, const char* name, std::string_view value)
{
    const std::string text(value);
    if (!xmp_set_property(fXmp, ns, name, text.c_str(), 0))
        ThrowXmp(std::string("could not set ") + name);
}

void XmpPacket::SetInteger(const char* ns, const char* name, int64_t value)
{
    SetText(ns, name, std::to_string(value));
}

void XmpPacket::AppendOrderedItem(const char* ns, const char* name, std::string_view value)
{
    const std::string text(value);
    if (!xmp_append_array_item(fXmp, ns, name, XMP_PROP_VALUE_IS_ARRAY | XMP_PROP_ARRAY_IS_ORDERED, text.c_str(), 0))
        ThrowXmp(std::string("could not add to ") + name);
}

std::optional<std::string> XmpPacket::Get(const char* ns, const char* name) const
{
    XmpString s = NewString();
    if (!xmp_get_property(fXmp, ns, name, s.get(), nullptr))
        return std::nullopt;
    return std::string(xmp_string_cstr(s.get()), xmp_string_len(s.get()));
}

std::optional<std::string> XmpPacket::GetItem(const char* ns, const char* name, int32_t index) const
{
    XmpString s = NewString();
    if (!xmp_get_array_item(fXmp, ns, name, index, s.get(), nullptr))
        return std::nullopt;
    return std::string(xmp_string_cstr(s.get()), xmp_string_len(s.get()));
}

std::vector<uint8_t> XmpPacket::Serialize() const
{
    XmpString s = NewString();
    if (!xmp_serialize(fXmp, s.get(), XMP_SERIAL_ENCODEUTF8, 0))
        ThrowXmp("could not serialize the packet");
    const char* text = xmp_string_cstr(s.get());
    return std::vector<uint8_t>(text, text + xmp_string_len(s.get()));
}

std::string CleanXmpText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c < 0x80) {
            if (c >= 0x20 && c != 0x7F)
                out.push_back(static_cast<char>(c));
            ++i;
        } else if (size_t n = Utf8SequenceLength(text, i); n != 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            if (c >= 0xA0) // Latin-1 letters and signs; C1 controls are dropped
                AppendUtf8(out, c);
            ++i;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::optional<std::string> ExifDateToXmp(std::string_view exifDate)
{
    while (!exifDate.empty() && (exifDate.back() == ' ' || exifDate.back() == '\0'))
        exifDate.remove_suffix(1);
    if (exifDate.size() != 19 || exifDate[4] != ':' || exifDate[7] != ':' || exifDate[10] != ' ' ||
        exifDate[13] != ':' || exifDate[16] != ':')
        return std::nullopt;
    const std::string_view year = exifDate.substr(0, 4), month = exifDate.substr(5, 2), day = exifDate.substr(8, 2),
                           hour = exifDate.substr(11, 2), minute = exifDate.substr(14, 2),
                           second = exifDate.substr(17, 2);
    for (std::string_view part : {year, month, day, hour, minute, second})
        if (!AllDigits(part))
            return std::nullopt;
    // An unknown date is stored as zeros (or blanks, refused above).
    if (Number(month) < 1 || Number(month) > 12 || Number(day) < 1 || Number(day) > 31 || Number(hour) > 23 ||
        Number(minute) > 59 || Number(second) > 60)
        return std::nullopt;
    std::string out;
    out.append(year).append("-").append(month).append("-").append(day);
    out.append("T").append(hour).append(":").append(minute).append(":").append(second);
    return out;
}

std::string XmpLocalDate(std::time_t when)
{
    std::tm local{};
    if (!localtime_r(&when, &local))
        throw Error(kErrorUnknown, "the current time cannot be expressed as a date");
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string out = text;
    const long offset = local.tm_gmtoff; // seconds east of UTC
    if (offset == 0)
        return out + "Z";
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return out + text;
}

std::vector<uint8_t> MakeOutputXmp(const Negative& negative, std::string_view creatorTool, std::time_t modifyTime)
{
    const uint32_t orientation = negative.Orientation();
    if (orientation < 1 || orientation > 8)
        ThrowBadFormat("orientation " + std::to_string(orientation) + " is out of range");
    const ExifInfo& exif = negative.Exif();

    XmpPacket xmp;
    if (const std::string make = CleanXmpText(exif.make); !make.empty())
        xmp.SetText(kXmpNsTiff, "Make", make);
    if (const std::string model = CleanXmpText(exif.model); !model.empty())
        xmp.SetText(kXmpNsTiff, "Model", model);
    xmp.SetInteger(kXmpNsTiff, "Orientation", orientation);

    if (auto date = ExifDateToXmp(exif.dateTimeOriginal))
        xmp.SetText(kXmpNsExif, "DateTimeOriginal", *date);
    if (exif.exposureTime.n != 0 && exif.exposureTime.d != 0)
        xmp.SetText(kXmpNsExif, "ExposureTime", RationalText(exif.exposureTime.n, exif.exposureTime.d));
    if (exif.fNumber.n != 0 && exif.fNumber.d != 0)
        xmp.SetText(kXmpNsExif, "FNumber", RationalText(exif.fNumber.n, exif.fNumber.d));
    if (exif.isoSpeed != 0)
        xmp.AppendOrderedItem(kXmpNsExif, "ISOSpeedRatings", std::to_string(exif.isoSpeed));
    if (const std::string serial = CleanXmpText(exif.cameraSerialNumber); !serial.empty())
        xmp.SetText(kXmpNsAux, "SerialNumber", serial);

    if (const std::string tool = CleanXmpText(creatorTool); !tool.empty())
        xmp.SetText(kXmpNsXmp, "CreatorTool", tool);
    xmp.SetText(kXmpNsXmp, "ModifyDate", XmpLocalDate(modifyTime));
    return xmp.Serialize();
}

} // namespace dng

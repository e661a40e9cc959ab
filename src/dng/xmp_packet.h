// XMP packets through exempi: a small owning wrapper over one exempi metadata object, and the
// packet the program writes into its output files, made from a negative's metadata.
//
// exempi must be initialised once per process before any object is made and terminated once after
// the last is gone. The wrapper does both itself: the first XmpPacket made initialises the library
// through a function-local static, whose destructor terminates it when the program exits. So an
// XmpPacket must not itself be a static object (it could outlive the library).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <exempi/xmp.h>

namespace dng {

class Negative;

// Namespace URIs of the schemas the program writes.
inline constexpr const char* kXmpNsTiff = "http://ns.adobe.com/tiff/1.0/";
inline constexpr const char* kXmpNsExif = "http://ns.adobe.com/exif/1.0/";
inline constexpr const char* kXmpNsXmp = "http://ns.adobe.com/xap/1.0/";
inline constexpr const char* kXmpNsAux = "http://ns.adobe.com/exif/1.0/aux/";

class XmpPacket {
public:
    // An empty packet. Throws dng::Error when exempi cannot be initialised.
    XmpPacket();
    // A packet parsed from serialized bytes; throws kErrorBadFormat when they are no XMP.
    static XmpPacket Parse(std::span<const uint8_t> bytes);
    ~XmpPacket();
    XmpPacket(XmpPacket&& other) noexcept;
    XmpPacket& operator=(XmpPacket&& other) noexcept;
    XmpPacket(const XmpPacket&) = delete;
    XmpPacket& operator=(const XmpPacket&) = delete;

    // Simple properties. Text is taken as UTF-8; the setters throw dng::Error when exempi refuses.
    void SetText(const char* ns, const char* name, std::string_view value);
    void SetInteger(const char* ns, const char* name, int64_t value);
    // Appends one item to an ordered array (rdf:Seq), making the array when needed.
    void AppendOrderedItem(const char* ns, const char* name, std::string_view value);

    // The value of a simple property (or of item 1.. of an array), if the packet has it.
    std::optional<std::string> Get(const char* ns, const char* name) const;
    std::optional<std::string> GetItem(const char* ns, const char* name, int32_t index) const;

    // The UTF-8 packet with its <?xpacket?> wrapper and exempi's usual padding.
    std::vector<uint8_t> Serialize() const;

private:
    explicit XmpPacket(XmpPtr xmp) : fXmp(xmp) {}
    XmpPtr fXmp = nullptr;
};

// Text made fit for XMP: invalid UTF-8 bytes are taken as Latin-1, control characters dropped,
// trailing blanks removed (camera text tags are often padded).
std::string CleanXmpText(std::string_view text);

// An EXIF date-time ("YYYY:MM:DD HH:MM:SS") as an XMP date without a time zone
// ("YYYY-MM-DDTHH:MM:SS"), or nothing when the text is not such a date.
std::optional<std::string> ExifDateToXmp(std::string_view exifDate);

// A moment as an XMP date in the local time of this system, with its offset ("...+02:00").
std::string XmpLocalDate(std::time_t when);

// The packet of an output file: tiff:Make, tiff:Model, tiff:Orientation (the negative's, the same
// value as the file's Orientation tag), exif:DateTimeOriginal, exif:ExposureTime, exif:FNumber,
// exif:ISOSpeedRatings, aux:SerialNumber, xmp:CreatorTool and xmp:ModifyDate. Fields the negative
// does not know are left out. The source file's own packet is not used.
std::vector<uint8_t> MakeOutputXmp(const Negative& negative, std::string_view creatorTool, std::time_t modifyTime);

} // namespace dng

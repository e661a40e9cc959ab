// The fields shared by the whole file (IFD0) and the EXIF fields. None of these decides whether
// the file can be read, so a malformed tag is ignored and its field keeps its default.
#include "info.h"
#include "tag_codes.h"
#include "tone_curve.h"

#include "error.h"

#include <limits>
#include <optional>
#include <string>

namespace dng {

namespace {


bool IsText(const TiffTag& t)
{
    return t.type == kTypeAscii || t.type == kTypeByte || t.type == kTypeUndefined;
}

bool IsBytes(const TiffTag& t)
{
    return t.type == kTypeByte || t.type == kTypeUndefined;
}

bool IsUnsignedInteger(const TiffTag& t)
{
    return t.type == kTypeByte || t.type == kTypeShort || t.type == kTypeLong;
}

// Text up to the first NUL (trailing blanks kept), or empty.
std::string Text(const TiffDirectory& dir, uint16_t code)
{
    const TiffTag* t = dir.Find(code);
    return t && IsText(*t) ? t->AsString() : std::string();
}

// The first value of an unsigned integer tag, or `fallback`.
uint32_t Unsigned(const TiffDirectory& dir, uint16_t code, uint32_t fallback)
{
    const TiffTag* t = dir.Find(code);
    if (!t || !IsUnsignedInteger(*t) || t->count < 1)
        return fallback;
    return static_cast<uint32_t>(t->AsUnsigned(0));
}

// The first value of an unsigned rational (or unsigned integer) tag, or `fallback`.
URational UnsignedRational(const TiffDirectory& dir, uint16_t code, URational fallback)
{
    const TiffTag* t = dir.Find(code);
    if (!t || !(t->type == kTypeRational || IsUnsignedInteger(*t)) || t->count < 1)
        return fallback;
    return t->AsURational(0);
}

// The first value of a signed rational tag (or an unsigned one that fits), or `fallback`.
SRational SignedRational(const TiffDirectory& dir, uint16_t code, SRational fallback)
{
    const TiffTag* t = dir.Find(code);
    if (!t || !t->IsRational() || t->count < 1)
        return fallback;
    try {
        return t->AsSRational(0);
    } catch (const Error&) {
        return fallback;
    }
}

// Exactly `count` signed rationals, or nothing (a matrix of the wrong size is dropped).
std::vector<SRational> RationalMatrix(const TiffDirectory& dir, uint16_t code, uint32_t count)
{
    std::vector<SRational> values;
    const TiffTag* t = dir.Find(code);
    if (!t || !t->IsRational() || t->count != count)
        return values;
    try {
        for (uint32_t i = 0; i < count; ++i)
            values.push_back(t->AsSRational(i));
    } catch (const Error&) {
        values.clear();
    }
    return values;
}

// Exactly `count` unsigned rationals (or unsigned integers n as n/1), or nothing.
std::vector<URational> UnsignedVector(const TiffDirectory& dir, uint16_t code, uint32_t count)
{
    std::vector<URational> values;
    const TiffTag* t = dir.Find(code);
    if (!t || !(t->type == kTypeRational || IsUnsignedInteger(*t)) || t->count != count)
        return values;
    for (uint32_t i = 0; i < count; ++i)
        values.push_back(t->AsURational(i));
    return values;
}

// Four version bytes, or nothing.
std::optional<std::array<uint8_t, 4>> Version(const TiffDirectory& dir, uint16_t code)
{
    const TiffTag* t = dir.Find(code);
    if (!t || !IsBytes(*t) || t->count != 4)
        return std::nullopt;
    return std::array<uint8_t, 4>{t->bytes[0], t->bytes[1], t->bytes[2], t->bytes[3]};
}

// A 16-byte identifier or digest, or nothing.
std::optional<std::array<uint8_t, 16>> Digest(const TiffDirectory& dir, uint16_t code)
{
    const TiffTag* t = dir.Find(code);
    if (!t || !IsBytes(*t) || t->count != 16)
        return std::nullopt;
    std::array<uint8_t, 16> d{};
    std::copy(t->bytes.begin(), t->bytes.begin() + 16, d.begin());
    return d;
}

// The values of ProfileToneCurve when they form a valid curve, or nothing. The tag is FLOAT; any
// other type does not say what the curve is.
std::vector<double> ProfileToneCurve(const TiffDirectory& dir)
{
    const TiffTag* t = dir.Find(kTagProfileToneCurve);
    if (!t || t->type != kTypeFloat || t->bytes.size() != uint64_t(t->count) * 4)
        return {};
    std::vector<double> values(t->count);
    for (uint32_t i = 0; i < t->count; ++i)
        values[i] = t->AsReal(i);
    if (!ToneCurve::FromValues(values))
        return {};
    return values;
}

} // namespace

SharedInfo Info::ParseShared(const TiffDirectory& ifd0)
{
    SharedInfo s;
    if (auto v = Version(ifd0, kTagDNGVersion))
        s.dngVersion = *v;
    if (auto v = Version(ifd0, kTagDNGBackwardVersion))
        s.dngBackwardVersion = *v;
    else if (s.HasVersion())
        s.dngBackwardVersion = {s.dngVersion[0], s.dngVersion[1], 0, 0};

    s.uniqueCameraModel = Text(ifd0, kTagUniqueCameraModel);
    s.localizedCameraModel = Text(ifd0, kTagLocalizedCameraModel);
    s.cameraSerialNumber = Text(ifd0, kTagCameraSerialNumber);
    s.orientation = Unsigned(ifd0, kTagOrientation, 1);
    if (s.orientation < 1 || s.orientation > 8)
        s.orientation = 1;

    // ColorMatrix1 sets the number of colour planes (1 to 4); every other colour tag must fit
    // that number or it is dropped.
    if (const TiffTag* cm = ifd0.Find(kTagColorMatrix1); cm && cm->count % 3 == 0 && cm->count / 3 >= 1 &&
                                                         cm->count / 3 <= kMaxSamplesPerPixel)
        s.colorMatrix1 = RationalMatrix(ifd0, kTagColorMatrix1, cm->count);
    const uint32_t cp = s.ColorPlanes();
    s.colorMatrix2 = RationalMatrix(ifd0, kTagColorMatrix2, cp * 3);
    s.cameraCalibration1 = RationalMatrix(ifd0, kTagCameraCalibration1, cp * cp);
    s.cameraCalibration2 = RationalMatrix(ifd0, kTagCameraCalibration2, cp * cp);
    s.forwardMatrix1 = RationalMatrix(ifd0, kTagForwardMatrix1, 3 * cp);
    s.forwardMatrix2 = RationalMatrix(ifd0, kTagForwardMatrix2, 3 * cp);
    s.reductionMatrix1 = RationalMatrix(ifd0, kTagReductionMatrix1, 3 * cp);
    s.reductionMatrix2 = RationalMatrix(ifd0, kTagReductionMatrix2, 3 * cp);
    s.calibrationIlluminant1 = Unsigned(ifd0, kTagCalibrationIlluminant1, 0);
    s.calibrationIlluminant2 = Unsigned(ifd0, kTagCalibrationIlluminant2, 0);
    s.cameraCalibrationSignature = Text(ifd0, kTagCameraCalibrationSignature);
    s.profileCalibrationSignature = Text(ifd0, kTagProfileCalibrationSignature);
    s.analogBalance = UnsignedVector(ifd0, kTagAnalogBalance, cp);
    s.asShotNeutral = UnsignedVector(ifd0, kTagAsShotNeutral, cp);
    const std::vector<URational> whiteXY = UnsignedVector(ifd0, kTagAsShotWhiteXY, 2);
    if (whiteXY.size() == 2) {
        s.hasAsShotWhiteXY = true;
        s.asShotWhiteX = whiteXY[0];
        s.asShotWhiteY = whiteXY[1];
    }

    s.baselineExposure = SignedRational(ifd0, kTagBaselineExposure, s.baselineExposure);
    s.baselineNoise = UnsignedRational(ifd0, kTagBaselineNoise, s.baselineNoise);
    s.baselineSharpness = UnsignedRational(ifd0, kTagBaselineSharpness, s.baselineSharpness);
    s.linearResponseLimit = UnsignedRational(ifd0, kTagLinearResponseLimit, s.linearResponseLimit);
    s.shadowScale = UnsignedRational(ifd0, kTagShadowScale, s.shadowScale);
    s.profileToneCurve = ProfileToneCurve(ifd0);
    s.colorimetricReference = Unsigned(ifd0, kTagColorimetricReference, 0);

    s.rawDataUniqueID = Digest(ifd0, kTagRawDataUniqueID);
    s.rawImageDigest = Digest(ifd0, kTagRawImageDigest);
    s.newRawImageDigest = Digest(ifd0, kTagNewRawImageDigest);
    s.originalRawFileName = Text(ifd0, kTagOriginalRawFileName);
    s.makerNoteSafety = Unsigned(ifd0, kTagMakerNoteSafety, 0);

    if (const TiffTag* t = ifd0.Find(kTagXMP); t && TagTypeSize(t->type) == 1)
        s.xmp = t->bytes;
    return s;
}

ExifInfo Info::ParseExif(const TiffDirectory& ifd0, const TiffDirectory* exif, const SharedInfo& shared)
{
    ExifInfo e;
    e.make = Text(ifd0, kTagMake);
    e.model = Text(ifd0, kTagModel);
    e.software = Text(ifd0, kTagSoftware);
    e.dateTime = Text(ifd0, kTagDateTime);
    e.artist = Text(ifd0, kTagArtist);
    e.copyright = Text(ifd0, kTagCopyright);
    if (exif) {
        e.dateTimeOriginal = Text(*exif, kTagDateTimeOriginal);
        e.dateTimeDigitized = Text(*exif, kTagDateTimeDigitized);
        e.exposureTime = UnsignedRational(*exif, kTagExposureTime, e.exposureTime);
        e.fNumber = UnsignedRational(*exif, kTagFNumber, e.fNumber);
        e.exposureProgram = Unsigned(*exif, kTagExposureProgram, 0);
        e.isoSpeed = Unsigned(*exif, kTagISOSpeed, 0);
        e.exposureBias = SignedRational(*exif, kTagExposureBias, e.exposureBias);
        e.maxAperture = UnsignedRational(*exif, kTagMaxAperture, e.maxAperture);
        e.meteringMode = Unsigned(*exif, kTagMeteringMode, 0);
        e.flash = Unsigned(*exif, kTagFlash, 0);
        e.focalLength = UnsignedRational(*exif, kTagFocalLength, e.focalLength);
        e.cameraSerialNumber = Text(*exif, kTagBodySerialNumber);
        e.lensMake = Text(*exif, kTagLensMake);
        e.lensModel = Text(*exif, kTagLensModel);
        e.lensSerialNumber = Text(*exif, kTagLensSerialNumber);
    }
    if (e.cameraSerialNumber.empty())
        e.cameraSerialNumber = shared.cameraSerialNumber;
    return e;
}

} // namespace dng

// Writes the program's output: a monochrome DNG whose raw image is the negative's one-plane
// stage-1 image, stored as 16-bit LinearRaw in SubIFD 0, with a small 8-bit RGB preview in IFD0.
//
// What the file carries:
// - from the negative: the stage-1 pixels, UniqueCameraModel, CameraSerialNumber, Orientation,
//   BaselineExposure / Noise / Sharpness, LinearResponseLimit, ShadowScale, OriginalRawFileName,
//   RawDataUniqueID, the active and masked areas, black levels (plane 0) and white level, default
//   scale and crop (exact rationals), BestQualityScale and the opcode lists as the negative holds
//   them;
// - copied unchanged from the source file: Make, Model, DateTime, Artist, Copyright,
//   LocalizedCameraModel, LensInfo, DNGPrivateData, MakerNoteSafety, and the EXIF and GPS
//   directories tag by tag, without the colour filter pattern tags, without the interoperability
//   pointer, and without the MakerNote unless the source marks it safe (MakerNoteSafety 1);
// - made here: Software, the preview and its description, an XMP packet (see xmp_packet.h), the
//   DNG versions and, when asked, a RawImageDigest of the written pixels.
// Colour and colour-filter tags, the LinearizationTable (the stage-1 values are linear), the
// source's digests, its XMP packet and OriginalRawFileData are never written.
#pragma once

#include "image.h"

#include <cstdint>
#include <functional>
#include <string>

namespace dng {

class Info;
class Negative;

// The description of the IFD0 preview. Empty texts are left out.
struct PreviewInfo {
    std::string applicationName;
    std::string applicationVersion;
    std::string settingsName;
    uint32_t colorSpace = 2; // 0 unknown, 1 grey gamma 2.2, 2 sRGB, 3 Adobe RGB, 4 ProPhoto RGB
};

struct WriteOptions {
    std::string software;       // the Software tag and xmp:CreatorTool, e.g. "Velloray 0.9.83"
    bool rawImageDigest = true; // write a RawImageDigest (MD5 of the written stage-1 pixels)
    std::string sourcePath;     // the file the negative was read from; it is never written over
    // Called between rows of the digest and between strips, so that the caller's windows stay
    // alive while a large file is written (see Host::KeepAlive, which paces such calls).
    std::function<void()> keepAlive;
};

// Writes the file at path, replacing any file of that name. The negative must describe one
// monochrome plane: a 16-bit one-plane stage-1 image, one colour channel, no mosaic. The preview
// is an 8-bit image of three planes (R, G, B). `source` is the parsed source file.
//
// The file is written to a temporary file in the target's folder, synced and renamed over the
// target, so a failure leaves no partial file and any earlier file of that name intact.
// Throws dng::Error: kErrorBadFormat for a negative or preview that cannot be written as described
// (nothing is created then), kErrorWriteFile when the path names the source file or the file
// cannot be written, kErrorImageTooBig past 4 GiB.
void WriteMonochromeDng(const std::string& path, const Negative& negative, const Info& source, const Image& preview,
                        const PreviewInfo& previewInfo, const WriteOptions& options);

} // namespace dng

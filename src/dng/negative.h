// The negative: everything the reader knows of one raw photo (model, colour, mosaic,
// linearization, crop and scale, opcode lists, identity, EXIF, XMP bytes) and its images at
// three stages: stage 1 as stored, stage 2 linear, stage 3 for the renderer. The program derives
// its own negative from this class; a Host makes negatives.
#pragma once

#include "color_spec.h"
#include "exif_info.h"
#include "image.h"
#include "linearization_info.h"
#include "matrix.h"
#include "mosaic_info.h"
#include "opcode_list.h"
#include "rational.h"
#include "stream.h"
#include "tone_curve.h"
#include "xy_coord.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dng {

class Host;
class Info;

class Negative {
public:
    Negative() = default;
    Negative(const Negative&) = delete;
    Negative& operator=(const Negative&) = delete;
    virtual ~Negative();

    virtual void Initialize() {}

    // Takes the metadata of the main raw image and of the file from a parsed structure.
    // Throws kErrorBadFormat when the structure has no usable main raw image.
    virtual void Parse(Host& host, const Stream& stream, const Info& info);
    // Settles defaults that depend on several fields (default crop, camera white).
    virtual void PostParse(Host& host, const Stream& stream, const Info& info);

    // Decodes the raw pixels of the main image into the stage-1 image.
    void ReadStage1Image(Host& host, const Stream& stream, const Info& info);
    // Checks the file's NewRawImageDigest, else its legacy RawImageDigest, when it has one,
    // against the stage-1 pixels; a mismatch throws kErrorFileIsDamaged.
    void ValidateRawImageDigest(Host& host) const;
    // Brings metadata kept in several places into agreement (orientation with EXIF).
    void SynchronizeMetadata();
    // Stage 2 from stage 1: active area, linearization table, black levels, white level.
    void BuildStage2Image(Host& host);

    // Identity.
    const std::string& ModelName() const { return fModelName; }
    void SetModelName(const std::string& name) { fModelName = name; }
    const std::string& LocalName() const { return fLocalName; }
    const std::optional<std::array<uint8_t, 16>>& RawDataUniqueID() const { return fRawDataUniqueID; }
    void SetRawDataUniqueID(const std::array<uint8_t, 16>& id) { fRawDataUniqueID = id; }
    const std::optional<std::array<uint8_t, 16>>& RawImageDigest() const { return fRawImageDigest; }
    void ClearRawImageDigest() { fRawImageDigest.reset(); }
    const std::string& OriginalRawFileName() const { return fOriginalRawFileName; }
    uint32_t Orientation() const { return fOrientation; }
    void SetOrientation(uint32_t o) { fOrientation = o; }
    const ExifInfo& Exif() const { return fExif; }
    ExifInfo& Exif() { return fExif; }
    bool HasExif() const { return fHasExif; }
    const std::vector<uint8_t>& XMP() const { return fXMP; }
    void SetXMP(std::vector<uint8_t> bytes) { fXMP = std::move(bytes); }
    std::array<uint8_t, 4> DNGVersion() const { return fDNGVersion; }

    // Colour.
    uint32_t ColorChannels() const { return fColorChannels; }
    void SetColorChannels(uint32_t n) { fColorChannels = n; }
    const Vector& CameraNeutral() const { return fCameraNeutral; }
    bool HasCameraNeutral() const { return !fCameraNeutral.IsEmpty(); }
    const XYCoord& CameraWhiteXY() const { return fCameraWhiteXY; }
    bool HasCameraWhiteXY() const { return fCameraWhiteXY.x > 0.0 && fCameraWhiteXY.y > 0.0; }
    const ColorProfileData& ColorProfile() const { return fColorProfile; }
    // The colour specification of the camera profile (throws kErrorBadFormat for bad matrices).
    virtual ColorSpec MakeColorSpec() const;
    SRational BaselineExposure() const { return fBaselineExposure; }
    URational BaselineNoise() const { return fBaselineNoise; }
    URational BaselineSharpness() const { return fBaselineSharpness; }
    URational LinearResponseLimit() const { return fLinearResponseLimit; }
    URational ShadowScale() const { return fShadowScale; }
    const std::string& CameraSerialNumber() const { return fCameraSerialNumber; }
    // The camera profile's tone curve, when the file has a valid one.
    const std::optional<ToneCurve>& ProfileToneCurve() const { return fProfileToneCurve; }
    // ColorimetricReference: 0 for scene-referred raw values (the usual case).
    uint32_t ColorimetricReference() const { return fColorimetricReference; }
    bool IsSceneReferred() const { return fColorimetricReference == 0; }

    // Mosaic (null for LinearRaw data, or once cleared so that the result is written as LinearRaw).
    const MosaicInfo* GetMosaicInfo() const { return fMosaicInfo.get(); }
    void ClearMosaicInfo() { fMosaicInfo.reset(); }

    // Linearization (null before Parse).
    const LinearizationInfo* GetLinearizationInfo() const { return fLinearizationInfo.get(); }
    LinearizationInfo* GetLinearizationInfo() { return fLinearizationInfo.get(); }
    void ClearLinearizationInfo() { fLinearizationInfo.reset(); }

    // Crop and scale, kept exactly as stored (active-area coordinates).
    URational DefaultScaleH() const { return fDefaultScaleH; }
    URational DefaultScaleV() const { return fDefaultScaleV; }
    URational BestQualityScale() const { return fBestQualityScale; }
    URational DefaultCropOriginH() const { return fDefaultCropOriginH; }
    URational DefaultCropOriginV() const { return fDefaultCropOriginV; }
    URational DefaultCropSizeH() const { return fDefaultCropSizeH; }
    URational DefaultCropSizeV() const { return fDefaultCropSizeV; }
    void SetDefaultCropOrigin(URational h, URational v) { fDefaultCropOriginH = h; fDefaultCropOriginV = v; }
    void SetDefaultCropSize(URational h, URational v) { fDefaultCropSizeH = h; fDefaultCropSizeV = v; }
    void SetDefaultScale(URational h, URational v) { fDefaultScaleH = h; fDefaultScaleV = v; }
    // Width / height of one stored pixel: DefaultScaleH / DefaultScaleV (1 when unknown).
    double AspectRatio() const;
    // The default crop in square pixels: width as stored, height times DefaultScaleV / DefaultScaleH.
    double SquareWidth() const;
    double SquareHeight() const;

    // Opcode lists 1 to 3 (index 0..2).
    const OpcodeList& GetOpcodeList(uint32_t which) const { return fOpcodeList.at(which); }
    OpcodeList& GetOpcodeList(uint32_t which) { return fOpcodeList.at(which); }

    // Stage images.
    const Image* Stage1Image() const { return fStage1Image.get(); }
    Image* Stage1Image() { return fStage1Image.get(); }
    const Image* Stage2Image() const { return fStage2Image.get(); }
    Image* Stage2Image() { return fStage2Image.get(); }
    const Image* Stage3Image() const { return fStage3Image.get(); }
    Image* Stage3Image() { return fStage3Image.get(); }
    void SetStage1(std::unique_ptr<Image> image) { fStage1Image = std::move(image); }
    void SetStage2(std::unique_ptr<Image> image) { fStage2Image = std::move(image); }
    void SetStage3(std::unique_ptr<Image> image) { fStage3Image = std::move(image); }

protected:
    std::unique_ptr<Image> fStage1Image;
    std::unique_ptr<Image> fStage2Image;
    std::unique_ptr<Image> fStage3Image;

private:
    std::string fModelName;
    std::string fLocalName;
    std::array<uint8_t, 4> fDNGVersion{};
    std::optional<std::array<uint8_t, 16>> fRawDataUniqueID;
    std::optional<std::array<uint8_t, 16>> fRawImageDigest;
    std::optional<std::array<uint8_t, 16>> fNewRawImageDigest;
    std::string fOriginalRawFileName;
    uint32_t fOrientation = 1;
    ExifInfo fExif;
    bool fHasExif = false;
    std::vector<uint8_t> fXMP;
    std::string fCameraSerialNumber;

    uint32_t fColorChannels = 0;
    Vector fCameraNeutral;
    XYCoord fCameraWhiteXY;
    ColorProfileData fColorProfile;
    SRational fBaselineExposure{0, 1};
    URational fBaselineNoise{1, 1};
    URational fBaselineSharpness{1, 1};
    URational fLinearResponseLimit{1, 1};
    URational fShadowScale{1, 1};
    std::optional<ToneCurve> fProfileToneCurve;
    uint32_t fColorimetricReference = 0;

    std::unique_ptr<MosaicInfo> fMosaicInfo;
    std::unique_ptr<LinearizationInfo> fLinearizationInfo;

    URational fDefaultScaleH{1, 1};
    URational fDefaultScaleV{1, 1};
    URational fBestQualityScale{1, 1};
    URational fDefaultCropOriginH{0, 1};
    URational fDefaultCropOriginV{0, 1};
    URational fDefaultCropSizeH{0, 1};
    URational fDefaultCropSizeV{0, 1};

    std::array<OpcodeList, 3> fOpcodeList;
    bool fBugCompat16 = false;
    uint8_t fByteOrderBig = 0;
};

} // namespace dng

#include "negative.h"

#include "error.h"
#include "host.h"
#include "info.h"
#include "linearization.h"
#include "raw_digest.h"
#include "raw_reader.h"

#include <algorithm>

namespace dng {

Negative::~Negative() = default;

void Negative::Parse(Host&, const Stream&, const Info& info)
{
    const IfdInfo& raw = info.MainIfd();
    const SharedInfo& shared = info.Shared();

    fModelName = shared.uniqueCameraModel;
    fLocalName = shared.localizedCameraModel.empty() ? shared.uniqueCameraModel : shared.localizedCameraModel;
    fDNGVersion = shared.dngVersion;
    fBugCompat16 = fDNGVersion[0] == 1 && fDNGVersion[1] == 0;
    fByteOrderBig = info.Container().Order() == ByteOrder::kBig;
    fRawDataUniqueID = shared.rawDataUniqueID;
    fRawImageDigest = shared.rawImageDigest;
    fNewRawImageDigest = shared.newRawImageDigest;
    fOriginalRawFileName = shared.originalRawFileName;
    fOrientation = shared.orientation >= 1 && shared.orientation <= 8 ? shared.orientation : 1;
    fExif = info.Exif();
    fHasExif = info.HasExif();
    fXMP = shared.xmp;
    fCameraSerialNumber = shared.cameraSerialNumber;

    // Mosaic and colour planes.
    fMosaicInfo.reset();
    if (raw.photometric == kPhotometricCFA) {
        if (raw.cfaRepeatRows < 1 || raw.cfaRepeatRows > MosaicInfo::kMaxPattern || raw.cfaRepeatCols < 1 ||
            raw.cfaRepeatCols > MosaicInfo::kMaxPattern || raw.samplesPerPixel != 1)
            ThrowBadFormat("bad colour filter pattern");
        auto mosaic = std::make_unique<MosaicInfo>();
        mosaic->fCFAPatternRows = raw.cfaRepeatRows;
        mosaic->fCFAPatternCols = raw.cfaRepeatCols;
        mosaic->fCFAPattern = raw.cfaPattern;
        mosaic->fCFAPlaneColor = raw.cfaPlaneColor;
        mosaic->fCFALayout = raw.cfaLayout;
        mosaic->fBayerGreenSplit = raw.bayerGreenSplit;
        if (mosaic->fCFAPlaneColor.empty() || mosaic->fCFAPlaneColor.size() > 4)
            ThrowBadFormat("bad colour filter plane colours");
        fColorChannels = static_cast<uint32_t>(mosaic->fCFAPlaneColor.size());
        fMosaicInfo = std::move(mosaic);
    } else if (raw.photometric == kPhotometricLinearRaw) {
        if (raw.samplesPerPixel < 1 || raw.samplesPerPixel > 4)
            ThrowBadFormat("bad samples per pixel");
        fColorChannels = raw.samplesPerPixel;
    } else {
        ThrowBadFormat("the main image is no raw image");
    }

    // Linearization.
    auto lin = std::make_unique<LinearizationInfo>();
    const Rect whole(int32_t(raw.height), int32_t(raw.width));
    lin->fActiveArea = raw.activeArea.IsEmpty() ? whole : raw.activeArea;
    if (lin->fActiveArea.t < 0 || lin->fActiveArea.l < 0 || !whole.Contains(lin->fActiveArea))
        ThrowBadFormat("active area does not lie inside the raw image");
    lin->fMaskedArea = raw.maskedAreas;
    lin->fLinearizationTable = raw.linearizationTable;
    if (raw.blackLevelRepeatRows < 1 || raw.blackLevelRepeatRows > LinearizationInfo::kMaxPattern ||
        raw.blackLevelRepeatCols < 1 || raw.blackLevelRepeatCols > LinearizationInfo::kMaxPattern)
        ThrowBadFormat("bad black level pattern");
    lin->fBlackLevelRepeatRows = raw.blackLevelRepeatRows;
    lin->fBlackLevelRepeatCols = raw.blackLevelRepeatCols;
    const uint32_t spp = std::min<uint32_t>(raw.samplesPerPixel, LinearizationInfo::kMaxPlanes);
    for (uint32_t r = 0; r < lin->fBlackLevelRepeatRows; ++r)
        for (uint32_t c = 0; c < lin->fBlackLevelRepeatCols; ++c)
            for (uint32_t s = 0; s < spp; ++s)
                lin->fBlackLevel[r][c][s] = raw.blackLevel[r][c][s].As_real64();
    // Deltas apply only when there is one per active-area column (row).
    if (raw.blackLevelDeltaH.size() == size_t(lin->fActiveArea.W()))
        for (const SRational& d : raw.blackLevelDeltaH)
            lin->fBlackDeltaH.push_back(d.As_real64());
    if (raw.blackLevelDeltaV.size() == size_t(lin->fActiveArea.H()))
        for (const SRational& d : raw.blackLevelDeltaV)
            lin->fBlackDeltaV.push_back(d.As_real64());
    for (uint32_t s = 0; s < spp; ++s) {
        if (raw.hasWhiteLevel)
            lin->fWhiteLevel[s] = raw.whiteLevel[s];
        else if (!raw.linearizationTable.empty())
            lin->fWhiteLevel[s] = *std::max_element(raw.linearizationTable.begin(), raw.linearizationTable.end());
        else
            lin->fWhiteLevel[s] = double((1u << std::min<uint32_t>(raw.bitsPerSample[0], 16)) - 1);
    }
    fLinearizationInfo = std::move(lin);

    // Crop and scale.
    fDefaultScaleH = raw.defaultScaleH;
    fDefaultScaleV = raw.defaultScaleV;
    fBestQualityScale = raw.bestQualityScale;
    if (raw.hasDefaultCrop) {
        fDefaultCropOriginH = raw.defaultCropOriginH;
        fDefaultCropOriginV = raw.defaultCropOriginV;
        fDefaultCropSizeH = raw.defaultCropSizeH;
        fDefaultCropSizeV = raw.defaultCropSizeV;
    } else {
        fDefaultCropOriginH = fDefaultCropOriginV = URational(0, 1);
        fDefaultCropSizeH = URational(uint32_t(fLinearizationInfo->fActiveArea.W()), 1);
        fDefaultCropSizeV = URational(uint32_t(fLinearizationInfo->fActiveArea.H()), 1);
    }

    // Colour: the colour tags count only for colour data whose counts fit the planes.
    const uint32_t cp = fColorChannels;
    fColorProfile = ColorProfileData{};
    fColorProfile.channels = cp;
    fCameraNeutral = Vector();
    fCameraWhiteXY = XYCoord();
    if (cp > 1) {
        fColorProfile.colorMatrix1 = MatrixFromRationals(shared.colorMatrix1, cp, 3);
        fColorProfile.colorMatrix2 = MatrixFromRationals(shared.colorMatrix2, cp, 3);
        fColorProfile.cameraCalibration1 = MatrixFromRationals(shared.cameraCalibration1, cp, cp);
        fColorProfile.cameraCalibration2 = MatrixFromRationals(shared.cameraCalibration2, cp, cp);
        fColorProfile.forwardMatrix1 = MatrixFromRationals(shared.forwardMatrix1, 3, cp);
        fColorProfile.forwardMatrix2 = MatrixFromRationals(shared.forwardMatrix2, 3, cp);
        fColorProfile.reductionMatrix1 = MatrixFromRationals(shared.reductionMatrix1, 3, cp);
        fColorProfile.reductionMatrix2 = MatrixFromRationals(shared.reductionMatrix2, 3, cp);
        fColorProfile.calibrationIlluminant1 = shared.calibrationIlluminant1;
        fColorProfile.calibrationIlluminant2 = shared.calibrationIlluminant2;
        fColorProfile.calibrationSignaturesMatch = shared.cameraCalibrationSignature == shared.profileCalibrationSignature;
        if (shared.analogBalance.size() == cp) {
            fColorProfile.analogBalance = Vector(cp);
            for (uint32_t i = 0; i < cp; ++i)
                fColorProfile.analogBalance[i] = shared.analogBalance[i].As_real64();
        }
        if (shared.asShotNeutral.size() == cp) {
            Vector n(cp);
            bool usable = true;
            for (uint32_t i = 0; i < cp; ++i) {
                n[i] = shared.asShotNeutral[i].As_real64();
                usable = usable && n[i] > 0.0;
            }
            if (usable)
                fCameraNeutral = n;
        } else if (shared.hasAsShotWhiteXY) {
            fCameraWhiteXY = XYCoord{shared.asShotWhiteX.As_real64(), shared.asShotWhiteY.As_real64()};
        }
    }
    fBaselineExposure = shared.baselineExposure;
    fBaselineNoise = shared.baselineNoise;
    fBaselineSharpness = shared.baselineSharpness;
    fLinearResponseLimit = shared.linearResponseLimit;
    fShadowScale = shared.shadowScale;
    // Tone belongs to the profile as a whole, not to its colour planes: kept for every photo.
    fProfileToneCurve = ToneCurve::FromValues(shared.profileToneCurve);
    fColorimetricReference = shared.colorimetricReference;

    for (uint32_t i = 0; i < 3; ++i)
        fOpcodeList[i].Parse(raw.opcodeList[i]);
}

void Negative::PostParse(Host&, const Stream&, const Info&)
{
    if (!fLinearizationInfo)
        return;
    // Keep the default crop inside the active area.
    const double activeW = fLinearizationInfo->fActiveArea.W();
    const double activeH = fLinearizationInfo->fActiveArea.H();
    const double ox = fDefaultCropOriginH.As_real64();
    const double oy = fDefaultCropOriginV.As_real64();
    const double sw = fDefaultCropSizeH.As_real64();
    const double sh = fDefaultCropSizeV.As_real64();
    if (ox < 0 || oy < 0 || ox >= activeW || oy >= activeH || sw <= 0 || sh <= 0) {
        fDefaultCropOriginH = fDefaultCropOriginV = URational(0, 1);
        fDefaultCropSizeH = URational(uint32_t(activeW), 1);
        fDefaultCropSizeV = URational(uint32_t(activeH), 1);
    } else {
        if (ox + sw > activeW)
            fDefaultCropSizeH = URational(uint32_t(activeW - ox), 1);
        if (oy + sh > activeH)
            fDefaultCropSizeV = URational(uint32_t(activeH - oy), 1);
    }
    if (!fDefaultScaleH.IsValid() || fDefaultScaleH.n == 0 || !fDefaultScaleV.IsValid() || fDefaultScaleV.n == 0)
        fDefaultScaleH = fDefaultScaleV = URational(1, 1);
}

void Negative::ReadStage1Image(Host& host, const Stream& stream, const Info& info)
{
    RawReadOptions options;
    options.order = info.Container().Order();
    options.bugCompat16 = fBugCompat16;
    fStage1Image = ReadRawImage(host, stream, info.MainIfd(), options);
}

void Negative::ValidateRawImageDigest(Host& host) const
{
    if (!fStage1Image)
        return;
    // The newer digest wins when a file carries both.
    const auto keepAlive = [&host] { host.KeepAlive(); };
    if (fNewRawImageDigest) {
        if (ComputeNewRawImageDigest(*fStage1Image, keepAlive) != *fNewRawImageDigest)
            throw Error(kErrorFileIsDamaged, "the raw pixels do not match the file's NewRawImageDigest");
    } else if (fRawImageDigest && ComputeRawImageDigest(*fStage1Image, keepAlive) != *fRawImageDigest) {
        throw Error(kErrorFileIsDamaged, "the raw pixels do not match the file's RawImageDigest");
    }
}

void Negative::SynchronizeMetadata()
{
    if (fOrientation < 1 || fOrientation > 8)
        fOrientation = 1;
}

void Negative::BuildStage2Image(Host& host)
{
    if (!fStage1Image || !fLinearizationInfo)
        ThrowBadFormat("no raw image to linearize");
    fStage2Image = BuildLinearImage(host, *fStage1Image, *fLinearizationInfo);
}

ColorSpec Negative::MakeColorSpec() const
{
    return ColorSpec(fColorProfile);
}

double Negative::AspectRatio() const
{
    const double h = fDefaultScaleH.As_real64();
    const double v = fDefaultScaleV.As_real64();
    return h > 0.0 && v > 0.0 ? h / v : 1.0;
}

double Negative::SquareWidth() const
{
    return fDefaultCropSizeH.As_real64();
}

double Negative::SquareHeight() const
{
    const double h = fDefaultScaleH.As_real64();
    const double v = fDefaultScaleV.As_real64();
    const double height = fDefaultCropSizeV.As_real64();
    return h > 0.0 && v > 0.0 ? height * v / h : height;
}

} // namespace dng

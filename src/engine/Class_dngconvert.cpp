#include "Class_dngconvert.h"

#include "output_naming.h"

#include "dng/error.h"
#include "dng/ifd_info.h"
#include "dng/warp_rectilinear.h"
#include "platform/uuid.h"

#include "base/same_file.h"
#include "base/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace engine {

namespace {

// The supported models and their camera codes ("M9 Digital Camera" is the default 0).
constexpr std::array<std::pair<const char*, uint16_t>, 15> kCameraCodes{{
    {"M9 Digital Camera", 0},
    {"M8 Digital Camera", 1},
    {"LEICA M (Typ 240)", 2},
    {"LEICA T (Typ 701)", 3},
    {"Canon EOS 350D", 10},
    {"Canon EOS 500D", 11},
    {"Canon EOS 550D", 12},
    {"Canon EOS 30D", 13},
    {"Canon EOS 40D", 14},
    {"Canon EOS 5D Mark II", 15},
    {"Canon EOS 5D Mark III", 17},
    {"Nikon D200", 20},
    {"Nikon D800", 21},
    {"Nikon D800E", 22},
    {"Sony ILCE-7S", 32},
}};

constexpr const char* kUnknownCameraText =
    "Unknown camera... \n\nCurrently Velloray can only process DNGs from:\n"
    "- Leica M9, M8, M (typ 240), T (typ 701)\n"
    "- Canon EOS 350D, 500D, 550D, 30D, 40D, 5D mark II, 5D mark III\n"
    "- Nikon D200, D800, D800E\n"
    "- Sony A7s";

constexpr const char* kBugText = "Whoa... that's a bug...\n\nFailed to process this DNG...";

// The detail behind a failure that the message box only calls a bug: what failed and where, for a
// report that can say more.
void LogFailure(const char* where, const std::string& photo, const std::exception& e)
{
    std::fprintf(stderr, "velloray: %s of %s failed: %s\n", where, photo.c_str(), e.what());
}

// Why a path cannot take the results as a folder ("does not exist", "is a file, not a folder"...),
// or empty when it is a folder.
std::string FolderProblem(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(folder, ec);
    if (st.type() == fs::file_type::directory)
        return {};
    if (st.type() == fs::file_type::not_found || folder.empty())
        return "does not exist";
    if (ec)
        return "cannot be looked at (" + ec.message() + ")";
    if (st.type() == fs::file_type::regular)
        return "is a file, not a folder";
    return "is not a folder";
}

// R(x) of the staging step: x + 0.5 truncated, 0 below zero.
int32_t RoundNonNegative(double x)
{
    return x + 0.5 >= 0.0 ? static_cast<int32_t>(std::trunc(x + 0.5)) : 0;
}

// Fits a crop span [start, start + length) into [0, limit) by moving it by whole pattern steps of
// two photosites, so that its first photosite keeps its colour (the pattern counts from the
// active area's origin, which may be odd); it is shortened only when the image is smaller.
void FitCropSpan(int32_t& start, int32_t& length, int32_t limit)
{
    const int32_t parity = start & 1;
    length = std::clamp(limit - parity, 1, std::max(length, 1));
    if (start + length > limit)
        start -= (start + length - limit + 1) & ~1;
    if (start < 0)
        start = parity;
    if (start + length > limit)
        start = std::max(limit - length, 0);
}

} // namespace

bool IsDamagedSource(int code)
{
    return code == dng::kErrorFileIsDamaged || code == dng::kErrorEndOfFile || code == dng::kErrorReadFile ||
           code == dng::kErrorBadFormat;
}

DNGConvert::DNGConvert(EngineUi& ui)
    : fUi(ui), fPool(std::make_unique<WorkerPool>(WorkerPool::ThreadsFromEnvironment()))
{
}

DNGConvert::~DNGConvert()
{
    DropNegative();
}

int32_t DNGConvert::CameraCodeOf(const std::string& trimmedModel)
{
    for (const auto& [name, code] : kCameraCodes)
        if (trimmedModel == name)
            return code;
    return -1;
}

void DNGConvert::DropNegative()
{
    if (fNegative) {
        fNegative->ReleaseBuffers();
        fNegative.reset();
    }
}

void DNGConvert::SetResultAside()
{
    if (!fStream)
        return;
    if (!fResultNegative) {
        if (!fResultReady || !fNegative || !fNegative->Stage2Image())
            return;
        fResultNegative = std::move(fNegative);
        fResultInfo = fInfo;
    } else if (fNegative) {
        return;
    }
    // The side run's negative: the photo as read (its staging reads the rest), with the settings
    // the photo was opened with. (Also after a cancelled side run, which took its negative along.)
    ReReadStructure();
    fNegative = MakeNegative();
    fNegative->CopySettingsFrom(*fResultNegative);
    fNegative->Parse(fHost, *fStream, fInfo);
    fNegative->PostParse(fHost, *fStream, fInfo);
}

std::unique_ptr<VrelNegative> DNGConvert::MakeNegative()
{
    std::unique_ptr<dng::Negative> made = fHost.Make_dng_negative();
    auto* vrel = dynamic_cast<VrelNegative*>(made.get());
    if (!vrel)
        throw dng::Error(dng::kErrorUnknown, "the host made a negative of the wrong class");
    made.release();
    vrel->fUi = &fUi;
    vrel->fPool = fPool.get();
    return std::unique_ptr<VrelNegative>(vrel);
}

int32_t DNGConvert::OpenAndIdentify(std::string path, std::string fileName)
{
    try {
        fResultReady = false;
        fAutoSaveFolderProblem = false;
        DropNegative();
        fResultNegative.reset();
        fSourcePath = std::move(path);
        fSourceFileName = std::move(fileName);
        fPhotoName = fSourceFileName;
        fCancelRequest = false;

        fStream.reset();
        fStream = std::make_unique<dng::FileStream>(fSourcePath);
        fCameraCode = 0;

        fHost.SetPreferredSize(0);
        fHost.SetMinimumSize(0);
        fHost.SetMaximumSize(0);
        fHost.ValidateSizes();

        fInfo = dng::Info();
        fInfo.Parse(fHost, *fStream);
        fInfo.PostParse(fHost);
        // A file that is no DNG is passed over in silence; a DNG with damaged values is named.
        if (!fInfo.StructureProblem().empty())
            return kResultNotDng;
        if (const std::string damage = fInfo.DamageProblem(); !damage.empty())
            throw dng::Error(dng::kErrorFileIsDamaged, damage);

        fNegative = MakeNegative();
        fNegative->Parse(fHost, *fStream, fInfo);
        fNegative->PostParse(fHost, *fStream, fInfo);

        const dng::Rect active = fNegative->GetLinearizationInfo()->fActiveArea;
        fActiveAreaLeft = active.l;
        fActiveAreaTop = active.t;

        if (fNegative->ColorChannels() == 1) {
            fUi.MessageBoxes().Show({"This DNG (" + fSourceFileName +
                                         ") appears to be a monochrome DNG already...\n\nCan't process monochrome DNGs.",
                                     "Already monochrome", platform::MessageIcon::kInformation,
                                     platform::MessageButtons::kOk, true});
            fNegative->ReleaseBuffers();
            return kResultStopped;
        }

        const std::string model = base::Trimmed(fNegative->ModelName());
        const int32_t code = CameraCodeOf(model);
        if (code < 0) {
            fUi.MessageBoxes().Show({kUnknownCameraText, "Unknown camera", platform::MessageIcon::kInformation,
                                     platform::MessageButtons::kOk, true});
            fNegative->ReleaseBuffers();
            return kResultStopped;
        }
        fCameraCode = static_cast<uint16_t>(code);
        fNegative->fCameraCode = fCameraCode;

        fNegative->CalcWhiteBalanceRatios(fUi.KelvinFromSlider());
        fNegative->fFixDeadPixels = fUi.FixDeadPixels();
        fNegative->fPreNoiseGreen = fUi.NoiseSliderPosition(NoiseSlider::kGreenChannel) * 10;
        fNegative->fPreNoiseRed = fUi.NoiseSliderPosition(NoiseSlider::kRedChannel) * 10;
        fNegative->fPreNoiseBlue = fUi.NoiseSliderPosition(NoiseSlider::kBlueChannel) * 10;
        fNegative->fNoiseRegular = fUi.NoiseSliderPosition(NoiseSlider::kRegularResult) * 6;
        fNegative->fNoiseRed = fUi.NoiseSliderPosition(NoiseSlider::kRedResult) * 6;
        fNegative->fNoiseBlue = fUi.NoiseSliderPosition(NoiseSlider::kBlueResult) * 6;
        fNegative->fNoiseDetail = fUi.NoiseSliderPosition(NoiseSlider::kDetail);
        fNegative->fNoiseBalance = fUi.NoiseSliderPosition(NoiseSlider::kBalance);

        fCookedCache.reset();
        fResultCopy.reset();
        fSavedRaw.reset();
    } catch (const dng::Error& e) {
        LogFailure("opening", fSourcePath, e);
        fResultReady = false;
        if (IsDamagedSource(e.Code()))
            TellDamaged(e);
        else
            Tell("Velloray error", kBugText, platform::MessageIcon::kWarning);
        return kResultStopped;
    } catch (const std::exception& e) {
        LogFailure("opening", fSourcePath, e);
        fResultReady = false;
        Tell("Velloray error", kBugText, platform::MessageIcon::kWarning);
        return kResultStopped;
    }
    ConvertToMonochrome(false);
    return kResultDone;
}

void DNGConvert::StageRawData(bool previewOnly)
{
    if (!fStream || !fNegative)
        throw dng::Error(dng::kErrorUnknown, "no photo is open");
    fInfo = dng::Info();
    fInfo.Parse(fHost, *fStream);
    fInfo.PostParse(fHost);
    fNegative->Parse(fHost, *fStream, fInfo);
    fNegative->PostParse(fHost, *fStream, fInfo);

    fNegative->ReleaseStage2();

    const bool half = fUi.HalfSizeRun();
    if (!fSavedRaw) {
        fNegative->ReleaseStage1();
        fNegative->ReadStage1Image(fHost, *fStream, fInfo);
        ++fRawDecodes;
        fNegative->ValidateRawImageDigest(fHost);
        fNegative->SynchronizeMetadata();
        const double s = half ? 2.0 : 1.0;
        fNegative->fScaleV = static_cast<int32_t>(std::trunc(RoundNonNegative(fNegative->SquareHeight()) / s));
        fNegative->fScaleH = static_cast<int32_t>(std::trunc(RoundNonNegative(fNegative->SquareWidth()) / s));
        fHost.KeepAlive();
        fSavedRaw = fNegative->Stage1Image()->Clone();
    } else {
        fNegative->SetStage1Image(*fSavedRaw);
    }
    fHost.KeepAlive();

    if (!previewOnly) {
        fNegative->AlignStage1ToPattern(fHost);
    } else {
        const int32_t x = fUi.ToolsCropColumn();
        const int32_t y = fUi.ToolsCropRow();
        double t = 1.0;
        if (half) {
            fNegative->AlignStage1ToPattern(fHost);
            t = 2.0;
        }
        // An odd coordinate moves to the next even one before the active-area edge is added.
        const int32_t left = static_cast<int32_t>(std::trunc(x + (x % 2) + fActiveAreaLeft / t));
        const int32_t top = static_cast<int32_t>(std::trunc(y + (y % 2) + fActiveAreaTop / t));
        int32_t cropLeft = static_cast<int32_t>(std::trunc(left * t));
        int32_t cropTop = static_cast<int32_t>(std::trunc(top * t));
        int32_t width = static_cast<int32_t>(std::trunc(512 * t));
        int32_t height = static_cast<int32_t>(std::trunc(368 * t));
        // Keep the crop inside the raw image: a crop point near an edge (or a photo smaller than
        // the crop) must not read outside it.
        const dng::Image& raw = *fNegative->Stage1Image();
        FitCropSpan(cropLeft, width, raw.Width());
        FitCropSpan(cropTop, height, raw.Height());
        fNegative->CropStage1(fHost, cropLeft, cropTop, width, height);
    }

    if (fInfo.MainIfd().bitsPerSample[0] == 8)
        fNegative->ExpandSquareLaw();
}

void DNGConvert::Tell(const std::string& caption, const std::string& text, platform::MessageIcon icon)
{
    fUi.MessageBoxes().Show({text, caption, icon, platform::MessageButtons::kOk, true});
}

void DNGConvert::TellDamaged(const dng::Error& e)
{
    Tell("Damaged file", "This DNG (" + fPhotoName + ") is damaged and cannot be converted:\n\n" + e.what(),
         platform::MessageIcon::kWarning);
}

void DNGConvert::RegularPass(bool half)
{
    if (half)
        fNegative->ExtractRegularHalf(fHost, fInfo, &fProgress);
    else
        fNegative->InterpolateRegular(&fProgress);
}

void DNGConvert::DeblurStep(double gain)
{
    MotionBlurGrid& kernel = fUi.BlurKernel();
    if (!kernel.AnyCellSet() || !fNegative || !fNegative->fMonoImage)
        return;
    // The deblur tab's values as they stand now, not as a slider handler last left them.
    const DeblurSettings s = fUi.DeblurValues();
    fDeblur.SetParameters(s.lowPassExponent);
    fDeblur.SetArea(s.darkLimit, s.darkLimitMaximum, s.brightLimit, s.brightLimitMaximum);
    fDeblur.fMaskThreshold = s.maskThreshold;
    const auto* lin = fNegative->GetLinearizationInfo();
    const int32_t white = static_cast<int32_t>(lin ? lin->fWhiteLevel[0] : 65535.0);
    fDeblur.Deblur(*fNegative->fMonoImage, white, gain, &fProgress, kernel, [this] {
        fUi.ProcessMessages();
        return fCancelRequest || fNegative->fCancelRequested;
    });
    fUi.RefreshBlurKernel();
}

void DNGConvert::ChannelPass(bool half, bool blueChannel)
{
    if (half)
        fNegative->ExtractRawChannelHalf(fHost, fInfo, blueChannel, &fProgress);
    else
        fNegative->InterpolateRawChannel(blueChannel, &fProgress);
}

void DNGConvert::ReleaseFilterInputs(bool channelsToo)
{
    // The filters read the regular result and the kept channel images only; finalising makes a new
    // stage-1 image. Each image goes as soon as its last reader is done, which keeps the peak
    // memory of the mixing methods near that of the passes themselves.
    fNegative->ReleaseStage1();
    if (channelsToo) {
        fNegative->fMonoCopy1.reset();
        fNegative->fMonoCopy2.reset();
    }
}

void DNGConvert::ReReadStructure()
{
    fInfo = dng::Info();
    fInfo.Parse(fHost, *fStream);
    fInfo.PostParse(fHost);
}

namespace {

// The manual G1/G2 value as typed: 0 when the text is no integer.
int32_t ManualValue(const std::string& text)
{
    try {
        size_t used = 0;
        const long v = std::stol(base::Trimmed(text), &used);
        if (used != base::Trimmed(text).size() || v < INT32_MIN || v > INT32_MAX)
            return 0;
        return static_cast<int32_t>(v);
    } catch (const std::exception&) {
        return 0;
    }
}

// Gain of the deblurring after a partial-strength raw filter: 0.05 (held in extended precision)
// times the balance, times the strength, plus 1.
double PartialDeblurGain(double balance, int32_t strength)
{
    return static_cast<double>(0.05L * static_cast<long double>(balance) * static_cast<long double>(strength + 1) + 1.0L);
}

} // namespace

DNGConvert::RunStep DNGConvert::RunMethodBlocks(bool previewOnly)
{
    const bool half = fUi.HalfSizeRun();
    const bool fullStrength = fUi.StrengthPosition() >= fUi.StrengthMaximum();

    // Regular block: "Regular", or any method of a camera without colour filter array.
    if (fMethod == 0 || fUi.BayerStripped()) {
        if (fUi.BayerStripped()) {
            fNegative->CorrectG1G2(fUi.CorrectG1G2(), fUi.CorrectRB(), fUi.G1G2Auto(),
                                   ManualValue(fUi.G1G2ManualText()), &fProgress);
            if (Checkpoint())
                return RunStep::kStopped;
        } else {
            RegularPass(half);
            if (Checkpoint())
                return RunStep::kStopped;
            DeblurStep(1.0);
        }
        if (Checkpoint())
            return RunStep::kStopped;
    }

    // Red and blue blocks: the channel alone.
    for (int32_t method : {1, 2}) {
        if (fMethod != method)
            continue;
        const bool blue = method == 2;
        ChannelPass(half, blue);
        if (Checkpoint())
            return RunStep::kStopped;
        if (fullStrength && (blue ? fStrengthBlue : fStrengthRed) == 19)
            DeblurStep(blue ? fNegative->fBlueBalance : fNegative->fRedBalance);
        if (!half && Checkpoint())
            return RunStep::kStopped;
    }

    // Partial strength: the channel blended into the regular result.
    if ((fMethod == 1 && fStrengthRed < 19) || (fMethod == 2 && fStrengthBlue < 19)) {
        const bool blue = fMethod == 2;
        if (blue)
            fNegative->SaveMonoCopy2();
        else
            fNegative->SaveMonoCopy1();
        if (Checkpoint())
            return RunStep::kStopped;
        StageRawData(previewOnly);
        RegularPass(half);
        if (Checkpoint())
            return RunStep::kStopped;
        ReleaseFilterInputs(false);
        if (blue) {
            fNegative->FilterRawBlue(fStrengthBlue + 1.0, half, &fProgress);
            DeblurStep(PartialDeblurGain(fNegative->fBlueBalance, fStrengthBlue));
        } else {
            fNegative->FilterRawRed(fStrengthRed + 1.0, half, &fProgress);
            DeblurStep(PartialDeblurGain(fNegative->fRedBalance, fStrengthRed));
        }
        ReleaseFilterInputs(true);
    }

    // RGB block: the lens-filter emulations.
    if (fMethod >= 3 && fMethod <= 5) {
        const int32_t channel = fMethod - 3;
        if (channel == 0 || channel == 1) {
            ChannelPass(half, false);
            if (Checkpoint())
                return RunStep::kStopped;
            fNegative->SaveMonoCopy1();
            if (Checkpoint())
                return RunStep::kStopped;
        }
        if (channel == 2 || channel == 1) {
            if (half) {
                // The half-size pass halved the negative's geometry: read it afresh.
                ReReadStructure();
                if (Checkpoint())
                    return RunStep::kStopped;
                fNegative->Parse(fHost, *fStream, fInfo);
                fNegative->PostParse(fHost, *fStream, fInfo);
            }
            StageRawData(previewOnly);
            ChannelPass(half, true);
            if (Checkpoint())
                return RunStep::kStopped;
            fNegative->SaveMonoCopy2();
            if (Checkpoint())
                return RunStep::kStopped;
        }
        if (half) {
            ReReadStructure();
            // A file that changed under the run is a failed conversion, reported as such.
            if (!fInfo.IsValidDNG())
                throw dng::Error(dng::kErrorBadFormat, "the photo is no longer a valid DNG");
            fNegative->Parse(fHost, *fStream, fInfo);
            fNegative->PostParse(fHost, *fStream, fInfo);
        }
        StageRawData(previewOnly);
        RegularPass(half);
        if (Checkpoint())
            return RunStep::kStopped;
        ReleaseFilterInputs(false);
        const double strength = fUi.StrengthPosition() + 1.0;
        const int32_t row = previewOnly ? fUi.ToolsCropRow() : 0;
        const int32_t column = previewOnly ? fUi.ToolsCropColumn() : 0;
        const bool gradient = fUi.UseGradient();
        const int32_t direction = fUi.GradientDirection();
        const int32_t percent = fUi.GradientPercent();
        const bool boost = fUi.BoostStrength();
        if (channel == 0)
            fNegative->FilterRgbRed(strength, gradient, direction, percent, boost, row, column, &fProgress);
        else if (channel == 1)
            fNegative->FilterRgbGreen(strength, gradient, direction, percent, boost, row, column, &fProgress);
        else
            fNegative->FilterRgbBlue(strength, gradient, direction, percent, boost, row, column, &fProgress);
        if (Checkpoint())
            return RunStep::kStopped;
        ReleaseFilterInputs(true);
        fNegative->RestoreMonoCopy3();
        DeblurStep(1.0);
    }
    if (fMethod < 0 || fMethod > 5)
        throw dng::Error(dng::kErrorUnknown, "unknown conversion method");
    return RunStep::kDone;
}

void DNGConvert::FinaliseConversion()
{
    fNegative->SetColorChannels(1);
    // The working image has no reader after this: it becomes the stage-1 image itself.
    fNegative->MoveMonoToStage1();
    fNegative->BuildStage2Image(fHost);
    // Clipped highlights of the result, for the clipping view of the precooked preview.
    const dng::Image& result = *fNegative->Stage2Image();
    auto mask = fHost.Make_dng_image(result.Width(), result.Height(), 1, dng::PixelType::kUInt8, dng::ImageFill::kUnset);
    const dng::ConstView16 src = result.ConstView16Of(0);
    const dng::View8 dst = mask->View8Of(0);
    for (int32_t y = 0; y < src.height; ++y) {
        const uint16_t* s = src.Row(y);
        uint8_t* d = dst.Row(y);
        for (int32_t x = 0; x < src.width; ++x)
            d[x] = s[x] == 65535 ? 1 : 0;
    }
    fNegative->fClipImage = std::move(mask);
}

void DNGConvert::ShowResultPreview()
{
    platform::Bitmap& bitmap = fUi.ResultPreviewBitmap();
    if (!fUi.CookedPreviewChosen()) {
        fNegative->RenderPrecookedPreview(bitmap, 1.0, static_cast<int16_t>(fUi.GammaIndex()), fUi.Brightness(),
                                          fUi.Contrast(), fUi.ClippingView());
        fUi.RefreshResultPreview();
        return;
    }
    fUi.ProgressBar().SetPosition(0);
    fUi.ProgressBar().Update();
    fUi.StatusLabel().SetText("Rendering cooked preview, please wait...");
    fUi.StatusLabel().Update();
    VrelRender render(fHost, *fNegative);
    // The gamma the user chose (not always 2.2).
    render.SetFinalSpace(fUi.GammaIndex() == 1 ? dng::FinalSpace::kGrayGamma18 : dng::FinalSpace::kGrayGamma22);
    render.SetFinalPixelType(dng::PixelType::kUInt8);
    auto rendered = render.RenderImage();
    fNegative->RenderCookedPreview(bitmap, *rendered, 1.0);
    fUi.RefreshResultPreview();
}

void DNGConvert::PrepareOutputMetadata()
{
    const std::string version = "Version 0.9.83 beta";
    VrelRender render(fHost, *fNegative);
    render.SetFinalSpace(dng::FinalSpace::kSRGB);
    render.SetFinalPixelType(dng::PixelType::kUInt8);
    render.SetMaximumSize(VrelRender::kFilePreviewSize);
    const dng::OpcodeList& lens = fNegative->GetOpcodeList(2);
    fOutputPreview = lens.IsEmpty() ? render.RenderWithArgs2(fHost, *fNegative)
                                    : render.RenderWithArgs3(fHost, *fNegative, lens.Opcodes()[0]);
    fOutputPreviewInfo = dng::PreviewInfo{"Velloray", version, "Default", 2};

    // The monochrome plane is the raw image: finalising put it in stage 1, and nothing has
    // changed it since. (The source's pixels were read and their digest checked when the photo
    // was staged; reading them again here would only be replaced at once.)
    fNegative->SynchronizeMetadata();
    // Masked areas that the passes left outside the result or on its active area (the halving
    // of a one-row strip, a strip beside an active area cut back to the new width) are clipped or
    // dropped, so that the file describes its image consistently.
    if (dng::LinearizationInfo* lin = fNegative->GetLinearizationInfo())
        lin->FitMaskedAreas(fNegative->Stage1Image()->Bounds(), dng::kMaxMaskedAreas);

    if (fCameraCode == 3 && fUi.LeicaTNoCorrection()) {
        fNegative->GetOpcodeList(2).Clear();
    } else if (!lens.IsEmpty()) {
        // Lens corrections of one plane: a three-plane lens warp keeps one coefficient set;
        // warps that cannot describe one plane are dropped.
        std::vector<dng::Opcode> kept;
        for (const dng::Opcode& op : lens.Opcodes()) {
            if (op.id != dng::kOpcodeWarpRectilinear && op.id != dng::kOpcodeWarpFisheye &&
                op.id != dng::kOpcodeWarpRectilinear2) {
                kept.push_back(op);
                continue;
            }
            try {
                kept.push_back(dng::RewriteWarpForOnePlane(op));
            } catch (const dng::Error&) {
            }
        }
        fNegative->GetOpcodeList(2).SetOpcodes(std::move(kept));
    }
    fNegative->ClearMosaicInfo();
    fNegative->SetColorChannels(1);

    // A new raw data identity: the first 16 characters of a UUID's text form, as bytes.
    const std::string uuid = platform::NewUuidText();
    std::array<uint8_t, 16> id{};
    for (size_t i = 0; i < id.size(); ++i)
        id[i] = static_cast<uint8_t>(uuid[i]);
    fNegative->SetRawDataUniqueID(id);
}

namespace {

// While a full run goes (a photo read whole, the steps between the passes, the file's preview
// and the writing take a tenth of a second or more each), the DNG layer's long operations let
// the window handle events now and then, as the passes do. Preview runs are left alone.
class KeepAliveWhileRunning {
public:
    KeepAliveWhileRunning(dng::Host& host, EngineUi& ui, bool fullRun) : fHost(host)
    {
        if (fullRun)
            fHost.SetKeepAlive([&ui] { ui.ProcessMessages(); });
    }
    ~KeepAliveWhileRunning() { fHost.SetKeepAlive({}); }
    KeepAliveWhileRunning(const KeepAliveWhileRunning&) = delete;
    KeepAliveWhileRunning& operator=(const KeepAliveWhileRunning&) = delete;

private:
    dng::Host& fHost;
};

constexpr const char* kSameAsSourceText =
    "Whoa... that's a bug...\n\nDestination folder and filename are the same as the original...\n\n"
    "This shouldn't happen because it would overwrite your original.\n\nThe result isn't stored.";

} // namespace

int32_t DNGConvert::WriteMonochromeDng(const std::string& path)
{
    // Only a finished result is written: a negative without one (a new photo chosen, a cancelled
    // or failed run) must never go out with an earlier photo's preview.
    VrelNegative* result = ResultNegative();
    if (!fResultReady || !result || !result->Stage2Image() || !fOutputPreview)
        throw dng::Error(dng::kErrorUnknown, "there is no result to write");
    dng::WriteOptions options;
    options.software = "Velloray 0.9.83";
    options.sourcePath = fSourcePath;
    options.keepAlive = [this] { fHost.KeepAlive(); };
    dng::WriteMonochromeDng(path, *result, fResultNegative ? fResultInfo : fInfo, *fOutputPreview,
                            fOutputPreviewInfo, options);
    fWrittenPath = path;
    return kResultDone;
}

int32_t DNGConvert::NameAndWrite()
{
    const bool plugin = fUi.PluginMode();
    if (!fUi.AutoSave() && !plugin)
        return kResultDone;
    const std::string folder = base::Trimmed(fUi.AutoSaveFolder());
    std::error_code ec;
    if (!plugin) {
        if (const std::string problem = FolderProblem(folder); !problem.empty()) {
            fAutoSaveFolderProblem = true;
            Tell("Auto save",
                 "The result isn't stored: the auto-save folder \"" + folder + "\" " + problem +
                     ".\n\nChoose another folder, or save the result by hand.",
                 platform::MessageIcon::kWarning);
            return kResultDone;
        }
    }
    if (plugin)
        fSourceFileName = fUi.PluginPhotoPath();
    if (!HasDngExtension(fSourceFileName)) {
        Tell("Auto save",
             "The result isn't stored: the name \"" + fSourceFileName +
                 "\" does not end in .dng.\n\nSave the result by hand.",
             platform::MessageIcon::kWarning);
        return kResultDone;
    }
    fSourceFileName =
        ResultFileName(fSourceFileName, fUi.MethodIndex(), fMethod, fUi.StrengthPosition(), fUi.StrengthMaximum());

    if (!plugin) {
        const std::string target = (std::filesystem::path(folder) / fSourceFileName).string();
        if (base::IsSameFile(fSourcePath, target)) {
            Tell("Oops", kSameAsSourceText, platform::MessageIcon::kWarning);
            return kResultStopped;
        }
        WriteMonochromeDng(target);
        return kResultDone;
    }

    const std::string name = fSourceFileName;
    if (base::IsSameFile(fSourcePath, name)) {
        Tell("Oops", kSameAsSourceText, platform::MessageIcon::kWarning);
        return kResultStopped;
    }
    const std::string candidate = FirstFreeName(name, [](const std::string& n) {
        std::error_code e;
        return std::filesystem::exists(n, e);
    });
    WriteMonochromeDng(candidate);
    // The note that tells the host application where the result is: the path alone, no line end.
    const std::filesystem::path note = std::filesystem::temp_directory_path(ec) / "__exportfromvelloray.txt";
    bool noted = false;
    if (!ec) {
        std::ofstream out(note, std::ios::binary | std::ios::trunc);
        out.write(candidate.data(), static_cast<std::streamsize>(candidate.size()));
        out.close();
        noted = static_cast<bool>(out);
    }
    if (!noted)
        Tell("Velloray error",
             "The result was written to\n" + candidate + "\nbut the note for Lightroom could not be written.",
             platform::MessageIcon::kWarning);
    return kResultDone;
}

int32_t DNGConvert::ConvertToMonochrome(bool previewOnly)
{
    const KeepAliveWhileRunning keepAlive(fHost, fUi, !previewOnly);
    try {
        // A full run starts from the photo's own negative; a preview run leaves the result alone.
        if (previewOnly)
            SetResultAside();
        else
            RestoreStage2Image();
        if (!fNegative || !fStream)
            throw dng::Error(dng::kErrorUnknown, "no photo is open");
        if (!previewOnly) {
            fWrittenPath.clear();
            fAutoSaveFolderProblem = false;
        }
        // 1. Set-up.
        fNegative->CalcWhiteBalanceRatios(fUi.KelvinFromSlider());
        fNegative->fFixDeadPixels = fUi.FixDeadPixels();
        // The registered dead pixels of the body that took this photo (its own serial number),
        // whichever photo is selected in the explorer.
        fNegative->fDeadPixels.clear();
        if (fNegative->fFixDeadPixels && !fInfo.Exif().cameraSerialNumber.empty())
            fNegative->fDeadPixels = fUi.LoadDeadPixels(fInfo.Exif().cameraSerialNumber);
        StageRawData(previewOnly);
        if (!previewOnly)
            fUi.ClearResultPreview();
        fProgress.ResetSteps();
        fProgress.Bind(&fUi.ProgressBar(), &fUi.StatusLabel(), [this] { fUi.ProcessMessages(); });

        // 2 to 6. The method blocks.
        if (RunMethodBlocks(previewOnly) == RunStep::kStopped)
            return kResultStopped;

        // 7. Finalise.
        if (Checkpoint())
            return kResultStopped;
        FinaliseConversion();
        fHost.KeepAlive();

        // 8. A preview run ends here.
        if (previewOnly)
            return kResultDone;

        // 9. The kept result.
        fResultCopy = fNegative->Stage2Image()->Clone();
        fResultReady = true;
        fHost.KeepAlive();

        // 10. The result on screen, unless several files are converted.
        if (!fUi.BatchRunning())
            ShowResultPreview();
        fHost.KeepAlive();

        // 11 to 13. Metadata, then name and write.
        PrepareOutputMetadata();
        fHost.KeepAlive();
        fUi.SetResultUnsaved();
        return NameAndWrite();
    } catch (const dng::Error& e) {
        fResultReady = false;
        if (e.Code() == dng::kErrorWriteFile) {
            // Not a bug: the folder or the disk refused the file. The text holds path and reason.
            Tell("Velloray error", "The result could not be written:\n\n" + std::string(e.what()),
                 platform::MessageIcon::kWarning);
        } else if (IsDamagedSource(e.Code())) {
            // Not a bug either: the photo's own data is cut short, broken or fails its digest, or
            // its values would make a file that readers refuse.
            LogFailure("converting", fSourcePath, e);
            TellDamaged(e);
        } else {
            LogFailure("converting", fSourcePath, e);
            Tell("Oops", kBugText, platform::MessageIcon::kWarning);
        }
        return kResultStopped;
    } catch (const std::exception& e) {
        LogFailure("converting", fSourcePath, e);
        fResultReady = false;
        Tell("Oops", kBugText, platform::MessageIcon::kWarning);
        return kResultStopped;
    }
}

// The preview entry points need the result itself (the stage-2 image), not only a negative: a
// refused or cancelled photo has a negative without one, or none at all.
void DNGConvert::ShowPrecookedPreview(platform::Bitmap& bitmap, uint16_t gammaIndex, int32_t brightness,
                                      int32_t contrast)
{
    VrelNegative* result = ResultNegative();
    if (!result || !result->Stage2Image())
        return;
    result->RenderPrecookedPreview(bitmap, 1.0, static_cast<int16_t>(gammaIndex), brightness, contrast, false);
}

void DNGConvert::ShowPrecookedPreviewClipping(platform::Bitmap& bitmap, uint16_t gammaIndex, int32_t brightness,
                                              int32_t contrast)
{
    VrelNegative* result = ResultNegative();
    if (!result || !result->Stage2Image())
        return;
    result->RenderPrecookedPreview(bitmap, 1.0, static_cast<int16_t>(gammaIndex), brightness, contrast,
                                   fUi.ClippingView());
}

void DNGConvert::ApplyPreviewPalette(platform::Bitmap& bitmap, uint16_t /*gammaIndex*/, int32_t brightness,
                                     int32_t contrast)
{
    if (!fNegative)
        return;
    VrelNegative::ApplyPreviewPalette(bitmap, brightness, contrast);
}

void DNGConvert::ShowCookedPreview(platform::Bitmap& bitmap, uint16_t gammaIndex)
{
    VrelNegative* result = ResultNegative();
    if (!result || !result->Stage2Image())
        return;
    if (!fCookedCache || fCookedGamma != gammaIndex) {
        fUi.StatusLabel().SetText("Rendering cooked preview, please wait...");
        fUi.StatusLabel().Update();
        VrelRender render(fHost, *result);
        render.SetFinalSpace(gammaIndex == 1 ? dng::FinalSpace::kGrayGamma18 : dng::FinalSpace::kGrayGamma22);
        render.SetFinalPixelType(dng::PixelType::kUInt8);
        fCookedCache = render.RenderImage();
        fCookedGamma = gammaIndex;
    }
    result->RenderCookedPreview(bitmap, *fCookedCache, 1.0);
}

void DNGConvert::NoiseReductionPreview(platform::Bitmap& bitmap, int32_t regular, int32_t red, int32_t blue,
                                       int32_t detail, int32_t balance)
{
    if (!fNegative || !fStream)
        return;
    // Set on the negative the run starts from; a run beside a result takes them over.
    fNegative->fNoiseRegular = regular;
    fNegative->fNoiseRed = red;
    fNegative->fNoiseBlue = blue;
    fNegative->fNoiseDetail = detail;
    fNegative->fNoiseBalance = balance;
    // A cancelled run frees the negative; a failed one leaves no result: nothing to draw then.
    if (ConvertToMonochrome(true) != kResultDone || !fNegative || !fNegative->Stage2Image())
        return;
    const double zoom = fUi.ToolsZoomPercent() * 0.01;
    const int16_t gamma = static_cast<int16_t>(fUi.ToolsGammaIndex());
    if (fUi.ToolsPreviewPrecooked()) {
        fNegative->RenderToolsPreview(bitmap, zoom, *fNegative->Stage2Image(), gamma, fUi.Brightness(),
                                      fUi.Contrast());
        return;
    }
    VrelRender render(fHost, *fNegative);
    render.SetFinalSpace(gamma == 1 ? dng::FinalSpace::kGrayGamma18 : dng::FinalSpace::kGrayGamma22);
    render.SetFinalPixelType(dng::PixelType::kUInt8);
    fNegative->RenderCookedPreview(bitmap, *render.RenderImage(), zoom);
}

std::vector<PixelPoint> DNGConvert::FindDeadPixels(int32_t column, int32_t row, int32_t height, int32_t width,
                                                   int32_t threshold)
{
    SetResultAside();
    if (!fNegative || !fStream)
        return {};
    StageRawData(false);
    return fNegative->FindDeadPixels(row, column, height, width, threshold);
}

bool DNGConvert::CheckCancelled()
{
    if (!fCancelRequest)
        return false;
    DropNegative();
    fUi.StatusLabel().SetText("Cancelled...");
    fUi.StatusLabel().Update();
    fUi.ProgressBar().SetPosition(0);
    fCancelRequest = false;
    return true;
}

void DNGConvert::RestoreStage2Image()
{
    if (fResultNegative) {
        DropNegative();
        fNegative = std::move(fResultNegative);
        fInfo = std::move(fResultInfo);
        fResultInfo = dng::Info();
        // A side run that failed does not take the result with it.
        fResultReady = true;
        return;
    }
    // Without a negative or a kept result there is nothing to put back.
    if (!fNegative || !fResultCopy)
        return;
    fNegative->RestoreStage2Image(*fResultCopy);
}

} // namespace engine

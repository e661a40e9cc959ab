#include "Class_dngconvert.h"

#include "dng/error.h"

#include <algorithm>
#include <array>
#include <cmath>
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

// R(x) of the staging step: x + 0.5 truncated, 0 below zero.
int32_t RoundNonNegative(double x)
{
    return x + 0.5 >= 0.0 ? static_cast<int32_t>(std::trunc(x + 0.5)) : 0;
}

} // namespace

DNGConvert::DNGConvert(EngineUi& ui) : fUi(ui) {}

DNGConvert::~DNGConvert()
{
    DropNegative();
}

std::string DNGConvert::TrimBlanks(const std::string& text)
{
    // Blanks are spaces and control characters, as a trim of a model name removes them.
    size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    size_t last = text.size();
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
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

std::unique_ptr<VrelNegative> DNGConvert::MakeNegative()
{
    std::unique_ptr<dng::Negative> made = fHost.Make_dng_negative();
    auto* vrel = dynamic_cast<VrelNegative*>(made.get());
    if (!vrel)
        throw dng::Error(dng::kErrorUnknown, "the host made a negative of the wrong class");
    made.release();
    vrel->fUi = &fUi;
    return std::unique_ptr<VrelNegative>(vrel);
}

int32_t DNGConvert::OpenAndIdentify(std::string path, std::string fileName)
{
    try {
        fResultReady = false;
        DropNegative();
        fSourcePath = std::move(path);
        fSourceFileName = std::move(fileName);
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
        if (!fInfo.IsValidDNG())
            return kResultNotDng;

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

        const std::string model = TrimBlanks(fNegative->ModelName());
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
    } catch (const std::exception&) {
        fResultReady = false;
        fUi.MessageBoxes().Show({"Whoa... that's a bug...\n\nFailed to process this DNG...", "Velloray error",
                                 platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
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

    fNegative->ReleaseStage1();
    fNegative->ReleaseStage2();

    const bool half = fUi.HalfSizeRun();
    if (!fSavedRaw) {
        fNegative->ReadStage1Image(fHost, *fStream, fInfo);
        ++fRawDecodes;
        fNegative->ValidateRawImageDigest(fHost);
        fNegative->SynchronizeMetadata();
        const double s = half ? 2.0 : 1.0;
        fNegative->fScaleV = static_cast<int32_t>(std::trunc(RoundNonNegative(fNegative->SquareHeight()) / s));
        fNegative->fScaleH = static_cast<int32_t>(std::trunc(RoundNonNegative(fNegative->SquareWidth()) / s));
        fSavedRaw = fNegative->Stage1Image()->Clone();
    } else {
        fNegative->SetStage1Image(*fSavedRaw);
    }

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
        // the crop) must not read outside it. Moving by whole pattern steps keeps the colours.
        const dng::Image& raw = *fNegative->Stage1Image();
        width = std::min(width, raw.Width());
        height = std::min(height, raw.Height());
        if (cropLeft + width > raw.Width())
            cropLeft = (raw.Width() - width) & ~1;
        if (cropTop + height > raw.Height())
            cropTop = (raw.Height() - height) & ~1;
        cropLeft = std::max(cropLeft, 0);
        cropTop = std::max(cropTop, 0);
        fNegative->CropStage1(fHost, cropLeft, cropTop, width, height);
    }

    if (fInfo.MainIfd().bitsPerSample[0] == 8)
        fNegative->ExpandSquareLaw();
}

int32_t DNGConvert::ConvertToMonochrome(bool previewOnly)
{
    try {
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
        if (CheckCancelled())
            return kResultStopped;
        return kResultDone;
    } catch (const std::exception&) {
        fResultReady = false;
        fUi.MessageBoxes().Show({"Whoa... that's a bug...\n\nFailed to process this DNG...", "Oops",
                                 platform::MessageIcon::kWarning, platform::MessageButtons::kOk, true});
        return kResultStopped;
    }
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
    // Without a negative or a kept result there is nothing to put back.
    if (!fNegative || !fResultCopy)
        return;
    fNegative->RestoreStage2Image(*fResultCopy);
}

} // namespace engine

// The conversion driver: the engine's single entry object. It owns everything that belongs to
// the photo open now (stream, parsed structure, negative, kept images, camera identity), the
// settings of the next conversion and the progress reporter. Created once by the main window.
#pragma once

#include "Class_fft.h"
#include "bayer_layout.h"
#include "Class_vrel_host.h"
#include "Class_vrel_render.h"
#include "engine_ui.h"
#include "progress_reporter.h"
#include "vrel_negative.h"
#include "worker_pool.h"

#include "dng/dng_writer.h"
#include "dng/error.h"
#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// Results of the driver's entry points.
constexpr int32_t kResultDone = 1;
constexpr int32_t kResultStopped = 0;
constexpr int32_t kResultNotDng = 100006;

// Whether a failure of this code lies in the source file's data (cut short, broken, a failed
// digest, values readers refuse) rather than in the program.
bool IsDamagedSource(int code);

class DNGConvert {
public:
    explicit DNGConvert(EngineUi& ui);
    ~DNGConvert();
    DNGConvert(const DNGConvert&) = delete;
    DNGConvert& operator=(const DNGConvert&) = delete;

    // Opens, identifies and converts one photo: 1 after a run, 0 after a refusal or failure,
    // 100006 when the file is no valid DNG (nothing shown).
    int32_t OpenAndIdentify(std::string path, std::string fileName);
    // Shows the photo's embedded preview and records its camera serial number and model.
    int32_t ReadEmbeddedPreview(std::string path);
    // Puts the negative back into the state of a photo freshly read: metadata re-parsed, the raw
    // image present and staged for the whole image or the tools-preview crop.
    void StageRawData(bool previewOnly);
    // Runs the chosen method on the open photo: 1 when the run completed, 0 when it was cancelled,
    // refused or failed.
    int32_t ConvertToMonochrome(bool previewOnly);
    // The result as the negative's stage-2 image: one channel, stage 1 := the working image.
    void FinaliseConversion();
    // Writes the negative as a monochrome DNG at path (atomically). Throws dng::Error.
    int32_t WriteMonochromeDng(const std::string& path);
    // True once per cancel request; the negative is gone afterwards.
    bool CheckCancelled();
    // Puts the last full run's result back as the negative, after the tools preview or the
    // dead-pixel finder: saving and the previews then see exactly what that run left.
    void RestoreStage2Image();

    // Previews of the result (nothing without a result).
    void ShowPrecookedPreview(platform::Bitmap& bitmap, uint16_t gammaIndex, int32_t brightness, int32_t contrast);
    void ShowPrecookedPreviewClipping(platform::Bitmap& bitmap, uint16_t gammaIndex, int32_t brightness,
                                      int32_t contrast);
    void ApplyPreviewPalette(platform::Bitmap& bitmap, uint16_t gammaIndex, int32_t brightness, int32_t contrast);
    void ShowCookedPreview(platform::Bitmap& bitmap, uint16_t gammaIndex);
    // The tools preview's run: the noise settings, a preview-only conversion of its crop, then the
    // precooked or cooked picture of it. Draws nothing when the run did not complete.
    void NoiseReductionPreview(platform::Bitmap& bitmap, int32_t regular, int32_t red, int32_t blue, int32_t detail,
                               int32_t balance);
    // Stages the raw data afresh and lists the dead-pixel candidates of a rectangle.
    std::vector<PixelPoint> FindDeadPixels(int32_t column, int32_t row, int32_t height, int32_t width,
                                           int32_t threshold);

    // The camera code of a trimmed unique camera model, or -1 for a model outside the table.
    static int32_t CameraCodeOf(const std::string& trimmedModel);

    // State of the open photo (read by the windows and the tests).
    bool fResultReady = false;
    uint16_t fCameraCode = 0;
    bool fCancelRequest = false;
    std::string fSourcePath;
    std::string fSourceFileName;
    std::string fCameraSerial;
    std::string fCameraModel;
    // The colour-filter layout of the selected photo's raw image (none when it has no 2 x 2 pattern).
    std::optional<BayerLayout> fCameraLayout;
    dng::Info fInfo;
    std::unique_ptr<dng::FileStream> fStream;
    int32_t fActiveAreaLeft = 0;
    int32_t fActiveAreaTop = 0;
    std::unique_ptr<dng::Image> fResultCopy;
    std::unique_ptr<dng::Image> fCookedCache;
    std::unique_ptr<dng::Image> fSavedRaw;
    std::unique_ptr<VrelNegative> fNegative;
    // The negative as the last full run left it (the result that saving writes), with the parsed
    // structure as that run left it: kept aside while tools-preview runs and the dead-pixel search
    // stage and convert on a negative of their own. Empty when no such run is under way.
    std::unique_ptr<VrelNegative> fResultNegative;
    dng::Info fResultInfo;
    VrelHost fHost;
    int32_t fMethod = 0;
    int32_t fStrengthRed = 0;
    int32_t fStrengthBlue = 0;
    ProgressReporter fProgress;
    std::unique_ptr<dng::Image> fOutputPreview;
    std::string fWrittenPath; // the file the last run wrote, empty when it wrote none
    // The last full run could not auto-save because the auto-save folder is missing or no folder
    // (the user has been told): a batch ends there rather than convert photo after photo for nothing.
    bool fAutoSaveFolderProblem = false;
    dng::PreviewInfo fOutputPreviewInfo;

    // How many times the raw pixels were decoded from a file (tests: once per photo).
    int32_t RawDecodeCount() const { return fRawDecodes; }

private:
    enum class RunStep { kDone, kStopped };
    RunStep RunMethodBlocks(bool previewOnly);
    bool Checkpoint() { return CheckCancelled(); }
    void RegularPass(bool half);
    void ChannelPass(bool half, bool blueChannel);
    // Frees the stage-1 image before a filter, and with channelsToo the kept channel images after it.
    void ReleaseFilterInputs(bool channelsToo);
    void ReReadStructure();
    void DeblurStep(double gain);
    void ShowResultPreview();
    void PrepareOutputMetadata();
    int32_t NameAndWrite();
    void Tell(const std::string& caption, const std::string& text, platform::MessageIcon icon);
    // "Damaged file": names the photo and what is wrong with it.
    void TellDamaged(const dng::Error& e);
    void DropNegative();
    // Before a tools-preview run or a dead-pixel search: a finished result goes aside, and the run
    // gets a negative of its own with the photo's settings.
    void SetResultAside();
    // The negative whose stage-2 image is the result shown and saved.
    VrelNegative* ResultNegative() const { return fResultNegative ? fResultNegative.get() : fNegative.get(); }
    std::unique_ptr<VrelNegative> MakeNegative();

    EngineUi& fUi;
    // The threads of the passes, made once (VELLORAY_THREADS=1: the calling thread alone).
    std::unique_ptr<WorkerPool> fPool;
    ClassFFT fDeblur;
    // The photo's file name as the open was given it (fSourceFileName becomes the output's name
    // once the result is named): the name a message about the photo gives.
    std::string fPhotoName;
    int32_t fRawDecodes = 0;
    int32_t fCookedGamma = -1;
};

} // namespace engine

// The conversion driver: the engine's single entry object. It owns everything that belongs to
// the photo open now (stream, parsed structure, negative, kept images, camera identity), the
// settings of the next conversion and the progress reporter. Created once by the main window.
#pragma once

#include "Class_vrel_host.h"
#include "engine_ui.h"
#include "progress_reporter.h"
#include "vrel_negative.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// Results of the driver's entry points.
constexpr int32_t kResultDone = 1;
constexpr int32_t kResultStopped = 0;
constexpr int32_t kResultNotDng = 100006;

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
    int32_t ConvertToMonochrome(bool previewOnly);
    // True once per cancel request; the negative is gone afterwards.
    bool CheckCancelled();
    void RestoreStage2Image();

    // The camera code of a trimmed unique camera model, or -1 for a model outside the table.
    static int32_t CameraCodeOf(const std::string& trimmedModel);
    static std::string TrimBlanks(const std::string& text);

    // State of the open photo (read by the windows and the tests).
    bool fResultReady = false;
    uint16_t fCameraCode = 0;
    bool fCancelRequest = false;
    std::string fSourcePath;
    std::string fSourceFileName;
    std::string fCameraSerial;
    std::string fCameraModel;
    dng::Info fInfo;
    std::unique_ptr<dng::FileStream> fStream;
    int32_t fActiveAreaLeft = 0;
    int32_t fActiveAreaTop = 0;
    std::unique_ptr<dng::Image> fResultCopy;
    std::unique_ptr<dng::Image> fCookedCache;
    std::unique_ptr<dng::Image> fSavedRaw;
    std::unique_ptr<VrelNegative> fNegative;
    VrelHost fHost;
    int32_t fMethod = 0;
    int32_t fStrengthRed = 0;
    int32_t fStrengthBlue = 0;
    ProgressReporter fProgress;

    // How many times the raw pixels were decoded from a file (tests: once per photo).
    int32_t RawDecodeCount() const { return fRawDecodes; }

private:
    void DropNegative();
    std::unique_ptr<VrelNegative> MakeNegative();

    EngineUi& fUi;
    int32_t fRawDecodes = 0;
};

} // namespace engine

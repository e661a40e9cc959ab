// Headless conversion for checks and measurements: converts one DNG through the engine with the
// options given on the command line and prints the time of each pass (between status texts), the
// peak memory, the camera code, the white-balance multipliers, every message the engine shows and,
// on its last line, the path of the written file. Exits 0 only when a file was written.
// Optionally times LibRaw's dcraw_emu (decode, VNG, 16-bit TIFF) on the same file.
#include "engine/Class_dngconvert.h"
#include "engine/engine_ui.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

class ConsoleBar : public platform::ProgressBarControl {
public:
    int Position() const override { return fPosition; }
    void SetPosition(int p) override { fPosition = p; }
    void SetRange(int lo, int hi) override { fMin = lo, fMax = hi; }
    int Minimum() const override { return fMin; }
    int Maximum() const override { return fMax; }
    void Update() override {}

private:
    int fPosition = 0, fMin = 0, fMax = 100;
};

// Prints how long each status text stood: a pass's time is the time until the next text.
class ConsoleStatus : public platform::LabelControl {
public:
    void SetText(const std::string& text) override
    {
        Close();
        fText = text;
        fSince = Clock::now();
    }
    std::string Text() const override { return fText; }
    void Update() override {}
    void Close()
    {
        if (!fText.empty())
            std::printf("  %7.3f s  %s\n", Since(fSince), fText.c_str());
        fText.clear();
    }

private:
    std::string fText;
    Clock::time_point fSince = Clock::now();
};

class ConsoleMessages : public platform::MessageBoxService {
public:
    platform::MessageResult Show(const platform::MessageBoxRequest& r) override
    {
        std::printf("message: [%s] %s\n", r.caption.c_str(), r.text.c_str());
        return platform::MessageResult::kOk;
    }
};

struct Options {
    std::string input, outDir;
    int method = 0, strength = 19;
    bool half = false, fixDeadPixels = false, bayerStripped = false, g1g2Auto = true;
    double kelvin = 6500.0;
    std::string g1g2 = "1000";
    std::map<engine::NoiseSlider, int> noise;
    engine::DeblurSettings deblur;
    std::string kernel; // line:COL,ROW | disc:R | cells:C,R;C,R...
    bool compareLibRaw = false;
};

class ConsoleUi : public engine::EngineUi {
public:
    explicit ConsoleUi(const Options& o) : fOptions(o) {}
    double KelvinFromSlider() const override { return fOptions.kelvin; }
    bool FixDeadPixels() const override { return fOptions.fixDeadPixels; }
    bool HalfSizeRun() const override { return fOptions.half; }
    bool BayerStripped() const override { return fOptions.bayerStripped; }
    bool CorrectG1G2() const override { return true; }
    bool CorrectRB() const override { return true; }
    bool G1G2Auto() const override { return fOptions.g1g2Auto; }
    std::string G1G2ManualText() const override { return fOptions.g1g2; }
    void SetG1G2ManualText(const std::string& text) override { std::printf("automatic G1/G2 value %s\n", text.c_str()); }
    int StrengthPosition() const override { return fOptions.strength; }
    int StrengthMaximum() const override { return 19; }
    bool UseGradient() const override { return false; }
    int MethodIndex() const override { return fOptions.method; }
    bool BatchRunning() const override { return true; } // no on-screen preview
    bool CookedPreviewChosen() const override { return false; }
    int GammaIndex() const override { return 0; }
    int Brightness() const override { return 0; }
    int Contrast() const override { return 0; }
    bool ClippingView() const override { return false; }
    bool AutoSave() const override { return true; }
    std::string AutoSaveFolder() const override { return fOptions.outDir; }
    bool LeicaTNoCorrection() const override { return false; }
    bool PluginMode() const override { return false; }
    std::string PluginPhotoPath() const override { return {}; }
    void SetModelLabel(const std::string&) override {}
    void SetTemperatureLabel(const std::string&) override {}
    void SetKelvinSliderSilently(int) override {}
    void ClearEmbeddedPreview() override {}
    void ShowEmbeddedPreview(const platform::Bitmap&) override {}
    void RepaintEmbeddedPreview() override {}
    void RepaintExplorer() override {}
    platform::Bitmap& ResultPreviewBitmap() override { return fPreview; }
    void ClearResultPreview() override {}
    void RefreshResultPreview() override {}
    void SetResultUnsaved() override {}
    std::vector<engine::PixelPoint> LoadDeadPixels(const std::string&) override { return {}; }
    platform::ProgressBarControl& ProgressBar() override { return fBar; }
    platform::LabelControl& StatusLabel() override { return fStatus; }
    void ProcessMessages() override {}
    platform::MessageBoxService& MessageBoxes() override { return fMessages; }
    int NoiseSliderPosition(engine::NoiseSlider s) const override
    {
        auto it = fOptions.noise.find(s);
        return it == fOptions.noise.end() ? 0 : it->second;
    }
    int ToolsCropColumn() const override { return 0; }
    int ToolsCropRow() const override { return 0; }
    int ToolsZoomPercent() const override { return 100; }
    int ToolsGammaIndex() const override { return 0; }
    bool ToolsPreviewPrecooked() const override { return true; }
    void SetDeblurSliderMaxima(int, int) override {}
    void ResetToolsPreviewImages() override {}
    void ResetToolsPreviewSliders() override {}
    engine::DeblurSettings DeblurValues() const override { return fOptions.deblur; }
    engine::MotionBlurGrid& BlurKernel() override { return fKernel; }
    void RefreshBlurKernel() override {}
    bool BoostStrength() const override { return false; }
    int GradientDirection() const override { return 0; }
    int GradientPercent() const override { return 50; }

    ConsoleStatus fStatus;

private:
    const Options& fOptions;
    platform::Bitmap fPreview;
    engine::MotionBlurGrid fKernel;
    ConsoleBar fBar;
    ConsoleMessages fMessages;
};

int Usage()
{
    std::fprintf(stderr,
                 "usage: convert_bench IN.dng OUTDIR [--method N] [--strength P] [--half] [--kelvin K]\n"
                 "       [--fix-dead-pixels] [--bayer-stripped] [--g1g2 N|auto]\n"
                 "       [--noise green,red,blue,regular,redresult,blueresult,detail,balance]\n"
                 "       [--kernel line:COL,ROW|disc:R|cells:C,R;C,R...] [--deblur P,DARK,BRIGHT,MASK] [--libraw]\n");
    return 2;
}

// Draws the blur kernel as the editor would: a line through the centre from a clicked cell, a
// focus disc of radius R at the centre, or free-grid clicks on the listed cells.
bool DrawKernel(engine::MotionBlurGrid& grid, const std::string& spec)
{
    const size_t colon = spec.find(':');
    const std::string kind = spec.substr(0, colon), args = colon == std::string::npos ? "" : spec.substr(colon + 1);
    int a = 0, b = 0;
    if (kind == "line" && std::sscanf(args.c_str(), "%d,%d", &a, &b) == 2) {
        grid.SetLineKind(engine::MotionBlurGrid::kLineThroughCentre);
        grid.CellClick(a, b);
    } else if (kind == "disc" && std::sscanf(args.c_str(), "%d", &a) == 1) {
        grid.SetRadius(a);
        grid.SetMode(engine::MotionBlurGrid::kFocusDisc);
    } else if (kind == "cells") {
        for (size_t at = 0; at < args.size();) {
            if (std::sscanf(args.c_str() + at, "%d,%d", &a, &b) != 2)
                return false;
            grid.CellClick(a, b);
            const size_t semicolon = args.find(';', at);
            at = semicolon == std::string::npos ? args.size() : semicolon + 1;
        }
    } else {
        return false;
    }
    return grid.AnyCellSet();
}

// dcraw_emu -q 1 -4 -T on a copy of the file in the output folder (its TIFF goes beside it).
double TimeDcrawEmu(const Options& o)
{
    const std::filesystem::path copy = std::filesystem::path(o.outDir) / "libraw-input.dng";
    std::filesystem::copy_file(o.input, copy, std::filesystem::copy_options::overwrite_existing);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        ::setenv("OMP_NUM_THREADS", "1", 1);
        execlp("dcraw_emu", "dcraw_emu", "-q", "1", "-4", "-T", copy.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double seconds = Since(start);
    std::error_code ec;
    std::filesystem::remove(copy, ec);
    std::filesystem::remove(copy.string() + ".tiff", ec);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    std::printf("LibRaw dcraw_emu -q 1 -4 -T: %.3f s, peak memory %.1f MB\n", seconds, usage.ru_maxrss / 1024.0);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    Options o;
    o.input = argv[1];
    o.outDir = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--method")
            o.method = std::atoi(next().c_str());
        else if (a == "--strength")
            o.strength = std::atoi(next().c_str());
        else if (a == "--half")
            o.half = true;
        else if (a == "--kelvin")
            o.kelvin = std::atof(next().c_str());
        else if (a == "--fix-dead-pixels")
            o.fixDeadPixels = true;
        else if (a == "--bayer-stripped")
            o.bayerStripped = true;
        else if (a == "--g1g2") {
            const std::string v = next();
            o.g1g2Auto = v == "auto";
            o.g1g2 = v;
        } else if (a == "--noise") {
            const std::string v = next();
            int values[8] = {};
            std::sscanf(v.c_str(), "%d,%d,%d,%d,%d,%d,%d,%d", &values[0], &values[1], &values[2], &values[3],
                        &values[4], &values[5], &values[6], &values[7]);
            for (int k = 0; k < 8; ++k)
                o.noise[static_cast<engine::NoiseSlider>(k)] = values[k];
        } else if (a == "--kernel") {
            o.kernel = next();
        } else if (a == "--deblur") {
            engine::DeblurSettings& d = o.deblur;
            if (std::sscanf(next().c_str(), "%d,%d,%d,%d", &d.lowPassExponent, &d.darkLimit, &d.brightLimit,
                            &d.maskThreshold) != 4)
                return Usage();
        } else if (a == "--libraw")
            o.compareLibRaw = true;
        else
            return Usage();
    }
    std::error_code ec;
    std::filesystem::create_directories(o.outDir, ec);

    ConsoleUi ui(o);
    if (!o.kernel.empty() && !DrawKernel(ui.BlurKernel(), o.kernel))
        return Usage();
    engine::DNGConvert convert(ui);
    convert.fMethod = o.method;
    convert.fStrengthRed = convert.fStrengthBlue = o.strength;
    const auto start = Clock::now();
    const int32_t result = convert.OpenAndIdentify(o.input, std::filesystem::path(o.input).filename().string());
    ui.fStatus.Close();
    const double total = Since(start);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result %d, total %.3f s, peak memory %.1f MB\n", result, total, usage.ru_maxrss / 1024.0);
    std::printf("camera code %u\n", unsigned(convert.fCameraCode));
    if (convert.fNegative)
        std::printf("white balance: red %.17g, blue %.17g\n", convert.fNegative->fRedBalance,
                    convert.fNegative->fBlueBalance);
    if (o.compareLibRaw) {
        const double libraw = TimeDcrawEmu(o);
        if (libraw > 0.0)
            std::printf("velloray against dcraw_emu: %.2f x its time\n", total / libraw);
    }
    std::printf("%s\n", convert.fWrittenPath.c_str());
    return convert.fWrittenPath.empty() ? 1 : 0;
}

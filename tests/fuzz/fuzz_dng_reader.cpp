// Fuzz target: the whole reading path of a DNG from bytes: container and structure parsing,
// the negative's metadata, stage-1 decoding, digest check and stage-2 linearization. A small photo
// of a camera the program takes is then converted as the program does it (the method picked by
// the last byte): whatever file the conversion writes must be read back by our reader and pass
// every rule it applies to a DNG it opens.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include "base/text.h"
#include "engine/Class_dngconvert.h"
#include "engine/fake_engine_ui.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Larger photos are only read: converting them would slow the fuzzer down for little gain.
constexpr uint64_t kMaxConvertedPixels = 96 * 96;
// A conversion costs as much as a hundred reads; conversions get at most this share of the run's
// time, so that the reader keeps most of it. (The first input is always converted: a file that
// made a conversion fail fails again when it is run alone.)
constexpr double kConversionShare = 0.2;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_dng_reader: %s\n", what.c_str());
    std::abort();
}

// One driver for the whole run, on one thread, writing into a folder of its own (in memory when
// the system has one, so that the writer's syncs cost nothing).
struct Converter {
    Converter()
    {
        ::setenv("VELLORAY_THREADS", "1", 1);
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        dir = base / ("velloray-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(dir / "out");
        source = (dir / "photo.dng").string();
        ui.autoSave = true;
        ui.autoSaveFolder = (dir / "out").string();
        ui.batchRunning = true; // no on-screen preview
        convert = std::make_unique<engine::DNGConvert>(ui);
    }
    ~Converter() { fs::remove_all(dir); }

    fs::path dir;
    std::string source;
    enginetest::FakeEngineUi ui;
    std::unique_ptr<engine::DNGConvert> convert;
};

// Reads a photo as the program does, up to its stage-2 image: null when it is no valid DNG (the
// reason is then the info's), a dng::Error when it cannot be read.
std::unique_ptr<dng::Negative> ReadWhole(dng::Host& host, const dng::Stream& stream, dng::Info& info)
{
    info.Parse(host, stream);
    info.PostParse(host);
    if (!info.IsValidDNG())
        return nullptr;
    auto negative = host.Make_dng_negative();
    negative->Parse(host, stream, info);
    negative->PostParse(host, stream, info);
    negative->ReadStage1Image(host, stream, info);
    negative->ValidateRawImageDigest(host);
    negative->BuildStage2Image(host);
    return negative;
}

// Reads a written file as any photo is read; a file our reader refuses is a fault of the writer.
void CheckWritten(const std::string& path)
{
    try {
        const dng::FileStream stream(path);
        dng::Host host;
        dng::Info info;
        if (!ReadWhole(host, stream, info))
            Fail("the written file is refused: " + info.ValidityProblem());
    } catch (const dng::Error& e) {
        Fail(std::string("the written file cannot be read: ") + e.what());
    }
}

// Whether the next conversion still fits the conversions' share of the time.
class ConversionBudget {
public:
    bool Allows() const { return fSpent <= kConversionShare * Seconds(Clock::now() - fStart); }
    void Spend(Clock::duration d) { fSpent += Seconds(d); }

private:
    static double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
    Clock::time_point fStart = Clock::now();
    double fSpent = 0.0;
};

void ConvertAndCheck(const uint8_t* data, size_t size)
{
    static ConversionBudget budget;
    if (!budget.Allows())
        return;
    const Clock::time_point start = Clock::now();
    static Converter c;
    {
        std::ofstream out(c.source, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const uint8_t pick = data[size - 1];
    c.ui.method = pick % 6;
    c.ui.halfSize = (pick / 6) % 2 == 1;
    c.ui.strength = (pick / 12) % 20;
    c.ui.boxes.shown.clear();
    c.convert->fMethod = c.ui.method;
    c.convert->fStrengthRed = c.convert->fStrengthBlue = c.ui.strength;
    c.convert->fWrittenPath.clear();
    c.convert->OpenAndIdentify(c.source, "photo.dng");
    if (!c.convert->fWrittenPath.empty()) {
        CheckWritten(c.convert->fWrittenPath);
        fs::remove(c.convert->fWrittenPath);
    }
    budget.Spend(Clock::now() - start);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dng::MemoryStream stream({data, size});
    dng::Host host;
    dng::Info info;
    bool convertible = false;
    try {
        const std::unique_ptr<dng::Negative> negative = ReadWhole(host, stream, info);
        if (!negative)
            return 0;
        (void)negative->MakeColorSpec();
        const dng::IfdInfo& main = info.MainIfd();
        convertible = negative->ColorChannels() > 1 && uint64_t(main.width) * main.height <= kMaxConvertedPixels &&
                      engine::DNGConvert::CameraCodeOf(base::Trimmed(negative->ModelName())) >= 0;
    } catch (const dng::Error&) {
    }
    if (convertible)
        ConvertAndCheck(data, size);
    return 0;
}

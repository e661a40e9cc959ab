// Time of one tools-preview update: a preview-only conversion of a 512 x 368 crop of a converted
// photo, drawn into the crop picture, with every noise-reduction slider on and a nine-cell line
// as the blur kernel. The photo is converted once first (not timed); the update then runs several
// times and the fastest and the median are reported.
//
// Usage: toolspreview_bench photo.dng [runs] [method]
#include "engine/Class_dngconvert.h"
#include "engine/fake_engine_ui.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: toolspreview_bench photo.dng [runs] [method]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    using engine::NoiseSlider;
    enginetest::FakeEngineUi ui;
    ui.method = argc > 3 ? std::atoi(argv[3]) : 0;
    ui.noise = {{NoiseSlider::kGreenChannel, 20}, {NoiseSlider::kRedChannel, 20},
                {NoiseSlider::kBlueChannel, 20},  {NoiseSlider::kRegularResult, 30},
                {NoiseSlider::kRedResult, 30},    {NoiseSlider::kBlueResult, 30},
                {NoiseSlider::kDetail, 50},       {NoiseSlider::kBalance, 120}};
    engine::DNGConvert convert(ui);
    convert.fMethod = ui.method;
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (convert.OpenAndIdentify(path, name) != engine::kResultDone || !convert.fResultReady) {
        std::fprintf(stderr, "the photo did not convert\n");
        return 1;
    }
    // A horizontal line through the centre: cells 46..54 of row 50.
    ui.kernel.SetMode(engine::MotionBlurGrid::kGridAndLine);
    ui.kernel.SetLineKind(engine::MotionBlurGrid::kLineThroughCentre);
    ui.kernel.CellClick(54, 50);
    int cells = 0;
    for (int c = 0; c < 100; ++c)
        for (int r = 0; r < 100; ++r)
            cells += ui.kernel.IsSet(c, r);
    ui.cropColumn = convert.fResultCopy->Width() / 2 - 256;
    ui.cropRow = convert.fResultCopy->Height() / 2 - 184;

    platform::Bitmap crop;
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        convert.fNegative->fPreNoiseGreen = 200;
        convert.fNegative->fPreNoiseRed = 200;
        convert.fNegative->fPreNoiseBlue = 200;
        convert.NoiseReductionPreview(crop, 180, 180, 180, 50, 120);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (crop.Width() != 512 || crop.Height() != 368) {
            std::fprintf(stderr, "the update drew no 512 x 368 crop\n");
            return 1;
        }
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("tools-preview update, method %d, %d kernel cells, crop at (%d, %d): fastest %.3f s, median %.3f s "
                "(%d runs)\n",
                ui.method, cells, ui.cropColumn, ui.cropRow, seconds.front(), seconds[seconds.size() / 2], runs);
    return 0;
}

// Dead (hot) photosites: the search of a stage-1 rectangle for photosites that are far brighter
// than their same-colour neighbours, and the repair of one photosite by the median of them.
//
// Both work on the 3 x 3 grid of photosites two apart in each direction; in a 2 x 2 colour-filter
// pattern these nine carry one colour, so neither needs to look at the pattern itself.
#include "vrel_negative.h"

#include "dng/error.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace engine {

namespace {

dng::Image& Stage1Of(VrelNegative& negative, const char* operation)
{
    dng::Image* stage1 = negative.Stage1Image();
    if (!stage1)
        throw dng::Error(dng::kErrorUnknown, std::string(operation) + ": there is no stage-1 image");
    return *stage1;
}

// Origin of the grid along one axis of length n for the photosite at p: two steps before it where
// that fits, else moved inward by one step so that the photosite becomes an edge cell. From 6
// photosites on the grid then lies inside. A shorter axis holds at most three photosites of p's
// colour (0, 2, 4 or 1, 3); the grid then starts at the first of them and so covers them all.
int32_t GridOrigin(int32_t p, int32_t n)
{
    if (n < 6)
        return p % 2;
    int32_t origin = p - 2;
    if (p + 2 >= n)
        origin -= 2;
    else if (p - 2 < 0)
        origin += 2;
    return origin;
}

} // namespace

std::vector<PixelPoint> VrelNegative::FindDeadPixels(int32_t top, int32_t left, int32_t height, int32_t width,
                                                     int32_t threshold)
{
    dng::View16 plane = Stage1Of(*this, "FindDeadPixels").View16Of(0);

    // The rectangle is clipped to the image first (in 64 bits: top + height may not fit in 32),
    // so that a rectangle partly outside reads nothing outside; one inside is searched unchanged.
    const int64_t t = std::max<int64_t>(top, 0);
    const int64_t l = std::max<int64_t>(left, 0);
    const int64_t b = std::min<int64_t>(int64_t(top) + height, plane.height);
    const int64_t r = std::min<int64_t>(int64_t(left) + width, plane.width);

    std::vector<PixelPoint> found;
    // Grid origins from 4 in from the top-left corner while the tested photosite (origin + 2)
    // stays 5 away from the bottom-right: the grid then reads rows t + 4 .. b - 3 only.
    for (int64_t row = t + 4; row < b - 6; ++row) {
        const uint16_t* rows[3] = {plane.Row(int32_t(row)), plane.Row(int32_t(row + 2)), plane.Row(int32_t(row + 4))};
        for (int64_t col = l + 4; col < r - 6; ++col) {
            std::array<uint16_t, 9> s{};
            size_t k = 0;
            for (const uint16_t* line : rows)
                for (int64_t dc = 0; dc <= 4; dc += 2)
                    s[k++] = line[col + dc];
            const uint16_t centre = s[4]; // row + 2, col + 2
            std::sort(s.begin(), s.end(), LessUInt16);
            int32_t sum = 0;
            for (size_t i = 0; i < 8; ++i)
                sum += s[i];
            const int32_t mean = sum / 8; // of the eight smallest
            if (centre == s[8] && int32_t(s[8]) - mean > threshold)
                found.push_back({int32_t(col + 2), int32_t(row + 2)});
        }
    }
    return found;
}

void VrelNegative::RepairDeadPixel(dng::Image& image, int32_t x, int32_t y)
{
    dng::View16 plane = image.View16Of(0);
    const int32_t w = plane.width;
    const int32_t h = plane.height;
    // A point outside the image names no photosite; there is nothing to repair.
    if (x < 0 || y < 0 || x >= w || y >= h)
        return;

    const int32_t r0 = GridOrigin(y, h);
    const int32_t c0 = GridOrigin(x, w);
    // Below 6 photosites a side the grid reaches past the image; only its cells inside count. The
    // photosite itself is always one of them.
    std::array<uint16_t, 9> s{};
    size_t n = 0;
    for (int32_t row = r0; row <= r0 + 4; row += 2) {
        if (row < 0 || row >= h)
            continue;
        const uint16_t* line = plane.Row(row);
        for (int32_t col = c0; col <= c0 + 4; col += 2)
            if (col >= 0 && col < w)
                s[n++] = line[col];
    }
    std::sort(s.begin(), s.begin() + ptrdiff_t(n), LessUInt16);
    // The median: s[4] of the full nine; with an even count the lower of the two middle values,
    // which leans away from the bright photosite being repaired.
    plane.Row(y)[x] = s[(n - 1) / 2];
}

void VrelNegative::RepairRegisteredDeadPixels()
{
    dng::Image& stage1 = Stage1Of(*this, "RepairRegisteredDeadPixels");
    const int32_t w = stage1.Width();
    const int32_t h = stage1.Height();
    // In list order, so that a repaired photosite already counts as a neighbour of later ones.
    // Points are registered in whole-image coordinates; a cropped stage-1 image starts at
    // fStage1Origin. Points of another geometry (or hand-edited ones) outside it are skipped.
    for (const PixelPoint& p : fDeadPixels) {
        const int64_t x = int64_t(p.x) - fStage1Origin.x;
        const int64_t y = int64_t(p.y) - fStage1Origin.y;
        if (x >= 0 && y >= 0 && x < w && y < h)
            RepairDeadPixel(stage1, int32_t(x), int32_t(y));
    }
}

} // namespace engine

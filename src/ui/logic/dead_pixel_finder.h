// The dead-pixel finder without widgets: the searched area (the crop shown at 1:1), where a
// candidate's marker goes, and the texts of the status line and of the closing message.
#pragma once

#include "engine/bayer_layout.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ui {

// The main window's 100% crop, shown unscaled in the finder.
constexpr int kFinderCropWidth = 368;
constexpr int kFinderCropHeight = 244;
// More candidates than this are not marked.
constexpr size_t kFinderMaxMarkers = 10;
// A marker is a square of this side centred on its pixel.
constexpr int kMarkerSize = 9;

struct FinderArea {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Where the result preview's pixels lie in the raw image that the search reads: raw = preview x
// scale + offset. The preview shows the active area only (the raw image also holds the masked
// border), and after a half-size run one preview pixel stands for two raw pixels each way.
struct RawMapping {
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    int32_t scale = 1;
};
// The mapping for a photo whose active area starts at (activeLeft, activeTop); the raw data is
// staged moved to an even origin, so that an odd edge counts one pixel less.
RawMapping RawMappingFor(int32_t activeLeft, int32_t activeTop, bool halfSize);

// The raw rectangle that the picture shows: from the crop origin (truncated toward zero) over the
// picture's own size, so that every searched pixel is one the user sees.
FinderArea FinderSearchArea(double cropColumn, double cropRow, int32_t pictureWidth, int32_t pictureHeight,
                            const RawMapping& mapping = {});

// Top-left corner of the marker of a raw pixel in the picture's coordinates.
struct MarkerPosition {
    int32_t x = 0;
    int32_t y = 0;
};
MarkerPosition MarkerTopLeft(const FinderArea& area, int32_t column, int32_t row, const RawMapping& mapping = {});

enum class StatusColour { kBlack, kMaroon, kGreen, kOrange };

struct FinderStatus {
    std::string text;
    StatusColour colour = StatusColour::kBlack;
};

// After a search that found `found` candidates, `registered` of them already in the body's list.
FinderStatus SearchStatus(size_t found, size_t registered);
// After a click: the number of confirmed candidates, with the hint to press OK when above 0.
std::string ConfirmedStatus(int confirmed);
// The closing "Pixels added" message.
std::string PixelsAddedMessage(int added);

// The colour-filter colour of a raw pixel in the dead-pixel list: "Red", "Green" or "Blue".
std::string BayerColourName(int32_t column, int32_t row, const engine::BayerLayout& layout);

} // namespace ui

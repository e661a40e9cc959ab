#include "ui/logic/dead_pixel_finder.h"

#include <cmath>

namespace ui {

RawMapping RawMappingFor(int32_t activeLeft, int32_t activeTop, bool halfSize)
{
    return {activeLeft - activeLeft % 2, activeTop - activeTop % 2, halfSize ? 2 : 1};
}

FinderArea FinderSearchArea(double cropColumn, double cropRow, int32_t pictureWidth, int32_t pictureHeight,
                            const RawMapping& mapping)
{
    const int32_t s = mapping.scale;
    return {static_cast<int32_t>(std::trunc(cropColumn)) * s + mapping.offsetX,
            static_cast<int32_t>(std::trunc(cropRow)) * s + mapping.offsetY, pictureWidth * s, pictureHeight * s};
}

MarkerPosition MarkerTopLeft(const FinderArea& area, int32_t column, int32_t row, const RawMapping& mapping)
{
    const int32_t half = kMarkerSize / 2;
    return {(column - area.left) / mapping.scale - half, (row - area.top) / mapping.scale - half};
}

FinderStatus SearchStatus(size_t found, size_t registered)
{
    if (found == 0)
        return {"Found none... lower the threshold and try again...", StatusColour::kMaroon};
    if (found > kFinderMaxMarkers)
        return {"Found more than 10... raise the threshold and try again...", StatusColour::kMaroon};
    if (registered < found)
        return {"Found candidates (" + std::to_string(found) + "), click on the red square(s) to confirm...",
                StatusColour::kGreen};
    return {"Found candidates, but they are already registered...", StatusColour::kOrange};
}

std::string ConfirmedStatus(int confirmed)
{
    const std::string suffix = confirmed > 0 ? " click 'OK' to add to list..." : "";
    const std::string count = std::to_string(confirmed < 0 ? 0 : confirmed);
    return "Confirmed " + count + (confirmed == 1 ? " pixel..." : " pixels...") + suffix;
}

std::string PixelsAddedMessage(int added)
{
    if (added == 1)
        return "1 confirmed pixel was added to the dead pixel list...\n\nIf necessary, you can remove the "
               "registration of this pixel by clicking on the button behind the 'Fix dead pixels' option in the "
               "main window...";
    return std::to_string(added) +
           " confirmed pixels were added to the dead pixel list...\n\nIf necessary, you can remove the "
           "registration of these pixels by clicking on the button behind the 'Fix dead pixels' option in the "
           "main window...";
}

std::string BayerColourName(int32_t column, int32_t row, const engine::BayerLayout& layout)
{
    switch (layout.At(column, row)) {
    case engine::FilterColour::kRed:
        return "Red";
    case engine::FilterColour::kBlue:
        return "Blue";
    default:
        return "Green";
    }
}

} // namespace ui

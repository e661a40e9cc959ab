#include "bayer_layout.h"

#include "base/text.h"
#include "dng/ifd_info.h"

#include <utility>

namespace engine {

namespace {

constexpr FilterColour R = FilterColour::kRed;
constexpr FilterColour G = FilterColour::kGreen;
constexpr FilterColour B = FilterColour::kBlue;

constexpr BayerLayout kRedFirst{{{{R, G}, {G, B}}}};

// The supported models whose photos do not start with red.
constexpr std::array<std::pair<const char*, BayerLayout>, 3> kOtherLayouts{{
    {"LEICA M (Typ 240)", BayerLayout{{{{B, G}, {G, R}}}}},
    {"Nikon D200", BayerLayout{{{{G, R}, {B, G}}}}},
    {"Sony ILCE-7S", BayerLayout{{{{B, G}, {G, R}}}}},
}};

} // namespace

BayerLayout ModelBayerLayout(const std::string& model)
{
    const std::string_view trimmed = base::Trim(model);
    for (const auto& [name, layout] : kOtherLayouts)
        if (base::EqualsIgnoringCase(trimmed, name))
            return layout;
    return kRedFirst;
}

std::optional<BayerLayout> PhotoBayerLayout(const dng::IfdInfo& raw)
{
    if (raw.photometric != dng::kPhotometricCFA || raw.cfaRepeatRows != 2 || raw.cfaRepeatCols != 2)
        return std::nullopt;
    BayerLayout layout;
    for (uint32_t row = 0; row < 2; ++row)
        for (uint32_t column = 0; column < 2; ++column) {
            // Pattern values index the plane colours. Registered pixels count in the raw image as the
            // engine stages it, moved so that the active area (where the pattern starts) begins on an
            // even row and column: the pattern's corner is the corner of that image.
            const uint8_t plane = raw.cfaPattern[row][column];
            if (plane >= raw.cfaPlaneColor.size() || raw.cfaPlaneColor[plane] > 2)
                return std::nullopt;
            layout.colour[row][column] = FilterColour(raw.cfaPlaneColor[plane]);
        }
    return layout;
}

} // namespace engine

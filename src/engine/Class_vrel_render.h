// The program's renderer: the DNG layer's renderer with the three renderings the program uses:
// the full-size grey rendering of the result for the cooked previews, and the small sRGB preview
// that a written file carries (with or without its lens-correction opcode applied).
#pragma once

#include "vrel_negative.h"

#include "dng/opcode_list.h"
#include "dng/render.h"

#include <memory>

namespace engine {

class VrelRender : public dng::Render {
public:
    static constexpr int32_t kFilePreviewSize = 320;

    VrelRender(dng::Host& host, const VrelNegative& negative);

    // The stage-2 image rendered at its own size into one plane of the final space.
    std::unique_ptr<dng::Image> RenderImage() const;
    // The default crop resampled to at most 320 pixels on its longer side, with a WarpRectilinear
    // opcode applied to it, rendered into three planes.
    std::unique_ptr<dng::Image> RenderWithArgs3(dng::Host& host, const VrelNegative& negative,
                                                const dng::Opcode& opcode) const;
    // The same without an opcode.
    std::unique_ptr<dng::Image> RenderWithArgs2(dng::Host& host, const VrelNegative& negative) const;

private:
    std::unique_ptr<dng::Image> RenderFilePreview(dng::Host& host, const VrelNegative& negative,
                                                  const dng::Opcode* opcode) const;
};

// The size of a file preview for an aspect ratio (width over height): 320 on the longer side.
struct PreviewSize {
    int32_t width;
    int32_t height;
};
PreviewSize FilePreviewSize(double aspectRatio);

} // namespace engine

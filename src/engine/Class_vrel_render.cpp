#include "Class_vrel_render.h"

#include "dng/error.h"
#include "dng/resample.h"
#include "dng/warp_rectilinear.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

const dng::Image& Stage2Of(const VrelNegative& negative)
{
    const dng::Image* image = negative.Stage2Image();
    if (!image)
        throw dng::Error(dng::kErrorUnknown, "there is no result to render");
    return *image;
}

int32_t Round(double v)
{
    return static_cast<int32_t>(std::floor(v + 0.5));
}

} // namespace

PreviewSize FilePreviewSize(double r)
{
    constexpr double kSize = VrelRender::kFilePreviewSize;
    if (!(r > 0.0) || !std::isfinite(r))
        r = 1.0;
    if (r < 1.0)
        return {std::max<int32_t>(1, static_cast<int32_t>(std::trunc(kSize * r + 0.5))), VrelRender::kFilePreviewSize};
    const double h = std::trunc(kSize / r + 0.5);
    return {VrelRender::kFilePreviewSize, std::max<int32_t>(1, static_cast<int32_t>(h))};
}

VrelRender::VrelRender(dng::Host& host, const VrelNegative& negative) : dng::Render(host, negative) {}

std::unique_ptr<dng::Image> VrelRender::RenderImage() const
{
    const dng::Image& src = Stage2Of(static_cast<const VrelNegative&>(GetNegative()));
    return RenderArea(src, src.Bounds(), 1);
}

std::unique_ptr<dng::Image> VrelRender::RenderWithArgs3(dng::Host& host, const VrelNegative& negative,
                                                        const dng::Opcode& opcode) const
{
    return RenderFilePreview(host, negative, &opcode);
}

std::unique_ptr<dng::Image> VrelRender::RenderWithArgs2(dng::Host& host, const VrelNegative& negative) const
{
    return RenderFilePreview(host, negative, nullptr);
}

std::unique_ptr<dng::Image> VrelRender::RenderFilePreview(dng::Host& host, const VrelNegative& negative,
                                                          const dng::Opcode* opcode) const
{
    const dng::Image& stage2 = Stage2Of(negative);
    // The default crop, in the stage-2 image (whose origin is the active area's).
    const int32_t left = Round(negative.DefaultCropOriginH().As_real64());
    const int32_t top = Round(negative.DefaultCropOriginV().As_real64());
    const int32_t width = Round(negative.DefaultCropSizeH().As_real64());
    const int32_t height = Round(negative.DefaultCropSizeV().As_real64());
    dng::Rect area = dng::Intersect(dng::Rect(top, left, top + height, left + width), stage2.Bounds());
    if (area.IsEmpty())
        area = stage2.Bounds();

    // Aspect ratio of the picture: default scale times crop size, horizontal over vertical.
    const double sh = negative.DefaultScaleH().As_real64();
    const double sv = negative.DefaultScaleV().As_real64();
    const double cw = negative.DefaultCropSizeH().As_real64();
    const double ch = negative.DefaultCropSizeV().As_real64();
    const double ratio = sv > 0.0 && ch > 0.0 ? (sh * cw) / (sv * ch) : double(area.W()) / double(area.H());
    const PreviewSize size = FilePreviewSize(ratio);

    const dng::Image* src = &stage2;
    std::unique_ptr<dng::Image> resized;
    if (area.W() != size.width || area.H() != size.height) {
        resized = host.Make_dng_image(size.width, size.height, stage2.Planes(), stage2.Type());
        dng::ResampleImage(host, stage2, area, *resized);
        // The lens correction of a colour file, applied with the coefficients that a monochrome
        // file keeps (one set for the single plane).
        if (opcode && opcode->id == dng::kOpcodeWarpRectilinear)
            dng::WarpRectilinear::Parse(dng::RewriteForOnePlane(*opcode)).Apply(host, *resized);
        src = resized.get();
        area = resized->Bounds();
    }
    return RenderArea(*src, area, 3);
}

} // namespace engine

// Negatives for the engine tests: read by the host from a synthetic DNG (tests/fixtures) or from a
// file, with the host, bytes, stream and info they were read from kept alive beside them, and
// optionally wired to a fake interface and a progress reporter.
#pragma once

#include "engine/Class_vrel_host.h"
#include "engine/progress_reporter.h"
#include "engine/vrel_negative.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fake_engine_ui.h"
#include "fixtures/dng_fixture.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace enginetest {

// A negative made by the host and parsed from `stream` (which reads `bytes` or a file).
struct ParsedNegative {
    engine::VrelHost host;
    std::vector<uint8_t> bytes;
    std::unique_ptr<dng::Stream> stream;
    dng::Info info;
    std::unique_ptr<dng::Negative> owner;
    engine::VrelNegative* neg = nullptr;
};

// A parsed negative whose messages go to a fake interface, with a progress reporter bound to it.
struct Negative : ParsedNegative {
    FakeEngineUi ui;
    engine::ProgressReporter progress;

    dng::Image& Stage1() { return *neg->Stage1Image(); }
    uint16_t Out(int32_t x, int32_t y) { return Stage1().View16Of(0).Row(y)[x]; }
};

// Parses the file behind n.stream into n.owner (n.neg is the same negative); with decode, also
// reads its stage-1 image.
inline void Finish(ParsedNegative& n, bool decode)
{
    n.info.Parse(n.host, *n.stream);
    n.info.PostParse(n.host);
    n.owner = n.host.Make_dng_negative();
    n.neg = &dynamic_cast<engine::VrelNegative&>(*n.owner);
    n.owner->Parse(n.host, *n.stream, n.info);
    n.owner->PostParse(n.host, *n.stream, n.info);
    if (decode)
        n.owner->ReadStage1Image(n.host, *n.stream, n.info);
}

// As above, then hands the negative the fake interface and binds the progress reporter to it.
inline void Finish(Negative& n, bool decode)
{
    Finish(static_cast<ParsedNegative&>(n), decode);
    n.neg->fUi = &n.ui;
    n.progress.Bind(&n.ui.bar, &n.ui.status, [&n] { n.ui.ProcessMessages(); });
}

// A negative of type N (ParsedNegative, Negative or a test's own extension) read from the given
// DNG bytes; with decode, its stage-1 image is read too.
template <typename N = Negative>
std::unique_ptr<N> FromBytes(std::vector<uint8_t> bytes, bool decode = false)
{
    auto n = std::make_unique<N>();
    n->bytes = std::move(bytes);
    n->stream = std::make_unique<dng::MemoryStream>(n->bytes);
    Finish(*n, decode);
    return n;
}

// A negative read from the synthetic DNG that `desc` describes.
template <typename N = Negative>
std::unique_ptr<N> FromSynthetic(const fixtures::DngSpec& desc, bool decode = false)
{
    return FromBytes<N>(fixtures::MakeDng(desc).bytes, decode);
}

// A negative read from the DNG file at `path`.
template <typename N = Negative>
std::unique_ptr<N> FromFile(const std::string& path, bool decode = true)
{
    auto n = std::make_unique<N>();
    n->stream = std::make_unique<dng::FileStream>(path);
    Finish(*n, decode);
    return n;
}

// Camera code of a body whose greens need no G2 equalisation (Nikon D800).
constexpr uint16_t kNoEqualisation = 21;

// The negative n with that camera code, so that a pass equalises nothing unless a test asks.
template <typename N>
std::unique_ptr<N> WithoutEqualisation(std::unique_ptr<N> n)
{
    n->neg->fCameraCode = kNoEqualisation;
    return n;
}

// A one-plane 16-bit image of w x h whose sample at (column x, row y) is f(x, y).
inline std::unique_ptr<dng::Image> MakeImage(int32_t w, int32_t h, const std::function<uint16_t(int32_t, int32_t)>& f)
{
    auto img = std::make_unique<dng::Image>(w, h, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            img->View16Of(0).Row(y)[x] = f(x, y);
    return img;
}

} // namespace enginetest

// Fuzz target: the whole reading path of a DNG from bytes: container and structure parsing,
// the negative's metadata, stage-1 decoding, digest check and stage-2 linearization.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dng::MemoryStream stream({data, size});
    dng::Host host;
    dng::Info info;
    try {
        info.Parse(host, stream);
        info.PostParse(host);
        if (!info.IsValidDNG())
            return 0;
        auto negative = host.Make_dng_negative();
        negative->Parse(host, stream, info);
        negative->PostParse(host, stream, info);
        negative->ReadStage1Image(host, stream, info);
        negative->ValidateRawImageDigest(host);
        negative->BuildStage2Image(host);
        (void)negative->MakeColorSpec();
    } catch (const dng::Error&) {
    }
    return 0;
}

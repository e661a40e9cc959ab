#include "Class_vrel_host.h"

#include "vrel_negative.h"

namespace engine {

std::unique_ptr<dng::Negative> VrelHost::Make_dng_negative()
{
    return VrelNegative::Make(*this);
}

} // namespace engine

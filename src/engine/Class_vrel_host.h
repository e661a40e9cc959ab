// The program's host: like the DNG layer's, except that every negative it makes is a VrelNegative.
#pragma once

#include "dng/host.h"

namespace engine {

class VrelHost final : public dng::Host {
public:
    std::unique_ptr<dng::Negative> Make_dng_negative() override;
};

} // namespace engine

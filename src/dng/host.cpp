#include "host.h"

#include "error.h"
#include "negative.h"

#include <new>
#include <utility>

namespace dng {

Host::~Host() = default;

std::unique_ptr<Negative> Host::Make_dng_negative()
{
    std::unique_ptr<Negative> negative;
    try {
        negative = std::make_unique<Negative>();
    } catch (const std::bad_alloc&) {
        ThrowMemory("out of memory for a negative");
    }
    negative->Initialize();
    return negative;
}

std::unique_ptr<Image> Host::Make_dng_image(int32_t width, int32_t height, uint32_t planes, PixelType type,
                                           ImageFill fill)
{
    return std::make_unique<Image>(width, height, planes, type, fill);
}

void Host::ValidateSizes()
{
    if (fMaximumSize && fPreferredSize > fMaximumSize)
        fPreferredSize = fMaximumSize;
    if (fMinimumSize && fPreferredSize && fMinimumSize > fPreferredSize)
        fMinimumSize = fPreferredSize;
    if (fMaximumSize && fMinimumSize > fMaximumSize)
        fMinimumSize = fMaximumSize;
}

void Host::SetKeepAlive(std::function<void()> hook, std::chrono::steady_clock::duration interval)
{
    fKeepAlive = std::move(hook);
    fKeepAliveInterval = interval;
    fKeptAlive = std::chrono::steady_clock::now();
    fKeepAliveThread = std::this_thread::get_id();
}

void Host::KeepAlive()
{
    if (!fKeepAlive || std::this_thread::get_id() != fKeepAliveThread)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - fKeptAlive < fKeepAliveInterval)
        return;
    fKeepAlive();
    // The interval counts from the end of the call: a slow hook does not run back to back.
    fKeptAlive = std::chrono::steady_clock::now();
}

} // namespace dng

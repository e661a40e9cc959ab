// The host hands out the objects that the DNG layer makes: images and negatives. The program
// derives its own host so that the negatives made for it are its own class.
#pragma once

#include "image.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace dng {

class Negative;

class Host {
public:
    Host() = default;
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    virtual ~Host();

    // A new, initialised negative.
    virtual std::unique_ptr<Negative> Make_dng_negative();
    // A zero-filled image, or one the caller fills whole (kErrorMemory or kErrorImageTooBig when it
    // cannot be had).
    std::unique_ptr<Image> Make_dng_image(int32_t width, int32_t height, uint32_t planes, PixelType type,
                                          ImageFill fill = ImageFill::kZero);

    // Requested output sizes (0 = no limit, full size); kept for the renderer.
    void SetPreferredSize(uint32_t size) { fPreferredSize = size; }
    void SetMinimumSize(uint32_t size) { fMinimumSize = size; }
    void SetMaximumSize(uint32_t size) { fMaximumSize = size; }
    uint32_t PreferredSize() const { return fPreferredSize; }
    uint32_t MinimumSize() const { return fMinimumSize; }
    uint32_t MaximumSize() const { return fMaximumSize; }
    // Brings the three sizes into order: minimum <= preferred <= maximum, where set.
    void ValidateSizes();

    // A hook that the long operations of this layer (raw decoding, digests, linearisation,
    // rendering) reach between pieces of work, so that the caller can keep its windows alive
    // while they run. KeepAlive() passes a call on at most once per interval, and only on the
    // thread that set the hook (never from a helper thread); an empty hook turns it off. The hook
    // must not touch the images being worked on: results never depend on it.
    static constexpr std::chrono::milliseconds kKeepAliveInterval{25};
    void SetKeepAlive(std::function<void()> hook, std::chrono::steady_clock::duration interval = kKeepAliveInterval);
    void KeepAlive();

private:
    uint32_t fPreferredSize = 0;
    uint32_t fMinimumSize = 0;
    uint32_t fMaximumSize = 0;
    std::function<void()> fKeepAlive;
    std::chrono::steady_clock::duration fKeepAliveInterval{};
    std::chrono::steady_clock::time_point fKeptAlive{};
    std::thread::id fKeepAliveThread;
};

} // namespace dng

// Small colour DNGs with chosen pixel values for the window tests, and an engine seam whose
// options the test sets (the engine tests' fake).
#pragma once

#include "../engine/fake_engine_ui.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/temp_file.h"

#include <QObject>
#include <stdexcept>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace uitest {

// A window's component by its object name.
template <class T>
T& Child(const QObject& window, const char* name)
{
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        throw std::logic_error(std::string("no component ") + name);
    return *child;
}

// A Nikon D800 photo of width x height RGGB photosites whose stored values value(x, y) gives.
inline std::unique_ptr<fixtures::TempFile> MakePhoto(uint32_t width, uint32_t height,
                                                      const std::function<uint16_t(int, int)>& value,
                                                      const std::string& serial = "BSN-0042",
                                                      std::optional<dng::Rect> activeArea = std::nullopt)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.width = width;
    spec.height = height;
    spec.rowsPerStrip = height;
    spec.bodySerialNumber = serial;
    spec.cameraSerialNumber = serial;
    spec.activeArea = activeArea;
    fixtures::DngFixture fx = fixtures::MakeDng(spec);
    const auto& block = fx.layout.directories[fx.rawIfd].blocks.at(0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint16_t v = value(int(x), int(y));
            const size_t at = block.offset + (size_t(y) * width + x) * 2;
            fx.bytes[at] = uint8_t(v & 0xFF);
            fx.bytes[at + 1] = uint8_t(v >> 8);
        }
    return std::make_unique<fixtures::TempFile>(fx.bytes);
}

} // namespace uitest

// The registered dead pixels of each camera body, kept in the settings file.
//
// Layout:
//   [dead pixels camera]        serial=model, one line per body that ever had pixels registered
//   [<serial>]                  "1" .. "199" = column + row x 0.0001 (e.g. 1234.0567), gaps allowed
//
// A pixel is read back as column = the value truncated, row = the rest x 10000 + 0.5 truncated,
// which holds for rows 0 to 9999. Keys outside "1" .. "199" (also "01") are never read; values that
// are no number, or not above -1, are no pixel.
//
// The store refuses what it could not read back or what would damage the file: an empty serial
// number, one the settings file cannot hold as a section or key name (a photo may carry anything),
// the name of the body list itself, a model name with a line end, a negative column or row, a row
// above 9999, and a pixel beyond the 199th. A refusal writes nothing.
#pragma once

#include "ini_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One photosite of the raw image: x the column, y the row.
struct DeadPixel {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const DeadPixel&, const DeadPixel&) = default;
};

struct CameraBody {
    std::string serial;
    std::string model;
};

class DeadPixelStore {
public:
    static constexpr const char* kBodiesSection = "dead pixels camera";
    static constexpr int kMaxPixels = 199; // keys "1" .. "199"
    static constexpr int32_t kMaxRow = 9999;

    explicit DeadPixelStore(IniFile& ini) : fIni(ini) {}

    // The body's pixels in the order of their keys; empty for an unknown body or empty serial.
    std::vector<DeadPixel> Load(const std::string& serial) const;
    // The lowest key number not used in the body's section. Above kMaxPixels the list is full.
    int FirstFreeKey(const std::string& serial) const;
    // Stores the pixel under the first free key, then records the body with its model. False when
    // refused (see above) or when the settings file could not be written (IniFile::LastError).
    bool Add(const std::string& serial, const std::string& model, int32_t column, int32_t row);
    // Records the body with its model in the body list, as a finished registration does even when
    // it added no pixel.
    bool RegisterBody(const std::string& serial, const std::string& model);
    // Deletes every key of the body that holds this pixel; the other keys keep their numbers and
    // the body stays listed. False when the pixel was not registered or a write failed.
    bool Remove(const std::string& serial, int32_t column, int32_t row);
    // Whether the body's section has any key: what enables the repair option for it.
    bool HasPixels(const std::string& serial) const;
    // The body list in file order.
    std::vector<CameraBody> Bodies() const;

    // The stored number of a pixel: the double nearest to column + row / 10000.
    static double Encode(int32_t column, int32_t row);
    // The pixel a stored number stands for; false when it is none (not above -1, or too large).
    static bool Decode(double value, DeadPixel& pixel);
    // Whether the serial number can name a body (see above).
    static bool IsStorableSerial(const std::string& serial);

private:
    IniFile& fIni;
};

} // namespace platform

#include "dead_pixel_store.h"

#include "base/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace platform {

namespace {

// The value of a missing or unreadable key: no pixel.
constexpr double kNoPixel = -1.0;

} // namespace

double DeadPixelStore::Encode(int32_t column, int32_t row)
{
    if (column < 0 || row < 0 || row > kMaxRow)
        return double(column + row * 0.0001L);
    // Parsing the decimal text "column.rrrr" gives the double nearest to the exact value, so that
    // the settings file's shortest round-trip text of it is that same decimal.
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%d.%04d", column, row);
    double value = 0.0;
    std::from_chars(text, text + n, value);
    return value;
}

bool DeadPixelStore::Decode(double value, DeadPixel& pixel)
{
    // NaN fails the first test; values beyond 32-bit columns name no photosite.
    if (!(value > kNoPixel) || value >= 2147483648.0)
        return false;
    const int32_t column = static_cast<int32_t>(std::trunc(value));
    const double rest = (value - double(column)) * 10000.0 + 0.5;
    pixel = {column, static_cast<int32_t>(std::trunc(rest))};
    return true;
}

bool DeadPixelStore::IsStorableSerial(const std::string& serial)
{
    const std::string name = base::Trimmed(serial);
    // The serial names both a section and a key of the body list; and a body named like the body
    // list would mix its pixels into that list.
    return !name.empty() && IniFile::IsValidSectionName(serial) && IniFile::IsValidKeyName(serial) &&
           !base::EqualsIgnoringCase(name, kBodiesSection);
}

std::vector<DeadPixel> DeadPixelStore::Load(const std::string& serial) const
{
    std::vector<DeadPixel> pixels;
    if (base::Trimmed(serial).empty())
        return pixels;
    for (int n = 1; n <= kMaxPixels; ++n) {
        DeadPixel p;
        if (Decode(fIni.ReadFloat(serial, std::to_string(n), kNoPixel), p))
            pixels.push_back(p);
    }
    return pixels;
}

int DeadPixelStore::FirstFreeKey(const std::string& serial) const
{
    std::unordered_set<std::string> keys;
    for (std::string& key : fIni.ReadSection(serial))
        keys.insert(std::move(key));
    // Exact text: "01" does not take key 1.
    int n = 1;
    while (keys.count(std::to_string(n)))
        ++n;
    return n;
}

bool DeadPixelStore::RegisterBody(const std::string& serial, const std::string& model)
{
    if (!IsStorableSerial(serial) || !IniFile::IsValidValue(model))
        return false;
    return fIni.WriteString(kBodiesSection, serial, model);
}

bool DeadPixelStore::Add(const std::string& serial, const std::string& model, int32_t column, int32_t row)
{
    if (!IsStorableSerial(serial) || !IniFile::IsValidValue(model))
        return false;
    if (column < 0 || row < 0 || row > kMaxRow)
        return false;
    const int key = FirstFreeKey(serial);
    if (key > kMaxPixels)
        return false;
    if (!fIni.WriteFloat(serial, std::to_string(key), Encode(column, row)))
        return false;
    return fIni.WriteString(kBodiesSection, serial, model);
}

bool DeadPixelStore::Remove(const std::string& serial, int32_t column, int32_t row)
{
    if (base::Trimmed(serial).empty())
        return false;
    const DeadPixel wanted{column, row};
    bool removed = false;
    for (int n = 1; n <= kMaxPixels; ++n) {
        const std::string key = std::to_string(n);
        DeadPixel p;
        if (!Decode(fIni.ReadFloat(serial, key, kNoPixel), p) || !(p == wanted))
            continue;
        if (!fIni.DeleteKey(serial, key))
            return false;
        removed = true;
    }
    return removed;
}

bool DeadPixelStore::HasPixels(const std::string& serial) const
{
    return !base::Trimmed(serial).empty() && !fIni.ReadSection(serial).empty();
}

std::vector<CameraBody> DeadPixelStore::Bodies() const
{
    std::vector<CameraBody> bodies;
    for (std::string& serial : fIni.ReadSection(kBodiesSection)) {
        std::string model = fIni.ReadString(kBodiesSection, serial, "");
        bodies.push_back({std::move(serial), std::move(model)});
    }
    return bodies;
}

} // namespace platform

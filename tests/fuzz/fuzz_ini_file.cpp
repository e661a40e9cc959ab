// Fuzz target: the settings file, which a user may edit by hand. Any bytes are loaded, read
// through every accessor, and written back; a value that was accepted must read back as written
// (values are stored without their surrounding blanks).
#include "base/text.h"
#include "platform/ini_file.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path ScratchFile()
{
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("velloray-fuzz-ini-" + std::to_string(getpid())) / "Velloray.ini";
    static const bool made = std::filesystem::create_directories(path.parent_path()) || true;
    (void)made;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::filesystem::path path = ScratchFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    platform::IniFile ini(path);
    for (const std::string& section : ini.ReadSections()) {
        for (const std::string& key : ini.ReadSection(section)) {
            (void)ini.ReadString(section, key, "");
            (void)ini.ReadInteger(section, key, 0);
            (void)ini.ReadFloat(section, key, 0.0);
            (void)ini.ValueExists(section, key);
        }
    }
    const std::string text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    const std::string key = text.substr(0, text.size() / 2), value = text.substr(text.size() / 2);
    if (ini.WriteString("Persistent", key, value) && ini.ReadString("Persistent", key, "\x01") != base::Trim(value))
        abort();
    (void)ini.DeleteKey("Persistent", key);
    (void)ini.EraseSection("dead pixels camera");
    return 0;
}

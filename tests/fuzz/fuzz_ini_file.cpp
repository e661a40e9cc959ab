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

// The settings file the inputs are written to, in a folder of the process's own that goes when
// the fuzzer ends.
struct ScratchFolder {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("velloray-fuzz-ini-" + std::to_string(getpid()));
    ScratchFolder() { std::filesystem::create_directories(folder); }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

std::filesystem::path ScratchFile()
{
    static const ScratchFolder scratch;
    return scratch.folder / "Velloray.ini";
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

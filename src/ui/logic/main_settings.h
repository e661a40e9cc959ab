// The main window's settings in section "Persistent" of the settings file: keys, defaults, and
// reading them with anything unreadable falling back to its default.
#pragma once

#include <string>

namespace platform {
class IniFile;
}

namespace ui {

inline constexpr const char* kSettingsSection = "Persistent";
inline constexpr const char* kKeyAutoSave = "AutoSaveDNG";
inline constexpr const char* kKeyAutoSavePath = "AutoSavePathDNG";
inline constexpr const char* kKeyNICorrectG1G2 = "NICorrectG1G2";
inline constexpr const char* kKeyNICorrectRB = "NICorrectRB";
inline constexpr const char* kKeyNIOn = "NIOn";
// The folder label's text while no folder is chosen (also stored as the folder then).
inline constexpr const char* kNoFolder = "[specify folder]";

struct PersistentSettings {
    bool autoSave = false;
    std::string autoSavePath = kNoFolder;
    bool niCorrectG1G2 = false;
    bool niCorrectRB = false;
    bool niOn = false;
};

// Booleans that are no whole number read as their default; an empty folder reads as none.
PersistentSettings ReadPersistentSettings(const platform::IniFile& file);

} // namespace ui

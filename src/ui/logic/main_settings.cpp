#include "ui/logic/main_settings.h"

#include "platform/ini_file.h"

namespace ui {

PersistentSettings ReadPersistentSettings(const platform::IniFile& file)
{
    PersistentSettings s;
    s.autoSave = file.ReadBool(kSettingsSection, kKeyAutoSave, s.autoSave);
    s.autoSavePath = file.ReadString(kSettingsSection, kKeyAutoSavePath, s.autoSavePath);
    if (s.autoSavePath.empty())
        s.autoSavePath = kNoFolder;
    s.niCorrectG1G2 = file.ReadBool(kSettingsSection, kKeyNICorrectG1G2, s.niCorrectG1G2);
    s.niCorrectRB = file.ReadBool(kSettingsSection, kKeyNICorrectRB, s.niCorrectRB);
    s.niOn = file.ReadBool(kSettingsSection, kKeyNIOn, s.niOn);
    return s;
}

} // namespace ui

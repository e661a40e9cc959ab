// The settings file: a classic INI file of [sections] with key=value lines.
//
// - Section and key names are looked up without regard to ASCII case and without their
//   surrounding blanks (spaces, tabs, other control characters); values are read without their
//   surrounding blanks.
// - The file is read once, when the object is made; every write goes to disk at once and is only
//   taken over in memory when it reached the disk, so that memory and file never disagree.
// - A write replaces the file as a whole (base::AtomicFile): a crash or a full disk leaves either
//   the old file or the new one, never half a file.
// - Lines the file does not use (comments, blank lines, lines without '=', keys before the first
//   section, later repeats of a section) are kept as they are. A section is its first header;
//   within it a key is its first line. New keys go after the last key of their section, new
//   sections at the end of the file. Written lines are "key=value", headers "[section]".
// - Line ends are read as LF or CRLF; a rewrite uses the kind the file's first line ends with
//   (a new file gets LF). A leading UTF-8 byte-order mark is kept.
// - Writes report failure by returning false; LastError() then says why. Nothing is written, and
//   false returned, when a name or value could not be read back as written: a section name that is
//   empty or holds ']'; a key that is empty, holds '=' or starts with '[' or ';'; or any of them
//   holding a line end or a NUL. Such text may come from a photo (a camera serial number), and
//   refusing it keeps the rest of the file sound.
// - When the file exists but cannot be read, nothing is loaded and every write is refused, so that
//   the user's settings are not replaced by an empty file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Where the settings file lives and whether that is the usual place.
struct SettingsLocation {
    std::filesystem::path file;
    bool fellBack = false; // the configuration folder could not be made; file lies elsewhere
    std::string problem;   // why it fell back, for the caller to show
};

class IniFile {
public:
    static constexpr const char* kFileName = "Velloray.ini";

    // "Velloray.ini" in $XDG_CONFIG_HOME/velloray, else in ~/.config/velloray; the folder is made
    // when missing. When it cannot be made the file goes into the home folder (or, without one,
    // the current folder) and fellBack is set.
    static SettingsLocation DefaultLocation();

    // Reads the file when it exists; a missing file is an empty one.
    explicit IniFile(std::filesystem::path path);

    const std::filesystem::path& Path() const { return fPath; }
    // False when the file exists but could not be read (writes are then refused).
    bool Loaded() const { return fLoaded; }
    // Why the last write (or the load) failed.
    const std::string& LastError() const { return fLastError; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // Decimal integers; anything else (or a number beyond 32 bits) gives def.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer other than 0 is true; stored as "1" and "0".
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // A finite decimal number with '.' as separator, read independently of the locale.
    double ReadFloat(std::string_view section, std::string_view key, double def) const;

    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);
    // The shortest text that reads back as the same double; infinities and NaN are refused.
    bool WriteFloat(std::string_view section, std::string_view key, double value);

    // Key names of a section in file order (each once); empty for a missing section.
    std::vector<std::string> ReadSection(std::string_view section) const;
    // Section names in file order (each once).
    std::vector<std::string> ReadSections() const;
    // True when the section's header is in the file, even with no keys under it.
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // Removes every line of the key in its section; true also when there was none.
    bool DeleteKey(std::string_view section, std::string_view key);
    // Removes the section (every header of that name) with all its lines; true also when missing.
    bool EraseSection(std::string_view section);

    // Whether a name or value can be written and read back unchanged (see above).
    static bool IsValidSectionName(std::string_view name);
    static bool IsValidKeyName(std::string_view name);
    static bool IsValidValue(std::string_view value);

private:
    struct Range {
        size_t header; // index of the header line
        size_t end;    // one past the section's last line
    };

    bool FindSection(std::string_view section, Range& range) const;
    // Index of the key's first line in the section, or npos.
    size_t FindKey(const Range& range, std::string_view key) const;
    const std::string* FindValueLine(std::string_view section, std::string_view key) const;
    // Writes the lines to disk and, when that worked, keeps them as the file's contents.
    bool Commit(std::vector<std::string> lines);
    bool Refuse(std::string why);

    std::filesystem::path fPath;
    std::vector<std::string> fLines; // without line ends
    bool fCrlf = false;
    bool fBom = false;
    bool fLoaded = true;
    std::string fLastError;
};

} // namespace platform

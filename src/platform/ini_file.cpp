#include "ini_file.h"

#include "base/atomic_file.h"
#include "base/text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <unordered_set>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view TrimLeft(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && base::IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

bool HoldsLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// "[name]" (blanks around allowed; text after ']' ignored): the trimmed name.
bool ParseHeader(std::string_view line, std::string_view& name)
{
    std::string_view t = TrimLeft(line);
    if (t.empty() || t[0] != '[')
        return false;
    const size_t close = t.find(']');
    if (close == std::string_view::npos)
        return false;
    name = base::Trim(t.substr(1, close - 1));
    return true;
}

// "key=value": the trimmed key and value. Comments (';'), headers and lines starting with '['
// are no keys, nor is a line whose key is empty.
bool ParseKey(std::string_view line, std::string_view& key, std::string_view& value)
{
    std::string_view t = TrimLeft(line);
    if (t.empty() || t[0] == ';' || t[0] == '[')
        return false;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = base::Trim(t.substr(0, eq));
    if (key.empty())
        return false;
    value = base::Trim(t.substr(eq + 1));
    return true;
}

std::string ErrnoText(const std::string& what, const fs::path& path, int error)
{
    return what + " " + path.string() + ": " + std::strerror(error);
}

// Replaces the file at path by text, whole or not at all.
bool ReplaceFile(const fs::path& path, const std::string& text, std::string& error)
{
    try {
        base::AtomicFile file(path);
        file.Write(text);
        file.Commit();
        return true;
    } catch (const base::FileError& e) {
        error = e.what();
        return false;
    }
}

bool ReadAll(const fs::path& path, std::string& text, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = ErrnoText("cannot read the settings file", path, errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = ErrnoText("cannot read the settings file", path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, size_t(n));
    }
    ::close(fd);
    return true;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return pw->pw_dir;
    return {};
}

} // namespace

SettingsLocation IniFile::DefaultLocation()
{
    SettingsLocation location;
    const std::string home = HomeFolder();

    fs::path config;
    // Only an absolute $XDG_CONFIG_HOME counts; a relative one is to be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        config = fs::path(xdg) / "velloray";
    else if (!home.empty())
        config = fs::path(home) / ".config" / "velloray";

    if (!config.empty()) {
        std::error_code ec;
        fs::create_directories(config, ec);
        if (!ec && fs::is_directory(config, ec)) {
            location.file = config / kFileName;
            return location;
        }
        location.problem = "cannot make the settings folder " + config.string() + ": " +
                           (ec ? ec.message() : std::string("not a folder"));
    } else {
        location.problem = "no home folder is known";
    }

    location.fellBack = true;
    std::error_code ec;
    if (!home.empty() && fs::is_directory(home, ec))
        location.file = fs::path(home) / kFileName;
    else
        location.file = fs::path(kFileName);
    return location;
}

IniFile::IniFile(fs::path path) : fPath(std::move(path))
{
    std::error_code ec;
    const fs::file_status status = fs::status(fPath, ec);
    if (status.type() == fs::file_type::not_found)
        return;
    if (ec || status.type() != fs::file_type::regular) {
        fLoaded = false;
        fLastError = "cannot read the settings file " + fPath.string() + ": " +
                     (ec ? ec.message() : std::string("not a regular file"));
        return;
    }

    std::string text;
    if (!ReadAll(fPath, text, fLastError)) {
        fLoaded = false;
        return;
    }

    std::string_view rest(text);
    if (rest.starts_with(kBom)) {
        fBom = true;
        rest.remove_prefix(kBom.size());
    }
    const size_t firstEnd = rest.find('\n');
    fCrlf = firstEnd != std::string_view::npos && firstEnd > 0 && rest[firstEnd - 1] == '\r';
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        fLines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
}

bool IniFile::IsValidSectionName(std::string_view name)
{
    const std::string_view t = base::Trim(name);
    return !t.empty() && t.find(']') == std::string_view::npos && !HoldsLineBreakOrNul(name);
}

bool IniFile::IsValidKeyName(std::string_view name)
{
    const std::string_view t = base::Trim(name);
    return !t.empty() && t[0] != '[' && t[0] != ';' && t.find('=') == std::string_view::npos &&
           !HoldsLineBreakOrNul(name);
}

bool IniFile::IsValidValue(std::string_view value) { return !HoldsLineBreakOrNul(value); }

bool IniFile::FindSection(std::string_view section, Range& range) const
{
    if (!IsValidSectionName(section))
        return false;
    const std::string_view wanted = base::Trim(section);
    for (size_t i = 0; i < fLines.size(); ++i) {
        std::string_view name;
        if (ParseHeader(fLines[i], name) && base::EqualsIgnoringCase(name, wanted)) {
            range.header = i;
            range.end = i + 1;
            std::string_view next;
            while (range.end < fLines.size() && !ParseHeader(fLines[range.end], next))
                ++range.end;
            return true;
        }
    }
    return false;
}

size_t IniFile::FindKey(const Range& range, std::string_view key) const
{
    if (!IsValidKeyName(key))
        return std::string::npos;
    const std::string_view wanted = base::Trim(key);
    for (size_t i = range.header + 1; i < range.end; ++i) {
        std::string_view name, value;
        if (ParseKey(fLines[i], name, value) && base::EqualsIgnoringCase(name, wanted))
            return i;
    }
    return std::string::npos;
}

const std::string* IniFile::FindValueLine(std::string_view section, std::string_view key) const
{
    Range range;
    if (!FindSection(section, range))
        return nullptr;
    const size_t i = FindKey(range, key);
    return i == std::string::npos ? nullptr : &fLines[i];
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const std::string* line = FindValueLine(section, key);
    std::string_view name, value;
    if (!line || !ParseKey(*line, name, value))
        return std::string(def);
    return std::string(value);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const
{
    const std::string text = ReadString(section, key, "");
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return (text.empty() || ec != std::errc() || ptr != end) ? def : value;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double def) const
{
    const std::string text = ReadString(section, key, "");
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        return def;
    return value;
}

bool IniFile::Refuse(std::string why)
{
    fLastError = std::move(why);
    return false;
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    if (!IsValidSectionName(section))
        return Refuse("the section name cannot be stored in the settings file");
    if (!IsValidKeyName(key))
        return Refuse("the key name cannot be stored in the settings file");
    if (!IsValidValue(value))
        return Refuse("the value cannot be stored in the settings file");

    const std::string_view v = base::Trim(value);
    std::vector<std::string> lines = fLines;
    Range range;
    if (FindSection(section, range)) {
        const size_t at = FindKey(range, key);
        if (at != std::string::npos) {
            std::string_view name, old;
            ParseKey(lines[at], name, old);
            lines[at] = std::string(name) + "=" + std::string(v);
        } else {
            size_t after = range.header;
            for (size_t i = range.header + 1; i < range.end; ++i) {
                std::string_view name, old;
                if (ParseKey(lines[i], name, old))
                    after = i;
            }
            lines.insert(lines.begin() + ptrdiff_t(after + 1), std::string(base::Trim(key)) + "=" + std::string(v));
        }
    } else {
        lines.push_back("[" + std::string(base::Trim(section)) + "]");
        lines.push_back(std::string(base::Trim(key)) + "=" + std::string(v));
    }
    return Commit(std::move(lines));
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value)
{
    return WriteString(section, key, std::to_string(value));
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool IniFile::WriteFloat(std::string_view section, std::string_view key, double value)
{
    if (!std::isfinite(value))
        return Refuse("only finite numbers can be stored in the settings file");
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return Refuse("cannot format the number");
    return WriteString(section, key, std::string_view(buffer, size_t(ptr - buffer)));
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    Range range;
    if (!FindSection(section, range))
        return keys;
    std::unordered_set<std::string> seen;
    for (size_t i = range.header + 1; i < range.end; ++i) {
        std::string_view name, value;
        if (ParseKey(fLines[i], name, value) && seen.insert(base::LowerAscii(name)).second)
            keys.emplace_back(name);
    }
    return keys;
}

std::vector<std::string> IniFile::ReadSections() const
{
    std::vector<std::string> sections;
    std::unordered_set<std::string> seen;
    for (const std::string& line : fLines) {
        std::string_view name;
        if (ParseHeader(line, name) && !name.empty() && seen.insert(base::LowerAscii(name)).second)
            sections.emplace_back(name);
    }
    return sections;
}

bool IniFile::SectionExists(std::string_view section) const
{
    Range range;
    return FindSection(section, range);
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const
{
    return FindValueLine(section, key) != nullptr;
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key)
{
    Range range;
    if (!FindSection(section, range) || !IsValidKeyName(key))
        return true;
    const std::string_view wanted = base::Trim(key);
    std::vector<std::string> lines;
    lines.reserve(fLines.size());
    bool removed = false;
    for (size_t i = 0; i < fLines.size(); ++i) {
        std::string_view name, value;
        if (i > range.header && i < range.end && ParseKey(fLines[i], name, value) && base::EqualsIgnoringCase(name, wanted)) {
            removed = true;
            continue;
        }
        lines.push_back(fLines[i]);
    }
    return removed ? Commit(std::move(lines)) : true;
}

bool IniFile::EraseSection(std::string_view section)
{
    if (!IsValidSectionName(section))
        return true;
    const std::string_view wanted = base::Trim(section);
    std::vector<std::string> lines;
    lines.reserve(fLines.size());
    bool inside = false;
    bool removed = false;
    for (const std::string& line : fLines) {
        std::string_view name;
        if (ParseHeader(line, name))
            inside = base::EqualsIgnoringCase(name, wanted);
        if (inside) {
            removed = true;
            continue;
        }
        lines.push_back(line);
    }
    return removed ? Commit(std::move(lines)) : true;
}

bool IniFile::Commit(std::vector<std::string> lines)
{
    if (!fLoaded)
        return Refuse("the settings file " + fPath.string() + " could not be read and is not overwritten");
    std::string text;
    if (fBom)
        text += kBom;
    const std::string_view end = fCrlf ? "\r\n" : "\n";
    for (const std::string& line : lines) {
        text += line;
        text += end;
    }
    std::string error;
    if (!ReplaceFile(fPath, text, error))
        return Refuse(std::move(error));
    fLines = std::move(lines);
    return true;
}

} // namespace platform

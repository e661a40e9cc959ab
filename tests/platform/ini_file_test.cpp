// The settings file: exact file text after known writes, a hand-written file, floats, refused
// names, a failed write and the default location.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::IniFile;
using Names = std::vector<std::string>;

// A fresh folder in the temporary folder, removed with everything in it.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("velloray-ini-" + std::to_string(::getpid()));
    fs::path ini = path / "Velloray.ini";
    TempDir()
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    Names Entries() const
    {
        Names names;
        for (const auto& e : fs::directory_iterator(path))
            names.push_back(e.path().filename().string());
        return names;
    }
};

std::string ReadText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

TEST(IniFileText, KnownWritesGiveKnownBytes)
{
    TempDir dir;
    IniFile ini(dir.ini);
    EXPECT_TRUE(ini.WriteString("Persistent", "AutoSavePathDNG", "/home/a b/Photos"));
    EXPECT_TRUE(ini.WriteBool("Persistent", "AutoSaveDNG", true));
    EXPECT_TRUE(ini.WriteInteger("Other", "n", -42));
    EXPECT_TRUE(ini.WriteFloat("dead", "1", 1234.0567));
    EXPECT_TRUE(ini.WriteString("persistent", "autosavedng", "0")); // replaced in place, spelling kept
    EXPECT_TRUE(ini.WriteFloat("PERSISTENT", "f", 0.1));            // new key: end of its section
    EXPECT_TRUE(ini.DeleteKey("other", "N"));
    EXPECT_TRUE(ini.WriteString("Other", "  m ", "  padded value  "));
    EXPECT_EQ(ReadText(dir.ini), "[Persistent]\nAutoSavePathDNG=/home/a b/Photos\nAutoSaveDNG=0\nf=0.1\n"
                                 "[Other]\nm=padded value\n[dead]\n1=1234.0567\n");
    EXPECT_EQ(dir.Entries(), Names{"Velloray.ini"}); // no temporary file left behind
    EXPECT_TRUE(ini.EraseSection("OTHER"));
    EXPECT_TRUE(ini.EraseSection("missing"));
    EXPECT_EQ(ReadText(dir.ini), "[Persistent]\nAutoSavePathDNG=/home/a b/Photos\nAutoSaveDNG=0\nf=0.1\n"
                                 "[dead]\n1=1234.0567\n");
    IniFile again(dir.ini);
    EXPECT_EQ(again.ReadSection("persistent"), (Names{"AutoSavePathDNG", "AutoSaveDNG", "f"}));
    EXPECT_FALSE(again.ReadBool("Persistent", "AutoSaveDNG", true));
}

TEST(IniFileText, HandWrittenFileIsReadAndKept)
{
    TempDir dir;
    const std::string head = "\xEF\xBB\xBF; Velloray settings\r\nstray=before any section\r\n\r\n"
                             "  [ Persistent ]  trailing words\r\n";
    const std::string tail = "NIOn=0\r\na line without equals\r\n\r\n"
                             "[DEAD PIXELS CAMERA]\r\nABC123 = LEICA M (Typ 240)\r\n;  comment = no key\r\n=no name\r\n"
                             "[abc123]\r\n1=12.0003\r\nx=not a number\r\n1=99\r\n4=7\r\n[persistent]\r\nNIOn=1\r\n";
    WriteText(dir.ini, head + "  AutoSaveDNG =  1  \r\n" + tail.substr(0, tail.size() - 2)); // no last line end
    IniFile ini(dir.ini);
    EXPECT_EQ(ini.ReadSections(), (Names{"Persistent", "DEAD PIXELS CAMERA", "abc123"}));
    EXPECT_TRUE(ini.ReadBool("persistent", "autosavedng", false));
    EXPECT_EQ(ini.ReadString("PERSISTENT", "nion", "x"), "0"); // a repeated section is not looked at
    EXPECT_FALSE(ini.ValueExists("Persistent", "stray"));
    EXPECT_EQ(ini.ReadSection(" dead pixels camera "), Names{"ABC123"});
    EXPECT_EQ(ini.ReadString("dead pixels camera", "abc123", ""), "LEICA M (Typ 240)");
    EXPECT_EQ(ini.ReadSection("ABC123"), (Names{"1", "x", "4"}));
    EXPECT_EQ(ini.ReadFloat("abc123", "1", -1.0), 12.0003); // the first of two lines
    EXPECT_EQ(ini.ReadFloat("abc123", "x", -1.0), -1.0);
    EXPECT_EQ(ini.ReadInteger("abc123", "4", 0), 7);
    EXPECT_EQ(ini.ReadInteger("abc123", "1", -3), -3);
    // A write keeps every other line, the byte-order mark and the CRLF line ends.
    EXPECT_TRUE(ini.WriteString("persistent", "AUTOSAVEDNG", "0"));
    EXPECT_EQ(ReadText(dir.ini), head + "AutoSaveDNG=0\r\n" + tail);
    // Deleting a key removes each of its lines, so that no older line comes back.
    EXPECT_TRUE(ini.DeleteKey("abc123", "1"));
    EXPECT_FALSE(ini.ValueExists("abc123", "1"));
}

TEST(IniFileValues, FloatsReadBackExactly)
{
    TempDir dir;
    const double values[] = {0.0, 0.1, 12.0003, -1.0, 2.0 / 3.0, 4.9e-324, 1e21, std::numeric_limits<double>::max()};
    IniFile ini(dir.ini);
    for (size_t i = 0; i < std::size(values); ++i)
        ASSERT_TRUE(ini.WriteFloat("f", std::to_string(i), values[i]));
    EXPECT_FALSE(ini.WriteFloat("f", "bad", std::nan("")));
    EXPECT_FALSE(ini.WriteFloat("f", "bad", -std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(ini.WriteString("f", "foreign", "1,5"));
    IniFile again(dir.ini);
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(again.ReadFloat("f", std::to_string(i), -7.0), values[i]) << i;
    EXPECT_EQ(again.ReadString("f", "2", ""), "12.0003");
    EXPECT_FALSE(again.ValueExists("f", "bad"));
    EXPECT_EQ(again.ReadFloat("f", "foreign", -7.0), -7.0);
}

TEST(IniFileValues, NamesAndValuesThatWouldBreakTheFileAreRefused)
{
    TempDir dir;
    WriteText(dir.ini, "[s]\nk=v\n");
    IniFile ini(dir.ini);
    const std::string nul("a\0b", 3);
    for (const std::string& section : Names{"]", "a]b", "x\ny", "x\r", "", " \t", nul})
        EXPECT_FALSE(ini.WriteString(section, "k", "v")) << section;
    for (const std::string& key : Names{"a=b", "[k", " [k", ";k", "\t;k", "x\ny", "", " ", nul})
        EXPECT_FALSE(ini.WriteString("s", key, "v")) << key;
    for (const std::string& value : Names{"x\ny", "x\r", nul})
        EXPECT_FALSE(ini.WriteString("s", "k", value));
    EXPECT_FALSE(ini.LastError().empty());
    EXPECT_EQ(ReadText(dir.ini), "[s]\nk=v\n");
    // Odd text that reads back unchanged is taken.
    EXPECT_TRUE(ini.WriteString("a[b", "k]", "= ; [x] \"q\""));
    EXPECT_EQ(IniFile(dir.ini).ReadString("a[b", "k]", ""), "= ; [x] \"q\"");
}

// Runs f in a child process, as user "nobody" when asked and the tests run as root (root ignores
// folder modes); its exit code, 77 when the child could not be set up.
template <typename F>
int InChild(bool asNobody, F f)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(77);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(IniFileFailure, FailedWritesLeaveTheOldFile)
{
    TempDir dir;
    const std::string original = "[Persistent]\nAutoSaveDNG=1\n";
    WriteText(dir.ini, original);
    // The child's write is refused; it says so and keeps the old value in memory too.
    auto write = [&] {
        IniFile ini(dir.ini);
        const bool refused = !ini.WriteString("Persistent", "AutoSaveDNG", std::string(100, '0'));
        return refused && !ini.LastError().empty() && ini.ReadString("Persistent", "AutoSaveDNG", "") == "1" ? 0 : 1;
    };
    fs::permissions(dir.ini, fs::perms(0644));
    fs::permissions(dir.path, fs::perms(0555));
    const int readOnly = InChild(true, write);
    fs::permissions(dir.path, fs::perms(0755));
    // A file size limit stops the write part way, as a full disk would.
    const int diskFull = InChild(false, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20, RLIM_INFINITY};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? write() : 77;
    });
    EXPECT_TRUE(readOnly == 0 || readOnly == 77) << readOnly;
    EXPECT_TRUE(diskFull == 0 || diskFull == 77) << diskFull;
    EXPECT_EQ(ReadText(dir.ini), original);
    EXPECT_EQ(dir.Entries(), Names{"Velloray.ini"});
}

TEST(IniFileLocation, ConfigFolderIsMadeOrTheHomeFolderTaken)
{
    TempDir dir;
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    fs::create_directories(dir.path / "home");
    ::setenv("HOME", (dir.path / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir.path / "xdg").c_str(), 1);
    auto at = IniFile::DefaultLocation();
    EXPECT_EQ(at.file, dir.path / "xdg" / "velloray" / "Velloray.ini");
    EXPECT_TRUE(fs::is_directory(dir.path / "xdg" / "velloray"));
    EXPECT_FALSE(at.fellBack);
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored
    EXPECT_EQ(IniFile::DefaultLocation().file, dir.path / "home" / ".config" / "velloray" / "Velloray.ini");
    WriteText(dir.path / "blocker", ""); // a file where the folder should go
    ::setenv("XDG_CONFIG_HOME", (dir.path / "blocker").c_str(), 1);
    at = IniFile::DefaultLocation();
    EXPECT_EQ(at.file, dir.path / "home" / "Velloray.ini");
    EXPECT_TRUE(at.fellBack);
    EXPECT_FALSE(at.problem.empty());
    ::unsetenv("XDG_CONFIG_HOME");
    if (home)
        ::setenv("HOME", savedHome.c_str(), 1);
}

} // namespace

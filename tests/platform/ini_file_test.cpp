// The settings file: exact file text after known writes, a hand-written CRLF file, floats, refused
// names and failed writes.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
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

// A fresh folder for the settings file, removed with everything in it.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("velloray-ini-" + std::to_string(::getpid()));
    fs::path ini = path / "Velloray.ini";
    TempDir() { fs::remove_all(path); fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
    std::string Text() const
    {
        std::ifstream in(ini, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Write(const std::string& text) const { std::ofstream(ini, std::ios::binary) << text; }
    long Files() const { return std::distance(fs::directory_iterator(path), fs::directory_iterator()); }
};

TEST(IniFile, KnownWritesGiveKnownBytesAndFloatsReadBackExactly)
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
    EXPECT_EQ(dir.Text(), "[Persistent]\nAutoSavePathDNG=/home/a b/Photos\nAutoSaveDNG=0\nf=0.1\n"
                          "[Other]\nm=padded value\n[dead]\n1=1234.0567\n");
    EXPECT_EQ(dir.Files(), 1); // no temporary file left behind
    EXPECT_TRUE(ini.EraseSection("OTHER") && ini.EraseSection("missing"));

    // Floats read back exactly from the shortest text; no infinities or NaN; no comma decimals.
    const double values[] = {12.0003, -1.0, 2.0 / 3.0, 4.9e-324, std::numeric_limits<double>::max()};
    for (size_t i = 0; i < std::size(values); ++i)
        ASSERT_TRUE(ini.WriteFloat("f", std::to_string(i), values[i]));
    EXPECT_FALSE(ini.WriteFloat("f", "nan", std::nan("")) || ini.WriteFloat("f", "inf", -HUGE_VAL));
    EXPECT_TRUE(ini.WriteString("f", "comma", "1,5"));
    IniFile again(dir.ini);
    EXPECT_EQ(again.ReadSections(), (Names{"Persistent", "dead", "f"}));
    EXPECT_EQ(again.ReadSection("f"), (Names{"0", "1", "2", "3", "4", "comma"}));
    EXPECT_FALSE(again.ReadBool("Persistent", "AutoSaveDNG", true));
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(again.ReadFloat("f", std::to_string(i), -7.0), values[i]) << i;
    EXPECT_EQ(again.ReadString("f", "0", ""), "12.0003");
    EXPECT_EQ(again.ReadFloat("f", "comma", -7.0), -7.0);
}

TEST(IniFile, HandWrittenCrlfFileIsReadAndKept)
{
    TempDir dir;
    const std::string head = "\xEF\xBB\xBF; Velloray settings\r\nstray=before any section\r\n\r\n"
                             "  [ Persistent ]  trailing words\r\n";
    const std::string tail = "NIOn=0\r\na line without equals\r\n\r\n"
                             "[DEAD PIXELS CAMERA]\r\nABC123 = LEICA M (Typ 240)\r\n;  comment = no key\r\n=no name\r\n"
                             "[abc123]\r\n1=12.0003\r\nx=not a number\r\n1=99\r\n4=7\r\n[persistent]\r\nNIOn=1\r\n";
    dir.Write(head + "  AutoSaveDNG =  1  \r\n" + tail.substr(0, tail.size() - 2)); // no last line end
    IniFile ini(dir.ini);
    EXPECT_EQ(ini.ReadSections(), (Names{"Persistent", "DEAD PIXELS CAMERA", "abc123"}));
    EXPECT_TRUE(ini.ReadBool("persistent", "autosavedng", false));
    EXPECT_EQ(ini.ReadString("PERSISTENT", "nion", "x"), "0"); // a repeated section is not looked at
    EXPECT_FALSE(ini.ValueExists("Persistent", "stray"));
    EXPECT_EQ(ini.ReadSection(" dead pixels camera "), Names{"ABC123"});
    EXPECT_EQ(ini.ReadString("dead pixels camera", "abc123", ""), "LEICA M (Typ 240)");
    EXPECT_EQ(ini.ReadSection("ABC123"), (Names{"1", "x", "4"})); // keys with gaps, each once
    EXPECT_EQ(ini.ReadFloat("abc123", "1", -1.0), 12.0003);        // the first of two lines
    EXPECT_EQ(ini.ReadFloat("abc123", "x", -1.0), -1.0);
    EXPECT_EQ(ini.ReadInteger("abc123", "4", 0), 7);
    EXPECT_EQ(ini.ReadInteger("abc123", "1", -3), -3);
    // A write keeps every other line, the byte-order mark and the CRLF line ends; deleting a key
    // removes each of its lines, so that no older line comes back.
    EXPECT_TRUE(ini.WriteString("persistent", "AUTOSAVEDNG", "0"));
    EXPECT_EQ(dir.Text(), head + "AutoSaveDNG=0\r\n" + tail);
    EXPECT_TRUE(ini.DeleteKey("abc123", "1"));
    EXPECT_FALSE(ini.ValueExists("abc123", "1"));
}

TEST(IniFile, NamesAndValuesThatWouldBreakTheFileAreRefused)
{
    TempDir dir;
    dir.Write("[s]\nk=v\n");
    IniFile ini(dir.ini);
    const std::string nul("a\0b", 3);
    for (const std::string& section : Names{"]", "a]b", "x\ny", "x\r", "", " \t", nul})
        EXPECT_FALSE(ini.WriteString(section, "k", "v")) << section;
    for (const std::string& key : Names{"a=b", "[k", " [k", ";k", "\t;k", "x\ny", "", " ", nul})
        EXPECT_FALSE(ini.WriteString("s", key, "v")) << key;
    for (const std::string& value : Names{"x\ny", "x\r", nul})
        EXPECT_FALSE(ini.WriteString("s", "k", value));
    EXPECT_FALSE(ini.LastError().empty());
    EXPECT_EQ(dir.Text(), "[s]\nk=v\n");
    EXPECT_TRUE(ini.WriteString("a[b", "k]", "= ; [x] \"q\"")); // odd text that reads back unchanged
    EXPECT_EQ(IniFile(dir.ini).ReadString("a[b", "k]", ""), "= ; [x] \"q\"");
}

// A write refused in a child process (as user "nobody" in a read-only folder, where the tests run
// as root; under a file size limit, as on a full disk) says so, keeps the old value in memory and
// leaves the old file and no temporary one. Exit code 77: the child could not be set up.
TEST(IniFile, FailedWritesLeaveTheOldFile)
{
    TempDir dir;
    const std::string original = "[Persistent]\nAutoSaveDNG=1\n";
    dir.Write(original);
    fs::permissions(dir.ini, fs::perms(0644));
    for (bool readOnly : {true, false}) {
        fs::permissions(dir.path, fs::perms(readOnly ? 0555 : 0755));
        const pid_t pid = ::fork();
        if (pid == 0) {
            const rlimit limit{20, RLIM_INFINITY};
            std::signal(SIGXFSZ, SIG_IGN);
            if (readOnly ? ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)
                         : ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(77);
            IniFile ini(dir.ini);
            const bool refused = !ini.WriteString("Persistent", "AutoSaveDNG", std::string(100, '0'));
            ::_exit(refused && !ini.LastError().empty() && ini.ReadString("Persistent", "AutoSaveDNG", "") == "1" ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        fs::permissions(dir.path, fs::perms(0755));
        EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 77)) << status;
        EXPECT_EQ(dir.Text(), original);
        EXPECT_EQ(dir.Files(), 1);
    }
}

} // namespace

// The shared helpers of src/base: the atomic replacement of a file (killed writes leave nothing
// for long), trimming, case-insensitive comparison, same-file tests.
#include "base/atomic_file.h"
#include "base/same_file.h"
#include "base/text.h"

#include "fixtures/temp_file.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

struct Folder {
    fs::path path = fs::temp_directory_path() / ("velloray-base-" + std::to_string(::getpid()));
    Folder() { fs::remove_all(path), fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
    std::vector<std::string> Files() const { return fixtures::SortedFileNames(path); }
};

std::string Contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A child process that writes half a file and dies before the rename, as a killed program would.
void KilledWrite(const fs::path& target, bool unnamed)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        base::AtomicFile out(target, unnamed);
        out.Write("partial");
        ::_exit(0); // no destructor runs
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

TEST(AtomicFile, ReplacesWholeAndAKilledWriteLeavesNothingForLong)
{
    Folder dir;
    const fs::path target = dir.path / "x.ini";
    for (bool unnamed : {true, false}) {
        std::ofstream(target) << "old";
        KilledWrite(target, unnamed);
        EXPECT_EQ(Contents(target), "old");
        // An unnamed file vanishes with its process; a named one is removed by the next write.
        EXPECT_EQ(dir.Files().size(), unnamed ? 1u : 2u);
        {
            base::AtomicFile abandoned(target, unnamed);
            abandoned.Write("never");
        }
        EXPECT_EQ(dir.Files(), std::vector<std::string>{"x.ini"});
        base::AtomicFile out(target, unnamed);
        out.Write("new");
        out.Commit();
        EXPECT_EQ(Contents(target), "new");
        EXPECT_EQ(dir.Files(), std::vector<std::string>{"x.ini"});
    }
    // Another file's temporaries and a running process's are left alone.
    const std::string running = base::AtomicFile::TemporaryPrefix(target) + std::to_string(::getppid()) + "-1.tmp";
    std::ofstream(dir.path / running) << "";
    std::ofstream(dir.path / ".y.ini.99999999-1.tmp") << "";
    base::AtomicFile(target).Commit();
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{running, ".y.ini.99999999-1.tmp", "x.ini"}));
    // Failures name the file and the reason.
    try {
        base::AtomicFile(dir.path / "missing" / "z.dng");
        ADD_FAILURE();
    } catch (const base::FileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/z.dng: No such file or directory"), std::string::npos) << e.what();
    }
}

TEST(BaseText, TrimsBlanksAndComparesWithoutCase)
{
    EXPECT_EQ(base::Trim(" \t Nikon D800 \r\n"), "Nikon D800");
    EXPECT_EQ(base::Trim("   "), "");
    EXPECT_EQ(base::Trimmed("a b"), "a b");
    EXPECT_TRUE(base::EqualsIgnoringCase("Dead Pixels", "dEAD pIXELS"));
    EXPECT_FALSE(base::EqualsIgnoringCase("abc", "abd"));
    EXPECT_FALSE(base::EqualsIgnoringCase("\xC4", "\xE4")); // ASCII letters only
    EXPECT_EQ(base::LowerAscii("IMG_01.DNG"), "img_01.dng");
}

TEST(BaseSameFile, SeesLinksAndOtherSpellings)
{
    Folder dir;
    const fs::path a = dir.path / "a.dng";
    std::ofstream(a) << "x";
    fs::create_symlink(a, dir.path / "link.dng");
    fs::create_hard_link(a, dir.path / "hard.dng");
    for (const fs::path& b : {dir.path / "link.dng", dir.path / "hard.dng", dir.path / "." / "a.dng"})
        EXPECT_TRUE(base::IsSameFile(a, b)) << b;
    EXPECT_FALSE(base::IsSameFile(a, dir.path / "new.dng"));
    EXPECT_TRUE(base::IsSameFile(dir.path / "new.dng", dir.path / "sub" / ".." / "new.dng"));
}

} // namespace

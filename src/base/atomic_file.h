// Replaces a file as a whole or not at all.
//
// The new contents go to a temporary file in the target's folder: where the file system allows
// it an unnamed one (O_TMPFILE), which nothing can see and which vanishes with the process if it
// is killed; otherwise a hidden file ".NAME.PID-RANDOM.tmp". Commit() syncs the data, gives the
// file the permissions of the file it replaces, names it (an unnamed file gets a hidden name for
// the moment of the rename) and renames it over the target, then syncs the folder. Until then
// the target is untouched; an AtomicFile destroyed without Commit() leaves nothing behind.
//
// A write killed between naming and renaming leaves its hidden file; the next AtomicFile of the
// same target removes such files of processes that no longer run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>

namespace base {

// A failure to create, write or name the file: the text says what failed, with the target's path
// and the system's reason ("cannot write /a/b.dng: No space left on device").
class FileError : public std::runtime_error {
public:
    FileError(const std::string& what, const std::filesystem::path& path, int error);
    int SystemError() const noexcept { return fError; }

private:
    int fError;
};

class AtomicFile {
public:
    // unnamed false always uses a named temporary file (for tests of that way).
    explicit AtomicFile(const std::filesystem::path& target, bool unnamed = true);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(std::span<const uint8_t> bytes);
    void Write(std::string_view text) { Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())); }
    void Commit();

    // The hidden name prefix of this target's temporary files: ".NAME." (NAME cut to 200 bytes).
    static std::string TemporaryPrefix(const std::filesystem::path& target);

private:
    void OpenNamed();
    void RemoveStaleTemporaries() const;

    std::filesystem::path fTarget;
    std::filesystem::path fFolder;
    std::filesystem::path fNamed; // the named temporary file, while there is one
    int fFd = -1;
};

} // namespace base

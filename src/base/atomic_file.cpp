#include "atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>
#include <utility>

namespace base {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSuffix = ".tmp";

// "PID-RANDOM.tmp" after the prefix: the pid of the process that made the file.
std::string TemporaryTail()
{
    std::random_device seed;
    const uint64_t random = (uint64_t(seed()) << 32) ^ seed();
    char tail[64];
    std::snprintf(tail, sizeof tail, "%ld-%016llx.tmp", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(random));
    return tail;
}

// The pid a temporary file name of this target carries, or 0 when the name is not one.
pid_t OwnerOf(std::string_view name, std::string_view prefix)
{
    if (name.size() <= prefix.size() + kSuffix.size() || !name.starts_with(prefix) || !name.ends_with(kSuffix))
        return 0;
    const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
    long pid = 0;
    const auto [end, ec] = std::from_chars(middle.data(), middle.data() + middle.size(), pid);
    if (ec != std::errc() || end == middle.data() || *end != '-' || pid <= 0)
        return 0;
    return static_cast<pid_t>(pid);
}

bool IsRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

} // namespace

FileError::FileError(const std::string& what, const fs::path& path, int error)
    : std::runtime_error(what + " " + path.string() + ": " + std::strerror(error)), fError(error)
{
}

std::string AtomicFile::TemporaryPrefix(const fs::path& target)
{
    std::string base = target.filename().string();
    base.resize(std::min<size_t>(base.size(), 200)); // room for the tail within a name's limit
    return "." + base + ".";
}

AtomicFile::AtomicFile(const fs::path& target, bool unnamed)
    : fTarget(target), fFolder(target.has_parent_path() ? target.parent_path() : fs::path("."))
{
    RemoveStaleTemporaries();
    if (unnamed && ::access("/proc/self/fd", X_OK) == 0) {
        fFd = ::open(fFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fFd >= 0)
            return;
        // Kernels and file systems without unnamed files say so in one of these ways.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            throw FileError("cannot create a file in the folder of", fTarget, errno);
    }
    OpenNamed();
}

AtomicFile::~AtomicFile()
{
    if (fFd >= 0)
        ::close(fFd);
    if (!fNamed.empty())
        ::unlink(fNamed.c_str());
}

void AtomicFile::OpenNamed()
{
    const std::string prefix = TemporaryPrefix(fTarget);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = fFolder / (prefix + TemporaryTail());
        fFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fFd >= 0) {
            fNamed = path;
            return;
        }
        if (errno != EEXIST)
            throw FileError("cannot create a file in the folder of", fTarget, errno);
    }
    throw FileError("cannot create a temporary file beside", fTarget, EEXIST);
}

void AtomicFile::RemoveStaleTemporaries() const
{
    const std::string prefix = TemporaryPrefix(fTarget);
    std::error_code ec;
    for (fs::directory_iterator it(fFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const pid_t owner = OwnerOf(name, prefix);
        if (owner != 0 && owner != ::getpid() && !IsRunning(owner))
            ::unlink(it->path().c_str());
    }
}

void AtomicFile::Write(std::span<const uint8_t> bytes)
{
    if (fFd < 0)
        throw FileError("cannot write", fTarget, EBADF);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fFd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw FileError("cannot write", fTarget, n < 0 ? errno : EIO);
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
}

void AtomicFile::Commit()
{
    if (fFd < 0)
        throw FileError("cannot write", fTarget, EBADF);
    // The new file keeps the permissions of the one it replaces (the user may have narrowed them).
    struct stat old{};
    if (::stat(fTarget.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fFd, old.st_mode & 07777);
    if (::fsync(fFd) != 0)
        throw FileError("cannot write", fTarget, errno);
    if (fNamed.empty()) {
        // An unnamed file gets a hidden name only for the rename: a link cannot replace a file.
        const std::string self = "/proc/self/fd/" + std::to_string(fFd);
        const std::string prefix = TemporaryPrefix(fTarget);
        for (int attempt = 0; attempt < 100 && fNamed.empty(); ++attempt) {
            const fs::path path = fFolder / (prefix + TemporaryTail());
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
                fNamed = path;
            else if (errno != EEXIST)
                throw FileError("cannot write", fTarget, errno);
        }
        if (fNamed.empty())
            throw FileError("cannot name the new file", fTarget, EEXIST);
    }
    if (::close(std::exchange(fFd, -1)) != 0)
        throw FileError("cannot write", fTarget, errno);
    if (::rename(fNamed.c_str(), fTarget.c_str()) != 0)
        throw FileError("cannot replace", fTarget, errno);
    fNamed.clear();
    // Makes the rename itself durable; a folder that cannot be synced changes nothing done.
    if (const int dir = ::open(fFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

} // namespace base

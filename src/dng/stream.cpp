#include "stream.h"

#include "error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dng {

void Stream::Read(uint64_t offset, std::span<uint8_t> dst) const
{
    if (!InRange(offset, dst.size()))
        throw Error(kErrorEndOfFile, "read past the end of the file");
    if (!dst.empty())
        DoRead(offset, dst);
}

std::vector<uint8_t> Stream::ReadBytes(uint64_t offset, uint64_t count) const
{
    if (!InRange(offset, count))
        throw Error(kErrorEndOfFile, "read past the end of the file");
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        ThrowMemory("out of memory reading the file");
    }
    Read(offset, bytes);
    return bytes;
}

FileStream::FileStream(const std::string& path)
{
    fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fFd < 0)
        throw Error(kErrorOpenFile, "cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fFd);
        fFd = -1;
        throw Error(kErrorOpenFile, "not a regular file: " + path);
    }
    fLength = static_cast<uint64_t>(st.st_size);
}

FileStream::~FileStream()
{
    if (fFd >= 0)
        ::close(fFd);
}

void FileStream::DoRead(uint64_t offset, std::span<uint8_t> dst) const
{
    size_t done = 0;
    while (done < dst.size()) {
        ssize_t got = ::pread(fFd, dst.data() + done, dst.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Error(kErrorReadFile, std::string("read error: ") + std::strerror(errno));
        if (got == 0)
            throw Error(kErrorEndOfFile, "the file ended early");
        done += static_cast<size_t>(got);
    }
}

void MemoryStream::DoRead(uint64_t offset, std::span<uint8_t> dst) const
{
    std::memcpy(dst.data(), fBytes.data() + offset, dst.size());
}

} // namespace dng

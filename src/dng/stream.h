// Random-access input: a file read on demand (so that a large raw file never sits in memory
// whole) or a block of bytes in memory (tests, fuzzing). Every read is range-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dng {

class Stream {
public:
    virtual ~Stream() = default;
    virtual uint64_t Length() const = 0;
    // Reads exactly dst.size() bytes at offset; throws kErrorEndOfFile when they are not all there.
    void Read(uint64_t offset, std::span<uint8_t> dst) const;
    std::vector<uint8_t> ReadBytes(uint64_t offset, uint64_t count) const;
    bool InRange(uint64_t offset, uint64_t count) const { return offset <= Length() && count <= Length() - offset; }

protected:
    virtual void DoRead(uint64_t offset, std::span<uint8_t> dst) const = 0;
};

class FileStream final : public Stream {
public:
    // Opens a file for reading; a UTF-8 path of this system. Throws kErrorOpenFile.
    explicit FileStream(const std::string& path);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;
    uint64_t Length() const override { return fLength; }

private:
    void DoRead(uint64_t offset, std::span<uint8_t> dst) const override;
    int fFd = -1;
    uint64_t fLength = 0;
};

class MemoryStream final : public Stream {
public:
    // Does not copy: the bytes must outlive the stream.
    explicit MemoryStream(std::span<const uint8_t> bytes) : fBytes(bytes) {}
    uint64_t Length() const override { return fBytes.size(); }

private:
    void DoRead(uint64_t offset, std::span<uint8_t> dst) const override;
    std::span<const uint8_t> fBytes;
};

} // namespace dng

// The one exception type of the DNG layer: every failure carries a numeric code.
#pragma once

#include <stdexcept>
#include <string>

namespace dng {

enum ErrorCode : int {
    kErrorUnknown = 100000,
    kErrorNotYetImplemented = 100001,
    kErrorUserCanceled = 100003,
    kErrorMemory = 100005,
    kErrorBadFormat = 100006,
    kErrorOpenFile = 100008,
    kErrorReadFile = 100009,
    kErrorWriteFile = 100010,
    kErrorEndOfFile = 100011,
    kErrorFileIsDamaged = 100012,
    kErrorImageTooBig = 100013,
    kErrorMatrixMath = 100007,
};

class Error : public std::runtime_error {
public:
    Error(int code, const std::string& what) : std::runtime_error(what), fCode(code) {}
    int Code() const noexcept { return fCode; }

private:
    int fCode;
};

[[noreturn]] inline void ThrowBadFormat(const std::string& what) { throw Error(kErrorBadFormat, what); }
[[noreturn]] inline void ThrowMemory(const std::string& what) { throw Error(kErrorMemory, what); }

} // namespace dng

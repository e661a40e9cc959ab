// The EXIF fields the program reads: camera identity and the capture fields.
#pragma once

#include "rational.h"

#include <cstdint>
#include <string>

namespace dng {

struct ExifInfo {
    std::string make;            // IFD0 271
    std::string model;           // IFD0 272
    std::string software;        // IFD0 305
    std::string dateTime;        // IFD0 306
    std::string artist;          // IFD0 315
    std::string copyright;       // IFD0 33432
    // Body serial number: EXIF BodySerialNumber (0xA431), else the DNG CameraSerialNumber tag.
    std::string cameraSerialNumber;
    std::string dateTimeOriginal;  // 0x9003
    std::string dateTimeDigitized; // 0x9004
    URational exposureTime;        // 0x829A
    URational fNumber;             // 0x829D
    uint32_t exposureProgram = 0;  // 0x8822
    uint32_t isoSpeed = 0;         // 0x8827 (first value)
    SRational exposureBias;        // 0x9204
    URational maxAperture;         // 0x9205
    uint32_t meteringMode = 0;     // 0x9207
    uint32_t flash = 0;            // 0x9209
    URational focalLength;         // 0x920A
    std::string lensMake;          // 0xA433
    std::string lensModel;         // 0xA434
    std::string lensSerialNumber;  // 0xA435
};

} // namespace dng

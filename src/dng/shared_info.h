// The DNG fields shared by the whole file (IFD0): version, camera model, colour, identity.
#pragma once

#include "rational.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dng {

struct SharedInfo {
    std::array<uint8_t, 4> dngVersion{};         // all 0 when absent
    std::array<uint8_t, 4> dngBackwardVersion{};
    std::string uniqueCameraModel;
    std::string localizedCameraModel;
    std::string cameraSerialNumber;              // tag 50735

    uint32_t orientation = 1;

    // Colour (row-major; empty when absent). CP x 3, CP x CP, 3 x CP.
    std::vector<SRational> colorMatrix1, colorMatrix2;
    std::vector<SRational> cameraCalibration1, cameraCalibration2;
    std::vector<SRational> forwardMatrix1, forwardMatrix2;
    std::vector<SRational> reductionMatrix1, reductionMatrix2;
    uint32_t calibrationIlluminant1 = 0;
    uint32_t calibrationIlluminant2 = 0;
    std::string cameraCalibrationSignature;
    std::string profileCalibrationSignature;
    std::vector<URational> analogBalance;
    std::vector<URational> asShotNeutral;
    bool hasAsShotWhiteXY = false;
    URational asShotWhiteX, asShotWhiteY;

    SRational baselineExposure{0, 1};
    URational baselineNoise{1, 1};
    URational baselineSharpness{1, 1};
    URational linearResponseLimit{1, 1};
    URational shadowScale{1, 1};

    // The camera profile's tone curve (tag 50940, FLOAT x, y pairs), kept only when it is a valid
    // curve (ToneCurve::FromValues); empty otherwise.
    std::vector<double> profileToneCurve;
    // Tag 50879: 0 when the raw values are scene-referred (also when absent or malformed), other
    // values for output-referred data.
    uint32_t colorimetricReference = 0;

    std::optional<std::array<uint8_t, 16>> rawDataUniqueID;
    std::optional<std::array<uint8_t, 16>> rawImageDigest;    // tag 50972
    std::optional<std::array<uint8_t, 16>> newRawImageDigest; // tag 51111
    std::string originalRawFileName;
    uint32_t makerNoteSafety = 0;

    std::vector<uint8_t> xmp;                    // tag 700, kept as stored, never parsed

    // The number of colour planes the colour tags describe: ColorMatrix1 count / 3, or 1 without it.
    uint32_t ColorPlanes() const { return colorMatrix1.empty() ? 1 : static_cast<uint32_t>(colorMatrix1.size() / 3); }
    bool HasVersion() const { return dngVersion[0] != 0; }
};

} // namespace dng

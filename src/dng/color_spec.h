// The colour specification of a negative: the camera's matrices interpolated for a white point,
// conversion of a camera neutral to a white point and back, and the camera-to-XYZ(D50) matrix.
#pragma once

#include "matrix.h"
#include "xy_coord.h"

#include <cstdint>

namespace dng {

// What a ColorSpec is made from; matrices already converted to doubles. Empty matrices are absent.
struct ColorProfileData {
    uint32_t channels = 0;               // colour planes (CP)
    Matrix colorMatrix1, colorMatrix2;   // CP x 3
    Matrix cameraCalibration1, cameraCalibration2; // CP x CP (used only when the signatures match)
    Matrix forwardMatrix1, forwardMatrix2;         // 3 x CP
    Matrix reductionMatrix1, reductionMatrix2;     // 3 x CP
    uint32_t calibrationIlluminant1 = 0;
    uint32_t calibrationIlluminant2 = 0;
    Vector analogBalance;                // CP entries or empty (= all 1)
    bool calibrationSignaturesMatch = true;
};

class ColorSpec {
public:
    // Throws kErrorBadFormat for channels other than 1..4 or matrices of the wrong size.
    explicit ColorSpec(const ColorProfileData& data);

    uint32_t Channels() const { return fChannels; }
    // The white point of a camera neutral (iterated, as the matrix depends on the white point).
    XYCoord NeutralToXY(const Vector& neutral) const;
    void SetWhiteXY(const XYCoord& white);
    XYCoord WhiteXY() const { return fWhiteXY; }
    // The camera neutral of the current white point: largest entry 1, each entry in [0.001, 1].
    Vector CameraWhite() const { return fCameraWhite; }
    // Camera values (white balanced by the current white) to XYZ with a D50 white.
    Matrix CameraToPCS() const { return fCameraToPCS; }

private:
    Matrix FindXYZtoCamera(const XYCoord& white, Matrix* forwardMatrix = nullptr) const;

    ColorProfileData fData;
    uint32_t fChannels = 0;
    double fTemperature1 = 0.0;
    double fTemperature2 = 0.0;
    XYCoord fWhiteXY;
    Vector fCameraWhite;
    Matrix fCameraToPCS;
};

} // namespace dng

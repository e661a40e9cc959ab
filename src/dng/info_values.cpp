// The values of a DNG that readers check beyond its structure, and that a conversion computes with
// or carries into the file it writes. A file that breaks one of them is damaged: converting it
// would give a wrong result or a file that DNG readers refuse.
#include "info.h"

#include "error.h"
#include "matrix.h"
#include "opcode_limits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace dng {

namespace {

constexpr uint32_t kMaxColorCode = 6; // R G B C M Y W
// The largest side an image may have once scaled (DefaultScale, then BestQualityScale): the side
// limit of readers built for large images, above what any camera needs (scales of 2 and 2 on
// 65000 pixels), far below where a reader's integer sizes overflow.
constexpr double kMaxScaledSide = 300000.0;
constexpr double kMaxSample = 65535.0;
// Black levels that vary by row or column: the factor from the black-to-white range to 65535 stays
// under this, so the range is at least kMinBlackToWhite.
constexpr double kMaxBlackScale = 128.0;
constexpr int kMinBlackToWhite = 512;

template <typename R>
bool AllValid(const std::vector<R>& values)
{
    return std::all_of(values.begin(), values.end(), [](const R& r) { return r.IsValid(); });
}

std::string Text(URational r)
{
    return std::to_string(r.n) + "/" + std::to_string(r.d);
}

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// A zero denominator is no number at all; every rational the conversion reads must have none. Values
// the written file carries must also be numbers that readers can hold.
std::string SharedProblem(const SharedInfo& s)
{
    const std::pair<const char*, const std::vector<SRational>*> matrices[] = {
        {"ColorMatrix1", &s.colorMatrix1},         {"ColorMatrix2", &s.colorMatrix2},
        {"CameraCalibration1", &s.cameraCalibration1}, {"CameraCalibration2", &s.cameraCalibration2},
        {"ForwardMatrix1", &s.forwardMatrix1},     {"ForwardMatrix2", &s.forwardMatrix2},
        {"ReductionMatrix1", &s.reductionMatrix1}, {"ReductionMatrix2", &s.reductionMatrix2},
    };
    for (const auto& [name, values] : matrices)
        if (!AllValid(*values))
            return std::string(name) + " has a zero denominator";
    const std::pair<const char*, bool> others[] = {
        {"AnalogBalance", AllValid(s.analogBalance)},
        {"AsShotNeutral", AllValid(s.asShotNeutral)},
        {"AsShotWhiteXY", !s.hasAsShotWhiteXY || (s.asShotWhiteX.IsValid() && s.asShotWhiteY.IsValid())},
        {"BaselineExposure", s.baselineExposure.IsValid()},
        {"BaselineNoise", s.baselineNoise.IsValid()},
        {"BaselineSharpness", s.baselineSharpness.IsValid()},
        {"LinearResponseLimit", s.linearResponseLimit.IsValid()},
        {"ShadowScale", s.shadowScale.IsValid()},
    };
    for (const auto& [name, valid] : others)
        if (!valid)
            return std::string(name) + " has a zero denominator";
    // Readers keep these in hundredths, as 32-bit integers (BaselineExposure signed, the others
    // unsigned): a value past that overflows them.
    if (const double v = s.baselineExposure.As_real64() * 100.0; !(v > -2147483648.5 && v < 2147483647.5))
        return "BaselineExposure (" + Number(s.baselineExposure.As_real64()) + ") is larger than readers take";
    const std::pair<const char*, URational> hundredths[] = {{"BaselineNoise", s.baselineNoise},
                                                            {"BaselineSharpness", s.baselineSharpness}};
    for (const auto& [name, value] : hundredths)
        if (value.As_real64() * 100.0 >= 4294967296.0)
            return std::string(name) + " (" + Number(value.As_real64()) + ") is larger than readers take";
    return {};
}

// The colour matrices take camera values to XYZ and back, so each one is inverted on the way (a
// matrix that is not square through its pseudo-inverse): one that cannot be describes no colour
// transform at all. Only matrices whose value count fits the colour planes are used; the others are
// ignored, and so are they here.
std::string MatrixProblem(const SharedInfo& s, uint32_t planes)
{
    if (planes < 2 || planes > Matrix::kMax)
        return {};
    const struct {
        const char* name;
        const std::vector<SRational>& values;
        uint32_t rows, cols;
    } matrices[] = {
        {"ColorMatrix1", s.colorMatrix1, planes, 3},          {"ColorMatrix2", s.colorMatrix2, planes, 3},
        {"CameraCalibration1", s.cameraCalibration1, planes, planes},
        {"CameraCalibration2", s.cameraCalibration2, planes, planes},
        {"ForwardMatrix1", s.forwardMatrix1, 3, planes},      {"ForwardMatrix2", s.forwardMatrix2, 3, planes},
        {"ReductionMatrix1", s.reductionMatrix1, 3, planes},  {"ReductionMatrix2", s.reductionMatrix2, 3, planes},
    };
    for (const auto& m : matrices) {
        const Matrix matrix = MatrixFromRationals(m.values, m.rows, m.cols);
        if (matrix.IsEmpty())
            continue;
        try {
            Invert(matrix);
        } catch (const Error&) {
            return std::string(m.name) + " cannot be inverted";
        }
    }
    return {};
}

uint32_t ColourPlanes(const IfdInfo& m)
{
    return m.photometric == kPhotometricCFA ? static_cast<uint32_t>(m.cfaPlaneColor.size()) : m.samplesPerPixel;
}

// The colours of a colour filter pattern: known codes, each one of the file's colour planes, and
// every plane's colour present (a pattern without blue photosites has no blue to interpolate).
std::string PatternProblem(const IfdInfo& m)
{
    if (m.photometric != kPhotometricCFA)
        return {};
    for (uint32_t r = 0; r < m.cfaRepeatRows; ++r)
        for (uint32_t c = 0; c < m.cfaRepeatCols; ++c) {
            const uint8_t colour = m.cfaPattern[r][c];
            if (colour > kMaxColorCode)
                return "unknown colour in the colour filter pattern";
            if (std::find(m.cfaPlaneColor.begin(), m.cfaPlaneColor.end(), colour) == m.cfaPlaneColor.end())
                return "the colour filter pattern names colour " + std::to_string(colour) +
                       ", which is none of the file's colour planes";
        }
    for (const uint8_t colour : m.cfaPlaneColor) {
        bool found = false;
        for (uint32_t r = 0; r < m.cfaRepeatRows && !found; ++r)
            for (uint32_t c = 0; c < m.cfaRepeatCols && !found; ++c)
                found = m.cfaPattern[r][c] == colour;
        if (!found)
            return "the colour filter pattern does not contain all the colours (colour " + std::to_string(colour) +
                   " is missing)";
    }
    return {};
}

std::string OutsideSample(const char* tag, size_t entry, double value)
{
    return std::string(tag) + " entry " + std::to_string(entry) + " (" + Number(value) +
           ") is outside what a 16-bit sample can hold";
}

// The black levels as readers take them: every level and delta within what a 16-bit sample can
// hold; and where the black level varies from row to row or column to column (deltas), readers
// scale each row's and column's black level to 16 bits in 32-bit fixed point with 24 fraction
// bits, so the factor from the black-to-white range to 65535 must stay under 128 (the white level
// at least 512 above the largest black level: at 511.5 readers overflow). With that factor, deltas
// within 16 bits also stay within the 23 integer bits that readers give a scaled delta.
std::string LevelProblem(const IfdInfo& m)
{
    const uint32_t planes = std::min(m.samplesPerPixel, kMaxSamplesPerPixel);
    for (uint32_t r = 0; r < m.blackLevelRepeatRows; ++r)
        for (uint32_t c = 0; c < m.blackLevelRepeatCols; ++c)
            for (uint32_t s = 0; s < planes; ++s)
                if (!m.blackLevel[r][c][s].IsValid())
                    return "BlackLevel has a zero denominator";
    if (!AllValid(m.blackLevelDeltaH))
        return "BlackLevelDeltaH has a zero denominator";
    if (!AllValid(m.blackLevelDeltaV))
        return "BlackLevelDeltaV has a zero denominator";

    for (uint32_t r = 0; r < m.blackLevelRepeatRows; ++r)
        for (uint32_t c = 0; c < m.blackLevelRepeatCols; ++c)
            for (uint32_t s = 0; s < planes; ++s)
                if (const double v = m.blackLevel[r][c][s].As_real64(); v > kMaxSample)
                    return OutsideSample("BlackLevel", (r * m.blackLevelRepeatCols + c) * planes + s, v);
    const std::pair<const char*, const std::vector<SRational>*> deltas[] = {
        {"BlackLevelDeltaH", &m.blackLevelDeltaH}, {"BlackLevelDeltaV", &m.blackLevelDeltaV}};
    double largestDeltas = 0.0; // the largest delta of each list, added up
    for (const auto& [name, values] : deltas) {
        for (size_t i = 0; i < values->size(); ++i)
            if (const double v = (*values)[i].As_real64(); std::fabs(v) > kMaxSample)
                return OutsideSample(name, i, v);
        if (!values->empty())
            largestDeltas += std::max_element(values->begin(), values->end(), [](SRational a, SRational b) {
                                 return a.As_real64() < b.As_real64();
                             })->As_real64();
    }
    if (m.blackLevelDeltaH.empty() && m.blackLevelDeltaV.empty())
        return {};
    for (uint32_t s = 0; s < planes; ++s) {
        double black = 0.0;
        for (uint32_t r = 0; r < m.blackLevelRepeatRows; ++r)
            for (uint32_t c = 0; c < m.blackLevelRepeatCols; ++c)
                black = std::max(black, m.blackLevel[r][c][s].As_real64());
        black += largestDeltas;
        const double white = !m.hasWhiteLevel && !m.linearizationTable.empty()
                                 ? *std::max_element(m.linearizationTable.begin(), m.linearizationTable.end())
                                 : double(m.whiteLevel[s]);
        if ((white - black) * kMaxBlackScale <= kMaxSample)
            return "WhiteLevel " + Number(white) + " lies less than " + std::to_string(kMinBlackToWhite) +
                   " above the largest black level (" + Number(black) +
                   ", with BlackLevelDeltaH/V): readers cannot scale its rows and columns to 16 bits";
    }
    return {};
}

// The factor a scale stands for: a zero is out of range and read as 1, as readers do.
double Factor(URational r)
{
    return r.n == 0 ? 1.0 : r.As_real64();
}

// DefaultScale, BestQualityScale and the default crop: numbers, and sizes that stay sane once scaled.
std::string ScaleProblem(const IfdInfo& m)
{
    if (!m.defaultScaleH.IsValid() || !m.defaultScaleV.IsValid())
        return "DefaultScale has a zero denominator";
    if (!m.bestQualityScale.IsValid())
        return "BestQualityScale has a zero denominator";
    if (m.hasDefaultCrop && (!m.defaultCropOriginH.IsValid() || !m.defaultCropOriginV.IsValid() ||
                             !m.defaultCropSizeH.IsValid() || !m.defaultCropSizeV.IsValid()))
        return "the default crop has a zero denominator";

    const double scaleH = Factor(m.defaultScaleH), scaleV = Factor(m.defaultScaleV);
    const double best = std::max(1.0, Factor(m.bestQualityScale));
    const double activeW = m.activeArea.W(), activeH = m.activeArea.H();
    if (activeW * scaleH * best > kMaxScaledSide || activeH * scaleV * best > kMaxScaledSide)
        return "DefaultScale " + Text(m.defaultScaleH) + " x " + Text(m.defaultScaleV) + " with BestQualityScale " +
               Text(m.bestQualityScale) + " makes the image larger than any reader takes";
    // The crop as readers keep it: its stored size when that is positive, at most the active area.
    const double cropW = m.hasDefaultCrop && m.defaultCropSizeH.n != 0
                             ? std::min(m.defaultCropSizeH.As_real64(), activeW) : activeW;
    const double cropH = m.hasDefaultCrop && m.defaultCropSizeV.n != 0
                             ? std::min(m.defaultCropSizeV.As_real64(), activeH) : activeH;
    if (cropW * scaleH < 1.0 || cropH * scaleV < 1.0)
        return "DefaultScale " + Text(m.defaultScaleH) + " x " + Text(m.defaultScaleV) +
               " makes the image smaller than a pixel";
    return {};
}

// Each list runs on its own image: list 1 on the stored image, lists 2 and 3 on the active area;
// lists 1 and 2 on the stored samples, list 3 on the colour planes.
std::string OpcodesProblem(const IfdInfo& m)
{
    const double aspect = Factor(m.defaultScaleH) / Factor(m.defaultScaleV);
    const char* names[3] = {"OpcodeList1", "OpcodeList2", "OpcodeList3"};
    for (uint32_t i = 0; i < 3; ++i) {
        if (m.opcodeList[i].empty())
            continue;
        const int32_t width = i == 0 ? static_cast<int32_t>(m.width) : m.activeArea.W();
        const int32_t height = i == 0 ? static_cast<int32_t>(m.height) : m.activeArea.H();
        const uint32_t planes = i == 2 ? ColourPlanes(m) : m.samplesPerPixel;
        if (std::string problem = OpcodeListProblem(m.opcodeList[i], names[i], width, height, planes, aspect);
            !problem.empty())
            return problem;
    }
    return {};
}

} // namespace

std::string Info::DamageProblem() const
{
    if (!StructureProblem().empty())
        return {};
    if (std::string problem = SharedProblem(fShared); !problem.empty())
        return problem;
    // The scales before the opcodes: the opcodes are checked on the pixel shape the scales give.
    const IfdInfo& main = fIfds[static_cast<size_t>(fMainIndex)];
    if (std::string problem = MatrixProblem(fShared, ColourPlanes(main)); !problem.empty())
        return problem;
    for (std::string (*rule)(const IfdInfo&) : {PatternProblem, LevelProblem, ScaleProblem, OpcodesProblem})
        if (std::string problem = rule(main); !problem.empty())
            return "main raw image: " + problem;
    return {};
}

} // namespace dng

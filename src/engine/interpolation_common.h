// Small helpers shared by the interpolation passes (regular, single-channel, their half-size
// variants): edge reflection that keeps the colour-filter parity, the G2 equalisation level per
// camera, progress and status updates, the periodic message pump, and the copy of one colour's
// photosites into a half-size row.
#pragma once

#include "engine_ui.h"
#include "progress_reporter.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace engine {

// Neighbour index with the edge rule that keeps the colour-filter parity: -1 reads 1, -2 reads 0,
// n reads n - 2, n + 1 reads n - 1. A side of one sample has no same-parity neighbour, so the
// result is kept inside the image.
inline int32_t ReflectIndex(int32_t i, int32_t n)
{
    if (i < 0)
        i += 2;
    else if (i >= n)
        i -= 2;
    return std::clamp(i, int32_t(0), n - 1);
}

// Level of the G2 equalisation for the bodies whose greens need it; 0 for the others.
inline int32_t G2EqualisationLevel(uint16_t cameraCode)
{
    switch (cameraCode) {
    case 20: // Nikon D200
        return 900;
    case 0: // Leica M9
        return 1850;
    case 1: // Leica M8
        return 3500;
    default:
        return 0;
    }
}

// Puts the bar back to zero with one step per row of an image h rows high (less the four edge rows).
inline void ResetBar(ProgressReporter* progress, int32_t h)
{
    if (progress && progress->Bar()) {
        progress->Bar()->SetRange(0, h - 4);
        progress->Bar()->SetPosition(0);
    }
}

inline void SetStatus(ProgressReporter* progress, const std::string& text)
{
    if (progress)
        progress->SetText(text);
}

inline void StepProgress(ProgressReporter* progress)
{
    if (progress)
        progress->Step(1);
}

// Lets the interface handle its messages once every eleven rows; rowsSincePump counts the rows
// since the last time and starts at 0.
inline void PumpEveryFewRows(EngineUi* ui, int32_t& rowsSincePump)
{
    if (++rowsSincePump > 10) {
        if (ui)
            ui->ProcessMessages();
        rowsSincePump = 0;
    }
}

// Copies the photosites of row s whose column parity is marked in keep[] into the half-size row d,
// photosite x to sample x / 2, for x below w and x / 2 below hw. The column order is kept, so where
// both parities are marked the right-hand photosite of a cell is the one that stays.
inline void CopyHalfRow(const uint16_t* s, uint16_t* d, const bool keep[2], int32_t w, int32_t hw)
{
    for (int32_t px = 0; px < 2; ++px) {
        if (!keep[px])
            continue;
        for (int32_t x = px; x < w && x / 2 < hw; x += 2)
            d[x / 2] = s[x];
    }
}

} // namespace engine

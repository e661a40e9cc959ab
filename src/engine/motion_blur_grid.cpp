#include "motion_blur_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace engine {

void MotionBlurGrid::SetMode(int mode)
{
    fMode = mode;
    if (mode == kFocusDisc)
        ClickCentre();
}

void MotionBlurGrid::GrowView()
{
    if (fVisible >= kMaxVisible)
        return;
    fVisible += 2;
    Fire(onRepaint);
}

void MotionBlurGrid::ShrinkView()
{
    if (fVisible <= kMinVisible)
        return;
    fVisible -= 2;
    Fire(onRepaint);
}

double MotionBlurGrid::Weight(int column, int row) const
{
    if (!Inside(column, row))
        return 0.0;
    const GridCell& c = Cell(column, row);
    return c.set ? c.weight : 0.0;
}

bool MotionBlurGrid::AnyCellSet() const
{
    for (int x = 1; x < kCells; ++x)
        for (int y = 1; y < kCells; ++y)
            if (Cell(x, y).set)
                return true;
    return false;
}

void MotionBlurGrid::Put(int column, int row, double weight)
{
    if (!Inside(column, row))
        return;
    GridCell& c = Cell(column, row);
    c.set = weight > 0.0;
    c.weight = c.set ? weight : 0.0;
    c.colour = !c.set ? 0 : weight == 0.5 ? kHalfWeightColour : kFullWeightColour;
}

void MotionBlurGrid::ClearQuietly()
{
    for (int x = 1; x < kCells; ++x)
        for (int y = 1; y < kCells; ++y)
            Cell(x, y) = GridCell{};
}

void MotionBlurGrid::Clear(bool notify)
{
    ClearQuietly();
    if (!notify)
        return;
    if (fMode == kFocusDisc)
        ClickCentre();
    else
        Fire(onGridEmpty);
    Fire(onRepaint);
}

void MotionBlurGrid::CellClick(int column, int row)
{
    fLastClickColumn = column;
    fLastClickRow = row;
    if (fMode == kGridAndLine && fLineKind == kFreeGrid) {
        if (Inside(column, row))
            Put(column, row, Cell(column, row).set ? 0.0 : 1.0);
        Fire(onRepaint);
        Fire(onChanged);
    } else if (fMode == kGridAndLine && fLineKind == kLineThroughCentre) {
        ClearQuietly();
        DrawLine(column, row);
        Fire(onRepaint);
        Fire(onChanged);
    } else if (fMode == kFocusDisc) {
        fFocusColumn = column;
        fFocusRow = row;
        ClearQuietly();
        DrawFocusDisc(column, row);
        Fire(onRepaint);
        Fire(onChanged);
    }
    Fire(AnyCellSet() ? onGridNotEmpty : onGridEmpty);
}

// A digital line from the clicked cell through the centre to its mirror cell (100 - column,
// 100 - row). Along the longer axis every cell from one end to the other is taken; the other
// coordinate is the centre's plus the exact offset rounded half away from the centre. Rounding
// that way is odd-symmetric, so the drawing is point-symmetric about the centre (the kernel of a
// straight motion has no direction) and passes through both ends exactly. A click on the centre
// draws nothing; cells beyond the grid are left out.
void MotionBlurGrid::DrawLine(int column, int row)
{
    const int dx = column - kCentre, dy = row - kCentre;
    const int steps = std::max(std::abs(dx), std::abs(dy));
    if (steps == 0)
        return;
    const auto offset = [steps](int t, int d) {
        const int num = 2 * std::abs(t * d) + steps; // |t d / steps| + 1/2, times 2 steps
        const int rounded = num / (2 * steps);
        return (t * d < 0) ? -rounded : rounded;
    };
    for (int t = -steps; t <= steps; ++t)
        Put(kCentre + offset(t, dx), kCentre + offset(t, dy), 1.0);
}

// A disc of the focus radius r around (column, row): cell (i, j) away from the centre belongs
// to it when i^2 + j^2 <= r (r + 1), that is when it lies within about r + 1/2 of the centre (a
// filled circle in the (2r + 1)-square box). Its cells outside the inner disc of radius r - 1
// (the one-cell ring) weigh 0.5, the inner ones 1.0. With radius 1 the ring is the 3 x 3 square
// around a single full-weight cell. Cells beyond the grid are left out.
void MotionBlurGrid::DrawFocusDisc(int column, int row)
{
    const auto inside = [](int i, int j, int r) { return r >= 0 && i * i + j * j <= r * (r + 1); };
    const int inner = fRadius - kRingWidth;
    for (int j = -fRadius; j <= fRadius; ++j)
        for (int i = -fRadius; i <= fRadius; ++i)
            if (inside(i, j, fRadius))
                Put(column + i, row + j, inside(i, j, inner) ? 1.0 : 0.5);
}

void MotionBlurGrid::SetRadius(int radius)
{
    fRadius = std::max(radius, 0);
    if (fFocusColumn > -1) {
        ClearQuietly();
        DrawFocusDisc(fFocusColumn, fFocusRow);
        Fire(onRepaint);
    }
}

void MotionBlurGrid::MouseDown(Button button)
{
    fLastDragColumn = fLastDragRow = -1;
    (button == Button::kLeft ? fLeftDown : fRightDown) = true;
}

void MotionBlurGrid::MouseMove(int column, int row)
{
    if (!(fLeftDown || fRightDown) || !Inside(column, row))
        return;
    if (column == fLastDragColumn && row == fLastDragRow)
        return;
    if (fMode != kGridAndLine || fLineKind != kFreeGrid)
        return;
    Put(column, row, fLeftDown ? 1.0 : 0.0);
    fDragged = true;
    Fire(onRepaint);
    fLastDragColumn = column;
    fLastDragRow = row;
}

void MotionBlurGrid::MouseUp(int column, int row)
{
    const bool wasDown = fLeftDown || fRightDown;
    fLeftDown = fRightDown = false;
    if (wasDown && fDragged) {
        fDragged = false;
        Fire(onChanged);
        return;
    }
    if (!Inside(column, row))
        return;
    CellClick(column, row);
    fLastDragColumn = column;
    fLastDragRow = row;
}

TColor MotionBlurGrid::ValueColour(double value)
{
    if (value == 0.0)
        return 0;
    if (value == 1.0)
        return kFullWeightColour;
    const double t = std::trunc(255.0 - 300.0 * value);
    if (!(t >= 0.0))
        return kFullWeightColour;
    const TColor grey = static_cast<TColor>(std::min(t, 255.0));
    return grey | 0xFF00u | grey << 16;
}

void MotionBlurGrid::SetCellValue(int column, int row, double value)
{
    if (Inside(column, row))
        Cell(column, row).colour = ValueColour(value);
}

} // namespace engine

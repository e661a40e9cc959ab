// The blur kernel the user draws: 100 x 100 cells around the centre cell (50, 50), each with a set
// flag and a weight, shown through a zoomable window of 9..39 cells a side. This is everything of
// the kernel editor except drawing it: the editor widget maps pixels to cells, calls the gesture
// and button operations below and paints from the cell flags and colours. The deblurring pass
// reads the weights and writes display values back.
//
// Columns come first in every (column, row) pair.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

namespace engine {

// A colour as 0x00BBGGRR.
using TColor = std::uint32_t;

class MotionBlurGrid {
public:
    static constexpr int kCells = 100;
    static constexpr int kCentre = 50;
    static constexpr int kMinVisible = 9;
    static constexpr int kMaxVisible = 39;
    static constexpr TColor kFullWeightColour = 0x008000; // clGreen: weight 1.0
    static constexpr TColor kHalfWeightColour = 0xD2D200; // a focus disc's ring: weight 0.5

    enum Mode { kGridAndLine = 0, kFocusDisc = 1 };
    enum LineKind { kFreeGrid = 0, kLineThroughCentre = 1 };
    enum class Button { kLeft, kRight };

    // Fired after a drawing changed, when a click leaves no cell set or some cell set, and when
    // the cells or the view changed so that the widget must repaint.
    std::function<void()> onChanged, onGridEmpty, onGridNotEmpty, onRepaint;

    int GetMode() const { return fMode; }
    // Mode 1 draws a disc at the centre at once.
    void SetMode(int mode);
    int GetLineKind() const { return fLineKind; }
    void SetLineKind(int kind) { fLineKind = kind; }

    // The view: visible cells a side (odd) and the first visible cell, the same for columns and
    // rows, so that the view stays centred on the centre cell.
    int VisibleCount() const { return fVisible; }
    int ViewOrigin() const { return kCentre - fVisible / 2; }
    void GrowView();   // zoom out: two cells more a side, up to 39
    void ShrinkView(); // zoom in: two cells fewer a side, down to 9

    bool IsSet(int column, int row) const { return Inside(column, row) && Cell(column, row).set; }
    // The weight the deblurring uses: 0 for a cell that is not set.
    double Weight(int column, int row) const;
    TColor Colour(int column, int row) const { return Inside(column, row) ? Cell(column, row).colour : 0; }
    // True when any cell outside row 0 and column 0 is set.
    bool AnyCellSet() const;

    // A click on a cell: toggles it (free grid), draws a line from it through the centre to its
    // mirror cell (line kind 1), or a disc of the focus radius around it (focus disc).
    void CellClick(int column, int row);
    void ClickCentre() { CellClick(kCentre, kCentre); }
    int LastClickedColumn() const { return fLastClickColumn; }
    int LastClickedRow() const { return fLastClickRow; }

    // A mouse gesture. In the free grid a drag paints: the left button sets, the right button
    // clears, each cell once when it is entered. A release without drag is a click on the cell
    // under the pointer. Cells outside the grid are ignored.
    void MouseDown(Button button);
    void MouseMove(int column, int row);
    void MouseUp(int column, int row);

    // Clears every cell outside row 0 and column 0. With notify: in focus-disc mode a fresh disc
    // is drawn at the centre, otherwise onGridEmpty fires; then the widget repaints.
    void Clear(bool notify);

    int FocusRadius() const { return fRadius; }
    // Stores the radius (not below 0) and redraws the current disc, if there is one.
    void SetRadius(int radius);
    void ResetRadius() { fRadius = 1; }

    // Shows a kernel value on a cell without changing its flag or weight: 0 empty, 1 clGreen,
    // otherwise t = trunc(255 - 300 v): green 255 with red = blue = t while t >= 0, plain clGreen
    // above that. Cells outside the grid are ignored.
    void SetCellValue(int column, int row, double value);
    static TColor ValueColour(double value);

private:
    struct GridCell {
        bool set = false;
        double weight = 0.0;
        TColor colour = 0;
    };

    static bool Inside(int column, int row) { return column >= 0 && column < kCells && row >= 0 && row < kCells; }
    GridCell& Cell(int column, int row) { return fCells[static_cast<size_t>(column * kCells + row)]; }
    const GridCell& Cell(int column, int row) const { return fCells[static_cast<size_t>(column * kCells + row)]; }
    void Put(int column, int row, double weight); // weight 0 clears the cell
    void ClearQuietly();
    void DrawLine(int column, int row);
    void DrawFocusDisc(int column, int row);
    static void Fire(const std::function<void()>& f)
    {
        if (f)
            f();
    }

    int fMode = kGridAndLine;
    int fLineKind = kFreeGrid;
    int fVisible = 11;
    int fRadius = 1;
    static constexpr int kRingWidth = 1;
    int fLastClickColumn = 0, fLastClickRow = 0;
    int fFocusColumn = -1, fFocusRow = -1;
    bool fLeftDown = false, fRightDown = false, fDragged = false;
    int fLastDragColumn = -1, fLastDragRow = -1;
    std::array<GridCell, kCells * kCells> fCells{};
};

} // namespace engine

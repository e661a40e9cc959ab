// The blur-kernel editor: draws the kernel model (grid, set cells, their frames, the centre
// marker) through its zoomable view and turns the mouse into cell operations: a press starts a
// gesture, moves paint the cells entered (free grid), a release ends the drag or clicks a cell;
// the wheel zooms the view. The model itself lives with the engine, which reads it.
#pragma once

#include "engine/motion_blur_grid.h"

#include <QWidget>

namespace ui {

class MotionBlurPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 11 * 18 + 1;  // 199
    static constexpr int kHeight = 11 * 17 + 1; // 188
    static constexpr int kWheelStep = 120;      // one notch of a mouse wheel

    explicit MotionBlurPanel(QWidget* parent = nullptr);

    // The model shown and edited; not owned. Its change callbacks are the panel's.
    void SetGrid(engine::MotionBlurGrid* grid);
    engine::MotionBlurGrid* Grid() const { return fGrid; }

    // The cell under a point of the panel, or false when the point is outside the visible cells.
    bool CellAt(QPoint point, int& column, int& row) const;
    // The rectangle of the cell shown at screen column i and row j.
    QRect CellRect(int i, int j) const;

signals:
    void OnChanged();
    void OnGridEmpty();
    void OnGridNotEmpty();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int Pitch(bool horizontal) const;
    int Margin(bool horizontal) const;

    engine::MotionBlurGrid* fGrid = nullptr;
    int fWheelRest = 0; // wheel delta not yet turned into a zoom step
};

} // namespace ui

#include "ui/class_motionblurpanel.h"

#include "ui/tcolor.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace ui {

using engine::MotionBlurGrid;

MotionBlurPanel::MotionBlurPanel(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kWidth, kHeight);
    setFocusPolicy(Qt::ClickFocus);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);
    setAccessibleName("Blur kernel");
}

void MotionBlurPanel::SetGrid(MotionBlurGrid* grid)
{
    fGrid = grid;
    if (fGrid) {
        fGrid->onChanged = [this] { emit OnChanged(); };
        fGrid->onGridEmpty = [this] { emit OnGridEmpty(); };
        fGrid->onGridNotEmpty = [this] { emit OnGridNotEmpty(); };
        fGrid->onRepaint = [this] { repaint(); };
    }
    update();
}

int MotionBlurPanel::Pitch(bool horizontal) const
{
    const int visible = fGrid ? fGrid->VisibleCount() : 11;
    return (horizontal ? kWidth : kHeight) / visible;
}

// The pixels left over by the pitch, split on both sides once the view has been zoomed.
int MotionBlurPanel::Margin(bool horizontal) const
{
    const int visible = fGrid ? fGrid->VisibleCount() : 11;
    return ((horizontal ? kWidth : kHeight) % visible) / 2;
}

bool MotionBlurPanel::CellAt(QPoint point, int& column, int& row) const
{
    if (!fGrid)
        return false;
    const int dx = point.x() - Margin(true), dy = point.y() - Margin(false);
    if (dx < 0 || dy < 0)
        return false;
    const int i = dx / Pitch(true), j = dy / Pitch(false);
    const int visible = fGrid->VisibleCount();
    if (i >= visible || j >= visible)
        return false;
    column = fGrid->ViewOrigin() + i;
    row = fGrid->ViewOrigin() + j;
    return true;
}

QRect MotionBlurPanel::CellRect(int i, int j) const
{
    const int cw = Pitch(true), ch = Pitch(false), mx = Margin(true), my = Margin(false);
    return QRect(QPoint(cw * i + mx + 2, ch * j + my + 2), QPoint(cw * (i + 1) + mx - 2, ch * (j + 1) + my - 2));
}

void MotionBlurPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!fGrid)
        return;
    const int visible = fGrid->VisibleCount(), origin = fGrid->ViewOrigin();
    const int cw = Pitch(true), ch = Pitch(false), mx = Margin(true), my = Margin(false);
    p.setPen(ColorOfTColor(0x808080));
    for (int i = 0; i <= visible; ++i) {
        int x = cw * i + mx;
        if (x == kWidth)
            --x;
        p.drawLine(x, my, x, kHeight - my - 1);
    }
    for (int j = 0; j <= visible; ++j) {
        const int y = std::min(ch * j + my, kHeight - 1);
        p.drawLine(mx, y, kWidth - mx - 1, y);
    }
    const QColor frame = ColorOfTColor(MotionBlurGrid::kFullWeightColour);
    for (int i = 0; i < visible; ++i)
        for (int j = 0; j < visible; ++j) {
            const int c = origin + i, r = origin + j;
            const bool set = fGrid->IsSet(c, r);
            const engine::TColor colour = fGrid->Colour(c, r);
            if (!set && colour == 0)
                continue;
            const QRect cell = CellRect(i, j);
            p.fillRect(cell, ColorOfTColor(colour));
            if (set) {
                p.setPen(frame);
                p.setBrush(Qt::NoBrush);
                p.drawRect(cell.adjusted(0, 0, -1, -1));
            }
        }
    // The centre cell's marker.
    const int cc = (visible - 1) / 2;
    p.setPen(ColorOfTColor(0xFF0000));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(QPoint(cw * cc + mx + 4, ch * cc + my + 4), QPoint(cw * (cc + 1) + mx - 4, ch * (cc + 1) + my - 4))
                   .adjusted(0, 0, -1, -1));
}

void MotionBlurPanel::mousePressEvent(QMouseEvent* event)
{
    if (!fGrid)
        return;
    if (event->button() == Qt::LeftButton)
        fGrid->MouseDown(MotionBlurGrid::Button::kLeft);
    else if (event->button() == Qt::RightButton)
        fGrid->MouseDown(MotionBlurGrid::Button::kRight);
}

// A drag paints only the cells it crosses inside the view.
void MotionBlurPanel::mouseMoveEvent(QMouseEvent* event)
{
    int column = 0, row = 0;
    if (fGrid && CellAt(event->position().toPoint(), column, row))
        fGrid->MouseMove(column, row);
}

void MotionBlurPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (!fGrid || (event->button() != Qt::LeftButton && event->button() != Qt::RightButton))
        return;
    int column = -1, row = -1;
    if (!CellAt(event->position().toPoint(), column, row))
        column = row = -1; // a release outside the view ends the gesture and clicks nothing
    fGrid->MouseUp(column, row);
    setFocus(Qt::MouseFocusReason);
}

// Away from the user (positive delta) grows the view, towards the user shrinks it: by the sign,
// one step per notch, with the finer deltas of touchpads and fast spins added up.
void MotionBlurPanel::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (!fGrid)
        return;
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    if ((delta > 0) != (fWheelRest > 0))
        fWheelRest = 0;
    fWheelRest += delta;
    while (fWheelRest >= kWheelStep) {
        fWheelRest -= kWheelStep;
        fGrid->GrowView();
    }
    while (fWheelRest <= -kWheelStep) {
        fWheelRest += kWheelStep;
        fGrid->ShrinkView();
    }
}

} // namespace ui

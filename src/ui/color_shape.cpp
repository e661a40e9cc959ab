#include "ui/color_shape.h"

#include <QPainter>

namespace ui {

namespace {

QColor FromBgr(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

} // namespace

ColorShape::ColorShape(QWidget* parent) : QWidget(parent)
{
    fBrush = palette().button().color();
    setMinimumSize(14, 14);
}

void ColorShape::SetColors(int pen, int brush)
{
    fPen = FromBgr(pen);
    fBrush = brush < 0 ? palette().button().color() : FromBgr(brush);
    update();
}

void ColorShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(fPen);
    painter.setBrush(fBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace ui

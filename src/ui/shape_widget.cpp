#include "ui/shape_widget.h"

#include <QPainter>

namespace ui {

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent), fBrush(palette().color(QPalette::Button)) {}

void ShapeWidget::SetColors(const QColor& brush, const QColor& pen)
{
    if (brush == fBrush && pen == fPen)
        return;
    fBrush = brush;
    fPen = pen;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(fPen, 2));
    p.setBrush(fBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
}

} // namespace ui

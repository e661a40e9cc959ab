#include "ui/program_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ui {

QIcon ProgramIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame(0.5, 0.5, size - 1.0, size - 1.0);
        QLinearGradient ramp(frame.topLeft(), frame.bottomRight());
        ramp.setColorAt(0.0, QColor(245, 245, 245));
        ramp.setColorAt(1.0, QColor(20, 20, 20));
        painter.setPen(QPen(QColor(60, 60, 60), size / 24.0));
        painter.setBrush(ramp);
        painter.drawRoundedRect(frame, size / 6.0, size / 6.0);
        // A "V" in the middle, dark on the light half and light on the dark half.
        QPainterPath v;
        v.moveTo(size * 0.25, size * 0.25);
        v.lineTo(size * 0.5, size * 0.75);
        v.lineTo(size * 0.75, size * 0.25);
        painter.setPen(QPen(QColor(200, 60, 40), size / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(v);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace ui

#include "ui/class_gradientpanel.h"

#include "ui/logic/gradient_ramp.h"

#include <QPainter>

namespace ui {

GradientPanel::GradientPanel(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kSide, kSide);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GradientPanel::SetVerticalExtent(int extent)
{
    fVerticalExtent = extent;
    update();
}

void GradientPanel::SetHorizontalExtent(int extent)
{
    fHorizontalExtent = extent;
    update();
}

int GradientPanel::GetGradientPercent() const
{
    return GradientPercent(fDirection, fVerticalExtent, fHorizontalExtent);
}

void GradientPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const bool rows = fDirection == kTopToBottom || fDirection == kBottomToTop;
    const int length = rows ? height() : width();
    const int extent = rows ? fVerticalExtent : fHorizontalExtent;
    for (const RampLine& line : GradientRamp(fDirection, extent, length)) {
        const QColor grey(line.grey, line.grey, line.grey);
        if (rows)
            p.fillRect(0, line.position, width(), 1, grey);
        else
            p.fillRect(line.position, 0, 1, height(), grey);
    }
}

} // namespace ui

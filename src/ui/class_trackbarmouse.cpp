#include "ui/class_trackbarmouse.h"

#include <QMouseEvent>

namespace ui {

TTrackBarMouse::TTrackBarMouse(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setPageStep(1);
    setFocusPolicy(Qt::StrongFocus);
}

void TTrackBarMouse::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !fLeftDown) {
        fLeftDown = true;
        emit OnSliderDown(this);
    }
    QSlider::mousePressEvent(event);
}

// The slider finishes its own gesture first, so that the position is final when the release is
// reported.
void TTrackBarMouse::mouseReleaseEvent(QMouseEvent* event)
{
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && fLeftDown) {
        fLeftDown = false;
        emit OnSliderUp(this);
    }
}

void TTrackBarMouse::keyPressEvent(QKeyEvent* event)
{
    const int before = value();
    QSlider::keyPressEvent(event);
    if (value() != before && !fLeftDown) {
        emit OnSliderDown(this);
        emit OnSliderUp(this);
    }
}

void TTrackBarMouse::wheelEvent(QWheelEvent* event)
{
    const int before = value();
    QSlider::wheelEvent(event);
    if (value() != before && !fLeftDown) {
        emit OnSliderDown(this);
        emit OnSliderUp(this);
    }
}

} // namespace ui

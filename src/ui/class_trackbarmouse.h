// A slider that reports the press and the release of its left mouse button, so that a costly
// update runs only when the user lets go. Keyboard and wheel changes have no press of their own:
// each one that moves the slider counts as a press and a release.
#pragma once

#include <QSlider>

namespace ui {

class TTrackBarMouse : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBarMouse(QWidget* parent = nullptr);

signals:
    void OnSliderDown(TTrackBarMouse* sender);
    void OnSliderUp(TTrackBarMouse* sender);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool fLeftDown = false;
};

} // namespace ui

// A slider that reports the press and the release of its left mouse button, so that a costly
// update runs only when the user lets go. Keyboard and wheel changes have no press of their own:
// each one that moves the slider counts as a press and a release; so does a value that assistive
// technology sets through the slider's accessible value.
#pragma once

#include <QSlider>

namespace ui {

class TTrackBarMouse : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBarMouse(QWidget* parent = nullptr);

    // Sets the position as a person does who moves the slider in one step: a change reports a
    // press and a release. Values set by the program itself go through setValue.
    void SetPositionAsUser(int position);

    // Makes assistive technology reach these sliders through SetPositionAsUser; once per program.
    static void InstallAccessibility();

signals:
    void OnSliderDown(TTrackBarMouse* sender);
    void OnSliderUp(TTrackBarMouse* sender);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void ReportIfMoved(int before);

    bool fLeftDown = false;
};

} // namespace ui

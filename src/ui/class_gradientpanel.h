// The gradient dialog's picture: a white 200 x 200 panel with a grey ramp from its starting edge
// over the part of the frame that the gradient reaches.
#pragma once

#include <QWidget>

namespace ui {

class GradientPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSide = 200;

    explicit GradientPanel(QWidget* parent = nullptr);

    // 0 top to bottom, 1 bottom to top, 2 left to right, 3 right to left; no repaint.
    void SetDirection(int direction) { fDirection = direction; }
    int Direction() const { return fDirection; }
    void SetVerticalExtent(int extent);
    void SetHorizontalExtent(int extent);
    int VerticalExtent() const { return fVerticalExtent; }
    int HorizontalExtent() const { return fHorizontalExtent; }
    // The reach in percent of the photo (0..100), as the conversion reads it.
    int GetGradientPercent() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int fDirection = 0;
    int fVerticalExtent = kSide;
    int fHorizontalExtent = kSide;
};

} // namespace ui

// A small filled rectangle with an outline: the colour marks beside the filter-strength and
// white-balance sliders.
#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

class ColorShape : public QWidget {
    Q_OBJECT

public:
    explicit ColorShape(QWidget* parent = nullptr);
    // Colours as 0x00BBGGRR values; a negative brush means the window's face colour.
    void SetColors(int pen, int brush);
    QColor Pen() const { return fPen; }
    QColor Brush() const { return fBrush; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fPen{0xC0, 0xC0, 0xC0};
    QColor fBrush;
};

} // namespace ui

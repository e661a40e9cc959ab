// A small filled shape with a frame whose colours tell a state (the status lights of a window).
#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

class ShapeWidget : public QWidget {
    Q_OBJECT
public:
    explicit ShapeWidget(QWidget* parent = nullptr);

    void SetColors(const QColor& brush, const QColor& pen);
    void SetBrush(const QColor& brush) { SetColors(brush, fPen); }
    void SetPen(const QColor& pen) { SetColors(fBrush, pen); }
    QColor Brush() const { return fBrush; }
    QColor Pen() const { return fPen; }
    QSize sizeHint() const override { return {25, 17}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fBrush;
    QColor fPen{Qt::black};
};

} // namespace ui

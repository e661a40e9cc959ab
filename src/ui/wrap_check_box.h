// A check box whose caption wraps onto further lines when its column is narrow, so that a long
// caption stays whole on a small screen. The box sits beside the first line.
#pragma once

#include <QCheckBox>

namespace ui {

class WrapCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit WrapCheckBox(QWidget* parent = nullptr);

    // One line when there is room; at least about half the caption's width per line.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    // Left edge of the caption, and the height of the row that holds the box and the first line.
    int TextLeft() const;
    int FirstRowHeight() const;
    QRect TextRect(int width) const;
};

} // namespace ui

// A picture control showing a copy of a bitmap: at one pixel per logical pixel, or stretched
// over the whole control (smoothly). Large bitmaps shown stretched are reduced once when they are
// set, so that a palette change (brightness, contrast) only recolours the small copy. Reports the
// mouse in control coordinates.
#pragma once

#include "platform/bitmap.h"

#include <QImage>
#include <QWidget>

namespace ui {

// A bitmap as a Qt image: 8-bit with its colour table, or 24-bit blue, green, red.
QImage ImageOfBitmap(const platform::Bitmap& bitmap);

class BitmapView : public QWidget {
    Q_OBJECT
public:
    explicit BitmapView(QWidget* parent = nullptr);

    void SetStretch(bool stretch);
    bool Stretch() const { return fStretch; }
    void SetBitmap(const platform::Bitmap& bitmap);
    // A new colour table for an 8-bit picture (no pixel changes).
    void SetColorTable(const std::array<uint32_t, 256>& table);
    void Clear();
    bool HasPicture() const { return !fImage.isNull(); }
    const QImage& Image() const { return fImage; }

signals:
    void MouseDown(QPoint position, Qt::MouseButton button);
    void MouseMove(QPoint position);
    void MouseUp(QPoint position, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage fImage;
    bool fStretch = false;
};

} // namespace ui

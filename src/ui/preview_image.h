// A picture control of the main window: shows a bitmap scaled to fit with its aspect kept
// (stretched) or at one image pixel per logical pixel (unstretched), and reports the left mouse
// button's press, drag and release in its own coordinates.
#pragma once

#include "platform/bitmap.h"

#include <QImage>
#include <QString>
#include <QWidget>

namespace ui {

// The bitmap as an image Qt can draw (8 bits with its colour table, or 24 bits); empty for an
// empty bitmap.
QImage ToQImage(const platform::Bitmap& bitmap);
// Only the block (x, y, width, height) of the bitmap, which the caller keeps inside it.
QImage ToQImage(const platform::Bitmap& bitmap, int x, int y, int width, int height);

class PreviewImage : public QWidget {
    Q_OBJECT

public:
    explicit PreviewImage(QWidget* parent = nullptr);

    void SetPicture(const QImage& picture);
    void Clear();
    bool HasPicture() const { return !fPicture.isNull(); }
    const QImage& Picture() const { return fPicture; }
    void SetStretched(bool stretched);
    // Shown in the middle while the control has no picture.
    void SetPlaceholder(const QString& text);
    // Where the picture is drawn in the control (the whole picture, scaled or not).
    QRect PictureRect() const;

signals:
    void mousePressed(QPoint position);
    void mouseDragged(QPoint position);
    void mouseReleased();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage fPicture;
    QImage fScaled; // fPicture scaled to PictureRect(), made once per picture and size
    bool fStretched = true;
    bool fDragging = false;
    QString fPlaceholder;
};

} // namespace ui

#include "ui/bitmap_view.h"

#include "ui/logic/bitmap_reduce.h"

#include <QMouseEvent>
#include <QPainter>

#include <cstring>

namespace ui {

namespace {

QList<QRgb> QtColorTable(const std::array<uint32_t, 256>& table)
{
    QList<QRgb> colors(256);
    for (int i = 0; i < 256; ++i)
        colors[i] = qRgb(int((table[size_t(i)] >> 16) & 0xFF), int((table[size_t(i)] >> 8) & 0xFF),
                         int(table[size_t(i)] & 0xFF));
    return colors;
}

} // namespace

QImage ImageOfBitmap(const platform::Bitmap& bitmap)
{
    if (bitmap.IsEmpty())
        return {};
    const bool indexed = bitmap.Format() == platform::PixelFormat::k8Bit;
    QImage image(bitmap.Width(), bitmap.Height(), indexed ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (indexed)
        image.setColorTable(QtColorTable(bitmap.ColorTable()));
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        std::memcpy(image.scanLine(y), bitmap.ScanLine(y), bitmap.RowBytes());
    return image;
}

BitmapView::BitmapView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BitmapView::SetStretch(bool stretch)
{
    fStretch = stretch;
    update();
}

void BitmapView::SetBitmap(const platform::Bitmap& bitmap)
{
    // A stretched picture far larger than the control is shown from a reduced copy.
    const int w = width(), h = height();
    if (fStretch && w > 0 && h > 0 && (bitmap.Width() > 2 * w || bitmap.Height() > 2 * h))
        fImage = ImageOfBitmap(ReduceBitmap(bitmap, 2 * w, 2 * h));
    else
        fImage = ImageOfBitmap(bitmap);
    update();
}

void BitmapView::SetColorTable(const std::array<uint32_t, 256>& table)
{
    if (fImage.format() != QImage::Format_Indexed8)
        return;
    fImage.setColorTable(QtColorTable(table));
    update();
}

void BitmapView::Clear()
{
    fImage = QImage();
    update();
}

void BitmapView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (fImage.isNull())
        return;
    if (fStretch) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), fImage);
    } else {
        p.drawImage(QPoint(0, 0), fImage);
    }
}

void BitmapView::mousePressEvent(QMouseEvent* event)
{
    emit MouseDown(event->position().toPoint(), event->button());
}

void BitmapView::mouseMoveEvent(QMouseEvent* event)
{
    emit MouseMove(event->position().toPoint());
}

void BitmapView::mouseReleaseEvent(QMouseEvent* event)
{
    emit MouseUp(event->position().toPoint(), event->button());
}

} // namespace ui

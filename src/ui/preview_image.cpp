#include "ui/preview_image.h"

#include "ui/logic/crop_geometry.h"

#include <QMouseEvent>
#include <QPainter>

#include <cstring>

namespace ui {

QImage ToQImage(const platform::Bitmap& bitmap, int x, int y, int width, int height)
{
    if (bitmap.IsEmpty() || width <= 0 || height <= 0)
        return {};
    const bool indexed = bitmap.Format() == platform::PixelFormat::k8Bit;
    QImage image(width, height, indexed ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (image.isNull())
        return {};
    if (indexed) {
        QList<QRgb> table(256);
        for (int i = 0; i < 256; ++i)
            table[i] = 0xFF000000u | bitmap.ColorTable()[i];
        image.setColorTable(table);
    }
    // Row by row: Qt's scan lines are padded to 32 bits, the bitmap's are not.
    const size_t bytes = size_t(width) * size_t(bitmap.BytesPerPixel());
    for (int row = 0; row < height; ++row)
        std::memcpy(image.scanLine(row), bitmap.ScanLine(y + row) + size_t(x) * bitmap.BytesPerPixel(), bytes);
    return image;
}

QImage ToQImage(const platform::Bitmap& bitmap)
{
    return ToQImage(bitmap, 0, 0, bitmap.Width(), bitmap.Height());
}

PreviewImage::PreviewImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewImage::SetPicture(const QImage& picture)
{
    fPicture = picture;
    fScaled = QImage();
    update();
}

void PreviewImage::Clear()
{
    SetPicture(QImage());
}

void PreviewImage::SetStretched(bool stretched)
{
    fStretched = stretched;
    fScaled = QImage();
    update();
}

void PreviewImage::SetPlaceholder(const QString& text)
{
    fPlaceholder = text;
    update();
}

QRect PreviewImage::PictureRect() const
{
    if (fPicture.isNull())
        return {};
    if (!fStretched)
        return {0, 0, fPicture.width(), fPicture.height()};
    const ViewRect r = FittedRect(fPicture.width(), fPicture.height(), width(), height());
    return {r.x, r.y, r.width, r.height};
}

void PreviewImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window().color().darker(115));
    if (fPicture.isNull()) {
        if (!fPlaceholder.isEmpty()) {
            painter.setPen(palette().text().color());
            painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, fPlaceholder);
        }
        return;
    }
    const QRect target = PictureRect();
    if (!fStretched) {
        painter.drawImage(target.topLeft(), fPicture);
        return;
    }
    // Scaled once per picture and size: a large preview is not smoothed again on every repaint.
    if (fScaled.size() != target.size())
        fScaled = fPicture.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(target.topLeft(), fScaled);
}

void PreviewImage::resizeEvent(QResizeEvent* event)
{
    fScaled = QImage();
    QWidget::resizeEvent(event);
}

void PreviewImage::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    fDragging = true;
    emit mousePressed(event->position().toPoint());
}

void PreviewImage::mouseMoveEvent(QMouseEvent* event)
{
    if (fDragging)
        emit mouseDragged(event->position().toPoint());
}

void PreviewImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !fDragging)
        return;
    fDragging = false;
    emit mouseReleased();
}

} // namespace ui

#include "ui/class_trackbarmouse.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>

namespace ui {

namespace {

// The slider as assistive technology sees it: a value it can read and set; a value set this way
// counts as a move by the user.
class TrackBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TrackBarAccessible(TTrackBarMouse* bar) : QAccessibleWidget(bar, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QString::number(Bar()->value());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return Bar()->value(); }
    void setCurrentValue(const QVariant& value) override { Bar()->SetPositionAsUser(value.toInt()); }
    QVariant maximumValue() const override { return Bar()->maximum(); }
    QVariant minimumValue() const override { return Bar()->minimum(); }
    QVariant minimumStepSize() const override { return Bar()->singleStep(); }

private:
    TTrackBarMouse* Bar() const { return static_cast<TTrackBarMouse*>(widget()); }
};

QAccessibleInterface* TrackBarAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String(TTrackBarMouse::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new TrackBarAccessible(static_cast<TTrackBarMouse*>(object));
    return nullptr;
}

} // namespace

void TTrackBarMouse::InstallAccessibility()
{
    QAccessible::installFactory(TrackBarAccessibleFactory);
}

TTrackBarMouse::TTrackBarMouse(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setPageStep(1);
    setFocusPolicy(Qt::StrongFocus);
}

void TTrackBarMouse::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !fLeftDown) {
        fLeftDown = true;
        emit OnSliderDown(this);
    }
    QSlider::mousePressEvent(event);
}

// The slider finishes its own gesture first, so that the position is final when the release is
// reported.
void TTrackBarMouse::mouseReleaseEvent(QMouseEvent* event)
{
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && fLeftDown) {
        fLeftDown = false;
        emit OnSliderUp(this);
    }
}

// After the change has reached every slot of valueChanged, so that the update sees all it moved.
void TTrackBarMouse::ReportIfMoved(int before)
{
    if (value() != before && !fLeftDown) {
        emit OnSliderDown(this);
        emit OnSliderUp(this);
    }
}

void TTrackBarMouse::SetPositionAsUser(int position)
{
    const int before = value();
    setValue(position);
    ReportIfMoved(before);
}

void TTrackBarMouse::keyPressEvent(QKeyEvent* event)
{
    const int before = value();
    QSlider::keyPressEvent(event);
    ReportIfMoved(before);
}

void TTrackBarMouse::wheelEvent(QWheelEvent* event)
{
    const int before = value();
    QSlider::wheelEvent(event);
    ReportIfMoved(before);
}

} // namespace ui

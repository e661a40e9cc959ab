#include "ui/wrap_check_box.h"

#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

namespace ui {

namespace {

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

} // namespace

WrapCheckBox::WrapCheckBox(QWidget* parent) : QCheckBox(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrapCheckBox::TextLeft() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect box = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    return box.right() + 1 + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
}

int WrapCheckBox::FirstRowHeight() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    return std::max(style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this), fontMetrics().height());
}

QRect WrapCheckBox::TextRect(int width) const
{
    const int left = TextLeft();
    const int top = (FirstRowHeight() - fontMetrics().height()) / 2;
    const QRect lines =
        fontMetrics().boundingRect(QRect(left, top, std::max(1, width - left), 100000), kTextFlags, text());
    return {left, top, std::max(1, width - left), lines.height()};
}

int WrapCheckBox::heightForWidth(int width) const
{
    const QRect text = TextRect(width);
    return std::max(QCheckBox::sizeHint().height(), std::max(FirstRowHeight(), text.bottom() + 1));
}

QSize WrapCheckBox::sizeHint() const
{
    const QSize line = QCheckBox::sizeHint();
    return {line.width(), heightForWidth(line.width())};
}

QSize WrapCheckBox::minimumSizeHint() const
{
    const QSize line = QCheckBox::sizeHint();
    int word = 0;
    for (const QString& w : text().split(' ', Qt::SkipEmptyParts))
        word = std::max(word, fontMetrics().horizontalAdvance(w));
    const int width = std::max(TextLeft() + word, (line.width() + TextLeft()) / 2);
    return {width, heightForWidth(width)};
}

void WrapCheckBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    // The box (and the focus frame) with the style's own drawing, beside the first line.
    option.text.clear();
    option.rect.setHeight(FirstRowHeight());
    painter.drawControl(QStyle::CE_CheckBox, option);
    painter.drawItemText(TextRect(width()), kTextFlags, option.palette, isEnabled(), caption,
                         QPalette::WindowText);
}

bool WrapCheckBox::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}

} // namespace ui

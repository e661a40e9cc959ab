#include "ui/qt_progress_controls.h"

#include <algorithm>

namespace ui {

// A widget gone (window closing) makes every call a no-op, so a pass that is ending finds no
// dangling control.

int QtProgressBarControl::Position() const { return fBar ? fBar->value() : 0; }

void QtProgressBarControl::SetPosition(int position)
{
    if (fBar)
        fBar->setValue(std::clamp(position, fBar->minimum(), fBar->maximum()));
}

void QtProgressBarControl::SetRange(int minimum, int maximum)
{
    if (fBar)
        fBar->setRange(minimum, std::max(minimum, maximum));
}

int QtProgressBarControl::Minimum() const { return fBar ? fBar->minimum() : 0; }
int QtProgressBarControl::Maximum() const { return fBar ? fBar->maximum() : 0; }

void QtProgressBarControl::Update()
{
    if (fBar)
        fBar->repaint();
}

void QtLabelControl::SetText(const std::string& text)
{
    if (fLabel)
        fLabel->setText(QString::fromStdString(text));
}

std::string QtLabelControl::Text() const { return fLabel ? fLabel->text().toStdString() : std::string(); }

void QtLabelControl::Update()
{
    if (fLabel)
        fLabel->repaint();
}

} // namespace ui

// The engine's progress bar and status label over real widgets. Update() repaints at once, so a
// status set during a long pass shows before the pass goes on.
#pragma once

#include "platform/progress_controls.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>

namespace ui {

class QtProgressBarControl : public platform::ProgressBarControl {
public:
    explicit QtProgressBarControl(QProgressBar* bar) : fBar(bar) {}
    int Position() const override;
    void SetPosition(int position) override;
    void SetRange(int minimum, int maximum) override;
    int Minimum() const override;
    int Maximum() const override;
    void Update() override;

private:
    QPointer<QProgressBar> fBar;
};

class QtLabelControl : public platform::LabelControl {
public:
    explicit QtLabelControl(QLabel* label) : fLabel(label) {}
    void SetText(const std::string& text) override;
    std::string Text() const override;
    void Update() override;

private:
    QPointer<QLabel> fLabel;
};

} // namespace ui

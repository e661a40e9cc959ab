// The two controls a long pass reports through: a progress bar and a status label. The windows
// implement them with real widgets; tests with fakes.
#pragma once

#include <string>

namespace platform {

class ProgressBarControl {
public:
    virtual ~ProgressBarControl() = default;
    virtual int Position() const = 0;
    virtual void SetPosition(int position) = 0;
    virtual void SetRange(int minimum, int maximum) = 0;
    virtual int Minimum() const = 0;
    virtual int Maximum() const = 0;
    // Repaints the control at once.
    virtual void Update() = 0;
};

class LabelControl {
public:
    virtual ~LabelControl() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;
    // Repaints the control at once.
    virtual void Update() = 0;
};

} // namespace platform

// Moves the main window's progress bar, writes its status line and lets the application handle
// pending window messages every 100 steps, so that the window stays alive and Cancel can be
// clicked in the middle of a long pass.
#pragma once

#include "platform/progress_controls.h"

#include <functional>
#include <string>

namespace engine {

class ProgressReporter {
public:
    static constexpr int kStepsPerPump = 100;

    ProgressReporter() = default;

    // Binds the controls (not owned) and the message pump; null controls leave it unbound.
    void Bind(platform::ProgressBarControl* bar, platform::LabelControl* status, std::function<void()> processMessages);
    void ResetSteps() { fCounter = 0; }
    void SetText(const std::string& text);
    void Step(int n);

    platform::ProgressBarControl* Bar() const { return fBar; }
    int Counter() const { return fCounter; }

private:
    platform::ProgressBarControl* fBar = nullptr;
    platform::LabelControl* fStatus = nullptr;
    std::function<void()> fProcessMessages;
    int fCounter = 0;
};

} // namespace engine

#include "progress_reporter.h"

namespace engine {

void ProgressReporter::Bind(platform::ProgressBarControl* bar, platform::LabelControl* status,
                            std::function<void()> processMessages)
{
    fBar = bar;
    fStatus = status;
    fProcessMessages = std::move(processMessages);
}

void ProgressReporter::SetText(const std::string& text)
{
    if (!fStatus)
        return;
    fStatus->SetText(text);
    fStatus->Update();
}

void ProgressReporter::Step(int n)
{
    if (!fBar)
        return;
    fBar->SetPosition(fBar->Position() + n);
    fBar->Update();
    fCounter += n;
    if (fCounter >= kStepsPerPump) {
        if (fProcessMessages)
            fProcessMessages();
        fCounter = 0;
    }
}

} // namespace engine

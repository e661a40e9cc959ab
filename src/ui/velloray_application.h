// The application object: Qt's, with a last-resort handler for exceptions that reach the event loop
// (no exception may cross it). Such an exception is shown as "Whoa... that's a bug..." and the event
// counts as not handled; the program goes on.
#pragma once

#include "platform/message_box.h"

#include <QApplication>

namespace ui {

class VellorayApplication : public QApplication {
    Q_OBJECT

public:
    VellorayApplication(int& argc, char** argv);

    // Where the handler shows its message; without one the program writes it and aborts.
    void SetMessageBoxes(platform::MessageBoxService* boxes) { fBoxes = boxes; }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void ReportEscapedException(const char* what);

    platform::MessageBoxService* fBoxes = nullptr;
    bool fReporting = false; // a box is up already: do not stack another over it
};

} // namespace ui

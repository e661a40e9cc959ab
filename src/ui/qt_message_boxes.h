// The message-box service of the windows: a modal QMessageBox with the request's caption, icon and
// buttons. Texts are always shown as plain text, since they carry file names.
#pragma once

#include "platform/message_box.h"

#include <QPointer>
#include <QWidget>

namespace ui {

class QtMessageBoxService : public platform::MessageBoxService {
public:
    // owner: the window that owns boxes asked with ownedByMainWindow; may be null.
    explicit QtMessageBoxService(QWidget* owner = nullptr) : fOwner(owner) {}
    void SetOwner(QWidget* owner) { fOwner = owner; }

    // The first button of the request is the default one (the second when the request asks);
    // Escape answers No or Cancel.
    platform::MessageResult Show(const platform::MessageBoxRequest& request) override;

private:
    QPointer<QWidget> fOwner;
};

} // namespace ui

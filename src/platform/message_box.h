// Message boxes: the engine and the windows ask through this service, which the windows
// implement with real dialogs and tests implement by recording and answering.
#pragma once

#include <string>

namespace platform {

enum class MessageIcon { kNone, kInformation, kWarning, kError, kQuestion };
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class MessageResult { kOk, kCancel, kYes, kNo };

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::kNone;
    MessageButtons buttons = MessageButtons::kOk;
    bool ownedByMainWindow = true; // false: no owner window (program start)
    bool secondButtonDefault = false; // No (or Cancel) preselected instead of the first button
};

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual MessageResult Show(const MessageBoxRequest& request) = 0;
};

} // namespace platform

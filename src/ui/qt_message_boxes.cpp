#include "ui/qt_message_boxes.h"

#include <QMessageBox>

namespace ui {

namespace {

QMessageBox::Icon IconOf(platform::MessageIcon icon)
{
    switch (icon) {
    case platform::MessageIcon::kInformation: return QMessageBox::Information;
    case platform::MessageIcon::kWarning: return QMessageBox::Warning;
    case platform::MessageIcon::kError: return QMessageBox::Critical;
    case platform::MessageIcon::kQuestion: return QMessageBox::Question;
    case platform::MessageIcon::kNone: break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

platform::MessageResult QtMessageBoxService::Show(const platform::MessageBoxRequest& request)
{
    QMessageBox box(request.ownedByMainWindow ? fOwner.data() : nullptr);
    box.setWindowTitle(QString::fromStdString(request.caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(request.text));
    box.setIcon(IconOf(request.icon));

    QMessageBox::StandardButton first = QMessageBox::Ok;
    QMessageBox::StandardButton escape = QMessageBox::Ok;
    QMessageBox::StandardButton second = QMessageBox::Ok;
    switch (request.buttons) {
    case platform::MessageButtons::kOk:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case platform::MessageButtons::kOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        escape = second = QMessageBox::Cancel;
        break;
    case platform::MessageButtons::kYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        first = QMessageBox::Yes;
        escape = second = QMessageBox::No;
        break;
    case platform::MessageButtons::kYesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        first = QMessageBox::Yes;
        escape = QMessageBox::Cancel;
        second = QMessageBox::No;
        break;
    }
    box.setDefaultButton(request.secondButtonDefault ? second : first);
    box.setEscapeButton(escape);

    switch (box.exec()) {
    case QMessageBox::Yes: return platform::MessageResult::kYes;
    case QMessageBox::No: return platform::MessageResult::kNo;
    case QMessageBox::Cancel: return platform::MessageResult::kCancel;
    case QMessageBox::Ok: return platform::MessageResult::kOk;
    default: break;
    }
    // Closed some other way: the answer Escape would give.
    switch (escape) {
    case QMessageBox::No: return platform::MessageResult::kNo;
    case QMessageBox::Cancel: return platform::MessageResult::kCancel;
    default: return platform::MessageResult::kOk;
    }
}

} // namespace ui

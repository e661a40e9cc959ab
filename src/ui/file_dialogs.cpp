#include "ui/file_dialogs.h"

#include <QFileDialog>

namespace ui {

QString QtFileDialogs::ChooseFolder(QWidget* owner, const QString& title)
{
    return QFileDialog::getExistingDirectory(owner, title);
}

QString QtFileDialogs::ChooseSaveFile(QWidget* owner, const QString& title)
{
    QFileDialog dialog(owner, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter("DNG (*.dng)");
    dialog.setDefaultSuffix("dng");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace ui

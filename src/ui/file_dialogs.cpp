#include "ui/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>

namespace ui {

QString QtFileDialogs::ChooseFolder(QWidget* owner, const QString& title)
{
    return QFileDialog::getExistingDirectory(owner, title);
}

QString QtFileDialogs::ChooseSaveFile(QWidget* owner, const QString& title, const QString& proposed)
{
    QFileDialog dialog(owner, title);
    if (!proposed.isEmpty()) {
        const QFileInfo file(proposed);
        dialog.setDirectory(file.absolutePath());
        dialog.selectFile(file.fileName());
    }
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter("DNG (*.dng)");
    dialog.setDefaultSuffix("dng");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace ui

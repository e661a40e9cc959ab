// The folder chooser and the save dialog of the main window, behind an interface that tests
// answer.
#pragma once

#include <QString>

class QWidget;

namespace ui {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen folder, empty when cancelled.
    virtual QString ChooseFolder(QWidget* owner, const QString& title) = 0;
    // The chosen file (".dng" added when no suffix was typed), empty when cancelled. The dialog
    // opens in the proposed file's folder with its name filled in, asks before overwriting and
    // accepts only a path whose folder exists.
    virtual QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& proposed) = 0;
};

class QtFileDialogs : public FileDialogs {
public:
    QString ChooseFolder(QWidget* owner, const QString& title) override;
    QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& proposed) override;
};

} // namespace ui

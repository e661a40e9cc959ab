// The explorer on the left of the main window: a tree of folders (tvExplore) and the DNG files of
// the folder chosen in it (lvExplore), each list item keeping its full path.
#pragma once

#include <QFileIconProvider>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

class QFileSystemModel;
class QListWidget;
class QModelIndex;
class QTreeView;

namespace Ui {
class Explorer;
}

namespace ui {

class Explorer : public QWidget {
    Q_OBJECT

public:
    explicit Explorer(QWidget* parent = nullptr);
    ~Explorer() override;

    // Shows the tree from the file-system root with the home folder opened and chosen, and lists
    // the home folder's photos (as if the user had clicked it).
    void Start();
    // Chooses a folder in the tree and lists its photos, as a click on it does.
    void ShowFolder(const QString& folder);

    // Full paths of the selected photos, in list order.
    QStringList SelectedPaths() const;
    // Puts back an earlier selection (paths not listed are ignored); emits nothing. The keyboard's
    // row goes back to where a key or mouse move being told started, else to the first path.
    void SelectPaths(const QStringList& paths);
    // Empties the selection; emits nothing.
    void ClearSelection();
    // Full paths of every listed photo, in list order.
    QStringList ListedPaths() const;

    QTreeView* Tree() const;
    QListWidget* List() const;

signals:
    // A folder was chosen in the tree; the file list now shows its photos, none selected.
    void folderClicked();
    // The selection of the file list changed (mouse, keyboard or assistive technology); a key or
    // mouse event that changed it is told once, after the list has handled it in full.
    void photoSelectionChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tvExploreCurrentChanged(const QModelIndex& current);
    void tvExploreClick(const QModelIndex& index);
    void lvExploreSelectionChanged();
    void lvExploreInputHandled();
    void FillFileList(const QString& folder);
    void KeepChosenFolderInSight();

    std::unique_ptr<Ui::Explorer> fUi;
    QFileSystemModel* fFolders = nullptr; // owned by this widget
    QFileIconProvider fIcons;
    QTimer fScrollToChosen;
    bool fListedByCurrentChange = false; // the press that made a node current has listed it
    bool fQuiet = false;                 // selection changes made by the program itself
    bool fSelectionMoved = false;        // the key or mouse event being handled changed the selection
};

} // namespace ui

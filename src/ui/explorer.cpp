#include "ui/explorer.h"

#include "ui/logic/photo_listing.h"
#include "ui/photo_list.h"
#include "ui/wait_cursor.h"
#include "ui_explorer.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QTreeView>

#include <algorithm>
#include <utility>

namespace ui {
namespace {

constexpr int kPathRole = Qt::UserRole;

} // namespace

Explorer::Explorer(QWidget* parent) : QWidget(parent), fUi(std::make_unique<Ui::Explorer>())
{
    fUi->setupUi(this);
    fFolders = new QFileSystemModel(this);
    fFolders->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    fFolders->setReadOnly(true);
    fFolders->setIconProvider(&fIcons);
    fUi->tvExplore->setModel(fFolders);
    for (int column = 1; column < fFolders->columnCount(); ++column) fUi->tvExplore->hideColumn(column);
    fUi->spExplore->setStretchFactor(0, 1);
    fUi->spExplore->setStretchFactor(1, 1);

    connect(fUi->tvExplore->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { tvExploreCurrentChanged(current); });
    // Folders are read in the background and their rows arrive a little after they are loaded: keep
    // the chosen folder in sight while its parents fill in.
    fScrollToChosen.setSingleShot(true);
    fScrollToChosen.setInterval(100);
    connect(&fScrollToChosen, &QTimer::timeout, this, [this] { KeepChosenFolderInSight(); });
    connect(fFolders, &QFileSystemModel::directoryLoaded, this, [this](const QString& folder) {
        if (fFolders->filePath(fUi->tvExplore->currentIndex()).startsWith(folder)) fScrollToChosen.start();
    });
    connect(fUi->tvExplore, &QTreeView::clicked, this, [this](const QModelIndex& index) { tvExploreClick(index); });
    connect(fUi->lvExplore->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { lvExploreSelectionChanged(); });
    connect(fUi->lvExplore, &PhotoList::inputHandled, this, [this] { lvExploreInputHandled(); });
}

// The model's reading thread uses the icon provider, a member: the model goes first.
Explorer::~Explorer() { delete fFolders; }

QTreeView* Explorer::Tree() const { return fUi->tvExplore; }
QListWidget* Explorer::List() const { return fUi->lvExplore; }

void Explorer::Start()
{
    fFolders->setRootPath(QDir::rootPath());
    ShowFolder(QDir::homePath());
}

void Explorer::ShowFolder(const QString& folder)
{
    const QModelIndex index = fFolders->index(QDir(folder).absolutePath());
    if (!index.isValid()) return;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) fUi->tvExplore->expand(up);
    fUi->tvExplore->expand(index);
    if (fUi->tvExplore->currentIndex() == index) {
        FillFileList(fFolders->filePath(index));
        emit folderClicked();
    } else {
        fUi->tvExplore->setCurrentIndex(index);
    }
    fListedByCurrentChange = false;
    fUi->tvExplore->scrollTo(index);
}

// Chosen before the window had its size (or while it is being shown), the folder is brought into
// sight once the window is up.
void Explorer::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    fScrollToChosen.start();
}

void Explorer::KeepChosenFolderInSight()
{
    const QModelIndex current = fUi->tvExplore->currentIndex();
    if (current.isValid()) fUi->tvExplore->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

// Mouse and keyboard both make a node current; either way its photos are listed.
void Explorer::tvExploreCurrentChanged(const QModelIndex& current)
{
    if (!current.isValid()) return;
    FillFileList(fFolders->filePath(current));
    fListedByCurrentChange = true;
    emit folderClicked();
}

// A click on the folder that is already chosen lists it again (its files may have changed).
void Explorer::tvExploreClick(const QModelIndex& index)
{
    const bool listed = fListedByCurrentChange;
    fListedByCurrentChange = false;
    if (listed || !index.isValid()) return;
    FillFileList(fFolders->filePath(index));
    emit folderClicked();
}

void Explorer::FillFileList(const QString& folder)
{
    const WaitCursor wait;
    const bool quiet = std::exchange(fQuiet, true);
    fUi->lvExplore->clear();
    // Regular files only: reading a pipe or a device named like a photo would block.
    QFileInfoList photos;
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::Files))
        if (entry.isFile() && IsDngFileName(entry.fileName().toStdString())) photos.append(entry);
    std::sort(photos.begin(), photos.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return NaturalLess(a.fileName().toStdString(), b.fileName().toStdString());
    });
    for (const QFileInfo& photo : photos) {
        auto* item = new QListWidgetItem(fIcons.icon(photo), photo.fileName(), fUi->lvExplore);
        item->setData(kPathRole, photo.filePath());
    }
    fQuiet = quiet;
}

// A change made by the view's key or mouse handling is told once that handling is over: the view
// may select the same move twice, and whatever the answer puts back must not be moved again.
void Explorer::lvExploreSelectionChanged()
{
    if (fQuiet) return;
    if (fUi->lvExplore->HandlingInput())
        fSelectionMoved = true;
    else
        emit photoSelectionChanged();
}

void Explorer::lvExploreInputHandled()
{
    if (std::exchange(fSelectionMoved, false)) emit photoSelectionChanged();
}

QStringList Explorer::SelectedPaths() const
{
    QStringList paths;
    for (int row = 0; row < fUi->lvExplore->count(); ++row) {
        const QListWidgetItem* item = fUi->lvExplore->item(row);
        if (item->isSelected()) paths.append(item->data(kPathRole).toString());
    }
    return paths;
}

QStringList Explorer::ListedPaths() const
{
    QStringList paths;
    for (int row = 0; row < fUi->lvExplore->count(); ++row)
        paths.append(fUi->lvExplore->item(row)->data(kPathRole).toString());
    return paths;
}

void Explorer::SelectPaths(const QStringList& paths)
{
    const bool quiet = std::exchange(fQuiet, true);
    QItemSelectionModel* selection = fUi->lvExplore->selectionModel();
    selection->clearSelection();
    QModelIndex current = fUi->lvExplore->MoveStart();
    for (int row = 0; row < fUi->lvExplore->count(); ++row) {
        QListWidgetItem* item = fUi->lvExplore->item(row);
        if (!paths.contains(item->data(kPathRole).toString())) continue;
        const QModelIndex index = fUi->lvExplore->model()->index(row, 0);
        selection->select(index, QItemSelectionModel::Select);
        if (!current.isValid()) current = index;
    }
    if (current.isValid()) fUi->lvExplore->SetKeyboardRow(current);
    fQuiet = quiet;
}

void Explorer::ClearSelection()
{
    const bool quiet = std::exchange(fQuiet, true);
    fUi->lvExplore->selectionModel()->clearSelection();
    fQuiet = quiet;
}

} // namespace ui

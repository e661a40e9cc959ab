#include "ui/explorer.h"
#include "ui/logic/photo_listing.h"

#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(PhotoListing, DngNamesInAnyCaseAndNaturalOrder)
{
    struct NameCase { const char* name; bool dng; };
    for (const NameCase& c : {NameCase{"a.dng", true}, {"A.DNG", true}, {"x.DnG", true}, {".dng", true},
                              {"dng", false}, {"a.dng.bak", false}, {"a.tif", false}, {"a.dngx", false},
                              {"a.ng", false}, {"a dng", false}})
        EXPECT_EQ(ui::IsDngFileName(c.name), c.dng) << c.name;

    struct OrderCase { const char* a; const char* b; bool less; };
    for (const OrderCase& c : {OrderCase{"img2.dng", "img10.dng", true}, {"img10.dng", "img2.dng", false},
                               {"a.dng", "B.dng", true}, {"B.dng", "a.dng", false}, {"img", "img1", true},
                               {"img007", "img7", true}, {"img7", "img007", false}, {"x", "x", false},
                               {"99999999999999999999999", "100000000000000000000000", true}})
        EXPECT_EQ(ui::NaturalLess(c.a, c.b), c.less) << c.a << " < " << c.b;
}

TEST(Explorer, ListsRegularDngFilesAndKeepsTheSelectionQuietWhenTheProgramSetsIt)
{
    QTemporaryDir dir;
    for (const char* name : {"img10.dng", "c.tif", "b.dng", "A.DNG", "d.dng.bak", "img2.dng"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.dng"));
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath("pipe.dng")).constData(), 0600), 0);

    ui::Explorer explorer;
    QSignalSpy folders(&explorer, &ui::Explorer::folderClicked);
    QSignalSpy selections(&explorer, &ui::Explorer::photoSelectionChanged);
    explorer.ShowFolder(dir.path());
    const QStringList listed{dir.filePath("A.DNG"), dir.filePath("b.dng"), dir.filePath("img2.dng"),
                             dir.filePath("img10.dng")};
    EXPECT_EQ(explorer.ListedPaths(), listed);
    EXPECT_EQ(folders.count(), 1);

    // A selection made through the list's selection model (as keyboard and accessibility do) is reported.
    QItemSelectionModel* model = explorer.List()->selectionModel();
    model->select(explorer.List()->model()->index(3, 0), QItemSelectionModel::Select);
    model->select(explorer.List()->model()->index(1, 0), QItemSelectionModel::Select);
    EXPECT_EQ(selections.count(), 2);
    EXPECT_EQ(explorer.SelectedPaths(), (QStringList{listed[1], listed[3]}));

    explorer.ClearSelection();
    EXPECT_TRUE(explorer.SelectedPaths().isEmpty());
    explorer.SelectPaths({listed[2], listed[0], dir.filePath("c.tif")});
    EXPECT_EQ(explorer.SelectedPaths(), (QStringList{listed[0], listed[2]}));
    EXPECT_EQ(selections.count(), 2);

    // Choosing the same folder again lists it afresh, with nothing selected.
    explorer.ShowFolder(dir.path());
    EXPECT_EQ(folders.count(), 2);
    EXPECT_TRUE(explorer.SelectedPaths().isEmpty());
    EXPECT_EQ(selections.count(), 2);
}

TEST(Explorer, StartsWithTheHomeFolderChosen)
{
    ui::Explorer explorer;
    QSignalSpy folders(&explorer, &ui::Explorer::folderClicked);
    explorer.Start();
    const QModelIndex current = explorer.Tree()->currentIndex();
    ASSERT_TRUE(current.isValid());
    EXPECT_EQ(current.data(QFileSystemModel::FilePathRole).toString(), QDir::homePath());
    EXPECT_TRUE(explorer.Tree()->isExpanded(current.parent()));
    EXPECT_EQ(folders.count(), 1);
}

} // namespace

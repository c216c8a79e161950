#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QImage>
#include <QListView>
#include <QMenu>
#include <QRegularExpression>
#include <QTreeView>

#include "ViewsFixture.h"
#include "ui/MarkerImages.h"
#include "ui/NameOrder.h"

namespace kv::test {
namespace {

QImage ImageOf(const QIcon& icon) {
    const QList<QSize> sizes = icon.availableSizes();
    return icon.pixmap(sizes.isEmpty() ? QSize(28, 16) : sizes.front()).toImage();
}

class ViewsTest : public ViewsFixture {
protected:
    void SetUp() override {
        Make({"b/", "B2/", "a/inner/", "a/empty/", "c.txt", "A.txt", "b.bin"});
        Start();
    }
};

TEST_F(ViewsTest, TheOneDriveRootIsSlashAtLevelZero) {
    const std::vector<NodeRef> roots = driveView->TopLevelNodes();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(driveView->NodePath(roots[0]), "/");
    EXPECT_EQ(driveView->Level(roots[0]), 0);
    EXPECT_FALSE(driveView->Parent(roots[0]));
    EXPECT_TRUE(driveView->HasChildren(roots[0]));
}

TEST_F(ViewsTest, FoldersLoadWhenExpandedAndRaiseTheExpandedEventEachTime) {
    ASSERT_TRUE(driveView->SelectPath(root));
    ui::TFolderItem* item = Item(root);
    ASSERT_NE(item, nullptr);
    const NodeRef node = ui::TDriveView::Ref(item);
    EXPECT_EQ(driveView->NodePath(node), root);
    EXPECT_EQ(driveView->Level(node), static_cast<int>(std::count(root.begin(), root.end(), '/')));

    int events = 0;
    std::vector<NodeRef> expanded;
    driveView->SetExpandedHandler([&](NodeRef n) {
        expanded.push_back(n);
        ++events;
    });
    item->setExpanded(false);
    driveView->ExpandToOwnLevel(node);
    EXPECT_EQ(events, 1);
    driveView->ExpandToOwnLevel(node);
    EXPECT_EQ(events, 1) << "already expanded";
    EXPECT_EQ(expanded.front(), node);

    // Subfolders only, by name without case.
    ASSERT_EQ(driveView->ChildCount(node), 3);
    EXPECT_EQ(driveView->NodePath(driveView->Child(node, 0)), P("a"));
    EXPECT_EQ(driveView->NodePath(driveView->Child(node, 1)), P("b"));
    EXPECT_EQ(driveView->NodePath(driveView->Child(node, 2)), P("B2"));
    EXPECT_EQ(driveView->Position(driveView->Child(node, 2)), 2);
    EXPECT_EQ(driveView->Parent(driveView->Child(node, 2)), node);
    EXPECT_FALSE(driveView->Child(node, 3));

    // "a" is not read before it is expanded; its empty child has no children.
    const NodeRef a = driveView->Child(node, 0);
    EXPECT_EQ(driveView->ChildCount(a), 0);
    EXPECT_TRUE(driveView->HasChildren(a));
    Item(P("a"))->setExpanded(true);
    EXPECT_EQ(events, 2);
    EXPECT_EQ(expanded.back(), a);
    ASSERT_EQ(driveView->ChildCount(a), 2);
    const NodeRef empty = driveView->Child(a, 0);
    Item(P("a/empty"))->setExpanded(true);
    EXPECT_FALSE(driveView->HasChildren(empty));

    // Expanding to its own level collapses the children.
    driveView->ExpandToOwnLevel(node);
    EXPECT_FALSE(Item(P("a"))->isExpanded());
}

TEST_F(ViewsTest, ListShowsParentEntryThenTreeSubfoldersThenFiles) {
    int filled = 0;
    dirView->SetFilledHandler([&] { ++filled; });
    ASSERT_TRUE(driveView->SelectPath(root));
    EXPECT_GE(filled, 1);
    EXPECT_EQ(dirView->CurrentFolder(), root);
    std::vector<std::string> captions;
    for (int i = 0; i < dirView->Count(); ++i)
        captions.push_back(dirView->Caption(i));
    EXPECT_EQ(captions,
              (std::vector<std::string>{"..", "a", "b", "B2", "A.txt", "b.bin", "c.txt"}));

    QAbstractItemModelTester tester(dirView->Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    dirView->Refill();
    EXPECT_EQ(dirView->Count(), 7);
}

TEST_F(ViewsTest, ListBelowTheRootHasNoParentEntry) {
    ASSERT_TRUE(driveView->SelectPath("/"));
    ASSERT_GT(dirView->Count(), 0);
    EXPECT_NE(dirView->Caption(0), "..");
    const NodeRef rootNode = driveView->TopLevelNodes()[0];
    EXPECT_EQ(dirView->Caption(0), driveView->NodePath(driveView->Child(rootNode, 0)).substr(1));
}

TEST_F(ViewsTest, SelectedEntriesComeInListOrder) {
    ASSERT_TRUE(driveView->SelectPath(root));
    dirView->SelectPositions({5, 1, 3});
    EXPECT_EQ(dirView->SelectedPositions(), (std::vector<int>{1, 3, 5}));
    dirView->SetStyle(ViewStyle::Report);
    EXPECT_EQ(dirView->SelectedPositions(), (std::vector<int>{1, 3, 5})) << "kept across styles";
}

TEST_F(ViewsTest, MarkersChangeTheDrawnIcons) {
    ASSERT_TRUE(driveView->SelectPath(root));
    const NodeRef node = ui::TDriveView::Ref(Item(root));
    std::vector<QImage> images;
    for (int marker : {-1, 1, 2, 3}) {
        driveView->SetMarker(node, marker);
        EXPECT_EQ(driveView->Marker(node), marker);
        images.push_back(ImageOf(Item(root)->icon(0)));
        dirView->SetMarker(1, marker);
        EXPECT_EQ(dirView->Marker(1), marker);
    }
    for (std::size_t i = 0; i < images.size(); ++i)
        for (std::size_t j = i + 1; j < images.size(); ++j)
            EXPECT_NE(images[i], images[j]) << i << " " << j;
    const QVariant decoration =
        dirView->Model()->data(dirView->Model()->index(1, 0), Qt::DecorationRole);
    EXPECT_EQ(ImageOf(decoration.value<QIcon>()), images.back())
        << "list and tree draw the same marked folder";
}

TEST_F(ViewsTest, MarkerImagesAreFourTenPixelImagesWithZeroRepeatingOne) {
    const ui::TMarkerImages& images = ui::TMarkerImages::Instance();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(images.Image(i).size(), QSize(10, 10));
    EXPECT_EQ(images.Image(0).toImage(), images.Image(1).toImage());
    EXPECT_NE(images.Image(1).toImage(), images.Image(3).toImage());
    EXPECT_TRUE(images.Image(-1).isNull());
    EXPECT_TRUE(images.Image(4).isNull());
    // The ReadOnly image has green in it (the letter), the Custom one none.
    const auto hasGreen = [](const QImage& img) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.alpha() > 128 && c.green() > 100 && c.red() < 80)
                    return true;
            }
        return false;
    };
    EXPECT_TRUE(hasGreen(images.Image(1).toImage()));
    EXPECT_FALSE(hasGreen(images.Image(3).toImage()));
}

TEST_F(ViewsTest, FourViewStylesAndTheReportColumns) {
    ASSERT_TRUE(driveView->SelectPath(root));
    EXPECT_EQ(dirView->Style(), ViewStyle::List);
    EXPECT_EQ(dirView->ListWidget()->flow(), QListView::TopToBottom);
    dirView->SetStyle(ViewStyle::Icons);
    EXPECT_EQ(dirView->ListWidget()->viewMode(), QListView::IconMode);
    EXPECT_EQ(dirView->CurrentView(), dirView->ListWidget());
    dirView->SetStyle(ViewStyle::SmallIcons);
    EXPECT_EQ(dirView->ListWidget()->flow(), QListView::LeftToRight);
    EXPECT_EQ(dirView->ListWidget()->iconSize().height(), 16);
    dirView->SetStyle(ViewStyle::Report);
    EXPECT_EQ(dirView->CurrentView(), dirView->ReportWidget());
    QHeaderView* header = dirView->ReportWidget()->header();
    EXPECT_EQ(header->sectionSize(ui::TDirModel::kName), 110);
    EXPECT_EQ(header->sectionSize(ui::TDirModel::kType), 110);
    EXPECT_EQ(header->sectionSize(ui::TDirModel::kAttributes), 35);
    const QString when =
        dirView->Model()->index(ListPosition("c.txt"), ui::TDirModel::kModified).data().toString();
    EXPECT_TRUE(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(when).hasMatch())
        << when.toStdString();
    EXPECT_EQ(dirView->Model()->index(ListPosition("c.txt"), ui::TDirModel::kType).data(),
              "TXT File");
    EXPECT_EQ(dirView->Model()->index(ListPosition("a"), ui::TDirModel::kType).data(),
              "File Folder");
}

TEST_F(ViewsTest, ListCellsFitTheWidestCaptionNotTheFirst) {
    const std::string longName = "a-rather-long-file-name-for-the-list.txt";
    Make({longName});
    ASSERT_TRUE(driveView->SelectPath(root));
    const int needed =
        dirView->ListWidget()->fontMetrics().horizontalAdvance(QString::fromStdString(longName));
    for (ViewStyle style : {ViewStyle::List, ViewStyle::SmallIcons}) {
        dirView->SetStyle(style);
        EXPECT_GT(dirView->ListWidget()->gridSize().width(), needed);
    }
}

TEST_F(ViewsTest, IconCaptionsShowShortNamesWholeAndCutLongOnesInTheMiddle) {
    const std::string longName = "a-rather-long-file-name-for-the-icon-view-of-this-folder.txt";
    Make({"byann.txt", longName});
    ASSERT_TRUE(driveView->SelectPath(root));
    dirView->SetStyle(ViewStyle::Icons);
    dirView->resize(600, 400);
    dirView->show();
    QListView* list = dirView->ListWidget();
    list->doItemsLayout();
    const QFontMetrics metrics(list->font());
    // The first entry (".." or a short folder) sets no width for the others.
    const QRect shortCell = list->visualRect(dirView->Model()->index(ListPosition("byann.txt"), 0));
    EXPECT_GE(shortCell.width(), metrics.horizontalAdvance("byann.txt"));
    const QRect longCell = list->visualRect(dirView->Model()->index(ListPosition(longName), 0));
    EXPECT_LE(longCell.width(), list->gridSize().width());
    EXPECT_LE(longCell.height(), list->gridSize().height());
    // A long name keeps its end, where the type is told.
    EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle);
    for (const QModelIndex& index :
         {dirView->Model()->index(0, 0), dirView->Model()->index(ListPosition("byann.txt"), 0)}) {
        EXPECT_TRUE(list->viewport()->rect().intersects(list->visualRect(index)));
    }
}

TEST_F(ViewsTest, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string folder = "caf\xe9";
    const std::string file = "r\xe9sum\xe9.txt";
    Make({folder + "/" + file});
    ASSERT_TRUE(driveView->SelectPath(P(folder)));
    EXPECT_EQ(dirView->CurrentFolder(), P(folder));
    ASSERT_EQ(dirView->Count(), 2);
    EXPECT_EQ(dirView->Caption(1), file);
    store.WriteInteger(K(folder + "/" + file), 6);
    controller->UserGroupsChange();
    EXPECT_EQ(dirView->Marker(1), 2);
}

TEST_F(ViewsTest, RightClickPopsUpTheSuppliedMenus) {
    ASSERT_TRUE(driveView->SelectPath(root));
    QMenu listMenu;
    listMenu.addAction("x");
    QMenu treeMenu;
    treeMenu.addAction("y");
    dirView->SetContextMenu(&listMenu);
    driveView->SetContextMenu(&treeMenu);
    emit dirView->ListWidget()->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(listMenu.isVisible());
    listMenu.hide();
    emit driveView->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(treeMenu.isVisible());
    treeMenu.hide();
}

TEST_F(ViewsTest, ActivatingAFolderEntryOpensItInTheTree) {
    ASSERT_TRUE(driveView->SelectPath(root));
    emit dirView->ListWidget()->activated(dirView->Model()->index(ListPosition("b"), 0));
    EXPECT_EQ(dirView->CurrentFolder(), P("b"));
    emit dirView->ListWidget()->activated(dirView->Model()->index(0, 0));
    EXPECT_EQ(dirView->CurrentFolder(), root);
}

TEST_F(ViewsTest, FocusIsReportedForTheFocusedViewOnly) {
    ASSERT_TRUE(driveView->SelectPath(root));
    driveView->setFocus();
    EXPECT_TRUE(driveView->HasFocus());
    EXPECT_FALSE(dirView->HasFocus());
    dirView->FocusList();
    EXPECT_TRUE(dirView->HasFocus());
    EXPECT_FALSE(driveView->HasFocus());
    dirView->SetStyle(ViewStyle::Report);
    EXPECT_TRUE(dirView->HasFocus()) << "the focus follows the style's widget";
}

TEST(NameOrderTest, LettersWithoutCaseThenBytes) {
    EXPECT_TRUE(ui::NameLess("a", "B"));
    EXPECT_TRUE(ui::NameLess("B", "b"));
    EXPECT_FALSE(ui::NameLess("b", "B"));
    EXPECT_TRUE(ui::NameLess("ab", "abc"));
    EXPECT_FALSE(ui::NameLess("x", "x"));
}

}  // namespace
}  // namespace kv::test

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <set>

#include "tests/support/TempDir.h"
#include "ui/AppIcons.h"
#include "ui/DialogLook.h"
#include "ui/FocusHighlight.h"
#include "ui/HelpViewer.h"
#include "ui/ImageList1.h"
#include "ui/KeyboardMenu.h"
#include "ui/MarkerImages.h"
#include "ui/PaintedIcon.h"
#include "ui/Placement.h"
#include "ui/TrayIcon.h"

namespace kv::ui {
namespace {

// --- Placement (no widgets) ---------------------------------------------

TEST(Placement, TheFirstWindowIsSizedForItsScreen) {
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 1024, 768)), QSize(768, 576));
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 2560, 1440)), QSize(1920, 1080));
    // Never below the designed size while the screen holds it, never above the screen.
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 800, 480)), QSize(729, 444));
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 640, 400)), QSize(640, 400));
    EXPECT_EQ(FirstWindowSize(QRect()), QSize(729, 444));
}

TEST(Placement, TheFirstWindowLeavesRoomForItsFrame) {
    // 1280 x 800 at twice the scale, less a task bar of 28: the client area
    // and the frame around it (title 30, borders 4) are on screen.
    const QRect small(0, 0, 640, 372);
    const QRect client = FirstWindowPlace(small, 30, 4);
    EXPECT_EQ(client, QRect(4, 30, 632, 338));
    // On a large screen: three quarters of it, centred with its frame.
    const QRect large(0, 0, 1280, 772);
    const QRect wide = FirstWindowPlace(large, 30, 4);
    EXPECT_TRUE(large.contains(wide.adjusted(-4, -30, 4, 4)));
    EXPECT_EQ(wide.size(), FirstWindowSize(large.adjusted(4, 30, -4, -4)));
    EXPECT_EQ(FirstWindowPlace(QRect(), 30, 4), QRect(0, 0, 729, 444));
}

TEST(Placement, AFrameThatDoesNotFitIsBroughtInside) {
    const QRect screen(0, 0, 1024, 768);
    const QRect fits(100, 50, 700, 500);
    EXPECT_EQ(FitToScreen(fits, screen), fits);
    // Stored on a larger screen: shrunk to this one and moved in.
    EXPECT_EQ(FitToScreen(QRect(300, 200, 1900, 1000), screen), screen);
    // Past the right and bottom edges, and on a screen that is gone to the left.
    EXPECT_EQ(FitToScreen(QRect(900, 700, 400, 300), screen), QRect(624, 468, 400, 300));
    EXPECT_EQ(FitToScreen(QRect(-1500, -20, 400, 300), screen), QRect(0, 0, 400, 300));
    // A second screen beside the first, with a panel at its top.
    const QRect right(1920, 32, 1280, 992);
    EXPECT_EQ(FitToScreen(QRect(100, 100, 800, 600), right), QRect(1920, 100, 800, 600));
    EXPECT_EQ(FitToScreen(QRect(2000, 0, 800, 1200), right), QRect(2000, 32, 800, 992));
    EXPECT_EQ(FitToScreen(fits, QRect()), fits);
}

TEST(Placement, TitleWidthLeavesRoomForTheTitleBarButtons) {
    EXPECT_GT(TitleWidth(200, 16), 200 + 3 * 16);
    EXPECT_LT(TitleWidth(200, 16), TitleWidth(200, 32));
    EXPECT_LT(TitleWidth(200, 16), TitleWidth(300, 16));
}

TEST(Placement, ADialogOpensCentredOnItsOwnerWithItsTitleBarOnScreen) {
    const QRect screen(0, 0, 1280, 800);
    const QRect owner(200, 100, 800, 600);
    QRect r = DialogPlace({300, 100}, owner, screen, 24, 4);
    EXPECT_EQ(r.size(), QSize(300, 100));
    EXPECT_LE(std::abs(r.center().x() - owner.center().x()), 1);
    EXPECT_LE(std::abs(r.center().y() - 12 - owner.center().y()), 12);
    // An owner in the screen's corner: the title bar stays on the screen.
    r = DialogPlace({300, 100}, QRect(0, 0, 120, 60), screen, 24, 4);
    EXPECT_GE(r.top(), 24);
    EXPECT_GE(r.left(), 4);
    // No owner: the middle of the screen.
    r = DialogPlace({300, 100}, QRect(), screen, 24, 4);
    EXPECT_LE(std::abs(r.center().x() - screen.center().x()), 1);
}

// --- Dialogs -------------------------------------------------------------

TEST(DialogLook, ADialogOpensCentredOnItsParentWithItsTitleBarOnScreen) {
    TDialogLook::Install();
    QWidget owner;
    owner.setGeometry(300, 200, 600, 400);
    owner.show();
    QDialog dialog(&owner);
    dialog.resize(200, 80);
    dialog.setWindowTitle("Move user \"root\" to a group");
    dialog.show();
    const QPoint offset = dialog.geometry().center() - owner.frameGeometry().center();
    EXPECT_LE(std::abs(offset.x()), 2);
    EXPECT_LE(std::abs(offset.y()), dialog.fontMetrics().height() * 2);

    // Under a parent in the screen's top-left corner the title bar still shows.
    owner.setGeometry(0, 0, 100, 50);
    QDialog corner(&owner);
    corner.resize(200, 80);
    corner.setWindowTitle("Move user \"root\" to a group");
    corner.show();
    const QRect screen = corner.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(corner.frameGeometry()));
    EXPECT_GT(corner.geometry().top(), screen.top());
    EXPECT_GT(corner.geometry().left(), screen.left());
}

TEST(DialogLook, AShownDialogIsWideEnoughForItsTitleAndInsideTheScreen) {
    TDialogLook::Install();
    TDialogLook::Install();  // once only
    QDialog dialog;
    dialog.setFixedSize(250, 100);
    dialog.setWindowTitle("Custom Protection Options for \"/home/alice/Documents/Letters\"");
    dialog.show();
    QFont bold = dialog.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int needed =
        TitleWidth(metrics.horizontalAdvance(dialog.windowTitle()), metrics.height());
    EXPECT_GE(dialog.width(), needed);
    const QRect screen = dialog.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(dialog.frameGeometry())) << dialog.frameGeometry().x();

    // A longer title set while it is shown widens it again, never past the screen.
    dialog.setWindowTitle(QString(400, 'W'));
    QApplication::processEvents();
    EXPECT_LE(dialog.frameGeometry().width(), screen.width());
    EXPECT_GT(dialog.width(), needed);
    EXPECT_TRUE(screen.contains(dialog.frameGeometry()));
}

TEST(DialogLook, AMessageBoxThatSizesItselfAsItShowsIsCentredAndOnScreen) {
    TDialogLook::Install();
    QWidget owner;
    const QRect screen = owner.screen()->availableGeometry();
    owner.setGeometry(screen.adjusted(20, 20, -20, -20));
    owner.show();
    // A message box lays its text out when it shows, after the filter saw it.
    QStringList lines;
    for (int i = 0; i < 20; ++i)
        lines << QString("Line %1 of a long message about a damaged settings file").arg(i);
    QMessageBox box(QMessageBox::Warning, "Kestrava", lines.join("\n"), QMessageBox::Ok, &owner);
    box.show();
    QApplication::processEvents();
    EXPECT_TRUE(screen.contains(box.frameGeometry()))
        << box.frameGeometry().y() << "+" << box.frameGeometry().height();
    const QPoint offset = box.geometry().center() - owner.frameGeometry().center();
    EXPECT_LE(std::abs(offset.x()), 2);
    EXPECT_LE(std::abs(offset.y()), box.fontMetrics().height() * 2);
}

TEST(DialogLook, AWindowLargerThanTheScreenIsFittedIntoIt) {
    QWidget window;
    const QRect screen = window.screen()->availableGeometry();
    window.resize(screen.width() + 500, screen.height() + 300);
    window.move(screen.right() - 100, screen.bottom() - 100);
    window.show();
    FitWindowToScreen(window);
    EXPECT_TRUE(screen.contains(window.frameGeometry()));
}

// --- Keyboard context menus ---------------------------------------------

TEST(KeyboardMenu, MenuKeyAndShiftF10PopUpTheMenuUnderTheCurrentItem) {
    QTreeWidget tree;
    for (const char* name : {"one", "two", "three"})
        tree.addTopLevelItem(new QTreeWidgetItem(QStringList{name}));
    QMenu menu;
    menu.addAction("Item");
    new TKeyboardMenu(&tree, &menu);
    tree.resize(300, 200);
    tree.show();
    tree.setCurrentItem(tree.topLevelItem(1));
    const QRect item = tree.visualItemRect(tree.topLevelItem(1));

    QTest::keyClick(&tree, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(menu.isVisible());
    const QPoint at = tree.viewport()->mapFromGlobal(menu.pos());
    EXPECT_GE(at.y(), item.top());
    EXPECT_LE(at.y(), item.bottom() + 1);
    menu.hide();

    QTest::keyClick(&tree, Qt::Key_Menu);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
    // F10 alone and other keys are the tree's.
    QTest::keyClick(&tree, Qt::Key_F10);
    QTest::keyClick(&tree, Qt::Key_Down);
    EXPECT_FALSE(menu.isVisible());
    EXPECT_EQ(tree.currentItem(), tree.topLevelItem(2));
}

// --- Help viewer ---------------------------------------------------------

class HelpViewerTest : public ::testing::Test {
protected:
    HelpViewerTest() {
        QString html =
            "<html><body><h1><a name=\"Contents\"></a>Help</h1>"
            "<p><a href=\"#Second\">second</a> <a href=\"https://example.org/x\">web</a>"
            "</p>";
        for (const char* topic : {"First", "Second", "Third"}) {
            html += QString("<h2><a name=\"%1\"></a>%1</h2>").arg(topic);
            for (int i = 0; i < 80; ++i)
                html += QString("<p>%1 line %2</p>").arg(topic).arg(i);
        }
        html += "</body></html>";
        QFile file(QString::fromStdString(dir.File("help.html")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(html.toUtf8());
    }

    test::TempDir dir;
    std::vector<QUrl> opened;
};

TEST_F(HelpViewerTest, OpensAtTheTopicWithBackAndForward) {
    THelpViewer viewer(QString::fromStdString(dir.File("help.html")),
                       [this](const QUrl& url) { opened.push_back(url); });
    ASSERT_TRUE(viewer.ShowTopic("Second"));
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.Browser()->source().fragment(), "Second");
    QApplication::processEvents();
    const int second = viewer.Browser()->verticalScrollBar()->value();
    EXPECT_GT(second, 0) << "scrolled to the anchor";

    ASSERT_TRUE(viewer.ShowTopic("Third"));
    QApplication::processEvents();
    EXPECT_GT(viewer.Browser()->verticalScrollBar()->value(), second);
    EXPECT_TRUE(viewer.BackAction()->isEnabled());
    EXPECT_FALSE(viewer.ForwardAction()->isEnabled());
    viewer.BackAction()->trigger();
    EXPECT_EQ(viewer.Browser()->source().fragment(), "Second");
    EXPECT_TRUE(viewer.ForwardAction()->isEnabled());
    viewer.ForwardAction()->trigger();
    EXPECT_EQ(viewer.Browser()->source().fragment(), "Third");

    viewer.ContentsAction()->trigger();
    QApplication::processEvents();
    EXPECT_EQ(viewer.Browser()->verticalScrollBar()->value(), 0);

    // A link into the help stays in the viewer; a web link goes to the desktop.
    emit viewer.Browser()->anchorClicked(QUrl("#First"));
    EXPECT_EQ(viewer.Browser()->source().fragment(), "First");
    emit viewer.Browser()->anchorClicked(QUrl("https://example.org/x"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "https://example.org/x");
    EXPECT_EQ(viewer.Browser()->source().fragment(), "First");
}

TEST_F(HelpViewerTest, OpensWithItsFrameInsideTheScreenAndCentredOnItsOwner) {
    QWidget owner;
    const QRect available = owner.screen()->availableGeometry();
    owner.setGeometry(available.adjusted(40, 40, -40, -40));
    owner.show();
    auto* viewer = new THelpViewer(QString::fromStdString(dir.File("help.html")), {}, &owner);
    // Larger than the screen, as a stored size from a larger screen would be.
    viewer->resize(available.size() + QSize(200, 200));
    // The frame the window manager will add, as assumed before it is known.
    const QMargins frame = AssumedFrame(*viewer);
    EXPECT_GT(frame.top(), frame.left());
    ASSERT_TRUE(viewer->ShowTopic("First"));
    const QRect framed = viewer->geometry().marginsAdded(frame);
    EXPECT_TRUE(available.contains(framed))
        << framed.x() << "," << framed.y() << " " << framed.width() << "x" << framed.height();
    EXPECT_EQ(framed.center(), owner.frameGeometry().center());
}

TEST_F(HelpViewerTest, AMissingHelpFileIsReported) {
    THelpViewer viewer(QString::fromStdString(dir.File("none.html")), {});
    EXPECT_FALSE(viewer.ShowTopic("Second"));
    EXPECT_FALSE(viewer.isVisible());
}

TEST(HelpFile, CoversEveryTopicTheProgramOpens) {
    QFile file(KV_HELP_FILE);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    std::set<QString> anchors;
    const QRegularExpression name("<a name=\"([^\"]+)\"");
    for (auto it = name.globalMatch(html); it.hasNext();)
        anchors.insert(it.next().captured(1));
    for (const char* topic : {"Contents", "Topic70", "Topic140", "Topic150", "Topic160", "Topic200",
                              "MainWindow", "Groups", "Protection", "TestStart", "ProgramOptions",
                              "Password", "Tray", "CommandLine", "Keyboard"}) {
        EXPECT_TRUE(anchors.count(topic)) << topic;
    }
    // Every link inside the help leads to an anchor that exists.
    const QRegularExpression link("href=\"#([^\"]+)\"");
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const QString target = it.next().captured(1);
        EXPECT_TRUE(anchors.count(target)) << target.toStdString();
    }
    EXPECT_TRUE(html.contains("Unknown User"));
}

// --- Pictures ------------------------------------------------------------

QImage At(const QIcon& icon, int size, double ratio, QIcon::Mode mode = QIcon::Normal) {
    return icon.pixmap(QSize(size, size), ratio, mode).toImage();
}

int Opaque(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).alpha() > 128;
    return count;
}

TEST(Pictures, OurIconsArePaintedAtTheScaleTheyAreShownAt) {
    for (int index : {kImgGroup, kImgUser, kImgUnknownUser, kImgReadOnly, kImgFull, kImgCustom,
                      kImgProgramOptions}) {
        const QIcon icon = ImageList1(index);
        const QImage one = At(icon, 20, 1.0);
        const QImage two = At(icon, 20, 2.0);
        EXPECT_EQ(one.size(), QSize(20, 20)) << index;
        EXPECT_EQ(two.size(), QSize(40, 40)) << index;
        // Drawn at 40 pixels, not 20 pixels blown up: four times the ink, and
        // not a copy of the small picture scaled.
        EXPECT_NEAR(Opaque(two), 4 * Opaque(one), Opaque(one)) << index;
        EXPECT_NE(two, one.scaled(40, 40)) << index;
        EXPECT_NE(At(icon, 20, 1.0, QIcon::Disabled), one) << index;
    }
}

TEST(Pictures, MarkersAreEmblemsOverTheItemsIcon) {
    const QIcon folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    const TMarkerImages& images = TMarkerImages::Instance();
    EXPECT_EQ(TMarkerImages::MarkedWidth(16), 16);
    const QImage plain = At(folder, 32, 1.0);
    std::vector<QImage> marked;
    for (int marker : {1, 2, 3}) {
        const QImage image = At(images.Marked(folder, 32, marker), 32, 1.0);
        EXPECT_EQ(image.size(), QSize(32, 32));
        // The upper left quarter is the folder's; the emblem covers the lower right.
        EXPECT_EQ(image.copy(0, 0, 12, 12), plain.copy(0, 0, 12, 12)) << marker;
        EXPECT_NE(image.copy(16, 16, 16, 16), plain.copy(16, 16, 16, 16)) << marker;
        marked.push_back(image);
    }
    EXPECT_NE(marked[0], marked[1]);
    EXPECT_NE(marked[1], marked[2]);
    EXPECT_NE(marked[0], marked[2]);
    EXPECT_EQ(At(images.Marked(folder, 32, -1), 32, 1.0), plain);
    // At twice the scale the emblem is drawn twice as large, not blown up.
    EXPECT_EQ(At(images.Marked(folder, 16, 2), 16, 2.0).size(), QSize(32, 32));
}

// Pixels where two pictures clearly differ.
int Differing(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            count += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                         std::abs(p.blue() - q.blue()) >
                     150;
        }
    return count;
}

// How many columns `a` changes against `plain`.
int ChangedColumns(const QImage& a, const QImage& plain) {
    int first = a.width(), last = -1;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = plain.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                    std::abs(p.blue() - q.blue()) + std::abs(p.alpha() - q.alpha()) >
                60) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    return last < first ? 0 : last - first + 1;
}

TEST(Pictures, AtOneTimesTheReadOnlySignIsToldFromTheEmptyRing) {
    // The tree and the lists show 16-pixel icons: at 1x the emblem needs room
    // enough for the R to read, not a blot inside a ring like the Custom one.
    const QIcon folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    const TMarkerImages& images = TMarkerImages::Instance();
    const QImage plain = At(folder, 16, 1.0);
    const QImage readOnly = At(images.Marked(folder, 16, 1), 16, 1.0);
    const QImage custom = At(images.Marked(folder, 16, 3), 16, 1.0);
    EXPECT_GE(ChangedColumns(custom, plain), 12);
    EXPECT_GE(ChangedColumns(readOnly, plain), 12);
    // At 2x four times the pixels tell them apart; at 1x at least a third as many.
    const int atTwo = Differing(At(images.Marked(folder, 16, 1), 16, 2.0),
                                At(images.Marked(folder, 16, 3), 16, 2.0));
    EXPECT_GE(3 * Differing(readOnly, custom), atTwo);
    // Larger icons keep the emblem's share; the folder's top left stays its own.
    EXPECT_EQ(TMarkerImages::EmblemSide(32), 20);
    EXPECT_LE(TMarkerImages::EmblemSide(16), 13);
}

TEST(Pictures, AFocusedListWithoutSelectionFramesItsCurrentItemPlainly) {
    QListView view;
    QStandardItemModel model;
    for (const char* name : {"bin", "boot", "dev"})
        model.appendRow(new QStandardItem(name));
    view.setModel(&model);
    TFocusHighlight::Attach(&view);
    view.resize(200, 120);
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    view.setFocus();
    view.selectionModel()->setCurrentIndex(model.index(0, 0), QItemSelectionModel::NoUpdate);
    ASSERT_TRUE(view.selectionModel()->selectedIndexes().isEmpty());
    const QRect cell = view.visualRect(model.index(0, 0));
    const QColor highlight = view.palette().color(QPalette::Active, QPalette::Highlight);
    auto framed = [&] {
        const QImage image = view.viewport()->grab().toImage();
        int count = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                count += image.pixelColor(x, y) == highlight;
        return count;
    };
    // The frame runs around the whole cell.
    EXPECT_GE(framed(), cell.width() + cell.height());
    view.clearFocus();
    EXPECT_EQ(framed(), 0) << "no frame without the focus";
}

TEST(Pictures, TheTrayShowsWhetherProtectionIsOnAndKeepsItsTooltip) {
    TRxTrayIcon tray(nullptr);
    const QImage off = At(tray.Icon().icon(), 22, 1.0);
    EXPECT_FALSE(tray.Protected());
    tray.SetProtected(true);
    EXPECT_TRUE(tray.Protected());
    const QImage on = At(tray.Icon().icon(), 22, 1.0);
    EXPECT_NE(on, off);
    EXPECT_EQ(tray.Icon().toolTip(), "Kestrava");
    tray.SetProtected(false);
    EXPECT_EQ(At(tray.Icon().icon(), 22, 1.0), off);
    EXPECT_EQ(tray.Icon().toolTip(), "Kestrava");
    EXPECT_FALSE(ApplicationIcon().isNull());
    EXPECT_NE(At(ApplicationIcon(), 22, 1.0), on);
}

}  // namespace
}  // namespace kv::ui

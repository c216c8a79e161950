#include <QListView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "tests/app/WindowFixture.h"
#include "ui/DirView.h"
#include "ui/DriveView.h"
#include "ui/FocusHighlight.h"
#include "ui/PrincipalTreeView.h"

namespace kv {
namespace {

class KeyboardFocus : public test::WindowFixture {
protected:
    KeyboardFocus() : store_(dir_.File("kv.dat"), true) {}
    TEncriptor store_;
};

QColor Highlight(const QWidget* view) {
    return view->palette().color(QPalette::Active, QPalette::Highlight);
}

TEST_F(KeyboardFocus, OnlyTheFocusedPaneDrawsItsSelectionPlainly) {
    auto w = Make(store_);
    ShowActive(*w);
    QWidget* panes[] = {w->UserGroups(), w->DriveView1(), w->DirView1()->CurrentView()};
    const QColor muted = ui::TFocusHighlight::UnfocusedHighlight(w->palette());
    for (QWidget* focused : panes) {
        focused->setFocus();
        ASSERT_TRUE(focused->hasFocus());
        for (QWidget* pane : panes) {
            if (pane == focused)
                EXPECT_NE(Highlight(pane), muted) << pane->objectName().toStdString();
            else
                EXPECT_EQ(Highlight(pane), muted) << pane->objectName().toStdString();
        }
    }
}

TEST_F(KeyboardFocus, F6MovesBetweenThePanesAndToolbarButtonsAreNoTabStops) {
    auto w = Make(store_);
    ShowActive(*w);
    w->UserGroups()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_TRUE(w->DriveView1()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_TRUE(w->DirView1()->CurrentView()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_TRUE(w->UserGroups()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(w->DirView1()->CurrentView()->hasFocus());

    for (QToolButton* button : w->ToolBar1()->findChildren<QToolButton*>())
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << button->objectName().toStdString();
    // Tab from the file list reaches a pane, never a toolbar button.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(qobject_cast<QToolButton*>(QApplication::focusWidget()), nullptr);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST_F(KeyboardFocus, ProtectionButtonsNameTheirKeysAndTheViewMenuMarksTheStyle) {
    auto w = Make(store_);
    EXPECT_EQ(w->ToolButton("ToolButton20")->toolTip(), "Start File System Protection (F9)");
    EXPECT_EQ(w->ToolButton("ToolButton18")->toolTip(), "Test File System Protection (F8)");
    EXPECT_EQ(w->ToolButton("ToolButton19")->toolTip(), "Stop File System Protection (F7)");
    EXPECT_TRUE(w->Action("cmdList")->isChecked());
    w->Action("cmdReport")->trigger();
    EXPECT_TRUE(w->Action("cmdReport")->isChecked());
    EXPECT_FALSE(w->Action("cmdList")->isChecked());
    w->ToolButton("btnIcons")->click();
    EXPECT_TRUE(w->Action("cmdicon")->isChecked());
    EXPECT_FALSE(w->Action("cmdReport")->isChecked());
}

}  // namespace
}  // namespace kv

#include <QCheckBox>
#include <QEnterEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>

#include "../rules/RulesFixture.h"
#include "rules/Schema.h"
#include "rules/forms/CoolLabel.h"
#include "rules/forms/OptForm.h"

namespace kv::test {
namespace {

using Keys = std::map<std::string, std::string>;

/// Runs the real form without a modal loop: loads it, lets the script look at
/// it and close it with keys or buttons, and reports what it collected.
class FormDriver : public IOptionsDialogRunner {
public:
    using Script = std::function<void(TOptForm&)>;
    void Queue(Script script) { scripts_.push_back(std::move(script)); }
    bool Run(const OptionsDialogState& state, OptionsFields* result) override {
        TOptForm form(nullptr, [this](const std::string& topic) { helpTopics.push_back(topic); });
        form.LoadOptions(state);
        form.show();
        Script script = std::move(scripts_.front());
        scripts_.pop_front();
        script(form);
        if (form.result() != QDialog::Accepted)
            return false;
        *result = form.Collect();
        return true;
    }
    std::vector<std::string> helpTopics;

private:
    std::deque<Script> scripts_;
};

template <typename W>
W* Find(TOptForm& form, const char* name) {
    W* widget = form.findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

std::vector<std::string> CheckedBoxes(TOptForm& form) {
    std::vector<std::string> names;
    for (const MaskBit& bit : kMaskBits)
        if (form.Box(bit.box)->isChecked())
            names.emplace_back(bit.box);
    return names;
}

class OptFormTest : public ::testing::Test {
protected:
    OptFormTest()
        : f(PathStyle::Posix(), "/"),
          options(RulesContext{f.store, f.principals, f.tree, f.list, f.style}, f.modified,
                  driver) {
        f.tree.AddPath("data/sub");
    }
    RulesFixture f;
    FormDriver driver;
    TProtectionOptions options;
};

TEST_F(OptFormTest, InitialFormHoldsEveryControlWithItsCaption) {
    TOptForm form;
    EXPECT_EQ(form.windowTitle(), "Protection Settings");
    auto* pages = Find<QTabWidget>(form, "PageControl1");
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->tabText(0), "General");
    EXPECT_EQ(qobject_cast<QScrollArea*>(pages->widget(0))->widget()->objectName(), "GeneralOpt");
    EXPECT_EQ(pages->tabText(1), "File Operations");
    EXPECT_EQ(qobject_cast<QScrollArea*>(pages->widget(1))->widget()->objectName(), "FileOper");
    // 1280 x 800 at twice the scale leaves about 632 x 340 inside the frame:
    // the pages scroll, the buttons below them stay in sight.
    EXPECT_LE(form.minimumSizeHint().height(), 340);
    EXPECT_LE(form.minimumSizeHint().width(), 632);
    EXPECT_EQ(Find<QLineEdit>(form, "IncFiles")->text(), "*");
    EXPECT_EQ(Find<QLineEdit>(form, "ExFiles")->text(), "");
    EXPECT_EQ(Find<QLineEdit>(form, "Proc")->text(), "*");
    EXPECT_EQ(Find<QLineEdit>(form, "ExProc")->text(), "");
    EXPECT_TRUE(Find<QCheckBox>(form, "SubFolders")->isChecked());
    EXPECT_EQ(Find<QCheckBox>(form, "SubFolders")->text(), "Include Subfolders");
    EXPECT_EQ(Find<QCheckBox>(form, "SetDefault")->text(), "Set as Default Custom Settings");
    EXPECT_FALSE(Find<QCheckBox>(form, "SetDefault")->isChecked());
    EXPECT_EQ(Find<QPushButton>(form, "HelpButton")->text(), "Help");
    EXPECT_EQ(Find<QPushButton>(form, "OKButton")->text(), "OK");
    EXPECT_EQ(Find<QPushButton>(form, "CancelButton")->text(), "Cancel");
    EXPECT_EQ(Find<QLabel>(form, "CoolLabel1")->text(),
              "Set pattern of proccesses to include in the \"black\" list of processes (set * "
              "for all proccesses ) :");
    EXPECT_EQ(Find<QLabel>(form, "CoolLabel3")->text(),
              "Set pattern of folders (files) you want to include to the \"black\" list :");
    for (const MaskBit& bit : kMaskBits) {
        QCheckBox* box = Find<QCheckBox>(form, std::string(bit.box).c_str());
        EXPECT_EQ(box->text().toStdString(), bit.caption);
        EXPECT_FALSE(box->isChecked());
    }
}

TEST_F(OptFormTest, NineteenBoxesInFiveFramedGroups) {
    TOptForm form;
    const std::vector<std::vector<std::string>> groups{
        {"Full"},
        {"List"},
        {"Read", "Write", "Open", "Rename", "DeleteF", "Cr", "Replace"},
        {"Dir_Create", "Dir_Delete"},
        {"Attr_Get", "Time_Get_C", "Time_Get_M", "Time_Get_A", "Attr_Set", "Time_Set_C",
         "Time_Set_M", "Time_Set_A"}};
    int boxes = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const QString name = QString("GroupBox%1").arg(g + 1);
        auto* group = form.findChild<QGroupBox*>(name);
        ASSERT_NE(group, nullptr);
        for (const std::string& box : groups[g]) {
            EXPECT_EQ(form.Box(box)->parentWidget(), group) << box;
            ++boxes;
        }
    }
    EXPECT_EQ(boxes, 19);
    form.findChild<QTabWidget*>("PageControl1")->setCurrentIndex(1);
    form.show();
    QApplication::processEvents();
    // Retrieve boxes left, change boxes right, in the same rows.
    EXPECT_LT(form.Box("Time_Get_C")->x(), form.Box("Time_Set_C")->x());
}

TEST_F(OptFormTest, GeneralPageTabOrderReachesTheButtons) {
    TOptForm form;
    form.show();
    QWidget* w = Find<QLineEdit>(form, "IncFiles");
    std::vector<std::string> order;
    for (int i = 0; i < 9; ++i) {
        order.push_back(w->objectName().toStdString());
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible());
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"IncFiles", "ExFiles", "Proc", "ExProc", "SubFolders",
                                        "SetDefault", "HelpButton", "OKButton", "CancelButton"}));
    // A modal dialog: a title and a close button, nothing to minimise or maximise.
    EXPECT_EQ(form.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

TEST_F(OptFormTest, ModeOneShowsTheReadOnlyBoxesLockedAndEnterStoresTheDefaults) {
    driver.Queue([](TOptForm& form) {
        EXPECT_EQ(form.windowTitle(), "ReadOnly Protection Options");
        EXPECT_EQ(CheckedBoxes(form),
                  (std::vector<std::string>{"Rename", "DeleteF", "Cr", "Replace", "Dir_Delete",
                                            "Dir_Create", "Time_Set_A", "Time_Set_C", "Time_Set_M",
                                            "Attr_Set"}));
        for (const MaskBit& bit : kMaskBits)
            EXPECT_FALSE(form.Box(bit.box)->isEnabled()) << bit.box;
        EXPECT_TRUE(form.Box("SubFolders")->isEnabled());
        EXPECT_TRUE(form.findChild<QLineEdit*>("IncFiles")->isEnabled());
        EXPECT_TRUE(form.Box("SetDefault")->isHidden());
        QTest::mouseClick(form.findChild<QPushButton*>("HelpButton"), Qt::LeftButton);
        auto* proc = form.findChild<QLineEdit*>("Proc");
        proc->setText("a.exe");
        QTest::keyClick(proc, Qt::Key_Return);
    });
    EXPECT_TRUE(options.EditProtectionOptions(1));
    EXPECT_EQ(driver.helpTopics, (std::vector<std::string>{"Topic140"}));
    EXPECT_EQ(f.store.ReadString("Processes_1", ""), "a.exe");
    EXPECT_EQ(f.store.ReadString("IncludeFiles_1", ""), "*");
    EXPECT_EQ(f.store.ReadString("dwOperation_1", "none"), "none");
}

TEST_F(OptFormTest, ModeTwoLocksFilePatternsAndSubfolders) {
    f.store.WriteString("ExcludeFiles_2", "keep");
    driver.Queue([](TOptForm& form) {
        EXPECT_EQ(form.windowTitle(), "Full Protection Options");
        EXPECT_EQ(CheckedBoxes(form), (std::vector<std::string>{"Full"}));
        EXPECT_FALSE(form.Box("SubFolders")->isEnabled());
        EXPECT_FALSE(form.findChild<QLineEdit*>("IncFiles")->isEnabled());
        EXPECT_FALSE(form.findChild<QLineEdit*>("ExFiles")->isEnabled());
        EXPECT_FALSE(form.CoolLabel(3)->isEnabled());
        EXPECT_FALSE(form.CoolLabel(4)->isEnabled());
        EXPECT_TRUE(form.CoolLabel(1)->isEnabled());
        EXPECT_TRUE(form.findChild<QLineEdit*>("ExProc")->isEnabled());
        form.findChild<QLineEdit*>("ExProc")->setText("safe.exe");
        QTest::mouseClick(form.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    });
    EXPECT_TRUE(options.EditProtectionOptions(2));
    EXPECT_EQ(f.store.ReadString("ExcludeProc_2", ""), "safe.exe");
    EXPECT_EQ(f.store.ReadString("ExcludeFiles_2", ""), "keep");
    EXPECT_EQ(f.store.ReadString("SubFolders_2", ""), "1");
}

TEST_F(OptFormTest, ModeThreeStoresTheCheckedBoxesAsTheDefaultMask) {
    f.store.WriteInteger("dwOperation_3", 0x4);
    driver.Queue([](TOptForm& form) {
        EXPECT_EQ(form.windowTitle(), "Default Custom Protection Options");
        EXPECT_EQ(CheckedBoxes(form), (std::vector<std::string>{"Open"}));
        EXPECT_TRUE(form.Box("Open")->isEnabled());
        form.Box("Write")->setChecked(true);
        form.Box("Open")->setChecked(false);
        QTest::keyClick(form.Box("Write"), Qt::Key_Enter);
    });
    EXPECT_TRUE(options.EditProtectionOptions(3));
    EXPECT_EQ(f.store.ReadInteger("dwOperation_3", 0), 0x80);
}

TEST_F(OptFormTest, ModeFourSetDefaultStoresTheFolderAndTheDefaults) {
    f.store.WriteInteger("u_Bob_P_/data", 3);
    f.controller.UserGroupsChange();
    f.SelectInTree("/data");
    driver.Queue([](TOptForm& form) {
        EXPECT_EQ(form.windowTitle(), "Custom Protection Options for \"/data\"");
        EXPECT_FALSE(form.Box("SetDefault")->isHidden());
        form.Box("SetDefault")->setChecked(true);
        form.Box("Rename")->setChecked(true);
        form.findChild<QLineEdit*>("IncFiles")->setText("*.doc");
        QTest::mouseClick(form.CoolLabel(2), Qt::LeftButton);
        QTest::mouseClick(form.findChild<QPushButton*>("HelpButton"), Qt::LeftButton);
        QTest::keyClick(form.findChild<QLineEdit*>("ExProc"), Qt::Key_Return);
    });
    EXPECT_TRUE(options.EditProtectionOptions(3));
    EXPECT_EQ(driver.helpTopics, (std::vector<std::string>{"Topic200", "Topic160"}));
    EXPECT_EQ(f.store.ReadInteger("u_Bob_P_/data", 0), 3);
    EXPECT_EQ(f.store.ReadString("u_Bob_P_/data_IncludeFiles", ""), "*.doc");
    EXPECT_EQ(f.store.ReadInteger("u_Bob_P_/data_dwOperation", 0), 0x10);
    EXPECT_EQ(f.store.ReadString("IncludeFiles_3", ""), "*.doc");
    EXPECT_EQ(f.store.ReadInteger("dwOperation_3", 0), 0x10);
}

TEST_F(OptFormTest, ALongPathIsCutInTheTitlesMiddleAndShownInFullInside) {
    std::string deep = "/data";
    for (int i = 0; i < 30; ++i)
        deep += "/folder" + std::to_string(i);
    f.tree.AddPath(deep.substr(1));
    f.store.WriteInteger("u_Bob_P_" + deep, 3);
    f.controller.UserGroupsChange();
    f.SelectInTree(deep);
    driver.Queue([deep](TOptForm& form) {
        const QString title = form.windowTitle();
        EXPECT_TRUE(title.startsWith("Custom Protection Options for \"/data/folder0"))
            << title.toStdString();
        EXPECT_TRUE(title.endsWith("folder29\"")) << title.toStdString();
        EXPECT_TRUE(title.contains(QChar(0x2026))) << title.toStdString();
        // Short enough that the dialog can be as wide as its title.
        EXPECT_LE(form.fontMetrics().horizontalAdvance(title),
                  form.screen()->availableGeometry().width());
        ASSERT_NE(form.ItemPathLabel(), nullptr);
        EXPECT_FALSE(form.ItemPathLabel()->isHidden());
        EXPECT_EQ(form.ItemPathLabel()->text().toStdString(), "Folder: " + deep);
        QTest::keyClick(&form, Qt::Key_Escape);
    });
    EXPECT_FALSE(options.EditProtectionOptions(3));
}

TEST_F(OptFormTest, ModeSevenHidesSetDefault) {
    f.store.WriteInteger("u_Bob_P_/data/f.txt", 7);
    f.store.WriteString("u_Bob_P_/data/f.txt_Processes", "mine.exe");
    f.OpenInList("/data", {"f.txt"});
    f.list.Select({"f.txt"});
    driver.Queue([](TOptForm& form) {
        EXPECT_EQ(form.windowTitle(), "Custom Protection Options for \"/data/f.txt\"");
        EXPECT_TRUE(form.Box("SetDefault")->isHidden());
        EXPECT_EQ(form.findChild<QLineEdit*>("Proc")->text(), "mine.exe");
        QTest::keyClick(&form, Qt::Key_Escape);
    });
    EXPECT_FALSE(options.EditProtectionOptions(3));
    EXPECT_FALSE(f.modified.Get());
}

TEST_F(OptFormTest, EscapeAndCancelStoreNothing) {
    for (int i = 0; i < 2; ++i) {
        driver.Queue([i](TOptForm& form) {
            form.findChild<QLineEdit*>("Proc")->setText("changed");
            if (i == 0)
                QTest::keyClick(form.findChild<QLineEdit*>("Proc"), Qt::Key_Escape);
            else
                QTest::mouseClick(form.findChild<QPushButton*>("CancelButton"), Qt::LeftButton);
        });
        EXPECT_FALSE(options.EditProtectionOptions(3));
    }
    EXPECT_EQ(f.store.ReadString("Processes_3", "none"), "none");
}

TEST(CoolLabelTest, UnderlinedAndBlueWhileHoveredThenBack) {
    TCoolLabel label("caption");
    label.show();
    EXPECT_EQ(label.cursor().shape(), Qt::WhatsThisCursor);
    EXPECT_EQ(label.TextColor(), QColor(Qt::black));
    EXPECT_FALSE(label.Underlined());
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&label, &enter);
    EXPECT_TRUE(label.Underlined());
    EXPECT_EQ(label.TextColor(), QColor(Qt::blue));
    int clicks = 0;
    QObject::connect(&label, &TCoolLabel::clicked, [&] { ++clicks; });
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&label, &leave);
    EXPECT_FALSE(label.Underlined());
    EXPECT_EQ(label.TextColor(), QColor(Qt::black));
}

}  // namespace
}  // namespace kv::test

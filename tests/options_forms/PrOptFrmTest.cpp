#include "options/forms/PrOptFrm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include "options/forms/HotKeyField.h"
#include "options/forms/OptionsForms.h"
#include "tests/access/AccessFakes.h"
#include "tests/access_forms/ModalScript.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::RecordingPrompts;
using test::WhenModal;

template <typename T>
T* Child(QWidget* form, const char* name) {
    T* child = form->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

class PrOptFrmTest : public ::testing::Test {
protected:
    PrOptFrmTest() {
        hooks.automaticProtection = [this] { return menuChecked; };
        hooks.setAutomaticProtection = [this](bool c) { menuChecked = c; };
        hooks.applyAutostart = [this](bool c) { autostartApplied.push_back(c); };
        hooks.applyHotKey = [this](std::uint16_t code) { hotKeys.push_back(code); };
        hooks.saveKnownUsers = [] {};
        hooks.applyBootKeysPolicy = [this](bool on) { boot.push_back(on); };
        hooks.applyMsDosModePolicy = [this](bool on) { msdos.push_back(on); };
        owner.resize(600, 600);
    }
    std::string OnDisk(const char* name) {
        TEncriptor reread(dir.File("kv.dat"), true);
        return reread.ReadString(name, "<none>");
    }
    bool Run() { return cmdPrOptExecute(store, prompts, modified, hooks, &owner); }

    test::TempDir dir;
    TEncriptor store{dir.File("kv.dat"), true};
    RecordingPrompts prompts;
    TModifiedFlag modified;
    ProgramOptionsHooks hooks;
    bool menuChecked = true;
    std::vector<bool> autostartApplied, boot, msdos;
    std::vector<std::uint16_t> hotKeys;
    QWidget owner;
};

TEST_F(PrOptFrmTest, FormHasItsControlsAndTexts) {
    TPrOptFrmLogic logic(store, prompts, modified, hooks);
    TPrOptFrm form(logic);
    EXPECT_EQ(form.objectName(), "PrOptFrm");
    EXPECT_EQ(form.windowTitle(), "Program Options");
    EXPECT_EQ(form.size(), QSize(400, 489));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "Define the administrator password to secure an access to program settings"},
        {"Label2", "Enter Password :"},
        {"Label3", "Confirm Password :"},
        {"Label4", "Define Hot Keys to show the settings window :"},
        {"Label5",
         "For better security protection you need to modify some options in the system \n"
         "file MSDOS.SYS and Windows Registry , since Kestrava can't \n"
         "start in MS-DOS Mode. \n"
         "Set Boot Protection - disables the F5, F6 and F8  interruption keys when \n"
         "Windows boots. \n"
         "Disable MS-DOS prompt - allows you to disable the use of the MS-DOS \n"
         "command prompt in Windows."}};
    for (const auto& [name, text] : labels)
        EXPECT_EQ(Child<QLabel>(&form, name)->text(), text) << name;
    auto* label5 = Child<QLabel>(&form, "Label5");
    for (const QString& line : label5->text().split('\n'))
        EXPECT_LE(QFontMetrics(label5->font()).horizontalAdvance(line), label5->width())
            << line.toStdString();

    const std::pair<const char*, const char*> boxes[] = {
        {"CheckBox1", "Use a char mask to show password"},
        {"DisableBOOT", "Set Boot Protection"},
        {"DisableMSDOS", "Disable MS-DOS prompt "},
        {"Auto", "Automatic files protection after Windows starting"},
        {"Mini", "Minimize to the Tray Bar after Windows starting"}};
    for (const auto& [name, text] : boxes) {
        auto* box = Child<QCheckBox>(&form, name);
        EXPECT_EQ(box->text(), text) << name;
        EXPECT_TRUE(box->isChecked()) << name;
    }
    for (const char* name : {"Password", "Confirm"}) {
        auto* field = Child<QLineEdit>(&form, name);
        EXPECT_EQ(field->echoMode(), QLineEdit::Password) << name;
        EXPECT_EQ(field->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, field),
                  '*');
    }
    EXPECT_FALSE(Child<QLabel>(&form, "Image1")->pixmap().isNull());
    EXPECT_NE(Child<THotKeyField>(&form, "HotKey1"), nullptr);
    EXPECT_EQ(Child<QPushButton>(&form, "OKButton")->text(), "OK");
    EXPECT_EQ(Child<QPushButton>(&form, "CNCLButton")->text(), "Cancel");

    int panels = 0;
    for (QFrame* frame : form.findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
        if (frame->frameShape() == QFrame::Panel) {
            ++panels;
            EXPECT_TRUE(form.rect().contains(frame->geometry()))
                << frame->objectName().toStdString();
        }
    }
    EXPECT_EQ(panels, 5);
    // The password panel holds its fields, the hardening panel its boxes.
    EXPECT_EQ(Child<QLineEdit>(&form, "Confirm")->parentWidget(),
              Child<QCheckBox>(&form, "CheckBox1")->parentWidget());
    EXPECT_EQ(Child<QCheckBox>(&form, "DisableBOOT")->parentWidget(),
              Child<QLabel>(&form, "Label5")->parentWidget());
}

struct Press {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    std::uint16_t code;
    const char* text;
};

TEST_F(PrOptFrmTest, HotKeyFieldAddsAltToAKeyAloneOrWithShift) {
    THotKeyField field;
    field.SetCode(0x4041);
    EXPECT_EQ(field.text(), "Ctrl+A");
    const Press presses[] = {
        {Qt::Key_A, Qt::NoModifier, 0x8041, "Alt+A"},
        {Qt::Key_A, Qt::ShiftModifier, 0xA041, "Shift+Alt+A"},
        {Qt::Key_F5, Qt::ControlModifier, 0x4074, "Ctrl+F5"},
        {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, 0xE05A,
         "Shift+Ctrl+Alt+Z"},
        {Qt::Key_Shift, Qt::ShiftModifier, 0xE05A, "Shift+Ctrl+Alt+Z"},  // a modifier alone
        {Qt::Key_7, Qt::KeypadModifier, 0x8037, "Alt+7"},
        {Qt::Key_PageDown, Qt::AltModifier, 0x8022, "Alt+PgDn"},
        {Qt::Key_Delete, Qt::ControlModifier, 0x402E, "Ctrl+Del"},
        {Qt::Key_Print, Qt::ControlModifier, 0x402E, "Ctrl+Del"},  // no hot key has it
        {Qt::Key_Backspace, Qt::NoModifier, 0, "None"},
        {Qt::Key_F24, Qt::NoModifier, 0x8087, "Alt+F24"},
        {Qt::Key_Tab, Qt::ControlModifier, 0x4009, "Ctrl+Tab"},
    };
    for (const Press& p : presses) {
        QTest::keyClick(&field, p.key, p.mods);
        EXPECT_EQ(field.Code(), p.code) << p.text;
        EXPECT_EQ(field.text().toStdString(), p.text);
    }
}

TEST_F(PrOptFrmTest, LoadsShowsAndStoresWhatWasChosen) {
    store.WriteString("Password", "Secret");
    store.WriteBool("DisableMSDOS", false);
    store.WriteString("HotKey", "Shift+Ctrl+K");
    menuChecked = false;
    WhenModal<TPrOptFrm>([](TPrOptFrm* form) {
        EXPECT_EQ(Child<QLineEdit>(form, "Password")->text(), "Secret");
        EXPECT_FALSE(Child<QCheckBox>(form, "DisableMSDOS")->isChecked());
        EXPECT_TRUE(Child<QCheckBox>(form, "DisableBOOT")->isChecked());
        EXPECT_EQ(Child<THotKeyField>(form, "HotKey1")->text(), "Shift+Ctrl+K");
        auto* autoBox = Child<QCheckBox>(form, "Auto");
        auto* mini = Child<QCheckBox>(form, "Mini");
        EXPECT_FALSE(autoBox->isChecked());
        EXPECT_FALSE(mini->isEnabled());
        autoBox->click();
        EXPECT_TRUE(mini->isEnabled());
        mini->click();

        auto* mask = Child<QCheckBox>(form, "CheckBox1");
        mask->click();
        EXPECT_EQ(Child<QLineEdit>(form, "Password")->echoMode(), QLineEdit::Normal);
        EXPECT_EQ(Child<QLineEdit>(form, "Confirm")->echoMode(), QLineEdit::Normal);
        mask->click();
        EXPECT_EQ(Child<QLineEdit>(form, "Confirm")->echoMode(), QLineEdit::Password);

        auto* hotKey = Child<THotKeyField>(form, "HotKey1");
        QTest::keyClick(hotKey, Qt::Key_Q);
        QTest::keyClicks(Child<QLineEdit>(form, "Confirm"), "Secret");
        Child<QPushButton>(form, "OKButton")->click();
    });
    EXPECT_TRUE(Run());
    EXPECT_EQ(OnDisk("HotKey"), "Alt+Q");
    EXPECT_EQ(OnDisk("Minimize"), "0");
    EXPECT_EQ(OnDisk("DisableMSDOS"), "0");
    EXPECT_EQ(OnDisk("Password"), "Secret");
    EXPECT_EQ(OnDisk("FirstTime"), "0");
    EXPECT_TRUE(menuChecked);
    EXPECT_EQ(autostartApplied, std::vector<bool>{true});
    EXPECT_EQ(boot, std::vector<bool>{true});
    EXPECT_EQ(msdos, std::vector<bool>{false});
    EXPECT_EQ(hotKeys, std::vector<std::uint16_t>{0x8051});
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].title, "Kestrava");
}

TEST_F(PrOptFrmTest, AMismatchKeepsTheFormOpenAndEscapeCancels) {
    store.WriteString("Password", "Secret");
    bool stillOpen = false;
    WhenModal<TPrOptFrm>([&](TPrOptFrm* form) {
        auto* confirm = Child<QLineEdit>(form, "Confirm");
        QTest::keyClicks(confirm, "other");  // case alone would match
        Child<QPushButton>(form, "OKButton")->click();
        stillOpen = form->isVisible();
        EXPECT_EQ(confirm->text(), "");
        // Escape in the hot key field is not a hot key: it reaches the form.
        auto* hotKey = Child<THotKeyField>(form, "HotKey1");
        hotKey->setFocus();
        QTest::keyClick(hotKey, Qt::Key_Escape);
        EXPECT_EQ(hotKey->text(), "Ctrl+Alt+K");
    });
    EXPECT_FALSE(Run());
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Please confirm the password again !");
    EXPECT_TRUE(boot.empty());
    EXPECT_EQ(OnDisk("FirstTime"), "<none>");
    EXPECT_EQ(store.ReadString("FirstTime", ""), "0");
}

TEST_F(PrOptFrmTest, EnterOnTheFormIsOkAndCancelStoresNothing) {
    WhenModal<TPrOptFrm>([](TPrOptFrm* form) { QTest::keyClick(form, Qt::Key_Return); });
    EXPECT_TRUE(Run());
    EXPECT_EQ(OnDisk("HotKey"), "Ctrl+Alt+K");
    EXPECT_EQ(OnDisk("Password"), "<none>");

    store.WriteBool("Minimize", true);
    WhenModal<TPrOptFrm>([](TPrOptFrm* form) {
        Child<QCheckBox>(form, "Mini")->click();
        Child<QPushButton>(form, "CNCLButton")->click();
    });
    EXPECT_FALSE(Run());
    EXPECT_EQ(store.ReadString("Minimize", ""), "1");
    EXPECT_EQ(prompts.shown.size(), 1u);  // only the first run's advice
}

}  // namespace
}  // namespace kv

#include "options/forms/PrOptFrm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
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

TEST_F(PrOptFrmTest, TheHardeningTextSaysWhatTheBoxesDoOnThisSystem) {
    for (bool found : {true, false}) {
        hooks.bootLoaderFound = [found] { return found; };
        TPrOptFrmLogic logic(store, prompts, modified, hooks);
        TPrOptFrm form(logic);
        const QString text = Child<QLabel>(&form, "Label5")->text();
        EXPECT_EQ(text.toStdString(), HardeningLabelText(found));
        for (const char* gone : {"Windows", "MSDOS", "MS-DOS", "F8", "Registry"})
            EXPECT_FALSE(text.contains(gone)) << gone;
        EXPECT_EQ(text.contains("no GRUB boot loader"), !found);
        EXPECT_EQ(text.count('\n'), 6) << "seven lines, as the panel was made for";
        for (QCheckBox* box : form.findChildren<QCheckBox*>())
            EXPECT_FALSE(box->text().contains("Windows") || box->text().contains("MS-DOS"))
                << box->text().toStdString();
    }
}

// 1280 x 800 at twice the scale leaves about 632 x 340 for a dialog inside
// its frame: the panels scroll, the buttons stay in sight below them.
TEST_F(PrOptFrmTest, OnALowScreenThePanelsScrollAndTheButtonsStayInSight) {
    TPrOptFrmLogic logic(store, prompts, modified, hooks);
    TPrOptFrm form(logic);
    EXPECT_LE(form.minimumHeight(), 340);
    EXPECT_LE(form.maximumWidth(), 632);
    form.show();
    form.resize(400, 300);
    QApplication::processEvents();
    EXPECT_EQ(form.height(), 300);
    auto* scroll = Child<QScrollArea>(&form, "BodyScroll");
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    // The panels keep their width beside the scroll bar.
    EXPECT_GE(scroll->viewport()->width(), Child<QWidget>(&form, "Body")->width());
    for (const char* name : {"OKButton", "CNCLButton"}) {
        auto* button = Child<QPushButton>(&form, name);
        EXPECT_TRUE(form.rect().contains(button->geometry())) << name;
        EXPECT_FALSE(scroll->geometry().intersects(button->geometry())) << name;
    }
    // Tab to the hot key at the bottom brings it into sight.
    form.activateWindow();
    Child<QWidget>(&form, "Mini")->setFocus();
    QTest::keyClick(Child<QWidget>(&form, "Mini"), Qt::Key_Tab);
    EXPECT_TRUE(Child<QWidget>(&form, "HotKey1")->hasFocus());
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
}

TEST_F(PrOptFrmTest, FormHasItsControlsAndTexts) {
    TPrOptFrmLogic logic(store, prompts, modified, hooks);
    TPrOptFrm form(logic);
    EXPECT_EQ(form.objectName(), "PrOptFrm");
    EXPECT_EQ(form.windowTitle(), "Program Options");
    EXPECT_EQ(form.size(), QSize(400, 489));
    EXPECT_EQ(form.maximumHeight(), 489);
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    const std::string hardening = HardeningLabelText(true);
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "Define the administrator password to secure an access to program settings"},
        {"Label2", "Enter Password :"},
        {"Label3", "Confirm Password :"},
        {"Label4", "Define Hot Keys to show the settings window :"},
        {"Label5", hardening.c_str()}};
    for (const auto& [name, text] : labels)
        EXPECT_EQ(Child<QLabel>(&form, name)->text(), text) << name;
    auto* label5 = Child<QLabel>(&form, "Label5");
    for (const QString& line : label5->text().split('\n'))
        EXPECT_LE(QFontMetrics(label5->font()).horizontalAdvance(line), label5->width())
            << line.toStdString();

    const std::pair<const char*, const char*> boxes[] = {
        {"CheckBox1", "Use a char mask to show password"},
        {"DisableBOOT", "Set Boot Protection"},
        {"DisableMSDOS", "Recovery modes for root only"},
        {"Auto", "Automatic files protection from the computer's start"},
        {"Mini", "Minimize to the Tray Bar after logging on"}};
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
    auto* body = Child<QWidget>(&form, "Body");
    for (QFrame* frame : body->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
        if (frame->frameShape() == QFrame::Panel) {
            ++panels;
            EXPECT_TRUE(body->rect().contains(frame->geometry()))
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

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "access/forms/AccessForms.h"
#include "access/forms/PasFrm.h"
#include "access/forms/SecUn.h"
#include "tests/access/AccessFakes.h"
#include "tests/access_forms/ModalScript.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::RecordingPrompts;
using test::TempDir;
using test::WhenModal;

QLineEdit* Field(QWidget* form, const char* name) {
    return form->findChild<QLineEdit*>(name);
}

class PasFrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.WriteString("Password", "old");
        ASSERT_TRUE(store.Flush(true));
        owner.resize(400, 300);
    }
    std::string OnDisk() {
        TEncriptor reread(dir.File("kv.dat"), true);
        return reread.ReadString("Password", "<none>");
    }
    bool Run() { return cmdPasswordExecute(store, prompts, modified, &owner); }

    TempDir dir;
    TEncriptor store{dir.File("kv.dat"), true};
    RecordingPrompts prompts;
    TModifiedFlag modified;
    QWidget owner;
};

TEST_F(PasFrmTest, FormHasItsFieldsInTabOrder) {
    TPasFrmLogic logic(prompts);
    TPasFrm form(logic);
    EXPECT_EQ(form.windowTitle(), "Administrator's Password");
    // A modal dialog: a title and a close button, nothing to minimise or maximise.
    EXPECT_EQ(form.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_GE(form.width(), 250);
    EXPECT_GE(form.height(), 156);
    EXPECT_EQ(form.findChild<QLabel*>("Label1")->text(), "Set the Administrator's Password  :");
    EXPECT_EQ(form.findChild<QLabel*>("Label2")->text(), "Confirm the password :");
    auto* mask = form.findChild<QCheckBox*>("CheckBox1");
    EXPECT_EQ(mask->text(), "Use a char mask to show password");
    EXPECT_TRUE(mask->isChecked());
    EXPECT_EQ(form.findChild<QPushButton*>("Button1")->text(), "OK");
    EXPECT_EQ(form.findChild<QPushButton*>("Button2")->text(), "Cancel");
    for (const char* name : {"Password", "Confirm"}) {
        QLineEdit* field = Field(&form, name);
        EXPECT_EQ(field->echoMode(), QLineEdit::Password) << name;
        EXPECT_EQ(field->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, field),
                  '*')
            << name;
    }
    // The mask switch follows the fields it masks, on screen and for the keyboard.
    const char* order[] = {"Password", "Confirm", "CheckBox1", "Button1", "Button2"};
    QWidget* w = form.findChild<QWidget*>(order[0]);
    for (int i = 1; i < 5; ++i) {
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(w->objectName(), order[i]);
    }
    form.show();
    int above = -1;
    for (const char* name : order) {
        const int y = form.findChild<QWidget*>(name)->geometry().top();
        EXPECT_GE(y, above) << name;
        above = y;
    }
    for (const char* name : order)
        EXPECT_TRUE(form.rect().contains(form.findChild<QWidget*>(name)->geometry())) << name;
}

TEST_F(PasFrmTest, ThePasswordSetIsUpperCaseAskedAtOnceAndSavedOnlyByFlush) {
    QString shownFirst, typedPassword, typedConfirm;
    std::vector<QLineEdit::EchoMode> echo;
    WhenModal<TPasFrm>([&](TPasFrm* form) {
        QLineEdit* password = Field(form, "Password");
        QLineEdit* confirm = Field(form, "Confirm");
        shownFirst = password->text();
        EXPECT_EQ(confirm->text(), "");
        EXPECT_EQ(form->focusWidget(), password);
        password->clear();
        QTest::keyClicks(password, "new pw");
        QTest::keyClicks(confirm, "nEw pw");
        typedPassword = password->text();
        typedConfirm = confirm->text();
        auto* mask = form->findChild<QCheckBox*>("CheckBox1");
        echo.push_back(password->echoMode());
        QTest::mouseClick(mask, Qt::LeftButton);
        echo.push_back(password->echoMode());
        echo.push_back(confirm->echoMode());
        QTest::mouseClick(mask, Qt::LeftButton);
        echo.push_back(confirm->echoMode());
        QTest::mouseClick(form->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    });
    ASSERT_TRUE(Run());
    EXPECT_EQ(shownFirst, "old");
    EXPECT_EQ(typedPassword, "NEW PW");
    EXPECT_EQ(typedConfirm, "NEW PW");
    EXPECT_EQ(echo, (std::vector<QLineEdit::EchoMode>{QLineEdit::Password, QLineEdit::Normal,
                                                      QLineEdit::Normal, QLineEdit::Password}));
    EXPECT_EQ(store.ReadString("Password", ""), "NEW PW");
    EXPECT_TRUE(modified.Get());
    EXPECT_EQ(OnDisk(), "old");

    bool asked = false;
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        asked = true;
        QTest::keyClicks(form->findChild<QLineEdit*>("Edit1"), "new pw");
        QTest::keyClick(form->findChild<QLineEdit*>("Edit1"), Qt::Key_Return);
    });
    EXPECT_EQ(RunPasswordGate(store, prompts, &owner), GateResult::Passed);
    EXPECT_TRUE(asked);

    ASSERT_TRUE(store.Flush(false));
    EXPECT_EQ(OnDisk(), "NEW PW");
}

TEST_F(PasFrmTest, AMismatchAsksAgainAndEscapeThenWritesNothing) {
    bool confirmEmptied = false;
    WhenModal<TPasFrm>([&](TPasFrm* form) {
        QTest::keyClicks(Field(form, "Confirm"), "olD");
        QTest::keyClick(Field(form, "Password"), Qt::Key_Return);
        confirmEmptied = Field(form, "Confirm")->text().isEmpty() &&
                         form->focusWidget() == Field(form, "Confirm") && form->isVisible();
        QTest::keyClick(Field(form, "Confirm"), Qt::Key_Escape);
    });
    EXPECT_FALSE(Run());
    EXPECT_TRUE(confirmEmptied);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "Please confirm the password again !");
    EXPECT_EQ(prompts.shown[0].title, "Administrator`s Password");
    EXPECT_EQ(store.ReadString("Password", ""), "old");
    EXPECT_FALSE(modified.Get());
}

TEST_F(PasFrmTest, EnterOnTheCancelButtonIsOkAndEmptyFieldsRemoveThePassword) {
    WhenModal<TPasFrm>([&](TPasFrm* form) {
        Field(form, "Password")->clear();
        auto* cancel = form->findChild<QPushButton*>("Button2");
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return);
    });
    ASSERT_TRUE(Run());
    EXPECT_EQ(store.ReadString("Password", "<none>"), "<none>");
    EXPECT_TRUE(PassPasswordGate(GateCaller::Startup, store, prompts, &owner));
}

// The command's form, lent to it, so that what its close left behind can be read.
class LentPasForm : public IPasForm {
public:
    explicit LentPasForm(TPasFrm& form) : form_(form) {}
    ModalResult ShowModal() override { return form_.ShowModal(); }
    void Close(ModalResult result) override { form_.Close(result); }
    void SetPasswordText(const std::string& text) override { form_.SetPasswordText(text); }
    std::string PasswordText() const override { return form_.PasswordText(); }
    std::string ConfirmText() const override { return form_.ConfirmText(); }
    void ClearConfirm() override { form_.ClearConfirm(); }
    void SetMasked(bool masked) override { form_.SetMasked(masked); }
    void WipeFields() override { form_.WipeFields(); }

private:
    TPasFrm& form_;
};

TEST_F(PasFrmTest, TheFieldsAreWipedWhenTheFormCloses) {
    // Closed with Enter (OK), with Escape and with the window's close box.
    const std::vector<std::function<void(TPasFrm*)>> closes = {
        [](TPasFrm* f) { QTest::keyClick(Field(f, "Confirm"), Qt::Key_Return); },
        [](TPasFrm* f) { QTest::keyClick(Field(f, "Confirm"), Qt::Key_Escape); },
        [](TPasFrm* f) { f->close(); },
    };
    for (std::size_t i = 0; i < closes.size(); ++i) {
        std::unique_ptr<TPasFrm> form;
        WhenModal<TPasFrm>([&](TPasFrm* f) {
            Field(f, "Password")->clear();
            QTest::keyClicks(Field(f, "Password"), "new");
            QTest::keyClicks(Field(f, "Confirm"), "new");
            closes[i](f);
        });
        const bool ok = kv::cmdPasswordExecute(store, modified, prompts, [&](TPasFrmLogic& logic) {
            form = std::make_unique<TPasFrm>(logic, &owner);
            return std::make_unique<LentPasForm>(*form);
        });
        EXPECT_EQ(ok, i == 0) << i;
        ASSERT_TRUE(form) << i;
        EXPECT_FALSE(form->isVisible()) << i;
        for (const char* name : {"Password", "Confirm"}) {
            EXPECT_EQ(Field(form.get(), name)->text(), "") << name << " " << i;
            EXPECT_FALSE(Field(form.get(), name)->isUndoAvailable()) << name << " " << i;
            EXPECT_FALSE(Field(form.get(), name)->isRedoAvailable()) << name << " " << i;
        }
    }
}

}  // namespace
}  // namespace kv

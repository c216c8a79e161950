#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include "access/forms/AccessForms.h"
#include "access/forms/SecUn.h"
#include "tests/access/AccessFakes.h"
#include "tests/access_forms/ModalScript.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::RecordingPrompts;
using test::TempDir;
using test::WhenModal;

QLineEdit* Edit1(QWidget* form) {
    return form->findChild<QLineEdit*>("Edit1");
}

void TypeAndEnter(QWidget* form, const QString& text) {
    QTest::keyClicks(Edit1(form), text);
    QTest::keyClick(Edit1(form), Qt::Key_Return);
}

int OpenPrompts() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += qobject_cast<TSecurFrm*>(w) && w->isVisible() ? 1 : 0;
    return count;
}

class SecurFrmTest : public ::testing::Test {
protected:
    void SetUp() override { store.WriteString("Password", "Secret"); }

    TempDir dir;
    TEncriptor store{dir.File("kv.dat"), true};
    RecordingPrompts prompts;
};

TEST_F(SecurFrmTest, FormShowsTheBorderlessPromptWithItsControls) {
    TSecurLogic logic(prompts);
    TSecurFrm form(logic);
    logic.SetForm(&form);
    EXPECT_EQ(form.windowTitle(), "Password");
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form.size(), QSize(176, 97));
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::blue));
    auto* panel = form.findChild<QFrame*>("Panel1");
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->frameShadow(), QFrame::Raised);
    auto* label = panel->findChild<QLabel*>("Label1");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Enter Password :");
    EXPECT_EQ(label->font().pixelSize(), 16);
    auto* cancel = panel->findChild<QPushButton*>("Button1");
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->text(), "Cancel");
    auto* ok = panel->findChild<QToolButton*>("SpeedButton1");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->autoRaise());
    EXPECT_EQ(ok->focusPolicy(), Qt::NoFocus);
    ASSERT_TRUE(Edit1(&form));
    EXPECT_EQ(Edit1(&form)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit1(&form)->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                               Edit1(&form)),
              '*');
}

TEST_F(SecurFrmTest, ThreeWrongEntriesRefuse) {
    std::vector<QString> fieldAfterEach;
    QString titleWhileTyping;
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        EXPECT_EQ(form->focusWidget(), Edit1(form)) << "Edit1 must be the active control";
        for (const char* text : {"secret!", " secret", "Secret "}) {
            QTest::keyClicks(Edit1(form), text);
            titleWhileTyping = form->windowTitle();
            QTest::keyClick(Edit1(form), Qt::Key_Return);
            fieldAfterEach.push_back(Edit1(form)->text());
        }
        EXPECT_FALSE(form->isVisible()) << "the third wrong entry must close the prompt";
    });
    EXPECT_EQ(RunPasswordGate(store, prompts, nullptr), GateResult::Refused);
    EXPECT_EQ(fieldAfterEach, (std::vector<QString>{"", "", ""}));
    EXPECT_EQ(titleWhileTyping, "Password");
    ASSERT_EQ(prompts.shown.size(), 3u);
    EXPECT_EQ(prompts.shown[0].text, "The Password is wrong !");
    EXPECT_EQ(prompts.shown[0].title, "Error");
    EXPECT_EQ(prompts.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(TPasswordGate::PromptOpen());
}

TEST_F(SecurFrmTest, RightEntryInOtherCasePassesAfterAWrongOne) {
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        TypeAndEnter(form, "wrong");
        TypeAndEnter(form, "sECRET");
    });
    EXPECT_EQ(RunPasswordGate(store, prompts, nullptr), GateResult::Passed);
    EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST_F(SecurFrmTest, EnterIsOkEvenWithTheFocusOnCancel) {
    for (Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
        WhenModal<TSecurFrm>([&](TSecurFrm* form) {
            QTest::keyClicks(Edit1(form), "secret");
            auto* cancel = form->findChild<QPushButton*>("Button1");
            cancel->setFocus();
            QTest::keyClick(cancel, enter);
        });
        EXPECT_EQ(RunPasswordGate(store, prompts, nullptr), GateResult::Passed) << enter;
    }
}

TEST_F(SecurFrmTest, TheButtonsAnswerTheirWay) {
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        QTest::keyClicks(Edit1(form), "SECRET");
        QTest::mouseClick(form->findChild<QToolButton*>("SpeedButton1"), Qt::LeftButton);
    });
    EXPECT_EQ(RunPasswordGate(store, prompts, nullptr), GateResult::Passed);
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        QTest::keyClicks(Edit1(form), "SECRET");
        QTest::mouseClick(form->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    });
    EXPECT_EQ(RunPasswordGate(store, prompts, nullptr), GateResult::Refused);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SecurFrmTest, EscapeAfterTheRightTextRefusesRaisesOnTruePasswordAndWipesTheField) {
    TPasswordDlg dlg(prompts, [](TSecurLogic& logic) {
        return std::unique_ptr<ISecurForm>(new TSecurFrm(logic));
    });
    dlg.SetPassword("Secret");
    int raised = 0;
    dlg.OnTruePassword = [&](TPasswordDlg&) { ++raised; };
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        QTest::keyClicks(Edit1(form), "secret");
        QTest::keyClick(Edit1(form), Qt::Key_Escape);
    });
    EXPECT_FALSE(dlg.Execute());
    EXPECT_EQ(raised, 1);
    ASSERT_TRUE(dlg.SecurFrm());
    EXPECT_EQ(dlg.SecurFrm()->EditText(), "");
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SecurFrmTest, AGateAskedWhileAPromptIsOpenShowsNoSecondPrompt) {
    GateResult nested = GateResult::Passed;
    int openDuringNested = 0;
    WhenModal<TSecurFrm>([&](TSecurFrm* form) {
        nested = RunPasswordGate(store, prompts, nullptr);
        openDuringNested = OpenPrompts();
        EXPECT_EQ(QApplication::activeModalWidget(), form);
        TypeAndEnter(form, "secret");
    });
    EXPECT_EQ(RunPasswordGate(store, prompts, nullptr), GateResult::Passed);
    EXPECT_EQ(nested, GateResult::AlreadyOpen);
    EXPECT_EQ(openDuringNested, 1);
    // Nobody typed the password for the nested caller: refused, whoever it is.
    for (GateCaller caller : {GateCaller::TrayExit, GateCaller::TrayStop, GateCaller::ShowWindow})
        EXPECT_FALSE(GatePassed(nested, caller));
}

TEST_F(SecurFrmTest, NoStoredPasswordShowsNoPrompt) {
    store.WriteString("Password", "");
    for (GateCaller caller : {GateCaller::Startup, GateCaller::ShowWindow, GateCaller::TrayStop})
        EXPECT_TRUE(PassPasswordGate(caller, store, prompts, nullptr));
    EXPECT_EQ(OpenPrompts(), 0);
}

}  // namespace
}  // namespace kv

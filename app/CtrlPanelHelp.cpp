// The settings window's help and web pages.
#include "app/CtrlPanel.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "access/Secure.h"
#include "access/forms/AccessForms.h"
#include "app/AboutBox.h"
#include "app/CommandTable.h"
#include "app/Log.h"
#include "enforce/InterceptorPassword.h"
#include "options/forms/OptionsForms.h"
#include "platform/Paths.h"
#include "platform/qt/Shell.h"
#include "platform/qt/X11HotKey.h"
#include "principals/forms/NewGrFrm.h"
#include "rules/forms/OptForm.h"
#include "ui/AppIcons.h"
#include "ui/DialogLook.h"
#include "ui/DirView.h"
#include "ui/DriveView.h"
#include "ui/FormStorage.h"
#include "ui/HelpViewer.h"
#include "ui/ImageList1.h"
#include "ui/KeyboardMenu.h"
#include "ui/Placement.h"
#include "ui/PrincipalTreeView.h"
#include "ui/TrayIcon.h"
#include "ui/TrayLogic.h"

namespace kv {

void TSecFrm::ShowFirstSteps() {
    firstStepsPending_ = true;
    if (isVisible())
        OpenPendingFirstSteps();
}

void TSecFrm::OpenPendingFirstSteps() {
    if (!firstStepsPending_)
        return;
    firstStepsPending_ = false;
    // Not asked for: a missing help file is no reason for an error box.
    OpenHelp(kFirstStepsTopic, false);
}

void TSecFrm::OpenHelp(const std::string& topic, bool reportMissing) {
    if (services_.openHelp) {
        services_.openHelp(topic);
        return;
    }
    // A viewer opened over a modal dialog belongs to it, or the dialog would
    // keep it from taking any input.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = this;
    if (!helpViewer_ || helpViewer_->parentWidget() != owner) {
        helpViewer_ = new ui::THelpViewer(
            QString::fromStdString(platform::HelpFilePath()),
            [this](const QUrl& url) { OpenWebPage(url.toString().toStdString()); }, owner);
    }
    if (!helpViewer_->ShowTopic(topic) && reportMissing) {
        services_.prompts.Message(kHelpMissingText + platform::HelpFilePath(), "Kestrava",
                                  Buttons::Ok, MessageIcon::Warning);
    }
}

std::string DialogHelpTopic(const QWidget& focus) {
    const QWidget* dialog = focus.window();
    const QString name = dialog->objectName();
    if (name == "OptForm") {
        // The pattern fields are explained where their labels lead.
        for (const char* field : {"IncFiles", "ExFiles", "Proc", "ExProc"}) {
            if (focus.objectName() == field)
                return kPatternsHelpTopic;
        }
        return dialog->property("helpTopic").toString().toStdString();
    }
    if (name == "PrOptFrm")
        return kProgramOptionsHelpTopic;
    if (name == "PasFrm" || name == "SecurFrm")
        return kPasswordHelpTopic;
    if (name == "NewGrFrm")
        return kGroupsHelpTopic;
    return {};
}

bool TSecFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier && widget &&
            widget->window() != this && qobject_cast<QDialog*>(widget->window())) {
            OpenHelp(DialogHelpTopic(*widget));
            return true;
        }
        // F5 lists new accounts even while Refresh (which reloads the
        // protection) is disabled and so leaves the key to the focused widget.
        if (key->key() == Qt::Key_F5 && key->modifiers() == Qt::NoModifier && widget &&
            widget->window() == this && !actions_.value("cmdRefresh")->isEnabled() &&
            !modified_.TreeEdited()) {
            ReloadUsers();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TSecFrm::OpenWebPage(const std::string& address) {
    const bool opened =
        services_.openUrl ? services_.openUrl(address) : platform::OpenDocument(address);
    if (!opened) {
        services_.prompts.Message(kWebPageFailedText + address, "Kestrava", Buttons::Ok,
                                  MessageIcon::Warning);
    }
}

}  // namespace kv

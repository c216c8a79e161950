// The settings window's status bar and caption.
#include "app/CtrlPanel.h"

#include "platform/Accounts.h"
#include "platform/InterceptorDevice.h"

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
#include "ui/ElidedLabel.h"
#include "ui/FormStorage.h"
#include "ui/HelpViewer.h"
#include "ui/ImageList1.h"
#include "ui/KeyboardMenu.h"
#include "ui/Placement.h"
#include "ui/PrincipalTreeView.h"
#include "ui/TrayIcon.h"
#include "ui/TrayLogic.h"

namespace kv {

void TSecFrm::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    // Every panel shrinks and elides its text, so that the window still fits
    // a screen 640 pixels wide (1280 at twice the scale).
    statusPanels_[0] = new ui::TElidedLabel(Qt::ElideMiddle, 8, bar);
    statusPanels_[1] = new ui::TElidedLabel(Qt::ElideRight, 6, bar);
    statusPanels_[1]->setText("Current User : ");
    statusPanels_[1]->setFrameStyle(QFrame::Panel | QFrame::Raised);
    statusPanels_[2] = new ui::TElidedLabel(Qt::ElideRight, 6, bar);
    bar->addWidget(statusPanels_[0], 1);
    bar->addPermanentWidget(statusPanels_[1]);
    bar->addPermanentWidget(statusPanels_[2]);
    refusalPanel_ = new ui::TElidedLabel(Qt::ElideMiddle, 8, bar);
    refusalPanel_->setObjectName("RefusalCount");
    refusalPanel_->hide();
    bar->addPermanentWidget(refusalPanel_);
    servicePanel_ = new ui::TElidedLabel(Qt::ElideRight, 10, bar);
    servicePanel_->setObjectName("ServiceState");
    bar->addPermanentWidget(servicePanel_);
    testNotice_ = new ui::TElidedLabel(Qt::ElideRight, 8, bar);
    testNotice_->setObjectName("TestNotice");
    testNotice_->hide();
    bar->addPermanentWidget(testNotice_);
    coveragePanel_ = new ui::TElidedLabel(Qt::ElideRight, 8, bar);
    coveragePanel_->setObjectName("CoverageWarning");
    coveragePanel_->setStyleSheet("color: #a00000;");
    coveragePanel_->hide();
    bar->addWidget(coveragePanel_, 1);
}

std::vector<uid_t> TSecFrm::SelectedUids() const {
    std::vector<uid_t> uids;
    const TPrincipalTree::Node* node = tree_.SelectedNode();
    if (!node)
        return uids;
    auto add = [&uids](const TPrincipalTree::Node& user) {
        if (user.kind != PrincipalKind::User)
            return;
        if (const auto uid = platform::UidOfAccount(user.text))
            uids.push_back(*uid);
    };
    if (node->kind == PrincipalKind::Group) {
        for (const auto& child : node->children)
            add(*child);
    } else {
        add(*node);
    }
    return uids;
}

void TSecFrm::WatchService(TServiceWatch::Clock::time_point now) {
    const bool answered = serviceWatch_->Answers();
    serviceWatch_->Poll(now);
    bool answers;
    if (isVisible()) {
        answers = UpdateRefusalCount();
    } else {
        // In the tray only the tooltip shows the state: one request, no counts.
        answers = ais_->RefusalCount().has_value();
        UpdateServiceState(answers);
    }
    serviceWatch_->Observe(answers, now);
    // Markers of protections that no service enforces are drawn struck through.
    if (serviceWatch_->Answers() != answered)
        protection_->Markers().UserGroupsChange();
}

bool TSecFrm::UpdateRefusalCount() {
    const std::optional<std::uint32_t> own = ais_->RefusalCount();
    UpdateServiceState(own.has_value());
    refusalPanel_->setVisible(own.has_value());
    if (!own)
        return false;
    // The selected user's (or group's members') refusals, as the service
    // counts them per uid; only root, or the administrator's password, may read
    // another uid's count.
    std::optional<std::uint32_t> selected;
    const std::vector<uid_t> uids = SelectedUids();
    for (uid_t uid : uids) {
        const std::optional<std::uint32_t> count = denials_->CountOf(uid);
        if (!count) {
            selected.reset();
            break;
        }
        selected = selected.value_or(0) + *count;
    }
    if (selected) {
        const QString name = QString::fromStdString(tree_.SelectedNode()->text);
        refusalPanel_->setText(QString("Refused (%1): %2").arg(name).arg(*selected));
        refusalPanel_->setToolTip(
            QString("Operations refused to %1 since its protection was started "
                    "(View > Refusals lists them)")
                .arg(name));
    } else {
        refusalPanel_->setText(QString("Refused: %1").arg(*own));
        refusalPanel_->setToolTip(
            uids.empty() ? "Operations refused to you since your protection was started (View > "
                           "Refusals lists them); the selected entry is no account of this "
                           "computer"
                         : "Operations refused to you since your protection was started (View > "
                           "Refusals lists them); only root or the administrator's password "
                           "can read other users' refusals");
    }
    return true;
}

void TSecFrm::UpdateServiceState(bool answers) {
    const std::string device = services_.devicePath.empty()
                                   ? platform::InterceptorDevice::DefaultPath()
                                   : services_.devicePath;
    const bool on = Shown() != ProtectionState::Stopped;
    QString text;
    QString tip;
    if (!answers) {
        text = QString::fromStdString(std::string(kNoServiceText) + " at " + device);
        tip = QString::fromStdString(
            "No interceptor service answers at " + device +
            ": nothing is enforced. Start it as root with: " + kStartServiceCommand);
    } else {
        text = on ? "Protection on" : "Protection off";
        tip = "The interceptor service answers at " + QString::fromStdString(device);
    }
    servicePanel_->setText(text);
    // Where the bar is narrow only the state shows; the socket is in the tooltip.
    servicePanel_->SetShortText(answers ? QString() : QString(kNoServiceText));
    servicePanel_->setToolTip(tip);
    trayHost_->RxTrayIcon1().SetStateText(!answers ? "Kestrava: no service"
                                          : on     ? "Kestrava: protection on"
                                                   : "Kestrava: protection off");
}

void TSecFrm::UpdateCaption() {
    setWindowTitle(QString::fromStdString(directory_.CaptionText()));
}

}  // namespace kv

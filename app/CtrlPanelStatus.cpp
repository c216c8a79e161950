// The settings window's status bar and caption.
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

void TSecFrm::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    statusPanels_[0] = new QLabel(bar);
    statusPanels_[0]->setFixedWidth(500);
    statusPanels_[1] = new QLabel("Current User : ", bar);
    statusPanels_[1]->setFixedWidth(100);
    statusPanels_[1]->setFrameStyle(QFrame::Panel | QFrame::Raised);
    statusPanels_[2] = new QLabel(bar);
    statusPanels_[2]->setFixedWidth(100);
    bar->addWidget(statusPanels_[0]);
    bar->addPermanentWidget(statusPanels_[1]);
    bar->addPermanentWidget(statusPanels_[2]);
    refusalPanel_ = new QLabel(bar);
    refusalPanel_->setObjectName("RefusalCount");
    refusalPanel_->setToolTip(
        "Operations refused to you since your protection was started (kvctl log lists them)");
    refusalPanel_->hide();
    bar->addPermanentWidget(refusalPanel_);
}

void TSecFrm::UpdateRefusalCount() {
    const std::optional<std::uint32_t> count = ais_->RefusalCount();
    refusalPanel_->setVisible(count.has_value());
    if (count)
        refusalPanel_->setText(QString("Refused: %1").arg(*count));
}

void TSecFrm::UpdateCaption() {
    setWindowTitle(QString::fromStdString(directory_.CaptionText()));
}

}  // namespace kv

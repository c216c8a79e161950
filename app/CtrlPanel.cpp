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

TSecFrm::TSecFrm(const TSecFrmServices& services, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      directory_(services.store, services.registry, tree_, modified_),
      ownGroupDialog_(services.groupDialog ? nullptr : std::make_unique<TNewGrDialogRunner>(this)),
      groups_(tree_, modified_, services.prompts,
              services.groupDialog ? *services.groupDialog : *ownGroupDialog_),
      autostart_(services.store, services.registry,
                 {services.installPaths.programDir.empty() ? platform::ExecutableDir()
                                                           : services.installPaths.programDir,
                  services.installPaths.autostartDir.empty() ? platform::DefaultAutostartDir()
                                                             : services.installPaths.autostartDir}),
      hardening_(BootConfigPath(services.machineDir.empty() ? platform::MachineDir()
                                                            : services.machineDir),
                 services.registry) {
    autostart_.SetServiceRegistration(services.serviceRegistration ? services.serviceRegistration
                                                                   : serviceRegistration_.get());
    hardening_.UseMachineBootLoader();
    setObjectName("SecFrm");
    setWindowTitle("Kestrava");
    QFont font("Sans Serif");
    font.setPointSize(8);
    setFont(font);
    // Sized for the screen it opens on, centred on it with its frame; a
    // stored placement replaces this at the first show.
    ui::PlaceFirstWindow(*this);
    setWindowIcon(ui::ApplicationIcon());
    ui::TDialogLook::Install();

    CreateActions();
    CreatePanes();
    CreateToolBar();
    CreateMenus();
    CreateContextMenus();
    CreateStatusBar();
    CreateProtection();
    CreateEnforcement();
    CreateTrayAndHotKey();
    BindHandlers();
    // The service's state shows from the start, not only once a command fails.
    UpdateRefusalCount();

    directory_.OnCurrentUserShown([this](const std::string& name) {
        statusPanels_[2]->setText(QString::fromStdString(name));
    });

    if (!services_.placementFile.isEmpty()) {
        formStorage_ = std::make_unique<ui::TFormStorage>(services_.placementFile);
    }

    // The enabled states follow the application a moment after any change, as no
    // event loop reports idleness on every platform.
    auto* idle = new QTimer(this);
    idle->setInterval(100);
    connect(idle, &QTimer::timeout, this, &TSecFrm::ActionList1Update);
    idle->start();
    // The service's state and the refusals since protection started, also
    // while the window waits in the tray.
    auto* service = new QTimer(this);
    service->setInterval(1000);
    connect(service, &QTimer::timeout, this, [this] { WatchService(); });
    service->start();
    // A change of the focused view changes the protection commands' state at once.
    connect(qApp, &QApplication::focusChanged, this, &TSecFrm::ActionList1Update);
    // F1 in a dialog opens the help at the dialog's topic.
    qApp->installEventFilter(this);

    // The program ends when this window closes (Closed), from the tray's Exit or
    // by a termination signal; never because a prompt or a box shown while the
    // window is hidden was the last window to close.
    QApplication::setQuitOnLastWindowClosed(false);
#if QT_CONFIG(sessionmanager)
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (!manager.allowsInteraction())
            return;
        const bool goOn = QueryEndSession();
        manager.release();
        if (!goOn)
            manager.cancel();
    });
#endif
}

TSecFrm::~TSecFrm() {
    // Hiding the window while it is destroyed moves the focus; the members the
    // update reads are gone by then.
    disconnect(qApp, nullptr, this, nullptr);
    qApp->removeEventFilter(this);
    // The panes call into the principal tree and the protection controller:
    // they go before those members do.
    delete takeCentralWidget();
}

ProtectionState TSecFrm::Shown() const {
    if (buttons_.value("ToolButton20")->isChecked())
        return ProtectionState::Protecting;
    if (buttons_.value("ToolButton18")->isChecked())
        return ProtectionState::Testing;
    return ProtectionState::Stopped;
}

void TSecFrm::Show(ProtectionState state) {
    const char* button = state == ProtectionState::Protecting ? "ToolButton20"
                         : state == ProtectionState::Testing  ? "ToolButton18"
                                                              : "ToolButton19";
    buttons_.value(button)->setChecked(true);
    trayHost_->RxTrayIcon1().SetProtected(state != ProtectionState::Stopped);
    UpdateServiceState(ais_->Connected());
    // A test tries the selection's rules on this account only, not on the principal's own.
    testNotice_->setText(
        QString::fromStdString("Testing on " + directory_.CurrentUserName() + "'s account only"));
    testNotice_->setToolTip(
        "Test Protection applies the selected user's or group's rules to the "
        "account that runs this window, until the test is stopped");
    testNotice_->setVisible(state == ProtectionState::Testing);
}

bool TSecFrm::AutomaticChecked() const {
    return items_.value("AutomaticFilesProtection1")->isChecked();
}

void TSecFrm::SetAutomaticChecked(bool checked) {
    items_.value("AutomaticFilesProtection1")->setChecked(checked);
}

void TSecFrm::ApplyAutostart() {
    autostart_.ApplyAutostart(AutomaticChecked());
}

void TSecFrm::AutomaticFilesProtection1Click() {
    ApplyAutostart();
}

void TSecFrm::HideToTray() {
    tray_->HideToTray();
}

void TSecFrm::ShowMainWindow() {
    qCInfo(lcApp) << "show request";
    tray_->ShowMainWindow();
}

bool TSecFrm::FormCloseQuery() {
    // Settings that could not be read are not a first start.
    if (services_.store.ReadBool("FirstTime", true) && !damage_.Found())
        cmdPrOptExecute();
    bool close = true;
    if (modified_.Get()) {
        switch (services_.prompts.Message("Do you want to save modifications ?", "Kestrava",
                                          Buttons::YesNoCancel, MessageIcon::Question)) {
            case Answer::Cancel:
                close = false;
                break;
            case Answer::Yes:
                cmdSaveExecute();
                close = !modified_.Get();  // a failed save keeps the window open
                break;
            default:
                break;
        }
    }
    // The start-at-logon entry follows the menu item whatever the answer.
    ApplyAutostart();
    return close;
}

void TSecFrm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    StorePlacement();
    event->accept();
    emit Closed();
}

void TSecFrm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (placementRestored_)
        return;
    placementRestored_ = true;
    if (formStorage_)
        formStorage_->Restore(*this, *panes_);
    // After the window is up, so that the first steps stand in front of it.
    QTimer::singleShot(0, this, &TSecFrm::OpenPendingFirstSteps);
}

bool TSecFrm::event(QEvent* event) {
    // The window manager's frame is known once the window is first active:
    // a frame larger than assumed must not push the window off screen.
    if (event->type() == QEvent::WindowActivate && !framedFit_ && frameGeometry() != geometry()) {
        framedFit_ = true;
        if (!isMaximized() && !isFullScreen())
            ui::FitWindowToScreen(*this);
    }
    return QMainWindow::event(event);
}

void TSecFrm::StorePlacement() const {
    if (formStorage_)
        formStorage_->Store(*this, *panes_);
}

}  // namespace kv

#include "ui/TrayIcon.h"

#include "ui/AppIcons.h"

#include <QApplication>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

namespace kv::ui {

TRxTrayIcon::TRxTrayIcon(QMenu* popupMenu, QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(this)) {
    icon_->setToolTip(QStringLiteral("Kestrava"));
    icon_->setIcon(TrayPicture(false));
    icon_->setContextMenu(popupMenu);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit DblClick();
            });
}

void TRxTrayIcon::SetProtected(bool on) {
    if (protected_ == on)
        return;
    protected_ = on;
    icon_->setIcon(TrayPicture(on));
}

void TRxTrayIcon::SetStateText(const QString& text) {
    icon_->setToolTip(text);
}

bool TRxTrayIcon::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TRxTrayIcon::Active() const {
    return icon_->isVisible();
}

void TRxTrayIcon::SetActive(bool active) {
    icon_->setVisible(active);
}

TQtTrayHost::TQtTrayHost(QWidget& window, QMenu* popupMenu, QObject* parent)
    : QObject(parent), window_(window), trayIcon_(new TRxTrayIcon(popupMenu, this)) {
    findShell_.setInterval(1000);
    findShell_.setSingleShot(false);
}

void TQtTrayHost::HideMainWindow() {
    window_.hide();
}

void TQtTrayHost::ShowMainWindow() {
    window_.show();
}

void TQtTrayHost::RestoreAndRaise() {
    if (window_.isMinimized())
        window_.showNormal();
    window_.raise();
    window_.activateWindow();
}

void TQtTrayHost::ActivateApplication() {
    // A hidden window cannot take the focus here; the prompt activates itself.
    if (window_.isVisible())
        window_.activateWindow();
}

bool TQtTrayHost::TrayAvailable() {
    return TRxTrayIcon::Available();
}

bool TQtTrayHost::TrayActive() const {
    return trayIcon_->Active();
}

void TQtTrayHost::SetTrayActive(bool active) {
    trayIcon_->SetActive(active);
}

void TQtTrayHost::StartFindShell() {
    findShell_.start();
}

void TQtTrayHost::StopFindShell() {
    findShell_.stop();
}

void TQtTrayHost::Quit() {
    QCoreApplication::quit();
}

}  // namespace kv::ui

#pragma once

#include <QObject>
#include <QTimer>

#include "ui/TrayLogic.h"

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace kv::ui {

/// The notification-area icon `RxTrayIcon1`: tooltip "Kestrava" and its state, the tray
/// menu on a right click, DblClick on a double click. Off at creation.
class TRxTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TRxTrayIcon(QMenu* popupMenu, QObject* parent = nullptr);

    /// The desktop offers a notification area (under a bare X server only
    /// when a tray such as trayer runs).
    [[nodiscard]] static bool Available();
    [[nodiscard]] bool Active() const;
    void SetActive(bool active);
    [[nodiscard]] QSystemTrayIcon& Icon() { return *icon_; }
    /// The picture follows the displayed protection state (the tooltip stays).
    void SetProtected(bool on);
    [[nodiscard]] bool Protected() const { return protected_; }
    /// The tooltip: the program's name and its state ("Kestrava: protection on").
    void SetStateText(const QString& text);

signals:
    /// OnDblClick: the lead connects it to cmdShowMainClick.
    void DblClick();

private:
    QSystemTrayIcon* icon_;
    bool protected_ = false;
};

/// ITrayHost over the main window, RxTrayIcon1 and the FindShell timer
/// (1000 ms, stopped at creation). The owner connects FindShell's timeout
/// to TTrayLogic::FindShellTimer and DblClick to cmdShowMainClick; see
/// ui/TrayLogic.h for the whole wiring.
class TQtTrayHost : public QObject, public ITrayHost {
    Q_OBJECT
public:
    TQtTrayHost(QWidget& window, QMenu* popupMenu, QObject* parent = nullptr);

    TRxTrayIcon& RxTrayIcon1() { return *trayIcon_; }
    QTimer& FindShell() { return findShell_; }

    void HideMainWindow() override;
    void ShowMainWindow() override;
    void RestoreAndRaise() override;
    void ActivateApplication() override;
    bool TrayAvailable() override;
    bool TrayActive() const override;
    void SetTrayActive(bool active) override;
    void StartFindShell() override;
    void StopFindShell() override;
    /// QCoreApplication::quit: the window's close query is not asked again.
    void Quit() override;

private:
    QWidget& window_;
    TRxTrayIcon* trayIcon_;
    QTimer findShell_;
};

}  // namespace kv::ui

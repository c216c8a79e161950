#pragma once

#include <QObject>

class QSocketNotifier;

namespace kv::platform {

/// Turns the signals that end a process from outside (SIGTERM from a logoff or
/// `systemctl stop`, SIGINT from Ctrl+C, SIGHUP from a closed terminal) into a
/// Qt signal on the GUI thread, so the program can end as its Exit does. One
/// instance at a time; the previous handlers come back when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    /// True once one of the signals arrived (and was delivered by the event loop).
    bool Received() const { return received_ != 0; }
    /// The last signal that arrived, 0 when none.
    int LastSignal() const { return received_; }

signals:
    void Terminate(int signal);

private:
    void OnReadable();

    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
};

}  // namespace kv::platform

#pragma once

#include <QObject>
#include <QString>
#include <string>

class QLocalServer;

namespace kv::platform {

/// Machine-wide test for a running instance of a name (an flock on a lock file,
/// released by the kernel when the holder dies) and a local socket of the same
/// name over which a new start asks the running instance to show its window.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    enum class Outcome { First, Running, RegisterError, CreateError };

    InstanceGuard(QString runtimeDir, QString name, QObject* parent = nullptr);
    ~InstanceGuard() override;

    /// Takes the lock. `systemText` receives the system's error text on failure.
    Outcome Acquire(std::string* systemText);
    /// Serves show requests (only after Acquire returned First). Removes a socket
    /// left behind by a killed instance first.
    bool Listen(std::string* systemText);
    /// Sends the show request to the running instance; false when it cannot be reached.
    bool SendShowRequest(int timeoutMs = 2000);
    /// Releases the lock and stops listening.
    void Release();

    QString SocketPath() const;
    QString LockPath() const;

signals:
    void showRequested();

private:
    void OnNewConnection();

    QString runtimeDir_;
    QString name_;
    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
};

}  // namespace kv::platform

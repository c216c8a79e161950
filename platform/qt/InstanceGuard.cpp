#include "platform/qt/InstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>

#include "platform/Paths.h"

namespace kv::platform {

namespace {
constexpr char kShowRequest[] = "show\n";
constexpr char kShowReply[] = "ok\n";
constexpr qint64 kMaxRequest = 64;
}  // namespace

InstanceGuard::InstanceGuard(QString runtimeDir, QString name, QObject* parent)
    : QObject(parent), runtimeDir_(std::move(runtimeDir)), name_(std::move(name)) {}

InstanceGuard::~InstanceGuard() {
    Release();
}

QString InstanceGuard::SocketPath() const {
    return runtimeDir_ + "/" + name_;
}
QString InstanceGuard::LockPath() const {
    return runtimeDir_ + "/" + name_ + ".lock";
}

InstanceGuard::Outcome InstanceGuard::Acquire(std::string* systemText) {
    if (!MakeDirs(runtimeDir_.toStdString())) {
        *systemText = std::strerror(errno);
        return Outcome::RegisterError;
    }
    lockFd_ = ::open(LockPath().toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        *systemText = std::strerror(errno);
        return Outcome::RegisterError;
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0)
        return Outcome::First;
    const int error = errno;
    ::close(lockFd_);
    lockFd_ = -1;
    if (error == EWOULDBLOCK)
        return Outcome::Running;
    *systemText = std::strerror(error);
    return Outcome::CreateError;
}

bool InstanceGuard::Listen(std::string* systemText) {
    if (server_)
        return true;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock means no live instance owns the socket: a leftover is stale.
    QLocalServer::removeServer(SocketPath());
    if (!server_->listen(SocketPath())) {
        *systemText = server_->errorString().toStdString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &InstanceGuard::OnNewConnection);
    return true;
}

void InstanceGuard::OnNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray data = socket->read(kMaxRequest);
            socket->readAll();  // anything beyond a request is ignored
            const bool show = data.startsWith(kShowRequest);
            // The request is finished (answered and closed) before anything is
            // shown: the show request may run a modal loop (the password
            // prompt), in which this socket goes away.
            if (show)
                socket->write(kShowReply);
            socket->disconnectFromServer();
            if (show)
                QMetaObject::invokeMethod(this, &InstanceGuard::showRequested,
                                          Qt::QueuedConnection);
        });
    }
}

bool InstanceGuard::SendShowRequest(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShowRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return sent;
}

void InstanceGuard::Release() {
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

}  // namespace kv::platform

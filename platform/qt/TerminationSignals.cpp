#include "platform/qt/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <stdexcept>

namespace kv::platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler only writes the signal's number; the event loop
// reads it. A handler may do nothing more.
int pipeFds[2] = {-1, -1};
struct sigaction previous[3];

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    (void)!::write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0)
        throw std::logic_error("only one TerminationSignals may exist at a time");
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("no pipe for the termination signals");
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::OnReadable);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &previous[i]);
}

TerminationSignals::~TerminationSignals() {
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void TerminationSignals::OnReadable() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        last = byte;
    if (last == 0)
        return;
    received_ = last;
    emit Terminate(last);
}

}  // namespace kv::platform

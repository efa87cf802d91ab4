#include "OvSignalQuit.h"

#include "QiLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_signal{0};

extern "C" void onSignal(int sig)
{
    const int saved = errno;
    g_signal.store(sig);
    const char byte = static_cast<char>(sig);
    // Full pipe: a byte is already waiting, which is all the loop needs.
    [[maybe_unused]] ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

OvSignalQuit::OvSignalQuit(QCoreApplication *app) : m_app(app)
{
    // A client that hangs up must not kill the server with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qiLog(1, "OvSignalQuit: pipe: %s\n", std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OvSignalQuit::readSignal);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

OvSignalQuit::~OvSignalQuit()
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : g_pipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

int OvSignalQuit::received()
{
    return g_signal.load();
}

void OvSignalQuit::readSignal()
{
    char buf[16];
    while (read(g_pipe[0], buf, sizeof buf) > 0) {
    }
    qiLog(2, "orvane: signal %d, shutting down\n", g_signal.load());
    m_app->quit();
}

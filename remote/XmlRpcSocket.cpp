#include "XmlRpcSocket.h"

#include "XmlRpcUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace XmlRpcSocket {

int socket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

void close(int fd)
{
    XmlRpcUtil::log(4, "XmlRpcSocket::close: fd %d.", fd);
    ::close(fd);
}

bool setNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool setReuseAddr(int fd)
{
    int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool bind(int fd, int port, const char *address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (address && inet_pton(AF_INET, address, &sa.sin_addr) != 1)
        return false;
    return ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
}

bool listen(int fd, int backlog) { return ::listen(fd, backlog) == 0; }

int accept(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int s = ::accept4(fd, reinterpret_cast<sockaddr *>(&sa), &len, SOCK_CLOEXEC);
    if (s >= 0) {
        // Responses are written whole; do not hold the last segment back.
        int on = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return s;
}

int getPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

bool nbRead(int fd, std::string &s, bool *eof, size_t limit)
{
    char buf[4096];
    *eof = false;
    while (s.size() < limit) {
        ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
        XmlRpcUtil::log(5, "XmlRpcSocket::nbRead: read/recv returned %d.", static_cast<int>(n));
        if (n > 0) {
            s.append(buf, static_cast<size_t>(n));
            // A short read drained the socket: asking again would only cost a
            // system call answering EAGAIN. poll reports whatever comes next.
            if (static_cast<size_t>(n) < sizeof buf - 1)
                return true;
        } else if (n == 0) {
            *eof = true;
            return true;
        } else if (errno == EINTR) {
            continue;
        } else if (nonFatalError()) {
            return true;
        } else {
            return false;
        }
    }
    return true;
}

bool nbWrite(int fd, const std::string &s, int *bytesSoFar)
{
    int total = static_cast<int>(s.size());
    while (*bytesSoFar < total) {
        ssize_t n = ::send(fd, s.data() + *bytesSoFar, static_cast<size_t>(total - *bytesSoFar), MSG_NOSIGNAL);
        XmlRpcUtil::log(5, "XmlRpcSocket::nbWrite: send/write returned %d.", static_cast<int>(n));
        if (n > 0) {
            *bytesSoFar += static_cast<int>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && nonFatalError()) {
            return true;
        } else {
            return false;
        }
    }
    return true;
}

int getError() { return errno; }

bool nonFatalError()
{
    int e = errno;
    return e == EINPROGRESS || e == EAGAIN || e == EWOULDBLOCK || e == EINTR;
}

std::string getErrorMsg() { return getErrorMsg(getError()); }
std::string getErrorMsg(int error) { return XmlRpcUtil::socketError(error); }

} // namespace XmlRpcSocket

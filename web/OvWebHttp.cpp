#include "OvWebHttp.h"

#include "QiLog.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// Set while the listening thread hands over a connection the pool has no
// room for: process_and_close_socket then refuses it without reading.
thread_local bool t_refuse = false;
// The connection whose request this worker is answering.
thread_local OvWebHttp::Connection *t_connection = nullptr;

int msUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left > 60 * 60 * 1000 ? 60 * 60 * 1000 : static_cast<int>(left);
}

// Waits until fd is ready for events, the stop descriptor fires or the
// deadline passes; true only for the first.
bool waitFor(int fd, short events, int stopFd, Clock::time_point deadline)
{
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int n = ::poll(p, 2, msUntil(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || (p[1].revents & POLLIN))
            return false;
        return (p[0].revents & (events | POLLHUP | POLLERR)) != 0;
    }
}

void addressText(const sockaddr_storage &a, std::string &ip, int &port)
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&a);
        inet_ntop(AF_INET, &v4->sin_addr, buf, sizeof buf);
        port = ntohs(v4->sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&a);
        inet_ntop(AF_INET6, &v6->sin6_addr, buf, sizeof buf);
        port = ntohs(v6->sin6_port);
    } else {
        port = -1;
    }
    ip = buf;
}

} // namespace

// A fixed set of worker threads and a bounded line of connections waiting
// for one. The library's listening thread enqueues each accepted socket.
class OvWebHttp::Pool : public httplib::TaskQueue {
public:
    Pool(int workers, int cap) : m_cap(cap)
    {
        for (int i = 0; i < workers; ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~Pool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_closed && m_jobs.size() + m_busy < static_cast<size_t>(m_cap)) {
                m_jobs.push_back(std::move(fn));
                m_ready.notify_one();
                return;
            }
        }
        // No room: the job runs here and only answers 503.
        t_refuse = true;
        fn();
        t_refuse = false;
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_closed && m_threads.empty())
                return;
            m_closed = true;
        }
        m_ready.notify_all();
        for (std::thread &t : m_threads)
            t.join();
        m_threads.clear();
    }

private:
    void work()
    {
        // Answers and live pictures give way to the render thread when the
        // two compete for the processor; the page is a spectator.
        const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0)
            ::setpriority(PRIO_PROCESS, tid, std::min(nice + kWorkerNiceness, 19));
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_ready.wait(lock, [this] { return m_closed || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            std::function<void()> fn = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_busy;
            lock.unlock();
            fn();
            lock.lock();
            --m_busy;
        }
    }

    const int m_cap;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    size_t m_busy = 0;
    bool m_closed = false;
    std::vector<std::thread> m_threads;
};

// One connection as the library's parser sees it: reads through a buffer
// within the request's byte budget and time limit, writes within the
// answer's time limit, and gives up at once when the server stops.
class OvWebHttp::Connection : public httplib::Stream {
public:
    Connection(socket_t fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}

    void beginRequest(size_t budget, Clock::time_point readDeadline, std::chrono::milliseconds answerTime)
    {
        m_budget = budget;
        m_readDeadline = readDeadline;
        m_answerTime = answerTime;
        m_writing = false;
        m_closeAfter = false;
    }
    bool buffered() const { return m_pos < m_len; }
    bool exhausted() const { return m_exhausted; }
    bool failed() const { return m_failed; }
    bool closeAfter() const { return m_closeAfter; }
    void setCloseAfter() { m_closeAfter = true; }

    bool is_readable() const override
    {
        return m_pos < m_len || waitFor(m_fd, POLLIN, m_stopFd, m_readDeadline);
    }
    bool is_writable() const override
    {
        return waitFor(m_fd, POLLOUT, m_stopFd, m_writing ? m_writeDeadline : Clock::now() + m_answerTime);
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (size == 0)
            return 0;
        if (m_budget == 0) {
            m_exhausted = true;
            return -1;
        }
        if (m_pos == m_len) {
            if (!waitFor(m_fd, POLLIN, m_stopFd, m_readDeadline)) {
                m_failed = true;
                return -1;
            }
            ssize_t n;
            do
                n = ::recv(m_fd, m_buf, sizeof m_buf, MSG_DONTWAIT);
            while (n < 0 && errno == EINTR);
            if (n <= 0) {
                m_failed = true;
                return -1;
            }
            m_pos = 0;
            m_len = static_cast<size_t>(n);
        }
        const size_t n = std::min({size, m_len - m_pos, m_budget});
        std::memcpy(ptr, m_buf + m_pos, n);
        m_pos += n;
        m_budget -= n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (!m_writing) {
            m_writing = true;
            m_writeDeadline = Clock::now() + m_answerTime;
        }
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(m_fd, ptr + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
                waitFor(m_fd, POLLOUT, m_stopFd, m_writeDeadline))
                continue;
            m_failed = true;
            return -1;
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        if (::getpeername(m_fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            addressText(a, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            addressText(a, ip, port);
    }
    socket_t socket() const override { return m_fd; }

private:
    socket_t m_fd;
    int m_stopFd;
    char m_buf[16384];
    size_t m_pos = 0, m_len = 0;
    size_t m_budget = 0;
    bool m_exhausted = false, m_failed = false, m_closeAfter = false;
    bool m_writing = false;
    Clock::time_point m_readDeadline, m_writeDeadline;
    std::chrono::milliseconds m_answerTime{0};
};

OvWebHttp::OvWebHttp(const Limits &limits) : m_limits(limits)
{
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    new_task_queue = [this] { return new Pool(m_limits.workers, m_limits.maxConnections); };
    set_payload_max_length(m_limits.maxBodyBytes);
    // What the Keep-Alive header announces; the loop below enforces it.
    set_keep_alive_timeout(std::max<time_t>(1, std::chrono::duration_cast<std::chrono::seconds>(m_limits.idle).count()));
    set_keep_alive_max_count(m_limits.requestsPerConnection);
    set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

OvWebHttp::~OvWebHttp()
{
    stopAll();
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

int OvWebHttp::bind(const std::string &address, int port)
{
    if (port == 0)
        return bind_to_any_port(address);
    return bind_to_port(address, port) ? port : -1;
}

void OvWebHttp::serve()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping)
            return;
        m_serving = true;
    }
    listen_after_bind();
    m_served = true;
}

void OvWebHttp::stopAll()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping.exchange(true))
            return;
    }
    if (m_stopFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_stopFd, &one, sizeof one);
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // Ends reads and writes in progress; the workers close the sockets.
        for (socket_t s : m_sockets)
            ::shutdown(s, SHUT_RDWR);
    }
    m_wake.notify_all();
    bool serving;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        serving = m_serving;
    }
    if (serving) {
        // The library closes the listening socket only while its loop runs:
        // a stop just before that must wait for it.
        while (!is_running() && !m_served)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop();
    } else {
        const socket_t s = svr_sock_.exchange(INVALID_SOCKET);
        if (s != INVALID_SOCKET)
            ::close(s);
    }
}

bool OvWebHttp::pause(std::chrono::milliseconds d)
{
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_wake.wait_for(lock, d, [this] { return m_stopping.load(); });
}

void OvWebHttp::closeAfterAnswer()
{
    if (t_connection)
        t_connection->setCloseAfter();
}

void OvWebHttp::track(socket_t sock, bool add)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (add)
        m_sockets.insert(sock);
    else
        m_sockets.erase(sock);
}

void OvWebHttp::refuse(socket_t sock)
{
    static const char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
                                "Content-Length: 20\r\nConnection: close\r\nRetry-After: 1\r\n\r\n"
                                "too many connections";
    m_refused.fetch_add(1);
    [[maybe_unused]] ssize_t n = ::send(sock, kBusy, sizeof kBusy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

bool OvWebHttp::process_and_close_socket(socket_t sock)
{
    if (t_refuse || m_stopping) {
        refuse(sock);
        return false;
    }
    m_open.fetch_add(1);
    track(sock, true);
    // Answers are written whole and at once; no reason to hold their tails.
    int yes = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    Connection conn(sock, m_stopFd);
    bool ok = true;
    for (size_t served = 0; served < m_limits.requestsPerConnection && !m_stopping; ++served) {
        if (!conn.buffered() && !waitFor(sock, POLLIN, m_stopFd, Clock::now() + m_limits.idle))
            break;
        conn.beginRequest(m_limits.maxRequestBytes, Clock::now() + m_limits.requestTime, m_limits.answerTime);
        const bool last = served + 1 == m_limits.requestsPerConnection;
        bool closed = false;
        t_connection = &conn;
        ok = process_request(conn, last, closed, nullptr);
        t_connection = nullptr;
        if (!ok || closed || conn.closeAfter() || conn.exhausted() || conn.failed())
            break;
    }

    track(sock, false);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    m_open.fetch_sub(1);
    return ok;
}

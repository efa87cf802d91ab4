#pragma once
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

// cpp-httplib's server with connection handling of our own. The library
// parses each request, routes it and writes the answer; around that this
// class keeps a fixed pool of worker threads, a cap on connections (those
// beyond it are answered 503 at once), a byte budget and a time limit for
// reading one request, a time limit for sending one answer and for idling
// between requests, and a stop that ends every connection at once. The
// library's own loop has none of the first three: its job queue grows
// without end, headers may keep coming, and an idle connection holds a
// thread until its keep-alive time runs out.
class OvWebHttp : public httplib::Server {
public:
    struct Limits {
        // Threads serving connections (a connection holds one while open).
        int workers = 16;
        // Connections served or waiting for a thread, together.
        int maxConnections = 64;
        // Request line, headers and body of one request, together. A
        // thread per connection: what one request may hold stays small.
        size_t maxRequestBytes = 128 * 1024;
        // Body of one request (larger ones are answered 413 unread).
        size_t maxBodyBytes = 64 * 1024;
        // A connection silent this long between requests is closed.
        std::chrono::milliseconds idle{5000};
        // One request must have arrived this long after its first byte.
        std::chrono::milliseconds requestTime{20000};
        // One answer must have been taken by the peer this long after its
        // first byte was sent.
        std::chrono::milliseconds answerTime{60000};
        // Requests served on one connection before it is closed.
        size_t requestsPerConnection = 100;
    };

    // How much nicer than the program the worker threads run.
    static constexpr int kWorkerNiceness = 4;

    explicit OvWebHttp(const Limits &limits);
    ~OvWebHttp() override;

    // Binds address:port (0: one the system picks) with SO_REUSEADDR only
    // (the library would add SO_REUSEPORT, letting a second process share
    // the port unnoticed). The port bound, or -1.
    int bind(const std::string &address, int port);
    // Serves until stopAll (run it on a thread of its own).
    void serve();
    // Refuses new connections, ends every open one and wakes pause(); the
    // serve thread and the workers then finish.
    void stopAll();
    bool stopping() const { return m_stopping.load(); }
    // Sleeps up to d; false, at once, when the server is stopping.
    bool pause(std::chrono::milliseconds d);

    // The connection of the request this thread is answering is closed
    // after the answer (its unread body must not be taken for a request).
    static void closeAfterAnswer();

    const Limits &limits() const { return m_limits; }
    // Connections open now (served or waiting), and refused so far.
    int openConnections() const { return m_open.load(); }
    uint64_t refusedConnections() const { return m_refused.load(); }

    class Pool;
    class Connection;

private:
    bool process_and_close_socket(socket_t sock) override;
    // Answers 503 without reading and closes.
    void refuse(socket_t sock);
    void track(socket_t sock, bool add);

    Limits m_limits;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_open{0};
    std::atomic<uint64_t> m_refused{0};
    int m_stopFd = -1; // readable once stopping
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::set<socket_t> m_sockets;
    bool m_serving = false;             // serve() has begun listening
    std::atomic<bool> m_served{false};  // and has returned
};

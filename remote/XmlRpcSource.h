#pragma once
#include <chrono>

// Anything an XmlRpcDispatch watches: a socket and what happens on its events.
class XmlRpcSource {
public:
    explicit XmlRpcSource(int fd = -1, bool deleteOnClose = false) : m_fd(fd), m_deleteOnClose(deleteOnClose) {}
    virtual ~XmlRpcSource();

    int getfd() const { return m_fd; }
    void setfd(int fd) { m_fd = fd; }
    bool getKeepOpen() const { return m_keepOpen; }
    void setKeepOpen(bool b = true) { m_keepOpen = b; }
    bool getDeleteOnClose() const { return m_deleteOnClose; }

    // Closes the socket; a delete-on-close source then destroys itself.
    virtual void close();
    // Handles one event kind; returns the events to watch next, 0 to stop.
    virtual unsigned handleEvent(unsigned eventType) = 0;
    // True while the source is to stay in the list but not be polled.
    virtual bool paused() const { return false; }
    // True when the source has been idle too long and is to be closed.
    virtual bool idleExpired(std::chrono::steady_clock::time_point) const { return false; }

    XmlRpcSource(const XmlRpcSource &) = delete;
    XmlRpcSource &operator=(const XmlRpcSource &) = delete;

private:
    int m_fd;
    bool m_deleteOnClose;
    bool m_keepOpen = false;
};

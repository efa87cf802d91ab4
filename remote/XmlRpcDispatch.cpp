#include "XmlRpcDispatch.h"

#include "XmlRpcSource.h"
#include "XmlRpcUtil.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

XmlRpcDispatch::XmlRpcDispatch() { m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

XmlRpcDispatch::~XmlRpcDispatch()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void XmlRpcDispatch::addSource(XmlRpcSource *source, unsigned mask)
{
    for (Entry &e : m_sources) {
        if (e.source == source) {
            e.mask = mask;
            return;
        }
    }
    m_sources.push_back(Entry{source, mask, m_nextSerial++});
}

void XmlRpcDispatch::removeSource(XmlRpcSource *source)
{
    for (auto it = m_sources.begin(); it != m_sources.end(); ++it) {
        if (it->source == source) {
            m_sources.erase(it);
            return;
        }
    }
}

void XmlRpcDispatch::setSourceEvents(XmlRpcSource *source, unsigned mask)
{
    for (Entry &e : m_sources)
        if (e.source == source)
            e.mask = mask;
}

bool XmlRpcDispatch::hasSource(const XmlRpcSource *source) const
{
    return std::any_of(m_sources.begin(), m_sources.end(), [&](const Entry &e) { return e.source == source; });
}

double XmlRpcDispatch::getTime()
{
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<double>(ms) / 1000.0;
}

void XmlRpcDispatch::exit()
{
    m_endTime.store(0.0);
    wake();
}

void XmlRpcDispatch::wake()
{
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t r = ::write(m_wakeFd, &one, sizeof one);
        (void)r;
    }
}

void XmlRpcDispatch::drainWake()
{
    uint64_t v;
    while (::read(m_wakeFd, &v, sizeof v) > 0) {
    }
}

void XmlRpcDispatch::requestClear()
{
    m_doClear.store(true);
    wake();
}

void XmlRpcDispatch::clear()
{
    if (m_inWork.load())
        m_doClear.store(true);
    else
        clearNow();
}

void XmlRpcDispatch::clearNow()
{
    std::list<Entry> closing;
    closing.swap(m_sources);
    for (Entry &e : closing)
        if (!e.source->getKeepOpen())
            e.source->close();
}

void XmlRpcDispatch::work(double timeout)
{
    m_endTime.store(timeout < 0.0 ? -1.0 : getTime() + timeout);
    m_doClear.store(false);
    m_inWork.store(true);

    struct Ready {
        XmlRpcSource *source;
        uint64_t serial;
        short revents;
    };
    std::vector<pollfd> fds;
    std::vector<Ready> polled;
    bool spinning = false; // the last round handled an event

    while (!m_sources.empty()) {
        fds.clear();
        polled.clear();
        for (const Entry &e : m_sources) {
            pollfd p{};
            p.fd = e.source->paused() ? -1 : e.source->getfd();
            if (e.mask & ReadableEvent)
                p.events |= POLLIN;
            if (e.mask & WritableEvent)
                p.events |= POLLOUT;
            if (e.mask & Exception)
                p.events |= POLLPRI;
            fds.push_back(p);
            polled.push_back(Ready{e.source, e.serial, 0});
        }
        size_t n = fds.size();
        if (m_wakeFd >= 0)
            fds.push_back(pollfd{m_wakeFd, POLLIN, 0});

        // Each round waits at most the call's timeout, less when the end is near.
        int waitMs = -1;
        double end = m_endTime.load();
        if (timeout >= 0.0 || end >= 0.0) {
            double left = end >= 0.0 ? end - getTime() : timeout;
            if (timeout >= 0.0)
                left = std::min(left, timeout);
            waitMs = left <= 0.0 ? 0 : static_cast<int>(std::ceil(left * 1000.0));
        }
        int nEvents = 0;
        if (spinning && waitMs != 0) {
            // Look without sleeping while the spin lasts.
            // Never longer than the round may wait.
            int64_t micros = m_spinMicros;
            if (waitMs > 0)
                micros = std::min<int64_t>(micros, static_cast<int64_t>(waitMs) * 1000);
            const auto spinEnd = std::chrono::steady_clock::now() + std::chrono::microseconds(micros);
            do
                nEvents = ::poll(fds.data(), fds.size(), 0);
            while (nEvents == 0 && std::chrono::steady_clock::now() < spinEnd);
        }
        if (nEvents == 0)
            nEvents = ::poll(fds.data(), fds.size(), waitMs);
        spinning = m_spinMicros > 0 && nEvents > 0;
        if (nEvents < 0) {
            if (errno == EINTR)
                continue;
            XmlRpcUtil::error("Error in XmlRpcDispatch::work: error in select (%d).", errno);
            break;
        }
        if (m_wakeFd >= 0 && (fds[n].revents & POLLIN))
            drainWake();

        for (size_t i = 0; i < n && nEvents > 0; ++i) {
            short re = fds[i].revents;
            if (re == 0 || fds[i].fd < 0)
                continue;
            // A handler may have removed (or deleted) a source polled this round.
            auto it = std::find_if(m_sources.begin(), m_sources.end(),
                                   [&](const Entry &e) { return e.serial == polled[i].serial; });
            if (it == m_sources.end())
                continue;
            XmlRpcSource *src = it->source;
            unsigned mask = it->mask;
            unsigned newMask = ~0u;
            // Hang-up and error wake a reader so it sees end of file or the error.
            if ((re & (POLLIN | POLLHUP | POLLERR)) && (mask & ReadableEvent))
                newMask &= src->handleEvent(ReadableEvent);
            if (newMask && (re & (POLLOUT | POLLERR | POLLHUP)) && (mask & WritableEvent))
                newMask &= src->handleEvent(WritableEvent);
            if (newMask && (re & (POLLPRI | ((mask & (ReadableEvent | WritableEvent)) ? 0 : POLLERR))) &&
                (mask & Exception))
                newMask &= src->handleEvent(Exception);

            it = std::find_if(m_sources.begin(), m_sources.end(),
                              [&](const Entry &e) { return e.serial == polled[i].serial; });
            if (it == m_sources.end())
                continue;
            if (!newMask) {
                m_sources.erase(it);
                if (!src->getKeepOpen())
                    src->close();
            } else if (newMask != ~0u) {
                it->mask = newMask;
            }
        }

        // Connections that have sat idle too long are dropped.
        auto now = std::chrono::steady_clock::now();
        for (auto it = m_sources.begin(); it != m_sources.end();) {
            if (it->source->idleExpired(now)) {
                XmlRpcSource *src = it->source;
                it = m_sources.erase(it);
                if (!src->getKeepOpen())
                    src->close();
            } else {
                ++it;
            }
        }

        if (m_doClear.exchange(false)) {
            clearNow();
            break;
        }
        end = m_endTime.load();
        if (end == 0.0 || (end > 0.0 && getTime() > end))
            break;
    }
    m_inWork.store(false);
}

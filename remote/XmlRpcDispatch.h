#pragma once
#include <atomic>
#include <cstdint>
#include <list>

class XmlRpcSource;

// Waits on a set of sources with poll() and hands each ready one its events.
// Used by one thread; exit(), requestClear() and wake() may be called from
// any thread.
class XmlRpcDispatch {
public:
    enum EventType {
        ReadableEvent = 1,
        WritableEvent = 2,
        Exception = 4,
    };

    XmlRpcDispatch();
    ~XmlRpcDispatch();

    // Watches source for the events in mask; a source already watched gets
    // the new mask.
    void addSource(XmlRpcSource *source, unsigned mask);
    void removeSource(XmlRpcSource *source);
    void setSourceEvents(XmlRpcSource *source, unsigned mask);
    bool hasSource(const XmlRpcSource *source) const;
    size_t sourceCount() const { return m_sources.size(); }

    // Runs rounds of at most timeout seconds until that time has passed
    // (negative: until no source is left).
    void work(double timeout);
    // Ends a running work() after its current round.
    void exit();
    // Closes and forgets every source; during work(), at the end of the round.
    void clear();
    // Asks the working thread to clear at the end of the round (any thread).
    void requestClear();
    // Interrupts a poll in progress (any thread).
    void wake();

    // After a round that handled an event, keep checking the sources
    // without sleeping for up to this long before blocking in poll: a
    // client sending call after call then finds this thread awake instead
    // of paying for a wake-up each time. 0 (the default) never spins.
    void setSpin(int microseconds) { m_spinMicros = microseconds < 0 ? 0 : microseconds; }
    int spin() const { return m_spinMicros; }

    // Wall-clock seconds with millisecond resolution.
    static double getTime();

    XmlRpcDispatch(const XmlRpcDispatch &) = delete;
    XmlRpcDispatch &operator=(const XmlRpcDispatch &) = delete;

private:
    struct Entry {
        XmlRpcSource *source;
        unsigned mask;
        uint64_t serial;
    };
    void clearNow();
    void drainWake();

    std::list<Entry> m_sources;
    uint64_t m_nextSerial = 1;
    std::atomic<double> m_endTime{-1.0};
    std::atomic<bool> m_inWork{false};
    std::atomic<bool> m_doClear{false};
    int m_wakeFd = -1;
    int m_spinMicros = 0;
};

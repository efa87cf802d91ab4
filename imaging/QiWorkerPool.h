#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A small persistent pool that spreads independent rows over the cores.
// Threads start with the pool and wait between jobs, so a frame costs two
// wake-ups, not thread creations. One job runs at a time; the calling
// thread works on it too.
class QiWorkerPool {
public:
    // threads: total workers including the caller; 0 = the machine's cores.
    explicit QiWorkerPool(unsigned threads = 0);
    ~QiWorkerPool();

    // Calls body(begin, end) on disjoint slices covering [0, count), in
    // slices of at least grain items, and returns when all are done.
    void run(int32_t count, int32_t grain, const std::function<void(int32_t, int32_t)> &body);
    unsigned threads() const { return static_cast<unsigned>(m_workers.size()) + 1; }

    // The pool the encoders share.
    static QiWorkerPool &shared();

    QiWorkerPool(const QiWorkerPool &) = delete;
    QiWorkerPool &operator=(const QiWorkerPool &) = delete;

private:
    void workerLoop();
    void work();

    std::mutex m_runLock; // one job at a time
    std::mutex m_lock;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_workers;
    const std::function<void(int32_t, int32_t)> *m_body = nullptr;
    int32_t m_count = 0, m_slice = 1, m_next = 0, m_busy = 0;
    uint64_t m_generation = 0;
    bool m_stop = false;
};

#include "QiWorkerPool.h"

#include <algorithm>

namespace {
// The pool whose job this thread is working on: a body that asks the same
// pool for a job of its own runs it inline instead of waiting on itself.
thread_local const QiWorkerPool *t_working = nullptr;

struct Working {
    const QiWorkerPool *saved;
    explicit Working(const QiWorkerPool *pool) : saved(t_working) { t_working = pool; }
    ~Working() { t_working = saved; }
};
} // namespace

QiWorkerPool::QiWorkerPool(unsigned threads)
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min(threads, 64u);
    for (unsigned i = 1; i < threads; ++i)
        m_workers.emplace_back([this] { workerLoop(); });
}

QiWorkerPool::~QiWorkerPool()
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_workers)
        t.join();
}

QiWorkerPool &QiWorkerPool::shared()
{
    static QiWorkerPool pool;
    return pool;
}

void QiWorkerPool::work()
{
    // Takes slices under the lock; slices are large, so it is not contended.
    for (;;) {
        int32_t begin, end;
        const std::function<void(int32_t, int32_t)> *body;
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (m_next >= m_count)
                return;
            begin = m_next;
            end = std::min(m_count, begin + m_slice);
            m_next = end;
            body = m_body;
        }
        (*body)(begin, end);
    }
}

void QiWorkerPool::workerLoop()
{
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> g(m_lock);
            m_wake.wait(g, [&] { return m_stop || m_generation != seen; });
            if (m_stop)
                return;
            seen = m_generation;
            ++m_busy;
        }
        {
            Working w(this);
            work();
        }
        {
            std::lock_guard<std::mutex> g(m_lock);
            --m_busy;
        }
        m_done.notify_all();
    }
}

void QiWorkerPool::run(int32_t count, int32_t grain, const std::function<void(int32_t, int32_t)> &body)
{
    if (count <= 0)
        return;
    grain = std::max(grain, 1);
    if (m_workers.empty() || count <= grain || t_working == this) {
        body(0, count);
        return;
    }
    Working w(this);
    std::lock_guard<std::mutex> job(m_runLock);
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_body = &body;
        m_count = count;
        m_next = 0;
        // Sixteen slices per thread: the last one taken decides when the
        // job ends, so slices are kept short next to a worker's wake-up.
        int32_t slices = static_cast<int32_t>(threads()) * 16;
        m_slice = std::max(grain, (count + slices - 1) / slices);
        ++m_generation;
    }
    m_wake.notify_all();
    work();
    std::unique_lock<std::mutex> g(m_lock);
    // Every slice is taken once m_next reached m_count; wait for the
    // workers still inside one.
    m_done.wait(g, [&] { return m_busy == 0; });
    m_body = nullptr;
}

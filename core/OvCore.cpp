#include "OvCore.h"

#include "OvGenOptions.h"
#include "QiAscii.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiRaster.h"
#include "QigInterface.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// 100-nanosecond ticks of the monotonic clock.
int64_t ticksNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() / 100;
}

const char *tf(bool b) { return b ? "true" : "false"; }

// The id after id: consecutive, wrapping like the 32-bit counter, but never
// one of the two values that callers read as "not queued".
int32_t idAfter(int32_t id)
{
    int32_t next = static_cast<int32_t>(static_cast<uint32_t>(id) + 1u);
    while (next == OvCore::kRefused || next == -1)
        next = static_cast<int32_t>(static_cast<uint32_t>(next) + 1u);
    return next;
}

// What a queued request holds: its texts and a map node's overhead each.
size_t requestBytes(const QiParams &p)
{
    size_t bytes = 0;
    for (const auto &kv : p)
        bytes += kv.first.size() + kv.second.size() + 64;
    return bytes;
}

} // namespace

bool OvCaseLess::operator()(const std::string &a, const std::string &b) const
{
    return qiCompareIgnoreCase(a, b) < 0;
}

bool QigInterface::requestRerender()
{
    m_engine->wake();
    return true;
}

OvCore::OvCore() = default;

OvCore::~OvCore() { shutdown(); }

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the wake counter is used as a futex word");

void OvCore::wake()
{
    // Sequentially consistent with the sleeper's count and check: either
    // this sees it asleep, or it sees the new count and does not sleep.
    m_workSeq.fetch_add(1);
    if (m_idle.load() > 0)
        syscall(SYS_futex, reinterpret_cast<uint32_t *>(&m_workSeq), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr,
                0);
    m_work.notify_all();
}

std::unique_lock<std::mutex> OvCore::tableLock()
{
    if (m_starting && std::this_thread::get_id() == m_startThread)
        return std::unique_lock<std::mutex>(m_mutex, std::defer_lock);
    return std::unique_lock<std::mutex>(m_mutex);
}

void OvCore::start(QiRaster *raster, const char *dataFolder, const std::vector<OvRendererFactory> &builtins)
{
    m_raster = raster;
    m_wake = std::make_unique<QigInterface>(this);
    raster->setInterface(m_wake.get());

    genStart();

    if (dataFolder) {
        m_dataFolder = dataFolder;
        m_fontFolder = m_dataFolder + "/datafiles";
    } else {
        m_dataFolder = ".";
        m_fontFolder = ".";
    }
    loadFonts();

    std::unique_lock<std::mutex> lock(m_mutex);
    m_nextId = rand();
    if (m_nextId == kRefused || m_nextId == -1)
        m_nextId = idAfter(m_nextId);
    m_startThread = std::this_thread::get_id();
    m_starting = true;
    m_stopped = false;
    m_accepting = true;
    m_thread = std::thread(&OvCore::mainLoop, this);
    for (OvRendererFactory make : builtins) {
        OvPatternRenderer *r = make();
        if (!r)
            continue;
        m_owned.emplace_back(r);
        registerRenderer(r);
    }
    m_starting = false;
}

void OvCore::shutdown()
{
    if (!m_thread.joinable())
        return;
    {
        // The stop message goes behind everything queued; nothing may be
        // queued behind it, since nothing would process it.
        std::lock_guard<std::mutex> lock(m_mutex);
        OvRequest stop;
        stop.stop = true;
        stop.params.setInt("CyanidePill", m_nextId);
        stop.id = m_nextId;
        m_nextId = idAfter(m_nextId);
        m_accepting = false;
        m_queue.push_back(std::move(stop));
    }
    wake();
    m_thread.join();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        m_queuedBytes = 0;
        // A caller waiting for a request that was never drawn must not sleep
        // forever.
        if (m_waiter.waiting && !m_waiter.done) {
            m_waiter.result = false;
            m_waiter.done = true;
            m_waiterCond.notify_all();
        }
        m_stopped = true;
        if (m_doneWaiters)
            m_doneCond.notify_all();
    }
    if (m_raster)
        m_raster->setInterface(nullptr);
    m_wake.reset();
}

int32_t OvCore::post(const QiParams &params)
{
    OvRequest req;
    req.params = params;
    const char *pattern = nullptr;
    if (params.get("Pattern", pattern)) {
        req.renderer = resolvePattern(pattern, req.params);
        req.newPattern = true;
    } else {
        std::unique_lock<std::mutex> lock = tableLock();
        req.renderer = m_currentRenderer;
        req.params.addMissing(m_currentParams);
        req.newPattern = false;
    }
    if (req.renderer && validateOptions(params, req.renderer))
        req.newPattern = true;
    req.bytes = requestBytes(req.params);

    int32_t id = kRefused;
    bool stopped = false, full = false;
    size_t queued = 0, queuedBytes = 0;
    uint32_t refusedBefore = 0;
    {
        std::unique_lock<std::mutex> lock = tableLock();
        queued = m_queue.size();
        queuedBytes = m_queuedBytes;
        if (!m_accepting) {
            stopped = true;
        } else if (queued >= kMaxQueuedRequests || (queued > 0 && queuedBytes + req.bytes > kMaxQueuedBytes)) {
            full = true;
            refusedBefore = m_refusedFull++;
        } else {
            refusedBefore = m_refusedFull;
            m_refusedFull = 0;
            id = req.id = m_nextId;
            m_nextId = idAfter(m_nextId);
            m_queuedBytes += req.bytes;
            m_queue.push_back(std::move(req));
        }
    }
    // Logged outside the lock, once as the queue fills and once as it drains.
    if (stopped) {
        qiLog(2, "%s: the render thread is not running, request refused\n", "OvCore::post");
        return kRefused;
    }
    if (full) {
        if (refusedBefore == 0)
            qiLog(1, "%s: request queue full (%zu requests, %zu bytes), refusing requests\n", "OvCore::post", queued,
                  queuedBytes);
        return kRefused;
    }
    if (refusedBefore > 0)
        qiLog(1, "%s: request queue has room again; %u requests were refused\n", "OvCore::post", refusedBefore);
    wake();
    return id;
}

int32_t OvCore::postPattern(const char *name)
{
    QiParams p;
    p.set("Pattern", name);
    return post(p);
}

bool OvCore::waitTransaction(int32_t id, bool &result)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_waiter.waiting)
        return false;
    bool known = m_inFlight && m_inFlightId == id;
    for (const OvRequest &r : m_queue) {
        if (known)
            break;
        known = r.id == id;
    }
    if (!known)
        return false;
    m_waiter.waiting = true;
    m_waiter.done = false;
    m_waiter.id = id;
    m_waiterCond.wait(lock, [this] { return m_waiter.done; });
    result = m_waiter.result;
    m_waiter.waiting = false;
    return true;
}

bool OvCore::waitProcessed(int32_t id, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto pending = [&] {
        if (m_inFlight && m_inFlightId == id)
            return true;
        for (const OvRequest &r : m_queue)
            if (r.id == id)
                return true;
        return false;
    };
    ++m_doneWaiters;
    const bool done = m_doneCond.wait_for(lock, limit, [&] { return !pending(); });
    --m_doneWaiters;
    return done;
}

size_t OvCore::queuedRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

bool OvCore::hasWaiter()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiter.waiting;
}

bool OvCore::currentParams(QiParams &out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    out = m_currentParams;
    return true;
}

const OvVersionInfo &OvCore::versionInfo()
{
    static OvVersionInfo info;
    info.software = "317";
    info.gateware = m_raster ? m_raster->gatewareVersion() : std::string();
    info.operatingSystem = "Windows [Unknown]";
    info.application = "Application-Version";
    return info;
}

std::unique_ptr<QiImage> OvCore::copyFrameBuffer()
{
    // A copy taken between requests is encoded outside the lock: the render
    // thread waits for a memory copy, not for the PNG encoder.
    std::unique_ptr<QiImage> copy;
    readFrameBuffer([&copy](const QiImage &image) {
        copy = std::make_unique<QiImage>(image.width(), image.height(), image.bits());
        if (!copy->data()) {
            copy.reset();
            return;
        }
        std::memcpy(copy->data(), image.data(),
                    static_cast<size_t>(image.width()) * static_cast<size_t>(image.height()) * sizeof(uint64_t));
        copy->setTextBlendMode(image.textBlendMode());
    });
    return copy;
}

bool OvCore::saveImageAsPng(const char *path)
{
    qiLog(2, "%s: saving raster to %s\n", "OvCore::saveImageAsPng", path);
    std::unique_ptr<QiImage> copy = copyFrameBuffer();
    return copy && copy->savePng(path);
}

bool OvCore::encodeImageAsPng(std::vector<uint8_t> &png)
{
    std::unique_ptr<QiImage> copy = copyFrameBuffer();
    return copy && qiEncodePng(*copy, png);
}

bool OvCore::readFrameBuffer(const std::function<void(const QiImage &)> &read)
{
    if (!m_raster)
        return false;
    std::lock_guard<std::mutex> guard(m_rasterLock);
    if (!m_raster->data())
        return false;
    read(*m_raster);
    return true;
}

int32_t OvCore::outputEncoding()
{
    if (!m_raster)
        return 2;
    std::lock_guard<std::mutex> guard(m_rasterLock);
    return m_raster->colourEncoding();
}

bool OvCore::validateOptions(const QiParams &params, OvPatternRenderer *renderer)
{
    qiLog(2, "%s: renderer is %p\n", "OvCore::validateOptions", static_cast<void *>(renderer));
    bool any = false;
    for (const auto &kv : params) {
        const std::string &key = kv.first;
        if (key == "Pattern")
            continue;
        bool generator = false;
        for (QiOptionList o = OvGenOptions::list(); *o; ++o) {
            if ((*o)->matchesKey(key)) {
                generator = true;
                break;
            }
        }
        for (QiOptionList o = OvGenOptions::signalList(); !generator && *o; ++o)
            generator = (*o)->matchesKey(key);
        if (generator)
            continue;
        bool mine = false;
        for (QiOptionList o = renderer->options; o && *o; ++o) {
            if ((*o)->matchesKey(key)) {
                mine = true;
                break;
            }
        }
        if (mine)
            any = true;
        else
            qiLog(2, "warning: %s: unknown option: '%s'\n", renderer->name(), key.c_str());
    }
    return any;
}

void OvCore::mainLoop()
{
    int64_t t = ticksNow();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (m_queue.empty()) {
            OvPatternRenderer *cur = m_currentRenderer;
            int32_t period = cur ? cur->framePeriod.load() : 0;
            if (period != 0) {
                t += static_cast<int64_t>(period) * 10000;
                int64_t wait = t - ticksNow();
                std::cv_status st = std::cv_status::timeout;
                if (wait > 0)
                    st = m_work.wait_for(lock, std::chrono::nanoseconds(wait * 100));
                if (st == std::cv_status::timeout)
                    t = ticksNow();
            } else {
                // Read under the lock: a request queued after this has its
                // wake counted after it, so the wait cannot miss it.
                const uint32_t seq = m_workSeq.load();
                lock.unlock();
                m_idle.fetch_add(1);
                while (m_workSeq.load() == seq)
                    syscall(SYS_futex, reinterpret_cast<uint32_t *>(&m_workSeq), FUTEX_WAIT_PRIVATE, seq, nullptr,
                            nullptr, 0);
                m_idle.fetch_sub(1);
                lock.lock();
            }
            cur = m_currentRenderer;
            if (m_queue.empty() && cur && cur->framePeriod.load() != 0) {
                // Presenting may take a DMA's time: let posters in meanwhile.
                lock.unlock();
                m_raster->present(-1);
                m_framesPresented.fetch_add(1, std::memory_order_release);
                lock.lock();
            }
        }

        OvRequest req = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= req.bytes;
        m_inFlight = true;
        m_inFlightId = req.id;
        lock.unlock();

        if (req.stop) {
            uint32_t pill = 0;
            req.params.getUInt("CyanidePill", pill);
            qiLog(3, "Cyanide-0x%08x\n", pill);
            lock.lock();
            m_inFlight = false;
            if (m_waiter.waiting && m_waiter.id == req.id) {
                m_waiter.result = false;
                m_waiter.done = true;
                m_waiterCond.notify_all();
            }
            if (m_doneWaiters)
                m_doneCond.notify_all();
            return;
        }

        std::unique_lock<std::mutex> rasterLock(m_rasterLock);
        lock.lock();
        m_currentRenderer = req.renderer;
        lock.unlock();

        bool rerender = setGenOpts(req.params);

        lock.lock();
        m_currentParams = req.params;
        lock.unlock();

        qiLog(3, "%s: setGenOpts? rerender %s\n", "OvCore::mainLoop", tf(rerender));
        bool result = true;
        if (req.renderer && (rerender || req.newPattern)) {
            qiLog(3, "%s: (rerender %s) (newPattern %s)\n", "OvCore::mainLoop", tf(rerender), tf(req.newPattern));
            result = setPattern(req.renderer, req.params);
            t = ticksNow();
        }
        rasterLock.unlock();

        lock.lock();
        m_inFlight = false;
        if (m_waiter.waiting && m_waiter.id == req.id) {
            m_waiter.result = result;
            m_waiter.done = true;
            m_waiterCond.notify_all();
        }
        if (m_doneWaiters)
            m_doneCond.notify_all();
    }
}

bool OvCore::setPattern(OvPatternRenderer *renderer, QiParams &params)
{
    const char *pattern = nullptr;
    params.get("Pattern", pattern);
    const char *shown = pattern ? pattern : "(none)";
    int64_t t0 = ticksNow();
    qiLog(3, "%s: rendering %s (%dx%d)", "OvCore::setPattern", shown, m_raster->width(), m_raster->height());
    renderer->render(this, m_raster, params);
    int64_t t1 = ticksNow();
    qiLog(2, "pattern rendered %s in time %g\n", shown, static_cast<double>(t1 - t0) / 10000000.0);
    m_raster->present(-1);
    m_framesPresented.fetch_add(1, std::memory_order_release);
    int64_t t2 = ticksNow();
    qiLog(2, "raster rendered %s in time %g\n", shown, static_cast<double>(t2 - t1) / 10000000.0);
    return true;
}

std::vector<OvPatternRenderer *> OvCore::renderers()
{
    std::unique_lock<std::mutex> lock = tableLock();
    return m_renderers;
}

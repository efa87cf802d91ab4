#pragma once
#include "OvPatternRenderer.h"
#include "OvRequest.h"
#include "QiParams.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QiFont.h"
#include "QiSignal.h"
class QiImage;
class QiRaster;
class QigInterface;

// The answer of getGenOptions(out, true) in one shape: every description
// (the usual ones, then the signal options), then the values of both, then
// the current parameters. A list without signal maps stays as it is.
void ovJoinSignalMaps(std::vector<QiParams> &maps);

// Orders names ignoring ASCII case (the renderer registry).
struct OvCaseLess {
    bool operator()(const std::string &a, const std::string &b) const;
};

struct OvVersionInfo {
    std::string software, gateware, operatingSystem, application;
};

// The generator engine: a request queue served by one render thread.
// post/postPattern/waitTransaction/currentParams may be called from any
// thread; the render thread alone draws into the raster.
class OvCore {
public:
    OvCore();
    ~OvCore();

    // Requests waiting for the render thread, at most; more are refused.
    static constexpr size_t kMaxQueuedRequests = 256;
    // Keys and values held by waiting requests together, at most.
    static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;
    // Never a transaction id: what post answers when it queues nothing.
    static constexpr int32_t kRefused = 0;

    // Initialises on an initialised raster, starts the render thread and
    // registers the given built-in renderers in order. dataFolder may be null.
    void start(QiRaster *raster, const char *dataFolder, const std::vector<OvRendererFactory> &builtins = {});
    // Queues the stop message behind what is queued, joins the render
    // thread; from then on post refuses. Idempotent.
    void shutdown();

    // Queues a copy of params; returns its transaction id, or kRefused when
    // nothing will process it (not started, shutting down, queue full).
    // Ids skip 0 and -1, so neither is ever a transaction.
    int32_t post(const QiParams &params);
    int32_t postPattern(const char *name);
    // Blocks until request id has been processed (queued or in progress).
    // False at once when another caller waits, or the id is unknown or done.
    bool waitTransaction(int32_t id, bool &result);
    // Blocks until request id is neither queued nor being processed (its
    // frame, if any, handed to the raster), or until limit has passed. Any
    // number of callers may wait at once (the protocol clients each wait for
    // their own patches). False on time-out; true at once for an id that is
    // not or no longer known.
    bool waitProcessed(int32_t id, std::chrono::milliseconds limit);
    // Requests waiting in the queue.
    size_t queuedRequests();
    // True while a caller sleeps in waitTransaction.
    bool hasWaiter();
    bool currentParams(QiParams &out);
    // The frame size as the render thread last set it (any thread).
    void frameSize(int32_t &width, int32_t &height);
    const OvVersionInfo &versionInfo();
    // Any thread: the frame buffer as the last finished request left it.
    bool saveImageAsPng(const char *path);
    // The same picture as PNG bytes in memory.
    bool encodeImageAsPng(std::vector<uint8_t> &png);
    // Any thread: read sees the frame buffer between two requests; the
    // render thread waits for it, so it should be brief. False (read not
    // called) without a frame buffer.
    bool readFrameBuffer(const std::function<void(const QiImage &)> &read);
    // Any thread: the colour encoding the raster encodes with (0..5).
    int32_t outputEncoding();
    // Frames handed to the output so far: drawn requests and the flips of
    // patterns with a frame period.
    uint64_t framesPresented() const { return m_framesPresented.load(std::memory_order_acquire); }

    // Catalogue.
    bool registerRenderer(OvPatternRenderer *renderer);
    OvPatternRenderer *findRenderer(const char *name);
    // The renderer a "Pattern" name selects: the registry first (any case),
    // then the aliases (exact), whose stored options are added to request
    // where it lacks them. Null when the name is neither.
    OvPatternRenderer *resolvePattern(const char *name, QiParams &request);
    bool makeAlias(const char *name, const QiParams &params);
    bool makeAliasFromCurrent(const char *name);
    bool removeAliases(const char *prefix);
    bool listPatterns(QiParams &out);
    bool getPatternOpts(const char *name, std::vector<QiParams> &out);
    // Images in folder become "ImageFile" aliases named prefix+base; ".ovp"
    // plug-ins are loaded only when allowPlugins (never for folders a remote
    // client names, unless the program allows it).
    bool scanFolder(const char *folder, const char *prefix, bool allowPlugins);
    // Takes ownership of a renderer (plug-ins) and registers it.
    bool adoptRenderer(OvPatternRenderer *renderer);

    // Generator options.
    bool getGenValues(QiParams &out);
    bool getGenOptions(std::vector<QiParams> &out);
    // withSignal adds, after the usual maps, one describe map per signal
    // option and one map of their current values.
    bool getGenOptions(std::vector<QiParams> &out, bool withSignal);
    // The signal options as last applied: one entry per option, by name.
    bool getSignalValues(QiParams &out);
    // The signal the output carries as last applied (any thread).
    QiSignal signal();
    bool rescanFormats();

    // Title overlay: the title, the video format and an optional extra line,
    // drawn only while "OutputTitling" is on. Render thread.
    void drawTitle(const char *title, const char *extra, QiRaster *raster);
    // Caption fonts: 0-2 eterna at 16/24/32 pt, 3 plexifont 72 pt,
    // 4 spincycle 72 pt. Null before start. Render thread.
    QiFont *font(int index) const;
    static constexpr int kFontCount = 5;
    static constexpr int kTitleFont = 1;
    static constexpr int kLabelFont = 0;
    static constexpr int kDisplayFont = 3;

    // Render-thread wake-up (the raster's callback).
    void wake();

    bool titling() const { return m_gen.titling.load(); }
    QiRaster *raster() const { return m_raster; }
    const std::string &dataFolder() const { return m_dataFolder; }
    const std::string &fontFolder() const { return m_fontFolder; }
    std::vector<OvPatternRenderer *> renderers();
    bool running() const { return m_thread.joinable(); }

    OvCore(const OvCore &) = delete;
    OvCore &operator=(const OvCore &) = delete;

private:
    struct Alias {
        OvPatternRenderer *renderer;
        QiParams params;
    };

    void mainLoop();
    // Copy of the frame buffer taken between requests; null without one.
    std::unique_ptr<QiImage> copyFrameBuffer();
    bool setPattern(OvPatternRenderer *renderer, QiParams &params);
    bool validateOptions(const QiParams &params, OvPatternRenderer *renderer);
    // Generator options; true when the picture must be drawn again.
    bool setGenOpts(QiParams &params);
    void genStart();
    // Signal options of a request; true when the signal changed.
    bool setSignalOpts(QiParams &params);
    void loadFonts();
    // Takes the engine mutex unless this thread holds it through start.
    std::unique_lock<std::mutex> tableLock();

    QiRaster *m_raster = nullptr;
    std::unique_ptr<QiFont> m_fonts[kFontCount];
    std::string m_fontFolder = ".";
    std::string m_dataFolder = ".";
    std::unique_ptr<QigInterface> m_wake;

    // Generator state: written by the render thread, read unlocked by queries.
    struct GenState {
        std::atomic<int32_t> outputColor{0};
        std::atomic<int32_t> videoFormat{0};
        std::atomic<int32_t> gateColorRed{0}, gateColorGreen{0}, gateColorBlue{0};
        std::atomic<int32_t> colorEncoding{3};
        std::atomic<bool> titling{false};
        std::atomic<bool> gateRed{false}, gateGreen{false}, gateBlue{false};
        std::atomic<bool> mute{false};
    } m_gen;
    // The signal options as requested; written by the render thread, read
    // by queries under m_signalLock.
    struct SignalSettings {
        uint32_t transfer = 0, colorimetry = 0, range = 0, metadata = 0, primaries = 0;
        // Custom red, green, blue and white x, y.
        double custom[8] = {0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290};
        double maxLuminance = 1000, minLuminance = 0.005;
        int32_t maxCll = 0, maxFall = 0;
        bool described = false;
    } m_signalSettings;
    QiSignal m_signal;
    std::mutex m_signalLock;
    // The raster's format name as last seen by the render thread, for queries
    // from other threads (the raster itself is render-thread only).
    std::string m_formatName;
    int32_t m_frameWidth = 0, m_frameHeight = 0;
    std::mutex m_formatNameLock;
    // Serialises format-list rescans (render start and remote requests).
    std::mutex m_formatsLock;

    // Held by the render thread while it applies a request (options that may
    // resize the raster, then the drawing), so a snapshot from another
    // thread never reads a frame buffer being replaced or half drawn.
    std::mutex m_rasterLock;

    std::mutex m_mutex;
    std::condition_variable m_work;
    // Bumped with every wake of the render thread; the idle render thread
    // sleeps on it (a futex) instead of on m_work, because a condition
    // variable hands the mutex back marked contended and each request then
    // costs one more system call to release it. m_idle counts sleepers so
    // a wake with nobody asleep stays in user space.
    std::atomic<uint32_t> m_workSeq{0};
    std::atomic<int32_t> m_idle{0};
    std::condition_variable m_waiterCond;
    // Woken after every processed request while anyone waits in waitProcessed.
    std::condition_variable m_doneCond;
    int32_t m_doneWaiters = 0;
    // Frames handed to the output so far.
    std::atomic<uint64_t> m_framesPresented{0};
    std::deque<OvRequest> m_queue;
    OvPatternRenderer *m_currentRenderer = nullptr;
    QiParams m_currentParams;
    int32_t m_nextId = 0;

    // The request the render thread is working on, so a waiter can catch it.
    bool m_inFlight = false;
    int32_t m_inFlightId = 0;

    struct Waiter {
        bool waiting = false;
        int32_t id = 0;
        bool done = false;
        bool result = false;
    } m_waiter;

    std::map<std::string, OvPatternRenderer *, OvCaseLess> m_registry;
    std::vector<OvPatternRenderer *> m_renderers;
    std::vector<std::unique_ptr<OvPatternRenderer>> m_owned;
    std::map<std::string, Alias> m_aliases;

    std::thread m_thread;
    std::thread::id m_startThread;
    bool m_starting = false;
    bool m_stopped = false;
    // True from start until the stop message is queued: only then does a
    // posted request have a render thread to process it.
    bool m_accepting = false;
    size_t m_queuedBytes = 0;
    // Refusals of the current full-queue episode (one log line each way).
    uint32_t m_refusedFull = 0;
    OvVersionInfo m_version;
};

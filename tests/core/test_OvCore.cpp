#include "FakeRaster.h"
#include "OvCore.h"
#include "OvGenOptions.h"
#include "QiLog.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiOptEnum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QiOptInt g_size("Size", "Window size", 10, 1, 100);
QiOptRGB g_color("Color", "Window colour", 940, 940, 940, true);
const QiOption *const g_dummyOptions[] = {&g_size, &g_color, nullptr};

// Records what it renders; can hold the render thread inside render.
class Dummy : public OvPatternRenderer {
public:
    Dummy() : OvPatternRenderer(g_dummyOptions, "$Revision: 9.9 $") { instance = this; }
    const char *name() const override { return "Dummy"; }
    bool registerAliases(OvCore *engine) override
    {
        QiParams p;
        p.set("Pattern", name());
        p.set("Size", "42");
        engine->makeAlias("Big", p);
        engine->makeAlias("Raster", p);
        return true;
    }
    bool render(OvCore *, QiRaster *raster, const QiParams &params) override
    {
        std::unique_lock<std::mutex> l(lock);
        seen.push_back(params);
        entered = true;
        cond.notify_all();
        cond.wait(l, [this] { return !hold; });
        raster->render(0, false);
        return true;
    }
    void waitEntered()
    {
        std::unique_lock<std::mutex> l(lock);
        cond.wait(l, [this] { return entered; });
    }
    void release()
    {
        std::lock_guard<std::mutex> l(lock);
        hold = false;
        cond.notify_all();
    }
    size_t count()
    {
        std::lock_guard<std::mutex> l(lock);
        return seen.size();
    }
    QiParams last()
    {
        std::lock_guard<std::mutex> l(lock);
        return seen.back();
    }

    static Dummy *instance;
    std::mutex lock;
    std::condition_variable cond;
    std::vector<QiParams> seen;
    bool hold = false;
    bool entered = false;
};
Dummy *Dummy::instance = nullptr;

class Other : public OvPatternRenderer {
public:
    Other() : OvPatternRenderer(nullptr, "$Revision: 1.0 $") {}
    const char *name() const override { return "Other"; }
    bool registerAliases(OvCore *engine) override
    {
        QiParams p;
        p.set("Pattern", name());
        engine->makeAlias("Raster", p); // registered later: replaces Dummy's
        return true;
    }
    bool render(OvCore *, QiRaster *, const QiParams &) override { return true; }
};

std::string value(const QiParams &p, const char *key)
{
    const char *v = nullptr;
    return p.get(key, v) ? std::string(v) : std::string("<absent>");
}

OvPatternRenderer *makeDummy() { return new Dummy; }
OvPatternRenderer *makeOther() { return new Other; }

class CaptureOutput : public QiOutput {
public:
    bool write(const char *b, size_t n) override
    {
        std::lock_guard<std::mutex> g(lock);
        text.append(b, n);
        return true;
    }
    std::string get()
    {
        std::lock_guard<std::mutex> g(lock);
        return text;
    }
    std::mutex lock;
    std::string text;
};

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto cap = std::make_unique<CaptureOutput>();
        logged = cap.get();
        oldLog = swapLogOutput(std::move(cap));
        core.start(&raster, nullptr, {makeDummy, makeOther});
        dummy = Dummy::instance;
    }
    void TearDown() override
    {
        raster.openGate();
        if (dummy)
            dummy->release();
        core.shutdown();
        swapLogOutput(std::move(oldLog));
    }
    // Posts and waits for the frame; fails the test when the wait is refused.
    // Holds the render thread at the start of the request until the wait is
    // registered, so the request cannot finish before it is waited for.
    void postWait(const QiParams &p)
    {
        raster.closeGate();
        int32_t id = core.post(p);
        auto w = std::async(std::launch::async, [&] {
            bool result = false;
            return core.waitTransaction(id, result) && result;
        });
        // A wait that returned at once (request gone) ends this loop too.
        while (!core.hasWaiter() && w.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            std::this_thread::yield();
        raster.openGate();
        EXPECT_TRUE(w.get());
    }
    QiParams pattern(const char *name)
    {
        QiParams p;
        p.set("Pattern", name);
        return p;
    }

    FakeRaster raster;
    OvCore core;
    Dummy *dummy = nullptr;
    CaptureOutput *logged = nullptr;
    std::unique_ptr<QiOutput> oldLog;
};

} // namespace

TEST_F(Engine, IdsAreConsecutiveAndWaitsReturnAfterTheDraw)
{
    dummy->hold = true;
    int32_t a = core.postPattern("Dummy");
    int32_t b = core.postPattern("Dummy");
    EXPECT_EQ(b, a + 1);
    auto waiter = std::async(std::launch::async, [&] {
        bool r = false;
        bool waited = core.waitTransaction(b, r);
        return waited && r;
    });
    dummy->waitEntered();
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    dummy->release();
    EXPECT_TRUE(waiter.get());
    EXPECT_EQ(dummy->count(), 2u);
    bool r;
    EXPECT_FALSE(core.waitTransaction(b, r)) << "completed ids are not waited for";
    EXPECT_FALSE(core.hasWaiter());
    EXPECT_FALSE(core.waitTransaction(b + 1000, r)) << "never posted";
}

TEST_F(Engine, WaitCatchesTheRequestBeingDrawnAndAllowsOneWaiter)
{
    dummy->hold = true;
    int32_t id = core.postPattern("Dummy");
    dummy->waitEntered(); // the render thread has taken it off the queue
    auto first = std::async(std::launch::async, [&] {
        bool r = false;
        return core.waitTransaction(id, r) && r;
    });
    // Give the first waiter time to register, then a second one is refused.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bool r;
    EXPECT_FALSE(core.waitTransaction(id, r));
    EXPECT_EQ(first.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    dummy->release();
    EXPECT_TRUE(first.get());
}

TEST_F(Engine, PatternLookupIgnoresCaseButAliasesDoNot)
{
    postWait(pattern("dUMMY"));
    ASSERT_EQ(dummy->count(), 1u);

    postWait(pattern("Big"));
    ASSERT_EQ(dummy->count(), 2u);
    EXPECT_EQ(value(dummy->last(), "Size"), "42");

    // Keys given in the request win over the alias's stored ones.
    QiParams p = pattern("Big");
    p.set("Size", "7");
    postWait(p);
    EXPECT_EQ(value(dummy->last(), "Size"), "7");

    // "big" is no alias: queued without renderer, nothing drawn.
    postWait(pattern("big"));
    EXPECT_EQ(dummy->count(), 3u);
    // A following request without "Pattern" has no renderer either.
    QiParams size;
    size.set("Size", "3");
    postWait(size);
    EXPECT_EQ(dummy->count(), 3u);
}

TEST_F(Engine, RequestsWithoutPatternMergeTheCurrentParameters)
{
    QiParams none;
    none.set("Size", "5");
    postWait(none);
    EXPECT_EQ(dummy->count(), 0u) << "nothing was ever rendered: no renderer";

    QiParams first = pattern("Dummy");
    first.set("Size", "3");
    first.set("Color_Red", "1");
    first.set("Color_Green", "2");
    first.set("Color_Blue", "3");
    postWait(first);

    QiParams change;
    change.set("Size", "4");
    postWait(change);
    ASSERT_EQ(dummy->count(), 2u);
    QiParams got = dummy->last();
    const char *v;
    got.get("Size", v);
    EXPECT_STREQ(v, "4");
    got.get("Color_Green", v);
    EXPECT_STREQ(v, "2");
    got.get("Pattern", v);
    EXPECT_STREQ(v, "Dummy");

    // Naming the pattern again starts from its defaults.
    postWait(pattern("Dummy"));
    EXPECT_FALSE(dummy->last().has("Size"));

    // A generator option that changes nothing does not draw again.
    QiParams gate;
    gate.set("GateRed", "false");
    postWait(gate);
    EXPECT_EQ(dummy->count(), 3u);
    // One that changes the output does.
    QiParams mute;
    mute.set("VideoMute", "true");
    postWait(mute);
    EXPECT_EQ(dummy->count(), 4u);

    QiParams cur;
    core.currentParams(cur);
    EXPECT_TRUE(cur.has("VideoMute"));
}

TEST_F(Engine, UnknownOptionsOnlyWarn)
{
    QiParams p = pattern("Dummy");
    p.set("Bogus", "1");
    p.set("VideoMute", "false");
    p.set("Color_Red", "5");
    postWait(p);
    EXPECT_EQ(dummy->count(), 1u);
    std::string log = logged->get();
    EXPECT_NE(log.find("Info: warning: Dummy: unknown option: 'Bogus'\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("unknown option: 'VideoMute'"), std::string::npos);
    EXPECT_EQ(log.find("unknown option: 'Color_Red'"), std::string::npos);
    EXPECT_NE(log.find("Info: OvCore::validateOptions: renderer is "), std::string::npos);
    EXPECT_NE(log.find("Minutiae: OvCore::setPattern: rendering Dummy (1280x720)Info: pattern rendered Dummy in time "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Info: raster rendered Dummy in time "), std::string::npos);
}

// The stop message is the engine's own: a "CyanidePill" key in a request
// or an alias is an unknown option like any other and stops nothing.
// Shutdown queues its stop behind what is queued, and afterwards nothing is
// accepted that nothing would process.
TEST_F(Engine, StopMessageIsTheEnginesOwn)
{
    QiParams pill = pattern("Dummy");
    pill.set("CyanidePill", "0x1234abcd");
    postWait(pill);
    ASSERT_EQ(dummy->count(), 1u) << "drawn like any request";
    EXPECT_EQ(value(dummy->last(), "CyanidePill"), "0x1234abcd");
    EXPECT_NE(logged->get().find("warning: Dummy: unknown option: 'CyanidePill'"), std::string::npos);
    ASSERT_TRUE(core.makeAlias("pill", pill));
    postWait(pattern("pill"));
    QiParams bare;
    bare.set("CyanidePill", "1");
    postWait(bare);
    postWait(pattern("Dummy"));
    EXPECT_EQ(dummy->count(), 3u) << "the render thread is still there (the bare key drew nothing)";
    EXPECT_TRUE(core.running());

    dummy->hold = true;
    dummy->entered = false;
    core.postPattern("Dummy");
    dummy->waitEntered();
    int32_t queued = core.postPattern("Dummy");
    auto waiter = std::async(std::launch::async, [&] {
        bool r = false;
        return core.waitTransaction(queued, r) && r;
    });
    while (!core.hasWaiter())
        std::this_thread::yield();
    auto stopping = std::async(std::launch::async, [&] { core.shutdown(); });
    // Posts race the stop: those accepted before it are drawn; once it is
    // queued nothing more is taken.
    int32_t last = queued, id = queued;
    size_t accepted = 0;
    for (int i = 0; i < 5000 && id != OvCore::kRefused; ++i) {
        id = core.postPattern("Dummy");
        if (id != OvCore::kRefused) {
            last = id;
            ++accepted;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(id, OvCore::kRefused);
    dummy->release();
    stopping.get();
    EXPECT_TRUE(waiter.get()) << "what was queued before the stop is drawn";
    EXPECT_EQ(dummy->count(), 5u + accepted);
    char line[64];
    snprintf(line, sizeof line, "Minutiae: Cyanide-0x%08x\n", static_cast<uint32_t>(last) + 1u);
    EXPECT_NE(logged->get().find(line), std::string::npos) << "the stop carries the next id: " << line;
    EXPECT_EQ(raster.interface(), nullptr) << "the engine detaches from the raster";

    // After shutdown: refused, and waits return false at once.
    EXPECT_FALSE(core.running());
    EXPECT_EQ(core.post(pattern("Dummy")), OvCore::kRefused);
    EXPECT_EQ(core.postPattern("Dummy"), OvCore::kRefused);
    bool r = true;
    EXPECT_FALSE(core.waitTransaction(OvCore::kRefused, r));
    EXPECT_FALSE(core.waitTransaction(queued + 1, r));
    EXPECT_NE(logged->get().find("OvCore::post: the render thread is not running, request refused"),
              std::string::npos);
}

// Posters racing shutdown: every id handed out is drawn, none is lost
// behind the stop message. (The next id is read under the lock: a
// thread-sanitizer build sees the race otherwise.)
TEST_F(Engine, EveryIdHandedOutBeforeShutdownIsDrawn)
{
    std::atomic<bool> go{true};
    std::vector<std::thread> posters;
    std::atomic<int> accepted{0};
    for (int t = 0; t < 3; ++t)
        posters.emplace_back([&] {
            while (go.load()) {
                if (core.postPattern("Dummy") != OvCore::kRefused)
                    ++accepted;
                else
                    std::this_thread::yield();
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    core.shutdown();
    go.store(false);
    for (auto &t : posters)
        t.join();
    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(dummy->count(), static_cast<size_t>(accepted.load()));
}

// The queue holds 256 requests (and 64 MiB of keys and values); beyond
// that post refuses with one log line per episode, and every id it handed
// out is drawn.
TEST_F(Engine, QueueIsBoundedAndEveryIdIsDrawn)
{
    raster.closeGate();
    const int32_t first = core.postPattern("Dummy");
    while (core.queuedRequests() != 0)
        std::this_thread::yield(); // taken, held at the gate
    std::vector<int32_t> ids;
    for (int i = 0; i < 300; ++i)
        ids.push_back(core.postPattern("Dummy"));
    ASSERT_EQ(core.queuedRequests(), OvCore::kMaxQueuedRequests);
    for (int i = 0; i < 300; ++i) {
        if (i < 256)
            ASSERT_EQ(ids[i], first + 1 + i) << i;
        else
            ASSERT_EQ(ids[i], OvCore::kRefused) << i;
    }
    const std::string log = logged->get();
    size_t at = log.find("Warning: OvCore::post: request queue full (256 requests");
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find("request queue full", at + 30), std::string::npos) << "one line per episode";
    raster.openGate();
    for (int i = 0; i < 5000 && dummy->count() < 257; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(dummy->count(), 257u);
    postWait(pattern("Dummy"));
    EXPECT_NE(logged->get().find("OvCore::post: request queue has room again; 44 requests were refused"),
              std::string::npos);

    // Bytes count as well: two requests of 40 MB do not both wait.
    raster.closeGate();
    core.postPattern("Other");
    while (core.queuedRequests() != 0)
        std::this_thread::yield();
    QiParams big = pattern("Dummy");
    big.set("Size", std::string(40 << 20, '7'));
    EXPECT_NE(core.post(big), OvCore::kRefused);
    EXPECT_EQ(core.post(big), OvCore::kRefused);
    EXPECT_NE(core.postPattern("Dummy"), OvCore::kRefused) << "a small one still fits";
    raster.openGate();
    postWait(pattern("Dummy"));
}

TEST_F(Engine, FramePeriodFlipsBuffersWhileIdle)
{
    raster.setBufferCount(2);
    dummy->framePeriod = 100;
    postWait(pattern("Dummy"));
    size_t before = raster.outputCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    size_t flips = raster.outputCount() - before;
    EXPECT_GE(flips, 6u);
    EXPECT_LE(flips, 12u);
    dummy->framePeriod = 0;
    core.postPattern("Other");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    size_t still = raster.outputCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(raster.outputCount(), still) << "no flipping without a frame period";
}

TEST_F(Engine, ManyThreadsPostAndWait)
{
    std::vector<std::thread> threads;
    std::atomic<int> waited{0};
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                QiParams p = pattern(i % 2 ? "Dummy" : "Other");
                p.setInt("Size", t + i);
                int32_t id = core.post(p);
                bool r;
                if (core.waitTransaction(id, r))
                    ++waited;
                QiParams cur;
                core.currentParams(cur);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_GT(waited.load(), 0);
    QiParams listed;
    core.listPatterns(listed);
    EXPECT_EQ(listed.size(), 4u);
}

// Requests posted while the render thread is busy, just going idle, or
// long asleep: each one is drawn. A lost wake-up would leave a wait
// hanging, which the watchdog turns into a failure.
TEST_F(Engine, EveryRequestWakesTheRenderThread)
{
    auto run = std::async(std::launch::async, [&] {
        for (int i = 0; i < 3000; ++i) {
            int32_t id = core.post(pattern(i % 2 ? "Dummy" : "Other"));
            // Waiting on a request already drawn returns false at once.
            bool r = false;
            if (i % 3 == 0)
                core.waitTransaction(id, r);
            if (i % 7 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(i % 200));
        }
    });
    if (run.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        // The poster is stuck in its wait; the future cannot be destroyed.
        std::fprintf(stderr, "EveryRequestWakesTheRenderThread: a request was never drawn\n");
        std::_Exit(1);
    }
    postWait(pattern("Dummy"));
    EXPECT_EQ(dummy->count(), 1501u);
}

TEST_F(Engine, CatalogueListsPatternsAndAliases)
{
    QiParams list;
    core.listPatterns(list);
    const char *v;
    ASSERT_TRUE(list.get("Dummy", v));
    EXPECT_STREQ(v, "$Revision: 9.9 $");
    ASSERT_TRUE(list.get("Big", v));
    EXPECT_STREQ(v, "Alias/Dummy");
    ASSERT_TRUE(list.get("Raster", v));
    EXPECT_STREQ(v, "Alias/Other") << "a later alias of the same name replaces the earlier";

    QiParams alias = pattern("Big");
    EXPECT_FALSE(core.makeAlias("Huge", alias)) << "aliases of aliases are refused";
    EXPECT_FALSE(core.makeAlias("Nameless", QiParams()));
    EXPECT_TRUE(core.makeAlias("user/A", pattern("Other")));
    EXPECT_TRUE(core.makeAlias("userA", pattern("Other")));
    core.removeAliases("user/");
    QiParams after;
    core.listPatterns(after);
    EXPECT_FALSE(after.has("user/A"));
    EXPECT_TRUE(after.has("userA"));
    core.removeAliases("");
    QiParams none;
    core.listPatterns(none);
    EXPECT_EQ(none.size(), 2u);

    // A renderer registered again under the same name, in any case, replaces
    // the first in the registry but both stay in the renderer list.
    class Again : public OvPatternRenderer {
    public:
        Again() : OvPatternRenderer(nullptr, "$Revision: 2 $") {}
        const char *name() const override { return "OTHER"; }
        bool render(OvCore *, QiRaster *, const QiParams &) override { return true; }
    };
    core.adoptRenderer(new Again);
    QiParams again;
    core.listPatterns(again);
    EXPECT_EQ(value(again, "OTHER"), "$Revision: 2 $");
    EXPECT_FALSE(again.has("Other"));
    EXPECT_EQ(core.renderers().size(), 3u);

    std::vector<QiParams> opts;
    EXPECT_TRUE(core.getPatternOpts("DUMMY", opts));
    ASSERT_EQ(opts.size(), 2u);
    opts[1].get("Name", v);
    EXPECT_STREQ(v, "Color");
    std::vector<QiParams> none2;
    EXPECT_FALSE(core.getPatternOpts("Big", none2));
}


TEST_F(Engine, MuteGatesAndGatingColourReachTheCoder)
{
    uint8_t flags, r, g, b;
    QiParams mute;
    mute.set("VideoMute", "true");
    postWait(mute);
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(flags, 7);
    EXPECT_EQ(r, 70);
    EXPECT_EQ(g, 70);
    EXPECT_EQ(b, 70);
    mute.set("VideoMute", "false");
    postWait(mute);
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(flags, 0) << "unmuting re-applies the (empty) gates";

    QiParams toggle;
    toggle.set("VideoMute", "toggle");
    postWait(toggle);
    QiParams cur;
    core.currentParams(cur);
    EXPECT_EQ(value(cur, "VideoMute"), "true");
    postWait(toggle);
    core.currentParams(cur);
    EXPECT_EQ(value(cur, "VideoMute"), "false");
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(flags, 0);

    // Colour without a gate is stored, the coder untouched.
    raster.coder().setOverrides(0, 9, 9, 9);
    QiParams colour;
    colour.set("GatingColor_Red", "300");
    colour.set("GatingColor_Green", "2");
    colour.set("GatingColor_Blue", "3");
    postWait(colour);
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(r, 9);
    QiParams values;
    core.getGenValues(values);
    EXPECT_EQ(value(values, "GatingColor_Red"), "300");

    QiParams gate;
    gate.set("GateRed", "1");
    gate.set("GatingColor_Red", "0");
    gate.set("GatingColor_Green", "0");
    gate.set("GatingColor_Blue", "0");
    postWait(gate);
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(r, 0);
    QiParams blue;
    blue.set("GateBlue", "yes");
    blue.set("GatingColor_Red", "0x1ff");
    blue.set("GatingColor_Green", "0");
    blue.set("GatingColor_Blue", "7");
    postWait(blue);
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(flags, 5);
    EXPECT_EQ(r, 0xff) << "only the low 8 bits reach the coder";
    EXPECT_EQ(b, 7);
    // An incomplete colour changes nothing (a request naming a pattern merges
    // no current parameters).
    QiParams partial = pattern("Other");
    partial.set("GatingColor_Red", "1");
    postWait(partial);
    raster.coder().getOverrides(flags, r, g, b);
    EXPECT_EQ(r, 0xff);
}

TEST_F(Engine, VideoFormatTogglesWrapAndTheRasterChoosesTheEncoding)
{
    QiParams values;
    core.getGenValues(values);
    EXPECT_EQ(value(values, "ColorEncoding"), "Rec709 (compressed)") << "initial report";
    EXPECT_EQ(value(values, "VideoFormat"), "HD");

    QiParams t;
    t.set("VideoFormat", "toggle");
    postWait(t);
    EXPECT_EQ(raster.device, "UHD");
    QiParams cur;
    core.currentParams(cur);
    EXPECT_EQ(value(cur, "VideoFormat"), "UHD");
    postWait(t);
    EXPECT_EQ(raster.device, "SD") << "toggle wraps";

    QiParams both;
    both.set("VideoFormat", "hd");
    both.set("ColorEncoding", "Rec2020");
    postWait(both);
    EXPECT_EQ(raster.device, "HD");
    EXPECT_EQ(raster.colourEncoding(), 2);
    core.getGenValues(values);
    EXPECT_EQ(value(values, "ColorEncoding"), "Rec709");

    QiParams enc;
    enc.set("ColorEncoding", "rec2020");
    int before = Dummy::instance ? static_cast<int>(Dummy::instance->count()) : 0;
    postWait(pattern("Dummy"));
    postWait(enc);
    EXPECT_EQ(raster.colourEncoding(), 4);
    EXPECT_EQ(static_cast<int>(dummy->count()), before + 2) << "an encoding change draws again";

    // The device changes underneath: the request's format is ignored.
    raster.device = "UHD";
    int calls = raster.formatCalls;
    QiParams sd;
    sd.set("VideoFormat", "SD");
    postWait(sd);
    EXPECT_EQ(raster.device, "UHD");
    EXPECT_EQ(raster.formatCalls, calls + 1);
    core.getGenValues(values);
    EXPECT_EQ(value(values, "VideoFormat"), "UHD");
    // Unknown names change nothing.
    QiParams bad;
    bad.set("VideoFormat", "8K");
    calls = raster.formatCalls;
    postWait(bad);
    EXPECT_EQ(raster.formatCalls, calls);

    QiParams out;
    out.set("OutputColor", "YCC444_24");
    postWait(out);
    EXPECT_EQ(raster.lastPixelFormat, 7);
    out.set("OutputColor", "rgb_24");
    postWait(out);
    EXPECT_EQ(raster.lastPixelFormat, 0);
}

TEST_F(Engine, GeneratorOptionsArePublishedAsFourteenMaps)
{
    std::vector<QiParams> maps;
    core.getGenOptions(maps);
    ASSERT_EQ(maps.size(), 14u);
    const char *names[] = {"GatingColor", "GateRed", "GateGreen", "GateBlue", "VideoFormat", "OutputTitling",
                           "BitDepth", "BlackLevel", "WhiteLevel", "OutputColor", "VideoMute", "ColorEncoding"};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(value(maps[i], "Name"), names[i]);
    EXPECT_EQ(value(maps[4], "nVal"), "3");
    EXPECT_EQ(value(maps[4], "VideoFormat2"), "UHD");
    EXPECT_EQ(value(maps[4], "DefaultValue"), "HD");
    EXPECT_EQ(value(maps[6], "Value"), "10");
    EXPECT_EQ(value(maps[7], "Value"), "64");
    EXPECT_EQ(value(maps[8], "Value"), "940");
    EXPECT_EQ(value(maps[10], "Description"), "Mutes the video to a flat 25% grey raster");
    EXPECT_EQ(value(maps[11], "DefaultValue"), "Rec709 (compressed)");
    EXPECT_EQ(value(maps[12], "OutputColor"), "RGB_24");
    EXPECT_EQ(value(maps[12], "GateRed"), "0");
    EXPECT_TRUE(maps[13].empty()) << "no request applied yet";
}

namespace {
long residentKb()
{
    FILE *f = fopen("/proc/self/statm", "r");
    long pages = 0, rss = 0;
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &rss) != 2)
            rss = 0;
        fclose(f);
    }
    return rss * (sysconf(_SC_PAGESIZE) / 1024);
}
} // namespace

// Every rescan kept the list it replaced, forever (2-3 kB a call). An
// unchanged list is now kept as it is; a replaced one is freed once no
// reader holds it, while readers on other threads go on reading.
TEST_F(Engine, RescanFormatsKeepsMemoryFlat)
{
    QiOptEnum &vf = OvGenOptions::videoFormat;
    std::vector<std::string> kona, other;
    for (int i = 0; i < 31; ++i) {
        kona.push_back("1080p " + std::to_string(i) + ".00 3Ga (HDMI, SDI-3Ga)");
        other.push_back("4x2048x1080p " + std::to_string(i) + ".00");
    }
    raster.formats = kona;
    core.rescanFormats();
    ASSERT_EQ(vf.values(), kona);
    EXPECT_EQ(vf.snapshotsHeld(), 1);

    std::atomic<bool> reading{true};
    std::atomic<long> reads{0};
    std::thread reader([&] {
        while (reading.load()) {
            std::vector<std::string> v = vf.values();
            std::string n = vf.nameAt(3);
            QiParams d;
            vf.describe(d);
            // Each read sees one whole list, never a mix.
            if (v.size() != 31 || (v[0] != kona[0] && v[0] != other[0]))
                ADD_FAILURE() << "a torn list";
            ++reads;
        }
    });
    const long before = residentKb();
    for (int i = 0; i < 20000; ++i) {
        raster.formats = i % 2 ? kona : other;
        core.rescanFormats();
    }
    for (int i = 0; i < 20000; ++i)
        core.rescanFormats(); // unchanged
    const long grew = residentKb() - before;
    reading.store(false);
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(vf.snapshotsHeld(), 1) << "replaced lists are freed";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(grew, 4096) << "40 000 rescans grew resident memory by " << grew << " kB";
#else
    (void)grew;
#endif
    raster.formats = {"SD", "HD", "UHD"};
    core.rescanFormats();
}

// Alias names are listed to clients in XML: names with control characters
// or broken UTF-8 are refused, whoever makes them.
TEST_F(Engine, AliasNamesMustBeCleanText)
{
    QiParams p = pattern("Dummy");
    for (const char *bad : {"bell\x07", "\xFF", "tab\there", "del\x7F", "c1\xC2\x80", "\xED\xA0\x80", "\xEF\xBF\xBF"})
        EXPECT_FALSE(core.makeAlias(bad, p)) << bad;
    EXPECT_NE(logged->get().find("makeAlias: refusing an alias name with control characters or invalid UTF-8"),
              std::string::npos);
    EXPECT_TRUE(core.makeAlias("Gr\xC3\xB6\xC3\x9F" "e \xF0\x9D\x84\x9E", p));
    QiParams list;
    core.listPatterns(list);
    EXPECT_EQ(list.size(), 5u) << "Dummy, Other, Big, Raster and the good name";
}

TEST_F(Engine, ManyCallersWaitForTheirOwnFramesBesideTheOneTransactionWaiter)
{
    dummy->hold = true;
    const int32_t a = core.postPattern("Dummy");
    dummy->waitEntered(); // a is being drawn
    const int32_t b = core.postPattern("Dummy"), c = core.postPattern("Dummy");
    auto wait = [&](int32_t id) {
        return std::async(std::launch::async, [&, id] { return core.waitProcessed(id, std::chrono::seconds(10)); });
    };
    // Three at once, plus the single transaction waiter.
    auto wa = wait(a), wb = wait(b), wc = wait(c);
    auto tx = std::async(std::launch::async, [&] {
        bool r = false;
        return core.waitTransaction(c, r) && r;
    });
    EXPECT_EQ(wa.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout) << "a is still drawing";
    EXPECT_EQ(wc.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    dummy->release();
    EXPECT_TRUE(wa.get());
    EXPECT_TRUE(wb.get());
    EXPECT_TRUE(wc.get());
    EXPECT_TRUE(tx.get());
    EXPECT_EQ(dummy->count(), 3u);
    // Done or never posted: at once.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(core.waitProcessed(b, std::chrono::seconds(10)));
    EXPECT_TRUE(core.waitProcessed(c + 1000, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    // A frame that does not come in time: false after the limit.
    dummy->entered = false;
    dummy->hold = true;
    const int32_t d = core.postPattern("Dummy");
    dummy->waitEntered();
    EXPECT_FALSE(core.waitProcessed(d, std::chrono::milliseconds(50)));
    dummy->release();
    EXPECT_TRUE(core.waitProcessed(d, std::chrono::seconds(10)));
    // The frame size as the render thread set it.
    int32_t w = 0, h = 0;
    core.frameSize(w, h);
    EXPECT_EQ(w, raster.width());
    EXPECT_EQ(h, raster.height());
    EXPECT_GT(w, 0);
}

TEST_F(Engine, FramesPresentedCountsOneFramePerDrawnRequest)
{
    const uint64_t frames0 = core.framesPresented();
    core.postPattern("Dummy");
    const int32_t last = core.postPattern("Dummy");
    ASSERT_TRUE(core.waitProcessed(last, std::chrono::seconds(10)));
    EXPECT_EQ(dummy->count(), 2u);
    EXPECT_EQ(core.framesPresented(), frames0 + 2);
}

// The signal options: kept apart from the twelve, applied to the raster as
// one signal, the matrix following the colorimetry.
TEST_F(Engine, SignalOptionsReachTheRasterAndStayOutOfTheUsualList)
{
    EXPECT_FALSE(raster.signal().described) << "untouched until a request names a signal option";
    std::vector<QiParams> plain, asked;
    core.getGenOptions(plain);
    core.getGenOptions(asked, false);
    EXPECT_EQ(plain, asked);
    ASSERT_EQ(plain.size(), 14u);

    QiParams pq;
    pq.set("TransferFunction", "pq");
    pq.set("Colorimetry", "BT.2020");
    pq.set("MaxCLL", "1200");
    pq.set("MaxFALL", "70000");
    postWait(pq);
    QiSignal s = raster.signal();
    EXPECT_TRUE(s.described);
    EXPECT_EQ(s.eotf, kEotfPq);
    EXPECT_EQ(s.colorimetry, kColorimetry2020);
    EXPECT_TRUE(s.metadata);
    EXPECT_TRUE(s.mastering) << "PQ sends the mastering display by default";
    EXPECT_EQ(s.red, (QiChromaticity{0.708, 0.292}));
    EXPECT_EQ(s.white, (QiChromaticity{0.3127, 0.3290}));
    EXPECT_EQ(s.maxCll, 1200);
    EXPECT_EQ(s.maxFall, 65535) << "clamped to the field";
    EXPECT_EQ(raster.colourEncoding(), 5) << "Rec709 (compressed) became Rec2020 (compressed)";
    QiParams values;
    core.getGenValues(values);
    EXPECT_EQ(value(values, "ColorEncoding"), "Rec2020 (compressed)");
    EXPECT_FALSE(values.has("TransferFunction")) << "the usual values map is unchanged";
    EXPECT_EQ(logged->get().find("unknown option"), std::string::npos);

    QiParams hlg;
    hlg.set("TransferFunction", "HLG");
    hlg.set("MasteringPrimaries", "P3-D65");
    postWait(hlg);
    s = raster.signal();
    EXPECT_EQ(s.eotf, kEotfHlg);
    EXPECT_TRUE(s.metadata);
    EXPECT_FALSE(s.mastering) << "HLG goes without the mastering display unless asked";
    EXPECT_EQ(s.red, (QiChromaticity{0.680, 0.320}));
    QiParams on;
    on.set("HdrMetadata", "On");
    on.set("MasteringPrimaries", "Custom");
    on.set("MasteringRedX", "0.7");
    on.set("MasteringRedY", "2");
    on.set("MasteringMinLuminance", "0.0001");
    postWait(on);
    s = raster.signal();
    EXPECT_TRUE(s.mastering);
    EXPECT_EQ(s.red, (QiChromaticity{0.7, 1.0})) << "custom xy, clamped to 0..1";
    EXPECT_EQ(s.green, (QiChromaticity{0.170, 0.797}));
    EXPECT_DOUBLE_EQ(s.minLuminance, 0.0001);

    QiParams sdr;
    sdr.set("TransferFunction", "SDR");
    sdr.set("Colorimetry", "BT.709");
    sdr.set("HdrMetadata", "Auto");
    postWait(sdr);
    s = raster.signal();
    EXPECT_EQ(s.eotf, kEotfSdr);
    EXPECT_FALSE(s.metadata) << "no metadata for SDR";
    EXPECT_TRUE(s.described);
    EXPECT_EQ(raster.colourEncoding(), 3);

    std::vector<QiParams> more;
    core.getGenOptions(more, true);
    ASSERT_EQ(more.size(), 14u + 17u + 1u);
    EXPECT_EQ(value(more[14], "Name"), "TransferFunction");
    EXPECT_EQ(value(more[14], "nVal"), "3");
    EXPECT_EQ(value(more[30], "Name"), "MaxFALL");
    const QiParams &now = more.back();
    EXPECT_EQ(value(now, "TransferFunction"), "SDR");
    EXPECT_EQ(value(now, "MasteringPrimaries"), "Custom");
    EXPECT_EQ(value(now, "MasteringRedY"), "1.000000");
    EXPECT_EQ(value(now, "MaxFALL"), "65535");

    // One shape for the panel and tools: descriptions, all values, current.
    std::vector<QiParams> joined = more;
    ovJoinSignalMaps(joined);
    ASSERT_EQ(joined.size(), 12u + 17u + 2u);
    EXPECT_EQ(value(joined[11], "Name"), "ColorEncoding");
    EXPECT_EQ(value(joined[12], "Name"), "TransferFunction");
    EXPECT_EQ(value(joined[29], "OutputColor"), "RGB_24");
    EXPECT_EQ(value(joined[29], "MaxFALL"), "65535");
    EXPECT_EQ(joined[30], more[13]);
    std::vector<QiParams> usual = plain;
    ovJoinSignalMaps(usual);
    EXPECT_EQ(usual, plain) << "a list without signal maps stays as it is";

    // A request naming the same signal again changes nothing, so draws nothing new.
    const uint64_t frames = core.framesPresented();
    postWait(sdr);
    EXPECT_EQ(core.framesPresented(), frames);
}

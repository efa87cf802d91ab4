#pragma once
// What the panel tests share: the application under the offscreen platform,
// a controller that records instead of driving a generator, a real engine on
// the simulated Kona board, and where screenshots go.
#include "KelMonitor.h"
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvController.h"
#include "OvCore.h"
#include "SimBoards.h"

#include <QApplication>
#include <QDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace paneltest {

inline QApplication *app()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char *argv[] = {name, nullptr};
    if (auto *existing = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return existing;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
}

inline QiParams params(std::initializer_list<std::pair<const char *, const char *>> kv)
{
    QiParams p;
    for (const auto &e : kv)
        p.set(e.first, e.second);
    return p;
}

// Answers from fixed tables and keeps what the pages post and wait for.
class RecordingController : public OvController {
public:
    QiParams patterns;
    std::map<std::string, std::vector<QiParams>> patternOpts;
    std::vector<QiParams> genDescriptors;
    QiParams genValues;
    QiParams current;
    int32_t black = 64, white = 940, bits = 10;
    int32_t nextId = 100;
    // What post returns for the next request; 0 means nothing queued.
    bool queue = true;

    std::vector<QiParams> posted;
    std::vector<int32_t> waited;
    std::vector<std::string> saved;

    bool listPatterns(QiParams &out) override
    {
        out.addMissing(patterns);
        return !patterns.empty();
    }
    bool getPatternOpts(const std::string &name, std::vector<QiParams> &out) override
    {
        auto it = patternOpts.find(name);
        if (it == patternOpts.end())
            return false;
        out.insert(out.end(), it->second.begin(), it->second.end());
        return true;
    }
    bool getGenOptions(std::vector<QiParams> &out) override
    {
        out.insert(out.end(), genDescriptors.begin(), genDescriptors.end());
        out.push_back(genValues);
        out.push_back(current);
        return true;
    }
    bool getGenValues(QiParams &out) override
    {
        out.addMissing(genValues);
        return true;
    }
    bool currentParams(QiParams &out) override
    {
        out = current;
        return true;
    }
    bool waitTransaction(int32_t id) override
    {
        waited.push_back(id);
        return true;
    }
    int32_t post(const QiParams &p) override
    {
        posted.push_back(p);
        return queue ? nextId++ : 0;
    }
    bool saveImageAsPng(const std::string &path) override
    {
        saved.push_back(path);
        return true;
    }
    int32_t blackLevel() override { return black; }
    int32_t whiteLevel() override { return white; }
    int32_t bitDepth() override { return bits; }
    std::string target() const override { return "recorder"; }
    // Unset: like a remote generator, the protocols cannot be known.
    std::optional<std::vector<std::string>> protocols;
    bool activeProtocols(std::vector<std::string> &out) const override
    {
        if (protocols)
            out = *protocols;
        return protocols.has_value();
    }
};

// The real engine with the built-in patterns on the simulated Kona board
// (1080p 60, v210), as `orvane --simulate kona` starts it.
struct SimEngine {
    std::unique_ptr<KonaRaster> raster;
    OvCore core;
    SimEngine()
    {
        SimBoards::selectKona();
        raster = std::make_unique<KonaRaster>();
        EXPECT_TRUE(raster->init());
        core.start(raster.get(), ORVANE_DATA_DIR, ovBuiltinRenderers());
    }
    ~SimEngine() { core.shutdown(); }
};

// The simulated board's output decoded to 8-bit RGB; null image before any.
inline QImage boardPicture()
{
    SimFrame f;
    QImage out;
    if (SimBoards::outputFrame(f))
        KelMonitor::decodeFrame(f, out);
    return out;
}

// Screenshots for a reviewer, under the build tree.
inline void screenshot(QWidget *w, const char *name)
{
    QDir().mkpath(QStringLiteral(ORVANE_SHOTS));
    w->show();
    // Layouts and scroll bars settle over a few rounds of events.
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    const QString path = QStringLiteral(ORVANE_SHOTS "/") + QString::fromLatin1(name) + QStringLiteral(".png");
    EXPECT_TRUE(w->grab().save(path)) << path.toStdString();
}

} // namespace paneltest

#include "OvPanelDialog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace paneltest {

// Discovery settings that keep a test's panel to itself: answers on a port
// the system picks, the request to a socket of this process that ignores it.
inline OvPanelDiscovery quietDiscovery()
{
    static const uint16_t sink = [] {
        const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
        return ntohs(a.sin_port); // the socket stays open for the process
    }();
    OvPanelDiscovery d;
    d.replyPort = 0;
    d.requestPort = sink;
    d.requestAddress = "127.0.0.1";
    d.budgetMs = 300;
    return d;
}

// A UDP port nobody uses now, chosen by the system.
inline uint16_t freeUdpPort()
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

} // namespace paneltest

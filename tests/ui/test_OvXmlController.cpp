#include "OvCoreController.h"
#include "OvPanelDialog.h"
#include "OvXmlController.h"
#include "OvcXmlPrivates.h"
#include "OvpCalibrate.h"
#include "OvpGenerator.h"
#include "OvpPattern.h"
#include "OvpPatterns.h"
#include "OvpWindowControl.h"
#include "PanelTestKit.h"
#include "RnServiceResponder.h"
#include "XmlRpcServer.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace paneltest;
using Clock = std::chrono::steady_clock;

namespace {

// This process's engine served over XML-RPC on a port the system picks.
struct RemoteSim {
    SimEngine sim;
    OvcXmlPrivates server{&sim.core};
    int port = -1;
    RemoteSim()
    {
        EXPECT_TRUE(server.start(0, "127.0.0.1"));
        port = server.port();
    }
    ~RemoteSim() { server.shutdown(); }
};

// A server whose methods answer whatever a test says.
class FakeMethod : public XmlRpcServerMethod {
public:
    FakeMethod(const char *name, XmlRpcServer *s, std::function<void(XmlRpcValue &)> answer)
        : XmlRpcServerMethod(name, s), m_answer(std::move(answer))
    {
    }
    void execute(XmlRpcValue &, XmlRpcValue &result) override { m_answer(result); }

private:
    std::function<void(XmlRpcValue &)> m_answer;
};

struct FakeServer {
    XmlRpcServer server;
    std::vector<std::unique_ptr<FakeMethod>> methods;
    std::atomic<bool> run{true};
    std::thread thread;
    void add(const char *name, std::function<void(XmlRpcValue &)> answer)
    {
        methods.push_back(std::make_unique<FakeMethod>(name, &server, std::move(answer)));
    }
    int start()
    {
        EXPECT_TRUE(server.bindAndListen(0, "127.0.0.1"));
        thread = std::thread([this] {
            while (run.load())
                server.work(0.05);
        });
        return server.port();
    }
    ~FakeServer()
    {
        run.store(false);
        if (thread.joinable())
            thread.join();
        server.shutdown();
    }
};

// A port that accepts connections (the kernel's backlog) but never answers.
struct SilentPort {
    int fd = -1, port = 0;
    SilentPort()
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(fd, 8);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~SilentPort() { close(fd); }
};

// A port where nothing listens: connections are refused.
int closedPort()
{
    SilentPort p;
    const int port = p.port;
    return port; // closed again when p goes
}

struct StatusLog {
    std::vector<std::pair<bool, std::string>> lines;
    OvController::StatusSink sink()
    {
        return [this](bool ok, const std::string &m) { lines.emplace_back(ok, m); };
    }
    std::string lastFailure() const
    {
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (!it->first)
                return it->second;
        return {};
    }
};

QPushButton *button(QWidget *w, const char *name)
{
    auto *b = w->findChild<QPushButton *>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
}

int percentOfFirstBar(const QImage &pic)
{
    return pic.isNull() ? -1 : qRed(pic.pixel(pic.width() / 14, pic.height() * 3 / 10)) * 100 / 255;
}

} // namespace

TEST(OvXmlController, AnswersAsTheEngineItDrives)
{
    app();
    RemoteSim remote;
    OvCoreController local(&remote.sim.core);
    OvXmlController net("127.0.0.1", remote.port);
    StatusLog log;
    net.setStatusSink(log.sink());
    EXPECT_EQ(net.target(), "127.0.0.1:" + std::to_string(remote.port));
    EXPECT_DOUBLE_EQ(net.timeLimit(), 3.0);

    // Levels and depth as the generator publishes them (64, 940, 10 here).
    EXPECT_EQ(net.blackLevel(), local.blackLevel());
    EXPECT_EQ(net.whiteLevel(), local.whiteLevel());
    EXPECT_EQ(net.bitDepth(), local.bitDepth());

    QiParams a, b;
    ASSERT_TRUE(net.listPatterns(a));
    ASSERT_TRUE(local.listPatterns(b));
    EXPECT_EQ(a, b);
    std::vector<QiParams> na, nb;
    ASSERT_TRUE(net.getPatternOpts("Colorbars", na));
    ASSERT_TRUE(local.getPatternOpts("Colorbars", nb));
    EXPECT_EQ(na, nb);
    na.clear();
    EXPECT_FALSE(net.getPatternOpts("NoSuchPattern", na)); // "error": unknown, not a failure
    EXPECT_TRUE(na.empty());

    // A post is the engine's next transaction; the wait returns once it is drawn.
    const int32_t probe = local.post(QiParams());
    local.waitTransaction(probe);
    const int32_t id = net.post(params({{"Pattern", "Colorbars"}, {"Brightness", "100"}}));
    EXPECT_EQ(id, static_cast<int32_t>(static_cast<uint32_t>(probe) + 1u));
    EXPECT_TRUE(net.waitTransaction(id));
    EXPECT_EQ(percentOfFirstBar(boardPicture()), 100);
    const int32_t id2 = net.post(params({{"Brightness", "50"}}));
    EXPECT_TRUE(net.waitTransaction(id2));
    EXPECT_EQ(percentOfFirstBar(boardPicture()), 50);
    // Waiting leaves what it waited for in place: an option posted next
    // (which takes the current parameters with it) keeps the 50.
    local.waitTransaction(net.post(params({{"Style", "fullfield"}})));
    QImage full = boardPicture();
    EXPECT_EQ(percentOfFirstBar(full), 50);
    EXPECT_EQ(full.pixel(full.width() / 14, full.height() - 2), full.pixel(full.width() / 14, 300));

    // The current parameters without what waiting leaves behind.
    QiParams current;
    ASSERT_TRUE(net.currentParams(current));
    const char *t = nullptr;
    EXPECT_TRUE(current.get("Pattern", t) && std::string(t) == "Colorbars");
    EXPECT_TRUE(current.get("Brightness", t) && std::string(t) == "50");
    EXPECT_FALSE(current.has("TransId") || current.has("Request"));

    std::vector<QiParams> ga, gb;
    ASSERT_TRUE(net.getGenOptions(ga));
    ASSERT_TRUE(local.getGenOptions(gb));
    // The output options and the signal options, each side alike.
    ASSERT_EQ(ga.size(), 31u);
    EXPECT_EQ(std::vector<QiParams>(ga.begin(), ga.begin() + 29), std::vector<QiParams>(gb.begin(), gb.begin() + 29));
    QiParams va, vb;
    ASSERT_TRUE(net.getGenValues(va));
    ASSERT_TRUE(local.getGenValues(vb));
    EXPECT_EQ(va, vb);

    // No method takes snapshots remotely: a failure that says so.
    EXPECT_FALSE(net.saveImageAsPng("tavora-99.png"));
    EXPECT_NE(log.lastFailure().find("offers no method for snapshots"), std::string::npos) << log.lastFailure();
    log.lines.clear();
    QApplication::processEvents();
    QiParams again;
    EXPECT_TRUE(net.currentParams(again));
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), std::make_pair(true, "Generator: " + net.target()));
}

TEST(OvXmlController, PagesBehaveAsOnTheLocalEngine)
{
    app();
    RemoteSim remote;
    OvCoreController engine(&remote.sim.core);
    engine.waitTransaction(engine.post(params({{"Pattern", "Colorbars"}})));

    OvPanelDialog dlg(nullptr, quietDiscovery());
    dlg.findChild<QLineEdit *>(QStringLiteral("LeGenerator"))->setText(QStringLiteral("127.0.0.1:%1").arg(remote.port));
    button(&dlg, "PbConnect")->click();
    auto *net = dynamic_cast<OvXmlController *>(dlg.controller());
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->port(), remote.port);
    EXPECT_EQ(dlg.generators()->currentText(), QStringLiteral("127.0.0.1:%1").arg(remote.port));
    auto *gen = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->optionRows(), 26); // nine editable output options, seventeen signal options
    EXPECT_FALSE(dlg.statusLine()->property("failed").toBool()) << dlg.statusLine()->text().toStdString();
    screenshot(&dlg, "panel-remote-generator");

    // The patterns page opens on the pattern shown; its editors post.
    button(&dlg, "PbPatterns")->click();
    auto *list = qobject_cast<OvpPatterns *>(dlg.page());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->chooser()->currentText(), QStringLiteral("Colorbars"));
    auto *page = qobject_cast<OvpPattern *>(list->content());
    ASSERT_NE(page, nullptr);
    page->findChild<QSpinBox *>(QStringLiteral("Brightness"))->setValue(100);
    engine.waitTransaction(engine.post(QiParams()));
    EXPECT_EQ(percentOfFirstBar(boardPicture()), 100);

    // Choosing a pattern posts it and waits until it is drawn.
    list->chooser()->setCurrentIndex(list->chooser()->findText(QStringLiteral("fullfield")));
    QiParams current;
    engine.currentParams(current);
    const char *t = nullptr;
    EXPECT_TRUE(current.get("Pattern", t) && std::string(t) == "fullfield");
    EXPECT_TRUE(current.get("Style", t) && std::string(t) == "fullfield");
    // Full-field bars go down to the bottom row.
    const QImage pic = boardPicture();
    EXPECT_EQ(qRed(pic.pixel(pic.width() / 14, pic.height() - 2)), qRed(pic.pixel(pic.width() / 14, 300)));

    // The window page: its request on the engine, with the remote levels.
    button(&dlg, "PbCalibrate")->click();
    button(dlg.page(), "PbColorGamut")->click();
    auto *win = qobject_cast<OvpWindowControl *>(static_cast<OvPanelW *>(dlg.page())->content());
    ASSERT_NE(win, nullptr);
    engine.currentParams(current);
    EXPECT_TRUE(current.get("Pattern", t) && std::string(t) == "Window");
    EXPECT_TRUE(current.get("Color_Red", t) && std::string(t) == "721");
    EXPECT_TRUE(current.get("Color_Green", t) && std::string(t) == "64");
    win->findChild<QButtonGroup *>(QStringLiteral("WinLevelGroup"))->button(13)->click();
    engine.currentParams(current);
    EXPECT_TRUE(current.get("Color_Red", t) && std::string(t) == "775");
    EXPECT_FALSE(dlg.statusLine()->property("failed").toBool()) << dlg.statusLine()->text().toStdString();
}

TEST(OvXmlController, AGeneratorThatIsNotThereShowsAnErrorAtOnce)
{
    app();
    OvPanelDialog dlg(nullptr, quietDiscovery());
    const int port = closedPort();
    dlg.findChild<QLineEdit *>(QStringLiteral("LeGenerator"))->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    const auto t0 = Clock::now();
    button(&dlg, "PbConnect")->click();
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2)); // no time limit waited out
    auto *gen = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->optionRows(), 0);
    EXPECT_NE(gen->findChild<QLabel *>(QStringLiteral("LbNoOptions")), nullptr);
    EXPECT_TRUE(dlg.statusLine()->property("failed").toBool());
    EXPECT_TRUE(dlg.statusLine()->text().contains(QStringLiteral("could not be reached")))
        << dlg.statusLine()->text().toStdString();
    screenshot(&dlg, "panel-remote-unreachable");

    // A bad typed target is refused before anything is tried.
    dlg.findChild<QLineEdit *>(QStringLiteral("LeGenerator"))->setText(QStringLiteral("gen:99999"));
    button(&dlg, "PbConnect")->click();
    EXPECT_TRUE(dlg.statusLine()->text().contains(QStringLiteral("1 to 65535")));
}

TEST(OvXmlController, ASilentGeneratorCostsOneTimeLimitPerAction)
{
    app();
    SilentPort silent;
    OvPanelDialog dlg(nullptr, quietDiscovery());
    dlg.setController(std::make_unique<OvXmlController>("127.0.0.1", silent.port, 1.0));
    button(&dlg, "PbCalibrate")->click();
    // A pattern page makes five calls (post, current parameters, options,
    // the list for an alias): the first waits out the limit, the rest fail
    // at once.
    const auto t0 = Clock::now();
    button(dlg.page(), "PbBlackLevel")->click();
    const auto spent = Clock::now() - t0;
    EXPECT_GE(spent, std::chrono::milliseconds(950));
    EXPECT_LT(spent, std::chrono::milliseconds(2500));
    EXPECT_TRUE(dlg.statusLine()->property("failed").toBool());
    EXPECT_TRUE(dlg.statusLine()->text().contains(QStringLiteral("did not answer SetGen within 1 s")))
        << dlg.statusLine()->text().toStdString();

    // The next action tries again (and fails again) rather than giving up.
    QApplication::processEvents();
    const auto t1 = Clock::now();
    button(dlg.page(), "PbWhiteBalance")->click();
    EXPECT_GE(Clock::now() - t1, std::chrono::milliseconds(950));
    EXPECT_TRUE(dlg.statusLine()->property("failed").toBool());
}

TEST(OvXmlController, FaultsAndMalformedAnswersAreShown)
{
    app();
    FakeServer fake;
    fake.add("GetGenOptions", [](XmlRpcValue &r) { r = "not a list"; });
    fake.add("PatternOption", [](XmlRpcValue &) { throw XmlRpcException("type error"); });
    fake.add("SetGen", [](XmlRpcValue &r) { r = "bad parameters"; });
    const int port = fake.start();
    OvXmlController net("127.0.0.1", port);
    StatusLog log;
    net.setStatusSink(log.sink());
    QiParams p;
    EXPECT_FALSE(net.listPatterns(p));
    EXPECT_EQ(log.lastFailure(), "127.0.0.1:" + std::to_string(port) +
                                     " answered PatternOption with the fault \"type error\"");
    EXPECT_FALSE(net.currentParams(p));
    EXPECT_NE(log.lastFailure().find("malformed answer to GetGenOptions"), std::string::npos);
    EXPECT_EQ(net.post(params({{"Pattern", "Colorbars"}})), 0);
    EXPECT_NE(log.lastFailure().find("did not queue the request"), std::string::npos);
    // Levels keep their starting values until the generator tells its own.
    EXPECT_EQ(net.blackLevel(), 64);
    EXPECT_EQ(net.whiteLevel(), 940);
    EXPECT_EQ(net.bitDepth(), 10);
    // Nothing here was a silent success.
    for (const auto &l : log.lines)
        EXPECT_FALSE(l.first) << l.second;
}

TEST(OvXmlController, AWaitThatNeverEndsTakesOneTimeLimitInAll)
{
    app();
    FakeServer fake;
    // Queues everything, draws nothing, and answers each question slowly.
    fake.add("SetGen", [](XmlRpcValue &r) { r = 7; });
    fake.add("GetGenOptions", [](XmlRpcValue &r) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        r[0] = XmlRpcValue(XmlRpcValue::ValueStruct{});
        r[1] = XmlRpcValue(XmlRpcValue::ValueStruct{});
    });
    const int port = fake.start();
    OvXmlController net("127.0.0.1", port, 1.0);
    StatusLog log;
    net.setStatusSink(log.sink());
    ASSERT_EQ(net.post(params({{"Pattern", "Colorbars"}})), 7);
    const auto t0 = Clock::now();
    EXPECT_FALSE(net.waitTransaction(7));
    const double spent = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GE(spent, 0.9);
    EXPECT_LT(spent, 1.6);
    const std::string why = log.lastFailure();
    EXPECT_TRUE(why.find("had not drawn request 7 after 1 s") != std::string::npos ||
                why.find("did not answer GetGenOptions within 1 s") != std::string::npos)
        << why;
}

TEST(OvXmlController, AGeneratorsTextsReachTheStatusLineAsPlainShortText)
{
    app();
    FakeServer fake;
    const std::string longFault = "<img src=\"x.png\"><b>" + std::string(100000, 'f') + "</b>";
    fake.add("GetGenOptions", [&](XmlRpcValue &) { throw XmlRpcException(longFault); });
    const int port = fake.start();
    OvPanelDialog dlg(nullptr, quietDiscovery());
    dlg.setController(std::make_unique<OvXmlController>("127.0.0.1", port));
    dlg.findChild<QPushButton *>(QStringLiteral("PbGenerator"))->click();
    QLabel *status = dlg.statusLine();
    EXPECT_TRUE(status->property("failed").toBool());
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_TRUE(status->text().contains(QStringLiteral("<img src=")));
    EXPECT_LE(status->text().size(), 303);
}

TEST(OvPanelDialog, DiscoveredGeneratorsFillTheChooser)
{
    app();
    RemoteSim remote;
    const uint16_t reply = freeUdpPort();
    RnServiceResponder responder(0, reply, static_cast<uint16_t>(remote.port));
    responder.addService();
    ASSERT_TRUE(responder.start());

    OvPanelDiscovery d;
    d.replyPort = reply;
    d.requestPort = responder.port();
    d.requestAddress = "127.0.0.1";
    d.budgetMs = 3000;
    OvPanelDialog dlg(nullptr, d);
    dlg.useLocalEngine(&remote.sim.core);
    QComboBox *box = dlg.generators();
    // A broken answer from someone else: a port of 0 is left out, control
    // characters in the name are not shown.
    {
        uint8_t rec[2 * RnServiceRecord::kSize];
        RnServiceRecord bad;
        std::memcpy(bad.hostName, "zero\x01", 6);
        bad.toBytes(rec);
        RnServiceRecord odd;
        std::memcpy(odd.hostName, "od\x07" "d", 5);
        odd.port = 4;
        odd.toBytes(rec + RnServiceRecord::kSize);
        const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(reply);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(s, rec, sizeof rec, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        close(s);
    }
    const QString entry = QStringLiteral("%1 (127.0.0.1:%2)").arg(QString::fromLatin1(responder.hostName())).arg(remote.port);
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (box->findText(entry) < 0 && Clock::now() < end)
        QTest::qWait(50);
    QTest::qWait(300);
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    ASSERT_GE(box->findText(entry), 0) << items.join(QLatin1Char('|')).toStdString();
    EXPECT_GE(box->findText(QStringLiteral("od?d (127.0.0.1:4)")), 0) << items.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(items.filter(QStringLiteral("zero")).size(), 0);
    EXPECT_EQ(items[0], QStringLiteral("This computer"));
    EXPECT_EQ(items.filter(entry).size(), 1); // one entry per generator

    box->setCurrentIndex(box->findText(entry));
    auto *net = dynamic_cast<OvXmlController *>(dlg.controller());
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->host(), "127.0.0.1");
    EXPECT_EQ(net->port(), remote.port);
    auto *gen = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->optionRows(), 26); // nine editable output options, seventeen signal options

    // And back to this computer's engine.
    box->setCurrentIndex(0);
    EXPECT_NE(dynamic_cast<OvCoreController *>(dlg.controller()), nullptr);
    EXPECT_NE(qobject_cast<OvpGenerator *>(dlg.page()), nullptr);
}

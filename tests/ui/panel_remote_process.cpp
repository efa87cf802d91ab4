// The control panel in this process driving a second orvane over loopback,
// found by discovery or typed as host:port, with the second generator's
// captured output showing what the panel did.
#include "../app/ProcessHarness.h"
#include "OvPanelDialog.h"
#include "OvXmlController.h"
#include "OvpGenerator.h"
#include "OvpPattern.h"
#include "OvpPatterns.h"
#include "OvpWindowControl.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using namespace harness;

namespace {

const std::string kOrvane = ORVANE_BIN;

QApplication *app()
{
    static int argc = 1;
    static char name[] = "ui_process_tests";
    static char *argv[] = {name, nullptr};
    if (auto *existing = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return existing;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
}

QPushButton *button(QWidget *w, const char *name)
{
    auto *b = w->findChild<QPushButton *>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
}

void screenshot(QWidget *w, const char *name)
{
    QDir().mkpath(QStringLiteral(ORVANE_SHOTS));
    w->show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    w->grab().save(QStringLiteral(ORVANE_SHOTS "/") + QString::fromLatin1(name) + QStringLiteral(".png"));
}

// A second generator: orvane --headless --simulate kona on free ports, its
// board's output captured in its own folder.
struct SecondGenerator {
    TempDir dir;
    int port = freePort(), disc = freePort(), reply = freePort();
    std::unique_ptr<Process> proc;
    SecondGenerator()
    {
        Env env;
        env.set("ORVANE_SIM_CAPTURE", dir.path).set("HOME", dir.path).unset("USERPROFILE");
        env.unset("ORVANE_SIM_KONA").unset("ORVANE_SIM_DECKLINK");
        proc = std::make_unique<Process>(
            std::vector<std::string>{kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port),
                                     "--discovery-port", std::to_string(disc), "--discovery-reply-port",
                                     std::to_string(reply)},
            env, dir.path + "/gen");
    }
    // The first frame out (the colour bars start-up posts) and the server up.
    bool ready()
    {
        Capture c;
        if (!waitCapture(dir.path, "kona", c, [](const Capture &k) { return rowHasBars(k, k.height * 3 / 10); }))
            return false;
        const auto end = Clock::now() + 10s;
        while (Clock::now() < end) {
            if (pyXmlRpc(port, "GetOrvVersion()").find("Software") != std::string::npos)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    // Luma of pixel x, y of the latest frame newer than after, or -1.
    int luma(int x, int y, long long &after)
    {
        Capture c;
        if (!waitCapture(dir.path, "kona", c, [&](const Capture &k) { return k.sequence > after; }, 5s))
            return -1;
        after = c.sequence;
        return v210Pixel(c, x, y).y;
    }
    ~SecondGenerator()
    {
        if (proc && proc->running()) {
            proc->signal(SIGCONT);
            proc->signal(SIGTERM);
            proc->wait(10s);
        }
    }
};

std::vector<std::string> split(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// True once every thread of process pid has stopped (state T): a SIGSTOP
// is delivered asynchronously.
bool stopped(pid_t pid)
{
    const auto end = Clock::now() + 5s;
    while (Clock::now() < end) {
        bool all = true, any = false;
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        for (const std::string &t : split(shell("ls " + tasks + " 2>/dev/null"))) {
            const std::string stat = readFile(tasks + "/" + t + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos || close + 2 >= stat.size())
                continue;
            any = true;
            all = all && (stat[close + 2] == 'T' || stat[close + 2] == 't');
        }
        if (any && all)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Polls the captured output until pred holds for a frame.
template <class Pred> bool outputShows(SecondGenerator &g, Pred pred)
{
    Capture c;
    return waitCapture(g.dir.path, "kona", c, pred, 10s);
}

} // namespace

TEST(OvPanelRemote, FoundByDiscoveryPatternAndOptionsChangeItsOutput)
{
    app();
    SecondGenerator gen;
    ASSERT_TRUE(gen.ready()) << gen.proc->err();

    OvPanelDiscovery d;
    d.replyPort = static_cast<uint16_t>(gen.reply);
    d.requestPort = static_cast<uint16_t>(gen.disc);
    d.requestAddress = "127.0.0.1";
    d.budgetMs = 4000;
    OvPanelDialog dlg(nullptr, d);
    QComboBox *box = dlg.generators();
    const QString suffix = QStringLiteral("(127.0.0.1:%1)").arg(gen.port);
    int at = -1;
    const auto end = Clock::now() + 6s;
    while (at < 0 && Clock::now() < end) {
        QTest::qWait(50);
        for (int i = 0; i < box->count(); ++i)
            if (box->itemText(i).endsWith(suffix))
                at = i;
    }
    ASSERT_GE(at, 0) << "no discovery answer from the second generator";
    box->setCurrentIndex(at);
    auto *net = dynamic_cast<OvXmlController *>(dlg.controller());
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->port(), gen.port);
    auto *page = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->optionRows(), 26); // nine output options, seventeen signal options

    // A pattern chosen on the patterns page: full-field bars reach the
    // bottom row, which the start-up bars (SMPTE) do not.
    button(&dlg, "PbPatterns")->click();
    auto *list = qobject_cast<OvpPatterns *>(dlg.page());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->chooser()->currentText(), QStringLiteral("Colorbars"));
    const int full = list->chooser()->findText(QStringLiteral("fullfield"));
    ASSERT_GE(full, 0);
    list->chooser()->setCurrentIndex(full);
    EXPECT_TRUE(outputShows(gen, [](const Capture &k) { return rowHasBars(k, k.height * 9 / 10); }));

    // An option changed: the bars' brightness from 75% to 100%, so the
    // grey bar's luma goes from 721 to 940.
    auto *bars = qobject_cast<OvpPattern *>(list->content());
    ASSERT_NE(bars, nullptr);
    auto *brightness = bars->findChild<QSpinBox *>(QStringLiteral("Brightness"));
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->value(), 75);
    brightness->setValue(100);
    EXPECT_TRUE(outputShows(gen, [](const Capture &k) {
        return k.layout == "v210" && std::abs(v210Pixel(k, k.width / 14, k.height / 2).y - 940) <= 2;
    }));

    // A window level stepped. The request is what the generator holds; where
    // it has the "Window" pattern its output shows the brighter window too.
    button(&dlg, "PbCalibrate")->click();
    button(dlg.page(), "PbWhiteBalance")->click();
    auto *win = qobject_cast<OvpWindowControl *>(static_cast<OvPanelW *>(dlg.page())->content());
    ASSERT_NE(win, nullptr);
    const bool haveWindow = pyXmlRpc(gen.port, "PatternOption()").find("'Window'") != std::string::npos;
    long long seq = 0;
    const int before = haveWindow ? gen.luma(960, 540, seq) : 0;
    win->findChild<QButtonGroup *>(QStringLiteral("WinLevelGroup"))->button(13)->click();
    const std::string current = pyXmlRpc(gen.port, "GetGenOptions()[-1]");
    EXPECT_NE(current.find("'Pattern': 'Window'"), std::string::npos) << current;
    EXPECT_NE(current.find("'Color_Red': '775'"), std::string::npos) << current;
    EXPECT_NE(current.find("'Color_Green': '775'"), std::string::npos) << current;
    EXPECT_NE(current.find("'Size': '10%'"), std::string::npos) << current;
    if (haveWindow) {
        EXPECT_GT(gen.luma(960, 540, seq), before);
    }
    EXPECT_FALSE(dlg.statusLine()->property("failed").toBool()) << dlg.statusLine()->text().toStdString();

    gen.proc->signal(SIGTERM);
    EXPECT_EQ(gen.proc->wait(10s), 0);
}

TEST(OvPanelRemote, TypedHostPortAndAGeneratorThatStopsAnswering)
{
    app();
    SecondGenerator gen;
    ASSERT_TRUE(gen.ready()) << gen.proc->err();
    OvPanelDiscovery d; // asks a port nobody answers on
    d.replyPort = 0;
    d.requestPort = static_cast<uint16_t>(freePort());
    d.requestAddress = "127.0.0.1";
    d.budgetMs = 300;
    OvPanelDialog dlg(nullptr, d);
    dlg.resize(760, 600);
    dlg.findChild<QLineEdit *>(QStringLiteral("LeGenerator"))->setText(QStringLiteral("127.0.0.1:%1").arg(gen.port));
    button(&dlg, "PbConnect")->click();
    auto *page = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(page->optionRows(), 26);

    // The video format from the generator page: the board goes to 720p.
    auto *format = page->findChild<QComboBox *>(QStringLiteral("VideoFormat"));
    ASSERT_NE(format, nullptr);
    const int at = format->findText(QStringLiteral("720p 59.94"));
    ASSERT_GE(at, 0);
    format->setCurrentIndex(at);
    EXPECT_TRUE(outputShows(gen, [](const Capture &k) { return k.width == 1280 && k.height == 720; }));

    // Stopped: the next action fails within the time limit, visibly.
    gen.proc->signal(SIGSTOP);
    ASSERT_TRUE(stopped(gen.proc->pid()));
    const auto t0 = Clock::now();
    button(&dlg, "PbGenerator")->click();
    const auto spent = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_LT(spent, OvXmlController::kCallTimeLimit + 1.5);
    EXPECT_TRUE(dlg.statusLine()->property("failed").toBool());
    EXPECT_TRUE(dlg.statusLine()->text().contains(QStringLiteral("did not answer")))
        << dlg.statusLine()->text().toStdString();
    page = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->optionRows(), 0);
    screenshot(&dlg, "panel-remote-stopped");
    std::printf("stopped generator: the generator page gave up after %.2f s\n", spent);

    // Running again: the next action works and the error is gone.
    gen.proc->signal(SIGCONT);
    QApplication::processEvents();
    button(&dlg, "PbGenerator")->click();
    page = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->optionRows(), 26); // nine output options, seventeen signal options
    EXPECT_FALSE(dlg.statusLine()->property("failed").toBool()) << dlg.statusLine()->text().toStdString();

    gen.proc->signal(SIGTERM);
    EXPECT_EQ(gen.proc->wait(10s), 0);
}

// The orvane program: brings the generator up in a fixed order, runs the Qt
// event loop, and takes everything down again in reverse order.
#include "OvCommandLine.h"
#include "OvSignalQuit.h"

#include "BmdRaster.h"
#include "KelMain.h"
#include "KelMonitor.h"
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "OvWebServer.h"
#include "OvcProtocols.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "QiParams.h"
#include "RnServiceResponder.h"
#include "SimBoards.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

const char *const kMissingCard = "Coudn't find a valid Video Card";

void noDisplay(const char *program, const char *why)
{
    std::fprintf(stderr,
                 "%s: cannot open a display (%s).\n"
                 "The tray application needs a desktop session; run with --headless to drive the "
                 "generator over the network only.\n",
                 program, why);
}

std::string g_program = "orvane";

// Qt ends the process with a fatal message when its platform plugin cannot
// start (no X server behind DISPLAY, for one). Say what to do instead.
void platformMessages(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    const QByteArray text = msg.toLocal8Bit();
    if (type == QtFatalMsg) {
        noDisplay(g_program.c_str(), "the Qt platform plugin could not start");
        std::fprintf(stderr, "%s: Qt said: %s\n", g_program.c_str(), text.constData());
        std::_Exit(1);
    }
    std::fprintf(stderr, "%s\n", text.constData());
}

// The platform Qt will use: "-platform NAME" on the command line wins over
// QT_QPA_PLATFORM; without either it is xcb or wayland, which need a display.
bool platformNeedsDisplay(const std::vector<std::string> &qtArgs)
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    for (size_t i = 1; i + 1 < qtArgs.size(); ++i)
        if (qtArgs[i] == "-platform")
            platform = qtArgs[i + 1].c_str();
    if (platform && *platform)
        return std::strncmp(platform, "xcb", 3) == 0 || std::strncmp(platform, "wayland", 7) == 0;
    return true;
}

bool haveDisplay()
{
    const char *x = std::getenv("DISPLAY");
    const char *w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Makes the chosen simulated board present; without --simulate neither is,
// as on a machine without a card.
void selectBoard(OvCommandLine::Board board)
{
    switch (board) {
    case OvCommandLine::Board::kona: SimBoards::selectKona(); break;
    case OvCommandLine::Board::decklink: SimBoards::selectDeckLink(); break;
    case OvCommandLine::Board::none: SimBoards::selectNone(); break;
    }
}

} // namespace

int main(int argc, char **argv)
{
    // The log goes to the standard output; line by line, so that whoever
    // watches it (a terminal, a pipe, a file) sees each line as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    OvCommandLine cl;
    std::string error;
    if (!OvCommandLine::parse(argc, argv, cl, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for the options.\n", argv[0], error.c_str(), argv[0]);
        return 2;
    }
    if (cl.help) {
        std::fputs(OvCommandLine::usage(argv[0]).c_str(), stdout);
        return 0;
    }
    if (cl.version) {
        std::printf("orvane %s\n", KelMain::kVersion);
        return 0;
    }
    g_program = argv[0];
    const char *program = argv[0];
    std::string webToken;
    if (cl.web && !cl.webAccessToken(webToken, error)) {
        std::fprintf(stderr, "%s: %s\n", program, error.c_str());
        return 2;
    }

    // 1. The compiled-in resources (tray icon, About artwork).
    Q_INIT_RESOURCE(orvane);

    // 2. The Qt application: a plain event loop when headless.
    std::vector<char *> qtArgv;
    for (std::string &a : cl.qtArgs)
        qtArgv.push_back(a.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;
    std::unique_ptr<QCoreApplication> app;
    if (cl.headless) {
        app = std::make_unique<QCoreApplication>(qtArgc, qtArgv.data());
    } else {
        if (platformNeedsDisplay(cl.qtArgs) && !haveDisplay()) {
            noDisplay(program, "neither DISPLAY nor WAYLAND_DISPLAY is set");
            return 1;
        }
        QtMessageHandler previous = qInstallMessageHandler(platformMessages);
        app = std::make_unique<QApplication>(qtArgc, qtArgv.data());
        qInstallMessageHandler(previous);

        // 3. The tray is the program's only face.
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            QMessageBox::critical(nullptr, QObject::tr("Orvane"),
                                  QObject::tr("System tray is not available on this platform"));
            return 1;
        }
        // 4. Closing the control panel or a dialog must not end the program.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    OvSignalQuit signalQuit(app.get());

    // 5. The output card: Kona first, then DeckLink.
    selectBoard(cl.simulate);
    std::unique_ptr<QiRaster> raster;
    {
        auto kona = std::make_unique<KonaRaster>();
        if (kona->init()) {
            qiLog(2, "%s: using KonaRaster()\n", program);
            raster = std::move(kona);
        } else {
            auto bmd = std::make_unique<BmdRaster>();
            if (bmd->init()) {
                qiLog(2, "%s: using BmdRaster()\n", program);
                raster = std::move(bmd);
            }
        }
    }
    if (!raster) {
        if (cl.headless) {
            std::fprintf(stderr, "%s: %s\n", program, kMissingCard);
        } else {
            QMessageBox box;
            box.setWindowTitle(QStringLiteral("Orvane"));
            box.setInformativeText(QString::fromLatin1(kMissingCard));
            box.setWindowModality(Qt::WindowModal);
            box.exec();
        }
        return 1;
    }

    // 6. Folders and the engine.
    const std::string programFolder = OvFolders::programFolder(OvFolders::executablePath().c_str());
    const std::string dataFolder = cl.dataDir.empty() ? OvFolders::dataFolder(programFolder) : cl.dataDir;
    auto engine = std::make_unique<OvCore>();
    engine->start(raster.get(), dataFolder.c_str(), ovBuiltinRenderers());

    // 7. The user's own pattern folders.
    const std::string userImages = OvFolders::userImageFolder(dataFolder);
    const std::string userPatterns = OvFolders::userPatternFolder(std::getenv("USERPROFILE"), std::getenv("HOME"));
    engine->scanFolder(userImages.c_str(), "user/", true);
    if (!userPatterns.empty())
        engine->scanFolder(userPatterns.c_str(), "user/", true);

    // 8. The tray.
    std::unique_ptr<KelMain> tray;
    if (!cl.headless) {
        tray = std::make_unique<KelMain>(engine.get(), nullptr, cl.controlPanel);
        tray->setWindowFlags(Qt::Tool);
        OvPanelDiscovery discovery;
        discovery.requestPort = static_cast<uint16_t>(cl.discoveryPort);
        discovery.replyPort = static_cast<uint16_t>(cl.discoveryReplyPort);
        tray->setPanelDiscovery(discovery);
    }

    // 9. The remote-control server holder (not listening yet).
    auto xml = std::make_unique<OvcXmlPrivates>(engine.get(), cl.allowRemotePlugins);

    // 10. The first pattern, queued before any remote request can arrive.
    auto initial = std::make_unique<QiParams>();
    initial->set("Pattern", "Colorbars");
    engine->post(*initial);

    // 11. Discovery, announcing the XML-RPC port actually served.
    auto discovery = std::make_unique<RnServiceResponder>(static_cast<uint16_t>(cl.discoveryPort),
                                                          static_cast<uint16_t>(cl.discoveryReplyPort),
                                                          static_cast<uint16_t>(cl.port));
    discovery->addService();
    const bool discovering = discovery->start();

    // 12. The XML-RPC server thread (it runs without a socket when the port
    // cannot be bound, and says so in the log).
    xml->start(cl.port);

    // The calibration programs' own protocols, beside XML-RPC.
    OvcProtocolConfig protocolConfig;
    protocolConfig.resolveHost = cl.resolveHost;
    protocolConfig.resolvePort = cl.resolvePort;
    protocolConfig.argyllHost = cl.argyllHost;
    protocolConfig.argyllPort = cl.argyllPort;
    protocolConfig.pgenerator = cl.pgenerator;
    protocolConfig.pgeneratorPort = cl.pgeneratorPort;
    protocolConfig.pgeneratorDiscoveryPort = cl.pgeneratorDiscoveryPort;
    auto protocols = std::make_unique<OvcProtocols>(engine.get(), protocolConfig);
    protocols->start();

    // 13. The web control page, when asked for. A port that cannot be bound
    // leaves the generator running without it, as for XML-RPC.
    std::unique_ptr<OvWebServer> web;
    if (cl.web) {
        OvWebServer::Options wo;
        wo.address = cl.webAddress;
        wo.port = cl.webPort;
        wo.token = webToken;
        wo.pageFolder = dataFolder + "/web";
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        wo.info.name = host;
        wo.info.version = KelMain::kVersion;
        if (xml->port() > 0)
            wo.info.protocols.push_back({"XML-RPC", "", xml->port()});
        if (discovering)
            wo.info.protocols.push_back({"discovery", "", discovery->port()});
        web = std::make_unique<OvWebServer>(engine.get(), wo);
        std::string why;
        if (!web->start(why)) {
            std::fprintf(stderr, "%s: web page not served: %s\n", program, why.c_str());
            qiLog(1, "%s: web page not served: %s\n", program, why.c_str());
            web.reset();
        }
    }

    std::unique_ptr<KelMonitor> monitor;
    if (cl.monitor)
        monitor = KelMonitor::forSimulatedBoard();
    if (monitor)
        monitor->show();

    // 14. The event loop.
    const int status = app->exec();

    // Shutdown, in reverse.
    initial.reset();
    if (web) {
        qiLog(2, "%s: stopping the web server\n", program);
        web->shutdown();
        web.reset();
    }
    qiLog(2, "%s: stopping the calibration protocols\n", program);
    protocols.reset();
    qiLog(2, "%s: stopping the XML-RPC server\n", program);
    xml->shutdown();
    xml.reset();
    monitor.reset();
    if (tray) {
        tray.reset();
        qiLog(2, "%s: tray closed\n", program);
    }
    qiLog(2, "%s: shutting the engine down\n", program);
    engine->shutdown();
    engine.reset();
    qiLog(2, "%s: engine shut down\n", program);
    discovery.reset();
    raster.reset();
    app.reset();
    return status;
}

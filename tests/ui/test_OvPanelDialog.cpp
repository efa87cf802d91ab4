#include "KelMain.h"
#include "OvCoreController.h"
#include "OvPanelDialog.h"
#include "OvpCalibrate.h"
#include "OvpGenerator.h"
#include "OvpPattern.h"
#include "OvpPatterns.h"
#include "OvpPerformance.h"
#include "OvpWindowControl.h"
#include "OvcPGenerator.h"
#include "OvcProtocols.h"
#include "PanelTestKit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace paneltest;

namespace {

QPushButton *button(QWidget *w, const char *name)
{
    auto *b = w->findChild<QPushButton *>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
}

// Runs the current folder in a temporary one for the life of the object.
struct InTempFolder {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    InTempFolder() { QDir::setCurrent(dir.path()); }
    ~InTempFolder() { QDir::setCurrent(previous); }
};

} // namespace

TEST(OvPanelDialog, PageButtonsReplaceThePageShown)
{
    app();
    OvPanelDialog dlg(nullptr, quietDiscovery());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Control Panel"));
    EXPECT_EQ(dlg.controller(), nullptr);
    EXPECT_EQ(dlg.page(), nullptr); // empty below the buttons until one is pressed
    const char *names[] = {"PbGenerator", "PbCalibrate", "PbPerformance", "PbPatterns"};
    const char *texts[] = {"Generator", "Calibrate", "Performance", "Patterns"};
    for (int i = 0; i < 4; ++i) {
        QPushButton *b = button(&dlg, names[i]);
        EXPECT_EQ(b->text(), QString::fromLatin1(texts[i]));
        EXPECT_FALSE(b->autoDefault() || b->isDefault());
    }
    auto rec = std::make_unique<RecordingController>();
    RecordingController *r = rec.get();
    r->patterns = params({{"Colorbars", "r"}});
    r->current = params({{"Pattern", "Colorbars"}});
    dlg.setController(std::move(rec));

    button(&dlg, "PbCalibrate")->click();
    QPointer<QWidget> calibrate = dlg.page();
    EXPECT_NE(qobject_cast<OvpCalibrate *>(calibrate.data()), nullptr);
    button(&dlg, "PbPerformance")->click();
    EXPECT_TRUE(calibrate.isNull());
    EXPECT_NE(qobject_cast<OvpPerformance *>(dlg.page()), nullptr);
    button(&dlg, "PbPatterns")->click();
    EXPECT_NE(qobject_cast<OvpPatterns *>(dlg.page()), nullptr);
    button(&dlg, "PbGenerator")->click();
    EXPECT_NE(qobject_cast<OvpGenerator *>(dlg.page()), nullptr);
    EXPECT_EQ(dlg.page()->findChild<QPushButton *>(QStringLiteral("PbSnapshot")), nullptr);
    EXPECT_TRUE(r->posted.empty());

    // A new controller takes the page with the old one.
    QPointer<QWidget> gen = dlg.page();
    dlg.setController(std::make_unique<RecordingController>());
    EXPECT_TRUE(gen.isNull());
    EXPECT_EQ(dlg.page(), nullptr);
}

// The generator page says which calibration programs' protocols run; a
// generator that cannot tell (remote) gets no such row.
TEST(OvPanelDialog, GeneratorPageShowsTheProtocolsThatRun)
{
    app();
    auto protocolsLabel = [](OvPanelDialog &dlg) -> QLabel * {
        button(&dlg, "PbGenerator")->click();
        return dlg.page()->findChild<QLabel *>(QStringLiteral("LbProtocols"));
    };
    OvPanelDialog dlg(nullptr, quietDiscovery());
    auto rec = std::make_unique<RecordingController>();
    RecordingController *r = rec.get();
    dlg.setController(std::move(rec));
    EXPECT_EQ(protocolsLabel(dlg), nullptr);
    r->protocols = std::vector<std::string>{"Resolve: connecting to a:1 (connected)", "PGenerator: <b>x</b>"};
    QLabel *shown = protocolsLabel(dlg);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), QStringLiteral("Resolve: connecting to a:1 (connected)\nPGenerator: <b>x</b>"));
    EXPECT_EQ(shown->textFormat(), Qt::PlainText);

    SimEngine sim;
    dlg.useLocalEngine(&sim.core);
    ASSERT_EQ(OvcProtocols::instance(), nullptr);
    shown = protocolsLabel(dlg);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), QStringLiteral("none"));

    OvcProtocolConfig config;
    config.pgenerator = true;
    config.pgeneratorPort = 0;
    config.pgeneratorDiscoveryPort = 0;
    OvcProtocols protocols(&sim.core, config);
    protocols.start();
    shown = protocolsLabel(dlg);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text().toStdString(),
              "PGenerator: listening on TCP " + std::to_string(protocols.pgenerator()->port()) +
                  ", discovery on UDP " + std::to_string(protocols.pgenerator()->discoveryPort()));
    protocols.stop();
}

TEST(OvPanelDialog, GeneratorPageEditsTheEnginesOutputOptions)
{
    app();
    SimEngine sim;
    OvPanelDialog dlg(nullptr, quietDiscovery());
    dlg.useLocalEngine(&sim.core);
    ASSERT_NE(dynamic_cast<OvCoreController *>(dlg.controller()), nullptr);
    EXPECT_EQ(dlg.generators()->currentText(), QStringLiteral("This computer"));
    OvController *c = dlg.controller();
    c->waitTransaction(c->post(params({{"Pattern", "Colorbars"}})));

    button(&dlg, "PbGenerator")->click();
    auto *page = qobject_cast<OvpGenerator *>(dlg.page());
    ASSERT_NE(page, nullptr);
    // Twelve options, three of them read-only, then the seventeen signal
    // options: twenty-six rows.
    EXPECT_EQ(page->optionRows(), 26);
    for (const char *name : {"TransferFunction", "Colorimetry", "HdrMetadata", "MasteringMaxLuminance", "MaxCLL"})
        EXPECT_NE(page->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
    for (const char *name : {"BitDepth", "BlackLevel", "WhiteLevel"})
        EXPECT_EQ(page->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
    for (const char *name : {"GatingColor", "GateRed", "GateGreen", "GateBlue", "VideoFormat", "OutputTitling",
                             "OutputColor", "VideoMute", "ColorEncoding"})
        EXPECT_NE(page->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
    auto *format = page->findChild<QComboBox *>(QStringLiteral("VideoFormat"));
    ASSERT_NE(format, nullptr);
    EXPECT_TRUE(format->currentText().startsWith(QStringLiteral("1080p 60.00"))) << format->currentText().toStdString();
    QiParams shown;
    c->getGenValues(shown);
    const char *encoding = nullptr;
    ASSERT_TRUE(shown.get("ColorEncoding", encoding));
    EXPECT_EQ(page->findChild<QComboBox *>(QStringLiteral("ColorEncoding"))->currentText(),
              QString::fromLatin1(encoding));
    EXPECT_FALSE(page->findChild<QCheckBox *>(QStringLiteral("VideoMute"))->isChecked());
    EXPECT_EQ(page->findChild<QSpinBox *>(QStringLiteral("GatingColor_Red"))->maximum(), 1023);
    screenshot(&dlg, "panel-generator");

    // Choosing a format changes what the board outputs.
    const int at = format->findText(QStringLiteral("720p 59.94"));
    ASSERT_GE(at, 0);
    format->setCurrentIndex(at);
    c->waitTransaction(c->post(QiParams()));
    EXPECT_EQ(boardPicture().size(), QSize(1280, 720));
    QiParams values;
    c->getGenValues(values);
    const char *vf = nullptr;
    EXPECT_TRUE(values.get("VideoFormat", vf) && std::string(vf) == "720p 59.94");

    // The transfer function reaches the signal the board outputs.
    auto *transfer = page->findChild<QComboBox *>(QStringLiteral("TransferFunction"));
    ASSERT_NE(transfer, nullptr);
    EXPECT_EQ(transfer->currentText(), QStringLiteral("SDR"));
    transfer->setCurrentIndex(transfer->findText(QStringLiteral("PQ")));
    c->waitTransaction(c->post(QiParams()));
    SimFrame out;
    ASSERT_TRUE(SimBoards::outputFrame(out));
    EXPECT_EQ(out.signal.eotf, kEotfPq);
    QiParams after;
    c->getGenValues(after);
    const char *tf = nullptr;
    EXPECT_TRUE(after.get("TransferFunction", tf) && std::string(tf) == "PQ");
}

TEST(OvPanelDialog, SnapshotsCountUpThroughTheButtonAndCtrlS)
{
    app();
    SimEngine sim;
    InTempFolder here;
    OvPanelDialog dlg(nullptr, quietDiscovery());
    dlg.useLocalEngine(&sim.core);
    dlg.controller()->post(params({{"Pattern", "Colorbars"}}));

    // Off (as built): no button, and Ctrl+S saves nothing.
    const int before = OvPanelDialog::snapshotCount();
    QTest::keyClick(&dlg, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(OvPanelDialog::snapshotCount(), before);

    dlg.setSnapshotEnabled(true);
    button(&dlg, "PbGenerator")->click();
    QPushButton *snap = button(dlg.page(), "PbSnapshot");
    ASSERT_NE(snap, nullptr);
    EXPECT_EQ(snap->text(), QStringLiteral("Snapshot"));
    EXPECT_FALSE(snap->autoDefault() || snap->isDefault());
    snap->click();
    QTest::keyClick(&dlg, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&dlg, Qt::Key_A, Qt::ControlModifier); // other keys: nothing
    EXPECT_EQ(OvPanelDialog::snapshotCount(), before + 2);
    for (int n : {before, before + 1}) {
        const QString name = QString::asprintf("tavora-%02d.png", n);
        QImage png(name);
        EXPECT_EQ(png.size(), QSize(1920, 1080)) << name.toStdString();
    }
    EXPECT_EQ(dlg.statusLine()->text(), QString::asprintf("Saved tavora-%02d.png", before + 1));
}

TEST(OvPanelDialog, TypedTargetsAreCheckedBeforeUse)
{
    std::string host;
    int port = 0;
    QString why;
    EXPECT_TRUE(OvPanelDialog::parseTarget(QStringLiteral(" 192.168.1.20:9100 "), host, port, why));
    EXPECT_EQ(host, "192.168.1.20");
    EXPECT_EQ(port, 9100);
    EXPECT_TRUE(OvPanelDialog::parseTarget(QStringLiteral("studio-gen"), host, port, why));
    EXPECT_EQ(host, "studio-gen");
    EXPECT_EQ(port, 9022);
    for (const char *bad : {"", ":9022", "host:", "host:0", "host:65536", "host:12x", "ho st:1", "a;rm:1",
                            "host:-1", "host:99999999999"}) {
        why.clear();
        EXPECT_FALSE(OvPanelDialog::parseTarget(QString::fromLatin1(bad), host, port, why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}

TEST(KelMain, ControlPanelEntryOpensThePanelOnTheEngine)
{
    app();
    SimEngine sim;
    KelMain kel(&sim.core, nullptr, true);
    kel.setPanelDiscovery(quietDiscovery());
    QAction *entry = nullptr;
    for (QAction *a : kel.contextMenu()->actions())
        if (a->text() == QStringLiteral("Control Panel"))
            entry = a;
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    OvPanelDialog *panel = kel.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isModal());
    auto *c = dynamic_cast<OvCoreController *>(panel->controller());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->engine(), &sim.core);
    EXPECT_EQ(panel->page(), nullptr);
    // Choosing the entry again brings the same panel forward.
    entry->trigger();
    EXPECT_EQ(kel.panel(), panel);
    // It drives the engine: the patterns page lists its patterns.
    button(panel, "PbPatterns")->click();
    auto *patterns = qobject_cast<OvpPatterns *>(panel->page());
    ASSERT_NE(patterns, nullptr);
    EXPECT_GE(patterns->chooser()->findText(QStringLiteral("Colorbars")), 0);
    panel->close(); // deleted on close
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(kel.panel(), nullptr);
}

TEST(OvPanelDialog, ScreenshotsOfEveryPage)
{
    app();
    SimEngine sim;
    OvPanelDialog dlg(nullptr, quietDiscovery());
    dlg.useLocalEngine(&sim.core);
    dlg.resize(760, 640);
    OvController *c = dlg.controller();
    c->waitTransaction(c->post(params({{"Pattern", "Colorbars"}})));

    button(&dlg, "PbCalibrate")->click();
    button(dlg.page(), "PbBlackLevel")->click();
    screenshot(&dlg, "panel-calibrate");
    button(dlg.page(), "PbColorGamut")->click();
    EXPECT_NE(qobject_cast<OvpWindowControl *>(static_cast<OvPanelW *>(dlg.page())->content()), nullptr);
    screenshot(&dlg, "panel-window-control");

    // The test card is an alias of the image-file pattern: its options.
    button(dlg.page(), "PbProofing")->click();
    auto *card = qobject_cast<OvpPattern *>(static_cast<OvPanelW *>(dlg.page())->content());
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->optionRows(), 7);
    screenshot(&dlg, "panel-pattern");

    button(&dlg, "PbPerformance")->click();
    button(dlg.page(), "PbResolution")->click();
    screenshot(&dlg, "panel-performance");
    button(dlg.page(), "PbColorGamut")->click();
    auto *chroma = qobject_cast<OvpPattern *>(static_cast<OvPanelW *>(dlg.page())->content());
    ASSERT_NE(chroma, nullptr);
    EXPECT_EQ(chroma->optionRows(), 2);
    screenshot(&dlg, "panel-performance-chromaticity");

    c->waitTransaction(c->post(params({{"Pattern", "Colorbars"}})));
    button(&dlg, "PbPatterns")->click();
    auto *list = qobject_cast<OvpPatterns *>(dlg.page());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->chooser()->currentText(), QStringLiteral("Colorbars"));
    screenshot(&dlg, "panel-patterns");

    dlg.setSnapshotEnabled(true);
    button(&dlg, "PbGenerator")->click();
    screenshot(&dlg, "panel-generator-snapshot");
}

TEST(OvPanelDialog, DiscoveryOnABusyPortSaysSoAndTheEngineStillWorks)
{
    app();
    // Held without SO_REUSEADDR, so the panel cannot bind it as well.
    const int busy = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(busy, reinterpret_cast<sockaddr *>(&a), &len);
    OvPanelDiscovery d = quietDiscovery();
    d.replyPort = ntohs(a.sin_port);
    SimEngine sim;
    OvPanelDialog dlg(nullptr, d);
    dlg.useLocalEngine(&sim.core);
    const QString status = dlg.statusLine()->text();
    EXPECT_TRUE(status.startsWith(QStringLiteral("Generator: this computer"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("discovery is not available: UDP port %1").arg(d.replyPort)))
        << status.toStdString();
    button(&dlg, "PbGenerator")->click();
    EXPECT_EQ(qobject_cast<OvpGenerator *>(dlg.page())->optionRows(), 26);
    close(busy);
}

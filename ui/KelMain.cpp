#include "KelMain.h"

#include "KelAbout.h"
#include "OvCore.h"
#include "OvCoreController.h"
#include "QiLog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QSignalMapper>

#include <cstdio>

namespace {

// A connection that Qt refuses is reported with the number that names it;
// construction goes on without it.
void checkConnect(const QMetaObject::Connection &c, int id)
{
    if (!c) {
        std::printf("couldn't connect @ %d\n", id);
        std::fflush(stdout);
    }
}

} // namespace

KelMain::KelMain(OvCore *engine, QWidget *panelContext, bool controlPanel, QWidget *parent)
    : QDialog(parent), m_engine(engine), m_panelContext(panelContext), m_controlPanel(controlPanel),
      m_version(QString::fromLatin1(kVersion)), m_iconPath(QString::fromLatin1(kIconPath)),
      m_aboutArtPath(QString::fromLatin1(kAboutArtPath))
{
    auto *mapper = new QSignalMapper(this);
    mapper->setObjectName(QStringLiteral("KelMapper"));

    auto mapAction = [&](const QString &text, QiParams *params, int id) {
        m_requests.insert(text, params);
        auto *action = new QAction(text, this);
        auto c = connect(action, &QAction::triggered, mapper, qOverload<>(&QSignalMapper::map));
        if (id)
            checkConnect(c, id);
        mapper->setMapping(action, text);
        return action;
    };

    auto *safe = new QiParams;
    safe->set("VideoFormat", "720p 59.94");
    safe->set("OutputColor", "YCbCr_10");
    m_actSafe = mapAction(QStringLiteral("Safe Mode (720p @ YCbCr_10)"), safe, 0);
    m_actRefresh = mapAction(QStringLiteral("Refresh Current Pattern"), new QiParams, 55);
    auto *bars = new QiParams;
    bars->set("Pattern", "fullfield");
    m_actColorbars = mapAction(QStringLiteral("Colorbars"), bars, 65);
    auto *card = new QiParams;
    card->set("Pattern", "Nimbra-Test-Card");
    m_actTestCard = mapAction(QStringLiteral("Nimbra-Test-Card-v"), card, 75);

    m_actAbout = new QAction(tr("About"), this);
    checkConnect(connect(m_actAbout, &QAction::triggered, this, &KelMain::actAbout), 84);
    m_actQuit = new QAction(tr("&Quit"), this);
    checkConnect(connect(m_actQuit, &QAction::triggered, qApp, &QCoreApplication::quit), 88);
    if (m_controlPanel) {
        m_actPanel = new QAction(tr("Control Panel"), this);
        checkConnect(connect(m_actPanel, &QAction::triggered, this, &KelMain::actPanel), 93);
    }
    checkConnect(connect(mapper, &QSignalMapper::mappedString, this, &KelMain::actSetGen), 99);

    m_menu = new QMenu(this);
    m_menu->addAction(m_actSafe);
    m_menu->addSeparator();
    m_menu->addAction(m_actRefresh);
    m_menu->addAction(m_actTestCard);
    m_menu->addAction(m_actColorbars);
    m_menu->addSeparator();
    if (m_actPanel)
        m_menu->addAction(m_actPanel);
    m_menu->addAction(m_actAbout);
    m_menu->addSeparator();
    m_menu->addAction(m_actQuit);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_menu);
    checkConnect(connect(m_tray, &QSystemTrayIcon::activated, this, &KelMain::iconActivated), 125);

    setIcon(0);
    hide();
    resize(0, 0);
    m_tray->show();
    setWindowTitle(tr("Tavora KEL"));
}

KelMain::~KelMain()
{
    qDeleteAll(m_requests);
    m_requests.clear();
    delete m_panel.data();
    delete m_tray;
    delete m_menu;
}

const QiParams *KelMain::request(const QString &menuText) const
{
    return m_requests.value(menuText, nullptr);
}

void KelMain::actKelControl() {}

void KelMain::setIcon(int)
{
    const QIcon icon(m_iconPath);
    m_tray->setIcon(icon);
    setWindowIcon(icon);
    m_tray->setToolTip(tr("Orvane"));
}

void KelMain::iconActivated(QSystemTrayIcon::ActivationReason) {}

void KelMain::actTestMethod() {}

void KelMain::actAbout()
{
    KelAbout about(m_aboutArtPath, m_version);
    about.exec();
}

void KelMain::actPref() {}

void KelMain::actPanel()
{
    // One panel at a time: choosing the entry again brings it forward.
    if (!m_panel) {
        auto *panel = new OvPanelDialog(m_panelContext, m_discovery);
        panel->setAttribute(Qt::WA_DeleteOnClose);
        if (m_engine)
            panel->useLocalEngine(m_engine);
        m_panel = panel;
    }
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void KelMain::actSetGen(const QString &text)
{
    const QiParams *params = m_requests.value(text, nullptr);
    if (!params) {
        qiLog(3, "%s: couldn't find object for %s\n", "KelMain::actSetGen", text.toLocal8Bit().constData());
        return;
    }
    // A request that names no pattern only re-renders when it changes an
    // option; completed with the current parameters it names the pattern on
    // the output, so "Refresh Current Pattern" draws it again as it is.
    if (!params->has("Pattern") && m_engine) {
        QiParams request = *params;
        QiParams current;
        if (m_engine->currentParams(current) && current.has("Pattern")) {
            request.addMissing(current);
            postRequest(request);
            return;
        }
    }
    postRequest(*params);
}

int32_t KelMain::postRequest(const QiParams &params)
{
    return m_engine ? m_engine->post(params) : -1;
}

void KelMain::closeEvent(QCloseEvent *event)
{
    if (m_tray->isVisible()) {
        QMessageBox::information(this, tr("Systray"),
                                 tr("The program will keep running in the system tray. To terminate the "
                                    "program, choose <b>Quit</b> in the context menu of the system tray entry."));
        hide();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

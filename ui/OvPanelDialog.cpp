#include "OvPanelDialog.h"

#include "OvCoreController.h"
#include "OvXmlController.h"
#include "OvpCalibrate.h"
#include "OvpGenerator.h"
#include "OvpPatterns.h"
#include "OvpPerformance.h"
#include "RnServiceRequestor.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <charconv>
#include <cstdio>

namespace {

constexpr int kLocalRole = Qt::UserRole;
constexpr int kAddressRole = Qt::UserRole + 1;
constexpr int kPortRole = Qt::UserRole + 2;
constexpr int kDiscoveryPollMs = 250;

std::atomic<int> g_snapshots{0};

QPushButton *pageButton(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

// A host name from the network, shown as printable ASCII only.
QString hostText(const char *bytes, size_t size)
{
    QString out;
    for (size_t i = 0; i < size && bytes[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += (c >= 0x20 && c < 0x7f) ? QChar(c) : QChar('?');
    }
    return out;
}

} // namespace

OvPanelDialog::OvPanelDialog(QWidget *context, const Discovery &discovery)
    : QDialog(context), m_discovery(discovery)
{
    setWindowTitle(tr("Control Panel"));
    m_layout = new QVBoxLayout(this);

    auto *chooser = new QHBoxLayout;
    auto *genLabel = new QLabel(tr("Generator:"), this);
    m_generators = new QComboBox(this);
    m_generators->setObjectName(QStringLiteral("CbGenerator"));
    m_generators->setMinimumContentsLength(24);
    m_generators->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_generators->addItem(tr("(choose a generator)"));
    m_typed = new QLineEdit(this);
    m_typed->setObjectName(QStringLiteral("LeGenerator"));
    m_typed->setPlaceholderText(tr("host:port"));
    m_typed->setMaxLength(300);
    auto *connectButton = pageButton(tr("Connect"), "PbConnect", this);
    auto *findButton = pageButton(tr("Find"), "PbFind", this);
    findButton->setToolTip(tr("Ask the network again for generators"));
    chooser->addWidget(genLabel);
    chooser->addWidget(m_generators, 2);
    chooser->addWidget(m_typed, 1);
    chooser->addWidget(connectButton);
    chooser->addWidget(findButton);
    m_layout->addLayout(chooser);

    auto *pages = new QHBoxLayout;
    pages->addWidget(pageButton(tr("Generator"), "PbGenerator", this));
    pages->addWidget(pageButton(tr("Calibrate"), "PbCalibrate", this));
    pages->addWidget(pageButton(tr("Performance"), "PbPerformance", this));
    pages->addWidget(pageButton(tr("Patterns"), "PbPatterns", this));
    m_layout->addLayout(pages);
    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("PageArea"));
    m_pageLayout = new QVBoxLayout(area);
    m_pageLayout->setContentsMargins(0, 0, 0, 0);
    m_layout->addWidget(area, 1);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("LbStatus"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_layout->addWidget(m_status);
    showStatus(true, tr("No generator chosen"));

    m_discoveryTimer = new QTimer(this);
    m_discoveryTimer->setInterval(kDiscoveryPollMs);
    connect(m_discoveryTimer, &QTimer::timeout, this, &OvPanelDialog::pollDiscovery);

    QMetaObject::connectSlotsByName(this);
    resize(760, 600);
    startDiscovery();
}

OvPanelDialog::~OvPanelDialog()
{
    // Pages hold the controller: they go first.
    delete m_page;
    m_page = nullptr;
    m_controller.reset();
}

void OvPanelDialog::setController(std::unique_ptr<OvController> controller)
{
    showPage(nullptr);
    m_controller.reset();
    m_controller = std::move(controller);
    if (!m_controller) {
        showStatus(true, tr("No generator chosen"));
        return;
    }
    m_controller->setStatusSink([this](bool ok, const std::string &message) {
        showStatus(ok, QString::fromStdString(message));
    });
    QString status = tr("Generator: %1").arg(QString::fromStdString(m_controller->target()));
    if (!m_discoveryProblem.isEmpty())
        status += QStringLiteral("; ") + m_discoveryProblem;
    showStatus(true, status);
}

void OvPanelDialog::useLocalEngine(OvCore *engine)
{
    m_engine = engine;
    {
        const QSignalBlocker quiet(m_generators);
        m_generators->setItemText(0, tr("This computer"));
        m_generators->setItemData(0, true, kLocalRole);
        m_generators->setCurrentIndex(0);
    }
    setController(std::make_unique<OvCoreController>(engine));
}

void OvPanelDialog::showPage(QWidget *page)
{
    delete m_page;
    m_page = page;
    if (page)
        m_pageLayout->addWidget(page);
}

void OvPanelDialog::showStatus(bool ok, const QString &message)
{
    m_status->setProperty("failed", !ok);
    m_status->setStyleSheet(ok ? QString() : QStringLiteral("color: #b00020; font-weight: bold;"));
    // A generator's fault text can be of any length.
    constexpr qsizetype kMaxShown = 300;
    m_status->setText(message.size() > kMaxShown ? message.left(kMaxShown) + QStringLiteral("...") : message);
}

void OvPanelDialog::on_PbGenerator_clicked()
{
    showPage(nullptr);
    showPage(new OvpGenerator(m_controller.get(), m_snapshotEnabled));
}

void OvPanelDialog::on_PbCalibrate_clicked()
{
    showPage(nullptr);
    showPage(new OvpCalibrate(m_controller.get()));
}

void OvPanelDialog::on_PbPerformance_clicked()
{
    showPage(nullptr);
    showPage(new OvpPerformance(m_controller.get()));
}

void OvPanelDialog::on_PbPatterns_clicked()
{
    showPage(nullptr);
    showPage(new OvpPatterns(m_controller.get()));
}

void OvPanelDialog::on_CbGenerator_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    if (m_generators->itemData(index, kLocalRole).toBool()) {
        setController(std::make_unique<OvCoreController>(m_engine));
        on_PbGenerator_clicked();
        return;
    }
    const QVariant address = m_generators->itemData(index, kAddressRole);
    if (!address.isValid())
        return;
    connectTo(address.toString().toStdString(), m_generators->itemData(index, kPortRole).toInt());
}

void OvPanelDialog::connectTo(const std::string &host, int port)
{
    setController(std::make_unique<OvXmlController>(host, port));
    on_PbGenerator_clicked();
}

int OvPanelDialog::findEntry(const QString &address, int port) const
{
    for (int i = 0; i < m_generators->count(); ++i)
        if (m_generators->itemData(i, kAddressRole).toString() == address &&
            m_generators->itemData(i, kPortRole).toInt() == port)
            return i;
    return -1;
}

bool OvPanelDialog::parseTarget(const QString &text, std::string &host, int &port, QString &why)
{
    const std::string t = text.trimmed().toStdString();
    const size_t colon = t.rfind(':');
    host = colon == std::string::npos ? t : t.substr(0, colon);
    port = kDefaultXmlRpcPort;
    if (colon != std::string::npos) {
        const std::string p = t.substr(colon + 1);
        int v = 0;
        auto r = std::from_chars(p.data(), p.data() + p.size(), v);
        if (p.empty() || r.ec != std::errc() || r.ptr != p.data() + p.size() || v < 1 || v > 65535) {
            why = tr("The port must be a number from 1 to 65535.");
            return false;
        }
        port = v;
    }
    bool ok = !host.empty() && host.size() <= 253;
    for (char c : host)
        ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_');
    if (!ok) {
        why = tr("Type the generator as host:port, for example 192.168.1.20:9022.");
        return false;
    }
    return true;
}

void OvPanelDialog::on_PbConnect_clicked()
{
    std::string host;
    int port = 0;
    QString why;
    if (!parseTarget(m_typed->text(), host, port, why)) {
        showStatus(false, why);
        return;
    }
    const QString address = QString::fromStdString(host);
    int at = findEntry(address, port);
    {
        const QSignalBlocker quiet(m_generators);
        if (at < 0) {
            m_generators->addItem(QStringLiteral("%1:%2").arg(address).arg(port));
            at = m_generators->count() - 1;
            m_generators->setItemData(at, address, kAddressRole);
            m_generators->setItemData(at, port, kPortRole);
        }
        m_generators->setCurrentIndex(at);
    }
    connectTo(host, port);
}

void OvPanelDialog::on_LeGenerator_returnPressed()
{
    on_PbConnect_clicked();
}

void OvPanelDialog::on_PbFind_clicked()
{
    startDiscovery();
}

void OvPanelDialog::startDiscovery()
{
    m_discoveryTimer->stop();
    m_requestor.reset();
    m_requestor = std::make_unique<RnServiceRequestor>(m_discovery.replyPort, m_discovery.requestPort,
                                                       m_discovery.requestAddress.c_str(), m_discovery.budgetMs);
    if (!m_requestor->start()) {
        m_requestor.reset();
        m_discoveryProblem = tr("discovery is not available: UDP port %1 is in use").arg(m_discovery.replyPort);
        showStatus(false, m_discoveryProblem);
        return;
    }
    m_discoveryProblem.clear();
    m_discoveryClock.start();
    m_discoveryTimer->start();
}

void OvPanelDialog::pollDiscovery()
{
    if (!m_requestor) {
        m_discoveryTimer->stop();
        return;
    }
    for (const RnServiceRequestor::Answer &a : m_requestor->answers()) {
        if (a.record.port == 0)
            continue;
        const QString address = QString::fromStdString(a.address);
        const QString name = hostText(a.record.hostName, sizeof a.record.hostName);
        const QString key = name + QLatin1Char('@') + address + QLatin1Char(':') + QString::number(a.record.port);
        if (m_seen.contains(key))
            continue;
        m_seen.insert(key);
        if (findEntry(address, a.record.port) >= 0)
            continue;
        const QSignalBlocker quiet(m_generators);
        m_generators->addItem(QStringLiteral("%1 (%2:%3)").arg(name, address, QString::number(a.record.port)));
        const int at = m_generators->count() - 1;
        m_generators->setItemData(at, address, kAddressRole);
        m_generators->setItemData(at, static_cast<int>(a.record.port), kPortRole);
    }
    // The requestor has stopped listening once its budget is spent.
    if (m_discoveryClock.elapsed() > m_discovery.budgetMs + 2 * kDiscoveryPollMs)
        m_discoveryTimer->stop();
}

bool OvPanelDialog::snapshot(OvController *controller)
{
    char name[32];
    std::snprintf(name, sizeof name, "tavora-%02d.png", g_snapshots.fetch_add(1));
    if (!controller)
        return false;
    // A failure is reported by the controller, which knows why.
    const bool ok = controller->saveImageAsPng(name);
    if (ok)
        controller->report(true, std::string("Saved ") + name);
    return ok;
}

int OvPanelDialog::snapshotCount()
{
    return g_snapshots.load();
}

void OvPanelDialog::keyPressEvent(QKeyEvent *event)
{
    if (m_snapshotEnabled && event->key() == Qt::Key_S &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
        snapshot(m_controller.get());
        return;
    }
    QDialog::keyPressEvent(event);
}

#pragma once
#include "OvController.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QSet>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

class OvCore;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QVBoxLayout;
class RnServiceRequestor;

// Where the control panel's discovery asks and where answers arrive.
struct OvPanelDiscovery {
    uint16_t replyPort = 3530;   // answers arrive here (0: the system picks)
    uint16_t requestPort = 3529; // the generators' discovery port
    std::string requestAddress = "255.255.255.255";
    int budgetMs = 8000;
};

// The control panel: four page buttons over the page they open, the
// generator the pages drive (this computer's engine, one found by
// discovery, or one typed as host:port) and a status line where failures
// show. Non-modal; GUI thread only.
class OvPanelDialog : public QDialog {
    Q_OBJECT

public:
    using Discovery = OvPanelDiscovery;
    static constexpr int kDefaultXmlRpcPort = 9022;

    explicit OvPanelDialog(QWidget *context = nullptr, const Discovery &discovery = Discovery());
    ~OvPanelDialog() override;

    // Replaces the controller (the page shown and the previous controller
    // go first); null leaves the panel without one.
    void setController(std::unique_ptr<OvController> controller);
    OvController *controller() const { return m_controller.get(); }
    // Drive this computer's engine, and offer it first among the generators.
    void useLocalEngine(OvCore *engine);

    void setSnapshotEnabled(bool on) { m_snapshotEnabled = on; }
    bool snapshotEnabled() const { return m_snapshotEnabled; }
    // Saves the frame as "tavora-NN.png" in the current folder, NN counting
    // the snapshots of this process from 00; false when it was not saved.
    static bool snapshot(OvController *controller);
    static int snapshotCount();

    QWidget *page() const { return m_page; }
    QComboBox *generators() const { return m_generators; }
    QLabel *statusLine() const { return m_status; }
    // Reads "host:port" (the port defaults to 9022); false with the reason.
    static bool parseTarget(const QString &text, std::string &host, int &port, QString &why);

public slots:
    void on_PbGenerator_clicked();
    void on_PbCalibrate_clicked();
    void on_PbPerformance_clicked();
    void on_PbPatterns_clicked();
    void on_CbGenerator_currentIndexChanged(int index);
    void on_PbConnect_clicked();
    void on_LeGenerator_returnPressed();
    void on_PbFind_clicked();
    // Adds the generators that answered since the last look.
    void pollDiscovery();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showPage(QWidget *page);
    void showStatus(bool ok, const QString &message);
    void startDiscovery();
    void connectTo(const std::string &host, int port);
    // Index of the chooser entry for address:port, -1 when absent.
    int findEntry(const QString &address, int port) const;

    Discovery m_discovery;
    std::unique_ptr<OvController> m_controller;
    std::unique_ptr<RnServiceRequestor> m_requestor;
    OvCore *m_engine = nullptr;
    bool m_snapshotEnabled = false;
    QWidget *m_page = nullptr;
    QVBoxLayout *m_layout;
    QVBoxLayout *m_pageLayout;
    QComboBox *m_generators;
    QLineEdit *m_typed;
    QLabel *m_status;
    QTimer *m_discoveryTimer;
    QElapsedTimer m_discoveryClock;
    QSet<QString> m_seen;
    // Why discovery is not running, shown with the generator chosen.
    QString m_discoveryProblem;
};

#pragma once
#include "OvPanelDialog.h"
#include "QiParams.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <cstdint>
#include <memory>

class OvCore;
class QAction;
class QMenu;

// The tray application: a hidden dialog owning the tray icon, its menu and
// the request each menu entry posts. GUI thread only.
class KelMain : public QDialog {
    Q_OBJECT

public:
    static constexpr const char *kVersion = "1.2.317";
    static constexpr const char *kIconPath = ":/Artwork/Orvane.iconset/icon_16x16@2x.png";
    static constexpr const char *kAboutArtPath = ":Artwork/Orvane-About.png";

    // engine may be null (nothing is posted then); panelContext is handed on
    // to the control panel. controlPanel adds the "Control Panel" entry.
    KelMain(OvCore *engine, QWidget *panelContext, bool controlPanel, QWidget *parent = nullptr);
    ~KelMain() override;

    // Where the control panel looks for other generators.
    void setPanelDiscovery(const OvPanelDialog::Discovery &discovery) { m_discovery = discovery; }
    // The open control panel, or null.
    OvPanelDialog *panel() const { return m_panel.data(); }

    QMenu *contextMenu() const { return m_menu; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    // The request a menu entry posts; null for entries without one.
    const QiParams *request(const QString &menuText) const;

public slots:
    void actKelControl();
    void setIcon(int);
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void actTestMethod();
    void actAbout();
    void actPref();
    void actPanel();
    void actSetGen(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;
    // Queues a copy of params on the engine; the tests watch this seam.
    virtual int32_t postRequest(const QiParams &params);

private:
    void addRequest(const QString &text, QiParams *params, int connectId, QAction *&action);

    OvCore *m_engine;
    QWidget *m_panelContext;
    bool m_controlPanel;
    QString m_version;
    QString m_iconPath;
    QString m_aboutArtPath;

    QAction *m_actSafe = nullptr;
    QAction *m_actRefresh = nullptr;
    QAction *m_actColorbars = nullptr;
    QAction *m_actTestCard = nullptr;
    QAction *m_actAbout = nullptr;
    QAction *m_actPanel = nullptr;
    QAction *m_actQuit = nullptr;

    QHash<QString, QiParams *> m_requests;
    QMenu *m_menu = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QPointer<OvPanelDialog> m_panel;
    OvPanelDialog::Discovery m_discovery;
};

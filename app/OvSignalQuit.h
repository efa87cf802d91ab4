#pragma once
#include <QObject>

class QCoreApplication;
class QSocketNotifier;

// Ends the event loop on SIGINT or SIGTERM, so the shutdown that follows it
// runs in order. The handler only writes a byte to a pipe; the event loop
// reads it and quits. One per process.
class OvSignalQuit : public QObject {
    Q_OBJECT

public:
    explicit OvSignalQuit(QCoreApplication *app);
    ~OvSignalQuit() override;

    // The signal that ended the loop, or 0.
    static int received();

private:
    void readSignal();

    QCoreApplication *m_app;
    QSocketNotifier *m_notifier = nullptr;
};

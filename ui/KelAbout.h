#pragma once
#include <QDialog>
#include <QStringList>

// The About box: artwork, version and the host's IPv4 addresses.
class KelAbout : public QDialog {
    Q_OBJECT

public:
    KelAbout(const QString &artPath, const QString &version, QWidget *parent = nullptr);

    // Every IPv4 address of this host in the order the resolver gives them
    // for the host name (stream entries only), dotted. Empty on failure.
    static QStringList hostAddresses();
};

#include "KelAbout.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

KelAbout::KelAbout(const QString &artPath, const QString &version, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("About"));
    setModal(true);
    auto *grid = new QGridLayout(this);

    auto *art = new QLabel(this);
    art->setObjectName(QStringLiteral("Artwork"));
    art->setPixmap(QPixmap(artPath));
    art->setAlignment(Qt::AlignCenter);
    grid->addWidget(art, 0, 0, 1, 2, Qt::AlignCenter);

    auto *ver = new QLabel(QStringLiteral("Orvane: ") + version, this);
    ver->setObjectName(QStringLiteral("Version"));
    ver->setAlignment(Qt::AlignCenter);
    grid->addWidget(ver, 1, 0, 1, 2, Qt::AlignCenter);

    grid->addWidget(new QLabel(tr("IP Addresses"), this), 2, 0, 1, 2);
    auto *list = new QPlainTextEdit(this);
    list->setObjectName(QStringLiteral("Addresses"));
    list->setReadOnly(true);
    list->setPlainText(hostAddresses().join(QLatin1Char('\n')));
    list->setMaximumHeight(90);
    grid->addWidget(list, 3, 0, 2, 2);
}

QStringList KelAbout::hostAddresses()
{
    QStringList out;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0)
        return out;
    for (addrinfo *a = res; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_socktype != SOCK_STREAM || !a->ai_addr)
            continue;
        char dotted[INET_ADDRSTRLEN] = {};
        const auto *sin = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, dotted, sizeof dotted))
            out << QString::fromLatin1(dotted);
    }
    freeaddrinfo(res);
    return out;
}

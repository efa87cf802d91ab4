#include "OvpGenerator.h"

#include "OvController.h"
#include "OvPanelDialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

OvpGenerator::OvpGenerator(OvController *controller, bool snapshotEnabled, QWidget *parent)
    : OvPanelController(controller, parent)
{
    auto *form = new QFormLayout(this);
    QiParams values;
    std::vector<QiParams> options;
    const bool ok = controller && controller->getGenValues(values) && controller->getGenOptions(options);
    // The last two maps are the values and the current parameters.
    if (ok && options.size() >= 2)
        m_rows = addOptionRows(form, options, options.size() - 2, values);
    if (!m_rows) {
        auto *none = new QLabel(tr("The generator's options could not be read."), this);
        none->setObjectName(QStringLiteral("LbNoOptions"));
        form->addRow(none);
    }
    // Which calibration programs' protocols run beside XML-RPC.
    std::vector<std::string> protocols;
    if (controller && controller->activeProtocols(protocols)) {
        QString text = protocols.empty() ? tr("none") : QString();
        for (const std::string &line : protocols)
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(line);
        auto *label = new QLabel(text, this);
        label->setObjectName(QStringLiteral("LbProtocols"));
        label->setTextFormat(Qt::PlainText);
        form->addRow(tr("Calibration protocols"), label);
    }
    if (snapshotEnabled) {
        auto *snap = new QPushButton(tr("Snapshot"), this);
        snap->setObjectName(QStringLiteral("PbSnapshot"));
        snap->setAutoDefault(false);
        snap->setDefault(false);
        connect(snap, &QPushButton::clicked, this, &OvpGenerator::on_PbSnapshot_clicked);
        form->addRow(QString(), snap);
    }
}

void OvpGenerator::on_PbSnapshot_clicked()
{
    OvPanelDialog::snapshot(m_controller);
}

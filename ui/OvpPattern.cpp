#include "OvpPattern.h"

#include "OvController.h"

#include <QFormLayout>
#include <QLabel>

OvpPattern::OvpPattern(OvController *controller, const std::string &name, const QiParams &initial, bool send,
                       QWidget *parent)
    : OvPanelController(controller, parent), m_name(name)
{
    auto *form = new QFormLayout(this);
    auto *title = new QLabel(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(name).toHtmlEscaped()), this);
    title->setObjectName(QStringLiteral("LbPattern"));
    form->addRow(title);
    if (!controller)
        return;

    if (send) {
        QiParams request = initial;
        request.set("Pattern", name);
        const int32_t id = controller->post(request);
        if (id > 0)
            controller->waitTransaction(id);
    }

    QiParams current;
    controller->currentParams(current);
    std::vector<QiParams> options;
    bool known = controller->getPatternOpts(name, options);
    if (!known) {
        // An alias has no options of its own: edit those of its pattern.
        QiParams patterns;
        const char *target = nullptr;
        if (controller->listPatterns(patterns) && patterns.get(name, target) &&
            std::string(target).rfind("Alias/", 0) == 0) {
            options.clear();
            known = controller->getPatternOpts(std::string(target).substr(6), options);
        }
    }
    m_rows = addOptionRows(form, options, options.size(), current);
    if (!m_rows) {
        auto *none = new QLabel(known ? tr("This pattern has no options to edit here.")
                                      : tr("The generator does not offer this pattern."),
                                this);
        none->setObjectName(QStringLiteral("LbNoOptions"));
        form->addRow(none);
    }
}

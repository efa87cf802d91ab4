#include "OvpPatterns.h"

#include "OvController.h"
#include "OvpPattern.h"

#include <QComboBox>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cstdio>

OvpPatterns::OvpPatterns(OvController *controller, QWidget *parent) : OvPanelW(controller, parent)
{
    m_patterns = new QComboBox(this);
    m_patterns->setObjectName(QStringLiteral("CbPattern"));
    m_patterns->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(m_patterns, 0, Qt::AlignLeft);
    stack->addWidget(m_area, 1);

    QiParams patterns, current;
    if (controller) {
        controller->listPatterns(patterns);
        controller->currentParams(current);
    }
    const char *shown = nullptr;
    current.get("Pattern", shown);
    int selected = -1;
    {
        // Filling the chooser is not a choice of the operator's.
        const QSignalBlocker quiet(m_patterns);
        for (const auto &entry : patterns) {
            if (shown && entry.first == shown)
                selected = m_patterns->count();
            m_patterns->addItem(QString::fromStdString(entry.first));
        }
        if (selected >= 0) {
            std::printf("current pattern is %s\n", shown);
            std::fflush(stdout);
        }
        if (m_patterns->count())
            m_patterns->setCurrentIndex(selected >= 0 ? selected : 0);
    }
    if (m_patterns->count())
        setContent(new OvpPattern(controller, m_patterns->currentText().toStdString(), QiParams(), false));
    QMetaObject::connectSlotsByName(this);
}

void OvpPatterns::on_CbPattern_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    const std::string name = m_patterns->itemText(index).toStdString();
    std::printf("new pattern should be %s\n", name.c_str());
    std::fflush(stdout);
    setContent(nullptr);
    setContent(new OvpPattern(m_controller, name, QiParams(), true));
}

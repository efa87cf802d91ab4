#include "OvPanelW.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

OvPanelW::OvPanelW(OvController *controller, QWidget *parent) : QWidget(parent), m_controller(controller)
{
    m_area = new QScrollArea(this);
    m_area->setObjectName(QStringLiteral("ContentArea"));
    m_area->setWidgetResizable(true);
    m_area->setFrameShape(QFrame::NoFrame);
}

QWidget *OvPanelW::content() const
{
    return m_area->widget();
}

void OvPanelW::setContent(QWidget *page)
{
    delete m_area->takeWidget();
    if (page)
        m_area->setWidget(page);
}

QPushButton *OvPanelW::addButton(const QString &text, const char *objectName)
{
    if (!m_column) {
        m_column = new QVBoxLayout;
        m_column->setSpacing(4);
    }
    auto *b = new QPushButton(text, this);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAutoDefault(false);
    b->setDefault(false);
    m_column->addWidget(b);
    return b;
}

void OvPanelW::finishColumn()
{
    m_column->addStretch(1);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(m_column);
    row->addWidget(m_area, 1);
    QMetaObject::connectSlotsByName(this);
}

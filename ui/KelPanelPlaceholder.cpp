#include "KelPanelPlaceholder.h"

#include <QLabel>
#include <QVBoxLayout>

KelPanelPlaceholder::KelPanelPlaceholder(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Control Panel"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *box = new QVBoxLayout(this);
    auto *text = new QLabel(tr("The control panel is not part of this build yet.\n"
                               "Patterns and options can be set over XML-RPC (SetGen)."),
                            this);
    text->setObjectName(QStringLiteral("PanelMessage"));
    box->addWidget(text);
}

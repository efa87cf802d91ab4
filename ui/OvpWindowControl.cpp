#include "OvpWindowControl.h"

#include "OvController.h"
#include "OvWindowLevels.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QStringList qtList(const std::vector<std::string> &items)
{
    QStringList out;
    for (const std::string &s : items)
        out << QString::fromStdString(s);
    return out;
}

} // namespace

OvpWindowControl::OvpWindowControl(OvController *controller, bool colorChoice, QWidget *parent)
    : OvPanelController(controller, parent)
{
    m_stack = new QVBoxLayout(this);
    if (controller) {
        m_black = controller->blackLevel();
        m_white = controller->whiteLevel();
    }
    m_sizes = addGroup(tr("Window Size"), qtList(OvWindowLevels::sizes()), 6, OvWindowLevels::kInitialSize,
                       "WinSizeGroup");
    const QStringList steps = qtList(OvWindowLevels::steps());
    m_steps = addGroup(tr("Steps"), steps, 6, steps.indexOf(QString::number(OvWindowLevels::kInitialSteps)),
                       "WinStepGroup");
    if (colorChoice) {
        QStringList colors;
        for (const std::string &c : OvWindowLevels::colors())
            colors << tr(c.c_str());
        m_colors = addGroup(tr("Window Color"), colors, 3, OvWindowLevels::kInitialColor, "WinColorGroup");
    }
    connect(m_sizes, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinSizeGroup_buttonClicked);
    connect(m_steps, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinStepGroup_buttonClicked);
    if (m_colors)
        connect(m_colors, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinColorGroup_buttonClicked);
    buildLevels(OvWindowLevels::kInitialSteps);
    m_stack->addStretch(1);
    send();
}

QButtonGroup *OvpWindowControl::addGroup(const QString &title, const QStringList &labels, int perRow, int checked,
                                         const char *objectName, int at)
{
    auto *box = new QWidget(this);
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 6);
    auto *label = new QLabel(QStringLiteral("<b>%1</b>").arg(title), box);
    grid->addWidget(label, 0, 0, 1, perRow, Qt::AlignLeft);
    auto *group = new QButtonGroup(this);
    group->setObjectName(QString::fromLatin1(objectName));
    for (int i = 0; i < labels.size(); ++i) {
        auto *b = new QRadioButton(labels[i], box);
        group->addButton(b, i);
        grid->addWidget(b, 1 + i / perRow, i % perRow);
        if (i == checked)
            b->setChecked(true);
    }
    box->setObjectName(QString::fromLatin1(objectName) + QStringLiteral("Box"));
    if (at < 0)
        m_stack->addWidget(box);
    else
        m_stack->insertWidget(at, box);
    return group;
}

QStringList OvpWindowControl::levelLabels(int32_t black, int32_t white, int count)
{
    QStringList out;
    for (int32_t v : OvWindowLevels::levels(black, white, count))
        out << QString::number(v);
    return out;
}

void OvpWindowControl::buildLevels(int count)
{
    int at = -1;
    if (m_levelsBox) {
        at = m_stack->indexOf(m_levelsBox);
        delete m_levels;
        delete m_levelsBox;
        m_levels = nullptr;
        m_levelsBox = nullptr;
    }
    m_levels = addGroup(tr("Levels"), levelLabels(m_black, m_white, count), 6, checkedLevel(count),
                        "WinLevelGroup", at);
    m_levelsBox = findChild<QWidget *>(QStringLiteral("WinLevelGroupBox"), Qt::FindDirectChildrenOnly);
    connect(m_levels, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinLevelGroup_buttonClicked);
}

QiParams OvpWindowControl::request() const
{
    QAbstractButton *size = m_sizes->checkedButton();
    QAbstractButton *level = m_levels ? m_levels->checkedButton() : nullptr;
    return OvWindowLevels::request(size ? size->text().toStdString() : OvWindowLevels::sizes().front(),
                                   level ? level->text().toStdString() : std::to_string(m_white), m_black,
                                   m_colors ? m_colors->checkedId() : OvWindowLevels::kWhite);
}

void OvpWindowControl::send()
{
    if (!m_controller)
        return;
    const int32_t id = m_controller->post(request());
    if (id > 0)
        m_controller->waitTransaction(id);
}

void OvpWindowControl::on_WinSizeGroup_buttonClicked(int) { send(); }

void OvpWindowControl::on_WinColorGroup_buttonClicked(int) { send(); }

void OvpWindowControl::on_WinLevelGroup_buttonClicked(int) { send(); }

void OvpWindowControl::on_WinStepGroup_buttonClicked(int)
{
    QAbstractButton *b = m_steps->checkedButton();
    buildLevels(b ? b->text().toInt() : OvWindowLevels::kInitialSteps);
    send();
}

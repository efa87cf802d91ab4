#include "OvpWindowControl.h"

#include "OvController.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr int kInitialSteps = 17;
// Colour ids; white when there is no colour group.
constexpr int kWhite = 7;

} // namespace

OvpWindowControl::OvpWindowControl(OvController *controller, bool colorChoice, QWidget *parent)
    : OvPanelController(controller, parent)
{
    m_stack = new QVBoxLayout(this);
    if (controller) {
        m_black = controller->blackLevel();
        m_white = controller->whiteLevel();
    }
    m_sizes = addGroup(tr("Window Size"), {QStringLiteral("10%"), QStringLiteral("18%"), QStringLiteral("100%")}, 6,
                       0, "WinSizeGroup");
    m_steps = addGroup(tr("Steps"), {QStringLiteral("11"), QStringLiteral("17"), QStringLiteral("21"),
                                     QStringLiteral("33")},
                       6, 1, "WinStepGroup");
    if (colorChoice)
        m_colors = addGroup(tr("Window Color"),
                            {tr("Red"), tr("Green"), tr("Blue"), tr("Cyan"), tr("Magenta"), tr("Yellow")}, 3, 0,
                            "WinColorGroup");
    connect(m_sizes, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinSizeGroup_buttonClicked);
    connect(m_steps, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinStepGroup_buttonClicked);
    if (m_colors)
        connect(m_colors, &QButtonGroup::idClicked, this, &OvpWindowControl::on_WinColorGroup_buttonClicked);
    buildLevels(kInitialSteps);
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
    const int64_t span = static_cast<int64_t>(white) - black;
    for (int i = 0; i < count; ++i)
        out << QString::number(count > 1 ? black + (i * span) / (count - 1) : black);
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
    QiParams p;
    p.set("Pattern", "Window");
    QAbstractButton *size = m_sizes->checkedButton();
    p.set("Size", size ? size->text().toStdString() : std::string("10%"));
    QAbstractButton *level = m_levels ? m_levels->checkedButton() : nullptr;
    const std::string lv = level ? level->text().toStdString() : std::to_string(m_white);
    const std::string dark = std::to_string(m_black);
    const int k = m_colors ? m_colors->checkedId() : kWhite;
    p.set("Color_Red", (k == 0 || k == 4 || k == 5 || k == kWhite) ? lv : dark);
    p.set("Color_Green", (k == 1 || k == 3 || k == 5 || k == kWhite) ? lv : dark);
    p.set("Color_Blue", (k == 2 || k == 3 || k == 4 || k == kWhite) ? lv : dark);
    return p;
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
    buildLevels(b ? b->text().toInt() : kInitialSteps);
    send();
}

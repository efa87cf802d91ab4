#include "OvPanelController.h"

#include "OvController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QSpinBox>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace {

std::string text(const QiParams &p, const std::string &key, const std::string &fallback = std::string())
{
    const char *t = nullptr;
    return p.get(key, t) ? std::string(t) : fallback;
}

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// Six significant digits, as a default-formatted stream writes them, in the
// C locale's form whatever the user's locale.
std::string significant6(double v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

// Numbers on the panel read and write as the generator's texts do.
template <class Box> void cLocale(Box *box)
{
    box->setLocale(QLocale::c());
    box->setKeyboardTracking(false);
}

const char *const kComponents[3] = {"Red", "Green", "Blue"};

} // namespace

OvPanelController::OvPanelController(OvController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
}

QWidget *OvPanelController::makeEditor(const QiParams &d, const QiParams &c)
{
    const std::string name = text(d, "Name");
    const std::string def = d.has("DefaultValue") ? text(d, "DefaultValue") : text(d, "Value");
    const std::string value = c.has(name) ? text(c, name) : def;
    const std::string type = text(d, "DataType");

    QWidget *editor = nullptr;
    if (type == "Integer") {
        auto *box = new QSpinBox;
        cLocale(box);
        int32_t lo = INT_MIN, hi = INT_MAX;
        d.getInt("MaxValue", hi);
        d.getInt("MinValue", lo);
        const int32_t v = QiParams::parseInt(value.c_str());
        // A default outside the limits ("-1: all that fits") is shown as it is.
        box->setMaximum(std::max(hi, v));
        box->setMinimum(std::min(lo, v));
        box->setValue(v);
        connect(box, &QSpinBox::valueChanged, this, &OvPanelController::on_IntegerChanged);
        editor = box;
    } else if (type == "Boolean") {
        auto *box = new QCheckBox;
        // Read as the generator reads booleans: "1", "true" and "yes" alike.
        box->setChecked(QiParams::parseBool(value.c_str()));
        connect(box, &QCheckBox::stateChanged, this, &OvPanelController::on_BooleanChanged);
        editor = box;
    } else if (type == "String") {
        auto *label = new QLabel(QStringLiteral("String: ") + qs(value));
        label->setTextFormat(Qt::PlainText);
        editor = label;
    } else if (type == "Double") {
        auto *box = new QDoubleSpinBox;
        cLocale(box);
        double lo = -1e9, hi = 1e9;
        if (d.has("MaxValue"))
            hi = QiParams::parseDouble(text(d, "MaxValue").c_str());
        if (d.has("MinValue"))
            lo = QiParams::parseDouble(text(d, "MinValue").c_str());
        if (!std::isfinite(hi))
            hi = 1e9;
        if (!std::isfinite(lo))
            lo = -1e9;
        box->setDecimals(6);
        box->setMaximum(hi);
        box->setMinimum(lo);
        const double range = box->maximum() - box->minimum();
        if (range > 0)
            box->setSingleStep(std::clamp(std::pow(10.0, std::floor(std::log10(range)) - 2), 1e-6, 1e6));
        double v = QiParams::parseDouble(value.c_str());
        box->setValue(std::isfinite(v) ? v : 0.0);
        connect(box, &QDoubleSpinBox::valueChanged, this, &OvPanelController::on_DoubleChanged);
        editor = box;
    } else if (type == "Enumeration") {
        auto *box = new QComboBox;
        int32_t n = 0;
        d.getInt("nVal", n);
        n = std::clamp<int32_t>(n, 0, kMaxEnumItems);
        int selected = 0;
        for (int32_t i = 0; i < n; ++i) {
            // A count beyond the items the map holds ends with the last one.
            const char *item = nullptr;
            if (!d.get(name + std::to_string(i), item))
                break;
            box->addItem(qs(item));
            if (value == item)
                selected = i;
        }
        box->setCurrentIndex(box->count() > 0 ? selected : -1);
        connect(box, &QComboBox::currentIndexChanged, this, &OvPanelController::on_EnumerationChanged);
        editor = box;
    } else if (type == "RGB") {
        auto *row = new QWidget;
        auto *grid = new QGridLayout(row);
        grid->setContentsMargins(0, 0, 0, 0);
        const int32_t bits = std::clamp<int32_t>(m_controller ? m_controller->bitDepth() : 8, 1, 16);
        for (int i = 0; i < 3; ++i) {
            const std::string comp = kComponents[i];
            const std::string defKey = "DefaultValue" + comp.substr(0, 1);
            const std::string compDef = d.has(defKey) ? text(d, defKey) : text(d, "Value");
            const std::string key = name + "_" + comp;
            const std::string compValue = c.has(key) ? text(c, key) : compDef;
            auto *box = new QSpinBox(row);
            cLocale(box);
            box->setRange(0, (1 << bits) - 1);
            box->setValue(QiParams::parseInt(compValue.c_str()));
            box->setObjectName(qs(key));
            connect(box, &QSpinBox::valueChanged, this, &OvPanelController::on_RGBChanged);
            auto *label = new QLabel(qs(comp), row);
            label->setAlignment(Qt::AlignHCenter);
            grid->addWidget(box, 0, i);
            grid->addWidget(label, 1, i);
        }
        editor = row;
    } else {
        return nullptr;
    }
    editor->setObjectName(qs(name));
    const std::string help = text(d, "Description");
    // Texts from a generator are shown as text, never as markup.
    if (!help.empty())
        editor->setToolTip(QStringLiteral("<p>%1</p>").arg(qs(help).toHtmlEscaped()));
    return editor;
}

int OvPanelController::addOptionRows(QFormLayout *form, const std::vector<QiParams> &descriptors, size_t count,
                                     const QiParams &current)
{
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    int rows = 0;
    for (size_t i = 0; i < count && i < descriptors.size(); ++i) {
        QWidget *editor = makeEditor(descriptors[i], current);
        if (!editor)
            continue;
        auto *label = new QLabel(qs(text(descriptors[i], "Name")));
        label->setTextFormat(Qt::PlainText);
        form->addRow(label, editor);
        ++rows;
    }
    return rows;
}

void OvPanelController::postOption(const QiParams &option)
{
    if (m_controller)
        m_controller->post(option);
}

void OvPanelController::on_IntegerChanged(int value)
{
    QiParams p;
    p.setInt(sender()->objectName().toStdString(), value);
    postOption(p);
}

void OvPanelController::on_BooleanChanged(int state)
{
    QiParams p;
    p.set(sender()->objectName().toStdString(), state == Qt::Checked ? "1" : "0");
    postOption(p);
}

void OvPanelController::on_DoubleChanged(double value)
{
    QiParams p;
    p.set(sender()->objectName().toStdString(), significant6(value));
    postOption(p);
}

void OvPanelController::on_EnumerationChanged(int index)
{
    auto *box = qobject_cast<QComboBox *>(sender());
    if (!box || index < 0)
        return;
    QiParams p;
    p.set(box->objectName().toStdString(), box->itemText(index).toStdString());
    postOption(p);
}

void OvPanelController::on_RGBChanged(int)
{
    QObject *from = sender();
    const QString key = from->objectName();
    const qsizetype cut = key.lastIndexOf(QLatin1Char('_'));
    if (cut < 0 || !from->parent())
        return;
    const QString name = key.left(cut);
    QiParams p;
    for (const char *comp : kComponents) {
        const QString sibling = name + QLatin1Char('_') + QLatin1String(comp);
        auto *box = from->parent()->findChild<QSpinBox *>(sibling, Qt::FindDirectChildrenOnly);
        if (!box)
            return;
        p.setInt(sibling.toStdString(), box->value());
    }
    postOption(p);
}

#pragma once
#include "QiParams.h"

#include <QWidget>

#include <vector>

class OvController;
class QFormLayout;

// Base of the editing pages (generator, pattern, window control): the
// controller they post to, the editors built from describe maps, and the
// slots those editors report their changes to. Each slot posts the one
// option without "Pattern", so it applies to the pattern shown, and does not
// wait.
class OvPanelController : public QWidget {
    Q_OBJECT

public:
    // More items than this in one enumeration are not shown.
    static constexpr int kMaxEnumItems = 4096;

    explicit OvPanelController(OvController *controller, QWidget *parent = nullptr);

    OvController *controller() const { return m_controller; }

    // The editor for descriptor d with the current values c, named after the
    // option; null for data types without one ("RoInteger" and unknown ones).
    QWidget *makeEditor(const QiParams &d, const QiParams &c);
    // One form row (the option's name, its editor) per descriptor that has
    // an editor, for the first count descriptors; the number of rows added.
    int addOptionRows(QFormLayout *form, const std::vector<QiParams> &descriptors, size_t count,
                      const QiParams &current);

public slots:
    void on_IntegerChanged(int value);
    void on_BooleanChanged(int state);
    void on_DoubleChanged(double value);
    void on_EnumerationChanged(int index);
    void on_RGBChanged(int value);

protected:
    void postOption(const QiParams &option);

    OvController *m_controller;
};

#pragma once
#include "OvPanelController.h"
#include "OvWindowLevels.h"

#include <QString>
#include <QStringList>

class QButtonGroup;
class QVBoxLayout;

// A window of one level stepped by hand: its size, the number of steps from
// black to white, optionally its colour, and the level. Every choice posts
// the whole "Window" request and waits for it.
class OvpWindowControl : public OvPanelController {
    Q_OBJECT

public:
    OvpWindowControl(OvController *controller, bool colorChoice, QWidget *parent = nullptr);

    // The request the current choices make.
    QiParams request() const;
    // The labels of the levels group for count steps between the
    // controller's black and white levels, and the index checked first.
    static QStringList levelLabels(int32_t black, int32_t white, int count);
    static int checkedLevel(int count) { return OvWindowLevels::checkedLevel(count); }

public slots:
    void on_WinSizeGroup_buttonClicked(int id);
    void on_WinStepGroup_buttonClicked(int id);
    void on_WinColorGroup_buttonClicked(int id);
    void on_WinLevelGroup_buttonClicked(int id);

private:
    QButtonGroup *addGroup(const QString &title, const QStringList &labels, int perRow, int checked,
                           const char *objectName, int at = -1);
    void buildLevels(int count);
    void send();

    QVBoxLayout *m_stack;
    QButtonGroup *m_sizes = nullptr;
    QButtonGroup *m_steps = nullptr;
    QButtonGroup *m_colors = nullptr;
    QButtonGroup *m_levels = nullptr;
    QWidget *m_levelsBox = nullptr;
    int32_t m_black = 0, m_white = 0;
};

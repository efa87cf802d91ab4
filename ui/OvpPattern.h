#pragma once
#include "OvPanelController.h"

#include <string>

// One pattern's options. With send, the pattern (with the initial options)
// is posted and waited for first, so the editors show what is on screen.
class OvpPattern : public OvPanelController {
    Q_OBJECT

public:
    OvpPattern(OvController *controller, const std::string &name, const QiParams &initial, bool send,
               QWidget *parent = nullptr);

    const std::string &patternName() const { return m_name; }
    int optionRows() const { return m_rows; }

private:
    std::string m_name;
    int m_rows = 0;
};

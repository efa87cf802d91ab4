#pragma once
#include "OvPanelW.h"

class QComboBox;

// Every pattern and alias of the generator in a chooser above the content
// area. It opens on the pattern shown, without posting; choosing another
// posts it.
class OvpPatterns : public OvPanelW {
    Q_OBJECT

public:
    explicit OvpPatterns(OvController *controller, QWidget *parent = nullptr);

    QComboBox *chooser() const { return m_patterns; }

public slots:
    void on_CbPattern_currentIndexChanged(int index);

private:
    QComboBox *m_patterns;
};

#pragma once
#include "OvPanelController.h"

class QFormLayout;

// The generator's own options (format, output colour, encoding, gating,
// mute, titling) edited with the editors their describe maps call for, and,
// when snapshots are enabled, the "Snapshot" button.
class OvpGenerator : public OvPanelController {
    Q_OBJECT

public:
    OvpGenerator(OvController *controller, bool snapshotEnabled, QWidget *parent = nullptr);

    // The number of option rows shown.
    int optionRows() const { return m_rows; }

public slots:
    void on_PbSnapshot_clicked();

private:
    int m_rows = 0;
};

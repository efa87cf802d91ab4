#pragma once
#include "OvPanelW.h"
#include "QiParams.h"

// Performance patterns: resolution, scaling, contrast ratio, colour ramps,
// gamut, geometry and dynamic range, each opened (and shown) from its button.
class OvpPerformance : public OvPanelW {
    Q_OBJECT

public:
    explicit OvpPerformance(OvController *controller, QWidget *parent = nullptr);

public slots:
    void on_PbResolution_clicked();
    void on_PbScaling_clicked();
    void on_PbContrastRatio_clicked();
    void on_PbColorRamps_clicked();
    void on_PbColorGamut_clicked();
    void on_PbGeometry_clicked();
    void on_PbDynamicRange_clicked();

private:
    void showPattern(const char *name, const QiParams &initial);
};

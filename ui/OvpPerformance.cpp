#include "OvpPerformance.h"

#include "OvpPattern.h"

OvpPerformance::OvpPerformance(OvController *controller, QWidget *parent) : OvPanelW(controller, parent)
{
    addButton(tr("Resolution"), "PbResolution");
    addButton(tr("Scaling"), "PbScaling");
    addButton(tr("Contrast Ratio"), "PbContrastRatio");
    addButton(tr("Color Ramps"), "PbColorRamps");
    addButton(tr("Color Gamut"), "PbColorGamut");
    addButton(tr("Geometry"), "PbGeometry");
    addButton(tr("Dynamic Range"), "PbDynamicRange");
    finishColumn();
}

void OvpPerformance::showPattern(const char *name, const QiParams &initial)
{
    setContent(nullptr);
    setContent(new OvpPattern(m_controller, name, initial, true));
}

void OvpPerformance::on_PbResolution_clicked() { showPattern("Resolution", {}); }

void OvpPerformance::on_PbScaling_clicked()
{
    QiParams p;
    p.set("Scale", "180");
    showPattern("ZonePlate", p);
}

void OvpPerformance::on_PbContrastRatio_clicked() { showPattern("Checkerboard", {}); }

void OvpPerformance::on_PbColorRamps_clicked()
{
    QiParams p;
    p.set("Style", "RGBCMYK");
    p.set("Steps", "0");
    showPattern("Gradient", p);
}

void OvpPerformance::on_PbColorGamut_clicked() { showPattern("Chromaticity", {}); }

void OvpPerformance::on_PbGeometry_clicked() { showPattern("Geometry", {}); }

void OvpPerformance::on_PbDynamicRange_clicked() { showPattern("DynamicRange", {}); }

#include "OvpCalibrate.h"

#include "OvpPattern.h"
#include "OvpWindowControl.h"

OvpCalibrate::OvpCalibrate(OvController *controller, QWidget *parent) : OvPanelW(controller, parent)
{
    addButton(tr("Black Level"), "PbBlackLevel");
    addButton(tr("White Level"), "PbWhiteLevel");
    addButton(tr("Color/Tint"), "PbColorTint");
    addButton(tr("Sharpness"), "PbSharpness");
    addButton(tr("White Balance"), "PbWhiteBalance");
    addButton(tr("Color Gamut"), "PbColorGamut");
    addButton(tr("Grayscale"), "PbGrayscale");
    addButton(tr("Proofing"), "PbProofing");
    finishColumn();
}

void OvpCalibrate::showPattern(const char *name, const QiParams &initial)
{
    setContent(nullptr);
    setContent(new OvpPattern(m_controller, name, initial, true));
}

void OvpCalibrate::on_PbBlackLevel_clicked() { showPattern("Brightness", {}); }

void OvpCalibrate::on_PbWhiteLevel_clicked() { showPattern("Contrast", {}); }

void OvpCalibrate::on_PbColorTint_clicked() { showPattern("Color", {}); }

void OvpCalibrate::on_PbSharpness_clicked() { showPattern("Sharpness", {}); }

void OvpCalibrate::on_PbWhiteBalance_clicked()
{
    setContent(nullptr);
    setContent(new OvpWindowControl(m_controller, false));
}

void OvpCalibrate::on_PbColorGamut_clicked()
{
    setContent(nullptr);
    setContent(new OvpWindowControl(m_controller, true));
}

void OvpCalibrate::on_PbGrayscale_clicked()
{
    QiParams p;
    p.set("Steps", "0");
    showPattern("Gradient", p);
}

void OvpCalibrate::on_PbProofing_clicked() { showPattern("Nimbra-Test-Card", {}); }

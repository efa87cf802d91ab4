#pragma once
#include "OvPanelW.h"
#include "QiParams.h"

// Calibration patterns: levels, colour, sharpness, white balance, gamut,
// greyscale and proofing, each opened (and shown) from its button.
class OvpCalibrate : public OvPanelW {
    Q_OBJECT

public:
    explicit OvpCalibrate(OvController *controller, QWidget *parent = nullptr);

public slots:
    void on_PbBlackLevel_clicked();
    void on_PbWhiteLevel_clicked();
    void on_PbColorTint_clicked();
    void on_PbSharpness_clicked();
    void on_PbWhiteBalance_clicked();
    void on_PbColorGamut_clicked();
    void on_PbGrayscale_clicked();
    void on_PbProofing_clicked();

private:
    void showPattern(const char *name, const QiParams &initial);
};

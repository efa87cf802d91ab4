#include "OvController.h"

#include "OvCtlObject.h"
#include "OvcColorGamut.h"
#include "OvcGreyscale.h"

OvController::OvController()
{
    m_presets.push_back(std::make_unique<OvcBrightness>());
    m_presets.push_back(std::make_unique<OvcContrast>());
    m_presets.push_back(std::make_unique<OvcColor>());
    m_presets.push_back(std::make_unique<OvcGreyscale>());
    m_presets.push_back(std::make_unique<OvcColorGamut>());
    m_presets.push_back(std::make_unique<OvcContrastRatio>());
    m_presets.push_back(std::make_unique<OvcGeometry>());
    m_presets.push_back(std::make_unique<OvcProofing>());
}

OvController::~OvController() = default;

void OvController::report(bool ok, const std::string &message)
{
    if (m_sink)
        m_sink(ok, message);
}

#pragma once
#include "QiParams.h"

// A control preset: the request of a calibration pattern and how to step
// it. The six presets without stepping of their own are declared here too.
class OvCtlObject {
public:
    OvCtlObject(const char *key, const char *value);
    virtual ~OvCtlObject();

    // Step the preset from request; the base only says it was asked.
    virtual void next(const QiParams &request);
    virtual void prev(const QiParams &request);
    // The request shows this preset's pattern ("Pattern" texts equal; an
    // absent key is empty text).
    virtual bool matches(const QiParams &request) const;

    const QiParams &params() const { return m_params; }

protected:
    // The request's text under key, empty when absent.
    static std::string text(const QiParams &request, const char *key);

    QiParams m_params;
};

class OvcBrightness : public OvCtlObject {
public:
    OvcBrightness() : OvCtlObject("Pattern", "Brightness") {}
};

class OvcContrast : public OvCtlObject {
public:
    OvcContrast() : OvCtlObject("Pattern", "Contrast") {}
};

class OvcColor : public OvCtlObject {
public:
    OvcColor() : OvCtlObject("Pattern", "Color") {}
};

class OvcContrastRatio : public OvCtlObject {
public:
    OvcContrastRatio() : OvCtlObject("Pattern", "Checkerboard") {}
};

class OvcGeometry : public OvCtlObject {
public:
    OvcGeometry() : OvCtlObject("Pattern", "Geometry") {}
};

class OvcProofing : public OvCtlObject {
public:
    OvcProofing() : OvCtlObject("Pattern", "Nimbra-Test-Card") {}
};

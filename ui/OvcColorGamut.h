#pragma once
#include "OvCtlObject.h"

// A coloured window (red at first); stepping only says it was asked.
class OvcColorGamut : public OvCtlObject {
public:
    OvcColorGamut();

    void next(const QiParams &request) override;
    void prev(const QiParams &request) override;
    // A "Window" whose three colour components are not all the same text.
    bool matches(const QiParams &request) const override;
};

#pragma once
#include "OvCtlObject.h"

#include <cstdint>
#include <string>

// A grey window stepped through 21 steps from code 16 to code 235.
class OvcGreyscale : public OvCtlObject {
public:
    static constexpr double kStep = 219.0 / 21.0;

    OvcGreyscale();

    void next(const QiParams &request) override;
    void prev(const QiParams &request) override;
    // A "Window" whose three colour components are the same text.
    bool matches(const QiParams &request) const override;

    // The level one step (direction +1 or -1) from the request's red
    // component, wrapping at both ends; line receives the printed trace.
    static int32_t step(const QiParams &request, int direction, std::string *line = nullptr);

private:
    void apply(const QiParams &request, int direction);
};

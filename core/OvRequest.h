#pragma once
#include "QiParams.h"
#include <cstdint>

class OvPatternRenderer;

// One queued request: the caller's map, copied.
struct OvRequest {
    int32_t id = 0;
    bool newPattern = false;            // the pattern must be drawn again
    OvPatternRenderer *renderer = nullptr;
    QiParams params;
};

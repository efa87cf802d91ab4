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
    // The engine's own stop message. Set only by shutdown: a "CyanidePill"
    // key that arrives in a map from outside is an ordinary (unknown) option.
    bool stop = false;
    // Bytes of keys and values, charged to the queue's limit.
    size_t bytes = 0;
};

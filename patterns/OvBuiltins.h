#pragma once
#include "OvPatternRenderer.h"

#include <vector>

// The built-in patterns in registration order.
const std::vector<OvRendererFactory> &ovBuiltinRenderers();

#pragma once
#include "QiOption.h"
#include "QiParams.h"

#include <atomic>
#include <cstdint>

class OvCore;
class QiRaster;

// Base of every test pattern. One instance per pattern, owned by the engine
// for the life of the process. render runs only on the render thread.
// Header-only so the engine can hold renderers without linking them.
class OvPatternRenderer {
public:
    OvPatternRenderer(QiOptionList opts, const char *rev) : options(opts), revision(rev) {}
    virtual ~OvPatternRenderer() = default;

    // The registered pattern name.
    virtual const char *name() const = 0;
    // Called once right after registration: defines the preset aliases.
    virtual bool registerAliases(OvCore *) { return true; }
    // Draws one request into the raster and encodes it; the answer is unused.
    virtual bool render(OvCore *engine, QiRaster *raster, const QiParams &params) = 0;
    virtual bool hookInts(int32_t, int32_t) { return true; }
    virtual void hookVoid() {}

    QiOptionList options;  // null-terminated, may be null for none
    const char *revision;
    // Milliseconds between frame flips of a multi-frame pattern; 0 when still.
    std::atomic<int32_t> framePeriod{0};

    OvPatternRenderer(const OvPatternRenderer &) = delete;
    OvPatternRenderer &operator=(const OvPatternRenderer &) = delete;
};

// Creates one renderer; the built-in list and plug-ins ("OvpMain") use it.
using OvRendererFactory = OvPatternRenderer *(*)();

#pragma once

// The raster's single callback into the engine.
class QiRasterInterface {
public:
    virtual ~QiRasterInterface() = default;
    // Asks the engine to render the current pattern again. Any thread.
    virtual bool requestRerender() = 0;
};

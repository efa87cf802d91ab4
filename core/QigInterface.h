#pragma once
#include "QiRasterInterface.h"

class OvCore;

// The engine's side of the raster callback: wakes the render thread.
class QigInterface : public QiRasterInterface {
public:
    explicit QigInterface(OvCore *engine) : m_engine(engine) {}
    bool requestRerender() override;

private:
    OvCore *m_engine;
};

#pragma once
#include "QiOption.h"

#include <atomic>

// Signed integer option, clamped into [minimum, maximum] when present.
// Some patterns move their limits with the frame size on the render thread
// while other threads publish the descriptor, so each field is atomic (the
// three are not read as one snapshot; a pattern moves only its maximum).
class QiOptInt : public QiOption {
public:
    QiOptInt(const char *name, const char *description, int32_t def, int32_t minimum, int32_t maximum,
             const QiLayout &layout = {});
    bool describe(QiParams &out) const override;
    // Absent: the default (not clamped). Present: parsed, then clamped.
    int32_t read(const QiParams &params) const;
    // Replaces default and limits (frame-dependent limits).
    void setLimits(int32_t def, int32_t minimum, int32_t maximum);

    std::atomic<int32_t> defaultValue, minimum, maximum;
};

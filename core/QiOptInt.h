#pragma once
#include "QiOption.h"

// Signed integer option, clamped into [minimum, maximum] when present.
class QiOptInt : public QiOption {
public:
    QiOptInt(const char *name, const char *description, int32_t def, int32_t minimum, int32_t maximum,
             const QiLayout &layout = {});
    bool describe(QiParams &out) const override;
    // Absent: the default (not clamped). Present: parsed, then clamped.
    int32_t read(const QiParams &params) const;

    int32_t defaultValue, minimum, maximum;
};

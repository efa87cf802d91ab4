#pragma once
#include "QiOption.h"

class QiOptDouble : public QiOption {
public:
    QiOptDouble(const char *name, const char *description, double def, double minimum, double maximum,
                const QiLayout &layout = {});
    bool describe(QiParams &out) const override;
    // Absent: the default. Present: parsed, then clamped.
    double read(const QiParams &params) const;

    double defaultValue, minimum, maximum;
};

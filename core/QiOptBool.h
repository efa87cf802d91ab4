#pragma once
#include "QiOption.h"

class QiOptBool : public QiOption {
public:
    QiOptBool(const char *name, const char *description, bool def, const QiLayout &layout = {});
    bool describe(QiParams &out) const override;
    // Absent: the default. Present: true for texts beginning with true/yes/1.
    bool read(const QiParams &params) const;

    bool defaultValue;
};

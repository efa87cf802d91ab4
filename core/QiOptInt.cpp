#include "QiOptInt.h"

QiOptInt::QiOptInt(const char *n, const char *d, int32_t def, int32_t mn, int32_t mx, const QiLayout &l)
    : QiOption(n, d, Integer, l), defaultValue(def), minimum(mn), maximum(mx)
{
}

bool QiOptInt::describe(QiParams &out) const
{
    QiOption::describe(out);
    out.setInt("MaxValue", maximum);
    out.setInt("MinValue", minimum);
    out.setInt("DefaultValue", defaultValue);
    return true;
}

int32_t QiOptInt::read(const QiParams &params) const
{
    // getInt saturates beyond 32 bits, so the clamp sees the text's sign.
    int32_t v = defaultValue;
    if (!params.getInt(name, v))
        return defaultValue;
    if (v > maximum)
        v = maximum;
    if (v < minimum)
        v = minimum;
    return v;
}

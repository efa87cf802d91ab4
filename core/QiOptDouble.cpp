#include "QiOptDouble.h"

#include <cmath>

QiOptDouble::QiOptDouble(const char *n, const char *d, double def, double mn, double mx, const QiLayout &l)
    : QiOption(n, d, Double, l), defaultValue(def), minimum(mn), maximum(mx)
{
}

bool QiOptDouble::describe(QiParams &out) const
{
    QiOption::describe(out);
    out.setDouble("MaxValue", maximum);
    out.setDouble("MinValue", minimum);
    out.setDouble("DefaultValue", defaultValue);
    return true;
}

double QiOptDouble::read(const QiParams &params) const
{
    double v = defaultValue;
    if (!params.getDouble(name, v) || std::isnan(v))
        return defaultValue; // "nan" has no place between the limits
    if (v > maximum)
        v = maximum;
    if (v < minimum)
        v = minimum;
    return v;
}

#include "QiOptInt.h"

QiOptInt::QiOptInt(const char *n, const char *d, int32_t def, int32_t mn, int32_t mx, const QiLayout &l)
    : QiOption(n, d, Integer, l), defaultValue(def), minimum(mn), maximum(mx)
{
}

bool QiOptInt::describe(QiParams &out) const
{
    QiOption::describe(out);
    out.setInt("MaxValue", maximum.load(std::memory_order_relaxed));
    out.setInt("MinValue", minimum.load(std::memory_order_relaxed));
    out.setInt("DefaultValue", defaultValue.load(std::memory_order_relaxed));
    return true;
}

int32_t QiOptInt::read(const QiParams &params) const
{
    // getInt saturates beyond 32 bits, so the clamp sees the text's sign.
    const int32_t def = defaultValue.load(std::memory_order_relaxed);
    int32_t v = def;
    if (!params.getInt(name, v))
        return def;
    const int32_t hi = maximum.load(std::memory_order_relaxed), lo = minimum.load(std::memory_order_relaxed);
    if (v > hi)
        v = hi;
    if (v < lo)
        v = lo;
    return v;
}

void QiOptInt::setLimits(int32_t def, int32_t mn, int32_t mx)
{
    defaultValue.store(def, std::memory_order_relaxed);
    minimum.store(mn, std::memory_order_relaxed);
    maximum.store(mx, std::memory_order_relaxed);
}

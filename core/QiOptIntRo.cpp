#include "QiOptIntRo.h"

QiOptIntRo::QiOptIntRo(const char *n, const char *d, int32_t v, const QiLayout &l)
    : QiOption(n, d, RoInteger, l), value(v)
{
}

bool QiOptIntRo::describe(QiParams &out) const
{
    QiOption::describe(out);
    out.setInt("Value", value.load());
    return true;
}

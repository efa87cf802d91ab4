#include "QiOptBool.h"

QiOptBool::QiOptBool(const char *n, const char *d, bool def, const QiLayout &l)
    : QiOption(n, d, Boolean, l), defaultValue(def)
{
}

bool QiOptBool::describe(QiParams &out) const
{
    QiOption::describe(out);
    out.set("DefaultValue", defaultValue ? "true" : "false");
    return true;
}

bool QiOptBool::read(const QiParams &params) const
{
    bool v = defaultValue;
    params.getBool(name, v);
    return v;
}

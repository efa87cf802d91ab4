#include "QiOption.h"

namespace {
const char *const kTypeNames[] = {"Integer", "Boolean", "String", "Double", "Enumeration", "RGB", "RoInteger"};
}

QiOption::QiOption(const char *n, const char *d, int32_t type, const QiLayout &l)
    : name(n), description(d), dataType(type), uiX(l.x), uiY(l.y), uiW(l.w), uiH(l.h),
      uiPredicatesOnField(l.onField), uiPredicatesOnValue(l.onValue), uiPredicateLogic(l.logic)
{
}

const char *QiOption::typeName(int32_t dataType)
{
    if (dataType < 0 || dataType > RoInteger)
        return "";
    return kTypeNames[dataType];
}

bool QiOption::describe(QiParams &out) const
{
    out.set("Name", name);
    out.set("DataType", typeName(dataType));
    out.set("Description", description);
    out.setInt("uiX", uiX);
    out.setInt("uiY", uiY);
    out.setInt("uiW", uiW);
    out.setInt("uiH", uiH);
    if (uiPredicatesOnField && uiPredicatesOnValue) {
        out.set("uiPredicatesOnField", uiPredicatesOnField);
        out.set("uiPredicatesOnValue", uiPredicatesOnValue);
        out.setInt("uiPredicateLogic", uiPredicateLogic ? 1 : 0);
    }
    return true;
}

bool QiOption::matchesKey(const std::string &key) const
{
    if (key == name)
        return true;
    return dataType == RGB && key.compare(0, std::char_traits<char>::length(name), name) == 0;
}

#include "OvCtlObject.h"

#include <cstdio>

OvCtlObject::OvCtlObject(const char *key, const char *value)
{
    m_params.set(key, value);
}

OvCtlObject::~OvCtlObject() = default;

void OvCtlObject::next(const QiParams &)
{
    std::fputs("OvCtlObject::next ()\n", stdout);
    std::fflush(stdout);
}

void OvCtlObject::prev(const QiParams &)
{
    std::fputs("OvCtlObject::prev ()\n", stdout);
    std::fflush(stdout);
}

bool OvCtlObject::matches(const QiParams &request) const
{
    return text(request, "Pattern") == text(m_params, "Pattern");
}

std::string OvCtlObject::text(const QiParams &request, const char *key)
{
    const char *t = nullptr;
    return request.get(key, t) ? std::string(t) : std::string();
}

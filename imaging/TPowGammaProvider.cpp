#include "TPowGammaProvider.h"

#include <cmath>
#include <limits>

Fixed Fixed::fromDouble(double value)
{
    // A plain cast of an out-of-range double is undefined; a curve evaluated
    // far outside 0..1 saturates instead.
    double scaled = std::trunc(value * 65536.0);
    if (std::isnan(scaled))
        return Fixed{0};
    if (scaled >= 2147483647.0)
        return Fixed{std::numeric_limits<int32_t>::max()};
    if (scaled <= -2147483648.0)
        return Fixed{std::numeric_limits<int32_t>::min()};
    return Fixed{static_cast<int32_t>(scaled)};
}

namespace {
double fixedArgument(Fixed v) { return static_cast<double>(static_cast<float>(v.raw) / 65536.0f); }
} // namespace

template <>
Fixed TPowGammaProvider<Fixed>::decode(Fixed v) const
{
    if (v.raw < 0)
        return Fixed{0};
    return Fixed::fromDouble(std::pow(fixedArgument(v), m_gamma.raw / 65536.0));
}

template <>
Fixed TPowGammaProvider<Fixed>::encode(Fixed v) const
{
    double inverse = 1.0 / (m_gamma.raw / 65536.0);
    if (v.raw < 0)
        return Fixed::fromDouble(-std::pow(-fixedArgument(v), inverse));
    return Fixed::fromDouble(std::pow(fixedArgument(v), inverse));
}

template class TPowGammaProvider<double>;
template class TPowGammaProvider<long double>;
template class TPowGammaProvider<Fixed>;

#pragma once
#include "Fixed.h"
#include "TGammaProvider.h"

#include <cmath>

// Pure power law: decode(v) = v^gamma (0 below 0), encode(v) = v^(1/gamma),
// mirrored for negative v so that out-of-gamut values keep their sign.
template <class T>
class TPowGammaProvider : public TGammaProvider<T> {
public:
    explicit TPowGammaProvider(T gamma) : m_gamma(gamma) {}

    T decode(T v) const override
    {
        if (v < T(0))
            return T(0);
        return std::pow(v, m_gamma);
    }
    T encode(T v) const override
    {
        if (v < T(0))
            return -std::pow(-v, T(1) / m_gamma);
        return std::pow(v, T(1) / m_gamma);
    }
    T gamma() const override { return m_gamma; }

private:
    T m_gamma;
};

// Fixed point: the argument goes to single precision, the exponent to double,
// the power is taken in double and truncated back to 16.16.
template <>
Fixed TPowGammaProvider<Fixed>::decode(Fixed v) const;
template <>
Fixed TPowGammaProvider<Fixed>::encode(Fixed v) const;

extern template class TPowGammaProvider<double>;
extern template class TPowGammaProvider<long double>;
extern template class TPowGammaProvider<Fixed>;

#pragma once

// Transfer curve of an RGB colour space over a number type T (double,
// long double or Fixed). decode maps encoded values to linear light, encode
// the other way.
template <class T>
class TGammaProvider {
public:
    virtual ~TGammaProvider() = default;
    virtual T decode(T v) const = 0;
    virtual T encode(T v) const = 0;
    virtual T gamma() const = 0;
};

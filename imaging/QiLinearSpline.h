#pragma once
#include <cstddef>
#include <memory>

namespace alglib {
class spline1dinterpolant;
}

// Piecewise-linear curve through tabulated points, built and evaluated by
// ALGLIB. The points are sorted by x on construction; outside the first or
// last point the end segment is extended. ALGLIB's own errors (for example
// fewer than two points, or evaluating a spline that was never built) are
// thrown as alglib::ap_error.
class QiLinearSpline {
public:
    QiLinearSpline();
    // Builds at once; throws alglib::ap_error on a bad table.
    QiLinearSpline(const double *x, const double *y, size_t count);
    ~QiLinearSpline();
    QiLinearSpline(QiLinearSpline &&) noexcept;
    QiLinearSpline &operator=(QiLinearSpline &&) noexcept;

    void build(const double *x, const double *y, size_t count);
    double evaluate(double x) const;

private:
    std::unique_ptr<alglib::spline1dinterpolant> m_spline;
};

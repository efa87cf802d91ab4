#include "QiLinearSpline.h"

#include <interpolation.h>

QiLinearSpline::QiLinearSpline() : m_spline(std::make_unique<alglib::spline1dinterpolant>()) {}

QiLinearSpline::QiLinearSpline(const double *x, const double *y, size_t count) : QiLinearSpline()
{
    build(x, y, count);
}

QiLinearSpline::~QiLinearSpline() = default;
QiLinearSpline::QiLinearSpline(QiLinearSpline &&) noexcept = default;
QiLinearSpline &QiLinearSpline::operator=(QiLinearSpline &&) noexcept = default;

void QiLinearSpline::build(const double *x, const double *y, size_t count)
{
    alglib::real_1d_array xs, ys;
    xs.setcontent(static_cast<alglib::ae_int_t>(count), x);
    ys.setcontent(static_cast<alglib::ae_int_t>(count), y);
    alglib::spline1dbuildlinear(xs, ys, *m_spline);
}

double QiLinearSpline::evaluate(double x) const { return alglib::spline1dcalc(*m_spline, x); }

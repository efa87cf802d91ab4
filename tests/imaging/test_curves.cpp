// Gamma providers over double, long double and 16.16 Fixed, and the ALGLIB
// linear spline.
#include "Fixed.h"
#include "QiLinearSpline.h"
#include "TPowGammaProvider.h"

#include <gtest/gtest.h>

#include <ap.h>

#include <climits>
#include <cmath>
#include <memory>

TEST(Curves, PowerLawEdgeCases)
{
    TPowGammaProvider<double> g2(2.0);
    const TGammaProvider<double> &curve = g2; // used through the base, as colour spaces do
    EXPECT_EQ(curve.decode(-0.5), 0.0);
    EXPECT_EQ(curve.encode(-0.25), -0.5);
    EXPECT_EQ(curve.encode(0.25), 0.5);
    EXPECT_EQ(curve.decode(0.5), 0.25);
    EXPECT_EQ(curve.decode(0.0), 0.0);
    EXPECT_EQ(curve.gamma(), 2.0);

    TPowGammaProvider<long double> g22(2.2L);
    EXPECT_EQ(g22.decode(-1.0L), 0.0L);
    EXPECT_EQ(g22.decode(1.0L), 1.0L);
    EXPECT_NEAR(static_cast<double>(g22.encode(g22.decode(0.3L))), 0.3, 1e-15);
    EXPECT_NEAR(static_cast<double>(g22.encode(-0.5L)), -std::pow(0.5, 1 / 2.2), 1e-15);
}

TEST(Curves, FixedPointGamma)
{
    EXPECT_EQ(Fixed::fromDouble(2.2).raw, 0x23333);
    EXPECT_EQ(Fixed::fromDouble(1.0).raw, 65536);
    EXPECT_EQ(Fixed::fromDouble(-1.5).raw, -98304);
    EXPECT_EQ(Fixed::fromDouble(-1.0 / 65536 * 0.9).raw, 0); // truncation toward zero
    // Round trip of every representable value in a range through double.
    for (int32_t raw = -70000; raw <= 70000; raw += 7)
        ASSERT_EQ(Fixed::fromDouble(Fixed::fromRaw(raw).toDouble()).raw, raw);
    EXPECT_EQ(Fixed::fromDouble(1e12).raw, INT32_MAX);
    EXPECT_EQ(Fixed::fromDouble(-1e12).raw, INT32_MIN);
    EXPECT_EQ(Fixed::fromDouble(NAN).raw, 0);

    TPowGammaProvider<Fixed> g(Fixed::fromRaw(0x23333));
    EXPECT_EQ(g.decode(Fixed::fromRaw(65536)).raw, 65536);
    EXPECT_EQ(g.decode(Fixed::fromRaw(-1)).raw, 0);
    EXPECT_EQ(g.gamma().raw, 0x23333);
    // 0.5^(0x23333/65536) in double, truncated.
    const double gamma = 0x23333 / 65536.0;
    EXPECT_EQ(g.decode(Fixed::fromRaw(32768)).raw, static_cast<int32_t>(std::pow(0.5, gamma) * 65536));
    EXPECT_EQ(g.encode(Fixed::fromRaw(-16384)).raw, static_cast<int32_t>(-std::pow(0.25, 1 / gamma) * 65536));
    // Arguments go through single precision: 1 + 2^-16 is still exact there,
    // so it survives; the power of a large value saturates instead of wrapping.
    EXPECT_EQ(g.decode(Fixed::fromRaw(65537)).raw, static_cast<int32_t>(std::pow(65537 / 65536.0, gamma) * 65536));
    EXPECT_EQ(g.decode(Fixed::fromRaw(INT32_MAX)).raw, INT32_MAX);
    TPowGammaProvider<Fixed> flat(Fixed::fromRaw(0));
    EXPECT_EQ(flat.encode(Fixed::fromRaw(2 * 65536)).raw, INT32_MAX);
}

TEST(Curves, LinearSplineThroughAlglib)
{
    const double x[] = {1, 0}, y[] = {2, 0}; // unsorted on purpose
    QiLinearSpline spline(x, y, 2);
    EXPECT_DOUBLE_EQ(spline.evaluate(0.5), 1.0);
    EXPECT_DOUBLE_EQ(spline.evaluate(2.0), 4.0); // end segment extended
    EXPECT_DOUBLE_EQ(spline.evaluate(-1.0), -2.0);
    EXPECT_DOUBLE_EQ(spline.evaluate(1.0), 2.0);

    const double xs[] = {0, 1, 3}, ys[] = {0, 10, 0};
    spline.build(xs, ys, 3);
    EXPECT_DOUBLE_EQ(spline.evaluate(2.0), 5.0);
    EXPECT_DOUBLE_EQ(spline.evaluate(0.25), 2.5);

    try {
        QiLinearSpline one(x, y, 1);
        FAIL() << "a single point must not build";
    } catch (const alglib::ap_error &e) {
        EXPECT_NE(e.msg.find("N<2"), std::string::npos) << e.msg;
    }
    QiLinearSpline unbuilt;
    EXPECT_THROW(unbuilt.evaluate(0.5), alglib::ap_error);
}

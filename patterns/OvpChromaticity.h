#pragma once
#include "Fixed.h"
#include "OvPatternRenderer.h"
#include "QiLinearSpline.h"
#include "TPowGammaProvider.h"

#include <memory>
#include <string>

// An RGB colour space in 16.16: xyY primaries and white point, a gamma, and
// the two matrices derived from them (columns of the primaries' XYZ scaled
// so that RGB (1, 1, 1) gives the white point's XYZ; XYZ->RGB its inverse).
class OvRgbSpace {
public:
    // primaries: red, green, blue, each x, y, Y; white: x, y, Y.
    OvRgbSpace(const char *name, const Fixed primaries[3][3], const Fixed white[3], Fixed gamma);

    // False when the primaries and white point give no invertible matrix
    // (a y of 0, primaries on one line); the matrices are then zero.
    bool valid() const { return m_valid; }
    const std::string &name() const { return m_name; }
    Fixed primary(int rgb, int xyY) const { return m_primaries[rgb][xyY]; }
    Fixed white(int xyY) const { return m_white[xyY]; }
    const TPowGammaProvider<Fixed> &gamma() const { return m_gamma; }
    Fixed rgbToXyz(int row, int column) const { return m_rgbToXyz[row][column]; }
    Fixed xyzToRgb(int row, int column) const { return m_xyzToRgb[row][column]; }

    // The two spaces the diagram offers by name, built at start-up.
    static const OvRgbSpace &rec709();
    static const OvRgbSpace &rec601();

private:
    std::string m_name;
    Fixed m_primaries[3][3];
    Fixed m_white[3];
    TPowGammaProvider<Fixed> m_gamma;
    Fixed m_rgbToXyz[3][3] = {};
    Fixed m_xyzToRgb[3][3] = {};
    bool m_valid = false;
};

// The CIE 1931 xy chromaticity diagram in the colours of an RGB space, with
// chromaticities outside its gamut shaded, shown fully or greyed out.
class OvpChromaticity : public OvPatternRenderer {
public:
    OvpChromaticity();
    const char *name() const override { return "Chromaticity"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;

    // The spectral locus as x of y: the short-wavelength branch (361-521 nm
    // and the 522 nm point) and the long one (522-830 nm closed by 361 nm).
    double left(double y) const { return m_left.evaluate(y); }
    double right(double y) const { return m_right.evaluate(y); }
    // Chromaticity of the observer table at nm (360..830); false outside.
    static bool locusPoint(int nm, double &x, double &y);

private:
    QiLinearSpline m_left, m_right;
    bool m_built = false;
};

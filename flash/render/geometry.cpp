// Matrices and colour transforms.
#include <algorithm>
#include <cmath>

#include "flash/render/render_parts.h"

namespace qm::flash::render {

Matrix Matrix::operator*(const Matrix& m) const {
    Matrix r;
    r.a = a * m.a + c * m.b;
    r.b = b * m.a + d * m.b;
    r.c = a * m.c + c * m.d;
    r.d = b * m.c + d * m.d;
    r.tx = a * m.tx + c * m.ty + tx;
    r.ty = b * m.tx + d * m.ty + ty;
    return r;
}

bool Matrix::invert(Matrix& out) const {
    double det = a * d - b * c;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
    out.a = d / det;
    out.b = -b / det;
    out.c = -c / det;
    out.d = a / det;
    out.tx = -(out.a * tx + out.c * ty);
    out.ty = -(out.b * tx + out.d * ty);
    return true;
}

double Matrix::scaleX() const { return std::hypot(a, b); }
double Matrix::scaleY() const { return std::hypot(c, d); }

namespace {
uint8_t Channel(double v, double mult, double add) {
    double r = std::round(v * mult + add);
    return static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
}
}  // namespace

Rgba ColorTransform::apply(Rgba c) const {
    return {Channel(c.r, mr, ar), Channel(c.g, mg, ag), Channel(c.b, mb, ab), Channel(c.a, ma, aa)};
}

ColorTransform ColorTransform::operator*(const ColorTransform& in) const {
    ColorTransform r;
    r.mr = mr * in.mr;
    r.mg = mg * in.mg;
    r.mb = mb * in.mb;
    r.ma = ma * in.ma;
    r.ar = mr * in.ar + ar;
    r.ag = mg * in.ag + ag;
    r.ab = mb * in.ab + ab;
    r.aa = ma * in.aa + aa;
    return r;
}

bool ColorTransform::isIdentity() const {
    return mr == 1 && mg == 1 && mb == 1 && ma == 1 && ar == 0 && ag == 0 && ab == 0 && aa == 0;
}

bool ColorTransform::onlyAlphaMultiply() const {
    return mr == 1 && mg == 1 && mb == 1 && ar == 0 && ag == 0 && ab == 0 && aa == 0;
}

}  // namespace qm::flash::render

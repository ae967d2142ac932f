// Expansion of single points and directions into a CCHArray, evaluation of
// an expansion at a direction or a point, and the element conversions
// between moments and traceless coefficients.

#include "arrays/charray.h"

#include "config/fatal.h"

#include <cmath>
#include <vector>

namespace {

// Sum over the trace indices (i, j, k), 2i <= lx, 2j <= ly, 2k <= lz, of
// prod_axes l!/(i! (l-2i)!) term(n, lx-2i, ly-2j, lz-2k), n = i+j+k: the
// common shape of the conversions between moments and traceless coefficients.
template <class Term>
double TraceSum(const CCHCalc &c, int lx, int ly, int lz, Term &&term) {
  double sum = 0.0;
  for (int i = 0; 2 * i <= lx; ++i) {
    const double fx = c.Factorial(lx) / (c.Factorial(i) * c.Factorial(lx - 2 * i));
    for (int j = 0; 2 * j <= ly; ++j) {
      const double fxy = fx * c.Factorial(ly) / (c.Factorial(j) * c.Factorial(ly - 2 * j));
      for (int k = 0; 2 * k <= lz; ++k) {
        const double f = fxy * c.Factorial(lz) / (c.Factorial(k) * c.Factorial(lz - 2 * k));
        sum += term(i + j + k, lx - 2 * i, ly - 2 * j, lz - 2 * k) * f;
      }
    }
  }
  return sum;
}

// Unit vector of the polar angles (radians).
void Direction(double theta, double phi, double &ex, double &ey, double &ez) {
  const double st = std::sin(theta);
  ex = st * std::cos(phi);
  ey = st * std::sin(phi);
  ez = std::cos(theta);
}

}  // namespace

void CCHArray::IncrementMArrayFromE(double ex, double ey, double ez, double weight, int ir) {
  if (!ElementExists(0, 0, 0, ir)) IncrementElement(0, 0, 0, ir, weight);  // fatal: ir outside the mesh
  // Powers advance by the axis step, so only stored exponents are formed.
  const double sx = dlx == 2 ? ex * ex : ex, sy = dly == 2 ? ey * ey : ey, sz = dlz == 2 ? ez * ez : ez;
  double px = weight;
  for (int lx = 0; lx <= LMAX; lx += dlx, px *= sx) {
    double pxy = px;
    for (int ly = 0; ly <= LMAX - lx; ly += dly, pxy *= sy) {
      double p = pxy;
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz, p *= sz) At(lx, ly, lz, ir) += p;
    }
  }
}

void CCHArray::IncrementMArrayFromThetaPhi(double theta, double phi, double weight, int ir) {
  double ex, ey, ez;
  Direction(theta, phi, ex, ey, ez);
  IncrementMArrayFromE(ex, ey, ez, weight, ir);
}

void CCHArray::IncrementAExpArrayFromE(double ex, double ey, double ez, double weight, int ir) {
  if (!ElementExists(0, 0, 0, ir)) IncrementElement(0, 0, 0, ir, weight);  // fatal: ir outside the mesh
  const CCHCalc &calc = *chcalc;
  ForEachTriple(LMAX, 1, [&](int lx, int ly, int lz) {
    const int L = lx + ly + lz;
    At(lx, ly, lz, ir) +=
        calc.DoubleFactorial(2 * L + 1) / calc.Factorial(L) * weight * calc.GetAFromE(lx, ly, lz, ex, ey, ez);
  });
  FillRemainderX(ir);
}

void CCHArray::IncrementAExpArrayFromThetaPhi(double theta, double phi, double weight, int ir) {
  double ex, ey, ez;
  Direction(theta, phi, ex, ey, ez);
  IncrementAExpArrayFromE(ex, ey, ez, weight, ir);
}

void CCHArray::IncrementAExpArray(double x, double y, double z, double weight) {
  if (std::isnan(x) || std::isnan(y) || std::isnan(z))
    femtokit::Fatal("CCHArray::IncrementAExpArray: position (%g,%g,%g) is not a number\n", x, y, z);
  const double r = std::sqrt(x * x + y * y + z * z);
  if (r == 0.0) {
    if (NRADIAL > 0) At(0, 0, 0, 0) += weight;  // no direction: the isotropic part only
    return;
  }
  const int ir = RadialBin(r, RADSTEP);
  if (ir < 0 || ir >= NRADIAL) return;
  IncrementAExpArrayFromE(x / r, y / r, z / r, weight, ir);
}

// h(lx, ly, lz) for lx <= 1 equals GetAFromE(l, e) for a unit vector e; each
// order follows from the order below it. The scratch table is kept per
// thread and only grows, so repeated calls do not allocate.
void CCHArray::AltIncrementAExpArrayFromE(double ex, double ey, double ez, double weight, int ir) {
  if (!ElementExists(0, 0, 0, ir)) IncrementElement(0, 0, 0, ir, weight);  // fatal: ir outside the mesh
  const CCHCalc &calc = *chcalc;
  const int n = LMAX + 3;
  static thread_local std::vector<double> scratch;
  if (scratch.size() < static_cast<size_t>(2 * n * n)) scratch.resize(static_cast<size_t>(2 * n * n));
  double *hp = scratch.data();
  auto h = [hp, n](int lx, int ly, int lz) -> double & { return hp[(lx * n + ly) * n + lz]; };

  h(0, 0, 0) = 1.0;
  At(0, 0, 0, ir) += weight;
  for (int L = 1; L <= LMAX; ++L) {
    const double a = 1.0 / L, b = 1.0 / (L * (2.0 * L - 1.0));
    const double norm = weight * calc.DoubleFactorial(2 * L + 1) / calc.Factorial(L);
    for (int lx = 0; lx <= 1; ++lx) {
      for (int ly = 0; ly <= L - lx; ++ly) {
        const int lz = L - lx - ly;
        double v = lx == 1 ? ex * a * h(0, ly, lz) : 0.0;
        if (ly > 0) v += ey * (a * ly - b * ly * (ly - 1)) * h(lx, ly - 1, lz);
        if (lz > 0) v += ez * (a * lz - b * lz * (lz - 1)) * h(lx, ly, lz - 1);
        if (ly > 1) {
          const double c = b * ly * (ly - 1);
          if (lx == 1)
            v += ex * c * (h(0, ly - 2, lz + 2) + h(0, ly, lz));
          else
            v -= ex * c * h(1, ly - 2, lz);
          v -= ez * c * h(lx, ly - 2, lz + 1);
        }
        if (lz > 1) {
          const double c = b * lz * (lz - 1);
          if (lx == 1)
            v += ex * c * (h(0, ly + 2, lz - 2) + h(0, ly, lz));
          else
            v -= ex * c * h(1, ly, lz - 2);
          v -= ey * c * h(lx, ly + 1, lz - 2);
        }
        h(lx, ly, lz) = v;
        if (lx % dlx == 0 && ly % dly == 0 && lz % dlz == 0) At(lx, ly, lz, ir) += norm * v;
      }
    }
  }
}

double CCHArray::AExpand(double ex, double ey, double ez, int ir) const {
  if (!ElementExists(0, 0, 0, ir)) return GetElement(0, 0, 0, ir);  // warns, 0
  const CCHCalc &calc = *chcalc;
  const double sx = dlx == 2 ? ex * ex : ex, sy = dly == 2 ? ey * ey : ey, sz = dlz == 2 ? ez * ez : ez;
  double f = 0.0, px = 1.0;
  for (int lx = 0; lx <= LMAX; lx += dlx, px *= sx) {
    double pxy = px;
    for (int ly = 0; ly <= LMAX - lx; ly += dly, pxy *= sy) {
      double p = pxy;
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz, p *= sz)
        f += calc.Trinomial(lx, ly, lz) * At(lx, ly, lz, ir) * p;
    }
  }
  return f;
}

double CCHArray::AExpand(double x, double y, double z) const {
  if (std::isnan(x) || std::isnan(y) || std::isnan(z))
    femtokit::Fatal("CCHArray::AExpand: position (%g,%g,%g) is not a number\n", x, y, z);
  const double r = std::sqrt(x * x + y * y + z * z);
  if (r == 0.0) return NRADIAL > 0 ? At(0, 0, 0, 0) : 0.0;
  const int ir = RadialBin(r, RADSTEP);
  if (ir < 0 || ir >= NRADIAL) return 0.0;
  return AExpand(x / r, y / r, z / r, ir);
}

double CCHArray::AExpand(double theta, double phi, int ir) const {
  double ex, ey, ez;
  Direction(theta, phi, ex, ey, ez);
  return AExpand(ex, ey, ez, ir);
}

// A(l) = (2L+1)!!/L! sum_{ijk} (-1/2)^n (2(L-n)-1)!!/(2L-1)!!
//        prod_axes l!/(i! (l-2i)!) M(l - 2(i,j,k)),  n = i+j+k.
double CCHArray::GetAExpElementFromMArray(int lx, int ly, int lz, int ir) const {
  if (!ElementExists(lx, ly, lz, ir)) return GetElement(lx, ly, lz, ir);  // warns, 0
  const CCHCalc &c = *chcalc;
  const int L = lx + ly + lz;
  const double sum = TraceSum(c, lx, ly, lz, [&](int n, int mx, int my, int mz) {
    return std::pow(-0.5, n) * c.DoubleFactorial(2 * (L - n) - 1) * At(mx, my, mz, ir);
  });
  return c.DoubleFactorial(2 * L + 1) / (c.Factorial(L) * c.DoubleFactorial(2 * L - 1)) * sum;
}

// M(l) = sum_{ijk} (1/2)^n (2(L-2n)+1)!!/(2(L-n)+1)!! t(L-2n)
//        prod_axes l!/(i! (l-2i)!) A(l - 2(i,j,k)),  t(m) = m!/(2m+1)!!,
// where (2m+1)!! t(m) = m! with m = L-2n.
double CCHArray::GetMElementFromAExpArray(int lx, int ly, int lz, int ir) const {
  if (!ElementExists(lx, ly, lz, ir)) return GetElement(lx, ly, lz, ir);  // warns, 0
  const CCHCalc &c = *chcalc;
  const int L = lx + ly + lz;
  return TraceSum(c, lx, ly, lz, [&](int n, int mx, int my, int mz) {
    return std::ldexp(c.Factorial(L - 2 * n), -n) / c.DoubleFactorial(2 * (L - n) + 1) * At(mx, my, mz, ir);
  });
}

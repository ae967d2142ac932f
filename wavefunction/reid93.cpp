#include "wavefunction/reid93.h"

#include "config/fatal.h"

#include <cmath>
#include <cstring>

namespace {

// Couplings and masses (MeV) of the potential.
const double F0PI = 0.075;        // neutral-pion pseudovector coupling f0^2
const double FCPI = 0.075;        // charged-pion coupling fc^2
const double PIOM = 134.9739;     // neutral pion
const double PIOMC = 139.5675;    // charged pion
const double PIOMS = 139.5675;    // scaling mass of the couplings
const double PIOMM = 138.0363;    // (m_pi0 + 2 m_pic)/3, mass of every non-OPE term
const double HBC = 197.327053;    // hbar c, MeV fm
const double CUTOFF = 8.0;        // form-factor mass in units of the pion mass

// Coefficients a(i,j) (isospin 1) and b(i,j) (isospin 0 and the np 1S0 fit),
// row i, column j, both counted from 1 in the comments below.
const double A[5][5] = {
    {0.1756084, -14.14234, 151.8489, -686.8230, 1104.157},
    {-42.24976, 207.2246, -335.4364, -1.989250, -61.78469},
    {29.12845, 151.1690, 8.151964, 58.32103, -20.74743},
    {-0.5840566, -10.29310, 22.63391, 23.16915, -1.959172},
    {-2.608488, 10.90858, -0.4374212, -21.48862, -0.6584788}};
// b(5,5) takes the value of the 1994 original.
const double B[5][5] = {
    {-22.34989, 255.1761, -1063.549, 1609.196, -3.505968},
    {-4.248612, -5.352001, 182.7642, -392.7086, 58.12273},
    {-2.904577, 38.02497, 0.3395927, 0.8318097, 1.923895},
    {0.0913746, -12.74773, 145.8600, -643.2461, 1022.217},
    {-0.0461640, 7.950192, -1.925573, 50.66234, 8.3598955}};

inline double a(int i, int j) { return A[i - 1][j - 1]; }
inline double b(int i, int j) { return B[i - 1][j - 1]; }

enum PairKind { PAIR_PPNN, PAIR_NP };

// The non-OPE shapes at the average-pion distance variable, for meson masses
// n = 2 ... 6 pion masses.
struct Shapes {
  double Y[7], Z[7], W[7];
  explicit Shapes(double x) {
    for (double n = 2; n <= 6; n += 1) {
      int i = static_cast<int>(n);
      Y[i] = r93_y(n, CUTOFF, x);
      Z[i] = r93_z(n, CUTOFF, x);
      W[i] = r93_w(n, CUTOFF, x);
    }
  }
};

}  // namespace

double r93_p(const double &a, const double &b, const double &x) {
  const double c = b * (b * b - a * a);
  const double d = c / (2.0 * a * a);
  if (x < 0.0001) return x * (b * d + a * a / 2.0 + b * b / 2.0) + (b - a - d);
  return std::exp(-a * x) / x - (x * c / (2.0 * a * a) + 1.0) * std::exp(-b * x) / x;
}

double r93_y(const double &a, const double &b, const double &x) {
  if (x < 0.0001) return (b / 2.0 - a) + a * a / (2.0 * b);
  return std::exp(-a * x) / x - (x * (b * b - a * a) / (2.0 * b) + 1.0) * std::exp(-b * x) / x;
}

double r93_z(const double &a, const double &b, const double &x) {
  if (x < 0.0001) return x * (a * a - 4.0 * b * b + 3.0 * b * b * b * b / (a * a)) / 8.0;
  const double eb = std::exp(-b * x);
  const double ea = std::exp(-a * x);
  const double ax = a * x, bx = b * x;
  return (ea / x) * (1.0 + 3.0 / ax + 3.0 / (ax * ax)) -
         (b * b / (a * a)) * (eb / x) * (1.0 + 3.0 / bx + 3.0 / (bx * bx)) -
         b * eb * (1.0 + 1.0 / bx) * (b * b - a * a) / (2.0 * a * a);
}

double r93_w(const double &a, const double &b, const double &x) {
  if (x < 0.0001)
    return x * (2.0 * b * b - a * a - b * b * b * b / (a * a)) / 8.0 +
           (2.0 * a - 3.0 * b + b * b * b / (a * a)) / 6.0;
  const double eb = std::exp(-b * x) / x;
  const double ea = std::exp(-a * x) / x;
  const double ax = a * x, bx = b * x;
  return ea * (1.0 / ax + 1.0 / (ax * ax)) - (b * b / (a * a)) * eb * (1.0 / bx + 1.0 / (bx * bx)) -
         eb * (b * b - a * a) / (2.0 * a * a);
}

void creid93(const double *r, const char *pname, const char *type, double *vpot11, double *vpot12,
             double *vpot22) {
  static const char *const names[] = {"1S0", "1D2", "1G4", "3P0", "3P1", "3F3", "1P1",
                                      "1F3", "3D2", "3G4", "3C1", "3C2", "3C3", "3C4"};
  bool known = false;
  for (const char *name : names)
    if (std::strcmp(pname, name) == 0) known = true;
  if (!known) femtokit::Fatal("creid93: unknown partial wave \"%s\"\n", pname);

  PairKind pair;
  if (std::strcmp(type, "PP") == 0 || std::strcmp(type, "NN") == 0)
    pair = PAIR_PPNN;
  else if (std::strcmp(type, "NP") == 0 || std::strcmp(type, "PN") == 0)
    pair = PAIR_NP;
  else
    femtokit::Fatal("creid93: unknown pair type \"%s\"\n", type);

  // Quantum numbers from the name: spin from the first character, J from the
  // digit; L = J except for 3P0 (L = 1) and coupled waves (L = J-1 first).
  const int S = (pname[0] == '1') ? 0 : 1;
  const int J = pname[2] - '0';
  const bool coupled = (pname[1] == 'C');
  int L = J;
  if (coupled) L = J - 1;
  if (std::strcmp(pname, "3P0") == 0) L = 1;
  const int T = (S + L + 1) % 2;

  // One-pion exchange: neutral pion for pp and nn; for np the combination of
  // charged and neutral pions fixed by the isospin.
  const double F0 = F0PI * (PIOM / PIOMS) * (PIOM / PIOMS) * PIOM / 3.0;
  const double Fc = FCPI * (PIOMC / PIOMS) * (PIOMC / PIOMS) * PIOMC / 3.0;
  const double x0 = PIOM * (*r) / HBC;
  double vspi = F0 * r93_p(1.0, CUTOFF, x0);
  double vspis = F0 * r93_y(1.0, CUTOFF, x0);
  double vtpi = F0 * r93_z(1.0, CUTOFF, x0);
  if (pair == PAIR_NP) {
    const double xc = PIOMC * (*r) / HBC;
    const double f = (4.0 * T - 2.0) * Fc;
    vspi = f * r93_p(1.0, CUTOFF, xc) - vspi;
    vspis = f * r93_y(1.0, CUTOFF, xc) - vspis;
    vtpi = f * r93_z(1.0, CUTOFF, xc) - vtpi;
  }

  const Shapes s(PIOMM * (*r) / HBC);
  const double *Y = s.Y, *Z = s.Z, *W = s.W;
  double v11 = 0.0, v12 = 0.0, v22 = 0.0;

  if (!coupled) {
    double nonope = 0.0;
    if (std::strcmp(pname, "1S0") == 0) {
      if (pair == PAIR_PPNN)
        nonope = a(1, 1) * Y[2] + a(1, 2) * Y[3] + a(1, 3) * Y[4] + a(1, 4) * Y[5] + a(1, 5) * Y[6];
      else
        nonope = b(1, 1) * Y[3] + b(1, 2) * Y[4] + b(1, 3) * Y[5] + b(1, 4) * Y[6];
    } else if (std::strcmp(pname, "1D2") == 0) {
      nonope = a(2, 1) * Y[4] + a(2, 2) * Y[5] + a(2, 3) * Y[6];
    } else if (std::strcmp(pname, "1G4") == 0) {
      nonope = a(2, 4) * Y[3];
    } else if (std::strcmp(pname, "3P0") == 0) {
      nonope = a(3, 1) * Y[3] + a(3, 2) * Y[5] + a(2, 5) * Z[3] / 3.0;
    } else if (std::strcmp(pname, "3P1") == 0) {
      nonope = a(3, 3) * Y[3] + a(3, 4) * Y[5] + a(3, 5) * Z[3] / 3.0;
    } else if (std::strcmp(pname, "3F3") == 0) {
      nonope = a(4, 5) * Y[3];
    } else if (std::strcmp(pname, "1P1") == 0) {
      nonope = b(2, 1) * Y[3] + b(2, 2) * Y[4] + b(2, 3) * Y[5] + b(2, 4) * Y[6];
    } else if (std::strcmp(pname, "1F3") == 0) {
      nonope = b(1, 5) * Y[3] + b(2, 5) * Y[5];
    } else if (std::strcmp(pname, "3D2") == 0) {
      nonope = b(3, 1) * Y[3] + b(3, 2) * Y[5] + b(3, 3) * Z[3] / 3.0;
    } else {  // 3G4
      nonope = b(3, 4) * Y[3];
    }

    double ope;
    if (S == 0)
      ope = (L == 0) ? -3.0 * vspi : -3.0 * vspis;
    else if (L == J)
      ope = vspis + 2.0 * vtpi;
    else  // 3P0: L = J+1
      ope = vspis - 2.0 * (J + 2.0) / (2.0 * J + 1.0) * vtpi;
    v11 = PIOMM * nonope + ope;
  } else {
    // Central, tensor and spin-orbit parts of the coupled triplets.
    double vc, vt, vls;
    if (T == 1) {  // 3C2, 3C4
      vc = a(4, 1) * Y[3] + a(4, 2) * Y[4] + a(4, 3) * Y[5] + a(4, 4) * Y[6];
      vt = (a(5, 1) * Z[4] + a(5, 2) * Z[6]) / 3.0;
      vls = (J == 2) ? a(5, 3) * W[3] + a(5, 4) * W[5] : a(5, 5) * W[3];
    } else {  // 3C1, 3C3
      vc = b(4, 1) * Y[2] + b(4, 2) * Y[3] + b(4, 3) * Y[4] + b(4, 4) * Y[5] + b(4, 5) * Y[6];
      vt = (b(3, 5) * Z[4] + b(5, 5) * Z[6]) / 3.0;
      vls = (J == 1) ? b(5, 1) * W[3] + b(5, 2) * W[5] : b(5, 3) * W[3] + b(5, 4) * W[5];
    }
    vc *= PIOMM;
    vt *= PIOMM;
    vls *= PIOMM;
    const double tj11 = 2.0 * (J - 1.0) / (2.0 * J + 1.0);
    const double tj22 = 2.0 * (J + 2.0) / (2.0 * J + 1.0);
    const double tj12 = 6.0 * std::sqrt(J * (J + 1.0)) / (2.0 * J + 1.0);
    v11 = vc + (J - 1.0) * vls - tj11 * vt + ((L == 0) ? vspi : vspis) - tj11 * vtpi;
    v22 = vc - (J + 2.0) * vls - tj22 * vt + vspis - tj22 * vtpi;
    v12 = tj12 * (vt + vtpi);
  }

  *vpot11 = v11;
  *vpot12 = v12;
  *vpot22 = v22;
}

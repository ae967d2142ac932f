// Generates wavefunction/phaseshift_tables.cpp: the compiled-in phase-shift
// tables of the proton-K+, proton-pi+ and neutron-neutron wave functions.
//
//   make_phaseshift_tables [output.cpp]     (standard output without an argument)
//
// Every channel is a closed form in q (MeV/c, k = q/hbarc in fm^-1) with the
// threshold behaviour delta ~ q^(2l+1) and delta(0) = 0. Its four parameters
// are fitted (GSL hybrid root finder) so that the channel passes exactly
// through the two reference rows (delta and d delta/dq at two momenta) that
// the wave functions are checked against. The derivative table is the exact
// q-derivative of the phase, carried through the closed form by forward-mode
// differentiation (value and derivative propagated together), so the two
// tables are consistent to rounding. The program checks the fit, delta(0) = 0
// and the smoothness of every table before it writes anything.
//
// Shapes:
//  - S waves (pK+ S11, ppi+ S31, nn 1S0): the effective-range expansion
//    k cot(delta) = -1/a + r k^2/2 + ..., resummed as the Pade approximant
//    k cot(delta) = (c0 + c1 k^2 + c2 k^4)/(1 + c3 k^(2m)), which keeps
//    k cot(delta) finite and of one sign over the tables (no jump of delta).
//    m = 1 for pi N and nn; m = 2 for K+ N, where m = 1 bends k cot(delta)
//    within 20 MeV/c of threshold, a slope of delta that no interaction
//    inside 1 fm can give (Wigner's causality bound; the short-range
//    correction inside EPSILON would turn negative). a = -1/c0 and
//    r = 2 (c1 - c0 c3 [m = 1]) are printed into the tables' header.
//  - Non-resonant P waves (pK+ P11, P13; ppi+ P31): the scattering-volume
//    form of a separable interaction with a Yamaguchi-type form factor,
//    tan(delta) = k^3 (b0 + b1 k^2 + b2 k^4)/(1 + b3 k^2)^n, with n = 3 for
//    K+N and n = 2 for pi N (the exponents for which the fit has a solution
//    without a zero or pole of tan(delta) below the end of the table).
//  - ppi+ P33: the Delta(1232) as a relativistic Breit-Wigner with an
//    energy-dependent width, tan(delta_R) = M Gamma(q)/(M^2 - W^2), with
//    Gamma(q) = Gamma_R (q/q_R)^3 (1 + (k_R R)^2)/(1 + (k R)^2) (P-wave
//    barrier factor of range R, q_R the momentum at W = M), plus a
//    non-resonant background b k^3/(1 + (k R)^2)^2 with the same range.
//    delta_R is taken continuously through pi/2 (atan2).
//  - nn 3P0, 3P1, 3P2: the P-wave effective-range expansion
//    k^3 cot(delta) = c0 + c1 k^2 + c2 k^4 + c3 k^6 in the variable
//    s = q_c (u - u^3 + u^4/2), u = q/q_c, q_c = 100 MeV/c, which follows q at
//    threshold and whose first and second derivatives vanish at q_c; from q_c
//    on the phase is held constant, so the frozen continuation joins with
//    zero slope and zero curvature.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_multiroots.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const double kHbarc = 197.3269602;  // MeV fm
const double kMproton = 938.271, kMpi = 139.58;

// A value with its derivative with respect to q.
struct Dual {
  double v, d;
};
Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
Dual operator-(Dual a, Dual b) { return {a.v - b.v, a.d - b.d}; }
Dual operator*(Dual a, Dual b) { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
Dual operator/(Dual a, Dual b) { return {a.v / b.v, (a.d * b.v - a.v * b.d) / (b.v * b.v)}; }
Dual operator+(Dual a, double c) { return {a.v + c, a.d}; }
Dual operator+(double c, Dual a) { return {a.v + c, a.d}; }
Dual operator-(double c, Dual a) { return {c - a.v, -a.d}; }
Dual operator*(double c, Dual a) { return {c * a.v, c * a.d}; }
Dual operator/(Dual a, double c) { return {a.v / c, a.d / c}; }
Dual operator/(double c, Dual a) { return {c / a.v, -c * a.d / (a.v * a.v)}; }
Dual atan(Dual a) { return {std::atan(a.v), a.d / (1.0 + a.v * a.v)}; }
Dual atan2(Dual y, Dual x) {
  return {std::atan2(y.v, x.v), (x.v * y.d - y.v * x.d) / (x.v * x.v + y.v * y.v)};
}
Dual sqrt(Dual a) {
  const double s = std::sqrt(a.v);
  return {s, s > 0.0 ? 0.5 * a.d / s : 0.0};
}
Dual pow(Dual a, int n) {
  if (n == 0) return {1.0, 0.0};
  const double p = std::pow(a.v, n - 1);
  return {p * a.v, n * p * a.d};
}

enum class Shape { SWave, PWave, Delta, FrozenPWave };

struct Reference {
  double q, delta, ddeltadq;  // MeV/c, rad, rad/(MeV/c)
};

struct Channel {
  const char *name;
  Shape shape;
  int n;                // Pade order m of Shape::SWave, form-factor exponent of Shape::PWave
  double p[4];          // parameters; the starting point of the fit
  Reference rows[2];    // the reference rows the channel passes through
};

const double kQfreeze = 100.0;  // MeV/c, nn P waves constant from here on

// delta(q) with its q-derivative.
Dual Phase(const Channel &c, double qv) {
  const double *p = c.p;
  const Dual q{qv, 1.0};
  switch (c.shape) {
    case Shape::SWave: {
      const Dual k = q / kHbarc, k2 = k * k;
      const Dual K = (p[0] + p[1] * k2 + p[2] * k2 * k2) / (1.0 + p[3] * pow(k2, c.n));
      return atan(k / K);
    }
    case Shape::PWave: {
      const Dual k = q / kHbarc, k2 = k * k;
      return atan(pow(k, 3) * (p[0] + p[1] * k2 + p[2] * k2 * k2) / pow(1.0 + p[3] * k2, c.n));
    }
    case Shape::Delta: {
      const double M = p[0], gammaR = p[1], R = p[2], b = p[3];
      const double sM = M * M, sum2 = std::pow(kMproton + kMpi, 2), dif2 = std::pow(kMproton - kMpi, 2);
      const double qR = std::sqrt((sM - sum2) * (sM - dif2) / (4.0 * sM)), kR = qR / kHbarc;
      const Dual k = q / kHbarc;
      const Dual W = sqrt(q * q + kMproton * kMproton) + sqrt(q * q + kMpi * kMpi);
      const Dual barrier = (1.0 + kR * kR * R * R) / (1.0 + R * R * (k * k));
      const Dual gamma = gammaR / (qR * qR * qR) * pow(q, 3) * barrier;
      const Dual resonant = atan2(M * gamma, sM - W * W);
      return resonant + b * pow(k, 3) / pow(1.0 + R * R * (k * k), 2);
    }
    case Shape::FrozenPWave: {
      // Held at its value at q_c from there on (where ds/dq = 0).
      const Dual qs = qv < kQfreeze ? q : Dual{kQfreeze, 0.0};
      const Dual u = qs / kQfreeze;
      const Dual s = kQfreeze * (u - pow(u, 3) + 0.5 * pow(u, 4));
      const Dual k = s / kHbarc, k2 = k * k;
      return atan(pow(k, 3) / (p[0] + p[1] * k2 + p[2] * k2 * k2 + p[3] * k2 * k2 * k2));
    }
  }
  return {0.0, 0.0};
}

// Relative misfit of the channel at its two reference rows.
int Residuals(const gsl_vector *x, void *params, gsl_vector *f) {
  Channel &c = *static_cast<Channel *>(params);
  for (int i = 0; i < 4; ++i) c.p[i] = gsl_vector_get(x, i);
  for (int r = 0; r < 2; ++r) {
    const Dual d = Phase(c, c.rows[r].q);
    gsl_vector_set(f, 2 * r, d.v / c.rows[r].delta - 1.0);
    gsl_vector_set(f, 2 * r + 1, d.d / c.rows[r].ddeltadq - 1.0);
  }
  return GSL_SUCCESS;
}

void Fit(Channel &c) {
  gsl_multiroot_function F{Residuals, 4, &c};
  gsl_vector *x = gsl_vector_alloc(4);
  for (int i = 0; i < 4; ++i) gsl_vector_set(x, i, c.p[i]);
  gsl_multiroot_fsolver *s = gsl_multiroot_fsolver_alloc(gsl_multiroot_fsolver_hybrids, 4);
  gsl_multiroot_fsolver_set(s, &F, x);
  int status = GSL_CONTINUE;
  for (int it = 0; it < 1000 && status == GSL_CONTINUE; ++it) {
    if (gsl_multiroot_fsolver_iterate(s)) break;
    status = gsl_multiroot_test_residual(s->f, 1e-14);
  }
  for (int i = 0; i < 4; ++i) c.p[i] = gsl_vector_get(s->x, i);
  gsl_multiroot_fsolver_free(s);
  gsl_vector_free(x);
  for (const Reference &r : c.rows) {
    const Dual d = Phase(c, r.q);
    if (std::fabs(d.v / r.delta - 1.0) > 1e-10 || std::fabs(d.d / r.ddeltadq - 1.0) > 1e-10) {
      std::fprintf(stderr, "%s: fit misses the row at q = %g: %.9g / %.9g\n", c.name, r.q, d.v, d.d);
      std::exit(1);
    }
  }
}

struct Pair {
  const char *name;      // C++ identifier stem
  int npoints;           // points per channel, q = n/2 MeV/c
  std::vector<Channel> channels;
};

// Table values, with the checks the wave functions rely on.
void Tabulate(const Pair &pair, std::vector<double> &delta, std::vector<double> &ddeltadq) {
  for (const Channel &c : pair.channels) {
    double dmax = 0.0;
    for (int n = 0; n < pair.npoints; ++n) {
      const Dual d = Phase(c, 0.5 * n);
      delta.push_back(d.v);
      ddeltadq.push_back(d.d);
      dmax = std::fmax(dmax, std::fabs(d.d));
    }
    const double *dl = &delta[delta.size() - pair.npoints];
    const double *dd = &ddeltadq[ddeltadq.size() - pair.npoints];
    if (dl[0] != 0.0) {
      std::fprintf(stderr, "%s %s: delta(0) = %g\n", pair.name, c.name, dl[0]);
      std::exit(1);
    }
    // No jump: neighbouring entries differ by what the derivative allows.
    for (int n = 1; n + 1 < pair.npoints; ++n) {
      const double numerical = dl[n + 1] - dl[n - 1];  // over 1 MeV/c
      if (std::fabs(numerical - dd[n]) > 0.01 * std::fabs(dd[n]) + 1e-3 * dmax) {
        std::fprintf(stderr, "%s %s: derivative %g against %g at q = %g\n", pair.name, c.name, dd[n], numerical,
                     0.5 * n);
        std::exit(1);
      }
    }
  }
}

void WriteArray(FILE *out, const char *name, const std::vector<double> &v) {
  std::fprintf(out, "const double %s[%zu] = {\n", name, v.size());
  for (std::size_t i = 0; i < v.size(); ++i)
    std::fprintf(out, "%s%.17g,%s", i % 4 == 0 ? "    " : " ", v[i], i % 4 == 3 || i + 1 == v.size() ? "\n" : "");
  std::fprintf(out, "};\n");
}

void Describe(FILE *out, const Channel &c) {
  const double *p = c.p;
  std::fprintf(out, "//   %-5s ", c.name);
  switch (c.shape) {
    case Shape::SWave:
      std::fprintf(out, "k cot(delta) = (%.10g + %.10g k^2 + %.10g k^4)/(1 + %.10g k^%d); a = %.6g fm, r = %.6g fm\n",
                   p[0], p[1], p[2], p[3], 2 * c.n, -1.0 / p[0], 2.0 * (p[1] - (c.n == 1 ? p[0] * p[3] : 0.0)));
      break;
    case Shape::PWave:
      std::fprintf(out, "tan(delta) = k^3 (%.10g + %.10g k^2 + %.10g k^4)/(1 + %.10g k^2)^%d\n", p[0], p[1], p[2],
                   p[3], c.n);
      break;
    case Shape::Delta:
      std::fprintf(out, "M = %.10g MeV, Gamma_R = %.10g MeV, R = %.10g fm, background b = %.10g fm^3\n", p[0],
                   p[1], p[2], p[3]);
      break;
    case Shape::FrozenPWave:
      std::fprintf(out, "k^3 cot(delta) = %.10g + %.10g k^2 + %.10g k^4 + %.10g k^6 (k = s/hbarc)\n", p[0], p[1],
                   p[2], p[3]);
      break;
  }
}

}  // namespace

int main(int argc, char **argv) {
  gsl_set_error_handler_off();
  // Starting points near the solutions; the fit makes them exact.
  std::vector<Pair> pairs = {
      {"PKplus",
       701,
       {{"S11", Shape::SWave, 2, {-3.82, 0.351, -627.0, 191.0}, {{50, -0.0708759, -0.00162901}, {200, -0.300156, -0.00141539}}},
        {"P11", Shape::PWave, 3, {-0.149, -0.837, -3.85, 2.87}, {{50, -0.0021411, -0.000121982}, {200, -0.0856114, -0.000878855}}},
        {"P13", Shape::PWave, 3, {0.0804, 0.108, 2.20, 2.85}, {{50, 0.000946544, 4.90663e-05}, {200, 0.043069, 0.000496762}}}}},
      {"PPiplus",
       781,
       {{"S31", Shape::SWave, 1, {-9.50, -18.8, 1.06, 4.82}, {{50, -0.030977, -0.00077303}, {200, -0.214173, -0.00148456}}},
        {"P31", Shape::PWave, 2, {-0.0916, -1.78, -1.09, 6.00}, {{50, -0.00178296, -0.000109087}, {200, -0.0622221, -0.000697835}}},
        {"P33", Shape::Delta, 0, {1229.5, 111.5, 1.17, -0.204}, {{50, 0.0089147, 0.000545402}, {200, 1.01294, 0.020556}}}}},
      {"NN",
       401,
       {{"1S0", Shape::SWave, 1, {0.156, 0.570, 4.91, 1.92}, {{10, 0.312858, 0.0290024}, {50, 0.928847, 0.00474858}}},
        {"3P0", Shape::FrozenPWave, 0, {0.435, -1.93, 44.7, -339.0}, {{10, 0.000299374, 8.98121e-05}, {50, 0.0306934, 0.00151352}}},
        {"3P1", Shape::FrozenPWave, 0, {-0.727, 3.32, -95.4, 740.0}, {{10, -0.000179104, -5.37311e-05}, {50, -0.0176518, -0.000843524}}},
        {"3P2", Shape::FrozenPWave, 0, {3.48, -13.1, -96.4, 719.0}, {{10, 3.74404e-05, 1.12321e-05}, {50, 0.00482179, 0.000293275}}}}}};

  FILE *out = argc > 1 ? std::fopen(argv[1], "w") : stdout;
  if (out == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::fprintf(out,
               "// Phase-shift tables of the proton-K+, proton-pi+ and neutron-neutron wave\n"
               "// functions: delta (rad) and d delta/dq (rad per MeV/c) at q = n/2 MeV/c,\n"
               "// channel after channel. Generated by tools/phaseshifts/make_phaseshift_tables.cpp\n"
               "// (do not edit; rebuild with that program). Closed forms, k = q/hbarc in fm^-1:\n");
  for (Pair &pair : pairs) {
    std::fprintf(out, "// %s:\n", pair.name);
    for (Channel &c : pair.channels) {
      Fit(c);
      Describe(out, c);
    }
  }
  std::fprintf(out, "\n#include \"wavefunction/phaseshift_tables.h\"\n\nnamespace femtokit {\nnamespace phaseshifts {\n");
  for (const Pair &pair : pairs) {
    std::vector<double> delta, ddeltadq;
    Tabulate(pair, delta, ddeltadq);
    std::fprintf(out, "\n");
    WriteArray(out, (std::string("k") + pair.name + "Delta").c_str(), delta);
    WriteArray(out, (std::string("k") + pair.name + "Ddeltadq").c_str(), ddeltadq);
  }
  std::fprintf(out, "\n}  // namespace phaseshifts\n}  // namespace femtokit\n");
  if (out != stdout) std::fclose(out);
  return 0;
}

// The kernel of free identical bosons and its check against the closed form:
// for a Gaussian source of radius R, C(q) = 1 + exp(-4 q^2 R^2/(hbar c)^2).
//
//   free_bosons [R in fm]
//
// Exits with status 1 when the transform misses the closed form by more than
// 1e-3 anywhere.
#include <femtokit.h>

#include <cmath>
#include <cstdio>

int main(int argc, char **argv) {
  double R = 4.0;
  if (argc > 1 && !(femtokit::ParseNumber(argv[1], R) && R > 0)) {
    std::fprintf(stderr, "free_bosons: R must be a positive number of fm, got '%s'\n", argv[1]);
    return 2;
  }
  const double hbarc = femtokit::constants::HBARC;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);

  // The kernel mesh is built in memory from a parameter map written to a file.
  const char *kpars = "free_bosons_kparameters.dat";
  if (std::FILE *fp = std::fopen(kpars, "w")) {
    std::fputs("int NQMAX 40\nint NRMAX 120\nint KLMAX 2\ndouble DELQ 2.5\ndouble DELR 0.25\nbool IDENTICAL 1\n", fp);
    std::fclose(fp);
  }
  CKernel kernel(kpars);
  kernel.Calc_PureHBT();  // K_l(q, r) = (-1)^(l/2) j_l(2qr/hbar c)

  CCHArray source(2, 120, 0.25, true, true, true);  // 30 fm
  CCHArray cf(2, 40, 2.5, true, true, true);        // 100 MeV/c
  CSourceCalc_GX1D model;
  model.SetSPars(1.0, R, 0.0, 10.0, 5.0);
  model.CalcS(&source);
  S2CF::s2c(&source, &kernel, &cf);

  double worst = 0.0;
  std::printf("# free identical bosons, R = %g fm\n# q(MeV/c)  C(q)  1+exp(-4q^2R^2/hbarc^2)\n", R);
  for (int iq = 0; iq < cf.GetNRADIAL(); iq++) {
    const double q = (iq + 0.5) * cf.GetRADSTEP();
    const double exact = 1.0 + std::exp(-4.0 * q * q * R * R / (hbarc * hbarc));
    const double c = 1.0 + cf.GetElement(0, 0, 0, iq);
    worst = std::fmax(worst, std::fabs(c - exact));
    std::printf("%8.2f  %.6f  %.6f\n", q, c, exact);
  }
  std::printf("# largest difference %.2e\n", worst);
  return worst < 1e-3 ? 0 : 1;
}

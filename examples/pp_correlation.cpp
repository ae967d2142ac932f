// The proton-proton correlation function of a Gaussian source.
//
//   pp_correlation <kernel dir> <parameter dir> [R in fm] [output dir]
//
// <kernel dir> is a pp kernel directory (scripts/run.sh writes one to
// kdata/pp); <parameter dir> holds kparameters.dat, aparsCH_source.dat and
// aparsCH_CF.dat (data/pp). Prints q (MeV/c) and C(q) for a Gaussian source of
// radius R (default 3 fm, lambda = 1) and, with an output dir, writes C(q) - 1
// there as an array directory.
#include <femtokit.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pp_correlation <kernel dir> <parameter dir> [R] [output dir]\n");
    return 2;
  }
  const std::string kdir = argv[1], pars = argv[2];
  double R = 3.0;
  if (argc > 3 && !(femtokit::ParseNumber(argv[3], R) && R > 0)) {
    std::fprintf(stderr, "pp_correlation: R must be a positive number of fm, got '%s'\n", argv[3]);
    return 2;
  }
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);  // only warnings and errors

  CKernel kernel(pars + "/kparameters.dat");
  kernel.Read(kdir);
  CCHArray source(pars + "/aparsCH_source.dat");  // S(r) on the r mesh (fm)
  CCHArray cf(pars + "/aparsCH_CF.dat");          // C(q) - 1 on the q mesh (MeV/c)

  CSourceCalc_GX1D model;
  model.SetSPars(1.0, R, 0.0, 10.0, 5.0);  // lambdaG, R, lambdaX, X, a
  model.CalcS(&source);
  S2CF::s2c(&source, &kernel, &cf);

  std::printf("# pp correlation function, Gaussian source R = %g fm\n# q(MeV/c)  C(q)\n", R);
  for (int iq = 0; iq < cf.GetNRADIAL(); iq++)
    std::printf("%8.2f  %.6f\n", (iq + 0.5) * cf.GetRADSTEP(), 1.0 + cf.GetElement(0, 0, 0, iq));
  if (argc > 4) cf.WriteAllA(argv[4]);
  return 0;
}

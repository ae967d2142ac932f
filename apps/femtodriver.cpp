// The main job: a synthetic proton-proton correlation function.
//
// Builds a one-dimensional Gaussian source, transforms it into C(q) - 1 through
// the precomputed proton-proton kernel, adds Gaussian noise whose size falls with
// the q bin, prints the chi-square between the noisy and the exact correlation
// function and writes the noisy function and its errors as array directories.
// All paths are relative to the working directory.
#include "arrays/charray.h"
#include "fit/cfcalc.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "math/random.h"
#include "source/sourcecalc_gx1d.h"

#include <cstdio>
#include <ctime>
#include <string>

int main() {
  const std::string parsdir = "../parameters/pp";
  CRandom randy(-static_cast<int>(std::time(nullptr)));

  CCHArray source((parsdir + "/aparsCH_source.dat").c_str());
  CCHArray CFexp((parsdir + "/aparsCH_CF.dat").c_str());
  CCHArray CFtheory((parsdir + "/aparsCH_CF.dat").c_str());
  CCHArray CFerror((parsdir + "/aparsCH_CF.dat").c_str());

  CKernel kernel((parsdir + "/kparameters.dat").c_str());
  kernel.Read("../../kdata/pp");

  CSourceCalc_GX1D sourcecalc;
  sourcecalc.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
  sourcecalc.CalcS(&source);
  sourcecalc.NormCheck(&source);

  S2CF::s2c(&source, &kernel, &CFtheory);

  // Noise on the independent (lx <= 1) components; error 0.05/(ir+1).
  const int dlx = CFerror.GetXSYM() ? 2 : 1, dly = CFerror.GetYSYM() ? 2 : 1, dlz = CFerror.GetZSYM() ? 2 : 1;
  const int lmax = CFerror.GetLMAX();
  for (int ir = 0; ir < CFerror.GetNRADIAL(); ++ir) {
    for (int lx = 0; lx <= 1; lx += dlx) {
      for (int ly = 0; ly <= lmax - lx; ly += dly) {
        const double error = 0.05 / (ir + 1);
        for (int lz = 0; lz <= lmax - lx - ly; lz += dlz) {
          const double g = randy.gauss();
          CFexp.SetElement(lx, ly, lz, ir, CFtheory.GetElement(lx, ly, lz, ir) + g * error);
          CFerror.SetElement(lx, ly, lz, ir, error);
        }
      }
    }
  }

  const double chisquare = CFCalc::GetChiSquared(0, 0, 0, &CFexp, &CFerror, &CFtheory);
  std::printf("chisquare=%g\n", chisquare);

  CFexp.WriteAX("GX1d/pp");
  CFerror.WriteAX("GX1d/pp_errors");
  return 0;
}

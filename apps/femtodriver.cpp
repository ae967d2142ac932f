// The main job: a synthetic proton-proton correlation function.
//
// Builds a one-dimensional Gaussian source, transforms it into C(q) - 1 through
// the precomputed proton-proton kernel, adds Gaussian noise whose size falls with
// the q bin, prints the chi-square between the noisy and the exact correlation
// function and writes the noisy function and its errors as array directories.
// All paths are relative to the working directory.
//
// The noise is seeded with minus the current time; when the environment
// variable FEMTOKIT_SEED holds an integer, with that integer instead, so a run
// can be repeated exactly.
#include "arrays/charray.h"
#include "apps/mainjob_noise.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "fit/cfcalc.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "math/random.h"
#include "source/sourcecalc_gx1d.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

int NoiseSeed() {
  const char *text = std::getenv("FEMTOKIT_SEED");
  if (text == nullptr) return -static_cast<int>(std::time(nullptr));
  long long seed = 0;
  if (!femtokit::ParseInteger(text, seed) || seed < INT_MIN || seed > INT_MAX)
    femtokit::Fatal("FEMTOKIT_SEED=%s is not an integer\n", text);
  femtokit::Print("noise seeded from FEMTOKIT_SEED=%lld\n", seed);
  return static_cast<int>(seed);
}

}  // namespace

int main() {
  const std::string parsdir = "../parameters/pp";
  CRandom randy(NoiseSeed());

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

  AddMainJobNoise(CFtheory, CFexp, CFerror, randy);

  const double chisquare = CFCalc::GetChiSquared(0, 0, 0, &CFexp, &CFerror, &CFtheory);
  femtokit::Print("chisquare=%g\n", chisquare);

  CFexp.WriteAX("GX1d/pp");
  CFerror.WriteAX("GX1d/pp_errors");
  return 0;
}

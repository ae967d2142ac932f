#include "source/sourcecalc.h"
#include "config/constants.h"

#include "arrays/array3d.h"
#include "arrays/charray.h"

#include "config/output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
using femtokit::constants::FOURPI;
}

void CSourceCalc::WarnLostNorm(double lost, double reach, double needed) {
  femtokit::Warn("WARNING: %.3g%% of the source's norm lies beyond the r mesh, which reaches %g fm; "
                 "a mesh reaching %.3g fm would hold all but 0.1%% of it\n",
                 100.0 * lost, reach, needed);
}

void CSourceCalc::WarnLostFraction(double lost, const std::string &what, const std::string &mesh) {
  if (!(lost > kLostNormTolerance)) return;
  femtokit::Warn("WARNING: %.3g%% of the %s lies outside the mesh, which %s\n", 100.0 * lost, what.c_str(),
                 mesh.c_str());
}

void CSourceCalc::CalcS(CCHArray *) { femtokit::Print("i'm a dummyCalcS(CCHArray)\n"); }

void CSourceCalc::CalcS(int, int, int, CCHArray *) { femtokit::Print("i'm a dummy CalcS(int,int,int,CCHArray *)\n"); }

void CSourceCalc::ReadSPars(const char *filename) { parameter::ReadParsFromFile(spars, filename); }

void CSourceCalc::NormCheck(CCHArray *A) {
  const double delr = A->GetRADSTEP();
  double norm = 0.0;
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) {
    const double r = (ir + 0.5) * delr;
    norm += FOURPI * delr * r * r * A->GetElement(0, 0, 0, ir);
  }
  femtokit::Print("normalization check = %g\n", norm);
}

void CSourceCalc::NormCheck(C3DArray *A) {
  double volume = A->GetDELX() * A->GetDELY() * A->GetDELZ();
  if (A->GetXSYM()) volume *= 2.0;
  if (A->GetYSYM()) volume *= 2.0;
  if (A->GetZSYM()) volume *= 2.0;
  const int nsx = A->GetXSYM() ? 1 : 2, nsy = A->GetYSYM() ? 1 : 2, nsz = A->GetZSYM() ? 1 : 2;
  double norm = 0.0;
  for (int ix = 0; ix < A->GetNXMAX(); ++ix)
    for (int iy = 0; iy < A->GetNYMAX(); ++iy)
      for (int iz = 0; iz < A->GetNZMAX(); ++iz)
        for (int isz = 0; isz < nsz; ++isz)
          for (int isy = 0; isy < nsy; ++isy)
            for (int isx = 0; isx < nsx; ++isx) norm += volume * A->GetElement(isx, ix, isy, iy, isz, iz);
  femtokit::Print("Norm Check of 3DArray = %g\n", norm);
}

void CSourceCalc::CalcEffGaussPars(CCHArray *A) {
  double Rx, Ry, Rz, Xoff, Yoff, Zoff;
  CalcEffGaussPars(A, Rx, Ry, Rz, Xoff, Yoff, Zoff);
}

void CSourceCalc::CalcEffGaussPars(CCHArray *A, double &Rx, double &Ry, double &Rz, double &Xoff,
                                   double &Yoff, double &Zoff) {
  const double delr = A->GetRADSTEP();
  double N0 = 0.0, S0 = 0.0, S1x = 0.0, S1y = 0.0, S1z = 0.0, S2x = 0.0, S2y = 0.0, S2z = 0.0;
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) {
    const double r = (ir + 0.5) * delr, r2 = r * r, r3 = r2 * r, r4 = r2 * r2;
    const double a000 = A->GetElement(0, 0, 0, ir);
    N0 += r2 * a000;
    S0 += r4 * a000;
    if (!A->GetXSYM()) S1x += r3 * A->GetElement(1, 0, 0, ir);
    if (!A->GetYSYM()) S1y += r3 * A->GetElement(0, 1, 0, ir);
    if (!A->GetZSYM()) S1z += r3 * A->GetElement(0, 0, 1, ir);
    S2x += r4 * A->GetElement(2, 0, 0, ir);
    S2y += r4 * A->GetElement(0, 2, 0, ir);
    S2z += r4 * A->GetElement(0, 0, 2, ir);
  }
  // Moments of a source whose integral is not 1 (lambda < 1) are normalised
  // by that integral, so the means and variances are those of the pair distribution.
  N0 *= FOURPI * delr;
  if (N0 != 0.0) {
    S0 /= N0;
    S1x /= N0;
    S1y /= N0;
    S1z /= N0;
    S2x /= N0;
    S2y /= N0;
    S2z /= N0;
  }
  const double Rinv = std::sqrt(2.0 * M_PI * delr * S0 / 3.0);
  Xoff = (FOURPI * delr / 3.0) * S1x;
  Yoff = (FOURPI * delr / 3.0) * S1y;
  Zoff = (FOURPI * delr / 3.0) * S1z;
  Rx = std::sqrt(std::fabs(0.5 * (FOURPI * delr * (S0 / 3.0 + 2.0 * S2x / 15.0) - Xoff * Xoff)));
  Ry = std::sqrt(std::fabs(0.5 * (FOURPI * delr * (S0 / 3.0 + 2.0 * S2y / 15.0) - Yoff * Yoff)));
  Rz = std::sqrt(std::fabs(0.5 * (FOURPI * delr * (S0 / 3.0 + 2.0 * S2z / 15.0) - Zoff * Zoff)));
  femtokit::Print("__________  EFFECTIVE GAUSSIAN PARAMETERS ____________\n");
  femtokit::Print("Rinv=%g\n", Rinv);
  femtokit::Print("Gassian distribution with same offsets and 1-part. radii\n");
  femtokit::Print("offset_xyz=(%g,%g,%g), R_xyz=(%g,%g,%g)\n", Xoff, Yoff, Zoff, Rx, Ry, Rz);
  femtokit::Print("______________________________________________________\n");
}

std::function<void(std::size_t)> CSourceCalc::PairProgress(std::size_t na, std::size_t nb, bool identical) const {
  if (!progress_ || na == 0) return nullptr;
  const std::function<void(double)> &report = progress_;
  // Pairs done after row i: i(i+1)/2 of na(na-1)/2 among identical rows, (i+1) nb of na nb otherwise.
  const double n = static_cast<double>(na), total = identical ? 0.5 * n * (n - 1.0) : n * static_cast<double>(nb);
  return [&report, identical, nb, total](std::size_t i) {
    const double rows = static_cast<double>(i) + 1.0;
    const double done = identical ? 0.5 * rows * (rows - 1.0) : rows * static_cast<double>(nb);
    report(total > 0.0 ? std::min(1.0, done / total) : 1.0);
  };
}

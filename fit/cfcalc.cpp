#include "fit/cfcalc.h"

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"

#include "config/fatal.h"

#include <string>

namespace CFCalc {

double GetChiSquared(int lx, int ly, int lz, CCHArray *CFexp, CCHArray *CFerror, CCHArray *CFtheory) {
  const int n = CFexp->GetNRADIAL();
  if (CFerror->GetNRADIAL() != n || CFtheory->GetNRADIAL() != n)
    femtokit::Fatal("CFCalc::GetChiSquared: NRADIAL differs between the arrays: measured %d, errors %d, theory %d\n", n,
                    CFerror->GetNRADIAL(), CFtheory->GetNRADIAL());
  double sum = 0.0;
  for (int ir = 0; ir < n; ++ir) {
    const double e = CFerror->GetElement(lx, ly, lz, ir);
    if (e < 1e-8)
      femtokit::Warn("CFCalc::GetChiSquared : \nSuspiciously small or negative error = %g, l=(%d,%d,%d)\n", e, lx, ly,
                     lz);
    const double d = CFexp->GetElement(lx, ly, lz, ir) - CFtheory->GetElement(lx, ly, lz, ir);
    sum += d * d / (e * e);
  }
  femtokit::Print("chi^2/Ndof=%g\n", sum / n);
  return sum;
}

double GetChiSquared(C3DArray *CFexp, C3DArray *CFerror, C3DArray *CFtheory) {
  for (C3DArray *other : {CFerror, CFtheory}) {
    const std::string mismatch = ArrayCalc::ParameterMismatch(CFexp, other);
    if (!mismatch.empty())
      femtokit::Fatal("%sCFCalc::GetChiSquared: the measured and %s arrays differ\n", mismatch.c_str(),
                      other == CFerror ? "error" : "theory");
  }
  const int nsx = CFexp->GetXSYM() ? 1 : 2, nsy = CFexp->GetYSYM() ? 1 : 2, nsz = CFexp->GetZSYM() ? 1 : 2;
  const int nx = CFexp->GetNXMAX(), ny = CFexp->GetNYMAX(), nz = CFexp->GetNZMAX();
  double sum = 0.0;
  long points = 0;
  for (int isx = 0; isx < nsx; ++isx)
    for (int ix = 0; ix < nx; ++ix)
      for (int isy = 0; isy < nsy; ++isy)
        for (int iy = 0; iy < ny; ++iy)
          for (int isz = 0; isz < nsz; ++isz)
            for (int iz = 0; iz < nz; ++iz) {
              const double measured = CFexp->GetElement(isx, ix, isy, iy, isz, iz);
              const double model = CFtheory->GetElement(isx, ix, isy, iy, isz, iz);
              const double e = CFerror->GetElement(isx, ix, isy, iy, isz, iz);
              if (e == 0.0) continue;  // a cell not measured
              if (e < 1e-8)
                femtokit::Warn(
                    "CFCalc::GetChiSquared : \nSuspiciously small or negative error = %g, isx=%d,ix=%d, "
                    "isy=%d,iy=%d, isz=%d,iz=%d\n",
                    e, isx, ix, isy, iy, isz, iz);
              sum += (measured - model) * (measured - model) / (e * e);
              ++points;
            }
  femtokit::Print("chi^2/Ndof=%g\n", sum / points);
  return sum;
}

}  // namespace CFCalc

#include "fit/cfcalc.h"

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"

#include <cstdio>
#include <cstdlib>

namespace CFCalc {

double GetChiSquared(int lx, int ly, int lz, CCHArray *CFexp, CCHArray *CFerror, CCHArray *CFtheory) {
  const int n = CFexp->GetNRADIAL();
  double sum = 0.0;
  for (int ir = 0; ir < n; ++ir) {
    const double e = CFerror->GetElement(lx, ly, lz, ir);
    if (e < 1e-8)
      std::printf("CFCalc::GetChiSquared : \nSuspiciously small or negative error = %g, l=(%d,%d,%d)\n", e, lx, ly,
                  lz);
    const double d = CFexp->GetElement(lx, ly, lz, ir) - CFtheory->GetElement(lx, ly, lz, ir);
    sum += d * d / (e * e);
  }
  std::printf("chi^2/Ndof=%g\n", sum / n);
  return sum;
}

double GetChiSquared(C3DArray *CFexp, C3DArray *CFerror, C3DArray *CFtheory) {
  if (!ArrayCalc::CompareArrayParameters(CFexp, CFerror)) std::exit(1);
  if (!ArrayCalc::CompareArrayParameters(CFexp, CFtheory)) std::exit(1);
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
              if (e < 1e-8)
                std::printf(
                    "CFCalc::GetChiSquared : \nSuspiciously small or negative error = %g, isx=%d,ix=%d, "
                    "isy=%d,iy=%d, isz=%d,iz=%d\n",
                    e, isx, ix, isy, iy, isz, iz);
              sum += (measured - model) * (measured - model) / (e * e);
              ++points;
            }
  std::printf("chi^2/Ndof=%g\n", sum / points);
  return sum;
}

}  // namespace CFCalc

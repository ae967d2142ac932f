#include "fit/fitsummary.h"

#include <gsl/gsl_cdf.h>

#include <cmath>
#include <limits>

#include "arrays/array3d.h"
#include "arrays/charray.h"

namespace femtokit {

double ChiSquareProbability(double chi2, int ndof) {
  if (ndof < 1 || !std::isfinite(chi2) || chi2 < 0.0) return std::numeric_limits<double>::quiet_NaN();
  return gsl_cdf_chisq_Q(chi2, ndof);
}

FitSummary SummariseFit(CCF2SFit &fit) {
  FitSummary s;
  const int nfree = fit.nfreepars;
  std::vector<double> x(nfree);
  for (int i = 0; i < nfree; i++) x[i] = fit.par[i].value;
  s.chi2 = fit.GetChiSquared(x);
  for (int i = 0; i < fit.npars; i++) {
    s.names.push_back(fit.par[i].name);
    s.values.push_back(fit.par[i].value);
    if (i < nfree) s.free.push_back(fit.par[i].name);
  }
  s.status = fit.status;
  if (fit.status.errorsvalid) {
    s.covariance.assign(nfree, std::vector<double>(nfree));
    s.correlation.assign(nfree, std::vector<double>(nfree));
    for (int i = 0; i < nfree; i++) {
      s.errors.push_back(std::sqrt(std::max(fit.ErrorMatrix[i][i], 0.0)));
      for (int j = 0; j < nfree; j++) s.covariance[i][j] = fit.ErrorMatrix[i][j];
    }
    for (int i = 0; i < nfree; i++)
      for (int j = 0; j < nfree; j++) {
        const double d = s.errors[i] * s.errors[j];
        s.correlation[i][j] = d > 0.0 ? s.covariance[i][j] / d : (i == j ? 1.0 : 0.0);
      }
  }
  for (int i = 0; i < nfree && i < static_cast<int>(fit.status.atlower.size()); i++)
    if (fit.status.atlower[i] || (i < static_cast<int>(fit.status.atupper.size()) && fit.status.atupper[i]))
      s.atbound.push_back(fit.par[i].name);
  s.ndof = fit.GetNDOF();
  s.pvalue = ChiSquareProbability(s.chi2, s.ndof);

  if (fit.ndim == 1) {
    const CCHArray *model = fit.ComparedModel();
    s.qdim = 1;
    for (int i = 0; i < fit.cexpCH->GetNRADIAL(); i++) {
      if (std::isinf(fit.cerrorCH->GetElement(fit.lx, fit.ly, fit.lz, i))) continue;
      s.q.push_back((i + 0.5) * fit.cexpCH->GetRADSTEP());
      s.curve.push_back(1.0 + model->GetElement(fit.lx, fit.ly, fit.lz, i));
    }
  } else {
    const C3DArray &e = *fit.cerror3D, &t = *fit.ctheory3D;
    s.qdim = 3;
    const int nsx = e.GetXSYM() ? 1 : 2, nsy = e.GetYSYM() ? 1 : 2, nsz = e.GetZSYM() ? 1 : 2;
    for (int isx = 0; isx < nsx; ++isx)
      for (int ix = 0; ix < e.GetNXMAX(); ++ix)
        for (int isy = 0; isy < nsy; ++isy)
          for (int iy = 0; iy < e.GetNYMAX(); ++iy)
            for (int isz = 0; isz < nsz; ++isz)
              for (int iz = 0; iz < e.GetNZMAX(); ++iz) {
                if (e.GetElement(isx, ix, isy, iy, isz, iz) == 0.0) continue;
                s.q.push_back((isx ? -1.0 : 1.0) * (ix + 0.5) * e.GetDELX());
                s.q.push_back((isy ? -1.0 : 1.0) * (iy + 0.5) * e.GetDELY());
                s.q.push_back((isz ? -1.0 : 1.0) * (iz + 0.5) * e.GetDELZ());
                s.curve.push_back(1.0 + t.GetElement(isx, ix, isy, iy, isz, iz));
              }
  }
  s.table = fit.FitTable();
  return s;
}

}  // namespace femtokit

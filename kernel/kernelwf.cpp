#include "kernel/kernelwf.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <utility>

#include "config/constants.h"
#include "config/fatal.h"
#include "config/fileio.h"
#include "config/internal/directorywriter.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "wavefunction/wavefunction.h"

namespace {

using femtokit::FilePtr;

std::string QFileName(const std::string &dir, double q) { return femtokit::Format("%s/q%07.2f.tmp", dir.c_str(), q); }

}  // namespace

CKernelWF::CKernelWF(const char *kparsfilename) { ParsInit(kparsfilename); }

CKernelWF::~CKernelWF() = default;

void CKernelWF::ParsInit(const char *kparsfilename) {
  parameterMap pars;
  parameter::ReadParsFromFile(pars, kparsfilename);
  const int nqmax = parameter::getI(pars, "NQMAX", 25);
  const int nrmax = parameter::getI(pars, "NRMAX", 120);
  const int nctheta = parameter::getI(pars, "NCTHETA", 120);
  const double delq = parameter::getD(pars, "DELQ", 4.0);
  const double delr = parameter::getD(pars, "DELR", 0.5);
  const bool identical = parameter::getB(pars, "IDENTICAL", false);
  // Checked before any field changes or anything is allocated; the size in
  // 64 bits, so that no count can wrap.
  if (nqmax < 1 || nrmax < 1 || nctheta < 1 || !(std::isfinite(delq) && delq > 0.0) ||
      !(std::isfinite(delr) && delr > 0.0))
    femtokit::FatalFile(kparsfilename,
                        "CKernelWF: %s sets NQMAX=%d, NRMAX=%d, NCTHETA=%d, DELQ=%g, DELR=%g; the counts must be at "
                        "least 1 and the widths finite and positive\n",
                        kparsfilename, nqmax, nrmax, nctheta, delq, delr);
  femtokit::CheckTableSize(
      kparsfilename,
      femtokit::Format("3D kernel parameter file %s: NQMAX=%d, NRMAX=%d, NCTHETA=%d", kparsfilename, nqmax, nrmax,
                       nctheta),
      femtokit::SaturatingProduct(static_cast<std::uint64_t>(nqmax) * static_cast<std::uint64_t>(nrmax),
                                  static_cast<std::uint64_t>(nctheta) + 1),
      sizeof(double));
  // The q mesh must lie where wave functions are defined (bin centres within QMIN ... QMAX).
  const double qfirst = 0.5 * delq, qlast = (nqmax - 0.5) * delq;
  if (qfirst < CWaveFunction::QMIN || qlast > CWaveFunction::QMAX)
    femtokit::FatalFile(kparsfilename,
                        "3D kernel parameter file %s: NQMAX=%d, DELQ=%g give q from %g to %g MeV/c, outside the "
                        "supported range %g ... %g MeV/c\n",
                        kparsfilename, nqmax, delq, qfirst, qlast, CWaveFunction::QMIN, CWaveFunction::QMAX);
  NQMAX = nqmax;
  NRMAX = nrmax;
  NCTHETA = nctheta;
  DELQ = delq;
  DELR = delr;
  IDENTICAL = identical;
  DELCTHETA = 2.0 / NCTHETA;
  if (IDENTICAL) DELCTHETA *= 0.5;
  femtokit::Print("reading from %s\n", kparsfilename);
  femtokit::Print("  _________ PARAMETERS FOR KERNELWF ________\n");
  femtokit::Print("delq set to %g\n", DELQ);
  femtokit::Print("nqmax set to %d\n", NQMAX);
  femtokit::Print("delr set to %g\n", DELR);
  femtokit::Print("nrmax set to %d\n", NRMAX);
  femtokit::Print("nctheta set to %d\n", NCTHETA);
  femtokit::Print("IDENTICAL set to %d\n", int(IDENTICAL));
  femtokit::Print("__________________________________________\n");
  kernel.assign(static_cast<std::size_t>(NQMAX) * NRMAX * (static_cast<std::size_t>(NCTHETA) + 1), 1.0);
}

// The q rows are shared out among threads and each value is computed alone,
// so the table does not depend on the thread count.
void CKernelWF::Calc(CWaveFunction *wf) {
  wf->TabulateTo(NRMAX * DELR);
  const CWaveFunction *cwf = wf;
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < NQMAX; iq++) {
    errors.Run([&] {
      const double q = (iq + 0.5) * DELQ;
      for (int ir = 0; ir < NRMAX; ir++) {
        const double r = (ir + 0.5) * DELR;
        for (int ic = 0; ic <= NCTHETA; ic++) {
          const double c = 1.0 - ic * DELCTHETA;
          const double p = cwf->GetPsiSquared(q, r, c);
          if (p < 0.0 && r > 1.0) femtokit::Fatal("screwy, psi^2=%g, r=%g, q=%g, ctheta=%g\n", p, r, q, c);
          Value(iq, ir, ic) = p - 1.0;
        }
      }
    });
  }
  errors.Rethrow();
}

void CKernelWF::Calc_PureHBT() {
  const double hbarc = femtokit::constants::HBARC;
#pragma omp parallel for schedule(static)
  for (int iq = 0; iq < NQMAX; iq++) {
    const double q = (iq + 0.5) * DELQ;
    for (int ir = 0; ir < NRMAX; ir++) {
      const double x = 2.0 * q * (ir + 0.5) * DELR / hbarc;
      for (int ic = 0; ic <= NCTHETA; ic++) Value(iq, ir, ic) = std::cos(x * (1.0 - ic * DELCTHETA));
    }
  }
}

void CKernelWF::Write(const char *kdatadirname) const {
  const std::string dir(kdatadirname);
  femtokit::DirectoryWriter writer(dir, [](const std::string &name) {
    return femtokit::MatchesNumbered(name, "q#.tmp") || femtokit::MatchesNumbered(name, "q#.tmp.partial");
  });
  for (int iq = 0; iq < NQMAX; iq++) {
    const std::string filename = QFileName(dir, (iq + 0.5) * DELQ);
    FilePtr fp = writer.Open(filename);
    std::fprintf(fp.get(), "%d %d\n", NRMAX, NCTHETA);
    for (int ir = 0; ir < NRMAX; ir++) {
      for (int ic = 0; ic <= NCTHETA; ic++) std::fprintf(fp.get(), "%17.10e ", Value(iq, ir, ic));
      std::fputc('\n', fp.get());
    }
    writer.Close(std::move(fp), filename);
  }
  writer.Commit();
}

void CKernelWF::Read(const char *kdatadirname) {
  const std::string dir(kdatadirname);
  // Read into a copy, so that a failure part way (under the throwing policy)
  // leaves the kernel as it was.
  std::vector<double> table(kernel.size());
  for (int iq = 0; iq < NQMAX; iq++) {
    const std::string filename = QFileName(dir, (iq + 0.5) * DELQ);
    femtokit::NumberReader in(filename);
    if (!in.IsOpen()) femtokit::FatalFile(filename, "CKernelWF: cannot open kernel data file %s\n", filename.c_str());
    long long nrmaxread = 0, ncthetaread = 0;
    if (!in.Next(nrmaxread, 0, INT_MAX, "NRMAX") || !in.Next(ncthetaread, 0, INT_MAX, "NCTHETA"))
      femtokit::FatalFile(filename, "CKernelWF: kernel data file %s does not start with the line \"NRMAX NCTHETA\"\n",
                          filename.c_str());
    if (nrmaxread != NRMAX || ncthetaread != NCTHETA)
      femtokit::FatalFile(filename,
                          "CKernelWF : trying to read file with wrong dimensions\n"
                          "nrmaxread=%lld, nrmax=%d, ncthetaread=%lld, nctheta=%d\nin kernel data file %s\n",
                          nrmaxread, NRMAX, ncthetaread, NCTHETA, filename.c_str());
    for (int ir = 0; ir < NRMAX; ir++) {
      for (int ic = 0; ic <= NCTHETA; ic++) {
        double value;
        if (!in.Next(value, "value"))
          femtokit::FatalFile(filename, "CKernelWF: kernel data file %s ends after %lld of its %lld values\n",
                              filename.c_str(), static_cast<long long>(ir) * (NCTHETA + 1LL) + ic,
                              static_cast<long long>(NRMAX) * (NCTHETA + 1LL));
        table[Index(iq, ir, ic)] = value;
      }
    }
    in.WarnIfTrailing();
  }
  kernel.swap(table);
}

double CKernelWF::GetPsiSquared(int iq, int ir, int ictheta) const {
  if (iq < 0 || iq >= NQMAX || ir < 0 || ir >= NRMAX || ictheta < 0 || ictheta > NCTHETA) return 1.0;
  return 1.0 + Value(iq, ir, ictheta);
}

void CKernelWF::AxisWeights(double x, double del, int n, int &ia, double &w) {
  const double lower = std::floor(x / del - 0.5);
  if (!(lower < n)) {  // both neighbours beyond the mesh (or NaN)
    ia = n;
    w = 0.0;
    return;
  }
  ia = lower < 0.0 ? 0 : static_cast<int>(lower);
  w = (x - (ia + 0.5) * del) / del;
}

double CKernelWF::GetPsiSquared(int iq, int ir, double ctheta) const {
  if (iq < 0 || iq >= NQMAX || ir < 0 || ir >= NRMAX) return 1.0;
  int ic;
  double w;
  CosWeights(ctheta, ic, w);
  return PsiAt(iq, ir, ic, w);
}

double CKernelWF::GetPsiSquared(int iq, double r, double ctheta) const {
  if (iq < 0 || iq >= NQMAX) return 1.0;
  int ira, ic;
  double wr, wc;
  AxisWeights(r, DELR, NRMAX, ira, wr);
  CosWeights(ctheta, ic, wc);
  return (1.0 - wr) * PsiAt(iq, ira, ic, wc) + wr * PsiAt(iq, ira + 1, ic, wc);
}

double CKernelWF::GetPsiSquared(double q, double r, double ctheta) const {
  int iqa, ira, ic;
  double wq, wr, wc;
  AxisWeights(q, DELQ, NQMAX, iqa, wq);
  AxisWeights(r, DELR, NRMAX, ira, wr);
  CosWeights(ctheta, ic, wc);
  return Interpolate(iqa, wq, ira, wr, ic, wc);
}

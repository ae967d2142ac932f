#include "kernel/kernel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "config/fatal.h"
#include "config/fileio.h"
#include "config/internal/directorywriter.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "wavefunction/wavefunction.h"

namespace {

using femtokit::FilePtr;

std::string KernelFileName(const std::string &dir, int ell, double q) {
  const char *format = "%s/ell%d_q%07.2f.tmp";
  const int length = std::snprintf(nullptr, 0, format, dir.c_str(), ell, q);
  std::string name(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&name[0], name.size(), format, dir.c_str(), ell, q);
  name.resize(static_cast<std::size_t>(length));
  return name;
}

// Neighbouring bins and weights along one axis of GetValue(ell, q, r).
void AxisWeights(double x, double del, int nmax, int &ilow, int &ihigh, double &wlow, double &whigh) {
  const int i = int(std::floor(x / del));
  const double centre = (i + 0.5) * del;
  if (x < centre) {
    ilow = (i - 1 > 0) ? i - 1 : 0;
    ihigh = i;
    whigh = std::fabs(del - std::fabs(centre - x)) / del;
    if (whigh > 1.0) whigh = 1.0;
    wlow = 1.0 - whigh;
  } else {
    ilow = i;
    ihigh = (i + 1 >= nmax) ? i : i + 1;
    wlow = std::fabs(del - std::fabs(x - centre)) / del;
    if (wlow > 1.0) wlow = 1.0;
    whigh = 1.0 - wlow;
  }
}

}  // namespace

CKernel::CKernel(const char *kparsfilename) { ParsInit(kparsfilename); }

CKernel::~CKernel() = default;

void CKernel::ParsInit(const char *kparsfilename) {
  parameterMap pars;
  parameter::ReadParsFromFile(pars, kparsfilename);
  const int nqmax = parameter::getI(pars, "NQMAX", 25);
  const int nrmax = parameter::getI(pars, "NRMAX", 120);
  const int lmax = parameter::getI(pars, "KLMAX", 24);
  const double delq = parameter::getD(pars, "DELQ", 4.0);
  const double delr = parameter::getD(pars, "DELR", 0.5);
  const bool identical = parameter::getB(pars, "IDENTICAL", false);
  // The mesh sizes the tables: checked before any field changes or anything is allocated.
  const char *countkeys[3] = {"NQMAX", "NRMAX", "KLMAX"};
  const int counts[3] = {nqmax, nrmax, lmax};
  for (int i = 0; i < 3; i++)
    if (counts[i] < 0)
      femtokit::FatalFile(kparsfilename, "kernel parameter file %s: %s=%d must not be negative\n", kparsfilename,
                          countkeys[i], counts[i]);
  if (!(std::isfinite(delq) && delq > 0.0) || !(std::isfinite(delr) && delr > 0.0))
    femtokit::FatalFile(kparsfilename, "kernel parameter file %s: DELQ=%g and DELR=%g must be finite and positive\n",
                        kparsfilename, delq, delr);
  const std::uint64_t slots = static_cast<std::uint64_t>(lmax) + 1;
  femtokit::CheckTableSize(kparsfilename, femtokit::Format("kernel parameter file %s: KLMAX=%d", kparsfilename, lmax),
                           slots, sizeof(std::vector<double>) + sizeof(double));
  const std::uint64_t present = static_cast<std::uint64_t>(lmax) / (identical ? 2 : 1) + 1;
  femtokit::CheckTableSize(
      kparsfilename,
      femtokit::Format("kernel parameter file %s: KLMAX=%d, NQMAX=%d, NRMAX=%d", kparsfilename, lmax, nqmax, nrmax),
      // An empty q or r mesh does not make the other free: loops still run over it.
      femtokit::SaturatingProduct(present, static_cast<std::uint64_t>(std::max(nqmax, 1)) *
                                               static_cast<std::uint64_t>(std::max(nrmax, 1))),
      sizeof(double));
  // The q mesh must lie where wave functions are defined (bin centres within QMIN ... QMAX).
  if (nqmax > 0) {
    const double qfirst = 0.5 * delq, qlast = (nqmax - 0.5) * delq;
    if (qfirst < CWaveFunction::QMIN || qlast > CWaveFunction::QMAX)
      femtokit::FatalFile(kparsfilename,
                          "kernel parameter file %s: NQMAX=%d, DELQ=%g give q from %g to %g MeV/c, outside the "
                          "supported range %g ... %g MeV/c\n",
                          kparsfilename, nqmax, delq, qfirst, qlast, CWaveFunction::QMIN, CWaveFunction::QMAX);
  }
  NQMAX = nqmax;
  NRMAX = nrmax;
  LMAX = lmax;
  DELQ = delq;
  DELR = delr;
  IDENTICAL = identical;
  femtokit::Print("reading from %s\n", kparsfilename);
  femtokit::Print("  _________ PARAMETERS FOR KERNEL ________\n");
  femtokit::Print("delq set to %g\n", DELQ);
  femtokit::Print("nqmax set to %d\n", NQMAX);
  femtokit::Print("delr set to %g\n", DELR);
  femtokit::Print("nrmax set to %d\n", NRMAX);
  femtokit::Print("KLMAX=%d\n", LMAX);
  femtokit::Print("IDENTICAL set to %d\n", int(IDENTICAL));
  femtokit::Print("__________________________________________\n");
  Allocate();
}

void CKernel::Allocate() {
  if (NQMAX < 0) NQMAX = 0;
  if (NRMAX < 0) NRMAX = 0;
  const std::size_t slots = LMAX >= 0 ? static_cast<std::size_t>(LMAX) + 1 : 0;
  const std::size_t size = static_cast<std::size_t>(NQMAX) * NRMAX;
  std::vector<std::vector<double>> tables(slots);
  for (int ell = 0; ell <= LMAX; ell += LStep()) tables[ell].assign(size, 0.0);
  kernel.swap(tables);
  P.assign(slots > 2 ? slots : 2, 0.0);
}

void CKernel::Read(const char *kdatadirname) {
  const std::string dir(kdatadirname);
  for (int ell = 0; ell <= LMAX; ell += LStep()) {
    for (int iq = 0; iq < NQMAX; iq++) {
      const std::string filename = KernelFileName(dir, ell, (iq + 0.5) * DELQ);
      const char *name = filename.c_str();
      femtokit::NumberReader in(filename);
      if (!in.IsOpen()) femtokit::FatalFile(filename, "Cannot open kernel data file %s\n", name);
      long long nrmaxread;
      double delrread;
      if (!in.Next(nrmaxread, 0, INT_MAX, "NRMAX") || !in.Next(delrread, "DELR"))
        femtokit::FatalFile(filename, "Kernel data file %s has no header line\n", name);
      // Files written before widths were kept in full hold DELR to 6 digits.
      double delr6 = 0.0;
      const bool sixdigits = femtokit::ParseNumber(femtokit::Format("%g", DELR), delr6) && delr6 == delrread;
      if (NRMAX > nrmaxread || !(std::fabs(DELR - delrread) <= 1.0E-8 || sixdigits))
        femtokit::FatalFile(filename,
                            "Inconsistent values for nrmax or delr in data files!\n"
                            "%s: NRMAX=%lld, DELR=%.10g; the kernel needs NRMAX>=%d, DELR=%.10g\n",
                            name, nrmaxread, delrread, NRMAX, DELR);
      std::vector<double> &table = kernel[ell];
      const std::size_t offset = static_cast<std::size_t>(iq) * NRMAX;
      // Values beyond NRMAX are part of the format (a kernel may use the first
      // NRMAX of a longer mesh); text after the announced ones is warned about.
      for (long long ir = 0; ir < nrmaxread; ir++) {
        double value;
        if (!in.Next(value, "value"))
          femtokit::FatalFile(filename, "Kernel data file %s holds %lld values, fewer than its header announces (%lld)\n",
                              name, ir, nrmaxread);
        if (ir < NRMAX) table[offset + static_cast<std::size_t>(ir)] = value;
      }
      in.WarnIfTrailing();
    }
  }
}

void CKernel::Write(const std::string &dir, const std::map<std::string, std::string> &extrafiles) {
  femtokit::DirectoryWriter writer(dir, [](const std::string &name) {
    return femtokit::MatchesNumbered(name, "ell#_q#.tmp") || femtokit::MatchesNumbered(name, "ell#_q#.tmp.partial");
  });
  for (int ell = 0; ell <= LMAX; ell += LStep()) {
    for (int iq = 0; iq < NQMAX; iq++) {
      const double q = (iq + 0.5) * DELQ;
      const std::string filename = KernelFileName(dir, ell, q);
      femtokit::Print("For q=%g, Will write to %s\n", q, filename.c_str());
      FilePtr fp = writer.Open(filename);
      fprintf(fp.get(), "%d %s\n", NRMAX, parameter::ExactText(DELR).c_str());
      for (int ir = 0; ir < NRMAX; ir++) fprintf(fp.get(), "%17.10e\n", GetValue(ell, iq, ir));
      writer.Close(std::move(fp), filename);
    }
  }
  for (const auto &file : extrafiles) writer.WriteText(dir + "/" + file.first, file.second);
  writer.Commit();
}

void CKernel::Print() {
  femtokit::Print("ellmax=%d, nqmax=%d, nrmax=%d\n", LMAX, NQMAX, NRMAX);
  for (int iq = 0; iq < NQMAX; iq++) {
    femtokit::Print("______________ q=%g MeV/c____________________\n", (iq + 0.5) * DELQ);
    for (int ir = 0; ir < NRMAX; ir++) {
      femtokit::Print("%6.2f ", (ir + 0.5) * DELR);
      for (int ell = 0; ell <= LMAX; ell += LStep()) femtokit::Print("%10.3e ", GetValue(ell, iq, ir));
      femtokit::Print("\n");
    }
  }
}

double CKernel::GetValue(int ell, double q, double r) const {
  if (IDENTICAL && ell % 2 != 0) return 0.0;
  // NaN counts as outside; far below zero every neighbour is off the mesh.
  if (!(q <= DELQ * NQMAX) || !(r <= DELR * NRMAX)) return 0.0;
  if (q < -DELQ || r < -DELR || !(DELQ > 0.0) || !(DELR > 0.0)) return 0.0;

  int iqlow, iqhigh, irlow, irhigh;
  double wqlow, wqhigh, wrlow, wrhigh;
  AxisWeights(q, DELQ, NQMAX, iqlow, iqhigh, wqlow, wqhigh);
  AxisWeights(r, DELR, NRMAX, irlow, irhigh, wrlow, wrhigh);
  if (std::fabs(wrlow + wrhigh - 1.0) > 1.0E-8 || std::fabs(wqlow + wqhigh - 1.0) > 1.0E-6)
    femtokit::Fatal("weights do not add up in GetValue(ell,q,r)\n");

  const double answer = wqlow * wrlow * GetValue(ell, iqlow, irlow) + wqlow * wrhigh * GetValue(ell, iqlow, irhigh) +
                        wqhigh * wrlow * GetValue(ell, iqhigh, irlow) +
                        wqhigh * wrhigh * GetValue(ell, iqhigh, irhigh);
  if (ell == 0 && r > 1.0 && answer < -1.0)
    femtokit::Warn("answer below -1, =%g, q=%g, r=%g, iq=%d, ir=%d, nrmax=%d\n", answer, q, r,
                   int(std::floor(q / DELQ)), int(std::floor(r / DELR)), NRMAX);
  return answer;
}

void CKernel::CalcP(double ctheta) {
  P[0] = 1.0;
  P[1] = ctheta;
  for (int ell = 1; ell < LMAX; ell++)
    P[ell + 1] = ((2 * ell + 1) * ctheta * P[ell] - ell * P[ell - 1]) / (ell + 1);
}

double CKernel::CalcPsiSquared(int iq, int ir, double /*ctheta*/) {
  if (iq < 0 || ir < 0 || ir >= NRMAX || iq >= NQMAX || LMAX < 0) return 1.0;
  double psisquared = 1.0;
  int nsmall = 0;
  for (int ell = 0; ell <= LMAX && nsmall <= 4; ell += LStep()) {
    const double term = (2 * ell + 1) * Entry(ell, iq, ir) * P[ell];
    psisquared += term;
    if (std::fabs(term) < 1.0E-4)
      nsmall++;
    else
      nsmall = 0;
  }
  return psisquared;
}

double CKernel::CalcPsiSquared(int iq, double r, double ctheta) {
  const double lower = std::floor(r / DELR - 0.5);
  // Both neighbours at or beyond the last bin give 1; also keeps the cast in range.
  if (!(lower < NRMAX)) return 1.0;
  const int ira = lower < 0.0 ? 0 : int(lower);
  const int irb = ira + 1;
  const double ra = (ira + 0.5) * DELR, rb = (irb + 0.5) * DELR;
  return ((rb - r) * CalcPsiSquared(iq, ira, ctheta) + (r - ra) * CalcPsiSquared(iq, irb, ctheta)) / DELR;
}

double CKernel::GetPsiSquared(int iq, int ir, double ctheta) {
  if (ir >= NRMAX || iq >= NQMAX) return 1.0;
  CalcP(ctheta);
  return CalcPsiSquared(iq, ir, ctheta);
}

double CKernel::GetPsiSquared(int iq, double r, double ctheta) {
  if (iq >= NQMAX) return 1.0;
  CalcP(ctheta);
  return CalcPsiSquared(iq, r, ctheta);
}

double CKernel::GetPsiSquared(double q, double r, double ctheta) {
  if (NQMAX < 1) return 1.0;
  CalcP(ctheta);
  // A single q bin stands for every q.
  if (NQMAX == 1) return CalcPsiSquared(0, r, ctheta);
  const double lower = std::floor(q / DELQ - 0.5);
  int iqa;
  if (!(lower >= 0.0))
    iqa = 0;
  else if (lower >= NQMAX - 1)
    iqa = NQMAX - 2;
  else
    iqa = int(lower);
  const int iqb = iqa + 1;
  const double qa = (iqa + 0.5) * DELQ, qb = (iqb + 0.5) * DELQ;
  return ((qb - q) * CalcPsiSquared(iqa, r, ctheta) + (q - qa) * CalcPsiSquared(iqb, r, ctheta)) / DELQ;
}

#include "fit/s2cf.h"
#include "config/constants.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "kernel/kernel.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace S2CF {

namespace {

using femtokit::constants::FOURPI;

// The checks common to both forms; returns whether the meshes match.
bool CheckArrays(CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const int Lk = kernel->GetLMAX();
  if (Lk > CF->GetLMAX() || Lk > sourceCH->GetLMAX())
    femtokit::Fatal("FATAL: Kernel LMAX=%d larger than either S LMAX=%d or CF LMAX=%d\n", Lk,
                    sourceCH->GetLMAX(), CF->GetLMAX());
  if (Lk != CF->GetLMAX()) {
    auto pars = [](const CCHArray *a) {
      return femtokit::Format("XSYM=%d, YSYM=%d, ZSYM=%d\nLMAX=%d, NRADIAL=%d, RADSTEP=%g\n", a->GetXSYM(),
                              a->GetYSYM(), a->GetZSYM(), a->GetLMAX(), a->GetNRADIAL(), a->GetRADSTEP());
    };
    femtokit::Warn("WARNING: Array parameters for kernel calculations don't match\n"
                   "___ CORRELATION FUNCTION PARAMETERS ___\n%s_____ SOURCE FUNCTION PARAMETERS _____\n%s"
                   "For kernel, LMAX=%d\n",
                   pars(CF).c_str(), pars(sourceCH).c_str(), Lk);
  }
  if (kernel->GetIDENTICAL() && !(CF->GetXSYM() && CF->GetYSYM() && CF->GetZSYM())) {
    femtokit::Fatal("FATAL: kernel has no odd L components, but CF wants them\n"
                    "Make sure CF array has XSYM=YSYM=ZSYM='true'\n");
  }
  // A kernel that ends before the source does sees none of the source beyond.
  const double kreach = kernel->GetNRMAX() * kernel->GetDELR();
  const double sreach = sourceCH->GetNRADIAL() * sourceCH->GetRADSTEP();
  if (kreach < sreach * (1.0 - 1e-12)) {
    const double delr = sourceCH->GetRADSTEP();
    double total = 0.0, beyond = 0.0;
    for (int ir = 0; ir < sourceCH->GetNRADIAL(); ++ir) {
      const double r = (ir + 0.5) * delr;
      const double n = r * r * sourceCH->GetElement(0, 0, 0, ir);
      total += n;
      if (r > kreach) beyond += n;
    }
    if (std::fabs(total) > 0.0 && std::fabs(beyond / total) > 1e-3)
      femtokit::Warn("WARNING: the kernel's r mesh reaches %g fm, the source's %g fm: %.3g%% of the source's norm "
                     "lies beyond the kernel and does not enter the correlation function\n",
                     kreach, sreach, 100.0 * beyond / total);
  }
  return std::fabs(sourceCH->GetRADSTEP() - kernel->GetDELR()) < 1e-5 &&
         std::fabs(CF->GetRADSTEP() - kernel->GetDELQ()) < 1e-5 &&
         sourceCH->GetNRADIAL() == kernel->GetNRMAX() && CF->GetNRADIAL() == kernel->GetNQMAX();
}

// Adds the radial integral of source component (lx,ly,lz) against K_L at bin iq,
// K interpolated at (q, r) (meshes that differ from the kernel's).
void Accumulate(int lx, int ly, int lz, int iq, CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const int L = lx + ly + lz;
  const double delr = sourceCH->GetRADSTEP();
  const double q = (iq + 0.5) * CF->GetRADSTEP();
  for (int ir = 0; ir < sourceCH->GetNRADIAL(); ++ir) {
    const double r = (ir + 0.5) * delr;
    const double w = FOURPI * r * r * delr;
    const double term = (w * kernel->GetValue(L, q, r)) * sourceCH->GetElement(lx, ly, lz, r);
    CF->IncrementElement(lx, ly, lz, iq, term);
  }
}

// Warns once when the source does not store a component the transform reads
// (it counts as 0).
bool SourceHas(int lx, int ly, int lz, const CCHArray *sourceCH) {
  if (sourceCH->ElementExists(lx, ly, lz, 0)) return true;
  femtokit::Warn("WARNING: the source does not store l=(%d,%d,%d) (LMAX=%d, XSYM=%d, YSYM=%d, ZSYM=%d); it counts as 0\n",
                 lx, ly, lz, sourceCH->GetLMAX(), sourceCH->GetXSYM(), sourceCH->GetYSYM(), sourceCH->GetZSYM());
  return false;
}

// Component (lx,ly,lz) of CF on the kernel's own meshes: CF(iq) = sum_ir K_L(iq, ir) ws(ir)
// with ws = 4 pi r^2 dr S(r), one pass over each kernel row. ws holds NRMAX values.
void Transform(int lx, int ly, int lz, CCHArray *sourceCH, CKernel *kernel, CCHArray *CF, double *ws) {
  const double *K = kernel->Table(lx + ly + lz);
  const int nq = kernel->GetNQMAX(), nr = kernel->GetNRMAX();
  // K_L = 0, an empty mesh or S_l = 0: CF_l stays 0.
  if (K == nullptr || nq == 0 || nr == 0 || !SourceHas(lx, ly, lz, sourceCH)) return;
  const double delr = sourceCH->GetRADSTEP();
  const double *S = sourceCH->Row(lx, ly, lz);
  double *C = CF->Row(lx, ly, lz);
  for (int ir = 0; ir < nr; ++ir) {
    const double r = (ir + 0.5) * delr;
    ws[ir] = FOURPI * r * r * delr * S[ir];
  }
  for (int iq = 0; iq < nq; ++iq) {
    const double *row = K + static_cast<std::size_t>(iq) * nr;
    // Four partial sums: independent multiply-adds instead of one dependent chain.
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int ir = 0;
    for (; ir + 4 <= nr; ir += 4) {
      s0 += row[ir] * ws[ir];
      s1 += row[ir + 1] * ws[ir + 1];
      s2 += row[ir + 2] * ws[ir + 2];
      s3 += row[ir + 3] * ws[ir + 3];
    }
    for (; ir < nr; ++ir) s0 += row[ir] * ws[ir];
    C[iq] = (s0 + s1) + (s2 + s3);
  }
}

// Scratch for the weighted source of one component, reused across calls.
double *WeightedSource(int n) {
  thread_local std::vector<double> ws;
  if (static_cast<int>(ws.size()) < n) ws.resize(n);
  return ws.data();
}

}  // namespace

void s2c(CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const bool match = CheckArrays(sourceCH, kernel, CF);
  const int Lk = kernel->GetLMAX();
  CF->ZeroArray();
  if (match) {
    double *ws = WeightedSource(kernel->GetNRMAX());
    CF->ForEachTriple(Lk, 1, [&](int lx, int ly, int lz) { Transform(lx, ly, lz, sourceCH, kernel, CF, ws); });
    return;
  }
  CF->ForEachTriple(Lk, 1, [&](int lx, int ly, int lz) {
    for (int iq = 0; iq < CF->GetNRADIAL(); ++iq) Accumulate(lx, ly, lz, iq, sourceCH, kernel, CF);
  });
}

void s2c(int lx, int ly, int lz, CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const bool match = CheckArrays(sourceCH, kernel, CF);
  CF->ZeroArray(lx, ly, lz);
  if (match) {
    Transform(lx, ly, lz, sourceCH, kernel, CF, WeightedSource(kernel->GetNRMAX()));
    return;
  }
  for (int iq = 0; iq < CF->GetNRADIAL(); ++iq) Accumulate(lx, ly, lz, iq, sourceCH, kernel, CF);
}

}  // namespace S2CF

#include "fit/s2cf.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "kernel/kernel.h"

#include <cmath>
#include <cstdio>

namespace S2CF {

namespace {

const double FOURPI = 12.566370614359172;

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

// Adds the radial integral of source component (lx,ly,lz) against K_L at bin iq.
void Accumulate(int lx, int ly, int lz, int iq, bool match, CCHArray *sourceCH, CKernel *kernel,
                CCHArray *CF) {
  const int L = lx + ly + lz;
  const double delr = sourceCH->GetRADSTEP();
  const double q = (iq + 0.5) * CF->GetRADSTEP();
  for (int ir = 0; ir < sourceCH->GetNRADIAL(); ++ir) {
    const double r = (ir + 0.5) * delr;
    const double w = FOURPI * r * r * delr;
    double term;
    if (match)
      term = (w * kernel->GetValue(L, iq, ir)) * sourceCH->GetElement(lx, ly, lz, ir);
    else
      term = (w * kernel->GetValue(L, q, r)) * sourceCH->GetElement(lx, ly, lz, r);
    CF->IncrementElement(lx, ly, lz, iq, term);
  }
}

}  // namespace

void s2c(CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const bool match = CheckArrays(sourceCH, kernel, CF);
  const int Lk = kernel->GetLMAX();
  CF->ZeroArray();
  const int dlx = CF->GetXSYM() ? 2 : 1, dly = CF->GetYSYM() ? 2 : 1, dlz = CF->GetZSYM() ? 2 : 1;
  for (int iq = 0; iq < CF->GetNRADIAL(); ++iq)
    for (int lx = 0; lx <= 1 && lx <= Lk; lx += dlx)
      for (int ly = 0; ly <= Lk - lx; ly += dly)
        for (int lz = 0; lz <= Lk - lx - ly; lz += dlz) Accumulate(lx, ly, lz, iq, match, sourceCH, kernel, CF);
}

void s2c(int lx, int ly, int lz, CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const bool match = CheckArrays(sourceCH, kernel, CF);
  CF->ZeroArray(lx, ly, lz);
  for (int iq = 0; iq < CF->GetNRADIAL(); ++iq) Accumulate(lx, ly, lz, iq, match, sourceCH, kernel, CF);
}

}  // namespace S2CF

#include "arrays/ylmarray.h"

#include "config/fatal.h"
#include "config/output.h"

CYlmArray::CYlmArray(int lmax, int nradial) : NRADIAL(nradial), LMAX(lmax) {
  if (LMAX < 0 || NRADIAL < 0)
    femtokit::Fatal("CYlmArray: cannot build an array with LMAX=%d, NRADIAL=%d\n", LMAX, NRADIAL);
  ylm.assign(static_cast<size_t>((LMAX + 1) * (LMAX + 2) / 2) * static_cast<size_t>(NRADIAL), 0.0);
}

size_t CYlmArray::Index(int L, int M, int ir) const {
  if (M < 0 || M > L || L > LMAX || ir < 0 || ir >= NRADIAL)
    femtokit::Fatal("CYlmArray: element (L=%d, M=%d, ir=%d) outside 0<=M<=L<=%d, 0<=ir<%d\n", L, M, ir, LMAX,
                    NRADIAL);
  return static_cast<size_t>(L * (L + 1) / 2 + M) * static_cast<size_t>(NRADIAL) + static_cast<size_t>(ir);
}

void CYlmArray::CheckIR(int ir, const char *operation) const {
  if (ir < 0 || ir >= NRADIAL)
    femtokit::Fatal("CYlmArray::%s: radial index %d outside 0..%d\n", operation, ir, NRADIAL - 1);
}

void CYlmArray::ZeroArray() {
  for (auto &v : ylm) v = 0.0;
}

void CYlmArray::ZeroArray(int ir) {
  CheckIR(ir, "ZeroArray");
  for (int L = 0; L <= LMAX; ++L)
    for (int M = 0; M <= L; ++M) ylm[Index(L, M, ir)] = 0.0;
}

void CYlmArray::ScaleArray(double factor) {
  for (auto &v : ylm) v *= factor;
}

void CYlmArray::ScaleArray(double factor, int ir) {
  CheckIR(ir, "ScaleArray");
  for (int L = 0; L <= LMAX; ++L)
    for (int M = 0; M <= L; ++M) ylm[Index(L, M, ir)] *= factor;
}

void CYlmArray::PrintArrayFixedIR(int ir) const {
  CheckIR(ir, "PrintArrayFixedIR");
  std::string text = "\n______________________________________\n L \\ M :";
  for (int M = 0; M <= LMAX; ++M) text += femtokit::Format("         %2d             ", M);
  text += "\n";
  for (int L = 0; L <= LMAX; ++L) {
    text += femtokit::Format(" %3d : ", L);
    for (int M = 0; M <= L; ++M) {
      const std::complex<double> v = ylm[Index(L, M, ir)];
      text += femtokit::Format("(%10.3e,%10.3e) ", v.real(), v.imag());
    }
    text += "\n";
  }
  text += "_________________________________________\n";
  femtokit::Print("%s", text.c_str());
}

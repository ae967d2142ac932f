#ifndef FEMTOKIT_KERNEL_KERNELWF_H
#define FEMTOKIT_KERNEL_KERNELWF_H

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

class CWaveFunction;

// The kernel K(q, r, cos theta) = |psi|^2 - 1 itself, tabulated on a
// bin-centred q mesh q_iq = (iq + 0.5)*DELQ (MeV/c), r mesh
// r_ir = (ir + 0.5)*DELR (fm) and the cos(theta) points
// c_ic = 1 - ic*DELCTHETA, ic = 0 ... NCTHETA (from 1 down to -1, or down to 0
// for identical particles, whose |psi|^2 is even in cos theta). It feeds the
// transform of a source on a 3D mesh, S2CF::s2c(C3DArray*, CKernelWF*, C3DArray*).
//
// Directory format: one file "q%07.2f.tmp" per q bin, a header line
// "NRMAX NCTHETA", then one line per r bin with the NCTHETA+1 values.
class CKernelWF {
 public:
  // Reads the parameter file (keys NQMAX, NRMAX, NCTHETA, DELQ, DELR,
  // IDENTICAL; fatal when missing) and allocates the table, every value 1.0.
  // Fatal, naming the file: NQMAX, NRMAX or NCTHETA below 1, a width that is
  // not finite and positive, q bin centres outside the wave functions' range
  // (CWaveFunction::QMIN ... QMAX), a table beyond the memory budget.
  explicit CKernelWF(const char *kparsfilename);
  explicit CKernelWF(const std::string &kparsfilename) : CKernelWF(kparsfilename.c_str()) {}
  ~CKernelWF();
  CKernelWF(const CKernelWF &) = delete;
  CKernelWF &operator=(const CKernelWF &) = delete;

  // Reads, checks and prints the parameters and reallocates the table (every
  // value 1.0). A refused file leaves the kernel as it was.
  void ParsInit(const char *kparsfilename);

  // Fills the table with wf->GetPsiSquared(q, r, c) - 1 at every mesh point,
  // q rows in parallel (the result does not depend on the thread count). The
  // wave function's tables are first extended to the kernel's reach. Fatal
  // ("screwy ...") where |psi|^2 < 0 beyond r = 1 fm.
  void Calc(CWaveFunction *wf);
  // Free identical bosons: |psi|^2 = 1 + cos(2 q r c/hbarc), q the momentum of
  // one particle in the pair frame, hbarc = 197.3269602 MeV fm.
  void Calc_PureHBT();

  // Replaces the directory (created when missing) in one step: the new set is
  // built beside the old one and swapped in, so that an error or a kill at any
  // instant leaves the old set or the new one, never a mix; q files of the old
  // set are not kept, other files are. Fatal, naming the file or directory,
  // when a write fails.
  void Write(const char *kdatadirname) const;
  void Write(const std::string &kdatadirname) const { Write(kdatadirname.c_str()); }
  // Reads every q file of the directory. Fatal, naming the file: a missing
  // file, a header other than "NRMAX NCTHETA" of this kernel (the message
  // gives the numbers read and expected), fewer values than the mesh needs,
  // a word that is not wholly a finite number (file, line and column). Text
  // after the last value is ignored with a warning.
  void Read(const char *kdatadirname);
  void Read(const std::string &kdatadirname) { Read(kdatadirname.c_str()); }

  int GetNQMAX() const { return NQMAX; }
  int GetNRMAX() const { return NRMAX; }
  int GetNCTHETA() const { return NCTHETA; }
  double GetDELQ() const { return DELQ; }
  double GetDELR() const { return DELR; }
  double GetDELCTHETA() const { return DELCTHETA; }
  bool GetIDENTICAL() const { return IDENTICAL; }

  // Table value K at (iq, ir, ic) (no range test; for writers of the table).
  double &Value(int iq, int ir, int ic) { return kernel[Index(iq, ir, ic)]; }
  double Value(int iq, int ir, int ic) const { return kernel[Index(iq, ir, ic)]; }

  // |psi|^2 = 1 + K at mesh point (iq, ir, ic); 1.0 off the mesh.
  double GetPsiSquared(int iq, int ir, int ictheta) const;
  // |psi|^2 at the bin centres iq, ir, linear in cos theta. ctheta is clamped
  // to [-1, 1] (rounding may give 1 + 2^-52); identical particles use |ctheta|.
  // 1.0 off the q or r mesh.
  double GetPsiSquared(int iq, int ir, double ctheta) const;
  // Also linear in r (fm) between bin centres (extrapolated below the first
  // centre; a neighbour at or beyond NRMAX counts as 1.0). 1.0 off the q mesh.
  double GetPsiSquared(int iq, double r, double ctheta) const;
  // Also linear in q (MeV/c), neighbours at or beyond NQMAX counting as 1.0.
  double GetPsiSquared(double q, double r, double ctheta) const;

  // Linear interpolation along one bin-centred axis of width del and n bins:
  // the lower neighbour ia (>= 0), the upper ia + 1 and the weight w of the
  // upper one, as GetPsiSquared uses them (w < 0 below the first centre).
  // Far beyond the mesh (or for a NaN x) ia = n, so every lookup gives 1.0.
  static void AxisWeights(double x, double del, int n, int &ia, double &w);
  // Weights of cos theta: the lower point ic in 0 ... NCTHETA-1 and the weight
  // w in [0, 1] of point ic + 1, after clamping (and |c| for identical particles).
  void CosWeights(double ctheta, int &ic, double &w) const {
    if (!(ctheta >= -1.0)) ctheta = -1.0;  // NaN as well
    if (ctheta > 1.0) ctheta = 1.0;
    if (IDENTICAL) ctheta = std::fabs(ctheta);
    const double x = (1.0 - ctheta) / DELCTHETA;
    ic = static_cast<int>(x);  // x >= 0: the floor
    if (ic > NCTHETA - 1) ic = NCTHETA - 1;
    w = x - ic;
    if (w > 1.0) w = 1.0;
  }
  // The trilinear form from precomputed weights (AxisWeights for q and r,
  // CosWeights for cos theta): what GetPsiSquared(q, r, c) returns.
  double Interpolate(int iqa, double wq, int ira, double wr, int ic, double wc) const {
    const double Ra = (1.0 - wr) * PsiAt(iqa, ira, ic, wc) + wr * PsiAt(iqa, ira + 1, ic, wc);
    const double Rb = (1.0 - wr) * PsiAt(iqa + 1, ira, ic, wc) + wr * PsiAt(iqa + 1, ira + 1, ic, wc);
    return (1.0 - wq) * Ra + wq * Rb;
  }

 private:
  bool IDENTICAL = false;
  int NCTHETA = 0;
  int NRMAX = 0;
  int NQMAX = 0;
  double DELR = 0.0;
  double DELQ = 0.0;
  double DELCTHETA = 0.0;
  // kernel[(iq*NRMAX + ir)*(NCTHETA+1) + ic]
  std::vector<double> kernel;

  std::size_t Index(int iq, int ir, int ic) const {
    return (static_cast<std::size_t>(iq) * NRMAX + ir) * (NCTHETA + 1) + ic;
  }
  // |psi|^2 at (iq, ir) for cos theta weights (ic, w); 1.0 when either bin is off the mesh.
  double PsiAt(int iq, int ir, int ic, double w) const {
    if (iq < 0 || iq >= NQMAX || ir < 0 || ir >= NRMAX) return 1.0;
    const double *k = &kernel[Index(iq, ir, ic)];
    return 1.0 + (1.0 - w) * k[0] + w * k[1];
  }
};

#endif

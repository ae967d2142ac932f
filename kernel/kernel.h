#ifndef FEMTOKIT_KERNEL_KERNEL_H
#define FEMTOKIT_KERNEL_KERNEL_H

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

class CWaveFunction;

// Legendre projections K_l(q, r) = 1/2 Int dx (|psi(q, r, x)|^2 - 1) P_l(x) of
// a two-particle kernel on a bin-centred mesh: q_iq = (iq + 0.5)*DELQ (MeV/c),
// r_ir = (ir + 0.5)*DELR (fm). For identical particles only even l have tables
// and every odd-l access yields 0. |psi|^2 = 1 + Sum_l (2l+1) K_l P_l(cos theta).
class CKernel {
 public:
  explicit CKernel(const char *kparsfilename);
  explicit CKernel(const std::string &kparsfilename) : CKernel(kparsfilename.c_str()) {}
  ~CKernel();
  CKernel(const CKernel &) = delete;
  CKernel &operator=(const CKernel &) = delete;

  // Reads NQMAX, NRMAX, KLMAX, DELQ, DELR, IDENTICAL and prints them, then
  // (re)allocates the tables, zero-filled. Fatal, naming the file, for a
  // negative count, a DELQ or DELR that is not finite and positive, or tables
  // beyond the memory budget (config/numberreader.h); the kernel is unchanged then.
  void ParsInit(const char *kparsfilename);
  void ParsInit(const std::string &kparsfilename) { ParsInit(kparsfilename.c_str()); }

  // Kernel data directory: one "ell%d_q%07.2f.tmp" file per present l and q bin:
  // a header "NRMAX DELR" and NRMAX or more values. Read is fatal, naming the
  // file, when one is missing, its header announces fewer than NRMAX values or
  // a DELR more than 1e-8 off, it holds fewer values than announced, or a word
  // is not a finite number (position in the message). Text after the
  // announced values is ignored with a warning.
  void Read(const char *kdatadirname);
  void Read(const std::string &kdatadirname) { Read(kdatadirname.c_str()); }
  // Write replaces the whole directory in one step (created when missing):
  // the new set is built beside the old one and swapped in, so that an error
  // or a kill at any instant leaves the old set or the new one, never a mix;
  // kernel files of the old set are not kept, other files are. `extrafiles`
  // (file name -> text) are written into the same step, such as the mesh's
  // parameter file. Fatal, naming the file or directory, when a write fails.
  void Write(const std::string &kdatadirname, const std::map<std::string, std::string> &extrafiles);
  void Write(const char *kdatadirname) { Write(std::string(kdatadirname), {}); }
  void Write(const std::string &kdatadirname) { Write(kdatadirname, {}); }
  void Print();

  int GetLMAX() const { return LMAX; }
  int GetNQMAX() const { return NQMAX; }
  int GetNRMAX() const { return NRMAX; }
  double GetDELQ() const { return DELQ; }
  double GetDELR() const { return DELR; }
  bool GetIDENTICAL() const { return IDENTICAL; }

  // Table value at bin centre (iq, ir); 0.0 outside the mesh or for a missing l.
  double GetValue(int ell, int iq, int ir) const {
    if (iq < 0 || iq >= NQMAX || ir < 0 || ir >= NRMAX || !HasTable(ell)) return 0.0;
    return kernel[ell][static_cast<std::size_t>(iq) * NRMAX + ir];
  }
  // Bilinear interpolation of K_ell at (q, r).
  double GetValue(int ell, double q, double r) const;

  // The table of K_ell itself, for loops that read whole rows, bindings and
  // bulk copies: NQMAX*NRMAX contiguous values, row iq at [iq*NRMAX]; null for
  // an l without a table (odd l of identical particles, l outside 0 ... LMAX),
  // where every value is 0. Reallocated only by ParsInit.
  double *Table(int ell) { return HasTable(ell) ? kernel[ell].data() : nullptr; }
  const double *Table(int ell) const { return HasTable(ell) ? kernel[ell].data() : nullptr; }

  // |psi|^2 rebuilt from the projections. Each overwrites the Legendre scratch table.
  double GetPsiSquared(int iq, int ir, double ctheta);
  double GetPsiSquared(int iq, double r, double ctheta);
  double GetPsiSquared(double q, double r, double ctheta);

  // Fills P with P_0(ctheta) ... P_LMAX(ctheta).
  void CalcP(double ctheta);
  // Legendre sums from the current P table (the caller ran CalcP for ctheta).
  double CalcPsiSquared(int iq, int ir, double ctheta);
  double CalcPsiSquared(int iq, double r, double ctheta);

  // Reports the progress of Calc: q rows done so far and the number of rows.
  using ProgressFunction = std::function<void(int done, int total)>;

  // Fill the tables from a wave function, from free identical-particle waves
  // (spherical Bessel functions), or from classical Coulomb trajectories.
  void Calc(CWaveFunction *wf) { CalcWithProgress(wf, nullptr); }
  // Calc that calls `progress` (when given) after each q row, from one thread
  // at a time; it must not throw, and the tables do not depend on it.
  void CalcWithProgress(CWaveFunction *wf, const ProgressFunction &progress);
  void Calc_PureHBT();
  void Calc_ClassCoul(double ma, double mb, int q1q2);

 private:
  bool IDENTICAL = false;
  int LMAX = -1;
  int NRMAX = 0;
  int NQMAX = 0;
  double DELR = 0.0;
  double DELQ = 0.0;
  // kernel[l] is empty for an absent l, else NQMAX*NRMAX values, index iq*NRMAX + ir.
  std::vector<std::vector<double>> kernel;
  // Legendre scratch table, at least P_0 and P_1.
  std::vector<double> P;

  // l step: 2 for identical particles, 1 otherwise.
  int LStep() const { return IDENTICAL ? 2 : 1; }
  bool HasTable(int ell) const {
    return ell >= 0 && ell <= LMAX && !kernel[ell].empty();
  }
  // Writable table entry; the caller keeps ell a present l and (iq, ir) on the mesh.
  double &Entry(int ell, int iq, int ir) { return kernel[ell][static_cast<std::size_t>(iq) * NRMAX + ir]; }
  void Allocate();
};

#endif

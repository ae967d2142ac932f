#ifndef FEMTOKIT_ARRAYS_CHARRAY_H
#define FEMTOKIT_ARRAYS_CHARRAY_H

#include "arrays/chcalc.h"
#include "math/random.h"

#include <memory>
#include <string>
#include <vector>

// A function of a three-vector in its Cartesian-harmonic expansion: for every
// angular triple (lx, ly, lz) with lx + ly + lz <= LMAX a radial profile of
// NRADIAL values on bins of width RADSTEP (bin ir covers [ir, ir+1)*RADSTEP).
// With XSYM (YSYM, ZSYM) set the function is even in x (y, z) and only even
// lx (ly, lz) are stored. The same storage holds traceless A coefficients,
// moments M or X coefficients alike.
//
// Storage is one contiguous block: the stored triples are numbered in loop
// order (lx outer, then ly, then lz) and each owns NRADIAL consecutive values.
// Arrays are not copyable; copies go through ArrayCalc.
class CCHArray {
 public:
  CCHArray(int LMAX, int NRADIAL, double RADSTEP, bool XSYM, bool YSYM, bool ZSYM);
  CCHArray(int LMAX, int NRADIAL, double RADSTEP);
  // From an array parameter file (keys LMAX, NRADIAL, RADSTEP, XSYM, YSYM,
  // ZSYM, IDENTICAL).
  explicit CCHArray(const char *arrayparsfilename);
  explicit CCHArray(const std::string &arrayparsfilename);
  CCHArray(const CCHArray &) = delete;
  CCHArray &operator=(const CCHArray &) = delete;
  ~CCHArray();

  int GetLMAX() const { return LMAX; }
  int GetNRADIAL() const { return NRADIAL; }
  double GetRADSTEP() const { return RADSTEP; }
  bool GetXSYM() const { return XSYM; }
  bool GetYSYM() const { return YSYM; }
  bool GetZSYM() const { return ZSYM; }
  // Lowers LMAX (a larger value is ignored); storage stays as built.
  void SetLMAX(int lmax);
  // Fatal, nothing changed, unless radstep is finite and positive.
  void SetRADSTEP(double radstep) {
    CheckRadstep(radstep);
    RADSTEP = radstep;
  }
  void PrintPars() const;

  // Element access. Reading a non-existent element warns and gives 0;
  // setting or incrementing one is fatal.
  double GetElement(int lx, int ly, int lz, int ir) const;
  void SetElement(int lx, int ly, int lz, int ir, double value);
  void IncrementElement(int lx, int ly, int lz, int ir, double value);
  // The same on the bin floor(r/RADSTEP).
  double GetElement(int lx, int ly, int lz, double r) const;
  void SetElement(int lx, int ly, int lz, double r, double value);
  void IncrementElement(int lx, int ly, int lz, double r, double value);
  // The NRADIAL consecutive values of stored triple (lx, ly, lz), for loops
  // over the radial bins; fatal when the triple is not stored.
  const double *Row(int lx, int ly, int lz) const;
  double *Row(int lx, int ly, int lz);
  // Calls f(lx, ly, lz) for every stored triple with lx + ly + lz <= lmax and
  // lx <= lxmax, in loop order (lx outermost, then ly, then lz), under the
  // symmetry flags. lmax is capped at LMAX.
  template <class F>
  void ForEachTriple(int lmax, int lxmax, F &&f) const {
    if (lmax > LMAX) lmax = LMAX;
    for (int lx = 0; lx <= lmax && lx <= lxmax; lx += dlx)
      for (int ly = 0; ly <= lmax - lx; ly += dly)
        for (int lz = 0; lz <= lmax - lx - ly; lz += dlz) f(lx, ly, lz);
  }
  template <class F>
  void ForEachTriple(F &&f) const {
    ForEachTriple(LMAX, LMAX, f);
  }
  // True when (lx, ly, lz, ir) is stored under the current LMAX.
  bool ElementExists(int lx, int ly, int lz, int ir) const;

  // The storage block itself, for bindings and bulk copies: one row of
  // NRADIAL values per triple of the layout the array was built with (the
  // LMAX at construction; SetLMAX does not change it), rows in the order of
  // ForEachStoredTriple. Never reallocated while the array lives.
  double *Data() { return A.data(); }
  const double *Data() const { return A.data(); }
  // Calls f(lx, ly, lz) for every row of Data(), in storage order.
  template <class F>
  void ForEachStoredTriple(F &&f) const {
    for (int lx = 0; lx <= LMAXALLOC; lx += dlx)
      for (int ly = 0; ly <= LMAXALLOC - lx; ly += dly)
        for (int lz = 0; lz <= LMAXALLOC - lx - ly; lz += dlz) f(lx, ly, lz);
  }

  // Whole-array operations. An explicit triple that is not stored or a
  // radial index outside 0 .. NRADIAL-1 is fatal.
  void ZeroArray();
  void ZeroArray(int ir);
  void ZeroArray(int lx, int ly, int lz);
  void ZeroArray_Partial(int lmax);
  void ZeroArray_Partial(int lmax, int ir);
  void ScaleArray(double factor);
  void ScaleArray(double factor, int ir);
  double GetBiggest(int ir) const;  // largest |value| at ir

  // Rebuild the coefficients fixed by tracelessness from lower indices of
  // the named axis.
  void FillRemainderX(int ir);
  void FillRemainderX();
  void FillRemainderY(int ir);
  void FillRemainderY();
  void FillRemainderZ(int ir);
  void FillRemainderZ();

  // Traceless projection of a product-form coefficient set, in place.
  void Detrace(int ir);
  void Detrace();

  // Random fills from the shared generator (seed -12345 unless RandomInit
  // was called first). Each fill holds a process-wide lock, so fills from
  // several threads are safe; their order decides which numbers each gets.
  void RandomInit(int seed);
  void Randomize(double scale, int ir);
  void Randomize(double scale);
  void RandomizeA(double scale, int ir);
  void RandomizeA(double scale);
  void RandomizeA_Gaussian(double scale, int ir);
  void RandomizeA_Gaussian(double scale);

  void PrintArrayFixedIR(int lmax, int ir) const;
  void PrintArrayFixedIR(int ir) const;

  // Files: data directories of "lx%d_ly%d_lz%d.tmp" files and a summary table.
  // A write replaces the directory's component files in one step (the new set
  // is built beside the old one and swapped in; other files are kept), so an
  // error or a kill at any instant leaves the old set or the new one, never a
  // mix, and no component file of an earlier write stays behind.
  void WriteAllA(const char *dirname) const;  // every stored triple, "%16.10e"
  void WriteAllA(const std::string &dirname) const { WriteAllA(dirname.c_str()); }
  void WriteAX(const char *dirname) const;  // lx <= 1 only, "%g"
  void WriteAX(const std::string &dirname) const { WriteAX(dirname.c_str()); }
  void ReadAllA(const char *dirname);
  void ReadAllA(const std::string &dirname) { ReadAllA(dirname.c_str()); }
  void ReadAX(const char *dirname);
  void ReadAX(const std::string &dirname) { ReadAX(dirname.c_str()); }
  void WriteShort(const char *filename, int lmax) const;
  void WriteShort(const std::string &filename, int lmax) const { WriteShort(filename.c_str(), lmax); }

  // ---- Expansion of points (charray_points.cpp) ----
  // Two coefficient sets share the storage; with L = lx+ly+lz and e a unit
  // vector:
  //   moments      M(l, ir) = sum over points in bin ir of w ex^lx ey^ly ez^lz
  //   A-expansion  A(l, ir) = sum over points of w (2L+1)!!/L! GetAFromE(l, e)
  // An A-expansion describes, in bin ir, the function of direction
  //   F(e) = sum over stored l of L!/(lx! ly! lz!) A(l, ir) ex^lx ey^ly ez^lz,
  // so one point of weight w at e0 gives F(e) = w sum_{L<=LMAX} (2L+1) P_L(e.e0):
  // the truncated 4 pi w delta(e, e0), whose integral over directions is 4 pi w.
  // Weights carry the caller's units (a count, or a density times a volume);
  // the array does not divide by bin volumes. Directions are not normalised:
  // pass unit vectors. A radial index outside 0..NRADIAL-1 in an increment is
  // fatal (the message of IncrementElement).

  // Moments: M(l, ir) += w ex^lx ey^ly ez^lz for every stored triple.
  void IncrementMArrayFromE(double ex, double ey, double ez, double weight, int ir);
  // The same at e = (sin th cos ph, sin th sin ph, cos th), angles in radians.
  void IncrementMArrayFromThetaPhi(double theta, double phi, double weight, int ir);
  // Adds one point to the A-expansion of bin ir: the lx <= 1 coefficients get
  // w (2L+1)!!/L! GetAFromE(l, e) and FillRemainderX(ir) rebuilds lx >= 2 from
  // them, so bin ir must hold a traceless set before the call (lx >= 2 values
  // that do not follow from the rest are overwritten). For many points,
  // AltIncrementAExpArrayFromE per point and one FillRemainderX(ir) at the end
  // give the same array several times faster.
  void IncrementAExpArrayFromE(double ex, double ey, double ez, double weight, int ir);
  void IncrementAExpArrayFromThetaPhi(double theta, double phi, double weight, int ir);
  // Adds a point given by its position (units of RADSTEP) to bin
  // floor(r/RADSTEP), r = |(x,y,z)|; positions at or beyond NRADIAL*RADSTEP are
  // ignored. A point at the origin has no direction: its weight goes to
  // A(0,0,0, 0) alone. A NaN coordinate is fatal.
  void IncrementAExpArray(double x, double y, double z, double weight);
  // The same increments of the lx <= 1 coefficients as IncrementAExpArrayFromE,
  // computed for all of them in one recursive pass; lx >= 2 is NOT rebuilt
  // (call FillRemainderX(ir) once after the last point).
  void AltIncrementAExpArrayFromE(double ex, double ey, double ez, double weight, int ir);

  // F(e) of bin ir (see above) at the unit vector e. A radial index outside
  // the mesh warns (as GetElement) and gives 0.
  double AExpand(double ex, double ey, double ez, int ir) const;
  // F at the direction of (x, y, z) in bin floor(r/RADSTEP); 0 at or beyond
  // NRADIAL*RADSTEP; at the origin the l = 0 value A(0,0,0, 0). A NaN
  // coordinate is fatal. Pass doubles: AExpand(x, y, 0) with an int literal
  // selects the (theta, phi, ir) form below.
  double AExpand(double x, double y, double z) const;
  // F(e) of bin ir at e = (sin th cos ph, sin th sin ph, cos th).
  double AExpand(double theta, double phi, int ir) const;

  // Element conversions of bin ir; they read the array and change nothing.
  // On a moment array: the A-expansion element of the same points. On an
  // A-expansion: its moment element. Each reads only elements of the same
  // parities and lower order, so together they are exact inverses. A triple
  // or ir that is not stored warns (as GetElement) and gives 0.
  double GetAExpElementFromMArray(int lx, int ly, int lz, int ir) const;
  double GetMElementFromAExpArray(int lx, int ly, int lz, int ir) const;

  // Shared by all arrays for the whole process: the coefficient tables and
  // the generator of the random fills (empty until first needed).
  static CCHCalc *chcalc;
  static std::unique_ptr<CRandom> randy;

 private:
  static void CheckRadstep(double radstep);
  void RandomTraceless(double scale, int ir, bool gaussian, const char *operation);
  // Allocates the zeroed storage; failures name `file` when given.
  void CreateArray(const std::string &file = std::string());
  // Offset of (lx, ly, lz, ir) in A; the element must be stored.
  size_t Index(int lx, int ly, int lz, int ir) const {
    return (static_cast<size_t>(lxlybase[static_cast<size_t>(lx) * (LMAXALLOC + 1) + ly] + lz / dlz)) *
               static_cast<size_t>(NRADIAL) +
           static_cast<size_t>(ir);
  }
  double &At(int lx, int ly, int lz, int ir) { return A[Index(lx, ly, lz, ir)]; }
  double At(int lx, int ly, int lz, int ir) const { return A[Index(lx, ly, lz, ir)]; }
  bool TripleExists(int lx, int ly, int lz) const;
  void CheckIR(int ir, const char *operation) const;
  static int RadialBin(double r, double radstep);
  static CRandom &Generator();
  void ReadFiles(const char *dirname, bool allx);
  void WriteFiles(const char *dirname, bool allx, const char *valueformat) const;

  bool XSYM, YSYM, ZSYM;
  double RADSTEP;
  int NRADIAL;
  int LMAX;
  std::vector<double> A;
  int dlx, dly, dlz;
  int LMAXALLOC;                // LMAX at construction: the storage layout
  std::vector<int> lxlybase;    // first triple number of (lx, ly, 0); -1 when not stored
};

#endif

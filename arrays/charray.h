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
  void SetRADSTEP(double radstep) { RADSTEP = radstep; }
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
  // was called first).
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

  // Shared by all arrays for the whole process: the coefficient tables and
  // the generator of the random fills (empty until first needed).
  static CCHCalc *chcalc;
  static std::unique_ptr<CRandom> randy;

 private:
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

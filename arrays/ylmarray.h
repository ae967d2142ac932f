#ifndef FEMTOKIT_ARRAYS_YLMARRAY_H
#define FEMTOKIT_ARRAYS_YLMARRAY_H

#include <complex>
#include <vector>

// Spherical-harmonic expansion of a real function of a three-vector on a
// radial mesh: complex coefficients y(L, M, ir) for 0 <= M <= L <= LMAX at
// radial indices ir = 0 .. NRADIAL-1. The function is
//   F(e) = sum_L [ y(L,0) Y_L0(e) + 2 Re sum_{M>0} y(L,M) Y_LM(e) ],
// with Y_LM the orthonormal harmonics of SpherHarmonics::Ylm (Condon-Shortley
// phase); negative M are implied by y(L,-M) = (-1)^M conj(y(L,M)) and not
// stored. ArrayCalc::CalcYlmExpArrayFromAExpArray and its inverse fill it from
// a CCHArray and back. The array has no radial step of its own.
//
// Storage is one contiguous block: (L, M) pairs in loop order (L outer), each
// owning NRADIAL consecutive values. Element access checks its indices:
// M < 0, M > L, L > LMAX or ir outside the mesh is fatal.
class CYlmArray {
 public:
  // Zeroed array; a negative LMAX or NRADIAL is fatal.
  CYlmArray(int LMAX, int NRADIAL);

  int GetLMAX() const { return LMAX; }
  int GetNRADIAL() const { return NRADIAL; }

  std::complex<double> GetElement(int L, int M, int ir) const { return ylm[Index(L, M, ir)]; }
  void SetElement(int L, int M, int ir, std::complex<double> value) { ylm[Index(L, M, ir)] = value; }
  void IncrementElement(int L, int M, int ir, std::complex<double> value) { ylm[Index(L, M, ir)] += value; }

  void ZeroArray();
  void ZeroArray(int ir);                   // every (L, M) at ir
  void ScaleArray(double factor);
  void ScaleArray(double factor, int ir);   // every (L, M) at ir
  // Prints the coefficients at ir as a table, L down and M across.
  void PrintArrayFixedIR(int ir) const;

 private:
  size_t Index(int L, int M, int ir) const;
  void CheckIR(int ir, const char *operation) const;
  int NRADIAL;
  int LMAX;
  std::vector<std::complex<double>> ylm;
};

#endif

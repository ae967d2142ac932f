#ifndef FEMTOKIT_ARRAYS_ARRAYCALC_H
#define FEMTOKIT_ARRAYS_ARRAYCALC_H

#include <string>

#include "arrays/arraycalc_convert.h"  // the conversions between representations

class CCHArray;
class C3DArray;

// Algebra of arrays. Products and quotients of functions of direction are
// not element-wise in the Cartesian-harmonic representation: they are formed
// in product form (coefficients of a symmetric, not traceless, expansion,
// weighted by trinomials) and brought back by the traceless projection
// Detrace. The 3D mesh forms are element-wise.
//
// Per-radius forms take each operand's radial index; whole-array forms check
// the parameters and run over every radial index. Arrays are passed as plain
// pointers that the caller keeps owning.
namespace ArrayCalc {

// Fatal unless 0 <= ir < NRADIAL of a; operation names the caller in the message.
void CheckRadialIndex(const CCHArray *a, int ir, const char *operation);

// Parameter comparisons: true when compatible; otherwise the first mismatch
// is printed as a warning and the result is false.
bool CompareArrayParameters(CCHArray *a, CCHArray *b);
bool CompareArrayParameters(C3DArray *a, CCHArray *b);
bool CompareArrayParameters(CCHArray *a, C3DArray *b);
bool CompareArrayParameters(C3DArray *a, C3DArray *b);
// The same comparisons without printing: the mismatch message followed by a
// line with both values, or an empty string when the arrays are compatible.
std::string ParameterMismatch(CCHArray *a, CCHArray *b);
std::string ParameterMismatch(C3DArray *a, CCHArray *b);
std::string ParameterMismatch(CCHArray *a, C3DArray *b);
std::string ParameterMismatch(C3DArray *a, C3DArray *b);

void CopyArray(CCHArray *A, int irA, CCHArray *B, int irB);
void CopyArray(CCHArray *A, CCHArray *B);
void AddArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC);
void AddArrays(CCHArray *A, CCHArray *B, CCHArray *C);
// Product-form product of A up to rank LA and B up to rank LB into C up to LC.
void MultiplyArrays_Partial(int LA, CCHArray *A, int irA, int LB, CCHArray *B, int irB, int LC, CCHArray *C,
                            int irC);
// Traceless product C = A*B.
void MultiplyArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC);
void MultiplyArrays(CCHArray *A, CCHArray *B, CCHArray *C);
// Quotient C = A/B by a series in the rank.
void DivideArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC);
void DivideArrays(CCHArray *A, CCHArray *B, CCHArray *C);
// Reciprocal C = 1/A.
void InvertArray(CCHArray *A, int irA, CCHArray *C, int irC);
void InvertArray(CCHArray *A, CCHArray *C);
// Traceless projection of the product-form set A into B.
void Detrace(CCHArray *A, int irA, CCHArray *B, int irB);
void Detrace(CCHArray *A, CCHArray *B);

// 3D mesh arrays, element by element.
void MultiplyArrays(C3DArray *A, C3DArray *B, C3DArray *C);
void DivideArrays(C3DArray *A, C3DArray *B, C3DArray *C);
void AddArrays(C3DArray *A, C3DArray *B, C3DArray *C);
void CopyArray(C3DArray *A, C3DArray *B);
void InvertArray(C3DArray *A, C3DArray *B);

}  // namespace ArrayCalc

#endif

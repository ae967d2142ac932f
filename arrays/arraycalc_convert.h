#ifndef FEMTOKIT_ARRAYS_ARRAYCALC_CONVERT_H
#define FEMTOKIT_ARRAYS_ARRAYCALC_CONVERT_H

class CCHArray;
class C3DArray;
class CYlmArray;

// Conversions between the representations of a function of a three-vector:
//   A-expansion  traceless Cartesian-harmonic coefficients (CCHArray): in bin
//                ir, F(e) = sum_l L!/(lx! ly! lz!) A(l) ex^lx ey^ly ez^lz
//   M-array      moments M(l) = sum over points of w e^l (CCHArray)
//   X-expansion  an A-expansion of the logarithm: F = exp(X)
//   3D mesh      values on Cartesian cells (C3DArray)
//   Ylm          spherical-harmonic coefficients (CYlmArray)
// Per-radius forms take (source, source ir, destination, destination ir);
// whole-array forms require ArrayCalc::CompareArrayParameters of the two
// arrays (symmetry, NRADIAL, RADSTEP, LMAX), else they are fatal, and run over
// every ir. The radial variable keeps the arrays' unit (r in fm, q in MeV/c).
//
// The conversions use the shared CCHCalc tables and its overlap cache, which
// fills on first use: they are not safe to call concurrently with each other.
namespace ArrayCalc {

// Moments -> A-expansion (M holds moments). LMAX of M and A must be equal
// ("LMAX from M does not match LMAX from A", fatal). A triple that A stores
// and M does not (M symmetric along an axis where A is not) gets 0.
void CalcAExpArrayFromMArray(CCHArray *M, int irM, CCHArray *A, int irA);
void CalcAExpArrayFromMArray(CCHArray *M, CCHArray *A);
// A-expansion -> moments, every triple of M; the inverse of the above.
void CalcMArrayFromAExpArray(CCHArray *A, int irA, CCHArray *M, int irM);
void CalcMArrayFromAExpArray(CCHArray *A, CCHArray *M);

// Exponential: A(irA) becomes the A-expansion of exp(F_X), F_X the function
// of X(irX). With x0 = X(0,0,0) and U = X - x0 (rank LMAX_X), the power series
// of exp(U) is summed in product form up to rank 55, so the traces of the
// high ranks reach A's ranks (rank 30 already gives about 2e-6), projected onto
// A and multiplied by exp(x0). The series ends when every term since the last
// multiple of 6 has product-form coefficients below 1e-8 (absolute, relative
// to the leading 1 of exp(U)); after term 47 it stops with a warning.
// Fatal: A symmetric along an axis where X is not. Cost: see
// bench/arraycalc_convert_bench.cpp.
void CalcAExpArrayFromXExpArray(CCHArray *X, int irX, CCHArray *A, int irA);
void CalcAExpArrayFromXExpArray(CCHArray *X, CCHArray *A);
// Logarithm: X(irX) becomes the expansion of ln F_A, as ln a0 plus the series
// sum (-1)^(n+1) u^n/n of u = F_A/a0 - 1 (a0 = A(0,0,0), rank LMAX_A), summed
// in product form up to rank 55 and projected onto X. It converges only
// where |u| < 1 on the whole sphere; the term test is that of the
// exponential, the limit term 49 (then a warning). Prints "nmax was %d"
// (one past the last term). Fatal: a0 <= 0; X symmetric where A is not.
void CalcXExpArrayFromAExpArray(CCHArray *A, int irA, CCHArray *X, int irX);
// Whole-array logarithm. NOTE the order: destination first, it fills P with
// the X-expansion of Q.
void CalcXExpArrayFromAExpArray(CCHArray *P, CCHArray *Q);

// A-expansion -> 3D mesh. Each cell centre c (|c| = r, direction u) gets F
// interpolated linearly in r between the bin centres (i + 1/2)*RADSTEP:
// below RADSTEP/2 between F(-u) and F(u) of bin 0 (through the origin, along
// the line of u); for (NRADIAL - 1/2)*RADSTEP <= r < NRADIAL*RADSTEP the last
// bin's F(u); 0 from NRADIAL*RADSTEP on. Cell widths and RADSTEP are in the
// same unit. Fatal: the symmetry flags of A and the mesh differ.
void Calc3DArrayFromAExpArray(CCHArray *A, C3DArray *C3D);
// 3D mesh -> A-expansion: A is zeroed, and for every bin ir the mesh,
// trilinearly interpolated (C3DArray::GetElement_Interpolate) on the sphere
// r = (ir + 1/2)*RADSTEP, is projected onto the traceless harmonics:
// A(l) = (2L+1)!!/(4 pi L!) * integral F(r e) GetAFromE(l, e) dOmega.
// Angular sampling: Gauss-Legendre in cos(theta) times the midpoint rule in
// phi over the part of the sphere the symmetry flags leave, with
// nphi = max(2*B + 8, ceil(2 pi r / min cell width)) nodes on the full circle
// and ntheta = max(B + 5, nphi/2) in cos(theta), B = max(LMAX, 6). It is exact
// for functions of polynomial degree up to 2B + 7 - LMAX on the sphere (13 at
// LMAX 6), so whatever the interpolation reproduces exactly (multilinear
// functions) comes back to rounding; for a real mesh the kinks of the
// interpolant add an angular error near 1/20 of the interpolation error
// (which is about 1 % of A(0,0,0) for a Gaussian of radii 3-5 on 1-unit cells).
// Points outside the mesh (|x| >= NXMAX*DELX, ...) count as 0, and a warning
// names the first bin whose sphere leaves the mesh. Bins run in parallel
// (OpenMP), each independent of the thread count. Fatal: the symmetry flags
// of A and the mesh differ.
void CalcAExpArrayFrom3DArray(C3DArray *C3D, CCHArray *A);

// A-expansion <-> spherical-harmonic coefficients, with
//   y(L, M) = integral F(e) conj(Y_LM(e)) dOmega,  Y_LM = SpherHarmonics::Ylm,
// so F = sum_LM y(L,M) Y_LM, and a single point of weight w at e0 (F = the
// truncated 4 pi w delta) has y(L, M) = 4 pi w conj(Y_LM(e0)). Orders above the
// destination's LMAX are dropped, the destination's orders above the source's
// LMAX set to 0. Exact inverses (up to rounding) for L <= both LMAX and, in
// Ylm -> A, for content that A's symmetry flags allow (the rest is projected
// away). Ylm -> A sets lx <= 1 and completes A with FillRemainderX.
void CalcYlmExpArrayFromAExpArray(CCHArray *A, int irA, CYlmArray *Y, int irY);
void CalcAExpArrayFromYlmExpArray(CYlmArray *Y, int irY, CCHArray *A, int irA);

}  // namespace ArrayCalc

#endif

#ifndef FEMTOKIT_FIT_S2CF_H
#define FEMTOKIT_FIT_S2CF_H

class CCHArray;
class CKernel;
class C3DArray;
class CKernelWF;

// Source-to-correlation transform: CF_l(q) = integral 4 pi r^2 K_L(q,r) S_l(r) dr
// for each harmonic component l = (lx, ly, lz) of order L. CF holds C(q) - 1.
namespace S2CF {

// Zeroes CF and fills its independent (lx <= 1) components up to the kernel's
// LMAX; call CF->FillRemainderX() for the lx >= 2 components. The source is in
// fm^-3 on its r mesh (fm), CF on its q mesh (MeV/c). When the meshes are the
// kernel's own the tables are read directly, otherwise K is interpolated
// bilinearly in (q, r) (then kernel values beyond the kernel's mesh are 0).
// Fatal when the kernel's LMAX exceeds the source's or CF's, or when the kernel
// is for identical particles and CF is not symmetric in x, y and z. Warns when
// the LMAX of CF differs from the kernel's, and when the kernel's r mesh ends
// before the source's and more than 1e-3 of the source's norm lies beyond it.
void s2c(CCHArray *sourceCH, CKernel *kernel, CCHArray *CF);
// Zeroes component (lx, ly, lz) of CF and fills only that component, with the
// same checks.
void s2c(int lx, int ly, int lz, CCHArray *sourceCH, CKernel *kernel, CCHArray *CF);

// 3D form (s2cf_3d.cpp): C(q) = sum over source cells of v S(r) |psi(q, r, cos theta)|^2
// at every stored CF cell centre q, v the source cell volume; CF holds the
// full C, not C - 1. The source is visited over both sign blocks of every
// axis, a symmetric axis reading its mirrored cells from the stored block, so
// each mirror image gets the kernel at its own cos theta. Each array's own
// symmetry flags decide what it stores; they need not agree. CF cells are
// shared out among threads and each is summed over the source cells in one
// fixed order, so the result does not depend on the thread count. Cost:
// (source cells over all sign blocks) x (stored CF cells) kernel lookups.
void s2c(C3DArray *sourcearray, CKernelWF *kernel, C3DArray *CFarray);

}  // namespace S2CF

#endif

#ifndef FEMTOKIT_FIT_S2CF_H
#define FEMTOKIT_FIT_S2CF_H

class CCHArray;
class CKernel;

// Source-to-correlation transform: CF_l(q) = integral 4 pi r^2 K_L(q,r) S_l(r) dr
// for each harmonic component l = (lx, ly, lz) of order L. CF holds C(q) - 1.
namespace S2CF {

// Zeroes CF and fills its independent (lx <= 1) components up to the kernel's LMAX.
void s2c(CCHArray *sourceCH, CKernel *kernel, CCHArray *CF);
// Zeroes component (lx, ly, lz) of CF and fills only that component.
void s2c(int lx, int ly, int lz, CCHArray *sourceCH, CKernel *kernel, CCHArray *CF);

}  // namespace S2CF

#endif

#ifndef FEMTOKIT_FIT_CFCALC_H
#define FEMTOKIT_FIT_CFCALC_H

class CCHArray;
class C3DArray;

// Chi-square between measured and model correlation functions, weighted by
// the errors. Both forms print "chi^2/Ndof" and return the plain sum
// Sum (exp - theory)^2/error^2; an error below 1e-8 warns (it is still used).
namespace CFCalc {

// Over the radial bins of harmonic component (lx, ly, lz). Fatal when the
// three arrays have different NRADIAL.
double GetChiSquared(int lx, int ly, int lz, CCHArray *CFexp, CCHArray *CFerror, CCHArray *CFtheory);
// Over every stored cell of the 3D arrays whose error is not 0 (an error of
// exactly 0 marks a cell that was not measured). Fatal, naming what differs, when
// the error or theory array's symmetry, cell counts or widths differ from
// the measured one's.
double GetChiSquared(C3DArray *CFexp, C3DArray *CFerror, C3DArray *CFtheory);

}  // namespace CFCalc

#endif

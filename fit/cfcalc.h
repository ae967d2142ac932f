#ifndef FEMTOKIT_FIT_CFCALC_H
#define FEMTOKIT_FIT_CFCALC_H

class CCHArray;
class C3DArray;

// Chi-square between measured and model correlation functions, weighted by
// the errors. Both forms print "chi^2/Ndof" and return the plain sum.
namespace CFCalc {

double GetChiSquared(int lx, int ly, int lz, CCHArray *CFexp, CCHArray *CFerror, CCHArray *CFtheory);
double GetChiSquared(C3DArray *CFexp, C3DArray *CFerror, C3DArray *CFtheory);

}  // namespace CFCalc

#endif

#ifndef FEMTOKIT_MATH_MISC_H
#define FEMTOKIT_MATH_MISC_H

#include <complex>
#include <string>

// Kinematics, Clebsch-Gordan coefficients, complex helpers and string comparison.
// Four-vectors are arrays of four doubles (E or t first, then x, y, z), metric (+,-,-,-).
namespace Misc {

// True when both strings have the same length and the same characters.
bool comparestrings(const char *a, const char *b);
bool comparestrings(const std::string &a, const std::string &b);

// Squared momentum of either product of the decay m -> m1 + m2 in the rest frame
// of m. Fatal ("Disaster with triangle") when m1 + m2 > m.
double triangle(double m, double m1, double m2);

// Rapidity 0.5 ln((p0 + pz)/(p0 - pz)) and the rapidity difference y1 - y2.
double GetRapidity(const double *p);
double GetDely(const double *p1, const double *p2);

// Boosts p from the rest frame of a body of four-velocity u to the frame in
// which it moves with u; result in pprime (may not alias p).
void lorentz(const double *u, const double *p, double *pprime);

// Invariant relative momentum sqrt(|dp|^2 - dE^2). Fatal when the square is negative.
double GetQinv(const double *p1, const double *p2);

// Out, side and long components of q = (pa - pb)/2 in the pair rest frame
// (longitudinal boost to the LCMS, then transverse boost along P_T).
// unused is kept for the call signature and always set to 0.
void outsidelong(const double *pa, const double *pb, double &unused, double &qout, double &qside,
                 double &qlong);

// floor(x + 0.5).
int iround(double x);

// Clebsch-Gordan coefficient <j1 m1 j2 m2 | J M> (half-integers allowed), through
// GSL's 3j symbol. Zero outside the triangle |j1 - j2| <= J <= j1 + j2 and |m| <= j.
double cgc(double j1, double m1, double j2, double m2, double J, double M);
// The same coefficient by Racah's explicit sum.
double oldcgc(double j1, double m1, double j2, double m2, double J, double M);
// n! for a double n (1 for n < 1).
double cgc_factorial(double n);
// a!/b! as a product over the integers between them.
double cgc_fractorial(double a, double b);
// Kronecker delta (1 when i and j agree to rounding, else 0).
double cgc_delta(double i, double j);

// Complex helpers: e^(i phi), e^z and the principal branch of z^w.
std::complex<double> ceiphi(double phi);
std::complex<double> cexp(std::complex<double> z);
std::complex<double> cpow(std::complex<double> z, std::complex<double> w);

}  // namespace Misc

#endif

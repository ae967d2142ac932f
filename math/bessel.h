#ifndef FEMTOKIT_MATH_BESSEL_H
#define FEMTOKIT_MATH_BESSEL_H

#include <complex>

// Cylindrical, modified and spherical Bessel functions and spherical Hankel
// functions. Everything is evaluated by GSL's error-returning forms: an
// underflowed result is 0, an overflowed one is +-infinity, and no argument
// ends the process.
namespace Bessel {

// Cylindrical Bessel functions of the first and second kind.
double J0(double x);
double J1(double x);
double Jn(int n, double x);
double Y0(double x);
double Y1(double x);
double Yn(int n, double x);

// Modified Bessel functions of the first and second kind.
double I0(double x);
double I1(double x);
double In(int n, double x);
double K0(double x);
double K1(double x);
double Kn(int n, double x);

// Spherical Bessel functions j_l and y_l. jn/yn are accurate for every x,
// including x much smaller than l (e.g. j_24(0.01) ~ 1e-79); negative x is
// handled by parity.
double j0(double x);
double j1(double x);
double y0(double x);
double y1(double x);
double jn(int l, double x);
double yn(int l, double x);

// Spherical Hankel functions h_l = j_l + i y_l and their conjugates j_l - i y_l.
std::complex<double> h0(double x);
std::complex<double> h1(double x);
std::complex<double> hn(int l, double x);
std::complex<double> hstar0(double x);
std::complex<double> hstar1(double x);
std::complex<double> hstarn(int l, double x);

}  // namespace Bessel

#endif

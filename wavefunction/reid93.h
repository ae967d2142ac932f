#ifndef FEMTOKIT_WAVEFUNCTION_REID93_H
#define FEMTOKIT_WAVEFUNCTION_REID93_H

// The regularised Reid nucleon-nucleon potential of 1993 (Stoks, Klomp,
// Terheggen, de Swart, Phys. Rev. C 49, 2950 (1994)).

// Regularised Yukawa-type shapes with a dipole form factor. a is the meson
// mass and b the cut-off mass, both in units of the pion mass that defines the
// distance variable x = m_pi*r/(hbar c). All are finite at x = 0; below
// x = 0.0001 they switch to a short series.
double r93_p(const double &a, const double &b, const double &x);  // central, with smeared delta (L = 0 only)
double r93_y(const double &a, const double &b, const double &x);  // central
double r93_z(const double &a, const double &b, const double &x);  // tensor
double r93_w(const double &a, const double &b, const double &x);  // spin-orbit

// Potential matrix elements (MeV) at separation *r (fm) for the partial wave
// pname ("1S0", "1D2", "1G4", "3P0", "3P1", "3F3", "1P1", "1F3", "3D2", "3G4",
// or the coupled triplets "3C1" ... "3C4") and the pair type ("PP", "NP",
// "PN", "NN"). For uncoupled waves only *vpot11 is nonzero; for coupled waves
// vpot11 is L = J-1, vpot22 is L = J+1 and vpot12 the tensor coupling.
// Coulomb is not included. An unknown name or pair type is fatal.
void creid93(const double *r, const char *pname, const char *type, double *vpot11, double *vpot12,
             double *vpot22);

#endif

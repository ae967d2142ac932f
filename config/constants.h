#ifndef FEMTOKIT_CONFIG_CONSTANTS_H
#define FEMTOKIT_CONFIG_CONSTANTS_H

// Physical constants in the library's units (MeV, fm, fm/c).
namespace femtokit {
namespace constants {

// hbar*c in MeV fm: the precise value used by the waves and kernels, and the
// rounded value of the classical Coulomb kernel and the source models.
constexpr double HBARC = 197.3269602;
constexpr double HBARC_ROUNDED = 197.327;
// Inverse fine-structure constant (alpha = 1/ALPHA_INV).
constexpr double ALPHA_INV = 137.036;
constexpr double ALPHA = 1.0 / ALPHA_INV;

// Geometry.
constexpr double FOURPI = 12.566370614359172;
constexpr double FOURPIOVERTHREE = 4.1887902047863905;

// Masses in MeV.
constexpr double MPI = 139.58;        // charged pion (wave functions, sources)
constexpr double MKAON = 493.677;     // charged kaon
constexpr double MPROTON = 938.271;   // proton (wave functions)
constexpr double MPROTON_SOURCE = 938.28;  // proton as the source models use it
constexpr double MLAMBDA = 1115.7;    // Lambda
constexpr double MNEUTRON = 939.565;  // neutron

}  // namespace constants
}  // namespace femtokit

#endif

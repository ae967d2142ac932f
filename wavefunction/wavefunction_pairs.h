#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PAIRS_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PAIRS_H

#include <memory>
#include <string>
#include <vector>

#include "wavefunction/wavefunction.h"

namespace femtokit {

// Names of the pairs that have a wave function, in the order of the library:
// "pp", "pkplus", "ppiplus", "pipluspiminus", "nn".
const std::vector<std::string> &PairNames();

// Names of the pairs described by the shipped parameter files
// data/<pair>/wfparameters.dat (generic pairs): "pipluspiplus",
// "kpluskplus", "plambda", "lambdalambda".
const std::vector<std::string> &FilePairNames();

// The library's name of a pair written as physicists write it: "pi+pi+",
// "π+π+" -> "pipluspiplus", "K+K+", "pK+", "ppi+", "pi+pi-", "pLambda", "pΛ",
// "LambdaLambda", "ΛΛ"; any other name is returned unchanged.
std::string CanonicalPairName(const std::string &name);

// Builds the wave function of the named pair from a wave-function parameter
// file (CWaveFunction::ParsInit); the name "generic" builds a
// CWaveFunction_generic, the pair its parameter file describes. Fails (fatal,
// listing the names) for an unknown pair, and as the pair's constructor does.
std::unique_ptr<CWaveFunction> MakeWaveFunction(const std::string &pair, const std::string &parsfilename);
// The same on the q mesh of a kernel: nq bins of dq MeV/c (points at their
// centres) in place of the file's NQMAX, DELQ or QARRAYFILENAME, so that the
// kernel finds the wave function at each of its q without interpolation.
// Fails also as ParsInit does for that mesh (see PairQRange).
std::unique_ptr<CWaveFunction> MakeWaveFunction(const std::string &pair, const std::string &parsfilename, int nq,
                                                double dq);

// The momenta (MeV/c) at which the named pair's wave function can be built:
// CWaveFunction::QMIN ... QMAX, for "generic" also within the rows of every
// phase-shift table its parameter file names. Fails as reading the file and
// its tables does.
void PairQRange(const std::string &pair, const std::string &parsfilename, double &qmin, double &qmax);

// True for pairs of identical particles ("pp", "nn"), whose kernels hold even
// l only. Fails (fatal) for an unknown pair and for "generic", whose
// symmetry is in its parameter file (see the overload).
bool PairIsIdentical(const std::string &pair);
// The same for a built wave function of the pair: for "generic" what its
// parameter file says.
bool PairIsIdentical(const std::string &pair, const CWaveFunction &wf);

}  // namespace femtokit

#endif

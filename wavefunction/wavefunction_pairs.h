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

// Builds the wave function of the named pair from a wave-function parameter
// file (CWaveFunction::ParsInit). Fails (fatal, listing the names) for an
// unknown pair, and as the pair's constructor does.
std::unique_ptr<CWaveFunction> MakeWaveFunction(const std::string &pair, const std::string &parsfilename);

// True for pairs of identical particles ("pp", "nn"), whose kernels hold even
// l only. Fails (fatal) for an unknown pair.
bool PairIsIdentical(const std::string &pair);

}  // namespace femtokit

#endif

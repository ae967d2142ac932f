#ifndef FEMTOKIT_H
#define FEMTOKIT_H

// Umbrella header: every public class and namespace of femtokit.
#include "config/constants.h"
#include "config/output.h"
#include "config/fatal.h"
#include "config/fileio.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "arrays/chcalc.h"
#include "arrays/charray.h"
#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "source/sourcecalc.h"
#include "source/sourcecalc_gx1d.h"
#include "math/random.h"
#include "math/bessel.h"
#include "math/sphericalharmonics.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/partwave.h"
#include "wavefunction/planewave.h"
#include "wavefunction/wavefunction.h"
#include "wavefunction/reid93.h"
#include "wavefunction/wavefunction_pp.h"
#include "kernel/kernel.h"
#include "fit/s2cf.h"
#include "fit/cfcalc.h"

#endif

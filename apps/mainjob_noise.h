// The main job's measurement, shared by femtodriver and 'femtokit run': the
// same seed draws the same noise in both.
#ifndef FEMTOKIT_APPS_MAINJOB_NOISE_H
#define FEMTOKIT_APPS_MAINJOB_NOISE_H

#include "arrays/charray.h"
#include "math/random.h"

// A measured C(q) - 1: the theory plus Gaussian noise of error 0.05/(ir + 1)
// on the independent (lx <= 1) components, one number drawn per element in
// the order of bins, then ForEachTriple; errors holds those errors.
inline void AddMainJobNoise(const CCHArray &theory, CCHArray &measured, CCHArray &errors, CRandom &randy) {
  for (int ir = 0; ir < errors.GetNRADIAL(); ++ir) {
    const double error = 0.05 / (ir + 1);
    errors.ForEachTriple(errors.GetLMAX(), 1, [&](int lx, int ly, int lz) {
      const double g = randy.gauss();
      measured.SetElement(lx, ly, lz, ir, theory.GetElement(lx, ly, lz, ir) + g * error);
      errors.SetElement(lx, ly, lz, ir, error);
    });
  }
}

#endif

#ifndef FEMTOKIT_SOURCE_SOURCECALC_H
#define FEMTOKIT_SOURCE_SOURCECALC_H

#include "config/parametermap.h"

#include <cstddef>
#include <functional>
#include <string>

class CCHArray;
class C3DArray;
namespace femtokit {
struct SourceModel;
}

// Base of the source models. A model turns the named parameters in `spars`
// into the source function S(r) written into a Cartesian-harmonic array.
class CSourceCalc {
 public:
  CSourceCalc() = default;
  virtual ~CSourceCalc() = default;

  // Fills the whole source array: S(r) in fm^-3 on the array's r mesh (fm),
  // normalised so its integral over all space is the model's lambda. The base
  // class prints that it is a dummy and fills nothing.
  virtual void CalcS(CCHArray *A);
  // Fills component (lx, ly, lz) for all radial bins (the base: a dummy).
  virtual void CalcS(int lx, int ly, int lz, CCHArray *A);

  // Overlays a parameter file onto spars; a missing file is fatal.
  void ReadSPars(const char *filename);
  void ReadSPars(const std::string &filename) { ReadSPars(filename.c_str()); }

  // Prints "normalization check = %g", the integral of the source over the
  // mesh (4 pi Sum r^2 A000 dr, or the sum over the 3D cells times the cell
  // volume): lambda when the mesh holds the whole source.
  void NormCheck(CCHArray *A);
  void NormCheck(C3DArray *A);

  // Prints the offsets and one-particle radii of the Gaussian with the same
  // first and second moments; the second form also returns them.
  void CalcEffGaussPars(CCHArray *A);
  void CalcEffGaussPars(CCHArray *A, double &Rx, double &Ry, double &Rz, double &Xoff, double &Yoff,
                        double &Zoff);

  // The model's parameter table (names, units, defaults, ranges, fit steps);
  // nullptr for a calculator without one.
  virtual const femtokit::SourceModel *Model() const { return nullptr; }
  // Models that sample at random (the blast wave) restart their generator at
  // this seed, so that the next fills draw the same samples; a fit then sees
  // chi^2 as a smooth function of the parameters. Others ignore it.
  virtual void RestartSampling(int seed) { (void)seed; }

  // Long fills (the sampled blast wave, event files) report their progress
  // to f as the fraction done, 0 to 1: one call at a time, in order, possibly
  // from a worker thread; f must not throw. Others never call it.
  void SetProgress(std::function<void(double fraction)> f) { progress_ = std::move(f); }

  parameterMap spars;

  // A whole-array fill that leaves more than this fraction of the model's
  // norm outside the r mesh warns.
  static constexpr double kLostNormTolerance = 1e-3;

 protected:
  // Warns that the fraction `lost` of the source's norm lies beyond the mesh
  // reach (fm) and names the reach that would hold all but kLostNormTolerance.
  static void WarnLostNorm(double lost, double reach, double needed);
  // Warns that the fraction `lost` of the source's norm (or of its pairs, for
  // sampled sources) lies outside the mesh, described by `mesh`, when it
  // exceeds kLostNormTolerance.
  static void WarnLostFraction(double lost, const std::string &what, const std::string &mesh);
  // The callback of HistogramPairs that reports to the progress function the
  // fraction of the pairs of na rows (against nb partners, or among
  // themselves when identical) done once row i is; null without one.
  std::function<void(std::size_t i)> PairProgress(std::size_t na, std::size_t nb, bool identical) const;

  std::function<void(double)> progress_;
};

#endif

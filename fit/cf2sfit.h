#ifndef FEMTOKIT_FIT_CF2SFIT_H
#define FEMTOKIT_FIT_CF2SFIT_H

#include "arrays/charray.h"
#include "math/random.h"

#include <memory>
#include <string>
#include <vector>

class CCHArray;
class C3DArray;
class CKernel;
class CSourceCalc;
class CFeedDown;
class CMomentumSmearing;

// One fit parameter: a key of the source model's parameter map.
class CParInfo {
 public:
  bool fixed = false;     // held constant by the minimisers
  double xmin = -1.0e10;  // allowed range; a bound itself is allowed
  double xmax = 1.0e10;
  double error = 0.0;      // uncertainty, also the scale of trial steps (> 0 for a free parameter)
  double xbar = 0.0;       // mean of the last Metropolis run
  double bestvalue = 0.0;  // value at the smallest chi^2 seen
  double value = 0.0;      // current value
  std::string name;
  // Sets name, value, error and bounds; fixed, xbar and bestvalue stay.
  void Set(const std::string &name, double value, double error, double xmin, double xmax);
};

// How a fit ended, set by every minimiser run (the last one counts).
//   Converged: the minimiser reached a minimum of chi^2 inside the bounds;
//   AtBound:   it reached the lowest chi^2 the bounds allow with at least one
//              free parameter on a bound (atlower/atupper say which);
//   Failed:    no minimum was established (reason says why: a curvature that
//              is not positive, no lower chi^2 along a step, a non-finite
//              chi^2, the iteration limit, a Metropolis chain cut short); the
//              values are where it stopped and the errors are not errors.
// errorsvalid: ErrorMatrix and the free parameters' errors describe the final
// point (a chi^2 Hessian there, or the Metropolis chain's covariance).
struct FitStatus {
  enum class Code { Converged, AtBound, Failed };
  Code code = Code::Failed;
  std::string reason = "no minimiser has run";
  bool errorsvalid = false;
  // Per parameter, in the records' order (par[i]): a free one on its bound.
  std::vector<bool> atlower, atupper;

  bool ok() const { return code != Code::Failed; }
  // "converged", "at a bound", "failed".
  const char *CodeName() const;
  // One line: "converged", "at a bound: R = 1 (lower bound)",
  // "failed: the chi^2 curvature is negative along R".
  std::string Text() const;
};

// Fit of a source model's parameters to a measured correlation function.
//
// An evaluation (GetChiSquared) writes the trial values into the source
// calculator's parameter map by name (6 significant digits, the map's
// encoding), fills the source array, transforms it through the kernel and
// compares with the measurement:
//   ndim 1: one harmonic component (lx, ly, lz) of CCHArrays over the q bins;
//           the calculator's per-component fill and the per-component
//           transform (only that component of ctheoryCH is computed);
//   ndim 3: the whole correlation function on a 3D mesh: sourceCH zeroed and
//           filled whole, transformed, completed with FillRemainderX (the
//           transform computes only lx <= 1) and converted to ctheory3D.
// Correlation arrays hold C(q) - 1. The fit owns none of the arrays, the
// kernel or the calculator; they must outlive it.
//
// Parameters 0 .. nfreepars-1 are free, the rest fixed. The minimisers
// (Metropolis, Newton, SteepestDescent) move the free values; ErrorMatrix is
// the covariance of the parameters (statistical: Delta chi^2 = 1 at 1 sigma),
// StepMatrix the Metropolis step directions (column k, scaled).
//
// Per-evaluation lines ("In GetChiSquare, x[] = ...", "chi^2/Ndof=...", the
// minimisers' progress) are at the Normal level; at Quiet a fit prints only
// warnings. Single-threaded: an evaluation mutates the calculator and arrays.
class CCF2SFit {
 public:
  CCF2SFit() = default;
  CCF2SFit(const CCF2SFit &) = delete;
  CCF2SFit &operator=(const CCF2SFit &) = delete;
  virtual ~CCF2SFit() = default;

  // Allocates npars records (all free, bounds +-1e10, values 0), zero
  // matrices, chi2 = bestchi2 = 1e20, ncalls = 0, the fitted component
  // (0,0,0) and the Metropolis generator (seed -1234); prints "SFit Arrays
  // Initialized". Fails (fatal): npars < 1.
  void Init();

  // Value of the named parameter (free or fixed). Unknown name: a warning
  // ("Can not set %s, parameter with that name does not exist"), no change.
  void SetPar(const std::string &name, double value);
  // Moves the named free parameter to the end of the free block and fixes it
  // ("Fixing par[%d], name=%s"). Fixed or unknown: a warning, no change.
  void FixPar(const std::string &name);
  // Frees the named fixed parameter, moving it to the start of the fixed
  // block ("Freeing par[%d], name=%s"). Free or unknown: a warning.
  void FreePar(const std::string &name);
  // Exchanges the records at positions i and j, and the rows and columns of
  // ErrorMatrix and StepMatrix, so errors stay with their parameters.
  // Fails (fatal): a position outside 0 .. npars-1.
  void SwitchPars(int i, int j);
  // The harmonic component fitted when ndim = 1.
  void SetL(int lx, int ly, int lz);
  // Moves the current point to the best one seen (values and chi2).
  void UseBestPars();
  // Narrows each parameter's bounds to the range its source model allows (an
  // open end moved just inside), so that no trial point is one the model
  // refuses; parameters the model does not know keep theirs.
  void NarrowBoundsToModel();
  // Position of the named parameter, or -1.
  int FindPar(const std::string &name) const;

  // Reads the measured correlation function and its errors from data
  // directories as the main job writes them (ndim 1: CCHArray::ReadAX, e.g.
  // "GX1d/pp" and "GX1d/pp_errors"; ndim 3: C3DArray::ReadArray). Fails: the
  // readers' errors (a missing or malformed directory).
  void ReadData(const std::string &cfdir, const std::string &errordir);

  // chi^2 of the free values x[0 .. nfreepars-1] (fixed ones from the
  // records); remembers the best point. Does not change the values or chi2.
  // Fails (fatal): ndim other than 1 or 3, a missing array, kernel or
  // calculator; the fill, transform and chi^2 fail as they do.
  double GetChiSquared(const double *x);
  double GetChiSquared(const std::vector<double> &x);

  // Number of measured points compared (q bins, or 3D cells whose error is
  // not 0) and degrees of freedom (points minus free parameters). A q bin
  // whose error is infinite carries no weight and is not counted (a gap in the
  // data, or outside the fit range).
  int GetNBins() const;
  int GetNDOF() const { return GetNBins() - nfreepars; }
  // The one-dimensional model the last evaluation compared with the data:
  // ctheoryCH, or the array after the feed-down and smearing steps.
  const CCHArray *ComparedModel() const;

  // Tables through the output channel (Normal level).
  void PrintPars() const;
  void PrintErrorMatrix() const;
  void PrintStepMatrix() const;
  // The result of a fit: each parameter's name, value, error and whether it
  // was free ("at lower/upper bound" after a free one on a bound); chi2, the
  // number of bins and degrees of freedom, and the status line. The error
  // column shows "-" for fixed parameters and, unless status.errorsvalid, for
  // all (step scales are not errors).
  std::string FitTable() const;
  void PrintFitTable() const;

  // ---- Minimisers (cf2sfit_minimisers.cpp) ----
  // Each run sets status: Newton converged when its last iteration lowered
  // chi^2 by less than 0.01 (errors then valid), failed on a curvature that is
  // not positive, a singular Hessian, a non-finite chi^2 or a step that finds
  // no lower chi^2 where a gain was predicted; SteepestDescent converged by its
  // own end test (no errors), failed at the iteration limit or without a lower
  // chi^2; Metropolis converged when the whole chain ran (errors: its
  // covariance). A converged run with a free parameter on a bound is AtBound.
  // Metropolis chain of n evaluations from the current point, proposals
  // Gaussian with covariance StepMatrix StepMatrix^T / nfreepars (proposals
  // outside the bounds of a free parameter are redrawn, at most 10000 times
  // in a row, then the run ends with a warning). ErrorMatrix becomes the
  // sample covariance of the chain's states (n/(n-1) normalised; left
  // unchanged with a warning below 2 evaluations) and xbar their mean.
  void Metropolis(int n);
  // StepMatrix = eigenvectors of ErrorMatrix scaled by the root eigenvalues,
  // and errors of the free parameters sqrt(ErrorMatrix[i][i]). Fails
  // (fatal): an eigenvalue below -1e-10 ("FATAL: In UpdateStepSize, negative
  // eigenvalue, =%g").
  void UpdateMetroStepSize();
  // Newton-Raphson with a finite-difference Hessian H of chi^2 (steps: the
  // errors): one iteration for n <= 1, two otherwise. Steps that raise chi^2
  // (or give a non-finite one) are halved, at most 30 times, then the run
  // ends at the current point with a warning. Ends with a warning, values
  // unchanged, when H is singular or not positive definite (an eigenvalue of
  // the step-scaled H below 1e-10 of the largest). Leaves ErrorMatrix = 2 H^-1.
  // Bounds: the difference stencils are moved inside the range, a parameter
  // on a bound that the step would push out stays there, and a step leaving
  // the range is projected onto it. Fails (fatal): a free parameter without a
  // positive error.
  void Newton(int n);
  // ErrorMatrix = C^-1 over the free block (0 elsewhere), C the curvature
  // of chi^2/2 = -ln L (half the chi^2 Hessian); errors of the free
  // parameters from its diagonal. Returns false, with a warning and nothing
  // changed, when C is not positive definite (an eigenvalue below 1e-12 of
  // the largest).
  bool CalcErrorMatrixFromCurvature(const std::vector<std::vector<double>> &C);
  // At most n steepest-descent iterations in error-scaled coordinates (line
  // searches along the gradient, probes of d = 3 errors, refined to 1 and
  // 1/3 by the first two steps shorter than 2 d). Ends when a step shorter
  // than 2 d, after those refinements, lowers chi^2 by less than 1e-3; at a
  // zero gradient; or with a warning when 30 halvings of a step find no lower
  // chi^2 (a non-finite chi^2 counts as higher). The start and every trial
  // are projected onto the bounds; a parameter on a bound the descent would
  // cross stays there. Errors and matrices are not changed. Fails (fatal): a free parameter
  // without a positive error.
  void SteepestDescent(int n);

  // Sets status.atlower/atupper from the free parameters' values and turns a
  // Converged status with a parameter on a bound into AtBound. The minimisers
  // call it at their end; call it after moving values by hand.
  void UpdateBoundStatus();

  std::vector<CParInfo> par;
  FitStatus status;
  int ndim = 1;
  int npars = 0;
  int nfreepars = 0;
  std::vector<std::vector<double>> ErrorMatrix;  // npars x npars
  double chi2 = 1.0e20;                          // chi^2 of the current point
  double bestchi2 = 1.0e20;                      // smallest chi^2 returned
  CSourceCalc *sourcecalc = nullptr;
  CKernel *kernel = nullptr;
  CCHArray *ctheoryCH = nullptr;
  C3DArray *cexp3D = nullptr, *cerror3D = nullptr, *ctheory3D = nullptr;
  int lx = 0, ly = 0, lz = 0;
  CCHArray *cexpCH = nullptr, *cerrorCH = nullptr;
  CCHArray *sourceCH = nullptr;
  // Optional steps between the transform and the chi-square (ndim 1, the
  // (0,0,0) component): the feed-down decomposition, then the momentum
  // smearing. ctheoryCH then holds the genuine correlation on the mesh the
  // steps take in (for smearing: the true q mesh) and the model compared with
  // the data lands in cmodelCH (the measured q mesh; when null, an internal
  // array shaped like cexpCH). A parameter whose name is one of the
  // decomposition's lambda keys ("lambdaGen", "lambda_<name>") is written
  // into feeddown->lambdas instead of the source's spars. Not owned.
  CFeedDown *feeddown = nullptr;
  CMomentumSmearing *smearing = nullptr;
  CCHArray *cmodelCH = nullptr;
  std::unique_ptr<CRandom> randy;
  int ncalls = 0;                               // evaluations since Init()
  std::vector<std::vector<double>> StepMatrix;  // npars x npars

 private:
  void CheckSetup() const;
  // Fatal unless every free parameter has a positive, finite error.
  void CheckStepScales(const char *minimiser) const;
  std::string MatrixTable(const char *heading, const std::vector<std::vector<double>> &M) const;
  std::vector<double> full_;  // the full parameter vector of an evaluation
  // The model after the optional steps (the array compared with the data).
  CCHArray *ApplySteps();
  std::unique_ptr<CCHArray> model_, decomposed_;  // internal arrays of the steps
};

#endif

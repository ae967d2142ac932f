#ifndef FEMTOKIT_SOURCE_SOURCECALC_BLAST_H
#define FEMTOKIT_SOURCE_SOURCECALC_BLAST_H

#include <array>
#include <vector>

#include "math/random.h"
#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

// Source of a pair emitted from a boost-invariant blast wave, by Monte Carlo:
// emission points of each species are sampled on a disk of radius R with a
// linear transverse flow profile (four-velocity u_x = x u_max at the edge
// velocity Beta), a Gaussian spatial rapidity of width EtaG, proper times
// around Tau (GetTau) and thermal weights exp(-u.p/T); they are boosted into
// the frame moving with the pair (total transverse momentum Pt along x), and
// the spatial separations of all sample pairs are histogrammed into the array.
//
// Parameters (spars): lambda (integral of the source), R (fm), Tau and DelTau
// (fm/c), Beta (c), T (MeV), Pt (MeV/c), Phi (unused), EtaG, Ma and Mb (MeV),
// Nsample (points per species). The calculator owns its generator (seed
// -1234), so a fresh calculator reproduces its samples.
class CSourceCalc_Blast : public CSourceCalc {
 public:
  const femtokit::SourceModel *Model() const override { return &femtokit::BlastModel(); }
  void RestartSampling(int seed) override { randy.reset(seed); }
  using Points = std::vector<std::array<double, 4>>;  // rows (t, x, y, z), fm/c and fm

  CSourceCalc_Blast();
  // Writes the twelve defaults.
  void InitSPars();
  // Defaults first, then these values.
  void SetSPars(double lambda, double R, double Tau, double DelTau);
  void SetSPars(double lambda, double R, double Tau, double DelTau, double Beta, double T, double Pt, double EtaG,
                double Ma, double Mb);

  // Zeroes A and fills it with lambda times the pair-separation density
  // (fm^-3): the l = 0 part integrates to lambda times the fraction of sample
  // pairs inside the mesh. Identical species (|Ma - Mb| < 1 MeV) share one
  // sample set and use its Nsample(Nsample-1)/2 distinct pairs; otherwise
  // Nsample^2 pairs of two sets. Fatal: Nsample < 1 (< 2 for identical
  // species), and what Get_r finds.
  void CalcS(CCHArray *A) override;

  // One emission proper time (fm/c) with density proportional to
  // tau exp(-(tau - tau0)^2/(2 deltau^2)) on tau > 0. Needs tau0 > 0, deltau > 0.
  double GetTau(double tau0, double deltau);

  // Nsample emission points (t, x, y, z) of a particle of four-momentum p
  // (p[0] energy, p[1] momentum along x, MeV; p[2], p[3] not read), in the
  // frame moving with velocity p[1]/p[0] along x. Fatal: a mass that is not
  // positive, Beta outside [0, 1), T <= 0, and a weight above the bound
  // ("DISASTER! ...", a guard that never fires).
  void Get_r(const double *p, Points &r);
  // The same into r[i][0..3]; r must hold Nsample rows.
  void Get_r(double *p, double **r);

  // Largest thermal weight cosh(eta) exp(-(E_min(eta) - e_min)/T) over all
  // eta, at least 1, for a particle of mass m and momentum p1 along x (MeV)
  // in a flow of edge four-velocity umax: E_min(eta) is the smallest u.p on
  // the disk at rapidity eta and e_min its value at eta = 0. Exactly 1 for
  // T <= m. Sampling weights are divided by it, so they never exceed 1.
  static double WeightBound(double m, double p1, double umax, double T);

  CRandom randy;
};

#endif

#ifndef FEMTOKIT_SOURCE_SOURCECALC_OSCAR_H
#define FEMTOKIT_SOURCE_SOURCECALC_OSCAR_H

#include <memory>
#include <string>
#include <utility>

#include "source/pairhistogram.h"
#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

// Source built from the final-state particles of simulated events in a text
// event file. Particles of species IDa and IDb are selected in a window of
// transverse momentum (|pT - p_nominal| < DELPT around the single-particle
// momenta of a pair of total transverse momentum Pt with equal velocities),
// azimuth (PHIMIN_DEG < phi < PHIMAX_DEG, phi = atan2(px, py) in [0, 360))
// and rapidity (YMIN < y < YMAX). Each emission point is moved into the
// particle's longitudinally comoving frame, along its transverse velocity to
// the reference time 12 fm/c, then boosted along "out" into the frame of the
// nominal pair: rows (t, out, side, long) in fm/c and fm. The separations of
// all selected pairs, across the whole file, are histogrammed into the array.
//
// Two file formats, told apart by the first line:
// - the default: five header lines; per event a line "n <int>" with the
//   number n of particle lines, n lines "<int> ID <int> px py pz E mass x y z t"
//   (GeV, fm, fm/c), then three lines that are skipped;
// - OSCAR2013 (first line "#!OSCAR2013 particle_lists t x y z mass p0 px py pz
//   pdg ID charge", or any column list holding t x y z p0 px py pz pdg, also
//   "#!OSCAR2013Extended"): '#' lines are comments, an event is its particle
//   lines up to a line "# event <n> end ..."; particles of a block headed
//   "# event <n> in <m>" (the initial state) are skipped, and a block headed
//   "# event <n> out <m>" must hold m lines.
// Masses are the species' (Ma, Mb), not the file's.
//
// Parameters (spars): Pt, DELPT (MeV/c), PHIMIN_DEG, PHIMAX_DEG, YMIN, YMAX,
// IDa, IDb, Ma, Mb (MeV), AEQUALB, NMAX (most particles per list),
// OSCARfilename, NEVENTSMAX.
class CSourceCalc_OSCAR : public CSourceCalc {
 public:
  const femtokit::SourceModel *Model() const override { return &femtokit::EventsModel(); }
  using Points = femtokit::PointList;

  CSourceCalc_OSCAR();
  // Writes the fourteen defaults.
  void InitSPars();
  void SetSPars(double Pt, double DELPT, double PHIMIN_DEG, double PHIMAX_DEG, double YMIN, double YMAX);
  // Species by PDG code, with their masses from the table of species
  // (source/species.h: +-211: 139.58, +-2212: 938.28, +-321: 493.677 MeV, ...);
  // AEQUALB is IDa = IDb. Fatal for a code the table does not hold ("%d for
  // IDa not recognized"): give its mass with the second form.
  void SetIDs(int IDa, int IDb);
  // Any codes with their masses (MeV, finite and positive).
  void SetIDs(int IDa, int IDb, double Ma, double Mb);

  // Reads the event file into the particle lists (replacing their contents):
  // species a into ra, species b into rb; for identical species (AEQUALB)
  // everything goes to ra and rb is left empty. Returns the number of
  // complete events read (at most NEVENTSMAX). Fatal, naming the file: a file
  // that cannot be opened, an OSCAR2013 header without the needed columns, a
  // word read as a number that is not wholly one (line and column; see
  // femtokit::LineReader) and a list growing beyond NMAX (the event and line
  // too). A truncated event (the file ends within it, or its last line is cut
  // before its newline) or an event of the wrong structure (too few fields,
  // counts that disagree) ends the reading with a warning that gives the
  // event count; what was read before stands.
  int ReadR(Points &ra, Points &rb);

  // Zeroes A and fills it with the density of pair separations (fm^-3),
  // normalised so that the l = 0 part integrates to the fraction of pairs
  // inside the mesh; prints the mean separations and the effective
  // one-particle radii (also kept, see LastSummary). With no pair at all it
  // warns and leaves A zero.
  void CalcS(CCHArray *A) override;

  // What the last CalcS found: particle and pair counts, mean separation
  // (out, side, long) and effective radii sqrt(Var(d)/2) per axis (fm).
  struct Summary {
    int events = 0;
    double na = 0.0, nb = 0.0, pairs = 0.0, inside = 0.0;
    double mean[3] = {0.0, 0.0, 0.0};
    double radius[3] = {0.0, 0.0, 0.0};
  };
  const Summary &LastSummary() const { return summary; }

  // Shares CalcS among cooperating processes (MPI ranks, see
  // femtokit::MPIPartition): rank 0 reads the file, every rank receives its
  // lists and bins its share of the pairs, and every rank ends with the array
  // of a one-process run. A failed reading on rank 0 is an error on every
  // rank. nullptr: one process (the default).
  void SetPartition(std::shared_ptr<const femtokit::PairPartition> p) { partition = std::move(p); }

  // Default of the NMAX cap when the key is missing.
  static constexpr int kDefaultNMAX = 1000000;

 private:
  Summary summary;
  std::shared_ptr<const femtokit::PairPartition> partition;
};

#endif

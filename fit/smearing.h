#ifndef FEMTOKIT_FIT_SMEARING_H
#define FEMTOKIT_FIT_SMEARING_H

#include <memory>
#include <string>
#include <vector>

#include "config/parametermap.h"
#include "fit/qmatrix.h"

class CCHArray;

// Momentum resolution: carries a model correlation function from the true q
// to the reconstructed q that a detector measures. A measured bin is the
// ratio of correlated to uncorrelated pairs, each smeared by the same
// response P(q_reco | q_true), so
//   C_meas(i) - 1 = sum_j P(i | j) n_j (C(q_j) - 1) / sum_j P(i | j) n_j,
// with n_j the uncorrelated pairs in true bin j (PAIRDENSITY). The model is
// computed on the true-q mesh, which may be finer than the measured one and
// must reach beyond it by the resolution; the response says how.
// q is the momentum of one particle in the pair frame (k*), in MeV/c.
//
// Parameter file keys (lines "type name value"; defaults in brackets):
//   string MODE        [matrix]  "matrix": response from MATRIXFILE;
//                                "gaussian": Gaussian resolution sigma(q_true)
//   string MATRIXFILE  [none]    response matrix M(q_reco, q_true), rows q_reco,
//                                columns q_true, in the format of CQMatrix
//                                (qmatrix.h); a relative name is taken from the
//                                parameter file's directory
//   string MATRIXTYPE  [conditional]  "conditional": each column is
//                                P(q_reco | q_true) and must sum to 1;
//                                "counts": pair counts of a simulation
//                                (population included, not normalised)
//   string PAIRDENSITY [phasespace]   n_j of a conditional matrix: "phasespace"
//                                (bin integral of q^2) or "flat" (1 per bin);
//                                for the Gaussian the density n(q) = q^2 or 1
//   double NORMTOLERANCE [0.001] allowed |column sum - 1| of a conditional matrix
//   string UNITS       [q_MeV]   unit of every momentum in MATRIXFILE,
//                                SIGMAFILE and SIGMA: q_MeV, q_GeV, kstar_MeV,
//                                kstar_GeV (k* is q), qinv_MeV or qinv_GeV
//                                (q_inv = 2q); converted to q in MeV/c on reading
//   double SIGMA       [0]       constant resolution (UNITS) when there is no SIGMAFILE
//   string SIGMAFILE   [none]    table of sigma(q_true): lines "q sigma" (UNITS),
//                                q ascending; linear between the points,
//                                constant beyond the ends; "#" starts a comment
//   string GAUSSIANFORM [1d]     "1d": q_reco = |q_true + d| with d Gaussian of
//                                width sigma; "3d": the vector q smeared by a
//                                Gaussian of width sigma on each Cartesian axis
//                                (q_reco then follows a non-central chi law)
//   double TRUNCATION  [0.001]   Gaussian mode: a warning when more than this
//                                fraction of a measured bin's pairs would come
//                                from true q beyond the model's mesh
//
// The Gaussian map integrates over the true q: measured bin i is
//   Int n(q) P_i(q) (C(q) - 1) dq / Int n(q) P_i(q) dq,
// with C between the model's bin centres the Lagrange interpolant through the
// 8 nearest (mirrored at q = 0): exact for polynomials of degree 7, converging
// as the true bin width to the 8th power.
//
// Usable alone or between the transform and the chi-square of a fit: the
// fit computes its model on the true mesh and compares Apply's output with
// the data. Not thread safe (Apply reuses scratch space).
class CMomentumSmearing {
 public:
  // Reads the parameter file and, by MODE, the response matrix or the
  // resolution table, and prints a summary. Fails (FatalFile naming the file
  // at fault): a missing parameter file, an unknown MODE, MATRIXTYPE,
  // PAIRDENSITY, UNITS or GAUSSIANFORM, a missing MATRIXFILE, a matrix file
  // that breaks its rules (CQMatrix::Read), a sigma table with a line of
  // other than two numbers, a non-finite or non-positive sigma, a negative or
  // non-ascending q, or no sigma at all (SIGMA <= 0 without SIGMAFILE).
  explicit CMomentumSmearing(const std::string &parsfilename);
  ~CMomentumSmearing();
  CMomentumSmearing(const CMomentumSmearing &) = delete;
  CMomentumSmearing &operator=(const CMomentumSmearing &) = delete;

  // Writes the smeared (0,0,0) component (C - 1) of `in` (the model on the
  // true-q mesh) into the (0,0,0) component of `out` (the measured mesh), bins
  // 0 .. out's NRADIAL-1; other components of out are left as they are. in
  // and out may be the same array when their meshes fit. Matrix mode: in must
  // have the matrix's column bin width and at least its column count, out its
  // row bin width and at most its row count. Gaussian mode: any meshes; the
  // map is built on the first call for a pair of meshes and kept, and a
  // warning tells when the true mesh ends too early (TRUNCATION). Fails
  // (FatalFile naming the matrix or parameter file): meshes that do not fit.
  void Apply(const CCHArray *in, CCHArray *out);

  bool IsGaussian() const { return gaussian; }
  // Resolution sigma (MeV/c) at true q (MeV/c); 0 in matrix mode.
  double GetSigma(double q) const;
  // The true q (MeV/c) the model's mesh should reach for measured bins up to
  // qreco: the matrix's column reach, or qreco + 5 sigma.
  double TrueQReach(double qreco) const;
  // The response matrix as read (matrix mode; empty in Gaussian mode).
  const CQMatrix &GetMatrix() const { return response; }

  // The settings, defaults overlaid by the parameter file.
  parameterMap pars;

 private:
  void ReadSigmaTable(const std::string &file, double unitfactor);
  void BuildGaussian(int nin, double din, int nout, double dout);
  double BinProbability(double a, double b, double q, double sigma) const;

  std::string parsfile;
  bool gaussian = false;
  bool threed = false;
  double truncation = 1e-3;
  std::string density;
  CQMatrix response;  // as read (matrix mode)
  CQMatrix map;       // row-normalised map from the true to the measured mesh
  // Gaussian resolution table (MeV/c); one point means a constant.
  std::vector<double> sigmaq, sigmav;
  struct Interp;
  std::unique_ptr<Interp> interp;
  // Meshes the Gaussian map was built for.
  int builtnin = -1, builtnout = -1;
  double builtdin = 0.0, builtdout = 0.0;
  std::vector<double> scratchin, scratchout;
};

#endif

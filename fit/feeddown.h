#ifndef FEMTOKIT_FIT_FEEDDOWN_H
#define FEMTOKIT_FIT_FEEDDOWN_H

#include <string>
#include <vector>

#include "config/parametermap.h"
#include "fit/qmatrix.h"

class CCHArray;

// Feed-down (lambda) decomposition of a measured correlation function:
//   C_model(q) - 1 = lambdaGen (C_gen(q) - 1) + sum_i lambda_i (C_i(q) - 1),
// where C_gen is the genuine pair's correlation and each residual i is one of
//   flat:   C_i = 1 (misidentified or uncorrelated pairs): only its lambda counts;
//   direct: C_i - 1 given by the caller on the measured mesh;
//   matrix: the correlation of the parent pair, C_p - 1 on the parent q mesh
//           (any kernel and source of the library), carried to the measured
//           pair's q by a transformation matrix T(q_daughter, q_parent) from a
//           file: C_i(d) - 1 = sum_p T(d, p) n_p (C_p(p) - 1) / sum_p T(d, p) n_p,
//           with n_p the uncorrelated parent pairs in bin p (PAIRDENSITY). The
//           residual correlation at q_d is the mean of the parent's over the
//           parent pairs whose decays land at q_d.
// The lambda's are the fractions of the measured pairs of each kind and must
// add up to 1 (within LAMBDATOLERANCE, as they pass through 6-digit text);
// every Apply checks it. q is the momentum of one particle in the pair frame
// (k*), in MeV/c.
//
// The lambda's live in the parameter map `lambdas` under the keys "lambdaGen"
// and "lambda_<name>" for the residual called <name>; a fit writes trial values
// there by name, as it writes source parameters into a source's spars, and
// Apply reads them on every call.
//
// Parameter file keys (lines "type name value"; defaults in brackets):
//   double lambdaGen       [1]      lambda of the genuine pairs
//   int    NRESIDUALS      [0]      number of residual contributions, at most 100
//   string RESIDUAL<i>_NAME   (required) name of residual i (letters, digits, '_');
//                                   its lambda key is "lambda_<name>"
//   string RESIDUAL<i>_TYPE   (required) flat, direct or matrix
//   string RESIDUAL<i>_MATRIX (matrix) file of T(q_daughter, q_parent): rows
//                                   the daughter (measured) q, columns the
//                                   parent q, in the format of CQMatrix
//                                   (qmatrix.h); a relative name is taken from
//                                   the parameter file's directory
//   double lambda_<name>   [0]      lambda of residual <name>
//   string UNITS           [q_MeV]  momentum unit of the matrix files: q_MeV,
//                                   q_GeV, kstar_MeV, kstar_GeV (k* is q),
//                                   qinv_MeV or qinv_GeV (q_inv = 2q);
//                                   converted to q in MeV/c on reading
//   string MATRIXTYPE      [conditional] "conditional": every column (parent
//                                   bin) is the distribution of the daughter q
//                                   and sums to 1; "counts": pair counts of a
//                                   decay simulation, population included
//   string PAIRDENSITY     [phasespace]  n_p of a conditional matrix:
//                                   "phasespace" (bin integral of q^2) or "flat"
//   string RESIDUAL<i>_UNITS, RESIDUAL<i>_MATRIXTYPE, RESIDUAL<i>_PAIRDENSITY
//                                   the same for residual i alone
//   double NORMTOLERANCE   [0.001]  allowed |column sum - 1| of a conditional matrix
//   double LAMBDATOLERANCE [1e-05]  allowed |sum of lambda's - 1|
//   string REMAINDER       [none]   name of a flat residual whose lambda is
//                                   1 minus all the others at every Apply (for
//                                   fits with free lambda's); its own value is
//                                   then ignored and written back
//
// Usable alone or between the transform and the chi-square of a fit. Holds
// the parent arrays as plain pointers (not owned); not thread safe.
class CFeedDown {
 public:
  // Reads the parameter file and the matrices, checks the lambda's, prints a
  // summary. Fails (FatalFile naming the file at fault): a missing parameter
  // file; NRESIDUALS outside 0..100; a missing, malformed or repeated name;
  // an unknown TYPE, UNITS, MATRIXTYPE or PAIRDENSITY; a matrix residual
  // without a matrix file; a matrix file that breaks its rules
  // (CQMatrix::Read); a REMAINDER that names no flat residual; lambda's that
  // are negative or do not sum to 1.
  explicit CFeedDown(const std::string &parsfilename);

  // Writes C_model - 1 into the (0,0,0) component of `out`, bins 0 .. out's
  // NRADIAL-1, from C_gen - 1 in the (0,0,0) component of `in` (same bin
  // width as out, at least as many bins) and the residuals' parent arrays;
  // other components of out are left as they are; in and out may be the same
  // array. A residual whose lambda is 0 is skipped. Fails (FatalFile naming
  // the parameter or matrix file): lambda's that do not sum to 1 or are
  // negative, a direct or matrix residual with a non-zero lambda and no parent
  // array, meshes that do not fit (a matrix residual's parent needs the
  // matrix's column bin width and at least its column count, out its row bin
  // width and at most its row count; a direct residual's parent out's bin
  // width and at least its count).
  void Apply(const CCHArray *in, CCHArray *out);

  // Sets or replaces the parent correlation (C - 1 in its (0,0,0) component)
  // of the direct or matrix residual `name`; the array is read at every Apply
  // and must outlive its use. Fails: an unknown or flat residual.
  void SetParentCorrelation(const std::string &name, const CCHArray *parent);
  // C_i - 1 of residual `name` alone on out's mesh, (0,0,0) component (0 for
  // a flat one). Fails as Apply does for that residual.
  void GetResidualCorrelation(const std::string &name, CCHArray *out);

  // Sets or reads a lambda by its key ("lambdaGen", "lambda_<name>"); the value
  // is kept with 6 significant digits. Fails: an unknown key.
  void SetLambda(const std::string &key, double value);
  double GetLambda(const std::string &key) const;
  // Checks the lambda's as Apply does and returns their sum.
  double CheckLambdas();

  int GetNResiduals() const { return static_cast<int>(residuals.size()); }
  const std::string &GetResidualName(int i) const { return residuals[static_cast<size_t>(i)].name; }
  // The lambda key of residual `name`: "lambda_<name>".
  static std::string LambdaKey(const std::string &name) { return "lambda_" + name; }

  // The lambda's by key, read at every Apply.
  parameterMap lambdas;
  // The settings, defaults overlaid by the parameter file.
  parameterMap pars;

 private:
  enum class Type { Flat, Direct, Matrix };
  struct Residual {
    std::string name, key;
    Type type = Type::Flat;
    CQMatrix map;  // row-normalised T (matrix residuals)
    const CCHArray *parent = nullptr;
  };
  Residual &Find(const std::string &name);
  // C_i - 1 of residual r on out's mesh into scratchres.
  void ResidualValues(Residual &r, const CCHArray *out);

  std::string parsfile;
  std::vector<Residual> residuals;
  int remainder = -1;  // index of the REMAINDER residual, or -1
  double lambdatolerance = 1e-5;
  std::vector<double> lambda;  // current values: genuine first, then each residual
  std::vector<double> scratchin, scratchpar, scratchres, result;
};

#endif

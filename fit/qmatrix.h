#ifndef FEMTOKIT_FIT_QMATRIX_H
#define FEMTOKIT_FIT_QMATRIX_H

#include <string>
#include <vector>

class CCHArray;

// A bin-to-bin matrix between two bin-centred q meshes, the common piece of
// momentum smearing and feed-down. Rows are the measured variable (q_reco, or
// the daughter pair's q), columns the variable the model is computed in
// (q_true, or the parent pair's q). Both meshes start at q = 0; row bin i
// stands for (i + 0.5)*rowstep, column bin j for (j + 0.5)*colstep, in MeV/c
// of q, the momentum of one particle in the pair frame.
//
// Matrix file (text):
//   - "#" starts a comment that runs to the end of the line; blank lines are
//     skipped;
//   - the first data line holds four numbers: NROWS ROWSTEP NCOLS COLSTEP
//     (counts as integers, bin widths in the file's momentum unit);
//   - then exactly NROWS lines of exactly NCOLS numbers: line i is row i
//     (measured bin i), entry j its value for column bin j.
// Entries must be finite and non-negative. As a "conditional" matrix every
// column is the probability distribution of the measured variable for that
// column bin, P(row | column), and must sum to 1 within the tolerance; a
// "counts" matrix holds pair counts of a simulation (the joint distribution,
// the population of the column variable included) and is not normalised.
// Reading is strict: a file that breaks any rule is fatal, naming the file.
class CQMatrix {
 public:
  enum class Type { Conditional, Counts };

  CQMatrix() = default;
  // Reads a matrix file. unitfactor converts the file's bin widths into q in
  // MeV/c (see MomentumUnitFactor); the entries are bin-to-bin numbers and
  // need no conversion. A conditional matrix has every column sum checked to
  // be 1 within normtolerance. Fails (FatalFile naming the file): unreadable
  // file, malformed or missing header, wrong number of rows or of entries in
  // a row, a non-number, a non-finite or negative entry, a column that does
  // not normalise.
  void Read(const std::string &filename, double unitfactor, Type type, double normtolerance);
  // An empty matrix of the given meshes (MeV/c), to be filled with Set.
  void Resize(int nrows, double rowstep, int ncols, double colstep);

  int GetNRows() const { return nrows; }
  int GetNCols() const { return ncols; }
  double GetRowStep() const { return rowstep; }
  double GetColStep() const { return colstep; }
  double Get(int i, int j) const { return m[static_cast<size_t>(i) * ncols + j]; }
  void Set(int i, int j, double value) { m[static_cast<size_t>(i) * ncols + j] = value; }
  const std::string &GetFileName() const { return filename; }

  // The linear map that carries C - 1 from the column mesh to the row mesh:
  // W(i, j) = M(i, j) n_j / sum_j' M(i, j') n_j', with n_j the number of
  // uncorrelated pairs in column bin j (colweight, any normalisation). A
  // measured bin is the ratio of correlated to uncorrelated pairs, both
  // carried by the same matrix, so C - 1 in row i is this weighted mean of
  // C - 1 over the columns. A row that receives no pairs maps to 0.
  // colweight must hold GetNCols() values.
  CQMatrix RowNormalised(const std::vector<double> &colweight) const;
  // Number of rows whose entries are all 0.
  int EmptyRows() const;

  // out[i] = sum_j M(i, j) in[j] for i < nout (nout <= GetNRows(); in holds
  // GetNCols() values). Skips the zero ends of every row.
  void Multiply(const double *in, double *out, int nout) const;

  // Checks that `in` carries the column mesh (same bin width, at least NCOLS
  // bins) and `out` the row mesh (same bin width, at most NROWS bins); fatal,
  // naming `file` and both meshes, otherwise. what: "smearing", "residual pL".
  void CheckArrays(const CCHArray *in, const char *inrole, const CCHArray *out, const char *outrole,
                   const std::string &what, const std::string &file) const;

 private:
  void FindBands();

  int nrows = 0, ncols = 0;
  double rowstep = 0.0, colstep = 0.0;
  std::vector<double> m;         // row-major, nrows*ncols
  std::vector<int> first, last;  // per row: first non-zero column, one past the last
  std::string filename;
};

namespace QMesh {

// Factor that turns a momentum in `units` into q in MeV/c: "q_MeV" and
// "kstar_MeV" 1 (k* is q), "q_GeV" and "kstar_GeV" 1000, "qinv_MeV" 0.5 and
// "qinv_GeV" 500 (q_inv = 2q). Fails (FatalFile naming parsfile): any other name.
double MomentumUnitFactor(const std::string &units, const std::string &parsfile);

// Matrix type by name ("conditional" or "counts"); fatal naming parsfile otherwise.
CQMatrix::Type MatrixType(const std::string &name, const std::string &parsfile);

// Uncorrelated pairs per bin of a mesh of n bins: "phasespace" gives the
// bin integral of q^2 (the three-dimensional phase space, up to a constant),
// "flat" gives 1 per bin. Fails (FatalFile naming parsfile): any other name.
std::vector<double> PairDensity(const std::string &name, int n, const std::string &parsfile);

// A file named in a parameter file: an absolute path as given, a relative one
// taken from the parameter file's directory.
std::string ResolvePath(const std::string &parsfile, const std::string &name);

// True when two bin widths agree to 1e-5 relative.
bool SameStep(double a, double b);

// The (0,0,0) component of an array into v (resized to its NRADIAL).
void ReadComponent(const CCHArray *a, std::vector<double> &v);

}  // namespace QMesh

#endif

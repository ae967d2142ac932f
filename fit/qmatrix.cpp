#include "fit/qmatrix.h"

#include <cmath>
#include <filesystem>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"

namespace {

// Largest count of rows or columns a matrix file may declare.
const int kMaxBins = 100000;

}  // namespace

void CQMatrix::Read(const std::string &name, double unitfactor, Type type, double normtolerance) {
  filename = name;
  const char *f = name.c_str();
  femtokit::LineReader in(name);
  if (!in.IsOpen()) femtokit::FatalFile(name, "cannot open matrix file %s\n", f);
  nrows = ncols = 0;
  m.clear();
  int rows = 0;
  bool header = false;
  while (in.NextWithWords()) {
    const long line = in.Line();
    if (!header) {
      if (in.Size() != 4)
        femtokit::FatalFile(name,
                            "matrix file %s, line %ld: the header needs the four numbers NROWS ROWSTEP NCOLS COLSTEP, "
                            "the line holds %zu words\n",
                            f, line, in.Size());
      const long long nr = in.Integer(0, 1, kMaxBins, "NROWS");
      const double rs = in.Number(1, "ROWSTEP");
      const long long nc = in.Integer(2, 1, kMaxBins, "NCOLS");
      const double cs = in.Number(3, "COLSTEP");
      if (!(rs > 0 && cs > 0 && std::isfinite(rs * unitfactor) && std::isfinite(cs * unitfactor) &&
            rs * unitfactor > 0 && cs * unitfactor > 0))
        femtokit::FatalFile(name, "matrix file %s, line %ld: the bin widths ROWSTEP and COLSTEP must be positive\n", f,
                            line);
      nrows = static_cast<int>(nr);
      ncols = static_cast<int>(nc);
      rowstep = rs * unitfactor;
      colstep = cs * unitfactor;
      header = true;
      continue;
    }
    if (rows == nrows)
      femtokit::FatalFile(name, "matrix file %s: wrong size: more than NROWS=%d rows (line %ld)\n", f, nrows, line);
    if (static_cast<int>(in.Size()) != ncols)
      femtokit::FatalFile(name, "matrix file %s: wrong size: row %d (line %ld) holds %zu entries, NCOLS is %d\n", f,
                          rows, line, in.Size(), ncols);
    for (int j = 0; j < ncols; ++j) {
      const double x = in.Number(static_cast<size_t>(j), "entry");
      if (x < 0)
        femtokit::FatalFile(name, "matrix file %s: negative entry %g at row %d, column %d (line %ld)\n", f, x, rows, j,
                            line);
      m.push_back(x);
    }
    ++rows;
  }
  if (!header) femtokit::FatalFile(name, "matrix file %s holds no header line NROWS ROWSTEP NCOLS COLSTEP\n", f);
  if (rows != nrows) femtokit::FatalFile(name, "matrix file %s: wrong size: %d rows, NROWS is %d\n", f, rows, nrows);

  if (type == Type::Conditional) {
    for (int j = 0; j < ncols; ++j) {
      double sum = 0.0;
      for (int i = 0; i < nrows; ++i) sum += Get(i, j);
      if (!(std::fabs(sum - 1.0) <= normtolerance))
        femtokit::FatalFile(name,
                            "matrix file %s: column %d (q = %g MeV/c) sums to %.8g, not 1 within %g: every column of a "
                            "conditional matrix is a probability distribution over the rows\n",
                            f, j, (j + 0.5) * colstep, sum, normtolerance);
    }
  } else {
    double total = 0.0;
    for (double x : m) total += x;
    if (!(total > 0.0 && std::isfinite(total)))
      femtokit::FatalFile(name, "matrix file %s: a counts matrix needs a positive, finite total, it holds %g\n", f,
                          total);
  }
  FindBands();
  if (const int empty = EmptyRows())
    femtokit::Warn("WARNING: matrix file %s: %d of %d rows receive no pairs; C - 1 is taken as 0 there\n", f, empty,
                   nrows);
}

void CQMatrix::Resize(int nr, double rs, int nc, double cs) {
  nrows = nr;
  ncols = nc;
  rowstep = rs;
  colstep = cs;
  m.assign(static_cast<size_t>(nr) * static_cast<size_t>(nc), 0.0);
  first.assign(static_cast<size_t>(nr), 0);
  last.assign(static_cast<size_t>(nr), nc);
}

void CQMatrix::FindBands() {
  first.assign(static_cast<size_t>(nrows), 0);
  last.assign(static_cast<size_t>(nrows), 0);
  for (int i = 0; i < nrows; ++i) {
    int a = 0, b = ncols;
    while (a < ncols && Get(i, a) == 0.0) ++a;
    while (b > a && Get(i, b - 1) == 0.0) --b;
    first[static_cast<size_t>(i)] = a;
    last[static_cast<size_t>(i)] = b;
  }
}

int CQMatrix::EmptyRows() const {
  int empty = 0;
  for (int i = 0; i < nrows; ++i) empty += last[static_cast<size_t>(i)] <= first[static_cast<size_t>(i)];
  return empty;
}

CQMatrix CQMatrix::RowNormalised(const std::vector<double> &colweight) const {
  CQMatrix w;
  w.Resize(nrows, rowstep, ncols, colstep);
  w.filename = filename;
  for (int i = 0; i < nrows; ++i) {
    double sum = 0.0;
    for (int j = 0; j < ncols; ++j) sum += Get(i, j) * colweight[static_cast<size_t>(j)];
    if (sum > 0.0)
      for (int j = 0; j < ncols; ++j) w.Set(i, j, Get(i, j) * colweight[static_cast<size_t>(j)] / sum);
  }
  w.FindBands();
  return w;
}

void CQMatrix::Multiply(const double *in, double *out, int nout) const {
  for (int i = 0; i < nout; ++i) {
    const double *row = m.data() + static_cast<size_t>(i) * ncols;
    double sum = 0.0;
    for (int j = first[static_cast<size_t>(i)]; j < last[static_cast<size_t>(i)]; ++j) sum += row[j] * in[j];
    out[i] = sum;
  }
}

void CQMatrix::CheckArrays(const CCHArray *in, const char *inrole, const CCHArray *out, const char *outrole,
                           const std::string &what, const std::string &file) const {
  auto fail = [&](const CCHArray *a, const char *role, const char *mesh, int n, double step, const char *rule) {
    femtokit::FatalFile(file,
                        "%s: the %s array's q mesh (%d bins of %g MeV/c) does not fit the %s mesh of %s (%d bins of "
                        "%g MeV/c): it needs the same bin width and %s\n",
                        what.c_str(), role, a->GetNRADIAL(), a->GetRADSTEP(), mesh, file.c_str(), n, step, rule);
  };
  if (!QMesh::SameStep(in->GetRADSTEP(), colstep) || in->GetNRADIAL() < ncols)
    fail(in, inrole, "column", ncols, colstep, "at least as many bins");
  if (!QMesh::SameStep(out->GetRADSTEP(), rowstep) || out->GetNRADIAL() > nrows)
    fail(out, outrole, "row", nrows, rowstep, "at most as many bins");
}

namespace QMesh {

double MomentumUnitFactor(const std::string &units, const std::string &parsfile) {
  if (units == "q_MeV" || units == "kstar_MeV") return 1.0;
  if (units == "q_GeV" || units == "kstar_GeV") return 1000.0;
  if (units == "qinv_MeV") return 0.5;
  if (units == "qinv_GeV") return 500.0;
  femtokit::FatalFile(parsfile,
                      "%s: unknown momentum units '%s'; use q_MeV, q_GeV, kstar_MeV, kstar_GeV, qinv_MeV or qinv_GeV\n",
                      parsfile.c_str(), units.c_str());
}

CQMatrix::Type MatrixType(const std::string &name, const std::string &parsfile) {
  if (name == "conditional") return CQMatrix::Type::Conditional;
  if (name == "counts") return CQMatrix::Type::Counts;
  femtokit::FatalFile(parsfile, "%s: unknown matrix type '%s'; use conditional or counts\n", parsfile.c_str(),
                      name.c_str());
}

std::vector<double> PairDensity(const std::string &name, int n, const std::string &parsfile) {
  std::vector<double> w(static_cast<size_t>(n > 0 ? n : 0), 1.0);
  if (name == "flat") return w;
  if (name != "phasespace")
    femtokit::FatalFile(parsfile, "%s: unknown pair density '%s'; use phasespace or flat\n", parsfile.c_str(),
                        name.c_str());
  for (int j = 0; j < n; ++j) w[static_cast<size_t>(j)] = 3.0 * j * j + 3.0 * j + 1.0;  // (j+1)^3 - j^3
  return w;
}

std::string ResolvePath(const std::string &parsfile, const std::string &name) {
  namespace fs = std::filesystem;
  const fs::path p(name);
  if (p.is_absolute()) return name;
  const fs::path dir = fs::path(parsfile).parent_path();
  return dir.empty() ? name : (dir / p).string();
}

bool SameStep(double a, double b) { return std::fabs(a - b) <= 1e-5 * std::fmax(std::fabs(a), std::fabs(b)); }

void ReadComponent(const CCHArray *a, std::vector<double> &v) {
  v.resize(static_cast<size_t>(a->GetNRADIAL()));
  for (int i = 0; i < a->GetNRADIAL(); ++i) v[static_cast<size_t>(i)] = a->GetElement(0, 0, 0, i);
}

}  // namespace QMesh

#include "fit/qmatrix.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "arrays/charray.h"
#include "config/fatal.h"

namespace {

// Largest count of rows or columns a matrix file may declare.
const int kMaxBins = 100000;

// The whitespace-separated words of a line with its "#" comment removed.
std::vector<std::string> Words(std::string line) {
  const size_t hash = line.find('#');
  if (hash != std::string::npos) line.erase(hash);
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// A whole word as a number; fatal, naming the file and line, when it is not one.
double Number(const std::string &word, const std::string &file, int line) {
  const char *begin = word.c_str();
  char *end = nullptr;
  const double x = std::strtod(begin, &end);
  if (end == begin || end != begin + word.size())
    femtokit::FatalFile(file, "matrix file %s, line %d: '%s' is not a number\n", file.c_str(), line, word.c_str());
  return x;
}

}  // namespace

void CQMatrix::Read(const std::string &name, double unitfactor, Type type, double normtolerance) {
  filename = name;
  const char *f = name.c_str();
  std::ifstream in(name);
  if (!in.is_open()) femtokit::FatalFile(name, "cannot open matrix file %s\n", f);
  nrows = ncols = 0;
  m.clear();
  std::string text;
  int line = 0, rows = 0;
  bool header = false;
  while (std::getline(in, text)) {
    ++line;
    const std::vector<std::string> words = Words(text);
    if (words.empty()) continue;
    if (!header) {
      if (words.size() != 4)
        femtokit::FatalFile(name,
                            "matrix file %s, line %d: the header needs the four numbers NROWS ROWSTEP NCOLS COLSTEP, "
                            "the line holds %zu words\n",
                            f, line, words.size());
      const double nr = Number(words[0], name, line), rs = Number(words[1], name, line);
      const double nc = Number(words[2], name, line), cs = Number(words[3], name, line);
      if (!(nr >= 1 && nr <= kMaxBins && nr == std::floor(nr) && nc >= 1 && nc <= kMaxBins && nc == std::floor(nc)))
        femtokit::FatalFile(name, "matrix file %s, line %d: NROWS and NCOLS must be whole numbers from 1 to %d\n", f,
                            line, kMaxBins);
      if (!(std::isfinite(rs) && std::isfinite(cs) && rs > 0 && cs > 0 && std::isfinite(rs * unitfactor) &&
            std::isfinite(cs * unitfactor)))
        femtokit::FatalFile(name, "matrix file %s, line %d: the bin widths ROWSTEP and COLSTEP must be positive\n", f,
                            line);
      nrows = static_cast<int>(nr);
      ncols = static_cast<int>(nc);
      rowstep = rs * unitfactor;
      colstep = cs * unitfactor;
      header = true;
      continue;
    }
    if (rows == nrows)
      femtokit::FatalFile(name, "matrix file %s: wrong size: more than NROWS=%d rows (line %d)\n", f, nrows, line);
    if (static_cast<int>(words.size()) != ncols)
      femtokit::FatalFile(name, "matrix file %s: wrong size: row %d (line %d) holds %zu entries, NCOLS is %d\n", f,
                          rows, line, words.size(), ncols);
    for (int j = 0; j < ncols; ++j) {
      const double x = Number(words[static_cast<size_t>(j)], name, line);
      if (!std::isfinite(x))
        femtokit::FatalFile(name, "matrix file %s: non-finite entry at row %d, column %d (line %d)\n", f, rows, j,
                            line);
      if (x < 0)
        femtokit::FatalFile(name, "matrix file %s: negative entry %g at row %d, column %d (line %d)\n", f, x, rows, j,
                            line);
      m.push_back(x);
    }
    ++rows;
  }
  if (in.bad()) femtokit::FatalFile(name, "cannot read matrix file %s\n", f);
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

// femtokit fit: the measured correlation function from a table or array
// directories, in the table's units, cut to the fit range.
#include "apps/femtokit/fit.h"

#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "kernel/kernel.h"

#include <array>
#include <climits>
#include <cmath>

namespace fkcli {
namespace {

// Component (0,0,0) of an array directory: the values of lx0_ly0_lz0.tmp
// and its bin width. Fails (library error naming the file): missing file,
// bad header, fewer values than announced.
std::vector<double> ReadComponent(const std::string &dir, double &radstep) {
  const std::string file = dir + "/lx0_ly0_lz0.tmp";
  femtokit::NumberReader in(file);
  if (!in.IsOpen()) femtokit::FatalFile(file, "Reading Error: %s, does not exist\n", file.c_str());
  long long n = 0;
  if (!in.Next(n, 1, INT_MAX, "NRADIAL") || !in.Next(radstep, "RADSTEP") || !(radstep > 0.0))
    femtokit::FatalFile(file, "Reading Error: %s has no valid header (NRADIAL RADSTEP)\n", file.c_str());
  std::vector<double> values;  // grows with what the file holds, not with the announced count
  for (long long i = 0; i < n; i++) {
    double v;
    if (!in.Next(v, "value"))
      femtokit::FatalFile(file, "Reading Error: %s holds %lld readable values, %lld expected\n", file.c_str(), i, n);
    values.push_back(v);
  }
  in.WarnIfTrailing();
  return values;
}

// The factor from a table's q column to femtokit's q (the momentum of one
// particle in the pair frame, k*, in MeV/c) and a label, from --units
// VARIABLE/UNIT: q, kstar or k* (all k*), qinv or q_inv (= 2 k*); MeV or GeV.
double UnitsFactor(const std::string &units, std::string &label) {
  const size_t slash = units.find_first_of("/,:");
  const std::string variable = units.substr(0, slash), unit = slash == std::string::npos ? "" : units.substr(slash + 1);
  double factor;
  if (variable == "q" || variable == "kstar" || variable == "k*")
    factor = 1.0;
  else if (variable == "qinv" || variable == "q_inv")
    factor = 0.5;
  else
    ArgumentError("--units " + units, "expected VARIABLE/UNIT with VARIABLE q, kstar (k*, = q) or qinv (= 2 k*) and "
                                      "UNIT MeV or GeV, e.g. qinv/GeV");
  if (unit == "MeV" || unit == "MeV/c")
    ;
  else if (unit == "GeV" || unit == "GeV/c")
    factor *= 1000.0;
  else
    ArgumentError("--units " + units, "expected the unit MeV or GeV after the variable, e.g. qinv/GeV");
  label = variable + " in " + unit;
  return factor;
}

// True when every row's q is a bin centre (i + 0.5) dq.
bool OnMesh(const std::vector<std::array<double, 3>> &rows, double dq) {
  for (const auto &row : rows) {
    const double k = row[0] / dq - 0.5;
    if (std::fabs(k - std::round(k)) > 1e-4 || k < -1e-4) return false;
  }
  return true;
}

// Rows (q in MeV/c, C - 1, error) on a bin-centred mesh: the kernel's when the
// rows are some of its bins, else the one whose spacing is the smallest step
// between rows (rows may leave bins out). That spacing must be plausible
// against the kernel's bins.
Measured FromRows(const std::string &file, const std::vector<std::array<double, 3>> &rows, const CKernel &kernel,
                  const std::string &units, double factor) {
  Measured m;
  const double kdq = kernel.GetDELQ();
  double dq = rows.size() > 1 ? HUGE_VAL : 2.0 * rows[0][0];
  for (size_t i = 1; i < rows.size(); i++) {
    if (!(rows[i][0] > rows[i - 1][0]))
      femtokit::FatalFile(file, "%s: q=%g in row %zu does not exceed the row before (q=%g)\n", file.c_str(),
                          rows[i][0] / factor, i + 1, rows[i - 1][0] / factor);
    dq = std::min(dq, rows[i][0] - rows[i - 1][0]);
  }
  if (OnMesh(rows, kdq)) dq = kdq;
  if (!(dq > 0.0) || !std::isfinite(dq))
    femtokit::FatalFile(file, "%s: no bin width follows from its q column\n", file.c_str());
  // A factor 5 either way: tables in GeV read as MeV (1000), q_inv as k* (2) and the like.
  if (dq < 0.2 * kdq || dq > 20.0 * kdq)
    ArgumentError("--units " + units, femtokit::Format("the table %s has q bins of %g MeV/c (%g as %s), implausible "
                                                       "against the kernel's bins of %g MeV/c; give the table's "
                                                       "units with --units (e.g. qinv/GeV)",
                                                       file.c_str(), dq, dq / factor, units.c_str(), kdq));
  m.dq = dq;
  for (const auto &row : rows) {
    const double k = row[0] / dq - 0.5;
    if (std::fabs(k - std::round(k)) > 1e-4 || k < -1e-4)
      femtokit::FatalFile(file, "%s: q=%g is not on the bin-centred mesh q = (i + 0.5) %g (%s) that its rows "
                          "step by\n",
                          file.c_str(), row[0] / factor, dq / factor, units.c_str());
    const size_t i = static_cast<size_t>(std::lround(k));
    if (m.cm1.size() <= i) {
      m.cm1.resize(i + 1, 0.0);
      m.error.resize(i + 1, HUGE_VAL);
    }
    m.cm1[i] = row[1];
    m.error[i] = row[2];
  }
  return m;
}

}  // namespace

Measured ReadMeasured(const FitOptions &o, const CKernel &kernel) {
  Measured m;
  double factor = 1.0;
  if (!o.table.empty()) {
    std::string label;
    factor = UnitsFactor(o.units, label);
    const Table t = ReadTable(o.table);
    int iq = t.Column("q"), ic = t.Column("C_exp"), ie = t.Column("error");
    if (ic < 0) ic = t.Column("C");
    if (iq < 0 || ic < 0 || ie < 0) iq = 0, ic = 1, ie = 2;
    if (t.rows[0].size() < 3)
      femtokit::FatalFile(o.table, "%s: the table needs the columns q (MeV/c), C and error\n", o.table.c_str());
    std::vector<std::array<double, 3>> rows;
    for (const auto &row : t.rows) {
      const double q = row[static_cast<size_t>(iq)], e = row[static_cast<size_t>(ie)];
      if (!(e > 0.0))
        femtokit::FatalFile(o.table, "%s: the error %g at q=%g is not positive\n", o.table.c_str(), e, q);
      rows.push_back({q * factor, row[static_cast<size_t>(ic)] - 1.0, e});
    }
    m = FromRows(o.table, rows, kernel, o.units, factor);
  } else {
    if (o.units != "q/MeV")
      ArgumentError("--units " + o.units, "array directories (--data) hold q in MeV/c; --units describes a --table");
    double de = 0.0;
    m.cm1 = ReadComponent(o.data, m.dq);
    m.error = ReadComponent(o.errors, de);
    if (m.cm1.size() != m.error.size() || std::fabs(de - m.dq) > 1e-6 * m.dq)
      femtokit::FatalFile(o.errors, "%s: %zu bins of %g MeV/c, the data %s %zu bins of %g MeV/c\n", o.errors.c_str(),
                          m.error.size(), de, o.data.c_str(), m.cm1.size(), m.dq);
    for (size_t i = 0; i < m.error.size(); i++)
      if (!(m.error[i] > 0.0))
        femtokit::FatalFile(o.errors, "%s: the error %g in bin %zu is not positive\n", o.errors.c_str(), m.error[i], i);
  }
  // The fit range, in the units of the data's q.
  if (o.qmin >= 0.0 && o.qmax >= 0.0 && !(o.qmax > o.qmin))
    ArgumentError("--qmin/--qmax", femtokit::Format("expected qmin < qmax, got %g and %g", o.qmin, o.qmax));
  for (size_t i = 0; i < m.cm1.size(); i++) {
    const double q = (i + 0.5) * m.dq / factor;
    if ((o.qmin >= 0.0 && q < o.qmin) || (o.qmax >= 0.0 && q > o.qmax)) m.error[i] = HUGE_VAL;
  }
  while (!m.error.empty() && std::isinf(m.error.back())) {
    m.error.pop_back();
    m.cm1.pop_back();
  }
  for (double e : m.error) m.measured += std::isfinite(e) ? 1 : 0;
  if (m.measured == 0)
    ArgumentError("--qmin/--qmax", femtokit::Format("no measured bin lies in the fit range %g ... %g", o.qmin,
                                                    o.qmax < 0.0 ? HUGE_VAL : o.qmax));
  return m;
}

}  // namespace fkcli

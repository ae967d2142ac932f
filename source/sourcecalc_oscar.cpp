#include "source/sourcecalc_oscar.h"
#include "source/sourceparameters.h"
#include "source/species.h"
#include "source/internal/hepmcreader.h"
#include "config/constants.h"

#include <climits>
#include <exception>
#include <cmath>
#include <vector>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "config/parametermap.h"

namespace {

using femtokit::constants::FOURPIOVERTHREE;
const double TREF = 12.0;  // reference time of the comoving frames, fm/c

// The selection window and the frame of the nominal pair.
struct Selection {
  double pa, pb, delpt, phimin, phimax, ymin, ymax, Ma, Mb, gamma, gammav;
  int IDa, IDb;
  bool aeqb;
  long nmax;
};

// Where a particle line lies, for messages: the file, the event (from 1) and the line.
struct Place {
  const std::string &file;
  int event;
  long line;
};

// Applies the selection to one particle (momenta in MeV, positions in fm and
// fm/c) and appends its row to the list of its species.
void Accept(const Selection &sel, const Place &at, long long ID, double px, double py, double pz, double E, double x,
            double y, double z, double t, femtokit::PointList &ra, femtokit::PointList &rb) {
  if (ID != sel.IDa && ID != sel.IDb) return;
  const double pT = std::sqrt(px * px + py * py);
  if (!((ID == sel.IDa && std::fabs(pT - sel.pa) < sel.delpt) || (ID == sel.IDb && std::fabs(pT - sel.pb) < sel.delpt)))
    return;
  if (!(pT > 0.0)) return;  // no transverse direction to define "out"
  double phi = std::atan2(px, py);
  if (phi < 0.0) phi += 2.0 * M_PI;
  if (!(sel.phimin < phi && phi < sel.phimax)) return;
  const double rapidity = std::atanh(pz / E);
  if (!(sel.ymin < rapidity && rapidity < sel.ymax)) return;

  const double m = ID == sel.IDa ? sel.Ma : sel.Mb;
  const double mT = std::sqrt(pT * pT + m * m);
  const double out = (x * px + y * py) / pT, side = (px * y - py * x) / pT;
  const double ch = std::cosh(rapidity), sh = std::sinh(rapidity);
  const double tL = ch * t - sh * z, zL = ch * z - sh * t;
  const double outp = out - (pT / mT) * (tL - TREF);
  const bool to_a = ID == sel.IDa || sel.aeqb;
  femtokit::PointList &list = to_a ? ra : rb;
  if (static_cast<long>(list.size()) >= sel.nmax)
    femtokit::FatalFile(at.file,
                        "event file %s, event %d%s: too many type-%c particles, more than NMAX=%ld; increase NMAX\n",
                        at.file.c_str(), at.event, at.line > 0 ? femtokit::Format(" (line %ld)", at.line).c_str() : "",
                        to_a ? 'a' : 'b', sel.nmax);
  list.push_back({sel.gamma * TREF - sel.gammav * outp, sel.gamma * outp - sel.gammav * TREF, side, zL});
}

using femtokit::LineReader;

// A number word of the line: refused with file, line and column when it is
// none, except on a last line cut by the end of the file (a truncated file,
// whose reading stops in order); false there.
bool Number(const LineReader &in, std::size_t i, const char *what, double &value) {
  if (in.IsNumber(i, value)) return true;
  if (in.Terminated()) value = in.Number(i, what);  // fatal
  return false;
}

bool Integer(const LineReader &in, std::size_t i, const char *what, long long &value) {
  if (in.IsInteger(i, value)) return true;
  if (in.Terminated()) value = in.Integer(i, LLONG_MIN, LLONG_MAX, what);  // fatal
  return false;
}

// Ends the reading of a malformed or truncated event with a warning.
void StopReading(const std::string &filename, int events, long line, const std::string &why) {
  femtokit::Warn("WARNING: event file %s: event %d is malformed or truncated at line %ld (%s); reading stops after "
                 "%d complete events, keeping the particles read so far\n",
                 filename.c_str(), events + 1, line, why.c_str(), events);
}

// The default format: five header lines, then per event "n <int>", n particle
// lines and three skipped lines. `in` holds the first line.
int ReadDefault(LineReader &in, int neventsmax, const Selection &sel, femtokit::PointList &ra,
                femtokit::PointList &rb) {
  const std::string &filename = in.filename();
  femtokit::Print("dummy line=%.*s\n", static_cast<int>(in.Text().size()), in.Text().data());
  for (int i = 1; i < 5; i++) {
    if (!in.Next()) {
      femtokit::Warn("WARNING: event file %s ends within its five header lines\n", filename.c_str());
      return 0;
    }
    femtokit::Print("dummy line=%.*s\n", static_cast<int>(in.Text().size()), in.Text().data());
  }
  int events = 0;
  while (events < neventsmax) {
    if (!in.NextWithWords()) break;  // the end of the file
    long long n = 0, unused = 0;
    if (in.Size() < 2 || !Integer(in, 0, "particle count", n) || !Integer(in, 1, "event field", unused) || n < 0) {
      StopReading(filename, events, in.Line(), "an event line \"n <int>\" was expected");
      return events;
    }
    for (long long k = 0; k < n; k++) {
      if (!in.Next()) {
        StopReading(filename, events, in.Line(),
                    femtokit::Format("the file ends after %lld of %lld particle lines", k, n));
        return events;
      }
      static const char *const fields[12] = {"index", "ID", "field 3", "px", "py", "pz", "E", "mass", "x", "y",
                                             "z",     "t"};
      long long ints[3];
      double v[9];
      bool ok = in.Size() >= 12;
      for (int j = 0; ok && j < 3; j++) ok = Integer(in, static_cast<std::size_t>(j), fields[j], ints[j]);
      for (int j = 0; ok && j < 9; j++) ok = Number(in, static_cast<std::size_t>(3 + j), fields[3 + j], v[j]);
      if (!ok) {
        StopReading(filename, events, in.Line(),
                    "a particle line needs three integers and nine finite numbers px py pz E mass x y z t");
        return events;
      }
      Accept(sel, Place{filename, events + 1, in.Line()}, ints[1], 1000.0 * v[0], 1000.0 * v[1], 1000.0 * v[2],
             1000.0 * v[3], v[5], v[6], v[7], v[8], ra, rb);
    }
    for (int k = 0; k < 3 && in.Next(); k++) {
    }
    events++;
  }
  return events;
}

// OSCAR2013 particle lists: columns named by the header, '#' comments, events
// closed by "# event <n> end". `in` holds the header line.
int ReadOSCAR2013(LineReader &in, int neventsmax, const Selection &sel, femtokit::PointList &ra,
                  femtokit::PointList &rb) {
  const std::string &filename = in.filename();
  if (in.Size() < 2 || in.Word(1) != "particle_lists")
    femtokit::FatalFile(filename, "OSCAR2013 file %s holds %s, not particle_lists\n", filename.c_str(),
                        in.Size() < 2 ? "no content name" : femtokit::QuotedWord(in.Word(1)).c_str());
  const char *names[9] = {"t", "x", "y", "z", "p0", "px", "py", "pz", "pdg"};
  int column[9];
  std::size_t ncolumns = 0;
  for (int k = 0; k < 9; k++) {
    column[k] = -1;
    for (std::size_t j = 2; j < in.Size(); j++)
      if (in.Word(j) == names[k]) {
        column[k] = static_cast<int>(j - 2);
        break;
      }
    if (column[k] < 0)
      femtokit::FatalFile(filename, "OSCAR2013 file %s: the header line names no column \"%s\"\n", filename.c_str(),
                          names[k]);
    if (static_cast<std::size_t>(column[k]) + 1 > ncolumns) ncolumns = static_cast<std::size_t>(column[k]) + 1;
  }

  int events = 0;
  long long declared = -1, count = 0;  // particle lines announced and seen in the current block
  bool skipping = false, open = false;
  while (events < neventsmax && in.NextWithWords()) {
    if (in.Word(0)[0] == '#') {
      // "# event <n> in|out <m>" opens a block, "# event <n> end ..." closes the event.
      const bool event = in.Size() >= 4 && in.Word(0) == "#" && in.Word(1) == "event";
      if (!event) continue;
      if (declared >= 0 && count != declared) {
        StopReading(filename, events, in.Line(),
                    femtokit::Format("a block announced %lld particle lines and holds %lld", declared, count));
        return events;
      }
      if (in.Word(3) == "end") {
        events++;
        declared = -1;
        count = 0;
        skipping = false;
        open = false;
      } else if (in.Word(3) == "in" || in.Word(3) == "out") {
        long long m = -1;
        if (in.Size() < 5 || !Integer(in, 4, "particle count", m) || m < 0) {
          StopReading(filename, events, in.Line(), "an event block line \"# event <n> in|out <count>\" has no count");
          return events;
        }
        declared = m;
        count = 0;
        skipping = in.Word(3) == "in";
        open = true;
      }
      continue;
    }
    open = true;
    if (declared >= 0 && count >= declared) {
      StopReading(filename, events, in.Line(),
                  femtokit::Format("a block holds more than the %lld particle lines it announced", declared));
      return events;
    }
    count++;
    if (skipping) continue;
    double v[8];
    long long pdg = 0;
    bool ok = in.Size() >= ncolumns && Integer(in, static_cast<std::size_t>(column[8]), "pdg", pdg);
    for (int k = 0; ok && k < 8; k++) ok = Number(in, static_cast<std::size_t>(column[k]), names[k], v[k]);
    if (!ok) {
      StopReading(filename, events, in.Line(),
                  femtokit::Format("a particle line needs %zu columns with finite t x y z p0 px py pz and an "
                                   "integer pdg", ncolumns));
      return events;
    }
    // v: t x y z (fm) p0 px py pz (GeV)
    Accept(sel, Place{filename, events + 1, in.Line()}, pdg, 1000.0 * v[5], 1000.0 * v[6], 1000.0 * v[7],
           1000.0 * v[4], v[1], v[2], v[3], v[0], ra, rb);
  }
  if (open && events < neventsmax)
    StopReading(filename, events, in.Line(), "the file ends inside the event, before its end line");
  return events;
}

}  // namespace

CSourceCalc_OSCAR::CSourceCalc_OSCAR() { InitSPars(); }

void CSourceCalc_OSCAR::InitSPars() {
  for (const femtokit::SourceParameter &p : femtokit::EventsModel().parameters) parameter::set(spars, p.name, p.def);
  parameter::set(spars, "OSCARfilename", "UNDEFINED");
}

void CSourceCalc_OSCAR::SetSPars(double Pt, double DELPT, double PHIMIN_DEG, double PHIMAX_DEG, double YMIN,
                                 double YMAX) {
  parameter::set(spars, "Pt", Pt);
  parameter::set(spars, "DELPT", DELPT);
  parameter::set(spars, "PHIMIN_DEG", PHIMIN_DEG);
  parameter::set(spars, "PHIMAX_DEG", PHIMAX_DEG);
  parameter::set(spars, "YMIN", YMIN);
  parameter::set(spars, "YMAX", YMAX);
}

void CSourceCalc_OSCAR::SetIDs(int IDa, int IDb) {
  const double Ma = femtokit::SpeciesMass(IDa), Mb = femtokit::SpeciesMass(IDb);
  if (Ma == 0.0)
    femtokit::Fatal("%d for IDa not recognized: no species of the mass table; give the mass (SetIDs with masses, or Ma)\n",
                    IDa);
  if (Mb == 0.0)
    femtokit::Fatal("%d for IDb not recognized: no species of the mass table; give the mass (SetIDs with masses, or Mb)\n",
                    IDb);
  SetIDs(IDa, IDb, Ma, Mb);
}

void CSourceCalc_OSCAR::SetIDs(int IDa, int IDb, double Ma, double Mb) {
  if (!(Ma > 0.0) || !std::isfinite(Ma)) femtokit::Fatal("CSourceCalc_OSCAR: mass Ma=%g of IDa=%d must be positive\n", Ma, IDa);
  if (!(Mb > 0.0) || !std::isfinite(Mb)) femtokit::Fatal("CSourceCalc_OSCAR: mass Mb=%g of IDb=%d must be positive\n", Mb, IDb);
  parameter::set(spars, "IDa", IDa);
  parameter::set(spars, "IDb", IDb);
  parameter::set(spars, "Ma", Ma);
  parameter::set(spars, "Mb", Mb);
  parameter::set(spars, "AEQUALB", IDa == IDb ? 1 : 0);
}

int CSourceCalc_OSCAR::ReadR(Points &ra, Points &rb) {
  ra.clear();
  rb.clear();
  const femtokit::SourceModel &model = femtokit::EventsModel();
  auto get = [&](const char *name) { return femtokit::ReadChecked(spars, model, name); };
  Selection sel;
  sel.IDa = static_cast<int>(get("IDa"));
  sel.IDb = static_cast<int>(get("IDb"));
  sel.Ma = get("Ma");
  sel.Mb = get("Mb");
  sel.aeqb = get("AEQUALB") != 0.0;
  sel.nmax = static_cast<int>(get("NMAX"));
  sel.delpt = get("DELPT");
  sel.phimin = 2.0 * M_PI * get("PHIMIN_DEG") / 360.0;
  sel.phimax = 2.0 * M_PI * get("PHIMAX_DEG") / 360.0;
  sel.ymin = get("YMIN");
  sel.ymax = get("YMAX");
  const double Pt = get("Pt");
  const int neventsmax = static_cast<int>(get("NEVENTSMAX"));
  const std::string filename = parameter::getS(spars, "OSCARfilename", "UNDEFINED");
  if (!(sel.Ma > 0.0) || !(sel.Mb > 0.0))
    femtokit::Fatal("CSourceCalc_OSCAR: masses Ma=%g, Mb=%g must be positive\n", sel.Ma, sel.Mb);

  // Single-particle momenta of the nominal pair (equal velocities) and its boost.
  sel.pa = Pt * sel.Ma / (sel.Ma + sel.Mb);
  sel.pb = Pt * sel.Mb / (sel.Ma + sel.Mb);
  const double Ea = std::sqrt(sel.Ma * sel.Ma + sel.pa * sel.pa), Eb = std::sqrt(sel.Mb * sel.Mb + sel.pb * sel.pb);
  const double v = Pt / (Ea + Eb);
  sel.gammav = v / std::sqrt(1.0 - v * v);
  sel.gamma = std::sqrt(1.0 + sel.gammav * sel.gammav);
  femtokit::Print("Pt=%g, gammav=%g, gamma=%g\n", Pt, sel.gammav, sel.gamma);

  femtokit::Print("Opening %s\n", filename.c_str());
  LineReader in(filename, false);
  if (!in.IsOpen()) femtokit::FatalFile(filename, "Cannot open event file %s\n", filename.c_str());
  int events = 0;
  if (const int version = femtokit::HepMCVersion(filename)) {
    const int status = static_cast<int>(get("STATUS"));
    events = femtokit::ReadHepMC(filename, version, neventsmax, status, sel.IDa, sel.IDb,
                                 [&](const femtokit::HepMCParticle &p) {
                                   Accept(sel, Place{filename, p.event, 0}, p.pdg, p.px, p.py, p.pz, p.E, p.x, p.y,
                                          p.z, p.t, ra, rb);
                                 });
  } else if (!in.Next()) {
    femtokit::Warn("WARNING: event file %s is empty\n", filename.c_str());
  } else if (in.Text().compare(0, 11, "#!OSCAR2013") == 0) {
    events = ReadOSCAR2013(in, neventsmax, sel, ra, rb);
  } else {
    events = ReadDefault(in, neventsmax, sel, ra, rb);
  }
  const std::size_t nb = sel.aeqb ? ra.size() : rb.size();
  femtokit::Print("event file read: %d events, na=%zu, nb=%zu\n", events, ra.size(), nb);
  return events;
}

void CSourceCalc_OSCAR::CalcS(CCHArray *A) {
  const double delr = A->GetRADSTEP();
  femtokit::Print("delr=%g, nrmax=%d\n", delr, A->GetNRADIAL());
  const int IDa = parameter::getI(spars, "IDa", 211), IDb = parameter::getI(spars, "IDb", 211);
  if (IDa == IDb) parameter::set(spars, "AEQUALB", 1);
  const bool identical = parameter::getB(spars, "AEQUALB", false);

  Points ra, rb;
  summary = Summary();
  if (!partition) {
    summary.events = ReadR(ra, rb);
  } else {
    // Rank 0 reads; a failure there is reported on every rank, so none waits for lists that never come.
    std::exception_ptr failure;
    if (partition->Rank() == 0) {
      try {
        summary.events = ReadR(ra, rb);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    const bool ok = partition->AllSucceeded(!failure);
    if (failure) std::rethrow_exception(failure);
    if (!ok)
      femtokit::FatalFile(parameter::getS(spars, "OSCARfilename", "UNDEFINED"),
                          "event file %s could not be read by the first process\n",
                          parameter::getS(spars, "OSCARfilename", "UNDEFINED").c_str());
    partition->SharePoints(ra, rb, summary.events);
  }
  summary.na = static_cast<double>(ra.size());
  summary.nb = identical ? summary.na : static_cast<double>(rb.size());

  A->ZeroArray();
  const std::size_t k = ra.size() / 10;
  const std::function<void(std::size_t)> report = PairProgress(ra.size(), identical ? ra.size() : rb.size(), identical);
  const femtokit::PairSums sums = femtokit::HistogramPairs(
      ra, rb, identical, 1.0, A,
      [k, &report](std::size_t i) {
        if (k > 0 && (i + 1) % k == 0) femtokit::Print("finished %g percent\n", 10.0 * double(i + 1) / double(k));
        if (report) report(i);
      },
      partition.get());  summary.pairs = sums.pairs;
  summary.inside = sums.inside;
  if (sums.pairs > 0.0)
    WarnLostFraction(1.0 - sums.inside / sums.pairs, "selected pairs",
                     femtokit::Format("reaches %g fm", A->GetNRADIAL() * A->GetRADSTEP()));
  if (!(sums.pairs > 0.0)) {
    femtokit::Warn("WARNING: no pair of selected particles in %s (na=%g, nb=%g): the source stays zero\n",
                   parameter::getS(spars, "OSCARfilename", "UNDEFINED").c_str(), summary.na, summary.nb);
    return;
  }

  const double c = 1.0 / sums.pairs;  // 2/(na(na-1)) or 1/(na nb)
  for (int i = 0; i < 3; i++) {
    summary.mean[i] = c * sums.sum[i];
    const double variance = c * sums.sum2[i] - summary.mean[i] * summary.mean[i];
    summary.radius[i] = std::sqrt(0.5 * std::fmax(variance, 0.0));
  }
  femtokit::Print("xbar=%g, ybar=%g, zbar=%g\n", summary.mean[0], summary.mean[1], summary.mean[2]);
  femtokit::Print("Effective radii: Rout=%g, Rside=%g, Rlong=%g\n", summary.radius[0], summary.radius[1],
                  summary.radius[2]);
  for (int ir = 0; ir < A->GetNRADIAL(); ir++) {
    const double volume =
        FOURPIOVERTHREE * delr * delr * delr * ((ir + 1.0) * (ir + 1.0) * (ir + 1.0) - 1.0 * ir * ir * ir);
    A->ScaleArray(c / volume, ir);
  }
}

#include "source/sourceparameters.h"

#include <cmath>
#include <limits>

#include "config/constants.h"
#include "config/fatal.h"
#include "config/numberreader.h"

namespace femtokit {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Widths beyond 1000 fm (or times beyond 1000 fm/c) leave no correlation at any
// momentum the kernels reach, and their normalisations underflow.
constexpr double kMaxLength = 1000.0;

// Short forms for the tables: open/closed ends.
SourceParameter Par(const char *name, const char *unit, double def, double min, bool minOpen, double max,
                    bool maxOpen, double step, const char *meaning, bool integer = false) {
  return SourceParameter{name, unit, def, min, max, minOpen, maxOpen, step, integer, meaning};
}

std::string Number(double x) {
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  return Format("%g", x);
}

}  // namespace

const SourceParameter *SourceModel::Find(const std::string &key) const {
  for (const SourceParameter &p : parameters)
    if (key == p.name) return &p;
  return nullptr;
}

std::string RangeText(const SourceParameter &p) {
  std::string text = std::string(p.minOpen ? "(" : "[") + Number(p.min) + ", " + Number(p.max) + (p.maxOpen ? ")" : "]");
  if (p.unit && *p.unit) text += std::string(" ") + p.unit;
  return text;
}

bool InRange(const SourceParameter &p, double value) {
  if (!std::isfinite(value)) return false;
  if (p.minOpen ? !(value > p.min) : !(value >= p.min)) return false;
  if (p.maxOpen ? !(value < p.max) : !(value <= p.max)) return false;
  return !p.integer || value == std::floor(value);
}

double ReadChecked(const parameterMap &spars, const SourceModel &model, const SourceParameter &p) {
  auto it = spars.find(p.name);
  if (it == spars.end()) return p.def;
  double value;
  std::string why;
  if (!ParseNumber(it->second, value))
    why = Format("%s source: parameter %s = %s is not a finite number (range %s)", model.name, p.name,
                 QuotedWord(it->second).c_str(), RangeText(p).c_str());
  else if (!InRange(p, value))
    why = Format("%s source: parameter %s = %s is outside its range %s%s", model.name, p.name, it->second.c_str(),
                 RangeText(p).c_str(), p.integer ? " (a whole number)" : "");
  if (why.empty()) return value;
  // A value read from a file names the file and line.
  if (const parameterMap::Origin *o = parameter::OriginOf(spars, p.name))
    FatalFile(o->file, "parameter file %s, line %ld: %s\n", o->file.c_str(), o->line, why.c_str());
  Fatal("%s\n", why.c_str());
}

double ReadChecked(const parameterMap &spars, const SourceModel &model, const std::string &name) {
  const SourceParameter *p = model.Find(name);
  if (!p) Fatal("%s source: no parameter %s\n", model.name, name.c_str());
  return ReadChecked(spars, model, *p);
}

void CheckAll(const parameterMap &spars, const SourceModel &model) {
  for (const SourceParameter &p : model.parameters) ReadChecked(spars, model, p);
}

const SourceModel &GX1DModel() {
  static const SourceModel model{
      "gx1d",
      "Gaussian plus exponential-like tail in the pair separation r; components of order L carry the factor "
      "(r^2/(r^2 + a^2))^(L/2), so the source is not isotropic unless a is large",
      {Par("lambdaG", "", 0.3, 0.0, false, 1.0, false, 0.05, "weight (integral) of the Gaussian part"),
       Par("R", "fm", 5.0, 0.0, true, kMaxLength, false, 0.5,
           "Gaussian radius: S ~ exp(-r^2/(4 R^2)), R the one-particle radius (pair width sqrt(2) R)"),
       Par("lambdaX", "", 0.3, 0.0, false, 1.0, false, 0.05, "weight (integral) of the exponential-like tail"),
       Par("X", "fm", 10.0, 0.0, true, kMaxLength, false, 1.0,
           "tail length: the tail falls as exp(-sqrt(u^2 + r^2/X^2)), u = 2 R^2/X^2"),
       Par("a", "fm", 5.0, 0.0, false, kMaxLength, false, 0.5,
           "angular scale: component L carries (r^2/(r^2 + a^2))^(L/2)")}};
  return model;
}

const SourceModel &LevyModel() {
  static const SourceModel model{
      "levy",
      "isotropic Levy-stable source, S integrates to lambda; alpha = 2 is the Gaussian of radius R, alpha = 1 "
      "the Cauchy form",
      {Par("lambda", "", 1.0, 0.0, false, 1.0, false, 0.05, "integral of the source"),
       Par("R", "fm", 5.0, 0.0, true, kMaxLength, false, 0.5,
           "Levy scale: characteristic function exp(-|k R|^alpha) of the pair separation"),
       Par("alpha", "", 1.5, 0.0, true, 2.0, false, 0.05, "stability index: tail ~ r^-(3 + alpha) for alpha < 2")}};
  return model;
}

const SourceModel &Gauss3DModel() {
  static const SourceModel model{
      "gauss3d",
      "three-dimensional Gaussian in the pair separation, radii along its principal axes, turned by Euler angles",
      {Par("lambda", "", 1.0, 0.0, false, 1.0, false, 0.05, "integral of the source"),
       Par("Rx", "fm", 4.0, 0.0, true, kMaxLength, false, 0.5, "radius along x: S ~ exp(-x^2/(4 Rx^2))"),
       Par("Ry", "fm", 4.0, 0.0, true, kMaxLength, false, 0.5, "radius along y: S ~ exp(-y^2/(4 Ry^2))"),
       Par("Rz", "fm", 4.0, 0.0, true, kMaxLength, false, 0.5, "radius along z: S ~ exp(-z^2/(4 Rz^2))"),
       Par("Xoff", "fm", 0.0, -kMaxLength, false, kMaxLength, false, 0.5, "centre offset along x"),
       Par("Yoff", "fm", 0.0, -kMaxLength, false, kMaxLength, false, 0.5, "centre offset along y"),
       Par("Zoff", "fm", 0.0, -kMaxLength, false, kMaxLength, false, 0.5, "centre offset along z"),
       Par("Euler_Phi", "rad", 0.0, -4.0 * M_PI, false, 4.0 * M_PI, false, 0.05, "first Euler angle (about z)"),
       Par("Euler_Theta", "rad", 0.0, -4.0 * M_PI, false, 4.0 * M_PI, false, 0.05, "second Euler angle (about y)"),
       Par("Euler_Psi", "rad", 0.0, -4.0 * M_PI, false, 4.0 * M_PI, false, 0.05, "third Euler angle (about z)")}};
  return model;
}

const SourceModel &BlastModel() {
  static const SourceModel model{
      "blast",
      "boost-invariant blast wave sampled by Monte Carlo, separations in the frame moving with the pair",
      {Par("lambda", "", 0.5, 0.0, false, 1.0, false, 0.05, "integral of the source"),
       Par("R", "fm", 13.0, 0.0, false, kMaxLength, false, 0.5, "transverse radius of the emitting disk"),
       Par("Tau", "fm/c", 12.0, 0.0, true, kMaxLength, false, 0.5, "mean proper emission time"),
       Par("DelTau", "fm/c", 3.0, 0.0, true, kMaxLength, false, 0.5, "spread of the proper emission time"),
       Par("Beta", "c", 0.7, 0.0, false, 1.0, true, 0.02, "transverse flow velocity at the edge"),
       Par("T", "MeV", 110.0, 0.0, true, 10000.0, false, 5.0, "temperature"),
       Par("Pt", "MeV/c", 600.0, 0.0, false, 100000.0, false, 50.0, "total transverse momentum of the pair"),
       Par("Phi", "rad", 0.0, -kInf, true, kInf, true, 0.1, "azimuth of the pair (not used)"),
       Par("EtaG", "", 1.5, 0.0, false, 100.0, false, 0.1, "width of the Gaussian in spatial rapidity"),
       Par("Ma", "MeV", constants::MPROTON_SOURCE, 0.0, true, 100000.0, false, 1.0, "mass of particle a"),
       Par("Mb", "MeV", constants::MPI, 0.0, true, 100000.0, false, 1.0, "mass of particle b"),
       Par("Nsample", "", 1000, 1.0, false, 1e8, false, 100.0, "emission points per species", true)}};
  return model;
}

const SourceModel &EventsModel() {
  static const SourceModel model{
      "events",
      "pair separations of selected particles in an event file (OSCAR, HepMC), in the frame of the nominal pair",
      {Par("Pt", "MeV/c", 600.0, 0.0, false, 100000.0, false, 0.0, "total transverse momentum of the nominal pair"),
       Par("DELPT", "MeV/c", 20.0, 0.0, true, 100000.0, false, 0.0, "half-width of the one-particle pT window"),
       Par("PHIMIN_DEG", "deg", 0.0, -360.0, false, 720.0, false, 0.0, "lower end of the azimuth window"),
       Par("PHIMAX_DEG", "deg", 360.0, -360.0, false, 720.0, false, 0.0, "upper end of the azimuth window"),
       Par("YMIN", "", -3.0, -100.0, false, 100.0, false, 0.0, "lower end of the rapidity window"),
       Par("YMAX", "", 3.0, -100.0, false, 100.0, false, 0.0, "upper end of the rapidity window"),
       Par("IDa", "", 211, -1e9, false, 1e9, false, 0.0, "species code of particle a", true),
       Par("IDb", "", 211, -1e9, false, 1e9, false, 0.0, "species code of particle b", true),
       Par("Ma", "MeV", constants::MPI, 0.0, true, 100000.0, false, 0.0, "mass of particle a"),
       Par("Mb", "MeV", constants::MPI, 0.0, true, 100000.0, false, 0.0, "mass of particle b"),
       Par("AEQUALB", "", 0, 0.0, false, 1.0, false, 0.0, "1 when a and b are the same species", true),
       Par("NMAX", "", 1000000, 1.0, false, 2147483647.0, false, 0.0, "most particles kept per species", true),
       Par("NEVENTSMAX", "", 10000, 1.0, false, 2147483647.0, false, 0.0, "most events read", true),
       Par("STATUS", "", 1, -1e9, false, 1e9, false, 0.0, "status of the particles taken from a HepMC file (1: final)",
           true)}};
  return model;
}

const std::vector<const SourceModel *> &SourceModels() {
  static const std::vector<const SourceModel *> models{&GX1DModel(), &LevyModel(), &Gauss3DModel(), &BlastModel(),
                                                       &EventsModel()};
  return models;
}

const SourceModel *FindSourceModel(const std::string &name) {
  for (const SourceModel *m : SourceModels())
    if (name == m->name) return m;
  return nullptr;
}

}  // namespace femtokit

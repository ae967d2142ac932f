#include "wavefunction/potential.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_interp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "config/fatal.h"
#include "config/numberreader.h"

namespace femtokit {

struct LocalPotential::Spline {
  std::vector<double> r, v;
  struct Deleter {
    void operator()(gsl_interp *p) const { gsl_interp_free(p); }
  };
  std::unique_ptr<gsl_interp, Deleter> interp;
};

namespace {

// Usmani constants (MeV, fm).
const double kWc = 2137.0, kRc = 0.5, kAc = 0.2, kVbar = 6.2, kVsigma = 0.25, kMuPi = 0.7, kCcut = 2.0;

double Required(const parameterMap &pars, const std::string &key, const std::string &file, const char *form) {
  if (!pars.count(key)) FatalFile(file, "%s: the %s potential needs %s\n", file.c_str(), form, key.c_str());
  const double value = parameter::getD(pars, key, 0.0);
  if (!std::isfinite(value)) FatalFile(file, "%s: %s is not a finite number\n", file.c_str(), key.c_str());
  return value;
}

double Positive(const parameterMap &pars, const std::string &key, const std::string &file, const char *form) {
  const double value = Required(pars, key, file, form);
  if (!(value > 0.0)) FatalFile(file, "%s: %s=%g must be positive\n", file.c_str(), key.c_str(), value);
  return value;
}

std::string Directory(const std::string &filename) {
  const std::size_t slash = filename.rfind('/');
  return slash == std::string::npos ? std::string() : filename.substr(0, slash + 1);
}

// T_pi(r) of the Usmani potential.
double TensorPion(double r) {
  if (r <= 0.0) return 0.0;
  const double x = kMuPi * r;
  const double cut = -std::expm1(-kCcut * r * r);
  // (1 + 3/x + 3/x^2) e^-x/x (1 - e^(-c r^2))^2; at small r the cut-off (~ c^2 r^4) tames the 1/x^3.
  return (1.0 + 3.0 / x + 3.0 / (x * x)) * std::exp(-x) / x * cut * cut;
}

}  // namespace

LocalPotential LocalPotential::FromTableFile(const std::string &filename) {
  InitGSL();
  LineReader in(filename);
  if (!in.IsOpen()) FatalFile(filename, "cannot open potential table %s\n", filename.c_str());
  auto spline = std::make_shared<Spline>();
  while (in.NextWithWords()) {
    in.ExpectWords(2, "a row r, V");
    const double r = in.Number(0, "r"), v = in.Number(1, "V");
    if (r < 0.0 || r > 1e4) FatalFile(filename, "%s: r=%g fm lies outside 0 ... 10000 fm\n", in.Where().c_str(), r);
    if (std::fabs(v) > 1e8) FatalFile(filename, "%s: |V|=%g MeV exceeds 1e8 MeV\n", in.Where().c_str(), v);
    if (!spline->r.empty() && !(r >= spline->r.back() + 1e-6))
      FatalFile(filename, "%s: r=%g fm does not increase by at least 1e-6 fm\n", in.Where().c_str(), r);
    if (spline->r.size() >= 1000000)
      FatalFile(filename, "potential table %s holds more than 1000000 rows\n", filename.c_str());
    spline->r.push_back(r);
    spline->v.push_back(v);
  }
  const std::size_t n = spline->r.size();
  if (n < 4) FatalFile(filename, "potential table %s holds fewer than four rows\n", filename.c_str());
  double vmax = 0.0;
  for (double v : spline->v) vmax = std::max(vmax, std::fabs(v));
  if (std::fabs(spline->v.back()) > 1e-4 * vmax)
    FatalFile(filename,
              "potential table %s ends at r=%g fm with V=%g MeV, more than 1e-4 of its largest |V| (%g MeV): "
              "extend it to where the potential has decayed\n",
              filename.c_str(), spline->r.back(), spline->v.back(), vmax);
  spline->interp.reset(gsl_interp_alloc(gsl_interp_steffen, n));
  if (!spline->interp || gsl_interp_init(spline->interp.get(), spline->r.data(), spline->v.data(), n) != GSL_SUCCESS)
    FatalFile(filename, "potential table %s: the spline cannot be built\n", filename.c_str());
  LocalPotential p;
  p.form_ = Form::Table;
  p.tablefile_ = filename;
  p.spline_ = std::move(spline);
  return p;
}

LocalPotential LocalPotential::FromParameters(const parameterMap &pars, const std::string &prefix, double spin,
                                              const std::string &file) {
  const std::string key = prefix + "POTENTIAL";
  const std::string name = parameter::getS(pars, key, "");
  LocalPotential p;
  auto K = [&](const std::string &s) { return prefix + s; };
  auto read_core = [&](const char *form) {
    if (!pars.count(K("CORE"))) return;
    const std::string core = parameter::getS(pars, K("CORE"), "");
    if (core == "gauss")
      p.core_ = 1;
    else if (core == "exp")
      p.core_ = 2;
    else
      FatalFile(file, "%s: %s=%s is no core form (gauss or exp)\n", file.c_str(), K("CORE").c_str(), core.c_str());
    p.vcore_ = Required(pars, K("VCORE"), file, form);
    p.rcore_ = Positive(pars, K("RCORE"), file, form);
  };
  if (name == "gauss") {
    p.form_ = Form::Gauss;
    const int nterms = parameter::getI(pars, K("NTERMS"), 1);
    if (nterms < 1 || nterms > 20)
      FatalFile(file, "%s: %s=%d lies outside 1 ... 20\n", file.c_str(), K("NTERMS").c_str(), nterms);
    for (int n = 0; n < nterms; n++) {
      p.v_.push_back(Required(pars, K("V" + std::to_string(n)), file, "gauss"));
      p.beta_.push_back(Positive(pars, K("BETA" + std::to_string(n)), file, "gauss"));
    }
  } else if (name == "yukawa" || name == "hulthen") {
    p.form_ = name == "yukawa" ? Form::Yukawa : Form::Hulthen;
    p.v0_ = Required(pars, K("V"), file, name.c_str());
    p.mu_ = Positive(pars, K("MU"), file, name.c_str());
    read_core(name.c_str());
  } else if (name == "squarewell") {
    p.form_ = Form::SquareWell;
    p.v0_ = Required(pars, K("V"), file, "squarewell");
    p.radius_ = Positive(pars, K("R"), file, "squarewell");
  } else if (name == "woodssaxon") {
    p.form_ = Form::WoodsSaxon;
    p.v0_ = Required(pars, K("V"), file, "woodssaxon");
    p.radius_ = Required(pars, K("R"), file, "woodssaxon");
    if (p.radius_ < 0.0)
      FatalFile(file, "%s: %s=%g must not be negative\n", file.c_str(), K("R").c_str(), p.radius_);
    p.diffuseness_ = Positive(pars, K("DIFFUSENESS"), file, "woodssaxon");
  } else if (name == "table") {
    if (!pars.count(K("POTENTIALFILE")))
      FatalFile(file, "%s: the table potential needs %s\n", file.c_str(), K("POTENTIALFILE").c_str());
    std::string table = parameter::getS(pars, K("POTENTIALFILE"), "");
    if (!table.empty() && table[0] != '/') table = Directory(file) + table;
    p = FromTableFile(table);
  } else if (name == "usmani") {
    p.form_ = Form::Usmani;
    if (std::fabs(spin) < 1e-9)
      p.sigmasigma_ = -3.0;
    else if (std::fabs(spin - 1.0) < 1e-9)
      p.sigmasigma_ = 1.0;
    else
      FatalFile(file, "%s: the usmani potential acts in total spin 0 or 1, not %g\n", file.c_str(), spin);
  } else {
    FatalFile(file, "%s: %s=%s is no potential form (gauss, yukawa, hulthen, squarewell, woodssaxon, table, usmani)\n",
              file.c_str(), key.c_str(), name.c_str());
  }
  return p;
}

double LocalPotential::operator()(double r) const {
  switch (form_) {
    case Form::Gauss: {
      double v = 0.0;
      for (std::size_t n = 0; n < v_.size(); n++) {
        const double t = r / beta_[n];
        v += v_[n] * std::exp(-t * t);
      }
      return v;
    }
    case Form::Yukawa:
    case Form::Hulthen: {
      const double x = mu_ * r;
      double v;
      if (form_ == Form::Yukawa)
        v = v0_ * std::exp(-x) / x;
      else
        v = -v0_ / std::expm1(-x) * std::exp(-x);  // e^-x/(1 - e^-x)
      if (core_ == 1) {
        const double t = r / rcore_;
        v += vcore_ * std::exp(-t * t);
      } else if (core_ == 2) {
        v += vcore_ * std::exp(-r / rcore_);
      }
      return v;
    }
    case Form::SquareWell:
      return r < radius_ ? v0_ : 0.0;
    case Form::WoodsSaxon: {
      const double t = (r - radius_) / diffuseness_;
      return t > 700.0 ? 0.0 : v0_ / (1.0 + std::exp(t));
    }
    case Form::Table: {
      const Spline &s = *spline_;
      if (r <= s.r.front()) return s.v.front();
      if (r >= s.r.back()) return 0.0;
      return gsl_interp_eval(s.interp.get(), s.r.data(), s.v.data(), r, nullptr);
    }
    case Form::Usmani: {
      const double t = TensorPion(r);
      const double ws = (r - kRc) / kAc;
      const double core = ws > 700.0 ? 0.0 : kWc / (1.0 + std::exp(ws));
      return core - (kVbar - 0.25 * kVsigma * sigmasigma_) * t * t;
    }
  }
  return 0.0;
}

double LocalPotential::CoulombLikeStrength() const {
  if (form_ == Form::Yukawa || form_ == Form::Hulthen) return v0_ / mu_;
  return 0.0;
}

std::vector<double> LocalPotential::Discontinuities() const {
  if (form_ == Form::SquareWell) return {radius_};
  if (form_ == Form::Table) return {spline_->r.back()};
  return {};
}

double LocalPotential::Range(double vtol, const std::string &file) const {
  if (form_ == Form::SquareWell) return radius_;
  if (form_ == Form::Table) return spline_->r.back();
  const double step = 0.005, rmax = 200.0;
  double last = 0.0;  // last radius where |V| > vtol
  for (int i = 1; i * step <= rmax; i++)
    if (std::fabs((*this)(i * step)) > vtol) last = i * step;
  if (last + step > rmax)
    FatalFile(file, "%s%spotential %s has not decayed below %g MeV by r = %g fm\n", file.c_str(),
              file.empty() ? "" : ": ", Describe().c_str(), vtol, rmax);
  return last + step;
}

std::string LocalPotential::Describe() const {
  char buf[256];
  const char *core = core_ == 1 ? " + Gaussian core" : core_ == 2 ? " + exponential core" : "";
  switch (form_) {
    case Form::Gauss: {
      std::string s = "sum of Gaussians:";
      for (std::size_t n = 0; n < v_.size(); n++) {
        std::snprintf(buf, sizeof buf, " %g MeV exp(-(r/%g fm)^2)", v_[n], beta_[n]);
        s += buf;
      }
      return s;
    }
    case Form::Yukawa:
      std::snprintf(buf, sizeof buf, "Yukawa %g MeV, mu %g/fm%s (%g MeV, %g fm)", v0_, mu_, core, vcore_, rcore_);
      return buf;
    case Form::Hulthen:
      std::snprintf(buf, sizeof buf, "Hulthen %g MeV, mu %g/fm%s (%g MeV, %g fm)", v0_, mu_, core, vcore_, rcore_);
      return buf;
    case Form::SquareWell:
      std::snprintf(buf, sizeof buf, "square well %g MeV to %g fm", v0_, radius_);
      return buf;
    case Form::WoodsSaxon:
      std::snprintf(buf, sizeof buf, "Woods-Saxon %g MeV, R %g fm, diffuseness %g fm", v0_, radius_, diffuseness_);
      return buf;
    case Form::Table:
      return "table " + tablefile_;
    case Form::Usmani:
      std::snprintf(buf, sizeof buf, "Usmani p-Lambda (sigma.sigma = %g)", sigmasigma_);
      return buf;
  }
  return "";
}

}  // namespace femtokit

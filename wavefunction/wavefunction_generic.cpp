#include "wavefunction/wavefunction_generic.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <gsl/gsl_sf_psi.h>

#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"
#include "math/sphericalharmonics.h"
#include "wavefunction/phase_interpolation.h"
#include "wavefunction/radialsolver.h"

namespace {


struct ChannelSetting {
  int l = 0;
  double S = 0.0;
  bool has_a = false;
  bool has_potential = false;
  double a = 0.0, reff = 0.0;
  std::string phasefile;
};

bool HalfInteger(double s) { return s >= 0.0 && std::fabs(2.0 * s - std::round(2.0 * s)) < 1e-9; }

std::string Key(int ic, const char *name) { return "CHANNEL" + std::to_string(ic) + "_" + name; }

// Directory part of a file name ("" for a bare name), with its slash.
std::string Directory(const std::string &filename) {
  const std::size_t slash = filename.rfind('/');
  return slash == std::string::npos ? std::string() : filename.substr(0, slash + 1);
}

}  // namespace

CWaveFunction_generic::CWaveFunction_generic(const char *parsfilename) { Build(parsfilename, nullptr); }

CWaveFunction_generic::CWaveFunction_generic(const std::string &parsfilename, const std::vector<double> &qmesh) {
  Build(parsfilename.c_str(), &qmesh);
}

void CWaveFunction_generic::Build(const char *parsfilename, const std::vector<double> *qmesh) {
  ParsInit(parsfilename);
  const std::string file = parsfilename;
  if (qmesh != nullptr) SetQMesh(*qmesh, file + ": the requested q mesh");
  parameterMap pars;
  parameter::ReadParsFromFile(pars, file);

  // The pair.
  if (!pars.count("M1")) femtokit::FatalFile(file, "%s: the generic pair needs the mass M1\n", file.c_str());
  identical = parameter::getB(pars, "IDENTICAL", false);
  m1 = parameter::getD(pars, "M1", 0.0);
  m2 = parameter::getD(pars, "M2", identical ? m1 : 0.0);
  if (!pars.count("M2") && !identical) femtokit::FatalFile(file, "%s: the generic pair needs the mass M2\n", file.c_str());
  if (!(m1 > 0.0) || !(m2 > 0.0))
    femtokit::FatalFile(file, "%s: masses M1=%g, M2=%g MeV must be positive\n", file.c_str(), m1, m2);
  q1q2 = COULOMB ? parameter::getI(pars, "Q1Q2", 0) : 0;
  spin1 = parameter::getD(pars, "SPIN1", 0.0);
  spin2 = parameter::getD(pars, "SPIN2", identical ? spin1 : 0.0);
  if (!HalfInteger(spin1) || !HalfInteger(spin2))
    femtokit::FatalFile(file, "%s: spins SPIN1=%g, SPIN2=%g must be non-negative multiples of 1/2\n", file.c_str(),
                        spin1, spin2);
  if (identical && (m1 != m2 || spin1 != spin2))
    femtokit::FatalFile(file, "%s: identical particles with different masses (%g, %g MeV) or spins (%g, %g)\n",
                        file.c_str(), m1, m2, spin1, spin2);
  const bool coulombcorrect = parameter::getB(pars, "COULOMBCORRECT", true);
  coulombcorrect_ = coulombcorrect;

  // Spin states and their default weights.
  const double norm = (2.0 * spin1 + 1.0) * (2.0 * spin2 + 1.0);
  for (double S = std::fabs(spin1 - spin2); S <= spin1 + spin2 + 1e-9; S += 1.0) {
    // Distinguishable particles: every state builds on the wave A itself.
    const bool symmetric = !identical || static_cast<long>(std::lround(S)) % 2 == 0;
    states.push_back({S, (2.0 * S + 1.0) / norm, symmetric, {}});
  }
  auto state_of = [&](double S) {
    for (std::size_t i = 0; i < states.size(); i++)
      if (std::fabs(states[i].S - S) < 1e-9) return static_cast<int>(i);
    return -1;
  };

  // Channels.
  nchannels = parameter::getI(pars, "NCHANNELS", 0);
  if (nchannels < 0) femtokit::FatalFile(file, "%s: NCHANNELS=%d is negative\n", file.c_str(), nchannels);
  std::vector<ChannelSetting> settings(nchannels);
  std::vector<femtokit::LocalPotential> potentials(nchannels);
  std::vector<bool> weight_given(states.size(), false);
  ellmax = 0;
  for (int ic = 0; ic < nchannels; ic++) {
    ChannelSetting &c = settings[ic];
    c.l = parameter::getI(pars, Key(ic, "L"), 0);
    if (c.l < 0) femtokit::FatalFile(file, "%s: %s=%d is negative\n", file.c_str(), Key(ic, "L").c_str(), c.l);
    if (pars.count(Key(ic, "S"))) {
      c.S = parameter::getD(pars, Key(ic, "S"), 0.0);
    } else if (states.size() == 1) {
      c.S = states[0].S;
    } else {
      femtokit::FatalFile(file, "%s: %s is needed: spins %g and %g make several total spins\n", file.c_str(),
                          Key(ic, "S").c_str(), spin1, spin2);
    }
    const int is = state_of(c.S);
    if (is < 0)
      femtokit::FatalFile(file, "%s: %s=%g is no total spin of spins %g and %g\n", file.c_str(),
                          Key(ic, "S").c_str(), c.S, spin1, spin2);
    if (identical && (c.l % 2 == 0) != states[is].symmetric)
      femtokit::FatalFile(file, "%s: channel %d has l=%d, but identical particles in total spin %g have only %s l\n",
                          file.c_str(), ic, c.l, c.S, states[is].symmetric ? "even" : "odd");
    if (pars.count(Key(ic, "WEIGHT"))) {
      const double w = parameter::getD(pars, Key(ic, "WEIGHT"), 0.0);
      if (!(w > 0.0 && w <= 1.0))
        femtokit::FatalFile(file, "%s: %s=%g lies outside (0, 1]\n", file.c_str(), Key(ic, "WEIGHT").c_str(), w);
      if (weight_given[is] && std::fabs(states[is].weight - w) > 1e-9)
        femtokit::FatalFile(file, "%s: channels of total spin %g give different weights (%g, %g)\n", file.c_str(),
                            c.S, states[is].weight, w);
      states[is].weight = w;
      weight_given[is] = true;
    }
    states[is].channels.push_back(ic);
    c.has_a = pars.count(Key(ic, "A")) != 0;
    const bool has_file = pars.count(Key(ic, "PHASEFILE")) != 0;
    c.has_potential = pars.count(Key(ic, "POTENTIAL")) != 0;
    if (int(c.has_a) + int(has_file) + int(c.has_potential) != 1)
      femtokit::FatalFile(file, "%s: channel %d needs exactly one of %s (with %s), %s or %s\n", file.c_str(), ic,
                          Key(ic, "A").c_str(), Key(ic, "REFF").c_str(), Key(ic, "PHASEFILE").c_str(),
                          Key(ic, "POTENTIAL").c_str());
    if (c.has_potential) {
      potentials[ic] = femtokit::LocalPotential::FromParameters(pars, Key(ic, ""), c.S, file);
    } else if (c.has_a) {
      c.a = parameter::getD(pars, Key(ic, "A"), 0.0);
      c.reff = parameter::getD(pars, Key(ic, "REFF"), 0.0);
      if (c.l != 0)
        femtokit::FatalFile(file, "%s: channel %d has l=%d: a scattering length and effective range describe "
                                  "S waves; give a phase-shift table\n", file.c_str(), ic, c.l);
      if (c.a == 0.0) femtokit::FatalFile(file, "%s: %s is 0 (no interaction: leave the channel out)\n", file.c_str(),
                                          Key(ic, "A").c_str());
    } else {
      c.phasefile = parameter::getS(pars, Key(ic, "PHASEFILE"), "");
      if (!c.phasefile.empty() && c.phasefile[0] != '/') c.phasefile = Directory(file) + c.phasefile;
    }
    ellmax = std::max(ellmax, c.l);
  }
  double total = 0.0;
  for (const SpinState &s : states) total += s.weight;
  if (std::fabs(total - 1.0) > 1e-6)
    femtokit::FatalFile(file, "%s: the spin-state weights add up to %g, not 1\n", file.c_str(), total);
  wsym = wanti = 0.0;
  for (const SpinState &s : states) (identical && !s.symmetric ? wanti : wsym) += s.weight;

  // Potential channels: matching radius, table step, reduced mass.
  bool any_potential = false;
  double range = 0.0, edge = 0.0;
  for (int ic = 0; ic < nchannels; ic++) {
    if (!settings[ic].has_potential) continue;
    any_potential = true;
    range = std::max(range, potentials[ic].Range(1e-7, file));
    for (double b : potentials[ic].Discontinuities()) edge = std::max(edge, b);
  }
  if (any_potential) {
    rmatch_ = range;
    if (pars.count("MATCHRADIUS")) {
      rmatch_ = parameter::getD(pars, "MATCHRADIUS", 0.0);
      if (!(rmatch_ > 0.0) || !std::isfinite(rmatch_) || rmatch_ > 1000.0)
        femtokit::FatalFile(file, "%s: MATCHRADIUS=%g fm lies outside (0, 1000]\n", file.c_str(), rmatch_);
      if (rmatch_ < edge)
        femtokit::FatalFile(file, "%s: MATCHRADIUS=%g fm lies inside a potential that reaches %g fm\n", file.c_str(),
                            rmatch_, edge);
    }
    radialstep_ = parameter::getD(pars, "RADIALSTEP", 0.02);
    if (!(radialstep_ >= 1e-4 && radialstep_ <= 1.0))
      femtokit::FatalFile(file, "%s: RADIALSTEP=%g fm lies outside 1e-4 ... 1\n", file.c_str(), radialstep_);
    const std::string mu = parameter::getS(pars, "REDUCEDMASS", "nonrelativistic");
    if (mu != "nonrelativistic" && mu != "relativistic")
      femtokit::FatalFile(file, "%s: REDUCEDMASS=%s is neither nonrelativistic nor relativistic\n", file.c_str(),
                          mu.c_str());
    relativistic_mu_ = mu == "relativistic";
    const std::uint64_t points = static_cast<std::uint64_t>(std::ceil(rmatch_ / radialstep_)) + 1;
    femtokit::CheckTableSize(file, file + ": interior radial tables (MATCHRADIUS/RADIALSTEP, NQMAX, channels)",
                             femtokit::SaturatingProduct(femtokit::SaturatingProduct(points, nqmax),
                                                         static_cast<std::uint64_t>(nchannels) + ellmax + 1),
                             2 * sizeof(double));
  }

  InitArrays();
  for (int ic = 0; ic < nchannels; ic++) ell[ic] = settings[ic].l;
  InitWaves();
  for (int ic = 0; ic < nchannels; ic++) {
    const ChannelSetting &c = settings[ic];
    channelweight[ic] = states[state_of(c.S)].weight * (2 * c.l + 1) * (identical ? 2.0 : 1.0);
    if (c.has_a)
      EffectiveRange(ic, c.a, c.reff);
    else if (!c.has_potential)
      ReadPhaseShiftFile(ic, c.phasefile);
  }
  if (coulombcorrect)
    FillWepsilonAndCoulombCorrect();
  else
    FillWepsilon();
  inner_.assign(nchannels, {});
  if (any_potential) {
    std::vector<bool> has(nchannels);
    for (int ic = 0; ic < nchannels; ic++) has[ic] = settings[ic].has_potential;
    SolvePotentials(potentials, has);
  }
  UpdateFactors();
  CheckInsideDensity(("generic pair " + file).c_str());

  femtokit::Print("generic pair: m1=%g, m2=%g MeV, q1q2=%d, %s, spins %g and %g\n", m1, m2, q1q2,
                  identical ? "identical" : "distinguishable", spin1, spin2);
  for (const SpinState &s : states)
    femtokit::Print("  total spin %g: weight %g%s, %d strong channel(s)\n", s.S, s.weight,
                    identical ? (s.symmetric ? " (symmetric)" : " (antisymmetric)") : "",
                    static_cast<int>(s.channels.size()));
  channel_text_.assign(nchannels, "");
  for (int ic = 0; ic < nchannels; ic++) {
    const ChannelSetting &c = settings[ic];
    channel_text_[ic] = c.has_a ? "scattering parameters" : c.has_potential ? potentials[ic].Describe()
                                                                            : "phase table " + c.phasefile;
    if (c.has_a)
      femtokit::Print("  channel %d: l=%d, S=%g, scattering length %g fm, effective range %g fm\n", ic, c.l, c.S, c.a,
                      c.reff);
    else if (c.has_potential)
      femtokit::Print("  channel %d: l=%d, S=%g, potential %s, exact inside %g fm\n", ic, c.l, c.S,
                      potentials[ic].Describe().c_str(), rmatch_);
    else
      femtokit::Print("  channel %d: l=%d, S=%g, phase shifts from %s\n", ic, c.l, c.S, c.phasefile.c_str());
  }
}

namespace {
// Rows q, delta, ddelta/dq of a phase-shift table; fatal for a missing,
// malformed or too short table.
void ReadPhaseTable(const std::string &filename, std::vector<double> &q, std::vector<double> &d,
                    std::vector<double> &dp) {
  femtokit::LineReader in(filename);
  if (!in.IsOpen()) femtokit::FatalFile(filename, "cannot open phase-shift table %s\n", filename.c_str());
  while (in.NextWithWords()) {
    in.ExpectWords(3, "a row q, delta, ddelta/dq");
    const double a = in.Number(0, "q"), b = in.Number(1, "delta"), c = in.Number(2, "ddelta/dq");
    if (!q.empty() && !(a > q.back()))
      femtokit::FatalFile(filename, "%s: q=%g does not increase\n", in.Where().c_str(), a);
    q.push_back(a);
    d.push_back(b);
    dp.push_back(c);
  }
  if (q.size() < 2)
    femtokit::FatalFile(filename, "phase-shift table %s holds fewer than two rows\n", filename.c_str());
}
}  // namespace

bool CWaveFunction_generic::PhaseTableRange(const std::string &parsfilename, double &qmin, double &qmax) {
  parameterMap pars;
  parameter::ReadParsFromFile(pars, parsfilename);
  const int n = parameter::getI(pars, "NCHANNELS", 0);
  bool any = false;
  for (int ic = 0; ic < n; ic++) {
    if (!pars.count(Key(ic, "PHASEFILE"))) continue;
    std::string file = parameter::getS(pars, Key(ic, "PHASEFILE"), "");
    if (!file.empty() && file[0] != '/') file = Directory(parsfilename) + file;
    std::vector<double> q, d, dp;
    ReadPhaseTable(file, q, d, dp);
    qmin = any ? std::max(qmin, q.front()) : q.front();
    qmax = any ? std::min(qmax, q.back()) : q.back();
    any = true;
  }
  return any;
}

void CWaveFunction_generic::ReadPhaseShiftFile(int ichannel, const std::string &filename) {
  std::vector<double> q, d, dp;
  ReadPhaseTable(filename, q, d, dp);
  for (int iq = 0; iq < nqmax; iq++) {
    const double qq = qarray[iq];
    if (qq < q.front() || qq > q.back())
      femtokit::FatalFile(filename, "phase-shift table %s covers q = %g ... %g MeV/c, but the q mesh has %g\n",
                          filename.c_str(), q.front(), q.back(), qq);
    const std::size_t k = std::min<std::size_t>(std::upper_bound(q.begin(), q.end(), qq) - q.begin(), q.size() - 1);
    if (qq == q[k - 1] || qq == q[k]) {  // a table point
      const std::size_t j = qq == q[k] ? k : k - 1;
      delta[ichannel][iq] = d[j];
      ddeltadq[ichannel][iq] = dp[j];
    } else {
      femtokit::phaseshifts::InterpolatePhase(ell[ichannel], qq, q[k - 1], d[k - 1], dp[k - 1], q[k], d[k], dp[k],
                                              &delta[ichannel][iq], &ddeltadq[ichannel][iq]);
    }
  }
}

double CWaveFunction_generic::EtaAt(double q) const {
  if (q1q2 == 0) return 0.0;
  const double e = std::sqrt(m1 * m1 + q * q) + std::sqrt(m2 * m2 + q * q), dm2 = m1 * m1 - m2 * m2;
  return q1q2 * (std::pow(e, 4) - dm2 * dm2) / (4.0 * femtokit::constants::ALPHA_INV * q * e * e * e);
}

double CWaveFunction_generic::PotentialReducedMass(double q) const {
  if (!relativistic_mu_) return m1 * m2 / (m1 + m2);
  const double e1 = std::sqrt(m1 * m1 + q * q), e2 = std::sqrt(m2 * m2 + q * q);
  return e1 * e2 / (e1 + e2);
}

void CWaveFunction_generic::SolvePotentials(const std::vector<femtokit::LocalPotential> &potentials,
                                            const std::vector<bool> &has) {
  std::vector<std::unique_ptr<femtokit::RadialSolver>> solver(nchannels), reference(ellmax + 1);
  coulomb_.assign(ellmax + 1, {});
  for (int ic = 0; ic < nchannels; ic++) {
    if (!has[ic]) continue;
    const int l = ell[ic];
    solver[ic] = std::make_unique<femtokit::RadialSolver>(&potentials[ic], l, rmatch_);
    inner_[ic].assign(nqmax, InnerTable());
    if (!reference[l]) {
      reference[l] = std::make_unique<femtokit::RadialSolver>(nullptr, l, rmatch_);
      coulomb_[l].assign(nqmax, InnerTable());
    }
  }
  const double hc2 = HBARC * HBARC;
  // Each mesh point by one thread; the solutions do not depend on the thread count.
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < nqmax; iq++) {
    errors.Run([&] {
      const double q = qarray[iq];
      for (int l = 0; l <= ellmax; l++) {
        if (!reference[l]) continue;
        femtokit::RadialSolution f = reference[l]->Solve(q, eta[iq], 0.0, radialstep_);
        coulomb_[l][iq] = {std::move(f.w), std::move(f.wp)};
      }
      const double dq = 1e-3 * q;
      for (int ic = 0; ic < nchannels; ic++) {
        if (!solver[ic]) continue;
        femtokit::RadialSolution s = solver[ic]->Solve(q, eta[iq], 2.0 * PotentialReducedMass(q) / hc2, radialstep_);
        delta[ic][iq] = s.delta;
        // The slope by central differences of the phase (continuous across
        // the branch of atan: the difference is taken modulo pi).
        const double up = solver[ic]->Phase(q + dq, EtaAt(q + dq), 2.0 * PotentialReducedMass(q + dq) / hc2);
        const double down = solver[ic]->Phase(q - dq, EtaAt(q - dq), 2.0 * PotentialReducedMass(q - dq) / hc2);
        double diff = up - down;
        diff -= M_PI * std::round(diff / M_PI);
        ddeltadq[ic][iq] = diff / (2.0 * dq);
        Wepsilon[ic][iq] = 0.0;
        inner_[ic][iq] = {std::move(s.w), std::move(s.wp)};
      }
    });
  }
  errors.Rethrow();
}

void CWaveFunction_generic::FitEffectiveRange(int ic, double *a, double *reff) const {
  if (ic < 0 || ic >= nchannels || ell[ic] != 0)
    femtokit::Fatal("FitEffectiveRange: channel %d is no S-wave channel of the pair\n", ic);
  if (nqmax < 2) femtokit::Fatal("FitEffectiveRange: the q mesh holds fewer than two points\n");
  double k[2], K[2];
  for (int i = 0; i < 2; i++) {
    k[i] = qarray[i] / HBARC;
    const double e = eta[i];
    const double c02 = std::exp(2.0 * CoulWave::LogNorm(0, e));
    const double kcot = k[i] / std::tan(delta[ic][i]);
    if (q1q2 == 0) {
      K[i] = kcot;
    } else if (!HasPotential(ic) && coulombcorrect_) {
      K[i] = c02 * kcot;  // the strong phase: tan(delta) = C_0^2 tan(delta_strong)
    } else {
      const double h = gsl_sf_psi_1piy(std::fabs(e)) - std::log(std::fabs(e));
      K[i] = c02 * kcot + 2.0 * k[i] * e * h;
    }
  }
  const double half = (K[1] - K[0]) / (k[1] * k[1] - k[0] * k[0]);
  *reff = 2.0 * half;
  *a = -1.0 / (K[0] - half * k[0] * k[0]);
}

double CWaveFunction_generic::GetInnerWave(int ic, int iq, double r) const {
  if (ic < 0 || ic >= nchannels || !HasPotential(ic) || iq < 0 || iq >= nqmax)
    femtokit::Fatal("GetInnerWave: channel %d at mesh point %d is no potential channel of the pair\n", ic, iq);
  const InnerTable &t = inner_[ic][iq];
  if (r >= rmatch_) {
    double F, G;
    CoulWave::GetFG(ell[ic], qarray[iq] * r / HBARC, eta[iq], &F, &G);
    return F * std::cos(delta[ic][iq]) + G * std::sin(delta[ic][iq]);
  }
  return femtokit::HermiteAt(t.w, t.wp, rmatch_ / (t.w.size() - 1), r);
}

void CWaveFunction_generic::UpdateFactors() {
  const std::complex<double> ci(0.0, 1.0);
  const double n = identical ? M_SQRT1_2 : 0.5;
  amplitude.assign(static_cast<std::size_t>(nqmax) * nchannels, 0.0);
  cinner_.assign(static_cast<std::size_t>(nqmax) * nchannels, 0.0);
  cfree_.assign(static_cast<std::size_t>(nqmax) * nchannels, 0.0);
  ceps.assign(nqmax, 0.0);
  for (int iq = 0; iq < nqmax; iq++) {
    for (int ic = 0; ic < nchannels; ic++) {
      const int l = ell[ic];
      std::complex<double> il = 1.0;
      for (int k = 0; k < l % 4; k++) il *= ci;
      const std::size_t k = static_cast<std::size_t>(iq) * nchannels + ic;
      amplitude[k] = double(2 * l + 1) * n * il * (Misc::ceiphi(-2.0 * delta[ic][iq]) - 1.0);
      if (HasPotential(ic)) {
        // Inside the matching radius the channel's partial wave
        // (2l+1) i^l e^(-i sigma_l) F_l/x (times 2n) becomes the same with
        // conj(u) = e^(-i delta) w in place of F_l.
        const std::complex<double> c = 2.0 * n * double(2 * l + 1) * il * Misc::ceiphi(-partwave[l][iq]->sigma);
        cinner_[k] = c * Misc::ceiphi(-delta[ic][iq]);
        cfree_[k] = -c;
      }
    }
    ceps[iq] = ShortRangeCorrection(iq);
  }
}

double CWaveFunction_generic::CalcPsiSquared(int iq, double r, double ctheta) const {
  if (iq < 0 || iq >= nqmax) return 1.0;
  const std::complex<double> A = planewave[iq]->planewave(r, ctheta);
  std::complex<double> psis = A, psia = 0.0;
  double free;
  if (identical) {
    const std::complex<double> B = planewave[iq]->planewave(r, -ctheta);
    psis = (A + B) * M_SQRT1_2;
    psia = (A - B) * M_SQRT1_2;
    free = wsym * std::norm(psis) + wanti * std::norm(psia);
  } else {
    free = std::norm(A);
  }
  if (!STRONG || nchannels == 0) return free;
  const bool inside = r < epsilon;
  const double x = qarray[iq] * r / HBARC;
  const std::size_t k0 = static_cast<std::size_t>(iq) * nchannels;
  const std::complex<double> *amp = amplitude.data() + k0;
  // Potential channels inside the matching radius: (cinner w + cfree F)/x from
  // the interior tables (r = 0: the slopes over k, l = 0 only).
  auto interior = [&](int ic) -> std::complex<double> {
    const int l = ell[ic];
    const InnerTable &t = inner_[ic][iq], &f = coulomb_[l][iq];
    if (!(r > 0.0))
      return l == 0 ? (cinner_[k0 + ic] * t.wp[0] + cfree_[k0 + ic] * f.wp[0]) * (HBARC / qarray[iq]) : 0.0;
    const double h = rmatch_ / (t.w.size() - 1);
    return (cinner_[k0 + ic] * femtokit::HermiteAt(t.w, t.wp, h, r) +
            cfree_[k0 + ic] * femtokit::HermiteAt(f.w, f.wp, h, r)) /
           x;
  };
  double result = inside ? free + ceps[iq] : free;
  for (const SpinState &s : states) {
    if (s.channels.empty()) continue;
    const std::complex<double> base = s.symmetric ? psis : psia;
    std::complex<double> psi = base;
    bool changed = false;
    for (int ic : s.channels) {
      const int l = ell[ic];
      if (HasPotential(ic) && r < rmatch_) {
        psi += interior(ic) * SpherHarmonics::legendre(l, ctheta);
      } else if (HasPotential(ic) || !inside) {
        psi += amp[ic] * SpherHarmonics::legendre(l, ctheta) * partwave[l][iq]->GetPhiIncoming(r) / x;
      } else {
        continue;
      }
      changed = true;
    }
    if (changed) result += s.weight * (std::norm(psi) - std::norm(base));
  }
  return result;
}

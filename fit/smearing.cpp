#include "fit/smearing.h"

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_interp.h>

#include <algorithm>
#include <cmath>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"

namespace {

// Most bins the Gaussian map looks at beyond the model's mesh.
const int kMaxExtraBins = 20000;

// Probability of a unit normal between z1 and z2 (z1 <= z2), taken from the
// tail that keeps the digits.
double NormalBetween(double z1, double z2) {
  if (z1 > 0.0) return gsl_cdf_ugaussian_Q(z1) - gsl_cdf_ugaussian_Q(z2);
  return gsl_cdf_ugaussian_P(z2) - gsl_cdf_ugaussian_P(z1);
}

}  // namespace

struct CMomentumSmearing::Interp {
  struct Free {
    void operator()(gsl_interp *p) const { gsl_interp_free(p); }
  };
  std::unique_ptr<gsl_interp, Free> linear;
};

CMomentumSmearing::CMomentumSmearing(const std::string &parsfilename)
    : parsfile(parsfilename), interp(std::make_unique<Interp>()) {
  femtokit::InitGSL();
  parameter::set(pars, "MODE", "matrix");
  parameter::set(pars, "MATRIXFILE", "none");
  parameter::set(pars, "MATRIXTYPE", "conditional");
  parameter::set(pars, "PAIRDENSITY", "phasespace");
  parameter::set(pars, "NORMTOLERANCE", 1e-3);
  parameter::set(pars, "UNITS", "q_MeV");
  parameter::set(pars, "SIGMA", 0.0);
  parameter::set(pars, "SIGMAFILE", "none");
  parameter::set(pars, "GAUSSIANFORM", "1d");
  parameter::set(pars, "TRUNCATION", 1e-3);
  parameter::ReadParsFromFile(pars, parsfile);

  const char *pf = parsfile.c_str();
  const std::string mode = parameter::getS(pars, "MODE", "matrix");
  const std::string units = parameter::getS(pars, "UNITS", "q_MeV");
  const double factor = QMesh::MomentumUnitFactor(units, parsfile);
  density = parameter::getS(pars, "PAIRDENSITY", "phasespace");
  QMesh::PairDensity(density, 0, parsfile);  // checks the name
  truncation = parameter::getD(pars, "TRUNCATION", 1e-3);

  if (mode == "matrix") {
    const std::string name = parameter::getS(pars, "MATRIXFILE", "none");
    if (name == "none") femtokit::FatalFile(parsfile, "%s: MODE matrix needs a MATRIXFILE\n", pf);
    const CQMatrix::Type type = QMesh::MatrixType(parameter::getS(pars, "MATRIXTYPE", "conditional"), parsfile);
    response.Read(QMesh::ResolvePath(parsfile, name), factor, type, parameter::getD(pars, "NORMTOLERANCE", 1e-3));
    const std::vector<double> n = type == CQMatrix::Type::Counts
                                      ? std::vector<double>(static_cast<size_t>(response.GetNCols()), 1.0)
                                      : QMesh::PairDensity(density, response.GetNCols(), parsfile);
    map = response.RowNormalised(n);
    femtokit::Print("momentum smearing: response %s, %d measured bins of %g MeV/c from %d true bins of %g MeV/c%s\n",
                    response.GetFileName().c_str(), response.GetNRows(), response.GetRowStep(), response.GetNCols(),
                    response.GetColStep(), units == "q_MeV" ? "" : (" (converted from " + units + ")").c_str());
  } else if (mode == "gaussian") {
    const std::string form = parameter::getS(pars, "GAUSSIANFORM", "1d");
    if (form != "1d" && form != "3d")
      femtokit::FatalFile(parsfile, "%s: unknown GAUSSIANFORM '%s'; use 1d or 3d\n", pf, form.c_str());
    threed = form == "3d";
    const std::string table = parameter::getS(pars, "SIGMAFILE", "none");
    if (table != "none") {
      ReadSigmaTable(QMesh::ResolvePath(parsfile, table), factor);
    } else {
      const double sigma = parameter::getD(pars, "SIGMA", 0.0) * factor;
      if (!(sigma > 0.0 && std::isfinite(sigma)))
        femtokit::FatalFile(parsfile, "%s: MODE gaussian needs a SIGMAFILE or a positive SIGMA\n", pf);
      sigmaq.assign(1, 0.0);
      sigmav.assign(1, sigma);
    }
    gaussian = true;
    femtokit::Print("momentum smearing: %s Gaussian resolution, sigma(%g MeV/c) = %g MeV/c%s\n", form.c_str(),
                    sigmaq.back(), sigmav.back(), table == "none" ? "" : (" from " + table).c_str());
  } else {
    femtokit::FatalFile(parsfile, "%s: unknown MODE '%s'; use matrix or gaussian\n", pf, mode.c_str());
  }
}

CMomentumSmearing::~CMomentumSmearing() = default;

void CMomentumSmearing::ReadSigmaTable(const std::string &file, double unitfactor) {
  const char *f = file.c_str();
  femtokit::LineReader in(file);
  if (!in.IsOpen()) femtokit::FatalFile(file, "cannot open sigma table %s\n", f);
  while (in.NextWithWords()) {
    const long line = in.Line();
    if (in.Size() != 2)
      femtokit::FatalFile(file, "sigma table %s, line %ld: wrong size: %zu words, a line holds q and sigma\n", f, line,
                          in.Size());
    const double q0 = in.Number(0, "q"), s0 = in.Number(1, "sigma");
    const double q = q0 * unitfactor, s = s0 * unitfactor;
    if (!std::isfinite(q) || !std::isfinite(s))
      femtokit::FatalFile(file, "sigma table %s, line %ld: non-finite value in MeV/c\n", f, line);
    if (q < 0.0 || (!sigmaq.empty() && q <= sigmaq.back()))
      femtokit::FatalFile(file, "sigma table %s, line %ld: q = %g must be non-negative and above the line before\n", f,
                          line, q0);
    if (!(s > 0.0))
      femtokit::FatalFile(file, "sigma table %s, line %ld: sigma = %g must be positive\n", f, line, s0);
    sigmaq.push_back(q);
    sigmav.push_back(s);
  }
  if (sigmaq.empty()) femtokit::FatalFile(file, "sigma table %s holds no line \"q sigma\"\n", f);
  if (sigmaq.size() >= 2) {
    interp->linear.reset(gsl_interp_alloc(gsl_interp_linear, sigmaq.size()));
    gsl_interp_init(interp->linear.get(), sigmaq.data(), sigmav.data(), sigmaq.size());
  }
}

double CMomentumSmearing::GetSigma(double q) const {
  if (!gaussian) return 0.0;
  if (sigmaq.size() == 1 || q <= sigmaq.front()) return sigmav.front();
  if (q >= sigmaq.back()) return sigmav.back();
  return gsl_interp_eval(interp->linear.get(), sigmaq.data(), sigmav.data(), q, nullptr);
}

double CMomentumSmearing::TrueQReach(double qreco) const {
  if (!gaussian) return response.GetNCols() * response.GetColStep();
  return qreco + 5.0 * *std::max_element(sigmav.begin(), sigmav.end());
}

// Probability that a pair of true q is reconstructed in [a, b].
// 1d: q_reco = |q + d|, d ~ N(0, sigma^2): two Gaussian tails, the second folded at 0.
// 3d: q_reco = |q e + d|, d ~ N(0, sigma^2 I): density
//   x/(q sigma sqrt(2 pi)) [exp(-(x-q)^2/2 sigma^2) - exp(-(x+q)^2/2 sigma^2)],
// whose integral is the 1d result minus sigma/(q sqrt(2 pi)) times the change of
// the two exponentials across the bin.
double CMomentumSmearing::BinProbability(double a, double b, double q, double sigma) const {
  double p = NormalBetween((a - q) / sigma, (b - q) / sigma) + NormalBetween((a + q) / sigma, (b + q) / sigma);
  if (threed) {
    auto g = [sigma](double z) { return std::exp(-0.5 * z * z / (sigma * sigma)); };
    p -= sigma / (q * std::sqrt(2.0 * M_PI)) * ((g(b - q) - g(a - q)) - (g(b + q) - g(a + q)));
  }
  return p > 0.0 ? p : 0.0;
}

// The measured bin i is the ratio of integrals over the true q
//   Int dq n(q) P_i(q) (C(q) - 1) / Int dq n(q) P_i(q),
// n(q) = q^2 (phasespace) or 1 (flat), P_i the probability of reconstruction
// in bin i. The model is known at the bin centres of its mesh: between them it
// is taken as the Lagrange interpolant through the kStencil nearest centres
// (mirrored at q = 0, where C is even in q), so that
//   W(i, k) = Int dq n(q) P_i(q) L_k(q) / Int dq n(q) P_i(q)
// is exact for a model that is a polynomial of that degree and converges as
// h^kStencil. Both integrals use the same Gauss-Legendre nodes, on pieces no
// wider than half the resolution; the basis sums to 1, so a flat C - 1 stays
// flat. Pairs of true q beyond the model's mesh are left out of the bin and
// counted for the truncation warning.
void CMomentumSmearing::BuildGaussian(int nin, double din, int nout, double dout) {
  constexpr int kStencil = 8, kNodes = 8;
  static const double gx[kNodes] = {-0.9602898564975363, -0.7966664774136267, -0.5255324099163290,
                                    -0.1834346424956498, 0.1834346424956498,  0.5255324099163290,
                                    0.7966664774136267,  0.9602898564975363};
  static const double gw[kNodes] = {0.1012285362903763, 0.2223810344533745, 0.3137066526962460,
                                    0.3626837833783620, 0.3626837833783620, 0.3137066526962460,
                                    0.2223810344533745, 0.1012285362903763};
  const bool flat = density == "flat";
  const double smax = *std::max_element(sigmav.begin(), sigmav.end());
  const double qend = nin * din;
  // Far enough beyond the model's mesh to see what it misses.
  const double reach = std::min(std::max(nout * dout, qend) + 9.0 * smax, qend + kMaxExtraBins * din);
  // Pieces of an interval: no wider than half the smallest resolution on it
  // (linear between the table's points, so the ends and the points inside).
  // Smallest and largest resolution on an interval (linear between the
  // table's points: the ends and the points inside).
  auto sigmaOn = [&](double lo, double hi, double &smallest, double &largest) {
    smallest = std::min(GetSigma(lo), GetSigma(hi));
    largest = std::max(GetSigma(lo), GetSigma(hi));
    const auto first = std::upper_bound(sigmaq.begin(), sigmaq.end(), lo);
    for (auto it = first; it != sigmaq.end() && *it < hi; ++it) {
      const double v = sigmav[static_cast<size_t>(it - sigmaq.begin())];
      smallest = std::min(smallest, v);
      largest = std::max(largest, v);
    }
  };
  const int K = std::min(kStencil, nin);

  CQMatrix p;
  p.Resize(nout, dout, nin, din);
  std::vector<double> all(static_cast<size_t>(nout), 0.0), beyond(static_cast<size_t>(nout), 0.0);
  std::vector<double> prob(static_cast<size_t>(nout)), lagrange(static_cast<size_t>(K)), nodes(static_cast<size_t>(K));
  std::vector<int> bins(static_cast<size_t>(K));

  // Intervals between neighbouring centres: [0, c_0], [c_0, c_1], ..., [c_{n-1}, n din], then beyond.
  const int nbeyond = static_cast<int>(std::ceil((reach - qend) / din));
  for (int j = -1; j < nin + nbeyond; ++j) {
    const double lo = j < 0 ? 0.0 : j < nin ? (j + 0.5) * din : j == nin ? qend : qend + (j - nin) * din;
    const double hi = j < 0 ? 0.5 * din : j < nin - 1 ? (j + 1.5) * din : j == nin - 1 ? qend : qend + (j - nin + 1) * din;
    if (!(hi > lo)) continue;
    const bool inside = j < nin;
    if (inside) {
      // Stencil of K centres around the interval, kept inside the mesh at the
      // top; centres below 0 are the mirror images of bins -m-1.
      const int top = std::min(j + K / 2, nin - 1), start = top - K + 1;
      for (int a = 0; a < K; ++a) {
        const int m = start + a;
        nodes[static_cast<size_t>(a)] = (m + 0.5) * din;
        bins[static_cast<size_t>(a)] = m < 0 ? -m - 1 : m;
      }
    }
    // Pieces no wider than half the smallest resolution on the interval; an
    // interval beyond the model's mesh that no row can reach (9 sigma) is skipped.
    double ssmall, slarge;
    sigmaOn(lo, hi, ssmall, slarge);
    if (!inside && lo - 9.0 * slarge > nout * dout) continue;
    const int pieces = static_cast<int>(std::min(256.0, std::max(1.0, std::ceil(2.0 * (hi - lo) / ssmall))));
    const double h = (hi - lo) / pieces;
    for (int piece = 0; piece < pieces; ++piece) {
      for (int g = 0; g < kNodes; ++g) {
        const double q = lo + h * (piece + 0.5 + 0.5 * gx[g]);
        const double weight = 0.5 * h * gw[g] * (flat ? 1.0 : q * q);
        const double s = GetSigma(q);
        // Rows within 9 sigma of q (or of -q, through the fold at 0).
        // Bin of a momentum, clamped to -1 ... nout before the conversion (a
        // width of many meshes would overflow an int).
        auto bin = [&](double x) {
          const double f = std::floor(x / dout);
          return f < -1.0 ? -1 : f > nout ? nout : static_cast<int>(f);
        };
        const int ilo = std::max(0, bin(q - 9.0 * s));
        const int ihi = std::min(nout - 1, bin(q + 9.0 * s));
        const int ifold = std::min(nout - 1, bin(9.0 * s - q));
        auto rows = [&](auto &&visit) {
          for (int i = 0; i <= ifold && i < ilo; ++i) visit(i);
          for (int i = ilo; i <= ihi; ++i) visit(i);
        };
        rows([&](int i) {
          prob[static_cast<size_t>(i)] = weight * BinProbability(i * dout, (i + 1) * dout, q, s);
          all[static_cast<size_t>(i)] += prob[static_cast<size_t>(i)];
        });
        if (!inside) {
          rows([&](int i) { beyond[static_cast<size_t>(i)] += prob[static_cast<size_t>(i)]; });
          continue;
        }
        for (int a = 0; a < K; ++a) {
          double l = 1.0;
          for (int b = 0; b < K; ++b)
            if (b != a)
              l *= (q - nodes[static_cast<size_t>(b)]) / (nodes[static_cast<size_t>(a)] - nodes[static_cast<size_t>(b)]);
          lagrange[static_cast<size_t>(a)] = l;
        }
        rows([&](int i) {
          for (int a = 0; a < K; ++a) {
            const int k = bins[static_cast<size_t>(a)];
            p.Set(i, k, p.Get(i, k) + prob[static_cast<size_t>(i)] * lagrange[static_cast<size_t>(a)]);
          }
        });
      }
    }
  }
  double worst = 0.0;
  int worstbin = 0;
  for (int i = 0; i < nout; ++i) {
    const double f =
        all[static_cast<size_t>(i)] > 0.0 ? beyond[static_cast<size_t>(i)] / all[static_cast<size_t>(i)] : 0.0;
    if (f > worst) {
      worst = f;
      worstbin = i;
    }
  }
  if (worst > truncation)
    femtokit::Warn(
        "WARNING: momentum smearing (%s): %.3g%% of the pairs of measured bin %d (q = %g MeV/c) come from "
        "true q beyond the model's mesh (%g MeV/c); the model should reach %g MeV/c\n",
        parsfile.c_str(), 100.0 * worst, worstbin, (worstbin + 0.5) * dout, qend, TrueQReach(nout * dout));
  // Each row's sum is its pair integral within the mesh (the basis sums to 1).
  map = p.RowNormalised(std::vector<double>(static_cast<size_t>(nin), 1.0));
  builtnin = nin;
  builtnout = nout;
  builtdin = din;
  builtdout = dout;
}

void CMomentumSmearing::Apply(const CCHArray *in, CCHArray *out) {
  const int nout = out->GetNRADIAL();
  if (gaussian) {
    const int nin = in->GetNRADIAL();
    const double din = in->GetRADSTEP(), dout = out->GetRADSTEP();
    if (nin < 1 || !(din > 0.0) || !(dout > 0.0))
      femtokit::FatalFile(parsfile, "momentum smearing (%s): the arrays need q meshes of positive bin width\n",
                          parsfile.c_str());
    if (nin != builtnin || nout != builtnout || din != builtdin || dout != builtdout)
      BuildGaussian(nin, din, nout, dout);
  } else {
    response.CheckArrays(in, "model (true q)", out, "measured", "momentum smearing", response.GetFileName());
  }
  QMesh::ReadComponent(in, scratchin);
  scratchout.resize(static_cast<size_t>(nout));
  map.Multiply(scratchin.data(), scratchout.data(), nout);
  for (int i = 0; i < nout; ++i) out->SetElement(0, 0, 0, i, scratchout[static_cast<size_t>(i)]);
}

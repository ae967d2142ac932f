// femtokit cf --3d and fit -m gauss3d: 3D correlation functions in the pair
// rest frame (PRF) or the longitudinally comoving frame (LCMS).
#include "apps/femtokit/threed.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/constants.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "fit/cf2sfit.h"
#include "fit/gauss3dfit.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

namespace fkcli {
namespace {


const char *kAxisNames[3] = {"out", "side", "long"};

// The harmonic correlation function C - 1 of the current source through the
// kernel (lx >= 2 completed), on arrays with the given symmetry flags.
void HarmonicCF(CSourceCalc &model, CKernel &kernel, CCHArray &source, CCHArray &cf) {
  source.ZeroArray();
  model.CalcS(&source);
  S2CF::s2c(&source, &kernel, &cf);
  cf.FillRemainderX();
}

// Projections of a harmonic C - 1 (PRF, the kernel's q mesh): C along each
// axis and every component, lx >= 2 from the traceless identities.
Table ProjectionTable(const CCHArray &cf, const std::vector<std::string> &comments) {
  Table t;
  t.comments = comments;
  t.comments.push_back("frame PRF; q: momentum of one particle in the pair frame, MeV/c (the kernel's mesh)");
  t.comments.push_back("C_out, C_side, C_long: C along each axis; C_lx_ly_lz: Cartesian-harmonic component of C - 1,");
  t.comments.push_back("every one stored (lx >= 2 by the traceless identities, e.g. C_2_0_0 = -C_0_2_0 - C_0_0_2)");
  t.columns = {"q", "C_out", "C_side", "C_long"};
  std::vector<std::vector<int>> comps;
  cf.ForEachTriple([&](int lx, int ly, int lz) { comps.push_back({lx, ly, lz}); });
  for (const auto &l : comps) t.columns.push_back(ComponentName("C", l));
  for (int iq = 0; iq < cf.GetNRADIAL(); iq++) {
    std::vector<double> row = {(iq + 0.5) * cf.GetRADSTEP(), 1.0 + cf.AExpand(1.0, 0.0, 0.0, iq),
                               1.0 + cf.AExpand(0.0, 1.0, 0.0, iq), 1.0 + cf.AExpand(0.0, 0.0, 1.0, iq)};
    for (const auto &l : comps) row.push_back(cf.GetElement(l[0], l[1], l[2], iq));
    t.rows.push_back(row);
  }
  return t;
}

void WriteText(const std::string &file, const std::string &text) {
  if (file == "-") {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  femtokit::FilePtr fp = femtokit::OpenForWriting(file);
  if (std::fwrite(text.data(), 1, text.size(), fp.get()) != text.size())
    femtokit::FatalFile(file, "cannot write %s\n", file.c_str());
  femtokit::CloseWritten(std::move(fp), file);
}


}  // namespace

void AddFrameOptions(CLI::App *sub, FrameOptions &o) {
  sub->add_option("--frame", o.frame, "Frame of the 3D table: prf (pair rest frame) or lcms (longitudinally comoving)")
      ->type_name("FRAME")
      ->check(CLI::IsMember({"prf", "lcms"}));
  sub->add_option("--gamma-t", o.gammaT, "LCMS: the pair's transverse Lorentz factor gamma_T")
      ->type_name("G")
      ->check(Positive());
  sub->add_option("--kt", o.kt, "LCMS: pair kT = |pT1 + pT2|/2, MeV/c (with --m1, --m2)")->type_name("MEV")->check(Number());
  sub->add_option("--mt", o.mt, "LCMS: pair mT = sqrt(kT^2 + m^2), MeV (with --m1, --m2)")->type_name("MEV")->check(Number());
  sub->add_option("--m1", o.m1, "LCMS: mass of particle 1, MeV, or pi, K, p, n, Lambda")->type_name("MASS");
  sub->add_option("--m2", o.m2, "LCMS: mass of particle 2 [default: --m1]")->type_name("MASS");
}

double ResolveGammaT(const FrameOptions &o, double tableGammaT) {
  const bool kt = !std::isnan(o.kt), mt = !std::isnan(o.mt);
  const int given = (o.gammaT > 0) + kt + mt;
  if (given > 1) ArgumentError("--gamma-t/--kt/--mt", "give one of them");
  double g = 0.0;
  if (o.gammaT > 0) {
    if (o.gammaT < 1.0) ArgumentError("--gamma-t", "gamma_T must be at least 1");
    g = o.gammaT;
  } else if (given == 1) {
    if (o.m1.empty()) ArgumentError(kt ? "--kt" : "--mt", "needs the pair masses --m1 (and --m2)");
    const double m1 = MassOf("--m1", o.m1), m2 = o.m2.empty() ? m1 : MassOf("--m2", o.m2);
    if (kt) {
      if (!(o.kt >= 0.0)) ArgumentError("--kt", "expected kT >= 0");
      g = femtokit::GammaTFromKT(o.kt, m1, m2);
    } else {
      if (!(o.mt >= 0.5 * (m1 + m2))) ArgumentError("--mt", "expected mT at least the mean mass of the pair");
      g = femtokit::GammaTFromMT(o.mt, m1, m2);
    }
  } else if (!o.m1.empty() || !o.m2.empty()) {
    ArgumentError("--m1/--m2", "the masses serve --kt or --mt");
  }
  if (tableGammaT > 0.0) {
    if (g > 0.0 && std::fabs(g - tableGammaT) > 1e-6 * tableGammaT)
      ArgumentError("--gamma-t/--kt/--mt",
                    femtokit::Format("gamma_T %.8g differs from the table's %.8g", g, tableGammaT));
    g = tableGammaT;
  }
  return g;
}

femtokit::Frame ResolveFrame(const FrameOptions &o, femtokit::Frame otherwise) {
  if (o.frame.empty()) return otherwise;
  return o.frame == "lcms" ? femtokit::Frame::LCMS : femtokit::Frame::PRF;
}

void RunCF3D(const CF3DInputs &in) {
  ApplyCommon(in.common);
  const femtokit::Frame frame = ResolveFrame(in.frame, femtokit::Frame::PRF);
  const double g = ResolveGammaT(in.frame, 0.0);
  if (frame == femtokit::Frame::LCMS && g == 0.0)
    ArgumentError("--frame lcms", "needs gamma_T: --gamma-t G, or --kt/--mt with --m1 (and --m2)");
  if (frame == femtokit::Frame::PRF && g > 0.0) ArgumentError("--gamma-t/--kt/--mt", "serve --frame lcms only");
  std::unique_ptr<CSourceCalc> model = MakeSource(in.model, in.settings, in.events);
  std::unique_ptr<CKernel> kernel = LoadKernel(in.kernel, in.kpars);
  const bool sym = kernel->GetIDENTICAL();
  CCHArray source(kernel->GetLMAX(), kernel->GetNRMAX(), kernel->GetDELR(), sym, sym, sym);
  CCHArray cf(kernel->GetLMAX(), kernel->GetNQMAX(), kernel->GetDELQ(), sym, sym, sym);
  HarmonicCF(*model, *kernel, source, cf);
  // The mesh in the PRF: q_out^PRF = q_out^LCMS / gamma_T.
  const double outscale = frame == femtokit::Frame::LCMS ? 1.0 / g : 1.0;
  C3DArray prf(in.bins, in.width * outscale, in.bins, in.width, in.bins, in.width, sym, sym, sym);
  ArrayCalc::Calc3DArrayFromAExpArray(&cf, &prf);
  const double corner = in.width * in.bins * std::sqrt(2.0 + outscale * outscale);
  if (corner > kernel->GetNQMAX() * kernel->GetDELQ())
    femtokit::Warn("the 3D mesh reaches |q| = %g MeV/c, beyond the kernel's %g MeV/c: C = 1 there\n", corner,
                   kernel->GetNQMAX() * kernel->GetDELQ());
  const std::vector<std::string> comments = {
      "femtokit cf --3d: correlation function C(q_out, q_side, q_long) of a source through a kernel",
      "source: " + in.model + " " + DescribeSource(*model) + " (separations in the pair rest frame; x = out, y = side, z = long)",
      "kernel: " + in.kernel + " (" + DescribeKernel(*kernel) + ")",
      "q: momentum of one particle in the pair frame (relative momentum 2q); C: the full correlation function; error 0"};
  std::unique_ptr<C3DArray> shown = femtokit::ScaledOut(prf, 1.0 / outscale);
  WriteText(in.out, femtokit::Table3DText(*shown, nullptr, frame, frame == femtokit::Frame::LCMS ? g : 0.0, comments));
  if (!in.projections.empty()) WriteTable(in.projections, ProjectionTable(cf, comments));
  Status(in.common, "cf --3d: %d^3 cells of %g MeV/c (%s) written to %s\n", in.bins, in.width,
         femtokit::FrameName(frame), in.out == "-" ? "standard output" : in.out.c_str());
}

void RunFit3D(const Fit3DInputs &in) {
  ApplyCommon(in.common);
  if (in.table.empty()) ArgumentError("--table", "the 3D fit reads a 3D table (femtokit cf --3d writes one)");
  if (in.minimiser != "auto" && in.minimiser != "newton" && in.minimiser != "steepest")
    ArgumentError("--minimiser " + in.minimiser, "the 3D fit takes auto, newton or steepest");
  femtokit::Table3D data = femtokit::ReadTable3D(in.table);
  const double g = ResolveGammaT(in.frame, data.gammaT);
  const femtokit::Frame shown = ResolveFrame(in.frame, data.frame);
  if ((data.frame == femtokit::Frame::LCMS || shown == femtokit::Frame::LCMS) && g == 0.0)
    ArgumentError("--frame", "LCMS needs gamma_T: '# frame LCMS gamma_T G' in the table, --gamma-t G, or --kt/--mt "
                             "with --m1 (and --m2)");
  std::unique_ptr<CKernel> kernel = LoadKernel(in.kernel, in.kpars);
  const bool sx = data.cf->GetXSYM(), sy = data.cf->GetYSYM(), sz = data.cf->GetZSYM();
  if (kernel->GetIDENTICAL() && !(sx && sy && sz))
    femtokit::FatalFile(in.table,
                        "%s: an identical-particle kernel needs a table even in each component (binning from 0 on "
                        "every axis)\n",
                        in.table.c_str());
  // The data in the PRF, where the kernel lives.
  const double toPRF = data.frame == femtokit::Frame::LCMS ? 1.0 / g : 1.0;
  std::unique_ptr<C3DArray> cexp = femtokit::ScaledOut(*data.cf, toPRF), cerr = femtokit::ScaledOut(*data.error, toPRF);
  C3DArray ctheory(cexp->GetNXMAX(), cexp->GetDELX(), cexp->GetNYMAX(), cexp->GetDELY(), cexp->GetNZMAX(),
                   cexp->GetDELZ(), sx, sy, sz);
  CCHArray source(kernel->GetLMAX(), kernel->GetNRMAX(), kernel->GetDELR(), sx, sy, sz);
  CCHArray ctheoryCH(kernel->GetLMAX(), kernel->GetNQMAX(), kernel->GetDELQ(), sx, sy, sz);
  std::unique_ptr<CSourceCalc> model = MakeSource("gauss3d", in.settings);

  // Parameters from the model's table: lambda and the radii free, the rest fixed unless freed.
  CCF2SFit_Gauss3D fit(model.get(), cexp.get(), cerr.get(), &ctheory, &ctheoryCH, &source, kernel.get());
  for (const std::string &name : SplitList(in.free)) {
    const int i = fit.FindPar(name);
    if (i < 0) ArgumentError("--free " + name, "no parameter of gauss3d of this name");
    if (fit.par[static_cast<size_t>(i)].fixed) fit.FreePar(name);
  }
  for (const std::string &name : SplitList(in.fix)) {
    const int i = fit.FindPar(name);
    if (i < 0) ArgumentError("--fix " + name, "no parameter of gauss3d of this name");
    if (!fit.par[static_cast<size_t>(i)].fixed) fit.FixPar(name);
  }
  if (fit.nfreepars == 0) ArgumentError("--fix", "no free parameter left to fit");

  std::string how;
  if (in.minimiser == "newton") {
    const int n = in.iterations > 0 ? in.iterations : 3;
    for (int i = 0; i < n; i++) fit.Newton(2);
    how = femtokit::Format("Newton-Raphson, %d x 2 iterations; errors from the chi^2 Hessian", n);
  } else {
    const int n = in.iterations > 0 ? in.iterations : 100;
    fit.SteepestDescent(n);
    fit.Newton(in.minimiser == "auto" ? 2 : 1);
    if (in.minimiser == "auto") fit.Newton(2);
    how = in.minimiser == "auto"
              ? femtokit::Format("steepest descent (at most %d iterations), then 2 x 2 Newton-Raphson iterations; "
                                 "errors from the chi^2 Hessian", n)
              : femtokit::Format("steepest descent (at most %d iterations), then one Newton step for the errors", n);
  }
  std::vector<double> x;
  for (int i = 0; i < fit.nfreepars; i++) x.push_back(fit.par[static_cast<size_t>(i)].value);
  fit.chi2 = fit.GetChiSquared(x);

  // Radii in the frame asked for: R_out^LCMS = R_out^PRF / gamma_T.
  const double outFactor = shown == femtokit::Frame::LCMS ? 1.0 / g : 1.0;
  std::string text = "fit of gauss3d to " + in.table + " (" + femtokit::FrameName(data.frame) + ") through " +
                     in.kernel + " (" + how + ")\n" + "source parameters (pair rest frame):\n" + fit.FitTable();
  text += femtokit::Format("radii in the %s (x = out, y = side, z = long%s):\n", femtokit::FrameName(shown),
                           shown == femtokit::Frame::LCMS ? femtokit::Format("; R_out = Rx / gamma_T, gamma_T = %.6g", g).c_str() : "");
  const char *radii[3] = {"Rx", "Ry", "Rz"};
  for (int k = 0; k < 3; k++) {
    const CParInfo &p = fit.par[static_cast<size_t>(fit.FindPar(radii[k]))];
    const double f = k == 0 ? outFactor : 1.0;
    text += femtokit::Format("%12s  %11.4e  %11.4e  fm%s\n", (std::string("R_") + kAxisNames[k]).c_str(), p.value * f,
                             p.error * f, p.fixed ? "  (fixed)" : "");
  }
  const bool turned = fit.par[static_cast<size_t>(fit.FindPar("Euler_Phi"))].value != 0.0 ||
                      fit.par[static_cast<size_t>(fit.FindPar("Euler_Theta"))].value != 0.0 ||
                      fit.par[static_cast<size_t>(fit.FindPar("Euler_Psi"))].value != 0.0;
  if (turned && shown == femtokit::Frame::LCMS)
    text += "note: the axes are turned; Euler angles, offsets and the conversion of R_out hold in the pair rest frame\n";
  text += "error matrix (covariance of the free parameters):\n" + femtokit::Format("%12s", "");
  for (int j = 0; j < fit.nfreepars; j++) text += femtokit::Format(" %12s", fit.par[static_cast<size_t>(j)].name.c_str());
  text += "\n";
  for (int i = 0; i < fit.nfreepars; i++) {
    text += femtokit::Format("%12s", fit.par[static_cast<size_t>(i)].name.c_str());
    for (int j = 0; j < fit.nfreepars; j++)
      text += femtokit::Format(" %12.4e", fit.ErrorMatrix[static_cast<size_t>(i)][static_cast<size_t>(j)]);
    text += "\n";
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);

  const std::vector<std::string> comments = {
      "femtokit fit -m gauss3d: the best fit on the measured cells (error: the measurement's)",
      femtokit::Format("chi^2=%g, bins=%d, dof=%d; %s", fit.chi2, fit.GetNBins(), fit.GetNDOF(), how.c_str())};
  if (!in.out.empty()) {
    const double toShown = shown == femtokit::Frame::LCMS ? g : 1.0;
    std::unique_ptr<C3DArray> best = femtokit::ScaledOut(ctheory, toShown), err = femtokit::ScaledOut(*cerr, toShown);
    WriteText(in.out, femtokit::Table3DText(*best, err.get(), shown, shown == femtokit::Frame::LCMS ? g : 0.0, comments));
    Status(in.common, "best fit written to %s\n", in.out.c_str());
  }
  if (!in.projections.empty()) {
    // Along each axis: the row of cells next to it, measured and fitted, in the frame shown.
    Table t;
    t.comments = comments;
    t.comments.push_back(std::string("frame ") + femtokit::FrameName(shown) +
                         "; q_axis: the cell centre along the axis, MeV/c, with the lowest cells of the other two");
    const int half[3] = {cexp->GetNXMAX(), cexp->GetNYMAX(), cexp->GetNZMAX()};
    const double width[3] = {data.cf->GetDELX() * (shown == data.frame ? 1.0 : (shown == femtokit::Frame::LCMS ? 1.0 / g : g)),
                             data.cf->GetDELY(), data.cf->GetDELZ()};
    int n = 0;
    for (int k = 0; k < 3; k++) n = std::max(n, half[k]);
    for (int k = 0; k < 3; k++)
      for (const char *c : {"q_", "C_exp_", "error_", "C_fit_"}) t.columns.push_back(std::string(c) + kAxisNames[k]);
    for (int i = 0; i < n; i++) {
      std::vector<double> row;
      for (int k = 0; k < 3; k++) {
        const int j = std::min(i, half[k] - 1);
        int idx[3] = {0, 0, 0};
        idx[k] = j;
        row.push_back((j + 0.5) * width[k]);
        row.push_back(1.0 + cexp->GetElement(0, idx[0], 0, idx[1], 0, idx[2]));
        row.push_back(cerr->GetElement(0, idx[0], 0, idx[1], 0, idx[2]));
        row.push_back(1.0 + ctheory.GetElement(0, idx[0], 0, idx[1], 0, idx[2]));
      }
      t.rows.push_back(row);
    }
    WriteTable(in.projections, t);
  }
}

std::string ThreeDHelp() {
  return "3D tables: one row per cell 'q_out q_side q_long C error' (MeV/c; q the momentum of one particle in\n"
         "the pair frame) under the header lines\n"
         "  # frame PRF            (or: # frame LCMS gamma_T 1.25)\n"
         "  # units MeV/c\n"
         "  # binning q_out 0 40 10 q_side 0 40 10 q_long 0 40 10   (LO HI N per axis; LO = 0 or -HI)\n"
         "Absent cells (removed bins) and rows with error 0 are left out of fits. Frames: the kernels live in\n"
         "the pair rest frame (PRF); in the LCMS q_out^PRF = q_out^LCMS / gamma_T and R_out^PRF = gamma_T\n"
         "R_out^LCMS. gamma_T comes from the table header, --gamma-t, or --kt/--mt with --m1 (and --m2).\n"
         "Source parameters (Rx = out, Ry = side, Rz = long) are pair-rest-frame quantities.\n";
}

}  // namespace fkcli

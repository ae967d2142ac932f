// The source models' parameter tables: every model refuses what its table
// does not allow, naming the parameter, value and range, and every fill warns
// when part of its norm (or of its pairs) lies outside the mesh.
#include "source/sourceparameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/badinput.h"
#include "common/child.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_blast.h"
#include "source/sourcecalc_gaussian.h"
#include "source/sourcecalc_gx1d.h"
#include "source/sourcecalc_levy.h"
#include "source/sourcecalc_oscar.h"
#include "wavefunction/wavefunction.h"

using badinput::ExpectRefused;
using badinput::Guard;

namespace {

std::unique_ptr<CSourceCalc> Make(const std::string &model) {
  if (model == "gx1d") return std::make_unique<CSourceCalc_GX1D>();
  if (model == "levy") return std::make_unique<CSourceCalc_Levy>();
  if (model == "gauss3d") return std::make_unique<CSourceCalc_Gaussian>();
  if (model == "blast") return std::make_unique<CSourceCalc_Blast>();
  return std::make_unique<CSourceCalc_OSCAR>();
}

}  // namespace

TEST(SourceParameters, TablesAreTheModelsDefaultsAndKnowTheirRanges) {
  for (const femtokit::SourceModel *m : femtokit::SourceModels()) {
    EXPECT_EQ(femtokit::FindSourceModel(m->name), m);
    std::unique_ptr<CSourceCalc> calc = Make(m->name);
    EXPECT_EQ(calc->Model(), m);
    for (const femtokit::SourceParameter &p : m->parameters) {
      // InitSPars writes the table's default, and the default is allowed.
      EXPECT_EQ(femtokit::ReadChecked(calc->spars, *m, p), p.def) << m->name << " " << p.name;
      EXPECT_TRUE(femtokit::InRange(p, p.def)) << m->name << " " << p.name;
      EXPECT_FALSE(femtokit::InRange(p, NAN));
      EXPECT_TRUE(p.meaning && *p.meaning);
    }
  }
  EXPECT_EQ(femtokit::FindSourceModel("gaussian"), nullptr);
  EXPECT_EQ(femtokit::RangeText(*femtokit::GX1DModel().Find("R")), "(0, 1000] fm");
  EXPECT_EQ(femtokit::RangeText(*femtokit::LevyModel().Find("alpha")), "(0, 2]");
}

TEST(SourceParameters, ImpossibleValuesAreRefusedByEveryModel) {
  Guard guard;
  CCHArray A(2, 40, 1.0, true, true, true);
  C3DArray B(4, 1.0, true, true, true);
  const struct {
    const char *model, *key, *value, *message;
  } cases[] = {
      {"gx1d", "R", "nan", "gx1d source: parameter R = 'nan' is not a finite number (range (0, 1000] fm)"},
      {"gx1d", "R", "-3", "gx1d source: parameter R = -3 is outside its range (0, 1000] fm"},
      {"gx1d", "R", "0", "parameter R = 0 is outside its range"},
      {"gx1d", "R", "1e300", "parameter R = 1e300 is outside its range"},
      {"gx1d", "lambdaG", "nan", "parameter lambdaG = 'nan' is not a finite number (range [0, 1])"},
      {"gx1d", "lambdaX", "1.2", "parameter lambdaX = 1.2 is outside its range [0, 1]"},
      {"levy", "alpha", "2.1", "levy source: parameter alpha = 2.1 is outside its range (0, 2]"},
      {"levy", "alpha", "0", "parameter alpha = 0 is outside its range (0, 2]"},
      {"gauss3d", "Rx", "nan", "gauss3d source: parameter Rx = 'nan' is not a finite number"},
      {"gauss3d", "Ry", "0", "parameter Ry = 0 is outside its range (0, 1000] fm"},
      {"gauss3d", "Rz", "-3", "parameter Rz = -3 is outside its range"},
      {"blast", "T", "0", "blast source: parameter T = 0 is outside its range (0, 10000] MeV"},
      {"blast", "Beta", "1", "parameter Beta = 1 is outside its range [0, 1) c"},
      {"blast", "Nsample", "10.5", "parameter Nsample = 10.5 is outside its range [1, 1e+08] (a whole number)"},
      {"events", "DELPT", "0", "events source: parameter DELPT = 0 is outside its range"},
      {"events", "NEVENTSMAX", "0", "parameter NEVENTSMAX = 0 is outside its range"},
  };
  for (const auto &c : cases) {
    std::unique_ptr<CSourceCalc> calc = Make(c.model);
    parameter::set(calc->spars, c.key, std::string(c.value));
    parameter::set(calc->spars, "OSCARfilename", std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/gauss_events.oscar");
    ExpectRefused([&] { calc->CalcS(&A); }, "", {c.message});
    if (std::string(c.model) == "gauss3d") ExpectRefused([&] { static_cast<CSourceCalc_Gaussian &>(*calc).CalcS(&B); }, "", {c.message});
  }
  // A refusal leaves nothing broken: the same calculator fills once the value is mended.
  CSourceCalc_GX1D gx;
  parameter::set(gx.spars, "R", -3.0);
  ExpectRefused([&] { gx.CalcS(&A); }, "", {"parameter R = -3"});
  gx.SetSPars(0.5, 3.0, 0.0, 10.0, 5.0);
  gx.CalcS(&A);
  EXPECT_GT(A.GetElement(0, 0, 0, 0), 0.0);
  EXPECT_FALSE(guard.Printed("WARNING"));  // R = -3 no longer claims 200 % of the norm lost
}

TEST(SourceParameters, EveryFillWarnsOfNormOutsideItsMesh) {
  Guard guard;
  // A 10 fm 3D Gaussian on a 40 fm sphere keeps 95.4 % of its norm: the
  // fraction lost equals that of an isotropic Gaussian, erfc(x) + 2x e^(-x^2)/sqrt(pi), x = 2.
  CSourceCalc_Gaussian g3;
  g3.SetSPars(1.0, 10.0, 10.0, 10.0);
  CCHArray A(2, 40, 1.0, true, true, true);
  g3.CalcS(&A);
  const double x = 2.0, lost = std::erfc(x) + 2.0 * x * std::exp(-x * x) / std::sqrt(M_PI);
  EXPECT_TRUE(guard.Printed(femtokit::Format("WARNING: %.3g%% of the source's norm lies outside the mesh, which reaches 40 fm", 100.0 * lost)))
      << guard.text;
  // Anisotropic and offset: the angular rule against the mesh's own integral
  // of the same Gaussian on a mesh reaching far enough (lost = 1 - inside).
  double alpha[4][4];
  CSourceCalc_Gaussian tilted;
  tilted.SetSPars(1.0, 2.0, 5.0, 3.0, 1.0, -2.0, 0.5, 0.3, 0.7, -0.2);
  CCHArray none(0, 1, 1.0);
  tilted.CalcAlpha(alpha, &none);
  CCHArray wide(4, 2000, 0.02);
  tilted.CalcS(&wide);
  double inside = 0.0;
  for (int ir = 0; ir < 600; ir++) {  // r < 12 fm
    const double r = (ir + 0.5) * 0.02;
    inside += 4.0 * M_PI * r * r * wide.GetElement(0, 0, 0, ir) * 0.02;
  }
  EXPECT_NEAR(CSourceCalc_Gaussian::LostFraction(alpha, 12.0), 1.0 - inside, 2e-5);
  // On a 3D mesh: the box |x_i| < 4 fm holds erf(1)^3 of a 2 fm Gaussian.
  guard.text.clear();
  C3DArray B(4, 1.0, true, true, true);
  g3.SetSPars(1.0, 2.0, 2.0, 2.0);
  g3.CalcS(&B);
  EXPECT_TRUE(guard.Printed(femtokit::Format("WARNING: %.3g%% of the source's norm lies outside the mesh, which spans |x| < 4, |y| < 4, |z| < 4 fm",
                                             100.0 * (1.0 - std::pow(std::erf(1.0), 3)))))
      << guard.text;
  // Sampled sources count their pairs: a blast wave on a 20 fm mesh, an event file on a 5 fm one.
  guard.text.clear();
  CSourceCalc_Blast blast;
  parameter::set(blast.spars, "Nsample", 200);
  CCHArray small(2, 20, 1.0, true, true, true);
  blast.CalcS(&small);
  EXPECT_TRUE(guard.Printed("of the sampled pairs lies outside the mesh, which reaches 20 fm")) << guard.text;
  guard.text.clear();
  CSourceCalc_OSCAR events;
  parameter::set(events.spars, "OSCARfilename", std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/gauss_events.oscar");
  CCHArray tiny(2, 5, 1.0, true, true, true);
  events.CalcS(&tiny);
  const CSourceCalc_OSCAR::Summary &s = events.LastSummary();
  ASSERT_GT(s.pairs, 0.0);
  EXPECT_TRUE(guard.Printed(femtokit::Format("WARNING: %.3g%% of the selected pairs lies outside the mesh", 100.0 * (1.0 - s.inside / s.pairs))))
      << guard.text;
  // A mesh that holds the source says nothing.
  guard.text.clear();
  CCHArray big(2, 80, 1.0, true, true, true);
  g3.CalcS(&big);
  EXPECT_FALSE(guard.Printed("WARNING")) << guard.text;
}

TEST(SourceParameters, ArraysAndKernelsRefuseWhatWouldBeSilentlyWrong) {
  Guard guard;
  CCHArray A(2, 10, 1.0);
  ExpectRefused([&] { CCHArray b(2, 10, NAN); }, "", {"CCHArray: RADSTEP=nan must be finite and positive"});
  ExpectRefused([&] { CCHArray b(2, 10, 0.0); }, "", {"RADSTEP=0 must be finite and positive"});
  ExpectRefused([&] { A.SetRADSTEP(-1.0); }, "", {"RADSTEP=-1 must be finite and positive"});
  EXPECT_EQ(A.GetRADSTEP(), 1.0);
  ExpectRefused([&] { C3DArray b(-2, 1.0, false, false, false); }, "",
                {"C3DArray: cell counts NXYZMAX=(-2,-2,-2) must not be negative"});
  // A kernel reaching beyond its wave function's q mesh would be zero there.
  const std::string dir = ScratchDir("kernel_short_wf");
  CWaveFunction wf;
  wf.ParsInit(badinput::WriteText(dir + "/wf.dat", "int NQMAX 10\ndouble DELQ 5\n"));
  CKernel k(badinput::WriteText(dir + "/k.dat", "int NQMAX 60\nint NRMAX 4\nint KLMAX 0\ndouble DELQ 2\n"));
  ExpectRefused([&] { k.Calc(&wf); }, "",
                {"the kernel's q mesh (NQMAX=60, DELQ=2) reaches q=119 MeV/c, beyond the wave function's mesh (10 "
                 "points from 2.5 to 47.5 MeV/c)"});
  CKernel inside(badinput::WriteText(dir + "/k2.dat", "int NQMAX 24\nint NRMAX 4\nint KLMAX 0\ndouble DELQ 2\n"));
  inside.Calc(&wf);  // 47 MeV/c: within the mesh
}

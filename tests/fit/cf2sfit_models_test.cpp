// The ready-made fits on the data they are made for: the main job's written
// output (a GX1D source through the free identical-boson kernel on the main
// job's meshes, noise 0.05/(iq+1), written as GX1d/pp and GX1d/pp_errors) and
// a synthetic 3D correlation function of an anisotropic Gaussian source.
#include "common/child.h"

#include <femtokit.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

struct Quiet : testing::Test {
  std::string out;
  void SetUp() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    femtokit::SetOutput([this](femtokit::Verbosity, const std::string &text) { out += text; });
  }
  void TearDown() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
    femtokit::SetVerbosity(femtokit::Verbosity::Normal);
    femtokit::SetOutput(femtokit::OutputFunction());
  }
};

namespace {

const std::string kPars = std::string(FEMTOKIT_SOURCE_DIR) + "/data/pp";

// The main job with the free-boson kernel on its meshes; returns the
// directory holding GX1d/.
std::string MainJobOutput(CKernel &kernel) {
  const std::string dir = ScratchDir("main_job");
  CCHArray source(kPars + "/aparsCH_source.dat"), CFexp(kPars + "/aparsCH_CF.dat"),
      CFtheory(kPars + "/aparsCH_CF.dat"), CFerror(kPars + "/aparsCH_CF.dat");
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
  gx.CalcS(&source);
  S2CF::s2c(&source, &kernel, &CFtheory);
  CRandom randy(-4321);
  for (int ir = 0; ir < CFerror.GetNRADIAL(); ++ir) {
    const double error = 0.05 / (ir + 1);
    CFerror.ForEachTriple(CFerror.GetLMAX(), 1, [&](int lx, int ly, int lz) {
      CFexp.SetElement(lx, ly, lz, ir, CFtheory.GetElement(lx, ly, lz, ir) + randy.gauss() * error);
      CFerror.SetElement(lx, ly, lz, ir, error);
    });
  }
  CFexp.WriteAX(dir + "/GX1d/pp");
  CFerror.WriteAX(dir + "/GX1d/pp_errors");
  return dir;
}

struct GX1DFit {
  CCHArray cexp{kPars + "/aparsCH_CF.dat"}, cerror{kPars + "/aparsCH_CF.dat"}, ctheory{kPars + "/aparsCH_CF.dat"},
      source{kPars + "/aparsCH_source.dat"};
  CSourceCalc_GX1D calc;
  std::unique_ptr<CCF2SFit_GX1D> fit;
  GX1DFit(CKernel &kernel, const std::string &dir) {
    calc.SetSPars(0.5, 4.2, 0.0, 10.0, 5.0);  // the start
    fit = std::make_unique<CCF2SFit_GX1D>(&calc, &cexp, &cerror, &ctheory, &source, &kernel);
    fit->ReadData(dir + "/GX1d/pp", dir + "/GX1d/pp_errors");
    for (const char *name : {"lambdaX", "X", "a"}) fit->FixPar(name);
  }
  double Value(int i) const { return fit->par[i].value; }
  double Error(int i) const { return fit->par[i].error; }
};

}  // namespace

TEST_F(Quiet, GX1DFitStartsFromTheCalculatorWithSeededMatrices) {
  femtokit::SetVerbosity(femtokit::Verbosity::Normal);
  CKernel kernel(kPars + "/kparameters.dat");
  CCHArray a(kPars + "/aparsCH_CF.dat"), b(kPars + "/aparsCH_CF.dat"), c(kPars + "/aparsCH_CF.dat"),
      s(kPars + "/aparsCH_source.dat");
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
  out.clear();
  CCF2SFit_GX1D fit(&gx, &a, &b, &c, &s, &kernel);
  fit.PrintPars();
  fit.PrintStepMatrix();
  fit.PrintErrorMatrix();
  EXPECT_EQ(out,
            "SFit Arrays Initialized\n"
            "ipar        name     value       error       min         max     fixed\n"
            " 0 :      lambdaG  6.0000e-01  2.0000e-02  0.0000e+00  1.0000e+00  0\n"
            " 1 :            R  5.0000e+00  2.0000e-01  1.0000e+00  1.2000e+01  0\n"
            " 2 :      lambdaX  0.0000e+00  2.0000e-02  0.0000e+00  1.0000e+00  0\n"
            " 3 :            X  1.0000e+01  4.0000e-01  1.0000e+00  2.5000e+01  0\n"
            " 4 :            a  5.0000e+00  2.0000e-01  1.0000e+00  2.0000e+01  0\n"
            "________ < StepMatrix_ij > ________\n"
            " 2.00e-02  0.00e+00  0.00e+00  0.00e+00  0.00e+00 \n"
            " 0.00e+00  2.00e-01  0.00e+00  0.00e+00  0.00e+00 \n"
            " 0.00e+00  0.00e+00  2.00e-02  0.00e+00  0.00e+00 \n"
            " 0.00e+00  0.00e+00  0.00e+00  4.00e-01  0.00e+00 \n"
            " 0.00e+00  0.00e+00  0.00e+00  0.00e+00  2.00e-01 \n"
            "___________________________________\n"
            "________ < delX_i delX_j > ________\n"
            " 4.00e-04  0.00e+00  0.00e+00  0.00e+00  0.00e+00 \n"
            " 0.00e+00  4.00e-02  0.00e+00  0.00e+00  0.00e+00 \n"
            " 0.00e+00  0.00e+00  4.00e-04  0.00e+00  0.00e+00 \n"
            " 0.00e+00  0.00e+00  0.00e+00  1.60e-01  0.00e+00 \n"
            " 0.00e+00  0.00e+00  0.00e+00  0.00e+00  4.00e-02 \n"
            "___________________________________\n");
  // A calculator without the keys: the listed defaults.
  CSourceCalc bare;
  CCF2SFit_GX1D fallback(&bare, &a, &b, &c, &s, &kernel);
  EXPECT_EQ(fallback.par[0].value, 0.3);
  EXPECT_EQ(fallback.par[3].value, 10.0);
  // A missing data directory is an error that names it.
  EXPECT_THROW(fit.ReadData("no/such/dir", "no/such/dir_errors"), femtokit::Error);
}

TEST_F(Quiet, EachMinimiserRecoversTheMainJobsSourceFromItsOutput) {
  CKernel kernel(kPars + "/kparameters.dat");
  kernel.Calc_PureHBT();
  const std::string dir = MainJobOutput(kernel);

  GX1DFit newton(kernel, dir);
  newton.fit->Newton(2);
  newton.fit->Newton(2);
  GX1DFit descent(kernel, dir);
  descent.fit->SteepestDescent(100);
  GX1DFit metropolis(kernel, dir);
  // The typical sequence: steps from the seeded errors, then the chain,
  // alternating with UpdateMetroStepSize.
  metropolis.fit->Metropolis(300);
  metropolis.fit->UpdateMetroStepSize();
  for (int round = 0; round < 3; round++) {
    metropolis.fit->Metropolis(1500);
    metropolis.fit->UpdateMetroStepSize();
  }
  EXPECT_EQ(out, "");  // quiet: nothing per evaluation

  const double truth[2] = {0.6, 5.0};
  for (int i = 0; i < 2; i++) {
    const double sigma = newton.Error(i);
    EXPECT_GT(sigma, 0.0);
    EXPECT_LT(sigma, 0.05 * truth[i]);
    EXPECT_NEAR(newton.Value(i), truth[i], 3 * sigma) << i;
    EXPECT_NEAR(descent.Value(i), truth[i], 3 * sigma) << i;
    EXPECT_NEAR(metropolis.fit->par[i].xbar, truth[i], 3 * sigma) << i;
    // The minimisers agree: on the minimum, and on the errors.
    EXPECT_NEAR(descent.Value(i), newton.Value(i), 0.2 * sigma) << i;
    EXPECT_NEAR(metropolis.fit->par[i].xbar, newton.Value(i), 0.3 * sigma) << i;
    EXPECT_NEAR(metropolis.Error(i), sigma, 0.2 * sigma) << i;
  }
  EXPECT_NEAR(descent.fit->chi2, newton.fit->chi2, 0.05);
  EXPECT_LT(newton.fit->chi2, 2.0 * newton.fit->GetNDOF());
  EXPECT_EQ(newton.fit->GetNBins(), 60);
  EXPECT_EQ(newton.fit->GetNDOF(), 58);
  EXPECT_NE(newton.fit->FitTable().find(", bins=60, dof=58, chi^2/dof="), std::string::npos);
}

TEST_F(Quiet, ThreeDGaussianFitRecoversTheRadii) {
  // Free identical bosons: C(q) - 1 = lambda exp(-4 (qx^2 Rx^2 + qy^2 Ry^2 +
  // qz^2 Rz^2)/hbarc^2) for the Gaussian source, measured with errors 0.005
  // on a 3D mesh of 8 cells of 10 MeV/c per half-axis.
  const double hbarc = femtokit::constants::HBARC, lambda = 0.8, R[3] = {3.0, 4.0, 5.0};
  const std::string dir = ScratchDir("fit3d");
  {
    std::FILE *fp = std::fopen((dir + "/kpars.dat").c_str(), "w");
    std::fputs("int NQMAX 75\nint NRMAX 60\nint KLMAX 4\ndouble DELQ 2\ndouble DELR 0.5\nbool IDENTICAL 1\n", fp);
    std::fclose(fp);
  }
  CKernel kernel(dir + "/kpars.dat");
  kernel.Calc_PureHBT();
  CCHArray source(4, 60, 0.5, true, true, true), ctheoryCH(4, 75, 2.0, true, true, true);
  C3DArray cexp(8, 10.0, true, true, true), cerror(8, 10.0, true, true, true), ctheory(8, 10.0, true, true, true);
  CRandom randy(-777);
  for (int ix = 0; ix < 8; ix++)
    for (int iy = 0; iy < 8; iy++)
      for (int iz = 0; iz < 8; iz++) {
        const double q[3] = {(ix + 0.5) * 10, (iy + 0.5) * 10, (iz + 0.5) * 10};
        double e = 0;
        for (int k = 0; k < 3; k++) e += q[k] * q[k] * R[k] * R[k];
        cexp.SetElement(0, ix, 0, iy, 0, iz, lambda * std::exp(-4 * e / (hbarc * hbarc)) + 0.005 * randy.gauss());
        cerror.SetElement(0, ix, 0, iy, 0, iz, 0.005);
      }
  CSourceCalc_Gaussian gauss;
  gauss.SetSPars(0.6, 3.6, 3.6, 3.6);
  CCF2SFit_3DGaussian fit(&gauss, &cexp, &cerror, &ctheory, &ctheoryCH, &source, &kernel);
  fit.FixPar("Xoff");
  fit.Newton(2);
  fit.Newton(2);
  ASSERT_EQ(fit.nfreepars, 4);
  const double truth[4] = {lambda, R[0], R[1], R[2]};
  for (int i = 0; i < 4; i++) {
    EXPECT_GT(fit.par[i].error, 0.0);
    EXPECT_LT(fit.par[i].error, 0.03 * truth[i]);
    EXPECT_NEAR(fit.par[i].value, truth[i], 3 * fit.par[i].error) << fit.par[i].name;
  }
  EXPECT_LT(fit.chi2, 1.3 * fit.GetNDOF());
  EXPECT_EQ(fit.GetNBins(), 512);
  EXPECT_EQ(out, "");
}

namespace {
// A source whose fill adds into the array, as the blast-wave and event-file
// fills do: an isotropic Gaussian of radius Rx and weight lambda.
struct AddingSource : CSourceCalc {
  void CalcS(CCHArray *A) override {
    const double l = parameter::getD(spars, "lambda", 1), R = parameter::getD(spars, "Rx", 3);
    for (int ir = 0; ir < A->GetNRADIAL(); ir++) {
      const double r = (ir + 0.5) * A->GetRADSTEP();
      A->IncrementElement(0, 0, 0, ir, l * std::pow(4 * M_PI * R * R, -1.5) * std::exp(-r * r / (4 * R * R)));
    }
  }
};
}  // namespace

TEST_F(Quiet, A3DEvaluationStartsFromAnEmptySource) {
  const std::string dir = ScratchDir("fit3d_adding");
  {
    std::FILE *fp = std::fopen((dir + "/kpars.dat").c_str(), "w");
    std::fputs("int NQMAX 20\nint NRMAX 30\nint KLMAX 2\ndouble DELQ 5\ndouble DELR 0.5\nbool IDENTICAL 1\n", fp);
    std::fclose(fp);
  }
  CKernel kernel(dir + "/kpars.dat");
  kernel.Calc_PureHBT();
  CCHArray source(2, 30, 0.5, true, true, true), ctheoryCH(2, 20, 5.0, true, true, true);
  C3DArray cexp(4, 20.0, true, true, true), cerror(4, 20.0, true, true, true), ctheory(4, 20.0, true, true, true);
  cerror.MakeConstant(0.01);
  AddingSource adding;
  CCF2SFit_3DGaussian fit(&adding, &cexp, &cerror, &ctheory, &ctheoryCH, &source, &kernel);
  const double x[5] = {0.7, 3.0, 3.0, 3.0, 0.0};
  const double first = fit.GetChiSquared(x);
  EXPECT_GT(first, 0.0);
  EXPECT_EQ(fit.GetChiSquared(x), first);
  EXPECT_EQ(fit.GetNBins(), 64);
}

// A Levy fit of a synthetic pi+pi+ correlation function (Coulomb and the I = 2
// phases, from the shipped parameter file on a coarser mesh) recovers lambda,
// R and alpha.
TEST_F(Quiet, LevyFitRecoversLambdaRadiusAndIndex) {
  femtokit::SetVerbosity(femtokit::Verbosity::Silent);  // the long Levy tail warns of its lost norm
  const std::string dir = ScratchDir("levy_fit"), data = FEMTOKIT_SOURCE_DIR "/data/pipluspiplus/";
  for (const char *table : {"pipi_I2_S.dat", "pipi_I2_D.dat"})
    std::filesystem::copy_file(data + table, dir + "/" + table);
  {
    std::ifstream in(data + "wfparameters.dat");
    std::ofstream out(dir + "/wf.dat");
    out << in.rdbuf() << "int NQMAX 20\ndouble DELQ 5.0\n";  // later lines win
    std::ofstream(dir + "/k.dat") << "int NQMAX 20\nint NRMAX 60\nint KLMAX 0\ndouble DELQ 5\ndouble DELR 0.5\n"
                                     "bool IDENTICAL 1\n";
  }
  CWaveFunction_generic wf(dir + "/wf.dat");
  CKernel kernel(dir + "/k.dat");
  kernel.Calc(&wf);
  CCHArray source(0, 60, 0.5, true, true, true), cexp(0, 20, 5.0, true, true, true),
      cerror(0, 20, 5.0, true, true, true), ctheory(0, 20, 5.0, true, true, true);
  CSourceCalc_Levy levy;
  levy.SetSPars(0.8, 4.0, 1.3);
  levy.CalcS(&source);
  S2CF::s2c(&source, &kernel, &cexp);
  for (int iq = 0; iq < 20; iq++) cerror.SetElement(0, 0, 0, iq, 0.002);

  levy.SetSPars(1.0, 5.0, 1.6);
  CCF2SFit_Levy fit(&levy, &cexp, &cerror, &ctheory, &source, &kernel);
  fit.SteepestDescent(50);  // Newton needs a positive-definite curvature: come near first
  for (int i = 0; i < 5; i++) fit.Newton(2);
  EXPECT_NEAR(fit.par[0].value, 0.8, 1e-3);
  EXPECT_NEAR(fit.par[1].value, 4.0, 1e-2);
  EXPECT_NEAR(fit.par[2].value, 1.3, 1e-2);
  EXPECT_LT(fit.chi2, 1e-3);
}

// The blast-wave fit declares the four parameters of its table and starts
// from the calculator's values, even outside the bounds.
TEST_F(Quiet, BlastFitStartsFromTheCalculator) {
  CSourceCalc_Blast blast;
  blast.SetSPars(0.7, 25.0, 9.0, 3.0);
  C3DArray cexp(3, 4.0, true, true, true), cerror(cexp), ctheory(cexp);
  CCHArray ctheoryCH(2, 10, 4.0, true, true, true), source(2, 20, 1.0, true, true, true);
  CKernel *none = nullptr;
  CCF2SFit_Blast fit(&blast, &cexp, &cerror, &ctheory, &ctheoryCH, &source, none);
  ASSERT_EQ(fit.npars, 4);
  const char *names[] = {"lambda", "R", "Tau", "DelTau"};
  const double values[] = {0.7, 25.0, 9.0, 3.0}, errors[] = {0.05, 0.5, 0.5, 0.5};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(fit.par[i].name, names[i]);
    EXPECT_EQ(fit.par[i].value, values[i]);
    EXPECT_EQ(fit.StepMatrix[i][i], errors[i]);
  }
  EXPECT_EQ(fit.ndim, 3);
}

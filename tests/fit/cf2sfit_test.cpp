// The fit framework and its minimisers on a toy chi^2: a source whose radial
// bin i holds parameter p<i> and a kernel that maps source bin i to q bin i,
// so that through the real pipeline (parameter map, fill, transform, chi^2)
//   chi^2 = sum_i (p_i - a_i)^2 / sigma_i^2
// with a_i the measured values and sigma_i their errors. A parameter "dummy"
// has no effect on chi^2.
#include "common/child.h"

#include <femtokit.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// The tests are file-local with their fixture, whose members are file-local types.
namespace {

const int kN = 3;
const double kA[kN] = {1.5, -0.7, 2.25};
const double kSigma[kN] = {0.1, 0.3, 0.05};

struct ToySource : CSourceCalc {
  double maxp0 = -1e300;  // largest p0 evaluated
  bool cosine = false;    // element 0 is 2 cos(p0): chi^2 has a maximum at p0 = pi
  void CalcS(int, int, int, CCHArray *A) override {
    maxp0 = std::max(maxp0, parameter::getD(spars, "p0", 0.0));
    for (int i = 0; i < A->GetNRADIAL(); i++)
      A->SetElement(0, 0, 0, i, parameter::getD(spars, "p" + std::to_string(i), 0.0));
    if (cosine) A->SetElement(0, 0, 0, 0, 2.0 * std::cos(parameter::getD(spars, "p0", 0.0)));
  }
};

// K_0(q_i, r_j) = delta_ij / (4 pi r_j^2 dr): the transform copies the source.
std::string IdentityKernel(const std::string &dir) {
  std::ofstream(dir + "/kpars.dat") << "int NQMAX " << kN << "\nint NRMAX " << kN
                                    << "\nint KLMAX 0\ndouble DELQ 1\ndouble DELR 1\nbool IDENTICAL 0\n";
  for (int iq = 0; iq < kN; iq++) {
    char file[64];
    std::snprintf(file, sizeof file, "/ell0_q%07.2f.tmp", iq + 0.5);
    std::ofstream out(dir + file);
    out.precision(17);
    out << kN << " 1\n";
    for (int ir = 0; ir < kN; ir++) out << (ir == iq ? 1.0 / (4 * M_PI * (ir + 0.5) * (ir + 0.5)) : 0.0) << "\n";
  }
  return dir + "/kpars.dat";
}

struct ToyFit : CCF2SFit {
  ToyFit(ToySource *source, CCHArray *s, CCHArray *exp, CCHArray *err, CCHArray *theory, CKernel *k) {
    npars = kN + 1;
    ndim = 1;
    sourcecalc = source;
    sourceCH = s;
    cexpCH = exp;
    cerrorCH = err;
    ctheoryCH = theory;
    kernel = k;
    Init();
    for (int i = 0; i < kN; i++) par[i].Set("p" + std::to_string(i), 0.0, 0.2, -10.0, 10.0);
    par[kN].Set("dummy", 1.0, 0.5, -10.0, 10.0);
    for (int i = 0; i < npars; i++) {
      StepMatrix[i][i] = par[i].error;
      ErrorMatrix[i][i] = par[i].error * par[i].error;
    }
  }
};

struct Toy : testing::Test {
  std::string out;
  std::unique_ptr<CKernel> kernel;
  CCHArray source{0, kN, 1.0, false, false, false}, cexp{0, kN, 1.0, false, false, false},
      cerror{0, kN, 1.0, false, false, false}, ctheory{0, kN, 1.0, false, false, false};
  ToySource toy;
  std::unique_ptr<ToyFit> fit;

  void SetUp() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetOutput([this](femtokit::Verbosity, const std::string &text) { out += text; });
    const std::string dir = ScratchDir("cf2sfit_toy");
    kernel = std::make_unique<CKernel>(IdentityKernel(dir));
    kernel->Read(dir);
    for (int i = 0; i < kN; i++) {
      cexp.SetElement(0, 0, 0, i, kA[i]);
      cerror.SetElement(0, 0, 0, i, kSigma[i]);
    }
    fit = std::make_unique<ToyFit>(&toy, &source, &cexp, &cerror, &ctheory, kernel.get());
    out.clear();
  }
  void TearDown() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
    femtokit::SetVerbosity(femtokit::Verbosity::Normal);
    femtokit::SetOutput(femtokit::OutputFunction());
  }
  static double Exact(const std::vector<double> &p) {
    double c = 0;
    for (int i = 0; i < kN; i++) c += std::pow((p[i] - kA[i]) / kSigma[i], 2);
    return c;
  }
};


TEST_F(Toy, EvaluationFollowsThePipelineAndRemembersTheBest) {
  EXPECT_EQ(fit->chi2, 1e20);
  EXPECT_EQ(fit->bestchi2, 1e20);
  EXPECT_EQ(fit->lx + fit->ly + fit->lz, 0);
  std::vector<double> x = {1.0, 0.0, 2.0, 1.0};
  EXPECT_NEAR(fit->GetChiSquared(x), Exact(x), 1e-9);
  EXPECT_NE(out.find("In GetChiSquare, x[] = 1,0,2,1,\n"), std::string::npos) << out;
  EXPECT_EQ(fit->chi2, 1e20);  // evaluations leave the current point alone
  // Values below the map's 6 significant digits do not change chi^2.
  EXPECT_EQ(fit->GetChiSquared({1.0000001, 0.0, 2.0, 1.0}), fit->GetChiSquared({1.0, 0.0, 2.0, 1.0}));
  // A fixed parameter's value comes from its record, not from the vector.
  fit->FixPar("p0");
  fit->SetPar("p0", kA[0]);
  const int i0 = fit->FindPar("p0");
  EXPECT_EQ(i0, 3);
  std::vector<double> y = {5.0, 5.0, 5.0, -9.0};  // dummy, p1, p2 free; the last entry is ignored
  const double c = fit->GetChiSquared(y);
  std::vector<double> full(kN + 1);
  for (int i = 0; i < 4; i++) {
    const int k = fit->par[i].name == "dummy" ? kN : fit->par[i].name[1] - '0';
    full[k] = i < 3 ? y[i] : fit->par[i].value;
  }
  EXPECT_NEAR(c, Exact(full), 1e-9);
  EXPECT_EQ(full[0], kA[0]);
  // The best point: the smallest chi^2 so far, restored exactly.
  fit->GetChiSquared({kA[1] + 0.01, 0.0, kA[2]});
  const double best = fit->bestchi2;
  fit->GetChiSquared({0.0, 0.0, 0.0});
  fit->UseBestPars();
  EXPECT_EQ(fit->chi2, best);
  for (const auto &p : fit->par) EXPECT_EQ(p.value, p.bestvalue);
  EXPECT_EQ(fit->ncalls, 6);
  EXPECT_EQ(fit->GetNBins(), kN);
}

TEST_F(Toy, FixFreeAndSwitchKeepErrorsWithTheirParameters) {
  fit->ErrorMatrix[0][1] = fit->ErrorMatrix[1][0] = 0.011;
  fit->StepMatrix[1][0] = 0.5;
  fit->FixPar("p1");  // position 1 -> 3, "dummy" -> 1
  EXPECT_EQ(fit->nfreepars, 3);
  EXPECT_EQ(fit->par[3].name, "p1");
  EXPECT_EQ(fit->par[1].name, "dummy");
  EXPECT_TRUE(fit->par[3].fixed);
  EXPECT_DOUBLE_EQ(fit->ErrorMatrix[3][3], 0.04);
  EXPECT_DOUBLE_EQ(fit->ErrorMatrix[1][1], 0.25);
  EXPECT_DOUBLE_EQ(fit->ErrorMatrix[0][3], 0.011);
  EXPECT_DOUBLE_EQ(fit->ErrorMatrix[3][0], 0.011);
  EXPECT_DOUBLE_EQ(fit->StepMatrix[3][0], 0.5);
  fit->FixPar("p1");  // already fixed: nothing changes
  EXPECT_EQ(fit->nfreepars, 3);
  fit->FreePar("p1");
  EXPECT_EQ(fit->nfreepars, 4);
  EXPECT_FALSE(fit->par[3].fixed);
  out.clear();
  fit->FreePar("nothing");
  fit->SetPar("nothing", 1.0);
  EXPECT_EQ(out, "Par nothing already free or does not exist\n"
                 "Can not set nothing, parameter with that name does not exist\n");
  // Names have no length limit.
  fit->par[0].name = "a_parameter_name_longer_than_nineteen_characters";
  fit->SetPar("a_parameter_name_longer_than_nineteen_characters", 0.5);
  EXPECT_EQ(fit->par[0].value, 0.5);
  EXPECT_THROW(fit->SwitchPars(0, 4), femtokit::Error);
}

TEST_F(Toy, OneNewtonIterationLandsOnTheMinimumWithStatisticalErrors) {
  fit->FixPar("dummy");
  const int before = fit->ncalls;
  fit->Newton(1);
  // 1 + 2 nf (nf - 1) + 2 nf evaluations, and the step.
  EXPECT_EQ(fit->ncalls - before, 1 + 12 + 6 + 1);
  for (int i = 0; i < kN; i++) {
    const int k = fit->FindPar("p" + std::to_string(i));
    EXPECT_NEAR(fit->par[k].value, kA[i], 1e-6) << i;
    // Delta chi^2 = 1 at one sigma: the errors are the sigma_i, not sigma_i/sqrt(2).
    EXPECT_NEAR(fit->par[k].error, kSigma[i], 1e-6 * kSigma[i]) << i;
    EXPECT_NEAR(fit->ErrorMatrix[k][k], kSigma[i] * kSigma[i], 1e-6 * kSigma[i] * kSigma[i]);
  }
  EXPECT_NEAR(fit->chi2, 0.0, 1e-8);
  EXPECT_EQ(fit->ErrorMatrix[3][3], 0.0);       // the fixed row
  EXPECT_EQ(fit->par[3].error, 0.5);            // keeps its step scale
  EXPECT_NE(out.find("SUCCESS!!!!!!!!!!!\n"), std::string::npos);
  // Newton(5) runs exactly two iterations, Newton(0) one.
  int calls = fit->ncalls;
  fit->Newton(5);
  EXPECT_EQ(fit->ncalls - calls, 2 * 20);
  calls = fit->ncalls;
  fit->Newton(0);
  EXPECT_EQ(fit->ncalls - calls, 20);
}

TEST_F(Toy, NewtonStopsInOrderOnASingularHessian) {
  // "dummy" is free and has no effect: a zero row in the Hessian.
  fit->Newton(2);
  EXPECT_NE(out.find("singular along dummy"), std::string::npos) << out;
  EXPECT_EQ(fit->par[0].value, 0.0);
  EXPECT_EQ(fit->par[3].value, 1.0);
  EXPECT_NEAR(fit->chi2, Exact({0, 0, 0}), 1e-9);
  EXPECT_DOUBLE_EQ(fit->ErrorMatrix[3][3], 0.25);  // unchanged
  // Fixed, the fit goes on.
  fit->FixPar("dummy");
  fit->Newton(1);
  EXPECT_NEAR(fit->par[0].value, kA[0], 1e-6);
  // A free parameter without a step scale is an error, not a division by zero.
  fit->par[0].error = 0.0;
  EXPECT_THROW(fit->Newton(1), femtokit::Error);
  EXPECT_THROW(fit->SteepestDescent(1), femtokit::Error);
}

TEST_F(Toy, NonFiniteChiSquareCountsAsWorse) {
  // An error of 0 on one bin: chi^2 is infinite unless p0 hits a0 exactly.
  fit->FixPar("dummy");
  cerror.SetElement(0, 0, 0, 0, 0.0);
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  fit->SteepestDescent(5);
  EXPECT_NE(out.find("the descent stops"), std::string::npos) << out;
  out.clear();
  fit->Newton(1);
  EXPECT_NE(out.find("Newton: chi^2 is inf at the starting point"), std::string::npos) << out;
}

TEST_F(Toy, SteepestDescentReachesTheMinimumAndRespectsBounds) {
  // Errors within 30 % of the sigmas (the coordinates the descent works in),
  // a start 10 to 40 errors away: the first steps are long ones.
  fit->FixPar("dummy");
  const double scale[kN] = {1.3, 0.8, 1.1};
  for (int i = 0; i < kN; i++) fit->par[i].error = scale[i] * kSigma[i];
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const double start = fit->GetChiSquared({0.0, 0.0, 0.0});
  fit->SteepestDescent(50);
  out.clear();
  for (int i = 0; i < kN; i++) EXPECT_NEAR(fit->par[i].value, kA[i], 0.3 * kSigma[i]) << i;
  EXPECT_LT(fit->chi2, 0.1);
  EXPECT_LT(fit->chi2, 1e-4 * start);
  EXPECT_EQ(fit->chi2, fit->GetChiSquared({fit->par[0].value, fit->par[1].value, fit->par[2].value}));
  for (int i = 0; i < kN; i++) EXPECT_EQ(fit->par[i].error, scale[i] * kSigma[i]);  // errors untouched
  // A minimum beyond a bound: the descent never evaluates outside it.
  auto fresh = std::make_unique<ToyFit>(&toy, &source, &cexp, &cerror, &ctheory, kernel.get());
  fresh->FixPar("dummy");
  fresh->par[0].xmax = 1.0;  // a0 = 1.5 lies beyond
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  fresh->SteepestDescent(30);
  EXPECT_LE(fresh->par[0].value, 1.0);
  EXPECT_GT(fresh->par[0].value, 0.9);
  EXPECT_LE(toy.maxp0, 1.0 + 1.5 * 3 * 0.2);  // only the gradient probes reach past it, by d e / 2
}

TEST_F(Toy, MetropolisRecoversTheErrorsAndIteratingKeepsThem) {
  fit->FixPar("dummy");
  fit->Newton(1);
  fit->UpdateMetroStepSize();
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  out.clear();
  for (int round = 0; round < 3; round++) {
    fit->Metropolis(6000);
    fit->UpdateMetroStepSize();
  }
  EXPECT_EQ(out, "");  // quiet: nothing per evaluation
  for (int i = 0; i < kN; i++) {
    const int k = fit->FindPar("p" + std::to_string(i));
    EXPECT_NEAR(fit->par[k].error, kSigma[i], 0.1 * kSigma[i]) << i;
    EXPECT_NEAR(fit->par[k].xbar, kA[i], 0.15 * kSigma[i]) << i;
  }
  EXPECT_EQ(fit->ErrorMatrix[3][3], 0.0);  // quiet: nothing per evaluation
}

TEST_F(Toy, MetropolisWithOneFreeParameterDoesNotGrowItsSteps) {
  // Accumulating proposals instead of states gives C_post + C_prop, which
  // UpdateMetroStepSize feeds back into the proposals: it grows every round.
  for (const char *name : {"dummy", "p1", "p2"}) fit->FixPar(name);
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const int k = fit->FindPar("p0");
  for (int round = 0; round < 6; round++) {
    fit->Metropolis(3000);
    fit->UpdateMetroStepSize();
  }
  EXPECT_NEAR(fit->par[k].error, kSigma[0], 0.12 * kSigma[0]);
}

TEST_F(Toy, MetropolisEdgeCases) {
  fit->FixPar("dummy");
  // A fresh fit accepts its first proposal whatever its chi^2.
  fit->Metropolis(1);
  EXPECT_NE(out.find("SUCCESS, Nsuccess=1, Ncalls=1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("too few for a covariance"), std::string::npos) << out;
  EXPECT_LT(fit->chi2, 1e20);
  // A zero step matrix: every proposal is the current point and is accepted;
  // the covariance is 0.
  for (auto &row : fit->StepMatrix) std::fill(row.begin(), row.end(), 0.0);
  out.clear();
  fit->Metropolis(4);
  EXPECT_NE(out.find("SUCCESS, Nsuccess=4, Ncalls=4\n"), std::string::npos) << out;
  for (const auto &row : fit->ErrorMatrix)
    for (double v : row) EXPECT_EQ(v, 0.0);
  // A fixed parameter outside its bounds does not block the proposals.
  fit->par[3].value = 25.0;  // dummy, bounds -10 .. 10
  fit->UpdateMetroStepSize();
  fit->StepMatrix[0][0] = 0.1;
  fit->Metropolis(3);
  EXPECT_EQ(fit->par[3].value, 25.0);
  // A current point outside the bounds of a free parameter with a zero step:
  // the redraws end with a message instead of running for ever.
  fit->par[0].value = 20.0;
  fit->StepMatrix[0][0] = 0.0;
  out.clear();
  const int calls = fit->ncalls;
  fit->Metropolis(3);
  EXPECT_EQ(fit->ncalls, calls);
  EXPECT_NE(out.find("10000 proposals in a row fell outside the bounds; the run ends after 0 of 3 evaluations"),
            std::string::npos)
      << out;
}

TEST_F(Toy, StepMatrixFromADiagonalErrorMatrix) {
  fit->FixPar("dummy");
  const double s[4] = {0.3, 0.02, 1.5, 0.7};
  for (int i = 0; i < 4; i++) fit->ErrorMatrix[i][i] = s[i] * s[i];
  fit->UpdateMetroStepSize();
  for (int k = 0; k < 4; k++) {
    int nonzero = 0;
    for (int i = 0; i < 4; i++)
      if (std::fabs(fit->StepMatrix[i][k]) > 1e-12) {
        nonzero++;
        EXPECT_NEAR(std::fabs(fit->StepMatrix[i][k]), s[i], 1e-12);
      }
    EXPECT_EQ(nonzero, 1);
  }
  for (int i = 0; i < 3; i++) EXPECT_NEAR(fit->par[i].error, s[i], 1e-12);
  EXPECT_EQ(fit->par[3].error, 0.5);  // fixed: keeps its step scale
  fit->ErrorMatrix[0][0] = -1.0;
  EXPECT_THROW(fit->UpdateMetroStepSize(), femtokit::Error);
}

TEST_F(Toy, FitTableAndAQuietFit) {
  fit->FixPar("dummy");
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  out.clear();
  fit->SteepestDescent(3);
  EXPECT_EQ(fit->status.code, FitStatus::Code::Failed);  // 3 iterations do not end the descent
  EXPECT_FALSE(fit->status.errorsvalid);
  EXPECT_NE(fit->FitTable().find("            -   yes\n"), std::string::npos) << fit->FitTable();
  fit->Newton(2);
  EXPECT_EQ(out, "");
  const std::string table = fit->FitTable();
  EXPECT_NE(table.find("        name        value        error  free\n"), std::string::npos) << table;
  EXPECT_NE(table.find("          p0   1.5000e+00   1.0000e-01   yes\n"), std::string::npos) << table;
  EXPECT_NE(table.find("       dummy   1.0000e+00            -    no\n"), std::string::npos) << table;  // fixed: no error
  EXPECT_NE(table.find(", bins=3, dof=0\nstatus: converged\n"), std::string::npos) << table;
  EXPECT_EQ(fit->status.code, FitStatus::Code::Converged);
  EXPECT_TRUE(fit->status.errorsvalid);
  fit->PrintFitTable();  // Normal level
  EXPECT_EQ(out, "");
  femtokit::SetVerbosity(femtokit::Verbosity::Normal);
  fit->PrintFitTable();
  EXPECT_EQ(out, table);
}

// A minimum beyond a bound: the minimisers stop on the bound, never beyond
// it, and the table says so.
TEST_F(Toy, MinimisersStopOnABoundAndTheTableSaysSo) {
  fit->FixPar("dummy");
  fit->par[0].xmax = 1.0;  // a0 = 1.5 beyond; the start sits on the bound
  fit->par[0].value = 1.0;
  fit->Newton(2);
  EXPECT_EQ(fit->par[0].value, 1.0);
  for (int i = 1; i < kN; i++) EXPECT_NEAR(fit->par[fit->FindPar("p" + std::to_string(i))].value, kA[i], 1e-6) << i;
  EXPECT_NE(fit->FitTable().find("yes  at upper bound\n"), std::string::npos) << fit->FitTable();
  EXPECT_EQ(fit->status.code, FitStatus::Code::AtBound);
  EXPECT_TRUE(fit->status.atupper[0]);
  EXPECT_FALSE(fit->status.atlower[0] || fit->status.atupper[1] || fit->status.atupper[3]);
  EXPECT_EQ(fit->status.Text(), "at a bound: p0 = 1 (upper bound)");
  // From inside, a steepest descent reaches the bound and stays on it; a
  // lower bound above the minimum holds the same way.
  fit->par[0].value = 0.2;
  fit->par[1].xmin = kA[1] + 0.3;
  fit->SteepestDescent(40);
  EXPECT_EQ(fit->par[0].value, 1.0);
  EXPECT_EQ(fit->par[1].value, kA[1] + 0.3);
  EXPECT_NE(fit->FitTable().find("yes  at lower bound\n"), std::string::npos) << fit->FitTable();
  EXPECT_EQ(fit->status.code, FitStatus::Code::AtBound);
  EXPECT_TRUE(fit->status.atupper[0] && fit->status.atlower[1]);
  // A start outside the range is projected onto it.
  fit->par[0].value = 7.0;
  fit->Newton(1);
  EXPECT_LE(fit->par[0].value, 1.0);
}

// A failed fit says so and why, and shows no errors: Newton at a maximum of
// chi^2 stays at its start with the step scales, which are not errors.
TEST_F(Toy, AFailedFitHasAFailedStatusAndNoErrors) {
  EXPECT_EQ(fit->status.code, FitStatus::Code::Failed);  // before any minimiser
  fit->FixPar("dummy");
  toy.cosine = true;
  fit->par[0].value = M_PI;
  fit->Newton(2);
  EXPECT_EQ(fit->par[0].value, M_PI);
  EXPECT_EQ(fit->status.code, FitStatus::Code::Failed);
  EXPECT_FALSE(fit->status.errorsvalid);
  EXPECT_NE(fit->status.reason.find("curvature is negative along p0"), std::string::npos) << fit->status.reason;
  const std::string table = fit->FitTable();
  EXPECT_NE(table.find("          p0   3.1416e+00            -   yes\n"), std::string::npos) << table;
  EXPECT_NE(table.find("status: failed: the chi^2 curvature is negative along p0"), std::string::npos) << table;
  // From a start near the minimum, cos(p0) = 3/4, the same fit converges.
  fit->par[0].value = 0.8;
  fit->Newton(2);
  fit->Newton(2);
  EXPECT_NEAR(fit->par[0].value, std::acos(0.75), 0.01);  // a tenth of its error
  EXPECT_EQ(fit->status.Text(), "converged");
  // Too few iterations for a far start: not converged, said so.
  fit->par[0].value = 1.2;
  fit->par[1].value = 5.0;
  fit->Newton(1);
  EXPECT_EQ(fit->status.code, FitStatus::Code::Failed);
  EXPECT_NE(fit->status.reason.find("not converged"), std::string::npos) << fit->status.reason;
  // A Metropolis chain cut short by the bounds fails; a whole one converges.
  fit->par[0].value = 0.0;
  fit->par[0].xmin = fit->par[0].xmax = 0.0;
  fit->Metropolis(5);
  EXPECT_EQ(fit->status.code, FitStatus::Code::Failed);
  EXPECT_NE(fit->status.reason.find("outside the bounds"), std::string::npos) << fit->status.Text();
}

}  // namespace

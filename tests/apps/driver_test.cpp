#include "common/child.h"
#include "common/testutil.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Lays out the driver's fixed relative paths under a scratch root: parameter files
// in job/parameters/pp, a free-boson kernel in kdata/pp, job/work as working directory.
std::string Layout(const std::string &name) {
  const std::string root = ScratchDir(name), pars = root + "/job/parameters/pp/";
  fs::create_directories(pars);
  fs::create_directories(root + "/job/work");
  fs::create_directories(root + "/kdata/pp");
  const char *sym = "bool XSYM 1\nbool YSYM 1\nbool ZSYM 1\n";
  std::ofstream(pars + "aparsCH_source.dat") << "int LMAX 2\nint NRADIAL 60\ndouble RADSTEP 0.5\n" << sym;
  std::ofstream(pars + "aparsCH_CF.dat") << "int LMAX 2\nint NRADIAL 20\ndouble RADSTEP 4\n" << sym;
  std::ofstream(pars + "kparameters.dat")
      << "int NQMAX 20\nint NRMAX 60\nint KLMAX 2\ndouble DELQ 4\ndouble DELR 0.5\nbool IDENTICAL 1\n";
  for (int l = 0; l <= 2; l += 2)
    for (int iq = 0; iq < 20; ++iq) {
      char file[64];
      std::snprintf(file, sizeof file, "/kdata/pp/ell%d_q%07.2f.tmp", l, (iq + 0.5) * 4.0);
      std::ofstream out(root + file);
      out << "60 0.5\n";
      for (int ir = 0; ir < 60; ++ir)
        out << (l ? -1 : 1) * gsl_sf_bessel_jl(l, 2 * (iq + 0.5) * 4.0 * (ir + 0.5) * 0.5 / 197.327) << "\n";
    }
  return root;
}

// Runs the driver in root/job/work; returns its exit status and output.
ChildResult RunDriver(const std::string &root, const char *seed = nullptr) {
  return RunInChild([&] {
    fs::current_path(root + "/job/work");
    if (seed) setenv("FEMTOKIT_SEED", seed, 1);
    std::fflush(stdout);
    execl(FEMTOKIT_DRIVER, FEMTOKIT_DRIVER, static_cast<char *>(nullptr));
  });
}

}  // namespace

TEST(Driver, RunsTheMainJobAndWritesNoisyCorrelationFunction) {
  const std::string root = Layout("driver"), out = root + "/job/work/GX1d/";
  ChildResult run = RunDriver(root);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_LT(run.output.find("normalization check = "), run.output.find("chi^2/Ndof="));
  const size_t pos = run.output.find("chisquare=");
  ASSERT_NE(pos, std::string::npos);
  const double chi2 = std::atof(run.output.c_str() + pos + 10);  // 20 bins of unit-normal noise
  EXPECT_GT(chi2, 20 - 5 * std::sqrt(40.0));
  EXPECT_LT(chi2, 20 + 5 * std::sqrt(40.0));

  std::istringstream errors(testutil::ReadText(out + "pp_errors/lx0_ly0_lz0.tmp"));
  std::vector<double> e(12);
  for (double &x : e) errors >> x;  // header NRADIAL, RADSTEP, then bins 0..9
  EXPECT_EQ(e[0], 20);
  EXPECT_DOUBLE_EQ(e[2], 0.05);
  EXPECT_DOUBLE_EQ(e[3], 0.025);
  EXPECT_DOUBLE_EQ(e[2 + 9], 0.005);
  EXPECT_TRUE(fs::exists(out + "pp/lx0_ly2_lz0.tmp"));
  EXPECT_FALSE(fs::exists(out + "pp/lx1_ly0_lz0.tmp"));  // XSYM: lx = 0 files only

  // Runs started within the same second draw the same noise.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t start = std::time(nullptr);
    RunDriver(root);
    const std::string first = testutil::ReadText(out + "pp/lx0_ly0_lz0.tmp");
    RunDriver(root);
    if (std::time(nullptr) != start) continue;
    EXPECT_EQ(first, testutil::ReadText(out + "pp/lx0_ly0_lz0.tmp"));
    break;
  }

  // FEMTOKIT_SEED repeats a run exactly, whenever it runs; a bad value is refused.
  run = RunDriver(root, "12345");
  EXPECT_NE(run.output.find("noise seeded from FEMTOKIT_SEED=12345\n"), std::string::npos) << run.output;
  const std::string seeded = testutil::ReadText(out + "pp/lx0_ly0_lz0.tmp");
  RunDriver(root, "-7");
  EXPECT_NE(seeded, testutil::ReadText(out + "pp/lx0_ly0_lz0.tmp"));
  RunDriver(root, "12345");
  EXPECT_EQ(seeded, testutil::ReadText(out + "pp/lx0_ly0_lz0.tmp"));
  run = RunDriver(root, "12x");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "FEMTOKIT_SEED=12x is not an integer\n");

  fs::remove_all(root + "/kdata/pp");
  EXPECT_EQ(RunDriver(root).status, 1);
}

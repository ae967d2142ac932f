#include "common/child.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Lays out the driver's fixed relative paths under a scratch directory:
//   <root>/job/parameters/pp/*.dat, <root>/kdata/pp/ (free-boson kernel), <root>/job/work (cwd).
std::string Layout(const std::string &name, bool xsym) {
  std::string root = ScratchDir(name);
  fs::create_directories(root + "/job/parameters/pp");
  fs::create_directories(root + "/job/work");
  fs::create_directories(root + "/kdata/pp");
  std::ofstream(root + "/job/parameters/pp/aparsCH_source.dat")
      << "int LMAX 2\nint NRADIAL 60\ndouble RADSTEP 0.5\nbool XSYM " << (xsym ? 1 : 0) << "\nbool YSYM 1\nbool ZSYM 1\n";
  std::ofstream(root + "/job/parameters/pp/aparsCH_CF.dat")
      << "int LMAX 2\nint NRADIAL 20\ndouble RADSTEP 4\nbool XSYM " << (xsym ? 1 : 0)
      << "\nbool YSYM 1\nbool ZSYM 1\n";
  std::ofstream(root + "/job/parameters/pp/kparameters.dat")
      << "int NQMAX 20\nint NRMAX 60\nint KLMAX 2\ndouble DELQ 4\ndouble DELR 0.5\nbool IDENTICAL " << (xsym ? 1 : 0)
      << "\n";
  // Free-boson-like kernel; odd l of a non-identical kernel are zero.
  const int lstep = xsym ? 2 : 1;
  for (int l = 0; l <= 2; l += lstep)
    for (int iq = 0; iq < 20; ++iq) {
      char file[64];
      std::snprintf(file, sizeof file, "/kdata/pp/ell%d_q%07.2f.tmp", l, (iq + 0.5) * 4.0);
      FILE *f = std::fopen((root + file).c_str(), "w");
      std::fprintf(f, "60 0.5\n");
      for (int ir = 0; ir < 60; ++ir)
        std::fprintf(f, "%17.10e\n",
                     l % 2 ? 0.0 : (l ? -1 : 1) * gsl_sf_bessel_jl(l, 2 * (iq + 0.5) * 4.0 * (ir + 0.5) * 0.5 / 197.327));
      std::fclose(f);
    }
  return root;
}

std::string RunDriver(const std::string &root) {
  std::string cmd = "cd '" + root + "/job/work' && '" FEMTOKIT_DRIVER "' 2>&1";
  FILE *pipe = popen(cmd.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << out;
  return out;
}

std::vector<double> Column(const std::string &file) {
  std::ifstream in(file);
  int n;
  double step;
  in >> n >> step;
  std::vector<double> values(n);
  for (double &v : values) in >> v;
  EXPECT_TRUE(in.good() || in.eof()) << file;
  return values;
}

std::string Slurp(const std::string &file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(Driver, RunsTheMainJobAndWritesNoisyCorrelationFunction) {
  std::string root = Layout("driver_identical", true);
  std::string out = RunDriver(root);
  EXPECT_NE(out.find("normalization check = "), std::string::npos) << out;
  size_t pos = out.find("chisquare=");
  ASSERT_NE(pos, std::string::npos) << out;
  EXPECT_LT(out.find("chi^2/Ndof="), pos);
  // 20 bins of unit-normal noise: chi^2 near 20.
  const double chi2 = std::atof(out.c_str() + pos + 10);
  EXPECT_GT(chi2, 20 - 5 * std::sqrt(40.0));
  EXPECT_LT(chi2, 20 + 5 * std::sqrt(40.0));

  const std::string work = root + "/job/work/";
  std::vector<double> err = Column(work + "GX1d/pp_errors/lx0_ly0_lz0.tmp");
  ASSERT_EQ(err.size(), 20u);
  EXPECT_DOUBLE_EQ(err[0], 0.05);
  EXPECT_DOUBLE_EQ(err[1], 0.025);
  EXPECT_DOUBLE_EQ(err[9], 0.005);
  // With XSYM only lx = 0 files are written.
  EXPECT_TRUE(fs::exists(work + "GX1d/pp/lx0_ly2_lz0.tmp"));
  EXPECT_FALSE(fs::exists(work + "GX1d/pp/lx1_ly0_lz0.tmp"));
  EXPECT_FALSE(fs::exists(work + "GX1d/pp_errors/lx1_ly0_lz0.tmp"));

  // Runs started within the same second draw the same noise.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::time_t before = std::time(nullptr);
    RunDriver(root);
    std::string first = Slurp(work + "GX1d/pp/lx0_ly0_lz0.tmp");
    RunDriver(root);
    std::string second = Slurp(work + "GX1d/pp/lx0_ly0_lz0.tmp");
    if (std::time(nullptr) != before) continue;
    EXPECT_EQ(first, second);
    break;
  }
}

TEST(Driver, NonIdenticalPairsGetNoiseOnOddComponents) {
  std::string root = Layout("driver_nonidentical", false);
  RunDriver(root);
  const std::string work = root + "/job/work/";
  EXPECT_TRUE(fs::exists(work + "GX1d/pp/lx1_ly0_lz0.tmp"));
  EXPECT_FALSE(fs::exists(work + "GX1d/pp/lx2_ly0_lz0.tmp"));
  std::vector<double> err = Column(work + "GX1d/pp_errors/lx1_ly0_lz0.tmp");
  EXPECT_DOUBLE_EQ(err[3], 0.0125);
}

TEST(Driver, MissingKernelIsFatal) {
  std::string root = Layout("driver_nokernel", true);
  fs::remove_all(root + "/kdata/pp");
  std::string cmd = "cd '" + root + "/job/work' && '" FEMTOKIT_DRIVER "' >/dev/null 2>&1";
  int status = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

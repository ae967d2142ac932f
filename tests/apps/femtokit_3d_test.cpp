// The femtokit program's 3D paths as a user runs them: cf --3d in the LCMS,
// the fit of that table reported in either frame, and refusals.
#include "femtokit_run.h"
#include "common/child.h"
#include "common/testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifdef FEMTOKIT_CLI

using femtokitrun::Outcome;
using testutil::ReadText;

namespace {

// Runs femtokit with args in dir on one thread.
Outcome Run3D(std::vector<std::string> args, const std::string &dir) {
  return femtokitrun::Femtokit(std::move(args), dir, {{"OMP_NUM_THREADS", "1"}});
}

// Value (column 0) or error (1) of a named row of the printed tables.
double Value(const std::string &out, const std::string &name, int column) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first;
    double v[2];
    if (words >> first && first == name && words >> v[0] >> v[1]) return v[column];
  }
  ADD_FAILURE() << name << " not in\n" << out;
  return 0.0;
}

}  // namespace

// A source with R_out^PRF = 6 fm computed into an LCMS table (kT = 300 MeV/c,
// pions): the fit finds Rx = 6 fm in the pair frame, reports R_out = 6/gamma_T
// in the LCMS and 6 fm when asked for the PRF, with errors scaled alike and
// the same chi^2; the other radii and lambda do not depend on the frame.
TEST(Femtokit3D, LCMSTableFitInEitherFrame) {
  const std::string dir = ScratchDir("femtokit_3d");
  ASSERT_EQ(Run3D({"kernel", "bosons", "-o", "kb", "--nq", "30", "--dq", "2", "--nr", "60", "--dr", "0.5", "--lmax", "4",
                   "--quiet"},
                  dir)
                .status,
            0);
  const Outcome cf = Run3D({"cf", "-k", "kb", "-m", "gauss3d", "-s", "lambda=0.6", "-s", "Rx=6", "-s", "Ry=5", "-s",
                            "Rz=4", "--3d", "--frame", "lcms", "--kt", "300", "--m1", "pi", "--bins", "6", "--width",
                            "5", "-o", "cf3d.dat", "--projections", "proj.dat"},
                           dir);
  ASSERT_EQ(cf.status, 0) << cf.err;
  const std::string table = ReadText(dir + "/cf3d.dat");
  EXPECT_NE(table.find("# frame LCMS gamma_T 2.3705"), std::string::npos) << table.substr(0, 600);
  EXPECT_NE(table.find("# binning q_out 0 30 6 q_side 0 30 6 q_long 0 30 6"), std::string::npos);
  EXPECT_NE(ReadText(dir + "/proj.dat").find("C_2_0_0"), std::string::npos);
  // Errors of 0.01 on every computed cell (rows with error 0 are not fitted).
  {
    std::istringstream in(table);
    std::ofstream out(dir + "/data.dat");
    std::string line;
    while (std::getline(in, line)) {
      if (line[0] == '#') {
        out << line << "\n";
        continue;
      }
      std::istringstream w(line);
      double q[3], c, e;
      w >> q[0] >> q[1] >> q[2] >> c >> e;
      out << q[0] << " " << q[1] << " " << q[2] << " " << c << " 0.01\n";
    }
  }
  const Outcome lcms = Run3D({"fit", "-k", "kb", "-m", "gauss3d", "-t", "data.dat"}, dir);
  ASSERT_EQ(lcms.status, 0) << lcms.err;
  const double gammaT = std::sqrt(4 * 139.57039 * 139.57039 + 4 * 300.0 * 300.0) / (2 * 139.57039);
  EXPECT_NEAR(Value(lcms.out, "Rx", 0), 6.0, 0.03) << lcms.out;
  EXPECT_NEAR(Value(lcms.out, "R_out", 0), 6.0 / gammaT, 0.03 / gammaT);
  EXPECT_NEAR(Value(lcms.out, "R_out", 1), Value(lcms.out, "Rx", 1) / gammaT, 1e-4 * Value(lcms.out, "R_out", 1));
  EXPECT_NEAR(Value(lcms.out, "R_side", 0), 5.0, 0.03);
  EXPECT_NEAR(Value(lcms.out, "lambda", 0), 0.6, 0.005);
  EXPECT_NE(lcms.out.find("radii in the LCMS"), std::string::npos);
  const Outcome prf =
      Run3D({"fit", "-k", "kb", "-m", "gauss3d", "-t", "data.dat", "--frame", "prf"}, dir);
  ASSERT_EQ(prf.status, 0) << prf.err;
  EXPECT_NEAR(Value(prf.out, "R_out", 0), Value(lcms.out, "Rx", 0), 1e-4 * Value(lcms.out, "Rx", 0));
  EXPECT_NE(prf.out.find("radii in the PRF"), std::string::npos);
  // A gamma_T that contradicts the table's, and LCMS without one, are refused.
  const Outcome clash =
      Run3D({"fit", "-k", "kb", "-m", "gauss3d", "-t", "data.dat", "--gamma-t", "1.5"}, dir);
  EXPECT_EQ(clash.status, 2);
  EXPECT_NE(clash.err.find("differs from the table"), std::string::npos) << clash.err;
  const Outcome nogamma = Run3D({"cf", "-k", "kb", "-m", "gauss3d", "--3d", "--frame", "lcms", "-o", "x.dat"}, dir);
  EXPECT_EQ(nogamma.status, 2);
  EXPECT_NE(nogamma.err.find("gamma_T"), std::string::npos);
  const Outcome nomass = Run3D({"cf", "-k", "kb", "-m", "gauss3d", "--3d", "--frame", "lcms", "--kt", "300"}, dir);
  EXPECT_EQ(nomass.status, 2);
  EXPECT_NE(nomass.err.find("--m1"), std::string::npos);
}

#endif

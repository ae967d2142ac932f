#include "arrays/array3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/child.h"
#include "source/random.h"

namespace {

std::string WriteFile(const std::string &path, const std::string &text) {
  std::ofstream(path) << text;
  return path;
}

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Number of whitespace-separated values in a file.
int CountValues(const std::string &path) {
  std::ifstream in(path);
  int n = 0;
  double v;
  while (in >> v) n++;
  return n;
}

int Blocks(bool sym) { return sym ? 1 : 2; }

// Cell centre along one axis.
double Centre(int is, int i, double del) { return (is == 0 ? 1.0 : -1.0) * (i + 0.5) * del; }

template <typename F>
void FillAtCentres(C3DArray &a, F f) {
  for (int isx = 0; isx < Blocks(a.GetXSYM()); isx++)
    for (int ix = 0; ix < a.GetNXMAX(); ix++)
      for (int isy = 0; isy < Blocks(a.GetYSYM()); isy++)
        for (int iy = 0; iy < a.GetNYMAX(); iy++)
          for (int isz = 0; isz < Blocks(a.GetZSYM()); isz++)
            for (int iz = 0; iz < a.GetNZMAX(); iz++)
              a.SetElement(isx, ix, isy, iy, isz, iz,
                           f(Centre(isx, ix, a.GetDELX()), Centre(isy, iy, a.GetDELY()), Centre(isz, iz, a.GetDELZ())));
}

}  // namespace

TEST(C3DArray, StorageSizeFollowsSignBlocks) {
  const std::string dir = ScratchDir("a3d_size");
  testing::internal::CaptureStdout();
  C3DArray sym(2, 1.0, true, true, true), nosym(2, 1.0, false, false, false);
  sym.WriteArray(dir + "/sym");
  nosym.WriteArray(dir + "/nosym");
  testing::internal::GetCapturedStdout();
  int nsym = 0, nnosym = 0;
  for (int ix = 0; ix < 2; ix++)
    for (int iy = 0; iy < 2; iy++) {
      const std::string f = "/ix" + std::to_string(ix) + "_iy" + std::to_string(iy) + ".tmp";
      nsym += CountValues(dir + "/sym" + f);
      nnosym += CountValues(dir + "/nosym" + f);
    }
  EXPECT_EQ(nsym, 8);
  EXPECT_EQ(nnosym, 64);
}

TEST(C3DArray, PositionAccessPicksSignBlockAndCell) {
  C3DArray a(3, 1.0, 3, 0.5, 3, 2.0, false, false, false);
  a.SetElement(1, 0, 0, 1, 0, 2, 7.0);
  EXPECT_EQ(a.GetElement(-0.3, 0.6, 5.9), 7.0);
  EXPECT_EQ(a.GetElement(0.3, 0.6, 5.9), 0.0);

  C3DArray s(3, 1.0, true, true, true);
  s.SetElement(0, 0, 0, 1, 0, 2, 5.0);
  EXPECT_EQ(s.GetElement(-0.3, -1.5, 2.2), 5.0);
  EXPECT_EQ(s.GetElement(0.3, 1.5, -2.2), 5.0);

  // Slightly negative coordinates: written to block 1, read from block 0.
  C3DArray t(2, 1.0, false, true, true);
  t.SetElement(-1e-12, 0.5, 0.5, 4.0);
  EXPECT_EQ(t.GetElement(1, 0, 0, 0, 0, 0), 4.0);
  EXPECT_EQ(t.GetElement(0, 0, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(t.GetElement(-1e-12, 0.5, 0.5), 0.0);
  t.IncrementElement(-0.5, 0.5, 0.5, 1.5);
  EXPECT_EQ(t.GetElement(-0.5, 0.5, 0.5), 5.5);

  // Outside the mesh: reads 0, writes nothing.
  t.MakeConstant(1.0);
  EXPECT_EQ(t.GetElement(2.0, 0.5, 0.5), 0.0);
  EXPECT_EQ(t.GetElement(0.5, -2.5, 0.5), 0.0);
  EXPECT_EQ(t.GetElement(0.5, 0.5, NAN), 0.0);
  t.SetElement(0.5, 0.5, 2.0, 9.0);
  t.IncrementElement(-7.0, 0.5, 0.5, 9.0);
  EXPECT_EQ(t.GetBiggest(), 1.0);
}

TEST(C3DArray, InterpolationReproducesLinearFunctionsWithoutSymmetry) {
  const double dx = 1.0, dy = 0.5, dz = 2.0;
  C3DArray a(4, dx, 3, dy, 5, dz, false, false, false);
  auto f = [](double x, double y, double z) { return 1.5 + 2.0 * x - 3.0 * y + 0.25 * z; };
  FillAtCentres(a, f);
  // Everywhere between the outermost centres, including across zero.
  CRandom rng(7);
  for (int i = 0; i < 500; i++) {
    const double x = (2 * rng.ran() - 1) * 3.5 * dx, y = (2 * rng.ran() - 1) * 2.5 * dy,
                 z = (2 * rng.ran() - 1) * 4.5 * dz;
    ASSERT_NEAR(a.GetElement_Interpolate(x, y, z), f(x, y, z), 1e-12) << x << " " << y << " " << z;
  }
  EXPECT_NEAR(a.GetElement_Interpolate(0.0, 0.0, 0.0), f(0, 0, 0), 1e-12);
  // At a cell centre the cell's value exactly.
  EXPECT_EQ(a.GetElement_Interpolate(-2.5, 0.75, 3.0), a.GetElement(1, 2, 0, 1, 0, 1));
  // At x = 0 (y, z at centres): mean of the two cells next to x = 0.
  EXPECT_DOUBLE_EQ(a.GetElement_Interpolate(0.0, 0.25, 1.0),
                   0.5 * (a.GetElement(0, 0, 0, 0, 0, 0) + a.GetElement(1, 0, 0, 0, 0, 0)));
  // Outer half cell is flat; beyond it nothing.
  EXPECT_NEAR(a.GetElement_Interpolate(3.9, 0.25, 1.0), f(3.5, 0.25, 1.0), 1e-12);
  EXPECT_NEAR(a.GetElement_Interpolate(-3.9, 0.25, 1.0), f(-3.5, 0.25, 1.0), 1e-12);
  EXPECT_NEAR(a.GetElement_Interpolate(4.4, 0.25, 1.0), f(3.5, 0.25, 1.0), 1e-12);
  EXPECT_EQ(a.GetElement_Interpolate(4.5, 0.25, 1.0), 0.0);
  EXPECT_EQ(a.GetElement_Interpolate(0.5, -1.75, 1.0), 0.0);
  EXPECT_EQ(a.GetElement_Interpolate(0.5, 0.25, 11.0), 0.0);
}

TEST(C3DArray, InterpolationOnSymmetricAxesUsesMirrorImage) {
  C3DArray a(4, 1.0, true, true, true);
  auto f = [](double x, double y, double z) { return 1.0 + std::fabs(x) + 2.0 * std::fabs(y) - std::fabs(z); };
  FillAtCentres(a, f);
  // Linear in |x| between the first and last centres.
  for (double x : {0.5, 0.8, 1.7, -2.2, 3.5})
    EXPECT_NEAR(a.GetElement_Interpolate(x, -1.25, 2.6), f(x, 1.25, 2.6), 1e-12) << x;
  // Flat inside the first half cell, where the neighbours are a cell and its mirror.
  EXPECT_NEAR(a.GetElement_Interpolate(0.0, 1.25, 2.6), f(0.5, 1.25, 2.6), 1e-12);
  EXPECT_NEAR(a.GetElement_Interpolate(-0.2, 1.25, 2.6), f(0.5, 1.25, 2.6), 1e-12);
}

TEST(C3DArray, WholeArrayOperationsAndBiggest) {
  C3DArray a(2, 1.0, false, true, true);
  EXPECT_EQ(a.GetBiggest(), 0.0);
  a.SetElement(0, 0, 0, 0, 0, 0, -3.0);
  a.SetElement(1, 1, 0, 1, 0, 1, 3.0);
  EXPECT_EQ(a.GetBiggest(), -3.0);
  a.SetElement(0, 1, 0, 0, 0, 0, 3.5);
  EXPECT_EQ(a.GetBiggest(), 3.5);
  a.MakeConstant(2.0);
  a.ScaleArray(-1.5);
  EXPECT_EQ(a.GetElement(1, 1, 0, 1, 0, 1), -3.0);
  EXPECT_EQ(a.GetBiggest(), -3.0);
  a.IncrementElement(1, 1, 0, 1, 0, 1, 0.5);
  EXPECT_EQ(a.GetElement(1, 1, 0, 1, 0, 1), -2.5);
  a.ZeroArray();
  EXPECT_EQ(a.GetBiggest(), 0.0);
}

TEST(C3DArray, RandomFillsFollowSharedStreamInVisitingOrder) {
  // The shared generator starts from seed -1234 and may have served earlier
  // tests; find where this fill starts in that stream, then check the order
  // isx, ix, isy, iy, iz, isz (isz innermost).
  C3DArray a(2, 1.0, 3, 1.0, 2, 1.0, false, true, false);
  a.Randomize();
  std::vector<double> expected;
  for (int isx = 0; isx < 2; isx++)
    for (int ix = 0; ix < 2; ix++)
      for (int iy = 0; iy < 3; iy++)
        for (int iz = 0; iz < 2; iz++)
          for (int isz = 0; isz < 2; isz++) expected.push_back(a.GetElement(isx, ix, 0, iy, isz, iz));
  CRandom reference(-1234);
  long skipped = 0;
  double first = reference.ran();
  while (first != expected[0] && skipped < 2000000) {
    first = reference.ran();
    skipped++;
  }
  ASSERT_EQ(first, expected[0]) << "fill is not part of the seed -1234 stream";
  for (size_t i = 1; i < expected.size(); i++) ASSERT_EQ(reference.ran(), expected[i]) << i;

  // The Gaussian fill draws from the same stream.
  C3DArray g(1, 1.0, 1, 1.0, 3, 1.0, true, true, true);
  g.Randomize_Gaussian();
  CRandom after(-1234);
  for (long i = 0; i < skipped + long(expected.size()); i++) after.ran();
  for (int iz = 0; iz < 3; iz++) EXPECT_EQ(g.GetElement(0, 0, 0, 0, 0, iz), after.gauss());
}

TEST(C3DArray, ParameterFilesAndPrintout) {
  const std::string dir = ScratchDir("a3d_pars");
  const std::string f1 = WriteFile(dir + "/p1.dat",
                                   "int NXYZMAX 6\nint NXMAX 3\ndouble DELXYZ 0.7\ndouble DELX 0.25\n"
                                   "bool XSYM 0\nbool YSYM 0\n");
  testing::internal::CaptureStdout();
  C3DArray a(f1.c_str());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(a.GetNXMAX(), 6);
  EXPECT_EQ(a.GetNYMAX(), 6);
  EXPECT_EQ(a.GetNZMAX(), 6);
  EXPECT_EQ(a.GetDELX(), 0.25);
  EXPECT_EQ(a.GetDELY(), 0.7);
  EXPECT_EQ(a.GetDELZ(), 0.7);
  EXPECT_FALSE(a.GetXSYM());
  EXPECT_FALSE(a.GetYSYM());
  EXPECT_TRUE(a.GetZSYM());
  EXPECT_EQ(out,
            "_______ 3DArray Pars ________\nXYZSYM=(0,0,1)\nNXYZMAX=(6,6,6)\nDELXYZ=(0.25,0.7,0.7)\n"
            "_____________________________\n");

  // IDENTICAL forces every symmetry; unset keys keep the defaults.
  const std::string f2 = WriteFile(dir + "/p2.dat", "bool IDENTICAL 1\nbool XSYM 0\nint NYMAX 4\n");
  testing::internal::CaptureStdout();
  C3DArray b(f2);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(b.GetXSYM() && b.GetYSYM() && b.GetZSYM());
  EXPECT_EQ(b.GetNXMAX(), 20);
  EXPECT_EQ(b.GetNYMAX(), 4);
  EXPECT_EQ(b.GetDELZ(), 1.0);

  const ChildResult missing = RunInChild([&] { C3DArray c((dir + "/nothere.dat").c_str()); });
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("attempting to read non-existent parameter file " + dir + "/nothere.dat"),
            std::string::npos);
}

TEST(C3DArray, DirectoryRoundTrip) {
  const std::string dir = ScratchDir("a3d_roundtrip") + "/sub/arr";
  C3DArray a(3, 0.5, 2, 1.25, 4, 2.0, false, true, false);
  a.Randomize_Gaussian();
  a.SetElement(1, 2, 0, 1, 1, 3, -1.234567890123e-7);
  testing::internal::CaptureStdout();
  a.WriteArray(dir);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(ReadText(dir + "/3Darraypars.dat"),
            "bool XSYM 0\nbool YSYM 1\nbool ZSYM 0\nint NXMAX 3\nint NYMAX 2\nint NZMAX 4\n"
            "double DELX 0.5\ndouble DELY 1.25\ndouble DELZ 2\n");
  // Column file: NZMAX lines of (isz, isy, isx) values, isx innermost.
  std::ifstream column(dir + "/ix2_iy1.tmp");
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(column, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  char expect[64];
  std::string expectline;
  for (int isz = 0; isz < 2; isz++)
    for (int isx = 0; isx < 2; isx++) {
      snprintf(expect, sizeof expect, "%17.10e ", a.GetElement(isx, 2, 0, 1, isz, 3));
      expectline += expect;
    }
  EXPECT_EQ(lines[3], expectline);

  // Same shape: no warning, values to 11 significant digits.
  C3DArray b(3, 0.5, 2, 1.25, 4, 2.0, false, true, false);
  testing::internal::CaptureStdout();
  b.ReadArray(dir);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Warning"), std::string::npos);
  EXPECT_NE(out.find("XYZSYM=(0,1,0)"), std::string::npos);
  for (int isx = 0; isx < 2; isx++)
    for (int ix = 0; ix < 3; ix++)
      for (int iy = 0; iy < 2; iy++)
        for (int isz = 0; isz < 2; isz++)
          for (int iz = 0; iz < 4; iz++) {
            const double v = a.GetElement(isx, ix, 0, iy, isz, iz);
            ASSERT_NEAR(b.GetElement(isx, ix, 0, iy, isz, iz), v, 1e-10 * std::fabs(v));
          }

  // Another shape: warning, and the array takes the written shape.
  C3DArray c(5, 1.0, true, true, true);
  testing::internal::CaptureStdout();
  c.ReadArray(dir);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Warning: In ReadArray parameters have changed, new array being created\n"), std::string::npos);
  EXPECT_EQ(c.GetNXMAX(), 3);
  EXPECT_EQ(c.GetNZMAX(), 4);
  EXPECT_FALSE(c.GetXSYM());
  EXPECT_EQ(c.GetDELY(), 1.25);
  EXPECT_EQ(c.GetElement(1, 2, 0, 1, 1, 3), b.GetElement(1, 2, 0, 1, 1, 3));
  EXPECT_EQ(c.GetElement(-1.2, 2.4, -7.5), b.GetElement(1, 2, 0, 1, 1, 3));
}

TEST(C3DArray, RewriteClearsOnlyItsOwnStaleColumns) {
  const std::string dir = ScratchDir("a3d_rewrite");
  C3DArray big(4, 1.0, true, true, true), small(2, 1.0, true, true, true);
  big.WriteArray(dir);
  WriteFile(dir + "/lx0_ly0_lz0.tmp", "1\n");
  WriteFile(dir + "/ell0_q0002.00.tmp", "1 0.5\n0\n");
  WriteFile(dir + "/ix1_iy1.tmp.keep", "x\n");
  ASSERT_TRUE(std::filesystem::exists(dir + "/ix3_iy3.tmp"));
  small.WriteArray(dir);
  EXPECT_FALSE(std::filesystem::exists(dir + "/ix3_iy3.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/ix0_iy2.tmp"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/ix1_iy1.tmp"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/lx0_ly0_lz0.tmp"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/ell0_q0002.00.tmp"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/ix1_iy1.tmp.keep"));
}

TEST(C3DArray, MissingOrShortDataFilesAreFatal) {
  const std::string dir = ScratchDir("a3d_broken");
  C3DArray a(2, 1.0, false, true, true);
  testing::internal::CaptureStdout();
  a.WriteArray(dir);
  testing::internal::GetCapturedStdout();

  std::filesystem::remove(dir + "/ix1_iy0.tmp");
  ChildResult r = RunInChild([&] { a.ReadArray(dir); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Cannot open 3D array data file " + dir + "/ix1_iy0.tmp"), std::string::npos);

  a.WriteArray(dir);
  WriteFile(dir + "/ix0_iy1.tmp", "1 2\n3\n");  // needs 2 lines of 2 values
  r = RunInChild([&] { a.ReadArray(dir); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("3D array data file " + dir + "/ix0_iy1.tmp holds fewer values than expected"),
            std::string::npos);

  WriteFile(dir + "/ix0_iy1.tmp", "1 2\n3 oops\n");
  r = RunInChild([&] { a.ReadArray(dir); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(dir + "/ix0_iy1.tmp"), std::string::npos);
}

TEST(C3DArray, ShapeChangeByReadParsStaysInsideStorage) {
  const std::string dir = ScratchDir("a3d_reshape");
  const std::string pars = WriteFile(dir + "/p.dat", "int NXYZMAX 5\nbool XSYM 0\n");
  C3DArray a(2, 1.0, true, true, true);
  a.MakeConstant(1.0);
  testing::internal::CaptureStdout();
  a.ReadPars(pars);
  // Storage still has the old shape: operations stay inside it.
  a.Randomize();
  a.ScaleArray(2.0);
  EXPECT_EQ(a.GetElement(4.5, 4.5, 4.5), 0.0);
  EXPECT_EQ(a.GetElement_Interpolate(-4.0, 4.0, 4.0), 0.0);
  a.WriteArray(dir + "/out");
  a.DeleteArray();
  a.CreateArray();
  a.SetElement(1, 4, 0, 4, 0, 4, 3.0);
  EXPECT_EQ(a.GetElement(-4.5, 4.5, 4.5), 3.0);
  // The files describe what was stored: two cells per axis, all symmetric.
  C3DArray b(2, 1.0, true, true, true);
  b.ReadArray(dir + "/out");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("Warning"), std::string::npos);
  EXPECT_EQ(b.GetNXMAX(), 2);

  // ReadArray also rebuilds storage left stale by a bare ReadPars.
  C3DArray c(2, 1.0, true, true, true);
  testing::internal::CaptureStdout();
  c.ReadPars(pars);
  c.ReadArray(dir + "/out");
  EXPECT_EQ(c.GetNXMAX(), 2);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Warning"), std::string::npos);
}

TEST(C3DArray, IndexOutOfRangeAssertsInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "assertions are compiled out";
#else
  C3DArray a(2, 1.0, true, true, true);
  const ChildResult r = RunInChild([&] { a.SetElement(0, 2, 0, 0, 0, 0, 1.0); });
  EXPECT_NE(r.status, 0);
#endif
}

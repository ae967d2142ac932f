#include "arrays/array3d.h"
#include "charray_testutil.h"
#include "common/writefault.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace testutil;

TEST(C3DArray, InterpolationReproducesLinearFunctions) {
  C3DArray t(2, 1.0, false, true, true);
  t.SetElement(0.5, 0.5, 2.0, 9.0);  // outside the mesh: writes nothing, reads 0
  for (double x : {2.0, -2.5, double(NAN)}) EXPECT_EQ(t.GetElement(x, 0.5, 0.5), 0.0);
  C3DArray a(4, 1.0, 3, 0.5, 5, 2.0, false, false, false), s(4, 1.0, true, true, true);
  auto f = [](double x, double y, double z) { return 1.5 + 2.0 * x - 3.0 * y + 0.25 * z; };
  auto g = [](double x, double y, double z) { return 1.0 + std::fabs(x) + 2.0 * std::fabs(y) - std::fabs(z); };
  for (double x = -3.5; x < 4; x += 1)  // cell centres
    for (double y = -1.25; y < 1.5; y += 0.5)
      for (double z = -9; z < 10; z += 2) {
        a.SetElement(x, y, z, f(x, y, z));
        s.SetElement(x, 2 * y, z / 2, g(x, 2 * y, z / 2));
      }
  CRandom rng(7);  // everywhere between the outermost centres, across zero too
  for (int i = 0; i < 300; i++) {
    const double x = (2 * rng.ran() - 1) * 3.5, y = (2 * rng.ran() - 1) * 1.25, z = (2 * rng.ran() - 1) * 9;
    ASSERT_NEAR(a.GetElement_Interpolate(x, y, z), f(x, y, z), 1e-12) << x << " " << y << " " << z;
  }
  // Outer half cell is flat; beyond it nothing.
  EXPECT_NEAR(a.GetElement_Interpolate(-3.9, 0.25, 1.0), f(-3.5, 0.25, 1.0), 1e-12);
  EXPECT_EQ(a.GetElement_Interpolate(4.5, 0.25, 1.0), 0.0);
  // Symmetric axes: linear in |x| between centres, flat in the first half cell.
  for (double x : {0.5, 1.7, -2.2, 3.5}) EXPECT_NEAR(s.GetElement_Interpolate(x, -1.5, 2.6), g(x, 1.5, 2.6), 1e-12);
  EXPECT_NEAR(s.GetElement_Interpolate(-0.2, 1.5, 2.6), g(0.5, 1.5, 2.6), 1e-12);
}

TEST(C3DArray, ParameterFilesAndDirectoryRoundTrip) {
  const std::string dir = ScratchDir("a3d_roundtrip"), pars = WriteText(dir + "/p.dat",
      "int NXMAX 3\nint NYMAX 2\nint NZMAX 4\ndouble DELXYZ 2\ndouble DELX 0.5\ndouble DELY 1.25\nbool XSYM 0\n");
  std::unique_ptr<C3DArray> a;
  Stdout([&] { a.reset(new C3DArray(pars)); });
  a->Randomize_Gaussian();
  a->WriteArray(dir + "/a/sub");
  EXPECT_EQ(ReadText(dir + "/a/sub/3Darraypars.dat"),
            "bool XSYM 0\nbool YSYM 1\nbool ZSYM 1\nint NXMAX 3\nint NYMAX 2\nint NZMAX 4\n"
            "double DELX 0.5\ndouble DELY 1.25\ndouble DELZ 2\n");
  // Another shape: warning, and the array takes the written shape.
  C3DArray c(5, 1.0, false, false, false);
  EXPECT_NE(Stdout([&] { c.ReadArray(dir + "/a/sub"); }).find("Warning: In ReadArray parameters have changed"),
            std::string::npos);
  EXPECT_TRUE(c.GetNXMAX() == 3 && c.GetNZMAX() == 4 && c.GetZSYM() && c.GetDELY() == 1.25);
  EXPECT_NEAR(c.GetElement(-1.2, 2.4, -7.5), a->GetElement(1, 2, 0, 1, 0, 3), 1e-10);
}

TEST(C3DArray, FilesOfOtherKindsSurviveBrokenFilesAreFatalShapesChange) {
  const std::string dir = ScratchDir("a3d_files");
  C3DArray big(4, 1.0, true, true, true), a(2, 1.0, false, true, true);
  big.WriteArray(dir);
  for (const char *other : {"/lx0_ly0_lz0.tmp", "/ell0_q0002.00.tmp", "/ix3_iy3.tmp.keep"}) WriteText(dir + other, "1");
  a.WriteArray(dir);  // clears only its own stale columns
  EXPECT_FALSE(fs::exists(dir + "/ix3_iy3.tmp") || fs::exists(dir + "/ix0_iy2.tmp"));
  for (const char *kept : {"/ix1_iy1.tmp", "/lx0_ly0_lz0.tmp", "/ell0_q0002.00.tmp", "/ix3_iy3.tmp.keep"})
    EXPECT_TRUE(fs::exists(dir + kept)) << kept;
  fs::remove(dir + "/ix1_iy0.tmp");
  ExpectFatal([&] { a.ReadArray(dir); }, "Cannot open 3D array data file " + dir + "/ix1_iy0.tmp", false);
  WriteText(dir + "/ix1_iy0.tmp", "1 2\n3\n");  // needs 2 lines of 2 values
  ExpectFatal([&] { a.ReadArray(dir); }, "3D array data file " + dir + "/ix1_iy0.tmp holds fewer values", false);
  {  // a write that never reaches the disk is fatal too
    const std::string full = ScratchDir("a3d_full");
    FullDiskFor fault("3Darraypars.dat");
    ExpectFatal([&] { a.WriteArray(full); }, "Error writing " + full + "/3Darraypars.dat: No space left on device\n");
  }
  // After ReadPars changes the shape the storage keeps the allocated one.
  Stdout([&] { a.ReadPars(WriteText(dir + "/p.dat", "int NXYZMAX 5\nbool XSYM 1\n")); });
  a.Randomize();
  a.DeleteArray();
  a.CreateArray();
  a.SetElement(0, 4, 0, 4, 0, 4, 3.0);
  EXPECT_EQ(a.GetElement(-4.5, 4.5, 4.5), 3.0);
#ifndef NDEBUG
  EXPECT_NE(RunInChild([&] { a.SetElement(0, 5, 0, 0, 0, 0, 1.0); }).status, 0);  // index assertion
#endif
}

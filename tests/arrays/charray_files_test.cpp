#include "charray_testutil.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace testutil;

TEST(CCHArrayFiles, ParameterFileNamesAndFormats) {
  const std::string dir = ScratchDir("charray_forms");
  CCHArray a(WriteText(dir + "/pars", "int LMAX 2\nint NRADIAL 3\ndouble RADSTEP 0.5\nbool YSYM 0\n").c_str());
  a.SetElement(0, 0, 0, 0, 1.0 / 3.0);
  a.SetElement(0, 0, 0, 2, -2.5e-7);
  a.SetElement(1, 0, 0, 1, -0.5);
  a.WriteAX(dir + "/ax");
  a.WriteAllA(dir + "/all");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/ax"), fs::directory_iterator()), 9);  // lx <= 1
  EXPECT_EQ(ReadText(dir + "/ax/lx0_ly0_lz0.tmp"), "3 0.5\n0.333333\n0\n-2.5e-07\n");
  EXPECT_EQ(ReadText(dir + "/all/lx0_ly0_lz0.tmp"), "3 0.5\n3.3333333333e-01\n0.0000000000e+00\n-2.5000000000e-07\n");
}

TEST(CCHArrayFiles, RoundTripsReproduceTheArray) {
  const std::string dir = ScratchDir("charray_roundtrip");
  const double step = 12.345678;  // more than six digits, still read back
  for (int flags : {0, 6}) {
    const bool x = flags & 1, y = flags & 2, z = flags & 4;
    CCHArray a(5, 7, step, x, y, z), b(5, 7, step, x, y, z), c(5, 7, step, x, y, z);
    a.RandomizeA(3.0);
    a.WriteAllA(dir + "/all");
    b.ReadAllA(dir + "/all");
    a.WriteAX(dir + "/ax");
    c.ReadAX(dir + "/ax");
    // Ten and six written digits; the ranks not read are rebuilt from the traces.
    for (int ir = 0; ir < 7; ++ir) {
      const double fa = Evaluate(a, ir, 0.36, 0.48, 0.8), scale = a.GetBiggest(ir);
      EXPECT_NEAR(Evaluate(b, ir, 0.36, 0.48, 0.8), fa, 1e-9 * scale) << flags;
      EXPECT_NEAR(Evaluate(c, ir, 0.36, 0.48, 0.8), fa, 1e-5 * scale) << flags;
    }
  }
}

TEST(CCHArrayFiles, ReadAndWriteErrorsAreFatalAndNameTheFile) {
  const std::string dir = ScratchDir("charray_fileerrors"), f = dir + "/lx0_ly1_lz0.tmp";
  CCHArray a(1, 4, 1.0), other(1, 5, 1.0);
  a.WriteAllA(dir);
  ExpectFatal([&] { other.ReadAllA(dir); },
              "Mesh in " + dir + "/lx0_ly0_lz0.tmp out of whack: RADSTEP=1 =? 1, NRADIAL=5=?4\n");
  fs::remove(f);
  ExpectFatal([&] { a.ReadAllA(dir); }, "Reading Error: " + f + ", does not exist\n");
  WriteText(f, "4 1\n1\n2\n");
  ExpectFatal([&] { a.ReadAllA(dir); }, "Reading Error: " + f + " holds 2 readable values, 4 expected\n");
  WriteText(f, "4 1\n1\n2\nabc\n4\n");
  ExpectFatal([&] { a.ReadAllA(dir); }, f + ", line 4, column 1: value 'abc' is not a number\n");
  WriteText(f, "");
  ExpectFatal([&] { a.ReadAllA(dir); }, "Reading Error: " + f + " has no valid header (NRADIAL RADSTEP)\n");
  ExpectFatal([&] { a.WriteAX(f + "/sub"); }, f + "/sub", false);  // a file in the way
  ExpectFatal([&] { a.WriteShort(dir + "/no/s.dat", 1); }, "Cannot open " + dir + "/no/s.dat for writing\n");
  a.WriteAX(dir + "/with blank; $(x)/nested");  // just a name; parents are created
  EXPECT_TRUE(fs::exists(dir + "/with blank; $(x)/nested/lx1_ly0_lz0.tmp"));
}

// Bad array parameter files and data directories: every one is refused with a
// message naming its file (or, where the issue is harmless, warned about).
#include <filesystem>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/badinput.h"
#include "common/child.h"
#include "common/writefault.h"

namespace fs = std::filesystem;
using badinput::ExpectRefused;
using badinput::Guard;
using badinput::WriteText;

TEST(CCHArrayBadInput, ShapesAreCheckedBeforeAllocation) {
  Guard guard;
  const std::string dir = ScratchDir("charray_badshape"), f = dir + "/apars.dat";
  const struct {
    std::string lines;
    std::vector<std::string> parts;
  } cases[] = {
      // 2^31 radial bins, an (lx, ly) table of 2.5e9 entries, 2.3e9 triples
      // that overflowed an int count, a count beyond int (refused, not saturated).
      {"int NRADIAL 2147483647\n", {"LMAX=4, NRADIAL=2147483647 asks for a table of 75161927645 values"}},
      {"int NRADIAL 99999999999\n", {"line 1: value '99999999999' of NRADIAL is beyond the range of int"}},
      {"int LMAX 50000\n", {"LMAX=50000 asks for a table of 2500100001 values"}},
      {"int LMAX 2400\nint NRADIAL 0\n", {"LMAX=2400, NRADIAL=0 asks for a table of 2309764401 values"}},
      {"int NRADIAL -1\n", {"cannot build an array with LMAX=4, NRADIAL=-1"}},
      {"int LMAX -3\n", {"cannot build an array with LMAX=-3"}},
      {"double RADSTEP 0\n", {"RADSTEP=0 must be finite and positive"}},
      {"double RADSTEP -0.5\n", {"RADSTEP=-0.5 must be finite and positive"}},
  };
  for (const auto &c : cases) {
    WriteText(f, c.lines);
    ExpectRefused([&] { CCHArray a(f); }, f, c.parts);
  }
  // Large but within the budget: LMAX 300 has 4.6 million triples.
  CCHArray big(WriteText(f, "int LMAX 300\nint NRADIAL 1\nbool IDENTICAL 1\n"));
  big.SetElement(300, 0, 0, 0, 1.0);
  EXPECT_EQ(big.GetElement(300, 0, 0, 0), 1.0);
}

TEST(CCHArrayBadInput, DataFilesAreReadStrictly) {
  Guard guard;
  const std::string dir = ScratchDir("charray_badfiles"), f = dir + "/lx0_ly0_lz0.tmp";
  CCHArray a(0, 4, 1.0), b(0, 4, 1.0);
  a.SetElement(0, 0, 0, 3, 2.5);
  a.WriteAllA(dir);
  const std::pair<std::string, std::string> cases[] = {
      {"3.5\n1\n2\n3\n4\n", "line 1, column 1: NRADIAL '3.5' is not an integer"},  // not a count 3 and a step .5
      {"4294967300 1\n1\n2\n3\n4\n", "line 1, column 1: NRADIAL '4294967300' is out of range"},       // not 4
      {"4 nan\n1\n2\n3\n4\n", "line 1, column 3: RADSTEP 'nan' is not a finite number"},
      {"4 1\n1\n2\n1.5.25\n4\n", "line 4, column 1: value '1.5.25' is not a number"},
      {"4 1\n1\n2\n1e999\n4\n", "line 4, column 1: value '1e999' is not a finite number"},
      {"4 1\n1\n" + std::string(200, '9') + "\n", "line 3, column 1: value '9999"},
      {"-4 1\n", "line 1, column 1: NRADIAL '-4' is out of range (0 ... 2147483647)"},
  };
  for (const auto &c : cases) {
    WriteText(f, c.first);
    ExpectRefused([&] { b.ReadAllA(dir); }, f, {f + ", " + c.second});
  }
  // Text after the values is ignored with a warning naming the place.
  WriteText(f, "4 1\n0\n0\n0\n2.5\n7\n");
  b.ReadAllA(dir);
  EXPECT_EQ(b.GetElement(0, 0, 0, 3), 2.5);
  EXPECT_TRUE(guard.Printed("Warning: " + f + ", line 6, column 1: text after the last value is ignored"));
  fs::remove(f);
  ExpectRefused([&] { b.ReadAllA(dir); }, f, {"Reading Error: " + f + ", does not exist"});
}

TEST(CCHArrayBadInput, FailedWriteLeavesTheDirectoryAsItWas) {
  Guard guard;
  const std::string dir = ScratchDir("charray_atomic");
  CCHArray a(1, 3, 0.5), b(1, 3, 0.5), c(1, 3, 0.5);
  a.RandomizeA(1.0);
  a.WriteAllA(dir);
  // The last file of the loop order cannot be written: nothing of b replaces a.
  b.RandomizeA(1.0);
  {
    FullDiskFor full("lx1_ly0_lz0.tmp");
    ExpectRefused([&] { b.WriteAllA(dir); }, dir + "/lx1_ly0_lz0.tmp", {"Error writing"});
  }
  for (const auto &entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().extension(), ".tmp") << entry.path();  // no temporary file is left
  c.ReadAllA(dir);
  a.ForEachTriple([&](int lx, int ly, int lz) {
    for (int ir = 0; ir < 3; ir++)
      EXPECT_NEAR(c.GetElement(lx, ly, lz, ir), a.GetElement(lx, ly, lz, ir), 1e-9) << lx << ly << lz;
  });
}

TEST(C3DArrayBadInput, WidthsCountsAndSizes) {
  Guard guard;
  const std::string dir = ScratchDir("a3d_bad"), pars = dir + "/3Darraypars.dat";
  C3DArray a(2, 1.0, false, true, true);
  a.MakeConstant(4.0);
  a.WriteArray(dir);
  const std::string head = "bool XSYM 0\nbool YSYM 1\nbool ZSYM 1\nint NXMAX 2\nint NYMAX 2\nint NZMAX 2\n";
  const std::pair<std::string, std::string> cases[] = {
      // A negative or negative-zero width put positions into cells of negative index.
      {"double DELX -0.5\n", "DELX=-0.5 must be finite and positive"},
      {"double DELX -0\n", "DELX=-0 must be finite and positive"},
      {"double DELZ 0\n", "DELZ=0 must be finite and positive"},
      {"double DELXYZ 1\ndouble DELY -2\n", "DELY=-2 must be finite and positive"},
      {"int NXMAX -2\n", "NXMAX=-2 must not be negative"},
      {"int NXYZMAX -1\n", "NXMAX=-1 must not be negative"},
      {"int NXMAX 100000\nint NYMAX 100000\nint NZMAX 100000\nbool XSYM 1\n",
       "NXYZMAX=(100000,100000,100000), XYZSYM=(1,1,1) asks for a table of 1000000000000000 values"},
      // No values, but 2^31 columns to visit.
      {"int NXMAX 2147483647\nint NYMAX 0\n", "NXYZMAX=(2147483647,0,2), XYZSYM=(0,1,1) asks for a table of"},
  };
  for (const auto &c : cases) {
    WriteText(pars, head + c.first);
    ExpectRefused([&] { a.ReadArray(dir); }, pars, {"3D array parameter file " + pars + ": " + c.second});
    ExpectRefused([&] { C3DArray b(pars); }, pars, {c.second});
    // Nothing changed: the array still answers by its old shape and widths.
    EXPECT_EQ(a.GetDELX(), 1.0);
    EXPECT_EQ(a.GetNXMAX(), 2);
    EXPECT_EQ(a.GetElement(-0.5, 1.5, 0.5), 4.0);
  }
  // Arrays built in code are held to the same rules.
  ExpectRefused([] { C3DArray b(2, -0.5, false, false, false); }, "",
                {"C3DArray: cell widths DELXYZ=(-0.5,-0.5,-0.5) must be finite and positive"});
  ExpectRefused([] { C3DArray b(100000, 1.0, false, false, false); }, "", {"asks for a table of"});
}

TEST(C3DArrayBadInput, ColumnFilesAreReadStrictly) {
  Guard guard;
  const std::string dir = ScratchDir("a3d_badcolumns"), f = dir + "/ix1_iy0.tmp";
  C3DArray a(2, 1.0, false, true, true);
  a.MakeConstant(1.0);
  a.WriteArray(dir);
  const std::pair<std::string, std::string> cases[] = {
      {"1 nan\n1 1\n", "line 1, column 3: value 'nan' is not a finite number"},
      {"1 1\n1 1.5.25\n", "line 2, column 3: value '1.5.25' is not a number"},
      {"1 1\n1 inf\n", "line 2, column 3: value 'inf' is not a finite number"},
  };
  for (const auto &c : cases) {
    WriteText(f, c.first);
    ExpectRefused([&] { a.ReadArray(dir); }, f, {f + ", " + c.second});
  }
  WriteText(f, "1 2\n3 4\n5\n");
  a.ReadArray(dir);
  EXPECT_EQ(a.GetElement(-1.5, 0.5, 1.5), 4.0);  // block 1 (x < 0), cell 1
  EXPECT_TRUE(guard.Printed("Warning: " + f + ", line 3, column 1: text after the last value is ignored"));
}

TEST(CCHArrayBadInput, ValuesWhoseRebuiltCoefficientsOverflowAreRefused) {
  Guard guard;
  const std::string dir = ScratchDir("charray_overflow");
  // A(2,0,0) = -A(0,2,0) - A(0,0,2): finite values near the largest double give -inf.
  CCHArray a(2, 2, 1.0);
  a.SetElement(0, 2, 0, 1, 1.7e308);
  a.SetElement(0, 0, 2, 1, 1.7e308);
  a.WriteAX(dir);
  const std::string file = dir + "/lx0_ly0_lz2.tmp";
  CCHArray b(2, 2, 1.0);
  ExpectRefused([&] { b.ReadAX(dir); }, file,
                {"Reading Error: " + file + ": the value 1.7e+308 at r bin 1 is too large: the coefficient (2,0,0) "
                                            "rebuilt from it is -inf"});
  a.WriteAllA(dir + "/all");
  ExpectRefused([&] { b.ReadAllA(dir + "/all"); }, dir + "/all/lx0_ly0_lz2.tmp", {"too large"});
  // Half of it is still far from the edge of a double.
  a.SetElement(0, 2, 0, 1, 0.85e308);
  a.SetElement(0, 0, 2, 1, 0.85e308);
  a.WriteAllA(dir);
  b.ReadAX(dir);
  EXPECT_EQ(b.GetElement(2, 0, 0, 1), -1.7e308);
}

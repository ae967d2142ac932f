#include "arrays/charray.h"
#include "common/child.h"
#include "charray_testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string WriteText(const std::string &path, const std::string &text) {
  std::ofstream(path) << text;
  return path;
}

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::set<std::string> FileNames(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

// Largest difference relative to the largest magnitude in the array.
double MaxRelativeDifference(const CCHArray &a, const CCHArray &b) {
  double worst = 0.0, scale = 0.0;
  for (int ir = 0; ir < a.GetNRADIAL(); ++ir) scale = std::fmax(scale, a.GetBiggest(ir));
  for (int lx = 0; lx <= a.GetLMAX(); ++lx)
    for (int ly = 0; lx + ly <= a.GetLMAX(); ++ly)
      for (int lz = 0; lx + ly + lz <= a.GetLMAX(); ++lz)
        for (int ir = 0; ir < a.GetNRADIAL(); ++ir)
          if (a.ElementExists(lx, ly, lz, ir)) {
            const double x = a.GetElement(lx, ly, lz, ir), y = b.GetElement(lx, ly, lz, ir);
            worst = std::fmax(worst, std::fabs(x - y));
          }
  return worst / scale;
}

}  // namespace

TEST(CCHArrayFiles, ConstructionFromParameterFile) {
  const std::string dir = ScratchDir("charray_pars");
  CCHArray defaults(WriteText(dir + "/identical", "bool IDENTICAL 1\n"));
  EXPECT_EQ(defaults.GetLMAX(), 4);
  EXPECT_EQ(defaults.GetNRADIAL(), 25);
  EXPECT_EQ(defaults.GetRADSTEP(), 1.0);
  EXPECT_TRUE(defaults.GetXSYM() && defaults.GetYSYM() && defaults.GetZSYM());

  const std::string given_file = WriteText(dir + "/given",
                                           "# an array\nint LMAX 6\nint NRADIAL 40\ndouble RADSTEP 0.123456789\n"
                                           "bool XSYM 0\nbool YSYM 1\nbool IDENTICAL 0\nstring OTHER ignored\n");
  CCHArray given(given_file.c_str());
  EXPECT_EQ(given.GetLMAX(), 6);
  EXPECT_EQ(given.GetNRADIAL(), 40);
  EXPECT_EQ(given.GetRADSTEP(), 0.123457);  // through the parameter map: 6 digits
  EXPECT_FALSE(given.GetXSYM());
  EXPECT_TRUE(given.GetYSYM());
  EXPECT_FALSE(given.GetZSYM());

  ChildResult r = RunInChild([&] { CCHArray missing(dir + "/absent"); });
  EXPECT_EQ(r.status, 1);
}

TEST(CCHArrayFiles, DirectoriesHoldTheFilesOfTheirForm) {
  const std::string dir = ScratchDir("charray_forms");
  CCHArray a(2, 3, 0.5);
  a.WriteAX(dir + "/ax");
  EXPECT_EQ(FileNames(dir + "/ax"),
            (std::set<std::string>{"lx0_ly0_lz0.tmp", "lx0_ly0_lz1.tmp", "lx0_ly0_lz2.tmp", "lx0_ly1_lz0.tmp",
                                   "lx0_ly1_lz1.tmp", "lx0_ly2_lz0.tmp", "lx1_ly0_lz0.tmp", "lx1_ly0_lz1.tmp",
                                   "lx1_ly1_lz0.tmp"}));
  a.WriteAllA(dir + "/all");
  EXPECT_EQ(FileNames(dir + "/all").size(), 10u);
  CCHArray x(3, 3, 0.5, true, false, false);
  x.WriteAX(dir + "/axsym/nested");  // parents are created too
  EXPECT_EQ(FileNames(dir + "/axsym/nested").size(), 10u);
  for (const std::string &name : FileNames(dir + "/axsym/nested")) EXPECT_EQ(name.substr(0, 3), "lx0");

  // File contents: header "NRADIAL RADSTEP", then one value a line.
  a.SetElement(0, 0, 0, 0, 1.0 / 3.0);
  a.SetElement(0, 0, 0, 2, -2.5e-7);
  a.WriteAX(dir + "/ax");
  EXPECT_EQ(ReadText(dir + "/ax/lx0_ly0_lz0.tmp"), "3 0.5\n0.333333\n0\n-2.5e-07\n");
  a.WriteAllA(dir + "/all");
  EXPECT_EQ(ReadText(dir + "/all/lx0_ly0_lz0.tmp"),
            "3 0.5\n3.3333333333e-01\n0.0000000000e+00\n-2.5000000000e-07\n");
}

TEST(CCHArrayFiles, RoundTripsReproduceTheArray) {
  const std::string dir = ScratchDir("charray_roundtrip");
  for (int flags : {0, 1, 6, 7}) {
    CCHArray a(5, 7, 0.75, flags & 1, flags & 2, flags & 4);
    a.RandomizeA(3.0);
    a.WriteAllA(dir + "/all");
    CCHArray b(5, 7, 0.75, flags & 1, flags & 2, flags & 4);
    b.ReadAllA(dir + "/all");
    EXPECT_LT(MaxRelativeDifference(a, b), 1e-9) << flags;

    a.WriteAX(dir + "/ax");
    CCHArray c(5, 7, 0.75, flags & 1, flags & 2, flags & 4);
    c.ReadAX(dir + "/ax");
    // Six digits in each lx <= 1 value; the rebuilt ones follow by sums.
    for (int ir = 0; ir < 7; ++ir) {
      for (int ly = 0; ly <= 5; ++ly)
        for (int lz = 0; ly + lz <= 5; ++lz)
          if (a.ElementExists(0, ly, lz, ir)) {
            EXPECT_NEAR(c.GetElement(0, ly, lz, ir), a.GetElement(0, ly, lz, ir),
                        5e-6 * std::fabs(a.GetElement(0, ly, lz, ir)));
          }
      EXPECT_LT(testutil::TraceResidual(c, ir), 1e-13);
      EXPECT_LT(testutil::TraceResidual(b, ir), 1e-13);
    }
    EXPECT_LT(MaxRelativeDifference(a, c), 1e-3);
  }
  // A step that needs more than six digits is written so that it reads back.
  CCHArray fine(2, 3, 12.345678);
  fine.RandomizeA(1.0);
  fine.WriteAX(dir + "/fine");
  EXPECT_EQ(ReadText(dir + "/fine/lx0_ly0_lz0.tmp").substr(0, 12), "3 12.345678\n");
  CCHArray back(2, 3, 12.345678);
  back.ReadAX(dir + "/fine");
  EXPECT_LT(MaxRelativeDifference(fine, back), 1e-4);
}

TEST(CCHArrayFiles, ReadErrorsAreFatalAndNameTheFile) {
  const std::string dir = ScratchDir("charray_readerrors");
  CCHArray a(1, 4, 1.0);
  a.WriteAllA(dir + "/good");

  CCHArray other(1, 5, 1.0);
  ChildResult r = RunInChild([&] { other.ReadAllA(dir + "/good"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Mesh in " + dir + "/good/lx0_ly0_lz0.tmp out of whack: RADSTEP=1 =? 1, NRADIAL=5=?4\n");
  CCHArray step(1, 4, 1.5);
  r = RunInChild([&] { step.ReadAX(dir + "/good"); });
  EXPECT_EQ(r.output, "Mesh in " + dir + "/good/lx0_ly0_lz0.tmp out of whack: RADSTEP=1.5 =? 1, NRADIAL=4=?4\n");

  fs::remove(dir + "/good/lx0_ly1_lz0.tmp");
  r = RunInChild([&] { a.ReadAllA(dir + "/good"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Reading Error: " + dir + "/good/lx0_ly1_lz0.tmp, does not exist\n");

  WriteText(dir + "/good/lx0_ly1_lz0.tmp", "4 1\n1\n2\n3\n");
  r = RunInChild([&] { a.ReadAllA(dir + "/good"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Reading Error: " + dir + "/good/lx0_ly1_lz0.tmp holds 3 readable values, 4 expected\n");

  WriteText(dir + "/good/lx0_ly1_lz0.tmp", "4 1\n1\n2\nabc\n4\n");
  r = RunInChild([&] { a.ReadAllA(dir + "/good"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Reading Error: " + dir + "/good/lx0_ly1_lz0.tmp holds 2 readable values, 4 expected\n");

  WriteText(dir + "/good/lx0_ly1_lz0.tmp", "four 1\n1\n2\n3\n4\n");
  r = RunInChild([&] { a.ReadAllA(dir + "/good"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Reading Error: " + dir + "/good/lx0_ly1_lz0.tmp has no valid header (NRADIAL RADSTEP)\n");

  // Any whitespace separates the numbers.
  WriteText(dir + "/good/lx0_ly1_lz0.tmp", "4   1.0000001\n1 2\t3\n\n4e0\n");
  a.ReadAllA(dir + "/good");
  EXPECT_EQ(a.GetElement(0, 1, 0, 3), 4.0);
}

TEST(CCHArrayFiles, WriteFailuresAreFatalAndNameThePath) {
  const std::string dir = ScratchDir("charray_writeerrors");
  WriteText(dir + "/plainfile", "x");
  CCHArray a(1, 2, 1.0);
  ChildResult r = RunInChild([&] { a.WriteAX(dir + "/plainfile/sub"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(dir + "/plainfile/sub"), std::string::npos);

  fs::create_directories(dir + "/blocked/lx0_ly0_lz0.tmp");  // a directory where a file should go
  r = RunInChild([&] { a.WriteAllA(dir + "/blocked"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Cannot open " + dir + "/blocked/lx0_ly0_lz0.tmp for writing\n");

  r = RunInChild([&] { a.WriteShort(dir + "/nodir/short.dat", 1); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Cannot open " + dir + "/nodir/short.dat for writing\n");

  // A directory name with blanks and shell characters is just a name.
  a.WriteAX(dir + "/with blank; $(x)");
  EXPECT_TRUE(fs::exists(dir + "/with blank; $(x)/lx1_ly0_lz0.tmp"));
}

TEST(CCHArrayFiles, WriteShortTable) {
  const std::string dir = ScratchDir("charray_short");
  CCHArray a(3, 2, 2.0);
  a.SetElement(0, 0, 0, 0, 1.0);
  a.SetElement(1, 0, 0, 1, -0.5);
  a.WriteShort(dir + "/short.dat", 1);
  EXPECT_EQ(ReadText(dir + "/short.dat"),
            "!         (0,0,0)    (0,0,1)    (0,1,0)    (1,0,0)  \n"
            "   1.00   1.00e+00   0.00e+00   0.00e+00   0.00e+00 \n"
            "   3.00   0.00e+00   0.00e+00   0.00e+00  -5.00e-01 \n");
  CCHArray even(4, 1, 0.5, true, false, true);
  even.WriteShort(dir + "/even.dat", 9);  // lowered to LMAX
  const std::string even_text = ReadText(dir + "/even.dat");
  EXPECT_EQ(even_text.substr(0, even_text.find('\n')),
            "!         (0,0,0)    (0,1,0)    (0,0,2)    (0,2,0)    (0,1,2)    (0,3,0)    (0,0,4)    (0,2,2)  "
            "  (0,4,0)  ");
}

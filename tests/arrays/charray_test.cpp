#include "arrays/charray.h"
#include "common/child.h"
#include "charray_testutil.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace {

int CountStoredTriples(const CCHArray &a) {
  int n = 0;
  for (int lx = 0; lx <= a.GetLMAX(); ++lx)
    for (int ly = 0; ly <= a.GetLMAX(); ++ly)
      for (int lz = 0; lz <= a.GetLMAX(); ++lz) n += a.ElementExists(lx, ly, lz, 0);
  return n;
}

}  // namespace

TEST(CCHArray, StoresExactlyTheTriplesOfItsSymmetryWithoutAliasing) {
  EXPECT_EQ(CountStoredTriples(CCHArray(0, 3, 1.0)), 1);
  EXPECT_EQ(CountStoredTriples(CCHArray(2, 3, 1.0)), 10);
  CCHArray even(2, 3, 1.0, true, true, true);
  EXPECT_EQ(CountStoredTriples(even), 4);
  EXPECT_TRUE(even.ElementExists(0, 0, 2, 2));
  EXPECT_FALSE(even.ElementExists(1, 1, 0, 0));
  EXPECT_FALSE(even.ElementExists(0, 0, 2, 3));

  // Every symmetry combination: a distinct value in each element reads back.
  for (int flags = 0; flags < 8; ++flags) {
    CCHArray a(5, 3, 0.5, flags & 1, flags & 2, flags & 4);
    double value = 1.0;
    for (int lx = 0; lx <= 5; ++lx)
      for (int ly = 0; lx + ly <= 5; ++ly)
        for (int lz = 0; lx + ly + lz <= 5; ++lz)
          for (int ir = 0; ir < 3; ++ir)
            if (a.ElementExists(lx, ly, lz, ir)) a.SetElement(lx, ly, lz, ir, value++);
    value = 1.0;
    for (int lx = 0; lx <= 5; ++lx)
      for (int ly = 0; lx + ly <= 5; ++ly)
        for (int lz = 0; lx + ly + lz <= 5; ++lz)
          for (int ir = 0; ir < 3; ++ir)
            if (a.ElementExists(lx, ly, lz, ir)) {
            ASSERT_EQ(a.GetElement(lx, ly, lz, ir), value++) << flags;
          }
    a.IncrementElement(0, 0, 0, 2, 0.5);
    a.IncrementElement(0, 0, 0, 1.2, 0.25);  // bin 2 of width 0.5
    EXPECT_EQ(a.GetElement(0, 0, 0, 2), 3.75);
  }
}

TEST(CCHArray, ParametersAndPrintPars) {
  CCHArray a(4, 10, 0.25, true, false, true);
  EXPECT_EQ(a.GetLMAX(), 4);
  EXPECT_EQ(a.GetNRADIAL(), 10);
  EXPECT_EQ(a.GetRADSTEP(), 0.25);
  EXPECT_TRUE(a.GetXSYM());
  EXPECT_FALSE(a.GetYSYM());
  EXPECT_TRUE(a.GetZSYM());
  a.SetRADSTEP(0.5);
  EXPECT_EQ(a.GetRADSTEP(), 0.5);
  ChildResult r = RunInChild([&] { a.PrintPars(); });
  EXPECT_EQ(r.output, "XSYM=1, YSYM=0, ZSYM=1\nLMAX=4, NRADIAL=10, RADSTEP=0.5\n");
}

TEST(CCHArray, ReadingANonExistentElementWarnsAndGivesZero) {
  CCHArray a(2, 4, 2.0, true, false, false);
  a.SetElement(0, 0, 0, 0, 7.0);
  EXPECT_EQ(a.GetElement(0, 0, 0, 1.98), 7.0);  // r = 0.99 RADSTEP reads bin 0
  ChildResult r = RunInChild([&] { printf("%g\n", a.GetElement(1, 0, 0, 0)); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "WARNING: Tried to get non-existent element in CCHArray\n"
            "LMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=0\nl=(1,0,0), ir=0\n0\n");
  r = RunInChild([&] { printf("%g\n", a.GetElement(0, 0, 0, 8.0)); });  // r = NRADIAL * RADSTEP
  EXPECT_EQ(r.output,
            "WARNING: Tried to get non-existent element in CCHArray\n"
            "LMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=4\nl=(0,0,0), ir=4\n0\n");
  r = RunInChild([&] { printf("%g\n", a.GetElement(0, 0, 0, -0.5)); });
  EXPECT_NE(r.output.find("ir=-1\n0\n"), std::string::npos);
  r = RunInChild([&] { printf("%g\n", a.GetElement(0, 0, 0, 1e300)); });  // no integer overflow
  EXPECT_NE(r.output.find("WARNING"), std::string::npos);
}

TEST(CCHArray, WritingOutsideTheArrayIsFatal) {
  CCHArray a(2, 4, 1.0, true, false, false);
  ChildResult r = RunInChild([&] { a.SetElement(1, 0, 0, 0, 1.0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "Tried to set element out of bounds in CCHArray\n"
            "LMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=0\nl=(1,0,0), ir=0\n");
  r = RunInChild([&] { a.IncrementElement(0, 0, 0, 4, 1.0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "OUT OF BOUNDS IN INCREMENTELEMENT\nell=(0,0,0), ir=4\n");
  r = RunInChild([&] { a.SetElement(0, 0, 0, 4.5, 1.0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("l=(0,0,0), ir=4\n"), std::string::npos);

  // Operations with explicit indices never reach outside the storage.
  const std::pair<const char *, std::function<void()>> cases[] = {
      {"CCHArray::ZeroArray: radial index 4 outside 0..3\n", [&] { a.ZeroArray(4); }},
      {"CCHArray::ScaleArray: radial index -1 outside 0..3\n", [&] { a.ScaleArray(2.0, -1); }},
      {"CCHArray::ZeroArray_Partial: radial index 9 outside 0..3\n", [&] { a.ZeroArray_Partial(1, 9); }},
      {"CCHArray::GetBiggest: radial index 4 outside 0..3\n", [&] { a.GetBiggest(4); }},
      {"CCHArray::FillRemainderX: radial index 4 outside 0..3\n", [&] { a.FillRemainderX(4); }},
      {"CCHArray::RandomizeA: radial index 4 outside 0..3\n", [&] { a.RandomizeA(1.0, 4); }},
      {"CCHArray::PrintArrayFixedIR: radial index -2 outside 0..3\n", [&] { a.PrintArrayFixedIR(-2); }},
      {"CCHArray::ZeroArray: triple (1,0,0) is not stored (LMAX=2, XSYM=1, YSYM=0, ZSYM=0)\n",
       [&] { a.ZeroArray(1, 0, 0); }},
      {"CCHArray::ZeroArray: triple (0,3,0) is not stored (LMAX=2, XSYM=1, YSYM=0, ZSYM=0)\n",
       [&] { a.ZeroArray(0, 3, 0); }},
  };
  for (const auto &c : cases) {
    r = RunInChild(c.second);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, c.first);
  }
  r = RunInChild([] { CCHArray bad(-1, 4, 1.0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "CCHArray: cannot build an array with LMAX=-1, NRADIAL=4\n");
}

TEST(CCHArray, SetLMAXOnlyLowers) {
  CCHArray a(4, 2, 1.0);
  a.SetElement(4, 0, 0, 1, 3.0);
  a.SetLMAX(6);
  EXPECT_EQ(a.GetLMAX(), 4);
  a.SetLMAX(2);
  EXPECT_EQ(a.GetLMAX(), 2);
  EXPECT_FALSE(a.ElementExists(4, 0, 0, 1));
  ChildResult r = RunInChild([&] { printf("%g\n", a.GetElement(4, 0, 0, 1)); });
  EXPECT_EQ(r.output.substr(r.output.size() - 2), "0\n");
  a.SetElement(2, 0, 0, 1, -1.0);
  EXPECT_EQ(a.GetBiggest(1), 1.0);  // the hidden rank-4 value no longer counts
}

TEST(CCHArray, ZeroScaleAndBiggest) {
  CCHArray a(3, 3, 1.0);
  a.Randomize(1.0);
  a.SetElement(1, 1, 1, 2, -3.0);
  EXPECT_EQ(a.GetBiggest(2), 3.0);
  const double before = a.GetElement(0, 1, 0, 1);
  a.ScaleArray(2.0, 1);
  EXPECT_EQ(a.GetElement(0, 1, 0, 1), 2 * before);
  a.ScaleArray(-0.5);
  EXPECT_EQ(a.GetElement(0, 1, 0, 1), -before);
  a.ZeroArray_Partial(1, 0);
  EXPECT_EQ(a.GetElement(1, 0, 0, 0), 0.0);
  EXPECT_NE(a.GetElement(2, 0, 0, 0), 0.0);
  a.ZeroArray(1, 1, 1);
  EXPECT_EQ(a.GetBiggest(2) == 0.0, false);
  EXPECT_EQ(a.GetElement(1, 1, 1, 2), 0.0);
  a.ZeroArray(2);
  EXPECT_EQ(a.GetBiggest(2), 0.0);
  EXPECT_NE(a.GetBiggest(1), 0.0);
  a.ZeroArray_Partial(2);
  EXPECT_EQ(a.GetElement(0, 2, 0, 1), 0.0);
  EXPECT_NE(a.GetElement(0, 3, 0, 1), 0.0);
  a.ZeroArray();
  for (int ir = 0; ir < 3; ++ir) EXPECT_EQ(a.GetBiggest(ir), 0.0);
}

TEST(CCHArray, RandomTracelessFillsAreTracelessInEveryBin) {
  for (int flags = 0; flags < 8; ++flags) {
    CCHArray a(6, 4, 1.0, flags & 1, flags & 2, flags & 4);
    a.RandomizeA(1.0);
    for (int ir = 0; ir < 4; ++ir) EXPECT_LT(testutil::TraceResidual(a, ir), 1e-14) << flags;
    a.RandomizeA_Gaussian(2.0);
    for (int ir = 0; ir < 4; ++ir) {
      EXPECT_LT(testutil::TraceResidual(a, ir), 1e-13) << flags;
      EXPECT_GT(a.GetBiggest(ir), 0.0);
    }
    // A traceless set is one fixed point of all three fills.
    a.FillRemainderY();
    a.FillRemainderZ();
    a.FillRemainderX();
    for (int ir = 0; ir < 4; ++ir) EXPECT_LT(testutil::TraceResidual(a, ir), 1e-13) << flags;
  }
  // After Randomize (not traceless) each fill restores tracelessness on its own.
  typedef void (CCHArray::*Fill)(int);
  for (Fill fill : {static_cast<Fill>(&CCHArray::FillRemainderX), static_cast<Fill>(&CCHArray::FillRemainderY),
                    static_cast<Fill>(&CCHArray::FillRemainderZ)}) {
    CCHArray b(5, 2, 1.0);
    b.Randomize(1.0);
    EXPECT_GT(testutil::TraceResidual(b, 1), 0.1);
    (b.*fill)(1);
    EXPECT_LT(testutil::TraceResidual(b, 1), 1e-14);
    EXPECT_GT(testutil::TraceResidual(b, 0), 0.1);
  }
}

TEST(CCHArray, RandomFillsDrawInLoopOrderFromTheSharedGenerator) {
  CCHArray a(3, 2, 1.0, true, false, false);
  a.RandomInit(77);
  a.RandomizeA(2.0, 1);
  CRandom reference(77);
  for (int ly = 0; ly <= 3; ++ly)
    for (int lz = 0; ly + lz <= 3; ++lz)
      EXPECT_DOUBLE_EQ(a.GetElement(0, ly, lz, 1), 2.0 * (1.0 - 2.0 * reference.ran()));
  // Only the lx = 0 layer was drawn: the next value continues the sequence.
  a.Randomize(1.0, 0);
  EXPECT_DOUBLE_EQ(a.GetElement(0, 0, 0, 0), 1.0 - 2.0 * reference.ran());
  EXPECT_EQ(a.GetElement(0, 0, 0, 1) == a.GetElement(0, 0, 0, 0), false);

  // Without RandomInit the generator starts from seed -12345.
  ChildResult r = RunInChild([] {
    CCHArray::randy.reset();
    CCHArray b(0, 1, 1.0);
    b.Randomize(1.0);
    CRandom expected(-12345);
    printf("%d", b.GetElement(0, 0, 0, 0) == 1.0 - 2.0 * expected.ran());
  });
  EXPECT_EQ(r.output, "1");
}

TEST(CCHArray, PrintArrayFixedIRLaysOutTrianglesByOrder) {
  CCHArray a(1, 2, 1.0);
  a.SetElement(0, 0, 0, 1, 1.0);
  a.SetElement(0, 0, 1, 1, -2.5);
  a.SetElement(0, 1, 0, 1, 0.125);
  a.SetElement(1, 0, 0, 1, 3.0e-4);
  ChildResult r = RunInChild([&] { a.PrintArrayFixedIR(5, 1); });
  EXPECT_EQ(r.output,
            "\n______________________________________________________\n"
            "     L=0\n"
            " lx\\ly:    0       \n"
            "   0   1.000e+00 \n"
            "_________________________________________\n"
            "     L=1\n"
            " lx\\ly:    0           1       \n"
            "   0  -2.500e+00   1.250e-01 \n"
            "   1   3.000e-04 \n"
            "_________________________________________\n");

  CCHArray even(4, 1, 1.0, true, true, true);
  r = RunInChild([&] { even.PrintArrayFixedIR(0); });
  EXPECT_NE(r.output.find("     L=0\n"), std::string::npos);
  EXPECT_NE(r.output.find("     L=2\n"), std::string::npos);
  EXPECT_NE(r.output.find("     L=4\n"), std::string::npos);
  EXPECT_EQ(r.output.find("     L=1\n"), std::string::npos);
  EXPECT_EQ(r.output.find("     L=3\n"), std::string::npos);

  // With only ZSYM, odd lz positions print a zero without the leading blank.
  CCHArray zsym(1, 1, 1.0, false, false, true);
  r = RunInChild([&] { zsym.PrintArrayFixedIR(0); });
  EXPECT_NE(r.output.find("   0  0.000e+00   0.000e+00 \n"), std::string::npos);
}

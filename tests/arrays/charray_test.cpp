#include "charray_testutil.h"

using namespace testutil;

TEST(CCHArray, StoresTheTriplesOfItsSymmetryWithoutAliasing) {
  for (int flags = 0; flags < 8; ++flags) {
    CCHArray a(5, 3, 0.5, flags & 1, flags & 2, flags & 4);
    int stored = 0, seen = 0;
    ForTriples(5, [&](int x, int y, int z) {
      for (int ir = 0; ir < 3; ++ir)
        if (a.ElementExists(x, y, z, ir)) a.SetElement(x, y, z, ir, ++stored);
    });
    ForTriples(5, [&](int x, int y, int z) {
      for (int ir = 0; ir < 3; ++ir)
        if (a.ElementExists(x, y, z, ir)) { EXPECT_EQ(a.GetElement(x, y, z, ir), ++seen) << flags; }
    });
    if (flags == 0) { EXPECT_EQ(stored, 56 * 3); }
    if (flags == 7) { EXPECT_EQ(stored, 10 * 3); }  // all indices even
    a.IncrementElement(0, 0, 0, 1.2, 0.25);         // bin 2 of width 0.5
    EXPECT_EQ(a.GetElement(0, 0, 0, 2), 3.25);
  }
}

TEST(CCHArray, MessagesAndPrintout) {
  CCHArray a(2, 4, 2.0, true, false, false), b(1, 2, 1.0);
  EXPECT_EQ(RunInChild([&] { a.PrintPars(); }).output, "XSYM=1, YSYM=0, ZSYM=0\nLMAX=2, NRADIAL=4, RADSTEP=2\n");
  // Reading outside warns and gives 0; writing and explicit-index operations are fatal.
  EXPECT_EQ(RunInChild([&] { printf("%g\n", a.GetElement(0, 0, 0, 8.0)); }).output,
            "WARNING: Tried to get non-existent element in CCHArray\n"
            "LMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=4\nl=(0,0,0), ir=4\n0\n");
  ExpectFatal([&] { a.SetElement(1, 0, 0, 0, 1.0); },
              "Tried to set element out of bounds in CCHArray\n"
              "LMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=0\nl=(1,0,0), ir=0\n");
  ExpectFatal([&] { a.IncrementElement(0, 0, 0, 4, 1.0); }, "OUT OF BOUNDS IN INCREMENTELEMENT\nell=(0,0,0), ir=4\n");
  ExpectFatal([&] { a.ZeroArray(4); }, "CCHArray::ZeroArray: radial index 4 outside 0..3\n");
  ExpectFatal([&] { a.ScaleArray(2.0, -1); }, "CCHArray::ScaleArray: radial index -1 outside 0..3\n");
  ExpectFatal([&] { a.ZeroArray(1, 0, 0); },
              "CCHArray::ZeroArray: triple (1,0,0) is not stored (LMAX=2, XSYM=1, YSYM=0, ZSYM=0)\n");
  const double values[] = {1.0, -2.5, 0.125, 3.0e-4};  // (0,0,0), (0,0,1), (0,1,0), (1,0,0)
  int k = 0;
  ForTriples(1, [&](int x, int y, int z) { b.SetElement(x, y, z, 1, values[k++]); });
  EXPECT_EQ(RunInChild([&] { b.PrintArrayFixedIR(5, 1); }).output,
            "\n______________________________________________________\n     L=0\n lx\\ly:    0       \n"
            "   0   1.000e+00 \n_________________________________________\n     L=1\n"
            " lx\\ly:    0           1       \n   0  -2.500e+00   1.250e-01 \n   1   3.000e-04 \n"
            "_________________________________________\n");
}

TEST(CCHArray, RandomTracelessFillsAreTracelessInEveryBin) {
  for (int flags = 0; flags < 8; ++flags) {
    CCHArray a(6, 4, 1.0, flags & 1, flags & 2, flags & 4), b(6, 4, 1.0, flags & 1, flags & 2, flags & 4);
    a.RandomizeA(1.0);
    b.RandomizeA_Gaussian(2.0);
    for (int ir = 0; ir < 4; ++ir) EXPECT_LT(TraceResidual(a, ir) + TraceResidual(b, ir), 1e-13) << flags;
  }
  // After a plain fill each remainder fill restores tracelessness in its bin.
  for (int axis = 0; axis < 3; ++axis) {
    CCHArray b(5, 2, 1.0);
    b.Randomize(1.0);
    axis == 0 ? b.FillRemainderX(1) : axis == 1 ? b.FillRemainderY(1) : b.FillRemainderZ(1);
    EXPECT_LT(TraceResidual(b, 1), 1e-14) << axis;
    EXPECT_GT(TraceResidual(b, 0), 0.1);
  }
}

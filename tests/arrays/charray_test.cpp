#include "charray_testutil.h"

using namespace testutil;

TEST(CCHArray, WritingOutsideAndUnstoredExplicitIndicesAreFatal) {
  CCHArray a(2, 4, 2.0, true, false, false);
  ExpectFatal([&] { a.SetElement(1, 0, 0, 0, 1.0); }, "Tried to set element out of bounds in CCHArray\n"
              "LMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=0\nl=(1,0,0), ir=0\n");
  ExpectFatal([&] { a.ScaleArray(2.0, -1); }, "CCHArray::ScaleArray: radial index -1 outside 0..3\n");
  ExpectFatal([&] { a.ZeroArray(1, 0, 0); },
              "CCHArray::ZeroArray: triple (1,0,0) is not stored (LMAX=2, XSYM=1, YSYM=0, ZSYM=0)\n");
}

TEST(CCHArray, RandomTracelessFillsAreTracelessInEveryBin) {
  for (int flags = 0; flags < 8; ++flags) {
    CCHArray a(6, 4, 1.0, flags & 1, flags & 2, flags & 4), b(6, 4, 1.0, flags & 1, flags & 2, flags & 4);
    a.RandomizeA(1.0);
    b.RandomizeA_Gaussian(2.0);
    for (int ir = 0; ir < 4; ++ir) EXPECT_LT(TraceResidual(a, ir) + TraceResidual(b, ir), 1e-13) << flags;
  }
}

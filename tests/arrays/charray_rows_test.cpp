// Raw rows of CCHArray and the row-wise traceless completion.
#include "arrays/charray.h"
#include "config/fatal.h"

#include <gtest/gtest.h>

TEST(CCHArrayRows, RowsAreTheElementsAndCompletionMatchesTheBinForm) {
  for (bool sym : {false, true}) {
    CCHArray A(5, 11, 0.5, sym, sym, sym), B(5, 11, 0.5, sym, sym, sym);
    A.RandomInit(777);
    A.Randomize(1.0);
    A.ForEachTriple([&](int lx, int ly, int lz) {
      const double *row = A.Row(lx, ly, lz);
      for (int ir = 0; ir < 11; ++ir) {
        EXPECT_EQ(row[ir], A.GetElement(lx, ly, lz, ir));
        B.SetElement(lx, ly, lz, ir, row[ir]);
      }
    });
    A.Row(sym ? 0 : 1, sym ? 2 : 0, sym ? 2 : 1)[3] = 42.0;
    B.SetElement(sym ? 0 : 1, sym ? 2 : 0, sym ? 2 : 1, 3, 42.0);
    A.FillRemainderX();
    for (int ir = 0; ir < 11; ++ir) B.FillRemainderX(ir);
    A.ForEachTriple([&](int lx, int ly, int lz) {
      for (int ir = 0; ir < 11; ++ir) EXPECT_EQ(A.GetElement(lx, ly, lz, ir), B.GetElement(lx, ly, lz, ir));
    });
  }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  CCHArray S(4, 3, 1.0, true, true, true);
  EXPECT_THROW(S.Row(0, 1, 1), femtokit::Error);
  EXPECT_THROW(S.Row(2, 2, 2), femtokit::Error);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/child.h"
#include "fit/cfcalc.h"

#include <gtest/gtest.h>

TEST(CFCalc, HarmonicChiSquare) {
  CCHArray exp(2, 10, 1.0), err(2, 10, 1.0), th(2, 10, 1.0);
  for (int ir = 0; ir < 10; ++ir) {
    exp.SetElement(0, 0, 0, ir, 1.0 + 0.1);
    th.SetElement(0, 0, 0, ir, 1.0);
    err.SetElement(0, 0, 0, ir, 0.1);
    exp.SetElement(0, 1, 0, ir, 0.5);
    th.SetElement(0, 1, 0, ir, 0.5);
    err.SetElement(0, 1, 0, ir, 1e-8);
  }
  ChildResult out = RunInChild([&] { std::printf("%.12g\n", CFCalc::GetChiSquared(0, 0, 0, &exp, &err, &th)); });
  EXPECT_EQ(out.output, "chi^2/Ndof=1\n10\n");

  // Equal values: zero; an error of exactly 1e-8 draws no warning.
  ChildResult equal = RunInChild([&] { CFCalc::GetChiSquared(0, 1, 0, &exp, &err, &th); });
  EXPECT_EQ(equal.output, "chi^2/Ndof=0\n");

  // A small or negative error warns once per point and still adds the term.
  err.SetElement(0, 1, 0, 4, -0.5);
  err.SetElement(0, 1, 0, 5, 9.9e-9);
  ChildResult warned = RunInChild([&] { CFCalc::GetChiSquared(0, 1, 0, &exp, &err, &th); });
  EXPECT_NE(warned.output.find("CFCalc::GetChiSquared : \nSuspiciously small or negative error = -0.5, l=(0,1,0)\n"),
            std::string::npos);
  EXPECT_NE(warned.output.find("error = 9.9e-09, l=(0,1,0)\n"), std::string::npos);
}

TEST(CFCalc, MeshChiSquareVisitsEveryCell) {
  for (bool sym : {false, true}) {
    C3DArray exp(2, 1.0, sym, sym, sym), err(2, 1.0, sym, sym, sym), th(2, 1.0, sym, sym, sym);
    exp.MakeConstant(1.5);
    th.MakeConstant(1.0);
    err.MakeConstant(0.5);
    ChildResult out = RunInChild([&] { std::printf("%g\n", CFCalc::GetChiSquared(&exp, &err, &th)); });
    EXPECT_EQ(out.output, sym ? "chi^2/Ndof=1\n8\n" : "chi^2/Ndof=1\n64\n");
  }
  C3DArray a(2, 1.0, false, false, false), b(3, 1.0, false, false, false);
  ChildResult bad = RunInChild([&] { CFCalc::GetChiSquared(&a, &a, &b); });
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("NXYZMAX mismatch between 3DArrays!!!"), std::string::npos);
}

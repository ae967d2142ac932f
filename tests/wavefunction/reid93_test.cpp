#include "common/child.h"
#include "wavefunction/reid93.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Reid93, MatchesReferenceValuesForEveryPairType) {
  // Reference potential values (MeV) at r = 0, 0.1, 0.5, 1, 1.5, 2, 3, 5 fm; the r = 0 column checks the
  // small-x limits of every helper. element 0, 1, 2: vpot11, vpot12, vpot22.
  struct Row { const char *wave, *type; int element; double v[8]; };
  const Row kRows[] = {
      {"1S0", "PP", 0, {5059.30766, 3653.07117, 339.086729, -78.5658240, -24.5570613, -5.50664879, -0.887996077, -0.0953050753}},
      {"1S0", "NP", 0, {6164.79211, 4388.65918, 368.703056, -87.1610959, -22.5788692, -4.54988821, -1.09368652, -0.0988368730}},
      {"3P0", "PP", 0, {18029.7194, 11073.9021, 1523.18690, 80.8139435, -16.9750295, -11.1604945, -2.37914350, -0.224992725}},
      {"3P1", "PP", 0, {6296.25529, 4165.56294, 779.501106, 95.2101655, 14.3850431, 4.23047543, 1.24499951, 0.158029746}},
      {"1D2", "PP", 0, {-1346.55426, -1187.86493, -283.290836, -40.6031627, -13.1097899, -5.35783829, -0.916184367, -0.0917538553}},
      {"3C2", "PP", 0, {-2575.01977, -1309.71993, -109.003323, -26.6825748, -9.95546573, -3.08364004, -0.238257309, 0.00342910646}},
      {"3C2", "PP", 1, {0, 96.1280130, 91.4583625, 35.3960024, 15.0524025, 7.01077162, 1.79313372, 0.189199618}},
      {"3C2", "PP", 2, {15399.2714, 9697.43643, 1481.38956, 120.926626, 2.11779730, -3.56304336, -0.901379816, -0.0735549491}},
      {"3C1", "NP", 0, {5226.44505, 3752.40910, 419.338638, -47.0710370, -16.8560810, -3.90224897, -0.828473064, -0.0940683601}},
      {"3C1", "NP", 1, {0, -318.131586, -358.378736, -140.538543, -53.3155938, -22.3041291, -5.16672235, -0.521426190}},
      {"3C1", "NP", 2, {-719.203061, 445.128508, 221.341124, 15.5441709, 17.6308626, 11.5752893, 2.82344453, 0.274650009}},
  };
  const double radii[8] = {0.0, 0.1, 0.5, 1.0, 1.5, 2.0, 3.0, 5.0};
  for (const Row &row : kRows)
    for (int i = 0; i < 8; ++i)
      for (const char *type : {row.type, row.type[0] == 'P' ? "NN" : "PN"}) {  // NN is PP, PN is NP
        double v[3] = {-1, -1, -1};
        creid93(&radii[i], row.wave, type, &v[0], &v[1], &v[2]);
        EXPECT_NEAR(v[row.element], row.v[i], 1e-7 * std::fabs(row.v[i]) + 1e-9)
            << row.wave << " " << type << " v" << row.element << " r=" << radii[i];
      }
}

TEST(Reid93, UnknownWaveOrPairTypeIsFatal) {
  const double r = 1.0;
  double v[3];
  const char *cases[][3] = {{"3S1", "PP", "creid93: unknown partial wave \"3S1\"\n"},
                            {"1S0", "pp", "creid93: unknown pair type \"pp\"\n"}};
  for (const auto &c : cases) {
    const ChildResult res = RunInChild([&] { creid93(&r, c[0], c[1], &v[0], &v[1], &v[2]); });
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.output, c[2]);
  }
}

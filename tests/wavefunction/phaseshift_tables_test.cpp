// The compiled-in phase-shift tables: reference rows to their printed digits,
// delta(0) = 0, threshold laws, derivative tables against the numerical
// derivative of the phase tables, and the frozen nn P waves.
#include "wavefunction/phaseshift_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using femtokit::phaseshifts::PhaseShiftTable;

namespace {

struct Row {
  const char *pair;
  double q;
  std::vector<std::string> values;  // delta / d delta/dq per channel, as printed
};

PhaseShiftTable Table(const std::string &pair) {
  if (pair == "pK+") return femtokit::phaseshifts::PKplusTable();
  if (pair == "ppi+") return femtokit::phaseshifts::PPiplusTable();
  return femtokit::phaseshifts::NNTable();
}

// v printed with the significant digits of the text.
std::string SameDigits(double v, const std::string &text) {
  int digits = 0;
  bool leading = true;
  for (char c : text) {
    if (c == 'e') break;
    if (c >= '1' && c <= '9') leading = false;
    if (c >= '0' && c <= '9' && !leading) digits++;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
  return buffer;
}

}  // namespace

TEST(PhaseShiftTables, ReferenceRowsToTheirPrintedDigits) {
  const Row rows[] = {
      {"pK+", 50, {"-0.0708759", "-0.00162901", "-0.0021411", "-0.000121982", "0.000946544", "4.90663e-05"}},
      {"pK+", 200, {"-0.300156", "-0.00141539", "-0.0856114", "-0.000878855", "0.043069", "0.000496762"}},
      {"ppi+", 50, {"-0.030977", "-0.00077303", "-0.00178296", "-0.000109087", "0.0089147", "0.000545402"}},
      {"ppi+", 200, {"-0.214173", "-0.00148456", "-0.0622221", "-0.000697835", "1.01294", "0.020556"}},
      {"nn", 10, {"0.312858", "0.0290024", "0.000299374", "8.98121e-05", "-0.000179104", "-5.37311e-05",
                  "3.74404e-05", "1.12321e-05"}},
      {"nn", 50, {"0.928847", "0.00474858", "0.0306934", "0.00151352", "-0.0176518", "-0.000843524", "0.00482179",
                  "0.000293275"}}};
  for (const Row &row : rows) {
    const PhaseShiftTable t = Table(row.pair);
    const int n = static_cast<int>(2 * row.q);
    ASSERT_EQ(row.values.size(), 2u * t.nchannels);
    for (int c = 0; c < t.nchannels; c++) {
      EXPECT_EQ(SameDigits(t.delta[c * t.npoints + n], row.values[2 * c]), row.values[2 * c])
          << row.pair << " q=" << row.q << " channel " << c;
      EXPECT_EQ(SameDigits(t.ddeltadq[c * t.npoints + n], row.values[2 * c + 1]), row.values[2 * c + 1])
          << row.pair << " q=" << row.q << " channel " << c;
    }
  }
}

TEST(PhaseShiftTables, SmoothWithThresholdLawsAndConsistentDerivatives) {
  const int ells[3][4] = {{0, 1, 1, -1}, {0, 1, 1, -1}, {0, 1, 1, 1}};
  const char *pairs[3] = {"pK+", "ppi+", "nn"};
  const int sizes[3][2] = {{3, 701}, {3, 781}, {4, 401}};
  for (int p = 0; p < 3; p++) {
    const PhaseShiftTable t = Table(pairs[p]);
    EXPECT_EQ(t.nchannels, sizes[p][0]);
    EXPECT_EQ(t.npoints, sizes[p][1]);
    for (int c = 0; c < t.nchannels; c++) {
      const double *d = t.delta + c * t.npoints, *dp = t.ddeltadq + c * t.npoints;
      EXPECT_EQ(d[0], 0.0) << pairs[p] << " " << c;
      // delta ~ q^(2l+1): doubling q near threshold multiplies delta by 2^(2l+1).
      const int l = ells[p][c];
      EXPECT_NEAR(d[2] / d[1], std::pow(2.0, 2 * l + 1), 0.02 * std::pow(2.0, 2 * l + 1)) << pairs[p] << " " << c;
      // The derivative table is the derivative of the phase table: central
      // differences over 1 MeV/c agree to 1 % (plus a floor where d delta/dq
      // passes through 0), and so no entry jumps.
      double dmax = 0.0;
      for (int n = 0; n < t.npoints; n++) dmax = std::fmax(dmax, std::fabs(dp[n]));
      for (int n = 1; n + 1 < t.npoints; n++)
        ASSERT_NEAR(d[n + 1] - d[n - 1], dp[n], 0.01 * std::fabs(dp[n]) + 1e-3 * dmax)
            << pairs[p] << " channel " << c << " q=" << 0.5 * n;
    }
  }
  // nn P waves are constant from 100 MeV/c on.
  const PhaseShiftTable nn = Table("nn");
  for (int c = 1; c < 4; c++)
    for (int n = 200; n < nn.npoints; n++) {
      EXPECT_EQ(nn.delta[c * nn.npoints + n], nn.delta[c * nn.npoints + 200]);
      EXPECT_EQ(nn.ddeltadq[c * nn.npoints + n], 0.0);
    }
  // The Delta(1232): delta_33 passes pi/2 between 220 and 230 MeV/c (W = 1232 MeV at q = 227 MeV/c).
  const PhaseShiftTable ppi = Table("ppi+");
  EXPECT_LT(ppi.delta[2 * ppi.npoints + 440], M_PI / 2);
  EXPECT_GT(ppi.delta[2 * ppi.npoints + 460], M_PI / 2);
}

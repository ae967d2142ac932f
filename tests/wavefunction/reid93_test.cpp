#include "common/child.h"
#include "wavefunction/reid93.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

const double kX[4] = {0.1, 0.5, 1.0, 2.0};

// Values of the helpers at m = 8, evaluated in 50-digit arithmetic.
struct HelperRow {
  char fn;
  double n;
  double v[4];
};
const HelperRow kHelpers[] = {
    {'y', 1, {2.785851742976, 1.104312213523, 0.3662230944462, 0.06766714224347}},
    {'y', 3, {1.370324251492, 0.3466690338394, 0.04829845295655, 0.001238932981083}},
    {'y', 6, {0.2085010325629, 0.03089049090297, 0.001556229949934, 2.818902033546e-06}},
    {'p', 1, {-108.6758144184, -3.439110958313, 0.2830073963121, 0.06763922648669}},
    {'p', 3, {-8.068704334998, -0.03808657476078, 0.04125140816901, 0.001236568960919}},
    {'w', 1, {44.99040073163, 5.391857111012, 0.7221726459128, 0.05074871964748}},
    {'w', 3, {3.411787371444, 0.3025130565043, 0.02076709861700, 0.0002407912954094}},
    {'z', 1, {26.29538777654, 12.73646037472, 2.449525334051, 0.2198853854291}},
    {'z', 3, {2.166657779335, 0.8694525947522, 0.1035527040200, 0.001958942847147}},
    {'z', 6, {0.1302833338783, 0.03493776658256, 0.001902596772643, 3.412184290582e-06}},
};

double Helper(char fn, double n, double x) {
  const double m = 8.0;
  switch (fn) {
    case 'y': return r93_y(n, m, x);
    case 'p': return r93_p(n, m, x);
    case 'w': return r93_w(n, m, x);
    default: return r93_z(n, m, x);
  }
}

const double kR[8] = {0.0, 0.1, 0.5, 1.0, 1.5, 2.0, 3.0, 5.0};

// Reference potential values (MeV) for r = 0, 0.1, 0.5, 1, 1.5, 2, 3, 5 fm;
// the r = 0 column checks the small-x limits of every helper.
struct WaveRow {
  const char *wave;
  const char *type;
  int element;  // 11, 12 or 22
  double v[8];
};
const WaveRow kWaves[] = {
    {"1S0", "PP", 11, {5059.30766, 3653.07117, 339.086729, -78.5658240, -24.5570613, -5.50664879, -0.887996077, -0.0953050753}},
    {"1S0", "NP", 11, {6164.79211, 4388.65918, 368.703056, -87.1610959, -22.5788692, -4.54988821, -1.09368652, -0.0988368730}},
    {"3P0", "PP", 11, {18029.7194, 11073.9021, 1523.18690, 80.8139435, -16.9750295, -11.1604945, -2.37914350, -0.224992725}},
    {"3P1", "PP", 11, {6296.25529, 4165.56294, 779.501106, 95.2101655, 14.3850431, 4.23047543, 1.24499951, 0.158029746}},
    {"1D2", "PP", 11, {-1346.55426, -1187.86493, -283.290836, -40.6031627, -13.1097899, -5.35783829, -0.916184367, -0.0917538553}},
    {"3C2", "PP", 11, {-2575.01977, -1309.71993, -109.003323, -26.6825748, -9.95546573, -3.08364004, -0.238257309, 0.00342910646}},
    {"3C2", "PP", 12, {0, 96.1280130, 91.4583625, 35.3960024, 15.0524025, 7.01077162, 1.79313372, 0.189199618}},
    {"3C2", "PP", 22, {15399.2714, 9697.43643, 1481.38956, 120.926626, 2.11779730, -3.56304336, -0.901379816, -0.0735549491}},
    {"3C1", "NP", 11, {5226.44505, 3752.40910, 419.338638, -47.0710370, -16.8560810, -3.90224897, -0.828473064, -0.0940683601}},
    {"3C1", "NP", 12, {0, -318.131586, -358.378736, -140.538543, -53.3155938, -22.3041291, -5.16672235, -0.521426190}},
    {"3C1", "NP", 22, {-719.203061, 445.128508, 221.341124, 15.5441709, 17.6308626, 11.5752893, 2.82344453, 0.274650009}},
};

double Element(const WaveRow &row, double r, const char *type) {
  double v11 = -1, v12 = -1, v22 = -1;
  creid93(&r, row.wave, type, &v11, &v12, &v22);
  return row.element == 11 ? v11 : row.element == 12 ? v12 : v22;
}

}  // namespace

TEST(Reid93, HelpersMatchHighPrecisionValues) {
  for (const HelperRow &row : kHelpers)
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(Helper(row.fn, row.n, kX[i]), row.v[i], 1e-10 * std::fabs(row.v[i]))
          << row.fn << "(" << row.n << ",8," << kX[i] << ")";
}

TEST(Reid93, FullPotentialMatchesReferenceValues) {
  for (const WaveRow &row : kWaves)
    for (int i = 0; i < 8; ++i) {
      const double ref = row.v[i];
      EXPECT_NEAR(Element(row, kR[i], row.type), ref, 1e-7 * std::fabs(ref) + 1e-9)
          << row.wave << " " << row.type << " v" << row.element << " r=" << kR[i];
    }
}

TEST(Reid93, PairTypesNNEqualsPPAndPNEqualsNP) {
  for (const WaveRow &row : kWaves)
    for (double r : {0.3, 1.2, 4.0}) {
      const char *same = std::string(row.type) == "PP" ? "NN" : "PN";
      EXPECT_EQ(Element(row, r, row.type), Element(row, r, same)) << row.wave << " " << same;
    }
}

TEST(Reid93, EveryWaveIsFiniteAndTendsToOnePionExchange) {
  const char *waves[] = {"1S0", "1D2", "1G4", "3P0", "3P1", "3F3", "1P1",
                         "1F3", "3D2", "3G4", "3C1", "3C2", "3C3", "3C4"};
  for (const char *w : waves)
    for (const char *type : {"PP", "NP"}) {
      for (double r : {0.0, 0.01, 0.7, 2.5}) {
        double v11, v12, v22;
        creid93(&r, w, type, &v11, &v12, &v22);
        EXPECT_TRUE(std::isfinite(v11) && std::isfinite(v12) && std::isfinite(v22)) << w << type;
        if (w[1] != 'C') {
          EXPECT_EQ(v12, 0.0);
          EXPECT_EQ(v22, 0.0);
        }
      }
      // At 10 fm only one-pion exchange survives: the unregularised central
      // Yukawa Yc and tensor Yt, weighted by the sigma.sigma and S12
      // eigenvalues of the wave, neutral pion for pp, isospin-weighted charged
      // minus neutral pion for np.
      const double r = 10.0;
      auto ope = [&](double mass, double coupling, double &yc, double &yt) {
        const double x = mass * r / 197.327053;
        const double f = coupling * std::pow(mass / 139.5675, 2) * mass / 3.0;
        yc = f * std::exp(-x) / x;
        yt = yc * (1 + 3 / x + 3 / (x * x));
      };
      double yc, yt;
      ope(134.9739, 0.075, yc, yt);
      const int S = w[0] == '1' ? 0 : 1, J = w[2] - '0';
      const int L = w[1] == 'C' ? J - 1 : (std::string(w) == "3P0" ? 1 : J);
      const int T = (S + L + 1) % 2;
      if (std::string(type) == "NP") {
        double cc, ct;
        ope(139.5675, 0.075, cc, ct);
        yc = (4 * T - 2) * cc - yc;
        yt = (4 * T - 2) * ct - yt;
      }
      double expected;
      if (S == 0)
        expected = -3 * yc;
      else if (w[1] == 'C')
        expected = yc - 2.0 * (J - 1) / (2 * J + 1) * yt;
      else if (L == J)
        expected = yc + 2 * yt;
      else
        expected = yc - 4 * yt;
      double v11, v12, v22;
      creid93(&r, w, type, &v11, &v12, &v22);
      EXPECT_NEAR(v11, expected, 0.01 * (std::fabs(yc) + 2 * std::fabs(yt))) << w << type;
    }
}

TEST(Reid93, UnknownWaveOrPairTypeIsFatal) {
  const double r = 1.0;
  double v11, v12, v22;
  ChildResult bad_wave = RunInChild([&] { creid93(&r, "3S1", "PP", &v11, &v12, &v22); });
  EXPECT_EQ(bad_wave.status, 1);
  EXPECT_NE(bad_wave.output.find("3S1"), std::string::npos) << bad_wave.output;
  ChildResult bad_type = RunInChild([&] { creid93(&r, "1S0", "pp", &v11, &v12, &v22); });
  EXPECT_EQ(bad_type.status, 1);
  EXPECT_NE(bad_type.output.find("\"pp\""), std::string::npos) << bad_type.output;
  ChildResult bad_type2 = RunInChild([&] { creid93(&r, "3P0", "XX", &v11, &v12, &v22); });
  EXPECT_EQ(bad_type2.status, 1);
  EXPECT_NE(bad_type2.output.find("XX"), std::string::npos) << bad_type2.output;
}

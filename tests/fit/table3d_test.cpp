#include "arrays/array3d.h"
#include "config/fatal.h"
#include "config/output.h"
#include "fit/table3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string Scratch(const std::string &name) { return "table3d_test_" + std::to_string(getpid()) + "_" + name; }

void Write(const std::string &file, const std::string &text) { std::ofstream(file) << text; }

struct Throwing {
  Throwing() { femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw); }
  ~Throwing() { femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit); }
};

std::string Refusal(const std::string &text) {
  const std::string file = Scratch("bad.dat");
  Write(file, text);
  std::string message;
  try {
    femtokit::ReadTable3D(file);
  } catch (const femtokit::Error &e) {
    message = e.what();
  }
  std::remove(file.c_str());
  return message;
}

}  // namespace

// Written and read back: every value, the frame and gamma_T; cells without an
// error (not measured) stay out and read back as error 0; a mixed-sign axis.
TEST(Table3D, RoundTripKeepsValuesFrameAndMissingCells) {
  Throwing policy;
  C3DArray cf(3, 5.0, 2, 4.0, 2, 6.0, false, true, true), err(3, 5.0, 2, 4.0, 2, 6.0, false, true, true);
  for (int sx = 0; sx < 2; sx++)
    for (int ix = 0; ix < 3; ix++)
      for (int iy = 0; iy < 2; iy++)
        for (int iz = 0; iz < 2; iz++) {
          cf.SetElement(sx, ix, 0, iy, 0, iz, 0.1 * (sx + 1) + 0.01 * ix + 0.001 * iy + 1e-4 * iz);
          err.SetElement(sx, ix, 0, iy, 0, iz, (ix == 0 && iy == 0) ? 0.0 : 0.02 + 1e-3 * iz);
        }
  const std::string file = Scratch("round.dat");
  femtokit::WriteTable3D(file, cf, &err, femtokit::Frame::LCMS, 1.4375, {"a comment"});
  const femtokit::Table3D t = femtokit::ReadTable3D(file);
  std::remove(file.c_str());
  EXPECT_EQ(t.frame, femtokit::Frame::LCMS);
  EXPECT_DOUBLE_EQ(t.gammaT, 1.4375);
  EXPECT_EQ(t.rows, 2 * 3 * 2 * 2 - 2 * 2);
  ASSERT_EQ(t.cf->GetNXMAX(), 3);
  EXPECT_FALSE(t.cf->GetXSYM());
  EXPECT_TRUE(t.cf->GetYSYM());
  EXPECT_DOUBLE_EQ(t.cf->GetDELX(), 5.0);
  EXPECT_DOUBLE_EQ(t.cf->GetDELZ(), 6.0);
  for (int sx = 0; sx < 2; sx++)
    for (int ix = 0; ix < 3; ix++)
      for (int iy = 0; iy < 2; iy++)
        for (int iz = 0; iz < 2; iz++) {
          EXPECT_NEAR(t.error->GetElement(sx, ix, 0, iy, 0, iz), err.GetElement(sx, ix, 0, iy, 0, iz), 1e-12);
          if (err.GetElement(sx, ix, 0, iy, 0, iz) > 0) {
            EXPECT_NEAR(t.cf->GetElement(sx, ix, 0, iy, 0, iz), cf.GetElement(sx, ix, 0, iy, 0, iz), 1e-10);
          }
        }
}

// Rows in any order, comments anywhere, a PRF table without gamma_T.
TEST(Table3D, ReadsRowsInAnyOrder) {
  Throwing policy;
  const std::string file = Scratch("order.dat");
  Write(file,
        "# my measurement\n# frame PRF\n# units MeV/c\n# binning q_out 0 20 2 q_side 0 10 1 q_long 0 10 1\n"
        "15 5 5 1.25 0.1\n# a note\n5 5 5 1.5 0.2\n");
  const femtokit::Table3D t = femtokit::ReadTable3D(file);
  std::remove(file.c_str());
  EXPECT_EQ(t.frame, femtokit::Frame::PRF);
  EXPECT_EQ(t.gammaT, 0.0);
  EXPECT_EQ(t.rows, 2);
  EXPECT_DOUBLE_EQ(t.cf->GetElement(0, 0, 0, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(t.cf->GetElement(0, 1, 0, 0, 0, 0), 0.25);
  EXPECT_DOUBLE_EQ(t.error->GetElement(0, 1, 0, 0, 0, 0), 0.1);
}

TEST(Table3D, RefusesMalformedTables) {
  Throwing policy;
  const std::string head = "# frame PRF\n# units MeV/c\n# binning q_out 0 20 2 q_side 0 10 1 q_long -10 10 2\n";
  const struct {
    std::string text, says;
  } cases[] = {
      {"# units MeV/c\n# binning q_out 0 20 2 q_side 0 10 1 q_long 0 10 1\n5 5 5 1 0.1\n", "before the header"},
      {"# frame CMS\n", "unknown frame"},
      {"# frame LCMS gamma_T 0.5\n", "below 1"},
      {"# frame PRF\n# units GeV/c\n", "units MeV/c"},
      {"# frame PRF\n# units MeV/c\n# binning q_out 0 20 2 q_side 0 10 1\n", "binning"},
      {"# frame PRF\n# units MeV/c\n# binning q_out 2 20 2 q_side 0 10 1 q_long 0 10 1\n", "neither 0"},
      {"# frame PRF\n# units MeV/c\n# binning q_out -20 20 3 q_side 0 10 1 q_long 0 10 1\n", "even"},
      {"# frame PRF\n# units MeV/c\n# binning q_side 0 20 2 q_out 0 10 1 q_long 0 10 1\n", "names q_out"},
      {head + "5 5 5 1.1\n", "needs 5 numbers"},
      {head + "5 5 5 1.1 0.1 7\n", "needs 5 numbers"},
      {head + "5 5 5 nan 0.1\n", "C"},
      {head + "5 5 5 1.1 -0.1\n", "negative"},
      {head + "6 5 5 1.1 0.1\n", "not a bin centre"},
      {head + "5 5 15 1.1 0.1\n", "not a bin centre"},
      {head + "-5 5 5 1.1 0.1\n", "not a bin centre"},
      {head + "5 5 -5 1.1 0.1\n5 5 -5 1.2 0.1\n", "second row"},
      {head + "5 5 5 1.1 0.1\n# frame PRF\n", "before the rows"},
      {head, "no rows"},
  };
  for (const auto &c : cases) {
    const std::string message = Refusal(c.text);
    EXPECT_NE(message.find(c.says), std::string::npos) << c.text << "\n-> " << message;
  }
  EXPECT_NE(Refusal("").find("no rows"), std::string::npos);
  std::string missing;
  try {
    femtokit::ReadTable3D(Scratch("absent.dat"));
  } catch (const femtokit::Error &e) {
    missing = e.what();
  }
  EXPECT_NE(missing.find("cannot open"), std::string::npos);
}

// gamma_T: m_T/m for equal masses, the same from kT and from mT; the pion
// pair at kT = 300 MeV/c; refusals.
TEST(Table3D, GammaTFromKTAndMT) {
  Throwing policy;
  const double m = 139.57039, kT = 300.0, mT = std::sqrt(kT * kT + m * m);
  EXPECT_NEAR(femtokit::GammaTFromKT(kT, m, m), mT / m, 1e-12);
  EXPECT_NEAR(femtokit::GammaTFromMT(mT, m, m), mT / m, 1e-12);
  EXPECT_DOUBLE_EQ(femtokit::GammaTFromKT(0.0, m, 2 * m), 1.0);
  EXPECT_THROW(femtokit::GammaTFromKT(-1.0, m, m), femtokit::Error);
  EXPECT_THROW(femtokit::GammaTFromKT(100.0, 0.0, m), femtokit::Error);
  EXPECT_THROW(femtokit::GammaTFromMT(100.0, m, m), femtokit::Error);  // below the mass
}

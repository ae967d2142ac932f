#include "wavefunction/partwave.h"

#include <gtest/gtest.h>

TEST(PartWave, ExtendedTablesEqualTablesBuiltThatFar) {
  // eta = 200 (protons near 0.02 MeV/c): the wave leaves the double range and the
  // scaled table is kept beside it; eta = 2: only the wave's own table.
  for (double eta : {200.0, 2.0}) {
    const double q = 0.5;
    CPartWave grown(eta, 1, q, 1, 1.0, 100, 0.01), built(eta, 1, q, 1, 1.0, 300, 0.01);
    EXPECT_EQ(grown.phiscaled.empty(), eta < 100.0);
    grown.ExtendTable(300);
    EXPECT_EQ(grown.nrmax, 300);
    EXPECT_EQ(grown.phiscaled.size(), built.phiscaled.size());
    for (double r : {0.5, 1.234, 2.0, 2.9957})
      EXPECT_EQ(grown.GetPhiIncomingScaled(r), built.GetPhiIncomingScaled(r)) << eta << " " << r;
    for (double r : {1.5, 2.9957}) EXPECT_EQ(grown.GetPhiIncoming(r), built.GetPhiIncoming(r)) << eta << " " << r;
  }
}

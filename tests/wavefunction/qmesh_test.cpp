// q meshes: only finite, strictly increasing points within the supported range
// reach the wave functions; every refusal names its file.
#include <cmath>

#include "common/badinput.h"
#include "common/child.h"
#include "wavefunction/planewave.h"
#include "wavefunction/wavefunction.h"
#include "wavefunction/wavefunction_pp.h"

using badinput::ExpectRefused;
using badinput::Guard;
using badinput::WriteText;

namespace {

struct MeshWF : CWaveFunction {
  explicit MeshWF(const std::string &pars) { ParsInit(pars); }
  const std::vector<double> &Mesh() const { return qarray; }
};

}  // namespace

TEST(QMesh, FilePointsMustBeFiniteIncreasingAndSupported) {
  Guard guard;
  const std::string dir = ScratchDir("qmesh_bad"), mesh = dir + "/qmesh.dat";
  const std::string pars = WriteText(dir + "/wf.dat", "double DELQ -1\nstring QARRAYFILENAME " + mesh + "\n");
  const std::pair<std::string, std::string> cases[] = {
      {"3\n1 nan 3\n", "line 2, column 3: q 'nan' is not a finite number"},
      {"1\ninf\n", "q 'inf' is not a finite number"},
      {"2\n1 1.5.25\n", "q '1.5.25' is not a number"},
      {"3\n1 3 2\n", "line 2, column 5: q=2 MeV/c does not exceed the point before it (3 MeV/c)"},
      {"2\n5 5\n", "q=5 MeV/c does not exceed the point before it (5 MeV/c)"},
      {"2\n-5 10\n", "q=-5 MeV/c is outside the supported range 0.01 ... 1000 MeV/c"},
      {"2\n1 1e9\n", "q=1e+09 MeV/c is outside the supported range"},  // sized a 2.4e9-entry plane-wave table
      {"1\n0.005\n", "q=0.005 MeV/c is outside the supported range"},
      {"0\n", "line 1, column 1: the point count '0' is out of range (1 ... 10000)"},
      {"-3\n1 2 3\n", "the point count '-3' is out of range"},
      {"2000000000\n1 2 3\n", "the point count '2000000000' is out of range"},
      {"300000000\n1 2 3\n", "the point count '300000000' is out of range"},
      {"4294967299\n1 2 3\n", "the point count '4294967299' is out of range"},  // no longer 3
      {"3.5\n1 2 3\n", "the point count '3.5' is not an integer"},
      {"10000\n1 2 3\n", "q-mesh file " + mesh + " holds 3 values, fewer than its count 10000"},
      {"", "q-mesh file " + mesh + " does not start with a positive count"},
  };
  for (const auto &c : cases) {
    WriteText(mesh, c.first);
    ExpectRefused([&] { MeshWF wf(pars); }, mesh, {c.second});
  }
  // The plane-wave tables of 10000 points near 1 GeV/c would take 2.4 GB.
  std::string big = "10000\n";
  for (int i = 0; i < 10000; i++) big += std::to_string(900.0 + 0.01 * i) + "\n";
  WriteText(mesh, big);
  ExpectRefused([&] { MeshWF wf(pars); }, mesh, {mesh + ": a q mesh of 10000 points up to 999.99 MeV/c (plane-wave"});
  // The range ends are supported; text after the points warns.
  WriteText(mesh, "3\n0.01 1 1000\n# end\n");
  MeshWF ok(pars);
  EXPECT_EQ(ok.Mesh(), (std::vector<double>{0.01, 1, 1000}));
  EXPECT_TRUE(guard.Printed("Warning: " + mesh + ", line 3, column 1: text after the last value is ignored"));
}

TEST(QMesh, UniformMeshSettingsNameTheParameterFile) {
  Guard guard;
  const std::string f = ScratchDir("qmesh_uniform") + "/wf.dat";
  const std::pair<std::string, std::string> cases[] = {
      {"double DELQ 0\n", "DELQ must not be 0 for a uniform q mesh"},
      {"int NQMAX 0\n", "NQMAX=0, a q mesh needs 1 ... 10000 points"},
      {"int NQMAX 20000\n", "NQMAX=20000, a q mesh needs 1 ... 10000 points"},
      {"double DELQ 0.01\n", "NQMAX=15, DELQ=0.01 give q from 0.005 to 0.145 MeV/c, outside the supported range"},
      {"double DELQ 100\nint NQMAX 11\n", "NQMAX=11, DELQ=100 give q from 50 to 1050 MeV/c"},
  };
  for (const auto &c : cases) {
    WriteText(f, c.first);
    ExpectRefused([&] { MeshWF wf(f); }, f, {"wave-function parameter file " + f + ": " + c.second});
  }
  ExpectRefused([] { CPlaneWave pw(0.1, 1, INFINITY); }, "", {"CPlaneWave: q=inf MeV/c"});
}

TEST(QMesh, ProtonPairsRefuseANaNMeshAndTheProcessEndsWithStatusOne) {
  const std::string dir = ScratchDir("qmesh_pp"), mesh = WriteText(dir + "/qmesh.dat", "3\n1 nan 3\n");
  const std::string pars = WriteText(dir + "/wf.dat", "double DELQ -1\nstring QARRAYFILENAME " + mesh + "\n");
  {
    Guard guard;
    ExpectRefused([&] { CWaveFunction_pp wf(pars); }, mesh, {mesh + ", line 2, column 3: q 'nan'"});
  }
  const ChildResult child = RunInChild([&] { CWaveFunction_pp wf(pars); });
  EXPECT_EQ(child.status, 1);
  EXPECT_NE(child.output.find(mesh + ", line 2, column 3: q 'nan' is not a finite number\n"), std::string::npos);
}

// Feed-down transformation matrices: the input is a matrix file
// T(q_daughter, q_parent); its first byte also picks the matrix type, pair
// density and momentum units of the parameter file. A matrix that reads is
// then applied to a parent correlation on its own meshes.
#include "arrays/charray.h"
#include "fit/feeddown.h"
#include "fit/qmatrix.h"
#include "fuzz_common.h"

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const uint8_t mode = size ? data[0] : 0;
  const std::string &dir = fuzz::FreshScratch();
  const std::string matrix = dir + "/matrix.dat", pars = dir + "/feeddown.dat";
  fuzz::WriteFile(matrix, size ? std::string(reinterpret_cast<const char *>(data) + 1, size - 1) : std::string());
  static const char *units[] = {"q_MeV", "qinv_MeV", "kstar_GeV", "qinv_GeV"};
  const char *unit = units[(mode >> 2) & 3];
  fuzz::WriteFile(pars, std::string("double lambdaGen 0.5\nint NRESIDUALS 2\n") +
                            "string RESIDUAL0_NAME pL\nstring RESIDUAL0_TYPE matrix\nstring RESIDUAL0_MATRIX " + matrix +
                            "\ndouble lambda_pL 0.25\nstring RESIDUAL1_NAME flat\nstring RESIDUAL1_TYPE flat\n" +
                            "string REMAINDER flat\nstring MATRIXTYPE " + ((mode & 1) ? "counts" : "conditional") +
                            "\nstring PAIRDENSITY " + ((mode & 2) ? "flat" : "phasespace") + "\nstring UNITS " + unit +
                            "\n");
  std::unique_ptr<CFeedDown> fd;
  CQMatrix t;
  if (!fuzz::Run(true, [&] {
        fd = std::make_unique<CFeedDown>(pars);
        t.Read(matrix, QMesh::MomentumUnitFactor(unit, pars),
               (mode & 1) ? CQMatrix::Type::Counts : CQMatrix::Type::Conditional, 1e-3);
      }))
    return 0;
  fuzz::Run(false, [&] {
    CCHArray parent(0, t.GetNCols(), t.GetColStep()), gen(0, t.GetNRows(), t.GetRowStep()),
        out(0, t.GetNRows(), t.GetRowStep());
    for (int j = 0; j < t.GetNCols(); ++j) parent.SetElement(0, 0, 0, j, 1.0 / (j + 1));
    fd->SetParentCorrelation("pL", &parent);
    fd->Apply(&gen, &out);
  });
  return 0;
}

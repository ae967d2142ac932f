#include "arrays/array3d.h"
#include "arrays/arraycalc_convert.h"
#include "arrays/charray.h"
#include "common/testutil.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "kernel/kernelwf.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <fstream>
#include <string>

#include "common/child.h"
#include "config/output.h"

namespace {

using testutil::kHbarc;

struct Silence {
  Silence() { femtokit::SetVerbosity(femtokit::Verbosity::Silent); }
  ~Silence() { femtokit::SetVerbosity(femtokit::Verbosity::Normal); }
};

std::string KParsWF(const std::string &dir, int nq, double dq, int nr, double dr, int nc, bool identical) {
  const std::string name = dir + "/kwf.dat";
  std::ofstream(name) << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint NCTHETA " << nc << "\ndouble DELQ "
                      << dq << "\ndouble DELR " << dr << "\nbool IDENTICAL " << identical << "\n";
  return name;
}

// Cell centre along one axis: block 1 is the mirror image.
double Centre(int is, int i, double del) { return (is ? -1 : 1) * (i + 0.5) * del; }

// Fills S with a Gaussian of one-particle radii R (separation variance 2 R^2
// per axis), normalised so that its integral over the whole mesh (both sign
// blocks of every axis) is 1. The norm is summed in one order whatever the
// symmetry flags, so symmetric and full arrays hold the same values.
void FillGaussian(C3DArray &S, const double R[3]) {
  auto g = [R](double x, double y, double z) {
    return std::exp(-x * x / (4 * R[0] * R[0]) - y * y / (4 * R[1] * R[1]) - z * z / (4 * R[2] * R[2]));
  };
  const double dx = S.GetDELX(), dy = S.GetDELY(), dz = S.GetDELZ();
  double norm = 0.0;
  for (int isx = 0; isx < 2; isx++)
    for (int ix = 0; ix < S.GetNXMAX(); ix++)
      for (int isy = 0; isy < 2; isy++)
        for (int iy = 0; iy < S.GetNYMAX(); iy++)
          for (int isz = 0; isz < 2; isz++)
            for (int iz = 0; iz < S.GetNZMAX(); iz++)
              norm += g(Centre(isx, ix, dx), Centre(isy, iy, dy), Centre(isz, iz, dz)) * dx * dy * dz;
  const int nsx = S.GetXSYM() ? 1 : 2, nsy = S.GetYSYM() ? 1 : 2, nsz = S.GetZSYM() ? 1 : 2;
  for (int isx = 0; isx < nsx; isx++)
    for (int ix = 0; ix < S.GetNXMAX(); ix++)
      for (int isy = 0; isy < nsy; isy++)
        for (int iy = 0; iy < S.GetNYMAX(); iy++)
          for (int isz = 0; isz < nsz; isz++)
            for (int iz = 0; iz < S.GetNZMAX(); iz++)
              S.SetElement(isx, ix, isy, iy, isz, iz, g(Centre(isx, ix, dx), Centre(isy, iy, dy), Centre(isz, iz, dz)) / norm);
}

// Largest |C - 1 - exp(-4 (qx^2 Rx^2 + qy^2 Ry^2 + qz^2 Rz^2)/hbarc^2)| over the stored cells of CF.
double WorstAgainstGaussian(const C3DArray &CF, const double R[3]) {
  const int nsx = CF.GetXSYM() ? 1 : 2, nsy = CF.GetYSYM() ? 1 : 2, nsz = CF.GetZSYM() ? 1 : 2;
  double worst = 0.0;
  for (int isx = 0; isx < nsx; isx++)
    for (int ix = 0; ix < CF.GetNXMAX(); ix++)
      for (int isy = 0; isy < nsy; isy++)
        for (int iy = 0; iy < CF.GetNYMAX(); iy++)
          for (int isz = 0; isz < nsz; isz++)
            for (int iz = 0; iz < CF.GetNZMAX(); iz++) {
              const double qx = Centre(isx, ix, CF.GetDELX()), qy = Centre(isy, iy, CF.GetDELY()),
                           qz = Centre(isz, iz, CF.GetDELZ());
              const double exact =
                  1.0 + std::exp(-4 * (qx * qx * R[0] * R[0] + qy * qy * R[1] * R[1] + qz * qz * R[2] * R[2]) /
                                 (kHbarc * kHbarc));
              worst = std::fmax(worst, std::fabs(CF.GetElement(isx, ix, isy, iy, isz, iz) - exact));
            }
  return worst;
}

}  // namespace

TEST(S2CF3D, OneSourceCellAndItsMirrorImages) {
  Silence quiet;
  CKernelWF k(KParsWF(ScratchDir("s2c3d_one"), 12, 5.0, 30, 0.5, 40, false));
  for (int iq = 0; iq < 12; iq++)
    for (int ir = 0; ir < 30; ir++)
      for (int ic = 0; ic <= 40; ic++) k.Value(iq, ir, ic) = 0.3 * std::sin(0.1 * iq * (ir + 1)) * (1 - 0.05 * ic);
  // One cell at negative x on a non-symmetric source; then the same cell
  // stored on an x-symmetric source, which stands for the cells at +x and -x.
  for (bool xsym : {false, true}) {
    C3DArray S(6, 1.0, 6, 1.5, 6, 2.0, xsym, false, false), CF(3, 6.0, 3, 6.0, 3, 6.0, false, false, false);
    const double s = 0.7, v = 1.0 * 1.5 * 2.0;
    S.SetElement(xsym ? 0 : 1, 2, 0, 1, 1, 3, s);
    S2CF::s2c(&S, &k, &CF);
    for (int isx = 0; isx < 2; isx++)
      for (int iq = 0; iq < 27; iq++) {
        const double qx = Centre(isx, iq / 9, 6.0), qy = Centre(1, iq / 3 % 3, 6.0), qz = Centre(0, iq % 3, 6.0);
        const double q = std::sqrt(qx * qx + qy * qy + qz * qz);
        double expect = 0.0;
        for (double x : {-2.5, 2.5}) {
          if (!xsym && x > 0) continue;
          const double y = 1.5 * 1.5, z = -2.0 * 3.5, r = std::sqrt(x * x + y * y + z * z);
          expect += s * v * k.GetPsiSquared(q, r, (x * qx + y * qy + z * qz) / (r * q));
        }
        ASSERT_NEAR(CF.GetElement(isx, iq / 9, 1, iq / 3 % 3, 0, iq % 3), expect, 1e-13) << xsym << " " << iq;
      }
  }
}

TEST(S2CF3D, GaussianSourceGivesTheFreeBosonCorrelation) {
  Silence quiet;
  const double R[3] = {2.5, 3.0, 3.5};
  const std::string dir = ScratchDir("s2c3d_gauss");
  // Fine kernel tables: the linear interpolation of cos(2 q.r/hbarc) is the
  // error (2e-4 at most here).
  CKernelWF id(KParsWF(dir, 75, 1.0, 200, 0.2, 100, true));
  id.Calc_PureHBT();

  // With all three symmetries. The source is held once with its symmetries and
  // once without: the two visit the same cells with the same values, so their
  // correlation functions agree to the last bit.
  C3DArray Ssym(22, 1.0, true, true, true), Sfull(22, 1.0, false, false, false);
  FillGaussian(Ssym, R);
  FillGaussian(Sfull, R);
  C3DArray CF(5, 8.0, true, true, true), CFfull(5, 8.0, true, true, true);
  S2CF::s2c(&Ssym, &id, &CF);
  EXPECT_LT(WorstAgainstGaussian(CF, R), 5e-4);
  omp_set_num_threads(1);  // nor does the thread count change a bit
  S2CF::s2c(&Sfull, &id, &CFfull);
  omp_set_num_threads(omp_get_num_procs());
  for (int ix = 0; ix < 5; ix++)
    for (int iy = 0; iy < 5; iy++)
      for (int iz = 0; iz < 5; iz++) ASSERT_EQ(CF.GetElement(0, ix, 0, iy, 0, iz), CFfull.GetElement(0, ix, 0, iy, 0, iz));
  // Bosons at q = (20, 20, 20) MeV/c (cell (2, 2, 2) of 8 MeV/c cells): C = 1.33, not the 0.73
  // of a symmetric source whose mirror cells are taken at the stored cell's cos theta.
  EXPECT_NEAR(CF.GetElement(0, 2, 0, 2, 0, 2), 1.0 + std::exp(-4 * 400 * (6.25 + 9 + 12.25) / (kHbarc * kHbarc)),
              1e-3);

  // Without symmetries, through a kernel that stores the whole cos theta range.
  CKernelWF full(KParsWF(dir, 75, 1.0, 200, 0.2, 200, false));
  full.Calc_PureHBT();
  C3DArray Scoarse(15, 1.5, false, false, false), CFnosym(3, 10.0, false, false, false);
  FillGaussian(Scoarse, R);
  S2CF::s2c(&Scoarse, &full, &CFnosym);
  EXPECT_LT(WorstAgainstGaussian(CFnosym, R), 5e-4);
}

TEST(S2CF3D, AgreesWithTheHarmonicPath) {
  Silence quiet;
  const double R[3] = {2.5, 3.0, 3.5};
  const std::string dir = ScratchDir("s2c3d_harm");
  CKernelWF kwf(KParsWF(dir, 75, 1.0, 200, 0.2, 100, true));
  kwf.Calc_PureHBT();
  C3DArray S(22, 1.0, true, true, true), CF(5, 8.0, true, true, true);
  FillGaussian(S, R);
  S2CF::s2c(&S, &kwf, &CF);

  // Harmonic path: the Gaussian's exponent as a product-form X expansion, its
  // exponential (exact harmonics), the Legendre kernel of free bosons, the
  // transform of each component and the expansion evaluated at the cell centres.
  const int L = 8, nr = 130, nq = 75;
  const double dr = 0.2, dq = 1.0;
  CCHArray X(L, nr, dr, true, true, true), A(L, nr, dr, true, true, true), C(L, nq, dq, true, true, true);
  // The isotropic part of the exponent goes into X(0,0,0), so the series only
  // sums the anisotropy (at most 7 at the 26 fm reach).
  const double a[3] = {1 / (4 * R[0] * R[0]), 1 / (4 * R[1] * R[1]), 1 / (4 * R[2] * R[2])};
  const double abar = (a[0] + a[1] + a[2]) / 3;
  const double lnN = -1.5 * std::log(4 * M_PI) - std::log(R[0] * R[1] * R[2]);
  for (int ir = 0; ir < nr; ir++) {
    const double r = (ir + 0.5) * dr;
    X.SetElement(0, 0, 0, ir, lnN - r * r * abar);
    X.SetElement(2, 0, 0, ir, -r * r * (a[0] - abar));
    X.SetElement(0, 2, 0, ir, -r * r * (a[1] - abar));
    X.SetElement(0, 0, 2, ir, -r * r * (a[2] - abar));
  }
  ArrayCalc::CalcAExpArrayFromXExpArray(&X, &A);
  std::ofstream(dir + "/k.dat") << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX " << L
                                << "\ndouble DELQ " << dq << "\ndouble DELR " << dr << "\nbool IDENTICAL 1\n";
  CKernel kernel(dir + "/k.dat");
  kernel.Calc_PureHBT();
  S2CF::s2c(&A, &kernel, &C);
  C.FillRemainderX();
  C3DArray Charm(5, 8.0, true, true, true);
  ArrayCalc::Calc3DArrayFromAExpArray(&C, &Charm);
  double worst = 0.0;
  for (int ix = 0; ix < 5; ix++)
    for (int iy = 0; iy < 5; iy++)
      for (int iz = 0; iz < 5; iz++)
        worst = std::fmax(worst, std::fabs(CF.GetElement(0, ix, 0, iy, 0, iz) - 1.0 - Charm.GetElement(0, ix, 0, iy, 0, iz)));
  EXPECT_LT(worst, 5e-4);
}

// Transform of a source on a 3D mesh through the tabulated kernel
// K(q, r, cos theta) into a correlation function on another 3D mesh.

#include "fit/s2cf.h"

#include <cmath>
#include <vector>

#include "arrays/array3d.h"
#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernelwf.h"

namespace S2CF {

namespace {

// A visited source cell: its centre, 1/r, its r weights and S times the cell volume.
struct SourceCell {
  double x, y, z, invr;
  int ira;
  double wr;
  double sv;
};

// Centre coordinate of cell i in sign block is (block 1 is the mirror image).
double Centre(int is, int i, double del) { return is == 0 ? (i + 0.5) * del : -(i + 0.5) * del; }

}  // namespace

void s2c(C3DArray *S, CKernelWF *kernel, C3DArray *CF) {
  const int nx = S->GetNXMAX(), ny = S->GetNYMAX(), nz = S->GetNZMAX();
  const double dx = S->GetDELX(), dy = S->GetDELY(), dz = S->GetDELZ();
  const int nqx = CF->GetNXMAX(), nqy = CF->GetNYMAX(), nqz = CF->GetNZMAX();
  const double dqx = CF->GetDELX(), dqy = CF->GetDELY(), dqz = CF->GetDELZ();
  const bool sx = S->GetXSYM(), sy = S->GetYSYM(), sz = S->GetZSYM();
  // The cell volume is that of one cell: a symmetric axis is covered by
  // visiting its mirror block explicitly.
  const double v = dx * dy * dz;

  CF->ZeroArray();
  femtokit::Print("beginning big loop in s2c\n");
  femtokit::Print("nsxyz=(%d,%d,%d), nxyzmax=(%d,%d,%d), nqxyzmax=(%d,%d,%d)\n", sx ? 1 : 2, sy ? 1 : 2, sz ? 1 : 2,
                  nx, ny, nz, nqx, nqy, nqz);

  // Source cells in the order isx, ix, isy, iy, isz, iz, over both sign
  // blocks of every axis; empty cells add nothing and are left out.
  std::vector<SourceCell> cells;
  for (int isx = 0; isx < 2; isx++)
    for (int ix = 0; ix < nx; ix++)
      for (int isy = 0; isy < 2; isy++)
        for (int iy = 0; iy < ny; iy++)
          for (int isz = 0; isz < 2; isz++)
            for (int iz = 0; iz < nz; iz++) {
              const double s = S->GetElement(sx ? 0 : isx, ix, sy ? 0 : isy, iy, sz ? 0 : isz, iz);
              if (s == 0.0) continue;
              SourceCell c;
              c.x = Centre(isx, ix, dx);
              c.y = Centre(isy, iy, dy);
              c.z = Centre(isz, iz, dz);
              const double r = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
              c.invr = 1.0 / r;
              CKernelWF::AxisWeights(r, kernel->GetDELR(), kernel->GetNRMAX(), c.ira, c.wr);
              c.sv = s * v;
              cells.push_back(c);
            }

  // Stored CF cells, in storage order.
  const int nsqx = CF->GetXSYM() ? 1 : 2, nsqy = CF->GetYSYM() ? 1 : 2, nsqz = CF->GetZSYM() ? 1 : 2;
  struct QCell {
    int isx, ix, isy, iy, isz, iz;
  };
  std::vector<QCell> qcells;
  for (int isx = 0; isx < nsqx; isx++)
    for (int ix = 0; ix < nqx; ix++)
      for (int isy = 0; isy < nsqy; isy++)
        for (int iy = 0; iy < nqy; iy++)
          for (int isz = 0; isz < nsqz; isz++)
            for (int iz = 0; iz < nqz; iz++) qcells.push_back({isx, ix, isy, iy, isz, iz});

  const CKernelWF &k = *kernel;
  const long nq = static_cast<long>(qcells.size());
  const SourceCell *cell = cells.data();
  const std::size_t ncells = cells.size();
#pragma omp parallel for schedule(dynamic, 4)
  for (long i = 0; i < nq; i++) {
    const QCell &Q = qcells[static_cast<std::size_t>(i)];
    const double qx = Centre(Q.isx, Q.ix, dqx), qy = Centre(Q.isy, Q.iy, dqy), qz = Centre(Q.isz, Q.iz, dqz);
    const double q = std::sqrt(qx * qx + qy * qy + qz * qz);
    const double invq = 1.0 / q;
    int iqa;
    double wq;
    CKernelWF::AxisWeights(q, k.GetDELQ(), k.GetNQMAX(), iqa, wq);
    const double ux = qx * invq, uy = qy * invq, uz = qz * invq;
    double sum = 0.0;
    for (std::size_t j = 0; j < ncells; j++) {
      const SourceCell &c = cell[j];
      const double ctheta = (c.x * ux + c.y * uy + c.z * uz) * c.invr;
      int ic;
      double wc;
      k.CosWeights(ctheta, ic, wc);
      sum += c.sv * k.Interpolate(iqa, wq, c.ira, c.wr, ic, wc);
    }
    CF->SetElement(Q.isx, Q.ix, Q.isy, Q.iy, Q.isz, Q.iz, sum);
  }
  femtokit::Print("ending big loop in s2c\n");
}

}  // namespace S2CF

#include "arrays/array3d.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "config/fatal.h"
#include "config/fileio.h"
#include "config/internal/directorywriter.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "math/random.h"

std::unique_ptr<CRandom> C3DArray::randy;

namespace {
// Guards the shared generator's creation and every fill that draws from it.
std::mutex array3d_random_mutex;
}  // namespace

CRandom &C3DArray::Random() {
  if (!randy) randy = std::make_unique<CRandom>(-1234);
  return *randy;
}

C3DArray::C3DArray(int NXMAXset, double DELXset, int NYMAXset, double DELYset, int NZMAXset, double DELZset,
                   bool XSYMset, bool YSYMset, bool ZSYMset)
    : XSYM(XSYMset),
      YSYM(YSYMset),
      ZSYM(ZSYMset),
      DELX(DELXset),
      DELY(DELYset),
      DELZ(DELZset),
      NXMAX(NXMAXset),
      NYMAX(NYMAXset),
      NZMAX(NZMAXset) {
  CreateArray();
}

C3DArray::C3DArray(int NXYZMAX, double DELXYZ, bool XSYMset, bool YSYMset, bool ZSYMset)
    : C3DArray(NXYZMAX, DELXYZ, NXYZMAX, DELXYZ, NXYZMAX, DELXYZ, XSYMset, YSYMset, ZSYMset) {}

C3DArray::C3DArray(const char *arrayparsfilename)
    : XSYM(true),
      YSYM(true),
      ZSYM(true),
      DELX(1.0),
      DELY(1.0),
      DELZ(1.0),
      NXMAX(20),
      NYMAX(20),
      NZMAX(20) {
  ReadPars(arrayparsfilename);
  CreateArray(arrayparsfilename);
}

C3DArray::~C3DArray() { DeleteArray(); }

namespace {
// Cells the storage holds (both sign blocks of a non-symmetric axis), in 64
// bits and saturated. An empty axis counts as one: it does not make the
// others free, as loops still run over them.
std::uint64_t StoredCells(bool xsym, int nx, bool ysym, int ny, bool zsym, int nz) {
  std::uint64_t total = 1;
  for (int factor : {xsym ? 1 : 2, nx, ysym ? 1 : 2, ny, zsym ? 1 : 2, nz})
    total = femtokit::SaturatingProduct(total, std::uint64_t(factor > 0 ? factor : 1));
  return total;
}
}  // namespace

void C3DArray::CreateArray() { CreateArray(std::string()); }

void C3DArray::CreateArray(const std::string &file) {
  const std::string from = file.empty() ? std::string() : " from " + file;
  if (!(std::isfinite(DELX) && DELX > 0.0 && std::isfinite(DELY) && DELY > 0.0 && std::isfinite(DELZ) && DELZ > 0.0))
    femtokit::FatalFile(file, "C3DArray%s: cell widths DELXYZ=(%g,%g,%g) must be finite and positive\n", from.c_str(),
                        DELX, DELY, DELZ);
  if (NXMAX < 0 || NYMAX < 0 || NZMAX < 0)
    femtokit::FatalFile(file, "C3DArray%s: cell counts NXYZMAX=(%d,%d,%d) must not be negative\n", from.c_str(), NXMAX,
                        NYMAX, NZMAX);
  const int sx = XSYM ? 1 : 2, sy = YSYM ? 1 : 2, sz = ZSYM ? 1 : 2;
  const int cx = NXMAX, cy = NYMAX, cz = NZMAX;
  const std::uint64_t total = StoredCells(XSYM, NXMAX, YSYM, NYMAX, ZSYM, NZMAX);
  femtokit::CheckTableSize(file,
                           femtokit::Format("C3DArray%s: NXYZMAX=(%d,%d,%d), XYZSYM=(%d,%d,%d)", from.c_str(), NXMAX,
                                            NYMAX, NZMAX, int(XSYM), int(YSYM), int(ZSYM)),
                           total, sizeof(double));
  array.assign(static_cast<std::size_t>(total), 0.0);
  nsx = sx;
  nsy = sy;
  nsz = sz;
  nx = cx;
  ny = cy;
  nz = cz;
}

void C3DArray::DeleteArray() {
  std::vector<double>().swap(array);
  nsx = nx = nsy = ny = nsz = nz = 0;
}

void C3DArray::ReadPars(const char *filename) {
  parameterMap pars;
  parameter::ReadParsFromFile(pars, filename);
  if (parameter::getB(pars, "IDENTICAL", false)) {
    parameter::set(pars, "XSYM", 1);
    parameter::set(pars, "YSYM", 1);
    parameter::set(pars, "ZSYM", 1);
  }
  // Everything is checked before any field changes.
  double dx = DELX, dy = DELY, dz = DELZ;
  const double delxyz = parameter::getD(pars, "DELXYZ", 0.0);
  if (delxyz > 1.0E-10) dx = dy = dz = delxyz;
  int nxmax = parameter::getI(pars, "NXMAX", NXMAX);
  int nymax = parameter::getI(pars, "NYMAX", NYMAX);
  int nzmax = parameter::getI(pars, "NZMAX", NZMAX);
  dx = parameter::getD(pars, "DELX", dx);
  dy = parameter::getD(pars, "DELY", dy);
  dz = parameter::getD(pars, "DELZ", dz);
  const bool xsym = parameter::getI(pars, "XSYM", XSYM) != 0;
  const bool ysym = parameter::getI(pars, "YSYM", YSYM) != 0;
  const bool zsym = parameter::getI(pars, "ZSYM", ZSYM) != 0;
  const int nxyzmax = parameter::getI(pars, "NXYZMAX", 0);
  if (nxyzmax != 0) nxmax = nymax = nzmax = nxyzmax;
  const char *keys[3][2] = {{"NXMAX", "DELX"}, {"NYMAX", "DELY"}, {"NZMAX", "DELZ"}};
  const int counts[3] = {nxmax, nymax, nzmax};
  const double widths[3] = {dx, dy, dz};
  for (int axis = 0; axis < 3; axis++) {
    if (counts[axis] < 0)
      femtokit::FatalFile(filename, "3D array parameter file %s: %s=%d must not be negative\n", filename,
                          keys[axis][0], counts[axis]);
    // A width that is not finite and positive would put positions in cells of negative index.
    if (!(std::isfinite(widths[axis]) && widths[axis] > 0.0))
      femtokit::FatalFile(filename, "3D array parameter file %s: %s=%g must be finite and positive\n", filename,
                          keys[axis][1], widths[axis]);
  }
  const std::uint64_t total = StoredCells(xsym, nxmax, ysym, nymax, zsym, nzmax);
  femtokit::CheckTableSize(filename,
                           femtokit::Format("3D array parameter file %s: NXYZMAX=(%d,%d,%d), XYZSYM=(%d,%d,%d)",
                                            filename, nxmax, nymax, nzmax, int(xsym), int(ysym), int(zsym)),
                           total, sizeof(double));
  XSYM = xsym;
  YSYM = ysym;
  ZSYM = zsym;
  NXMAX = nxmax;
  NYMAX = nymax;
  NZMAX = nzmax;
  DELX = dx;
  DELY = dy;
  DELZ = dz;
  PrintPars();
}

void C3DArray::PrintPars() {
  femtokit::Print("_______ 3DArray Pars ________\n");
  femtokit::Print("XYZSYM=(%d,%d,%d)\n", int(XSYM), int(YSYM), int(ZSYM));
  femtokit::Print("NXYZMAX=(%d,%d,%d)\n", NXMAX, NYMAX, NZMAX);
  femtokit::Print("DELXYZ=(%g,%g,%g)\n", DELX, DELY, DELZ);
  femtokit::Print("_____________________________\n");
}

namespace {

// True for names of the form "ix<digits>_iy<digits>.tmp".
bool IsColumnFileName(const std::string &name) {
  size_t pos = 0;
  auto digits = [&]() {
    const size_t start = pos;
    while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') ++pos;
    return pos > start;
  };
  auto literal = [&](const char *text) {
    const std::string t(text);
    if (name.compare(pos, t.size(), t) != 0) return false;
    pos += t.size();
    return true;
  };
  return literal("ix") && digits() && literal("_iy") && digits() && literal(".tmp") && pos == name.size();
}

std::string ColumnFileName(const std::string &dir, int ix, int iy) {
  return dir + "/ix" + std::to_string(ix) + "_iy" + std::to_string(iy) + ".tmp";
}

using femtokit::FilePtr;

}  // namespace

void C3DArray::WriteArray(const char *dirname) {
  const std::string dir(dirname);
  // Column files of an earlier, larger array are not carried into the new
  // directory; other files sharing it are.
  femtokit::DirectoryWriter writer(dir, [](const std::string &name) {
    return IsColumnFileName(name) || name == "3Darraypars.dat" || femtokit::MatchesNumbered(name, "ix#_iy#.tmp.partial") ||
           name == "3Darraypars.dat.partial";
  });

  // The files describe the storage as allocated.
  for (int ix = 0; ix < nx; ix++) {
    for (int iy = 0; iy < ny; iy++) {
      const std::string filename = ColumnFileName(dir, ix, iy);
      FilePtr fp = writer.Open(filename);
      for (int iz = 0; iz < nz; iz++) {
        for (int isz = 0; isz < nsz; isz++)
          for (int isy = 0; isy < nsy; isy++)
            for (int isx = 0; isx < nsx; isx++) fprintf(fp.get(), "%17.10e ", GetElement(isx, ix, isy, iy, isz, iz));
        fprintf(fp.get(), "\n");
      }
      writer.Close(std::move(fp), filename);
    }
  }
  const std::string parsname = dir + "/3Darraypars.dat";
  {
    FilePtr fp = writer.Open(parsname);
    fprintf(fp.get(), "bool XSYM %d\n", int(nsx == 1));
    fprintf(fp.get(), "bool YSYM %d\n", int(nsy == 1));
    fprintf(fp.get(), "bool ZSYM %d\n", int(nsz == 1));
    fprintf(fp.get(), "int NXMAX %d\n", nx);
    fprintf(fp.get(), "int NYMAX %d\n", ny);
    fprintf(fp.get(), "int NZMAX %d\n", nz);
    fprintf(fp.get(), "double DELX %s\n", parameter::ExactText(DELX).c_str());
    fprintf(fp.get(), "double DELY %s\n", parameter::ExactText(DELY).c_str());
    fprintf(fp.get(), "double DELZ %s\n", parameter::ExactText(DELZ).c_str());
    writer.Close(std::move(fp), parsname);
  }

  writer.Commit();
}

void C3DArray::ReadArray(const char *dirname) {
  const std::string dir(dirname);
  const bool oldXSYM = XSYM, oldYSYM = YSYM, oldZSYM = ZSYM;
  const int oldNX = NXMAX, oldNY = NYMAX, oldNZ = NZMAX;
  const double oldDX = DELX, oldDY = DELY, oldDZ = DELZ;

  ReadPars(dir + "/3Darraypars.dat");

  const bool changed = XSYM != oldXSYM || YSYM != oldYSYM || ZSYM != oldZSYM || NXMAX != oldNX ||
                       NYMAX != oldNY || NZMAX != oldNZ || std::fabs(DELX - oldDX) > 1.0E-10 ||
                       std::fabs(DELY - oldDY) > 1.0E-10 || std::fabs(DELZ - oldDZ) > 1.0E-10;
  // Storage left in an older shape by a bare ReadPars is also rebuilt.
  const bool stale = nsx != (XSYM ? 1 : 2) || nsy != (YSYM ? 1 : 2) || nsz != (ZSYM ? 1 : 2) ||
                     nx != NXMAX || ny != NYMAX || nz != NZMAX;
  if (changed || stale) {
    femtokit::Warn("Warning: In ReadArray parameters have changed, new array being created\n");
    DeleteArray();
    CreateArray(dir + "/3Darraypars.dat");
  }

  for (int ix = 0; ix < nx; ix++) {
    for (int iy = 0; iy < ny; iy++) {
      const std::string filename = ColumnFileName(dir, ix, iy);
      femtokit::NumberReader in(filename);
      if (!in.IsOpen()) femtokit::FatalFile(filename, "Cannot open 3D array data file %s\n", filename.c_str());
      for (int iz = 0; iz < nz; iz++) {
        for (int isz = 0; isz < nsz; isz++)
          for (int isy = 0; isy < nsy; isy++)
            for (int isx = 0; isx < nsx; isx++) {
              double value;
              if (!in.Next(value, "value"))
                femtokit::FatalFile(filename, "3D array data file %s holds fewer values than expected\n",
                                    filename.c_str());
              SetElement(isx, ix, isy, iy, isz, iz, value);
            }
      }
      in.WarnIfTrailing();
    }
  }
}

bool C3DArray::CellOf(double x, double y, double z, double negtol, std::size_t &index) const {
  const double fx = std::floor(std::fabs(x) / DELX);
  const double fy = std::floor(std::fabs(y) / DELY);
  const double fz = std::floor(std::fabs(z) / DELZ);
  // Written as negated comparisons so that NaN counts as outside; a cell
  // index is never negative, whatever the widths.
  if (!(fx >= 0.0 && fx < nx) || !(fy >= 0.0 && fy < ny) || !(fz >= 0.0 && fz < nz)) return false;
  const int isx = (nsx == 2 && x < -negtol) ? 1 : 0;
  const int isy = (nsy == 2 && y < -negtol) ? 1 : 0;
  const int isz = (nsz == 2 && z < -negtol) ? 1 : 0;
  index = Index(isx, int(fx), isy, int(fy), isz, int(fz));
  return true;
}

double C3DArray::GetElement(double x, double y, double z) const {
  std::size_t index;
  return CellOf(x, y, z, 1.0E-10, index) ? array[index] : 0.0;
}

void C3DArray::SetElement(double x, double y, double z, double value) {
  std::size_t index;
  if (CellOf(x, y, z, 1.0E-15, index)) array[index] = value;
}

void C3DArray::IncrementElement(double x, double y, double z, double value) {
  std::size_t index;
  if (CellOf(x, y, z, 1.0E-15, index)) array[index] += value;
}

namespace {

// The two neighbouring cell centres along one axis and their weights.
struct AxisNeighbours {
  int blockLow, cellLow, blockHigh, cellHigh;
  double wLow, wHigh;
};

bool Neighbours(double x, double del, int ncells, int nblocks, AxisNeighbours &nb) {
  const double ax = std::fabs(x);
  if (ncells <= 0 || !(ax < (ncells + 0.5) * del)) return false;
  int high = int(std::floor(ax / del + 0.5));
  if (high > ncells) high = ncells;  // rounding right at the outer limit
  const int s = (nblocks == 2 && x < 1.0E-10) ? 1 : 0;
  nb.wLow = ((high + 0.5) * del - ax) / del;
  nb.wHigh = 1.0 - nb.wLow;
  nb.blockLow = nb.blockHigh = s;
  nb.cellLow = high - 1;
  nb.cellHigh = high;
  if (nb.cellLow < 0) {
    // Below the first centre: pair cell 0 with its mirror across the origin.
    nb.cellLow = 0;
    if (nblocks == 2) nb.blockLow = 1 - s;
  }
  if (nb.cellHigh == ncells) nb.cellHigh = ncells - 1;
  return true;
}

}  // namespace

double C3DArray::GetElement_Interpolate(double x, double y, double z) const {
  AxisNeighbours nx_, ny_, nz_;
  if (!Neighbours(x, DELX, nx, nsx, nx_) || !Neighbours(y, DELY, ny, nsy, ny_) ||
      !Neighbours(z, DELZ, nz, nsz, nz_))
    return 0.0;
  const int bx[2] = {nx_.blockLow, nx_.blockHigh}, cx[2] = {nx_.cellLow, nx_.cellHigh};
  const int by[2] = {ny_.blockLow, ny_.blockHigh}, cy[2] = {ny_.cellLow, ny_.cellHigh};
  const int bz[2] = {nz_.blockLow, nz_.blockHigh}, cz[2] = {nz_.cellLow, nz_.cellHigh};
  const double wx[2] = {nx_.wLow, nx_.wHigh}, wy[2] = {ny_.wLow, ny_.wHigh}, wz[2] = {nz_.wLow, nz_.wHigh};
  double sum = 0.0;
  for (int a = 0; a < 2; a++)
    for (int b = 0; b < 2; b++)
      for (int c = 0; c < 2; c++)
        sum += wx[a] * wy[b] * wz[c] * GetElement(bx[a], cx[a], by[b], cy[b], bz[c], cz[c]);
  return sum;
}

void C3DArray::ZeroArray() { MakeConstant(0.0); }

void C3DArray::MakeConstant(double c) {
  for (double &v : array) v = c;
}

void C3DArray::ScaleArray(double factor) {
  for (double &v : array) v *= factor;
}

double C3DArray::GetBiggest() const {
  double biggest = 0.0;
  for (double v : array)
    if (std::fabs(v) > std::fabs(biggest)) biggest = v;
  return biggest;
}

void C3DArray::RandomFill(bool gaussian) {
  std::lock_guard<std::mutex> lock(array3d_random_mutex);
  CRandom &random = Random();
  for (int isx = 0; isx < nsx; isx++)
    for (int ix = 0; ix < nx; ix++)
      for (int isy = 0; isy < nsy; isy++)
        for (int iy = 0; iy < ny; iy++)
          for (int iz = 0; iz < nz; iz++)
            for (int isz = 0; isz < nsz; isz++)
              SetElement(isx, ix, isy, iy, isz, iz, gaussian ? random.gauss() : random.ran());
}

void C3DArray::Randomize() { RandomFill(false); }

void C3DArray::Randomize_Gaussian() { RandomFill(true); }

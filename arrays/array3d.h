#ifndef FEMTOKIT_ARRAYS_ARRAY3D_H
#define FEMTOKIT_ARRAYS_ARRAY3D_H

#include <array>
#include <cassert>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CRandom;

// Real function f(x, y, z) on a regular Cartesian mesh of cells. Each axis has
// NXMAX cells of width DELX per half-axis; a symmetric axis (f(-x) = f(x))
// stores one sign block (isx = 0), a non-symmetric one two blocks (isx = 0 for
// x >= 0, isx = 1 for x < 0, cell ix centred at -(ix + 0.5)*DELX).
//
// Values live in one contiguous block indexed [isx][ix][isy][iy][isz][iz]
// (iz innermost). The block remembers the shape it was allocated with, so
// storage is always released and traversed by that shape even when ReadPars
// has changed the fields in between.
class C3DArray {
 public:
  C3DArray(int NXMAX, double DELX, int NYMAX, double DELY, int NZMAX, double DELZ, bool XSYM, bool YSYM,
           bool ZSYM);
  C3DArray(int NXYZMAX, double DELXYZ, bool XSYM, bool YSYM, bool ZSYM);
  explicit C3DArray(const char *arrayparsfilename);
  explicit C3DArray(const std::string &arrayparsfilename) : C3DArray(arrayparsfilename.c_str()) {}
  ~C3DArray();

  // Allocate (zero-filled) storage for the current fields / release it.
  // Fatal when a width is not finite and positive or the storage would exceed
  // the memory budget (config/numberreader.h); the file form names the file.
  void CreateArray();
  void CreateArray(const std::string &file);
  void DeleteArray();

  // Reads the fields from a parameter file and prints them; leaves the storage
  // alone. Fatal, naming the file and key, for a negative count, a width that
  // is not finite and positive, or a shape beyond the memory budget; the
  // fields are unchanged then.
  void ReadPars(const char *filename);
  void ReadPars(const std::string &filename) { ReadPars(filename.c_str()); }
  void PrintPars();

  // Directory of "3Darraypars.dat" plus one "ix%d_iy%d.tmp" file per column.
  // WriteArray replaces them in one step (the new set is built beside the old
  // one and swapped in; other files are kept): an error or a kill at any
  // instant leaves the old set or the new one, never a mix.
  void WriteArray(const char *dirname);
  void WriteArray(const std::string &dirname) { WriteArray(dirname.c_str()); }
  void ReadArray(const char *dirname);
  void ReadArray(const std::string &dirname) { ReadArray(dirname.c_str()); }

  bool GetXSYM() const { return XSYM; }
  bool GetYSYM() const { return YSYM; }
  bool GetZSYM() const { return ZSYM; }
  int GetNXMAX() const { return NXMAX; }
  int GetNYMAX() const { return NYMAX; }
  int GetNZMAX() const { return NZMAX; }
  double GetDELX() const { return DELX; }
  double GetDELY() const { return DELY; }
  double GetDELZ() const { return DELZ; }

  // Elements by index. The caller keeps indices in range; debug builds assert it.
  double GetElement(int isx, int ix, int isy, int iy, int isz, int iz) const {
    return array[Index(isx, ix, isy, iy, isz, iz)];
  }
  void SetElement(int isx, int ix, int isy, int iy, int isz, int iz, double value) {
    array[Index(isx, ix, isy, iy, isz, iz)] = value;
  }
  void IncrementElement(int isx, int ix, int isy, int iy, int isz, int iz, double value) {
    array[Index(isx, ix, isy, iy, isz, iz)] += value;
  }

  // Elements by position: the cell holding (x, y, z); outside the mesh reads
  // give 0.0 and writes do nothing.
  double GetElement(double x, double y, double z) const;
  void SetElement(double x, double y, double z, double value);
  void IncrementElement(double x, double y, double z, double value);
  // Trilinear interpolation between cell centres; 0.0 beyond half a cell past the mesh.
  double GetElement_Interpolate(double x, double y, double z) const;

  // The storage block itself, for bindings and bulk copies: the values in
  // the order [isx][ix][isy][iy][isz][iz] of the allocated shape (sign
  // blocks and cells per axis: nsx, nx, nsy, ny, nsz, nz). Reallocated by
  // CreateArray, DeleteArray and a ReadArray that changes the shape.
  double *Data() { return array.data(); }
  const double *Data() const { return array.data(); }
  std::array<int, 6> AllocatedShape() const { return {nsx, nx, nsy, ny, nsz, nz}; }

  void ZeroArray();
  void MakeConstant(double c);
  void ScaleArray(double factor);
  // Stored value of largest magnitude, with its sign (first visited wins ties).
  double GetBiggest() const;
  // Uniform / unit-Gaussian deviates from the generator shared by all 3D
  // arrays; a fill holds a process-wide lock, so fills from several threads
  // are safe (their order decides which numbers each gets).
  void Randomize();
  void Randomize_Gaussian();

 private:
  // Fills every stored value with a uniform or unit-Gaussian deviate, in the draw order of the random fills.
  void RandomFill(bool gaussian);
  bool XSYM, YSYM, ZSYM;
  double DELX, DELY, DELZ;
  int NXMAX, NYMAX, NZMAX;
  std::vector<double> array;

  // Shape of the allocated block: sign blocks and cells per axis.
  int nsx = 0, nx = 0, nsy = 0, ny = 0, nsz = 0, nz = 0;

  // Created with seed -1234 on the first random fill of any 3D array.
  static std::unique_ptr<CRandom> randy;
  static CRandom &Random();

  std::size_t Index(int isx, int ix, int isy, int iy, int isz, int iz) const {
    assert(isx >= 0 && isx < nsx && ix >= 0 && ix < nx && isy >= 0 && isy < nsy && iy >= 0 && iy < ny &&
           isz >= 0 && isz < nsz && iz >= 0 && iz < nz);
    const std::size_t bx = static_cast<std::size_t>(isx) * nx + ix;
    const std::size_t by = (bx * nsy + isy) * ny + iy;
    return (by * nsz + isz) * nz + iz;
  }
  // Storage index of the cell holding a position; false outside the mesh.
  bool CellOf(double x, double y, double z, double negtol, std::size_t &index) const;
};

#endif

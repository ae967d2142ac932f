// Array parameter files, array data directories and the summary table.
#include "arrays/charray.h"

#include "config/fatal.h"
#include "config/fileio.h"
#include "config/internal/directorywriter.h"
#include "config/numberreader.h"
#include "config/parametermap.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

using femtokit::CloseWritten;
using femtokit::FilePtr;
using femtokit::OpenForWriting;

namespace {

std::string TripleFileName(const char *dirname, int lx, int ly, int lz) {
  return std::string(dirname) + "/lx" + std::to_string(lx) + "_ly" + std::to_string(ly) + "_lz" +
         std::to_string(lz) + ".tmp";
}

}  // namespace

CCHArray::CCHArray(const char *arrayparsfilename) {
  parameterMap parameters;
  parameter::set(parameters, "NRADIAL", 25);
  parameter::set(parameters, "RADSTEP", 1.0);
  parameter::set(parameters, "LMAX", 4);
  parameter::set(parameters, "IDENTICAL", false);
  parameter::set(parameters, "XSYM", false);
  parameter::set(parameters, "YSYM", false);
  parameter::set(parameters, "ZSYM", false);
  parameter::ReadParsFromFile(parameters, arrayparsfilename);
  if (parameter::getB(parameters, "IDENTICAL", false)) {
    parameter::set(parameters, "XSYM", true);
    parameter::set(parameters, "YSYM", true);
    parameter::set(parameters, "ZSYM", true);
  }
  NRADIAL = parameter::getI(parameters, "NRADIAL", 25);
  LMAX = parameter::getI(parameters, "LMAX", 4);
  RADSTEP = parameter::getD(parameters, "RADSTEP", 1.0);
  XSYM = parameter::getB(parameters, "XSYM", false);
  YSYM = parameter::getB(parameters, "YSYM", false);
  ZSYM = parameter::getB(parameters, "ZSYM", false);
  if (!(std::isfinite(RADSTEP) && RADSTEP > 0.0))
    femtokit::FatalFile(arrayparsfilename, "array parameter file %s: RADSTEP=%g must be finite and positive\n",
                        arrayparsfilename, RADSTEP);
  CreateArray(arrayparsfilename);
}

CCHArray::CCHArray(const std::string &arrayparsfilename) : CCHArray(arrayparsfilename.c_str()) {}

// Writes the full form (allx) or the lx <= 1 layers, in loop order.
void CCHArray::WriteFiles(const char *dirname, bool allx, const char *valueformat) const {
  // The whole set is replaced: component files of an earlier write that this
  // one does not rewrite (higher lx, a larger LMAX) do not stay behind.
  femtokit::DirectoryWriter writer(dirname, [](const std::string &name) {
    return femtokit::MatchesNumbered(name, "lx#_ly#_lz#.tmp") || femtokit::MatchesNumbered(name, "lx#_ly#_lz#.tmp.partial");
  });
  const int lxmax = allx ? LMAX : 1;
  for (int lx = 0; lx <= lxmax; lx += dlx) {
    for (int ly = 0; ly <= LMAX - lx; ly += dly) {
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz) {
        const std::string filename = TripleFileName(dirname, lx, ly, lz);
        FilePtr file = writer.Open(filename);
        // Ten digits keep any step that the parameter map can hold exact.
        fprintf(file.get(), "%d %.10g\n", NRADIAL, RADSTEP);
        for (int ir = 0; ir < NRADIAL; ++ir) {
          fprintf(file.get(), valueformat, At(lx, ly, lz, ir));
          fputc('\n', file.get());
        }
        writer.Close(std::move(file), filename);
      }
    }
  }
  writer.Commit();
}

void CCHArray::WriteAllA(const char *dirname) const { WriteFiles(dirname, true, "%16.10e"); }

void CCHArray::WriteAX(const char *dirname) const { WriteFiles(dirname, false, "%g"); }

void CCHArray::ReadFiles(const char *dirname, bool allx) {
  const int lxmax = allx ? LMAX : 1;
  for (int lx = 0; lx <= lxmax; lx += dlx) {
    for (int ly = 0; ly <= LMAX - lx; ly += dly) {
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz) {
        const std::string filename = TripleFileName(dirname, lx, ly, lz);
        const char *name = filename.c_str();
        femtokit::NumberReader in(filename);
        if (!in.IsOpen()) femtokit::FatalFile(filename, "Reading Error: %s, does not exist\n", name);
        long long nradial;
        double radstep;
        if (!in.Next(nradial, 0, INT_MAX, "NRADIAL") || !in.Next(radstep, "RADSTEP"))
          femtokit::FatalFile(filename, "Reading Error: %s has no valid header (NRADIAL RADSTEP)\n", name);
        if (!(std::fabs(radstep - RADSTEP) <= 1.0e-6) || nradial != NRADIAL)
          femtokit::FatalFile(filename, "Mesh in %s out of whack: RADSTEP=%g =? %g, NRADIAL=%d=?%lld\n", name, RADSTEP,
                              radstep, NRADIAL, nradial);
        for (int ir = 0; ir < NRADIAL; ++ir) {
          if (!in.Next(At(lx, ly, lz, ir), "value"))
            femtokit::FatalFile(filename, "Reading Error: %s holds %d readable values, %d expected\n", name, ir,
                                NRADIAL);
        }
        in.WarnIfTrailing();
      }
    }
  }
  FillRemainderX();
  // Finite values near the largest double can rebuild an lx >= 2 coefficient
  // as inf; such a file is refused, naming the largest value of that r bin
  // among the stored ones it is built from (those of the same lx parity).
  for (int lx = 2; lx <= LMAX; lx += dlx)
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz)
        for (int ir = 0; ir < NRADIAL; ++ir) {
          if (std::isfinite(At(lx, ly, lz, ir))) continue;
          int by = 0, bz = 0;
          for (int y = 0; y <= LMAX - lx % 2; y += dly)
            for (int z = 0; z <= LMAX - lx % 2 - y; z += dlz)
              if (std::fabs(At(lx % 2, y, z, ir)) > std::fabs(At(lx % 2, by, bz, ir))) by = y, bz = z;
          const std::string filename = TripleFileName(dirname, lx % 2, by, bz);
          femtokit::FatalFile(filename,
                              "Reading Error: %s: the value %g at r bin %d is too large: the coefficient (%d,%d,%d) "
                              "rebuilt from it is %g\n",
                              filename.c_str(), At(lx % 2, by, bz, ir), ir, lx, ly, lz, At(lx, ly, lz, ir));
        }
}

void CCHArray::ReadAllA(const char *dirname) { ReadFiles(dirname, true); }

void CCHArray::ReadAX(const char *dirname) { ReadFiles(dirname, false); }

void CCHArray::WriteShort(const char *filename, int lmax) const {
  if (lmax > LMAX) lmax = LMAX;
  FilePtr file = OpenForWriting(filename);
  FILE *f = file.get();
  fprintf(f, "!       ");
  for (int L = 0; L <= lmax; ++L)
    for (int lx = 0; lx < 2 && lx <= L; lx += dlx)
      for (int ly = 0; ly <= L - lx; ly += dly)
        if ((L - lx - ly) % dlz == 0) fprintf(f, "  (%d,%d,%d)  ", lx, ly, L - lx - ly);
  fprintf(f, "\n");
  for (int ir = 0; ir < NRADIAL; ++ir) {
    fprintf(f, "%7.2f ", (ir + 0.5) * RADSTEP);
    for (int L = 0; L <= lmax; ++L)
      for (int lx = 0; lx < 2 && lx <= L; lx += dlx)
        for (int ly = 0; ly <= L - lx; ly += dly)
          if ((L - lx - ly) % dlz == 0) fprintf(f, " %9.2e ", GetElement(lx, ly, L - lx - ly, ir));
    fprintf(f, "\n");
  }
  CloseWritten(std::move(file), filename);
}

// Writes a pi pi phase-shift table of one isospin and l, as the generic pair
// reads it (rows "q delta ddelta/dq": MeV/c, rad, rad per MeV/c), from the
// closed forms of the pi+ pi- pair (CWaveFunction_pipluspiminus::getphaseshift_pipi),
// without Coulomb correction, on q = 0, 0.5, ..., qmax MeV/c:
//
//   make_pipi_table <I> <l> <qmax> <output>
//
// At q = 0 the phase is 0 and its slope the limit of the closed form.
#include <cstdio>
#include <string>

#include "config/fatal.h"
#include "config/fileio.h"
#include "config/numberreader.h"
#include "wavefunction/wavefunction_pipluspiminus.h"

int main(int argc, char **argv) {
  if (argc != 5) femtokit::Fatal("usage: make_pipi_table <I> <l> <qmax> <output>\n");
  long long isospin = 0, ell = 0;
  double qmax = 0.0;
  if (!femtokit::ParseInteger(argv[1], isospin) || !femtokit::ParseInteger(argv[2], ell) ||
      !femtokit::ParseNumber(argv[3], qmax) || isospin < 0 || isospin > 2 || ell < 0 || ell > 2 || !(qmax > 0))
    femtokit::Fatal("make_pipi_table: I and l must be integers 0 ... 2 and qmax a positive number, got %s %s %s\n",
                    argv[1], argv[2], argv[3]);
  const int I = static_cast<int>(isospin), l = static_cast<int>(ell);
  const std::string out = argv[4];
  femtokit::FilePtr f = femtokit::OpenForWriting(out);
  std::fprintf(f.get(), "# pi pi phase shift, isospin %d, l = %d: q (MeV/c), delta (rad), ddelta/dq (rad per MeV/c).\n", I, l);
  std::fprintf(f.get(), "# Closed forms of the pi+ pi- pair (getphaseshift_pipi), no Coulomb correction;\n");
  std::fprintf(f.get(), "# written by tools/phaseshifts/make_pipi_table %d %d %g.\n", I, l, qmax);
  for (int n = 0; 0.5 * n <= qmax + 1e-9; n++) {
    const double q = 0.5 * n;
    double delta = 0.0, ddeltadq = 0.0;
    CWaveFunction_pipluspiminus::getphaseshift_pipi(I, l, q > 0.0 ? q : 1e-6, &delta, &ddeltadq);
    if (q == 0.0) delta = 0.0;
    std::fprintf(f.get(), "%.1f %.12e %.12e\n", q, delta, ddeltadq);
  }
  femtokit::CloseWritten(std::move(f), out);
  return 0;
}

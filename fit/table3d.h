#ifndef FEMTOKIT_FIT_TABLE3D_H
#define FEMTOKIT_FIT_TABLE3D_H

#include <memory>
#include <string>
#include <vector>

class C3DArray;

namespace femtokit {

// Frames of a measured 3D correlation function. The kernels live in the pair
// rest frame (PRF); measurements are usually binned in the longitudinally
// comoving frame (LCMS), which moves along "out" with the pair's transverse
// velocity: q_out^PRF = q_out^LCMS / gamma_T (q_side and q_long are the same)
// and, for emission at equal LCMS times, r_out^PRF = gamma_T r_out^LCMS.
enum class Frame { PRF, LCMS };
const char *FrameName(Frame f);  // "PRF", "LCMS"

// gamma_T of a pair of masses m1, m2 (MeV) with transverse momentum per
// particle kT = |pT1 + pT2|/2 (MeV/c): E_T/M of the pair at q = 0, M = m1 + m2,
// so m_T/m for equal masses. From mT instead: mT = sqrt(kT^2 + (M/2)^2).
// Fatal unless the masses are positive and kT (mT >= M/2) finite and >= 0.
double GammaTFromKT(double kT, double m1, double m2);
double GammaTFromMT(double mT, double m1, double m2);

// A 3D correlation function as a table of plain text: one row per cell,
//   q_out q_side q_long C error
// (cell centres in MeV/c, q the momentum of one particle in the pair frame as
// everywhere in the library; C the full correlation, not C - 1), after '#'
// header lines that the reader needs:
//   # frame PRF                 or  # frame LCMS  (optionally: gamma_T 1.25)
//   # units MeV/c
//   # binning q_out LO HI N q_side LO HI N q_long LO HI N
// Each axis has N bins of equal width on [LO, HI], with LO = 0 (a function
// even in that component: only q >= 0 is held) or LO = -HI (both signs, N
// even). Other '#' lines are comments. Rows may come in any order; a cell may
// be absent (a bin removed from the measurement): it has error 0, as has a row
// written with error 0 (a computed table), and fits leave such cells out. Cell centres must lie within 1e-6 of a bin width of the mesh.
struct Table3D {
  Frame frame = Frame::PRF;
  double gammaT = 0.0;  // from the header; 0 when not given
  // C - 1 and the errors on the table's own mesh (x = out, y = side, z = long,
  // in the table's frame); error 0 where no row was given.
  std::unique_ptr<C3DArray> cf, error;
  long rows = 0;  // rows read
  Table3D();
  Table3D(Table3D &&) noexcept;
  Table3D &operator=(Table3D &&) noexcept;
  ~Table3D();
};

// Reads a table file. Fatal, naming file and line: a missing or unreadable
// file, a missing or malformed header line, a bad number (the strict reader),
// a row without exactly five numbers, a negative error, a centre
// off the mesh, a cell given twice, a table without rows, a mesh beyond the
// memory budget.
Table3D ReadTable3D(const std::string &filename);

// The header and rows of a table of C - 1 (cf) and errors (error may be null:
// 0 in the column) on their mesh, in the given frame (gammaT written when
// > 0), after the comment lines (each written with "# " before it). With an
// error array, cells whose error is 0 (not measured) are left out; without
// one every cell is written with error 0.
std::string Table3DText(const C3DArray &cf, const C3DArray *error, Frame frame, double gammaT,
                        const std::vector<std::string> &comments);
// The same into a file (fatal, naming it, when it cannot be written).
void WriteTable3D(const std::string &filename, const C3DArray &cf, const C3DArray *error, Frame frame,
                  double gammaT, const std::vector<std::string> &comments);

// A copy of the mesh with q_out cell widths scaled: converts a table's mesh
// between frames (factor 1/gamma_T: LCMS to PRF, gamma_T: PRF to LCMS). The
// values are carried cell by cell.
std::unique_ptr<C3DArray> ScaledOut(const C3DArray &a, double factor);

}  // namespace femtokit

#endif

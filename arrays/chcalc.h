#ifndef FEMTOKIT_ARRAYS_CHCALC_H
#define FEMTOKIT_ARRAYS_CHCALC_H

#include <vector>

// Combinatorial numbers and angular functions of the Cartesian-harmonic
// arithmetic: factorials, double factorials, binomials, trinomials, traceless
// harmonics and monomials at a direction, and the overlap integral between a
// traceless harmonic and a monomial.
//
// The tables are class-wide, built by the first live object and shared by all;
// an object is only an accessor and a reference count on them. Arguments above
// the table limit are computed directly (up to the largest value a double
// holds: 170!, 297!!), never read outside a table.
//
// Threads: objects may be created and destroyed from any thread (the count
// and the building and clearing of the tables are under a lock), and every
// const accessor may run concurrently (the overlap cache fills its slots
// under a lock). The tables are cleared when the last object goes, so no
// object may be destroyed while another thread reads through a different one
// that it does not keep alive; arrays share one object that is never
// destroyed. InitStaticData and ClearStaticData called directly take no lock:
// call them only while no other thread uses the tables.
//
// GetAFromE and the overlaps are alternating sums of large terms: their
// relative precision is about 1e-14 up to order 16, 1e-10 at order 20, 1e-7 at
// order 30, and they are unreliable beyond order 35 or so.
class CCHCalc {
 public:
  CCHCalc();
  CCHCalc(const CCHCalc &);
  CCHCalc &operator=(const CCHCalc &) = default;
  ~CCHCalc();

  // Builds every table that does not exist yet.
  static void InitStaticData();
  // Releases every table, including the filled overlap slots.
  static void ClearStaticData();

  double Factorial(int n) const;          // n!
  double DoubleFactorial(int n) const;    // n!! with 0!! = 1!! = (-1)!! = 1
  double Binomial(int a, int b) const;    // (a+b)!/(a! b!)
  double Trinomial(int a, int b, int c) const;  // (a+b+c)!/(a! b! c!)

  // ex^lx ey^ly ez^lz
  double GetMFromE(int lx, int ly, int lz, double ex, double ey, double ez) const;
  double GetMFromThetaPhi(int lx, int ly, int lz, double theta, double phi) const;
  // Traceless part of the monomial of (lx,ly,lz) for a unit vector e; the
  // polynomial is evaluated as it stands for any e.
  double GetAFromE(int lx, int ly, int lz, double ex, double ey, double ez) const;
  double GetAFromThetaPhi(int lx, int ly, int lz, double theta, double phi) const;

  // Integral over directions of GetAFromE(l) * GetMFromE(lp): cached, and
  // computed directly.
  double GetOverlap(int lx, int ly, int lz, int lxp, int lyp, int lzp) const;
  double GetOverlap0(int lx, int ly, int lz, int lxp, int lyp, int lzp) const;
  // Fills the cache slot of a descending triple lx >= ly >= lz.
  void overlapinit(int lx, int ly, int lz) const;
  static void iswitch(int &a, int &b);

  // Class-wide data.
  static constexpr int LMAXFACT = 56;
  static std::vector<double> fact;        // n!, n = 0 .. LMAXFACT
  static std::vector<double> doublefact;  // n!!, n = 0 .. 2 LMAXFACT + 1
  static std::vector<std::vector<double>> binomial;  // binomial[n][k], k <= n <= LMAXFACT
  // overlap[i][j][k][a][b] for a descending triple (i,j,k), i+j+k <= LMAXFACT:
  // the overlap with (lxp, lyp, lzp) = (i%2 + 2a, j%2 + 2b, rest). An empty
  // slot (no rows) has not been computed yet.
  typedef std::vector<std::vector<double>> OverlapSlot;
  static std::vector<std::vector<std::vector<OverlapSlot>>> overlap;
  static int INITIALIZED;  // number of live objects; 0 when the tables are absent
};

#endif

#include "arrays/chcalc.h"
#include "config/constants.h"

#include "config/fatal.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_math.h>
#include <gsl/gsl_sf_gamma.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <mutex>

std::vector<double> CCHCalc::fact;
std::vector<double> CCHCalc::doublefact;
std::vector<std::vector<double>> CCHCalc::binomial;
std::vector<std::vector<std::vector<CCHCalc::OverlapSlot>>> CCHCalc::overlap;
int CCHCalc::INITIALIZED = 0;

namespace {
using femtokit::constants::FOURPI;
constexpr int kNL = CCHCalc::LMAXFACT + 1;

// The overlap cache is filled on first use, possibly by several threads at
// once: a slot is computed under the lock and published by its ready flag.
std::mutex overlap_mutex;
std::atomic<bool> overlap_ready[kNL * kNL * kNL];

std::atomic<bool> &Ready(int lx, int ly, int lz) { return overlap_ready[(lx * kNL + ly) * kNL + lz]; }

// Guards the count of live objects and the building and clearing of the tables.
std::mutex chcalc_count_mutex;
}  // namespace

CCHCalc::CCHCalc() {
  std::lock_guard<std::mutex> lock(chcalc_count_mutex);
  if (INITIALIZED == 0) InitStaticData();
  ++INITIALIZED;
}

CCHCalc::CCHCalc(const CCHCalc &) {
  std::lock_guard<std::mutex> lock(chcalc_count_mutex);
  if (INITIALIZED == 0) InitStaticData();
  ++INITIALIZED;
}

CCHCalc::~CCHCalc() {
  std::lock_guard<std::mutex> lock(chcalc_count_mutex);
  --INITIALIZED;
  if (INITIALIZED == 0) ClearStaticData();
}

void CCHCalc::InitStaticData() {
  femtokit::InitGSL();
  if (fact.empty()) {
    fact.assign(LMAXFACT + 1, 1.0);
    for (int n = 2; n <= LMAXFACT; ++n) fact[n] = n * fact[n - 1];
  }
  if (doublefact.empty()) {
    doublefact.assign(2 * LMAXFACT + 2, 1.0);
    for (int n = 2; n <= 2 * LMAXFACT + 1; ++n) doublefact[n] = n * doublefact[n - 2];
  }
  if (binomial.empty()) {
    binomial.resize(LMAXFACT + 1);
    for (int n = 0; n <= LMAXFACT; ++n) {
      binomial[n].assign(n + 1, 1.0);
      for (int k = 1; k <= n; ++k) binomial[n][k] = binomial[n][k - 1] * (n - k + 1) / k;
    }
  }
  if (overlap.empty()) {
    overlap.resize(LMAXFACT + 1);
    for (int i = 0; i <= LMAXFACT; ++i) {
      overlap[i].resize(std::min(i, LMAXFACT - i) + 1);
      for (int j = 0; j < static_cast<int>(overlap[i].size()); ++j)
        overlap[i][j].resize(std::min(j, LMAXFACT - i - j) + 1);
    }
  }
}

void CCHCalc::ClearStaticData() {
  femtokit::Warn("Clearing static data used for charray calc.s. \nDon't do this unless you are finished with charray objects\n");
  std::vector<double>().swap(fact);
  std::vector<double>().swap(doublefact);
  std::vector<std::vector<double>>().swap(binomial);
  std::lock_guard<std::mutex> lock(overlap_mutex);
  for (auto &flag : overlap_ready) flag.store(false, std::memory_order_relaxed);
  std::vector<std::vector<std::vector<OverlapSlot>>>().swap(overlap);
}

// Each accessor reads a table only within its current size: after
// ClearStaticData the values are computed directly instead.
double CCHCalc::Factorial(int n) const {
  if (n >= 0 && n < static_cast<int>(fact.size())) return fact[n];
  if (n < 0) femtokit::Fatal("CCHCalc::Factorial: negative argument %d\n", n);
  gsl_sf_result result;
  if (gsl_sf_fact_e(static_cast<unsigned int>(n), &result) != GSL_SUCCESS)
    femtokit::Fatal("CCHCalc::Factorial: %d! is too large for a double\n", n);
  return result.val;
}

double CCHCalc::DoubleFactorial(int n) const {
  if (n >= 0 && n < static_cast<int>(doublefact.size())) return doublefact[n];
  if (n == -1) return 1.0;
  if (n < 0) femtokit::Fatal("CCHCalc::DoubleFactorial: negative argument %d\n", n);
  gsl_sf_result result;
  if (gsl_sf_doublefact_e(static_cast<unsigned int>(n), &result) != GSL_SUCCESS)
    femtokit::Fatal("CCHCalc::DoubleFactorial: %d!! is too large for a double\n", n);
  return result.val;
}

double CCHCalc::Binomial(int a, int b) const {
  if (a < 0 || b < 0) femtokit::Fatal("CCHCalc::Binomial: negative argument (%d,%d)\n", a, b);
  if (a + b < static_cast<int>(binomial.size())) return binomial[a + b][a];
  gsl_sf_result result;
  if (gsl_sf_choose_e(static_cast<unsigned int>(a + b), static_cast<unsigned int>(a), &result) != GSL_SUCCESS)
    femtokit::Fatal("CCHCalc::Binomial: (%d,%d) is too large for a double\n", a, b);
  return result.val;
}

double CCHCalc::Trinomial(int a, int b, int c) const {
  if (a < 0 || b < 0 || c < 0) femtokit::Fatal("CCHCalc::Trinomial: negative argument (%d,%d,%d)\n", a, b, c);
  if (a < b) iswitch(a, b);
  if (b < c) iswitch(b, c);
  if (a < b) iswitch(a, b);
  if (a + b + c < static_cast<int>(binomial.size())) return binomial[a + b + c][c] * binomial[a + b][a];
  return Binomial(c, a + b) * Binomial(a, b);
}

double CCHCalc::GetMFromE(int lx, int ly, int lz, double ex, double ey, double ez) const {
  return gsl_pow_int(ex, lx) * gsl_pow_int(ey, ly) * gsl_pow_int(ez, lz);
}

double CCHCalc::GetMFromThetaPhi(int lx, int ly, int lz, double theta, double phi) const {
  const double st = sin(theta);
  return GetMFromE(lx, ly, lz, st * cos(phi), st * sin(phi), cos(theta));
}

double CCHCalc::GetAFromE(int lx, int ly, int lz, double ex, double ey, double ez) const {
  const int L = lx + ly + lz;
  if (L == 0) return 1.0;
  double sum = 0.0;
  for (int i = 0; 2 * i <= lx; ++i) {
    const double tx = gsl_pow_int(-0.5, i) * gsl_pow_int(ex, lx - 2 * i) / (Factorial(i) * Factorial(lx - 2 * i));
    for (int j = 0; 2 * j <= ly; ++j) {
      const double ty = gsl_pow_int(-0.5, j) * gsl_pow_int(ey, ly - 2 * j) / (Factorial(j) * Factorial(ly - 2 * j));
      for (int k = 0; 2 * k <= lz; ++k) {
        const double tz =
            gsl_pow_int(-0.5, k) * gsl_pow_int(ez, lz - 2 * k) / (Factorial(k) * Factorial(lz - 2 * k));
        sum += tx * ty * tz * DoubleFactorial(2 * (L - i - j - k) - 1);
      }
    }
  }
  return Factorial(lx) * Factorial(ly) * Factorial(lz) / DoubleFactorial(2 * L - 1) * sum;
}

double CCHCalc::GetAFromThetaPhi(int lx, int ly, int lz, double theta, double phi) const {
  const double st = sin(theta);
  return GetAFromE(lx, ly, lz, st * cos(phi), st * sin(phi), cos(theta));
}

double CCHCalc::GetOverlap0(int lx, int ly, int lz, int lxp, int lyp, int lzp) const {
  if (lx < 0 || ly < 0 || lz < 0 || lxp < 0 || lyp < 0 || lzp < 0) return 0.0;
  const int L = lx + ly + lz;
  if (L != lxp + lyp + lzp) return 0.0;
  if ((lx - lxp) % 2 != 0 || (ly - lyp) % 2 != 0 || (lz - lzp) % 2 != 0) return 0.0;
  double prefactor = FOURPI * Factorial(lx) * Factorial(ly) * Factorial(lz) * Factorial(lxp) * Factorial(lyp) *
                     Factorial(lzp) / (2 * L + 1);
  if (L > 0) {
    const double df = DoubleFactorial(2 * L - 1);
    prefactor /= df * df;
  }
  const int sx = (lxp - lx) / 2, sy = (lyp - ly) / 2, sz = (lzp - lz) / 2;
  double sum = 0.0;
  for (int i = std::max(0, -sx); 2 * i <= lx; ++i) {
    const double dx = Factorial(i) * Factorial(i + sx) * Factorial(lx - 2 * i);
    for (int j = std::max(0, -sy); 2 * j <= ly; ++j) {
      const double dy = Factorial(j) * Factorial(j + sy) * Factorial(ly - 2 * j);
      for (int k = std::max(0, -sz); 2 * k <= lz; ++k) {
        const double dz = Factorial(k) * Factorial(k + sz) * Factorial(lz - 2 * k);
        const int n = i + j + k;
        const double f = (L == 0) ? 1.0 : DoubleFactorial(2 * (L - n) - 1) * Factorial(n) * gsl_pow_int(-0.5, n);
        sum += f / (dx * dy * dz);
      }
    }
  }
  return prefactor * sum;
}

void CCHCalc::overlapinit(int lx, int ly, int lz) const {
  if (Ready(lx, ly, lz).load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(overlap_mutex);
  if (Ready(lx, ly, lz).load(std::memory_order_relaxed)) return;
  OverlapSlot &slot = overlap[lx][ly][lz];
  const int L = lx + ly + lz;
  const int px = lx % 2, py = ly % 2;
  slot.resize((L - px) / 2 + 1);
  for (int a = 0; a < static_cast<int>(slot.size()); ++a) {
    const int lxp = px + 2 * a;
    const int rest = L - lxp - py;
    if (rest < 0) continue;  // no lyp of the right parity fits
    slot[a].resize(rest / 2 + 1);
    for (int b = 0; b < static_cast<int>(slot[a].size()); ++b) {
      const int lyp = py + 2 * b;
      slot[a][b] = GetOverlap0(lx, ly, lz, lxp, lyp, L - lxp - lyp);
    }
  }
  Ready(lx, ly, lz).store(true, std::memory_order_release);
}

double CCHCalc::GetOverlap(int lx, int ly, int lz, int lxp, int lyp, int lzp) const {
  if (lx < 0 || ly < 0 || lz < 0 || lxp < 0 || lyp < 0 || lzp < 0) return 0.0;
  const int L = lx + ly + lz;
  if (L != lxp + lyp + lzp) return 0.0;
  if ((lx - lxp) % 2 != 0 || (ly - lyp) % 2 != 0 || (lz - lzp) % 2 != 0) return 0.0;
  if (L > LMAXFACT || overlap.empty()) return GetOverlap0(lx, ly, lz, lxp, lyp, lzp);
  if (lx < ly) {
    iswitch(lx, ly);
    iswitch(lxp, lyp);
  }
  if (ly < lz) {
    iswitch(ly, lz);
    iswitch(lyp, lzp);
    if (lx < ly) {
      iswitch(lx, ly);
      iswitch(lxp, lyp);
    }
  }
  if (lx < ly || ly < lz) femtokit::Fatal("l out of order\n");
  overlapinit(lx, ly, lz);
  return overlap[lx][ly][lz][lxp / 2][lyp / 2];
}

void CCHCalc::iswitch(int &a, int &b) {
  const int c = a;
  a = b;
  b = c;
}

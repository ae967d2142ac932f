#include "arrays/charray.h"

#include "config/fatal.h"
#include "config/numberreader.h"

#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <new>

namespace {

// The coefficient object shared by all arrays. It is placed in static storage
// and never destroyed, so the tables stay for the whole process and no
// clearing message is printed at exit.
CCHCalc *SharedCHCalc() {
  alignas(CCHCalc) static unsigned char storage[sizeof(CCHCalc)];
  static CCHCalc *calc = ::new (static_cast<void *>(storage)) CCHCalc();
  return calc;
}

}  // namespace

CCHCalc *CCHArray::chcalc = nullptr;
std::unique_ptr<CRandom> CCHArray::randy;

CCHArray::CCHArray(int lmax, int nradial, double radstep, bool xsym, bool ysym, bool zsym)
    : XSYM(xsym), YSYM(ysym), ZSYM(zsym), RADSTEP(radstep), NRADIAL(nradial), LMAX(lmax) {
  CreateArray();
}

CCHArray::CCHArray(int lmax, int nradial, double radstep) : CCHArray(lmax, nradial, radstep, false, false, false) {}

CCHArray::~CCHArray() = default;

namespace {

// Number of stored triples with lx + ly + lz <= lmax under the index steps,
// in 64 bits: for each lx the (ly, lz) pairs are counted in closed form.
std::uint64_t CountTriples(int lmax, int dlx, int dly, int dlz) {
  std::uint64_t total = 0;
  for (std::int64_t lx = 0; lx <= lmax; lx += dlx) {
    const std::uint64_t m = static_cast<std::uint64_t>(lmax - lx), K = m / 2;
    if (dly == 1 && dlz == 1)
      total += (m + 1) * (m + 2) / 2;
    else if (dly == 2 && dlz == 2)
      total += (K + 1) * (K + 2) / 2;
    else if (dly == 2)  // dlz == 1: sum over ly = 2k of (m - 2k + 1)
      total += (K + 1) * (m + 1) - K * (K + 1);
    else  // dly == 1, dlz == 2: sum over j = 0 .. m of (j/2 + 1)
      total += (m % 2 == 0) ? K * (K + 1) + K + 1 : (K + 1) * (K + 2);
  }
  return total;
}

}  // namespace

void CCHArray::CreateArray(const std::string &file) {
  // Set once, by whichever thread creates the first array.
  static std::once_flag shared;
  std::call_once(shared, [] { chcalc = SharedCHCalc(); });
  const std::string from = file.empty() ? std::string() : " from " + file;
  if (LMAX < 0 || NRADIAL < 0)  // an empty mesh (NRADIAL 0) is allowed and stores nothing
    femtokit::FatalFile(file, "CCHArray%s: cannot build an array with LMAX=%d, NRADIAL=%d\n", from.c_str(), LMAX,
                        NRADIAL);
  CheckRadstep(RADSTEP);
  dlx = XSYM ? 2 : 1;
  dly = YSYM ? 2 : 1;
  dlz = ZSYM ? 2 : 1;
  // Sizes in 64 bits, checked before anything is allocated: the (lx, ly)
  // index table, then the values (at least one radial bin's worth, so that
  // triple numbers always fit an int).
  const std::uint64_t side = static_cast<std::uint64_t>(LMAX) + 1;
  femtokit::CheckTableSize(file, femtokit::Format("CCHArray%s: LMAX=%d", from.c_str(), LMAX), side * side,
                           sizeof(int));
  const std::uint64_t ntriples = CountTriples(LMAX, dlx, dly, dlz);
  femtokit::CheckTableSize(file, femtokit::Format("CCHArray%s: LMAX=%d, NRADIAL=%d", from.c_str(), LMAX, NRADIAL),
                           femtokit::SaturatingProduct(ntriples, NRADIAL > 0 ? NRADIAL : 1), sizeof(double));
  if (ntriples > static_cast<std::uint64_t>(INT_MAX))
    femtokit::FatalFile(file, "CCHArray%s: LMAX=%d gives %llu harmonic triples, more than can be numbered\n",
                        from.c_str(), LMAX, static_cast<unsigned long long>(ntriples));
  LMAXALLOC = LMAX;
  lxlybase.assign(static_cast<size_t>(side * side), -1);
  int count = 0;
  for (int lx = 0; lx <= LMAX; lx += dlx) {
    for (int ly = 0; ly <= LMAX - lx; ly += dly) {
      lxlybase[static_cast<size_t>(lx) * side + static_cast<size_t>(ly)] = count;
      count += (LMAX - lx - ly) / dlz + 1;
    }
  }
  A.assign(static_cast<size_t>(ntriples) * static_cast<size_t>(NRADIAL), 0.0);
}

void CCHArray::CheckRadstep(double radstep) {
  if (!(std::isfinite(radstep) && radstep > 0.0))
    femtokit::Fatal("CCHArray: RADSTEP=%g must be finite and positive\n", radstep);
}

void CCHArray::SetLMAX(int lmax) {
  if (lmax < LMAX) LMAX = lmax;
}

void CCHArray::PrintPars() const {
  femtokit::Print("XSYM=%d, YSYM=%d, ZSYM=%d\n", XSYM, YSYM, ZSYM);
  femtokit::Print("LMAX=%d, NRADIAL=%d, RADSTEP=%g\n", LMAX, NRADIAL, RADSTEP);
}

bool CCHArray::TripleExists(int lx, int ly, int lz) const {
  return lx >= 0 && ly >= 0 && lz >= 0 && lx + ly + lz <= LMAX && lx % dlx == 0 && ly % dly == 0 && lz % dlz == 0;
}

bool CCHArray::ElementExists(int lx, int ly, int lz, int ir) const {
  return ir >= 0 && ir < NRADIAL && TripleExists(lx, ly, lz);
}

void CCHArray::CheckIR(int ir, const char *operation) const {
  if (ir < 0 || ir >= NRADIAL)
    femtokit::Fatal("CCHArray::%s: radial index %d outside 0..%d\n", operation, ir, NRADIAL - 1);
}

int CCHArray::RadialBin(double r, double radstep) {
  const double bin = std::floor(r / radstep);
  if (!(bin >= static_cast<double>(INT_MIN))) return -1;  // also NaN
  if (bin > static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(bin);
}

double CCHArray::GetElement(int lx, int ly, int lz, int ir) const {
  if (ElementExists(lx, ly, lz, ir)) return At(lx, ly, lz, ir);
  femtokit::Warn("WARNING: Tried to get non-existent element in CCHArray\nLMAX=%d, XSYM=%d, YSYM=%d, ZSYM=%d, ir=%d\n"
                 "l=(%d,%d,%d), ir=%d\n",
                 LMAX, XSYM, YSYM, ZSYM, ir, lx, ly, lz, ir);
  return 0.0;
}

void CCHArray::SetElement(int lx, int ly, int lz, int ir, double value) {
  if (!ElementExists(lx, ly, lz, ir)) {
    femtokit::Fatal("Tried to set element out of bounds in CCHArray\nLMAX=%d, XSYM=%d, YSYM=%d, ZSYM=%d, ir=%d\n"
                    "l=(%d,%d,%d), ir=%d\n",
                    LMAX, XSYM, YSYM, ZSYM, ir, lx, ly, lz, ir);
  }
  At(lx, ly, lz, ir) = value;
}

void CCHArray::IncrementElement(int lx, int ly, int lz, int ir, double value) {
  if (!ElementExists(lx, ly, lz, ir)) {
    femtokit::Fatal("OUT OF BOUNDS IN INCREMENTELEMENT\nell=(%d,%d,%d), ir=%d\n", lx, ly, lz, ir);
  }
  At(lx, ly, lz, ir) += value;
}

const double *CCHArray::Row(int lx, int ly, int lz) const {
  if (!TripleExists(lx, ly, lz))
    femtokit::Fatal("CCHArray::Row: triple (%d,%d,%d) is not stored (LMAX=%d, XSYM=%d, YSYM=%d, ZSYM=%d)\n", lx, ly,
                    lz, LMAX, XSYM, YSYM, ZSYM);
  return A.data() + Index(lx, ly, lz, 0);
}

double *CCHArray::Row(int lx, int ly, int lz) {
  return const_cast<double *>(static_cast<const CCHArray *>(this)->Row(lx, ly, lz));
}

double CCHArray::GetElement(int lx, int ly, int lz, double r) const {
  return GetElement(lx, ly, lz, RadialBin(r, RADSTEP));
}

void CCHArray::SetElement(int lx, int ly, int lz, double r, double value) {
  SetElement(lx, ly, lz, RadialBin(r, RADSTEP), value);
}

void CCHArray::IncrementElement(int lx, int ly, int lz, double r, double value) {
  IncrementElement(lx, ly, lz, RadialBin(r, RADSTEP), value);
}

void CCHArray::ZeroArray() { ZeroArray_Partial(LMAX); }

void CCHArray::ZeroArray(int ir) {
  CheckIR(ir, "ZeroArray");
  ZeroArray_Partial(LMAX, ir);
}

void CCHArray::ZeroArray(int lx, int ly, int lz) {
  if (!TripleExists(lx, ly, lz))
    femtokit::Fatal("CCHArray::ZeroArray: triple (%d,%d,%d) is not stored (LMAX=%d, XSYM=%d, YSYM=%d, ZSYM=%d)\n", lx,
                    ly, lz, LMAX, XSYM, YSYM, ZSYM);
  for (int ir = 0; ir < NRADIAL; ++ir) At(lx, ly, lz, ir) = 0.0;
}

void CCHArray::ZeroArray_Partial(int lmax) {
  if (lmax > LMAX) lmax = LMAX;
  for (int lx = 0; lx <= lmax; lx += dlx)
    for (int ly = 0; ly <= lmax - lx; ly += dly)
      for (int lz = 0; lz <= lmax - lx - ly; lz += dlz)
        for (int ir = 0; ir < NRADIAL; ++ir) At(lx, ly, lz, ir) = 0.0;
}

void CCHArray::ZeroArray_Partial(int lmax, int ir) {
  CheckIR(ir, "ZeroArray_Partial");
  if (lmax > LMAX) lmax = LMAX;
  for (int lx = 0; lx <= lmax; lx += dlx)
    for (int ly = 0; ly <= lmax - lx; ly += dly)
      for (int lz = 0; lz <= lmax - lx - ly; lz += dlz) At(lx, ly, lz, ir) = 0.0;
}

void CCHArray::ScaleArray(double factor) {
  for (int ir = 0; ir < NRADIAL; ++ir) ScaleArray(factor, ir);
}

void CCHArray::ScaleArray(double factor, int ir) {
  CheckIR(ir, "ScaleArray");
  for (int lx = 0; lx <= LMAX; lx += dlx)
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz) At(lx, ly, lz, ir) *= factor;
}

double CCHArray::GetBiggest(int ir) const {
  CheckIR(ir, "GetBiggest");
  double biggest = 0.0;
  for (int lx = 0; lx <= LMAX; lx += dlx)
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz) biggest = std::fmax(biggest, std::fabs(At(lx, ly, lz, ir)));
  return biggest;
}

// Tracelessness: A(lx+2,ly,lz) + A(lx,ly+2,lz) + A(lx,ly,lz+2) = 0. The
// partners read here are always stored, and values written for smaller
// indices of the outer axis feed the larger ones.
void CCHArray::FillRemainderX(int ir) {
  CheckIR(ir, "FillRemainderX");
  if (LMAX < 2) return;
  for (int lx = 2; lx <= LMAX; lx += dlx)
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz)
        At(lx, ly, lz, ir) = -At(lx - 2, ly + 2, lz, ir) - At(lx - 2, ly, lz + 2, ir);
}

void CCHArray::FillRemainderX() {
  // Row by row: the same sums as FillRemainderX(ir), in the same lx order.
  if (LMAX < 2 || NRADIAL <= 0) return;
  for (int lx = 2; lx <= LMAX; lx += dlx)
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz) {
        double *d = &At(lx, ly, lz, 0);
        const double *a = &At(lx - 2, ly + 2, lz, 0), *b = &At(lx - 2, ly, lz + 2, 0);
        for (int ir = 0; ir < NRADIAL; ++ir) d[ir] = -a[ir] - b[ir];
      }
}

void CCHArray::FillRemainderY(int ir) {
  CheckIR(ir, "FillRemainderY");
  if (LMAX < 2) return;
  for (int ly = 2; ly <= LMAX; ly += dly)
    for (int lx = 0; lx <= LMAX - ly; lx += dlx)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz)
        At(lx, ly, lz, ir) = -At(lx, ly - 2, lz + 2, ir) - At(lx + 2, ly - 2, lz, ir);
}

void CCHArray::FillRemainderY() {
  for (int ir = 0; ir < NRADIAL; ++ir) FillRemainderY(ir);
}

void CCHArray::FillRemainderZ(int ir) {
  CheckIR(ir, "FillRemainderZ");
  if (LMAX < 2) return;
  for (int lz = 2; lz <= LMAX; lz += dlz)
    for (int lx = 0; lx <= LMAX - lz; lx += dlx)
      for (int ly = 0; ly <= LMAX - lx - lz; ly += dly)
        At(lx, ly, lz, ir) = -At(lx, ly + 2, lz - 2, ir) - At(lx + 2, ly, lz - 2, ir);
}

void CCHArray::FillRemainderZ() {
  for (int ir = 0; ir < NRADIAL; ++ir) FillRemainderZ(ir);
}

namespace {
// Guards the shared generator: its creation, reseeding and every fill that
// draws from it (a whole fill holds it, so that fills of several threads
// neither race nor interleave their draws).
std::recursive_mutex charray_random_mutex;
}  // namespace

CRandom &CCHArray::Generator() {
  if (!randy) randy = std::make_unique<CRandom>(-12345);
  return *randy;
}

void CCHArray::RandomInit(int seed) {
  std::lock_guard<std::recursive_mutex> lock(charray_random_mutex);
  randy = std::make_unique<CRandom>(seed);
}

void CCHArray::Randomize(double scale, int ir) {
  CheckIR(ir, "Randomize");
  std::lock_guard<std::recursive_mutex> lock(charray_random_mutex);
  CRandom &random = Generator();
  for (int lx = 0; lx <= LMAX; lx += dlx)
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz) At(lx, ly, lz, ir) = scale * (1.0 - 2.0 * random.ran());
}

void CCHArray::Randomize(double scale) {
  std::lock_guard<std::recursive_mutex> lock(charray_random_mutex);
  for (int ir = 0; ir < NRADIAL; ++ir) Randomize(scale, ir);
}

// Random free values at lx = 0 and 1 (uniform in (-scale, scale] or Gaussian of
// width scale), the rest fixed by tracelessness.
void CCHArray::RandomTraceless(double scale, int ir, bool gaussian, const char *operation) {
  CheckIR(ir, operation);
  std::lock_guard<std::recursive_mutex> lock(charray_random_mutex);
  CRandom &random = Generator();
  for (int lx = 0; lx < 2; lx += dlx) {
    for (int ly = 0; ly <= LMAX - lx; ly += dly)
      for (int lz = 0; lz <= LMAX - lx - ly; lz += dlz)
        At(lx, ly, lz, ir) = scale * (gaussian ? random.gauss() : 1.0 - 2.0 * random.ran());
    FillRemainderX(ir);
  }
}

void CCHArray::RandomizeA(double scale, int ir) { RandomTraceless(scale, ir, false, "RandomizeA"); }

void CCHArray::RandomizeA(double scale) {
  std::lock_guard<std::recursive_mutex> lock(charray_random_mutex);
  for (int ir = 0; ir < NRADIAL; ++ir) RandomizeA(scale, ir);
}

void CCHArray::RandomizeA_Gaussian(double scale, int ir) {
  RandomTraceless(scale, ir, true, "RandomizeA_Gaussian");
}

void CCHArray::RandomizeA_Gaussian(double scale) {
  std::lock_guard<std::recursive_mutex> lock(charray_random_mutex);
  for (int ir = 0; ir < NRADIAL; ++ir) RandomizeA_Gaussian(scale, ir);
}

void CCHArray::PrintArrayFixedIR(int lmax, int ir) const {
  CheckIR(ir, "PrintArrayFixedIR");
  const int dL = (XSYM && YSYM && ZSYM) ? 2 : 1;
  if (lmax > LMAX) lmax = LMAX;
  femtokit::Print("\n______________________________________________________\n");
  for (int L = 0; L <= lmax; L += dL) {
    femtokit::Print("     L=%d\n", L);
    femtokit::Print(" lx\\ly:");
    for (int ly = 0; ly <= L; ly += dly) femtokit::Print(" %4d       ", ly);
    femtokit::Print("\n");
    for (int lx = 0; lx <= L; lx += dlx) {
      femtokit::Print(" %3d ", lx);
      for (int ly = 0; ly <= L - lx; ly += dly) {
        const int lz = L - lx - ly;
        if (ZSYM && lz % 2 != 0)
          femtokit::Print("%10.3e ", 0.0);
        else
          femtokit::Print(" %10.3e ", GetElement(lx, ly, lz, ir));
      }
      femtokit::Print("\n");
    }
    femtokit::Print("_________________________________________\n");
  }
}

void CCHArray::PrintArrayFixedIR(int ir) const { PrintArrayFixedIR(LMAX, ir); }

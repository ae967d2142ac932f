#include "fit/table3d.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "arrays/array3d.h"
#include "config/fatal.h"
#include "config/fileio.h"
#include "config/numberreader.h"
#include "config/output.h"

namespace femtokit {

Table3D::Table3D() = default;
Table3D::Table3D(Table3D &&) noexcept = default;
Table3D &Table3D::operator=(Table3D &&) noexcept = default;
Table3D::~Table3D() = default;

const char *FrameName(Frame f) { return f == Frame::LCMS ? "LCMS" : "PRF"; }

namespace {

const char *kAxes[3] = {"q_out", "q_side", "q_long"};
constexpr long long kMaxBins = 1000000;
constexpr double kCentreTolerance = 1e-6;  // of a bin width

// One axis of the binning: `half` cells of width `width` per sign, both signs
// unless symmetric.
struct Axis {
  int half = 0;
  double width = 0.0;
  bool symmetric = true;
};

double PairMass(double m1, double m2, const char *who) {
  if (!(std::isfinite(m1) && m1 > 0.0 && std::isfinite(m2) && m2 > 0.0))
    Fatal("%s: the pair masses must be finite and positive (m1=%g, m2=%g MeV)\n", who, m1, m2);
  return m1 + m2;
}

// The cell of centre q on one axis; false when q is not a centre.
bool CellOf(const Axis &a, double q, int &sign, int &index) {
  sign = q < 0.0 ? 1 : 0;
  if (sign == 1 && a.symmetric) return false;
  const double u = std::fabs(q) / a.width;
  if (!(u < a.half)) return false;
  index = static_cast<int>(u);
  return std::fabs(u - (index + 0.5)) <= kCentreTolerance;
}

}  // namespace

double GammaTFromKT(double kT, double m1, double m2) {
  const double M = PairMass(m1, m2, "gamma_T from kT");
  if (!(std::isfinite(kT) && kT >= 0.0)) Fatal("gamma_T from kT: kT=%g MeV/c must be finite and >= 0\n", kT);
  return std::sqrt(M * M + 4.0 * kT * kT) / M;
}

double GammaTFromMT(double mT, double m1, double m2) {
  const double M = PairMass(m1, m2, "gamma_T from mT");
  if (!(std::isfinite(mT) && mT >= 0.5 * M))
    Fatal("gamma_T from mT: mT=%g MeV must be finite and at least the mean mass %g MeV\n", mT, 0.5 * M);
  return 2.0 * mT / M;
}

Table3D ReadTable3D(const std::string &filename) {
  LineReader in(filename, false);
  if (!in.IsOpen()) FatalFile(filename, "3D table %s: cannot open the file\n", filename.c_str());
  Table3D t;
  bool haveFrame = false, haveUnits = false, haveBinning = false;
  Axis axes[3];
  std::vector<char> seen;
  auto header = [&](const char *what) {
    FatalFile(filename, "%s: %s\n", in.Where().c_str(), what);
  };
  while (in.NextWithWords()) {
    const std::string_view first = in.Word(0);
    if (!first.empty() && first[0] == '#') {
      if (first != "#" || in.Size() < 2) continue;  // a comment
      const std::string_view key = in.Word(1);
      if (key != "frame" && key != "units" && key != "binning") continue;
      if (!seen.empty()) header("header lines (frame, units, binning) must come before the rows");
      if (key == "frame") {
        if (haveFrame) header("a second frame line");
        if (in.Size() != 3 && !(in.Size() == 5 && in.Word(3) == "gamma_T"))
          header("the frame line is '# frame PRF' or '# frame LCMS' (optionally 'gamma_T G')");
        if (in.Word(2) == "PRF")
          t.frame = Frame::PRF;
        else if (in.Word(2) == "LCMS")
          t.frame = Frame::LCMS;
        else
          header(("unknown frame " + QuotedWord(in.Word(2)) + " (PRF or LCMS)").c_str());
        if (in.Size() == 5) {
          t.gammaT = in.Number(4, "gamma_T");
          if (!(t.gammaT >= 1.0)) header(Format("gamma_T=%g is below 1", t.gammaT).c_str());
        }
        haveFrame = true;
      } else if (key == "units") {
        if (haveUnits) header("a second units line");
        if (in.Size() != 3 || in.Word(2) != "MeV/c") header("the units line is '# units MeV/c'");
        haveUnits = true;
      } else {
        if (haveBinning) header("a second binning line");
        in.ExpectWords(14, "the binning line '# binning q_out LO HI N q_side LO HI N q_long LO HI N'");
        for (int k = 0; k < 3; k++) {
          const std::size_t w = 2 + 4 * static_cast<std::size_t>(k);
          if (in.Word(w) != kAxes[k]) header(Format("the binning line names %s in place %d", kAxes[k], k + 1).c_str());
          const double lo = in.Number(w + 1, "lower edge"), hi = in.Number(w + 2, "upper edge");
          const long long n = in.Integer(w + 3, 1, kMaxBins, "number of bins");
          if (!(hi > 0.0)) header(Format("%s: the upper edge %g is not positive", kAxes[k], hi).c_str());
          if (lo == 0.0) {
            axes[k] = Axis{static_cast<int>(n), hi / static_cast<double>(n), true};
          } else if (std::fabs(lo + hi) <= 1e-9 * hi) {
            if (n % 2) header(Format("%s: %lld bins on [-%g, %g] are not an even number", kAxes[k], n, hi, hi).c_str());
            axes[k] = Axis{static_cast<int>(n / 2), 2.0 * hi / static_cast<double>(n), false};
          } else {
            header(Format("%s: the lower edge %g is neither 0 nor minus the upper edge %g", kAxes[k], lo, hi).c_str());
          }
        }
        haveBinning = true;
      }
      continue;
    }
    // A row.
    if (!haveFrame || !haveUnits || !haveBinning)
      header("a row before the header lines '# frame', '# units MeV/c' and '# binning'");
    if (seen.empty()) {
      std::uint64_t cells = 1;
      for (const Axis &a : axes) cells = SaturatingProduct(cells, static_cast<std::uint64_t>(a.half) * (a.symmetric ? 1 : 2));
      CheckTableSize(filename, "3D table " + filename, SaturatingProduct(cells, 3), sizeof(double));
      for (auto *p : {&t.cf, &t.error})
        *p = std::make_unique<C3DArray>(axes[0].half, axes[0].width, axes[1].half, axes[1].width, axes[2].half,
                                        axes[2].width, axes[0].symmetric, axes[1].symmetric, axes[2].symmetric);
      seen.assign(static_cast<std::size_t>(cells), 0);
    }
    in.ExpectWords(5, "a row 'q_out q_side q_long C error'");
    int s[3], i[3];
    for (int k = 0; k < 3; k++) {
      const double q = in.Number(static_cast<std::size_t>(k), kAxes[k]);
      if (!CellOf(axes[k], q, s[k], i[k]))
        FatalFile(filename, "%s: %s=%g is not a bin centre of the binning line\n", in.Where(static_cast<std::size_t>(k)).c_str(),
                  kAxes[k], q);
    }
    const double c = in.Number(3, "C"), e = in.Number(4, "error");
    if (!(e >= 0.0)) FatalFile(filename, "%s: the error %g is negative\n", in.Where(4).c_str(), e);
    std::size_t cell = 0;
    for (int k = 0; k < 3; k++)
      cell = (cell * (axes[k].symmetric ? 1 : 2) + static_cast<std::size_t>(s[k])) * static_cast<std::size_t>(axes[k].half) +
             static_cast<std::size_t>(i[k]);
    if (seen[cell]) FatalFile(filename, "%s: a second row for the cell at this centre\n", in.Where().c_str());
    seen[cell] = 1;
    t.cf->SetElement(s[0], i[0], s[1], i[1], s[2], i[2], c - 1.0);
    t.error->SetElement(s[0], i[0], s[1], i[1], s[2], i[2], e);
    t.rows++;
  }
  if (t.rows == 0) FatalFile(filename, "3D table %s: no rows (or no header)\n", filename.c_str());
  return t;
}

std::string Table3DText(const C3DArray &cf, const C3DArray *error, Frame frame, double gammaT,
                        const std::vector<std::string> &comments) {
  std::string text;
  for (const std::string &c : comments) text += "# " + c + "\n";
  text += std::string("# frame ") + FrameName(frame);
  if (gammaT > 0.0) text += Format(" gamma_T %.10g", gammaT);
  text += "\n# units MeV/c\n# binning";
  const int half[3] = {cf.GetNXMAX(), cf.GetNYMAX(), cf.GetNZMAX()};
  const double width[3] = {cf.GetDELX(), cf.GetDELY(), cf.GetDELZ()};
  const bool sym[3] = {cf.GetXSYM(), cf.GetYSYM(), cf.GetZSYM()};
  for (int k = 0; k < 3; k++) {
    const double hi = half[k] * width[k];
    text += Format(" %s %.10g %.10g %d", kAxes[k], sym[k] ? 0.0 : -hi, hi, sym[k] ? half[k] : 2 * half[k]);
  }
  text += "\n# q_out q_side q_long C error\n";
  for (int sx = 0; sx < (sym[0] ? 1 : 2); sx++)
    for (int ix = 0; ix < half[0]; ix++)
      for (int sy = 0; sy < (sym[1] ? 1 : 2); sy++)
        for (int iy = 0; iy < half[1]; iy++)
          for (int sz = 0; sz < (sym[2] ? 1 : 2); sz++)
            for (int iz = 0; iz < half[2]; iz++) {
              const double e = error ? error->GetElement(sx, ix, sy, iy, sz, iz) : 0.0;
              if (error && e == 0.0) continue;
              const double q[3] = {(sx ? -1 : 1) * (ix + 0.5) * width[0], (sy ? -1 : 1) * (iy + 0.5) * width[1],
                                   (sz ? -1 : 1) * (iz + 0.5) * width[2]};
              text += Format("%.10g %.10g %.10g %.10g %.10g\n", q[0], q[1], q[2],
                             1.0 + cf.GetElement(sx, ix, sy, iy, sz, iz), e);
            }
  return text;
}

void WriteTable3D(const std::string &filename, const C3DArray &cf, const C3DArray *error, Frame frame,
                  double gammaT, const std::vector<std::string> &comments) {
  const std::string text = Table3DText(cf, error, frame, gammaT, comments);
  FilePtr fp = OpenForWriting(filename);
  if (std::fwrite(text.data(), 1, text.size(), fp.get()) != text.size())
    FatalFile(filename, "3D table %s: cannot write the file\n", filename.c_str());
  CloseWritten(std::move(fp), filename);
}

std::unique_ptr<C3DArray> ScaledOut(const C3DArray &a, double factor) {
  if (!(std::isfinite(factor) && factor > 0.0)) Fatal("ScaledOut: the factor %g is not finite and positive\n", factor);
  auto b = std::make_unique<C3DArray>(a.GetNXMAX(), a.GetDELX() * factor, a.GetNYMAX(), a.GetDELY(), a.GetNZMAX(),
                                      a.GetDELZ(), a.GetXSYM(), a.GetYSYM(), a.GetZSYM());
  const std::array<int, 6> s = a.AllocatedShape();
  std::size_t n = 1;
  for (int v : s) n *= static_cast<std::size_t>(v);
  std::copy(a.Data(), a.Data() + n, b->Data());
  return b;
}

}  // namespace femtokit

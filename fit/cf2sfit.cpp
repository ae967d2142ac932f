#include "fit/cf2sfit.h"
#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/parametermap.h"
#include "fit/cfcalc.h"
#include "fit/feeddown.h"
#include "fit/smearing.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "math/misc.h"
#include "source/sourcecalc.h"

#include <array>
#include <cmath>
#include <utility>

void CParInfo::Set(const std::string &name_, double value_, double error_, double xmin_, double xmax_) {
  name = name_;
  value = value_;
  error = error_;
  xmin = xmin_;
  xmax = xmax_;
}

void CCF2SFit::Init() {
  if (npars < 1) femtokit::Fatal("CCF2SFit::Init: npars=%d, a fit needs at least one parameter\n", npars);
  ncalls = 0;
  bestchi2 = chi2 = 1.0e20;
  nfreepars = npars;
  lx = ly = lz = 0;
  randy = std::make_unique<CRandom>(-1234);
  par.assign(static_cast<size_t>(npars), CParInfo());
  ErrorMatrix.assign(static_cast<size_t>(npars), std::vector<double>(static_cast<size_t>(npars), 0.0));
  StepMatrix = ErrorMatrix;
  full_.assign(static_cast<size_t>(npars), 0.0);
  status = FitStatus();
  femtokit::Print("SFit Arrays Initialized\n");
}

int CCF2SFit::FindPar(const std::string &name) const {
  for (int i = 0; i < npars; i++)
    if (Misc::comparestrings(par[i].name, name)) return i;
  return -1;
}

void CCF2SFit::SetPar(const std::string &name, double value) {
  const int i = FindPar(name);
  if (i < 0) {
    femtokit::Warn("Can not set %s, parameter with that name does not exist\n", name.c_str());
    return;
  }
  par[i].value = value;
}

void CCF2SFit::FixPar(const std::string &name) {
  const int i = FindPar(name);
  if (i < 0 || i >= nfreepars) {
    femtokit::Warn("Par %s already fixed or does not exist\n", name.c_str());
    return;
  }
  if (i != nfreepars - 1) SwitchPars(i, nfreepars - 1);
  nfreepars--;
  par[nfreepars].fixed = true;
  femtokit::Print("Fixing par[%d], name=%s\n", nfreepars, par[nfreepars].name.c_str());
}

void CCF2SFit::FreePar(const std::string &name) {
  const int i = FindPar(name);
  if (i < nfreepars) {  // also i = -1
    femtokit::Warn("Par %s already free or does not exist\n", name.c_str());
    return;
  }
  if (i != nfreepars) SwitchPars(i, nfreepars);
  par[nfreepars].fixed = false;
  femtokit::Print("Freeing par[%d], name=%s\n", nfreepars, par[nfreepars].name.c_str());
  nfreepars++;
}

void CCF2SFit::SwitchPars(int i, int j) {
  if (i < 0 || i >= npars || j < 0 || j >= npars)
    femtokit::Fatal("CCF2SFit::SwitchPars(%d, %d): positions run from 0 to %d\n", i, j, npars - 1);
  if (i == j) return;
  std::swap(par[i], par[j]);
  for (auto *M : {&ErrorMatrix, &StepMatrix}) {
    std::swap((*M)[i], (*M)[j]);
    for (auto &row : *M) std::swap(row[i], row[j]);
  }
}

void CCF2SFit::SetL(int lx_, int ly_, int lz_) {
  lx = lx_;
  ly = ly_;
  lz = lz_;
}

void CCF2SFit::UseBestPars() {
  chi2 = bestchi2;
  for (auto &p : par) p.value = p.bestvalue;
}

void CCF2SFit::ReadData(const std::string &cfdir, const std::string &errordir) {
  CheckSetup();
  if (ndim == 1) {
    cexpCH->ReadAX(cfdir);
    cerrorCH->ReadAX(errordir);
  } else {
    cexp3D->ReadArray(cfdir);
    cerror3D->ReadArray(errordir);
  }
}

void CCF2SFit::CheckSetup() const {
  if (ndim != 1 && ndim != 3) femtokit::Fatal("CCF2SFit: ndim=%d, must be 1 or 3\n", ndim);
  if (npars < 1 || par.size() != static_cast<size_t>(npars))
    femtokit::Fatal("CCF2SFit: %d parameters but %zu records; call Init() after setting npars\n", npars, par.size());
  const bool harmonic = cexpCH && cerrorCH;
  const bool mesh = cexp3D && cerror3D && ctheory3D;
  if (!sourcecalc || !kernel || !sourceCH || !ctheoryCH || (ndim == 1 ? !harmonic : !mesh))
    femtokit::Fatal("CCF2SFit: the source calculator, kernel, source array or a correlation array is missing "
                    "(ndim=%d)\n",
                    ndim);
}

double CCF2SFit::GetChiSquared(const std::vector<double> &x) {
  if (x.size() < static_cast<size_t>(nfreepars))
    femtokit::Fatal("CCF2SFit::GetChiSquared: %zu values for %d free parameters\n", x.size(), nfreepars);
  return GetChiSquared(x.data());
}

double CCF2SFit::GetChiSquared(const double *x) {
  CheckSetup();
  ncalls++;
  for (int i = 0; i < npars; i++) full_[i] = i < nfreepars ? x[i] : par[i].value;
  if (femtokit::Shows(femtokit::Verbosity::Normal)) {
    std::string line = "In GetChiSquare, x[] = ";
    for (double v : full_) line += femtokit::Format("%g,", v);
    femtokit::Emit(femtokit::Verbosity::Normal, line + "\n");
  }
  for (int i = 0; i < npars; i++) {
    if (feeddown && feeddown->lambdas.count(par[i].name))
      feeddown->SetLambda(par[i].name, full_[i]);
    else
      parameter::set(sourcecalc->spars, par[i].name, full_[i]);
  }
  double c;
  if (ndim == 1) {
    sourcecalc->CalcS(lx, ly, lz, sourceCH);
    S2CF::s2c(lx, ly, lz, sourceCH, kernel, ctheoryCH);
    c = CFCalc::GetChiSquared(lx, ly, lz, cexpCH, cerrorCH, ApplySteps());
  } else {
    // Blast-wave and event-file fills add into the array.
    sourceCH->ZeroArray();
    sourcecalc->CalcS(sourceCH);
    S2CF::s2c(sourceCH, kernel, ctheoryCH);
    ctheoryCH->FillRemainderX();
    ArrayCalc::Calc3DArrayFromAExpArray(ctheoryCH, ctheory3D);
    c = CFCalc::GetChiSquared(cexp3D, cerror3D, ctheory3D);
  }
  if (c < bestchi2) {
    bestchi2 = c;
    for (int i = 0; i < npars; i++) par[i].bestvalue = full_[i];
  }
  return c;
}

CCHArray *CCF2SFit::ApplySteps() {
  if (!feeddown && !smearing) return ctheoryCH;
  if (lx != 0 || ly != 0 || lz != 0)
    femtokit::Fatal("CCF2SFit: feed-down and smearing act on the (0,0,0) component, not on (%d,%d,%d)\n", lx, ly, lz);
  auto shaped = [](std::unique_ptr<CCHArray> &owned, const CCHArray *like) {
    if (!owned || owned->GetNRADIAL() != like->GetNRADIAL() || owned->GetRADSTEP() != like->GetRADSTEP() ||
        owned->GetLMAX() != like->GetLMAX())
      owned = std::make_unique<CCHArray>(like->GetLMAX(), like->GetNRADIAL(), like->GetRADSTEP(), like->GetXSYM(),
                                         like->GetYSYM(), like->GetZSYM());
    return owned.get();
  };
  CCHArray *model = cmodelCH ? cmodelCH : shaped(model_, cexpCH);
  const CCHArray *stage = ctheoryCH;
  if (feeddown) {
    // Without smearing the decomposition lands on the measured mesh; before
    // smearing it stays on the true mesh.
    CCHArray *target = smearing ? shaped(decomposed_, ctheoryCH) : model;
    feeddown->Apply(stage, target);
    stage = target;
  }
  if (smearing) smearing->Apply(stage, model);
  return model;
}

const CCHArray *CCF2SFit::ComparedModel() const {
  if (!feeddown && !smearing) return ctheoryCH;
  return cmodelCH ? cmodelCH : model_.get();
}

int CCF2SFit::GetNBins() const {
  if (ndim == 1) {
    if (!cexpCH || !cerrorCH) return 0;
    int n = 0;
    for (int i = 0; i < cexpCH->GetNRADIAL(); i++) n += std::isinf(cerrorCH->GetElement(lx, ly, lz, i)) ? 0 : 1;
    return n;
  }
  if (!cexp3D) return 0;
  const int nsx = cexp3D->GetXSYM() ? 1 : 2, nsy = cexp3D->GetYSYM() ? 1 : 2, nsz = cexp3D->GetZSYM() ? 1 : 2;
  const int cells = nsx * cexp3D->GetNXMAX() * nsy * cexp3D->GetNYMAX() * nsz * cexp3D->GetNZMAX();
  if (!cerror3D) return cells;
  // Cells with error 0 were not measured (CFCalc leaves them out).
  const std::array<int, 6> shape = cerror3D->AllocatedShape();
  const long stored = 1L * shape[0] * shape[1] * shape[2] * shape[3] * shape[4] * shape[5];
  int measured = 0;
  for (long i = 0; i < stored; i++) measured += cerror3D->Data()[i] != 0.0;
  return stored == cells ? measured : cells;
}

void CCF2SFit::PrintPars() const {
  std::string text = "ipar        name     value       error       min         max     fixed\n";
  for (int i = 0; i < npars; i++)
    text += femtokit::Format("%2d : %12s %11.4e %11.4e %11.4e %11.4e  %d\n", i, par[i].name.c_str(), par[i].value,
                             par[i].error, par[i].xmin, par[i].xmax, par[i].fixed ? 1 : 0);
  femtokit::Emit(femtokit::Verbosity::Normal, text);
}

std::string CCF2SFit::MatrixTable(const char *heading, const std::vector<std::vector<double>> &M) const {
  std::string text = femtokit::Format("%s\n", heading);
  for (const auto &row : M) {
    for (double v : row) text += femtokit::Format("%9.2e ", v);
    text += "\n";
  }
  return text + "___________________________________\n";
}

void CCF2SFit::PrintErrorMatrix() const {
  femtokit::Emit(femtokit::Verbosity::Normal, MatrixTable("________ < delX_i delX_j > ________", ErrorMatrix));
}

void CCF2SFit::PrintStepMatrix() const {
  femtokit::Emit(femtokit::Verbosity::Normal, MatrixTable("________ < StepMatrix_ij > ________", StepMatrix));
}

void CCF2SFit::NarrowBoundsToModel() {
  const femtokit::SourceModel *model = sourcecalc ? sourcecalc->Model() : nullptr;
  if (!model) return;
  for (CParInfo &p : par)
    if (const femtokit::SourceParameter *m = model->Find(p.name)) {
      p.xmin = std::max(p.xmin, m->minOpen ? std::nextafter(m->min, HUGE_VAL) : m->min);
      p.xmax = std::min(p.xmax, m->maxOpen ? std::nextafter(m->max, -HUGE_VAL) : m->max);
    }
}

const char *FitStatus::CodeName() const {
  switch (code) {
    case Code::Converged:
      return "converged";
    case Code::AtBound:
      return "at a bound";
    default:
      return "failed";
  }
}

std::string FitStatus::Text() const {
  std::string text = CodeName();
  return reason.empty() ? text : text + ": " + reason;
}

void CCF2SFit::UpdateBoundStatus() {
  status.atlower.assign(static_cast<size_t>(npars), false);
  status.atupper.assign(static_cast<size_t>(npars), false);
  std::string where;
  for (int i = 0; i < nfreepars; i++) {
    const CParInfo &p = par[i];
    status.atlower[i] = p.value <= p.xmin;
    status.atupper[i] = !status.atlower[i] && p.value >= p.xmax;
    if (status.atlower[i] || status.atupper[i])
      where += femtokit::Format("%s%s = %g (%s bound)", where.empty() ? "" : ", ", p.name.c_str(), p.value,
                                status.atlower[i] ? "lower" : "upper");
  }
  if (status.code == FitStatus::Code::Converged && !where.empty()) {
    status.code = FitStatus::Code::AtBound;
    status.reason = where;
  } else if (status.code == FitStatus::Code::AtBound && where.empty()) {
    status.code = FitStatus::Code::Converged;
    status.reason.clear();
  }
}

std::string CCF2SFit::FitTable() const {
  std::string text = "        name        value        error  free\n";
  for (int i = 0; i < npars; i++) {
    const CParInfo &p = par[i];
    const char *bound = "";
    if (i < nfreepars) bound = p.value <= p.xmin ? "  at lower bound" : p.value >= p.xmax ? "  at upper bound" : "";
    const std::string error = i < nfreepars && status.errorsvalid ? femtokit::Format("%11.4e", p.error) : "-";
    text += femtokit::Format("%12s  %11.4e  %11s  %4s%s\n", p.name.c_str(), p.value, error.c_str(),
                             p.fixed ? "no" : "yes", bound);
  }
  const int bins = GetNBins(), dof = bins - nfreepars;
  text += femtokit::Format("chi^2=%g, bins=%d, dof=%d", chi2, bins, dof);
  if (dof > 0) text += femtokit::Format(", chi^2/dof=%.4g", chi2 / dof);
  return text + "\nstatus: " + status.Text() + "\n";
}

void CCF2SFit::PrintFitTable() const { femtokit::Emit(femtokit::Verbosity::Normal, FitTable()); }

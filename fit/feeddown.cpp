#include "fit/feeddown.h"

#include <cctype>
#include <cmath>

#include "arrays/charray.h"
#include "config/fatal.h"

namespace {

const int kMaxResiduals = 100;

bool ValidName(const std::string &name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

}  // namespace

CFeedDown::CFeedDown(const std::string &parsfilename) : parsfile(parsfilename) {
  const char *pf = parsfile.c_str();
  parameter::set(pars, "lambdaGen", 1.0);
  parameter::set(pars, "NRESIDUALS", 0);
  parameter::set(pars, "UNITS", "q_MeV");
  parameter::set(pars, "MATRIXTYPE", "conditional");
  parameter::set(pars, "PAIRDENSITY", "phasespace");
  parameter::set(pars, "NORMTOLERANCE", 1e-3);
  parameter::set(pars, "LAMBDATOLERANCE", 1e-5);
  parameter::set(pars, "REMAINDER", "none");
  parameter::ReadParsFromFile(pars, parsfile);

  lambdatolerance = parameter::getD(pars, "LAMBDATOLERANCE", 1e-5);
  const double normtolerance = parameter::getD(pars, "NORMTOLERANCE", 1e-3);
  parameter::set(lambdas, "lambdaGen", parameter::getD(pars, "lambdaGen", 1.0));

  const int n = parameter::getI(pars, "NRESIDUALS", 0);
  if (n < 0 || n > kMaxResiduals)
    femtokit::FatalFile(parsfile, "%s: NRESIDUALS=%d, it must lie in 0..%d\n", pf, n, kMaxResiduals);
  residuals.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    Residual &r = residuals[static_cast<size_t>(i)];
    const std::string prefix = "RESIDUAL" + std::to_string(i) + "_";
    // A residual's own setting, else the file-wide one.
    auto setting = [&](const std::string &key) {
      return parameter::getS(pars, prefix + key, parameter::getS(pars, key, ""));
    };
    r.name = parameter::getS(pars, prefix + "NAME", "");
    if (!ValidName(r.name))
      femtokit::FatalFile(parsfile, "%s: %sNAME is missing or holds other than letters, digits and '_'\n", pf,
                          prefix.c_str());
    for (int k = 0; k < i; ++k)
      if (residuals[static_cast<size_t>(k)].name == r.name)
        femtokit::FatalFile(parsfile, "%s: two residuals are named %s\n", pf, r.name.c_str());
    r.key = LambdaKey(r.name);
    if (r.key.size() > 19)
      femtokit::Warn("WARNING: %s: the lambda key %s is longer than the 19 characters a fit parameter name holds\n", pf,
                     r.key.c_str());
    parameter::set(lambdas, r.key, parameter::getD(pars, r.key, 0.0));

    const std::string type = parameter::getS(pars, prefix + "TYPE", "");
    if (type == "flat") {
      r.type = Type::Flat;
    } else if (type == "direct") {
      r.type = Type::Direct;
    } else if (type == "matrix") {
      r.type = Type::Matrix;
      const std::string file = parameter::getS(pars, prefix + "MATRIX", "");
      if (file.empty())
        femtokit::FatalFile(parsfile, "%s: residual %s needs %sMATRIX\n", pf, r.name.c_str(), prefix.c_str());
      const double factor = QMesh::MomentumUnitFactor(setting("UNITS"), parsfile);
      const CQMatrix::Type mtype = QMesh::MatrixType(setting("MATRIXTYPE"), parsfile);
      const std::string density = setting("PAIRDENSITY");
      QMesh::PairDensity(density, 0, parsfile);  // checks the name before the matrix is read
      CQMatrix t;
      t.Read(QMesh::ResolvePath(parsfile, file), factor, mtype, normtolerance);
      r.map =
          t.RowNormalised(mtype == CQMatrix::Type::Counts ? std::vector<double>(static_cast<size_t>(t.GetNCols()), 1.0)
                                                          : QMesh::PairDensity(density, t.GetNCols(), parsfile));
    } else {
      femtokit::FatalFile(parsfile, "%s: %sTYPE '%s' of residual %s: use flat, direct or matrix\n", pf, prefix.c_str(),
                          type.c_str(), r.name.c_str());
    }
  }

  const std::string rest = parameter::getS(pars, "REMAINDER", "none");
  if (rest != "none") {
    for (int i = 0; i < n; ++i)
      if (residuals[static_cast<size_t>(i)].name == rest && residuals[static_cast<size_t>(i)].type == Type::Flat)
        remainder = i;
    if (remainder < 0) femtokit::FatalFile(parsfile, "%s: REMAINDER %s names no flat residual\n", pf, rest.c_str());
  }
  CheckLambdas();

  femtokit::Print("feed-down decomposition from %s: lambdaGen=%g\n", pf, lambda[0]);
  for (int i = 0; i < n; ++i) {
    const Residual &r = residuals[static_cast<size_t>(i)];
    std::string what = r.type == Type::Flat ? "flat" : r.type == Type::Direct ? "direct" : "";
    if (r.type == Type::Matrix)
      what = femtokit::Format("matrix %s: %d daughter bins of %g MeV/c from %d parent bins of %g MeV/c",
                              r.map.GetFileName().c_str(), r.map.GetNRows(), r.map.GetRowStep(), r.map.GetNCols(),
                              r.map.GetColStep());
    femtokit::Print("  residual %s (%s): %s=%g%s\n", r.name.c_str(), what.c_str(), r.key.c_str(),
                    lambda[static_cast<size_t>(i) + 1], i == remainder ? " (remainder)" : "");
  }
}

double CFeedDown::CheckLambdas() {
  const char *pf = parsfile.c_str();
  const size_t n = residuals.size();
  lambda.assign(n + 1, 0.0);
  lambda[0] = parameter::getD(lambdas, "lambdaGen", 0.0);
  double others = lambda[0];
  for (size_t i = 0; i < n; ++i) {
    lambda[i + 1] = parameter::getD(lambdas, residuals[i].key, 0.0);
    if (static_cast<int>(i) != remainder) others += lambda[i + 1];
  }
  auto listing = [&]() {
    std::string text = femtokit::Format("lambdaGen=%g", lambda[0]);
    for (size_t i = 0; i < n; ++i) text += femtokit::Format(", %s=%g", residuals[i].key.c_str(), lambda[i + 1]);
    return text;
  };
  for (size_t i = 0; i <= n; ++i)
    if (static_cast<int>(i) - 1 != remainder && !(lambda[i] >= 0.0))
      femtokit::FatalFile(parsfile, "%s: lambda's must not be negative (%s)\n", pf, listing().c_str());
  if (remainder >= 0) {
    const double rest = 1.0 - others;
    if (rest < -lambdatolerance)
      femtokit::FatalFile(parsfile, "%s: the lambda's other than the remainder %s sum to %.8g, more than 1 (%s)\n", pf,
                          residuals[static_cast<size_t>(remainder)].name.c_str(), others, listing().c_str());
    lambda[static_cast<size_t>(remainder) + 1] = rest > 0.0 ? rest : 0.0;
    parameter::set(lambdas, residuals[static_cast<size_t>(remainder)].key, lambda[static_cast<size_t>(remainder) + 1]);
    return others + lambda[static_cast<size_t>(remainder) + 1];
  }
  if (!(std::fabs(others - 1.0) <= lambdatolerance))
    femtokit::FatalFile(parsfile,
                        "%s: the lambda's sum to %.8g, not 1 within %g (%s); every measured pair is genuine or of "
                        "one residual kind (flat for misidentified ones), so their fractions add up to 1\n",
                        pf, others, lambdatolerance, listing().c_str());
  return others;
}

CFeedDown::Residual &CFeedDown::Find(const std::string &name) {
  for (Residual &r : residuals)
    if (r.name == name) return r;
  femtokit::FatalFile(parsfile, "%s: no residual is named %s\n", parsfile.c_str(), name.c_str());
}

void CFeedDown::SetParentCorrelation(const std::string &name, const CCHArray *parent) {
  Residual &r = Find(name);
  if (r.type == Type::Flat)
    femtokit::FatalFile(parsfile, "%s: residual %s is flat and has no parent correlation\n", parsfile.c_str(),
                        name.c_str());
  r.parent = parent;
}

void CFeedDown::SetLambda(const std::string &key, double value) {
  if (!lambdas.count(key)) femtokit::FatalFile(parsfile, "%s: no lambda is named %s\n", parsfile.c_str(), key.c_str());
  parameter::set(lambdas, key, value);
}

double CFeedDown::GetLambda(const std::string &key) const {
  if (!lambdas.count(key)) femtokit::FatalFile(parsfile, "%s: no lambda is named %s\n", parsfile.c_str(), key.c_str());
  return parameter::getD(lambdas, key, 0.0);
}

void CFeedDown::ResidualValues(Residual &r, const CCHArray *out) {
  const int nout = out->GetNRADIAL();
  scratchres.assign(static_cast<size_t>(nout), 0.0);
  if (r.type == Type::Flat) return;
  const std::string what = "feed-down residual " + r.name;
  if (!r.parent)
    femtokit::FatalFile(parsfile, "%s: %s has a lambda but no parent correlation (SetParentCorrelation)\n",
                        parsfile.c_str(), what.c_str());
  if (r.type == Type::Direct) {
    if (!QMesh::SameStep(r.parent->GetRADSTEP(), out->GetRADSTEP()) || r.parent->GetNRADIAL() < nout)
      femtokit::FatalFile(parsfile,
                          "%s (%s): the parent array's q mesh (%d bins of %g MeV/c) must have the measured array's "
                          "bin width and at least its %d bins of %g MeV/c\n",
                          what.c_str(), parsfile.c_str(), r.parent->GetNRADIAL(), r.parent->GetRADSTEP(), nout,
                          out->GetRADSTEP());
    for (int i = 0; i < nout; ++i) scratchres[static_cast<size_t>(i)] = r.parent->GetElement(0, 0, 0, i);
    return;
  }
  r.map.CheckArrays(r.parent, "parent", out, "measured", what, r.map.GetFileName());
  QMesh::ReadComponent(r.parent, scratchpar);
  r.map.Multiply(scratchpar.data(), scratchres.data(), nout);
}

void CFeedDown::GetResidualCorrelation(const std::string &name, CCHArray *out) {
  ResidualValues(Find(name), out);
  for (int i = 0; i < out->GetNRADIAL(); ++i) out->SetElement(0, 0, 0, i, scratchres[static_cast<size_t>(i)]);
}

void CFeedDown::Apply(const CCHArray *in, CCHArray *out) {
  CheckLambdas();
  const int nout = out->GetNRADIAL();
  if (!QMesh::SameStep(in->GetRADSTEP(), out->GetRADSTEP()) || in->GetNRADIAL() < nout)
    femtokit::FatalFile(parsfile,
                        "feed-down (%s): the genuine correlation's q mesh (%d bins of %g MeV/c) must have the measured "
                        "array's bin width and at least its %d bins of %g MeV/c\n",
                        parsfile.c_str(), in->GetNRADIAL(), in->GetRADSTEP(), nout, out->GetRADSTEP());
  QMesh::ReadComponent(in, scratchin);
  result.resize(static_cast<size_t>(nout));
  for (int i = 0; i < nout; ++i) result[static_cast<size_t>(i)] = lambda[0] * scratchin[static_cast<size_t>(i)];
  for (size_t k = 0; k < residuals.size(); ++k) {
    Residual &r = residuals[k];
    if (r.type == Type::Flat || lambda[k + 1] == 0.0) continue;
    ResidualValues(r, out);
    for (int i = 0; i < nout; ++i) result[static_cast<size_t>(i)] += lambda[k + 1] * scratchres[static_cast<size_t>(i)];
  }
  for (int i = 0; i < nout; ++i) out->SetElement(0, 0, 0, i, result[static_cast<size_t>(i)]);
}

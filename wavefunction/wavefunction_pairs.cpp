#include "wavefunction/wavefunction_pairs.h"

#include "config/fatal.h"

#include <algorithm>
#include "wavefunction/internal/imposedmesh.h"
#include "wavefunction/wavefunction_generic.h"
#include "wavefunction/wavefunction_nn.h"
#include "wavefunction/wavefunction_pipluspiminus.h"
#include "wavefunction/wavefunction_pkplus.h"
#include "wavefunction/wavefunction_pp.h"
#include "wavefunction/wavefunction_ppiplus.h"

#include <map>

namespace femtokit {

namespace {
[[noreturn]] void UnknownPair(const std::string &pair) {
  std::string names;
  for (const std::string &n : PairNames()) names += (names.empty() ? "" : ", ") + n;
  Fatal("unknown pair \"%s\"; the pairs are %s, or generic (a pair from its parameter file)\n", pair.c_str(),
        names.c_str());
}
}  // namespace

const std::vector<std::string> &PairNames() {
  static const std::vector<std::string> names = {"pp", "pkplus", "ppiplus", "pipluspiminus", "nn"};
  return names;
}

const std::vector<std::string> &FilePairNames() {
  static const std::vector<std::string> names = {"pipluspiplus", "kpluskplus", "plambda", "lambdalambda"};
  return names;
}

std::string CanonicalPairName(const std::string &name) {
  static const std::map<std::string, std::string> aliases = {
      {"pK+", "pkplus"},          {"pk+", "pkplus"},          {"pKplus", "pkplus"},
      {"ppi+", "ppiplus"},        {"pπ+", "ppiplus"},         {"pi+pi-", "pipluspiminus"},
      {"π+π−", "pipluspiminus"},  {"π+π-", "pipluspiminus"},  {"pi+pi+", "pipluspiplus"},
      {"π+π+", "pipluspiplus"},   {"K+K+", "kpluskplus"},     {"pLambda", "plambda"},
      {"pΛ", "plambda"},          {"LambdaLambda", "lambdalambda"}, {"ΛΛ", "lambdalambda"}};
  auto it = aliases.find(name);
  return it == aliases.end() ? name : it->second;
}

std::unique_ptr<CWaveFunction> MakeWaveFunction(const std::string &pair, const std::string &parsfilename) {
  if (pair == "pp") return std::make_unique<CWaveFunction_pp>(parsfilename);
  if (pair == "pkplus") return std::make_unique<CWaveFunction_pkplus>(parsfilename);
  if (pair == "ppiplus") return std::make_unique<CWaveFunction_ppiplus>(parsfilename);
  if (pair == "pipluspiminus") return std::make_unique<CWaveFunction_pipluspiminus>(parsfilename);
  if (pair == "nn") return std::make_unique<CWaveFunction_nn>(parsfilename);
  if (pair == "generic") return std::make_unique<CWaveFunction_generic>(parsfilename);
  UnknownPair(pair);
}

std::unique_ptr<CWaveFunction> MakeWaveFunction(const std::string &pair, const std::string &parsfilename, int nq,
                                                double dq) {
  const internal::ImposedQMesh mesh(nq, dq);
  return MakeWaveFunction(pair, parsfilename);
}

void PairQRange(const std::string &pair, const std::string &parsfilename, double &qmin, double &qmax) {
  qmin = CWaveFunction::QMIN;
  qmax = CWaveFunction::QMAX;
  if (pair != "generic") {
    for (const std::string &n : PairNames())
      if (n == pair) return;
    UnknownPair(pair);
  }
  double lo, hi;
  if (CWaveFunction_generic::PhaseTableRange(parsfilename, lo, hi)) {
    qmin = std::max(qmin, lo);
    qmax = std::min(qmax, hi);
  }
}

bool PairIsIdentical(const std::string &pair) {
  if (pair == "generic") Fatal("the generic pair's symmetry is in its parameter file\n");
  if (pair == "pp" || pair == "nn") return true;
  for (const std::string &n : PairNames())
    if (n == pair) return false;
  UnknownPair(pair);
}

bool PairIsIdentical(const std::string &pair, const CWaveFunction &wf) {
  if (pair != "generic") return PairIsIdentical(pair);
  const auto *generic = dynamic_cast<const CWaveFunction_generic *>(&wf);
  if (generic == nullptr) Fatal("PairIsIdentical: the wave function is no generic pair\n");
  return generic->GetIDENTICAL();
}

}  // namespace femtokit

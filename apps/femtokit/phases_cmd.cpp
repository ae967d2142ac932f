// femtokit phases: what a pair's channels do, as phase shifts and scattering parameters.
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "config/output.h"
#include "wavefunction/wavefunction_generic.h"

namespace fs = std::filesystem;

namespace fkcli {

namespace {

struct PhasesOptions {
  Common common;
  std::string pair, out = "-";
  double qmax = 300.0, dq = 5.0;
};

void RunPhases(PhasesOptions &o) {
  ApplyCommon(o.common);
  std::string file;
  if (fs::is_regular_file(o.pair))
    file = o.pair;
  else if (fs::is_regular_file(DataDir() + "/" + o.pair + "/wfparameters.dat"))
    file = DataDir() + "/" + o.pair + "/wfparameters.dat";
  else
    ArgumentError("PAIR " + o.pair, "expected a generic pair's parameter file or the name of its data/ directory");
  if (o.dq > o.qmax) ArgumentError("--dq", "the step exceeds --qmax");
  std::vector<double> mesh;
  for (int i = 1; i * o.dq <= o.qmax * (1 + 1e-12); i++) mesh.push_back(i * o.dq);
  if (mesh.size() > 10000) ArgumentError("--dq", "more than 10000 momenta up to --qmax");
  const CWaveFunction_generic wf(file, mesh);
  // Scattering parameters from the phases at 0.5 and 1 MeV/c.
  const CWaveFunction_generic low(file, std::vector<double>{0.5, 1.0});

  Table t;
  t.comments.push_back("phase shifts of " + file + " (relative to the Coulomb waves where charged)");
  t.comments.push_back("q in MeV/c (one particle in the pair frame), delta in degrees");
  for (int ic = 0; ic < wf.GetNChannels(); ic++) {
    char line[512];
    std::snprintf(line, sizeof line, "channel %d: l=%d, weight %g, %s", ic, wf.GetEll(ic), wf.GetChannelWeight(ic),
                  wf.DescribeChannel(ic).c_str());
    t.comments.push_back(line);
    if (wf.GetEll(ic) == 0 && wf.GetSTRONG()) {
      double a, reff;
      low.FitEffectiveRange(ic, &a, &reff);
      std::snprintf(line, sizeof line,
                    "  particle-physics sign: a = %.5g fm, r = %.5g fm (k cot delta = -1/a + r k^2/2%s); "
                    "femtoscopy sign: f0 = %.5g fm, d0 = %.5g fm (f0 > 0 attractive)",
                    a, reff, wf.GetQ1Q2() != 0 ? ", Coulomb-modified" : "", -a, reff);
      t.comments.push_back(line);
    }
  }
  t.columns.push_back("q");
  for (int ic = 0; ic < wf.GetNChannels(); ic++) t.columns.push_back("delta_" + std::to_string(ic));
  for (int iq = 0; iq < wf.GetNQMAX(); iq++) {
    std::vector<double> row{wf.GetQ(iq)};
    for (int ic = 0; ic < wf.GetNChannels(); ic++) row.push_back(wf.GetDelta(ic, iq) * 180.0 / M_PI);
    t.rows.push_back(row);
  }
  WriteTable(o.out, t);
}

}  // namespace

void AddPhases(CLI::App &app) {
  auto o = std::make_shared<PhasesOptions>();
  CLI::App *sub = app.add_subcommand("phases", "Phase shifts and scattering parameters of a pair's channels");
  sub->add_option("PAIR", o->pair, "A generic pair's parameter file, or the name of its data/ directory (plambda_usmani, ...)")
      ->required();
  sub->add_option("-o,--output", o->out, "Table to write ('-': standard output)")->type_name("FILE");
  sub->add_option("--qmax", o->qmax, "Highest q, MeV/c [300]")->type_name("MEV")->check(Positive());
  sub->add_option("--dq", o->dq, "q step, MeV/c [5]")->type_name("MEV")->check(Positive());
  AddCommon(sub, o->common, true);
  sub->footer(
      "Prints, for a pair from a parameter file, each channel's phase shift delta(q) in degrees from dq to qmax\n"
      "and, for S waves, the scattering length and effective range fitted to the phases at q = 0.5 and\n"
      "1 MeV/c, in the particle-physics sign (k cot delta = -1/a + r k^2/2, a < 0 attractive without a bound\n"
      "state) and the femtoscopy sign (f0 = -a > 0 attractive, d0 = r). Charged pairs: the Coulomb-modified\n"
      "expansion for phases relative to the Coulomb waves.\n\n"
      "Examples:\n"
      "  femtokit phases plambda_usmani\n"
      "  femtokit phases data/plambda/wfparameters.dat --qmax 100 --dq 2 -o plambda_phases.dat");
  sub->callback([o] { RunPhases(*o); });
}

}  // namespace fkcli

// femtokit run: the main job's pipeline with its paths and the noise seed as options.
#include "apps/femtokit/cli.h"
#include "apps/mainjob_noise.h"

#include "arrays/charray.h"
#include "config/output.h"
#include "fit/cfcalc.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "math/random.h"
#include "source/sourcecalc.h"

#include <random>

namespace fkcli {
namespace {

struct RunOptions {
  Common common;
  Settings settings;
  std::string parameters = "../parameters/pp", kernel = "../../kdata/pp", cfout = "GX1d/pp",
              errorsout = "GX1d/pp_errors", table;
  long long seed = 0;
  bool seeded = false;
};

void RunRun(RunOptions &o) {
  ApplyCommon(o.common);
  int seed;
  if (o.seeded) {
    seed = static_cast<int>(o.seed);
  } else {
    // Fresh entropy: two runs started within one second still draw different noise.
    std::random_device device;
    seed = static_cast<int>(device() & 0x7fffffff);
    Status(o.common, "noise seed %d (repeat this run with --seed %d)\n", seed, seed);
  }
  CRandom randy(seed);

  CCHArray source(o.parameters + "/aparsCH_source.dat");
  CCHArray cfexp(o.parameters + "/aparsCH_CF.dat");
  CCHArray cftheory(o.parameters + "/aparsCH_CF.dat");
  CCHArray cferror(o.parameters + "/aparsCH_CF.dat");
  CKernel kernel(o.parameters + "/kparameters.dat");
  kernel.Read(o.kernel);

  // The main job's source, GX1D with lambdaG 0.6, R 5 fm, lambdaX 0, X 10 fm, a 5 fm, unless --set/--pars.
  std::unique_ptr<CSourceCalc> model =
      MakeSource("gx1d", o.settings, "", {{"lambdaG", 0.6}, {"R", 5.0}, {"lambdaX", 0.0}, {"X", 10.0}, {"a", 5.0}});
  model->CalcS(&source);
  S2CF::s2c(&source, &kernel, &cftheory);

  AddMainJobNoise(cftheory, cfexp, cferror, randy);
  const double chisquare = CFCalc::GetChiSquared(0, 0, 0, &cfexp, &cferror, &cftheory);
  std::printf("chisquare=%g\n", chisquare);
  std::fflush(stdout);

  cfexp.WriteAX(o.cfout);
  cferror.WriteAX(o.errorsout);
  if (!o.table.empty()) {
    Table t;
    t.comments = {"femtokit run: the main job's noisy correlation function and the exact one",
                  "source: gx1d " + DescribeSource(*model),
                  femtokit::Format("noise seed %d; error 0.05/(iq+1); chisquare=%g", seed, chisquare),
                  "kernel: " + o.kernel + " (" + DescribeKernel(kernel) + ")",
                  "q: MeV/c; C_exp and error: the noisy C(q); C_theory: the exact C(q) (angular averages)"};
    t.columns = {"q", "C_exp", "error", "C_theory"};
    for (int iq = 0; iq < cfexp.GetNRADIAL(); iq++)
      t.rows.push_back({(iq + 0.5) * cfexp.GetRADSTEP(), 1.0 + cfexp.GetElement(0, 0, 0, iq),
                        cferror.GetElement(0, 0, 0, iq), 1.0 + cftheory.GetElement(0, 0, 0, iq)});
    WriteTable(o.table, t);
  }
  Status(o.common, "noisy C(q) - 1 written to %s, errors to %s%s%s\n", o.cfout.c_str(), o.errorsout.c_str(),
         o.table.empty() ? "" : ", table to ", o.table.c_str());
}

}  // namespace

void AddRun(CLI::App &app) {
  auto o = std::make_shared<RunOptions>();
  CLI::App *sub = app.add_subcommand("run", "The main job with its paths and noise seed as options");
  sub->add_option("--parameters,-p", o->parameters,
                  "Directory of aparsCH_source.dat, aparsCH_CF.dat and kparameters.dat")
      ->type_name("DIR")
      ->capture_default_str();
  sub->add_option("--kernel,-k", o->kernel, "Kernel directory")->type_name("DIR")->capture_default_str();
  sub->add_option("--cf-out", o->cfout, "Array directory of the noisy C(q) - 1")->type_name("DIR")->capture_default_str();
  sub->add_option("--errors-out", o->errorsout, "Array directory of its errors")->type_name("DIR")->capture_default_str();
  sub->add_option("--seed", o->seed, "Noise seed (an integer; the same seed repeats a run exactly)")
      ->type_name("INT")
      ->check(Integer(-2147483647LL, 2147483647LL))
      ->each([o](const std::string &) { o->seeded = true; });
  sub->add_option("-o,--output", o->table, "Also write a table: q (MeV/c), C_exp, error, C_theory")->type_name("FILE");
  AddSettings(sub, o->settings,
              "A parameter of the GX1D source, NAME=VALUE: lambdaG, R (fm), lambdaX, X (fm), a (fm)",
              "Parameter file of the GX1D source; --set overrides it");
  AddCommon(sub, o->common, false);
  sub->footer(std::string("The main job: a Gaussian source (GX1D, lambdaG = 0.6, R = 5 fm) transformed into C(q) - 1 through a\n"
      "kernel, Gaussian noise of size 0.05/(iq+1) added to its independent components, chi^2 between the\n"
      "noisy and the exact function printed (chisquare=...), both written as array directories. With the\n"
      "same --seed it writes exactly what femtodriver writes with FEMTOKIT_SEED; without --seed each run\n"
      "draws a fresh seed and says which. Paths default to femtodriver's, seen from run/work.") + "\n\n" + 
      "Example (from the repository, after scripts/run.sh computed kdata/pp):\n"
      "  femtokit run -p data/pp -k kdata/pp --cf-out out/pp --errors-out out/pp_errors --seed 7 -o run.dat");
  sub->callback([o] { RunRun(*o); });
}

}  // namespace fkcli

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

#include <filesystem>
#include <random>

namespace fkcli {
namespace {

// femtodriver's paths, seen from run/work.
const char *const kDriverParameters = "../parameters/pp";
const char *const kDriverKernel = "../../kdata/pp";

struct RunOptions {
  Common common;
  Settings settings;
  std::string parameters = kDriverParameters, kernel = kDriverKernel, cfout = "GX1d/pp", errorsout = "GX1d/pp_errors",
              table;
  long long seed = 0;
  bool seeded = false, parametersgiven = false, kernelgiven = false;
};

// The paths not given: femtodriver's when they exist (run/work), else the
// shipped parameter files and the source tree's kernel (kdata/pp, which
// scripts/run.sh and 'femtokit kernel pp -o kdata/pp' compute).
void ResolveDefaults(RunOptions &o) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!o.parametersgiven && !fs::is_directory(o.parameters, ec)) o.parameters = DataDir() + "/pp";
  if (!o.kernelgiven && !fs::is_directory(o.kernel, ec)) {
    const std::string tree = (fs::path(DataDir()).parent_path() / "kdata" / "pp").string();
    if (!fs::is_directory(tree, ec))
      ArgumentError("--kernel",
                    "no kernel directory given, and neither " + std::string(kDriverKernel) + " nor " + tree +
                        " exists; compute it with 'femtokit kernel pp -o " + tree + "' or give --kernel DIR");
    o.kernel = tree;
  }
}

void RunRun(RunOptions &o) {
  ApplyCommon(o.common);
  ResolveDefaults(o);
  CheckDirectoryOutput("--cf-out", o.cfout);
  CheckDirectoryOutput("--errors-out", o.errorsout);
  CheckTableOutput("--output", o.table);

  CCHArray source(o.parameters + "/aparsCH_source.dat");
  CCHArray cfexp(o.parameters + "/aparsCH_CF.dat");
  CCHArray cftheory(o.parameters + "/aparsCH_CF.dat");
  CCHArray cferror(o.parameters + "/aparsCH_CF.dat");
  CKernel kernel(o.parameters + "/kparameters.dat");
  kernel.Read(o.kernel);

  // The seed is drawn (and shown) once the inputs are read: a run that cannot start shows none.
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
                  "Directory of aparsCH_source.dat, aparsCH_CF.dat and kparameters.dat; when the default is "
                  "missing, the shipped data/pp")
      ->type_name("DIR")
      ->capture_default_str()
      ->each([o](const std::string &) { o->parametersgiven = true; });
  sub->add_option("--kernel,-k", o->kernel, "Kernel directory; when the default is missing, the source tree's kdata/pp")
      ->type_name("DIR")
      ->capture_default_str()
      ->each([o](const std::string &) { o->kernelgiven = true; });
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
      "draws a fresh seed and says which. Paths default to femtodriver's, seen from run/work; elsewhere\n"
      "to the shipped parameter files (data/pp) and the source tree's kernel (kdata/pp).") + "\n\n" + 
      "Example (from the repository, after scripts/run.sh computed kdata/pp):\n"
      "  femtokit run -p data/pp -k kdata/pp --cf-out out/pp --errors-out out/pp_errors --seed 7 -o run.dat");
  sub->callback([o] { RunRun(*o); });
}

}  // namespace fkcli

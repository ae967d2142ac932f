// Computes the kernel of any pair with a wave function and writes it as a
// kernel data directory.
//
//   pairkernel <pair> <wfparameters> <kparameters> <outdir> [R]
//
// pair is one of pp, pkplus, ppiplus, pipluspiminus, nn, or generic: a pair
// described entirely by its parameter file (CWaveFunction_generic; the
// shipped pipluspiplus, kpluskplus, plambda and lambdalambda are such
// files). The wave function is built from the wave-function parameter file,
// the kernel mesh from the kernel parameter file; K_l(q, r) is projected from
// |psi|^2 and written into outdir,
// which CKernel::Read takes back. With R (fm) the program also prints the
// correlation function C(q) of a Gaussian source exp(-r^2/4R^2)/(4 pi R^2)^(3/2)
// on the kernel's mesh, and the part of the source's norm that the r mesh holds.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

#include "config/numberreader.h"
#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction_pairs.h"

int main(int argc, char **argv) {
  if (argc != 5 && argc != 6)
    femtokit::Fatal("usage: pairkernel <pair> <wfparameters> <kparameters> <outdir> [R]\n");
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
  const std::string pair = argv[1];

  const Clock::time_point t0 = Clock::now();
  std::unique_ptr<CWaveFunction> wf = femtokit::MakeWaveFunction(pair, argv[2]);
  const Clock::time_point t1 = Clock::now();
  const bool identical = femtokit::PairIsIdentical(pair, *wf);
  CKernel kernel(argv[3]);
  if (kernel.GetIDENTICAL() != identical)
    femtokit::Fatal("%s: IDENTICAL is %d, but the pair %s needs %d\n", argv[3], int(kernel.GetIDENTICAL()),
                    pair.c_str(), int(identical));
  kernel.Calc(wf.get());
  const Clock::time_point t2 = Clock::now();
  kernel.Write(argv[4]);

  const double evals = 720.0 * kernel.GetNQMAX() * kernel.GetNRMAX();
  femtokit::Print("%s: wave function built in %.3f s; kernel calculated in %.3f s (%.3g evaluations/s)\n",
                  pair.c_str(), seconds(t0, t1), seconds(t1, t2), evals / seconds(t1, t2));

  if (argc == 6) {
    double R = 0.0;
    if (!femtokit::ParseNumber(argv[5], R) || !(R > 0.0)) femtokit::Fatal("pairkernel: the source radius R=%s must be positive\n", argv[5]);
    const double delr = kernel.GetDELR(), norm = std::pow(4.0 * M_PI * R * R, -1.5);
    double held = 0.0;
    for (int ir = 0; ir < kernel.GetNRMAX(); ir++) {
      const double r = (ir + 0.5) * delr;
      held += 4.0 * M_PI * r * r * delr * norm * std::exp(-r * r / (4.0 * R * R));
    }
    femtokit::Print("C(q) of a Gaussian source, R = %g fm (the r mesh holds %.6f of its norm)\n", R, held);
    femtokit::Print("%9s %12s\n", "q(MeV/c)", "C(q)");
    for (int iq = 0; iq < kernel.GetNQMAX(); iq++) {
      double c = 1.0;
      for (int ir = 0; ir < kernel.GetNRMAX(); ir++) {
        const double r = (ir + 0.5) * delr;
        c += 4.0 * M_PI * r * r * delr * norm * std::exp(-r * r / (4.0 * R * R)) * kernel.GetValue(0, iq, ir);
      }
      femtokit::Print("%9.2f %12.6f\n", (iq + 0.5) * kernel.GetDELQ(), c);
    }
  }
  return 0;
}

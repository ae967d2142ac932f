// Computes the proton-proton kernel (Reid93 + Coulomb) and writes it as a
// kernel data directory.
//
//   ppkernel <wfparameters> <kparameters> <outdir>
//
// The wave function is built from the wave-function parameter file, the kernel
// mesh from the kernel parameter file; K_l(q, r) is projected from |psi|^2 and
// written into outdir, which CKernel::Read takes back.
#include "config/fatal.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction_pp.h"

#include <chrono>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 4) femtokit::Fatal("usage: ppkernel <wfparameters> <kparameters> <outdir>\n");
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };

  const Clock::time_point t0 = Clock::now();
  CWaveFunction_pp wf(argv[1]);
  const Clock::time_point t1 = Clock::now();
  CKernel kernel(argv[2]);
  kernel.Calc(&wf);
  const Clock::time_point t2 = Clock::now();
  kernel.Write(argv[3]);

  const double evals = 720.0 * kernel.GetNQMAX() * kernel.GetNRMAX();
  std::printf("wave function built in %.3f s; kernel calculated in %.3f s (%.3g evaluations/s)\n",
              seconds(t0, t1), seconds(t1, t2), evals / seconds(t1, t2));
  return 0;
}

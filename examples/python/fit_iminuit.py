"""iminuit on a femtokit fit: Minuit's MIGRAD and HESSE on fit.cost() against
the library's Newton fit, on pseudo-data of a Gaussian source (lambda 0.6,
R 5 fm) through the free identical-boson kernel with 1 % errors.

  python3 examples/python/fit_iminuit.py      (needs python3-iminuit)
"""
import sys

import numpy as np

import femtokit

try:
    from iminuit import Minuit
except ImportError:
    sys.exit("this example needs iminuit (Debian: apt-get install python3-iminuit)")

femtokit.set_verbosity(femtokit.Verbosity.Quiet)
kernel = femtokit.CKernel({"NQMAX": 24, "DELQ": 4.0, "NRMAX": 80, "DELR": 0.5, "KLMAX": 4, "IDENTICAL": True})
kernel.calc_pure_hbt()


def array(n, step):
    return femtokit.CCHArray(4, n, step, True, True, True)


source, cexp, cerr = array(80, 0.5), array(24, 4.0), array(24, 4.0)
femtokit.make_source("gx1d", {"lambdaG": 0.6, "R": 5.0, "lambdaX": 0.0}).calc_s(source)
femtokit.S2CF.s2c(source, kernel, cexp)
cerr.component(0, 0, 0)[:] = 0.01
cexp.component(0, 0, 0)[:] += np.random.default_rng(1).normal(0.0, 0.01, 24)

model = femtokit.make_source("gx1d", {"lambdaG": 0.5, "R": 4.0, "lambdaX": 0.0})
fit = femtokit.CCF2SFit_GX1D(model, cexp, cerr, array(24, 4.0), array(80, 0.5), kernel)
for name in ("lambdaX", "X", "a"):
    fit.fix_par(name)

cost = fit.cost()
m = Minuit(cost, **cost.start)
m.limits = cost.limits
m.migrad()
m.hesse()

fit.newton(2)
result = fit.newton(2)
print(result)
print("%-8s %12s %12s %12s %12s" % ("", "Minuit", "error", "Newton", "error"))
for name in result.free:
    print("%-8s %12.5f %12.5f %12.5f %12.5f" % (name, m.values[name], m.errors[name], result.values[name],
                                                 result.errors[name]))
print("chi^2: Minuit %.4f, Newton %.4f (%d dof, p = %.3f)" % (m.fval, result.chi2, result.ndof, result.pvalue))
ok = m.valid and all(abs(m.values[n] - result.values[n]) < result.errors[n] / 10 for n in result.free)
print("agree" if ok else "DISAGREE")
sys.exit(0 if ok else 1)

#!/usr/bin/env python3
"""Fits the main job's output: lambdaG and R of the Gaussian source.

    fit_gx1d.py [parameter dir] [kernel dir] [output dir]

The defaults are the main job's layout seen from its working directory
(scripts/run.sh: run/work): ../parameters/pp, ../../kdata/pp and ".", whose
GX1d/pp and GX1d/pp_errors femtodriver wrote. Runs the built-in Newton fit,
then SciPy (when installed) on the fit's chi-square callable from the same
start, and prints both. Exits with status 1 when the fit is poor (chi^2/dof
above 3) or the two disagree by more than a tenth of an error.
"""
import pathlib
import sys

import numpy as np

import femtokit


def main():
    pars = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "../parameters/pp")
    kdata = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "../../kdata/pp")
    output = pathlib.Path(sys.argv[3] if len(sys.argv) > 3 else ".")
    femtokit.set_verbosity(femtokit.Verbosity.Quiet)  # nothing per evaluation

    kernel = femtokit.CKernel(pars / "kparameters.dat")
    kernel.read(kdata)
    cexp, cerror, ctheory = (femtokit.CCHArray(pars / "aparsCH_CF.dat") for _ in range(3))
    source = femtokit.CCHArray(pars / "aparsCH_source.dat")

    gauss = femtokit.CSourceCalc_GX1D()
    gauss.set_spars(0.5, 4.0, 0.0, 10.0, 5.0)  # the start: a Gaussian, no exponential tail
    fit = femtokit.CCF2SFit_GX1D(gauss, cexp, cerror, ctheory, source, kernel)
    fit.read_data(output / "GX1d" / "pp", output / "GX1d" / "pp_errors")
    for name in ("lambdaX", "X", "a"):
        fit.fix_par(name)
    chi2 = fit.chi2_function()  # chi^2(lambdaG, R), for any minimiser
    start = chi2.start

    for _ in range(5):  # Newton until chi^2 settles (the second call is still 0.1 error short)
        before = fit.chi2
        fit.newton(2)
        if before - fit.chi2 < 1e-3:
            break
    print(fit.fit_table(), end="")
    print("error matrix (lambdaG, R):")
    print(np.array2string(fit.error_matrix[:2, :2], precision=4))
    good = fit.chi2 < 3.0 * fit.ndof

    try:
        from scipy.optimize import minimize
    except ImportError:
        print("SciPy not installed: no second fit")
    else:
        res = minimize(chi2, start, method="Nelder-Mead", options={"xatol": 1e-6, "fatol": 1e-8})
        values, errors = fit.values[:2], fit.errors[:2]
        print("SciPy on the chi-square callable: " +
              ", ".join(f"{n} = {x:.5g}" for n, x in zip(chi2.names, res.x)) + f", chi^2 = {res.fun:.6g}")
        print("difference from Newton, in errors: " + np.array2string((res.x - values) / errors, precision=3))
        good = good and bool(np.all(np.abs(res.x - values) < 0.1 * errors))
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())

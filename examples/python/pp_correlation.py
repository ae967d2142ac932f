#!/usr/bin/env python3
"""The proton-proton correlation function of Gaussian sources of three radii.

    pp_correlation.py [--kernel DIR] [--pars DIR] [--output FILE] [--radii R ...]

Reads the pp kernel (Reid93 + Coulomb) from DIR (default: kdata/pp of this
checkout, where scripts/run.sh puts it); when DIR holds no kernel, computes it
from the wave-function parameters and writes it there. Transforms Gaussian
sources S(r) = exp(-r^2/4R^2)/(4 pi R^2)^(3/2) of one-particle radius R (fm)
through it, prints C(q) and plots it into FILE (default pp_correlation.png,
Matplotlib's non-interactive backend).
"""
import argparse
import pathlib
import time

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402

import femtokit  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]


def kernel_for(pars, kdir):
    """The pp kernel on the mesh of pars/kparameters.dat: read from kdir, or computed into it."""
    kernel = femtokit.CKernel(pars / "kparameters.dat")
    if (kdir / "ell0_q0001.00.tmp").exists():
        kernel.read(kdir)
        return kernel
    start = time.perf_counter()
    wf = femtokit.make_wave_function("pp", pars / "wfparameters.dat")
    kernel.calc(wf)  # on the library's threads, without the GIL
    kernel.write(kdir)
    print(f"computed the pp kernel into {kdir} in {time.perf_counter() - start:.1f} s")
    return kernel


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kernel", type=pathlib.Path, default=ROOT / "kdata" / "pp")
    parser.add_argument("--pars", type=pathlib.Path, default=ROOT / "data" / "pp")
    parser.add_argument("--output", type=pathlib.Path, default=pathlib.Path("pp_correlation.png"))
    parser.add_argument("--radii", type=float, nargs="+", default=[3.0, 5.0, 7.0])
    args = parser.parse_args()
    femtokit.set_verbosity(femtokit.Verbosity.Quiet)  # warnings only

    kernel = kernel_for(args.pars, args.kernel)
    source = femtokit.CCHArray(args.pars / "aparsCH_source.dat")  # S(r): 80 bins of 0.5 fm
    cf = femtokit.CCHArray(args.pars / "aparsCH_CF.dat")  # C(q) - 1: 60 bins of 2 MeV/c
    gauss = femtokit.CSourceCalc_GX1D()
    q = cf.bin_centres
    curves = {}
    for radius in args.radii:
        gauss.set_spars(1.0, radius, 0.0, 10.0, 5.0)  # lambdaG, R (fm), lambdaX, X (fm), a (fm)
        gauss.calc_s(source)
        femtokit.S2CF.s2c(source, kernel, cf)
        curves[radius] = 1.0 + cf.component(0, 0, 0)  # a view: copied by the addition

    print("q(MeV/c) " + " ".join(f"  R={r:g} fm" for r in args.radii))
    for i, qi in enumerate(q):
        print(f"{qi:8.2f} " + " ".join(f"{curves[r][i]:9.6f}" for r in args.radii))

    fig, ax = plt.subplots(figsize=(6, 4))
    for radius, c in curves.items():
        ax.plot(q, c, label=f"R = {radius:g} fm")
    ax.axhline(1.0, color="grey", lw=0.5)
    ax.set_xlabel("q (MeV/c)")
    ax.set_ylabel("C(q)")
    ax.set_title("proton-proton, Reid93 + Coulomb")
    ax.legend()
    fig.tight_layout()
    fig.savefig(args.output, dpi=100)
    print(f"plot: {args.output}")


if __name__ == "__main__":
    main()

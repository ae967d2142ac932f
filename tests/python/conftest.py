# Shared fixtures of the Python module's tests. CTest sets PYTHONPATH to the
# build tree's module and FEMTOKIT_SOURCE_DIR / FEMTOKIT_BINARY_DIR; run by
# hand, the defaults are this checkout and its build/ directory.
import os
import pathlib

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("FEMTOKIT_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BINARY_DIR = pathlib.Path(os.environ.get("FEMTOKIT_BINARY_DIR", SOURCE_DIR / "build"))
DATA_DIR = SOURCE_DIR / "data"

import femtokit  # noqa: E402  (after the paths, for a clearer failure when the module is missing)


@pytest.fixture(autouse=True)
def quiet():
    """Every test starts at Quiet (no parameter echoes) and leaves it so."""
    femtokit.set_verbosity(femtokit.Verbosity.Quiet)
    yield
    femtokit.set_verbosity(femtokit.Verbosity.Quiet)


@pytest.fixture
def hbt_kernel():
    """Free identical-boson kernel on a small mesh: 24 q bins of 4 MeV/c, 80 r bins of 0.5 fm."""
    k = femtokit.CKernel({"NQMAX": 24, "DELQ": 4.0, "NRMAX": 80, "DELR": 0.5, "KLMAX": 4, "IDENTICAL": True})
    k.calc_pure_hbt()
    return k


def cf_pars(nq=24, dq=4.0):
    return {"LMAX": 4, "NRADIAL": nq, "RADSTEP": dq, "IDENTICAL": True}


def source_pars(nr=80, dr=0.5):
    return {"LMAX": 4, "NRADIAL": nr, "RADSTEP": dr, "IDENTICAL": True}


def noisy_gauss_data(kernel, seed):
    """Noisy C(q) - 1 of a Gaussian source (lambdaG 0.6, R 5 fm) through `kernel`, and its errors."""
    import numpy as np
    source, exact = femtokit.CCHArray(source_pars()), femtokit.CCHArray(cf_pars())
    femtokit.CSourceCalc_GX1D({"lambdaG": 0.6, "R": 5.0, "lambdaX": 0.0}).calc_s(source)
    femtokit.S2CF.s2c(source, kernel, exact)
    cexp, cerror = femtokit.CCHArray(cf_pars()), femtokit.CCHArray(cf_pars())
    err = 0.02 / (np.arange(cexp.nradial) + 1)
    cerror.component(0, 0, 0)[:] = err
    cexp.component(0, 0, 0)[:] = exact.component(0, 0, 0) + np.random.default_rng(seed).normal(size=err.size) * err
    return cexp, cerror

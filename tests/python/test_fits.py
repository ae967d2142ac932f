# Fits through the module: the chi-square callable against an independent
# NumPy chi-square, SciPy on it against the built-in Newton fit, the generic
# fit against the ready-made one, the objects kept alive by the fit.
import gc

import numpy as np
import pytest

import femtokit
from conftest import cf_pars, noisy_gauss_data, source_pars


@pytest.fixture
def data(hbt_kernel):
    """Noisy C(q) - 1 of a Gaussian source (lambdaG 0.6, R 5 fm) through the free-boson kernel."""
    return noisy_gauss_data(hbt_kernel, seed=11)


def make_fit(kernel, cexp, cerror, generic=False):
    gauss = femtokit.CSourceCalc_GX1D()
    gauss.set_spars(0.5, 4.0, 0.0, 10.0, 5.0)
    args = (gauss, cexp, cerror, femtokit.CCHArray(cf_pars()), femtokit.CCHArray(source_pars()), kernel)
    if generic:
        fit = femtokit.CCF2SFit(*args, [("lambdaG", None, 0.02, 0.0, 1.5), ("R", None, 0.2, 1.0, 12.0),
                                        ("lambdaX", None, 0.02, 0.0, 1.5)])
        fit.fix_par("lambdaX")
        return fit
    fit = femtokit.CCF2SFit_GX1D(*args)
    for name in ("lambdaX", "X", "a"):
        fit.fix_par(name)
    return fit


def test_chi2_callable_against_numpy(hbt_kernel, data):
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    f = fit.chi2_function()
    assert f.names == ["lambdaG", "R"] and f.errordef == 1.0
    np.testing.assert_allclose(f.start, [0.5, 4.0])
    assert f.bounds == [(0.0, 1.0), (1.0, 12.0)]  # lambda narrowed to the model's range
    # Independently: the model at (0.55, 4.6) and the chi-square in NumPy.
    source, theory = femtokit.CCHArray(source_pars()), femtokit.CCHArray(cf_pars())
    femtokit.CSourceCalc_GX1D({"lambdaG": 0.55, "R": 4.6, "lambdaX": 0.0}).calc_s(source)
    femtokit.S2CF.s2c(source, hbt_kernel, theory)
    e, t, s = cexp.component(0, 0, 0), theory.component(0, 0, 0), cerror.component(0, 0, 0)
    expected = np.sum((e - t) ** 2 / s**2)
    assert f([0.55, 4.6]) == pytest.approx(expected, rel=1e-10)
    assert f(np.array([0.55, 4.6])) == fit.get_chi_squared([0.55, 4.6])
    assert femtokit.CFCalc.get_chi_squared(0, 0, 0, cexp, cerror, theory) == pytest.approx(expected, rel=1e-12)
    np.testing.assert_allclose(fit.values[:2], [0.5, 4.0])  # evaluations do not move the fit
    with pytest.raises(ValueError):
        f([0.5])
    fit.fix_par("R")
    with pytest.raises(ValueError, match="free parameters changed"):
        f([0.5, 4.0])


def test_scipy_agrees_with_newton(hbt_kernel, data):
    optimize = pytest.importorskip("scipy.optimize")
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    f = fit.chi2_function()
    res = optimize.minimize(f, f.start, method="Nelder-Mead", options={"xatol": 1e-6, "fatol": 1e-8})
    fit.newton(2)
    fit.newton(2)
    errors = fit.errors[:2]
    assert np.all(np.abs(res.x - fit.values[:2]) < 0.02 * errors)
    assert abs(fit.chi2 - res.fun) < 1e-3  # 1e-3 of the 1-sigma rise: Newton ends within 0.02 errors
    assert abs(fit.values[0] - 0.6) < 4 * errors[0] and abs(fit.values[1] - 5.0) < 4 * errors[1]
    # The error matrix: symmetric, its diagonal the squared errors, and the
    # chi-square rises by 1 one error away along a parameter (others refitted
    # would be less; alone it is 1/(V^-1)_ii).
    v = fit.error_matrix
    assert v.shape == (5, 5)
    np.testing.assert_allclose(v[:2, :2], v[:2, :2].T)
    np.testing.assert_allclose(np.sqrt(np.diag(v)[:2]), errors, rtol=1e-6)
    step = np.array([1.0 / np.sqrt(np.linalg.inv(v[:2, :2])[0, 0]), 0.0])
    assert f(fit.values[:2] + step) - fit.chi2 == pytest.approx(1.0, rel=0.05)
    assert "chi^2=" in fit.fit_table() and fit.ndof == fit.nbins - 2


def test_generic_fit_and_lifetime(hbt_kernel, data):
    cexp, cerror = data
    ready = make_fit(hbt_kernel, cexp, cerror)
    ready.newton(2)
    generic = make_fit(hbt_kernel, cexp, cerror, generic=True)
    del data, cexp, cerror, hbt_kernel  # the fit keeps what it uses
    gc.collect()
    generic.newton(2)
    assert generic.names == ["lambdaG", "R", "lambdaX"] and generic.fixed == [False, False, True]
    np.testing.assert_allclose(generic.values[:2], ready.values[:2], rtol=1e-9)
    generic.steepest_descent(3)
    generic.update_metro_step_size()
    generic.metropolis(20)
    assert generic.ncalls > 20 and generic.bestchi2 <= generic.chi2 + 1e-9
    with pytest.raises(ValueError):
        femtokit.CCF2SFit(femtokit.CSourceCalc_GX1D(), *[femtokit.CCHArray(cf_pars()) for _ in range(3)],
                          femtokit.CCHArray(source_pars()), generic_kernel(), [("R", 4.0, 0.0, 1.0, 9.0)])


def generic_kernel():
    return femtokit.CKernel({"NQMAX": 2, "DELQ": 4.0, "NRMAX": 4, "DELR": 0.5, "KLMAX": 0, "IDENTICAL": True})


def test_read_data_errors(hbt_kernel, data, tmp_path):
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    with pytest.raises(femtokit.Error) as e:
        fit.read_data(tmp_path / "none", tmp_path / "none_errors")
    assert "none" in e.value.file
    cexp.write_ax(tmp_path / "pp")
    cerror.write_ax(tmp_path / "pp_errors")
    fit.read_data(tmp_path / "pp", tmp_path / "pp_errors")
    fit.newton(2)
    assert abs(fit.values[1] - 5.0) < 0.3


def test_feeddown_and_smearing_from_dicts():
    cf = femtokit.CCHArray(cf_pars())
    cf.component(0, 0, 0)[:] = np.exp(-cf.bin_centres / 20.0)
    out = femtokit.CCHArray(cf_pars())
    fd = femtokit.CFeedDown({"lambdaGen": 0.7, "NRESIDUALS": 1, "RESIDUAL0_NAME": "misid",
                             "RESIDUAL0_TYPE": "flat", "lambda_misid": 0.3})
    assert fd.residual_names == ["misid"] and fd.check_lambdas() == pytest.approx(1.0)
    fd.apply(cf, out)
    np.testing.assert_allclose(out.component(0, 0, 0), 0.7 * cf.component(0, 0, 0), rtol=1e-12)
    fd.set_lambda("lambdaGen", 0.5)
    with pytest.raises(femtokit.Error, match="sum"):
        fd.apply(cf, out)  # the lambdas no longer add up to 1
    smear = femtokit.CMomentumSmearing({"MODE": "gaussian", "SIGMA": 4.0})
    assert smear.is_gaussian and smear.get_sigma(30.0) == 4.0
    cf.component(0, 0, 0)[:] = 0.25
    smear.apply(cf, out)
    np.testing.assert_allclose(out.component(0, 0, 0)[:-2], 0.25, rtol=1e-9)  # a flat C - 1 stays flat
    with pytest.raises(femtokit.Error) as e:
        femtokit.CFeedDown({"NRESIDUALS": 1, "RESIDUAL0_NAME": "x", "RESIDUAL0_TYPE": "sideways"})
    assert "<parameter dict>" in e.value.message and "femtokit-pars" not in e.value.message

"""femtokit.image: closed loops through the free-boson kernel, the result's
arrays and dict, and the refusals."""
import json

import numpy as np
import pytest

import femtokit



@pytest.fixture(scope="module")
def kernel():
    k = femtokit.CKernel({"NQMAX": 30, "DELQ": 4.0, "NRMAX": 80, "DELR": 0.5, "KLMAX": 2, "IDENTICAL": True})
    k.calc_pure_hbt()
    return k


def truth(kernel, source_model):
    source = femtokit.CCHArray({"LMAX": 2, "NRADIAL": 80, "RADSTEP": 0.5, "IDENTICAL": True})
    cf = femtokit.CCHArray({"LMAX": 2, "NRADIAL": 30, "RADSTEP": 4.0, "IDENTICAL": True})
    source_model.calc_s(source)
    femtokit.S2CF.s2c(source, kernel, cf)
    return source, cf


def test_gaussian_closed_loop(kernel):
    source, cf = truth(kernel, femtokit.CSourceCalc_GX1D({"lambdaG": 0.7, "R": 4.0, "lambdaX": 0.0}))
    q = (np.arange(30) + 0.5) * 4.0
    err = np.full(30, 0.01)
    coverage, chi2 = [], []
    for seed in range(4):
        c = 1.0 + cf.component(0, 0, 0) + np.random.default_rng(seed).normal(size=30) * err
        res = femtokit.image(kernel, q, c, err, knots=np.arange(0.0, 30.1, 1.5))
        exact = source.component(0, 0, 0)[(res.r / 0.5).astype(int)]
        inside = (res.r >= res.r_min_resolved) & (res.r <= res.r_max_resolved)
        coverage.append(np.mean(np.abs(res.s - exact)[inside] <= res.s_err[inside]))
        chi2.append(res.chi2 / res.ndof)
        assert res.criterion == "gcv" and res.positive and res.l == 0
        assert np.all(res.s >= -1e-15)
        assert res.covariance.shape == (res.r.size, res.r.size)
        np.testing.assert_allclose(np.sqrt(np.diag(res.covariance)), res.s_err)
        np.testing.assert_allclose(res.evaluate(res.r), res.s, atol=1e-14)
        lam, lam_err = res.integral()
        assert abs(lam - 0.7) < max(4 * lam_err, 0.02)
    assert 0.5 < np.mean(coverage) < 0.97
    assert 0.5 < np.mean(chi2) < 1.4


def test_quadrupole_and_options(kernel):
    source, cf = truth(kernel, femtokit.CSourceCalc_Gaussian({"lambda": 1.0, "Rx": 3.0, "Ry": 4.0, "Rz": 6.0}))
    q = (np.arange(30) + 0.5) * 4.0
    err = np.full(30, 0.002)
    c = cf.component(0, 0, 2) + np.random.default_rng(1).normal(size=30) * err
    res = femtokit.image(kernel, q, c, err, l=(0, 0, 2), knots=np.arange(0.0, 30.1, 1.5), regularisation="lcurve")
    assert res.l == 2 and not res.positive and res.criterion == "lcurve"
    assert res.evaluate(8.0) > 0.0
    fixed = femtokit.image(kernel, q, c, err, l=2, knots=np.arange(0.0, 30.1, 1.5), regularisation=1e-3, order=2)
    assert fixed.regularisation == 1e-3 and fixed.criterion == "fixed" and fixed.order == 2
    d = fixed.to_dict()
    json.dumps(d)
    assert d["criterion"] == "fixed" and len(d["covariance"]) == len(d["r"])
    assert "chi^2=" in str(fixed)


def test_fixed_norm_and_refusals(kernel):
    q = (np.arange(30) + 0.5) * 4.0
    c = 1.0 + 0.7 * np.exp(-4 * q**2 * 16 / femtokit.constants.HBARC**2)
    err = np.full(30, 0.01)
    res = femtokit.image(kernel, q, c, err, norm=0.5)
    assert res.integral(0.0, 40.0)[0] == pytest.approx(0.5, abs=2e-3)
    with pytest.raises(femtokit.Error, match="error\\[3\\] = 0"):
        femtokit.image(kernel, q, c, np.where(np.arange(30) == 3, 0.0, err))
    with pytest.raises(femtokit.Error, match="q=500 MeV/c lies outside"):
        femtokit.image(kernel, np.append(q[:-1], 500.0), c, err)
    with pytest.raises(femtokit.Error, match="not strictly increasing"):
        femtokit.image(kernel, q, c, err, knots=[0, 5, 3, 10])
    with pytest.raises(femtokit.Error, match="positivity applies"):
        femtokit.image(kernel, q, c, err, l=2, positive=True)
    with pytest.raises(ValueError, match="regularisation"):
        femtokit.image(kernel, q, c, err, regularisation="best")
    with pytest.raises(ValueError, match="l: expected"):
        femtokit.image(kernel, q, c, err, l=(0, 2))

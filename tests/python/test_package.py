# The package's Python face: fit results, the iminuit cost, correlation() with
# its kernel cache, source(r)/profile(r) of every model, docstrings and stubs.
import ast
import json
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import femtokit
from conftest import SOURCE_DIR, noisy_gauss_data
from test_fits import make_fit

STUBS = SOURCE_DIR / "python" / "femtokit" / "__init__.pyi"


@pytest.fixture
def data(hbt_kernel):
    """Noisy C(q) - 1 of a Gaussian source (lambdaG 0.6, R 5 fm) through the free-boson kernel."""
    return noisy_gauss_data(hbt_kernel, seed=5)


def test_newton_result(hbt_kernel, data):
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    fit.newton(2)
    r = fit.newton(2)
    assert isinstance(r, femtokit.FitResult)
    assert r.status == "converged" and r.converged and r.reason == "" and r.errors_valid and r.at_bound == []
    assert r.names == fit.names and r.free == ["lambdaG", "R"]
    assert r.values == dict(zip(fit.names, fit.values.tolist()))
    # Errors, covariance and correlation of the free block of the error matrix.
    v = fit.error_matrix[:2, :2]
    np.testing.assert_allclose(r.covariance, v)
    assert r.errors == pytest.approx({"lambdaG": np.sqrt(v[0, 0]), "R": np.sqrt(v[1, 1])})
    np.testing.assert_allclose(r.correlation, v / np.sqrt(np.outer(np.diag(v), np.diag(v))))
    # chi^2 of the curve against the data by hand; the p-value of chi^2 with 22 dof.
    q = (np.arange(24) + 0.5) * 4.0
    np.testing.assert_allclose(r.q, q)
    e, s = cexp.component(0, 0, 0), cerror.component(0, 0, 0)
    assert r.chi2 == pytest.approx(np.sum((e + 1 - r.curve) ** 2 / s**2), rel=1e-10)
    assert r.ndof == 22 and r.chi2 == pytest.approx(fit.chi2, rel=1e-9)
    stats = pytest.importorskip("scipy.stats")
    assert r.pvalue == pytest.approx(stats.chi2.sf(r.chi2, 22), rel=1e-9)
    d = json.loads(json.dumps(r.to_dict()))
    assert d["values"]["R"] == r.values["R"] and d["status"] == "converged" and len(d["curve"]) == 24
    assert "lambdaG" in str(r) and "status: converged" in str(r)


def test_results_without_errors_and_at_bound(hbt_kernel, data):
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    r = fit.steepest_descent(1)  # cut at its iteration limit: no minimum, no errors
    assert r.status == "failed" and not r.converged and r.reason and not r.errors_valid
    assert r.errors == {} and r.covariance.shape == (2, 2) and np.all(np.isnan(r.covariance))
    assert json.loads(json.dumps(r.to_dict()))["covariance"] == [[None, None], [None, None]]
    # R held below its best value by its upper bound.
    fit = make_fit(hbt_kernel, cexp, cerror)
    fit.set_bounds("R", 1.0, 4.5)
    fit.newton(2)
    fit.newton(2)
    r = fit.newton(2)
    assert r.status == "at bound" and r.at_bound == ["R"] and "R" in r.reason and r.values["R"] == 4.5


def test_cost_for_iminuit(hbt_kernel, data):
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    cost = fit.cost()
    assert cost.errordef == 1.0 and cost.parameters == ("lambdaG", "R") and cost.ndata == 24
    assert cost.start == {"lambdaG": 0.5, "R": 4.0} and list(cost._parameters) == ["lambdaG", "R"]
    assert cost(0.55, 4.6) == cost([0.55, 4.6]) == cost(np.array([0.55, 4.6])) == fit.get_chi_squared([0.55, 4.6])
    with pytest.raises(ValueError, match="expected 2 values"):
        cost(0.5)
    with pytest.raises(ValueError, match="not a finite"):
        cost(np.nan, 4.0)
    with pytest.raises(TypeError):
        femtokit.Cost(hbt_kernel)
    fit.fix_par("R")
    with pytest.raises(ValueError, match="free parameters changed"):
        cost(0.5, 4.0)


def test_minuit_agrees_with_newton(hbt_kernel, data):
    iminuit = pytest.importorskip("iminuit")
    cexp, cerror = data
    fit = make_fit(hbt_kernel, cexp, cerror)
    cost = femtokit.Cost(fit)
    m = iminuit.Minuit(cost, **cost.start)
    m.limits = cost.limits
    m.migrad()
    m.hesse()
    assert m.valid
    fit.newton(2)
    r = fit.newton(2)
    for name in r.free:
        assert abs(m.values[name] - r.values[name]) < r.errors[name] / 10
        assert m.errors[name] == pytest.approx(r.errors[name], rel=0.1)
    assert m.fval == pytest.approx(r.chi2, abs=0.01)
    # The positional form with names.
    m2 = iminuit.Minuit(cost, *cost.start.values(), name=cost.parameters)
    assert m2.parameters == cost.parameters


def test_correlation_and_cache(tmp_path):
    cache = tmp_path / "cache"
    q = np.array([10.0, 20.0, 40.0])
    pars = {"lambdaG": 1.0, "R": 3.0, "lambdaX": 0.0}
    kp = {"NQMAX": 20, "DELQ": 4.0, "NRMAX": 60, "DELR": 0.5, "KLMAX": 0}
    c = femtokit.correlation("pp", "gx1d", pars, q, kpars=kp, cache_dir=cache)
    entries = list(cache.iterdir())
    assert c.shape == (3,) and len(entries) == 1 and entries[0].name.startswith("pp-")
    # Against the transform done by hand with the same (cached) kernel.
    kernel = femtokit.cached_kernel("pp", kp, cache)
    s, cf = femtokit.CCHArray(0, 60, 0.5, True, True, True), femtokit.CCHArray(0, 20, 4.0, True, True, True)
    femtokit.CSourceCalc_GX1D(pars).calc_s(s)
    femtokit.S2CF.s2c(s, kernel, cf)
    np.testing.assert_allclose(c, 1 + np.interp(q, kernel.q, cf.component(0, 0, 0)), rtol=1e-9)
    # Reused while current: the entry is read, not rewritten; a new mesh is a new entry.
    inputs = entries[0] / "inputs.txt"
    stamp = inputs.stat().st_mtime_ns
    femtokit.correlation("pp", "gx1d", pars, q, kpars=kp, cache_dir=cache)
    assert inputs.stat().st_mtime_ns == stamp
    femtokit.correlation("pp", "gx1d", pars, q, kpars=dict(kp, NRMAX=40), cache_dir=cache)
    assert len(list(cache.iterdir())) == 2
    # An entry whose inputs differ is computed again (same values).
    inputs.write_text("stale\n")
    np.testing.assert_allclose(femtokit.correlation("pp", "gx1d", pars, q, kpars=kp, cache_dir=cache), c)
    assert inputs.read_text() != "stale\n"
    # The pp correlation at large q tends to 1; the Coulomb hole at small q.
    assert abs(c[-1] - 1) < 0.05
    with pytest.raises(ValueError, match="outside the kernel's q bin centres"):
        femtokit.correlation("pp", "gx1d", pars, [200.0], kpars=kp, cache_dir=cache)
    with pytest.raises(KeyError, match="no source model"):
        femtokit.correlation("pp", "gauss", pars, q, kpars=kp, cache_dir=cache)


def test_source_and_profile_of_every_model():
    r = np.array([[0.0, 1.0], [3.0, 7.5]])
    expect = 0.8 * np.exp(-(r**2) / 36) / (4 * np.pi * 9) ** 1.5  # Gaussian of one-particle radius 3 fm
    models = [femtokit.CSourceCalc_GX1D({"lambdaG": 0.8, "R": 3.0, "lambdaX": 0.0}),
              femtokit.CSourceCalc_Levy({"lambda": 0.8, "R": 3.0, "alpha": 2.0}),
              femtokit.CSourceCalc_Gaussian({"lambda": 0.8, "Rx": 3.0, "Ry": 3.0, "Rz": 3.0})]
    for m in models:
        np.testing.assert_allclose(m.source(r), expect, rtol=2e-4, err_msg=type(m).__name__)
        np.testing.assert_allclose(m.profile(r), 4 * np.pi * r**2 * m.source(r), rtol=1e-12)
        # The profile integrates to lambda.
        x = np.linspace(0, 40, 4001)
        assert np.trapz(m.profile(x), x) == pytest.approx(0.8, rel=1e-3)
        with pytest.raises(ValueError, match="r = -1"):
            m.source([-1.0])
    assert isinstance(models[0].source(2.0), float)
    # The Monte Carlo blast wave: a histogram that integrates to about lambda.
    blast = femtokit.CSourceCalc_Blast({"Nsample": 400})
    x = np.linspace(0.25, 59.75, 120)
    assert np.sum(blast.profile(x, dr=0.5)) * 0.5 == pytest.approx(blast.spars["lambda"], rel=0.05)
    with pytest.raises(ValueError, match="dr"):
        blast.source([1.0], dr=0.0)
    # The Levy unit profile, called on the class as before.
    assert femtokit.CSourceCalc_Levy.profile(2.0, 1.0) == pytest.approx(np.exp(-0.25) / (4 * np.pi) ** 1.5)


def public_members():
    """(qualified name, object, kind) of every public name, class member and submodule function."""
    for name in dir(femtokit):
        if name.startswith("_"):
            continue
        obj = getattr(femtokit, name)
        yield name, obj
        if isinstance(obj, type) and not issubclass(obj, BaseException):
            for attr, member in vars(obj).items():
                if attr.startswith("_") or hasattr(obj, "__members__"):  # an enum's members and fields
                    continue
                yield name + "." + attr, member
        elif type(obj).__name__ == "module":
            for attr in dir(obj):
                if not attr.startswith("_") and callable(getattr(obj, attr)):
                    yield name + "." + attr, getattr(obj, attr)


def doc_text(obj):
    """The docstring without pybind11's signature lines."""
    if isinstance(obj, property):
        return obj.__doc__ or ""
    if isinstance(obj, staticmethod):
        obj = obj.__func__
    doc = getattr(obj, "__doc__", None) or ""
    signature = re.compile(r"^(\d+\. )?\w*\(.*\)( -> .*)?$")
    lines = [l for l in doc.splitlines() if l.strip() and not signature.match(l) and l != "Overloaded function."]
    return " ".join(lines)


def test_every_public_name_has_a_docstring():
    missing = [n for n, obj in public_members() if not isinstance(obj, (int, float, str)) and len(doc_text(obj)) < 8]
    assert missing == []


def stub_names():
    tree = ast.parse(STUBS.read_text())
    names = set()
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
            if isinstance(node, ast.ClassDef):
                for item in node.body:
                    if isinstance(item, ast.FunctionDef):
                        names.add(node.name + "." + item.name)
                    elif isinstance(item, ast.AnnAssign):
                        names.add(node.name + "." + item.target.id)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
    return names


def test_stubs_cover_the_module_and_are_current():
    names = stub_names()
    public = {n for n, obj in public_members()}
    assert public - names == set()
    # Every stubbed name exists in the module.
    for n in names:
        obj = femtokit
        for part in n.split("."):
            if part == "__init__":
                break
            obj = getattr(obj, part)
    assert "NDArray[numpy.float64]" in STUBS.read_text()
    made = subprocess.run([sys.executable, str(SOURCE_DIR / "scripts" / "make_stubs.py")], capture_output=True,
                          text=True, check=True, env=dict(os.environ)).stdout
    assert made == STUBS.read_text(), "stubs out of date: run scripts/make_stubs.py (see its docstring)"


def test_manual_snippets_run(tmp_path, monkeypatch):
    """The python blocks of docs/python.md run, in order, in one namespace."""
    text = (SOURCE_DIR / "docs" / "python.md").read_text()
    blocks = [b.split("```", 1)[0] for b in text.split("```python\n")[1:]]
    assert blocks
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("FEMTOKIT_CACHE", str(tmp_path / "cache"))
    namespace = {}
    for block in blocks:
        if "iminuit" in block and pytest.importorskip("iminuit") is None:
            continue
        exec(compile(block, "docs/python.md", "exec"), namespace)

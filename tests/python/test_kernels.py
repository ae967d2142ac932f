# Wave functions, kernels and the transform through the module: the free-boson
# closed form, the pp kernel and correlation equal to the C++ programs', table
# views, the GIL released while a kernel is computed, errors that leave the
# interpreter going.
import subprocess
import threading

import numpy as np
import pytest

import femtokit
from conftest import BINARY_DIR, DATA_DIR, cf_pars, source_pars

HBARC = femtokit.constants.HBARC


def test_free_bosons_closed_form(hbt_kernel):
    # C(q) = 1 + lambda exp(-4 q^2 R^2 / hbarc^2) for a Gaussian source of radius R.
    source, cf = femtokit.CCHArray(source_pars()), femtokit.CCHArray(cf_pars())
    gauss = femtokit.CSourceCalc_GX1D()
    gauss.set_spars(0.7, 3.0, 0.0, 10.0, 5.0)
    gauss.calc_s(source)
    femtokit.S2CF.s2c(source, hbt_kernel, cf)
    q = cf.bin_centres
    np.testing.assert_allclose(cf.component(0, 0, 0), 0.7 * np.exp(-4 * q**2 * 9.0 / HBARC**2), atol=2e-4)
    # |psi|^2 rebuilt from the projections up to l = 4 at small q r.
    c = np.linspace(-1, 1, 5)
    np.testing.assert_allclose(hbt_kernel.psi_squared(6.0, 2.25, c), 1 + np.cos(2 * 6.0 * 2.25 * c / HBARC), atol=1e-4)


def test_kernel_tables_are_views(hbt_kernel, tmp_path):
    t0 = hbt_kernel.table(0)
    assert t0.shape == (24, 80) and not t0.flags.owndata
    q, r = hbt_kernel.q, hbt_kernel.r
    x = 2 * q[:, None] * r[None, :] / HBARC
    np.testing.assert_allclose(t0, np.sin(x) / x, atol=1e-12)  # j_0
    t2 = hbt_kernel.table(2)
    t2[3, 5] = 0.125
    assert hbt_kernel.get_value(2, q[3], r[5]) == pytest.approx(0.125)
    all_tables = hbt_kernel.tables()
    assert all_tables.shape == (5, 24, 80) and not np.shares_memory(all_tables, t2)
    assert np.all(all_tables[1] == 0) and all_tables[2, 3, 5] == 0.125
    with pytest.raises(KeyError):
        hbt_kernel.table(3)
    hbt_kernel.write(tmp_path / "k")
    back = femtokit.CKernel({"NQMAX": 24, "DELQ": 4.0, "NRMAX": 80, "DELR": 0.5, "KLMAX": 4, "IDENTICAL": True})
    back.read(tmp_path / "k")
    np.testing.assert_allclose(back.tables(), all_tables, rtol=1e-9, atol=1e-15)
    del hbt_kernel, back
    assert t2[3, 5] == 0.125  # the view keeps its kernel


def test_wave_function_is_vectorised():
    wf = femtokit.make_wave_function("pkplus", DATA_DIR / "pkplus" / "wfparameters.dat")
    q = np.array([5.0, 20.0, 40.0])
    r = np.linspace(0.5, 20, 7)[:, None]
    psi = wf.psi_squared(q, r, 0.3)
    assert psi.shape == (7, 3)
    assert psi[4, 1] == wf.psi_squared(20.0, r[4, 0], 0.3)
    assert isinstance(wf.psi_squared(20.0, 3.0, 0.0), float)
    assert np.all(psi > 0)
    assert wf.phase_shifts().shape == (wf.nchannels, wf.nqmax)
    assert set(femtokit.pair_names()) >= {"pp", "pkplus", "ppiplus", "pipluspiminus", "nn"}
    with pytest.raises(KeyError, match="unknown pair .pq."):
        femtokit.make_wave_function("pq", DATA_DIR / "pp" / "wfparameters.dat")


@pytest.fixture(scope="module")
def small_pp(tmp_path_factory):
    """Parameter files of a small pp kernel: 12 q bins of 2 MeV/c, 60 r bins of 0.5 fm."""
    d = tmp_path_factory.mktemp("pp")
    wf = femtokit.read_parameters(DATA_DIR / "pp" / "wfparameters.dat")
    wf["NQMAX"] = 12
    femtokit.write_parameters(wf, d / "wf.dat")
    k = femtokit.read_parameters(DATA_DIR / "pp" / "kparameters.dat")
    k.update(NQMAX=12, NRMAX=60)
    femtokit.write_parameters(k, d / "k.dat")
    return d


def test_pp_through_python_equals_cpp(small_pp):
    # The C++ program computes the kernel and C(q) of a Gaussian source.
    pairkernel = BINARY_DIR / "pairkernel"
    if not pairkernel.exists():
        pytest.skip("pairkernel is not built")
    out = subprocess.run([str(pairkernel), "pp", str(small_pp / "wf.dat"), str(small_pp / "k.dat"),
                          str(small_pp / "cpp"), "4"], capture_output=True, text=True, check=True).stdout
    rows = [line.split() for line in out.splitlines()]
    cpp_cf = np.array([float(w[1]) for w in rows if len(w) == 2 and w[0][0].isdigit()])
    # The same through Python.
    wf = femtokit.make_wave_function("pp", small_pp / "wf.dat")
    kernel = femtokit.CKernel(small_pp / "k.dat")
    kernel.calc(wf)
    cpp = femtokit.CKernel(small_pp / "k.dat")
    cpp.read(small_pp / "cpp")
    np.testing.assert_allclose(kernel.tables(), cpp.tables(), rtol=1e-9, atol=1e-14)  # files hold 11 digits
    source = femtokit.CCHArray(source_pars(60, 0.5))
    gauss = femtokit.CSourceCalc_GX1D({"lambdaG": 1.0, "R": 4.0, "lambdaX": 0.0})
    gauss.calc_s(source)
    cf = femtokit.CCHArray(cf_pars(12, 2.0))
    femtokit.S2CF.s2c(source, kernel, cf)
    assert len(cpp_cf) == 12
    np.testing.assert_allclose(1 + cf.component(0, 0, 0), cpp_cf, atol=1.5e-6)  # printed with 6 decimals
    assert cpp_cf[0] < 0.1 and cpp_cf.max() > 1.1  # the Coulomb hole and the 1S0 peak


def test_kernel_calc_releases_the_gil(small_pp):
    wf = femtokit.make_wave_function("pp", small_pp / "wf.dat")
    kernel = femtokit.CKernel(small_pp / "k.dat")
    femtokit.set_num_threads(1)
    try:
        started = threading.Event()

        def calc():
            started.set()
            for _ in range(3):
                kernel.calc(wf)

        t = threading.Thread(target=calc)
        t.start()
        started.wait()
        ticks = 0
        while t.is_alive():
            ticks += 1
        t.join()
    finally:
        femtokit.set_num_threads(femtokit.get_max_threads())
    assert ticks > 1000  # the main thread ran while the kernel was computed


def test_errors_name_their_file_and_leave_the_interpreter_going(tmp_path):
    bad = tmp_path / "bad"
    bad.mkdir()
    (bad / "ell0_q0001.00.tmp").write_text("80 0.25\n1 2 3\n")
    kernel = femtokit.CKernel({"NQMAX": 1, "DELQ": 2.0, "NRMAX": 80, "DELR": 0.5, "KLMAX": 0, "IDENTICAL": True})
    with pytest.raises(femtokit.Error) as e:
        kernel.read(bad)
    assert e.value.file.endswith("ell0_q0001.00.tmp") and "DELR" in e.value.message
    with pytest.raises(femtokit.Error, match="LMAX=-1"):
        femtokit.CCHArray({"LMAX": -1, "NRADIAL": 4, "RADSTEP": 1.0})
    with pytest.raises(femtokit.Error) as e:
        femtokit.CKernel(tmp_path / "nothing.dat")
    assert e.value.file == str(tmp_path / "nothing.dat")
    # Everything still works afterwards.
    kernel.calc_pure_hbt()
    assert kernel.table(0)[0, 0] == pytest.approx(1.0, abs=1e-4)


def test_output_goes_to_sys_stdout(capsys, hbt_kernel):
    a = femtokit.CCHArray(2, 3, 1.0)
    femtokit.set_verbosity(femtokit.Verbosity.Normal)
    a.print_pars()
    source = femtokit.CCHArray(source_pars())
    femtokit.CSourceCalc_GX1D().norm_check(source)  # printed while the GIL is released
    out = capsys.readouterr().out
    assert "LMAX=2, NRADIAL=3" in out and "normalization check" in out
    femtokit.set_verbosity(femtokit.Verbosity.Quiet)
    a.print_pars()
    assert capsys.readouterr().out == ""
    femtokit.CCHArray(2, 3, 1.0).get_element(1, 1, 1, 0)  # not stored under LMAX 2: a warning, shown at Quiet
    assert capsys.readouterr().out != ""


def test_potential_pair_phases_and_scattering_parameters():
    # The p-Lambda pair with the Usmani potential: scattering lengths of the
    # singlet and triplet in both sign conventions, and its phases on a mesh.
    pars = DATA_DIR / "plambda_usmani" / "wfparameters.dat"
    low = femtokit.CWaveFunction_generic(pars, [0.5, 1.0])
    a0, r0 = low.effective_range(0)
    a1, r1 = low.effective_range(1)
    assert a0 == pytest.approx(-2.8797, abs=2e-4) and r0 == pytest.approx(2.8723, abs=2e-4)
    assert a1 == pytest.approx(-1.6617, abs=2e-4) and r1 == pytest.approx(3.6886, abs=2e-4)
    assert low.has_potential(0) and low.match_radius > 5.0
    wf = femtokit.CWaveFunction_generic(pars, [5.0, 10.0, 20.0])
    assert list(wf.q_mesh) == [5.0, 10.0, 20.0]
    d = wf.phase_shifts()
    assert d.shape == (2, 3) and np.all(d[0] > d[1]) and np.all(d > 0)
    with pytest.raises(femtokit.Error):
        femtokit.CWaveFunction_generic(pars, [10.0, 5.0])

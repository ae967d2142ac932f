# The other source models and the 3D transform through the module.
import numpy as np
import pytest

import femtokit

HBARC = femtokit.constants.HBARC


def norm(a):
    r = a.bin_centres
    return 4 * np.pi * np.sum(r**2 * a.component(0, 0, 0)) * a.radstep


def test_3d_transform_of_a_gaussian_gives_the_boson_correlation():
    kernel = femtokit.CKernelWF({"NQMAX": 40, "DELQ": 1.0, "NRMAX": 150, "DELR": 0.2, "NCTHETA": 60,
                                 "IDENTICAL": True})
    kernel.calc_pure_hbt()
    assert kernel.values.shape == (40, 150, 61) and not kernel.values.flags.owndata
    gauss = femtokit.CSourceCalc_Gaussian()
    gauss.set_spars(1.0, 2.5, 3.0, 3.5)
    source = femtokit.C3DArray(20, 1.0, True, True, True)
    gauss.calc_s(source)
    cf = femtokit.C3DArray(3, 8.0, True, True, True)
    femtokit.S2CF.s2c(source, kernel, cf)
    q = (np.arange(3) + 0.5) * 8.0
    qx, qy, qz = np.meshgrid(q, q, q, indexing="ij")
    expected = 1 + np.exp(-4 * (qx**2 * 6.25 + qy**2 * 9 + qz**2 * 12.25) / HBARC**2)
    np.testing.assert_allclose(cf.values[0, :, 0, :, 0, :], expected, atol=3e-3)


def test_blast_wave_source_fills_its_norm():
    blast = femtokit.CSourceCalc_Blast()
    blast.set_spars(0.8, 8.0, 9.0, 2.0)  # the defaults, then these
    blast.update_spars({"Nsample": 300})
    assert blast.spars["lambda"] == 0.8 and blast.spars["Nsample"] == 300
    a = femtokit.CCHArray(2, 60, 1.0, False, True, True)
    blast.calc_s(a)
    assert 0.6 < norm(a) <= 0.8 + 1e-9
    points = blast.get_r(400.0, 300.0)
    assert points.shape == (300, 4)
    with pytest.raises(femtokit.Error):
        femtokit.CSourceCalc_Blast({"Nsample": 0}).calc_s(a)


def test_event_file_source(tmp_path):
    # Two events of three pi+ of pT 300 MeV/c (the default window: pairs of
    # Pt 600 MeV/c) in the OSCAR2013 format.
    rng = np.random.default_rng(3)
    lines = ["#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge",
             "# Units: fm fm fm fm GeV GeV GeV GeV GeV none none e"]
    for ev in range(2):
        lines.append(f"# event {ev} out 3")
        for _ in range(3):
            x, y, z = rng.normal(scale=3.0, size=3)
            lines.append(f"10 {x} {y} {z} 0.13958 {np.hypot(0.3, 0.13958)} 0.3 0 0 211 1 1")
        lines.append(f"# event {ev} end 0 impact 0.000")
    (tmp_path / "events.dat").write_text("\n".join(lines) + "\n")
    oscar = femtokit.CSourceCalc_OSCAR({"OSCARfilename": str(tmp_path / "events.dat")})
    oscar.set_ids(211, 211)
    events, ra, rb = oscar.read_r()
    assert events == 2 and ra.shape == (6, 4) and rb.shape == (0, 4)
    a = femtokit.CCHArray(2, 40, 1.0)
    oscar.calc_s(a)
    summary = oscar.last_summary()
    assert summary["events"] == 2 and summary["pairs"] > 0
    with pytest.raises(femtokit.Error):
        oscar.set_ids(211, 12345)
    oscar.set_ids(211, 12345, 139.58, 2000.0)  # any code with its mass
    assert oscar.spars["Mb"] == 2000
    missing = femtokit.CSourceCalc_OSCAR({"OSCARfilename": str(tmp_path / "none.dat")})
    with pytest.raises(femtokit.Error):
        missing.read_r()


def test_levy_source_limits():
    r = np.linspace(0.25, 30, 60)
    levy = femtokit.CSourceCalc_Levy()
    levy.set_spars(0.9, 4.0, 2.0)  # alpha = 2: the Gaussian of radius R
    np.testing.assert_allclose(levy.source(r), 0.9 * np.exp(-r**2 / 64) / (4 * np.pi * 16) ** 1.5, rtol=1e-5)
    levy.set_spars(1.0, 4.0, 1.0)  # alpha = 1: R / (pi^2 (r^2 + R^2)^2)
    np.testing.assert_allclose(levy.source(r), 4.0 / (np.pi**2 * (r**2 + 16) ** 2), rtol=1e-4)
    a = femtokit.CCHArray(2, 80, 0.5, True, True, True)
    levy.calc_s(a)
    np.testing.assert_allclose(a.component(0, 0, 0), levy.source(a.bin_centres), rtol=1e-12)
    assert norm(a) == pytest.approx(1 - levy.lost_fraction(40.0), rel=2e-3)
    with pytest.raises(femtokit.Error):
        femtokit.CSourceCalc_Levy({"alpha": 2.5}).calc_s(a)


def test_generic_pair_of_free_bosons_matches_the_closed_form_kernel():
    wf = femtokit.make_wave_function("generic", {"NQMAX": 10, "DELQ": 4.0, "M1": femtokit.constants.MPI,
                                                 "IDENTICAL": True, "COULOMB": False, "Q1Q2": 0})
    assert isinstance(wf, femtokit.CWaveFunction_generic) and wf.identical
    assert femtokit.pair_is_identical("generic", wf)
    assert [s["S"] for s in wf.spin_states] == [0.0]
    q, r, c = 10.0, np.linspace(0.5, 20, 9), np.linspace(-1, 1, 5)[:, None]  # a mesh point: no q interpolation
    np.testing.assert_allclose(wf.psi_squared(q, r, c), 1 + np.cos(2 * q * r * c / HBARC), atol=1e-9)
    mesh = {"NQMAX": 10, "DELQ": 4.0, "NRMAX": 40, "DELR": 0.5, "KLMAX": 4, "IDENTICAL": True}
    k, closed = femtokit.CKernel(mesh), femtokit.CKernel(mesh)
    k.calc(wf)
    closed.calc_pure_hbt()
    np.testing.assert_allclose(k.tables(), closed.tables(), atol=2e-4)
    with pytest.raises(femtokit.Error, match="M1"):
        femtokit.CWaveFunction_generic({"NQMAX": 4, "DELQ": 4.0})

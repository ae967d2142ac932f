# 3D tables, frames and the 3D Gaussian fit from Python; the Levy and blast-wave fits.
import math

import numpy as np
import pytest

import femtokit
from conftest import cf_pars, source_pars

HBARC = 197.3269602


def closed_form(mesh, lam, R):
    v = mesh.values  # a view: (sign, x, sign, y, sign, z)
    q = [(np.arange(n) + 0.5) * d for n, d in ((mesh.nxmax, mesh.delx), (mesh.nymax, mesh.dely), (mesh.nzmax, mesh.delz))]
    qx, qy, qz = np.meshgrid(*q, indexing="ij")
    v[0, :, 0, :, 0, :] = lam * np.exp(-4 * ((qx * R[0]) ** 2 + (qy * R[1]) ** 2 + (qz * R[2]) ** 2) / HBARC**2)


def test_lcms_table_fit_gives_the_prf_radius(hbt_kernel, tmp_path):
    gamma = femtokit.gamma_t_from_kt(300.0, 139.57039, 139.57039)
    assert gamma == pytest.approx(math.hypot(139.57039, 300.0) / 139.57039)
    cf = femtokit.C3DArray(5, 5.0, True, True, True)
    err = femtokit.C3DArray(5, 5.0, True, True, True)
    closed_form(cf, 0.6, (2.5, 4.0, 3.5))  # LCMS radii
    err.values[...] = 0.003
    err.values[0, 0, 0, 0, 0, 0] = 0.0  # a cell left out
    f = tmp_path / "t.dat"
    femtokit.write_table3d(str(f), cf, err, "LCMS", gamma)
    assert "# frame LCMS gamma_T" in f.read_text()
    c, e, frame, g = femtokit.read_table3d(str(f))
    assert frame == "LCMS" and g == pytest.approx(gamma)
    cexp, cerr = femtokit.scaled_out(c, 1 / g), femtokit.scaled_out(e, 1 / g)
    assert cexp.delx == pytest.approx(5.0 / gamma)

    calc = femtokit.CSourceCalc_Gaussian()
    calc.set_spars(0.5, 4.5, 4.5, 4.5)
    ctheory = femtokit.C3DArray(5, cexp.delx, 5, 5.0, 5, 5.0, True, True, True)
    fit = femtokit.CCF2SFit_Gauss3D(calc, cexp, cerr, ctheory, femtokit.CCHArray(cf_pars()),
                                    femtokit.CCHArray(source_pars()), hbt_kernel)
    assert fit.free_names == ["lambda", "Rx", "Ry", "Rz"]
    assert fit.nbins == 124
    fit.steepest_descent(50)
    fit.newton(2)
    fit.newton(2)
    v = dict(zip(fit.names, fit.values))
    assert v["Rx"] / gamma == pytest.approx(2.5, rel=0.02)
    assert v["Ry"] == pytest.approx(4.0, rel=0.02) and v["lambda"] == pytest.approx(0.6, abs=0.01)
    fit.free_par("Euler_Theta")
    assert "Euler_Theta" in fit.free_names


def test_levy_and_blast_fits_bound(hbt_kernel):
    levy = femtokit.CSourceCalc_Levy()
    levy.set_spars(0.7, 4.0, 1.5)
    src, ct = femtokit.CCHArray(source_pars()), femtokit.CCHArray(cf_pars())
    cexp, cerr = femtokit.CCHArray(cf_pars()), femtokit.CCHArray(cf_pars())
    levy.calc_s(src)
    femtokit.S2CF.s2c(src, hbt_kernel, cexp)
    for iq in range(24):
        cerr.set_element(0, 0, 0, iq, 0.01)
    fit = femtokit.CCF2SFit_Levy(levy, cexp, cerr, ct, src, hbt_kernel)
    assert fit.names == ["lambda", "R", "alpha"]
    assert fit.chi2_function()([0.7, 4.0, 1.5]) == pytest.approx(0.0, abs=1e-6)
    blast = femtokit.CSourceCalc_Blast()
    blast.update_spars({"Nsample": 200})
    mesh = femtokit.C3DArray(3, 10.0, True, True, True)
    bfit = femtokit.CCF2SFit_Blast(blast, mesh, mesh, femtokit.C3DArray(3, 10.0, True, True, True),
                                   femtokit.CCHArray(cf_pars()), femtokit.CCHArray(source_pars()), hbt_kernel)
    assert bfit.names == ["lambda", "R", "Tau", "DelTau"]

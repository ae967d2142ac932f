# Arrays and parameter dicts through the module: views without copies, their
# lifetime, round trips through the library's files, errors for bad input.
import gc

import numpy as np
import pytest

import femtokit
from conftest import DATA_DIR


def test_parameter_file_and_dict_round_trip(tmp_path):
    pars = femtokit.read_parameters(DATA_DIR / "pp" / "aparsCH_source.dat")
    assert pars == {"LMAX": 4, "NRADIAL": 80, "RADSTEP": 0.5, "IDENTICAL": 1}
    femtokit.write_parameters(dict(pars, NAME="x", SCALE=1.25e-7, FLAG=True), tmp_path / "p.dat")
    again = femtokit.read_parameters(tmp_path / "p.dat")
    assert again == dict(pars, NAME="x", SCALE=1.25e-7, FLAG=1)
    # The same array from the file and from the dict.
    a, b = femtokit.CCHArray(str(DATA_DIR / "pp" / "aparsCH_source.dat")), femtokit.CCHArray(pars)
    assert (a.lmax, a.nradial, a.radstep, a.xsym, a.ysym, a.zsym) == (b.lmax, b.nradial, b.radstep, True, True, True)
    with pytest.raises(ValueError):
        femtokit.write_parameters({"NAME": "two words"}, tmp_path / "q.dat")
    with pytest.raises(TypeError):
        femtokit.CCHArray({"LMAX": object()})


def test_dict_values_are_numbers_only_when_the_library_reads_them_as_numbers(tmp_path):
    # The library's one number syntax: hex, nan, inf, "0.1.5" and glued words stay text.
    (tmp_path / "p.dat").write_text(
        "string HEX 0x1p-1\nstring NAN nan\nstring DOTS 0.1.5\nstring GLUED 1e308ble\n"
        "string BIG 99999999999999999999\nstring X 2.5e-3\nstring N -12\n")
    pars = femtokit.read_parameters(tmp_path / "p.dat")
    assert pars == {"HEX": "0x1p-1", "NAN": "nan", "DOTS": "0.1.5", "GLUED": "1e308ble",
                    "BIG": 1e20, "X": 2.5e-3, "N": -12}


def test_source_spars_are_a_dict():
    g = femtokit.CSourceCalc_GX1D({"R": 3.5})
    assert g.spars["R"] == 3.5 and g.spars["lambdaG"] == 0.3
    g.update_spars({"lambdaG": 0.25, "X": 7})
    assert (g.spars["lambdaG"], g.spars["X"], g.spars["R"]) == (0.25, 7, 3.5)
    g.set_spars(0.5, 2.0, 0.0, 10.0, 5.0)
    assert g.spars["R"] == 2


def test_coefficients_are_a_view_without_copy():
    a = femtokit.CCHArray(4, 6, 0.5, True, True, True)
    c = a.coefficients
    assert c.shape == (len(a.triples), 6) and a.triples[0] == (0, 0, 0)
    assert c.flags.writeable and not c.flags.owndata
    c[a.triples.index((2, 0, 2)), 3] = 1.5  # through the view into the array
    assert a.get_element(2, 0, 2, 3) == 1.5
    a.set_element(0, 4, 0, 5, -2.0)  # through the array into the view
    assert c[a.triples.index((0, 4, 0)), 5] == -2.0
    comp = a.component(0, 4, 0)
    assert np.shares_memory(comp, c) and comp[5] == -2.0
    with pytest.raises(KeyError):
        a.component(1, 0, 0)  # odd lx is not stored under XSYM
    with pytest.raises(femtokit.Error):
        a.set_element(1, 0, 0, 0, 1.0)


def test_views_keep_their_array_alive():
    a = femtokit.CCHArray(2, 1000, 1.0)
    a.coefficients[:] = 7.0
    view, comp = a.coefficients, a.component(1, 1, 0)
    del a
    gc.collect()
    junk = [femtokit.CCHArray(2, 1000, 1.0) for _ in range(5)]  # would reuse freed storage
    for j in junk:
        j.coefficients[:] = -1.0
    assert np.all(view == 7.0) and np.all(comp == 7.0)
    view[0, 0] = 3.0  # still writable memory of the live array
    assert comp.base is not None


def test_charray_files_round_trip(tmp_path):
    a = femtokit.CCHArray(4, 5, 2.0, True, True, True)
    rng = np.random.default_rng(7)
    # A traceless set: random lx <= 1 coefficients, the rest rebuilt.
    c = a.coefficients
    for i, (lx, ly, lz) in enumerate(a.triples):
        if lx <= 1:
            c[i] = rng.normal(size=5)
    a.fill_remainder_x()
    a.write_all_a(tmp_path / "all")
    # The file format: a header "NRADIAL RADSTEP" then one value per bin.
    lines = (tmp_path / "all" / "lx2_ly0_lz2.tmp").read_text().split()
    assert int(lines[0]) == 5 and float(lines[1]) == 2.0
    np.testing.assert_allclose([float(x) for x in lines[2:]], a.component(2, 0, 2), rtol=1e-10)
    b = femtokit.CCHArray(4, 5, 2.0, True, True, True)
    b.read_all_a(tmp_path / "all")
    np.testing.assert_allclose(b.coefficients, c, rtol=1e-10)
    # Only lx <= 1 written; reading rebuilds the rest (6 digits in the files).
    a.write_ax(str(tmp_path / "ax"))
    d = femtokit.CCHArray(4, 5, 2.0, True, True, True)
    d.read_ax(str(tmp_path / "ax"))
    np.testing.assert_allclose(d.coefficients, c, rtol=2e-5, atol=1e-6)
    with pytest.raises(femtokit.Error) as e:
        d.read_all_a(tmp_path / "missing")
    assert "missing" in str(e.value)


def test_c3darray_view_grid_and_files(tmp_path):
    a = femtokit.C3DArray(3, 1.0, 2, 2.0, 2, 0.5, False, True, True)
    v = a.values
    assert v.shape == (2, 3, 1, 2, 1, 2) and not v.flags.owndata
    v[1, 2, 0, 1, 0, 0] = 4.0  # the cell at x = -2.5, y = 3, z = 0.25
    assert a.value_at(-2.5, 3.0, 0.25) == 4.0 and a.get_element(1, 2, 0, 1, 0, 0) == 4.0
    with pytest.raises(IndexError):
        a.get_element(0, 3, 0, 0, 0, 0)
    x, y, z, grid = a.to_grid()
    np.testing.assert_allclose(x, [-2.5, -1.5, -0.5, 0.5, 1.5, 2.5])
    np.testing.assert_allclose(y, [1.0, 3.0])
    assert grid[0, 1, 0] == 4.0 and grid.sum() == 4.0
    a.write_array(tmp_path / "a")
    b = femtokit.C3DArray.from_directory(tmp_path / "a")
    np.testing.assert_allclose(b.values, v)
    keep = b.values
    other = femtokit.C3DArray(2, 1.0, True, True, True)
    other.write_array(str(tmp_path / "other"))
    with pytest.raises(femtokit.Error) as e:
        b.read_array(str(tmp_path / "other"))  # another mesh would free the view's storage
    assert e.value.file.endswith("3Darraypars.dat")
    assert keep[1, 2, 0, 1, 0, 0] == 4.0
    b.zero_array()
    b.read_array(tmp_path / "a")
    assert keep[1, 2, 0, 1, 0, 0] == 4.0


def test_harmonic_and_mesh_forms_agree():
    # An isotropic Gaussian source on both forms: the conversion matches the
    # 3D fill at the cell centres it can resolve.
    g = femtokit.CSourceCalc_Gaussian()
    g.set_spars(1.0, 3.0, 3.0, 3.0)
    ch = femtokit.CCHArray(2, 40, 0.5, True, True, True)
    g.calc_s(ch)
    mesh = femtokit.C3DArray(10, 1.0, True, True, True)
    femtokit.ArrayCalc.calc_3d_array_from_aexp_array(ch, mesh)
    direct = femtokit.C3DArray(10, 1.0, True, True, True)
    g.calc_s(direct)
    np.testing.assert_allclose(mesh.values, direct.values, rtol=0.03, atol=1e-7)
    r = ch.bin_centres
    s0 = np.exp(-r**2 / 36.0) / (4 * np.pi * 9.0) ** 1.5
    np.testing.assert_allclose(ch.component(0, 0, 0), s0, rtol=1e-6)
    np.testing.assert_allclose(ch.aexpand(r, 0.0, 0.0), s0, rtol=1e-6)

# What a user types wrong raises, naming what is wrong: dict keys and types,
# source parameters outside their model's range, |psi|^2 outside its domain,
# the module without NumPy; and the pairs known by name.
import math
import os
import subprocess
import sys

import numpy as np
import pytest

import femtokit


class TestDictKeys:
    def test_unknown_keys_raise_key_error_naming_the_key_and_a_close_match(self):
        with pytest.raises(KeyError, match=r"LMAXX.*did you mean 'LMAX'"):
            femtokit.CCHArray({"LMAXX": 2, "NRADIAL": 10, "RADSTEP": 1.0})
        with pytest.raises(KeyError, match="NQMAXX"):
            femtokit.CKernel({"NQMAXX": 10, "DELQ": 2.0, "NRMAX": 10, "DELR": 0.5, "KLMAX": 2})
        with pytest.raises(KeyError, match="CHANNEL0_RR"):
            femtokit.CWaveFunction_generic({"M1": 139.57, "IDENTICAL": True, "CHANNEL0_RR": 1.0})

    def test_ill_typed_values_raise_type_error_naming_the_key(self):
        with pytest.raises(TypeError, match="LMAX must be an int, not str 'four'"):
            femtokit.CCHArray({"LMAX": "four", "NRADIAL": 10, "RADSTEP": 1.0})
        with pytest.raises(TypeError, match="NRADIAL must be an int"):
            femtokit.CCHArray({"LMAX": 2, "NRADIAL": 10.5, "RADSTEP": 1.0})
        with pytest.raises(TypeError, match="RADSTEP"):
            femtokit.CCHArray({"LMAX": 2, "NRADIAL": 10, "RADSTEP": True})
        with pytest.raises(ValueError, match="RADSTEP = nan is not a finite number"):
            femtokit.CCHArray({"LMAX": 2, "NRADIAL": 10, "RADSTEP": float("nan")})

    def test_well_typed_dicts_still_build_with_numpy_scalars_and_patterned_keys(self):
        a = femtokit.CCHArray({"LMAX": np.int64(2), "NRADIAL": 10, "RADSTEP": np.float32(0.5), "XSYM": 1,
                               "IDENTICAL": np.bool_(False)})
        assert (a.lmax, a.nradial, a.radstep, a.xsym) == (2, 10, 0.5, True)
        wf = femtokit.CWaveFunction_generic({"NQMAX": 4, "DELQ": 5.0, "M1": 1115.683, "IDENTICAL": True,
                                             "SPIN1": 0.5, "COULOMB": False, "NCHANNELS": 1, "CHANNEL0_L": 0,
                                             "CHANNEL0_S": 0, "CHANNEL0_A": -0.7, "CHANNEL0_REFF": 8.0})
        assert wf.nchannels == 1


class TestSourceParameters:
    def test_the_models_tables_are_exposed_and_agree_with_the_models_defaults(self):
        models = femtokit.source_models()
        assert list(models) == ["gx1d", "levy", "gauss3d", "blast", "events"]
        r = models["gx1d"]["R"]
        assert (r.unit, r.default, r.range, r.min_open, r.max_open) == ("fm", 5.0, (0.0, 1000.0), True, False)
        assert r.range_text == "(0, 1000] fm" and "one-particle radius" in r.meaning and r.step > 0
        assert not r.contains(0.0) and r.contains(1000.0)
        assert "not isotropic" in models["gx1d"].title
        for cls, name in [(femtokit.CSourceCalc_GX1D, "gx1d"), (femtokit.CSourceCalc_Levy, "levy"),
                          (femtokit.CSourceCalc_Blast, "blast")]:
            s = cls()
            assert s.model.name == name
            for p in s.parameters:
                assert s.spars[p.name] == pytest.approx(p.default, rel=1e-5)
        with pytest.raises(KeyError):
            femtokit.source_model("gauss")

    def test_unknown_names_and_types_raise_and_leave_the_parameters(self):
        s = femtokit.CSourceCalc_GX1D({"R": 4.0})
        with pytest.raises(KeyError, match="Rr.*did you mean 'R'"):
            s.update_spars({"Rr": 3})
        with pytest.raises(TypeError, match="parameter R must be a float, not str"):
            s.update_spars({"R": "3"})
        with pytest.raises(TypeError, match="Nsample must be an int"):
            femtokit.CSourceCalc_Blast({"Nsample": 2.5e3})
        assert "Rr" not in s.spars and s.spars["R"] == 4.0

    def test_values_outside_the_range_raise_value_error_from_every_setter(self):
        for bad in [{"R": 0}, {"R": -3.0}, {"R": 1e300}, {"lambdaG": 1.5}]:
            with pytest.raises(ValueError, match="gx1d source: parameter .* is outside its range"):
                femtokit.CSourceCalc_GX1D(bad)
        s = femtokit.CSourceCalc_Levy()
        with pytest.raises(femtokit.ParameterError, match=r"alpha = 2\.1 is outside its range \(0, 2\]"):
            s.update_spars({"alpha": 2.1})
        with pytest.raises(femtokit.Error):  # ParameterError is a femtokit.Error too
            s.set_spars(1.0, 5.0, 0.0)
        with pytest.raises(ValueError):
            s.spars = {"R": -1.0}
        assert s.spars["alpha"] == 1.5 and s.spars["R"] == 5.0  # unchanged by the refusals

    def test_parameter_files_outside_the_range_raise_and_leave_the_parameters(self, tmp_path):
        f = tmp_path / "gx1d.dat"
        f.write_text("double R 0\n")
        s = femtokit.CSourceCalc_GX1D()
        with pytest.raises(ValueError, match="R = 0"):
            s.read_spars(f)
        assert s.spars["R"] == 5.0


class TestPsiSquaredDomain:
    @pytest.fixture(scope="class")
    def wf(self):
        return femtokit.make_wave_function("pi+pi+")

    def test_out_of_domain_arguments_raise_naming_the_value(self, wf, hbt_kernel):
        reach = wf.q_mesh[-1] + 0.5 * (wf.q_mesh[-1] - wf.q_mesh[-2])
        cases = [((math.nan, 1.0, 0.5), "q = nan is not a finite number"), ((10.0, -1.0, 0.5), "r = -1 fm is negative"),
                 ((10.0, 1.0, 2.0), r"ctheta = 2 lies outside \[-1, 1\]"), ((-1.0, 1.0, 0.5), "q = -1"),
                 ((reach + 1.0, 1.0, 0.5), "beyond the q mesh")]
        for args, message in cases:
            with pytest.raises(ValueError, match=message):
                wf.psi_squared(*args)
        with pytest.raises(ValueError, match="ctheta"):
            wf.psi_squared(np.array([10.0, 20.0]), 1.0, np.array([0.5, -1.5]))
        with pytest.raises(ValueError, match=r"beyond the q mesh \(up to 96 MeV/c\)"):
            hbt_kernel.psi_squared(97.0, 1.0, 0.0)
        with pytest.raises(ValueError, match="r = 41 fm lies beyond the r mesh"):
            hbt_kernel.get_value(0, 10.0, 41.0)

    def test_inside_the_domain_values_stay_those_of_the_library(self, wf):
        assert np.isfinite(wf.psi_squared(wf.q_mesh[-1], 0.0, -1.0))
        x = wf.psi_squared(np.array([5.0, 50.0]), np.array([[2.0], [8.0]]), 1.0)
        assert x.shape == (2, 2) and np.all(x > 0)


class TestPairsByName:
    def test_the_programs_pairs_are_known_by_the_same_names(self):
        assert femtokit.known_pairs() == femtokit.pair_names() + ["pipluspiplus", "kpluskplus", "plambda",
                                                                  "lambdalambda"]
        for name, m in [("π+π+", femtokit.constants.MPI), ("K+K+", femtokit.constants.MKAON),
                        ("pΛ", femtokit.constants.MPROTON), ("ΛΛ", femtokit.constants.MLAMBDA)]:
            wf = femtokit.make_wave_function(name)
            assert isinstance(wf, femtokit.CWaveFunction_generic) and wf.m1 == pytest.approx(m, rel=1e-3)
        files = femtokit.pair_files("plambda")
        assert files["kparameters"] == os.path.join(femtokit.data_dir(), "plambda", "kparameters.dat")
        with pytest.raises(KeyError, match="unknown pair 'pSigma'"):
            femtokit.make_wave_function("pSigma")

    def test_a_kernel_by_name_is_the_one_of_the_shipped_files(self):
        k = femtokit.make_kernel("lambdalambda", {"NQMAX": 5, "DELQ": 2.0, "NRMAX": 20, "DELR": 0.5, "KLMAX": 2,
                                                  "IDENTICAL": True})
        wf = femtokit.make_wave_function("lambdalambda", femtokit.pair_files("lambdalambda")["wfparameters"])
        same = femtokit.CKernel({"NQMAX": 5, "DELQ": 2.0, "NRMAX": 20, "DELR": 0.5, "KLMAX": 2, "IDENTICAL": True})
        same.calc(wf)
        np.testing.assert_array_equal(k.tables(), same.tables())
        assert np.any(k.table(0) != 0)


def test_import_without_numpy_fails_at_import_with_a_clear_message():
    code = "import sys; sys.modules['numpy'] = None\ntry:\n import femtokit\nexcept ImportError as e:\n print(e)\n"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=os.environ, check=True)
    assert "femtokit needs NumPy" in out.stdout and "python3-numpy" in out.stdout

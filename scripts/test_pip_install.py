"""Installs femtokit as a user would, away from the build tree, and uses it.

Copies the checkout's tracked files (as a clone would hold them) into a
temporary directory, makes a fresh `python3 -m venv --system-site-packages`
there, builds a wheel with `python -m build --no-isolation --wheel`, installs
the copy with `pip install --no-build-isolation --no-index .` (reusing the
wheel's CMake tree), then imports the package from another directory and
computes a correlation function with the installed data. Offline; run with
Debian's interpreter:

  /usr/bin/python3 scripts/test_pip_install.py [--keep]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]

CHECK = r"""
import os, sys
import numpy as np
import femtokit
prefix = sys.argv[1]
assert femtokit.__file__.startswith(prefix), femtokit.__file__
assert femtokit.data_dir().startswith(prefix), femtokit.data_dir()
femtokit.set_verbosity(femtokit.Verbosity.Quiet)
kp = {"NQMAX": 20, "DELQ": 4.0, "NRMAX": 60, "DELR": 0.5, "KLMAX": 0}
c = femtokit.correlation("pp", "gx1d", {"R": 3.0, "lambdaX": 0.0}, np.array([6.0, 30.0, 70.0]), kpars=kp)
assert c[0] < 0.9 and c[1] > 1.0 and abs(c[2] - 1.0) < 0.1, c
assert os.listdir(os.environ["FEMTOKIT_CACHE"])
print("femtokit", femtokit.__version__, "from", os.path.dirname(femtokit.__file__), "C(q) =", np.round(c, 4))
"""


def run(cmd, **kw):
    t0 = time.monotonic()
    subprocess.run(cmd, check=True, **kw)
    return time.monotonic() - t0


def tracked_files():
    if (ROOT / ".git").exists():
        out = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z"], capture_output=True, check=True).stdout
        return [f for f in out.decode().split("\0") if f]
    return [str(p.relative_to(ROOT)) for p in ROOT.rglob("*") if p.is_file() and not p.relative_to(ROOT).parts[0].startswith("build")]


def main():
    keep = "--keep" in sys.argv[1:]
    tmp = Path(tempfile.mkdtemp(prefix="femtokit-pip-"))
    try:
        src, venv, dist, elsewhere = tmp / "src", tmp / "venv", tmp / "dist", tmp / "elsewhere"
        for f in tracked_files():
            if (ROOT / f).is_file():
                (src / f).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(ROOT / f, src / f)
        run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)])
        py = str(venv / "bin" / "python")
        quiet = {"stdout": subprocess.DEVNULL}
        wheel_s = run([py, "-m", "build", "--no-isolation", "--wheel", "--outdir", str(dist), str(src)], **quiet)
        wheels = list(dist.glob("femtokit-*.whl"))
        assert len(wheels) == 1, wheels
        names = zipfile.ZipFile(wheels[0]).namelist()
        for needed in ("femtokit/__init__.py", "femtokit/__init__.pyi", "femtokit/py.typed",
                       "femtokit/data/pp/wfparameters.dat"):
            assert needed in names, needed + " missing from the wheel"
        assert any(n.startswith("femtokit/_core.") and n.endswith(".so") for n in names)
        pip_s = run([py, "-m", "pip", "install", "--no-build-isolation", "--no-index", "-q", "."], cwd=src, **quiet)
        elsewhere.mkdir()
        env = {"PATH": "/usr/bin:/bin", "FEMTOKIT_CACHE": str(tmp / "cache"), "HOME": str(tmp)}
        run([py, "-c", CHECK, str(venv)], cwd=elsewhere, env=env)
        print("wheel built in %.0f s, pip install (reusing its CMake tree) in %.0f s" % (wheel_s, pip_s))
    finally:
        if keep:
            print("kept", tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()

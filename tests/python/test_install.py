# cmake --install puts the package, with its data, where the interpreter imports it from.
import re
import shutil
import subprocess
import sys

import pytest

from conftest import BINARY_DIR


def test_installed_module_imports(tmp_path):
    cache = (BINARY_DIR / "CMakeCache.txt").read_text()
    subdir = re.search(r"^FEMTOKIT_PYTHON_INSTALL_DIR:STRING=(.*)$", cache, re.M)
    cmake = shutil.which("cmake")
    if subdir is None or cmake is None:
        pytest.skip("not a CMake build tree with the Python module")
    subprocess.run([cmake, "--install", str(BINARY_DIR), "--component", "python", "--prefix", str(tmp_path)],
                   check=True, capture_output=True)
    site = tmp_path / subdir.group(1)
    package = site / "femtokit"
    assert any(p.name.startswith("_core.") for p in package.iterdir())
    assert (package / "__init__.pyi").is_file() and (package / "py.typed").is_file()
    assert (package / "data" / "pp" / "wfparameters.dat").is_file()
    out = subprocess.run([sys.executable, "-c", "import femtokit; print(femtokit.__file__); print(femtokit.data_dir())"],
                         capture_output=True, text=True, check=True, cwd=tmp_path,
                         env={"PYTHONPATH": str(site), "PATH": "/usr/bin:/bin"}).stdout.split("\n")
    assert out[0].startswith(str(package)) and out[1] == str(package / "data")

# cmake --install puts the module where the interpreter imports it from.
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
    assert any(p.name.startswith("femtokit.") for p in site.iterdir())
    out = subprocess.run([sys.executable, "-c", "import femtokit; print(femtokit.__file__)"], capture_output=True,
                         text=True, check=True, env={"PYTHONPATH": str(site), "PATH": "/usr/bin:/bin"}).stdout
    assert out.startswith(str(site))

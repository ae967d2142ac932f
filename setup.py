"""Builds the Python package femtokit through CMake: the library and the
extension femtokit._core only (Release, unity build, no tests, tools or
programs), installed by CMake's python component beside the package's Python
files together with the shipped parameter files (femtokit/data).

  pip install --no-build-isolation .          # offline, with Debian's setuptools
  python3 -m build --no-isolation --wheel     # a wheel in dist/

FEMTOKIT_CMAKE_ARGS adds arguments to the CMake configuration; the number of
parallel jobs is CMAKE_BUILD_PARALLEL_LEVEL, else the number of cores.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(femtokit VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            sys.exit("femtokit needs CMake to build (Debian: apt-get install cmake)")
        build = Path(self.build_temp).resolve() / "cmake"
        stage = Path(self.build_temp).resolve() / "stage"
        package = Path(self.get_ext_fullpath(ext.name)).resolve().parent
        args = [
            "-DCMAKE_BUILD_TYPE=Release",
            "-DFEMTOKIT_BUILD_TESTS=OFF",
            "-DFEMTOKIT_BUILD_BENCH=OFF",
            "-DFEMTOKIT_BUILD_TOOLS=OFF",
            "-DFEMTOKIT_BUILD_PYTHON=ON",
            "-DFEMTOKIT_UNITY_BUILD=ON",
            "-DFEMTOKIT_PYTHON_UNITY_BUILD=ON",
            "-DFEMTOKIT_MPI=OFF",
            "-DFEMTOKIT_PYTHON_INSTALL_DIR=.",
            "-DPython_EXECUTABLE=" + sys.executable,
        ] + shlex.split(os.environ.get("FEMTOKIT_CMAKE_ARGS", ""))
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run([cmake, "-S", str(ROOT), "-B", str(build)] + args, check=True)
        subprocess.run([cmake, "--build", str(build), "--target", "femtokit_python", "-j", jobs], check=True)
        shutil.rmtree(stage, ignore_errors=True)
        subprocess.run([cmake, "--install", str(build), "--component", "python", "--prefix", str(stage)], check=True)
        shutil.copytree(stage / "femtokit", package, dirs_exist_ok=True)


setup(
    version=version(),
    ext_modules=[Extension("femtokit._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)

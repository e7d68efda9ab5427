"""Builds the extension quarlen._quarlen with this repository's CMake tree.

build_ext configures a Release build of the library and the module only, installs it into a
staging folder and copies into the package: the module, the shared libraries it loads (found
beside it through its $ORIGIN run path) and the example configuration (quarlen/data).
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        staging = Path(self.build_temp).resolve() / "staging"
        jobs = os.environ.get("QUARLEN_BUILD_JOBS", "2")
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DQUARLEN_BUILD_TESTS=OFF",
                        "-DQUARLEN_BUILD_TOOLS=OFF", "-DQUARLEN_BUILD_PYTHON=ON",
                        "-DQUARLEN_PYTHON_INSTALL_DIR=python",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "-j", jobs], check=True)
        if staging.exists():
            shutil.rmtree(staging)
        subprocess.run(["cmake", "--install", str(build), "--prefix", str(staging)], check=True)

        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        package = target.parent
        package.mkdir(parents=True, exist_ok=True)
        module = next((staging / "python" / "quarlen").glob("_quarlen*.so"))
        shutil.copyfile(module, target)
        # The libraries under the names the module asks for (their sonames).
        for lib in (staging / "lib").glob("lib*.so*"):
            unversioned = lib.name.endswith(".so") and not lib.is_symlink()
            if unversioned or re.fullmatch(r"lib.*\.so\.\d+", lib.name):
                shutil.copyfile(lib.resolve(), package / lib.name)
        for folder in ("config", "scoremapping"):
            shutil.copytree(ROOT / "data" / folder, package / "data" / folder, dirs_exist_ok=True)


setup(ext_modules=[CMakeExtension("quarlen._quarlen")], cmdclass={"build_ext": CMakeBuild})

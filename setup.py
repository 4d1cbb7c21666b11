"""Builds the Python package fasogram: its extension fasogram._fasogram is the
CMake target _fasogram (the same engine sources as the program), so the build
runs CMake for that target alone.  No network access is needed:

    /usr/bin/python3 -m pip install --no-build-isolation --no-index --break-system-packages .

FASOGRAM_PREBUILT_EXTENSION=build/python/fasogram/_fasogram....so in the
environment installs that module, built by CMake already, instead.  The
install puts the command fasogram-survey (python3 -m fasogram.survey) beside
the Python it was installed for.

(Debian packages: python3-pip python3-setuptools python3-wheel python3-numpy
pybind11-dev python3-pybind11 python3-dev cmake; for the survey command
python3-dask and python3-distributed.)
"""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        prebuilt = os.environ.get("FASOGRAM_PREBUILT_EXTENSION")
        if prebuilt:
            # A module CMake has built already (build/python/fasogram/_fasogram*.so).
            shutil.copyfile(prebuilt, target)
            return
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.run(["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                        "-DFASOGRAM_PYTHON=ON", "-DBUILD_TESTING=OFF", "-DFASOGRAM_BENCH=OFF",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", build, "--target", "_fasogram", "-j", jobs],
                       check=True)
        built = glob.glob(os.path.join(build, "python", "fasogram", "_fasogram*.so"))
        if len(built) != 1:
            raise RuntimeError(f"the CMake build left {len(built)} modules _fasogram*.so")
        shutil.copyfile(built[0], target)


setup(ext_modules=[Extension("fasogram._fasogram", sources=[])],
      cmdclass={"build_ext": CMakeBuild})

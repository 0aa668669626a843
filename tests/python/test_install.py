"""The installed module (cmake --install, and the python3-multimedia Debian
package) finds its libraries and the reader plugins from where it lands."""

import glob
import os
import subprocess
import sys

import pytest

from conftest import BUILD

READ = ("import multimedia, sys; r = multimedia.VideoReader(sys.argv[1]); "
        "print(r.plugin, sum(1 for _ in r), multimedia.__file__)")


def read_with_module_from(site, path):
    env = dict(os.environ, PYTHONPATH=site)
    out = subprocess.run([sys.executable, "-c", READ, path], env=env, capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


def test_cmake_install(tmp_path, media):
    prefix = tmp_path / "prefix"
    for component in ("runtime", "python"):
        subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix), "--component", component],
                       check=True, capture_output=True)
    site = str(prefix / "lib" / "python3" / "dist-packages")
    plugin, frames, module = read_with_module_from(site, media("theora.ogv"))
    assert (plugin, frames) == ("gstplugin", "20") and module.startswith(site)


def test_debian_package(tmp_path, media):
    packages = tmp_path / "packages"
    made = subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                           "-B", str(packages), "-D", "CPACK_COMPONENTS_ALL=runtime;python"],
                          capture_output=True, text=True)
    assert made.returncode == 0, made.stdout + made.stderr
    [deb] = glob.glob(str(packages / "python3-multimedia_*_amd64.deb"))
    depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
    for needed in ("libmultimedia0", "python3-numpy", "python3 (>="):
        assert needed in depends
    root = tmp_path / "root"
    for package in glob.glob(str(packages / "*.deb")):
        subprocess.run(["dpkg-deb", "-x", package, str(root)], check=True)
    site = str(root / "usr" / "lib" / "python3" / "dist-packages")
    plugin, frames, _ = read_with_module_from(site, media("mjpeg-gst.avi"))
    assert (plugin, frames) == ("mjpegaviplugin", "20")

"""The build itself: the script host check and reproducible images."""
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import ROOT

SOURCES = ["Makefile", "src", "runtime", "resources", "tools"]


def copy_tree(destination: Path) -> Path:
    destination.mkdir(parents=True)
    for name in SOURCES:
        source = ROOT / name
        if source.is_dir():
            shutil.copytree(source, destination / name)
        else:
            shutil.copy2(source, destination / name)
    return destination


def make(tree: Path, *args: str) -> subprocess.CompletedProcess:
    return subprocess.run(["make", "-C", str(tree), "--no-print-directory", *args],
                          capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    return copy_tree(tmp_path_factory.mktemp("build") / "tree")


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


@pytest.mark.parametrize("host", [
    "",
    "evil.example/x",
    "host name",
    "host;calc",
    "host'))",
    'host"',
    "host%TEMP%",
    "host:",
    "host:80:81",
    "host:port",
    "host:123456",
    "h\u00f6st",
    "host\nother",
])
def test_bad_script_host_stops_the_build_and_leaves_no_image(tree, host):
    image = tree / "dist" / "choco-gui-setup.exe"
    image.parent.mkdir(exist_ok=True)
    image.write_bytes(b"image from an earlier build")
    done = make(tree, f"SCRIPT_HOST={host}")
    assert done.returncode != 0
    # The message names the value, quoted as the shell would quote it.
    quoted = subprocess.run(["bash", "-c", 'printf %q "$1"', "-", host],
                            capture_output=True, text=True).stdout
    assert f"SCRIPT_HOST={quoted} is not a host name" in done.stderr
    assert not image.exists()


def test_script_host_with_port_is_built_in(tree):
    done = make(tree, "SCRIPT_HOST=mirror.example-1.org:8443")
    assert done.returncode == 0, done.stderr
    image = (tree / "dist" / "choco-gui-setup.exe").read_bytes()
    assert utf16("DownloadString('https://mirror.example-1.org:8443/install.ps1')") in image
    assert utf16("community.chocolatey.org") not in image


def test_two_builds_in_different_directories_are_identical(tmp_path):
    images = []
    for name in ("one", "two"):
        tree = copy_tree(tmp_path / name / "checkout")
        done = make(tree)
        assert done.returncode == 0, done.stderr
        image = tree / "dist" / "choco-gui-setup.exe"
        assert utf16("DownloadString('https://community.chocolatey.org/install.ps1')") \
            in image.read_bytes()
        images.append(image.read_bytes())
    assert images[0] == images[1]

"""The build itself: the script host check and reproducible images."""
import re
import shutil
import subprocess
from pathlib import Path

import pefile
import pytest

from conftest import ROOT
from pe_checks import check_image

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
        sums = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=image.parent,
                              capture_output=True, text=True)
        assert sums.returncode == 0, sums.stdout
    assert images[0] == images[1]


@pytest.fixture(scope="module")
def signing(tmp_path_factory):
    """A built tree and a throwaway self-signed code-signing certificate."""
    base = tmp_path_factory.mktemp("signing")
    tree = copy_tree(base / "tree")
    done = make(tree)
    assert done.returncode == 0, done.stderr
    cert, key = base / "cert.pem", base / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", str(key), "-out", str(cert), "-days", "2",
                    "-subj", "/CN=choco-gui-setup test signer"],
                   check=True, capture_output=True)
    (base / "garbage.pem").write_text("not a certificate\n")
    return tree, cert, key


def dist_files(tree: Path) -> dict:
    return {p.name: p.read_bytes() for p in (tree / "dist").iterdir()}


@pytest.mark.parametrize("cert, key, message", [
    (None, "key.pem", "SIGN_CERT is not set"),
    ("cert.pem", None, "SIGN_KEY is not set"),
    ("missing.pem", "key.pem", "is not a readable file"),
    ("cert.pem", ".", "is not a readable file"),          # a directory
    ("garbage.pem", "key.pem", "osslsigncode could not sign"),
    ("cert.pem", "garbage.pem", "osslsigncode could not sign"),
])
def test_signing_errors_leave_dist_as_it_was(signing, cert, key, message):
    tree, cert_file, _ = signing
    before = dist_files(tree)
    args = [f"SIGN_{name}={cert_file.parent / value}"
            for name, value in (("CERT", cert), ("KEY", key)) if value]
    done = make(tree, "sign", *args)
    assert done.returncode != 0
    assert message in done.stderr
    assert dist_files(tree) == before


def test_signed_image_verifies_and_keeps_its_declarations(signing):
    tree, cert, key = signing
    # Twice: signing again starts from the unsigned build, not the signed file.
    for _ in range(2):
        done = make(tree, "sign", f"SIGN_CERT={cert}", f"SIGN_KEY={key}")
        assert done.returncode == 0, done.stderr
    image = tree / "dist" / "choco-gui-setup.exe"
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert),
                               "-in", str(image)], capture_output=True, text=True)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    assert "Signature verification: ok" in verified.stdout
    assert "Number of verified signatures: 1" in verified.stdout
    assert re.search(r"Message digest algorithm\s*:\s*SHA256", verified.stdout)
    pe = check_image(image)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    assert security.Size > 0
    sums = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=image.parent,
                          capture_output=True, text=True)
    assert sums.returncode == 0, sums.stdout

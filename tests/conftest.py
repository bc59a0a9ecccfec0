"""Shared fixtures: the built images and one Wine prefix for the session."""
import subprocess
from pathlib import Path

import pytest

from wine import Prefix

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build"
IMAGE = ROOT / "dist" / "choco-gui-setup.exe"
TWIN = BUILD / "x86_64" / "choco-gui-setup.exe"

# Creating the prefix runs a dozen 32-bit processes under the emulator.
PREFIX_TIMEOUT = 15 * 60


def built(path: Path) -> Path:
    if not path.exists():
        pytest.fail(f"{path} is missing: run the suite with `make test`")
    return path


def enable_i386_emulation() -> str:
    """'' once 32-bit Linux programs can start here, else the reason why not."""
    done = subprocess.run([str(ROOT / "tools" / "enable-i386-emulation")],
                          capture_output=True, text=True)
    return "" if done.returncode == 0 else done.stderr.strip()


@pytest.fixture(scope="session")
def emulation_problem() -> str:
    return enable_i386_emulation()


@pytest.fixture(scope="session")
def prefix(emulation_problem):
    # Without the emulator the prefix still gets its 64-bit half; it is made
    # anew once the 32-bit half can be made too.
    p = Prefix(BUILD / "wine", wow64=not emulation_problem)
    p.ensure(timeout=PREFIX_TIMEOUT)
    p.start_server()
    yield p
    p.stop_server()


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "shipped: runs the 32-bit image under the emulator (minutes)")

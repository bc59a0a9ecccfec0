"""The shipped 32-bit image itself, run by 32-bit Wine through the emulator.

Every 32-bit process costs about a minute under qemu, so this is one run of
the whole sequence with 32-bit stand-ins; the exit-status cases are the same
code the twin's suite covers.
"""
import os

import pytest

from conftest import BUILD, IMAGE, built
from harness import (CHOCO, COMMANDS, STDOUT, TEST_DIR, install_stand_ins,
                     read_calls, run_program, windows_case)

# A 32-bit program's system32 is syswow64.
POWERSHELL_32 = r"C:\windows\syswow64\WindowsPowerShell\v1.0\powershell.exe"
SHIPPED = TEST_DIR + r"\shipped\choco-gui-setup.exe"

pytestmark = pytest.mark.shipped


@pytest.fixture(scope="module")
def i386(emulation_problem):
    if emulation_problem:
        reason = f"32-bit Wine cannot start on this machine: {emulation_problem}"
        if os.environ.get("CI") == "true":
            pytest.fail(reason)
        pytest.skip(reason)


@pytest.fixture
def stand_ins_32(i386, prefix):
    install_stand_ins(prefix, built(BUILD / "i686" / "stand-in.exe"), POWERSHELL_32)
    yield
    install_stand_ins(prefix, built(BUILD / "x86_64" / "stand-in.exe"))


def test_shipped_image_runs_the_sequence(prefix, stand_ins_32, tmp_path):
    target = prefix.host_path(SHIPPED)
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_bytes(built(IMAGE).read_bytes())
    stdout, stderr, status = run_program(prefix, [SHIPPED], tmp_path,
                                         stdin=b"\r\n", timeout=30 * 60)
    assert stdout == STDOUT, stderr
    calls = read_calls(prefix)
    assert [call.command_line for call in calls] == COMMANDS
    assert [windows_case(call.program) for call in calls] == \
        [windows_case(p) for p in (POWERSHELL_32, CHOCO, POWERSHELL_32)]
    assert status == 0

"""The program's behaviour, run as the x86_64 twin under 64-bit Wine.

A stand-in program takes the place of powershell.exe and choco.exe: it records
which file was run, in which working directory, with which command line, and
exits with a status the test chooses.
"""
import os
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

from conftest import BUILD, TWIN, built

POWERSHELL = r"C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe"
CHOCO = r"C:\ProgramData\chocolatey\bin\choco.exe"
SYSTEM_CMD = r"C:\windows\system32\cmd.exe"
TEST_DIR = r"C:\test"
SETUP = TEST_DIR + r"\choco-gui-setup.exe"
LOG = TEST_DIR + r"\log.txt"
STATUS = TEST_DIR + r"\status.txt"
# The batch file that runs each case is itself run by a copy of cmd.exe, so
# that a case may break the system's own.
WRAPPER = TEST_DIR + r"\wrapper\cmd.exe"
BATCH = TEST_DIR + r"\run.cmd"

# The three command texts as the program must hand them to cmd.exe, which
# expands the two variables.
COMMANDS = [
    text.replace("%SystemRoot%", r"C:\windows").replace("%ProgramData%", r"C:\ProgramData")
    for text in (
        r"""%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe -NoProfile -InputFormat None -ExecutionPolicy Bypass -Command "[System.Net.ServicePointManager]::SecurityProtocol = [System.Net.ServicePointManager]::SecurityProtocol -bor 3072; iex ((New-Object System.Net.WebClient).DownloadString('https://community.chocolatey.org/install.ps1'))\"""",
        r"""%ProgramData%\chocolatey\bin\choco.exe install chocolateygui -y""",
        r"""%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe -NoProfile -InputFormat None -ExecutionPolicy Bypass -Command "Copy-Item -LiteralPath (Join-Path $env:ProgramData 'Microsoft\Windows\Start Menu\Programs\Chocolatey GUI.lnk') -Destination (Join-Path ([Environment]::GetFolderPath('Desktop')) 'Chocolatey GUI.lnk')\"""",
    )
]
PROGRAMS = [POWERSHELL, CHOCO, POWERSHELL]

MESSAGES = b"Creating Desktop Shortcut...\r\n\r\nPress enter to continue\r\n"
STDOUT = (b"stand-in call 1\r\nstand-in call 2\r\n"
          b"Creating Desktop Shortcut...\r\n"
          b"stand-in call 3\r\n"
          b"\r\nPress enter to continue\r\n")
NO_INTERPRETER = b"choco-gui-setup: could not start the command interpreter (cmd.exe)\r\n"

KEEP = object()  # leave a variable as Wine sets it


@dataclass
class Call:
    program: str
    cwd: str
    command_line: str


@dataclass
class Result:
    stdout: bytes
    stderr: bytes
    status: int  # as Windows reports it, signed 32-bit
    calls: list


def windows_case(path: str) -> str:
    return path.lower()


class Runner:
    """Runs the twin from a batch file in the prefix, one case at a time."""

    def __init__(self, prefix, scratch: Path):
        self.prefix = prefix
        self.scratch = scratch
        host = prefix.host_path
        stand_in = built(BUILD / "x86_64" / "stand-in.exe")
        for target in (POWERSHELL, CHOCO):
            host(target).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(stand_in, host(target))
        host(WRAPPER).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(host(SYSTEM_CMD), host(WRAPPER))
        shutil.copyfile(built(TWIN), host(SETUP))
        self.stand_in = stand_in

    def plant(self, directory: Path, *names: str) -> None:
        """Puts stand-ins under the given names where they must never run."""
        directory.mkdir(parents=True, exist_ok=True)
        for name in names:
            shutil.copyfile(self.stand_in, directory / name)

    def __call__(self, *, args="", statuses=(), stdin=b"", cwd=r"C:\work",
                 comspec=KEEP, path=KEEP) -> Result:
        host = self.prefix.host_path
        for leftover in (LOG, STATUS):
            host(leftover).unlink(missing_ok=True)
        lines = ["@echo off", f"cd /d {cwd}"]
        if comspec is not KEEP:
            lines.append(f"set COMSPEC={comspec or ''}")
        if path is not KEEP:
            lines.append(f"set PATH={path}")
        lines += [f"{SETUP} {args}".rstrip(), f">{STATUS} echo %errorlevel%"]
        host(BATCH).write_bytes("".join(l + "\r\n" for l in lines).encode())

        out, err = self.scratch / "stdout", self.scratch / "stderr"
        with open(out, "wb") as o, open(err, "wb") as e:
            if isinstance(stdin, bytes):
                (self.scratch / "stdin").write_bytes(stdin)
                with open(self.scratch / "stdin", "rb") as i:
                    self._run(i, o, e, statuses)
            else:
                self._run(stdin, o, e, statuses)

        status_file = host(STATUS)
        assert status_file.exists(), err.read_bytes()
        log = host(LOG)
        records = log.read_text(encoding="utf-8").splitlines() if log.exists() else []
        return Result(out.read_bytes(), err.read_bytes(),
                      int(status_file.read_text().strip()),
                      [Call(*r.split("\t", 2)) for r in records])

    def _run(self, stdin, stdout, stderr, statuses):
        extra = {"RECORDER_LOG": LOG,
                 "RECORDER_STATUS": ",".join(str(s) for s in statuses)}
        self.prefix.run([WRAPPER, "/c", BATCH], stdin=stdin, stdout=stdout,
                        stderr=stderr, extra_env=extra, timeout=120)


@pytest.fixture(scope="module")
def run(prefix, tmp_path_factory):
    prefix.host_path(r"C:\work").mkdir(exist_ok=True)
    return Runner(prefix, tmp_path_factory.mktemp("run"))


def assert_full_sequence(result: Result, cwd=r"C:\work") -> None:
    assert result.stdout == STDOUT
    assert [windows_case(c.program) for c in result.calls] == \
        [windows_case(p) for p in PROGRAMS]
    assert [c.command_line for c in result.calls] == COMMANDS
    assert {windows_case(c.cwd) for c in result.calls} == {windows_case(cwd)}


def test_runs_the_three_commands_in_order_with_exact_output(run):
    result = run()
    assert_full_sequence(result)
    assert result.stderr == b""
    assert result.status == 0


@pytest.mark.parametrize("statuses, expected", [
    ((0, 0, 0), 0),
    ((5, 0, 0), 5),
    ((0, 7, 0), 7),
    ((0, 0, 9), 9),
    ((3, 4, 5), 3),            # the first failure is the one reported
    ((0, 3010, 0), 3010),      # reboot required passes through whole
    ((0, 3010, 1), 3010),
    ((-1, 0, 0), -1),          # a child's -1 is a status, not "could not start"
])
def test_exit_status_is_the_first_failure_and_every_step_still_runs(run, statuses, expected):
    result = run(statuses=statuses)
    assert_full_sequence(result)
    assert result.stderr == b""
    assert result.status == expected


@pytest.mark.parametrize("args", ["/?", "--help -y", "uninstall chocolateygui", '"C:\\a b" %PATH%'])
def test_arguments_change_nothing(run, args):
    result = run(args=args)
    assert_full_sequence(result)
    assert result.status == 0


@pytest.mark.parametrize("stdin", [b"", b"\n", b"anything typed\r\n", b"no line feed at all"])
def test_wait_ends_at_first_line_or_end_of_file(run, stdin):
    result = run(stdin=stdin)
    assert_full_sequence(result)
    assert result.status == 0


def test_reads_one_line_from_an_open_pipe_and_leaves_the_rest(run):
    read_end, write_end = os.pipe()
    try:
        # The writer stays open: waiting for end of file would hang.
        os.write(write_end, b"yes\r\nmore input\n")
        result = run(stdin=read_end)
        assert_full_sequence(result)
        assert result.status == 0
        os.set_blocking(read_end, False)
        assert os.read(read_end, 100) == b"more input\n"
    finally:
        os.close(read_end)
        os.close(write_end)


@pytest.mark.parametrize("comspec", [
    None,                       # unset
    r"C:\nowhere\cmd.exe",      # absolute, but not there
    "cmd.exe",                  # relative: would mean the working directory
])
def test_programs_planted_in_the_working_directory_never_run(run, prefix, comspec):
    run.plant(prefix.host_path(r"C:\work"), "cmd.exe", "powershell.exe", "choco.exe")
    result = run(comspec=comspec)
    assert_full_sequence(result)
    assert result.status == 0


def test_without_any_interpreter_every_step_still_runs_and_status_is_1(run, prefix):
    # COMSPEC relative, PATH relative or pointing nowhere, and the system's
    # cmd.exe not a program: only the planted one could start, and must not.
    planted = prefix.host_path(r"C:\work\sub")
    run.plant(planted.parent, "cmd.exe")
    run.plant(planted, "cmd.exe")
    system_cmd = prefix.host_path(SYSTEM_CMD)
    saved = system_cmd.with_name("cmd.exe.saved")
    system_cmd.rename(saved)
    try:
        system_cmd.write_bytes(b"not a program\r\n")
        result = run(comspec="cmd.exe", path=r".;sub;C:\nowhere")
    finally:
        saved.replace(system_cmd)
    assert result.calls == []
    assert result.stdout == MESSAGES
    assert result.stderr == NO_INTERPRETER * 3
    assert result.status == 1


def test_working_directory_on_another_drive(run, prefix, tmp_path):
    drive = prefix.root / "dosdevices" / "d:"
    drive.unlink(missing_ok=True)
    drive.symlink_to(tmp_path)
    run.plant(tmp_path / "work", "cmd.exe", "powershell.exe")
    try:
        result = run(cwd=r"D:\work", comspec=None)
    finally:
        drive.unlink()
    assert_full_sequence(result, cwd=r"D:\work")
    assert result.status == 0

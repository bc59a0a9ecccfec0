"""Running choco-gui-setup in the Wine prefix with stand-ins for the tools.

The stand-in takes the place of powershell.exe and choco.exe: it records which
file was run, in which working directory, with which command line, and exits
with a status the test chooses (see win32/stand-in.c).
"""
import shutil
from contextlib import ExitStack
from dataclasses import dataclass
from pathlib import Path

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
NO_HANDLES = TEST_DIR + r"\no-handles.exe"

# The three command texts as the program must hand them to cmd.exe, which
# expands the two variables.
COMMANDS = [
    text.replace("%SystemRoot%", r"C:\windows").replace("%ProgramData%", r"C:\ProgramData")
    for text in (
        r"""%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe -NoProfile -InputFormat None -ExecutionPolicy Bypass -Command "[System.Net.ServicePointManager]::SecurityProtocol = [System.Net.ServicePointManager]::SecurityProtocol -bor 3072; iex ((New-Object System.Net.WebClient).DownloadString('https://community.chocolatey.org/install.ps1'))""" '"',
        r"""%ProgramData%\chocolatey\bin\choco.exe install chocolateygui -y""",
        r"""%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe -NoProfile -InputFormat None -ExecutionPolicy Bypass -Command "Copy-Item -LiteralPath (Join-Path $env:ProgramData 'Microsoft\Windows\Start Menu\Programs\Chocolatey GUI.lnk') -Destination (Join-Path ([Environment]::GetFolderPath('Desktop')) 'Chocolatey GUI.lnk')""" '"',
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


def install_stand_ins(prefix, stand_in: Path, powershell: str = POWERSHELL) -> None:
    for target in (powershell, CHOCO):
        prefix.host_path(target).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(stand_in, prefix.host_path(target))


def run_program(prefix, argv, scratch: Path, *, stdin=b"", statuses=(),
                timeout=120):
    """Runs argv in the prefix with a fresh stand-in log; stdin is bytes or
    a file descriptor. Returns (stdout, stderr, Unix exit status)."""
    prefix.host_path(LOG).unlink(missing_ok=True)
    out, err = scratch / "stdout", scratch / "stderr"
    extra = {"RECORDER_LOG": LOG,
             "RECORDER_STATUS": ",".join(str(s) for s in statuses)}
    with ExitStack() as files:
        if isinstance(stdin, bytes):
            (scratch / "stdin").write_bytes(stdin)
            stdin = files.enter_context(open(scratch / "stdin", "rb"))
        done = prefix.run(argv, stdin=stdin,
                          stdout=files.enter_context(open(out, "wb")),
                          stderr=files.enter_context(open(err, "wb")),
                          extra_env=extra, timeout=timeout)
    return out.read_bytes(), err.read_bytes(), done.returncode


def read_calls(prefix) -> list:
    log = prefix.host_path(LOG)
    records = log.read_text(encoding="utf-8").splitlines() if log.exists() else []
    return [Call(*r.split("\t", 2)) for r in records]


class Runner:
    """Runs the twin from a batch file in the prefix, one case at a time, so
    that the case can set the working directory and variables, and the full
    32-bit exit status can be read back."""

    def __init__(self, prefix, scratch: Path):
        self.prefix = prefix
        self.scratch = scratch
        self.stand_in = built(BUILD / "x86_64" / "stand-in.exe")
        install_stand_ins(prefix, self.stand_in)
        host = prefix.host_path
        host(WRAPPER).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(host(SYSTEM_CMD), host(WRAPPER))
        shutil.copyfile(built(TWIN), host(SETUP))
        shutil.copyfile(built(BUILD / "x86_64" / "no-handles.exe"), host(NO_HANDLES))

    def plant(self, directory: Path, *names: str) -> None:
        """Puts stand-ins under the given names where they must never run."""
        directory.mkdir(parents=True, exist_ok=True)
        for name in names:
            shutil.copyfile(self.stand_in, directory / name)

    def __call__(self, *, args="", statuses=(), stdin=b"", cwd=r"C:\work",
                 comspec=KEEP, path=KEEP, launcher="") -> Result:
        host = self.prefix.host_path
        host(STATUS).unlink(missing_ok=True)
        lines = ["@echo off", f"cd /d {cwd}"]
        if comspec is not KEEP:
            lines.append(f"set COMSPEC={comspec or ''}")
        if path is not KEEP:
            lines.append(f"set PATH={path}")
        lines += [f"{launcher} {SETUP} {args}".strip(), f">{STATUS} echo %errorlevel%"]
        host(BATCH).write_bytes("".join(l + "\r\n" for l in lines).encode())

        for _ in range(2):
            stdout, stderr, _ = run_program(self.prefix, [WRAPPER, "/c", BATCH],
                                            self.scratch, stdin=stdin,
                                            statuses=statuses)
            assert host(STATUS).exists(), stderr
            result = Result(stdout, stderr, int(host(STATUS).read_text()),
                            read_calls(self.prefix))
            # Seen once in hundreds of runs, just after the prefix was made:
            # Wine's cmd.exe did not find the program to start (9009). The
            # program never ran, so the case is simply asked again, once;
            # a pipe given as stdin cannot be replayed.
            if not (result.status == 9009 and not result.stdout and not result.calls
                    and isinstance(stdin, bytes)):
                break
        return result

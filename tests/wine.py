"""A Wine prefix for the tests: made once, kept in the build tree, reused.

The prefix has both halves (64-bit system32 and 32-bit syswow64), so the
x86_64 twin and the shipped i686 image run in the same place. One persistent
wineserver serves the whole session; programs get files, not pipes, for
standard output, since Wine's background processes would hold a pipe open.
"""
import os
import shutil
import subprocess
from pathlib import Path

LIB = Path("/usr/lib/wine")
WINE64 = str(LIB / "wine64")
WINESERVER = str(LIB / "wineserver")


class Prefix:
    def __init__(self, root: Path, wow64: bool):
        self.root = root
        self.wow64 = wow64
        self.env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        self.env.update(
            WINEPREFIX=str(root),
            WINELOADER=WINE64,
            WINEDEBUG="-all",
            # No Mono or Gecko: nothing here needs them, and their installers
            # would ask questions.
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )

    @property
    def drive_c(self) -> Path:
        return self.root / "drive_c"

    def host_path(self, windows_path: str) -> Path:
        """The Unix path of a C:\\ path in this prefix."""
        drive, _, rest = windows_path.partition(":\\")
        assert drive.upper() == "C", windows_path
        return self.drive_c.joinpath(*rest.split("\\"))

    def ensure(self, timeout: int) -> None:
        """Makes the prefix unless a complete one is already there."""
        version = subprocess.run([WINE64, "--version"], capture_output=True,
                                 text=True, check=True).stdout.strip()
        stamp = version + (" wow64" if self.wow64 else "")
        ready = self.root / ".ready"
        if ready.exists() and ready.read_text() in (stamp, version + " wow64"):
            return
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        subprocess.run([WINE64, "wineboot", "--init"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=timeout,
                       check=True)
        ready.write_text(stamp)

    def start_server(self) -> None:
        # Fails harmlessly when a server for the prefix is already running.
        subprocess.run([WINESERVER, "-p"], env=self.env, check=False)

    def stop_server(self) -> None:
        subprocess.run([WINESERVER, "-k"], env=self.env, check=False)

    def run(self, argv, *, stdin, stdout, stderr, extra_env=None, timeout):
        """Runs a Windows program; argv[0] may be a Windows path."""
        env = dict(self.env, **(extra_env or {}))
        return subprocess.run([WINE64, *argv], env=env, stdin=stdin,
                              stdout=stdout, stderr=stderr, timeout=timeout)

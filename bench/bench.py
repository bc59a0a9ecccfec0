"""make bench: choco-gui-setup against the same sequence on the C++ standard
library (bench/baseline.cpp, linked statically). Prints one Markdown table:
the i686 image sizes, and the median wall time of full runs of the x86_64
builds under wine64 with the tests' stand-ins, runs interleaved."""
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from datetime import date
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

from conftest import BUILD, PREFIX_TIMEOUT, TWIN, enable_i386_emulation  # noqa: E402
from harness import STDOUT, install_stand_ins, read_calls, run_program  # noqa: E402
from wine import WINE64, Prefix  # noqa: E402

RUNS = 7
PROGRAMS = {"ours": r"C:\bench\choco-gui-setup.exe",
            "baseline": r"C:\bench\baseline.exe"}


def one_run(prefix, program, scratch) -> float:
    start = time.perf_counter()
    stdout, stderr, status = run_program(prefix, [program], scratch, stdin=b"\r\n")
    elapsed = time.perf_counter() - start
    calls = read_calls(prefix)
    # The baseline writes through the C runtime's buffer, so only its bytes,
    # not their order, can be required to match.
    if status != 0 or len(calls) != 3 or sorted(stdout.splitlines()) != sorted(STDOUT.splitlines()):
        sys.exit(f"bench: {program} did not run the sequence: status {status}, "
                 f"{len(calls)} calls, stdout {stdout!r}, stderr {stderr!r}")
    return elapsed


def machine() -> str:
    cpu = next((line.split(":", 1)[1].strip()
                for line in Path("/proc/cpuinfo").read_text().splitlines()
                if line.startswith("model name")), platform.machine())
    wine = subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout.strip()
    distro = next((line.split("=", 1)[1].strip('"')
                   for line in Path("/etc/os-release").read_text().splitlines()
                   if line.startswith("PRETTY_NAME=")), "Linux")
    return f"{distro}, {os.cpu_count()} cores, {cpu}, {wine}"


def main() -> None:
    prefix = Prefix(BUILD / "wine", wow64=not enable_i386_emulation())
    prefix.ensure(timeout=PREFIX_TIMEOUT)
    install_stand_ins(prefix, BUILD / "x86_64" / "stand-in.exe")
    bench_dir = prefix.host_path(r"C:\bench")
    bench_dir.mkdir(exist_ok=True)
    shutil.copyfile(TWIN, bench_dir / "choco-gui-setup.exe")
    shutil.copyfile(BUILD / "x86_64" / "baseline.exe", bench_dir / "baseline.exe")

    times = {name: [] for name in PROGRAMS}
    prefix.start_server()
    try:
        with tempfile.TemporaryDirectory() as scratch:
            one_run(prefix, PROGRAMS["ours"], Path(scratch))  # warm the caches
            for round_ in range(RUNS):
                order = list(PROGRAMS) if round_ % 2 == 0 else list(reversed(PROGRAMS))
                for name in order:
                    times[name].append(one_run(prefix, PROGRAMS[name], Path(scratch)))
    finally:
        prefix.stop_server()

    size = {"ours": (BUILD / "i686" / "choco-gui-setup.exe").stat().st_size,
            "baseline": (BUILD / "i686" / "baseline.exe").stat().st_size}
    median = {name: statistics.median(t) for name, t in times.items()}
    print(f"Measured {date.today().isoformat()} on {machine()}.\n")
    print("| | choco-gui-setup | C++ standard library, static | ratio |")
    print("|---|---:|---:|---:|")
    print(f"| i686 image size | {size['ours']:,} B | {size['baseline']:,} B "
          f"| {size['ours'] / size['baseline']:.4f} |")
    print(f"| one full run under wine64, x86_64, median of {RUNS} "
          f"| {median['ours']:.3f} s | {median['baseline']:.3f} s "
          f"| {median['ours'] / median['baseline']:.2f} |")


if __name__ == "__main__":
    main()

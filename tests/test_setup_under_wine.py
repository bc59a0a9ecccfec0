"""The program's behaviour, run as the x86_64 twin under 64-bit Wine."""
import os

import pytest

from harness import (MESSAGES, NO_HANDLES, NO_INTERPRETER, SYSTEM_CMD, COMMANDS,
                     PROGRAMS, STDOUT, Result, Runner, windows_case)


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


@pytest.mark.parametrize("handles", ["null", "invalid"])
def test_runs_to_the_end_without_standard_handles(run, handles):
    # Started with no console and no files: nothing to write to or read from.
    result = run(launcher=f"{NO_HANDLES} {handles}", statuses=(0, 3010, 0))
    assert result.stdout == b""
    assert [c.command_line for c in result.calls] == COMMANDS
    assert result.status == 3010

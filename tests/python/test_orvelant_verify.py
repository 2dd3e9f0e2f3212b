"""The Python module against the command line: the same report on every example and real case,
the same verdicts from many threads, and the inputs it cannot judge."""
import concurrent.futures
import json
import os
import pathlib
import subprocess
import sys
import tempfile

import pytest

import orvelant_verify

SOURCE = pathlib.Path(__file__).resolve().parents[2]
SHARED = pathlib.Path(os.environ.get("ORV_SHARED_DIR", SOURCE.parent / "shared"))
BINARY = os.environ["ORV_BINARY"]
FAKETIME = next(iter(pathlib.Path("/usr/lib").glob("*/faketime/libfaketime.so.1")), None)


_TDX = tempfile.TemporaryDirectory(prefix="orv-py-")


def _cases():
    """The command lines of tests/api/same_report_cases.txt this machine can run."""
    tdx = pathlib.Path(_TDX.name)
    made_tdx = SHARED.is_dir() and subprocess.run(
        [sys.executable, SOURCE / "examples/real-tdx/make_inputs.py", SHARED, tdx]).returncode == 0
    places = {"{examples}": str(SOURCE / "examples"), "{data}": str(SOURCE / "tests/data"),
              "{shared}": str(SHARED), "{tdx}": str(tdx)}
    for line in (SOURCE / "tests/api/same_report_cases.txt").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        if ("{shared}" in line and not SHARED.is_dir()) or ("{tdx}" in line and not made_tdx):
            continue
        at, *args = line.split()
        if at != "-" and FAKETIME is None:
            continue
        for name, value in places.items():
            args = [arg.replace(name, value) for arg in args]
        yield pytest.param(None if at == "-" else at, args, id=" ".join(args[:2]).replace(str(SOURCE) + "/", ""))


CASES = list(_cases())

# Options whose value is a list in the module; the others are single inputs.
LISTS = {"--head": "heads", "--contains": "contains"}


def call(at, args, **extra):
    """The module's function for the command line `args`, with its files read."""
    command, document, options = args[0], args[1], args[2:]
    kwargs = {}
    for option, path in zip(options[::2], options[1::2]):
        name = LISTS.get(option, option[2:].replace("-", "_"))
        content = pathlib.Path(path).read_bytes()
        if name in LISTS.values() or (command == "key-chain" and name == "expected"):
            kwargs.setdefault(name, []).append(content)
        else:
            kwargs[name] = content
    if at is not None:
        kwargs["now"] = int(subprocess.run(["date", "-ud", at, "+%s"], capture_output=True, text=True).stdout)
    function = getattr(orvelant_verify, command.replace("-", "_"))
    return function(pathlib.Path(document).read_bytes(), **kwargs, **extra)


def run_program(at, args):
    env = dict(os.environ)
    if at is not None:
        env.update(LD_PRELOAD=str(FAKETIME), FAKETIME="@" + at[:19].replace("T", " "), TZ=":")
    return subprocess.run([BINARY, *args], capture_output=True, env=env)


@pytest.mark.parametrize("at,args", CASES)
def test_same_report_as_the_command_line(at, args):
    as_json = run_program(at, args + ["--json"])
    as_text = run_program(at, args)
    assert call(at, args) == json.loads(as_json.stdout)
    assert call(at, args, text=True, label=args[1]) == as_text.stdout.decode()
    assert as_json.returncode == as_text.returncode


def test_threads_give_the_serial_verdicts():
    serial = [call(*case.values) for case in CASES]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        for _ in range(3):
            assert list(pool.map(lambda case: call(*case.values), CASES)) == serial


def test_inputs_it_cannot_judge():
    record = (SOURCE / "examples/live-record.json").read_bytes()
    with pytest.raises(orvelant_verify.InputError, match="^key is not UTF-8 text$"):
        orvelant_verify.receipt(record, key=b"\xff")
    with pytest.raises(orvelant_verify.InputError, match="needs both a snapshot and at least one expected TD"):
        orvelant_verify.key_chain(b"{}", snapshot="{}", now=0)
    with pytest.raises(TypeError):
        orvelant_verify.receipt(record, key=42)
    # Text is taken as its UTF-8 bytes.
    key = (SOURCE / "examples/live-service-key.hex").read_text()
    assert orvelant_verify.receipt(record.decode(), key=key)["outcome"] == "valid"

"""The progress line of a long run: on a terminal standard error only, erased before the report,
and never a change to standard output or the exit status."""
import fcntl
import os
import pathlib
import pty
import struct
import subprocess
import termios
import threading

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BINARY = os.environ["ORV_BINARY"]
KEY = SOURCE / "examples/notary-key.pem"


def run(args, stderr_on_terminal, first_draw_ms=None):
    """(status, stdout, stderr) of the program, its standard error a pipe or a terminal."""
    env = {key: value for key, value in os.environ.items() if key != "ORV_PROGRESS_FIRST_DRAW_MS"}
    env["TERM"] = "xterm"
    if first_draw_ms is not None:
        env["ORV_PROGRESS_FIRST_DRAW_MS"] = str(first_draw_ms)
    if not stderr_on_terminal:
        done = subprocess.run([BINARY, *args], capture_output=True, env=env, timeout=120)
        return done.returncode, done.stdout, done.stderr
    terminal, program_side = pty.openpty()
    fcntl.ioctl(program_side, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 200, 0, 0))
    process = subprocess.Popen([BINARY, *args], stdout=subprocess.PIPE, stderr=program_side, env=env)
    os.close(program_side)
    shown = bytearray()

    def read_terminal():
        while True:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:  # the program's side closed
                return
            if not chunk:
                return
            shown.extend(chunk)

    reader = threading.Thread(target=read_terminal)
    reader.start()
    out, _ = process.communicate(timeout=120)
    reader.join()
    os.close(terminal)
    return process.returncode, out, bytes(shown)


def test_long_chain_shows_progress_on_a_terminal_only(tmp_path):
    receipts = (SOURCE / "examples/receipt-chain.jsonl").read_text().splitlines()
    chain = tmp_path / "chain.jsonl"
    chain.write_text("\n".join(receipts * 60) + "\n")  # every fourth link broken, every entry judged
    args = ["chain", str(chain), "--key", str(KEY)]

    status, out, err = run(args, stderr_on_terminal=False, first_draw_ms=0)
    assert err == b""
    assert status == 1 and out.startswith(b"INVALID")

    shown_status, shown_out, shown = run(args, stderr_on_terminal=True, first_draw_ms=0)
    assert (shown_status, shown_out) == (status, out)
    assert shown.startswith(b"\r") and b" of 180 entries judged" in shown, shown
    assert shown.endswith(b"\r\x1b[K"), shown  # erased: the terminal ends with the report


def test_short_run_leaves_the_terminal_untouched():
    args = ["chain", str(SOURCE / "examples/receipt-chain.jsonl"), "--key", str(KEY), "--json"]
    status, out, err = run(args, stderr_on_terminal=True)
    assert (status, err) == (0, b"")
    assert (status, out) == run(args, stderr_on_terminal=False)[:2]

"""The progress line of a long run: on a terminal's standard error only, erased before the report,
and never a change to standard output or the exit status."""
import fcntl
import os
import pathlib
import pty
import struct
import subprocess
import termios
import threading

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def run(args, on_terminal, first_draw_ms=""):
    """(status, stdout, stderr), with standard error a 200-column terminal or a pipe."""
    command = [os.environ["ORV_BINARY"], *args, "--key", str(EXAMPLES / "notary-key.pem")]
    env = dict(os.environ, TERM="xterm", ORV_PROGRESS_FIRST_DRAW_MS=str(first_draw_ms))  # empty: the default
    if not on_terminal:
        done = subprocess.run(command, capture_output=True, env=env, timeout=120)
        return done.returncode, done.stdout, done.stderr
    terminal, program_side = pty.openpty()
    fcntl.ioctl(program_side, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 200, 0, 0))
    program = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=program_side, env=env)
    os.close(program_side)
    shown = bytearray()

    def read_terminal():  # until the program's side closes (EIO)
        try:
            while chunk := os.read(terminal, 4096):
                shown.extend(chunk)
        except OSError:
            pass

    reader = threading.Thread(target=read_terminal)
    reader.start()
    out = program.communicate(timeout=120)[0]
    reader.join()
    os.close(terminal)
    return program.returncode, out, bytes(shown)


def test_long_chain_shows_progress_on_a_terminal_only(tmp_path):
    chain = tmp_path / "chain.jsonl"  # every fourth link broken, every entry judged
    chain.write_text("".join([(EXAMPLES / "receipt-chain.jsonl").read_text()] * 60))
    status, out, err = run(["chain", str(chain)], on_terminal=False, first_draw_ms=0)
    assert (status, err) == (1, b"") and out.startswith(b"INVALID")
    shown_status, shown_out, shown = run(["chain", str(chain)], on_terminal=True, first_draw_ms=0)
    assert (shown_status, shown_out) == (status, out)
    assert shown.startswith(b"\r") and b" of 180 entries judged" in shown, shown
    assert shown.endswith(b"\r\x1b[K"), shown  # erased: the terminal ends with the report


def test_short_run_leaves_the_terminal_untouched():
    args = ["chain", str(EXAMPLES / "receipt-chain.jsonl"), "--json"]
    status, out, err = run(args, on_terminal=True)
    assert (status, err) == (0, b"") and (status, out) == run(args, on_terminal=False)[:2]

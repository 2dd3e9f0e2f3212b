"""The Python examples run: the process pool over a folder, and the Dask map on a LocalCluster,
each giving the module's report for every record."""
import json
import os
import pathlib
import shutil
import subprocess
import sys

import orvelant_verify

SOURCE = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = SOURCE / "examples"


def make_folder(tmp_path):
    """Valid and tampered records under several names."""
    folder = tmp_path / "records"
    folder.mkdir()
    for i in range(6):
        name = "live-record.json" if i % 2 == 0 else "live-record-tampered.json"
        shutil.copy(EXAMPLES / name, folder / f"{i:02}-{name}")
    expected = {p.name: orvelant_verify.receipt(p.read_bytes(), key=(EXAMPLES / "live-service-key.hex").read_bytes())
                for p in folder.iterdir()}
    return folder, expected


def run_example(*args):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, env=os.environ, timeout=300)


def test_process_pool_over_a_folder(tmp_path):
    folder, expected = make_folder(tmp_path)
    done = run_example(EXAMPLES / "python/check_folder.py", folder, EXAMPLES / "live-service-key.hex")
    assert done.returncode == 1, done.stderr  # the tampered records are invalid
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    assert [line["file"] for line in lines] == sorted(expected)
    assert all(line["report"] == expected[line["file"]] for line in lines)


def test_dask_local_cluster_writes_one_json_lines_file(tmp_path):
    folder, expected = make_folder(tmp_path)
    out = tmp_path / "reports.jsonl"
    done = run_example(EXAMPLES / "python/dask_reports.py", folder, EXAMPLES / "live-service-key.hex", out)
    assert done.returncode == 0, done.stderr
    lines = [json.loads(line) for line in out.read_text().splitlines()]
    assert [line["file"] for line in lines] == sorted(expected)
    assert all(line["report"] == expected[line["file"]] for line in lines)

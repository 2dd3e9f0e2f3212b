#!/usr/bin/env python3
"""The same check mapped over a Dask cluster: every live record (*.json) in a folder that all
workers can read, judged against one pinned key, into one JSON Lines file of reports
({"file": NAME, "report": THE --json REPORT}, in the folder's order). Without a scheduler address
it starts a cluster on this machine.

    python3 examples/python/dask_reports.py RECORDS_DIR KEY_FILE OUT.jsonl [SCHEDULER_ADDRESS]
"""
import json
import pathlib
import sys

from dask.distributed import Client, LocalCluster

import orvelant_verify


def check_batch(paths, key):
    # A batch per task: a record takes well under a millisecond, a task's overhead about one.
    return [{"file": pathlib.Path(p).name, "report": orvelant_verify.receipt(pathlib.Path(p).read_bytes(), key=key)}
            for p in paths]


def main(folder, key_file, out, scheduler=None, batch=500):
    key = pathlib.Path(key_file).read_bytes()
    records = [str(p) for p in sorted(pathlib.Path(folder).resolve().glob("*.json"))]
    batches = [records[i:i + batch] for i in range(0, len(records), batch)]
    cluster = None if scheduler else LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None)
    with Client(scheduler or cluster) as client:
        key_future = client.scatter(key, broadcast=True)
        futures = [client.submit(check_batch, b, key_future, key=f"check-{i}") for i, b in enumerate(batches)]
        # Written in order, one batch at a time, so the file never waits on the whole run in memory.
        with open(out, "w", encoding="utf-8") as jsonl:
            for future in futures:
                for line in future.result():
                    jsonl.write(json.dumps(line, separators=(",", ":")) + "\n")
                future.release()
    if cluster is not None:
        cluster.close()
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))

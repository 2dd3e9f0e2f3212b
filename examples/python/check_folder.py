#!/usr/bin/env python3
"""Checks every live record (*.json) in a folder against one pinned key, on all cores, and
prints one JSON line per record: {"file": NAME, "report": THE --json REPORT}. Ends with status 0
when every record is valid, 1 otherwise.

    python3 examples/python/check_folder.py RECORDS_DIR KEY_FILE
"""
import concurrent.futures
import json
import pathlib
import sys

import orvelant_verify


def check(path, key):
    return {"file": path.name, "report": orvelant_verify.receipt(path.read_bytes(), key=key)}


def main(folder, key_file):
    key = pathlib.Path(key_file).read_bytes()
    records = sorted(pathlib.Path(folder).glob("*.json"))
    all_valid = True
    with concurrent.futures.ProcessPoolExecutor() as pool:
        # Large chunks: one record takes well under a millisecond, so the hand-over would dominate.
        for line in pool.map(check, records, [key] * len(records), chunksize=max(1, len(records) // 64)):
            all_valid &= line["report"]["valid"]
            print(json.dumps(line, separators=(",", ":")))
    return 0 if all_valid else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))

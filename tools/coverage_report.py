#!/usr/bin/env python3
"""Line and branch coverage of src/ from a build made with ORV_COVERAGE=ON whose tests have run.

Usage: tools/coverage_report.py BUILD_DIR

Runs gcovr once over BUILD_DIR's coverage data, writes BUILD_DIR/html/index.html (annotated
sources) and BUILD_DIR/coverage-summary.json, and prints one line per file and one per src/
folder with line and branch coverage. Branches that gcc adds for exception unwinding, and those
on lines without code, are left out: they are not decisions in our source, and counting them
makes the branch figure say little.
"""
import json
import os
import re
import subprocess
import sys

FOLDERS = ["core", "json", "crypto", "sig", "dcap", "tsa", "tlog", "tdx", "trust", "cli"]


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f}%" if total else "    -"


def row(name, lc, lt, bc, bt):
    return f"{name:<34} {lc:>6}/{lt:<6} {percent(lc, lt)}   {bc:>6}/{bt:<6} {percent(bc, bt)}"


HEADER = f"{'':<34} {'lines':>20}   {'branches':>20}"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(sys.argv[1])
    html = os.path.join(build, "html")
    summary_path = os.path.join(build, "coverage-summary.json")
    os.makedirs(html, exist_ok=True)
    subprocess.run(
        ["gcovr", "--root", root, "--filter", re.escape(os.path.join(root, "src") + os.sep),
         "--exclude-throw-branches", "--exclude-unreachable-branches",
         "-j", os.environ.get("JOBS", "2"),
         "--json-summary", summary_path,
         "--html-details", os.path.join(html, "index.html"),
         "--html-title", "orvelant-verify coverage",
         build],
        check=True, cwd=root)
    with open(summary_path, encoding="utf-8") as f:
        files = json.load(f)["files"]

    totals = {d: [0, 0, 0, 0] for d in FOLDERS}
    print(HEADER)
    for entry in sorted(files, key=lambda e: e["filename"]):
        name = entry["filename"]
        counts = [entry["line_covered"], entry["line_total"],
                  entry["branch_covered"], entry["branch_total"]]
        print(row(name, *counts))
        parts = name.split("/")
        folder = parts[1] if len(parts) > 2 and parts[0] == "src" else None
        # A folder outside the known list is still counted, so a new one cannot go unseen.
        totals.setdefault(folder or "other", [0, 0, 0, 0])
        for i, value in enumerate(counts):
            totals[folder or "other"][i] += value

    print()
    print(HEADER)
    overall = [0, 0, 0, 0]
    for folder, counts in totals.items():
        print(row(f"src/{folder}", *counts))
        overall = [a + b for a, b in zip(overall, counts)]
    print(row("total", *overall))
    print(f"\nHTML report: {os.path.relpath(os.path.join(html, 'index.html'), root)}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Builds key-receipt inputs around a real Intel TDX quote, for the demo only.

    python3 examples/real-tdx/make_inputs.py SHARED_DIR OUT_DIR

The quote, its event log and the Intel collateral come from SHARED_DIR/testdata/tdx-real (they
are third-party data and are never copied into this repository). No real quote binds an example
key, so the receipt names a placeholder live key that the quote does NOT bind, and the expected-TD
file pins the measurements read from that same quote. A run therefore shows every Intel check
passing and the key binding reported as not bound: it is a demonstration, not anyone's evidence.
"""
import json
import pathlib
import sys

shared = pathlib.Path(sys.argv[1]) / "testdata" / "tdx-real" / "tee-solver-dstack"
out = pathlib.Path(sys.argv[2])
out.mkdir(parents=True, exist_ok=True)

quote = (shared / "quote_alice.bin").read_bytes()
events = json.loads((shared / "event_log.json").read_text())
collateral = json.loads((shared / "quote_collateral.json").read_text())
live_key = bytes((i * 7 + 3) % 256 for i in range(1952)).hex()

# TD report 1.0 after the 48-byte header: field name -> (offset in the report, length).
report = quote[48:48 + 584]
layout = [("tee_tcb_svn", 16), ("mr_seam", 48), ("mr_signer_seam", 48), ("seam_attributes", 8),
          ("td_attributes", 8), ("xfam", 8), ("mr_td", 48), ("mr_config_id", 48), ("mr_owner", 48),
          ("mr_owner_config", 48), ("rt_mr0", 48), ("rt_mr1", 48), ("rt_mr2", 48)]
fields, at = {}, 0
for name, size in layout:
    fields[name] = report[at:at + size].hex()
    at += size


def payload(name):
    return next(e["event_payload"] for e in events if e["imr"] == 3 and e["event"] == name)


receipt = {"schema": "orvelant/live-key-receipt/v1", "alg": "ML-DSA-65", "public_key_hex": live_key,
           "quote_hex": quote.hex(), "event_log": events, "issued_at": "2025-09-15T12:00:00Z"}
snapshot = {"schema": "orvelant/intel-collateral-snapshot/v1", "fetched_at": "2025-09-15T00:00:00Z",
            "source": "public test data (demo)", "collateral": collateral}
expected = {"schema": "orvelant/expected-td/v1"}
for name in ("td_attributes", "xfam", "mr_td", "mr_config_id", "mr_owner", "mr_owner_config",
             "rt_mr0", "rt_mr1", "rt_mr2"):
    expected[name] = fields[name]
for field, event in (("app_id", "app-id"), ("compose_hash", "compose-hash"),
                     ("os_image_hash", "os-image-hash"), ("key_provider", "key-provider")):
    expected[field] = payload(event)
expected["min_tcb_evaluation_data_number"] = 17

for name, document in (("receipt.json", receipt), ("snapshot.json", snapshot), ("expected-td.json", expected)):
    (out / name).write_text(json.dumps(document, separators=(",", ":")) + "\n")
(out / "live-key.hex").write_text(live_key + "\n")

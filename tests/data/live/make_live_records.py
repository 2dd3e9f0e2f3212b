#!/usr/bin/env python3
"""Makes the live-record fixtures under this folder (and the bundled example).

Needs Python `cryptography` >= 47 (ML-DSA). Keys come from fixed seeds, so the pinned keys are
the same on every run; ML-DSA signing here is hedged, so signatures differ between runs and the
committed files are simply the ones last made. Run from anywhere:

    python3 tests/data/live/make_live_records.py
"""
import hashlib
import json
import pathlib
import struct

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.mldsa import MLDSA65PrivateKey

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLES = HERE.parent.parent.parent / "examples"
CONTEXT = b"tamsel-pote-v1"
FIELDS = ["schema_version", "agent_id", "model_version", "tenant_id", "input_commitment",
          "output_hash", "timestamp_rfc3339", "nonce"]


def key(name):
    return MLDSA65PrivateKey.from_seed_bytes(hashlib.sha256(b"orvelant-verify/live/" + name.encode()).digest())


def public_hex(private):
    return private.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw).hex()


def signed_bytes(record):
    out = b""
    for field in FIELDS:
        value = record[field].encode()
        out += struct.pack(">Q", len(value)) + value
    return out + struct.pack(">Q", record["monotonic_counter"])


def signed(record, signer, embedded=None):
    return {
        "record": record,
        "alg": "ML-DSA-65",
        "signature_hex": signer.sign(signed_bytes(record), CONTEXT).hex(),
        "public_key_hex": public_hex(embedded or signer),
    }


def record(**changes):
    base = {
        "schema_version": "v1",
        "agent_id": "agent-7",
        "model_version": "summarise-2026.11",
        "tenant_id": "tenant-acme",
        "input_commitment": hashlib.sha256(b"input").hexdigest(),
        "output_hash": hashlib.sha256(b"output").hexdigest(),
        "timestamp_rfc3339": "2026-11-30T09:15:00Z",
        "nonce": "5f1c0e7a9b3d4c21",
        "monotonic_counter": 41,
    }
    base.update(changes)
    return base


def write(path, document):
    path.write_text(json.dumps(document, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")


def main():
    service, other = key("service"), key("other")
    (HERE / "service-key.hex").write_text(public_hex(service) + "\n")
    write(HERE / "valid.json", signed(record(), service))
    write(HERE / "schema-v2.json", signed(record(schema_version="v2"), service))
    write(HERE / "other-key.json", signed(record(), other))
    write(HERE / "hostile-text.json",
          signed(record(agent_id="caf\u00e9 \u202eevil\u202c", nonce="\u001b[31mred"), service))
    write(HERE / "max-counter.json", signed(record(monotonic_counter=2**64 - 1), service))

    example = key("example")
    EXAMPLES.mkdir(exist_ok=True)
    (EXAMPLES / "live-service-key.hex").write_text(public_hex(example) + "\n")
    write(EXAMPLES / "live-record.json", signed(record(agent_id="example-agent"), example))
    tampered = signed(record(agent_id="example-agent"), example)
    tampered["record"]["monotonic_counter"] += 1
    write(EXAMPLES / "live-record-tampered.json", tampered)


if __name__ == "__main__":
    main()

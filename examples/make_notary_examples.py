#!/usr/bin/env python3
"""Makes the notary examples: a lab receipt, a refusal, a three-receipt chain and a signed head.

Needs Python `cryptography` (P-384, deterministic ECDSA). Keys come from fixed seeds and
signatures are deterministic, so every run writes the same bytes:

    python3 examples/make_notary_examples.py
"""
import hashlib
import json
import pathlib

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

HERE = pathlib.Path(__file__).resolve().parent
P384_ORDER = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC7634D81F4372DDF581A0DB248B0A77AECEC196ACCC52973


def key(name):
    seed = int.from_bytes(hashlib.sha512(b"orvelant-verify/notary/" + name.encode()).digest(), "big")
    return ec.derive_private_key(seed % (P384_ORDER - 1) + 1, ec.SECP384R1())


def pem(private):
    return private.public_key().public_bytes(
        serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo).decode()


def canonical(value):
    # Our documents hold only ASCII member names, strings, integers, booleans and arrays, for
    # which sorted compact JSON with raw UTF-8 is exactly the RFC 8785 form.
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


def sign_hex(private, message):
    der = private.sign(message, ec.ECDSA(hashes.SHA384(), deterministic_signing=True))
    r, s = decode_dss_signature(der)
    return (r.to_bytes(48, "big") + s.to_bytes(48, "big")).hex()


def sha384_hex(data):
    return hashlib.sha384(data).hexdigest()


def lab_receipt(notary, agent, serial, prev):
    n = str(serial)
    manifest = {"schema": "tamsel-fabric/records/v2", "job_id": "job-" + n, "tenant_id": "tenant-acme",
                "plan_hash": "plan-" + n, "workload": "summarise", "input_url": "s3://in/" + n,
                "input_ciphertext_hash": sha384_hex(b"input " + n.encode()), "output_url": "s3://out/" + n,
                "policy_id": "policy-7", "created_at": "2026-11-30T09:00:0%sZ" % n}
    manifest_hash = sha384_hex(canonical(manifest))
    attestation = {"schema": "tamsel-fabric/records/v2", "attestation_id": "att-" + n, "job_id": "job-" + n,
                   "manifest_hash": manifest_hash, "agent_id": "agent-7", "agent_sig_pub_pem": pem(agent),
                   "agent_kem_pub_hex": "00ff", "nonce": "nonce-" + n,
                   "verdicts": [{"check": "measurement", "ok": True}], "evidence_hashes": ["e1", "e2"],
                   "policy_hash": "policy-hash-7", "enforcement_profile_hash": "profile-hash-3",
                   "verified_at": "2026-11-30T09:01:0%sZ" % n}
    execution = {"schema": "tamsel-fabric/records/v2", "job_id": "job-" + n, "attestation_id": "att-" + n,
                 "manifest_hash": manifest_hash, "attestation_hash": sha384_hex(canonical(attestation)),
                 "result_ciphertext_hash": sha384_hex(b"result " + n.encode()), "exit_status": "0",
                 "agent_id": "agent-7", "agent_started_at": "2026-11-30T09:02:0%sZ" % n,
                 "agent_finished_at": "2026-11-30T09:03:0%sZ" % n}
    core = {"schema": "tamsel-fabric/records/v2", "receipt_id": "rcpt-" + n, "job_id": "job-" + n,
            "manifest": manifest, "attestation": attestation, "execution": execution,
            "execution_signature": sign_hex(agent, canonical(execution)),
            "meter": {"release_ts": "2026-11-30T09:04:0%sZ" % n, "complete_ts": "2026-11-30T09:05:0%sZ" % n,
                      "billable_units": 12 * serial, "tier": "confidential",
                      "agent_started_at": execution["agent_started_at"],
                      "agent_finished_at": execution["agent_finished_at"]},
            "prev_receipt_hash": prev, "issued_at": "2026-11-30T09:06:0%sZ" % n, "broker_pub_pem": pem(notary)}
    core_bytes = canonical(core)
    return {"core": core, "receipt_hash": sha384_hex(core_bytes), "broker_signature_hex": sign_hex(notary, core_bytes)}


def refusal(notary):
    core = {"schema": "tamsel-fabric/refusal/v1", "refusal_id": "ref-1", "job_id": "job-9",
            "tenant_id": "tenant-acme", "manifest_hash": sha384_hex(b"manifest 9"), "agent_id": "agent-7",
            "nonce": "nonce-9", "stage": "release", "reason_code": "EVIDENCE_REJECTED",
            "reasons": ["attestation evidence older than the policy allows"], "policy_hash": "policy-hash-7",
            "enforcement_profile_hash": "profile-hash-3", "evidence_hashes": [sha384_hex(b"evidence 9")],
            "released": False, "prev_refusal_hash": "GENESIS", "issued_at": "2026-11-30T10:00:00Z",
            "broker_pub_pem": pem(notary)}
    core_bytes = canonical(core)
    return {"core": core, "refusal_hash": sha384_hex(core_bytes),
            "broker_signature_hex": sign_hex(notary, b"tamsel-fabric/refusal/v1\n" + core_bytes)}


def chain_head(notary, receipts):
    core = {"schema": "tamsel-fabric/chain-head/v1", "first_receipt_hash": receipts[0]["receipt_hash"],
            "length": len(receipts), "head_receipt_hash": receipts[-1]["receipt_hash"],
            "issued_at": "2026-11-30T12:00:00Z", "broker_pub_pem": pem(notary)}
    return {"core": core,
            "signature_hex": sign_hex(notary, b"tamsel-fabric/chain-head/v1\n" + canonical(core))}


def write(name, text):
    (HERE / name).write_text(text, encoding="utf-8")


def main():
    notary, agent = key("notary"), key("agent")
    write("notary-key.pem", pem(notary))
    receipts = []
    for serial in (1, 2, 3):
        prev = receipts[-1]["receipt_hash"] if receipts else "GENESIS"
        receipts.append(lab_receipt(notary, agent, serial, prev))
    write("lab-receipt.json", json.dumps(receipts[0], indent=2) + "\n")
    write("refusal.json", json.dumps(refusal(notary), indent=2) + "\n")
    write("receipt-chain.jsonl", "".join(json.dumps(r, separators=(",", ":")) + "\n" for r in receipts))
    write("chain-head.json", json.dumps(chain_head(notary, receipts), indent=2) + "\n")


if __name__ == "__main__":
    main()

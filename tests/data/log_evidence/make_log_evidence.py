#!/usr/bin/env python3
"""Makes the log-evidence fixtures under this folder and the seeds of fuzz_log_evidence.

Key receipts (version 3, and the version 2 and next-boot receipts of the same key), the test
trust they are judged under (a Sigsum policy shaped like the compiled-in one and a Rekor log),
Sigsum proofs and Rekor entries of receipt.json (material.json, by name), gate signatures over
it (gate-signatures.txt), and one whole valid evidence document (evidence.json).

Needs Python `cryptography` >= 47 (ML-DSA). Every key comes from a fixed label (its private
seed or scalar is SHA-256 of the label), so receipts, log keys and leaf indexes are the same on
every run, and so are the gate statements; ML-DSA and ECDSA signing are randomised, so those
signatures differ between runs and the committed ones are simply the ones last made. Run from
anywhere:

    python3 tests/data/log_evidence/make_log_evidence.py
"""
import base64
import hashlib
import json
import pathlib
import struct

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, utils
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.asymmetric.mldsa import MLDSA65PrivateKey

HERE = pathlib.Path(__file__).resolve().parent
SEEDS = HERE.parent.parent.parent / "fuzz" / "seeds" / "fuzz_log_evidence"

GATE_PREFIX = "orvelant/live-key-gate/v1"
GATE_CONTEXT = b"orvelant-live-key-gate-v1"
V2 = "orvelant/live-key-receipt/v2"
V3 = "orvelant/live-key-receipt/v3"

SIGSUM_LOGS = ["log-evidence sigsum log 1", "log-evidence sigsum log 2"]
SIGSUM_WITNESSES = ["log-evidence sigsum witness 1", "log-evidence sigsum witness 2",
                    "log-evidence sigsum witness 3"]
WITNESS_NAMES = ["witness-1.test", "witness-2.test", "witness-3.test"]
SUBMITTER = "log-evidence sigsum submitter"
OUTSIDER = "log-evidence outsider"  # a log, witness and submitter in no policy
REKOR_LOG = "log-evidence rekor log"
REKOR_ORIGIN = "rekor.log-evidence.test"
REKOR_SIGNER = "log-evidence rekor signer"
COSIGNED_AT = 1772352000  # witness w cosigns at this time plus 60 w seconds
# Gate statements signed over receipt.json: (name, log number from 1, leaf index).
GATES = [("log1-leaf7", 1, 7), ("log1-leaf101", 1, 101), ("log2-leaf102", 2, 102), ("log2-leaf116", 2, 116)]


def seed(label):
    return hashlib.sha256(label.encode()).digest()


def ed25519_public(label):
    key = Ed25519PrivateKey.from_private_bytes(seed(label))
    return key.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def mldsa(label):
    return MLDSA65PrivateKey.from_seed_bytes(seed("orvelant-verify/log-evidence/" + label))


def mldsa_public(private):
    return private.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def p256(label):
    scalar = int.from_bytes(seed(label), "big") % 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
    return ec.derive_private_key(scalar, ec.SECP256R1())


def binding(schema, live_key, prev, sigsum_key=None, rekor_spki=None):
    data = schema.encode() + b"\n" + live_key + prev
    if sigsum_key is not None:
        data += sigsum_key + hashlib.sha256(rekor_spki).digest()
    return hashlib.sha512(data).digest()


def quote(report_data):
    # A TDX quote as far as the log-evidence check reads it: header (version 4, ECDSA P-256
    # attestation key, TEE type 0x81), TD report with report_data at offset 568, no signature.
    header = struct.pack("<HHI", 4, 2, 0x81) + bytes(40)
    td_report = bytes([0x11]) * 520 + report_data
    return header + td_report + struct.pack("<I", 0)


# ---- Merkle trees (RFC 9162 section 2.1) over filler leaves around the logged one ----

def leaf_hash(data):
    return hashlib.sha256(b"\0" + data).digest()


def node_hash(left, right):
    return hashlib.sha256(b"\1" + left + right).digest()


def split(n):
    k = 1
    while k * 2 < n:
        k *= 2
    return k


def root_of(leaves):
    if len(leaves) == 1:
        return leaves[0]
    k = split(len(leaves))
    return node_hash(root_of(leaves[:k]), root_of(leaves[k:]))


def path_of(index, leaves):
    if len(leaves) <= 1:
        return []
    k = split(len(leaves))
    if index < k:
        return path_of(index, leaves[:k]) + [root_of(leaves[k:])]
    return path_of(index - k, leaves[k:]) + [root_of(leaves[:k])]


def tree(leaf, index, size):
    leaves = [hashlib.sha256(b"filler %d" % i).digest() for i in range(size)]
    leaves[index] = leaf
    return root_of(leaves), path_of(index, leaves)


# ---- Sigsum proofs (text format version 2) ----

def ed25519(label):
    return Ed25519PrivateKey.from_private_bytes(seed(label))


def checkpoint(origin, size, root):
    return f"{origin}\n{size}\n{base64.b64encode(root).decode()}\n"


def sigsum_proof(log_label, index, size, message, cosigners=(0, 1), submitter_label=SUBMITTER):
    submitter = ed25519(submitter_label)
    checksum = hashlib.sha256(message).digest()
    leaf_signature = submitter.sign(b"sigsum.org/v1/tree-leaf\0" + checksum)
    submitter_hash = hashlib.sha256(ed25519_public(submitter_label)).digest()
    root, path = tree(leaf_hash(checksum + leaf_signature + submitter_hash), index, size)
    log_hash = hashlib.sha256(ed25519_public(log_label)).digest()
    body = checkpoint("sigsum.org/v1/tree/" + log_hash.hex(), size, root)
    lines = ["version=2", f"log={log_hash.hex()}", f"leaf={submitter_hash.hex()} {leaf_signature.hex()}", "",
             f"size={size}", f"root_hash={root.hex()}", f"signature={ed25519(log_label).sign(body.encode()).hex()}"]
    for w in cosigners:
        label = SIGSUM_WITNESSES[w] if w < len(SIGSUM_WITNESSES) else OUTSIDER
        at = COSIGNED_AT + 60 * w
        cosignature = ed25519(label).sign(f"cosignature/v1\ntime {at}\n{body}".encode())
        lines.append(f"cosignature={hashlib.sha256(ed25519_public(label)).hexdigest()} {at} {cosignature.hex()}")
    if size > 1:
        lines += ["", f"leaf_index={index}"] + [f"node_hash={node.hex()}" for node in path]
    return {"log_key_hex": ed25519_public(log_label).hex(), "leaf_index": index, "proof": "\n".join(lines) + "\n"}


# ---- Rekor hashedrekord 0.0.2 entries ----

def rekor_entry(index, size, digest, log_label=REKOR_LOG, origin=REKOR_ORIGIN, signer_label=REKOR_SIGNER):
    signer = p256(signer_label)
    spki = signer.public_key().public_bytes(serialization.Encoding.DER,
                                            serialization.PublicFormat.SubjectPublicKeyInfo)
    b64 = lambda data: base64.b64encode(data).decode()
    body = json.dumps({"apiVersion": "0.0.2", "kind": "hashedrekord", "spec": {"hashedRekordV002": {
        "data": {"algorithm": "SHA2_256", "digest": b64(digest)},
        "signature": {"content": b64(signer.sign(digest, ec.ECDSA(utils.Prehashed(hashes.SHA256())))),
                      "verifier": {"keyDetails": "PKIX_ECDSA_P256_SHA_256", "publicKey": {"rawBytes": b64(spki)}}}}}},
        separators=(",", ":")).encode()
    root, path = tree(leaf_hash(body), index, size)
    log_id = hashlib.sha256(origin.encode() + b"\n\x01" + ed25519_public(log_label)).digest()
    note_body = checkpoint(origin, size, root)
    blob = log_id[:4] + ed25519(log_label).sign(note_body.encode())
    envelope = f"{note_body}\n\u2014 {origin} {b64(blob)}\n"
    return json.dumps({
        "logIndex": str(index), "logId": {"keyId": b64(log_id)},
        "kindVersion": {"kind": "hashedrekord", "version": "0.0.2"}, "integratedTime": "0",
        "inclusionProof": {"logIndex": str(index), "rootHash": b64(root), "treeSize": str(size),
                           "hashes": [b64(node) for node in path], "checkpoint": {"envelope": envelope}},
        "canonicalizedBody": b64(body)}, separators=(",", ":"), ensure_ascii=False)


def evidence(key_id, proofs, entries):
    return (json.dumps({"schema": "orvelant/live-key-log-evidence/v2", "key_id": key_id, "sigsum": proofs,
                        "rekor": entries}, separators=(",", ":")) + "\n").encode()


def receipt(schema, live_key, issued_at, prev_text, with_log_keys=True):
    prev = bytes(32) if prev_text == "GENESIS" else bytes.fromhex(prev_text)
    sigsum_key = ed25519_public(SUBMITTER)
    rekor_spki = p256(REKOR_SIGNER).public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    bound = binding(schema, live_key, prev, *((sigsum_key, rekor_spki) if with_log_keys else ()))
    doc = {
        "schema": schema,
        "alg": "ML-DSA-65",
        "public_key_hex": live_key.hex(),
        "quote_hex": quote(bound).hex(),
        "event_log": [],
        "issued_at": issued_at,
        "prev_receipt_sha256": prev_text,
    }
    if with_log_keys:
        doc["sigsum_chain_key_hex"] = sigsum_key.hex()
        doc["rekor_key_spki_b64"] = base64.b64encode(rekor_spki).decode()
    return (json.dumps(doc, separators=(",", ":")) + "\n").encode()


def gate_statement(log_key, leaf_index, receipt_bytes):
    return (f"{GATE_PREFIX}\nlog={log_key.hex()}\nleaf_index={leaf_index}\n"
            f"receipt_sha256={hashlib.sha256(receipt_bytes).hexdigest()}\n").encode()


def main():
    live = mldsa("live-key")
    live_key = mldsa_public(live)

    first = receipt(V3, live_key, "2026-03-01T08:00:00Z", "GENESIS")
    (HERE / "receipt.json").write_bytes(first)
    # The next boot's receipt: the same key, so evidence for the first passes the key-id check.
    (HERE / "receipt-next.json").write_bytes(
        receipt(V3, live_key, "2026-03-02T08:00:00Z", hashlib.sha256(first).hexdigest()))
    (HERE / "receipt-v2.json").write_bytes(receipt(V2, live_key, "2026-03-01T08:00:00Z", "GENESIS", False))

    policy = "# Sigsum test policy: the shape of the compiled-in one, 2 logs and 2 of 3 witnesses.\n"
    policy += "".join(f"log {ed25519_public(label).hex()}\n" for label in SIGSUM_LOGS)
    policy += "".join(f"witness {name} {ed25519_public(label).hex()}\n"
                      for name, label in zip(WITNESS_NAMES, SIGSUM_WITNESSES))
    policy += "group quorum-rule 2 " + " ".join(WITNESS_NAMES) + "\nquorum quorum-rule\n"
    (HERE / "policy.txt").write_text(policy)

    rekor_spki = bytes.fromhex("302a300506032b6570032100") + ed25519_public(REKOR_LOG)
    (HERE / "rekor-log.txt").write_text(
        f"origin: {REKOR_ORIGIN}\nkey_spki_base64: {base64.b64encode(rekor_spki).decode()}\n")

    lines = ["# name signature_hex: gate statements over receipt.json (see make_log_evidence.py)"]
    for name, log, leaf in GATES:
        statement = gate_statement(ed25519_public(SIGSUM_LOGS[log - 1]), leaf, first)
        lines.append(f"{name} {live.sign(statement, GATE_CONTEXT).hex()}")
    statement = gate_statement(ed25519_public(SIGSUM_LOGS[0]), 7, first)
    lines.append(f"log1-leaf7-no-context {live.sign(statement).hex()}")
    lines.append(f"log1-leaf7-other-key {mldsa('other-key').sign(statement, GATE_CONTEXT).hex()}")
    (HERE / "gate-signatures.txt").write_text("\n".join(lines) + "\n")
    gates = dict(line.split(" ") for line in lines[1:])

    # Proofs and entries of receipt.json, by name.
    message = hashlib.sha256(first).digest()
    proofs = {
        "log1-leaf7": sigsum_proof(SIGSUM_LOGS[0], 7, 10, message),
        "log2-leaf9": sigsum_proof(SIGSUM_LOGS[1], 9, 12, message),
        # a single-leaf tree; the outsider's cosignature is ignored, the rest kept in line order
        "log2-leaf0-size1": sigsum_proof(SIGSUM_LOGS[1], 0, 1, message, cosigners=(2, 3, 0)),
        "log2-leaf3-one-witness": sigsum_proof(SIGSUM_LOGS[1], 3, 5, message, cosigners=(2,)),
        "outsider-log-leaf7": sigsum_proof(OUTSIDER, 7, 10, message),
        "outsider-submitter-leaf7": sigsum_proof(SIGSUM_LOGS[0], 7, 10, message, submitter_label=OUTSIDER),
    }
    for k in range(1, 17):
        proofs[f"log{2 - k % 2}-leaf{100 + k}"] = sigsum_proof(SIGSUM_LOGS[1 - k % 2], 100 + k, 200 + k, message)
    entries = {"index5-size9": rekor_entry(5, 9, message), "index3-size4": rekor_entry(3, 4, message),
               "other-log": rekor_entry(5, 9, message, "log-evidence other rekor log", "rekor.other.test"),
               "other-signer": rekor_entry(5, 9, message, signer_label="log-evidence other rekor signer")}
    for k in range(1, 17):
        entries[f"index{10 + k}-size40"] = rekor_entry(10 + k, 40, message)
    (HERE / "material.json").write_text(json.dumps({"sigsum": proofs, "rekor": entries}, indent=1) + "\n")

    key_id = hashlib.sha256(live_key).hexdigest()
    gated = lambda name, gate: dict(proofs[name], gate_signature=gates[gate])
    valid = evidence(key_id, [gated("log1-leaf7", "log1-leaf7")], [entries["index5-size9"]])
    (HERE / "evidence.json").write_bytes(valid)

    SEEDS.mkdir(parents=True, exist_ok=True)
    (SEEDS / "evidence-one-proof.json").write_bytes(valid)
    (SEEDS / "receipt-and-evidence.bin").write_bytes(first + b"\0" + valid)
    # one gate signed for another leaf: the only problem
    (SEEDS / "evidence-three-proofs.json").write_bytes(evidence(
        key_id, [gated("log1-leaf7", "log1-leaf7"), gated("log2-leaf102", "log2-leaf102"),
                 gated("log1-leaf101", "log1-leaf7")], [entries["index5-size9"], entries["index11-size40"]]))


if __name__ == "__main__":
    main()

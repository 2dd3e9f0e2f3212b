"""Writes bench-300.json: one ML-DSA-65 public key, a 300-byte message, the context
"tamsel-pote-v1" and a signature over them, for the verification benchmark.

The key and message are derived from fixed labels, so they are the same on every run. The
signature is not: the `cryptography` package signs only in hedged (randomised) mode. Any run
gives an equally good fixture; the script checks the signature before writing it.

    python3 make_bench_fixture.py [output path]
"""
import hashlib
import json
import sys

from cryptography.hazmat.primitives.asymmetric import mldsa

CONTEXT = b"tamsel-pote-v1"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "bench-300.json"
    seed = hashlib.sha256(b"orvelant-verify/bench/key").digest()
    message = hashlib.shake_256(b"orvelant-verify/bench/message").digest(300)
    key = mldsa.MLDSA65PrivateKey.from_seed_bytes(seed)
    public = key.public_key()
    signature = key.sign(message, CONTEXT)
    public.verify(signature, message, CONTEXT)  # raises if it does not verify
    fixture = {
        "pk": public.public_bytes_raw().hex(),
        "msg": message.hex(),
        "ctx": CONTEXT.hex(),
        "sig": signature.hex(),
    }
    with open(out, "w") as f:
        json.dump(fixture, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()

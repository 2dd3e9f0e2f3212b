"""The checks of orvelant-verify in-process, over liborvelant-verify's C interface.

One function per command, named as the command. Each takes the document (bytes or str) first
and the other inputs as keyword arguments named as the command's options, and returns the
report as a dict: the members `orvelant-verify COMMAND ... --json` prints for the same inputs.
The commands that judge time take `now=` (seconds since the epoch); without it they use this
computer's clock, as the command line does. With `text=True` a function returns the
human-readable report instead, naming the document `label`.

    import orvelant_verify
    report = orvelant_verify.receipt(open("record.json", "rb").read(), key=open("key.hex").read())
    print(report["outcome"])          # "valid", "invalid" or "refused"

Inputs the command line would not have read (over a byte limit, text that is not UTF-8) raise
InputError. The functions may be called from many threads at once; each call releases the GIL
while it checks.
"""
import ctypes
import json
import os
import pathlib
import time

__all__ = ["receipt", "chain", "key_receipt", "timestamp", "key_chain", "attested_record", "log_evidence",
           "InputError", "library_version"]


class InputError(ValueError):
    """The inputs could not be judged at all; the command line would have ended with status 2."""


class _Bytes(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_size_t)]


class _List(ctypes.Structure):
    _fields_ = [("items", ctypes.POINTER(_Bytes)), ("count", ctypes.c_size_t)]


_WRITE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
_PROGRESS = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_uint64)


class _Options(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("format", ctypes.c_int), ("label", _Bytes),
                ("write", _WRITE), ("write_context", ctypes.c_void_p),
                ("progress", _PROGRESS), ("progress_context", ctypes.c_void_p)]


_FORMAT_JSON, _FORMAT_TEXT = 0, 1
_SONAME = "liborvelant-verify.so.0"


def _load():
    # The library beside an installed copy of this module (LIBDIR/python3*/dist-packages/
    # orvelant_verify), then wherever the dynamic loader finds it; ORVELANT_VERIFY_LIBRARY names
    # another copy (a build tree's, for tests).
    explicit = os.environ.get("ORVELANT_VERIFY_LIBRARY")
    beside = pathlib.Path(__file__).resolve().parents[3] / _SONAME
    path = explicit or (str(beside) if beside.is_file() else _SONAME)
    lib = ctypes.CDLL(path)
    report = ctypes.c_void_p
    lib.orv_verify_version.restype = ctypes.c_char_p
    lib.orv_verify_version.argtypes = []
    lib.orv_report_status.restype = ctypes.c_int
    lib.orv_report_status.argtypes = [report]
    lib.orv_report_text.restype = ctypes.c_void_p
    lib.orv_report_text.argtypes = [report, ctypes.POINTER(ctypes.c_size_t)]
    lib.orv_report_error.restype = ctypes.c_char_p
    lib.orv_report_error.argtypes = [report]
    lib.orv_report_free.restype = None
    lib.orv_report_free.argtypes = [report]
    b, bl, now, opts = _Bytes, _List, ctypes.c_uint64, ctypes.POINTER(_Options)
    for name, args in (("orv_verify_receipt", [b, b, opts]),
                       ("orv_verify_chain", [b, b, bl, opts]),
                       ("orv_verify_key_receipt", [b, b, b, b, now, opts]),
                       ("orv_verify_timestamp", [b, b, now, opts]),
                       ("orv_verify_key_chain", [b, bl, b, bl, now, opts]),
                       ("orv_verify_attested_record", [b, b, b, b, b, now, opts]),
                       ("orv_verify_log_evidence", [b, b, opts])):
        function = getattr(lib, name)
        function.restype = report
        function.argtypes = args
    return lib


_lib = _load()


def library_version():
    """The version of the loaded liborvelant-verify, e.g. "0.1.0"."""
    return _lib.orv_verify_version().decode()


def _as_bytes(value, name):
    if isinstance(value, str):
        return value.encode("utf-8", "surrogateescape")
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    raise TypeError(f"{name} must be bytes or str, not {type(value).__name__}")


class _Call:
    """Keeps every buffer handed to the library alive until the call returns."""

    def __init__(self):
        self._kept = []

    def bytes(self, value, name):
        if value is None:
            return _Bytes(None, 0)
        data = _as_bytes(value, name)
        self._kept.append(data)
        # A pointer into the bytes object itself: a 256 MiB chain is not copied.
        return _Bytes(ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p), len(data))

    def list(self, values, name):
        if values is None:
            values = []
        elif isinstance(values, (str, bytes, bytearray, memoryview)):
            values = [values]
        items = (_Bytes * max(len(values), 1))(*[self.bytes(v, name) for v in values])
        self._kept.append(items)
        return _List(items, len(values))

    def options(self, text, label):
        options = _Options()
        options.struct_size = ctypes.sizeof(_Options)
        options.format = _FORMAT_TEXT if text else _FORMAT_JSON
        options.label = self.bytes(label if label is not None else "", "label")
        self._kept.append(options)
        return ctypes.byref(options)


def _finish(report, text):
    if not report:
        raise MemoryError("liborvelant-verify ran out of memory")
    try:
        error = _lib.orv_report_error(report)
        if error is not None:
            raise InputError(error.decode("utf-8", "replace"))
        size = ctypes.c_size_t()
        data = _lib.orv_report_text(report, ctypes.byref(size))
        out = ctypes.string_at(data, size.value).decode("utf-8")
    finally:
        _lib.orv_report_free(report)
    return out if text else json.loads(out)


def _now(now):
    return int(time.time()) if now is None else int(now)


def receipt(document, *, key=None, text=False, label=None):
    """A live record, lab receipt or refusal under its pinned key."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_receipt(c.bytes(document, "document"), c.bytes(key, "key"), options), text)


def chain(document, *, key=None, heads=None, text=False, label=None):
    """A receipt chain, one receipt per line, optionally against signed chain heads."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_chain(c.bytes(document, "document"), c.bytes(key, "key"), c.list(heads, "heads"),
                                         options), text)


def key_receipt(document, *, key=None, snapshot, expected, now=None, text=False, label=None):
    """Level 2, Intel TDX leg, of a key receipt at `now`."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_key_receipt(c.bytes(document, "document"), c.bytes(key, "key"),
                                               c.bytes(snapshot, "snapshot"), c.bytes(expected, "expected"),
                                               _now(now), options), text)


def timestamp(document, *, stamp, now=None, text=False, label=None):
    """RFC 3161 timestamps over the exact bytes of `document`."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_timestamp(c.bytes(document, "document"), c.bytes(stamp, "stamp"), _now(now),
                                             options), text)


def key_chain(document, *, contains=None, snapshot=None, expected=None, now=None, text=False, label=None):
    """The service's key-receipt history; with `snapshot` and `expected`, Level 2 for every receipt."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_key_chain(c.bytes(document, "document"), c.list(contains, "contains"),
                                             c.bytes(snapshot, "snapshot"), c.list(expected, "expected"), _now(now),
                                             options), text)


def attested_record(document, *, key_receipt, snapshot, expected, stamp=None, now=None, text=False, label=None):
    """A live record under the key that the key receipt's quote binds to the expected TD."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_attested_record(c.bytes(document, "document"), c.bytes(key_receipt, "key_receipt"),
                                                   c.bytes(snapshot, "snapshot"), c.bytes(expected, "expected"),
                                                   c.bytes(stamp, "stamp"), _now(now), options), text)


def log_evidence(document, *, evidence, text=False, label=None):
    """The key receipt's bytes recorded in public Sigsum logs and in Rekor."""
    c = _Call()
    options = c.options(text, label)
    return _finish(_lib.orv_verify_log_evidence(c.bytes(document, "document"), c.bytes(evidence, "evidence"), options),
                   text)

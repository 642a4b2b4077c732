# SPDX-License-Identifier: ISC
"""libsigncheck.so.1 through ctypes: loading, the prototypes, and the
buffer protocol for data that is not a bytes object.

The library is found as the dynamic loader finds it (installed, or on
LD_LIBRARY_PATH); SIGNCHECK_LIBRARY names the file instead, for a build
that is not installed.  Calls added after 1.0.0 (the key rings and
signcheck_result_errno) are set up only when the library has them.
"""
from __future__ import annotations

import ctypes
import os

LIBRARY_NAME = "libsigncheck.so.1"
LIBRARY_VARIABLE = "SIGNCHECK_LIBRARY"


class Span(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_size_t)]


def _load() -> ctypes.CDLL:
    path = os.environ.get(LIBRARY_VARIABLE) or LIBRARY_NAME
    try:
        return ctypes.CDLL(path)
    except OSError as error:
        raise ImportError(
            f"signcheck: cannot load {path} ({error}); install the package libsigncheck1, "
            f"or set {LIBRARY_VARIABLE} to the path of {LIBRARY_NAME}",
            name="signcheck",
            path=path,
        ) from error


lib = _load()
# The same library again, for the calls that only read a result: through
# PyDLL they keep the GIL, which costs less than letting it go and taking
# it back for a call this short.  The checks and the key loading go
# through lib, which lets the GIL go, so that threads check in parallel.
quick = ctypes.PyDLL(lib._name)

_void_p = ctypes.c_void_p
_char_p = ctypes.c_char_p
_size_t = ctypes.c_size_t
_int = ctypes.c_int

# name: (restype, argtypes); "?" marks the calls a 1.0.0 library lacks.
# Those named in _QUICK are set up in quick too.
_PROTOTYPES: dict[str, tuple[object, list[object]]] = {
    "signcheck_result_new": (_void_p, []),
    "signcheck_result_free": (None, [_void_p]),
    "signcheck_check_buffer": (_int, [_void_p, _char_p, _void_p, _size_t, _char_p]),
    "signcheck_check_file": (_int, [_void_p, _char_p, _char_p]),
    "signcheck_result_span_count": (_size_t, [_void_p]),
    "signcheck_result_span": (Span, [_void_p, _size_t]),
    "signcheck_result_message": (_size_t, [_void_p, _char_p, _size_t]),
    "signcheck_key_id": (_char_p, []),
    "signcheck_version": (_char_p, []),
    "?signcheck_result_errno": (_int, [_void_p]),
    "?signcheck_result_key_id": (_char_p, [_void_p]),
    "?signcheck_result_spans": (_size_t, [_void_p, _void_p, _size_t]),
    "?signcheck_keyring_new": (_void_p, []),
    "?signcheck_keyring_add_file": (_int, [_void_p, _char_p]),
    "?signcheck_keyring_add_text": (_int, [_void_p, _char_p, _size_t]),
    "?signcheck_keyring_message": (_size_t, [_void_p, _char_p, _size_t]),
    "?signcheck_keyring_errno": (_int, [_void_p]),
    "?signcheck_keyring_size": (_size_t, [_void_p]),
    "?signcheck_keyring_free": (None, [_void_p]),
    "?signcheck_check_buffer_with": (_int, [_void_p, _void_p, _char_p, _void_p, _size_t, _char_p]),
    "?signcheck_check_file_with": (_int, [_void_p, _void_p, _char_p, _char_p]),
}


_QUICK = {
    "signcheck_result_new",
    "signcheck_result_free",
    "signcheck_result_span_count",
    "signcheck_result_span",
    "signcheck_result_message",
    "signcheck_result_errno",
    "signcheck_result_key_id",
    "signcheck_result_spans",
}


def _declare() -> None:
    for name, (restype, argtypes) in _PROTOTYPES.items():
        optional = name.startswith("?")
        name = name.lstrip("?")
        if not hasattr(lib, name):
            if optional:
                continue
            raise ImportError(
                f"signcheck: {lib._name} has no {name}: not a libsigncheck.so.1 "
                f"(check {LIBRARY_VARIABLE})",
                name="signcheck",
            )
        for library in (lib, quick) if name in _QUICK else (lib,):
            function = getattr(library, name)
            function.restype = restype
            function.argtypes = argtypes


_declare()
HAVE_KEYRING = hasattr(lib, "signcheck_keyring_new") and hasattr(lib, "signcheck_check_buffer_with")
HAVE_ERRNO = hasattr(lib, "signcheck_result_errno")


class PyBuffer(ctypes.Structure):
    """Python's Py_buffer, as PyObject_GetBuffer fills it."""

    _fields_ = [
        ("buf", ctypes.c_void_p),
        ("obj", ctypes.c_void_p),
        ("len", ctypes.c_ssize_t),
        ("itemsize", ctypes.c_ssize_t),
        ("readonly", ctypes.c_int),
        ("ndim", ctypes.c_int),
        ("format", ctypes.c_char_p),
        ("shape", ctypes.c_void_p),
        ("strides", ctypes.c_void_p),
        ("suboffsets", ctypes.c_void_p),
        ("internal", ctypes.c_void_p),
    ]


# Through ctypes.pythonapi these hold the GIL and raise the Python error
# that PyObject_GetBuffer sets (TypeError for an object without the buffer
# protocol, BufferError for one that is not contiguous).
get_buffer = ctypes.pythonapi.PyObject_GetBuffer
get_buffer.restype = ctypes.c_int
get_buffer.argtypes = [ctypes.py_object, ctypes.POINTER(PyBuffer), ctypes.c_int]
release_buffer = ctypes.pythonapi.PyBuffer_Release
release_buffer.restype = None
release_buffer.argtypes = [ctypes.POINTER(PyBuffer)]
PYBUF_SIMPLE = 0

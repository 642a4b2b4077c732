# SPDX-License-Identifier: ISC
"""libsigncheck.so.1 through ctypes: loading it and the prototypes.

The library is found as the dynamic loader finds it (installed, or on
LD_LIBRARY_PATH); SIGNCHECK_LIBRARY names the file instead, for a build
that is not installed.  The package needs libsigncheck 1.2.0 or later.
"""
from __future__ import annotations

import ctypes
import os

LIBRARY_NAME = "libsigncheck.so.1"
LIBRARY_VARIABLE = "SIGNCHECK_LIBRARY"


def _load(kind: type[ctypes.CDLL], path: str) -> ctypes.CDLL:
    try:
        return kind(path)
    except OSError as error:
        raise ImportError(
            f"signcheck: cannot load {path} ({error}); install the package libsigncheck1 "
            f"(after installing to a prefix such as /usr/local, run ldconfig), "
            f"or set {LIBRARY_VARIABLE} to the path of {LIBRARY_NAME}",
            name="signcheck",
            path=path,
        ) from error


_path = os.environ.get(LIBRARY_VARIABLE) or LIBRARY_NAME
# The checks and the key loading let the GIL go, so that threads check in
# parallel.  The calls that only read a result (and making and freeing one)
# are too short for that: through PyDLL they keep the GIL, which costs less
# than letting it go and taking it back.
lib = _load(ctypes.CDLL, _path)
quick = _load(ctypes.PyDLL, _path)

_void_p = ctypes.c_void_p
_char_p = ctypes.c_char_p
_size_t = ctypes.c_size_t
_int = ctypes.c_int

_PROTOTYPES: dict[str, tuple[ctypes.CDLL, object, list[object]]] = {
    "signcheck_check_buffer_with": (lib, _int, [_void_p, _void_p, _char_p, _void_p, _size_t, _char_p]),
    "signcheck_check_file_with": (lib, _int, [_void_p, _void_p, _char_p, _char_p]),
    "signcheck_keyring_new": (lib, _void_p, []),
    "signcheck_keyring_add_file": (lib, _int, [_void_p, _char_p]),
    "signcheck_keyring_add_text": (lib, _int, [_void_p, _char_p, _size_t]),
    "signcheck_keyring_message": (lib, _size_t, [_void_p, _char_p, _size_t]),
    "signcheck_keyring_errno": (lib, _int, [_void_p]),
    "signcheck_keyring_size": (lib, _size_t, [_void_p]),
    "signcheck_keyring_key_id": (lib, _char_p, [_void_p, _size_t]),
    "signcheck_keyring_free": (lib, None, [_void_p]),
    "signcheck_key_id": (lib, _char_p, []),
    "signcheck_version": (lib, _char_p, []),
    "signcheck_result_new": (quick, _void_p, []),
    "signcheck_result_free": (quick, None, [_void_p]),
    "signcheck_result_spans": (quick, _size_t, [_void_p, _void_p, _size_t]),
    "signcheck_result_key_id": (quick, _char_p, [_void_p]),
    "signcheck_result_message": (quick, _size_t, [_void_p, _char_p, _size_t]),
    "signcheck_result_errno": (quick, _int, [_void_p]),
}

for _name, (_library, _restype, _argtypes) in _PROTOTYPES.items():
    if not hasattr(_library, _name):
        raise ImportError(
            f"signcheck: {_path} has no {_name}: not a libsigncheck.so.1 of version 1.2.0 or later "
            f"(check {LIBRARY_VARIABLE})",
            name="signcheck",
        )
    _function = getattr(_library, _name)
    _function.restype = _restype
    _function.argtypes = _argtypes

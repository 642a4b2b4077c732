# SPDX-License-Identifier: ISC
"""Checks the signatures of signed update information files with
libsigncheck and hands back only the bytes the signature covers.

    >>> import signcheck
    >>> for entry in signcheck.check_file("nvl", "mirrors.nvl"):
    ...     print(entry.decode().rstrip())

The modes are those of signcheck: ``nvl`` (update locations), ``msg``
(messages), ``lst`` (update lists) and ``url`` (URL lists), matched on
their first three letters in any letter case.  A check accepts the key
compiled into the library (its ID is ``key_id()``), or the keys of a
``Keyring`` loaded from public key files.

Every failure raises: ``SignatureError`` (status 70) for a missing or
wrong signature, ``NoEntriesError`` (65) for a signed list without entries,
``UsageError`` (64, also a ``ValueError``) for an unknown mode or a key ring
without keys, and ``OSError`` (74) when the file cannot be read.  Arguments
of the wrong type raise ``TypeError`` before the library is called.

The calls are thread-safe and release the GIL while the library works;
a ``Keyring`` may be shared by any number of threads.

The library is libsigncheck.so.1, found as the dynamic loader finds it;
the environment variable SIGNCHECK_LIBRARY names another file (an
uninstalled build), read once at import.
"""
from __future__ import annotations

import ctypes
import os
import threading
from collections.abc import Iterable
from itertools import repeat
from operator import add, attrgetter, lt, sub
from types import TracebackType
from typing import Union

from . import _native
from ._native import lib as _lib

__all__ = [
    "Error",
    "KeyFileError",
    "Keyring",
    "NoEntriesError",
    "SignatureError",
    "UsageError",
    "check",
    "check_file",
    "key_id",
]

__version__: str = _lib.signcheck_version().decode("ascii")
"""The version of the loaded libsigncheck, "MAJOR.MINOR.PATCH"."""

OK = 0
USAGE = 64
DATA_ERROR = 65
SOFTWARE = 70
IO_ERROR = 74

Buffer = Union[bytes, bytearray, memoryview]
StrPath = Union[str, "os.PathLike[str]"]


class Error(Exception):
    """A check that failed.  ``status`` is the library's status (the exit
    status signcheck gives for the same file) and ``message`` its message,
    as signcheck prints it, without the line feed; bytes that are not
    UTF-8 (from a file name) are decoded with surrogateescape."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status
        self.message = message


class UsageError(Error, ValueError):
    """Status 64: an unknown mode, or a key ring without keys (or a ninth key
    added to one)."""


class NoEntriesError(Error):
    """Status 65, modes nvl and msg: the signature is valid but the list has
    no entries."""


class SignatureError(Error):
    """Status 70: the signature is missing or wrong, or the signed data was
    not found."""


class KeyFileError(Error):
    """Status 65 from loading a key: the file is not a public key file, or
    its key is not one signtool would make or use."""


_ERRORS: dict[int, type[Error]] = {USAGE: UsageError, DATA_ERROR: NoEntriesError, SOFTWARE: SignatureError}


def key_id() -> str:
    """The ID of the key compiled into the library, as ``signtool id``
    prints it."""
    return str(_lib.signcheck_key_id().decode("ascii"))


def _text(data: bytes) -> str:
    return data.decode("utf-8", "surrogateescape").rstrip("\n")


def _message(get: object, handle: int) -> str:
    """A message from signcheck_result_message or signcheck_keyring_message."""
    assert callable(get)
    size = get(handle, None, 0)
    buffer = ctypes.create_string_buffer(size + 1)
    get(handle, buffer, size + 1)
    return _text(buffer.raw[:size])


def _encode(value: object, what: str) -> bytes:
    """A mode or a name as the C string the library takes."""
    if not isinstance(value, str):
        raise TypeError(f"{what} must be str, not {type(value).__name__}")
    encoded = os.fsencode(value)
    if b"\0" in encoded:
        raise ValueError(f"embedded null byte in {what}")
    return encoded


def _path(path: object) -> bytes:
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"path must be str, bytes or os.PathLike, not {type(path).__name__}")
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte in path")
    return encoded


_quick = _native.quick
_count = _quick.signcheck_result_span_count
_span = _quick.signcheck_result_span
# The indices as ctypes objects, made once: ctypes passes them on as they
# are, where it would convert a Python int on every call.
_INDICES = [ctypes.c_size_t(index) for index in range(256)]


def _indices(count: int) -> list[ctypes.c_size_t]:
    while len(_INDICES) < count:  # made twice at worst, by two threads at once
        _INDICES.extend(ctypes.c_size_t(index) for index in range(len(_INDICES), 2 * len(_INDICES)))
    return _INDICES[:count]


_data = attrgetter("data")
_size = attrgetter("size")
_INT_MAX = 2**31 - 1


def _bytes_at(address: int | None, size: int) -> bytes:
    if not size or address is None:
        return b""
    if size > _INT_MAX:  # ctypes.string_at takes an int
        return (ctypes.c_char * size).from_address(address).raw
    return ctypes.string_at(address, size)


_spans_at_once = getattr(_quick, "signcheck_result_spans", None)


def _bounds(result: int) -> tuple[list[int | None], list[int]]:
    """The last check's spans as their addresses and sizes: with one call
    for all of them where the library has it (1.1.0), else one a span."""
    count = _count(result)
    if _spans_at_once is not None:
        # Each span is an address and a size: read back as size_t words.
        words = (ctypes.c_size_t * (2 * count))()
        _spans_at_once(result, words, count)
        flat = memoryview(words).cast("B").cast("N").tolist()
        return [address or None for address in flat[0::2]], flat[1::2]
    spans = list(map(_span, repeat(ctypes.c_void_p(result), count), _indices(count)))
    return list(map(_data, spans)), list(map(_size, spans))


def _cuts(result: int) -> tuple[list[int], list[int]] | None:
    """Where the last check's spans start and end, or None when they do not
    follow one another in order (which the library never does).  The loops
    run in map, which costs less than Python's own loops over the entries
    of a long list."""
    starts, sizes = _bounds(result)
    if None in starts:
        return None
    ends = list(map(add, starts, sizes))
    if any(map(lt, starts[1:], ends[:-1])):  # type: ignore[arg-type]
        return None
    return starts, ends  # type: ignore[return-value]


def _file_spans(result: int) -> list[bytes]:
    """The last file check's spans.  They lie in file order in the result's
    one copy, so the bytes from the first to the end of the last are copied
    at once and cut, rather than copied span by span."""
    cuts = _cuts(result)
    if cuts is None:
        return [_bytes_at(span.data, span.size) for span in map(_span, repeat(result), range(_count(result)))]
    starts, ends = cuts
    if not starts:
        return []
    low = starts[0]
    region = _bytes_at(low, ends[-1] - low)
    return list(map(region.__getitem__, map(slice, map(sub, starts, repeat(low)), map(sub, ends, repeat(low)))))


def _buffer_spans(result: int, data: bytes | memoryview, base: int) -> list[bytes]:
    """The last buffer check's spans, which point into data (at base): cut
    out of it, so that nothing but the spans is copied."""
    cuts = _cuts(result)
    if cuts is None or (cuts[0] and not base <= cuts[0][0] <= cuts[1][-1] <= base + len(data)):
        return [_bytes_at(span.data, span.size) for span in map(_span, repeat(result), range(_count(result)))]
    starts, ends = cuts
    cut = map(slice, map(sub, starts, repeat(base)), map(sub, ends, repeat(base)))
    if isinstance(data, bytes):
        return list(map(data.__getitem__, cut))
    return [piece.tobytes() for piece in map(data.__getitem__, cut)]


def _os_error(number: int, message: str, path: bytes | None) -> OSError:
    """The OSError of status 74: with the errno (and then the file name)
    where the library names one, as the library's message alone where not."""
    if not number:
        return OSError(message)
    if path is None:
        return OSError(number, message)
    return OSError(number, message, os.fsdecode(path))


def _raise(result: int, status: int, path: bytes | None) -> None:
    message = _message(_native.quick.signcheck_result_message, result)
    if status == IO_ERROR:
        number = _native.quick.signcheck_result_errno(result) if _native.HAVE_ERRNO else 0
        raise _os_error(number, message, path)
    raise _ERRORS.get(status, Error)(status, message)


class Keyring:
    """Public keys loaded at run time, up to 8: a check with ``keys=`` a
    ring accepts a file whose signature verifies under any of them, in the
    order they were added, instead of the compiled-in key.

    ``Keyring(paths)`` loads each public key file (as ``signtool keygen``
    writes it); ``Keyring.from_text(text)`` one key from its text.  A key
    that is refused raises ``KeyFileError`` (status 65) with the library's
    message, a file that cannot be read ``OSError`` with its errno.
    ``len(ring)`` is the number of keys; a ring without keys accepts
    nothing (``UsageError``).  Once used by a check a ring takes no more
    keys and may be shared by any number of threads.  ``close()`` (or the
    end of a ``with`` block) releases it; a check still running with it
    keeps it until it returns.

    Needs libsigncheck 1.1.0 or later; with an older library the ring
    cannot be made (``NotImplementedError``).
    """

    def __init__(self, paths: Iterable[StrPath] = ()) -> None:
        if not _native.HAVE_KEYRING:
            raise NotImplementedError(f"libsigncheck {__version__} has no key rings: 1.1.0 or later is needed")
        if isinstance(paths, (str, bytes, os.PathLike)):
            raise TypeError("paths must be an iterable of paths, not a single path")
        self._lock = threading.Lock()
        self._users = 0
        self._handle: int | None = _lib.signcheck_keyring_new()
        if not self._handle:
            self._handle = None
            raise MemoryError("signcheck_keyring_new")
        for path in paths:
            encoded = _path(path)
            self._added(_lib.signcheck_keyring_add_file(self._handle, encoded), encoded)

    @classmethod
    def from_text(cls, text: str | bytes) -> Keyring:
        """A ring of the one key in ``text``, the text of a public key file."""
        if isinstance(text, str):
            text = text.encode("utf-8")
        elif not isinstance(text, bytes):
            raise TypeError(f"text must be str or bytes, not {type(text).__name__}")
        ring = cls()
        assert ring._handle is not None
        ring._added(_lib.signcheck_keyring_add_text(ring._handle, text, len(text)), None)
        return ring

    def _added(self, status: int, path: bytes | None) -> None:
        if status == OK:
            return
        assert self._handle is not None
        message = _message(_lib.signcheck_keyring_message, self._handle)
        number = _lib.signcheck_keyring_errno(self._handle)
        self.close()  # a ring that failed to load is of no use
        if status == IO_ERROR:
            raise _os_error(number, message, path)
        if status == DATA_ERROR:
            raise KeyFileError(status, message)
        raise _ERRORS.get(status, Error)(status, message)

    def __len__(self) -> int:
        with self._lock:
            return 0 if self._handle is None else int(_lib.signcheck_keyring_size(self._handle))

    def _acquire(self) -> int:
        with self._lock:
            if self._handle is None:
                raise ValueError("the key ring is closed")
            self._users += 1
            return self._handle

    def _release(self) -> None:
        with self._lock:
            self._users -= 1
            if self._users == 0 and self._closing:
                self._free()

    _closing = False

    def _free(self) -> None:
        if self._handle is not None:
            _lib.signcheck_keyring_free(self._handle)
            self._handle = None

    def close(self) -> None:
        """Releases the ring; checks with it raise ``ValueError`` after."""
        if not hasattr(self, "_lock"):  # __init__ did not get as far
            return
        with self._lock:
            self._closing = True
            if self._users == 0:
                self._free()

    @property
    def closed(self) -> bool:
        return self._closing or getattr(self, "_handle", None) is None

    def __enter__(self) -> Keyring:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, value: BaseException | None, traceback: TracebackType | None
    ) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<signcheck.Keyring of {len(self)} keys>" if not self.closed else "<signcheck.Keyring (closed)>"


def _ring(keys: object) -> Keyring | None:
    if keys is None:
        return None
    if not isinstance(keys, Keyring):
        raise TypeError(f"keys must be a signcheck.Keyring or None, not {type(keys).__name__}")
    return keys


def check(mode: str, data: Buffer, *, keys: Keyring | None = None, name: str = "<buffer>") -> list[bytes]:
    """Checks the signed file held in ``data`` in layout ``mode`` and returns
    the signed spans, copied into bytes: for nvl and msg each entry without
    its tag and with its line end as in the data, for lst the signed region,
    for url the signed content.  ``name`` only goes into the message.

    ``data`` is any contiguous buffer (bytes, bytearray, memoryview, mmap);
    it is not copied.  The key is the compiled-in one, or those of ``keys``.
    Raises ``SignatureError``, ``NoEntriesError``, ``UsageError`` (see the
    module's help) or ``OSError`` when memory ran out."""
    mode_c = _encode(mode, "mode")
    name_c = _encode(name, "name")
    ring = _ring(keys)
    if isinstance(data, str) or data is None:
        raise TypeError(f"data must be bytes, bytearray or memoryview, not {type(data).__name__}")
    # The buffer is held (a bytearray cannot be resized meanwhile) until the
    # spans are copied out of it.
    view = _native.PyBuffer()
    _native.get_buffer(data, view, _native.PYBUF_SIMPLE)  # raises TypeError, BufferError
    try:
        result = _run(ring, _checks_buffer, mode_c, view.buf, view.len, name_c)
        try:
            if isinstance(data, bytes):
                return _buffer_spans(result, data, view.buf or 0)
            with memoryview(data) as whole, whole.cast("B") as source:
                return _buffer_spans(result, source, view.buf or 0)
        finally:
            _free(result)
    finally:
        _native.release_buffer(view)


def check_file(mode: str, path: StrPath | bytes, *, keys: Keyring | None = None) -> list[bytes]:
    """Checks the signed file at ``path`` in layout ``mode`` and returns the
    signed spans as ``check`` does.  The file is read into the library's
    memory, never mapped, and released before this returns.  Raises as
    ``check`` does, and ``OSError`` (with the errno, where the library
    reports one) when the file cannot be opened or read."""
    mode_c = _encode(mode, "mode")
    path_c = _path(path)
    result = _run(_ring(keys), _checks_file, mode_c, path_c)
    try:
        return _file_spans(result)
    finally:
        _free(result)


_checks_buffer = (_lib.signcheck_check_buffer, getattr(_lib, "signcheck_check_buffer_with", None))
_checks_file = (_lib.signcheck_check_file, getattr(_lib, "signcheck_check_file_with", None))


_new = _quick.signcheck_result_new
_free = _quick.signcheck_result_free


def _run(ring: Keyring | None, checks: tuple[object, object], mode: bytes, *args: object) -> int:
    """One check with a result of its own, so that threads share nothing.
    Returns the result of a successful check, which the caller frees;
    raises for any other."""
    result: int = _new()
    if not result:
        raise MemoryError("signcheck_result_new")
    try:
        if ring is None:
            function = checks[0]
            assert callable(function)
            status = function(result, mode, *args)
        else:
            function = checks[1]
            assert callable(function)
            handle = ring._acquire()
            try:
                status = function(result, handle, mode, *args)
            finally:
                ring._release()
        if status != OK:
            path = args[0] if checks is _checks_file else None
            assert path is None or isinstance(path, bytes)
            _raise(result, status, path)
    except BaseException:
        _free(result)
        raise
    return result

# SPDX-License-Identifier: ISC
"""Checks the signatures of signed update information files with
libsigncheck and hands back only the bytes the signature covers.

    >>> import signcheck
    >>> entries = signcheck.check_file("nvl", "mirrors.nvl")
    >>> for entry in entries:
    ...     print(entry.decode().rstrip())
    >>> entries.key_id                       # the key that verified them
    '0123456789abcdef'

The modes are those of signcheck: ``nvl`` (update locations), ``msg``
(messages), ``lst`` (update lists) and ``url`` (URL lists), matched on
their first three letters in any letter case.  A check accepts the keys
compiled into the library (``key_id()`` is the first one's ID), or the
keys of a ``Keyring`` loaded from public key files.

Every failure raises a ``signcheck.Error``, whose ``status`` is the exit
status signcheck gives for the same file and ``message`` its message:

- ``UsageError`` (64, also a ``ValueError``): an unknown mode, or a key ring
  without keys (or a ninth key added to one);
- ``NoEntriesError`` (65): a signed nvl or msg list without entries;
- ``KeyFileError`` (65): a public key file that is refused;
- ``SignatureError`` (70): the signature is missing or wrong, or the signed
  data was not found;
- ``ReadError`` (74, also an ``OSError`` with ``errno``, ``strerror`` and
  ``filename`` where the system gave them): a file that cannot be read, or
  memory that ran out.

Every one pickles to its own type with its status and message, so that a
refusal in a worker process reaches its parent as itself.  Arguments of the
wrong type raise ``TypeError`` before the library is called.

The calls are thread-safe and let the GIL go while the library works; a
``Keyring`` may be shared by any number of threads.

The library is libsigncheck.so.1 (1.2.0 or later), found as the dynamic
loader finds it; the environment variable SIGNCHECK_LIBRARY names another
file (an uninstalled build), read once at import.
"""
from __future__ import annotations

import ctypes
import mmap
import os
import threading
from collections.abc import Iterable
from types import TracebackType
from typing import Any, Union

from ._native import lib as _lib
from ._native import quick as _quick

__all__ = [
    "Error",
    "KeyFileError",
    "Keyring",
    "NoEntriesError",
    "ReadError",
    "SignatureError",
    "SignedSpans",
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

Buffer = Union[bytes, bytearray, memoryview, mmap.mmap]
StrPath = Union[str, "os.PathLike[str]"]


class Error(Exception):
    """A check that failed.  ``status`` is the library's status (the exit
    status signcheck gives for the same file) and ``message`` its message,
    as signcheck prints it, without the line feed; bytes that are not
    UTF-8 (from a file name) are decoded with surrogateescape."""

    def __init__(self, status: int, message: str) -> None:
        # Not super(): in a ReadError the next class is OSError, which
        # would take the status for an errno.
        Exception.__init__(self, message)
        self.status = status
        self.message = message

    def __str__(self) -> str:
        return self.message

    def __reduce__(self) -> tuple[Any, ...]:
        return type(self), (self.status, self.message), self.__dict__


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


class ReadError(Error, OSError):
    """Status 74: a file (to check, or a key file) cannot be opened, examined
    or read, or memory ran out.  Also an ``OSError``: ``errno`` is the
    system's error number and ``strerror`` its text where the library names
    one (None where not, as for a file that ends early), ``filename`` the
    file's name.  ``str()`` is the library's message, which names the file
    once."""

    def __init__(self, message: str, errno: int = 0, filename: str | None = None) -> None:
        if errno:
            OSError.__init__(self, errno, os.strerror(errno))
        Error.__init__(self, IO_ERROR, message)
        self.filename = filename

    def __reduce__(self) -> tuple[Any, ...]:
        return type(self), (self.message, self.errno or 0, self.filename), self.__dict__


class SignedSpans(list[bytes]):
    """The signed spans of a successful check, a list of bytes, and
    ``key_id``, the ID of the key that verified them (16 hexadecimal digits,
    as ``signtool id`` prints it): during a key rotation, which of the keys
    signed the file."""

    def __init__(self, spans: Iterable[bytes], key_id: str) -> None:
        super().__init__(spans)
        self.key_id = key_id


_ERRORS: dict[int, type[Error]] = {USAGE: UsageError, DATA_ERROR: NoEntriesError, SOFTWARE: SignatureError}


def key_id() -> str:
    """The ID of the key compiled into the library, as ``signtool id``
    prints it."""
    return str(_lib.signcheck_key_id().decode("ascii"))


def _text(data: bytes) -> str:
    return data.decode("utf-8", "surrogateescape").rstrip("\n")


def _message(get: Any, handle: int | None) -> str:
    """A message from signcheck_result_message or signcheck_keyring_message."""
    size = int(get(handle, None, 0))
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


def _failure(status: int, message: str, errno: int, path: bytes | None) -> Error:
    if status == IO_ERROR:
        return ReadError(message, errno, None if path is None else os.fsdecode(path))
    return _ERRORS.get(status, Error)(status, message)


class Keyring:
    """Public keys loaded at run time, up to 8: a check with ``keys=`` a
    ring accepts a file whose signature verifies under any of them, in the
    order they were added, instead of the compiled-in keys.

    ``Keyring(paths)`` loads each public key file (as ``signtool keygen``
    writes it); ``Keyring.from_text(text)`` one key from its text.  A key
    that is refused raises ``KeyFileError`` (status 65) with the library's
    message, a file that cannot be read ``ReadError``.  ``len(ring)`` is the
    number of keys and ``ring.key_ids`` their IDs, in order; a ring without
    keys accepts nothing (``UsageError``).  Once used by a check a ring
    takes no more keys and may be shared by any number of threads.
    ``close()`` (or the end of a ``with`` block) releases it; a check still
    running with it keeps it until it returns.
    """

    _handle: int | None = None
    _closing = False

    def __init__(self, paths: Iterable[StrPath | bytes] = ()) -> None:
        if isinstance(paths, (str, bytes, os.PathLike)):
            raise TypeError("paths must be an iterable of paths, not a single path")
        self._lock = threading.Lock()
        self._users = 0
        self._handle = _lib.signcheck_keyring_new()
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
        ring._added(_lib.signcheck_keyring_add_text(ring._handle, text, len(text)), None)
        return ring

    def _added(self, status: int, path: bytes | None) -> None:
        if status == OK:
            return
        message = _message(_lib.signcheck_keyring_message, self._handle)
        errno = int(_lib.signcheck_keyring_errno(self._handle))
        self.close()  # a ring that failed to load is of no use
        if status == DATA_ERROR:
            raise KeyFileError(status, message)
        raise _failure(status, message, errno, path)

    def __len__(self) -> int:
        with self._lock:
            return 0 if self._handle is None else int(_lib.signcheck_keyring_size(self._handle))

    @property
    def key_ids(self) -> list[str]:
        """The IDs of the ring's keys, in the order they were added."""
        with self._lock:
            if self._handle is None:
                return []
            count = int(_lib.signcheck_keyring_size(self._handle))
            return [_lib.signcheck_keyring_key_id(self._handle, index).decode("ascii") for index in range(count)]

    def _acquire(self) -> int:
        with self._lock:
            # A ring being closed takes no new checks, though checks already
            # running keep it until the last of them returns.
            if self._handle is None or self._closing:
                raise ValueError("the key ring is closed")
            self._users += 1
            return self._handle

    def _release(self) -> None:
        with self._lock:
            self._users -= 1
            if self._users == 0 and self._closing:
                self._free()

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
        return self._closing or self._handle is None

    def __enter__(self) -> Keyring:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, value: BaseException | None, traceback: TracebackType | None
    ) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<signcheck.Keyring (closed)>" if self.closed else f"<signcheck.Keyring of {len(self)} keys>"


def _ring(keys: object) -> Keyring | None:
    if keys is not None and not isinstance(keys, Keyring):
        raise TypeError(f"keys must be a signcheck.Keyring or None, not {type(keys).__name__}")
    return keys


def _snapshot(data: object) -> bytes:
    """data as bytes that no one else can change: bytes as they are, any
    other buffer copied once."""
    if isinstance(data, bytes):
        return data
    if isinstance(data, str) or not isinstance(data, (bytearray, memoryview, mmap.mmap)):
        raise TypeError(f"data must be bytes, bytearray, memoryview or mmap, not {type(data).__name__}")
    with memoryview(data) as view:
        if not view.c_contiguous:
            raise BufferError("data must be a contiguous buffer")
        return view.tobytes()


def check(mode: str, data: Buffer, *, keys: Keyring | None = None, name: str = "<buffer>") -> SignedSpans:
    """Checks the signed file held in ``data`` in layout ``mode`` and returns
    the signed spans, as bytes in a ``SignedSpans`` list: for nvl and msg
    each entry without its tag and with its line end as in the data, for lst
    the signed region, for url the signed content.  ``name`` only goes into
    the message.

    ``data`` is bytes, a bytearray, a (contiguous) memoryview or an mmap.
    bytes are checked where they lie.  Any other buffer could change while
    the check runs (another thread, or another process writing the mapped
    file), so it is copied once and the copy is checked: the spans returned
    are always the bytes that were verified.  The copy costs one pass over
    the buffer (about 75 ms for 100 MiB on an AMD EPYC, most of it the new
    pages) and as much memory again until the check returns; pass bytes to
    avoid it.

    The key is a compiled-in one, or one of ``keys``.  Raises
    ``SignatureError``, ``NoEntriesError``, ``UsageError`` (see the
    module's help) or ``ReadError`` when memory ran out."""
    mode_c = _encode(mode, "mode")
    name_c = _encode(name, "name")
    ring = _ring(keys)
    content = _snapshot(data)
    base = ctypes.cast(ctypes.c_char_p(content), ctypes.c_void_p).value or 0
    result = _run(ring, None, _lib.signcheck_check_buffer_with, mode_c, content, len(content), name_c)
    try:
        return _spans(result, content, base)
    finally:
        _quick.signcheck_result_free(result)


def check_file(mode: str, path: StrPath | bytes, *, keys: Keyring | None = None) -> SignedSpans:
    """Checks the signed file at ``path`` in layout ``mode`` and returns the
    signed spans as ``check`` does.  The file is read into the library's
    memory, never mapped, and checked there, so that a file changed
    meanwhile cannot change what is returned.  Raises as ``check`` does,
    and ``ReadError`` when the file cannot be opened or read."""
    mode_c = _encode(mode, "mode")
    path_c = _path(path)
    result = _run(_ring(keys), path_c, _lib.signcheck_check_file_with, mode_c, path_c)
    try:
        return _spans(result, None, 0)
    finally:
        _quick.signcheck_result_free(result)


def _run(ring: Keyring | None, path: bytes | None, function: Any, *args: object) -> int:
    """One check with a result of its own, so that threads share nothing.
    Returns the result of a successful check, which the caller frees;
    raises for any other."""
    result: int = _quick.signcheck_result_new()
    if not result:
        raise MemoryError("signcheck_result_new")
    try:
        if ring is None:
            status = function(result, None, *args)
        else:
            handle = ring._acquire()
            try:
                status = function(result, handle, *args)
            finally:
                ring._release()
        if status != OK:
            message = _message(_quick.signcheck_result_message, result)
            raise _failure(status, message, int(_quick.signcheck_result_errno(result)), path)
    except BaseException:
        _quick.signcheck_result_free(result)
        raise
    return result


def _spans(result: int, source: bytes | None, base: int) -> SignedSpans:
    """The spans of the successful check in result, cut out of source, the
    bytes at address base that the check read; None for a file check, whose
    spans lie in file order in the result's one copy of the file, read here
    from the first span's start to the last one's end."""
    count = _quick.signcheck_result_spans(result, None, 0)
    table = (ctypes.c_size_t * (2 * count))()  # each span's address, then its size
    _quick.signcheck_result_spans(result, table, count)
    words: list[int] = table[:]
    if source is None:
        base = words[0] if count else 0
        end = words[-2] + words[-1] if count else 0
        source = ctypes.string_at(base, end - base) if end > base else b""
    spans = [source[start - base : start - base + size] for start, size in zip(words[0::2], words[1::2])]
    return SignedSpans(spans, _quick.signcheck_result_key_id(result).decode("ascii"))

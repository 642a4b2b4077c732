# SPDX-License-Identifier: ISC
"""The signcheck package beside the signcheck program, on the examples.

Run by ctest (lib_clients.python) with PYTHONPATH at python/ and
SIGNCHECK_LIBRARY at the build's library, and with
  SIGNCHECK_PROGRAM     the build's signcheck
  SIGNCHECK_EXAMPLES    the examples signed for the compiled-in key ("-": none)
  SIGNCHECK_PUBLIC_KEY  the public key file compiled in
  SIGNCHECK_SIGNTOOL, SIGNCHECK_TEST_KEY   to sign inputs here ("-": none)
"""
from __future__ import annotations

import errno
import os
import pathlib
import subprocess
import threading
import tracemalloc

import pytest

import signcheck
from signcheck import _native


def _setting(name: str) -> str:
    value = os.environ.get(name, "-")
    return "" if value == "-" else value


EXAMPLES = pathlib.Path(_setting("SIGNCHECK_EXAMPLES")) if _setting("SIGNCHECK_EXAMPLES") else None
PROGRAM = _setting("SIGNCHECK_PROGRAM")
MODES = ("nvl", "msg", "lst", "url")
STATUS = {
    signcheck.UsageError: 64,
    signcheck.NoEntriesError: 65,
    signcheck.SignatureError: 70,
}

needs_examples = pytest.mark.skipif(
    EXAMPLES is None or not PROGRAM,
    reason="no examples signed for the compiled-in key, or no signcheck (SIGNCHECK_EXAMPLES, SIGNCHECK_PROGRAM)",
)
needs_keyring = pytest.mark.skipif(
    not _native.HAVE_KEYRING,
    reason=f"libsigncheck {signcheck.__version__} has no signcheck_keyring_new: key rings come with 1.1.0",
)
needs_errno = pytest.mark.skipif(
    not _native.HAVE_ERRNO,
    reason=f"libsigncheck {signcheck.__version__} has no signcheck_result_errno: errno comes with 1.1.0",
)


def example_files() -> list[pathlib.Path]:
    if EXAMPLES is None:
        return []
    return sorted(p for p in EXAMPLES.iterdir() if p.suffix[1:] in MODES)


def run_program(mode: str, path: os.PathLike[str] | str) -> tuple[int, bytes]:
    done = subprocess.run([PROGRAM, mode, os.fspath(path)], stdout=subprocess.PIPE, check=False)
    return done.returncode, done.stdout


def outcome(function: object, *args: object) -> tuple[int, list[bytes] | str]:
    """(0, spans) or (status, message) of one call."""
    assert callable(function)
    try:
        return 0, function(*args)
    except signcheck.Error as error:
        assert STATUS[type(error)] == error.status
        return error.status, error.message
    except OSError as error:
        return 74, str(error.strerror if error.errno else error)


@needs_examples
@pytest.mark.parametrize("mode", MODES)
def test_every_example_in_every_mode(mode: str) -> None:
    """Status, message and signed bytes as signcheck has them, the same from
    the file and from bytes, bytearray and a read-only memoryview."""
    files = example_files()
    assert len(files) >= 7
    for path in files:
        status, printed = run_program(mode, path)
        got = outcome(signcheck.check_file, mode, path)
        assert got[0] == status, (path, got)
        data = path.read_bytes()
        for buffer in (data, bytearray(data), memoryview(data)):
            assert outcome(lambda m, b: signcheck.check(m, b, name=str(path)), mode, buffer) == got
        if status:
            # signcheck prints its message last (url prints its parse first).
            assert isinstance(got[1], str) and printed.decode().endswith(got[1] + "\n"), (path, got, printed)
            continue
        spans = got[1]
        assert isinstance(spans, list) and spans and all(type(span) is bytes for span in spans)
        if mode in ("nvl", "msg"):
            assert b"".join(spans) == printed
            assert all(span.endswith(b"\n") for span in spans)
        elif mode == "lst":
            assert len(spans) == 1 and spans[0].startswith(b"[NorvuUpdateList]\r\n")
            assert spans[0].endswith(b"[NorvuUpdateListEnd]\r\n") and spans[0] in data
        else:
            assert len(spans) == 1 and data.endswith(spans[0]) and not spans[0][:1].isspace()


@needs_examples
def test_tampered_bytes_and_failures_raise_with_their_status(tmp_path: pathlib.Path) -> None:
    assert EXAMPLES is not None
    data = (EXAMPLES / "mirrors.url").read_bytes()
    tampered = data[:-3] + bytes([data[-3] ^ 1]) + data[-2:]
    with pytest.raises(signcheck.SignatureError) as raised:
        signcheck.check("url", tampered, name="mine.url")
    assert raised.value.status == 70 and "mine.url" in raised.value.message
    (tmp_path / "t.url").write_bytes(tampered)
    assert run_program("url", tmp_path / "t.url")[0] == 70
    with pytest.raises(signcheck.SignatureError):
        signcheck.check_file("URL", tmp_path / "t.url")

    with pytest.raises(signcheck.UsageError) as usage:
        signcheck.check("xyz", data)
    assert isinstance(usage.value, ValueError) and usage.value.status == 64 and "xyz" in usage.value.message

    missing = tmp_path / "missing.nvl"
    with pytest.raises(OSError) as io:
        signcheck.check_file("nvl", missing)
    assert str(missing) in str(io.value)
    with pytest.raises(OSError):
        signcheck.check_file("url", tmp_path)  # a directory

    # A name that is not UTF-8 comes back in the message as it went in.
    odd = os.fsdecode(b"\xff.lst")
    with pytest.raises(signcheck.SignatureError) as raised:
        signcheck.check("lst", b"", name=odd)
    assert odd in raised.value.message


@pytest.mark.skipif(not (_setting("SIGNCHECK_SIGNTOOL") and _setting("SIGNCHECK_TEST_KEY")),
                    reason="no signtool and test key to sign a list without entries")
def test_signed_list_without_entries(tmp_path: pathlib.Path) -> None:
    (tmp_path / "empty").write_bytes(b"")
    signature = subprocess.run(
        [_setting("SIGNCHECK_SIGNTOOL"), "sign", _setting("SIGNCHECK_TEST_KEY"), tmp_path / "empty"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout.strip()
    for mode, tag in (("nvl", b"url="), ("msg", b"msg=")):
        with pytest.raises(signcheck.NoEntriesError) as raised:
            signcheck.check(mode, b"# none\r\nsign=" + signature + b"\r\n" + tag + b"late\r\n")
        assert raised.value.status == 65


def test_wrong_types_raise_before_the_library_is_called(tmp_path: pathlib.Path) -> None:
    closed = open(tmp_path / "f", "wb")
    closed.close()
    for data in (None, "url=text\r\n", 5, closed, [b"x"]):
        with pytest.raises(TypeError):
            signcheck.check("nvl", data)  # type: ignore[arg-type]
    for mode in (None, b"nvl", 1):
        with pytest.raises(TypeError):
            signcheck.check(mode, b"")  # type: ignore[arg-type]
        with pytest.raises(TypeError):
            signcheck.check_file(mode, tmp_path / "f")  # type: ignore[arg-type]
    for path in (None, closed, 3.5):
        with pytest.raises(TypeError):
            signcheck.check_file("nvl", path)  # type: ignore[arg-type]
    with pytest.raises(TypeError):
        signcheck.check("nvl", b"", keys="key.pub")  # type: ignore[arg-type]
    with pytest.raises(ValueError):
        signcheck.check_file("nvl", "a\0b")
    with pytest.raises(ValueError):
        signcheck.check("nvl\0x", b"")
    with pytest.raises(BufferError):
        signcheck.check("nvl", memoryview(b"abcd")[::2])
    assert signcheck.key_id() and signcheck.__version__.count(".") == 2


@needs_examples
def test_large_url_buffer_is_not_copied() -> None:
    """100 MB of whitespace ahead of the signed content: only the content
    is copied, out of bytes, a bytearray and a read-only memoryview."""
    assert EXAMPLES is not None
    data = (EXAMPLES / "mirrors.url").read_bytes()
    head, signature, content = data.split(b"\n", 2)
    blank = 100 << 20
    big = bytearray(head + b"\n" + signature + b"\n" + b" " * blank + content)
    frozen = bytes(big)
    buffers = [big, memoryview(frozen), frozen, memoryview(big)[:]]
    for buffer in buffers:
        tracemalloc.start()
        try:
            spans = signcheck.check("url", buffer)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert spans == [content]
        assert peak < 1 << 20, f"{type(buffer).__name__}: peak {peak} bytes"
    del buffers, buffer
    big.extend(b"x")  # check let the bytearray go: it may be resized again


@needs_examples
def test_eight_threads_at_once() -> None:
    files = example_files()
    expected = {(mode, path): outcome(signcheck.check_file, mode, path) for path in files for mode in MODES}
    contents = {path: path.read_bytes() for path in files}
    failures: list[object] = []

    def work() -> None:
        for _ in range(20):
            for (mode, path), want in expected.items():
                if outcome(signcheck.check_file, mode, path) != want:
                    failures.append((mode, path))
                if outcome(signcheck.check, mode, contents[path])[0] != want[0]:
                    failures.append((mode, path, "buffer"))

    run_threads(work)
    assert not failures


def run_threads(work: object) -> None:
    """work in 8 threads at once; an exception in any fails the test."""
    assert callable(work)
    raised: list[BaseException] = []

    def guarded() -> None:
        try:
            work()
        except BaseException as error:
            raised.append(error)

    threads = [threading.Thread(target=guarded) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not raised, raised


@needs_keyring
def test_keyring_loads_checks_and_refuses(tmp_path: pathlib.Path) -> None:
    public = _setting("SIGNCHECK_PUBLIC_KEY")
    assert public, "SIGNCHECK_PUBLIC_KEY is not set"
    text = pathlib.Path(public).read_text()
    with signcheck.Keyring([public]) as ring, signcheck.Keyring.from_text(text) as same:
        assert len(ring) == 1 and len(same) == 1
        for path in example_files():
            for mode in MODES:
                assert outcome(signcheck.check_file, mode, path) == outcome(
                    lambda m, p: signcheck.check_file(m, p, keys=ring), mode, path)
                assert outcome(signcheck.check, mode, path.read_bytes()) == outcome(
                    lambda m, d: signcheck.check(m, d, keys=same), mode, path.read_bytes())
    assert ring.closed
    with pytest.raises(ValueError):
        signcheck.check("nvl", b"", keys=ring)

    # y changed in its last digit is no longer of order q.
    last = text.rstrip()[-1]
    broken = text.rstrip()[:-1] + ("0" if last != "0" else "1") + "\n"
    with pytest.raises(signcheck.KeyFileError) as refused:
        signcheck.Keyring.from_text(broken)
    assert refused.value.status == 65 and refused.value.message
    with pytest.raises(FileNotFoundError) as missing:
        signcheck.Keyring([tmp_path / "none.pub"])
    assert missing.value.errno == errno.ENOENT
    with pytest.raises(OSError):
        signcheck.Keyring([tmp_path])  # not a regular file
    with pytest.raises(signcheck.UsageError):
        signcheck.check("nvl", b"url=x\r\n", keys=signcheck.Keyring([]))
    with pytest.raises(signcheck.UsageError):
        signcheck.Keyring([public] * 9)


@needs_keyring
def test_one_keyring_shared_by_eight_threads() -> None:
    files = example_files()
    expected = [outcome(signcheck.check_file, path.suffix[1:], path) for path in files]
    failures: list[object] = []
    with signcheck.Keyring([_setting("SIGNCHECK_PUBLIC_KEY")]) as ring:

        def work() -> None:
            for _ in range(20):
                for path, want in zip(files, expected):
                    if outcome(lambda m, p: signcheck.check_file(m, p, keys=ring), path.suffix[1:], path) != want:
                        failures.append(path)

        run_threads(work)
    assert not failures


@needs_errno
def test_errno_of_a_file_that_cannot_be_read(tmp_path: pathlib.Path) -> None:
    for mode in MODES:
        with pytest.raises(FileNotFoundError) as raised:
            signcheck.check_file(mode, tmp_path / "none")
        assert raised.value.errno == errno.ENOENT and raised.value.filename == str(tmp_path / "none")

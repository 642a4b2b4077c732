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
import mmap
import os
import pathlib
import pickle
import subprocess
import sys
import threading
import tracemalloc

import pytest

import signcheck


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
    signcheck.ReadError: 74,
}
SIGNTOOL = _setting("SIGNCHECK_SIGNTOOL")
TEST_KEY = _setting("SIGNCHECK_TEST_KEY")

needs_examples = pytest.mark.skipif(
    EXAMPLES is None or not PROGRAM,
    reason="no examples signed for the compiled-in key, or no signcheck (SIGNCHECK_EXAMPLES, SIGNCHECK_PROGRAM)",
)
needs_signing = pytest.mark.skipif(not (SIGNTOOL and TEST_KEY), reason="no signtool and test key to sign files here")


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

    with pytest.raises(signcheck.ReadError):
        signcheck.check_file("url", tmp_path)  # a directory

    # A name that is not UTF-8 comes back in the message as it went in.
    odd = os.fsdecode(b"\xff.lst")
    with pytest.raises(signcheck.SignatureError) as raised:
        signcheck.check("lst", b"", name=odd)
    assert odd in raised.value.message


def sign(key: str, unsigned: pathlib.Path, *mode: str) -> bytes:
    """The signed file (with mode: --mode M) or the signature text of unsigned."""
    return subprocess.run([SIGNTOOL, "sign", *mode, key, unsigned], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=True).stdout


@needs_signing
def test_signed_list_without_entries(tmp_path: pathlib.Path) -> None:
    (tmp_path / "empty").write_bytes(b"")
    signature = sign(TEST_KEY, tmp_path / "empty").strip()
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
def test_bytes_are_checked_in_place_and_other_buffers_copied_once(tmp_path: pathlib.Path) -> None:
    """100 MB of whitespace ahead of the signed content: out of bytes only
    the content is copied, out of every buffer that could change the whole
    buffer once, and no more."""
    assert EXAMPLES is not None
    data = (EXAMPLES / "mirrors.url").read_bytes()
    head, signature, content = data.split(b"\n", 2)
    big = bytearray(head + b"\n" + signature + b"\n" + b" " * (100 << 20) + content)
    (tmp_path / "big.url").write_bytes(big)
    with open(tmp_path / "big.url", "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        for buffer, most in ((bytes(big), 1 << 20), (big, len(big) + (1 << 20)),
                             (memoryview(big), len(big) + (1 << 20)), (mapped, len(big) + (1 << 20))):
            tracemalloc.start()
            try:
                spans = signcheck.check("url", buffer)
                peak = tracemalloc.get_traced_memory()[1]
            finally:
                tracemalloc.stop()
            assert spans == [content]
            assert peak < most, f"{type(buffer).__name__}: peak {peak} bytes"
    big.extend(b"x")  # check let the bytearray go: it may be resized again


# The writer: toggles one byte of the mapped file until it is killed.
WRITER = """
import mmap, sys
with open(sys.argv[1], "r+b") as file, mmap.mmap(file.fileno(), 0) as mapped:
    position = int(sys.argv[2])
    print("ready", flush=True)
    while True:
        mapped[position] ^= 1
"""


@needs_signing
@pytest.mark.parametrize("kind", ["bytearray", "memoryview", "mmap"])
def test_a_buffer_written_meanwhile_never_returns_bytes_that_were_not_verified(
        kind: str, tmp_path: pathlib.Path) -> None:
    """Another thread (bytearray, memoryview) or process (mmap) toggles one
    byte of the signed content while the checks run: each check fails, or
    returns exactly the content that was signed."""
    lines = b"".join(b"https://mirror%05d.example.net/norvu/\n" % i for i in range(30000))
    (tmp_path / "in").write_bytes(lines)
    signed = sign(TEST_KEY, tmp_path / "in", "--mode", "url")
    position = len(signed) - len(lines) // 2
    (tmp_path / "signed.url").write_bytes(signed)
    stop = threading.Event()
    buffer: bytearray | memoryview | mmap.mmap
    if kind == "mmap":
        writer = subprocess.Popen([sys.executable, "-c", WRITER, tmp_path / "signed.url", str(position)],
                                  stdout=subprocess.PIPE)
        assert writer.stdout is not None and writer.stdout.readline() == b"ready\n"
        file = open(tmp_path / "signed.url", "rb")
        buffer = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
        file.close()
    else:
        whole = bytearray(signed)
        buffer = whole if kind == "bytearray" else memoryview(whole)

        def toggle() -> None:
            while not stop.is_set():
                whole[position] ^= 1

        writer_thread = threading.Thread(target=toggle)
        writer_thread.start()
    passed = 0
    try:
        # 60 checks, and more (up to 600) while none has passed, as a writer
        # kept off the CPU may leave the byte changed for a while.
        for attempt in range(600):
            if attempt >= 60 and passed:
                break
            try:
                spans = signcheck.check("url", buffer)
            except signcheck.SignatureError:
                continue
            assert spans == [lines], "a check returned bytes that differ from those signed"
            passed += 1
    finally:
        if kind == "mmap":
            writer.kill()
            writer.wait()
            assert isinstance(buffer, mmap.mmap)
            buffer.close()
        else:
            stop.set()
            writer_thread.join()
    assert passed, "no check passed: the writer never left the signed byte in place"


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
    with pytest.raises(signcheck.ReadError):
        signcheck.Keyring([tmp_path])  # not a regular file
    with pytest.raises(signcheck.UsageError):
        signcheck.check("nvl", b"url=x\r\n", keys=signcheck.Keyring([]))
    with pytest.raises(signcheck.UsageError):
        signcheck.Keyring([public] * 9)


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


def test_closing_a_ring_under_a_running_check(monkeypatch: pytest.MonkeyPatch) -> None:
    # The ring is freed only when the check running with it has returned,
    # and no check starts on it once close() has been called.
    events: list[str] = []
    real_free = signcheck._lib.signcheck_keyring_free
    monkeypatch.setattr(signcheck._lib, "signcheck_keyring_free", lambda ring: (events.append("free"), real_free(ring)))
    big = b"[signature]\n" + b"0" * 80 + b"\n" + b"x" * (256 << 20)
    ring = signcheck.Keyring([_setting("SIGNCHECK_PUBLIC_KEY")])

    def work() -> None:
        with pytest.raises(signcheck.SignatureError):
            signcheck.check("url", big, keys=ring)
        events.append("returned")

    worker = threading.Thread(target=work)
    worker.start()
    while ring._users == 0 and worker.is_alive():
        pass
    ring.close()
    events.append("closed")
    assert ring.closed
    with pytest.raises(ValueError):
        signcheck.check("url", big[:200], keys=ring)
    worker.join()
    assert events == ["closed", "free", "returned"]


def test_a_file_that_cannot_be_read_raises_read_error(tmp_path: pathlib.Path) -> None:
    """Both a signcheck.Error of status 74 and an OSError with the errno, the
    system's text and the file name, which the message names once."""
    missing = str(tmp_path / "none")
    calls = [lambda mode=mode: signcheck.check_file(mode, missing) for mode in MODES]
    calls.append(lambda: signcheck.Keyring([missing]))
    for call in calls:
        with pytest.raises(signcheck.ReadError) as raised:
            call()
        error = raised.value
        assert isinstance(error, signcheck.Error) and isinstance(error, OSError) and error.status == 74
        assert (error.errno, error.strerror, error.filename) == (errno.ENOENT, os.strerror(errno.ENOENT), missing)
        assert str(error) == error.message and str(error).count(missing) == 1, str(error)


def test_every_exception_pickles_to_its_own_type() -> None:
    errors: list[signcheck.Error] = [signcheck.Error(1, "some failure"), signcheck.UsageError(64, "unknown mode"),
                                     signcheck.NoEntriesError(65, "no entries"), signcheck.KeyFileError(65, "bad key"),
                                     signcheck.SignatureError(70, "wrong signature"),
                                     signcheck.ReadError("cannot read 'f'", errno.EACCES, "f"),
                                     signcheck.ReadError("unexpected EOF for file 'f'", 0, "f")]
    try:
        signcheck.check_file("nvl", "/nonexistent/none.nvl")
    except signcheck.ReadError as error:
        errors.append(error)
    for error in errors:
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is type(error) and (copy.status, copy.message, str(copy)) == (
            error.status, error.message, str(error))
        if isinstance(error, OSError):
            assert isinstance(copy, OSError)
            assert (copy.errno, copy.strerror, copy.filename) == (error.errno, error.strerror, error.filename)


@needs_signing
@needs_examples
def test_spans_name_the_key_that_verified_them(tmp_path: pathlib.Path) -> None:
    """A ring of two keys during a rotation: each check names its signer's
    key, as signtool id does, and the ring names both."""
    public = _setting("SIGNCHECK_PUBLIC_KEY")
    subprocess.run([SIGNTOOL, "keygen", "--no-passphrase", tmp_path / "next.key", tmp_path / "next.pub"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    ids = [subprocess.run([SIGNTOOL, "id", key], stdout=subprocess.PIPE, check=True).stdout.decode().strip()
           for key in (public, tmp_path / "next.pub")]
    assert ids[0] == signcheck.key_id()
    (tmp_path / "in").write_bytes(b"[NorvuUpdateList]\r\nVersion=4.2.0\r\n[NorvuUpdateListEnd]\r\n")
    with signcheck.Keyring([public, tmp_path / "next.pub"]) as ring:
        assert ring.key_ids == ids
        for signer, key in ((0, TEST_KEY), (1, str(tmp_path / "next.key"))):
            signed = sign(key, tmp_path / "in", "--mode", "lst")
            (tmp_path / "signed.lst").write_bytes(signed)
            spans = signcheck.check_file("lst", tmp_path / "signed.lst", keys=ring)
            assert spans.key_id == ids[signer] and signcheck.check("lst", signed, keys=ring).key_id == ids[signer]
            assert isinstance(spans, list) and spans == [(tmp_path / "in").read_bytes()]
    assert signcheck.check_file("nvl", EXAMPLES / "mirrors.nvl").key_id == ids[0]

#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""check.py MODE FILE: checks FILE's signature with libsigncheck through
ctypes and prints only the bytes the signature covers, as they are in the
file.  Exits with the status signcheck would; on failure signcheck's message
goes to stderr.  libsigncheck.so.1 is found as the dynamic loader finds it
(installed, or on LD_LIBRARY_PATH)."""
import ctypes
import os
import sys


class Span(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(ctypes.c_ubyte)), ("size", ctypes.c_size_t)]


def load():
    lib = ctypes.CDLL("libsigncheck.so.1")
    lib.signcheck_result_new.restype = ctypes.c_void_p
    lib.signcheck_result_new.argtypes = []
    lib.signcheck_result_free.restype = None
    lib.signcheck_result_free.argtypes = [ctypes.c_void_p]
    lib.signcheck_check_file.restype = ctypes.c_int
    lib.signcheck_check_file.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
    lib.signcheck_result_span_count.restype = ctypes.c_size_t
    lib.signcheck_result_span_count.argtypes = [ctypes.c_void_p]
    lib.signcheck_result_span.restype = Span
    lib.signcheck_result_span.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
    lib.signcheck_result_message.restype = ctypes.c_size_t
    lib.signcheck_result_message.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
    return lib


def check(lib, mode, file_name):
    """Returns (status, signed bytes, message)."""
    result = lib.signcheck_result_new()
    if not result:
        raise MemoryError("signcheck_result_new")
    try:
        status = lib.signcheck_check_file(result, mode, file_name)
        spans = []
        for i in range(lib.signcheck_result_span_count(result)):
            span = lib.signcheck_result_span(result, i)
            spans.append(ctypes.string_at(span.data, span.size))
        length = lib.signcheck_result_message(result, None, 0)
        message = ctypes.create_string_buffer(length + 1)
        lib.signcheck_result_message(result, message, length + 1)
        return status, b"".join(spans), message.value
    finally:
        lib.signcheck_result_free(result)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: check.py MODE FILE\n")
        return 64
    mode, file_name = (os.fsencode(arg) for arg in sys.argv[1:])
    status, signed, message = check(load(), mode, file_name)
    sys.stdout.buffer.write(signed)
    sys.stdout.buffer.flush()
    sys.stderr.buffer.write(message)
    return status


if __name__ == "__main__":
    sys.exit(main())

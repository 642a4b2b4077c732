#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""check.py [--key PUBLIC_KEY]... MODE FILE: prints the bytes FILE's signature
covers and exits with signcheck's status; a failure's message goes to stderr.
With --key (repeatable) the file must verify under one of those keys instead
of the library's compiled-in ones."""
import sys

import signcheck

args = sys.argv[1:]
keys = []
while "--key" in args[:-1]:
    at = args.index("--key")
    keys.append(args.pop(at + 1))
    del args[at]
if len(args) != 2:
    sys.stderr.write("usage: check.py [--key PUBLIC_KEY]... MODE FILE\n")
    sys.exit(64)
try:
    ring = signcheck.Keyring(keys) if keys else None
    spans = signcheck.check_file(args[0], args[1], keys=ring)
except signcheck.Error as error:  # ReadError, a missing file, among them
    print(error.message, file=sys.stderr)
    sys.exit(error.status)
sys.stdout.buffer.write(b"".join(spans))

#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""check.py MODE FILE [--key PUBLIC_KEY]...: prints the bytes FILE's signature
covers and exits with signcheck's status; a failure's message goes to stderr."""
import sys

import signcheck

args = sys.argv[1:]
keys = [args.pop(i + 1) for i in range(len(args) - 2, -1, -1) if args[i] == "--key"]
args = [arg for arg in args if arg != "--key"]
if len(args) != 2:
    sys.stderr.write("usage: check.py MODE FILE [--key PUBLIC_KEY]...\n")
    sys.exit(64)
try:
    spans = signcheck.check_file(*args, keys=signcheck.Keyring(reversed(keys)) if keys else None)
except (signcheck.Error, OSError) as error:
    print(getattr(error, "message", None) or error.strerror or error, file=sys.stderr)
    sys.exit(getattr(error, "status", 74))
sys.stdout.buffer.write(b"".join(spans))

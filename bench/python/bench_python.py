#!/usr/bin/env python3
# SPDX-License-Identifier: ISC
"""Checks every file named in LIST through the signcheck package, in this
process, and prints what bench_lib prints for its C loop:

    bench_python.py LIST
    python files N passed N seconds S files_per_second R

The list is read before the clock starts.  bench/lib/run.sh runs it beside
the C loop, with PYTHONPATH and SIGNCHECK_LIBRARY set to the build."""
import sys
import time

import signcheck


def main() -> int:
    if len(sys.argv) != 2:
        sys.stderr.write("usage: bench_python.py LIST\n")
        return 2
    with open(sys.argv[1], encoding="utf-8") as listing:
        files = listing.read().splitlines()
    check_file = signcheck.check_file
    passed = 0
    start = time.perf_counter()
    for name in files:
        try:
            check_file("nvl", name)
            passed += 1
        except (signcheck.Error, OSError):
            pass
    elapsed = time.perf_counter() - start
    print(f"python files {len(files)} passed {passed} seconds {elapsed:.6f} "
          f"files_per_second {len(files) / elapsed:.1f}")
    return 0 if passed == len(files) else 1


if __name__ == "__main__":
    sys.exit(main())

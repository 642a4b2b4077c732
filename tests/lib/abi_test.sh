#!/usr/bin/env bash
# Compares the ABI of the built libsigncheck.so.1 with the baseline kept in
# lib/abi.  Any change fails but added functions (those need the baseline
# and the symbols file refreshed) and the inside of the opaque result.
#   abi_test.sh LIBRARY LIB_SOURCE_DIR
set -uo pipefail
library=$1 lib=$2
command -v abidiff > /dev/null || { echo "SKIP: abidiff is not installed (abigail-tools)"; exit 77; }
abidiff --suppressions "$lib/abi/libsigncheck.abignore" --no-added-syms --headers-dir2 "$lib" \
  "$lib/abi/libsigncheck.so.1.abi" "$library"
status=$?
# abidiff's status is a bit set: 1 an error, 2 a usage error, 4 a change,
# 8 an incompatible change.
((status == 0)) || { echo "FAIL: the ABI differs from lib/abi/libsigncheck.so.1.abi (abidiff status $status)"; exit 1; }
echo "PASS"

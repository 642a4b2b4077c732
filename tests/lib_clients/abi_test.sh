#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Compares the ABI of the built libsigncheck.so.1 (its exported functions and
# the types of the public header) with the baseline kept in lib/abi.  Any
# change fails but added functions, which need the baseline and the symbols
# file refreshed.  --refresh writes the baseline from the built library.
#   abi_test.sh LIBRARY LIB_SOURCE_DIR [--refresh]
set -uo pipefail
library=$1 lib=$2 baseline=$2/abi/libsigncheck.so.1.abi
command -v abidiff > /dev/null || { echo "SKIP: abidiff is not installed (apt-get install abigail-tools)"; exit 77; }
if [[ ${3:-} == --refresh ]]; then
  exec abidw --exported-interfaces-only --headers-dir "$lib" --drop-private-types --no-corpus-path \
    --no-comp-dir-path --short-locs --out-file "$baseline" "$library"
fi
abidiff --exported-interfaces-only --headers-dir2 "$lib" --drop-private-types --no-added-syms "$baseline" "$library"
status=$?
# abidiff's status is a bit set: 1 an error, 2 a usage error, 4 a change,
# 8 an incompatible change.
((status == 0)) || { echo "FAIL: the ABI differs from $baseline (abidiff status $status)"; exit 1; }
echo "PASS"

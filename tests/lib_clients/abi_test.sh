#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Compares the ABI of the built libsigncheck.so.1 (its exported functions and
# the types of the public header) with the baseline kept in lib/abi, the ABI
# of the last release.  Any change fails but added functions, which each go
# in a new version node and the symbols file.  --refresh writes the baseline
# from the built library: run it on a release's library, at its release.
#   abi_test.sh LIBRARY LIB_SOURCE_DIR [--refresh]
set -uo pipefail
library=$1 lib=$2 baseline=$2/abi/libsigncheck.so.1.abi
command -v abidiff > /dev/null || { echo "SKIP: abidiff is not installed (apt-get install abigail-tools)"; exit 77; }
# The public header alone: the library's own headers beside it are not its
# interface, and their types would count as public ones.
public=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-abi.XXXXXX")
trap 'rm -rf "$public"' EXIT
cp "$lib/signcheck.h" "$public/"
if [[ ${3:-} == --refresh ]]; then
  abidw --exported-interfaces-only --headers-dir "$public" --drop-private-types --no-corpus-path \
    --no-comp-dir-path --short-locs --out-file "$baseline" "$library"
  exit
fi
abidiff --exported-interfaces-only --headers-dir2 "$public" --drop-private-types --no-added-syms "$baseline" "$library"
status=$?
# abidiff's status is a bit set: 1 an error, 2 a usage error, 4 a change,
# 8 an incompatible change.
((status == 0)) || { echo "FAIL: the ABI differs from $baseline (abidiff status $status)"; exit 1; }
echo "PASS"

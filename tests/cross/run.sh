#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Cross-builds signcheck and filedigest for each CPU named (default: aarch64,
# little-endian, and s390x, big-endian) with Debian's cross compilers, and
# checks them under qemu's user-mode emulator: the key ID that signtool reads
# from each, the shipped examples, then the end-to-end cases against the
# native release build.
#   tests/cross/run.sh [ARCH...]          (make cross)
# Needs g++-aarch64-linux-gnu, g++-s390x-linux-gnu and qemu-user-static.
set -euo pipefail
cd "$(dirname "$0")/../.."
werror=$([[ -n ${CI:-} ]] && echo ON || echo OFF)
jobs=${JOBS:-$(nproc)}
(($#)) || set -- aarch64 s390x

# The native programs are the reference; signtool, when it can be built,
# signs the generated cases.
cmake --preset release -DSIGNCHECK_WERROR="$werror" > /dev/null
native_targets=(signcheck filedigest)
[[ -d build/release/signtool ]] && native_targets+=(signtool)
cmake --build --preset release -j "$jobs" --target "${native_targets[@]}" > /dev/null

status=0
for arch in "$@"; do
  triple=$arch-linux-gnu
  emulator=qemu-$arch-static
  command -v "$triple-g++" > /dev/null || { echo "cross: needs $triple-g++ (apt-get install g++-$triple)" >&2; exit 2; }
  command -v "$emulator" > /dev/null || { echo "cross: needs $emulator (apt-get install qemu-user-static)" >&2; exit 2; }
  echo "== $arch"
  # Configure names the parts a cross build leaves out; that is expected here.
  cmake --preset "$arch" -DSIGNCHECK_WERROR="$werror" > /dev/null 2>&1 ||
    cmake --preset "$arch" -DSIGNCHECK_WERROR="$werror"
  cmake --build --preset "$arch" -j "$jobs" --target signcheck filedigest > /dev/null
  description=$(file -b "build/$arch/signcheck/signcheck")
  echo "signcheck: $(cut -d, -f1,2 <<< "$description"), $(grep -o 'static[-a-z]* linked' <<< "$description")"
  # signtool reads the key ID out of a program of any ELF class and byte
  # order: the cross-built signcheck must name the native one's key.
  if [[ -x build/release/signtool/signtool ]]; then
    native_id=$(build/release/signtool/signtool id build/release/signcheck/signcheck)
    cross_id=$(build/release/signtool/signtool id "build/$arch/signcheck/signcheck") || cross_id=
    if [[ $cross_id == "$native_id" ]]; then
      echo "signtool id: $cross_id, as the native signcheck's"
    else
      echo "FAIL: signtool id build/$arch/signcheck/signcheck gave '$cross_id', not the native $native_id"
      status=1
    fi
  fi
  # The programs are static, so the emulator needs no target libraries.
  if output=$(examples/check-all.sh "build/$arch" "$emulator"); then
    tail -n 1 <<< "$output"
  else
    echo "$output"
    status=1
  fi
  tests/cross/e2e.sh build/release "build/$arch" "$emulator" || status=1
done
exit $status

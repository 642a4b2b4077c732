#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Builds the fuzz targets and runs each briefly on its committed seed corpus.
#   fuzz/smoke.sh [RUNS] [SECONDS]    (defaults: 200000 runs or 20 s, whichever first)
# For long runs:  build/fuzz/fuzz/TARGET -max_total_time=3600 WORKDIR fuzz/corpus/NAME
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200000}
seconds=${2:-20}
cmake --preset fuzz -DSIGNCHECK_WERROR=$([[ -n ${CI:-} ]] && echo ON || echo OFF) >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in build/fuzz/fuzz/fuzz_*; do
  [[ -x $target ]] || continue
  name=$(basename "$target")
  corpus=fuzz/corpus/${name#fuzz_}
  mkdir -p "$work/$name"
  seeds=()
  [[ -d $corpus ]] && seeds=("$corpus")
  if "$target" -runs="$runs" -max_total_time="$seconds" -artifact_prefix="$work/" \
      "$work/$name" "${seeds[@]}" >"$work/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(grep -o 'Done [0-9]* runs' "$work/$name.log" || echo 'done'))"
  else
    echo "fuzz $name: FAILED"
    tail -n 40 "$work/$name.log"
    status=1
  fi
done
exit $status

#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Checks a native x86-64 build under qemu's model of another x86-64 CPU: the
# variants its dispatches choose there (print_providers' lines, joined with
# ','), the shipped examples, and the end-to-end cases byte for byte against
# the native run.  A dispatch that tests the wrong feature either names a
# variant the model lacks or dies on it.  Status 77: the examples could not
# be checked.
#   tests/cpu/run.sh BUILD MODEL EXPECTED_VARIANTS
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
runner=("$here/as-model.sh" "$2")
chosen=$("${runner[@]}" "$build/tests/cpu/print_providers" | paste -sd,)
echo "variants on $2: $chosen"
[[ $chosen == "$3" ]] || { echo "cpu: on $2 the dispatches chose '$chosen'; the model runs '$3'" >&2; exit 1; }
# A build for another key without its test key has no examples it can check.
if [[ ! -e $build/examples/NOTE ]]; then
  "$here/../../examples/check-all.sh" "$build" "${runner[@]}" | tail -n 1
fi
"$here/../cross/e2e.sh" "$build" "$build" "${runner[@]}"
if [[ -e $build/examples/NOTE ]]; then
  echo "SKIP: no examples signed for the compiled-in key (configure with SIGNCHECK_TEST_PRIVATE_KEY); the rest passed"
  exit 77
fi

#!/usr/bin/env bash
# Checks a native x86-64 build under qemu's model of another x86-64 CPU: the
# variants its dispatches choose there, the shipped examples, and the
# end-to-end cases byte for byte against the native run.
#   tests/cpu/run.sh BUILD MODEL EXPECTED
# EXPECTED is print_providers' output on that model, with ',' between lines.
# A dispatch that tests the wrong feature either chooses a variant the model
# lacks (a wrong name here) or dies on it (a differing status in the cases).
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD MODEL EXPECTED}" && pwd)
model=${2:?usage: run.sh BUILD MODEL EXPECTED}
expected=${3:?usage: run.sh BUILD MODEL EXPECTED}
here=$(cd "$(dirname "$0")" && pwd)
runner=("$here/as-model.sh" "$model")

chosen=$("${runner[@]}" "$build/tests/cpu/print_providers" | paste -sd,)
echo "variants on $model: $chosen"
if [[ $chosen != "$expected" ]]; then
  echo "cpu: on $model the dispatches chose '$chosen'; this model can run '$expected'" >&2
  exit 1
fi
"$here/../../examples/check-all.sh" "$build" "${runner[@]}" | tail -n 1
"$here/../cross/e2e.sh" "$build" "$build" "${runner[@]}"

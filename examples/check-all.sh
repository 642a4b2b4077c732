#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs signcheck on every example and compares its exit status with the one
# the example is meant to give:
#   examples/check-all.sh BUILD_DIR [RUNNER...]
# RUNNER, when given, is put before each run: an emulator for a cross build,
# e.g. `examples/check-all.sh build/s390x qemu-s390x-static`.
# Exits 0 when every example gives its expected status.
set -uo pipefail

build_dir=${1:?usage: check-all.sh BUILD_DIR [RUNNER...]}
shift
runner=("$@")
here=$(cd "$(dirname "$0")" && pwd)
signcheck="$(cd "$build_dir" 2>/dev/null && pwd)/signcheck/signcheck"
if [[ ! -x $signcheck ]]; then
  echo "check-all.sh: no signcheck at $signcheck (build it first)" >&2
  exit 2
fi

# A build with a key of its own has the examples signed with its test key;
# without a test key it says why the shipped ones fail.
examples_dir=$here
[[ -d $build_dir/examples/signed ]] && examples_dir=$build_dir/examples/signed
[[ -f $build_dir/examples/NOTE ]] && cat "$build_dir/examples/NOTE"

# mode  file                    status  what it shows
examples=(
  "nvl  mirrors.nvl             0   a signed list of update locations"
  "msg  messages.msg            0   a signed list of messages"
  "lst  updates.lst             0   a signed update list (the whole file is printed)"
  "url  mirrors.url             0   a signed URL list"
  "nvl  tampered-entry.nvl      70  an entry changed after signing"
  "msg  missing-signature.msg   70  a list without its sign= line"
  "url  tampered-content.url    70  URL list content changed after signing"
  "lst  mirrors.nvl             70  the wrong layout: an nvl list is no update list"
)

failures=0
for example in "${examples[@]}"; do
  read -r mode file expected why <<< "$example"
  output=$(cd "$examples_dir" && "${runner[@]}" "$signcheck" "$mode" "$file")
  status=$?
  if [[ $status == "$expected" ]]; then verdict=ok; else verdict=FAIL; failures=$((failures + 1)); fi
  printf '%-4s signcheck %s %s -> %s (expected %s): %s\n' "$verdict" "$mode" "$file" "$status" "$expected" "$why"
  printf '%s\n' "$output" | tr -d '\r' | sed 's/^/       | /'
done

if ((failures > 0)); then
  echo "$failures example(s) did not give their expected status"
  exit 1
fi
echo "all ${#examples[@]} examples gave their expected status"

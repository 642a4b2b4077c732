#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs the suite (ctest -LE large) on keys drawn fresh with `signtool keygen`
# until they sit on the edges of what signtool makes:
#   top   p with a top byte of 0xF0 or more (signtool stops short of 2^512 - 2^496)
#   q3, q5, q7   q = 3, 5 and 7 modulo 8 (the development key has q = 1)
#   id0   a key ID that begins with a zero digit
# A key may serve several edges.  The suite runs on each key chosen, compiled
# in, twice: with its private half as the test key, and without a test key,
# when the tests that sign must skip, never fail.  It runs once more on a
# ring, as a key rotation builds it: the first two keys compiled in together,
# with the first one's private half as the test key.  Nothing is kept from an
# earlier run: the work directory is emptied first and the keys are new.
#
# Usage: tests/keys/matrix.sh [WORK_DIR]      (default build/keys)
# SIGNTOOL names a built signtool to draw with; without it one is built.
# JOBS sets the build and test parallelism (default: the CPU count).
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
work=${1:-build/keys}
jobs=${JOBS:-$(nproc)}
start=$SECONDS

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

configure() {
  local build=$1
  shift
  cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSIGNCHECK_BUILD_BENCH=OFF \
    -DSIGNCHECK_WERROR="${SIGNCHECK_WERROR:-OFF}" "$@" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; echo "matrix: cannot configure $build" >&2; return 1; }
}

signtool=${SIGNTOOL:-}
if [[ -z $signtool ]]; then
  configure "$work/tool" -DSIGNCHECK_BUILD_TESTS=OFF
  cmake --build "$work/tool" -j "$jobs" --target signtool >/dev/null
  signtool=$work/tool/signtool/signtool
fi
signtool=$(realpath "$signtool")

# Edges a key of the files $1.key and $1.pub sits on, one word each.
edges_of() {
  local p q id
  p=$(sed -n 's/^p = //p' "$1.pub")
  q=$(sed -n 's/^q = //p' "$1.pub")
  id=$("$signtool" id "$1.pub")
  ((16#${p:0:2} >= 0xF0)) && echo top
  echo "q$((16#${q: -1} % 8))"
  [[ $id == 0* ]] && echo id0
  return 0
}

# The families the matrix wants; a key is taken for the first family whose
# every edge it sits on.
families=("top q3" "q5 id0" "q7")
chosen=()
draws=0
while ((${#chosen[@]} < ${#families[@]})); do
  if ((draws >= 5000)); then
    echo "matrix: $draws keys drawn and still no key for every family" >&2
    exit 1
  fi
  draws=$((draws + 1))
  key=$work/draw
  rm -f "$key.key" "$key.pub"
  "$signtool" keygen --no-passphrase "$key.key" "$key.pub" >/dev/null 2>"$work/keygen.err" || {
    cat "$work/keygen.err" >&2
    exit 1
  }
  edges=" $(edges_of "$key" | tr '\n' ' ')"
  for i in "${!families[@]}"; do
    [[ -n ${chosen[$i]:-} ]] && continue
    fits=1
    for edge in ${families[$i]}; do [[ $edges == *" $edge "* ]] || fits=0; done
    if ((fits)); then
      name=key$i
      mv "$key.key" "$work/$name.key"
      mv "$key.pub" "$work/$name.pub"
      chosen[$i]=$name
      echo "matrix: key $name ($("$signtool" id "$work/$name.pub"), edges:$edges) for ${families[$i]}"
      break
    fi
  done
done
echo "matrix: $draws keys drawn in $((SECONDS - start)) s"

# One build directory serves every key: the key compiled in and the test key
# are always the files current.pub and current.key, so that changing keys
# changes no compile flag.  It regenerates the key constants, relinks and
# signs the examples again, and only the switch to no test key, made once,
# compiles the tests again.
#
# Left out: what does not depend on the compiled-in key and runs in the
# release suite anyway (install.own_key builds a tree of its own with a key of
# its own; the checked-in constants are compared with the development key's;
# the package's lintian and hardening checks, where install.staged already
# checks that the installed programs take the key's signatures), and, without
# a test key, the install label (nothing is signed).  The cpu label runs the
# same dispatches whatever the key, and takes minutes under qemu.
build=$work/build
key_independent='^(install\.own_key|install\.debian_package|install\.debian_lint|signtool\.Signtool\.ConstantsAreTheCheckedInSource)$'
run_suite() {  # name, log tag, what the run is, labels left out, configure options
  local log=$work/$1.$2.log
  cp "$work/$1.pub" "$work/current.pub"
  cp "$work/$1.key" "$work/current.key"
  touch "$work/current.pub" "$work/current.key"
  configure "$build" "${@:5}"
  cmake --build "$build" -j "$jobs" >"$log" 2>&1 || { cat "$log"; echo "matrix: cannot build $1 $3" >&2; exit 1; }
  echo "matrix: $1 $3 (at $((SECONDS - start)) s)"
  ctest --test-dir "$build" -LE "$4" -E "$key_independent" -j "$jobs" --output-on-failure >"$log" 2>&1 ||
    { cat "$log"; echo "matrix: the suite fails on $1 $3" >&2; exit 1; }
  grep -E '^[0-9]+% tests passed' "$log"
}
for name in "${chosen[@]}"; do
  run_suite "$name" with "with its test key" 'large|cpu' -DSIGNCHECK_PUBLIC_KEY="$work/current.pub" \
    -DSIGNCHECK_TEST_PRIVATE_KEY="$work/current.key"
done
for name in "${chosen[@]}"; do
  run_suite "$name" without "without a test key" 'large|install|cpu' -DSIGNCHECK_TEST_PRIVATE_KEY=
done
cp "$work/${chosen[1]}.pub" "$work/second.pub"
run_suite "${chosen[0]}" ring "in a ring before ${chosen[1]}, with its test key" 'large|cpu' \
  -DSIGNCHECK_PUBLIC_KEY="$work/current.pub;$work/second.pub" -DSIGNCHECK_TEST_PRIVATE_KEY="$work/current.key"
echo "matrix: ${#chosen[@]} keys, each with and without its test key, and a ring of two passed in $((SECONDS - start)) s"

#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs a libsigncheck client (check MODE FILE) beside signcheck:
#   examples_test.sh SIGNCHECK EXAMPLES_DIR SIGNTOOL TEST_KEY CLIENT...   ("-" for no EXAMPLES_DIR or TEST_KEY)
# On the shipped examples, a wrong layout, an unknown mode and a missing file
# the client exits with signcheck's status; after a failure it printed
# nothing on stdout and signcheck's failure message on stderr, after an nvl or msg
# success what signcheck prints.  With CLIENT_TAKES_KEYS set, the client
# checks against --key files: the development key's passes a file it signed,
# another key's fails it with 70.  With TEST_KEY, files signed here with
# unsigned bytes beside the signed ones give exactly the signed bytes.
set -euo pipefail
signcheck=$1 examples=${2#-} signtool=$3 key=${4#-}
shift 4
[[ -n $examples ]] || { echo "SKIP: no examples signed for the compiled-in key (configure with SIGNCHECK_TEST_PRIVATE_KEY)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-lib.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# client [--key FILE]... MODE FILE: the client's status in $status, its
# output in $work/out and $work/err.
client() {
  status=0
  "${client[@]}" "$@" > "$work/out" 2> "$work/err" || status=$?
}
client=("$@")

cases=()
for file in "$examples"/*.nvl "$examples"/*.msg "$examples"/*.lst "$examples"/*.url; do
  cases+=("${file##*.} $file")
done
cases+=("lst $examples/mirrors.nvl" "xyz $examples/mirrors.nvl" "nvl $work/missing.nvl")
for case in "${cases[@]}"; do
  read -r mode file <<< "$case"
  expected=0
  "$signcheck" "$mode" "$file" > "$work/signcheck" || expected=$?
  client "$mode" "$file"
  [[ $status == "$expected" ]] || fail "$mode $file: status $status, signcheck's $expected"
  if ((status)); then
    [[ ! -s $work/out ]] || fail "$mode $file: failed, yet printed: $(cat "$work/out")"
    # url prints what it parsed ahead of the message.
    [[ -s $work/err ]] && tail -c "$(stat -c %s "$work/err")" "$work/signcheck" | cmp -s - "$work/err" ||
      fail "$mode $file: message '$(cat "$work/err")', not the end of signcheck's output"
  elif [[ $mode == nvl || $mode == msg ]]; then
    cmp -s "$work/out" "$work/signcheck" || fail "$mode $file: printed '$(cat "$work/out")', not signcheck's"
  fi
done

if [[ -n ${CLIENT_TAKES_KEYS:-} ]]; then
  keys=$(cd "$(dirname "$0")/../../keys" && pwd)
  printf 'url=https://updates.example.com/\r\n' > "$work/ring"
  "$signtool" sign --mode nvl -o "$work/ring.nvl" "$keys/development.key" "$work/ring" 2> /dev/null ||
    fail "signtool sign"
  "$signtool" keygen --no-passphrase "$work/other.key" "$work/other.pub" > /dev/null 2>&1 || fail "signtool keygen"
  client --key "$work/other.pub" --key "$keys/development.pub" nvl "$work/ring.nvl"
  [[ $status == 0 ]] || fail "--key development.pub: status $status: $(cat "$work/err")"
  printf 'https://updates.example.com/\r\n' | cmp -s - "$work/out" || fail "--key: printed '$(cat "$work/out")'"
  client --key "$work/other.pub" nvl "$work/ring.nvl"
  [[ $status == 70 && ! -s $work/out && -s $work/err ]] || fail "--key of a key that did not sign: status $status"
fi

if [[ -z $key ]]; then
  echo "SKIP: no test key (SIGNCHECK_TEST_PRIVATE_KEY) to sign files with unsigned bytes beside the signed ones; the examples passed"
  exit 77
fi
# signed MODE NAME PREFIX: signs $work/NAME, then puts the unsigned PREFIX
# ahead of it.
signed() {
  "$signtool" sign --mode "$1" -o "$work/$2.signed" "$key" "$work/$2" 2> "$work/log" ||
    fail "signtool: $(cat "$work/log")"
  { printf "$3"; cat "$work/$2.signed"; } > "$work/$2.$1"
}
expect() {
  client "$1" "$work/$2.$1"
  [[ $status == 0 ]] || fail "$1: status $status: $(cat "$work/err")"
  printf "$3" | cmp -s - "$work/out" || fail "$1: printed '$(cat "$work/out")', not only the signed bytes"
}
printf '[NorvuUpdateList]\r\nVersion=4.2.0\r\n[NorvuUpdateListEnd]\r\n' > "$work/updates"
signed lst updates 'File9=unsigned.bin,1,0\r\n'
expect lst updates '[NorvuUpdateList]\r\nVersion=4.2.0\r\n[NorvuUpdateListEnd]\r\n'
printf 'https://updates.example.com/4.2.0/\n' > "$work/urls"
signed url urls 'https://unsigned.example.net/\n'
expect url urls 'https://updates.example.com/4.2.0/\n'
printf '# unsigned comment\r\nurl=https://updates.example.com/\r\nURL=https://mirror.example.net/\r\n' > "$work/mirrors"
signed nvl mirrors 'unsigned=line\r\n'
printf 'url=https://unsigned.example.net/\r\n' >> "$work/mirrors.nvl"
expect nvl mirrors 'https://updates.example.com/\r\nhttps://mirror.example.net/\r\n'
echo "PASS"

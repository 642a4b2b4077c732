#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Rebuilds the signed examples with the development key:
#   examples/make-examples.sh BUILD_DIR
# Run it after the development key changes; check-all.sh then proves them.
# A build with a key of its own signs them with its test key, into a
# directory of the build:
#   examples/make-examples.sh BUILD_DIR PRIVATE_KEY OUT_DIR
set -euo pipefail

build_dir=${1:?usage: make-examples.sh BUILD_DIR [PRIVATE_KEY OUT_DIR]}
here=$(cd "$(dirname "$0")" && pwd)
signtool="$build_dir/signtool/signtool"
key=${2:-$here/../keys/development.key}
out=${3:-$here}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

crlf() { sed 's/$/\r/'; }
sign() { "$signtool" sign --mode "$1" -o "$out/$3" "$key" "$2"; }

crlf > "$work/mirrors" <<'TEXT'
# Norvu update locations, nearest first
url=https://updates.example.com/norvu/
url=https://mirror1.example.net/norvu/
URL=http://mirror2.example.org/pub/norvu/
TEXT
sign nvl "$work/mirrors" mirrors.nvl

crlf > "$work/messages" <<'TEXT'
msg=Norvu 4.2 is available: faster start-up and fewer prompts.
msg=Support for Norvu 3.x ends on 30 June 2026.
TEXT
sign msg "$work/messages" messages.msg

crlf > "$work/updates" <<'TEXT'
; Norvu update list, generated for channel "stable"
[NorvuUpdateList]
Version=4.2.0
File1=norvu-core.bin,1048576,9c1f0d6a
File2=norvu-help.bin,204800,51e0b7c2
[NorvuUpdateListEnd]
[Signature]
Signature=
TEXT
sign lst "$work/updates" updates.lst

cat > "$work/urls" <<'TEXT'
https://updates.example.com/norvu/4.2.0/
https://mirror1.example.net/norvu/4.2.0/
TEXT
sign url "$work/urls" mirrors.url

# Failing on purpose.
sed 's/mirror1\.example\.net/mirror1.example.evil/' "$out/mirrors.nvl" > "$out/tampered-entry.nvl"
cp "$work/messages" "$out/missing-signature.msg"
sed 's/4\.2\.0/6.6.6/' "$out/mirrors.url" > "$out/tampered-content.url"

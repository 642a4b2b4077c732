# SPDX-License-Identifier: ISC
# The set-up the install tests share, sourced by tests/install/install_test.sh
# and tests/lib_clients/install_test.sh:  install_setup BUILD_DIR NAME
# makes the work directory $work (removed on exit) and keeps the build's
# install_manifest.txt, which installing rewrites, as it was; fail ends the
# test with one line, quietly runs a command with its output shown only if
# it fails.
install_setup() {
  local build=$1 name=$2
  work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-$name.XXXXXX")
  manifest=$build/install_manifest.txt
  [[ -e $manifest ]] && cp -p "$manifest" "$work/manifest.saved"
  trap install_cleanup EXIT
}

install_cleanup() {
  if [[ -e $work/manifest.saved ]]; then
    cp -p "$work/manifest.saved" "$manifest"
  else
    rm -f "$manifest"
  fi
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

quietly() {
  "$@" > "$work/log" 2>&1 || { cat "$work/log" >&2; fail "$* failed"; }
}
